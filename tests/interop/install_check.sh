# `cmake --install` conventions (sourced by lib.sh): a DESTDIR staging install
# in the package layout (module and device library in the library folder,
# RUNPATH $ORIGIN, a p11-kit module file in p11-kit's package folder naming
# the installed module), and a private prefix whose module file goes to a
# temporary user's p11-kit configuration: p11-kit and GnuTLS through it then
# see the module and its token. The system's configuration is not touched.
t "DESTDIR install with prefix /usr" 'DESTDIR="$WORK/stage" cmake --install "$BUILD_DIR" --prefix /usr'
library=$(find stage/usr/lib -name libZelmorPKCS11Driver.so | head -1)
t "zelmor-sim in /usr/bin, the device library beside the module" "[ -x stage/usr/bin/zelmor-sim ] && [ -f $(dirname "$library")/libZelmorDSCLibrary.so ]"
t "the p11-kit module file, in p11-kit's package folder, names the installed module" "cat stage$(pkg-config --variable=p11_module_configs p11-kit-1 || echo /usr/share/p11-kit/modules)/zelmor.module" "^module: ${library#stage}\$"
t "the module finds the device library beside itself (RUNPATH \$ORIGIN, no build folder)" "readelf -d $library" 'RUNPATH.*\[\$ORIGIN\]' "!$BUILD_DIR"
# p11-kit ignores user configuration in a program running as root: the
# p11-kit steps run as nobody then.
user=(env HOME="$WORK/user" TMPDIR="$WORK/user/tmp" ZELMOR_SIM_HOME="$WORK/user/store")
mkdir -p "$WORK/user/tmp"
[ "$(id -u)" -ne 0 ] || { user=(setpriv --reuid=nobody --regid=nogroup --clear-groups "${user[@]}"); chmod 755 "$WORK"; chown -R nobody:nogroup "$WORK/user"; }
t "install to a private prefix, the module file in the user's p11-kit folder" 'ZELMOR_P11KIT_MODULE_DIR="$WORK/user/.config/pkcs11/modules" cmake --install "$BUILD_DIR" --prefix "$WORK/prefix" && chmod -R a+rX prefix user'
installed_module_checks "$(find "$WORK/prefix" -name libZelmorPKCS11Driver.so)" "$WORK/prefix/bin/zelmor-sim" "${user[*]}"
t "GnuTLS finds the token through p11-kit (p11tool without --provider)" "${user[*]} p11tool --list-tokens" "Label: $TOKEN_LABEL"
