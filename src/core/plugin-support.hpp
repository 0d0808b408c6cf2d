#pragma once

#include <util/base.h>

#define PLUGIN_NAME "tavimore-free"
/* the project's version, from CMake */
#ifndef PLUGIN_VERSION
#error "PLUGIN_VERSION comes from CMakeLists.txt"
#endif

/* Writes one line to the host's log with "[tavimore-free] " ahead of it. */
void log_message(int level, const char *format, ...);
