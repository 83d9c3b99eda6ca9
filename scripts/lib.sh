# Shared by the scripts: start_padsim <padsim arguments...> starts the virtual keyboard in the
# background, waits until it has published its port, and sets sim (its pid), sim_log and port.
start_padsim() {
  sim_log=$(mktemp)
  "$@" >"$sim_log" 2>&1 &
  sim=$!
  for _ in $(seq 50); do
    grep -q "porta" "$sim_log" && break
    sleep 0.1
  done
  port=$(sed -n 's/.*porta \([0-9]*\).*/\1/p' "$sim_log" | head -n1)
}

stop_padsim() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  rm -f "$sim_log"
}
