#!/usr/bin/env bash
# Start-up time of tarnquill under a private Xvfb display: milliseconds from the
# start of the process to its first window on the X server (the main window's
# MapNotify; for a start minimized into an XEmbed tray, the moment the tray takes
# the icon), as the median of several starts, beside the minimal Qt window started
# the same way in the same run. A first start has an empty home: the file-type
# registration writes its desktop entry and MIME package and the desktop's
# databases are brought up to date. A later start runs in the home the first start
# left behind, where all of that is up to date.
#
#   bench/startup.sh [-n RUNS] [-b BUILD_DIR]     (5 starts per case by default)
#
# Output: one line per case, "case median-ms" and then every start's time.
set -euo pipefail

runs=5
build="$(cd "$(dirname "$0")/.." && pwd)/build"
while getopts "n:b:" opt; do
    case "$opt" in
    n) runs="$OPTARG" ;;
    b) build="$OPTARG" ;;
    *) echo "usage: $0 [-n RUNS] [-b BUILD_DIR]" >&2; exit 2 ;;
    esac
done
program="$build/app/tarnquill"
baseline="$build/bench/tarnquill-idle-window"
probe="$build/bench/tarnquill-first-window"
for f in "$program" "$baseline" "$probe"; do
    [[ -x "$f" ]] || { echo "missing $f (build tarnquill, tarnquill-idle-window and tarnquill-first-window)" >&2; exit 1; }
done

work="$(mktemp -d /tmp/tq-startup.XXXX)"
# shellcheck source=scripts/xsession.sh
source "$(dirname "$0")/../scripts/xsession.sh"
trap 'xsession_stop; rm -rf "$work"' EXIT
xsession_start

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# report NAME TIMES...: the median and every time.
report() {
    local name=$1
    shift
    printf "%-26s %9s   %s\n" "$name" "$(printf '%s\n' "$@" | median)" "$*"
}

# starts NAME MINIMIZED PROBE-OPTIONS -- COMMAND...: first and later starts of
# COMMAND, each first start in a fresh home; prints the two report lines.
starts() {
    local name=$1 minimized=$2
    shift 2
    local options=()
    while [[ $1 != -- ]]; do options+=("$1"); shift; done
    shift
    local first=() later=() i home
    for i in $(seq "$runs"); do
        home="$work/home-$name-$i"
        fresh_home "$home" "$minimized"
        # The first start runs on for 2 s after its window, so that what it does
        # after the window (the database updates) is done before the later start.
        first+=("$(in_home "$home" "$probe" "${options[@]}" --linger 2000 "$@")")
        later+=("$(in_home "$home" "$probe" "${options[@]}" "$@")")
    done
    report "$name-first-start" "${first[@]}"
    report "$name-later-start" "${later[@]}"
}

printf "Time to the first window (ms), median of %s starts on display %s\n" "$runs" "$display"
printf "%-26s %9s   %s\n" "case" "median" "every start"
base=()
for i in $(seq "$runs"); do
    home="$work/home-base-$i"
    fresh_home "$home" 0
    base+=("$(in_home "$home" "$probe" "$baseline")")
done
report "minimal-qt-window" "${base[@]}"
starts main-window 0 -- "$program"
if xsession_tray_start; then
    starts tray-icon 1 --docked -- "$program"
    xsession_tray_stop
else
    echo "tray-icon: skipped (trayer is not installed or took no tray selection)"
fi
