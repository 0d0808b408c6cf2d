# The module as a Windows DLL that OBS can load.
#
# libobs's EXPORT macro is empty outside MSVC, so the entry points leave the
# DLL through a .def file, written from cmake/exports.map (the list the Linux
# build exports) so that the two never differ.
file(STRINGS "${PROJECT_SOURCE_DIR}/cmake/exports.map" _map_lines)
set(_def "LIBRARY tavimore-free\nEXPORTS\n")
set(_global FALSE)
foreach(_line IN LISTS _map_lines)
  if(_line MATCHES "global:")
    set(_global TRUE)
  elseif(_line MATCHES "local:")
    set(_global FALSE)
  elseif(_global AND _line MATCHES "^[ \t]*([A-Za-z_][A-Za-z0-9_]*);")
    string(APPEND _def "  ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
file(
  GENERATE
  OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/tavimore-free.def"
  CONTENT "${_def}")
target_sources(tavimore-free PRIVATE "${CMAKE_CURRENT_BINARY_DIR}/tavimore-free.def")
set_property(
  DIRECTORY
  APPEND
  PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/cmake/exports.map")

# OBS ships none of MinGW's runtime DLLs: the C++ runtime, libgcc and
# winpthreads go into the DLL, which then needs only obs.dll and Windows's
# own KERNEL32, USER32 and msvcrt. msvcrt is not libobs's C runtime (UCRT):
# nothing allocated by one is freed by the other, and no FILE* crosses.
target_link_options(tavimore-free PRIVATE -static -static-libgcc -static-libstdc++)
# no link time in the DLL's header: the same sources give the same DLL
target_link_options(tavimore-free PRIVATE -Wl,--no-insert-timestamp)
target_link_libraries(tavimore-free PRIVATE user32)
