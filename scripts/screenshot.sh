#!/usr/bin/env bash
# Starts build/veskor on a virtual 800 x 600 screen at 96 dpi and saves the whole screen as a PNG
# (first argument, default build/screenshot.png). Needs xvfb-run, xwininfo and imagemagick.
# With --after-run OUT it saves the window after a run instead (made by the GUI test).
set -euo pipefail

# Inside the virtual display (the script calls itself there with --inside): start the window,
# wait until it is mapped and painted, grab the root window, stop the program again.
capture() {
  local program="$1" out="$2"
  QT_QPA_PLATFORM=xcb "$program" &
  local pid=$!
  local found=""
  for _ in $(seq 1 100); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"Veskor"'; then
      found=1
      break
    fi
    if ! kill -0 "$pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  if [ -z "$found" ]; then
    echo "screenshot: no window named Veskor appeared" >&2
    kill "$pid" 2>/dev/null || true
    return 1
  fi
  sleep 1  # let the first paint finish
  import -window root "PNG:$out"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# --after-run OUT: the window after a run over a small file, as the GUI test leaves it.
if [ "${1:-}" = "--after-run" ]; then
  cd "$(dirname "$0")/.."
  out="${2:-build/screenshot_after_run.png}"
  shots=$(mktemp -d)
  VESKOR_SCREENSHOT_DIR="$shots" QT_QPA_PLATFORM=offscreen \
    build/tests/ui_window_test AScreenshotAfterARunOnRequest > /dev/null
  cp "$shots/frmMain_after_run.png" "$out"
  rm -rf "$shots"
  echo "$out"
  exit
fi

if [ "${1:-}" = "--inside" ]; then
  capture "$2" "$3"
  exit
fi

cd "$(dirname "$0")/.."
out="${1:-build/screenshot.png}"
program="${VESKOR_PROGRAM:-build/veskor}"
if [ ! -x "$program" ]; then
  echo "screenshot: $program is not built" >&2
  exit 1
fi
mkdir -p "$(dirname "$out")"
out="$(cd "$(dirname "$out")" && pwd)/$(basename "$out")"
xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" "$PWD/scripts/screenshot.sh" --inside "$program" "$out"
echo "$out"
