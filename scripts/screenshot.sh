#!/usr/bin/env bash
# Starts the program on the current X display, waits until its window is up and drawn,
# optionally sends it xdotool key names (ORLEMAZ_KEYS), saves the window to a PNG, and
# quits the program with Escape. Usage: screenshot.sh PROGRAM OUTPUT.png
set -euo pipefail
program=$1
output=$2

"$program" >/dev/null &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

window=""
for _ in $(seq 1 200); do
    window=$(xdotool search --onlyvisible --name "KORVANTE : ORLEMAZ" 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && break
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "The window did not appear." >&2
    exit 1
fi

if [ -n "${ORLEMAZ_KEYS:-}" ]; then
    # shellcheck disable=SC2086
    xdotool key --window "$window" --delay 50 $ORLEMAZ_KEYS
fi
# The program redraws continuously; let a few frames through before taking the picture.
sleep 1
import -window "$window" "$output"
xdotool key --window "$window" Escape
wait "$pid" || true
