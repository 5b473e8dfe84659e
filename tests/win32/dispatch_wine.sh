#!/usr/bin/env bash
# Late calls by dispatch identifier under Wine: registers dispatch_server.dll
# in a prefix of its own and runs dispatch_check.exe.
#
# Usage: dispatch_wine.sh [BUILD_DIR]   (default: build-win64)
# Prints "dispatch: N passed, M failed" last; exits non-zero on any failure.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build-win64}" && pwd)
. "$here/wine_env.sh"
server_dll=$build/tests/win32/dispatch_server.dll
check_exe=$build/tests/win32/dispatch_check.exe
class='{5DEA9058-721E-4DA9-95A2-B95F66BE3298}'

fail() {
  echo "dispatch: $1"
  echo "dispatch: 0 passed, 1 failed"
  exit 1
}
for f in "$server_dll" "$check_exe" "$wine" "$wineserver"; do
  [[ -e $f ]] || fail "missing $f"
done

work=$(mktemp -d /tmp/vorlankur-dispatch.XXXXXX)
cleanup() {
  WINEPREFIX=$work/prefix "$wineserver" -k 2>/dev/null
  [[ -n ${VK_KEEP_WINE_WORK:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

wine_home "$work"
wine_boot "$work/prefix" "$work/wineboot.out" || fail "wineboot failed"
mkdir -p "$WINEPREFIX/drive_c/vk"
cp "$server_dll" "$check_exe" "$WINEPREFIX/drive_c/vk/"
# Machine-wide: Wine 8 looks classes up in HKLM\Software\Classes only, where
# Windows also finds those registered for the current user in HKCU.
key="HKLM\\Software\\Classes\\CLSID\\$class\\InprocServer32"
{ "$wine" reg add "$key" /ve /d 'C:\vk\dispatch_server.dll' /f &&
  "$wine" reg add "$key" /v ThreadingModel /d Apartment /f; } >/dev/null 2>&1 ||
  fail "cannot register the server"
"$wine" 'C:\vk\dispatch_check.exe' 2>/dev/null | tr -d '\r'
