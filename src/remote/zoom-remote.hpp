/*
 * Remote control through obs-websocket's vendor API: the vendor "tavimore"
 * with the requests GetState, SetStage and ToggleStage and the event
 * StageChanged. Without obs-websocket every call here does nothing.
 */
#pragma once

#include <obs-module.h>

#include <cstdint>
#include <string>

/* Registers the vendor and its requests; call from obs_module_post_load,
 * when obs-websocket has loaded. */
void remote_register();
/* Forgets the vendor: nothing is sent once the module is unloading. */
void remote_unregister();
/* Sends StageChanged: the filter's StageChangedHook (zoom-api.hpp). */
void remote_stage_changed(obs_source_t *parent, obs_source_t *filter,
			  int32_t stage, const std::string &stage_name,
			  int64_t sequence, bool automatic);
