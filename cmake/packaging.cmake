# The Debian package: `cpack` in a build dir makes lorvrc_<version>_<arch>.deb
# from what `cmake --install` puts in place (binary, man page, completion,
# protocol notes). Build it from an ordinary build: the binary packaged is
# the one configured, with its device prefix.

set(LORVRC_MAINTAINER "lorvrc developers <lorvrc@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lorvrc)
set(CPACK_PACKAGE_CONTACT "${LORVRC_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "lorvrc starts a BASIC program on a device attached to a \
serial port and serves the device while the program runs: it sends the source files the \
device asks for and prints the device's trace text and error reports.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Exact dependencies when dpkg-shlibdeps can work them out, else the two
# libraries every build links.
find_program(LORVRC_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(LORVRC_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
endif()

include(CPack)
