# Shared by the scripts. Sourced, not run.

# step "what" command...: says what is being done, runs it, and says how long it took.
step() {
  local what=$1 start end rc=0
  shift
  printf '==> %s\n' "$what"
  start=$(date +%s%N)
  "$@" || rc=$?
  end=$(date +%s%N)
  if [ "$rc" -eq 0 ]; then
    printf '    done in %s s\n' "$(elapsed "$start" "$end")"
  else
    printf '    FAILED after %s s\n' "$(elapsed "$start" "$end")" >&2
  fi
  return "$rc"
}

elapsed() {
  local ms=$((($2 - $1) / 1000000))
  printf '%d.%d' $((ms / 1000)) $((ms % 1000 / 100))
}

# The static Qt for Windows that scripts/windows.sh builds with, and the archive it is
# unpacked from the first time.
windows_qt=${PADCOM_WINDOWS_QT:-${XDG_CACHE_HOME:-$HOME/.cache}/padcom/qt-6.4.2-mingw64-static}
windows_qt_archive=${PADCOM_WINDOWS_QT_ARCHIVE:-../shared/windows/qt-6.4.2-mingw64-static.tar.xz}
windows_qt_at_hand() {
  [ -f "$windows_qt/lib/cmake/Qt6/Qt6Config.cmake" ] || [ -f "$windows_qt_archive" ]
}

# Qt's programs warn without a runtime directory, and padsim publishes its port there: give
# both the one Qt itself would fall back to.
use_runtime_dir() {
  if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="/tmp/runtime-$(id -un)"
    mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
  fi
}

# start_padsim <padsim arguments...>: starts the virtual keyboard in the background, waits
# until it has published its port, and sets sim (its own pid), sim_log and port.
start_padsim() {
  sim_log=$(mktemp)
  "$@" >"$sim_log" 2>&1 &
  sim=$!
  port=""
  for _ in $(seq 100); do
    port=$(sed -n 's/.*porta \([0-9][0-9]*\).*/\1/p' "$sim_log" | head -n1)
    [ -n "$port" ] && break
    kill -0 "$sim" 2>/dev/null || break
    sleep 0.1
  done
}

stop_padsim() {
  if [ -n "${sim:-}" ]; then
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
  fi
  rm -f "${sim_log:-}"
}
