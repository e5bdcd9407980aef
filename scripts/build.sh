#!/usr/bin/env bash
# Builds the module for Linux (build/linux) and Windows (build/windows, MinGW-w64).
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages "${BUILD_PACKAGES[@]}"
echo "== Linux build (build/linux)"
configure_and_build "$ROOT/build/linux"
echo "== Windows build (build/windows)"
configure_and_build "$ROOT/build/windows" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake"
