#!/usr/bin/env bash
# Fails when a folder includes a header of a folder above it: the folder tree shows which way the
# libraries depend on each other, and an include against that direction is how a cycle begins.
#   tools/layering-check.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# folder | include prefixes it must not use (extended regular expression)
rules=(
    "platform|(recording|viewer|control|tools|tests)/"
    "recording|(viewer|control|tools|tests)/"
    "viewer/resources|viewer/(audio|playback|shell)/"
    "viewer/audio|viewer/(playback|resources|shell)/|control/"
    "viewer/playback/core|viewer/(shell|audio)/|viewer/playback/[A-Za-z]+\\.h"
    "viewer/playback|viewer/shell/"
    "viewer/shell/core|viewer/shell/[A-Za-z]+\\.h"
    "viewer|control/"
    "control/buffers|control/(download|run|shell)/"
    "control/download|control/(run|shell)/"
    "control/run|control/shell/"
    "control|viewer/"
)

status=0
for rule in "${rules[@]}"; do
    folder=${rule%%|*}
    forbidden=${rule#*|}
    while IFS= read -r hit; do
        [ -n "$hit" ] || continue
        echo "layering: $hit" >&2
        status=1
    done < <(grep -rnE "^#include \"($forbidden)" "$folder" --include='*.h' --include='*.cpp' \
        --include='*.inc' || true)
done
[ $status -eq 0 ] && echo "layering: every include runs down the folder tree"
exit $status
