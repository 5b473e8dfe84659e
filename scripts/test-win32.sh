#!/usr/bin/env bash
# Builds both Windows flavours of VorlanKur with MinGW-w64 (warnings are
# errors), checks the 32-bit executable (and the 64-bit one) with pefile, and
# runs the end-to-end test of the 64-bit build and its late-call check under
# Wine.
# Prints "win32: N passed, M failed" last; exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

passed=0
failed=0
count() { # summary-line
  local p f
  p=$(sed -n 's/.*: \([0-9]*\) passed, \([0-9]*\) failed$/\1/p' <<<"$1")
  f=$(sed -n 's/.*: \([0-9]*\) passed, \([0-9]*\) failed$/\2/p' <<<"$1")
  passed=$((passed + ${p:-0}))
  failed=$((failed + ${f:-1}))
}

jobs=$(nproc)
((jobs > 2)) && jobs=2

build() { # preset folder
  echo "== building $1"
  mkdir -p "$2"
  if cmake --preset "$1" -DVK_WERROR=ON >"$2/configure.log" 2>&1; then
    if ninja -C "$2" -j"$jobs"; then
      passed=$((passed + 1))
      return 0
    fi
  else
    cat "$2/configure.log"
  fi
  echo "FAIL: the $1 build"
  failed=$((failed + 1))
  return 1
}

build win32 build-win32 && built32=1 || built32=0
if ((built32)); then
  # The same commit built again in a folder of its own gives the same bytes.
  echo "== a second build of VorlanKur.exe, for reproducibility"
  again=build-win32-again
  mkdir -p "$again"
  if cmake -S . -B "$again" -G Ninja --toolchain cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
    -DVK_WERROR=ON >"$again/again.log" 2>&1 && ninja -C "$again" -j"$jobs" VorlanKur >>"$again/again.log" 2>&1 &&
    cmp build-win32/app/VorlanKur.exe "$again/app/VorlanKur.exe"; then
    passed=$((passed + 1))
  else
    echo "FAIL: VorlanKur.exe is not the same when built again (see $again/again.log)"
    failed=$((failed + 1))
  fi
fi
build win64 build-win64 && built64=1 || built64=0

pe_python=/usr/bin/python3
if ((built32)); then
  echo "== checking build-win32/app/VorlanKur.exe"
  out=$("$pe_python" tests/win32/check_pe.py build-win32/app/VorlanKur.exe i386)
  echo "$out"
  count "$(tail -n1 <<<"$out")"
fi
if ((built64)); then
  echo "== checking build-win64/app/VorlanKur.exe"
  out=$("$pe_python" tests/win32/check_pe.py build-win64/app/VorlanKur.exe amd64)
  echo "$out"
  count "$(tail -n1 <<<"$out")"

  echo "== end-to-end under Wine"
  bash tests/win32/e2e_wine.sh build-win64 | tee build-win64/e2e.log
  count "$(tail -n1 build-win64/e2e.log)"

  echo "== the platform contract under Wine"
  bash tests/win32/contract_wine.sh build-win64 | tee build-win64/contract.log
  count "$(tail -n1 build-win64/contract.log)"

  echo "== calls by dispatch identifier under Wine"
  bash tests/win32/dispatch_wine.sh build-win64 | tee build-win64/dispatch.log
  count "$(tail -n1 build-win64/dispatch.log)"
fi

echo "win32: $passed passed, $failed failed"
((failed == 0))
