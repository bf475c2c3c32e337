#!/usr/bin/env bash
# The main job: set up, build, then install the demo game under Wine in a
# fresh prefix against the loopback demo server (scripts/demo_server.py) and
# print what was installed: files, registry values, shortcuts, the statistics
# the server received, the install log and the install's wall time beside the
# time of plainly copying the same files.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
bash "$repo/scripts/setup.sh"
bash "$repo/scripts/build.sh"

root=${NQ_BUILD_ROOT:-$repo/build}
x64="$root/x64"
demo="$root/demo"
exe="$x64/kzr.exe"
sevenzip=$(sed -n 's/^sevenzip=//p' "$x64/packages/demo_files.txt" 2>/dev/null || true)

# A pristine prefix, made once; every run installs into a fresh copy of it.
mkdir -p "$demo/pristine/wine"
[ -f "$x64/wine/nq_test_root.reg" ] && cp "$x64/wine/nq_test_root.reg" "$demo/pristine/wine/"
(
  source "$repo/scripts/wine_env.sh" "$demo/pristine"
  nq_ensure_prefix
  "$nq_wineserver" -k 2>/dev/null || true
  "$nq_wineserver" -w 2>/dev/null || true
)
rm -rf "$demo/run"
cp -a "$demo/pristine" "$demo/run"
# The prefix's user folders link to HOME by absolute path.
find "$demo/run/wine/prefix/drive_c/users" -type l -lname "$demo/pristine/wine/home*" | while read -r link; do
  target=$(readlink "$link")
  ln -sfn "$demo/run/wine/home${target#"$demo/pristine/wine/home"}" "$link"
done

source "$repo/scripts/wine_env.sh" "$demo/run"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"

server_pid="" xvfb_pid=""
cleanup() {
  "$nq_wineserver" -k 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# A display for the windows of the client the installer starts.
n=81
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1600x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$n"

python3 "$repo/scripts/demo_server.py" ${sevenzip:+--sevenzip "$sevenzip"} \
  --stat-log "$demo/run/stat.log" --file-log "$demo/run/file.log" \
  --ready-file "$demo/run/server.ready" >"$demo/run/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do [ -f "$demo/run/server.ready" ] && break; sleep 0.05; done
[ -f "$demo/run/server.ready" ] || { echo "demo server did not start"; cat "$demo/run/server.out"; exit 1; }

appdata=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Roaming | grep -v /Public/ | head -n1)
base="$appdata/Brevplay"
mkdir -p "$base"
touch "$base/Brevplay.log.on"

# Wine's services start with the first process; start them first so the
# timed run is the install alone.
"$nq_wine" wineboot >/dev/null 2>&1 </dev/null
echo "== installing $exe under wine64 (fresh prefix $WINEPREFIX)"
start=$(date +%s.%N)
"$nq_wine" "$exe" >"$demo/run/install.out" 2>&1 </dev/null || true
end=$(date +%s.%N)
sleep 1  # reports travel on their own threads
"$nq_wineserver" -k 2>/dev/null || true
"$nq_wineserver" -w 2>/dev/null || true

# Baselines: the same installed files copied plainly, on Linux and by a Wine
# program (which pays the same process start-up as the installer).
copy_dir="$demo/run/copy"
rm -rf "$copy_dir"
c_start=$(date +%s.%N)
cp -a "$base" "$copy_dir"
c_end=$(date +%s.%N)
rm -rf "$copy_dir"
"$nq_wine" wineboot >/dev/null 2>&1 </dev/null
w_start=$(date +%s.%N)
"$nq_wine" cmd /c xcopy /e /i /q "Z:${base//\//\\}" "C:\\copy" >/dev/null 2>&1 </dev/null || true
w_end=$(date +%s.%N)
"$nq_wineserver" -k 2>/dev/null || true
"$nq_wineserver" -w 2>/dev/null || true
rm -rf "$WINEPREFIX/drive_c/copy"

