# Install rules (Linux): the module and the virtual device library into the
# library folder, zelmor-sim into the program folder, and a p11-kit module
# file so that p11-kit (and every application that loads p11-kit-proxy, such
# as GnuTLS tools and browsers configured for it) finds the module.
#
#   cmake --install build/linux                    (prefix /usr/local)
#   cmake --install build/linux --prefix /usr
#   DESTDIR=/tmp/stage cmake --install build/linux (staging)
#
# The module finds libZelmorDSCLibrary.so next to itself (RUNPATH $ORIGIN), so
# both go to the same folder. Two components: "module" (the module and its
# p11-kit module file) and "sim" (the virtual device library, zelmor-sim and
# its manual page); the Debian packages (cmake/DebianPackages.cmake) are made
# of them.
if(WIN32)
    return()
endif()

include(GNUInstallDirs)

option(ZELMOR_DEBIAN_PACKAGES "Configure the Debian packages (scripts/package.sh; needs prefix /usr)" OFF)

# The module's folder (relative to the prefix): the library folder for a
# source install; p11-kit's module folder lib/<multiarch>/pkcs11 for the
# Debian packages, as for the PKCS#11 modules that Debian ships.
if(ZELMOR_DEBIAN_PACKAGES)
    set(_zelmor_moduledir_default ${CMAKE_INSTALL_LIBDIR}/pkcs11)
else()
    set(_zelmor_moduledir_default ${CMAKE_INSTALL_LIBDIR})
endif()
set(ZELMOR_INSTALL_MODULEDIR ${_zelmor_moduledir_default} CACHE STRING
    "Folder for the module and the virtual device library (relative to the install prefix)")

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
    LIBRARY DESTINATION ${ZELMOR_INSTALL_MODULEDIR} COMPONENT module)
if(TARGET ZelmorDSCLibrary)
    install(TARGETS ZelmorDSCLibrary
        LIBRARY DESTINATION ${ZELMOR_INSTALL_MODULEDIR} COMPONENT sim)
endif()
if(TARGET zelmor-sim)
    install(TARGETS zelmor-sim
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim)
    # The manual page, compressed as man and Debian expect (-n: no name or
    # time stamp in the file, so builds are reproducible).
    set(_zelmor_manpage ${PROJECT_BINARY_DIR}/man/zelmor-sim.1.gz)
    add_custom_command(OUTPUT ${_zelmor_manpage}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/sim/tool/zelmor-sim.1 ${PROJECT_BINARY_DIR}/man/zelmor-sim.1
        COMMAND gzip -9 -n -f ${PROJECT_BINARY_DIR}/man/zelmor-sim.1
        DEPENDS ${PROJECT_SOURCE_DIR}/sim/tool/zelmor-sim.1
        VERBATIM)
    add_custom_target(zelmor-sim-manpage ALL DEPENDS ${_zelmor_manpage})
    install(FILES ${_zelmor_manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT sim)
endif()

# The module file names the library by its final absolute path. It is written
# at install time so that `cmake --install --prefix X` names X's library.
install(CODE "
    set(_libdir \"${ZELMOR_INSTALL_MODULEDIR}\")
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

if(ZELMOR_DEBIAN_PACKAGES)
    include(${CMAKE_CURRENT_LIST_DIR}/DebianPackages.cmake)
endif()
