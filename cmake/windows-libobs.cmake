# libobs for a Windows build: OBS ships no CMake package for it, so the
# target OBS::libobs is made here from libobs's headers and obs.dll's import
# library.
#
# The headers decide which OBS the module loads in: libobs refuses a module
# that reports (obs_module_ver) a newer major.minor than its own, and takes a
# smaller obs_source_info than its own. The oldest headers at hand, Debian's
# libobs-dev (29.0.2), give a module that loads in OBS 29.0 and every later
# version; the import library only names obs.dll's exports, which are the
# same for every version of them that the module calls.
set(TAVIMORE_LIBOBS_INCLUDE_DIR
    "/usr/include/obs"
    CACHE PATH "libobs's headers (obs-module.h)")
set(TAVIMORE_OBS_IMPORT_LIB
    ""
    CACHE FILEPATH "obs.dll's import library (obs.lib)")
# The tests' host: OBS's Windows libobs with its plug-ins, in OBS's layout
# (bin/, obs-plugins/, data/)
set(TAVIMORE_WINDOWS_HOST
    ""
    CACHE PATH "OBS's Windows libobs for the tests (bin/obs.dll)")
if(NOT EXISTS "${TAVIMORE_LIBOBS_INCLUDE_DIR}/obs-module.h")
  message(FATAL_ERROR "no obs-module.h in TAVIMORE_LIBOBS_INCLUDE_DIR (${TAVIMORE_LIBOBS_INCLUDE_DIR})")
endif()
if(NOT EXISTS "${TAVIMORE_OBS_IMPORT_LIB}")
  message(FATAL_ERROR "set TAVIMORE_OBS_IMPORT_LIB to obs.dll's import library (obs.lib)")
endif()

file(STRINGS "${TAVIMORE_LIBOBS_INCLUDE_DIR}/obs-config.h" _obs_version_lines
     REGEX "^#define LIBOBS_API_(MAJOR|MINOR|PATCH)_VER +[0-9]+")
foreach(_part MAJOR MINOR PATCH)
  string(REGEX REPLACE ".*LIBOBS_API_${_part}_VER +([0-9]+).*" "\\1" _obs_${_part} "${_obs_version_lines}")
endforeach()
set(libobs_VERSION "${_obs_MAJOR}.${_obs_MINOR}.${_obs_PATCH}")
message(STATUS "libobs headers ${libobs_VERSION}: ${TAVIMORE_LIBOBS_INCLUDE_DIR}")

# util/sse-intrin.h takes SSE2 from SIMDe outside MSVC: Debian's libsimde-dev,
# reached through a folder of its own so that no other build-machine header
# comes along.
set(_simde_dir "${CMAKE_BINARY_DIR}/simde-include")
if(NOT EXISTS "${_simde_dir}/simde/x86/sse2.h")
  find_path(
    TAVIMORE_SIMDE_DIR simde/x86/sse2.h
    PATHS /usr/include
    NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  file(MAKE_DIRECTORY "${_simde_dir}")
  file(CREATE_LINK "${TAVIMORE_SIMDE_DIR}/simde" "${_simde_dir}/simde" SYMBOLIC)
endif()

add_library(OBS::libobs UNKNOWN IMPORTED)
set_target_properties(OBS::libobs PROPERTIES IMPORTED_LOCATION "${TAVIMORE_OBS_IMPORT_LIB}"
                                             INTERFACE_INCLUDE_DIRECTORIES "${TAVIMORE_LIBOBS_INCLUDE_DIR};${_simde_dir}")
