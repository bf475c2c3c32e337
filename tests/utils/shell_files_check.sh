#!/usr/bin/env bash
# Reads what CreateShortcut and SaveIconFile wrote with readers that share no
# code with Windows or Wine: lnkinfo (liblnk-utils) and ImageMagick's identify.
# Usage: shell_files_check.sh <build dir> <utils_test exe>
set -euo pipefail
build=$1
exe=$2
here=$(cd "$(dirname "$0")" && pwd)

out=$(mktemp -d "$build/shell_files.XXXXXX")
trap 'rm -rf "$out"' EXIT
# The build tree is drive Z: inside Wine.
win_out="Z:${out//\//\\}"

bash "$here/../wine_run.sh" "$build" "$exe" --child=write_shell_files "$win_out"

failures=0
check() {  # what expected actual
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  else
    echo "ok: $1: $3"
  fi
}

mapfile -t expected < <(tr -d '\r' < "$out/expected.txt")
links=("$out"/*.lnk)
check "one link written" 1 "${#links[@]}"
link=${links[0]}
check "link file name" "卸载Velmora.lnk" "$(basename "$link")"

# lnkinfo prints "<field>  : <value>" lines, indented.
field() { lnkinfo "$link" | sed -n "s/^[[:space:]]*$1[[:space:]]*: //p" | head -n 1; }
check "target" "${expected[0]}" "$(field 'Local path')"
check "arguments" "${expected[1]}" "$(field 'Command line arguments')"
check "working directory" "${expected[2]}" "$(field 'Working directory')"
check "icon location" "${expected[3]}" "$(field 'Icon location')"
# lnkinfo always shows Show Window as 0; the show command is the 32-bit
# number at offset 0x3C of the header (SW_SHOW = 5).
check "show command" 5 "$(od -An -tu4 -j60 -N4 "$link" | tr -d ' ')"

ico="$out/game/kzr.ico"
check "icon images" "16x16 24x24 32x32 48x48 96x96 128x128 256x256" \
  "$(/usr/bin/identify -format '%wx%h ' "$ico" | sed 's/ $//')"

[ "$failures" -eq 0 ] || { lnkinfo "$link" || true; exit 1; }
