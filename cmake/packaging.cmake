# The Debian package: `cpack` in a build dir makes lorvrc_<version>_<arch>.deb
# from what `cmake --install` puts in place (binary, man page, completion,
# protocol notes). Build it from an ordinary build: the binary packaged is
# the one configured, with its device prefix.

# A package built here is maintained by whoever builds it: named as dch
# names them (DEBFULLNAME, DEBEMAIL), else by the author of the checkout's
# last commit, which every clone has.
set(maintainer "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
if("$ENV{DEBFULLNAME}" STREQUAL "" OR "$ENV{DEBEMAIL}" STREQUAL "")
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 "--format=%an <%ae>"
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE maintainer
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
set(LORVRC_MAINTAINER "" CACHE STRING "Maintainer named in the Debian package (empty: as above)")
if(NOT LORVRC_MAINTAINER STREQUAL "")
  set(maintainer "${LORVRC_MAINTAINER}")
elseif(NOT maintainer MATCHES "^[^ ].* <.+>$")
  message(WARNING "No maintainer for the Debian package: set DEBFULLNAME and DEBEMAIL, or "
                  "-DLORVRC_MAINTAINER=\"Name <address>\"")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lorvrc)
set(CPACK_PACKAGE_CONTACT "${maintainer}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Debian wraps the long description at 80 columns; cpack keeps the lines.
set(CPACK_PACKAGE_DESCRIPTION "lorvrc starts a BASIC program on a device attached to a
serial port and serves the device while the program runs: it sends the
source files the device asks for and prints the device's trace text and
error reports. It locks the port as terminal programs do, and reports a
lost line, a port in use or a missing device in plain words. The device
may also be on another machine, served over TCP by ser2net or a board
farm, raw or with the telnet COM-PORT option (RFC 2217).")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Exact dependencies when dpkg-shlibdeps can work them out (libtelnet's
# runtime package among them), else the libraries every build links.
find_program(LORVRC_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(LORVRC_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libtelnet2")
endif()

# The licence in Debian's machine-readable copyright format (LICENSE's
# text as the licence's indented body, an empty line as " .") and a
# changelog, which a native version such as 0.1.0 keeps as changelog.gz.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence_body)
string(STRIP "${licence_body}" licence_body)
string(REPLACE "\n\n" "\n.\n" licence_body "${licence_body}")
string(REPLACE "\n" "\n " licence_body " ${licence_body}")
set(doc ${CMAKE_CURRENT_BINARY_DIR}/package-doc)
file(WRITE ${doc}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: lorvrc\n\nFiles: *\nCopyright: 2026 the lorvrc developers\n"
     "License: Expat\n${licence_body}\n")
file(WRITE ${doc}/changelog
     "lorvrc (${PROJECT_VERSION}) unstable; urgency=medium\n\n  * Release ${PROJECT_VERSION}.\n\n"
     " -- ${maintainer}  Mon, 07 Dec 2026 00:00:00 +0000\n")
add_custom_command(OUTPUT ${doc}/changelog.gz COMMAND gzip -9 -n -f -k ${doc}/changelog
                   DEPENDS ${doc}/changelog VERBATIM)
add_custom_target(lorvrc_package_doc ALL DEPENDS ${doc}/changelog.gz)
install(FILES ${doc}/copyright ${doc}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)
