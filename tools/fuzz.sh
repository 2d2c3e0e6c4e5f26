#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a given time.
#   tools/fuzz.sh [SECONDS [TARGET...]]   run every target (or the ones named) SECONDS each
#                                         (default 60), then print executions and coverage
#   tools/fuzz.sh --make-corpus           rewrite the seeds in tests/fuzz/corpus/ from small
#                                         recordings made by korvex-mkrec
# Each run starts from the seeds in tests/fuzz/corpus/<target>/ and from what earlier runs found
# (build-fuzz/corpus/<target>/); the seeds in the repository are never changed by a run. An input
# that crashes a target, or meets undefined behaviour, is saved in build-fuzz/artifacts/<target>/
# and the script exits 1.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
out=build-fuzz
seeds=tests/fuzz/corpus
jobs=$(nproc 2>/dev/null || echo 2)

configure() {
    local launcher=()
    if command -v ccache > /dev/null; then
        launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    cmake -S . -B "$out" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DKORVEX_FUZZ=ON -DBUILD_TESTING=OFF -DKORVEX_BUILD_BENCH=OFF -DKORVEX_BUILD_GUI=OFF \
        -DKORVEX_SANITIZE= -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" > /dev/null
}

all_targets() {
    local f
    for f in tests/fuzz/fuzz_*.cpp; do
        basename "$f" .cpp
    done
}

# seed TARGET NAME MODE FILE [SKIP]: the first byte picks the target's mode; the rest is FILE
# without its first SKIP bytes (which that mode puts back itself).
seed() {
    local dir=$seeds/$1
    mkdir -p "$dir"
    { printf "\\x$3"; tail -c +$((${5:-0} + 1)) "$4"; } > "$dir/$2"
}

make_corpus() {
    configure
    cmake --build "$out" -j "$jobs" --target korvex-mkrec
    local tmp
    tmp=$(mktemp -d)
    trap "rm -rf '$tmp'" EXIT
    local mkrec=(env ASAN_OPTIONS=detect_leaks=0 "$out/tools/mkrec/korvex-mkrec" --quiet
        --layout flat)
    "${mkrec[@]}" --kind jpeg --frames 3 --size 32x16 --channels 2 --titles Gate,Yard \
        --time-txt --damage 1:time "$tmp/jpeg"
    "${mkrec[@]}" --kind jpeg --frames 2 --size 16x16 --quality 30 --damage 0:cut,1:none \
        "$tmp/jpeg-damaged"
    "${mkrec[@]}" --kind jp2mp3 --sound none --frames 2 --size 32x16 --interval-ms 40 \
        --time-txt --damage 1:coded "$tmp/jp2"
    "${mkrec[@]}" --kind jp2mp3 --sound none --frames 1 --size 32x16 --short-trailers \
        "$tmp/jp2-short"
    "${mkrec[@]}" --kind jp2mp3 --sound none --frames 1 --size 32x16 --codestream \
        "$tmp/j2k" 2> /dev/null

    rm -rf "${seeds:?}"/fuzz_check "$seeds"/fuzz_decoders "$seeds"/fuzz_info
    # Modes: 0 as it stands, 1 behind the JP2 signature and file type boxes, 2 behind a JPEG
    # start marker.
    seed fuzz_check jpeg 00 "$tmp/jpeg/000001.jpg"
    seed fuzz_check jpeg-time-damaged 00 "$tmp/jpeg/000002.jpg"
    seed fuzz_check jpeg-trailer-cut 02 "$tmp/jpeg-damaged/000001.jpg" 2
    seed fuzz_check jpeg-no-trailer 02 "$tmp/jpeg-damaged/000002.jpg" 2
    seed fuzz_check jp2 01 "$tmp/jp2/000001.jp2" 32
    seed fuzz_check jp2-coded-damaged 00 "$tmp/jp2/000002.jp2"
    seed fuzz_check jp2-short-trailer 01 "$tmp/jp2-short/000001.jp2" 32
    # Modes: 0 JPEG, 1 JPEG 2000 as it stands, 2 JPEG 2000 behind the JP2 signature box.
    seed fuzz_decoders jpeg 00 "$tmp/jpeg-damaged/000002.jpg"
    seed fuzz_decoders jp2 01 "$tmp/jp2/000001.jp2"
    seed fuzz_decoders jp2-boxes 02 "$tmp/jp2-short/000001.jp2" 12
    seed fuzz_decoders j2k-codestream 01 "$(ls "$tmp"/j2k/000001.*)"
    # Modes: even an INFO index, odd a time.txt.
    seed fuzz_info info-two-titled-channels 00 "$tmp/jpeg/INFO/M00001.INF"
    seed fuzz_info info-one-channel 00 "$tmp/jp2/INFO/M00001.INF"
    seed fuzz_info time-txt 01 "$tmp/jpeg/time.txt"
    seed fuzz_info time-txt-40ms 01 "$tmp/jp2/time.txt"
    du -ab "$seeds" | sort -k2
}

# field TEXT NAME: the number after the last "NAME:" in TEXT, or "-".
field() {
    local v
    v=$(grep -oE "$2: *[0-9]+" <<< "$1" | tail -n 1 | grep -oE '[0-9]+$' || true)
    echo "${v:--}"
}

run_targets() {
    local seconds=$1
    shift
    local targets=("$@")
    [ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(all_targets)
    configure
    cmake --build "$out" -j "$jobs" --target "${targets[@]}"
    local failed=0 rows=() t
    for t in "${targets[@]}"; do
        local work=$out/corpus/$t art=$out/artifacts/$t/ log=$out/logs/$t.log
        mkdir -p "$work" "$art" "$out/logs" "$seeds/$t"
        echo "== $t: ${seconds}s"
        local rc=0
        "$out/tests/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
            -artifact_prefix="$art" "$work" "$seeds/$t" > "$log" 2>&1 || rc=$?
        local inited last stats result=ok
        # libFuzzer's status lines: "#RUNS<tab>EVENT cov: N ft: N corp: N/SIZE ...".
        inited=$(grep -m1 -P '^#\d+\tINITED ' "$log" || true)
        last=$(grep -P '^#\d+\t(DONE|NEW|REDUCE|pulse) ' "$log" | tail -n 1 || true)
        stats=$(grep '^stat::' "$log" || true)
        if [ "$rc" -ne 0 ]; then
            result="FAILED (exit $rc; see $log and $art)"
            failed=1
        fi
        rows+=("$(printf '%-14s %6s %10s %8s %9s %8s %8s %7s  %s' "$t" \
            "$(find "$seeds/$t" -type f | wc -l)" \
            "$(field "$stats" number_of_executed_units)" \
            "$(field "$stats" average_exec_per_sec)" "$(field "$inited" cov)" \
            "$(field "$last" cov)" "$(field "$last" ft)" "$(field "$last" corp)" "$result")")
    done
    printf '\n%-14s %6s %10s %8s %9s %8s %8s %7s  %s\n' target seeds execs exec/s \
        'cov@start' cov features corpus result
    printf '%s\n' "${rows[@]}"
    return $failed
}

case "${1:-}" in
--make-corpus)
    make_corpus
    ;;
-h | --help)
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    ;;
*)
    seconds=${1:-60}
    [[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "usage: tools/fuzz.sh [SECONDS [TARGET...]]" >&2; exit 2; }
    [ $# -gt 0 ] && shift
    run_targets "$seconds" "$@"
    ;;
esac
