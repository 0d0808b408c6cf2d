# A Debian package of the module in OBS Studio's system layout:
#   cpack -G DEB --config <build>/CPackConfig.cmake
# installs /usr/lib/<multiarch>/obs-plugins/tavimore-free.so and
# /usr/share/obs/obs-plugins/tavimore-free/, and depends on the libobs0 the
# module was built against (same major version, this release or newer).

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "obs-tavimore-free")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
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

# The libobs0 package whose headers this build used; without dpkg, the
# version that libobs's CMake package reports.
set(_libobs_version "")
if(TAVIMORE_DPKG_QUERY)
  execute_process(
    COMMAND "${TAVIMORE_DPKG_QUERY}" -W -f=\${Version} libobs0
    OUTPUT_VARIABLE _libobs_version
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
  # drop the epoch and the Debian revision: 29.0.2+dfsg-1+b1 -> 29.0.2+dfsg
  string(REGEX REPLACE "^[0-9]+:" "" _libobs_version "${_libobs_version}")
  string(REGEX REPLACE "-[^-]*$" "" _libobs_version "${_libobs_version}")
endif()
if(NOT _libobs_version)
  string(REGEX MATCH "^[0-9]+\\.[0-9]+\\.[0-9]+" _libobs_version "${libobs_VERSION}")
endif()
if(NOT _libobs_version)
  message(FATAL_ERROR "cannot tell which libobs this build uses (no dpkg-query, no libobs_VERSION)")
endif()
string(REGEX MATCH "^[0-9]+" _libobs_major "${_libobs_version}")
math(EXPR _libobs_next_major "${_libobs_major} + 1")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libobs0 (>= ${_libobs_version}), libobs0 (<< ${_libobs_next_major})")

# libc and libstdc++ as dpkg-shlibdeps finds them, where it is installed
find_program(TAVIMORE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TAVIMORE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
