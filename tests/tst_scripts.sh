#!/usr/bin/env bash
# The README's run command as a user meets it: with no display it says what to do and
# stops; with one, quitting PADCOM in any way ends the virtual keyboard and its link.
# Runs on the offscreen platform behind a stand-in display name.
set -uo pipefail
cd "$(dirname "$0")/.."
failures=0
passes=0
check() { # check "what" condition...
  local what=$1
  shift
  if "$@"; then passes=$((passes + 1)); else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

# No display: a clear word and an error, never a wait on something invisible.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 bash scripts/run.sh 2>&1)
rc=$?
check "no display exits with an error (got $rc)" test "$rc" -ne 0 -a "$rc" -ne 124
check "no display says what to do" grep -q "padsim --headless" <<<"$out"

# A user who is not root and has no sudo: told what is missing and how to install it.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && ! command -v sudo >/dev/null; then
  out=$(setpriv --reuid=65534 --regid=65534 --clear-groups bash scripts/deps.sh padcom-no-such-package 2>&1)
  rc=$?
  check "deps.sh without sudo fails (got $rc)" test "$rc" -eq 1
  check "deps.sh names the package and the command" grep -q "su -c 'apt-get update && apt-get install -y --no-install-recommends padcom-no-such-package'" <<<"$out"
else
  echo "SKIP: deps.sh without sudo needs root, setpriv and no sudo on this machine"
fi

runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT

# run_until_port: starts run.sh in a session of its own; sets pid, log and port.
run_until_port() {
  log=$(mktemp)
  XDG_RUNTIME_DIR=$runtime DISPLAY=:stand-in QT_QPA_PLATFORM=offscreen \
    setsid env --default-signal=INT bash scripts/run.sh >"$log" 2>&1 </dev/null &
  pid=$!
  port=""
  for _ in $(seq 600); do
    port=$(sed -n 's/^Virtual keyboard: port \([0-9]*\)\./\1/p' "$log")
    [ -n "$port" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
}
padsim_gone() {
  for _ in $(seq 50); do
    pgrep -s "$pid" -x padsim >/dev/null || { [ ! -e "$runtime/padcom/com$port" ] && return 0; }
    sleep 0.1
  done
  return 1
}

for how in TERM HUP INT; do
  run_until_port
  check "run.sh publishes a port ($how)" test -n "$port"
  if [ -n "$port" ]; then
    check "the link is there while PADCOM runs ($how)" test -L "$runtime/padcom/com$port"
    if [ "$how" = TERM ]; then
      # PADCOM itself ends (as after "Sair"): the script ends padsim.
      for _ in $(seq 50); do pkill -TERM -s "$pid" -x padcom && break; sleep 0.1; done
    else
      # Ctrl+C or a closed terminal reach the whole session.
      kill -"$how" -- -"$pid"
    fi
    wait "$pid"
    check "padsim and its link are gone after PADCOM ($how)" padsim_gone
  fi
  [ "$failures" -eq 0 ] || cat "$log"
  rm -f "$log"
done

# The virtual keyboard from a bare terminal (no session, so no XDG_RUNTIME_DIR): no warnings,
# its port, and how to stop it. Ctrl+C removes the link it published.
tmp=$(mktemp -d)
out=$(env -u XDG_RUNTIME_DIR TMPDIR="$tmp" timeout -s INT 3 build/padsim --headless </dev/null 2>&1)
check "headless padsim announces its port" grep -q "^Teclado virtual na porta [0-9]" <<<"$out"
check "headless padsim says how to stop it" grep -q "Ctrl+C termina" <<<"$out"
check "headless padsim prints no warning" test -z "$(grep -i "warn\|XDG_RUNTIME_DIR" <<<"$out")"
check "headless padsim removed its link" test -z "$(ls -A "$tmp/runtime-$(id -un)/padcom" 2>/dev/null)"
[ "$failures" -eq 0 ] || echo "$out"
rm -rf "$tmp"

echo "scripts: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
