#!/usr/bin/env python3
"""Builds the zip and 7z fixtures of the archive tests with outside tools:
Info-ZIP `zip`, Python's zipfile and 7-Zip's `7zz`. A few copies are then
damaged on purpose, one header field each, to show how the readers refuse them.

Usage: make_archive_fixtures.py <output dir> <7zz option>...
The 7zz options are the ones the product packs res.7z with.
"""
import os
import shutil
import struct
import subprocess
import sys
import zipfile

out = os.path.abspath(sys.argv[1])
sevenzip_options = sys.argv[2:]
src = os.path.join(out, "src")

# A fixed modification time (2021-06-01 12:00:00 UTC) for the 7z items.
FIXED_MTIME = 1622548800


def run(args, cwd, stdin=None):
    subprocess.run(args, cwd=cwd, check=True, stdin=stdin,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def text_block(seed, size):
    words = [b"alpha", b"beta", b"gamma", b"delta", b"skin", b"ui", b"button", b"frame"]
    out = bytearray()
    n = seed
    while len(out) < size:
        n = (n * 1103515245 + 12345) & 0x7FFFFFFF
        out += words[n % len(words)] + (b"\n" if n % 7 == 0 else b" ")
    return bytes(out[:size])


def zip_cli(name, cwd, *args):
    path = os.path.join(out, name)
    run(["zip", "-X", "-q", path] + list(args), cwd)
    return path


def patch(name, new_name, offset, fmt, value):
    with open(os.path.join(out, name), "rb") as f:
        data = bytearray(f.read())
    struct.pack_into(fmt, data, offset, value)
    write(os.path.join(out, new_name), bytes(data))


def central_offsets(path):
    """Offsets of each central header and of the end record."""
    with open(path, "rb") as f:
        data = f.read()
    end = data.rfind(b"PK\x05\x06")
    count, cd_offset = struct.unpack_from("<H4xI", data, end + 10)
    headers = []
    pos = cd_offset
    for _ in range(count):
        headers.append(pos)
        n, m, k = struct.unpack_from("<HHH", data, pos + 28)
        pos += 46 + n + m + k
    return headers, end


def sevenzip(name, cwd, *args, options=None):
    path = os.path.join(out, name)
    run(["7zz", "a"] + (sevenzip_options if options is None else options) +
        ["-bd", path] + list(args), cwd)
    return path


def main():
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(src)

    # Files the tests compare against what the readers write.
    write(os.path.join(src, "one.txt"), text_block(1, 40000))
    write(os.path.join(src, "two.txt"), text_block(2, 50000))
    write(os.path.join(src, "three.txt"), text_block(3, 30000))
    write(os.path.join(src, "random.bin"), os.urandom(70000))
    write(os.path.join(src, "a", "b.txt"), b"inside a\n")
    write(os.path.join(src, "Dir", "Sub", "File.TXT"), b"mixed case\n")
    write(os.path.join(src, "empty.txt"), b"")

    # Info-ZIP: deflated text, a stored binary, an empty file, folders.
    zip_cli("mixed.zip", src, "one.txt", "empty.txt")
    run(["zip", "-X", "-q", "-0", os.path.join(out, "mixed.zip"), "random.bin"], src)
    zip_cli("dirs.zip", src, "-r", "a")
    zip_cli("names.zip", src, "-r", "Dir", "one.txt")
    zip_cli("encrypted.zip", src, "-P", "secret", "one.txt")

    # The second of three deflated files damaged in the middle of its data.
    three = zip_cli("three.zip", src, "one.txt", "two.txt", "three.txt")
    with zipfile.ZipFile(three) as z:
        info = z.getinfo("two.txt")
    with open(three, "rb") as f:
        data = bytearray(f.read())
    name_len, extra_len = struct.unpack_from("<HH", data, info.header_offset + 26)
    start = info.header_offset + 30 + name_len + extra_len
    for i in range(start + info.compress_size // 2, start + info.compress_size // 2 + 16):
        data[i] ^= 0x5A
    write(os.path.join(out, "corrupt_second.zip"), bytes(data))

    # Python's zipfile: the empty archive, comments around the search
    # window, a file before its folder entry, an MS-DOS time, bzip2.
    zipfile.ZipFile(os.path.join(out, "empty.zip"), "w").close()
    for size in (65000, 65534, 65535):
        with zipfile.ZipFile(os.path.join(out, "comment_%d.zip" % size), "w") as z:
            z.writestr("c.txt", b"comment test\n")
            z.comment = b"c" * size
    with zipfile.ZipFile(os.path.join(out, "file_first.zip"), "w") as z:
        z.writestr("a/b.txt", b"inside a\n")
        z.mkdir("a")
    with zipfile.ZipFile(os.path.join(out, "dostime.zip"), "w") as z:
        z.writestr(zipfile.ZipInfo("t.txt", date_time=(2020, 2, 29, 13, 37, 42)), b"time\n")
    with zipfile.ZipFile(os.path.join(out, "bzip2.zip"), "w", zipfile.ZIP_BZIP2) as z:
        z.writestr("one.txt", text_block(1, 40000))

    # Names that would leave the destination, each between two good files.
    escapes = {
        "parent": "../evil.txt",
        "nested_parent": "a/../../evil.txt",
        "backslash_parent": "..\\evil.txt",
        "dots": ".../evil.txt",
        "rooted": "/evil.txt",
        "drive": "C:/evil.txt",
        "drive_relative": "C:evil.txt",
        "unc": "//server/share/evil.txt",
        "parent_folder": "../evil/",
    }
    for key, name in escapes.items():
        with zipfile.ZipFile(os.path.join(out, "escape_%s.zip" % key), "w",
                             zipfile.ZIP_DEFLATED) as z:
            z.writestr("before.txt", b"before\n")
            info = zipfile.ZipInfo(name)
            if name.endswith("/"):
                info.external_attr = 0x10
            z.writestr(info, b"" if name.endswith("/") else b"evil\n")
            z.writestr("after.txt", b"after\n")

    # One header field changed in an otherwise good archive.
    with zipfile.ZipFile(os.path.join(out, "one_deflated.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("one.txt", text_block(1, 40000))
    headers, end = central_offsets(os.path.join(out, "one_deflated.zip"))
    size = os.path.getsize(os.path.join(out, "one_deflated.zip"))
    patch("one_deflated.zip", "data_past_end.zip", headers[0] + 20, "<I", size)
    patch("one_deflated.zip", "local_past_end.zip", headers[0] + 42, "<I", size - 10)
    patch("one_deflated.zip", "declared_short.zip", headers[0] + 24, "<I", 39999)
    patch("one_deflated.zip", "second_disk.zip", end + 4, "<H", 1)
    patch("one_deflated.zip", "count_mismatch.zip", end + 8, "<H", 2)
    patch("one_deflated.zip", "bad_central.zip", headers[0], "<I", 0x02014b51)

    # 7-Zip with the product's options.
    for name in ("one.txt", "two.txt", "random.bin", "empty.txt", "a/b.txt"):
        os.utime(os.path.join(src, name), (FIXED_MTIME, FIXED_MTIME))
    sevenzip("basic.7z", src, "one.txt", "random.bin", "empty.txt", "a")
    with open(os.path.join(src, "two.txt"), "rb") as stdin:
        run(["7zz", "a"] + sevenzip_options + ["-bd", "-si", os.path.join(out, "content.7z")],
            src, stdin=stdin)
    write(os.path.join(src, "pkg", "ui.ui"), b"new skin package\n")
    os.chmod(os.path.join(src, "pkg", "ui.ui"), 0o444)
    sevenzip("readonly.7z", os.path.join(src, "pkg"), "ui.ui")
    sevenzip("encrypted.7z", src, "-psecret", "one.txt")
    sevenzip("encrypted_names.7z", src, "-psecret", "-mhe=on", "one.txt")
    sevenzip("lzma.7z", src, "one.txt", options=["-t7z", "-m0=LZMA", "-mhc=off"])
    # Copy data under an LZMA-packed header: 7zz keeps a Copy archive's
    # header plain, but a rename rewrites it with the default header coder
    # (when that makes it smaller, so with several items).
    path = sevenzip("packed_header.7z", src, "one.txt", "two.txt", "three.txt", "a", "Dir")
    run(["7zz", "rn", "-bd", path, "three.txt", "renamed.txt"], src)
    with open(path, "rb") as f:
        data = f.read()
    assert data[32 + struct.unpack_from("<Q", data, 12)[0]] == 0x17, "header not packed"
    # one.txt's bytes damaged inside the archive; the archive cut short.
    with open(os.path.join(out, "basic.7z"), "rb") as f:
        data = bytearray(f.read())
    at = data.find(text_block(1, 4096))
    assert at > 0
    data[at + 1000] ^= 0x20
    write(os.path.join(out, "crc_error.7z"), bytes(data))
    write(os.path.join(out, "truncated.7z"), bytes(data[:len(data) // 2]))
    write(os.path.join(out, "zero.bin"), b"")
    for key, name in {"parent": "../evil.txt", "rooted": "/evil.txt",
                      "drive": "C:\\evil.txt"}.items():
        path = sevenzip("escape_%s.7z" % key, src, "one.txt", "two.txt")
        run(["7zz", "rn"] + sevenzip_options + ["-bd", path, "two.txt", name], src)


main()
