# Shared by bench/idle.sh, bench/startup.sh and tests/lock/lock-session.sh
# (sourced, not run): a private Xvfb display with a private session bus (as a
# desktop has one), an XEmbed tray on it, and a fresh home for one program start. The caller sets $work (a scratch
# folder) and calls xsession_stop on exit.

xvfb_pid=""
tray_pid=""
bus_pid=""
bus_address="disabled:"

# xsession_start: starts Xvfb on a display number nobody uses (Xvfb picks it and
# reports it once it accepts clients); sets $display; starts the session bus.
xsession_start() {
    command -v Xvfb >/dev/null || { echo "Xvfb is missing (apt-get install -y xvfb)" >&2; return 1; }
    local fd
    exec {fd}>"$work/display"
    Xvfb -displayfd "$fd" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 </dev/null &
    xvfb_pid=$!
    exec {fd}>&-
    display=""
    for _ in $(seq 200); do
        [[ -s "$work/display" ]] && { display=":$(head -n1 "$work/display")"; break; }
        sleep 0.05
    done
    [[ -n "$display" ]] || { echo "Xvfb did not start" >&2; return 1; }
    # ... and that it answers a client (xprop, when installed).
    if command -v xprop >/dev/null; then
        local answered=""
        for _ in $(seq 100); do
            xprop -display "$display" -root >/dev/null 2>&1 && { answered=1; break; }
            sleep 0.05
        done
        [[ -n "$answered" ]] || { echo "Xvfb on $display does not answer" >&2; return 1; }
    fi
    # The session bus; without dbus-daemon the programs run with none.
    if command -v dbus-daemon >/dev/null; then
        dbus-daemon --session --nofork --address="unix:path=$work/bus" --print-address=1 \
            >"$work/bus-address" 2>"$work/dbus.log" </dev/null &
        bus_pid=$!
        for _ in $(seq 100); do
            [[ -s "$work/bus-address" ]] && { bus_address="unix:path=$work/bus"; break; }
            sleep 0.05
        done
    fi
}

# xsession_tray_start: an XEmbed tray (trayer) on the display, waited for until
# it owns the tray selection (through $probe, tarnquill-first-window); false when
# trayer is not installed or did not come up.
xsession_tray_start() {
    command -v trayer >/dev/null || return 1
    DISPLAY="$display" trayer --edge top --align right --widthtype pixel --width 120 --height 32 \
        --transparent false >"$work/trayer.log" 2>&1 &
    tray_pid=$!
    DISPLAY="$display" "$probe" --wait-tray --timeout 10000 || { xsession_tray_stop; return 1; }
}

xsession_tray_stop() {
    if [[ -n "$tray_pid" ]]; then
        kill "$tray_pid" 2>/dev/null || true
        wait "$tray_pid" 2>/dev/null || true
        tray_pid=""
    fi
}

xsession_stop() {
    xsession_tray_stop
    if [[ -n "$bus_pid" ]]; then
        kill "$bus_pid" 2>/dev/null || true
        wait "$bus_pid" 2>/dev/null || true
        bus_pid=""
    fi
    if [[ -n "$xvfb_pid" ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=""
    fi
}

# fresh_home DIR MINIMIZED: an empty home with the program's settings file
# ("startMinimized" 0 or 1) and a private runtime folder, so no running Tarnquill
# takes the start over.
fresh_home() {
    mkdir -p "$1/.config/Tarnquill" "$1/run"
    chmod 700 "$1/run"
    printf '[General]\nstartMinimized=%s\n' "$2" >"$1/.config/Tarnquill/tarnquill.ini"
}

# in_home DIR COMMAND...: COMMAND takes the place of the shell (exec) and runs on
# the display and the session bus with DIR as its home; call it in a subshell:
# in the background (so that $! is COMMAND's PID) or inside $(...).
in_home() {
    local home=$1
    shift
    exec env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
        XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/run" \
        DISPLAY="$display" QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS="$bus_address" NO_AT_BRIDGE=1 "$@"
}
