#!/usr/bin/env bash
# How the setup tool starts when its surroundings are odd: standard
# descriptors closed by whoever started it, and a second copy started while
# one is open (a double click). Neither may install anything by itself.
set -uo pipefail
: "${VK_APP:?VK_APP must name the built VorlanKur}"
source_dir="${VK_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}"
work="$(mktemp -d "${TMPDIR:-/tmp}/vk-e2e-start.XXXXXX")"
first=
trap '[ -n "$first" ] && kill -9 "$first" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
check() { # what command...
  local what="$1"
  shift
  "$@" || { echo "FAIL: $what" >&2; failures=$((failures + 1)); }
}

# A machine that would install at once: Chrome present, the tool in D:\Kurulum.
export VORLANKUR_MACHINE="$work/m"
bash "$source_dir/scripts/make-machine.sh" "$VORLANKUR_MACHINE" --drive d --chrome 104.0.5112.81 \
  >/dev/null || exit 1
exe="$VORLANKUR_MACHINE/drive_d/Kurulum/VorlanKur.exe"
mkdir -p "$(dirname "$exe")" && cp "$VK_APP" "$exe"
nothing_installed() { test ! -e "$VORLANKUR_MACHINE/drive_c/users/user/Desktop/Vorlan"; }

# Closed input is the close box; with the output closed too, nothing the
# program prints may come back to it as input.
timeout 20 "$exe" <&- >/dev/null 2>&1
check "input closed: status $?, want 0" test $? = 0
timeout 20 "$exe" <&- >&- 2>/dev/null
check "input and output closed: status $?, want 0" test $? = 0
check "closed descriptors: nothing installed" nothing_installed

# Two copies: the second says so and ends, changing nothing.
mkfifo "$work/in"
"$exe" <"$work/in" >"$work/first" 2>&1 &
first=$!
exec 3>"$work/in" # the first copy's input stays open, unanswered
for _ in $(seq 100); do grep -qF "(Enter: Devam)" "$work/first" && break; sleep 0.1; done
printf 'Tamam\n' | timeout 20 "$exe" >"$work/second" 2>&1
check "the second copy ends with status 0, not $?" test $? = 0
check "the second copy's box: title and icon" grep -qF "VorlanKur v1.0.0 ─ (i)" "$work/second"
check "the second copy says one is open" grep -qF \
  "VorlanKur zaten çalışıyor ! Lütfen açık olan kurulum penceresini kullanınız." \
  <(tr '\n' ' ' <"$work/second")
check "the second copy shows no window" bash -c "! grep -qF Devam '$work/second'"

# A copy that died holds nothing: the next one opens its window.
kill -9 "$first" && wait "$first" 2>/dev/null
first=
exec 3>&-
timeout 20 "$exe" </dev/null >"$work/third" 2>&1
check "after a killed copy the next one shows its window" grep -qF "(Enter: Devam)" "$work/third"
check "nothing installed by any of them" nothing_installed

# Whatever stands where the lock goes, the second copy is still kept out:
# a link (never followed: the file outside is neither made nor changed), a
# folder (kept, moved aside), a pipe, a file nobody may change.
lock="$VORLANKUR_MACHINE/.vorlankur.lock"
outside="$work/outside"
for kind in link dangling folder pipe immutable; do
  rm -rf "$lock" "$lock".* "$outside"
  case $kind in
  link) printf 'keep me\n' >"$outside" && ln -s "$outside" "$lock" ;;
  dangling) ln -s "$outside" "$lock" ;;
  folder) mkdir -p "$lock/sub" && printf 'x' >"$lock/sub/f" ;;
  pipe) mkfifo "$lock" ;;
  immutable)
    : >"$lock"
    if ! chattr +i "$lock" 2>/dev/null; then rm -f "$lock" && continue; fi
    ;;
  esac
  "$exe" <"$work/in" >"$work/first" 2>&1 &
  first=$!
  exec 3>"$work/in"
  for _ in $(seq 100); do grep -qF "(Enter: Devam)" "$work/first" && break; sleep 0.1; done
  printf 'Tamam\n' | timeout 20 "$exe" >"$work/second" 2>&1
  check "$kind at the lock's place: the second copy is kept out" grep -qF "zaten" "$work/second"
  kill -9 "$first" && wait "$first" 2>/dev/null
  first=
  exec 3>&-
  case $kind in
  link) check "the linked file outside is untouched" grep -qx 'keep me' "$outside" ;;
  dangling) check "no file made outside the machine" test ! -e "$outside" ;;
  folder) check "the folder is kept, moved aside" compgen -G "$lock.*/sub/f" >/dev/null ;;
  immutable) chattr -i "$lock" ;;
  esac
done

((failures)) && { echo "app_start: $failures check(s) failed" >&2; exit 1; }
echo "app_start: all checks passed"
