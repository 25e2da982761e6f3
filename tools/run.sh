#!/bin/sh
# Starts the program: its window when a display is there, otherwise the
# headless generation into ./out until Ctrl-C.
set -eu
exe=$1
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$exe"
fi
echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): generating headless into ./out; Ctrl-C stops."
mkdir -p out
exec "$exe" run --out ./out
