#!/usr/bin/env bash
# scripts/make-machine.sh: the layout it makes, its registry files, the
# recording stand-ins, and that running it again changes nothing.
set -uo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
source_dir="${VK_SOURCE_DIR:-$(cd "$here/../.." && pwd)}"
make_machine="$source_dir/scripts/make-machine.sh"

work="$(mktemp -d "${TMPDIR:-/tmp}/vk-e2e-machine.XXXXXX")"
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
listing() { (cd "$1" && find . -printf '%p|%y|%s|%m|%l\n' | LC_ALL=C sort); }
contents() { (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum); }

# --- 64-bit layout ----------------------------------------------------------------

m="$work/m64"
bash "$make_machine" "$m" --drive d --drive E --user ayse --chrome 104.0.5112.81 \
  --present "msvbvm60.dll, wmp.dll" || fail "64-bit: make-machine.sh failed"

[ "$(readlink "$m/dosdevices/c:")" = "../drive_c" ] || fail "c: does not link to ../drive_c"
[ "$(readlink "$m/dosdevices/d:")" = "../drive_d" ] || fail "d: does not link to ../drive_d"
[ "$(readlink "$m/dosdevices/e:")" = "../drive_e" ] || fail "e: does not link to ../drive_e"
for d in drive_c/windows/system32 drive_c/windows/syswow64 drive_c/users/ayse/Desktop drive_d drive_e; do
  [ -d "$m/$d" ] || fail "64-bit: $d missing"
done
[ -f "$m/drive_c/windows/system32/drivers/etc/hosts" ] || fail "64-bit: hosts missing"
[ -f "$m/drive_c/windows/syswow64/msvbvm60.dll" ] || fail "64-bit: msvbvm60.dll not placed"
[ -f "$m/drive_c/windows/syswow64/wmp.dll" ] || fail "64-bit: wmp.dll not placed"
for c in MSSTDFMT.DLL shell32.dll MSCOMCTL.OCX MSCOMCTL.DEP MSCOMCTL.SRG; do
  [ ! -e "$m/drive_c/windows/syswow64/$c" ] || fail "64-bit: $c should be missing"
done
grep -qxF '[Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders] 1700000000' "$m/user.reg" ||
  fail "user.reg: no Shell Folders key"
grep -qxF '"Desktop"="C:\\users\\ayse\\Desktop"' "$m/user.reg" || fail "user.reg: desktop value"
grep -qxF '[Software\\Google\\Chrome\\BLBeacon] 1700000000' "$m/user.reg" || fail "user.reg: no BLBeacon key"
grep -qxF '"version"="104.0.5112.81"' "$m/user.reg" || fail "user.reg: Chrome version"
head -1 "$m/user.reg" | grep -qx 'WINE REGISTRY Version 2' || fail "user.reg: header"
head -1 "$m/system.reg" | grep -qx 'WINE REGISTRY Version 2' || fail "system.reg: header"
grep -qx '#arch=win64' "$m/system.reg" || fail "system.reg: arch"

# Running it again with the same options leaves everything as it was.
before="$(listing "$m")"
sums="$(contents "$m")"
bash "$make_machine" "$m" --drive d --drive E --user ayse --chrome 104.0.5112.81 \
  --present "msvbvm60.dll, wmp.dll" || fail "second run failed"
[ "$(listing "$m")" = "$before" ] || fail "second run changed the layout"
[ "$(contents "$m")" = "$sums" ] || fail "second run changed file contents"

# Other options converge on the new machine: components follow --present,
# Chrome leaves the registry when not asked for.
bash "$make_machine" "$m" --drive d --user ayse --present "MSCOMCTL.OCX" || fail "third run failed"
[ -f "$m/drive_c/windows/syswow64/MSCOMCTL.OCX" ] || fail "third run: MSCOMCTL.OCX not placed"
[ ! -e "$m/drive_c/windows/syswow64/wmp.dll" ] || fail "third run: wmp.dll still present"
! grep -q BLBeacon "$m/user.reg" || fail "third run: Chrome still in the registry"

# --- The recording stand-ins -----------------------------------------------------

for dir in system32 syswow64; do
  for name in cmd.exe regsvr32.exe; do
    [ -x "$m/drive_c/windows/$dir/$name" ] || fail "$dir/$name is not an executable stand-in"
  done
done
(cd / && VORLANKUR_COMMAND_LINE='cmd.exe /c D:\Yeni Klasör\Vorlan-Grenvilta\install.cmd' \
  "$m/dosdevices/c:/windows/syswow64/cmd.exe" /c 'D:\Yeni' 'Klasör\Vorlan-Grenvilta\install.cmd')
VORLANKUR_COMMAND_LINE='regsvr32 /s C:\Windows\SysWOW64\MSCOMCTL.OCX' \
  "$m/drive_c/windows/system32/regsvr32.exe" /s 'C:\Windows\SysWOW64\MSCOMCTL.OCX'
expected_cmd='> cmd.exe /c D:\Yeni Klasör\Vorlan-Grenvilta\install.cmd
/c
D:\Yeni
Klasör\Vorlan-Grenvilta\install.cmd
--'
[ "$(cat "$m/logs/cmd.exe.log" 2>/dev/null)" = "$expected_cmd" ] || {
  fail "cmd.exe log differs"
  diff <(echo "$expected_cmd") "$m/logs/cmd.exe.log" >&2
}
expected_reg='> regsvr32 /s C:\Windows\SysWOW64\MSCOMCTL.OCX
/s
C:\Windows\SysWOW64\MSCOMCTL.OCX
--'
[ "$(cat "$m/logs/regsvr32.exe.log" 2>/dev/null)" = "$expected_reg" ] || fail "regsvr32 log differs"

# A moved machine logs into its new place.
mv "$m" "$work/moved"
VORLANKUR_COMMAND_LINE='cmd.exe /c x' "$work/moved/drive_c/windows/system32/cmd.exe" /c x
[ "$(tail -4 "$work/moved/logs/cmd.exe.log")" = $'> cmd.exe /c x\n/c\nx\n--' ] ||
  fail "a moved machine does not log into its own folder"

# --- 32-bit layout --------------------------------------------------------------

m32="$work/m32"
bash "$make_machine" "$m32" --32bit --present "shell32.dll" || fail "32-bit: make-machine.sh failed"
[ ! -e "$m32/drive_c/windows/syswow64" ] || fail "32-bit: SysWOW64 exists"
[ -f "$m32/drive_c/windows/system32/shell32.dll" ] || fail "32-bit: shell32.dll not in System32"
[ -x "$m32/drive_c/windows/system32/cmd.exe" ] || fail "32-bit: cmd.exe stand-in missing"
[ ! -e "$m32/dosdevices/d:" ] || fail "32-bit: a drive D: nobody asked for"
grep -qx '#arch=win32' "$m32/user.reg" || fail "32-bit: arch"

# --- Bad options are refused -------------------------------------------------------

bash "$make_machine" "$work/bad" --present "notepad.exe" 2>/dev/null && fail "an unknown component was accepted"
bash "$make_machine" "$work/bad" --drive 12 2>/dev/null && fail "a bad drive letter was accepted"
bash "$make_machine" 2>/dev/null && fail "no folder was accepted"
[ ! -e "$work/bad" ] || fail "a refused call made its folder all the same"

if [ "$failures" -gt 0 ]; then
  echo "make_machine: $failures check(s) failed" >&2
  exit 1
fi
echo "make_machine: all checks passed"
