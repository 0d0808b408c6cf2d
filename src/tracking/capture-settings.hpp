/* What a filter's parent source shows, read from its settings. */
#pragma once

#include "pointer-source.hpp"

#include <obs-module.h>

/* The screen capture's and the window capture's area settings; any other
 * source, or none, shows the whole screen. */
CaptureSettings capture_settings_of(obs_source_t *parent);

/* The window a window capture's "capture_window" setting names: the number
 * before its first line break; 0 when there is none. */
uint32_t capture_window_id(const char *setting);
