/* What a filter's parent shows, read from its settings. */
#pragma once

#include "tracking/pointer-source.hpp"

#include <obs-module.h>

/* Fills `capture` from the parent's source type and settings: OBS's screen
 * capture (xshm_input, and xshm_input_v2 from OBS 31 on) and window capture
 * (xcomposite_input) show an area of the X screen; any other source, or
 * none, shows the whole screen. Fills in place, so that a check of an
 * unchanged parent allocates nothing. */
void capture_settings_of(obs_source_t *parent, CaptureSettings &capture);

/* The same, from a source type's unversioned id and its settings. */
void capture_settings_from(const char *id, obs_data_t *settings,
			   CaptureSettings &capture);
