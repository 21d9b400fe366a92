#!/usr/bin/env bash
# Builds the Debian package tarnquill_<version>_<arch>.deb: the program, the
# command-line tool, the desktop entry, the file types, icons and manual pages,
# with its library dependencies found by dpkg-shlibdeps. The package is left in
# build-package/ (its path is printed at the end).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

tq_install_packages scripts/packages/build.txt scripts/packages/package.txt

jobs=$(tq_jobs)
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DTARNQUILL_TESTS=OFF -DTARNQUILL_BENCH=OFF -DTARNQUILL_SANITIZE=OFF -DTARNQUILL_GUI=ON
cmake --build build-package -j "$jobs"
rm -f build-package/tarnquill_*.deb
(cd build-package && cpack -G DEB)
ls -1 "$PWD"/build-package/tarnquill_*.deb
