#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; quiet and quick
# when they are all there already.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang-format
  libgtest-dev libgmock-dev
  libcurl4-openssl-dev libarchive-dev libssl-dev
  liblnk-utils libarchive-tools openssl curl zip unzip tmux attr
  # the browser test: a real headless browser session
  chromium chromium-driver libnss3-tools nlohmann-json3-dev
  # the Windows program: cross compilers, the PE check, Wine under Xvfb
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64 mingw-w64-i686-dev mingw-w64-x86-64-dev
  wine wine64 xvfb imagemagick python3-pefile locales
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
