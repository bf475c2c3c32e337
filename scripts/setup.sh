#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12
# machine (run as root), and fetches the jsoncpp sources into a cache outside
# the repository. Idempotent: a second run only checks.
set -euo pipefail

cache="${WIN_DEPS_CACHE:-/var/cache/nevaquar-deps}"
packages=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 xvfb x11-apps cmake ninja-build python3
  libz-mingw-w64-dev libstb-dev googletest imagemagick osslsigncode
  7zip zip unzip liblnk-utils fonts-wqy-microhei openssl dpkg-dev
  clang libclang-rt-14-dev zlib1g-dev file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

src_list=/etc/apt/sources.list.d/deb-src-bookworm.sources
need_src=0
[ -d "$cache/jsoncpp" ] && [ -f "$cache/jsoncpp/src/lib_json/json_reader.cpp" ] || need_src=1

if [ "$need_src" = 1 ] && [ ! -f "$src_list" ]; then
  # A deb-src entry for the same archive the machine already uses.
  uri=$(grep -h -m1 -E '^URIs:' /etc/apt/sources.list.d/debian.sources 2>/dev/null | awk '{print $2}')
  [ -n "$uri" ] || uri=$(grep -h -m1 -E '^deb ' /etc/apt/sources.list 2>/dev/null | awk '{print $2}')
  [ -n "$uri" ] || uri=http://deb.debian.org/debian
  cat > "$src_list" <<SRC
Types: deb-src
URIs: $uri
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

if [ ${#missing[@]} -gt 0 ] || [ "$need_src" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ "$need_src" = 1 ]; then
  rm -rf "$cache/jsoncpp" "$cache/dl"
  mkdir -p "$cache/dl"
  (cd "$cache/dl" && apt-get source --download-only -qq libjsoncpp >/dev/null)
  tarball=$(ls "$cache"/dl/libjsoncpp_*.orig.tar.* | head -n1)
  mkdir -p "$cache/jsoncpp"
  tar -xf "$tarball" -C "$cache/jsoncpp" --strip-components=1
fi
echo "setup: ready (jsoncpp sources in $cache/jsoncpp)"
