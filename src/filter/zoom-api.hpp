/*
 * What the rest of the module may ask of a zoom filter: its type, its state
 * and a change of stage. The filter's records stay behind this header.
 */
#pragma once

#include <obs-module.h>

#include <cstdint>
#include <string>

constexpr char ZOOM_FILTER_ID[] = "tavimore_filter";

struct ZoomFilter;

/* Registers the filter type: false when libobs refused it. */
bool register_zoom_filter();
/* Notes whether the host runs UI tasks: called from obs_module_load, which
 * OBS Studio runs on its UI thread once it handles them. */
void note_ui_tasks();

/* Told of every change of target (StageChanged): the filter on `parent`
 * (alive for the call), the stage now chosen (0 = idle), its name and the
 * change's sequence number. Set once at load, before any filter exists;
 * called without the selection's lock held, in the order of the changes. */
using StageChangedHook = void (*)(obs_source_t *parent, obs_source_t *filter,
				  int32_t stage, const std::string &stage_name,
				  int64_t sequence);
void set_stage_changed_hook(StageChangedHook hook);

enum class StageRequest { Set, Toggle };
/* A request for stage `number` (0 = idle, 1..count) of the filter on
 * `parent`, which the caller holds a reference to; false, with the valid
 * range in `error`, when there is no such stage. `chosen` is the stage
 * chosen after it (0 = idle). */
bool request_stage(ZoomFilter *filter, obs_source_t *parent, StageRequest kind,
		   long long number, int32_t &chosen, std::string &error);

/* What a GetState request reports. */
struct ZoomState {
	int64_t sequence; /* that of the last change of target */
	int32_t stage;    /* 0 = idle, 1..count */
	std::string stage_name;
	int32_t stage_count;
	double shown_zoom, target_zoom, progress;
	double center_x, center_y;
	bool tracking;
};
ZoomState zoom_state(ZoomFilter *filter);
