#!/usr/bin/env bash
# `cmake --install` conventions: the module, the virtual device library and
# zelmor-sim land in the standard folders, a p11-kit module file names the
# installed module, and p11-kit (and GnuTLS through it) then sees the module
# and its token. Works only in temporary folders: a DESTDIR staging install
# for the package layout, and a private prefix whose module file goes to a
# temporary user's p11-kit configuration. The system's configuration is not
# touched.
# Usage: install_check.sh BUILD_DIR  (a build that includes cmake/Install.cmake)
set -uo pipefail
source "$(dirname "$0")/lib.sh"
interop_init "${1:-}" install-check
build_dir=$(cd "$1" && pwd)

if ! grep -q 'zelmor.module' "$build_dir/cmake_install.cmake" 2>/dev/null; then
    fail "the build has install rules (include(cmake/Install.cmake) in CMakeLists.txt)"
    finish; exit 1
fi

# --- package layout, staged with DESTDIR -----------------------------------------------
stage="$WORK/stage"
if run "DESTDIR install with prefix /usr" env DESTDIR="$stage" cmake --install "$build_dir" --prefix /usr; then
    library=$(find "$stage/usr/lib" -name libZelmorPKCS11Driver.so | head -1)
    expect_equal "module installed below /usr/lib" "${library:+yes}" yes
    expect_equal "virtual device library next to the module" \
        "$([ -n "$library" ] && [ -f "$(dirname "$library")/libZelmorDSCLibrary.so" ] && echo yes)" yes
    expect_equal "zelmor-sim in /usr/bin" "$([ -x "$stage/usr/bin/zelmor-sim" ] && echo yes)" yes
    module_file=$(find "$stage" -name zelmor.module | head -1)
    expect_equal "p11-kit module file installed in p11-kit's package folder" \
        "${module_file#"$stage"}" "$(pkg-config --variable=p11_module_configs p11-kit-1 2>/dev/null || echo /usr/share/p11-kit/modules)/zelmor.module"
    if [ -n "$module_file" ] && [ -n "$library" ]; then
        expect_output "module file names the installed library (without DESTDIR)" \
            "^module: ${library#"$stage"}\$" "$module_file"
    fi
    if [ -n "$library" ]; then
        readelf -d "$library" >"$LAST" 2>&1
        expect_output "module finds the device library beside itself (RUNPATH \$ORIGIN)" 'RUNPATH.*\[\$ORIGIN\]'
        expect_no_output "no build folder in the installed module's search path" "$build_dir"
    fi
fi

# --- private prefix, registered in a temporary user's p11-kit configuration ---------------
# p11-kit ignores user configuration in a program running as root, so the
# p11-kit steps run as an unprivileged user (nobody) when this runs as root.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    chmod 755 "$WORK"
fi
user_home="$WORK/user"
mkdir -p "$user_home/.config/pkcs11/modules" "$user_home/tmp"
[ ${#as_user[@]} -ne 0 ] && chown -R nobody:nogroup "$user_home"
user_env=(env HOME="$user_home" TMPDIR="$user_home/tmp" ZELMOR_SIM_HOME="$user_home/store")
prefix="$WORK/prefix"
user_modules="$user_home/.config/pkcs11/modules"
if run "install to a private prefix, module file in the user's p11-kit folder" \
    env ZELMOR_P11KIT_MODULE_DIR="$user_modules" cmake --install "$build_dir" --prefix "$prefix"; then
    chmod -R a+rX "$prefix" "$user_modules"
    installed=$(find "$prefix" -name libZelmorPKCS11Driver.so | head -1)
    expect_output "user module file names the prefix's module" "^module: $installed\$" "$user_modules/zelmor.module"
    # The installed tool and module, with a device in the user's store.
    run "installed zelmor-sim creates a device" "${as_user[@]}" "${user_env[@]}" \
        "$prefix/bin/zelmor-sim" create "$DEVICE_SERIAL" --pin "$USER_PIN" --label "$TOKEN_LABEL"
    if run "p11-kit list-modules" "${as_user[@]}" "${user_env[@]}" p11-kit list-modules; then
        expect_output "p11-kit lists the zelmor module" '^zelmor: .*libZelmorPKCS11Driver\.so'
        expect_output "library description" 'library-description: Zelmor PKCS11 Library'
        expect_output "library manufacturer" 'library-manufacturer: Trevanic'
        expect_output "library version 3.6" 'library-version: 3\.6'
        expect_output "the device's token" "token: $TOKEN_LABEL"
    fi
    if run "GnuTLS finds the token through p11-kit (p11tool --list-tokens)" "${as_user[@]}" "${user_env[@]}" p11tool --list-tokens; then
        expect_output "token listed without --provider" "Label: $TOKEN_LABEL"
    fi
fi

finish
