#!/usr/bin/env bash
# Starts the setup tool in the terminal on a fresh demo machine:
#   demo/machine      64-bit Windows, Chrome 104.0.5112.81, MSCOMCTL.OCX,
#                     MSCOMCTL.DEP and MSCOMCTL.SRG missing from SysWOW64
#   D:\Kurulum        the setup package, with the setup tool in it (the tool
#                     takes its folder as the installer folder)
# Builds the program first if needed (in ./build, or $VK_BUILD_DIR). Arguments
# are passed to make-machine.sh (for example --32bit, or --present "..." to
# choose other components).
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo"

build="${VK_BUILD_DIR:-build}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja
fi
ninja -C "$build" -j2 VorlanKur

machine="$repo/demo/machine"
rm -rf "$machine"
bash scripts/make-machine.sh "$machine" --drive d --chrome 104.0.5112.81 \
  --present "msvbvm60.dll MSSTDFMT.DLL shell32.dll wmp.dll" "$@"

setup="$machine/drive_d/Kurulum"
mkdir -p "$setup/Vorlan Bileşenleri" "$setup/Vorlan-Grenvilta"
cp "$build/app/VorlanKur" "$setup/VorlanKur.exe"

# The application programs: stand-ins that say they ran.
for program in Vorlan.exe VorlanUpdate.exe; do
  cat >"$setup/$program" <<EOF
#!/bin/sh
echo "$program (demo stand-in) started: \$VORLANKUR_COMMAND_LINE" >&2
EOF
  chmod 755 "$setup/$program"
done
printf 'PK demo workbook\n' >"$setup/DATA.xlsx"

for component in msvbvm60.dll MSSTDFMT.DLL shell32.dll MSCOMCTL.OCX MSCOMCTL.DEP MSCOMCTL.SRG wmp.dll; do
  printf 'demo copy of %s\n' "$component" >"$setup/Vorlan Bileşenleri/$component"
done
printf '@echo off\r\nrem Chrome connection settings (demo)\r\n' >"$setup/Vorlan-Grenvilta/install.cmd"

echo "Demo machine: $machine (setup package at D:\\Kurulum)"
echo "Programs the setup starts are logged in $machine/logs/."
export VORLANKUR_MACHINE="$machine"
exec "$setup/VorlanKur.exe"
