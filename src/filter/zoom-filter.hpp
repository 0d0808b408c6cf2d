/*
 * The records of one zoom filter instance. Shared by every part of the
 * filter: lifecycle, settings, hotkeys, animation, rendering and properties.
 */
#pragma once

#include <obs-module.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

/* One zoom target: the idle target or a numbered stage. */
struct ZoomStage {
	std::string name;
	double zoom_factor = 1.5;
	bool center_tracking = false; /* stored only; nothing reads it */
	double center_x = 0.5;
	double center_y = 0.5;
	double duration = 0.5; /* seconds */
	obs_hotkey_id hotkey_id = OBS_INVALID_HOTKEY_ID;
};

struct ZoomFilter;

/* What libobs hands back to a stage's toggle hotkey callback. */
struct StageHotkeyContext {
	ZoomFilter *filter;
	int32_t stage_index;
};

struct ZoomFilter {
	obs_source_t *source = nullptr;
	gs_effect_t *effect = nullptr;
	gs_eparam_t *center_param = nullptr;
	gs_eparam_t *half_size_param = nullptr;
	gs_eparam_t *multiplier_param = nullptr;
	gs_eparam_t *image_param = nullptr;
	/* Draw, DrawMultiply, DrawTonemap, DrawMultiplyTonemap */
	gs_technique_t *techniques[4] = {};
	/* the part of the input that the window shows, drawn once a frame
	 * (in render, inside the graphics context): the frame's time, the
	 * pixels and the colour space it holds */
	gs_texrender_t *input = nullptr;
	uint64_t input_frame_time = 0;
	int input_rect[4] = {};
	gs_color_space input_space = GS_CS_SRGB;

	ZoomStage idle;
	std::vector<ZoomStage> stages;
	/* one slot per stage; a context lives until its hotkey is unregistered */
	std::vector<std::unique_ptr<StageHotkeyContext>> stage_hotkey_contexts;

	int32_t stage_count = 1;
	int32_t easing_in = 1;
	int32_t easing_out = 1;
	double tracking_smoothing = 0.6;

	bool hotkeys_registered = false;
	obs_hotkey_id idle_zoom_in_hotkey = OBS_INVALID_HOTKEY_ID;
	obs_hotkey_id idle_zoom_out_hotkey = OBS_INVALID_HOTKEY_ID;

	/*
	 * Shared with the hotkey callbacks, which run on libobs's hotkey
	 * thread: they write active_stage, transition_start_zoom,
	 * transition_progress and the two held flags, and read current_zoom
	 * and idle.zoom_factor, which the frame writes. Every access to these
	 * (and every write of idle.zoom_factor) holds `lock`, so a frame never
	 * sees half of a stage press. The lock is never held while calling a
	 * libobs hotkey function: libobs calls our callbacks under its own
	 * hotkey mutex.
	 */
	std::mutex lock;
	int32_t active_stage = -1;
	double transition_start_zoom = 1.0;
	double transition_progress = 0.0;
	bool zoom_in_held = false;
	bool zoom_out_held = false;
	double current_zoom = 1.0;

	/*
	 * The filter's settings object has no lock of its own, and the idle
	 * hold keys write to it from the hotkey thread while update reads it
	 * on the graphics thread. Both hold `settings_lock` around their use
	 * of it; like `lock`, it is never held while calling a libobs hotkey
	 * function.
	 */
	std::mutex settings_lock;

	/* written and read by the frame only (graphics thread) */
	double current_center_x = 0.5;
	double current_center_y = 0.5;
	double target_center_x = 0.5;
	double target_center_y = 0.5;
};

/* descriptor and lifecycle */
void register_zoom_filter();
void unregister_stage_hotkey(ZoomStage &stage);

/* settings */
void zoom_filter_get_defaults(obs_data_t *settings);
void zoom_filter_update(void *data, obs_data_t *settings);
void sync_stages(ZoomFilter *filter);

/* hotkeys */
void register_missing_stage_hotkeys(ZoomFilter *filter);
void register_hotkeys_once(ZoomFilter *filter);
void on_stage_hotkey(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey,
		     bool pressed);
void on_idle_zoom_in(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey,
		     bool pressed);
void on_idle_zoom_out(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey,
		      bool pressed);
void save_idle_zoom_factor(ZoomFilter *filter);

/* frame */
void zoom_filter_tick(void *data, float seconds);
void zoom_filter_render(void *data, gs_effect_t *effect);
gs_color_space zoom_filter_color_space(void *data, size_t count,
				       const gs_color_space *preferred);

/* property sheet */
obs_properties_t *zoom_filter_properties(void *data);
void add_zoom_group(obs_properties_t *props, const char *prefix,
		    const char *label, bool with_name);
bool on_stage_count_modified(obs_properties_t *props, obs_property_t *property,
			     obs_data_t *settings);
bool on_help_show_modified(obs_properties_t *props, obs_property_t *property,
			   obs_data_t *settings);
