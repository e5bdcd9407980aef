#!/usr/bin/env bash
# The Debian packages of scripts/package.sh, installed and removed the way a
# user does it: `apt-get install ./….deb` puts the module where p11-kit lists
# it and pkcs11-tool, loading it by its multiarch path, sees a device made with
# the installed zelmor-sim (the checks of install_check.sh, lib.sh's
# installed_module_checks); `apt-get purge` leaves no file behind.
#
# Isolation: the script re-runs itself as root in a private mount namespace
# in which /usr, /etc and /var are overlays whose changes go to a tmpfs. The
# machine's system, and every other process (PKCS#11 applications that load
# every p11-kit module), see nothing of the installation.
#
# Usage: package_check.sh PACKAGE_DIR  (the folder with the .deb files, build/package)
package_dir=$(cd "${1:?usage: $0 PACKAGE_DIR}" && pwd) || exit 2
if [ "${ZELMOR_PACKAGE_CHECK_NAMESPACE:-}" != 1 ]; then
    exec $([ "$(id -u)" -eq 0 ] || echo sudo) unshare --mount --propagation private env ZELMOR_PACKAGE_CHECK_NAMESPACE=1 bash "$0" "$package_dir"
fi
source "$(dirname "$0")/lib.sh"
interop_workspace package-check
layers="$WORK/layers"
# The mounts go before the work folder is removed (lazily: this shell runs from /usr).
trap 'umount -l /usr /etc /var "$layers" 2>/dev/null; interop_cleanup' EXIT
mkdir -p "$layers" && mount -t tmpfs zelmor-package-check "$layers" || { echo "FAIL: cannot mount a tmpfs (root and mount namespaces needed)"; exit 2; }
for folder in usr etc var; do
    mkdir -p "$layers/$folder/changes" "$layers/$folder/work"
    mount -t overlay overlay -o "lowerdir=/$folder,upperdir=$layers/$folder/changes,workdir=$layers/$folder/work" "/$folder" || { echo "FAIL: cannot mount an overlay on /$folder"; exit 2; }
done
export HOME="$WORK" TMPDIR="$WORK" ZELMOR_SIM_HOME="$WORK/store" DEBIAN_FRONTEND=noninteractive
debs=("$package_dir"/zelmor-pkcs11_*.deb "$package_dir"/zelmor-sim_*.deb)
# Every path the packages hold, and which of them (shared folders) exist already.
for deb in "${debs[@]}"; do dpkg-deb --fsys-tarfile "$deb" | tar -t; done | sed -e 's|^\./|/|' -e 's|/$||' -e '/^$/d' | sort -u >"$WORK/package-paths"
while read -r path; do [ -e "$path" ] && echo "$path"; done <"$WORK/package-paths" >"$WORK/existing-before"
t "apt-get install ./zelmor-pkcs11_….deb ./zelmor-sim_….deb" 'apt-get install -y --no-install-recommends "${debs[@]}" && dpkg-query -W zelmor-pkcs11 zelmor-sim'
installed_module_checks "/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/pkcs11/libZelmorPKCS11Driver.so" /usr/bin/zelmor-sim
t "apt-get purge: neither package known to dpkg any more" 'apt-get purge -y zelmor-pkcs11 zelmor-sim && ! dpkg-query -W zelmor-pkcs11 zelmor-sim'
t "no file or folder of the packages left" '? while read -r path; do grep -qxF "$path" "$WORK/existing-before" || [ ! -e "$path" ] || echo "$path"; done <"$WORK/package-paths"' '!.'
# Anything else the installation left in /usr (a file made by a maintainer
# script, or a system file deleted) would be in the overlay's changes.
t "nothing else changed below /usr, no dpkg records left" '? find "$layers/usr/changes" ! -type d; ls /var/lib/dpkg/info | grep -E "^zelmor-(pkcs11|sim)[.:]"' '!.'
t "p11-kit no longer lists the module" 'p11-kit list-modules' '!^zelmor:'
finish
