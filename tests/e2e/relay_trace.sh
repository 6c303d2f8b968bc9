# Sourced by the scenarios that read Wine's relay trace of the real patcher:
#   relay_trace_setup FOLDER FIXTURES RELAY_INCLUDE
# copies the patch-phase installation's 1.00 tree to C:\FOLDER, records it
# in the registry at 1.00, limits the relay trace to RELAY_INCLUDE, and
# undoes all of that when the script exits. It sets `trace`, a file for the
# trace, and `dir`, the installation's Unix path.
relay_trace_setup() {
  local folder=$1 fixtures=$2 include=$3
  dir=$WINEPREFIX/drive_c/$folder
  relay_key='HKLM\SOFTWARE\QtrPhases'
  relay_debug='HKCU\Software\Wine\Debug'
  trace=$(mktemp)
  trap relay_trace_cleanup EXIT
  rm -rf "$dir"
  cp -r "$fixtures/before" "$dir"
  wine reg add "$relay_key" /v InstallDir /t REG_SZ /d "C:\\$folder" /f >/dev/null 2>&1
  wine reg add "$relay_key" /v Version /t REG_SZ /d 1.00 /f >/dev/null 2>&1
  wine reg add "$relay_debug" /v RelayInclude /t REG_SZ /d "$include" /f >/dev/null 2>&1
}

relay_trace_cleanup() {
  rm -rf "$dir" "$trace"
  wine reg delete "$relay_key" /f >/dev/null 2>&1 || true
  wine reg delete "$relay_debug" /v RelayInclude /f >/dev/null 2>&1 || true
}
