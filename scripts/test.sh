#!/usr/bin/env bash
# Sets up the machine, builds both architectures and runs every test: the
# x86_64 build's test executables under wine64 with one persistent wineserver
# and a private Xvfb display, plus the checks of the i686 product.
set -euo pipefail
trap 'echo "test.sh: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
repo=$(cd "$(dirname "$0")/.." && pwd)
bash "$repo/scripts/setup.sh"
bash "$repo/scripts/build.sh"

build="${NQ_BUILD_ROOT:-$repo/build}/x64"
source "$repo/scripts/wine_env.sh" "$build"
nq_ensure_prefix

xvfb_pid=""
cleanup() {
  "$nq_wineserver" -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -f "$build/wine/display"
}
trap cleanup EXIT

# A free display number: the first without an X lock file.
n=91
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1600x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
echo ":$n" > "$build/wine/display"
export DISPLAY=":$n"
# One persistent server for the run; a server left from an earlier run of
# this tree is replaced (starting a second one would fail).
"$nq_wineserver" -k >/dev/null 2>&1 || true
"$nq_wineserver" -w >/dev/null 2>&1 || true
"$nq_wineserver" -p >/dev/null 2>&1 </dev/null || true
# Start Wine's services now, detached from any pipe a test runner reads.
"$nq_wine" wineboot >/dev/null 2>&1 </dev/null || true

cd "$build"
ctest --output-on-failure -j2 "$@"
