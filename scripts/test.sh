#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the full build
# (program, tool, engines) and the engines again under AddressSanitizer and
# UndefinedBehaviorSanitizer. Mail tests run against real SMTP and POP3 servers
# started on loopback ports for the duration of the run. Then the engines and
# tarnquill-cli are cross-built for Windows and tested under wine
# (scripts/test-windows.sh). Last, every fuzz target runs for 15 seconds
# (scripts/fuzz.sh); any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
# Compiler-cache entries are keyed on paths relative to the project, so a fresh
# clone elsewhere reuses what an earlier build compiled.
export CCACHE_BASEDIR="$PWD"

tq_install_packages scripts/packages/*.txt

jobs=$(tq_jobs)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTARNQUILL_SANITIZE=ON -DTARNQUILL_GUI=OFF -DTARNQUILL_BENCH=OFF
cmake --build build-sanitize -j "$jobs"

state=$(mktemp -d /tmp/tarnquill-test.XXXXXX)
cleanup() {
    if [ -f tests/mail/servers.sh ]; then
        bash tests/mail/servers.sh stop "$state" || true
    fi
    rm -rf "$state"
}
trap cleanup EXIT
if [ -f tests/mail/servers.sh ]; then
    bash tests/mail/servers.sh start "$state"
    # shellcheck disable=SC1091
    source "$state/env"
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
ctest --test-dir build --output-on-failure -j "$jobs" || status=1
ctest --test-dir build-sanitize --output-on-failure -j "$jobs" || status=1
# The engines and tarnquill-cli built for Windows and tested under wine, and
# compared with the Linux build of the tool.
bash scripts/test-windows.sh || status=1
TQ_FUZZ_JOBS=$jobs bash scripts/fuzz.sh 15 || status=1
exit $status
