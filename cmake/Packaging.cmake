# CPack: one Debian package per install component (packaging/CMakeLists.txt), or on Windows one zip
# of the DLL, its import library, .def file, header and example. Run through scripts/package.sh.
# Included by packaging/CMakeLists.txt, after the install rules and the package names.
set(CPACK_PACKAGE_NAME qb7720-toolkit)
set(CPACK_PACKAGE_VENDOR "Lanting Microlink")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QB_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.lantingmicrolink.example/")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "QB7720DLL, the library for QB7720 Bluetooth LE serial bridges")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  set(CPACK_COMPONENTS_ALL library development)
  set(CPACK_PACKAGE_FILE_NAME "QB7720DLL-${PROJECT_VERSION}-win64")
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL terminal library development emulator)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time dependencies are what dpkg-shlibdeps finds in the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# A shlibs file for every library with a SONAME (only libQB7720DLL has one), so that programs built
# against it depend on this version or later.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_TERMINAL_PACKAGE_NAME ${qb_package_terminal})
set(CPACK_DEBIAN_TERMINAL_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_TERMINAL_DESCRIPTION "desktop terminal for QB7720 Bluetooth LE serial bridges
Tavrion scans for QB7720 bridges, connects to one by double-click and works
as a serial terminal over Bluetooth LE: received data as text or hex, sending
text, hex or whole files, counters and speeds, the modem lines, and the remote
line's baud rate, data bits, stop bits, parity and flow control.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${qb_package_library})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/library/triggers)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "library for QB7720 Bluetooth LE serial bridges
QB7720DLL offers 24 flat C functions for other programs: radio state,
enumeration of bridges with their signal strength, open and close, reading,
writing and notifications of any characteristic, the MTU, the two parameter
blocks, and a serial-port mode. On Linux it reaches the radio through BlueZ.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${qb_package_development})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "library for QB7720 Bluetooth LE serial bridges - development files
The header QB7720DLL.h, the link-time library name, a pkg-config file
(qb7720dll) and a CMake package (find_package(QB7720DLL) gives the target
QB7720DLL::QB7720DLL), and a C example with files that build it either way.")

set(CPACK_DEBIAN_EMULATOR_PACKAGE_NAME ${qb_package_emulator})
set(CPACK_DEBIAN_EMULATOR_PACKAGE_SECTION devel)
# The helper script starts a private bus and asks it whether the emulator is up.
set(CPACK_DEBIAN_EMULATOR_PACKAGE_DEPENDS "dbus-daemon, dbus-bin")
set(CPACK_DEBIAN_EMULATOR_DESCRIPTION "emulated QB7720 bridges served as BlueZ over D-Bus
qb7720-emulator owns org.bluez on a D-Bus bus and serves an adapter with
virtual QB7720 serial bridges, so that programs using BlueZ can be tried and
tested without a radio. qb7720-on-bus runs a command against it on a private
bus.")

include(CPack)
