# The Debian package (make package): one package "termset" with everything
# `cmake --install` puts in place, its dependencies computed from the shared
# libraries the programs use, and maintainer scripts that register the
# control system-wide.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME termset)
set(CPACK_PACKAGE_VENDOR Veltrona)
set(CPACK_PACKAGE_CONTACT "Veltrona Termset maintainers <termset@veltrona.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configurator for RK-40 door-access terminals")
set(CPACK_PACKAGE_DESCRIPTION
"Termset edits the configuration of an RK-40 door-access terminal (relays,
conditions, registration, LEDs and the random output) on eight pages, keeps it
in .act files, and reads and writes it over a serial port or through a TCP
gateway. The package also holds termset-cli for scripts, the RK40COMM
communication control with rk40ctl and regctl, and the terminal and gateway
simulators rk40-sim and gateway-sim.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The control module and the language libraries are private to the program:
# dpkg-shlibdeps is to look into them, not to expect a shlibs file for them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://veltrona.example/termset")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/prerm
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
