#!/usr/bin/env bash
# Installs the Debian packages the project needs; quiet and quick when they
# are all there already.
#
#   install-deps.sh          everything the test command needs
#   install-deps.sh --demo   only what the demo needs: the POSIX build and the
#                            programs the demo run starts
set -euo pipefail

# The POSIX program and the demo run: compiler, libraries, the demo's HTTPS
# server and archive, and a real headless browser session for the browser test.
demo=(
  cmake ninja-build g++
  libcurl4-openssl-dev libarchive-dev libssl-dev nlohmann-json3-dev
  openssl libarchive-tools python3
  chromium chromium-driver libnss3-tools
)
# The tests besides: a second compiler and its libFuzzer runtime, GoogleTest,
# the tools the tests read files back with.
tests=(
  clang libclang-rt-14-dev clang-format libgtest-dev libgmock-dev
  liblnk-utils curl zip unzip tmux attr shellcheck
  # the Windows program: cross compilers, the PE check, Wine under Xvfb with
  # the font that draws the caption buttons
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64 mingw-w64-i686-dev mingw-w64-x86-64-dev
  wine wine64 fonts-wine xvfb imagemagick python3-pefile locales
)

packages=("${demo[@]}")
case "${1:-}" in
--demo) ;;
"") packages+=("${tests[@]}") ;;
*)
  echo "usage: install-deps.sh [--demo]" >&2
  exit 2
  ;;
esac

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
