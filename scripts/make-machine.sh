#!/usr/bin/env bash
# Lays out a simulated Windows machine in a folder, the way Wine keeps a
# prefix: drive letters as links in dosdevices/, drive_c with the Windows
# folders and the user's desktop, user.reg and system.reg in Wine's text
# format. Running it again on the same folder with the same options gives the
# same machine.
#
#   make-machine.sh <folder> [--32bit] [--user NAME] [--chrome VERSION]
#                   [--present "name name ..."] [--drive LETTER]...
#
#   --32bit          no C:\Windows\SysWOW64: System32 is the system folder
#                    (--64bit, the default, keeps SysWOW64)
#   --user NAME      the login name whose desktop is used (default: user)
#   --chrome VER     HKCU\Software\Google\Chrome\BLBeacon "version"=VER
#   --present NAMES  these of the seven components lie in the system folder
#                    (blank- or comma-separated); the others are missing
#   --drive LETTER   adds drive_<letter> and its link (repeatable)
#
# cmd.exe and regsvr32.exe in System32 (and SysWOW64) are stand-ins that log
# the command line they were started with ($VORLANKUR_COMMAND_LINE) and
# their arguments to <folder>/logs/<name>.log:
#   > <command line>
#   <argument 1>
#   ...
#   --
set -euo pipefail

usage() {
  sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

components=(msvbvm60.dll MSSTDFMT.DLL shell32.dll MSCOMCTL.OCX MSCOMCTL.DEP MSCOMCTL.SRG wmp.dll)

root=""
bits=64
user="user"
chrome=""
present=""
drives=()

while [ $# -gt 0 ]; do
  case "$1" in
  --32bit) bits=32 ;;
  --64bit) bits=64 ;;
  --user) user="${2:?--user needs a name}"; shift ;;
  --chrome) chrome="${2:?--chrome needs a version}"; shift ;;
  --present) present="${2?--present needs a list}"; shift ;;
  --drive) drives+=("${2:?--drive needs a letter}"); shift ;;
  -h | --help) usage ;;
  -*) echo "make-machine.sh: unknown option $1" >&2; usage ;;
  *)
    [ -z "$root" ] || { echo "make-machine.sh: one folder only" >&2; usage; }
    root="$1"
    ;;
  esac
  shift
done
[ -n "$root" ] || usage
case "$user" in */* | . | .. | "") echo "make-machine.sh: bad user name '$user'" >&2; exit 2 ;; esac

# Everything is checked before anything is made.
for name in ${present//,/ }; do
  known=0
  for c in "${components[@]}"; do [ "${c,,}" = "${name,,}" ] && known=1; done
  [ "$known" = 1 ] || { echo "make-machine.sh: '$name' is none of the seven components" >&2; exit 2; }
done
for d in "${drives[@]+"${drives[@]}"}"; do
  case "$d" in [a-zA-Z]) ;; *) echo "make-machine.sh: bad drive letter '$d'" >&2; exit 2 ;; esac
done

mkdir -p "$root"
root="$(cd -P "$root" && pwd)"

# Drive letters: dosdevices/<x>: -> ../drive_<x>.
link_drive() {
  local letter
  letter="${1,,}"
  mkdir -p "$root/drive_$letter" "$root/dosdevices"
  ln -sfn "../drive_$letter" "$root/dosdevices/$letter:"
}
link_drive c
for d in "${drives[@]+"${drives[@]}"}"; do link_drive "$d"; done

win="$root/drive_c/windows"
mkdir -p "$win/system32/drivers/etc" "$root/drive_c/users/$user/Desktop" "$root/logs"
if [ "$bits" = 64 ]; then
  mkdir -p "$win/syswow64"
  sysdir="$win/syswow64"
else
  # A 32-bit Windows has no SysWOW64; an earlier 64-bit layout loses it.
  rm -rf "$win/syswow64"
  sysdir="$win/system32"
fi

[ -f "$win/system32/drivers/etc/hosts" ] ||
  printf '127.0.0.1 localhost\r\n::1 localhost\r\n' >"$win/system32/drivers/etc/hosts"

# The components: the present ones as small files in the system folder, the
# others removed from it (matched without regard to case, as Windows does).
is_present() {
  local want="$1" name
  for name in ${present//,/ }; do
    [ "${name,,}" = "${want,,}" ] && return 0
  done
  return 1
}
for c in "${components[@]}"; do
  for f in "$sysdir"/*; do
    [ -e "$f" ] || continue
    b="$(basename "$f")"
    [ "${b,,}" = "${c,,}" ] && [ "$b" != "$c" ] && rm -rf "$f"
  done
  if is_present "$c"; then
    [ -f "$sysdir/$c" ] || printf 'stand-in for %s\n' "$c" >"$sysdir/$c"
  else
    rm -rf "${sysdir:?}/$c"
  fi
done

# cmd.exe and regsvr32.exe: recorders. The machine's root is found from the
# script's own place, so the log follows the machine if it is moved.
recorder() {
  local name="$1"
  cat <<EOF
#!/bin/sh
# Stand-in for $name: records how it was started.
root="\$(cd -P "\$(dirname "\$0")/../../.." && pwd)"
log="\$root/logs/$name.log"
mkdir -p "\$root/logs"
{
  printf '> %s\\n' "\$VORLANKUR_COMMAND_LINE"
  for a in "\$@"; do printf '%s\\n' "\$a"; done
  printf -- '--\\n'
} >>"\$log"
exit 0
EOF
}
folders=("$win/system32")
[ "$bits" = 64 ] && folders+=("$win/syswow64")
for dir in "${folders[@]}"; do
  for name in cmd.exe regsvr32.exe; do
    recorder "$name" >"$dir/$name"
    chmod 755 "$dir/$name"
  done
done

# The registry, in Wine's text format. Backslashes in key names and string
# data are doubled.
reg_escape() { printf '%s' "$1" | sed -e 's/\\/\\\\/g' -e 's/"/\\"/g'; }
arch=$([ "$bits" = 64 ] && echo win64 || echo win32)
stamp=1700000000
desktop="C:\\users\\$user\\Desktop"

{
  printf 'WINE REGISTRY Version 2\n'
  printf ';; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n'
  printf '#arch=%s\n' "$arch"
  printf '\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] %s\n' "$stamp"
  printf '"Desktop"="%s"\n' "$(reg_escape "$desktop")"
  printf '"Personal"="%s"\n' "$(reg_escape "C:\\users\\$user\\Documents")"
  printf '\n[Volatile Environment] %s\n' "$stamp"
  printf '"USERNAME"="%s"\n' "$(reg_escape "$user")"
  printf '"USERPROFILE"="%s"\n' "$(reg_escape "C:\\users\\$user")"
  if [ -n "$chrome" ]; then
    printf '\n[Software\\\\Google\\\\Chrome\\\\BLBeacon] %s\n' "$stamp"
    printf '"version"="%s"\n' "$(reg_escape "$chrome")"
  fi
} >"$root/user.reg"

{
  printf 'WINE REGISTRY Version 2\n'
  printf ';; All keys relative to \\\\Machine\n\n'
  printf '#arch=%s\n' "$arch"
  printf '\n[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\CodePage] %s\n' "$stamp"
  printf '"ACP"="1254"\n'
  printf '"OEMCP"="857"\n'
  printf '\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] %s\n' "$stamp"
  printf '"ProductName"="Microsoft Windows 10 Pro"\n'
  printf '"SystemRoot"="C:\\\\windows"\n'
} >"$root/system.reg"
