#!/usr/bin/env bash
# Checks a device library against the 28 operations the module imports:
#   scripts/device-exports.sh ZelmorDSCLibrary.dll|ZelmorDSCLibrary.lib|EXPORT-LIST
# One line per operation (binds, name differs, same call, different call,
# missing); exit 0 when the module can bind to every operation. See
# docs/device-binding.md.
set -euo pipefail
source "$(dirname "$0")/common.sh"
if [ $# -ne 1 ]; then
    echo "usage: $0 ZelmorDSCLibrary.dll|ZelmorDSCLibrary.lib|EXPORT-LIST" >&2
    exit 2
fi
{ command -v llvm-undname-14 && command -v python3; } >/dev/null || ensure_packages llvm-14 python3
exec python3 "$ROOT/scripts/device_exports.py" "$1"
