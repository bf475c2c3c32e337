#!/usr/bin/env bash
# Configures and builds the product (i686) and the test build (x86_64) under
# build/. Incremental: a second run only rebuilds what changed.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
game=${GAME:-kzr}
extra=(${NQ_CMAKE_ARGS:-})

configure() {  # dir toolchain args...
  local dir=$1 arch=$2
  shift 2
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$repo" -B "$dir" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-$arch-w64-mingw32.cmake" \
      -DGAME="$game" "$@" "${extra[@]}" >/dev/null
  fi
}

root=${NQ_BUILD_ROOT:-$repo/build}
configure "$root/i686" i686 -DNQ_BUILD_TESTS=OFF
cmake --build "$root/i686"
configure "$root/x64" x86_64 -DNQ_PRODUCT_EXE="$root/i686/$game.exe"
cmake --build "$root/x64"
