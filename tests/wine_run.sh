#!/usr/bin/env bash
# ctest's runner: one Windows test executable under wine64 in the build tree's
# private prefix. Usage: wine_run.sh <build dir> <exe> [args...]
set -u
source "$(dirname "$0")/../scripts/wine_env.sh" "$1"
shift
nq_ensure_prefix
exe=$1
shift
# Output goes through a file: Wine's service processes inherit the standard
# handles of the process that starts them, and would hold a pipe open forever.
out=$(mktemp)
cd "$(dirname "$exe")" && "$nq_wine" "$exe" "$@" >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
