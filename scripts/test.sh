#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test: a Release
# build with GCC (tests run), a Clang build, the Windows program (checked and
# run under Wine), a build with AddressSanitizer and UBSan (tests run), and the
# demo with scripted answers. Warnings are errors in every build here.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "The whole test takes about 6 minutes on a fresh machine (installing packages included;"
echo "a slow mirror adds to it), about 2 minutes afterwards. The fast part alone: see the README."

scripts/install-deps.sh

jobs=$(nproc)
strict=(-G Ninja -DVK_WERROR=ON -DVK_TESTS=ON)

echo "== GCC, Release"
cmake -S . -B build "${strict[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

# A second compiler guards the code; its build is not run.
echo "== Clang"
cmake -S . -B build-clang "${strict[@]}" -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build-clang -j"$jobs"

# The Windows program: both cross builds, the executable's check, and the run
# under Wine.
bash scripts/test-win32.sh

echo "== GCC, Debug, AddressSanitizer and UBSan"
cmake -S . -B build-asan "${strict[@]}" -DCMAKE_BUILD_TYPE=Debug -DVK_SANITIZE=ON >/dev/null
ninja -C build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs")

echo "== The demo, with scripted answers"
VK_BUILD_DIR=build bash tests/demo_scripted.sh
