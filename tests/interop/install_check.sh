# `cmake --install` to a private prefix (sourced by lib.sh): the module finds
# the device library beside itself (RUNPATH $ORIGIN), and its p11-kit module
# file goes to a temporary user's p11-kit configuration: p11-kit and GnuTLS
# through it then see the module and its token. The system's configuration is
# not touched. The layout under /usr, with the module file in p11-kit's package
# folder, is what package_check.sh installs from the Debian packages.
# p11-kit ignores user configuration in a program running as root: the
# p11-kit steps run as nobody then.
user=(env HOME="$WORK/user" TMPDIR="$WORK/user/tmp" ZELMOR_SIM_HOME="$WORK/user/store")
mkdir -p "$WORK/user/tmp"
[ "$(id -u)" -ne 0 ] || { user=(setpriv --reuid=nobody --regid=nogroup --clear-groups "${user[@]}"); chmod 755 "$WORK"; chown -R nobody:nogroup "$WORK/user"; }
t "install to a private prefix, the module file in the user's p11-kit folder" 'ZELMOR_P11KIT_MODULE_DIR="$WORK/user/.config/pkcs11/modules" cmake --install "$BUILD_DIR" --prefix "$WORK/prefix" && chmod -R a+rX prefix user'
library=$(find "$WORK/prefix" -name libZelmorPKCS11Driver.so)
t "the module finds the device library beside itself (RUNPATH \$ORIGIN, no build folder)" "readelf -d $library" 'RUNPATH.*\[\$ORIGIN\]' "!$BUILD_DIR"
installed_module_checks "$library" "$WORK/prefix/bin/zelmor-sim" "${user[*]}"
t "GnuTLS finds the token through p11-kit (p11tool without --provider)" "${user[*]} p11tool --list-tokens" "Label: $TOKEN_LABEL"
