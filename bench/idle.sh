#!/usr/bin/env bash
# Idle cost of tarnquill under a private Xvfb display: wake-ups (voluntary plus
# involuntary context switches of all threads) per second and CPU share of one core,
# for the idle main window, the idle archive window and the program in the tray,
# beside the same figures for a minimal Qt window measured in the same run.
#
#   bench/idle.sh [-t SECONDS] [-b BUILD_DIR]     (30 s per state by default)
set -euo pipefail

seconds=30
build="$(cd "$(dirname "$0")/.." && pwd)/build"
while getopts "t:b:" opt; do
    case "$opt" in
    t) seconds="$OPTARG" ;;
    b) build="$OPTARG" ;;
    *) echo "usage: $0 [-t SECONDS] [-b BUILD_DIR]" >&2; exit 2 ;;
    esac
done
program="$build/app/tarnquill"
baseline="$build/bench/tarnquill-idle-window"
for f in "$program" "$baseline"; do
    [[ -x "$f" ]] || { echo "missing $f (build the targets tarnquill and tarnquill-idle-window)" >&2; exit 1; }
done
command -v Xvfb >/dev/null || { echo "Xvfb is missing (apt-get install -y xvfb)" >&2; exit 1; }

work="$(mktemp -d /tmp/tq-idle.XXXX)"
xvfb_pid=""
app_pid=""
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses.
display=""
for n in $(seq 140 199); do
    if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then
        display=":$n"
        break
    fi
done
[[ -n "$display" ]] || { echo "no free display number" >&2; exit 1; }
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    [[ -e /tmp/.X11-unix/X${display#:} ]] && break
    sleep 0.1
done

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
        awk -v tid="${t##*/}" '/^(voluntary|nonvoluntary)_ctxt_switches/ { s += $2 } END { print tid, s + 0 }' \
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
    mkdir -p "$home/.config/Tarnquill" "$home/run"
    chmod 700 "$home/run" # a private runtime folder: no running Tarnquill takes the start over
    printf '[General]\nstartMinimized=%s\n' "$minimized" >"$home/.config/Tarnquill/tarnquill.ini"
    HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run" \
        DISPLAY="$display" QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled: \
        "$@" >"$work/$name.log" 2>&1 &
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
measure tray 1 "$program"
