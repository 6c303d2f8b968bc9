# Sourced by the test and demo scripts: a private display and Wine prefix
# for this run, torn down again by wine_env_stop (also on exit).
#   QTR_ROOT must point at the repository.
#   QTR_DISPLAY_FIRST  the first X display number to try (default 77)
export WINEARCH=win32
export WINEPREFIX=${WINEPREFIX:-$QTR_ROOT/build/wine}
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=${WINEDEBUG:--all}

wine_env_start() {
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
    wineboot -i >/dev/null 2>&1 || true
  fi
  # wineboot leaves its server running for a few seconds; wait for it to end
  # so that the persistent one below is the only server of this prefix.
  wineserver -w >/dev/null 2>&1 || true
  wineserver -p >/dev/null 2>&1 || wineserver -p
  wineboot >/dev/null 2>&1 || true
  # Without a window manager Wine waits 2 s for every window to be withdrawn
  # unless its windows are unmanaged.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  trap wine_env_stop EXIT
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${QTR_XVFB_PID:-}" ]; then
    kill "$QTR_XVFB_PID" 2>/dev/null || true
    wait "$QTR_XVFB_PID" 2>/dev/null || true
    QTR_XVFB_PID=
  fi
}
