#!/usr/bin/env bash
# Builds the Debian packages zelmor-pkcs11 (the module, registered with
# p11-kit) and zelmor-sim (the virtual device library and zelmor-sim) into
# build/package with CPack, and checks them with lintian: exits non-zero when
# lintian reports an error.
#
# Usage: scripts/package.sh
# Environment: DEBFULLNAME and DEBEMAIL (the packages' maintainer),
# SOURCE_DATE_EPOCH (the changelog date; default the last commit's time).
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages cmake ninja-build g++ pkg-config libssl-dev "${PACKAGE_PACKAGES[@]}"

folder="$ROOT/build/package"
options=(-DCMAKE_INSTALL_PREFIX=/usr -DZELMOR_DEBIAN_PACKAGES=ON -DZELMOR_BUILD_TESTS=OFF -DZELMOR_BUILD_BENCH=OFF)
if [ -n "${DEBFULLNAME:-}" ] && [ -n "${DEBEMAIL:-}" ]; then
    options+=("-DZELMOR_PACKAGE_MAINTAINER=$DEBFULLNAME <$DEBEMAIL>")
fi
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || date +%s)
    export SOURCE_DATE_EPOCH
fi
# Debian's compiler and linker hardening flags.
flag() { (cd "$ROOT" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"); }
options+=("-DCMAKE_C_FLAGS=$(flag CFLAGS) $(flag CPPFLAGS)" "-DCMAKE_CXX_FLAGS=$(flag CXXFLAGS) $(flag CPPFLAGS)"
    "-DCMAKE_SHARED_LINKER_FLAGS=$(flag LDFLAGS)" "-DCMAKE_EXE_LINKER_FLAGS=$(flag LDFLAGS)")

echo "== build ($folder)"
configure_and_build "$folder" "${options[@]}"

echo "== packages"
rm -f "$folder"/*.deb
(cd "$folder" && cpack -G DEB >/dev/null)
debs=("$folder"/*.deb)
for deb in "${debs[@]}"; do
    echo "-- $(basename "$deb")"
    dpkg-deb --field "$deb" Package Version Architecture Depends Provides | sed 's/^/   /'
done

echo "== lintian"
# Warnings are printed, errors fail the build. The packages are not uploaded
# to Debian, so there is no bug of Debian's that their first version closes.
lintian --fail-on error --info --suppress-tags initial-upload-closes-no-bugs "${debs[@]}"
echo "packages in $folder: $(cd "$folder" && ls ./*.deb | tr '\n' ' ')"
