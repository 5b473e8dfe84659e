# Wine as the tests of this folder run it, sourced by their scripts: Debian's
# 64-bit Wine (not on PATH), quiet, without the Mono and Gecko installers, with
# a home of its own under the test's work folder.
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
