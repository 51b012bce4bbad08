# The Debian package: `cpack` in a build dir makes lorvrc_<version>_<arch>.deb
# from what `cmake --install` puts in place (binary, man page, completion,
# protocol notes). Build it from an ordinary build: the binary packaged is
# the one configured, with its device prefix.

# A package built here is maintained by whoever builds it, named as dch
# names them: DEBFULLNAME (else NAME) and DEBEMAIL (else EMAIL); what is
# missing comes from the author of the checkout's last commit, and where
# there is no history (a release tarball) from the account: the full name
# in the password database, else the user name, and user@host. Said once;
# the package is made either way.
set(maintainer_name "$ENV{DEBFULLNAME}")
set(maintainer_email "$ENV{DEBEMAIL}")
if(maintainer_name STREQUAL "")
  set(maintainer_name "$ENV{NAME}")
endif()
if(maintainer_email STREQUAL "")
  set(maintainer_email "$ENV{EMAIL}")
endif()
foreach(field name email)
  find_package(Git QUIET)
  if(maintainer_${field} STREQUAL "" AND GIT_FOUND)
    string(SUBSTRING ${field} 0 1 letter) # %an, %ae
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%a${letter}
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE maintainer_${field}
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endforeach()
if(maintainer_name STREQUAL "" OR maintainer_email STREQUAL "")
  execute_process(COMMAND id -un OUTPUT_VARIABLE user OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  if(user STREQUAL "")
    set(user "$ENV{USER}")
  endif()
  if(user STREQUAL "")
    set(user builder)
  endif()
  if(maintainer_name STREQUAL "")
    execute_process(COMMAND getent passwd ${user} OUTPUT_VARIABLE account ERROR_QUIET)
    string(REGEX MATCH "^[^:]*:[^:]*:[^:]*:[^:]*:([^:,]*)" _ "${account}")
    set(maintainer_name "${CMAKE_MATCH_1}")
    if(maintainer_name STREQUAL "")
      set(maintainer_name "${user}")
    endif()
  endif()
  if(maintainer_email STREQUAL "")
    cmake_host_system_information(RESULT host QUERY FQDN)
    set(maintainer_email "${user}@${host}")
  endif()
  set(account_maintainer "${maintainer_name} <${maintainer_email}>")
  if(NOT LORVRC_ACCOUNT_MAINTAINER_SAID STREQUAL account_maintainer)
    message(STATUS "Debian package maintainer: ${account_maintainer}, from the account (set "
                   "DEBFULLNAME and DEBEMAIL, or LORVRC_MAINTAINER, to name another)")
    set(LORVRC_ACCOUNT_MAINTAINER_SAID "${account_maintainer}" CACHE INTERNAL "")
  endif()
endif()
set(maintainer "${maintainer_name} <${maintainer_email}>")
set(LORVRC_MAINTAINER "" CACHE STRING "Maintainer named in the Debian package (empty: as above)")
if(NOT LORVRC_MAINTAINER STREQUAL "")
  set(maintainer "${LORVRC_MAINTAINER}")
endif()

# The release date as the changelog writes it (RFC 5322): the weekday by
# Sakamoto's method, 0 for Sunday.
string(REGEX MATCH "^([0-9]+)-0?([0-9]+)-0?([0-9]+)$" _ "${LORVRC_RELEASE_DATE}")
set(year ${CMAKE_MATCH_1})
math(EXPR month_index "${CMAKE_MATCH_2} - 1")
set(day ${CMAKE_MATCH_3})
set(month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
set(weekdays Sun Mon Tue Wed Thu Fri Sat)
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(GET month_offsets ${month_index} month_offset)
if(month_index LESS 2)
  math(EXPR year "${year} - 1")
endif()
math(EXPR weekday "${year} + ${year} / 4 - ${year} / 100 + ${year} / 400")
math(EXPR weekday "(${weekday} + ${month_offset} + ${day}) % 7")
list(GET weekdays ${weekday} weekday)
list(GET months ${month_index} month)
string(SUBSTRING "${LORVRC_RELEASE_DATE}" 8 2 day)
string(SUBSTRING "${LORVRC_RELEASE_DATE}" 0 4 year)
set(changelog_date "${weekday}, ${day} ${month} ${year} 00:00:00 +0000")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lorvrc)
set(CPACK_PACKAGE_CONTACT "${maintainer}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Debian wraps the long description at 80 columns; cpack keeps the lines.
set(CPACK_PACKAGE_DESCRIPTION "lorvrc starts a BASIC program on a device attached to a
serial port and serves the device while the program runs: it sends the
source files the device asks for and prints the device's trace text and
error reports. It locks the port as terminal programs do, and reports a
lost line, a port in use or a missing device in plain words.")
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
     " -- ${maintainer}  ${changelog_date}\n")
add_custom_command(OUTPUT ${doc}/changelog.gz COMMAND gzip -9 -n -f -k ${doc}/changelog
                   DEPENDS ${doc}/changelog VERBATIM)
add_custom_target(lorvrc_package_doc ALL DEPENDS ${doc}/changelog.gz)
install(FILES ${doc}/copyright ${doc}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)
