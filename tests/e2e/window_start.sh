#!/usr/bin/env bash
# The setup tool started on simulated machines: what its window shows after
# the component check, the buttons that end it, and that starting and
# leaving writes nothing. Also the start without a usable machine.
set -uo pipefail

: "${VK_APP:?VK_APP must name the built VorlanKur}"
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="${VK_SOURCE_DIR:-$(cd "$here/../.." && pwd)}"
make_machine="$source_dir/scripts/make-machine.sh"
unset VORLANKUR_MACHINE

work="$(mktemp -d "${TMPDIR:-/tmp}/vk-e2e-window.XXXXXX")"
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

caption="Vorlan Kurulum işlemlerine hoşgeldiniz."
# The messages as the 64-column frame wraps them, at blanks.
missing_headline=$'Vorlan çalışabilmek için bazı Windows bileşenlerine ihtiyaç\nduyar. Sisteminizde mevcut olmayan bileşenler aşağıya\nlistelendi.'
missing_advice=$'Bu dosyaları sistem klasörüne ekleyebilmesi için , VorlanKur\'un\n\'YÖNETİCİ\' yetkisiyle başlatılmış olması gerekir. Bunu\nyapmadıysanız DEVAM tuşuna kliklemeden kurulumdan çıkınız.'
present_headline=$'Kur sisteminizi taradı, Vorlan\'in çalışması için gerekli Windows\nbileşenleri sisteminizde mevcut.'
present_advice=$'Bir sonraki kurulum aşamasına geçmek için Devam butonunu\ntıklayın.'
thin="$(printf '─%.0s' $(seq 64))"
heavy="$(printf '═%.0s' $(seq 64))"
start_prompt="[1] Devam  [2] Kurulumdan Çık  (Enter: Devam) > "
hint="Lütfen düğmelerden birini seçin: numarasını ya da adını yazın."

# A machine with the setup tool in a folder of drive D:.
#   new_machine <name> <setup folder under drive_d or ""> [make-machine options]
new_machine() {
  local name="$1" folder="$2"
  shift 2
  bash "$make_machine" "$work/$name" --drive d "$@" || {
    echo "make-machine.sh failed" >&2
    exit 1
  }
  mkdir -p "$work/$name/drive_d/$folder"
  cp "$VK_APP" "$work/$name/drive_d/$folder/VorlanKur.exe"
}

# The one-copy lock the tool holds (and the top folder's time, which its
# making changes) is no change to the machine.
listing() { (cd "$1" && find . -mindepth 1 ! -name .vorlankur.lock -printf '%p|%y|%s|%m|%T@|%l\n' | LC_ALL=C sort); }

# run <machine> <exe> <input>: runs with the input on stdin; sets out, err, rc.
run() {
  local machine="$1" exe="$2" input="$3"
  printf '%s' "$input" | VORLANKUR_MACHINE="$machine" timeout 20 "$exe" >"$work/out" 2>"$work/err"
  rc=$?
  out="$(cat "$work/out")"
  err="$(cat "$work/err")"
}

count() { grep -cF -- "$2" <<<"$1" || true; }

# The lines the window prints after its caption line: <output> <how many>.
window_after_caption() {
  awk -v cap="$caption" -v n="$2" 'found && k < n { print; k++ } index($0, "══ " cap " ") == 1 && !found { found = 1 }' <<<"$1"
}

