#!/usr/bin/env bash
# How the setup tool starts when its surroundings are odd: standard
# descriptors closed by whoever started it, and a second copy started while
# one is open (a double click). Neither may install anything by itself.
set -uo pipefail

: "${VK_APP:?VK_APP must name the built VorlanKur}"
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="${VK_SOURCE_DIR:-$(cd "$here/../.." && pwd)}"
unset VORLANKUR_MACHINE

work="$(mktemp -d "${TMPDIR:-/tmp}/vk-e2e-start.XXXXXX")"
first=
trap '[ -n "$first" ] && kill -9 "$first" 2>/dev/null; rm -rf "$work"' EXIT

failures=0
check() { # what command...
  local what="$1"
  shift
  "$@" || {
    echo "FAIL: $what" >&2
    failures=$((failures + 1))
  }
}

# A machine that would install at once: Chrome present, the package laid out.
machine="$work/m"
bash "$source_dir/scripts/make-machine.sh" "$machine" --drive d --chrome 104.0.5112.81 >/dev/null ||
  exit 1
mkdir -p "$machine/drive_d/Kurulum"
cp "$VK_APP" "$machine/drive_d/Kurulum/VorlanKur.exe"
exe="$machine/drive_d/Kurulum/VorlanKur.exe"
desktop="$machine/drive_c/users/user/Desktop"
export VORLANKUR_MACHINE="$machine"

# Closed input: the window sees its end, as the close box. With the output
# closed too, nothing the program prints may come back to it as input.
for how in "input" "input and output"; do
  if [ "$how" = input ]; then
    timeout 20 "$exe" <&- >"$work/out" 2>"$work/err"
  else
    timeout 20 "$exe" <&- >&- 2>"$work/err"
  fi
  rc=$?
  check "$how closed: exit status $rc, want 0 ($(cat "$work/err"))" test "$rc" = 0
  check "$how closed: nothing installed" test ! -e "$desktop/Vorlan"
done

# Two copies: the second says so and ends, changing nothing.
mkfifo "$work/in"
"$exe" <"$work/in" >"$work/first" 2>&1 &
first=$!
exec 3>"$work/in" # the first copy waits on an input nobody writes yet
for _ in $(seq 100); do grep -qF "(Enter: Devam)" "$work/first" && break; sleep 0.1; done
check "the first copy shows its window" grep -qF "(Enter: Devam)" "$work/first"
printf 'Tamam\n' | timeout 20 "$exe" >"$work/second" 2>&1
rc=$?
check "the second copy ends with 0, not $rc" test "$rc" = 0
check "the second copy says one is open" grep -qF \
  "VorlanKur zaten çalışıyor ! Lütfen açık olan kurulum penceresini kullanınız." \
  <(tr '\n' ' ' <"$work/second")
check "the second copy shows no window" bash -c "! grep -qF 'Devam' '$work/second'"
check "the second copy's box: title and icon" grep -qF "VorlanKur v1.0.0 ─ (i)" "$work/second"

# A copy that died holds nothing: the next one opens its window.
kill -9 "$first"
wait "$first" 2>/dev/null
first=
exec 3>&-
timeout 20 "$exe" </dev/null >"$work/third" 2>&1
rc=$?
check "after a killed copy, the next one runs (status $rc)" test "$rc" = 0
check "after a killed copy, the next one shows its window" grep -qF "(Enter: Devam)" "$work/third"
check "nothing installed by any of them" test ! -e "$desktop/Vorlan"

if ((failures)); then
  echo "app_start: $failures check(s) failed" >&2
  exit 1
fi
echo "app_start: all checks passed"
