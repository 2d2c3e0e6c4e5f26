#!/usr/bin/env bash
# Set-up commands for a Debian 12 machine.
#   tools/dev.sh demo   install what is missing, build, stream and save a run from the built-in
#                       recorder with picvox-host, check it and open it in Korvex
#   tools/dev.sh test   install what is missing, check the layout (clang-format) and the include
#                       direction of the sources, build, run every test (plain and sanitized)
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

# Every configure states each setting it depends on: a build folder keeps its cached values, so
# a setting left out would silently come from whichever command configured the folder last.
configure() {  # configure DIR TESTING(ON|OFF) BENCH(ON|OFF) BUILD_TYPE SANITIZE
    cmake -S . -B "$1" -G Ninja -DBUILD_TESTING="$2" -DKORVEX_BUILD_BENCH="$3" \
        -DKORVEX_BUILD_GUI=ON -DKORVEX_FUZZ=OFF -DCMAKE_BUILD_TYPE="$4" -DKORVEX_SANITIZE="$5" \
        > /dev/null
}

build() {  # build DIR TESTING BENCH BUILD_TYPE SANITIZE
    configure "$@"
    cmake --build "$1" -j "$jobs"
}

# A test run that finds no tests is a broken set-up, not a pass.
run_ctest() {
    ctest --no-tests=error --output-on-failure -j "$jobs" "$@"
}

case "${1:-}" in
demo)
    install_packages
    build build OFF OFF RelWithDebInfo ""
    # The whole system on the built-in recorder: picvox-host streams from dvrsim and saves a
    # 20-second run with sound, the verifier checks the saved folder, and Korvex opens it.
    out=$here/build/demo-run
    mkdir -p "$out"
    # The viewer reads its brand file from the folder it starts in.
    ./build/tools/brand/korvex-brand --brand 0 --dir "$out" > /dev/null
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        ./build/tools/host/picvox-host --demo save | tee "$out/host.txt"
    else
        SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} ./build/tools/host/picvox-host --headless \
            --demo save --run-seconds 120 --screenshot "$out/host.png" | tee "$out/host.txt"
    fi
    saved=$(sed -n 's/^saved //p' "$out/host.txt" | tail -n 1)
    if [ -z "$saved" ] || [ ! -d "$saved" ]; then
        echo "The demo run saved nothing (see the messages above)." >&2
        exit 1
    fi
    echo "Saved run: $saved"
    ./build/tools/verify/korvex-verify "$saved" | tail -n 8
    cd "$out"
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        exec "$here/build/viewer/korvex" /check "$saved"
    fi
    # No display: render the viewer on the saved run, offscreen, and say where the pictures are.
    QT_QPA_PLATFORM=offscreen "$here/build/viewer/korvex" --screenshot "$out/korvex.png" \
        /check "$saved"
    echo "No display here: the host's area is in $out/host.png, Korvex on the saved run in $out/korvex.png"
    ;;
test)
    install_packages
    # Seconds, not an hour: a source laid out against .clang-format, or an include against the
    # folder tree, fails the run before anything is built.
    tools/format-check.sh
    tools/layering-check.sh
    build build ON ON RelWithDebInfo ""
    run_ctest --test-dir build
    # Memory and undefined-behaviour errors fail the run as surely as a wrong result.
    build build-asan ON OFF Debug address,undefined
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        run_ctest --test-dir build-asan
    # The streaming control's threads, the audio device thread, the viewer's scan worker and the
    # verifier's frame pass under ThreadSanitizer.
    tsan_tests=(platform_test picvox_buffers_test picvox_com_test picvox_run_test
        picvox_saves_test picvox_download_test http_test tempfolder_test audio_test viewerdoc_test
        tools_test)
    configure build-tsan ON OFF RelWithDebInfo thread
    cmake --build build-tsan -j "$jobs" --target "${tsan_tests[@]}" picvox
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        run_ctest --test-dir build-tsan -R "^($(IFS='|'; echo "${tsan_tests[*]}"))\$"
    ;;
*)
    echo "usage: tools/dev.sh demo|test" >&2
    exit 2
    ;;
esac
