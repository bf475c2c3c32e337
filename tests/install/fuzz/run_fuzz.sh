#!/usr/bin/env bash
# Builds the archive parsers natively with libFuzzer, AddressSanitizer and
# UBSan, and fuzzes each from the archive fixtures.
# Usage: run_fuzz.sh <work dir> <fixture dir> [libFuzzer options, e.g. -max_total_time=60]
set -euo pipefail
repo=$(cd "$(dirname "$0")/../../.." && pwd)
work=$1
fixtures=$2
shift 2
options=("$@")
[ ${#options[@]} -gt 0 ] || options=(-runs=20000)
mkdir -p "$work"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I"$repo")

clang++ "${flags[@]}" "$repo/tests/install/fuzz/zip_format_fuzz.cpp" \
  "$repo/install/zip_format.cpp" "$repo/install/archive_path.cpp" -lz -o "$work/zip_format_fuzz"
clang++ "${flags[@]}" "$repo/tests/install/fuzz/sevenzip_format_fuzz.cpp" \
  "$repo/outside/sevenzip/sevenzip_format.cpp" -lz -o "$work/sevenzip_format_fuzz"

for target in zip_format sevenzip_format; do
  corpus="$work/${target}_corpus"
  mkdir -p "$corpus"
  case $target in
    zip_format) cp "$fixtures"/*.zip "$corpus"/ ;;
    sevenzip_format) cp "$fixtures"/*.7z "$corpus"/ ;;
  esac
  "$work/${target}_fuzz" "${options[@]}" -max_len=200000 "$corpus" 2>&1 | tail -n 3
done
