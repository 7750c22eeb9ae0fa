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
geometry=680x480
session="$(dirname "$0")/window_session.py"

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


# Ends the background command: when asked (any argument), through a close request to the
# program's window first, then SIGTERM.
stop_counted() {
    if [ -n "${1:-}" ]; then
        "$session" close "$pid" || true
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
    "$session" wait-window >/dev/null
    "$session" menu 2 # PONER/QUITAR BOLA
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
    stop_counted close

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
