#!/usr/bin/env bash
# The platform contract's cases against the 64-bit Win32 layer under Wine,
# in a prefix of their own whose drive D: is an empty scratch folder.
#
# Usage: contract_wine.sh [BUILD_DIR]   (default: build-win64)
# Prints "contract: N passed, M failed" last; exits non-zero on any failure.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build-win64}" && pwd)
# shellcheck source=tests/win32/wine_env.sh
source "$here/wine_env.sh"
programs=("$build/tests/win32/vk_contract.exe" "$build/tests/win32/contract_child.exe")

give_up() {
  echo "contract: $1"
  echo "contract: 0 passed, 1 failed"
  exit 1
}
for f in "${programs[@]}" "$wine" "$wineserver"; do [[ -e $f ]] || give_up "missing $f"; done
command -v Xvfb >/dev/null || give_up "Xvfb is not installed"

work=$(mktemp -d /tmp/vorlankur-contract.XXXXXX)
xvfb_pid=
web_pid=
# shellcheck disable=SC2317 # run by the trap below
cleanup() {
  WINEPREFIX=$work/prefix "$wineserver" -k 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  [[ -n $web_pid ]] && kill "$web_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

wine_home "$work"
mkdir -p "$work/d"
# The request object's cases ask a plain web server on loopback; the
# program finds it, and an address where nothing listens, in its
# environment (Wine passes on no variable whose name begins with VK_).
printf merhaba >"$work/merhaba"
head -c 2000 /dev/zero | tr '\0' y >"$work/yavas"
python3 "$here/https_server.py" --http-port 0 --serve "/merhaba=$work/merhaba" \
  --drip "/yavas=$work/yavas:100" --log "$work/web.log" --ready "$work/web.port" \
  >"$work/web.out" 2>&1 &
web_pid=$!
for _ in $(seq 100); do [[ -s $work/web.port ]] && break; sleep 0.1; done
[[ -s $work/web.port ]] || give_up "the web server did not start"
web_port=$(cat "$work/web.port")
dead_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
export VORLANKUR_CONTRACT_WEB="http://127.0.0.1:$web_port"
export VORLANKUR_CONTRACT_DEAD="http://127.0.0.1:$dead_port/"
start_xvfb "$work" || give_up "Xvfb did not start"
wine_boot "$work/prefix" "$work/wineboot.out" || give_up "wineboot failed"
# One key in both registry views, for the case that reads them.
for view in 32 64; do
  "$wine" reg add 'HKLM\Software\VorlanKur Views' /v view /d $view /reg:$view /f >/dev/null 2>&1
done
# The program empties D: before each case; the marker says it may.
touch "$work/d/vk-contract-scratch"
ln -sfn "$work/d" "$WINEPREFIX/dosdevices/d:"
mkdir -p "$WINEPREFIX/drive_c/vk"
cp "${programs[@]}" "$WINEPREFIX/drive_c/vk/"

"$wine" 'C:\vk\vk_contract.exe' 2>/dev/null | tr -d '\r' >"$work/out"
status=${PIPESTATUS[0]}
cat "$work/out"
tail -n1 "$work/out" | grep -q '^contract: [0-9]* passed, [0-9]* failed$' ||
  give_up "the program ended without its summary (status $status)"
exit "$status"
