#!/usr/bin/env bash
# The main job: set up, build, then run the client under Wine in a demo prefix
# with the log switch file in place, and print the log.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
bash "$repo/scripts/setup.sh"
bash "$repo/scripts/build.sh"

root=${NQ_BUILD_ROOT:-$repo/build}
demo="$root/demo"
mkdir -p "$demo"
source "$repo/scripts/wine_env.sh" "$demo"
nq_ensure_prefix
trap '"$nq_wineserver" -k 2>/dev/null || true' EXIT

appdata="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming"
[ -d "$appdata" ] || appdata=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Roaming | grep -v Public | head -n1)
logdir="$appdata/Brevplay"
mkdir -p "$logdir"
touch "$logdir/Brevplay.log.on"
rm -f "$logdir/Brevplay.log"

exe="$root/x64/kzr.exe"
echo "== running $exe under wine64"
"$nq_wine" "$exe" "$@" || true
"$nq_wineserver" -w
echo "== $logdir/Brevplay.log"
cat "$logdir/Brevplay.log" 2>/dev/null || echo "(no log written)"
