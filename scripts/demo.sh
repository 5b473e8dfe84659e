#!/usr/bin/env bash
# Starts the setup tool in the terminal on a fresh demo machine:
#   demo/machine      64-bit Windows, Chrome 142.0.7444.176, MSCOMCTL.OCX,
#                     MSCOMCTL.DEP and MSCOMCTL.SRG missing from SysWOW64
#   D:\Kurulum        the setup package, with the setup tool in it (the tool
#                     takes its folder as the installer folder)
# Installs the Debian packages it needs when they are missing, and builds the
# program first if needed (in ./build-demo, or $VK_BUILD_DIR). Arguments are passed
# to make-machine.sh (for example --32bit, or --present "..." to choose other
# components). The setup tool reads its answers from standard input, so
# `printf 'Devam\n...' | scripts/demo.sh` runs it without a person. Exits with
# the setup tool's own status.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo"

bash scripts/install-deps.sh --demo

build="${VK_BUILD_DIR:-build-demo}"
if [ ! -f "$build/build.ninja" ]; then
  # The program alone: the tests need more packages than the demo does.
  cmake -S . -B "$build" -G Ninja -DVK_TESTS=OFF
fi
ninja -C "$build" -j2 VorlanKur

machine="$repo/demo/machine"
rm -rf "$machine"
bash scripts/make-machine.sh "$machine" --drive d --chrome 142.0.7444.176 \
  --present "msvbvm60.dll MSSTDFMT.DLL shell32.dll wmp.dll" "$@"

setup="$machine/drive_d/Kurulum"
mkdir -p "$setup/Vorlan Bileşenleri" "$setup/Vorlan-Grenvilta"
cp "$build/app/VorlanKur" "$setup/VorlanKur.exe"

# The application programs: stand-ins that log that they ran.
for program in Vorlan.exe VorlanUpdate.exe; do
  cat >"$setup/$program" <<EOF
#!/bin/sh
mkdir -p "\$VORLANKUR_MACHINE/logs"
echo "$program (demo stand-in) started: \$VORLANKUR_COMMAND_LINE" >>"\$VORLANKUR_MACHINE/logs/$program.log"
EOF
  chmod 755 "$setup/$program"
done
printf 'PK demo workbook\n' >"$setup/DATA.xlsx"

for component in msvbvm60.dll MSSTDFMT.DLL shell32.dll MSCOMCTL.OCX MSCOMCTL.DEP MSCOMCTL.SRG wmp.dll; do
  printf 'demo copy of %s\n' "$component" >"$setup/Vorlan Bileşenleri/$component"
done
printf '@echo off\r\nrem Chrome connection settings (demo)\r\n' >"$setup/Vorlan-Grenvilta/install.cmd"

# The driver servers and the browser test page, on a loopback address of
# their own at port 443, reached through the machine's hosts file; the
# certificate authority is made here and trusted by the machine only. As the
# real servers do, the version file names the newest driver of Chrome's
# build, and its archive holds one folder.
driver=142.0.7444.175
server_dir="$repo/demo/server"
rm -rf "$server_dir"
www="$server_dir/www"
mkdir -p "$www/chrome-for-testing" "$www/chrome-for-testing-public/$driver/win32" "$machine/logs"
(
  cd "$server_dir"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=VorlanKur Demo CA" \
    -keyout ca.key -out ca.pem 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=chromedriver.storage.googleapis.com" \
    -keyout server.key -out server.csr 2>/dev/null
  printf 'subjectAltName=DNS:%s,DNS:%s,DNS:%s,DNS:%s\n' chromedriver.storage.googleapis.com \
    googlechromelabs.github.io storage.googleapis.com www.google.com >san.ext
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile san.ext -out server.pem 2>/dev/null
  printf '%s\n' "$driver" >"$www/chrome-for-testing/LATEST_RELEASE_142.0.7444"
  mkdir -p driver/chromedriver-win32
  printf 'chromedriver %s (demo build)\n' "$driver" >driver/chromedriver-win32/chromedriver.exe
  printf 'Demo licence text for the driver archive.\n' >driver/chromedriver-win32/LICENSE.chromedriver
  printf 'Demo notices.\n' >driver/chromedriver-win32/THIRD_PARTY_NOTICES.chromedriver
  (cd driver && bsdtar --format zip -cf "$www/chrome-for-testing-public/$driver/win32/chromedriver-win32.zip" \
    chromedriver-win32)
  printf '<!doctype html><title>Vorlan demo</title><p>Chrome bağlantısı çalışıyor.</p>\n' \
    >www/index.html
)
cp "$server_dir/ca.pem" "$machine/ca-certificates.pem"
address=127.0.0.2
hosts="$machine/drive_c/windows/system32/drivers/etc/hosts"
for host in chromedriver.storage.googleapis.com googlechromelabs.github.io storage.googleapis.com \
  www.google.com; do
  printf '%s %s\r\n' "$address" "$host" >>"$hosts"
done

# The browser-automation library counts as installed where chromedriver is.
if command -v chromedriver >/dev/null && command -v chromium >/dev/null; then
  for clsid in 0277FC34-FD1B-4616-BB19-5D556733E8C9 0277FC34-FD1B-4616-BB19-E3CCFFAB4234; do
    printf '\n[Software\\\\Classes\\\\CLSID\\\\{%s}] 1700000000\n@="Browser automation"\n' \
      "$clsid" >>"$machine/system.reg"
  done
else
  echo "No chromedriver/chromium on this host: the browser test will report it."
fi

/usr/bin/python3 scripts/demo-server.py "$address" "$server_dir/www" "$server_dir/server.pem" \
  "$server_dir/server.key" "$machine/logs/server.log" 2>"$server_dir/server.err" &
server_pid=$!
# The server ends with the demo; its status (killed) is not the demo's.
trap 'kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true' EXIT
sleep 0.5
if ! kill -0 "$server_pid" 2>/dev/null; then
  echo "The demo's HTTPS server could not start on $address:443 (listening on port 443 needs" \
    "root): the download will fail. See $server_dir/server.err."
fi

echo "Demo machine: $machine (setup package at D:\\Kurulum)"
echo "Programs the setup starts, and the server's requests, are logged in $machine/logs/."
echo "After the run, look at the desktop: $machine/drive_c/users/user/Desktop"
export VORLANKUR_MACHINE="$machine"
status=0
"$setup/VorlanKur.exe" || status=$?
exit "$status"
