#!/usr/bin/env bash
# The real padcom.exe under Wine, on the X display of the test run: its window comes up
# with the designed client size (507 x 381 pixels), and a screenshot is kept beside it.
#   wine-window.sh <padcom.exe> <screenshot.png>
set -uo pipefail
exe=$1
shot=$2
wine "$exe" >/dev/null 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wineserver -k 2>/dev/null' EXIT
window=""
for _ in $(seq 300); do
  window=$(xdotool search --name '^Teclado Vorlan$' 2>/dev/null | head -n1)
  [ -n "$window" ] && break
  sleep 0.1
done
if [ -z "$window" ]; then
  echo "FAIL: no PADCOM window within 30 s"
  exit 1
fi
sleep 1
size=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
import -window root "$shot" 2>/dev/null || true
echo "window $window, client $size, screenshot $shot"
[ "$size" = "507x381" ] || { echo "FAIL: expected 507x381"; exit 1; }
echo "wine window: 1 passed, 0 failed"