NQ_REPO="$repo" python3 - "$WINEPREFIX" "$base" "$demo/run" "$start" "$end" "$c_start" "$c_end" "$w_start" "$w_end" <<'PY'
import json, os, sys
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.environ["NQ_REPO"], "tests", "install"))
import install_probe as ii

prefix, base, run, start, end, c_start, c_end, w_start, w_end = sys.argv[1:]
user = ii.user_dir(prefix)

print("\n== files")
files = 0
total = 0
for root, dirs, names in sorted(os.walk(base)):
    dirs.sort()
    for name in sorted(names):
        path = os.path.join(root, name)
        size = os.path.getsize(path)
        version = ii.file_version(path) if name.lower().endswith((".exe", ".dll")) else ""
        files += 1
        total += size
        print("  %-58s %9d %s" % (os.path.relpath(path, os.path.dirname(base)), size, version))

print("\n== registry (HKEY_CURRENT_USER)")
reg = ii.parse_reg(os.path.join(prefix, "user.reg"))
for key in ("software\\brevplay", "software\\brevplay\\kzr",
            "software\\microsoft\\windows\\currentversion\\uninstall\\brevplay_kzr"):
    print("  [%s]" % key)
    for name, vtype, data in sorted(reg.get(key, {}).values()):
        text = ii.reg_text(data) if vtype == ii.REG_SZ else data.hex()
        print("    %-18s REG_SZ  %s" % (name, text) if vtype == ii.REG_SZ else
              "    %-18s type %d %s" % (name, vtype, text))

print("\n== shortcuts")
links = [os.path.join(user, "Desktop", "Velmora.lnk"),
         os.path.join(user, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu",
                      "Programs", "Velmora", "Velmora.lnk"),
         os.path.join(base, "kzr", "卸载Velmora.lnk")]
for link in links:
    if not os.path.exists(link):
        print("  %s: missing" % link)
        continue
    info = ii.lnkinfo(link)
    print("  %s\n    target %s\n    arguments %r\n    icon %s" % (
        os.path.relpath(link, user), info.get("Local path"), info.get("Command line arguments"),
        info.get("Icon location")))

print("\n== statistics received (127.0.0.1:28711)")
stat_log = os.path.join(run, "stat.log")
for line in open(stat_log) if os.path.exists(stat_log) else []:
    entry = json.loads(line)
    print("  %s" % entry["raw"])
file_log = os.path.join(run, "file.log")
for line in open(file_log) if os.path.exists(file_log) else []:
    entry = json.loads(line)
    print("  file server: GET %s -> %d (%d bytes)" % (entry["path"], entry["status"], entry["bytes"]))

log = os.path.join(base, "Brevplay.log")
print("\n== %s" % log)
print(open(log, encoding="latin-1").read() if os.path.exists(log) else "(no log written)")

# The install flow alone: from the packaged configuration's read to the last
# record of the run (the log's own clock, "MM-DD hh:mm:ss.mmm").
def stamp(line):
    h, m, sec = line[6:18].split(":")
    return int(h) * 3600 + int(m) * 60 + float(sec)
records = open(log, encoding="latin-1").read().splitlines() if os.path.exists(log) else []
flow = [r for r in records if "InstallHelper::GetGameConfigFromLocal" in r]
t_flow = stamp(records[-1]) - stamp(flow[0]) if flow else None

t_install = float(end) - float(start)
t_copy = float(c_end) - float(c_start)
t_wcopy = float(w_end) - float(w_start)
print("== timing (%d files, %d bytes installed)" % (files, total))
print("  full install (kzr.exe under wine64, incl. process start, 7z.dll download): %7.3f s" % t_install)
if t_flow is not None:
    print("  of which the install flow (configuration read to last log record):      %7.3f s" % t_flow)
print("  plain copy of the same files, Linux cp -a:                                 %7.3f s" % t_copy)
print("  plain copy of the same files, Wine xcopy (incl. process start):           %7.3f s" % t_wcopy)
PY