# Compares the window with the expected lines; a line "<any>" stands for the
# product line (two lines), whose wording is free, and must merely not be empty.
expect_window() { # <what> <output> <expected lines after the caption line>
  local what="$1" got k
  local -a want have
  mapfile -t want <<<"$3"
  got="$(window_after_caption "$2" "${#want[@]}")"
  mapfile -t have <<<"$got"
  local same=1
  [ "${#have[@]}" = "${#want[@]}" ] || same=0
  for k in "${!want[@]}"; do
    if [ "${want[$k]}" = "<any>" ]; then
      [ -n "${have[$k]:-}" ] || same=0
    elif [ "${want[$k]}" != "${have[$k]:-}" ]; then
      same=0
    fi
  done
  if [ "$same" = 0 ]; then
    fail "$what: window differs"
    diff <(printf '%s\n' "$3") <(printf '%s\n' "$got") >&2
  fi
}

expect_nothing_hidden() { # <what> <output>
  local t
  for t in Kapat Text1 Text2 Text3 Text4 Text5 Text6 Text7 Text8; do
    [ "$(count "$2" "$t")" = 0 ] || fail "$1: shows \"$t\""
  done
}

product_line="<any>"

# --- 64-bit Windows, three components missing, setup in D:\Kurulum -----------

new_machine m64 Kurulum --chrome 104.0.5112.81 \
  --present "msvbvm60.dll MSSTDFMT.DLL shell32.dll wmp.dll"
m64="$work/m64"
exe="$m64/drive_d/Kurulum/VorlanKur.exe"
before="$(listing "$m64")"

expected_missing="$(printf '%s\n' "$missing_headline" "$thin" "" MSCOMCTL.OCX MSCOMCTL.DEP MSCOMCTL.SRG \
  "$thin" "$missing_advice" "$thin" "$product_line" "$product_line" "$heavy" "  [ Kurulumdan Çık ]  [ Devam ]")"

# End of input at the window is its close box.
run "$m64" "$exe" ""
[ "$rc" = 0 ] || fail "close box: exit status $rc (stderr: $err)"
[ -z "$err" ] || fail "close box: stderr not empty: $err"
[ "$(count "$out" "══ $caption ")" = 1 ] || fail "close box: the caption line is not shown once"
expect_window "close box" "$out" "$expected_missing"
[ "$(count "$out" "$start_prompt")" = 1 ] || fail "close box: prompt missing"
expect_nothing_hidden "close box" "$out"
[ "$(count "$out" msvbvm60.dll)" = 0 ] || fail "close box: lists a present component"
[ "$(listing "$m64")" = "$before" ] || fail "close box: the machine changed"

# "Kurulumdan Çık" by its number.
run "$m64" "$exe" $'2\n'
[ "$rc" = 0 ] || fail "button 2: exit status $rc (stderr: $err)"
expect_window "button 2" "$out" "$expected_missing"
[ "$(count "$out" "$start_prompt")" = 1 ] || fail "button 2: asked again after the end"
[ "$(count "$out" "$caption")" = 1 ] || fail "button 2: window printed more than once"
[ "$(listing "$m64")" = "$before" ] || fail "button 2: the machine changed"

# By its caption, in another case, after a line that names no button.
run "$m64" "$exe" $'bilmem\nKURULUMDAN ÇIK\r\n1\n'
[ "$rc" = 0 ] || fail "caption: exit status $rc (stderr: $err)"
[ "$(count "$out" "$hint")" = 1 ] || fail "caption: no hint for the bad line"
[ "$(count "$out" "$start_prompt")" = 2 ] || fail "caption: prompt not repeated exactly once"
[ "$(listing "$m64")" = "$before" ] || fail "caption: the machine changed"

# The machine is also found from the program's own place.
(cd / && printf '2\n' | timeout 20 "$exe" >"$work/out" 2>"$work/err")
rc=$?
[ "$rc" = 0 ] || fail "found by place: exit status $rc ($(cat "$work/err"))"
expect_window "found by place" "$(cat "$work/out")" "$expected_missing"

# --- 32-bit Windows with every component in System32, setup at D:\ -------------

new_machine m32 "" --32bit \
  --present "msvbvm60.dll MSSTDFMT.DLL shell32.dll MSCOMCTL.OCX MSCOMCTL.DEP MSCOMCTL.SRG wmp.dll"
m32="$work/m32"
before="$(listing "$m32")"
run "$m32" "$m32/drive_d/VorlanKur.exe" ""
[ "$rc" = 0 ] || fail "nothing missing: exit status $rc (stderr: $err)"
expect_window "nothing missing" "$out" "$(printf '%s\n' "$present_headline" "$thin" "" "" "$thin" \
  "$present_advice" "$thin" "$product_line" "$product_line" "$heavy" "  [ Kurulumdan Çık ]  [ Devam ]")"
expect_nothing_hidden "nothing missing" "$out"
[ "$(listing "$m32")" = "$before" ] || fail "nothing missing: the machine changed"

# --- 64-bit Windows whose components lie only in System32: all seven missing --

new_machine mall Kurulum
for c in msvbvm60.dll MSSTDFMT.DLL shell32.dll MSCOMCTL.OCX MSCOMCTL.DEP MSCOMCTL.SRG wmp.dll; do
  echo x >"$work/mall/drive_c/windows/system32/$c"
done
run "$work/mall" "$work/mall/drive_d/Kurulum/VorlanKur.exe" $'Kurulumdan çık\n'
[ "$rc" = 0 ] || fail "all missing: exit status $rc (stderr: $err)"
expect_window "all missing" "$out" "$(printf '%s\n' "$missing_headline" "$thin" "" msvbvm60.dll \
  MSSTDFMT.DLL shell32.dll MSCOMCTL.OCX MSCOMCTL.DEP MSCOMCTL.SRG wmp.dll "$thin" "$missing_advice")"

# --- No usable machine -----------------------------------------------------------

expect_one_sentence() { # <what>
  [ "$rc" != 0 ] || fail "$1: exit status 0"
  [ "$rc" -lt 128 ] || fail "$1: killed by a signal (status $rc)"
  [ "$rc" != 124 ] || fail "$1: timed out"
  [ -z "$out" ] || fail "$1: printed on stdout: $out"
  [ "$(wc -l <"$work/err")" = 1 ] || fail "$1: stderr is not one line: $err"
  [ -n "$err" ] || fail "$1: nothing on stderr"
}

mkdir -p "$work/loose"
cp "$VK_APP" "$work/loose/VorlanKur.exe"
printf '' | timeout 20 "$work/loose/VorlanKur.exe" >"$work/out" 2>"$work/err"
rc=$?
out="$(cat "$work/out")"
err="$(cat "$work/err")"
expect_one_sentence "no machine"
grep -q 'VORLANKUR_MACHINE' "$work/err" || fail "no machine: the sentence does not say how to name one"

mkdir -p "$work/not-a-machine"
run "$work/not-a-machine" "$work/loose/VorlanKur.exe" ""
expect_one_sentence "not a machine"

run "$m64" "$work/loose/VorlanKur.exe" ""
expect_one_sentence "outside every drive"
[ "$rc" = 2 ] || fail "outside every drive: exit status $rc, not 2"

if [ "$failures" -gt 0 ]; then
  echo "window_start: $failures check(s) failed" >&2
  exit 1
fi
echo "window_start: all checks passed"
