# Install rules (Linux): the module and the virtual device library into the
# library folder, zelmor-sim into the program folder, and a p11-kit module
# file so that p11-kit (and every application that loads p11-kit-proxy, such
# as GnuTLS tools and browsers configured for it) finds the module.
#
#   cmake --install build/linux                    (prefix /usr/local)
#   cmake --install build/linux --prefix /usr
#   DESTDIR=/tmp/stage cmake --install build/linux (staging for a package)
#
# The module finds libZelmorDSCLibrary.so next to itself (RUNPATH $ORIGIN), so
# both go to the same folder.
if(WIN32)
    return()
endif()

include(GNUInstallDirs)

# Where p11-kit reads module files of installed software. The package
# location comes from p11-kit's pkg-config file when it is there; Debian's is
# /usr/share/p11-kit/modules. An absolute folder is used as it is (with
# DESTDIR in front); a relative one is taken below the install prefix, for a
# private prefix (p11-kit then needs the file copied to
# ~/.config/pkcs11/modules or /etc/pkcs11/modules). The environment variable
# ZELMOR_P11KIT_MODULE_DIR, when set at install time, overrides it, e.g.
#   ZELMOR_P11KIT_MODULE_DIR=~/.config/pkcs11/modules cmake --install build/linux --prefix ~/.local
find_package(PkgConfig QUIET)
set(_zelmor_p11kit_default /usr/share/p11-kit/modules)
if(PKG_CONFIG_FOUND)
    pkg_get_variable(_zelmor_p11kit_configs p11-kit-1 p11_module_configs)
    if(_zelmor_p11kit_configs)
        set(_zelmor_p11kit_default ${_zelmor_p11kit_configs})
    endif()
endif()
set(ZELMOR_P11KIT_MODULE_DIR ${_zelmor_p11kit_default} CACHE STRING
    "Folder for the p11-kit module file zelmor.module (absolute, or relative to the install prefix)")

install(TARGETS ZelmorPKCS11Driver
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT module)
if(TARGET ZelmorDSCLibrary)
    install(TARGETS ZelmorDSCLibrary
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT module)
endif()
if(TARGET zelmor-sim)
    install(TARGETS zelmor-sim
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT module)
endif()

# The module file names the library by its final absolute path. It is written
# at install time so that `cmake --install --prefix X` names X's library.
install(CODE "
    set(_libdir \"${CMAKE_INSTALL_LIBDIR}\")
    if(NOT IS_ABSOLUTE \"\${_libdir}\")
        set(_libdir \"\${CMAKE_INSTALL_PREFIX}/\${_libdir}\")
    endif()
    set(_moddir \"${ZELMOR_P11KIT_MODULE_DIR}\")
    if(DEFINED ENV{ZELMOR_P11KIT_MODULE_DIR})
        set(_moddir \"\$ENV{ZELMOR_P11KIT_MODULE_DIR}\")
    endif()
    if(NOT IS_ABSOLUTE \"\${_moddir}\")
        set(_moddir \"\${CMAKE_INSTALL_PREFIX}/\${_moddir}\")
    endif()
    set(_file \"\$ENV{DESTDIR}\${_moddir}/zelmor.module\")
    message(STATUS \"Installing: \${_file}\")
    file(WRITE \"\${_file}\"
        \"# Zelmor PKCS#11 module (Trevanic), registered for p11-kit.\\n\"
        \"module: \${_libdir}/libZelmorPKCS11Driver.so\\n\"
        \"# Not a source of trust anchors, and a missing device must not stop other modules.\\n\"
        \"trust-policy: no\\n\"
        \"critical: no\\n\")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${_moddir}/zelmor.module\")
" COMPONENT module)
