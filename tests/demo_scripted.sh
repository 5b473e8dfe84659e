#!/usr/bin/env bash
# The README's demo, run without a person: scripts/demo.sh with the answers a
# person would type. It must end with status 0, the application laid out on
# the demo machine's desktop, and the browser test passed.
#
# Usage: tests/demo_scripted.sh   (VK_BUILD_DIR picks the build, as for the demo)
# Prints "demo: N passed, M failed" last; exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

passed=0
failed=0
check() { # what command...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: demo: $what"
  fi
}

# Devam; Yes to the connection settings; the registration's start box, Yes
# to MSCOMCTL.OCX, its closing box; the browser test's box; Kapat.
answers=$'Devam\nEvet\nTamam\nEvet\nTamam\nTamam\nKapat\n'
transcript=$(mktemp)
trap 'rm -f "$transcript"' EXIT
printf '%s' "$answers" | timeout 300 bash scripts/demo.sh >"$transcript" 2>&1
status=$?

desktop=demo/machine/drive_c/users/user/Desktop
check "exit status $status, want 0" test "$status" = 0
for d in Vorlan Vorlan/Firmalarım Vorlan/Data Vorlan/prgDosyaları Vorlan/Raporlar Vorlan/Yedek; do
  check "folder Desktop/$d" test -d "$desktop/$d"
done
for f in Vorlan/Vorlan.exe Vorlan/VorlanUpdate.exe Vorlan/Data/DATA.xlsx \
  Vorlan/prgDosyaları/MSCOMCTL.OCX Vorlan/prgDosyaları/ChromeDriverVersiyon.txt Vorlan.lnk; do
  check "file Desktop/$f" test -f "$desktop/$f"
done
check "the download text with the archive's size" grep -qE \
  '^Chrome sürücüsü indiriliyor \.\.\. ([0-9,]+ / )?[0-9,]+ (bayt|KB)( \(%[0-9]+\))?, [0-9]+ sn  \[ Kurulumdan Çık \]$' \
  "$transcript"
check "the browser test passed" grep -qF "Chrome bağlantısı test edildi." "$transcript"
check "no failed step" grep -qxF "Kurulum işlemi tamamlandı !" "$transcript"
check "the driver was unpacked" test -f demo/machine/drive_d/Kurulum/Vorlan-Grenvilta/chromedriver.exe
check "the version record" grep -qF "[142]" "$desktop/Vorlan/prgDosyaları/ChromeDriverVersiyon.txt"
check "the version file, then the archive" grep -qzP \
  'googlechromelabs.github.io "GET /chrome-for-testing/LATEST_RELEASE_142.0.7444 [^\n]*\nstorage.googleapis.com "GET /chrome-for-testing-public/142.0.7444.175/win32/chromedriver-win32.zip' \
  demo/machine/logs/server.log

if ((failed)); then
  echo "--- the demo's transcript"
  cat "$transcript"
fi
echo "demo: $passed passed, $failed failed"
((failed == 0))
