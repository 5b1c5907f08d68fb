# Sourced by every script that runs the Windows programs under Wine: a throw-away prefix,
# COM ports mapped to virtual instruments' terminals, the serial map a USB serial driver
# would fill, and a quiet end of the Wine server.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
. "$(dirname "${BASH_SOURCE[0]}")/sim.sh"

# A new prefix under FOLDER, made without a display: under one, the first boot can wait on
# windows nobody answers.
wine_prefix() {  # folder
  export WINEPREFIX=$1/prefix
  # Once more after a failure: a server still ending from the run before can refuse it.
  DISPLAY= "$wine" wineboot -i >/dev/null 2>&1 || { sleep 1; DISPLAY= "$wine" wineboot -i >/dev/null 2>&1; }
}

# Ends the Wine server and everything it runs. Its output goes nowhere: a server told to
# stop may print its whole internal state.
wine_stop() {
  "$wineserver" -k >/dev/null 2>&1 || true
}

# One server for every program run from here on, so none pays its start.
wine_keep_server() {
  "$wineserver" -w >/dev/null 2>&1 || true
  "$wineserver" -p >/dev/null 2>&1
}

# COMn of the prefix opens the terminal PATH.
wine_map_com() {  # COM name, terminal path
  ln -sf "$2" "$WINEPREFIX/dosdevices/${1,,}"
}

# The serial map's entries for these ports, as a USB serial driver makes them. The map is
# volatile: call this once the server that the programs use runs.
wine_serial_map() {  # COM names...
  local com
  for com in "$@"; do
    "$wine" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\Ostra${com#COM}" \
      /t REG_SZ /d "$com" /f >/dev/null 2>&1
  done
}

# The same, with its terminal mapped to COMn of the prefix.
wine_instrument() {  # sim, folder, COM name, options...
  sim_start "$@"
  wine_map_com "$3" "$(head -n1 "$2/$3.out")"
}

# Stops the instruments and the server.
wine_cleanup() {
  sim_stop
  wine_stop
}
