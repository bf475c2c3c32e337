#!/usr/bin/env python3
"""Checks the i686 product: a PE32 GUI executable for Intel 80386 that carries
the string, icon, configuration and version resources."""
import json
import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "install"))
import install_probe  # noqa: E402

RT_ICON, RT_STRING, RT_GROUP_ICON, RT_VERSION = 3, 6, 14, 16


def fail(msg):
    print("FAIL:", msg)
    sys.exit(1)


def pe_header(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        fail("no PE signature")
    machine, = struct.unpack_from("<H", data, pe + 4)
    opt = pe + 24
    magic, = struct.unpack_from("<H", data, opt)
    subsystem, = struct.unpack_from("<H", data, opt + 68)
    return machine, magic, subsystem


def main(path):
    desc = subprocess.run(["file", "-b", path], capture_output=True, text=True).stdout
    print("file:", desc.strip())
    if not desc.startswith("PE32 executable (GUI) Intel 80386"):
        fail("not a PE32 GUI executable for i386")
    data = open(path, "rb").read()
    machine, magic, subsystem = pe_header(data)
    res = install_probe.pe_resources(path)
    if machine != 0x14C or magic != 0x10B or subsystem != 2:
        fail("header says machine %x magic %x subsystem %d" % (machine, magic, subsystem))

    # Strings 121..126 live in block 8 (ids 112..127).
    block = next(v for k, v in res.items() if k[0] == RT_STRING and k[1] == 8)
    strings, p = [], 0
    for _ in range(16):
        n, = struct.unpack_from("<H", block, p)
        strings.append(block[p + 2:p + 2 + 2 * n].decode("utf-16-le"))
        p += 2 + 2 * n
    want = {121: "Ferrant", 123: "Velmora", 125: "Brevplay", 126: "kzr"}
    for rid, text in want.items():
        if strings[rid - 112] != text:
            fail("string %d is %r" % (rid, strings[rid - 112]))

    config = next((v for k, v in res.items() if k[0] == "FILERES" and k[1] == 202), None)
    if config is None:
        fail("no FILERES 202")
    doc = json.loads(config.decode("utf-8"))
    if "sign" not in doc or not all(isinstance(v, str) for v in doc.values()):
        fail("packaged configuration must hold only strings and a sign member")

    group = next((v for k, v in res.items() if k[0] == RT_GROUP_ICON and k[1] == 401), None)
    if group is None:
        fail("no icon group 401")
    count, = struct.unpack_from("<H", group, 4)
    sizes = sorted((group[6 + 14 * i] or 256) for i in range(count))
    if sizes != [16, 24, 32, 48, 96, 128, 256]:
        fail("icon sizes %s" % sizes)

    version = next((v for k, v in res.items() if k[0] == RT_VERSION), None)
    if version is None:
        fail("no version resource")
    sig = version.find(struct.pack("<I", 0xFEEF04BD))
    ms, ls = struct.unpack_from("<II", version, sig + 8)
    fv = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    if fv != "1.0.0.1":
        fail("file version %s" % fv)
    if "游戏客户端".encode("utf-16-le") not in version:
        fail("Chinese text of the version block did not survive")
    print("product ok: strings, FILERES 202, icon 401 %s, version %s" % (sizes, fv))


if __name__ == "__main__":
    main(sys.argv[1])
