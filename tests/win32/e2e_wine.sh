#!/usr/bin/env bash
# End-to-end run of the 64-bit VorlanKur.exe under Wine, in an X server of its
# own, driven as a person would drive it: the window's texts are read, the
# buttons pressed and the message boxes answered by vkdrive.exe, a small
# Windows program of this folder.
#
# One Wine prefix is made per run and copied for each case. The ChromeDriver
# download server is a local HTTPS server with a certificate authority made
# here and added to the prefix's trusted roots. Wine resolves host names with
# the host's resolver, not the prefix's hosts file, so the prefix reaches the
# server through its proxy setting (the server answers CONNECT itself); the
# hosts entry is written too, as on Windows.
#
# Usage: e2e_wine.sh [BUILD_DIR]   (default: build-win64; screenshots go there)
# Prints "wine-e2e: N passed, M failed" last; exits non-zero on any failure.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build-win64}" && pwd)
app_exe=$build/app/VorlanKur.exe
drive_exe=$build/tests/win32/vkdrive.exe
stand_in_exe=$build/tests/win32/vorlan_stand_in.exe
shots=$build/e2e
# shellcheck source=tests/win32/wine_env.sh
source "$here/wine_env.sh"

for f in "$app_exe" "$drive_exe" "$stand_in_exe" "$wine" "$wineserver"; do
  [[ -e $f ]] || { echo "wine-e2e: missing $f"; echo "wine-e2e: 0 passed, 1 failed"; exit 1; }
done
for t in Xvfb import lnkinfo openssl localedef python3; do
  command -v "$t" >/dev/null || { echo "wine-e2e: $t is not installed"; echo "wine-e2e: 0 passed, 1 failed"; exit 1; }
done
# Marlett draws the caption buttons; without it they show as "0 1 r".
[[ -e /usr/share/wine/fonts/marlett.ttf ]] ||
  { echo "wine-e2e: Wine's fonts (fonts-wine) are not installed"; echo "wine-e2e: 0 passed, 1 failed"; exit 1; }

work=$(mktemp -d /tmp/vorlankur-wine.XXXXXX)
mkdir -p "$shots"
passed=0
failed=0
pids=()
prefixes=()

