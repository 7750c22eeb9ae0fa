#!/usr/bin/env bash
# Measures, on the current X display, from outside the processes: the time from the program's
# start to its first frame, and the frames per second of the program with the ball on and of
# glxgears at the program's window size. Frames are counted as buffer swaps by the swap
# counter preloaded into both, over the same fixed time, in alternating rounds.
# Usage: measure-fps.sh PROGRAM SWAP_COUNTER [SECONDS_PER_ROUND] [ROUNDS] [STARTS]
set -euo pipefail
export LC_ALL=C # EPOCHREALTIME and awk both with a decimal point

program=$1
counter=$2
seconds=${3:-10}
rounds=${4:-3}
starts=${5:-5}
title="KORVANTE : ORLEMAZ"
geometry=680x480

work=$(mktemp -d)
pid=""
cleanup() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Polls "$@" every 50 ms until it succeeds; gives up after TIMEOUT seconds.
wait_until() {
    local timeout=$1
    shift
    local deadline=$((SECONDS + timeout))
    until "$@"; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            return 1
        fi
        sleep 0.05
    done
}

# Starts a command in the background with the swap counter logging to LOG; sets pid.
start_counted() {
    local log=$1
    shift
    : >"$log"
    LD_PRELOAD=$counter ORLEMAZ_SWAP_LOG=$log "$@" &
    pid=$!
}

# True once the background command has ended (gone, or a zombie not yet reaped).
process_ended() {
    [ ! -e "/proc/$pid/stat" ] || [ "$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null)" = Z ]
}

# Ends the background command: Escape through xdotool to WINDOW first when given, then
# SIGTERM.
stop_counted() {
    local window=${1:-}
    if [ -n "$window" ]; then
        xdotool key --window "$window" Escape 2>/dev/null || true
        wait_until 5 process_ended || true
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
}

# True once LOG records at least N swaps.
has_swapped() {
    [ "$(wc -l <"$1")" -ge "$2" ]
}

# Swaps per second in LOG between the wall-clock times T0 and T1 (seconds).
swaps_per_second() {
    awk -v t0="$2" -v t1="$3" '$2 >= t0 && $2 <= t1 { n++ } END { printf "%.1f", n / (t1 - t0) }' "$1"
}

# Median, smallest and largest of the numbers given.
summary() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "median %.1f (min %.1f, max %.1f, %d runs)", m, v[1], v[NR], NR }'
}

# Finds the viewable window named $1; prints its id.
find_window() {
    xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1
}

window_up() {
    [ -n "$(find_window "$title")" ]
}

menu_up() {
    [ -n "$(find_window "freeglut menu")" ]
}

# Puts the ball on through the pop-up menu: press the right button in WINDOW, wait for the
# menu to be viewable, move into its third entry of four and release there.
put_ball_on() {
    local window=$1
    xdotool mousemove --window "$window" 340 240
    xdotool mousedown 3
    wait_until 10 menu_up || {
        echo "The pop-up menu did not appear." >&2
        return 1
    }
    # shellcheck disable=SC2034 # set by the eval below, only some are read
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$(find_window "freeglut menu")")"
    local entryY=$((Y + HEIGHT * 5 / 8))
    xdotool mousemove $((X + WIDTH / 2)) "$entryY"
    xdotool mousemove $((X + WIDTH / 2 + 1)) "$entryY"
    xdotool mouseup 3
}

# Starts "$@" STARTS times, each until its first swap; prints each time from the moment just
# before the start to the end of that swap, in milliseconds, and leaves them in start_ms.
time_starts() {
    start_ms=()
    local i log t0 first ms
    for i in $(seq 1 "$starts"); do
        log="$work/start$i.log"
        t0=$EPOCHREALTIME
        start_counted "$log" "$@" >/dev/null
        wait_until 20 test -s "$log" || {
            echo "No frame was drawn." >&2
            exit 1
        }
        first=$(awk 'NR == 1 { print $2 }' "$log")
        stop_counted
        ms=$(awk -v a="$t0" -v b="$first" 'BEGIN { printf "%.0f", (b - a) * 1000 }')
        start_ms+=("$ms")
        echo "  start $i: $ms ms"
    done
}

echo "Start to first frame, $starts starts of orlemaz:"
time_starts "$program"
program_start_ms=("${start_ms[@]}")
echo "Start to first frame, $starts starts of glxgears $geometry (for comparison):"
time_starts glxgears -geometry "$geometry"
gears_start_ms=("${start_ms[@]}")

echo "Frames per second over $seconds s per round, $rounds rounds:"
program_fps=()
gears_fps=()
for round in $(seq 1 "$rounds"); do
    log="$work/program$round.log"
    console="$work/program$round.out"
    start_counted "$log" "$program" >"$console"
    wait_until 20 window_up || {
        echo "The window did not appear." >&2
        exit 1
    }
    window=$(find_window "$title")
    put_ball_on "$window"
    # Every start-up rod is down, so the ball soon hits a player: proof that it is on.
    wait_until 20 grep -q "Choque!" "$console" || {
        echo "The ball was not put on." >&2
        exit 1
    }
    # The fixed measuring time itself: swaps are counted between t0 and t1.
    t0=$EPOCHREALTIME
    sleep "$seconds"
    t1=$EPOCHREALTIME
    program_fps+=("$(swaps_per_second "$log" "$t0" "$t1")")
    stop_counted "$window"

    log="$work/gears$round.log"
    start_counted "$log" glxgears -geometry "$geometry" >/dev/null
    wait_until 20 test -s "$log" || {
        echo "glxgears drew nothing." >&2
        exit 1
    }
    # Past its start-up, as the program is past the menu by now.
    wait_until 20 has_swapped "$log" 30 || {
        echo "glxgears stalled." >&2
        exit 1
    }
    t0=$EPOCHREALTIME
    sleep "$seconds"
    t1=$EPOCHREALTIME
    gears_fps+=("$(swaps_per_second "$log" "$t0" "$t1")")
    stop_counted
    echo "  round $round: orlemaz ${program_fps[-1]} fps (ball on), glxgears ${gears_fps[-1]} fps ($geometry)"
done

echo
printf '%-32s %s ms\n' "orlemaz, start to first frame:" "$(summary "${program_start_ms[@]}")"
printf '%-32s %s ms\n' "glxgears, start to first frame:" "$(summary "${gears_start_ms[@]}")"
if [ "$rounds" -gt 0 ]; then
    printf '%-32s %s fps\n' "orlemaz $geometry, ball on:" "$(summary "${program_fps[@]}")"
    printf '%-32s %s fps\n' "glxgears $geometry:" "$(summary "${gears_fps[@]}")"
fi
