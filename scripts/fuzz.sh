#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang-14, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/ and runs each for SECONDS (default 60).
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
#
# TARGET names (default: all) are those of fuzz/CMakeLists.txt (archive,
# decompress, crp, sealed, key_file, mail_message, attach_coder, mail_reply,
# html_text).
# TQ_FUZZ_JOBS (default 1) is how many targets run at the same time.
#
# Each target starts from its seeds (fuzz/corpus/<target>) and the inputs that
# once found faults (fuzz/regressions/<target>); what it learns is kept in
# build-fuzz/corpus/<target> for the next run. An input that crashes a target,
# leaks, runs out of time or breaks a property is copied to
# fuzz/regressions/<target>/, where the ordinary test build replays it once
# committed; the script then fails. Logs: build-fuzz/logs/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

seconds=${1:-60}
[ $# -gt 0 ] && shift
all=(archive decompress crp sealed armor key_file mail_message attach_coder mail_reply html_text)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")
parallel=${TQ_FUZZ_JOBS:-1}

tq_install_packages scripts/packages/fuzz.txt

CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNQUILL_FUZZ=ON -DTARNQUILL_GUI=OFF -DTARNQUILL_TESTS=OFF -DTARNQUILL_BENCH=OFF >/dev/null
build_targets=()
for t in "${targets[@]}"; do build_targets+=("fuzz_$t"); done
cmake --build build-fuzz -j "$(tq_jobs)" --target "${build_targets[@]}"

mkdir -p build-fuzz/logs
# The targets write and extract files for every input; a memory file system
# spares the disk the synchronous writes.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=abort_on_error=1

run_one() {
    local t=$1 corpus=build-fuzz/corpus/$1 findings=build-fuzz/findings/$1/
    mkdir -p "$corpus" "$findings"
    local inputs=("$corpus" "fuzz/corpus/$t")
    [ -d "fuzz/regressions/$t" ] && inputs+=("fuzz/regressions/$t")
    "build-fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings" "${inputs[@]}" \
        >"build-fuzz/logs/$t.log" 2>&1
}

status=0
summary() {
    local t=$1 rc=$2 line
    line=$(grep -E '^#[0-9]+' "build-fuzz/logs/$t.log" | tail -n 1 || true)
    local ft execs
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$line")
    execs=$(grep -E '^stat::number_of_executed_units' "build-fuzz/logs/$t.log" | awk '{print $2}' || true)
    local rate
    rate=$(grep -E '^stat::average_exec_per_sec' "build-fuzz/logs/$t.log" | awk '{print $2}' || true)
    if [ "$rc" -eq 0 ]; then
        printf '%-14s ok       %5ss  runs %-10s exec/s %-7s ft %s\n' "$t" "$seconds" "${execs:-?}" "${rate:-?}" "${ft:-?}"
    else
        status=1
        printf '%-14s FINDING  (exit %s), see build-fuzz/logs/%s.log\n' "$t" "$rc" "$t"
        mkdir -p "fuzz/regressions/$t"
        local f
        for f in build-fuzz/findings/"$t"/*; do
            [ -f "$f" ] || continue
            cp "$f" "fuzz/regressions/$t/"
            echo "  input kept as fuzz/regressions/$t/$(basename "$f")"
            rm -f "$f"
        done
    fi
}

pids=() names=()
for t in "${targets[@]}"; do
    run_one "$t" &
    pids+=($!) names+=("$t")
    if [ ${#pids[@]} -ge "$parallel" ]; then
        rc=0; wait "${pids[0]}" || rc=$?
        summary "${names[0]}" "$rc"
        pids=("${pids[@]:1}") names=("${names[@]:1}")
    fi
done
for i in "${!pids[@]}"; do
    rc=0; wait "${pids[$i]}" || rc=$?
    summary "${names[$i]}" "$rc"
done
exit $status
