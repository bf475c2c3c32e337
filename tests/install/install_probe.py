"""Reads an installation from the Linux side of a Wine prefix: the registry
files, shell links (through lnkinfo), icons (through ImageMagick's identify)
and version blocks and resources of PE files. Shared by the end-to-end install
test and the demo (scripts/run.sh)."""
import os
import re
import struct
import subprocess

REG_SZ = 1


# ---- Registry files (user.reg / system.reg as the wineserver saves them) ----

def _unescape(text):
    """Wine's string escapes: backslash pairs, C escapes and \\x followed by up
    to four hex digits (one UTF-16 code unit)."""
    out = []
    i = 0
    simple = {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "t": "\t", "0": "\0",
              "a": "\a", "b": "\b", "f": "\f", "v": "\v", "e": "\x1b"}
    while i < len(text):
        c = text[i]
        if c != "\\" or i + 1 == len(text):
            out.append(c)
            i += 1
            continue
        n = text[i + 1]
        if n == "x":
            m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
            unit = int(m.group(0), 16) if m else 0
            out.append(chr(unit))
            i += 2 + (len(m.group(0)) if m else 0)
        else:
            out.append(simple.get(n, n))
            i += 2
    # Surrogate pairs arrive as two units.
    return "".join(out).encode("utf-16-le", "surrogatepass").decode("utf-16-le")


def _split_quoted(line, start):
    """The quoted text starting at line[start] == '"'; returns (raw, end)."""
    i = start + 1
    while i < len(line):
        if line[i] == "\\":
            i += 2
            continue
        if line[i] == '"':
            return line[start + 1:i], i + 1
        i += 1
    raise ValueError("unterminated string in %r" % line)


def parse_reg(path):
    """{key path lower-case: {value name lower-case: (name, type, data bytes)}}.
    Key paths are relative to the file's root (HKCU for user.reg)."""
    keys = {}
    current = None
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        lines = f.read().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        if line.startswith("["):
            end = line.rindex("]")
            name = _unescape(line[1:end])
            current = keys.setdefault(name.lower(), {})
            continue
        if current is None or not line or line[0] not in '"@':
            continue
        while line.endswith("\\"):  # hex data continues on the next line
            line = line[:-1] + lines[i].strip()
            i += 1
        if line[0] == "@":
            name, rest = "", line[2:]
        else:
            raw, end = _split_quoted(line, 0)
            name, rest = _unescape(raw), line[end + 1:]
        if rest.startswith('"'):
            raw, _ = _split_quoted(rest, 0)
            vtype, data = REG_SZ, (_unescape(raw) + "\0").encode("utf-16-le")
        elif rest.startswith("str("):
            m = re.match(r'str\((\d+)\):', rest)
            raw, _ = _split_quoted(rest, m.end())
            vtype, data = int(m.group(1)), (_unescape(raw) + "\0").encode("utf-16-le")
        elif rest.startswith("dword:"):
            vtype, data = 4, struct.pack("<I", int(rest[6:], 16))
        elif rest.startswith("hex"):
            m = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:", rest)
            vtype = int(m.group(1), 16) if m.group(1) else 3
            body = rest[m.end():].replace(" ", "")
            data = bytes(int(b, 16) for b in body.split(",") if b)
        else:
            continue
        current[name.lower()] = (name, vtype, data)
    return keys


def reg_text(data):
    """A REG_SZ's text: UTF-16LE up to the first terminator, if any."""
    text = data.decode("utf-16-le", "surrogatepass")
    return text.split("\0", 1)[0]


# ---- Shell links ----

def lnkinfo(path):
    """The fields lnkinfo prints, keyed by label, plus the show command read
    from the header (lnkinfo always prints 0 for it)."""
    out = subprocess.run(["lnkinfo", path], capture_output=True, text=True, check=True).stdout
    fields = {}
    for line in out.splitlines():
        m = re.match(r"\s+([A-Za-z][A-Za-z ()/.-]*?)\s*:\s(.*)$", line)
        if m:
            fields.setdefault(m.group(1).strip(), m.group(2))
    with open(path, "rb") as f:
        header = f.read(0x40)
    fields["show command"] = struct.unpack_from("<I", header, 0x3C)[0]
    return fields


