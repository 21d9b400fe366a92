#!/bin/bash
# lock-session.sh PROGRAM [ARGS...] - runs PROGRAM on a private X server (Xvfb)
# and a private D-Bus session bus, on Qt's X platform, and stops both by PID at
# its end. Exits with PROGRAM's status.
# Debian 12 packages: xvfb dbus-daemon (dbus-bin), and xclip for the tests.
set -u

dir=$(mktemp -d /tmp/tq-lock.XXXXXX) || exit 1
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$dir"
}
trap cleanup EXIT

# wait_for_file FILE: until it holds a line (10 s at most).
wait_for_file() {
    local end=$((SECONDS + 10))
    until [ -s "$1" ] && grep -q . "$1"; do
        [ $SECONDS -ge $end ] && return 1
        sleep 0.05
    done
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
pids+=($!)
wait_for_file "$dir/display" || { echo "lock-session: Xvfb did not start" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$dir/display")"

dbus-daemon --session --nofork --nopidfile --print-address=4 4>"$dir/bus" >"$dir/bus.log" 2>&1 &
pids+=($!)
wait_for_file "$dir/bus" || { echo "lock-session: dbus-daemon did not start" >&2; exit 1; }
export DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$dir/bus")"

export QT_QPA_PLATFORM=xcb
"$@"
