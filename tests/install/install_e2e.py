#!/usr/bin/env python3
"""End-to-end install test: runs the built installers under wine64 in fresh
prefixes (copies of one pristine prefix) against the loopback demo server and
reads the result from the Linux side: files, registry, shortcuts, icon,
installed configuration, statistics received, and the start of the installed
copy.

Scenarios (one prefix is reused where a scenario builds on the previous one):
  fresh        kzr into an empty prefix; 7z.dll downloaded
  second_game  abc beside kzr: shared files reused, list ;kzr;abc;, no desktop
               shortcut (NotCreateDeskIcon 1), installed uninst.exe 1.0.0.5
               kept against the packaged 1.0.0.5, not started ("Yes" is not "yes")
  reinstall    kzr again after its configuration was lost: list and Setup Path
               untouched, uninst.exe 1.0.0.5 replaced by the packaged 1.0.0.6
  update       kzr 1.0.0.2 over 1.0.0.1: exe, configuration, icon, skin replaced
  run_at_succ  abc again with /run_at_succ: "inst_open", started with /install_launch
  relaunch     the installed kzr, started with /install_launch, has to install
               again (configuration lost): it repairs without starting another copy
  cef_present  libcef.dll already in Utils\\cef, new kernel asked: CefHelper.dll
               not run
  no_7z        7z.dll nowhere and the download fails: the install fails
  full_package kzr full package: 7z.dll, engine resources and Flash from the exe

Usage: install_e2e.py --work <dir> --repo <dir> --build <x64 build dir> NAME=PATH...
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import install_probe as ii  # noqa: E402

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
if not os.path.exists(WINESERVER):
    WINESERVER = "/usr/lib/wine/wineserver"

FAMILY = "Brevplay"
PRODUCT_KEY = "software\\brevplay"
UNINSTALL_ROOT = "software\\microsoft\\windows\\currentversion\\uninstall"
GAME_VALUES = ["From", "InstallDir", "ExePath", "InstallTime", "DisplayName", "PID", "Version",
               "Channel"]
TEMP_FILES = ["res.7z", "CefRes69.dll", "CefView.exe", "7z.zip", "CefRes.dll", "CefHelper.dll",
              "uninst.exe", "WebView.dll", "progress.gif", "ui.ui", "NetBridge.zip",
              "pepflashplayer.dll"]
# Reports made back to back by the installer are sent by separate threads and
# may arrive in either order (seen: up to 40 ms apart); arrivals closer than
# this count as simultaneous. A step out of place is caught when real install
# work lies between it and its neighbours.
SIMULTANEOUS_S = 0.25
# Actions of the client mode: the installed copy an install starts may report
# them while the installer's last reports arrive; they are not the install's.
CLIENT_ACTIONS = {"main_show", "close_game"}
KERNEL_NEW = "3.3497.1841.0"
KERNEL_OLD = "3.2623.1401.0"
FLASH = "24.0.0.221"


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class Checks:
    """Collects failures of one scenario instead of stopping at the first."""

    def __init__(self, name):
        self.name = name
        self.failures = []

    def true(self, cond, what):
        if not cond:
            self.failures.append(what)
        return cond

    def eq(self, want, got, what):
        return self.true(want == got, "%s: want %r, got %r" % (what, want, got))


class DemoServer:
    def __init__(self, repo, work):
        self.repo = repo
        self.work = work
        self.proc = None
        self.stat_log = os.path.join(work, "stat.log")
        self.file_log = os.path.join(work, "file.log")

    def start(self, sevenzip):
        self.stop()
        ready = os.path.join(self.work, "server.ready")
        if os.path.exists(ready):
            os.remove(ready)
        args = [sys.executable, os.path.join(self.repo, "scripts", "demo_server.py"),
                "--stat-log", self.stat_log, "--file-log", self.file_log, "--ready-file", ready]
        if sevenzip:
            args += ["--sevenzip", sevenzip]
        self.proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(ready):
                return
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        raise RuntimeError("demo server did not start (ports 28710-28712 busy?)")

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=10)
        self.proc = None

    @staticmethod
    def _read(path):
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]

    def stats(self):
        return self._read(self.stat_log)

    def files(self):
        return self._read(self.file_log)


class Prefix:
    """A Wine prefix of its own with HOME beside it (the Desktop links there)."""

    def __init__(self, work, name):
        self.dir = os.path.join(work, name)
        self.prefix = os.path.join(self.dir, "wine", "prefix")
        self.home = os.path.join(self.dir, "wine", "home")

    def env(self, trace=False):
        env = dict(os.environ)
        env.update(WINEPREFIX=self.prefix, HOME=self.home, LANG="C.UTF-8",
                   WINEDEBUG="-all,trace+process" if trace else "-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        return env

    def copy_from(self, pristine):
        shutil.rmtree(self.dir, ignore_errors=True)
        subprocess.run(["cp", "-a", pristine.dir, self.dir], check=True)
        # The user folders link to HOME by absolute path.
        users = os.path.join(self.prefix, "drive_c", "users")
        for root, dirs, files in os.walk(users):
            for name in dirs + files:
                path = os.path.join(root, name)
                if os.path.islink(path) and os.readlink(path).startswith(pristine.home):
                    target = self.home + os.readlink(path)[len(pristine.home):]
                    os.remove(path)
                    os.symlink(target, path)

    def run(self, exe, args=(), log=None, timeout=180):
        """Runs |exe| and waits for it; returns (exit code, seconds, output)."""
        out_path = log or os.path.join(self.dir, "run.out")
        # An exe inside the prefix runs under its C: name, as the shell would
        # start it there.
        inside = os.path.abspath(exe).startswith(os.path.join(self.prefix, "drive_c") + os.sep)
        program = self.win_path(exe) if inside else exe
        start = time.monotonic()
        with open(out_path, "w") as out:
            rc = subprocess.run([WINE, program] + list(args), env=self.env(trace=True), stdout=out,
                                stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                cwd=os.path.dirname(exe), timeout=timeout).returncode
        elapsed = time.monotonic() - start
        with open(out_path, errors="replace") as f:
            return rc, elapsed, f.read()

    def wine(self, *args):
        subprocess.run([WINE] + list(args), env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, check=True)

    def stop(self):
        """Ends every process of the prefix and waits until the server has
        written the registry files."""
        env = self.env()
        subprocess.run([WINESERVER, "-k"], env=env, stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-w"], env=env, stderr=subprocess.DEVNULL)

    # Paths of the installation (Linux side).
    @property
    def user(self):
        return ii.user_dir(self.prefix)

    @property
    def base(self):
        return os.path.join(self.user, "AppData", "Roaming", FAMILY)

    @property
    def utils(self):
        return os.path.join(self.base, "Utils")

    @property
    def desktop(self):
        return os.path.join(self.user, "Desktop")

    @property
    def programs(self):
        return os.path.join(self.user, "AppData", "Roaming", "Microsoft", "Windows",
                            "Start Menu", "Programs")

    def win_path(self, linux_path):
        rel = os.path.relpath(linux_path, os.path.join(self.prefix, "drive_c"))
        return "C:\\" + rel.replace("/", "\\")

    def registry(self):
        return ii.parse_reg(os.path.join(self.prefix, "user.reg"))


class Game:
    def __init__(self, gid, name, exe, new_kernel=True):
        self.id = gid
        self.name = name
        self.exe = exe
        self.kernel_dir = "cef69" if new_kernel else "cef"

    def packaged_config(self):
        res = ii.pe_resources(self.exe)
        return json.loads(next(v for (t, n), v in res.items() if t == "FILERES" and n == 202))


class E2E:
    def __init__(self, args, paths):
        self.args = args
        self.p = paths
        self.work = args.work
        self.server = DemoServer(args.repo, self.work)
        self.results = []
        self.kzr = Game("kzr", "Velmora", paths["kzr"])
        self.abc = Game("abc", "Astrelle", paths["abc"])
        self.kzr_update = Game("kzr", "Velmora", paths["kzr_update"])
        self.kzr_full = Game("kzr", "Velmora", paths["kzr_full"])

    # ---- set-up ----

    def make_pristine(self):
        pristine = Prefix(self.work, "pristine")
        ready = os.path.join(pristine.prefix, ".nq-ready")
        root_reg = os.path.join(self.args.build, "wine", "nq_test_root.reg")
        os.makedirs(os.path.join(pristine.dir, "wine"), exist_ok=True)
        if os.path.exists(root_reg):
            shutil.copy(root_reg, os.path.join(pristine.dir, "wine", "nq_test_root.reg"))
        script = 'source "%s/scripts/wine_env.sh" "%s" && nq_ensure_prefix' % (
            self.args.repo, pristine.dir)
        subprocess.run(["bash", "-c", script], check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pristine.stop()
        if not os.path.exists(ready):
            raise RuntimeError("pristine prefix not made")
        return pristine

    def fresh(self, pristine, name):
        prefix = Prefix(self.work, name)
        prefix.copy_from(pristine)
        # The log switch file: the installer's records are checked below.
        os.makedirs(prefix.base, exist_ok=True)
        open(os.path.join(prefix.base, FAMILY + ".log.on"), "w").close()
        return prefix

    # ---- one installer run ----

    def install(self, prefix, game, args=(), expect_actions=None):
        """Runs |game|'s installer; returns a record of what happened."""
        stats_before = len(self.server.stats())
        files_before = len(self.server.files())
        log_path = os.path.join(prefix.base, FAMILY + ".log")
        log_before = os.path.getsize(log_path) if os.path.exists(log_path) else 0
        rc, seconds, output = prefix.run(game.exe, args,
                                         log=os.path.join(prefix.dir, "run-%s.out" % game.id))
        # Reports travel on their own threads; give late ones a moment.
        want = len(expect_actions) if expect_actions is not None else 0
        deadline = time.monotonic() + 5
        while (len([e for e in self.server.stats()[stats_before:]
                    if e["action"] not in CLIENT_ACTIONS]) < want and time.monotonic() < deadline):
            time.sleep(0.1)
        time.sleep(0.3)
        prefix.stop()
        stats = [e for e in self.server.stats()[stats_before:]
                 if e["action"] not in CLIENT_ACTIONS]
        log = ""
        if os.path.exists(log_path):
            with open(log_path, "rb") as f:
                f.seek(log_before)
                log = f.read().decode("latin-1")
        return {"rc": rc, "seconds": seconds, "output": output, "stats": stats,
                "files": self.server.files()[files_before:], "log": log}

    # ---- checks shared by scenarios ----

    def check_actions(self, c, run, expected):
        got = [s["action"] for s in run["stats"]]
        if not c.true(sorted(got) == sorted(expected),
                      "statistics actions: want %s, got %s" % (expected, got)):
            return
        # In order, except reports that arrived practically together.
        times = {}
        for s in run["stats"]:
            times.setdefault(s["action"], []).append(s["time"])
        arrival = [(times[a].pop(0), a) for a in expected]
        for i in range(len(arrival)):
            for j in range(i + 1, len(arrival)):
                if arrival[j][0] < arrival[i][0] - SIMULTANEOUS_S:
                    c.true(False, "statistics: %s arrived well before %s" %
                           (arrival[j][1], arrival[i][1]))
        for s in run["stats"]:
            c.true(s["path"] == "/wan" and
                   re.match(r"^type=Quarvel&action=[^&]+&channel=Ferrant&mid=[0-9a-f]+&mid2=[0-9a-f]+$",
                            s.get("raw", "")) is not None,
                   "statistics request %s %s" % (s["path"], s.get("raw")))

    def check_launch(self, c, run, game, switches):
        """The installed copy was started with |switches| (None: not started)."""
        pattern = re.compile(r"CreateProcessInternalW app .* cmdline L\"(.*)\"$")
        exe_re = re.compile(r'\\\\%s\\\\%s\.exe\\"(.*)$' % (game.id, game.id))
        starts = []
        for line in run["output"].splitlines():
            m = pattern.search(line)
            if m:
                e = exe_re.search(m.group(1))
                if e and "Brevplay" in m.group(1):
                    starts.append(e.group(1).strip())
        if switches is None:
            c.eq([], starts, "installed copy started")
        else:
            c.eq([switches], starts, "installed copy started with")

    def check_no_temp_files(self, c, prefix):
        left = [n for n in TEMP_FILES if os.path.exists(os.path.join(prefix.base, n))]
        c.eq([], left, "temporary files left in B")

    def check_game_files(self, c, prefix, game, exe_source, ui_source):
        inst = os.path.join(prefix.base, game.id)
        for name in (game.id + ".exe", game.id + ".json", game.id + ".ico", game.id + ".ui",
                     "卸载%s.lnk" % game.name):
            c.true(os.path.isfile(os.path.join(inst, name)), "missing I\\" + name)
        exe = os.path.join(inst, game.id + ".exe")
        if os.path.isfile(exe):
            c.eq(sha(exe_source), sha(exe), "installed exe is the running exe")
        ui = os.path.join(inst, game.id + ".ui")
        if os.path.isfile(ui):
            c.eq(sha(ui_source), sha(ui), "installed skin package")
        ico = os.path.join(inst, game.id + ".ico")
        if os.path.isfile(ico):
            c.eq(["16x16", "24x24", "32x32", "48x48", "96x96", "128x128", "256x256"],
                 ii.icon_sizes(ico), "icon sizes")

    def check_config(self, c, prefix, game, packaged):
        path = os.path.join(prefix.base, game.id, game.id + ".json")
        if not c.true(os.path.isfile(path), "no installed configuration"):
            return
        raw = open(path, "rb").read()
        c.true(not raw.lstrip().startswith(b"{"), "installed configuration is plain JSON")
        c.true(re.fullmatch(rb"[A-Za-z0-9+/]+=*", raw) is not None,
               "installed configuration is not one Base64 text")
        plain_path = os.path.join(prefix.dir, game.id + ".plain.json")
        rc = subprocess.run([WINE, self.p["tool"], "decrypt", path, plain_path],
                            env=prefix.env(), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL).returncode
        prefix.stop()
        if not c.eq(0, rc, "deciphering the installed configuration"):
            return
        plain = open(plain_path, "rb").read().rstrip(b"\0")
        c.eq(packaged, json.loads(plain.decode("utf-8")), "deciphered configuration")

    def check_registry(self, c, prefix, game, reg, version, list_value, setup_path):
        base_win = prefix.win_path(prefix.base)
        inst_win = base_win + "\\" + game.id
        exe_win = inst_win + "\\" + game.id + ".exe"

        def sz(key, name, want=None, what=None):
            value = reg.get(key, {}).get(name.lower())
            if not c.true(value is not None, "registry %s\\%s missing" % (key, name)):
                return None
            vname, vtype, data = value
            c.eq(name, vname, "value name case")
            c.eq(ii.REG_SZ, vtype, "type of %s" % name)
            text = ii.reg_text(data)
            if want is not None:
                c.eq(want, text, what or name)
            return text

        gkey = PRODUCT_KEY + "\\" + game.id
        names = sorted(v[0] for v in reg.get(gkey, {}).values())
        extra = [n for n in names if n not in GAME_VALUES and n != "LastRunTime"]
        c.eq([], extra, "unexpected values in the game key")
        packaged = game.packaged_config()
        sz(gkey, "InstallDir", inst_win)
        sz(gkey, "ExePath", exe_win)
        t = sz(gkey, "InstallTime")
        c.true(t is not None and re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d", t or ""),
               "InstallTime format %r" % t)
        sz(gkey, "DisplayName", game.name)
        sz(gkey, "PID", "Ferrant")
        sz(gkey, "Version", version)
        sz(gkey, "Channel", "Ferrant")
        sz(gkey, "From", "Ferrant")
        sz(PRODUCT_KEY, "InstalledGameIds", list_value)
        sz(PRODUCT_KEY, "Setup Path", setup_path if setup_path is not None else base_win)
        ukey = UNINSTALL_ROOT + "\\" + FAMILY.lower() + "_" + game.id
        sz(ukey, "DisplayName", "卸载" + game.name)
        sz(ukey, "UninstallString", '"%s" /uninstall /from=uninst' % exe_win)
        sz(ukey, "Publisher", game.name)
        sz(ukey, "InstallLocation", inst_win)
        site = packaged.get("site_url_format") or packaged.get("index_page_url")
        sz(ukey, "URLInfoAbout", site)
        c.eq(5, len(reg.get(ukey, {})), "values in the uninstall key")

    def check_link(self, c, prefix, path, game, args):
        if not c.true(os.path.isfile(path), "missing shortcut " + path):
            return
        info = ii.lnkinfo(path)
        inst_win = prefix.win_path(os.path.join(prefix.base, game.id))
        c.eq((inst_win + "\\" + game.id + ".exe").lower(),
             info.get("Local path", "").lower(), "target of " + os.path.basename(path))
        c.eq(args, info.get("Command line arguments"), "arguments of " + os.path.basename(path))
        c.eq(inst_win.lower(), info.get("Working directory", "").lower(),
             "working directory of " + os.path.basename(path))
        c.eq((inst_win + "\\" + game.id + ".ico").lower(), info.get("Icon location", "").lower(),
             "icon of " + os.path.basename(path))
        c.eq(5, info["show command"], "show command (SW_SHOW) of " + os.path.basename(path))

    def check_links(self, c, prefix, game, desktop):
        self.check_link(c, prefix, os.path.join(prefix.base, game.id, "卸载%s.lnk" % game.name),
                        game, "/uninstall /from=uninst")
        self.check_link(c, prefix, os.path.join(prefix.programs, game.name, game.name + ".lnk"),
                        game, " /from=start_menu")
        desk = os.path.join(prefix.desktop, game.name + ".lnk")
        if desktop:
            self.check_link(c, prefix, desk, game, " /from=desk_icon")
        else:
            c.true(not os.path.exists(desk), "desktop shortcut made although not wanted")

    def check_shared_files(self, c, prefix, kernel_dir, flash):
        u = prefix.utils
        for name, source in (("7z.dll", self.p["sevenzip"]), ("CefHelper.dll", self.p["cefhelper"]),
                             ("WebView.dll", self.p["webview"]),
                             ("progress.gif", self.p["progress_gif"])):
            path = os.path.join(u, name)
            if c.true(os.path.isfile(path), "missing U\\" + name):
                c.eq(sha(source), sha(path), "U\\" + name)
        c.true(os.path.isfile(os.path.join(prefix.base, "NetBridge.dll")), "missing B\\NetBridge.dll")
        k = os.path.join(u, kernel_dir)
        c.true(os.path.isfile(os.path.join(k, "CefView.exe")), "missing K\\CefView.exe")
        libcef = os.path.join(k, "libcef.dll")
        if c.true(os.path.isfile(libcef), "missing K\\libcef.dll"):
            c.eq(KERNEL_NEW if kernel_dir == "cef69" else KERNEL_OLD, ii.file_version(libcef),
                 "runtime version")
        flash_path = os.path.join(k, "pepflashplayer.dll")
        if flash:
            if c.true(os.path.isfile(flash_path), "missing K\\pepflashplayer.dll"):
                c.eq(FLASH, ii.file_version(flash_path), "Flash version")
        else:
            c.true(not os.path.exists(flash_path), "Flash placed although not asked for")

    def check_log(self, c, run, must=(), must_not=()):
        for text in must:
            c.true(text in run["log"], "log lacks %r" % text)
        for text in must_not:
            c.true(text not in run["log"], "log has %r" % text)

    def record(self, c, run=None):
        self.results.append((c, run))
        status = "ok" if not c.failures else "FAIL"
        extra = " (%.2f s)" % run["seconds"] if run else ""
        print("%-13s %s%s" % (c.name, status, extra), flush=True)
        for f in c.failures:
            print("    - " + f, flush=True)

    # ---- scenarios ----

    def scenario_fresh(self, prefix):
        c = Checks("fresh")
        actions = ["install", "7z_noexist", "7z_download_start", "7z_download_success",
                   "res_copy_success", "add_desk_icon", "qv_install_success", "inst_succ",
                   "inst_open"]
        run = self.install(prefix, self.kzr, expect_actions=actions)
        c.eq(0, run["rc"], "exit code")
        self.check_actions(c, run, actions)
        c.eq([("/wan/wan/7z.dll", 200)], [(f["path"], f["status"]) for f in run["files"]],
             "downloads")
        self.check_launch(c, run, self.kzr, "/install_launch")
        self.check_no_temp_files(c, prefix)
        self.check_game_files(c, prefix, self.kzr, self.kzr.exe, self.p["ui_kzr"])
        self.check_shared_files(c, prefix, "cef69", flash=False)
        u = os.path.join(prefix.utils, "uninst.exe")
        if c.true(os.path.isfile(u), "missing U\\uninst.exe"):
            c.eq(sha(self.p["uninst_1006"]), sha(u), "U\\uninst.exe")
        c.true(not any(os.path.exists(os.path.join(prefix.utils, n))
                       for n in ("CefRes.dll", "CefRes69.dll")), "engine resources in a plain package")
        self.check_registry(c, prefix, self.kzr, prefix.registry(), "1.0.0.1", ";kzr;", None)
        self.check_links(c, prefix, self.kzr, desktop=True)
        self.check_config(c, prefix, self.kzr, self.kzr.packaged_config())
        self.check_log(c, run, must=["InstallHelper::GetGameConfigFromLocal",
                                     "InstallFiles, InstallHelper::path_netbridge is not exist",
                                     "7z_download_success", "Unzip new kernel",
                                     "InstallFiles, InstallCefRes: res_copy_success",
                                     "InstallHelper::AddUninstallItem success"],
                       must_not=["MainControl::RunInstall,"])
        self.record(c, run)
        return run

    def scenario_second_game(self, prefix):
        c = Checks("second_game")
        fixture = os.path.join(prefix.utils, "uninst.exe")
        shutil.copy(self.p["uninst_fixture"], fixture)
        shared = ["7z.dll", "CefHelper.dll", "WebView.dll", "cef69/libcef.dll", "cef69/CefView.exe",
                  "../NetBridge.dll"]
        before = {n: (sha(os.path.join(prefix.utils, n)),
                      os.stat(os.path.join(prefix.utils, n)).st_mtime_ns) for n in shared}
        actions = ["install", "qv_install_success", "inst_succ"]
        run = self.install(prefix, self.abc, expect_actions=actions)
        c.eq(0, run["rc"], "exit code")
        self.check_actions(c, run, actions)
        c.eq([], run["files"], "downloads")
        self.check_launch(c, run, self.abc, None)
        for n in shared:
            path = os.path.join(prefix.utils, n)
            c.eq(before[n], (sha(path), os.stat(path).st_mtime_ns), "shared file reused: " + n)
        c.eq(sha(self.p["uninst_fixture"]), sha(fixture), "installed uninst.exe 1.0.0.5 kept")
        self.check_no_temp_files(c, prefix)
        self.check_game_files(c, prefix, self.abc, self.abc.exe, self.p["ui_abc"])
        flash = os.path.join(prefix.utils, "cef69", "pepflashplayer.dll")
        if c.true(os.path.isfile(flash), "Flash plug-in missing (pepflashplayer 1)"):
            c.eq(FLASH, ii.file_version(flash), "Flash version")
        reg = prefix.registry()
        self.check_registry(c, prefix, self.abc, reg, "1.0.0.1", ";kzr;abc;", None)
        self.check_links(c, prefix, self.abc, desktop=False)
        c.true(os.path.isfile(os.path.join(prefix.desktop, "Velmora.lnk")),
               "kzr's desktop shortcut gone")
        self.check_config(c, prefix, self.abc, self.abc.packaged_config())
        self.check_log(c, run, must_not=["MainControl::RunInstall,", "7z_download",
                                         "ExtractWebViewAndCefRes InstallHelper::InstallCefRes"])
        self.record(c, run)

    def scenario_reinstall(self, prefix):
        c = Checks("reinstall")
        prefix.wine("reg", "add", "HKCU\\Software\\Brevplay", "/v", "Setup Path", "/d",
                    "C:\\marker", "/f")
        prefix.stop()
        os.remove(os.path.join(prefix.base, "kzr", "kzr.json"))
        desk = os.path.join(prefix.desktop, "Velmora.lnk")
        with open(desk, "wb") as f:
            f.write(b"stale")
        actions = ["install", "add_desk_icon", "qv_install_success", "inst_succ", "inst_open"]
        run = self.install(prefix, self.kzr, expect_actions=actions)
        c.eq(0, run["rc"], "exit code")
        self.check_actions(c, run, actions)
        self.check_launch(c, run, self.kzr, "/install_launch")
        reg = prefix.registry()
        self.check_registry(c, prefix, self.kzr, reg, "1.0.0.1", ";kzr;abc;", "C:\\marker")
        u = os.path.join(prefix.utils, "uninst.exe")
        c.eq(sha(self.p["uninst_1006"]), sha(u), "uninst.exe 1.0.0.5 replaced by 1.0.0.6")
        c.eq("1.0.0.6", ii.file_version(u), "uninst.exe version")
        self.check_links(c, prefix, self.kzr, desktop=True)
        self.check_log(c, run, must=["InstallHelper::AddDeskIcon delete desk lnk: "],
                       must_not=["MainControl::RunInstall,"])
        self.check_config(c, prefix, self.kzr, self.kzr.packaged_config())
        self.record(c, run)

    def scenario_update(self, prefix):
        c = Checks("update")
        inst = os.path.join(prefix.base, "kzr")
        old = {n: sha(os.path.join(inst, n)) for n in ("kzr.exe", "kzr.json", "kzr.ico", "kzr.ui")}
        actions = ["install", "add_desk_icon", "qv_install_success", "inst_succ", "inst_open"]
        run = self.install(prefix, self.kzr_update, expect_actions=actions)
        c.eq(0, run["rc"], "exit code")
        self.check_actions(c, run, actions)
        self.check_log(c, run, must=["need update"], must_not=["MainControl::RunInstall,"])
        for n, digest in old.items():
            c.true(sha(os.path.join(inst, n)) != digest, "%s not replaced" % n)
        self.check_game_files(c, prefix, self.kzr_update, self.kzr_update.exe, self.p["ui_update"])
        c.eq("1.0.0.2", ii.file_version(os.path.join(inst, "kzr.exe")), "installed exe version")
        green = subprocess.run(["identify", "-format", "%[fx:mean.g] %[fx:mean.r]\n",
                                os.path.join(inst, "kzr.ico") + "[2]"],
                               capture_output=True, text=True).stdout.split()
        c.true(len(green) == 2 and float(green[0]) > 0.8 and float(green[1]) < 0.2,
               "installed icon is not the update's (green) icon: %s" % green)
        reg = prefix.registry()
        self.check_registry(c, prefix, self.kzr_update, reg, "1.0.0.2", ";kzr;abc;", "C:\\marker")
        self.check_config(c, prefix, self.kzr_update, self.kzr_update.packaged_config())
        self.record(c, run)

    def scenario_run_at_succ(self, prefix):
        c = Checks("run_at_succ")
        os.remove(os.path.join(prefix.base, "abc", "abc.json"))
        actions = ["install", "qv_install_success", "inst_succ", "inst_open"]
        run = self.install(prefix, self.abc, ["/run_at_succ"], expect_actions=actions)
        c.eq(0, run["rc"], "exit code")
        self.check_actions(c, run, actions)
        self.check_launch(c, run, self.abc, "/run_at_succ /install_launch")
        self.check_log(c, run, must=["InstallHelper::RunAppGame"])
        reg = prefix.registry()
        self.check_registry(c, prefix, self.abc, reg, "1.0.0.1", ";kzr;abc;", "C:\\marker")
        self.record(c, run)

    def scenario_relaunch_guard(self, prefix):
        """The installed copy, started by an installer, finds its installation
        unusable and installs again: it must not start yet another copy."""
        c = Checks("relaunch")
        os.remove(os.path.join(prefix.base, "kzr", "kzr.json"))
        installed = Game("kzr", "Velmora", os.path.join(prefix.base, "kzr", "kzr.exe"))
        actions = ["install", "add_desk_icon", "qv_install_success", "inst_succ"]
        run = self.install(prefix, installed, ["/install_launch"], expect_actions=actions)
        c.eq(0, run["rc"], "exit code")
        self.check_actions(c, run, actions)
        self.check_launch(c, run, installed, None)
        self.check_log(c, run, must=["InstallHelper::RunAppGame, started by the installer itself"],
                       must_not=["MainControl::RunInstall,"])
        c.eq(sha(self.kzr_update.exe), sha(installed.exe), "installed exe kept")
        self.check_config(c, prefix, installed, self.kzr_update.packaged_config())
        self.record(c, run)

    def scenario_cef_present(self, prefix):
        c = Checks("cef_present")
        cef = os.path.join(prefix.utils, "cef")
        os.makedirs(cef, exist_ok=True)
        shutil.copy(self.p["libcef_old"], os.path.join(cef, "libcef.dll"))
        actions = ["install", "7z_noexist", "7z_download_start", "7z_download_success",
                   "add_desk_icon", "qv_install_success", "inst_succ", "inst_open"]
        run = self.install(prefix, self.kzr, expect_actions=actions)
        c.eq(0, run["rc"], "exit code")
        self.check_actions(c, run, actions)
        k = os.path.join(prefix.utils, "cef69")
        c.true(not os.path.exists(os.path.join(k, "libcef.dll")), "runtime placed in cef69")
        c.true(os.path.isfile(os.path.join(k, "CefView.exe")), "CefView.exe not in K")
        c.eq(["libcef.dll"], sorted(os.listdir(cef)), "Utils\\cef untouched")
        self.check_log(c, run, must_not=["Unzip new kernel", "Unzip old kernel",
                                         "ExtractWebViewAndCefRes InstallHelper::InstallCefRes",
                                         "MainControl::RunInstall,"])
        self.check_no_temp_files(c, prefix)
        self.record(c, run)

    def scenario_no_7z(self, prefix):
        c = Checks("no_7z")
        self.server.start(sevenzip=None)
        actions = ["install", "7z_noexist", "7z_download_start", "7z_download_fail"]
        try:
            run = self.install(prefix, self.kzr, expect_actions=actions)
        finally:
            self.server.start(sevenzip=self.p["sevenzip"])
        c.eq(0, run["rc"], "exit code")
        self.check_actions(c, run, actions)
        c.eq([("/wan/wan/7z.dll", 404)], [(f["path"], f["status"]) for f in run["files"]],
             "downloads")
        self.check_launch(c, run, self.kzr, None)
        self.check_log(c, run, must=["InstallFiles, InstallHelper::download7z() failed",
                                     "MainControl::RunInstall,InstallFiles failed"])
        self.check_no_temp_files(c, prefix)
        c.true(not os.path.exists(os.path.join(prefix.utils, "7z.dll")), "7z.dll appeared")
        c.true(not os.path.exists(os.path.join(prefix.desktop, "Velmora.lnk")),
               "desktop shortcut after a failed install")
        reg = prefix.registry()
        c.true(PRODUCT_KEY + "\\kzr" not in reg, "game key written by a failed install")
        self.record(c, run)

    def scenario_full_package(self, prefix):
        c = Checks("full_package")
        actions = ["install", "install_all_pack", "cef_dll_exist", "add_desk_icon",
                   "qv_install_success", "inst_succ", "inst_open"]
        run = self.install(prefix, self.kzr_full, expect_actions=actions)
        c.eq(0, run["rc"], "exit code")
        self.check_actions(c, run, actions)
        c.eq([], run["files"], "downloads")
        self.check_log(c, run, must=["ExtractPepflashplayer Packall Move 7z Success",
                                     "ExtractPepflashplayer Packall Move PepFalsh Success",
                                     "InstallFiles, InstallCefRes: cefres exist"],
                       must_not=["MainControl::RunInstall,"])
        self.check_shared_files(c, prefix, "cef69", flash=True)
        res = os.path.join(prefix.utils, "CefRes69.dll")
        if c.true(os.path.isfile(res), "missing U\\CefRes69.dll"):
            c.eq(sha(self.p["cefres_new"]), sha(res), "U\\CefRes69.dll")
        self.check_no_temp_files(c, prefix)
        self.check_config(c, prefix, self.kzr_full, self.kzr_full.packaged_config())
        c.eq("1", self.kzr_full.packaged_config().get("IsPackAllCEF"), "packaged IsPackAllCEF")
        self.record(c, run)

    def run(self):
        os.makedirs(self.work, exist_ok=True)
        for log in (self.server.stat_log, self.server.file_log):
            if os.path.exists(log):
                os.remove(log)
        pristine = self.make_pristine()
        self.server.start(sevenzip=self.p["sevenzip"])
        try:
            p1 = self.fresh(pristine, "family")
            self.scenario_fresh(p1)
            self.scenario_second_game(p1)
            self.scenario_reinstall(p1)
            self.scenario_update(p1)
            self.scenario_run_at_succ(p1)
            self.scenario_relaunch_guard(p1)
            self.scenario_cef_present(self.fresh(pristine, "cef_present"))
            self.scenario_no_7z(self.fresh(pristine, "no_7z"))
            self.scenario_full_package(self.fresh(pristine, "full_package"))
        finally:
            self.server.stop()
        failed = [c.name for c, _ in self.results if c.failures]
        print("scenarios failed: %s" % (", ".join(failed) if failed else "none"))
        return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--repo", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("paths", nargs="+", help="NAME=PATH of the built files")
    args = parser.parse_args()
    paths = dict(p.split("=", 1) for p in args.paths)
    missing = [n for n, p in paths.items() if not os.path.exists(p)]
    if missing:
        print("missing built files: " + ", ".join("%s=%s" % (n, paths[n]) for n in missing))
        return 1
    return E2E(args, paths).run()


if __name__ == "__main__":
    sys.exit(main())
