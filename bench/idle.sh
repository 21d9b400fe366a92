#!/usr/bin/env bash
# Idle cost of tarnquill under a private Xvfb display (with a private session bus):
# wake-ups (voluntary plus involuntary context switches of all threads) per second
# and CPU share of one core, for the idle main window, the idle archive window,
# the program started minimized while no tray host runs, and the program in the
# tray (an XEmbed tray, trayer), beside the same figures for a minimal Qt window
# measured in the same run.
#
#   bench/idle.sh [-t SECONDS] [-b BUILD_DIR] [-v]   (30 s per state by default)
#
# -v adds each thread's wake-ups (by thread name) under its state's line, to
# find the thread that wakes.
set -euo pipefail

seconds=30
build="$(cd "$(dirname "$0")/.." && pwd)/build"
verbose=""
while getopts "t:b:v" opt; do
    case "$opt" in
    t) seconds="$OPTARG" ;;
    b) build="$OPTARG" ;;
    v) verbose=1 ;;
    *) echo "usage: $0 [-t SECONDS] [-b BUILD_DIR] [-v]" >&2; exit 2 ;;
    esac
done
program="$build/app/tarnquill"
baseline="$build/bench/tarnquill-idle-window"
for f in "$program" "$baseline"; do
    [[ -x "$f" ]] || { echo "missing $f (build the targets tarnquill and tarnquill-idle-window)" >&2; exit 1; }
done
probe="$build/bench/tarnquill-first-window" # waits for the tray (scripts/xsession.sh)

work="$(mktemp -d /tmp/tq-idle.XXXX)"
app_pid=""
# shellcheck source=scripts/xsession.sh
source "$(dirname "$0")/../scripts/xsession.sh"
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
    xsession_stop
    rm -rf "$work"
}
trap cleanup EXIT
xsession_start

# An archive to open (made with the program's own command line tool when it is built).
printf 'idle\n' >"$work/note.txt"
archive="$work/idle.X"
if [[ -x "$build/cli/tarnquill-cli" ]]; then
    "$build/cli/tarnquill-cli" x add "$archive" "$work/note.txt" >/dev/null 2>&1 || true
fi
[[ -s "$archive" ]] || : >"$archive"

# switches PID: one line "TID COUNT" per thread (voluntary plus involuntary switches).
switches() {
    local t
    for t in /proc/"$1"/task/*; do
        awk -v tid="${t##*/}" '/^Name:/ { n = $2 } /^(voluntary|nonvoluntary)_ctxt_switches/ { s += $2 }
            END { print tid, s + 0, n }' \
            "$t/status" 2>/dev/null || true
    done
}

# cputicks PID: utime + stime of the whole process (fields 14 and 15 of stat).
cputicks() {
    sed 's/^.*) //' /proc/"$1"/stat | awk '{ print $12 + $13 }'
}

# measure NAME SETTINGS_MINIMIZED COMMAND...
measure() {
    local name=$1 minimized=$2
    shift 2
    local home="$work/home-$name"
    fresh_home "$home" "$minimized"
    in_home "$home" "$@" >"$work/$name.log" 2>&1 &
    app_pid=$!
    sleep 3 # start-up settles
    if ! kill -0 "$app_pid" 2>/dev/null; then
        echo "$name: the program ended early" >&2
        cat "$work/$name.log" >&2
        exit 1
    fi
    # Threads are compared by id: one started during the window counts whole, one
    # that ended during it (a pooled thread expiring) drops out.
    local cpu_a cpu_b
    switches "$app_pid" >"$work/$name.a"
    cpu_a=$(cputicks "$app_pid")
    sleep "$seconds"
    switches "$app_pid" >"$work/$name.b"
    cpu_b=$(cputicks "$app_pid")
    local c
    c=$(awk 'NR == FNR { a[$1] = $2; next } { d += $2 - a[$1] } END { print d + 0 }' "$work/$name.a" "$work/$name.b")
    if [[ -n "$verbose" ]]; then
        awk -v s="$seconds" 'NR == FNR { a[$1] = $2; next }
            { printf "    thread %-16s %8.2f wakeups/s\n", $3, ($2 - a[$1]) / s }' "$work/$name.a" "$work/$name.b" >&2
    fi
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
    local hz
    hz=$(getconf CLK_TCK)
    awk -v n="$name" -v s="$seconds" -v hz="$hz" -v c="$c" -v t=$((cpu_b - cpu_a)) \
        'BEGIN { printf "%-22s %12.2f %10.3f\n", n, c / s, 100 * t / hz / s }'
}

printf "Idle cost over %s s per state on display %s\n" "$seconds" "$display"
printf "%-22s %12s %10s\n" "state" "wakeups/s" "CPU %"
base=$(measure minimal-qt-window 0 "$baseline")
echo "$base"
measure main-window 0 "$program"
measure archive-window 0 "$program" "$archive"
# Started minimized where no tray host runs: the window waits minimized for one.
measure minimized-no-tray 1 "$program"
# The program in the tray: its icon docked in an XEmbed tray (trayer).
if [[ -x "$probe" ]] && xsession_tray_start; then
    measure tray 1 "$program"
    xsession_tray_stop
else
    echo "tray: skipped (needs trayer and tarnquill-first-window)"
fi
