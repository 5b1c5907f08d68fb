# Sourced by the scripts that start virtual instruments for a test: each started one is
# remembered, and sim_stop ends them all.
sims=()

# A virtual instrument started by SIM with OPTIONS; its output goes to FOLDER/COMn.out
# (the terminal's path first) and .err.
sim_start() {  # sim, folder, COM name, options...
  local sim=$1 folder=$2 com=$3
  shift 3
  "$sim" "$@" >"$folder/$com.out" 2>"$folder/$com.err" &
  sims+=($!)
  for _ in $(seq 100); do [ -s "$folder/$com.out" ] && break; sleep 0.05; done
  if [ ! -s "$folder/$com.out" ]; then
    echo "virtual instrument for $com did not start:" >&2
    cat "$folder/$com.err" >&2
    return 1
  fi
}

# Stops the instruments.
sim_stop() {
  local pid
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}