cleanup() {
  for p in "${prefixes[@]}"; do WINEPREFIX=$p "$wineserver" -k 2>/dev/null; done
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  [[ -n ${VK_KEEP_WINE_WORK:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

ok() {
  passed=$((passed + 1))
  echo "  ok    $1"
}
bad() {
  failed=$((failed + 1))
  echo "  FAIL  $1"
}
expect_eq() { # what got want
  if [[ $2 == "$3" ]]; then ok "$1"; else bad "$1: got [$2], want [$3]"; fi
}
expect_true() { # what command...
  local what=$1
  shift
  if "$@"; then ok "$what"; else bad "$what"; fi
}
die() {
  bad "$1"
  echo "wine-e2e: $passed passed, $failed failed"
  exit 1
}

# --- The environment: a Turkish Windows on a display of its own. ----------
# Wine takes its code page and its language from the locale; a Turkish one is
# compiled here so that nothing of the host's configuration changes.
mkdir -p "$work/locale"
localedef -i tr_TR -f UTF-8 "$work/locale/tr_TR.UTF-8" >/dev/null 2>&1 ||
  [[ -d $work/locale/tr_TR.UTF-8 ]] || die "cannot compile the tr_TR.UTF-8 locale"
unset LC_ALL LC_CTYPE LC_MESSAGES
export LOCPATH=$work/locale
export LANG=tr_TR.UTF-8 2>/dev/null
wine_home "$work"

start_xvfb "$work" || die "Xvfb did not start"
pids+=("$xvfb_pid")

# --- The download server and its certificate authority. -------------------
host=chromedriver.storage.googleapis.com
archive_path=/104.0.5112.79/chromedriver_win32.zip
# Chrome past the table: the newer server's version file, then its archive.
labs_host=googlechromelabs.github.io
cft_host=storage.googleapis.com
version_path=/chrome-for-testing/LATEST_RELEASE_131.0.6778
cft_path=/chrome-for-testing-public/131.0.6778.85/win32/chromedriver-win32.zip
pki=$work/pki
mkdir -p "$pki"
(
  cd "$pki" &&
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
      -subj '/CN=VorlanKur Test CA' -addext 'basicConstraints=critical,CA:TRUE' \
      -addext 'keyUsage=critical,keyCertSign,cRLSign' &&
    printf 'subjectAltName=DNS:%s,DNS:%s,DNS:%s\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n' "$host" "$labs_host" "$cft_host" >server.ext &&
    openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=$host" &&
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem \
      -days 2 -extfile server.ext &&
    openssl x509 -in ca.pem -outform der -out ca.der &&
    # A certificate nobody vouches for, for the case where the check must refuse.
    openssl req -x509 -newkey rsa:2048 -nodes -keyout rogue.key -out rogue.pem -days 2 \
      -subj "/CN=$host" -addext "subjectAltName=DNS:$host"
) >/dev/null 2>&1 || die "cannot make the test certificates"

python3 - "$work/driver.zip" "$work/driver-cft.zip" <<'PY' || die "cannot make the driver archives"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("chromedriver.exe", "MZ stand-in for the driver\n")
    z.writestr("LICENSE.chromedriver", "licence text\n")
with zipfile.ZipFile(sys.argv[2], "w") as z:
    z.writestr("chromedriver-win32/chromedriver.exe", "MZ stand-in for the newer driver\n")
    z.writestr("chromedriver-win32/LICENSE.chromedriver", "licence text\n")
PY
printf '131.0.6778.85\r\n' >"$work/version.txt"

start_server() { # name cert key [more arguments] -> port in $work/<name>.port
  python3 "$here/https_server.py" --cert "$2" --key "$3" "${@:4}" \
    --serve "$archive_path=$work/driver.zip" \
    --serve "$version_path=$work/version.txt" --serve "$cft_path=$work/driver-cft.zip" \
    --log "$work/$1.log" --proxy-port 0 --ready "$work/$1.port" \
    >"$work/$1.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [[ -s $work/$1.port ]] && break; sleep 0.1; done
  [[ -s $work/$1.port ]] || die "the $1 server did not start"
  touch "$work/$1.log"
}
start_server server "$pki/server.pem" "$pki/server.key"
start_server rogue "$pki/rogue.pem" "$pki/rogue.key"
# A slow line: the archive (1 MB) comes 1 KB every tenth of a second.
head -c 1048576 /dev/zero >"$work/big.zip"
start_server slow "$pki/server.pem" "$pki/server.key" --drip "$archive_path=$work/big.zip:1024"
server_port=$(cat "$work/server.port")
rogue_port=$(cat "$work/rogue.port")
slow_port=$(cat "$work/slow.port")

# --- The base prefix, made once. -------------------------------------------
base=$work/base
prefixes+=("$base")
echo "Making the Wine prefix..."
wine_boot "$base" "$work/wineboot.out" || die "wineboot failed"
# Wine 8 as Debian builds it does not load the fonts of fonts-wine from its
# data folder; installed into the prefix's Fonts folder they are used, and
# Marlett draws the caption buttons as Windows does.
cp /usr/share/wine/fonts/*.ttf "$base/drive_c/windows/Fonts/" || die "cannot install Wine's fonts"
# The user's shell folders must not lead out of the prefix.
for link in "$base"/drive_c/users/*/*; do
  if [[ -L $link ]]; then rm "$link" && mkdir "$link"; fi
done
reg() { "$wine" reg add "$@" /f >/dev/null 2>&1; }
reg 'HKCU\Software\Wine\X11 Driver' /v Managed /d N
reg 'HKCU\Software\Google\Chrome\BLBeacon' /v version /d 104.0.5112.81
inet='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
reg "$inet" /v ProxyEnable /t REG_DWORD /d 1
reg "$inet" /v ProxyServer /d "127.0.0.1:$server_port"
printf '127.0.0.1 %s\r\n' "$host" >>"$base/drive_c/windows/system32/drivers/etc/hosts"
mkdir -p "$base/drive_c/vk"
cp "$drive_exe" "$base/drive_c/vk/vkdrive.exe"
cp "$pki/ca.der" "$base/drive_c/vk/ca.der"
"$wine" 'C:\vk\vkdrive.exe' addroot 'C:\vk\ca.der' >/dev/null 2>&1 || die "cannot trust the test authority"
"$wineserver" -w
user_dir=$(find "$base/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n1)
user=$(basename "$user_dir")

components=(msvbvm60.dll MSSTDFMT.DLL shell32.dll MSCOMCTL.OCX MSCOMCTL.DEP MSCOMCTL.SRG wmp.dll)
title_arg='Vorlan Kurulum i\u015flemlerine ho\u015fgeldiniz.'
missing_headline="Vorlan çalışabilmek için bazı Windows bileşenlerine ihtiyaç duyar. Sisteminizde mevcut olmayan bileşenler aşağıya listelendi."
missing_advice="Bu dosyaları sistem klasörüne ekleyebilmesi için , VorlanKur'un 'YÖNETİCİ' yetkisiyle başlatılmış olması gerekir. Bunu yapmadıysanız DEVAM tuşuna kliklemeden kurulumdan çıkınız."

# Control identifiers: 100 + the control's place in the window's table.
id_text12=104 id_text13=105 id_text14=106 id_text1_0=107 id_text1_7=114
id_command2=116 id_command1=117 id_command3=118

# --- One case: a copy of the base prefix with the setup package on D:. -----
new_case() { # name [setup folder on D:, default Kurulum]
  case_dir=$work/$1
  cp -a "$base" "$case_dir" || die "cannot copy the prefix"
  export WINEPREFIX=$case_dir
  prefixes+=("$case_dir")
  desktop=$case_dir/drive_c/users/$user/Desktop
  sys=$case_dir/drive_c/windows/syswow64
  pkg_win="D:\\${2:-Kurulum}"
  pkg=$case_dir/drive_d/${2:-Kurulum}
  mkdir -p "$pkg/Vorlan Bileşenleri" "$pkg/Vorlan-Grenvilta"
  ln -sfn ../drive_d "$case_dir/dosdevices/d:"
  for c in "${components[@]}"; do echo "component $c" >"$pkg/Vorlan Bileşenleri/$c"; done
  cp "$app_exe" "$pkg/VorlanKur.exe"
  cp "$stand_in_exe" "$pkg/Vorlan.exe"
  echo "the updater" >"$pkg/VorlanUpdate.exe"
  echo "the workbook" >"$pkg/DATA.xlsx"
  printf '@echo off\r\necho install.cmd ran> "%%~dp0ran.txt"\r\n' >"$pkg/Vorlan-Grenvilta/install.cmd"
  # One component the system folder already holds.
  mkdir -p "$sys"
  [[ -e $sys/wmp.dll ]] || echo "the system's own wmp.dll" >"$sys/wmp.dll"
}

# Starts the program and waits for its window.
start_app() {
  (
    cd "$case_dir" && "$wine" "$pkg_win\\VorlanKur.exe" >"$case_dir/app.out" 2>&1
    echo $? >"$case_dir/app.rc"
  ) &
  app_pid=$!
  pids+=("$app_pid")
  drive wait "$title_arg" 60 >/dev/null || die "the setup window did not appear"
}

drive() { "$wine" 'C:\vk\vkdrive.exe' "$@" 2>/dev/null; }

# The window's controls: id, visible, focused, class, text.
read_window() { drive texts "$title_arg" >"$case_dir/texts"; }
field() { awk -F'\t' -v id="$1" -v col="$2" '$1 == id { print $col }' "$case_dir/texts"; }

# Waits for a box, checks its text and answers it.
answer_box() { # what title answer want-text
  local out
  out=$(drive box "$2" "$3" 60)
  local text
  text=$(printf '%s\n' "$out" | awk -F'\t' '$1 == "text" { print $2 }')
  box_buttons=$(printf '%s\n' "$out" | awk -F'\t' '$1 == "buttons" { print $2 }')
  if [[ -z $4 ]]; then
    if [[ -n $text ]]; then ok "$1: box shown"; else bad "$1: no box ($out)"; fi
  else
    expect_eq "$1" "$text" "$4"
  fi
}

wait_exit() { # seconds -> $app_rc
  for _ in $(seq $(($1 * 10))); do [[ -s $case_dir/app.rc ]] && break; sleep 0.1; done
  app_rc=$(cat "$case_dir/app.rc" 2>/dev/null || echo "still running")
}

end_case() {
  WINEPREFIX=$case_dir "$wineserver" -k 2>/dev/null
  WINEPREFIX=$case_dir "$wineserver" -w 2>/dev/null
}

# Missing components as the window must list them, in component-list order.
missing=()
for c in "${components[@]}"; do
  [[ $c == wmp.dll ]] || missing+=("$c")
done
if [[ -e $base/drive_c/windows/syswow64/shell32.dll ]]; then
  # A prefix with 32-bit Wine: its system folder has shell32.dll of its own.
  missing=(msvbvm60.dll MSSTDFMT.DLL MSCOMCTL.OCX MSCOMCTL.DEP MSCOMCTL.SRG)
fi
join_crlf() {
  local out=
  for x in "$@"; do out+='\r\n'$x; done
  printf '%s' "$out"
}

# === Case 1: the whole run, answering Yes to the script and to the first
# registration, from a folder named as Windows names a second copy: cmd.exe
# must still run install.cmd itself. ==========================================
echo "Case: the whole installation run"
new_case full 'Kurulum (2)'
start_app
sleep 1
read_window
expect_eq "headline after the check" "$(field $id_text12 5)" "$missing_headline"
expect_eq "missing list after the check" "$(field $id_text13 5)" "$(join_crlf "${missing[@]}")"
expect_eq "instruction after the check" "$(field $id_text14 5)" "$missing_advice"
for i in 0 1 2 3 4 5 6; do
  want=${components[$i]}
  if [[ " ${missing[*]} " != *" $want "* ]]; then want=""; fi
  expect_eq "component slot $i" "$(field $((id_text1_0 + i)) 5)" "$want"
done
expect_eq "Text1(7) keeps its text" "$(field $id_text1_7 5)" "Text8"
expect_eq "the Text1 boxes are hidden" \
  "$(for i in 0 1 2 3 4 5 6 7; do field $((id_text1_0 + i)) 2; done | sort -u)" "0"
expect_eq "Devam shown, with the focus" "$(field $id_command1 2)$(field $id_command1 3)" "11"
expect_eq "Kurulumdan Çık shown" "$(field $id_command2 2)$(field $id_command2 5)" "1Kurulumdan Çık"
expect_eq "Kapat hidden" "$(field $id_command3 2)" "0"
# Geometry: twips of the control table at 15 twips a pixel (Wine's 96 DPI),
# and the stacking order of the windowed controls, front to back.
px() { echo $((($1 * 96 + 720) / 1440)); }
table=(104:1320:360:4695:825 105:1320:1320:4695:1425 106:1320:2880:4695:1065
  116:3240:4440:1335:375 117:4920:4440:1215:375 118:4800:4440:1335:375)
for k in 0 1 2 3 4 5 6 7; do table+=($((id_text1_0 + k)):360:$((360 + 240 * k)):735:195); done
want_rects=$({
  printf 'client\t%s\t%s\n' "$(px 6360)" "$(px 4920)"
  for row in "${table[@]}"; do
    IFS=: read -r id l t w h <<<"$row"
    printf '%s\t%s\t%s\t%s\t%s\n' "$id" "$(px "$l")" "$(px "$t")" \
      $(($(px $((l + w))) - $(px "$l"))) $(($(px $((t + h))) - $(px "$t")))
  done
} | LC_ALL=C sort)
drive rects "$title_arg" >"$case_dir/rects"
expect_eq "client area and control bounds follow the table" "$(LC_ALL=C sort "$case_dir/rects")" \
  "$want_rects"
expect_eq "stacking order of the windowed controls" "$(cut -f1 "$case_dir/texts" | tr '\n' ' ')" \
  "106 105 104 114 113 112 111 110 118 109 108 107 116 117 "
import -window root "$shots/wine-after-check.png" 2>/dev/null
expect_true "screenshot after the check" test -s "$shots/wine-after-check.png"

drive click "$title_arg" Devam >/dev/null
answer_box "download fails at ADODB.Stream (Wine's gap), with its number" 'VorlanKur v1.0.0' ok \
  "Kurulum sırasında hata oluştu ! Hata No: -2147319779"
expect_eq "the download request reached the server through the tunnel" \
  "$(grep -c "^CONNECT $host:443 " "$work/server.log") $(grep -c "^GET $archive_path HTTP/1.1	host=$host\$" "$work/server.log")" "1 1"
answer_box "no archive: the missing-archive box" 'VorlanKur v1.0.0' ok \
  'Sürücü arşivi bulunamadı: D:\Kurulum (2)\Vorlan-Grenvilta\chromedriver_win32.zip'
answer_box "connection-settings question" 'VorlanKur v1.0.0' yes \
  "Chrome bağlantı ayarları şimdi yapılsın mı ? (EVET önerilir.)"
expect_eq "the question's buttons, No the default" "$box_buttons" "&Evet|&Hayır*"

# Registration: a start box and a question per library or control, in the
# listing's order; Yes to the first, No to the others.
offered=()
for _ in 1 2 3 4 5 6 7 8; do
  out=$(drive box VorlanKur ok 60)
  text=$(printf '%s\n' "$out" | awk -F'\t' '$1 == "text" { print $2 }')
  if [[ $text == "Registering işlemleri tamamlandı ..." ]]; then
    ok "registration's closing box"
    break
  fi
  expect_eq "registration's start box" "$text" "Registering işlemleri başlatılıyor ..."
  answer=no
  ((${#offered[@]} == 0)) && answer=yes
  out=$(drive box 'VorlanKur v1.0.0' "$answer" 60)
  question=$(printf '%s\n' "$out" | awk -F'\t' '$1 == "text" { print $2 }')
  name=${question% Register edilsin mi ? (EVET önerilir)}
  [[ $name != "$question" ]] || bad "registration question: [$question]"
  offered+=("$name")
done
want_offered=$(for c in "${missing[@]}"; do case ${c^^} in *DLL | *OCX) echo "$c" ;; esac; done | sort)
expect_eq "the libraries and controls offered for registration" \
  "$(printf '%s\n' "${offered[@]}" | sort)" "$want_offered"

answer_box "browser test: the automation library is not registered" 'VorlanKur v1.0.0' ok \
  "Chrome bağlantısı test edilemedi ! Hata No: 429"
sleep 2
read_window
expect_eq "final headline" "$(field $id_text12 5)" \
  "Kurulum işlemi tamamlandı, ancak bazı adımlar başarısız oldu !"
expect_eq "final detail names the failed steps" "$(field $id_text13 5)" \
  'Başarısız adımlar:\r\nSürücü indirme (Hata No: -2147319779)\r\nChrome bağlantı testi (Hata No: 429)'
expect_eq "final instruction" "$(field $id_text14 5)" \
  "Lütfen şimdi kur'u kapatın VorlanKur klasörü ve içeriğini silebilirsiniz. Vorlan uygulaması başlatılacak."
expect_eq "only Kapat is shown, with the focus" \
  "$(field $id_command1 2)$(field $id_command2 2)$(field $id_command3 2)$(field $id_command3 3)" "0011"
expect_eq "no message field has a scroll bar: each text fits" \
  "$(field $id_text12 7)$(field $id_text13 7)$(field $id_text14 7)" "000"
import -window root "$shots/wine-after-run.png" 2>/dev/null
expect_true "screenshot after the run" test -s "$shots/wine-after-run.png"

# What the run left on the machine.
vorlan=$desktop/Vorlan
for d in "" /Firmalarım /Data /prgDosyaları /Raporlar /Yedek; do
  expect_true "folder Desktop\\Vorlan${d//\//\\}" test -d "$vorlan$d"
done
for c in "${missing[@]}"; do
  expect_true "component $c in prgDosyaları" cmp -s "$pkg/Vorlan Bileşenleri/$c" "$vorlan/prgDosyaları/$c"
  expect_true "component $c in the system folder" cmp -s "$pkg/Vorlan Bileşenleri/$c" "$sys/$c"
done
expect_eq "present component not copied" "$(find "$vorlan/prgDosyaları" -maxdepth 1 -iname wmp.dll | wc -l)" "0"
expect_eq "the system's own wmp.dll untouched" "$(head -c 40 "$sys/wmp.dll" | tr -d '\0' | head -n1)" \
  "$(if [[ -e $base/drive_c/windows/syswow64/wmp.dll ]]; then head -c 40 "$base/drive_c/windows/syswow64/wmp.dll" | tr -d '\0' | head -n1; else echo "the system's own wmp.dll"; fi)"
expect_eq "version record" "$(od -An -c "$vorlan/prgDosyaları/ChromeDriverVersiyon.txt" | tr -s ' ')" \
  " [ 1 0 4 ] \r \n"
expect_true "Vorlan.exe copied" cmp -s "$pkg/Vorlan.exe" "$vorlan/Vorlan.exe"
expect_true "VorlanUpdate.exe copied" cmp -s "$pkg/VorlanUpdate.exe" "$vorlan/VorlanUpdate.exe"
expect_true "DATA.xlsx copied" cmp -s "$pkg/DATA.xlsx" "$vorlan/Data/DATA.xlsx"
lnk=$(lnkinfo "$desktop/Vorlan.lnk" 2>&1)
expect_eq "shortcut target" "$(printf '%s\n' "$lnk" | awk -F': ' '/Local path/ { print $2 }')" \
  "C:\\users\\$user\\Desktop\\Vorlan\\Vorlan.exe"
expect_eq "shortcut description" "$(printf '%s\n' "$lnk" | awk -F': ' '/Description/ { print $2 }')" "Vorlan"
for _ in $(seq 100); do [[ -e $pkg/Vorlan-Grenvilta/ran.txt ]] && break; sleep 0.1; done
expect_true "Wine's cmd.exe ran install.cmd in \"Kurulum (2)\"" test -e "$pkg/Vorlan-Grenvilta/ran.txt"
for _ in $(seq 100); do [[ -s $vorlan/started.txt ]] && break; sleep 0.1; done
expect_eq "Vorlan.exe was started, its path quoted" "$(cat "$vorlan/started.txt" 2>/dev/null)" \
  "\"C:\\users\\$user\\Desktop\\Vorlan\\Vorlan.exe\""
expect_eq "the archive was not fetched twice" "$(grep -c '^GET ' "$work/server.log")" "1"

drive click "$title_arg" Kapat >/dev/null
wait_exit 30
expect_eq "Kapat ends the program" "$app_rc" "0"
expect_true "the window is gone" drive gone "$title_arg" 5
end_case

# === Case 2: "Kurulumdan Çık" at once. ======================================
echo "Case: leaving at once"
new_case leave
requests_before=$(wc -l <"$work/server.log")
start_app
# The keyboard: tab order by tab index over what can take the focus.
focus_id() { drive texts "$title_arg" | awk -F'\t' '$3 == 1 { print $1 }'; }
order=$(focus_id)
for _ in 1 2 3 4 5; do
  drive key "$title_arg" tab >/dev/null
  order+=" $(focus_id)"
done
expect_eq "Tab goes Devam, Kurulumdan Çık, Text12, Text13, Text14, Devam" "$order" \
  "$id_command1 $id_command2 $id_text12 $id_text13 $id_text14 $id_command1"
read_window
drive key "$title_arg" escape >/dev/null
expect_eq "Escape presses nothing" "$(focus_id) $(drive box VorlanKur ok 1 | head -c 7)" \
  "$id_command1 vkdrive"
expect_eq "Escape on a button leaves the window and its texts" "$(drive texts "$title_arg")" \
  "$(cat "$case_dir/texts")"
drive key "$title_arg" tab >/dev/null
drive key "$title_arg" tab >/dev/null
drive key "$title_arg" char:x >/dev/null
read_window
expect_eq "typing into Text12 changes nothing" "$(field $id_text12 3)$(field $id_text12 5)" \
  "1$missing_headline"
# A multi-line edit closes its parent on Escape unless the window stops it.
drive key "$title_arg" escape >/dev/null
sleep 0.5
expect_eq "Escape in the multi-line Text12 leaves the window and its texts" \
  "$(drive texts "$title_arg")" "$(cat "$case_dir/texts")"
drive rects "$title_arg" >"$case_dir/rects-before"
drive resize "$title_arg" 700 560 >/dev/null
sleep 0.5
drive rects "$title_arg" >"$case_dir/rects-after"
expect_eq "resizing moves nothing" "$(grep -v client "$case_dir/rects-after")" \
  "$(grep -v client "$case_dir/rects-before")"
expect_true "the window did grow" test "$(cut -f2 "$case_dir/rects-after" | head -n1)" -gt 424
drive click "$title_arg" 'Kurulumdan \u00c7\u0131k' >/dev/null
wait_exit 30
expect_eq "Kurulumdan Çık ends the program" "$app_rc" "0"
expect_true "nothing written on the desktop" test ! -e "$desktop/Vorlan"
expect_eq "nothing requested" "$(wc -l <"$work/server.log")" "$requests_before"
end_case

# === Case 3: the close box. =================================================
echo "Case: the close box"
new_case close
start_app
# A second copy while the window is open: one box, then its end.
(
  cd "$case_dir" && "$wine" "$pkg_win\\VorlanKur.exe" >"$case_dir/second.out" 2>&1
  echo $? >"$case_dir/second.rc"
) &
pids+=($!)
answer_box "a second copy says one is open" 'VorlanKur v1.0.0' ok \
  "VorlanKur zaten çalışıyor ! Lütfen açık olan kurulum penceresini kullanınız."
for _ in $(seq 100); do [[ -s $case_dir/second.rc ]] && break; sleep 0.1; done
expect_eq "the second copy ends with 0" "$(cat "$case_dir/second.rc" 2>/dev/null)" "0"
expect_true "the first window is still there" drive wait "$title_arg" 5
drive close "$title_arg" >/dev/null
wait_exit 30
expect_eq "the close box ends the program" "$app_rc" "0"
expect_true "nothing written on the desktop" test ! -e "$desktop/Vorlan"
end_case

# === Case 4: a server whose certificate no trusted authority signed. Wine's
# request object, asked asynchronously, never completes a request that
# failed (Windows completes it with the failure's number): the window says
# it is downloading and answers; its close box ends the program. =========
echo "Case: an untrusted certificate"
new_case rogue
"$wine" reg add "$inet" /v ProxyServer /d "127.0.0.1:$rogue_port" /f >/dev/null 2>&1
start_app
drive click "$title_arg" Devam >/dev/null
for _ in $(seq 100); do
  grep -q '^CONNECT ' "$work/rogue.log" && break
  sleep 0.1
done
sleep 3
expect_eq "Wine's gap: the failed request never completes, and no box comes" \
  "$(drive box 'VorlanKur v1.0.0' ok 2 | head -c 7)" "vkdrive"
expect_eq "the tunnel was asked for, but no request went through" \
  "$(grep -c '^CONNECT ' "$work/rogue.log") $(grep -c '^GET ' "$work/rogue.log")" "1 0"
drive close "$title_arg" >/dev/null
wait_exit 30
expect_eq "the close box ends the waiting program" "$app_rc" "0"
end_case

# === Case 5: today's Chrome. Its driver is named by the newer server's
# version file, read through Wine's request object; the archive comes from
# the newer server, and the stream's gap stops it as in case 1. =============
echo "Case: today's Chrome"
new_case today
"$wine" reg add "$inet" /v ProxyServer /d "127.0.0.1:$server_port" /f >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Google\Chrome\BLBeacon' /v version /d 131.0.6778.86 /f >/dev/null 2>&1
requests_before=$(wc -l <"$work/server.log")
start_app
drive click "$title_arg" Devam >/dev/null
answer_box "the newer archive reaches the stream's gap" 'VorlanKur v1.0.0' ok \
  "Kurulum sırasında hata oluştu ! Hata No: -2147319779"
expect_eq "the version file, then the newer server's archive" \
  "$(tail -n +$((requests_before + 1)) "$work/server.log" | grep '^GET ')" \
  "GET $version_path HTTP/1.1	host=$labs_host
GET $cft_path HTTP/1.1	host=$cft_host"
answer_box "then the missing-archive box" 'VorlanKur v1.0.0' ok \
  'Sürücü arşivi bulunamadı: D:\Kurulum\Vorlan-Grenvilta\chromedriver_win32.zip'
end_case

# === Case 7: BLBeacon absent, as for a Chrome another account installed:
# the version is where Google's updater records it, in the 32-bit view of
# HKLM (WOW6432Node), and the version file of that line is asked for. ========
echo "Case: Chrome found by its updater's record"
new_case updater
"$wine" reg add "$inet" /v ProxyServer /d "127.0.0.1:$server_port" /f >/dev/null 2>&1
"$wine" reg delete 'HKCU\Software\Google\Chrome\BLBeacon' /f >/dev/null 2>&1
"$wine" reg add 'HKLM\Software\Google\Update\Clients\{8A69D345-D564-463c-AFF1-A69D9E530F96}' \
  /v pv /d 131.0.6778.86 /reg:32 /f >/dev/null 2>&1
requests_before=$(wc -l <"$work/server.log")
start_app
drive click "$title_arg" Devam >/dev/null
answer_box "the line's archive reaches the stream's gap" 'VorlanKur v1.0.0' ok \
  "Kurulum sırasında hata oluştu ! Hata No: -2147319779"
expect_eq "the version file of the recorded line was asked for" \
  "$(tail -n +$((requests_before + 1)) "$work/server.log" | grep '^GET ' | head -n1)" \
  "GET $version_path HTTP/1.1	host=$labs_host"
end_case

# === Case 8: six failed steps, more than the failure list shows at once:
# its scroll bar appears, and scrolling reaches the last one. The package
# lacks the three application files, and no component is missing. ========
echo "Case: six failed steps"
new_case failures
rm -f "$pkg/Vorlan.exe" "$pkg/VorlanUpdate.exe" "$pkg/DATA.xlsx"
for c in "${components[@]}"; do [[ -e $sys/$c ]] || cp "$pkg/Vorlan Bileşenleri/$c" "$sys/$c"; done
start_app
drive click "$title_arg" Devam >/dev/null
# Whatever boxes come (the download's, the settings question, the
# registration's, the browser test's), OK or No, until the last failure.
for _ in $(seq 15); do
  read_window
  [[ $(field $id_text13 5) == *"Vorlan başlatma"* ]] && break
  drive box 'VorlanKur v1.0.0' ok 3 >/dev/null 2>&1 || drive box 'VorlanKur v1.0.0' no 1 >/dev/null 2>&1 ||
    drive box VorlanKur ok 1 >/dev/null 2>&1 || true
done
sleep 1
read_window
expect_eq "the six failed steps" "$(field $id_text13 5)" \
  'Başarısız adımlar:\r\nSürücü indirme (Hata No: -2147319779)\r\nVorlan.exe kopyalama (Hata No: 53)\r\nVorlanUpdate.exe kopyalama (Hata No: 53)\r\nDATA.xlsx kopyalama (Hata No: 53)\r\nChrome bağlantı testi (Hata No: 429)\r\nVorlan başlatma (Hata No: 53)'
expect_eq "the failure list has its scroll bar, the fields that fit none" \
  "$(field $id_text12 7)$(field $id_text13 7)$(field $id_text14 7)" "010"
import -window root "$shots/wine-six-failures.png" 2>/dev/null
expect_true "screenshot with the scroll bar" test -s "$shots/wine-six-failures.png"
IFS=$'\t' read -r first last lines < <(drive scrollend "$title_arg" "$id_text13")
expect_true "scrolled to its end, the last step is in view (lines $first to $last of $lines)" \
  test "$first" -gt 0 -a "$last" -eq $((lines - 1))
import -window root "$shots/wine-six-failures-scrolled.png" 2>/dev/null
drive click "$title_arg" Kapat >/dev/null
wait_exit 30
expect_eq "Kapat ends the program" "$app_rc" "0"
end_case

# === Case 6: a slow line. While the archive drips in, the window says what
# it waits for and answers at once, Windows never takes it for hung, and
# its close box ends the program, leaving no archive. =======================
echo "Case: a slow download"
new_case slow
"$wine" reg add "$inet" /v ProxyServer /d "127.0.0.1:$slow_port" /f >/dev/null 2>&1
start_app
drive click "$title_arg" Devam >/dev/null
for _ in $(seq 100); do
  read_window
  [[ $(field $id_text12 5) == *" sn" ]] && break
  sleep 0.1
done
expect_true "the download text, with the size and the seconds: $(field $id_text12 5)" \
  grep -qE '^Chrome sürücüsü indiriliyor \.\.\. 1,0 MB, [0-9]+ sn$' <<<"$(field $id_text12 5)"
expect_eq "Devam disabled, Kurulumdan Çık enabled" "$(field $id_command1 6)$(field $id_command2 6)" "01"
import -window root "$shots/wine-downloading.png" 2>/dev/null
expect_true "screenshot during the download" test -s "$shots/wine-downloading.png"
expect_eq "the window answers every second for 10 seconds, never hung" \
  "$(drive responsive "$title_arg" 10)" "answered 10 of 10, hung 0"
started=$(date +%s.%N)
drive close "$title_arg" >/dev/null
drive gone "$title_arg" 10 >/dev/null
gone=$(date +%s.%N)
wait_exit 30
echo "        the window went $(LC_ALL=C awk -v a="$started" -v b="$gone" 'BEGIN { printf "%.2f", b - a }') s after the close box"
expect_eq "the close box ends the program during the download" "$app_rc" "0"
expect_true "and well before the archive could have come" \
  env LC_ALL=C awk -v a="$started" -v b="$gone" 'BEGIN { exit !(b - a < 10) }'
expect_true "no archive left" test ! -e "$pkg/Vorlan-Grenvilta/chromedriver_win32.zip"
end_case

echo "Screenshots: $shots/wine-after-check.png, $shots/wine-after-run.png, $shots/wine-downloading.png, $shots/wine-six-failures.png"
echo "wine-e2e: $passed passed, $failed failed"
((failed == 0))
