# Cross-building the module for 64-bit Windows with Debian's MinGW-w64, the
# POSIX thread flavour (its C++ runtime has std::mutex and std::thread; the
# win32 flavour has neither):
#   cmake -S . -B build/windows --toolchain cmake/mingw-w64-x86_64.cmake \
#     -DTAVIMORE_OBS_IMPORT_LIB=.../obs.lib
# (scripts/build-windows.sh does it, with OBS's own Windows libobs.)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The build machine's libraries (xcb, say) must never be found through
# pkg-config.
set(ENV{PKG_CONFIG_LIBDIR} "")
set(ENV{PKG_CONFIG_PATH} "")

# The tests run through Wine (scripts/windows/wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/windows/wine-run.sh")
