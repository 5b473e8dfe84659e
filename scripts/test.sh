#!/usr/bin/env bash
# Installs what is needed, builds everything (plain, then with AddressSanitizer
# and UBSan) and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

# The Windows program: both cross builds, the executable's check, and the run
# under Wine.
bash scripts/test-win32.sh

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVK_SANITIZE=ON >/dev/null
ninja -C build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs")