# ---- Icons ----

def icon_sizes(path):
    out = subprocess.run(["identify", "-format", "%wx%h\n", path], capture_output=True,
                         text=True, check=True).stdout
    return [line for line in out.splitlines() if line]


# ---- PE files ----

def _pe_layout(data):
    """The file offset of the data directory table, and a function mapping an
    RVA to a file offset through the section table (PE32 and PE32+)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    nsect, = struct.unpack_from("<H", data, pe + 6)
    optsize, = struct.unpack_from("<H", data, pe + 20)
    opt = pe + 24
    magic, = struct.unpack_from("<H", data, opt)
    ddir = opt + (96 if magic == 0x10B else 112)
    sections = []
    for i in range(nsect):
        s = opt + optsize + 40 * i
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        sections.append((va, max(vsize, rawsize), rawptr))

    def offset(rva):
        for va, size, raw in sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("rva outside sections")

    return ddir, offset

def pe_resources(path):
    """{(type, name): bytes} of the first language of each resource; type and
    name are ints or strings."""
    data = open(path, "rb").read()
    ddir, offset = _pe_layout(data)
    rsrc_rva, _ = struct.unpack_from("<II", data, ddir + 16)
    if not rsrc_rva:
        return {}
    base = offset(rsrc_rva)

    def entries(dir_off):
        named, ids = struct.unpack_from("<HH", data, dir_off + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, dir_off + 16 + 8 * i)
            if name & 0x80000000:
                p = base + (name & 0x7FFFFFFF)
                n, = struct.unpack_from("<H", data, p)
                name = data[p + 2:p + 2 + 2 * n].decode("utf-16-le")
            yield name, target

    out = {}
    for rtype, t1 in entries(base):
        for rname, t2 in entries(base + (t1 & 0x7FFFFFFF)):
            for _, t3 in entries(base + (t2 & 0x7FFFFFFF)):
                rva, size = struct.unpack_from("<II", data, base + t3)
                out[(rtype, rname)] = data[offset(rva):offset(rva) + size]
                break
    return out


def file_version(path):
    """"a.b.c.d" from the fixed version block, or "" without one."""
    try:
        block = next(v for (t, _), v in pe_resources(path).items() if t == 16)
    except (StopIteration, ValueError, struct.error, OSError):
        return ""
    sig = block.find(struct.pack("<I", 0xFEEF04BD))
    if sig < 0:
        return ""
    ms, ls = struct.unpack_from("<II", block, sig + 8)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


# ---- Prefix layout ----

def user_dir(prefix):
    users = os.path.join(prefix, "drive_c", "users")
    names = [n for n in os.listdir(users) if n.lower() != "public"]
    return os.path.join(users, sorted(names)[0])


def windows_path_to_unix(prefix, path):
    """C:\\... inside the prefix to a Linux path (case taken as written)."""
    m = re.match(r"^([A-Za-z]):\\(.*)$", path)
    if not m or m.group(1).lower() != "c":
        return None
    return os.path.join(prefix, "drive_c", *m.group(2).split("\\"))


def pe_machine(data):
    """The COFF machine of PE bytes (0x14C i386, 0x8664 x86-64), or None."""
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, pe + 4)[0]


def pe_export_names(data):
    """The exported names of PE bytes (a DLL), in table order."""
    ddir, offset = _pe_layout(data)
    export_rva, _ = struct.unpack_from("<II", data, ddir)
    if not export_rva:
        return []

    d = offset(export_rva)
    count, = struct.unpack_from("<I", data, d + 24)
    names_rva, = struct.unpack_from("<I", data, d + 32)
    names = []
    for i in range(count):
        rva, = struct.unpack_from("<I", data, offset(names_rva) + 4 * i)
        start = offset(rva)
        names.append(data[start:data.index(b"\0", start)].decode("ascii"))
    return names
