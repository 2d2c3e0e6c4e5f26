#!/usr/bin/env bash
# Fails when a C++ source or header differs from what clang-format makes of it with the
# repository's .clang-format, and names each such file. Checked: every *.cpp and *.h that git
# tracks (outside a git checkout: every one under the source folders), nothing left out. The
# resource tables viewer/resources/*.inc are data, one entry a line, and no C++ file of their own.
#   tools/format-check.sh            check
#   tools/format-check.sh --fix      rewrite the files that differ (clang-format -i)
# The layout is that of Debian 12's clang-format 14 (package clang-format); other versions
# break some lines differently.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
clang_format=${CLANG_FORMAT:-clang-format}

if git rev-parse --is-inside-work-tree > /dev/null 2>&1; then
    mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
else
    mapfile -t files < <(find bench control platform recording tests tools viewer \
        -name '*.cpp' -o -name '*.h' | sort)
fi
if [ ${#files[@]} -eq 0 ]; then
    echo "format: no files to check" >&2
    exit 1
fi

if [ "${1:-}" = "--fix" ]; then
    "$clang_format" -i "${files[@]}"
    exit 0
fi

# One run over all files; each difference is reported as "FILE:LINE:COL: error: ...".
report=$("$clang_format" --dry-run --Werror "${files[@]}" 2>&1) && status=0 || status=$?
mapfile -t differing < <(printf '%s\n' "$report" | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: .*/\1/p' |
    sort -u)
if [ "$status" -ne 0 ] && [ ${#differing[@]} -eq 0 ]; then
    printf '%s\n' "$report" >&2
    echo "format: $clang_format failed" >&2
    exit 1
fi
if [ ${#differing[@]} -gt 0 ]; then
    echo "format: ${#differing[@]} of ${#files[@]} files differ from .clang-format:" >&2
    printf '  %s\n' "${differing[@]}" >&2
    echo "format: clang-format -i FILE mends one; tools/format-check.sh --fix mends them all" >&2
    exit 1
fi
echo "format: ${#files[@]} files as .clang-format lays them out"
