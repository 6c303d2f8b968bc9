# Sourced by the test and demo scripts: a private display and Wine prefix
# for this run (wine_env_start, or wine_env_begin and later wine_env_ready),
# torn down again by wine_env_stop (also on exit).
#   QTR_ROOT must point at the repository.
#   QTR_DISPLAY_FIRST  the first X display number to try (default 77)
# The patcher is a 32-bit program, tested as built (build/win32) under a
# win32 prefix. A machine whose kernel runs no IA-32 code at all cannot start
# 32-bit Wine; there the same sources built for x86_64 (build/win64) run
# under 64-bit Wine in a win64 prefix instead. QTR_WINE_ARCH and
# QTR_WIN_BUILD say which (QTR_WINE_ARCH may be set to choose).
#   QTR_WINE_ARCH  win32 or win64
if [ -z "${QTR_WINE_ARCH:-}" ]; then
  if /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then QTR_WINE_ARCH=win32; else QTR_WINE_ARCH=win64; fi
fi
export QTR_WINE_ARCH
export WINEARCH=$QTR_WINE_ARCH
export QTR_WIN_BUILD=build/$QTR_WINE_ARCH
export WINEPREFIX=${WINEPREFIX:-$QTR_ROOT/build/wine}
if [ "$QTR_WINE_ARCH" = win64 ]; then
  # wine, wineserver and wineboot of the 64-bit loader, for this script and
  # everything it starts.
  export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
  qtr_wine_bin=$QTR_ROOT/build/wine64-bin
  mkdir -p "$qtr_wine_bin"
  printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' > "$qtr_wine_bin/wine"
  printf '#!/bin/sh\nexec /usr/lib/wine/wineserver64 "$@"\n' > "$qtr_wine_bin/wineserver"
  printf '#!/bin/sh\nexec /usr/lib/wine/wine64 wineboot.exe "$@"\n' > "$qtr_wine_bin/wineboot"
  chmod +x "$qtr_wine_bin"/*
  case ":$PATH:" in *":$qtr_wine_bin:"*) ;; *) export PATH="$qtr_wine_bin:$PATH" ;; esac
fi
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=${WINEDEBUG:--all}

wine_env_start() {
  wine_env_begin
  wine_env_ready
}

# The first half of wine_env_start: starts the display, and makes the prefix
# in the background when it does not exist yet (some 15 s), so that a caller
# can build meanwhile and call wine_env_ready before it runs anything.
wine_env_begin() {
  # A prefix is made for one architecture: the win64 one lives beside it.
  if [ "$QTR_WINE_ARCH" = win64 ]; then
    case "$WINEPREFIX" in *-win64) ;; *) export WINEPREFIX="$WINEPREFIX-win64" ;; esac
  fi
  trap wine_env_stop EXIT
  if [ -z "${DISPLAY:-}" ] || [ "${QTR_OWN_DISPLAY:-1}" = 1 ]; then
    local n=${QTR_DISPLAY_FIRST:-77}
    while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
    Xvfb :$n -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    QTR_XVFB_PID=$!
    export DISPLAY=:$n
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: making the prefix $WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    # wineboot leaves its server running for a few seconds; wait for it to
    # end so that the persistent one of wine_env_ready is the only server of
    # this prefix.
    { wineboot -i >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; } &
    QTR_WINE_BOOT_PID=$!
  fi
}

# The second half: waits for the prefix, then starts its server and readies
# the prefix for the run.
wine_env_ready() {
  if [ -n "${QTR_WINE_BOOT_PID:-}" ]; then
    wait "$QTR_WINE_BOOT_PID" || true
    QTR_WINE_BOOT_PID=
  fi
  wineserver -w >/dev/null 2>&1 || true
  wineserver -p >/dev/null 2>&1 || wineserver -p
  wineboot >/dev/null 2>&1 || true
  # Without a window manager Wine waits 2 s for every window to be withdrawn
  # unless its windows are unmanaged.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
}

wine_env_stop() {
  # A prefix boot cut short would leave a prefix that looks made: let it end.
  if [ -n "${QTR_WINE_BOOT_PID:-}" ]; then
    wait "$QTR_WINE_BOOT_PID" 2>/dev/null || true
    QTR_WINE_BOOT_PID=
  fi
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${QTR_XVFB_PID:-}" ]; then
    kill "$QTR_XVFB_PID" 2>/dev/null || true
    wait "$QTR_XVFB_PID" 2>/dev/null || true
    QTR_XVFB_PID=
  fi
}
