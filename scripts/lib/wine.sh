# Sourced by every script that runs the Windows programs under Wine: a throw-away prefix,
# COM ports mapped to virtual instruments' terminals, the serial map a USB serial driver
# would fill, and a quiet end of the Wine server.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_sims=()  # virtual instruments started by wine_instrument

# A new prefix under FOLDER, made without a display: under one, the first boot can wait on
# windows nobody answers.
wine_prefix() {  # folder
  export WINEPREFIX=$1/prefix
  DISPLAY= "$wine" wineboot -i >/dev/null 2>&1
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

# A virtual instrument started by SIM with OPTIONS; its output goes to FOLDER/COMn.out
# (the terminal's path first) and .err.
sim_start() {  # sim, folder, COM name, options...
  local sim=$1 folder=$2 com=$3
  shift 3
  "$sim" "$@" >"$folder/$com.out" 2>"$folder/$com.err" &
  wine_sims+=($!)
  for _ in $(seq 100); do [ -s "$folder/$com.out" ] && break; sleep 0.05; done
  if [ ! -s "$folder/$com.out" ]; then
    echo "virtual instrument for $com did not start:" >&2
    cat "$folder/$com.err" >&2
    return 1
  fi
}

# The same, with its terminal mapped to COMn of the prefix.
wine_instrument() {  # sim, folder, COM name, options...
  sim_start "$@"
  wine_map_com "$3" "$(head -n1 "$2/$3.out")"
}

# Stops the instruments.
sim_stop() {
  local pid
  for pid in "${wine_sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}

# Stops the instruments and the server.
wine_cleanup() {
  sim_stop
  wine_stop
}
