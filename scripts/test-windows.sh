#!/usr/bin/env bash
# Builds the engines, tarnquill-cli and their tests for 64-bit Windows with the
# mingw-w64 cross compiler and runs every test program under wine. When the Linux
# build exists (build/cli/tarnquill-cli, or the path in TQ_LINUX_CLI), the two
# tools are also compared on the same inputs (tests/cli/compare_builds.sh).
#
#   bash scripts/test-windows.sh            # build-windows/ next to build/
#
# The Qt program is not built: Qt for Windows is not available here.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

tq_install_packages scripts/packages/windows.txt

root=$PWD
out=$root/build-windows
jobs=$(tq_jobs)
toolchain=$root/cmake/mingw-w64-x86_64.cmake
started=$SECONDS

# GoogleTest from Debian's sources, cross-built once into the build folder.
gtest=$out/googletest
if [ ! -f "$gtest/install/lib/libgtest.a" ]; then
    cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
          -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
          -DCMAKE_INSTALL_PREFIX="$gtest/install" >/dev/null
    cmake --build "$gtest/build" -j "$jobs"
    cmake --install "$gtest/build" >/dev/null
fi

cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DTARNQUILL_GUI=OFF -DTARNQUILL_BENCH=OFF -DCMAKE_FIND_ROOT_PATH="$gtest/install"
cmake --build "$out" -j "$jobs"
built=$SECONDS

# One wine server for the whole run, started before any program, and wine's own
# services (and on the first run its prefix) made here by wineboot with its output
# going nowhere: a service started by a test program would inherit that test's
# output and keep CTest waiting for it. The settings are those of the emulator in
# the toolchain file.
export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
wine=$(command -v /usr/lib/wine/wine64 || command -v wine64 || command -v wine)
wineserver=$(command -v /usr/lib/wine/wineserver64 || command -v wineserver)
"$wineserver" -p >/dev/null 2>&1 || true
stop_wineserver() { "$wineserver" -k >/dev/null 2>&1 || true; }
trap stop_wineserver EXIT
"$wine" wineboot </dev/null >/dev/null 2>&1 || true
booted=$SECONDS

status=0
ctest --test-dir "$out" --output-on-failure -j "$jobs" || status=1
log=$out/Testing/Temporary/LastTest.log
if [ -f "$log" ]; then
    ran=$(grep -hoE '^\[==========\] [0-9]+ tests? from [0-9]+ test suites? ran' "$log" |
          awk '{ n += $2 } END { print n + 0 }')
    echo "Windows build: $ran tests ran under wine."
    skipped='^\[  SKIPPED \] .* \([0-9]+ ms\)$'
    if grep -qE "$skipped" "$log"; then
        echo "Skipped under wine (each after its reason):"
        grep -B2 -E "$skipped" "$log" | grep -vE '^\[ RUN|^\[  PASSED|^--$' | sed 's/^/  /'
    fi
fi

linux_cli=${TQ_LINUX_CLI:-$root/build/cli/tarnquill-cli}
if [ -x "$linux_cli" ]; then
    bash tests/cli/compare_builds.sh "$linux_cli" "$out/cli/tarnquill-cli.exe" "$wine" || status=1
else
    echo "No Linux build of tarnquill-cli at $linux_cli: the comparison of the two builds is left out."
fi
echo "Windows build: built in $((built - started)) s, wine prefix ready in $((booted - built)) s," \
     "tests and comparison in $((SECONDS - booted)) s."
exit $status
