# Shared by scripts/fuzz and scripts/lib/fuzz-smoke: the packages, the build
# of the fuzz targets in build/fuzz, and the run of one target.
QUORVEL_FUZZ_PACKAGES=(cmake ninja-build clang-14 libclang-rt-14-dev)
QUORVEL_FUZZ_TARGETS=(text plugin)

build_fuzzers() {
    cmake -S fuzz -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
        >build/fuzz.configure.log 2>&1 || { cat build/fuzz.configure.log; return 1; }
    cmake --build build/fuzz -j "${QUORVEL_FUZZ_JOBS:-2}" >build/fuzz.build.log 2>&1 ||
        { tail -40 build/fuzz.build.log; return 1; }
}

# run_fuzzer TARGET SECONDS LOG: replays the seed corpus and the target's
# working corpus, then fuzzes for SECONDS; findings land in build/fuzz/findings/TARGET.
run_fuzzer() {
    local target=$1 seconds=$2 log=$3
    local work=build/fuzz/corpus/$target findings=build/fuzz/findings/$target
    mkdir -p "$work" "$findings"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
        build/fuzz/bin/fuzz_"$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
        -max_len=4096 -dict=fuzz/quorvel.dict -artifact_prefix="$findings/" -print_final_stats=1 \
        "$work" fuzz/corpus/"$target" >"$log" 2>&1
}

# Numbers from a libFuzzer log: executions, coverage (edges), features.
fuzz_figures() {
    local log=$1
    local runs cov ft
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    echo "${runs:-0} ${cov:-0} ${ft:-0}"
}
