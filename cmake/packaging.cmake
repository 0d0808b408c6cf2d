# The release packages: one module, built against Debian 12's libobs 29.0.2
# (soname libobs.so.0), serves every OBS Studio from 29 to 32 whose libobs is
# found as libobs.so.0: Debian's and Ubuntu's (libobs0, libobs0t64) and OBS's
# own Ubuntu packages (libobs.so.30 with a libobs.so.0 link beside it).
#   cpack --config <build>/CPackConfig.cmake
# OBS's system layout gives a Debian package that installs
# /usr/lib/<multiarch>/obs-plugins/tavimore-free.so,
# /usr/share/obs/obs-plugins/tavimore-free/ and the licence as
# /usr/share/doc/obs-tavimore-free/copyright. The per-user layout
# (TAVIMORE_USER_INSTALL) gives a .tar.xz of tavimore-free/bin/64bit,
# tavimore-free/data and tavimore-free/LICENSE. scripts/package.sh makes both.
#
# A module built against a newer libobs serves fewer OBS versions (libobs
# refuses modules built against a newer major.minor than itself), so a build
# against libobs.so.30 has no packages.

string(REGEX MATCH "^[0-9]+\\.[0-9]+\\.[0-9]+" _libobs_version "${libobs_VERSION}")
if(NOT _libobs_version)
  message(FATAL_ERROR "cannot tell which libobs this build uses (libobs_VERSION is '${libobs_VERSION}')")
endif()
string(REGEX MATCH "^[0-9]+" _libobs_major "${_libobs_version}")
if(_libobs_major GREATER_EQUAL 30)
  message(STATUS "No packages from a build against libobs ${_libobs_version}: they are built against libobs 29")
  return()
endif()

set(CPACK_PACKAGE_NAME "obs-tavimore-free")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(_processor x86_64)
else()
  set(_processor "${CMAKE_SYSTEM_PROCESSOR}")
endif()

if(TAVIMORE_USER_INSTALL)
  # tavimore-free/... at the top of the archive, ready to unpack into
  # OBS's per-user plug-in folder
  set(CPACK_GENERATOR "TXZ")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGE_FILE_NAME "tavimore-free-${PROJECT_VERSION}-linux-${_processor}")
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tavimore-free developers <tavimore-free@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION "video")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tavimore Zoom, a video filter for OBS Studio\n An eased zoom filter: an idle view plus up to eight zoom stages toggled by\n hotkeys, two hold keys for the idle zoom, and a smoothly gliding centre.")

find_program(TAVIMORE_DPKG dpkg)
find_program(TAVIMORE_DPKG_QUERY dpkg-query)
if(TAVIMORE_DPKG)
  execute_process(
    COMMAND "${TAVIMORE_DPKG}" --print-architecture
    OUTPUT_VARIABLE _arch
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${_arch}")
endif()

# libobs.so.0 at the version this build used or later, from whichever package
# holds it: libobs0 (Debian 12), libobs0t64 (Debian 13, Ubuntu 24.04 and later,
# since the 64-bit time_t rename) or OBS's own obs-studio 30 and later, which
# has no libobs package. The version is the libobs0 package's whose headers
# this build used: 29.0.2+dfsg-1+b1 without its epoch and Debian revision.
set(_libobs0_version "")
if(TAVIMORE_DPKG_QUERY)
  execute_process(
    COMMAND "${TAVIMORE_DPKG_QUERY}" -W -f=\${Version} libobs0
    OUTPUT_VARIABLE _libobs0_version
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
  string(REGEX REPLACE "^[0-9]+:" "" _libobs0_version "${_libobs0_version}")
  string(REGEX REPLACE "-[^-]*$" "" _libobs0_version "${_libobs0_version}")
endif()
if(NOT _libobs0_version)
  set(_libobs0_version "${_libobs_version}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libobs0 (>= ${_libobs0_version}) | libobs0t64 (>= ${_libobs0_version}) | obs-studio (>= 30)")

# The other libraries (libc, libstdc++, xcb) as dpkg-shlibdeps finds them,
# without libobs0, which the alternatives above stand for: cmake/cpack-depends.cmake
# runs it when the package is made.
find_program(TAVIMORE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TAVIMORE_DPKG_SHLIBDEPS)
  set(CPACK_TAVIMORE_SHLIBDEPS "${TAVIMORE_DPKG_SHLIBDEPS}")
  set(CPACK_TAVIMORE_MODULE "${CMAKE_CURRENT_BINARY_DIR}/tavimore-free.so")
  set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/cpack-depends.cmake")
endif()

include(CPack)
