# Debian packages, made by CPack from the install components (included by
# cmake/Install.cmake when ZELMOR_DEBIAN_PACKAGES is on; scripts/package.sh
# configures, builds and runs cpack):
#   zelmor-pkcs11  component "module": the module in /usr/lib/<multiarch>/pkcs11,
#                  its p11-kit module file and the documentation
#   zelmor-sim     component "sim": the virtual device library next to the
#                  module, /usr/bin/zelmor-sim and its manual page
# The version is the project's; dependencies on system libraries come from
# dpkg-shlibdeps.
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "The Debian packages install below /usr: configure with -DCMAKE_INSTALL_PREFIX=/usr")
endif()

set(ZELMOR_PACKAGE_MAINTAINER "Trevanic Zelmor packaging <zelmor-packaging@trevanic.example>" CACHE STRING
    "Maintainer field of the Debian packages (Name <address>)")
set(ZELMOR_PACKAGE_RELEASE 1 CACHE STRING "Debian revision of the packages")
set(ZELMOR_DEBIAN_VERSION ${PROJECT_VERSION}-${ZELMOR_PACKAGE_RELEASE})

set(_zelmor_module_package zelmor-pkcs11)
set(_zelmor_sim_package zelmor-sim)

# Every package carries its copyright file and its Debian changelog in
# /usr/share/doc/<package>. The changelog's date honours SOURCE_DATE_EPOCH
# (scripts/package.sh sets it to the last commit's time).
string(TIMESTAMP ZELMOR_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
    ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9 -n -f ${PROJECT_BINARY_DIR}/debian/changelog.Debian RESULT_VARIABLE _zelmor_gzip)
if(NOT _zelmor_gzip EQUAL 0)
    message(FATAL_ERROR "gzip failed on the Debian changelog")
endif()
foreach(_zelmor_component module sim)
    install(FILES
        ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
        ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_zelmor_${_zelmor_component}_package}
        COMPONENT ${_zelmor_component})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/compatibility.md
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_zelmor_module_package}
    COMPONENT module)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelmor)
set(CPACK_PACKAGE_VENDOR Trevanic)
set(CPACK_PACKAGE_CONTACT ${ZELMOR_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ZELMOR_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZELMOR_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SOURCE zelmor)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL module sim)
# The install rules write the p11-kit module file to an absolute folder and
# name the module by its final path: install with DESTDIR below prefix /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_ZELMOR_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianStrip.cmake)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The module needs libZelmorDSCLibrary.so, which is in the other package (or
# comes from the maker): dpkg-shlibdeps finds it in the build folder and adds
# no dependency for it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})

set(CPACK_DEBIAN_MODULE_PACKAGE_NAME ${_zelmor_module_package})
set(CPACK_DEBIAN_MODULE_PACKAGE_SECTION libs)
# The device library: the virtual one, or a package of the maker's that
# provides zelmor-dsc-library.
set(CPACK_DEBIAN_MODULE_PACKAGE_DEPENDS "${_zelmor_sim_package} | zelmor-dsc-library")
set(CPACK_DEBIAN_MODULE_DESCRIPTION "PKCS#11 module for Zelmor security devices
The module presents the devices of the Zelmor device library (ZelmorDSCLibrary)
as PKCS#11 (Cryptoki 2.20) slots, tokens, sessions and objects: applications
sign, verify, encrypt, decrypt and hash with the keys and certificates on the
devices, and manage them.

It is registered with p11-kit, so programs that use p11-kit-proxy find it
without further set-up; others load
/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/pkcs11/libZelmorPKCS11Driver.so.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME ${_zelmor_sim_package})
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_SIM_PACKAGE_PROVIDES zelmor-dsc-library)
set(CPACK_DEBIAN_SIM_DESCRIPTION "virtual Zelmor security devices for the PKCS#11 module
A working stand-in for the Zelmor device library (libZelmorDSCLibrary.so,
installed next to the PKCS#11 module) with real cryptography and a persistent
store of virtual devices, for developing and testing applications without the
hardware. Each virtual device is a token with a user PIN, key pairs (RSA, EC)
and certificates, and it can be unplugged and plugged again.

The zelmor-sim command creates, lists, plugs, unplugs, unlocks and removes the
virtual devices.")

include(CPack)
