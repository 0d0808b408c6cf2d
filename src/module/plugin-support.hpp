#pragma once

#include <util/base.h>

#define PLUGIN_NAME "tavimore-free"
#define PLUGIN_VERSION "1.0.0"

/* Writes one line to the host's log with "[tavimore-free] " ahead of it. */
void log_message(int level, const char *format, ...);
