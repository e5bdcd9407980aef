#!/usr/bin/env bash
# Compares the module's export table with the expected 71 names.
# usage: check_exports.sh linux|windows MODULE EXPECTED_LIST
set -euo pipefail
platform=$1 module=$2 expected=$3
if [ "$platform" = linux ]; then
    extra=(_Z12C_EjectTokenm _Z28C_GetUnmanagedStructSizeListPmS_ _Z18C_InteractiveLoginm)
    got=$(nm -D --defined-only "$module" | awk '{print $NF}' | sed 's/@.*//')
else
    extra=('?C_EjectToken@@YAKK@Z' '?C_GetUnmanagedStructSizeList@@YAKPEAK0@Z' '?C_InteractiveLogin@@YAKK@Z')
    got=$(x86_64-w64-mingw32-objdump -p "$module" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p')
fi
diff <( (cat "$expected" && printf '%s\n' "${extra[@]}") | sort) <(sort <<<"$got") ||
    { echo "export table differs from the expected list (< expected, > found)" >&2; exit 1; }
echo "exports match: $(wc -l <<<"$got") names"
