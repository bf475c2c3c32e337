#!/usr/bin/env python3
"""Checks the resource packages of a built client exe from the outside (7zz,
zipfile): ZIPRES 201 is a Copy-method 7z holding exactly the package files,
203 the 22-byte empty zip (or a zip with 7z.dll for --full), 204 a zip with
NetBridge.dll, ui.ui the zip of the game's skin folder; every module inside is
built for the exe's machine, and CefHelper.dll exports its entry points under
their plain names (an i686 build would otherwise decorate them).

Usage: packages_check.py <client exe> <skin folder> [--full]"""
import io
import os
import subprocess
import sys
import tempfile
import zipfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import install_probe as ii  # noqa: E402

EMPTY_ZIP = b"PK\x05\x06" + bytes(18)


def main(exe, skin, full):
    failures = []
    res = ii.pe_resources(exe)
    machine = ii.pe_machine(open(exe, "rb").read())
    packages = {n: v for (t, n), v in res.items() if t == "ZIPRES"}
    if sorted(packages) != [201, 203, 204]:
        print("FAIL: ZIPRES ids %s" % sorted(packages))
        return 1

    with tempfile.TemporaryDirectory() as tmp:
        archive = os.path.join(tmp, "res.7z")
        open(archive, "wb").write(packages[201])
        listing = subprocess.run(["7zz", "l", "-slt", archive], capture_output=True, text=True,
                                 check=True).stdout
        # Items follow the archive's own block after a line of dashes.
        items = [b for b in listing.split("\n----------\n", 1)[-1].split("\n\n") if "Path = " in b]
        names = sorted(line[7:] for b in items for line in b.splitlines() if line.startswith("Path = "))
        methods = {line[9:] for b in items for line in b.splitlines() if line.startswith("Method = ")}
        want = ["CefHelper.dll", "CefView.exe", "Uninst.exe", "WebView.dll", "progress.gif", "ui.ui"]
        if full:
            want += ["CefRes69.dll", "pepflashplayer.dll"]
        if names != sorted(want):
            failures.append("res.7z holds %s, want %s" % (names, sorted(want)))
        if methods != {"Copy"}:
            failures.append("res.7z methods %s" % methods)
        subprocess.run(["7zz", "x", "-y", "-bso0", "-o" + tmp + "/x", archive], check=True)
        for name in names:
            data = open(os.path.join(tmp, "x", name), "rb").read()
            if name.endswith((".dll", ".exe")) and ii.pe_machine(data) != machine:
                failures.append("%s built for machine %s, exe for %s" %
                                (name, ii.pe_machine(data), machine))
        helper = os.path.join(tmp, "x", "CefHelper.dll")
        if os.path.exists(helper):
            exports = ii.pe_export_names(open(helper, "rb").read())
            if sorted(exports) != ["SetProductInfo", "StartEx", "StartFlashEx"]:
                failures.append("CefHelper.dll exports %s" % exports)
        ui_path = os.path.join(tmp, "x", "ui.ui")
        if os.path.exists(ui_path):
            with zipfile.ZipFile(ui_path) as ui:
                got = sorted(i.filename for i in ui.infolist() if not i.is_dir())
                for name in got:
                    if ui.read(name) != open(os.path.join(skin, name), "rb").read():
                        failures.append("ui.ui %s differs from the skin folder" % name)
            want_ui = sorted(os.path.relpath(os.path.join(r, f), skin).replace(os.sep, "/")
                             for r, _, fs in os.walk(skin) for f in fs)
            if got != want_ui:
                failures.append("ui.ui holds %s, the skin folder %s" % (got, want_ui))

    if full:
        with zipfile.ZipFile(io.BytesIO(packages[203])) as z:
            if z.namelist() != ["7z.dll"]:
                failures.append("203 holds %s" % z.namelist())
            elif ii.pe_machine(z.read("7z.dll")) != machine:
                failures.append("7z.dll built for another machine")
    elif packages[203] != EMPTY_ZIP:
        failures.append("203 is not the 22-byte empty zip: %r" % packages[203][:40])
    with zipfile.ZipFile(io.BytesIO(packages[204])) as z:
        if z.namelist() != ["NetBridge.dll"]:
            failures.append("204 holds %s" % z.namelist())
        elif ii.pe_machine(z.read("NetBridge.dll")) != machine:
            failures.append("NetBridge.dll built for another machine")

    for f in failures:
        print("FAIL: " + f)
    if not failures:
        print("packages ok: %s (machine %#x)" % (exe, machine))
    return 1 if failures else 0


if __name__ == "__main__":
    args = [a for a in sys.argv[1:] if a != "--full"]
    sys.exit(main(args[0], args[1], "--full" in sys.argv[1:]))
