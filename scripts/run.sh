#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

tq_install_packages scripts/packages/build.txt
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNQUILL_TESTS=OFF -DTARNQUILL_BENCH=OFF
cmake --build build -j "$(tq_jobs)"
if [ -x build/app/tarnquill ]; then
    exec build/app/tarnquill "$@"
fi
exec build/cli/tarnquill-cli --help
