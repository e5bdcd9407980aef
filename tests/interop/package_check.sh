#!/usr/bin/env bash
# The Debian packages of scripts/package.sh, installed and removed the way a
# user does it: `apt-get install ./….deb` puts the module where p11-kit lists
# it and pkcs11-tool, loading it by its multiarch path, sees a device made with
# the installed zelmor-sim; `apt-get purge` leaves no file behind.
#
# Isolation: the script re-runs itself as root in a private mount namespace
# in which /usr, /etc and /var are overlays whose changes go to a temporary
# folder. The machine's system, and every other process (PKCS#11 applications
# that load every p11-kit module), see nothing of the installation.
#
# Usage: package_check.sh PACKAGE_DIR  (the folder with the .deb files, build/package)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
package_dir=$(cd "${1:?usage: $0 PACKAGE_DIR}" && pwd)

if [ "${ZELMOR_PACKAGE_CHECK_NAMESPACE:-}" != 1 ]; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    exec "${sudo[@]}" unshare --mount --propagation private \
        env ZELMOR_PACKAGE_CHECK_NAMESPACE=1 bash "$0" "$package_dir"
fi

source "$here/lib.sh"
interop_workspace package-check
case $WORK in /usr/* | /etc/* | /var/*) echo "FAIL: the work folder $WORK must be outside /usr, /etc and /var"; exit 2 ;; esac
layers="$WORK/layers"
mkdir -p "$layers"
# The mounts go before the work folder is removed (lazily: this shell runs from /usr).
unmount_layers() { umount -l /usr /etc /var "$layers" 2>/dev/null; interop_cleanup; }
trap unmount_layers EXIT
mount -t tmpfs zelmor-package-check "$layers" || { echo "FAIL: cannot mount a tmpfs (root and mount namespaces needed)"; exit 2; }
for folder in usr etc var; do
    mkdir -p "$layers/$folder/changes" "$layers/$folder/work"
    mount -t overlay overlay \
        -o "lowerdir=/$folder,upperdir=$layers/$folder/changes,workdir=$layers/$folder/work" "/$folder" ||
        { echo "FAIL: cannot mount an overlay on /$folder"; exit 2; }
done
echo "== $SCENARIO: /usr, /etc and /var are private overlays (changes in $layers)"

export HOME="$WORK/home" TMPDIR="$WORK" ZELMOR_SIM_HOME="$WORK/store" DEBIAN_FRONTEND=noninteractive
mkdir -p "$HOME"
debs=("$package_dir"/zelmor-pkcs11_*.deb "$package_dir"/zelmor-sim_*.deb)
for deb in "${debs[@]}"; do
    [ -f "$deb" ] || { echo "FAIL: $deb is missing (run scripts/package.sh first)"; exit 2; }
done
packages=(zelmor-pkcs11 zelmor-sim)
module="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/pkcs11/libZelmorPKCS11Driver.so"
upstream_version=$(dpkg-deb --field "${debs[0]}" Version)
upstream_version=${upstream_version%-*}

# Every path the packages hold, and which of them (shared folders) exist already.
dpkg-deb --fsys-tarfile "${debs[0]}" | tar -t >"$WORK/paths"
dpkg-deb --fsys-tarfile "${debs[1]}" | tar -t >>"$WORK/paths"
sed -e 's|^\./|/|' -e 's|/$||' -e '/^$/d' "$WORK/paths" | sort -u >"$WORK/package-paths"
while read -r path; do [ -e "$path" ] && echo "$path"; done <"$WORK/package-paths" >"$WORK/existing-before"

run "apt-get install ./zelmor-pkcs11_….deb ./zelmor-sim_….deb" \
    apt-get install -y --no-install-recommends "${debs[@]}"
run "both packages installed" dpkg-query -W "${packages[@]}"
expect_equal "the module in the multiarch pkcs11 folder" "$([ -f "$module" ] && echo yes)" yes
expect_equal "the virtual device library next to the module" \
    "$([ -f "$(dirname "$module")/libZelmorDSCLibrary.so" ] && echo yes)" yes
expect_equal "zelmor-sim in /usr/bin" "$(command -v zelmor-sim)" /usr/bin/zelmor-sim

run "zelmor-sim creates a device" zelmor-sim create "$DEVICE_SERIAL" --pin "$USER_PIN" --label "$TOKEN_LABEL"
if run "p11-kit list-modules" p11-kit list-modules; then
    expect_outputs "$LAST" \
        "p11-kit lists the module by its installed path" "^zelmor: $module\$" \
        "module version is the package's version" "library-version: ${upstream_version//./\\.}\$" \
        "the device's token" "token: $TOKEN_LABEL"
fi
if run "pkcs11-tool --module $module --list-slots" pkcs11-tool --module "$module" --list-slots; then
    expect_outputs "$LAST" \
        "a slot with the zelmor-sim device's token" "token label +: $TOKEN_LABEL" \
        "the device's serial number" "serial num +: $DEVICE_SERIAL"
fi

run "apt-get purge zelmor-pkcs11 zelmor-sim" apt-get purge -y "${packages[@]}"
expect_fails "neither package known to dpkg any more" dpkg-query -W "${packages[@]}"
while read -r path; do
    grep -qxF "$path" "$WORK/existing-before" || [ ! -e "$path" ] || echo "$path"
done <"$WORK/package-paths" >"$LAST"
expect_no_output "no file or folder of the packages left" .
# Anything else the installation left in /usr (a file made by a maintainer
# script, or a system file deleted) would be in the overlay's changes.
find "$layers/usr/changes" ! -type d >"$LAST"
expect_no_output "nothing else changed below /usr" .
ls /var/lib/dpkg/info | grep -E '^zelmor-(pkcs11|sim)[.:]' >"$LAST"
expect_no_output "no dpkg records left" .
run "p11-kit list-modules after removal" p11-kit list-modules
expect_no_output "p11-kit no longer lists the module" '^zelmor:'

finish
