#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test: a Release
# build with GCC (tests run), a Clang build, a short run of the fuzz targets,
# the Windows program (checked and run under Wine), a build with
# AddressSanitizer and UBSan (tests run), and the demo with scripted answers.
# Warnings are errors in every build here.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "The whole test takes about 14 minutes from a fresh clone on 2 cores, about 5 minutes"
echo "again (installing the packages adds what the mirror takes). The fast loop: see HACKING.md."

scripts/install-deps.sh

echo "== shellcheck"
git ls-files '*.sh' .ci/run | xargs shellcheck -x -P SCRIPTDIR

jobs=$(nproc)
# The builds are presets of CMakePresets.json: test, clang, asan, win32, win64.
build() { # preset
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j"$jobs"
}

echo "== GCC, Release"
build test
ctest --preset test -j"$jobs"

# A second compiler guards the code; its build is not run.
echo "== Clang"
build clang

# The parsers of outside input under libFuzzer, briefly: 10 s a target
# (scripts/fuzz.sh 600 is the full run).
echo "== Fuzz targets, a short run"
scripts/fuzz.sh 10

# The Windows program: both cross builds, the executable's check, and the run
# under Wine.
bash scripts/test-win32.sh

echo "== GCC, Debug, AddressSanitizer and UBSan"
build asan
ctest --preset asan -j"$jobs"

echo "== The demo, with scripted answers, in its own build folder"
bash tests/demo_scripted.sh
