# Packages, named for the OBS Studio they are for:
#   cpack --config <build>/CPackConfig.cmake
# OBS's system layout gives a Debian package that installs
# /usr/lib/<multiarch>/obs-plugins/tavimore-free.so,
# /usr/share/obs/obs-plugins/tavimore-free/ and the licence as
# /usr/share/doc/obs-tavimore-free/copyright. The per-user layout
# (TAVIMORE_USER_INSTALL) gives a .tar.xz of tavimore-free/bin/64bit,
# tavimore-free/data and tavimore-free/LICENSE.
#
# Built against Debian's libobs (soname libobs.so.0, OBS 29 and older), the
# package depends on the libobs0 it was built against (same major version,
# this release or newer). Built against OBS 30 or later (soname
# libobs.so.30), it depends on obs-studio, the package that holds libobs in
# OBS's own Ubuntu packages and in Debian and Ubuntu alike, at least at the
# major.minor version it was built against: libobs refuses a module built
# against a newer major.minor than itself, and its structures grow between
# versions.

set(CPACK_PACKAGE_NAME "obs-tavimore-free")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)

# libobs's version: the CMake package's; on Debian, the libobs0 package's
string(REGEX MATCH "^[0-9]+\\.[0-9]+\\.[0-9]+" _libobs_version "${libobs_VERSION}")
if(NOT _libobs_version)
  message(FATAL_ERROR "cannot tell which libobs this build uses (libobs_VERSION is '${libobs_VERSION}')")
endif()
string(REGEX MATCH "^[0-9]+" _libobs_major "${_libobs_version}")
string(REGEX MATCH "^[0-9]+\\.[0-9]+" _libobs_major_minor "${_libobs_version}")
if(_libobs_major GREATER_EQUAL 30)
  set(TAVIMORE_OBS_FLAVOUR "obs${_libobs_major_minor}")
else()
  set(TAVIMORE_OBS_FLAVOUR "obs${_libobs_major}")
endif()

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
  set(CPACK_PACKAGE_FILE_NAME "tavimore-free-${PROJECT_VERSION}-${TAVIMORE_OBS_FLAVOUR}-linux-${_processor}")
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_DEBIAN_PACKAGE_VERSION "${PROJECT_VERSION}+${TAVIMORE_OBS_FLAVOUR}")
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

if(_libobs_major GREATER_EQUAL 30)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "obs-studio (>= ${_libobs_major_minor})")
  # libobs.so.30 comes from no Debian package that dpkg-shlibdeps could
  # name; obs-studio above stands for it
  get_target_property(_libobs_file OBS::libobs LOCATION)
  get_filename_component(_libobs_dir "${_libobs_file}" DIRECTORY)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${_libobs_dir}")
else()
  # The libobs0 package whose headers this build used: 29.0.2+dfsg-1+b1
  # without its epoch and Debian revision, 29.0.2+dfsg
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
  math(EXPR _libobs_next_major "${_libobs_major} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libobs0 (>= ${_libobs0_version}), libobs0 (<< ${_libobs_next_major})")
endif()

# libc and libstdc++ as dpkg-shlibdeps finds them, where it is installed
find_program(TAVIMORE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TAVIMORE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
