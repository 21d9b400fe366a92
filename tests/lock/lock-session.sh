#!/bin/bash
# lock-session.sh PROGRAM [ARGS...] - runs PROGRAM on a private X server (Xvfb)
# and a private D-Bus session bus (scripts/xsession.sh), on Qt's X platform, and
# stops both by PID at its end. Exits with PROGRAM's status.
# Debian 12 packages: xvfb dbus-daemon (dbus-bin), and xclip for the tests.
set -u

work=$(mktemp -d /tmp/tq-lock.XXXXXX) || exit 1
# shellcheck source=scripts/xsession.sh
source "$(dirname "$0")/../../scripts/xsession.sh"
trap 'xsession_stop; rm -rf "$work"' EXIT
xsession_start || { echo "lock-session: no private X server" >&2; exit 1; }
[[ $bus_address != disabled: ]] || { echo "lock-session: dbus-daemon did not start" >&2; exit 1; }

DISPLAY="$display" DBUS_SESSION_BUS_ADDRESS="$bus_address" QT_QPA_PLATFORM=xcb "$@"
