# Sourced with the build directory as $1: the private Wine environment of that
# build tree. Defines nq_wine (the wine64 loader) and nq_ensure_prefix.
nq_build_dir=$(cd "$1" && pwd)
nq_repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="$nq_build_dir/wine/prefix"
export HOME="$nq_build_dir/wine/home"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8
# Debian's wine64 package: the 64-bit loader and server, never a wine32.
nq_wine=/usr/lib/wine/wine64
nq_wineserver=/usr/lib/wine/wineserver64
[ -x "$nq_wineserver" ] || nq_wineserver=/usr/lib/wine/wineserver
if [ -z "${DISPLAY:-}" ] && [ -f "$nq_build_dir/wine/display" ]; then
  export DISPLAY=$(cat "$nq_build_dir/wine/display")
fi

# Creates the prefix once (HOME first, so Desktop links into it), with the
# Chinese font substitutes, no crash debugger, and any extra .reg files of the build tree.
nq_ensure_prefix() {
  mkdir -p "$HOME" "$nq_build_dir/wine"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.nq-ready" ]; then
      rm -rf "$WINEPREFIX"
      # Wine's tools may exit non-zero after doing their work; the stamp
      # below is what counts.
      "$nq_wine" wineboot -i >/dev/null 2>&1 </dev/null || true
      "$nq_wine" regedit /S "Z:${nq_repo_dir//\//\\}\\scripts\\wine_prefix.reg" >/dev/null 2>&1 </dev/null || true
      "$nq_wineserver" -w || true
      touch "$WINEPREFIX/.nq-ready"
    fi
    # Registry additions the build produces (the test root certificate).
    for reg in "$nq_build_dir"/wine/*.reg; do
      [ -f "$reg" ] || continue
      stamp="$WINEPREFIX/.nq-$(basename "$reg").$(md5sum < "$reg" | cut -c1-12)"
      [ -f "$stamp" ] && continue
      "$nq_wine" regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1 </dev/null || true
      touch "$stamp"
    done
  ) 9>"$nq_build_dir/wine/.lock"
}
