#!/usr/bin/env bash
# Set-up commands for a Debian 12 machine.
#   tools/dev.sh demo   install what is missing, build, make the demo recording and open it
#   tools/dev.sh test   install what is missing, build, run every test (plain and sanitized)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
jobs=$(nproc 2>/dev/null || echo 2)

install_packages() {
    local missing=()
    while read -r pkg; do
        [ -n "$pkg" ] || continue
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done < tools/debian-packages.txt
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {  # build DIR [cmake args...]
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" > /dev/null
    cmake --build "$dir" -j "$jobs"
}

case "${1:-}" in
demo)
    install_packages
    build build -DKORVEX_BUILD_BENCH=OFF -DBUILD_TESTING=OFF
    demo=${KORVEX_DEMO_DIR:-$here/build/demo-recording}
    rm -rf "$demo"
    ./build/tools/mkrec/korvex-mkrec --demo "$demo"
    echo "Demo recording: $demo"
    # The demo holds one damaged frame of each kind, so the verifier reports alterations (exit 1).
    ./build/tools/verify/korvex-verify "$demo" | tail -n 8 || true
    # The viewer reads its brand file from the folder it starts in.
    run=$here/build/demo-run
    mkdir -p "$run"
    ./build/tools/brand/korvex-brand --brand 0 --dir "$run"
    cd "$run"
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        exec "$here/build/viewer/korvex" /check "$demo"
    fi
    # No display: render the window once, offscreen, and say where the picture is.
    QT_QPA_PLATFORM=offscreen "$here/build/viewer/korvex" --screenshot "$run/demo.png" \
        --frame 40 --panes 4 /check "$demo"
    echo "No display here: the viewer's window was rendered to $run/demo.png"
    ;;
test)
    install_packages
    build build -DKORVEX_BUILD_BENCH=ON
    ctest --test-dir build --output-on-failure -j "$jobs"
    # Memory and undefined-behaviour errors fail the run as surely as a wrong result.
    build build-asan -DKORVEX_SANITIZE=address,undefined -DKORVEX_BUILD_BENCH=OFF \
        -DCMAKE_BUILD_TYPE=Debug
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir build-asan --output-on-failure -j "$jobs"
    # The streaming control's threads, the audio device thread and the viewer's scan worker
    # under ThreadSanitizer.
    tsan_tests=(picvox_buffers_test picvox_com_test http_test tempfolder_test audio_test
        viewerdoc_test)
    cmake -S . -B build-tsan -G Ninja -DKORVEX_SANITIZE=thread -DKORVEX_BUILD_BENCH=OFF > /dev/null
    cmake --build build-tsan -j "$jobs" --target "${tsan_tests[@]}" picvox
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        ctest --test-dir build-tsan --output-on-failure -j "$jobs" \
        -R "^($(IFS='|'; echo "${tsan_tests[*]}"))\$"
    ;;
*)
    echo "usage: tools/dev.sh demo|test" >&2
    exit 2
    ;;
esac
