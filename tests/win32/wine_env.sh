# shellcheck shell=bash disable=SC2034 # sourced: its variables are for the scripts
# Wine as the tests of this folder run it, sourced by their scripts: Debian's
# 64-bit Wine (not on PATH), quiet, without the Mono and Gecko installers, with
# a home of its own under the test's work folder, and an X server of the
# test's own, so no window reaches the host's display.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

wine_home() { # work-folder
  export HOME=$1/home WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$HOME"
}

wine_boot() { # prefix log: makes the prefix and makes it the current one
  export WINEPREFIX=$1
  "$wine" wineboot -i >"$2" 2>&1
}

# start_xvfb FOLDER: starts Xvfb on a free display, exports DISPLAY and
# leaves the server's process id in xvfb_pid; fails when it does not start.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$1/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [[ -s $1/display ]] && break; sleep 0.1; done
  [[ -s $1/display ]] || return 1
  DISPLAY=:$(head -n1 "$1/display")
  export DISPLAY
}
