/*
 * The records of one zoom filter instance. Shared by every part of the
 * filter: lifecycle, settings, hotkeys, animation, rendering and properties.
 */
#pragma once

#include <obs-module.h>

#include "filter/zoom-api.hpp"
#include "tracking/capture-settings.hpp"
#include "tracking/follower.hpp"
#include "core/zoom-core.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

/* The dead zone's default: a quarter of the shown window's size. */
constexpr double DEFAULT_DEAD_ZONE = 0.25;
/* How long an open property sheet may show other than the settings before
 * OBS is asked to rebuild it. */
constexpr double SHEET_SETTLE_SECONDS = 0.3;

/* What libobs hands back to a stage's toggle hotkey callback. */
struct StageHotkeyContext {
	ZoomFilter *filter;
	int32_t stage_index;
	obs_hotkey_id hotkey_id = OBS_INVALID_HOTKEY_ID;
};

/*
 * The renderer (zoom-render.cpp): the effect, its parameters and
 * techniques, and the texture of the input. Loaded by create, freed by
 * destroy and used by render, only inside the graphics context, which is
 * its lock.
 */
struct ZoomRenderer {
	gs_effect_t *effect = nullptr;
	gs_eparam_t *center_param = nullptr;
	gs_eparam_t *half_size_param = nullptr;
	gs_eparam_t *multiplier_param = nullptr;
	gs_eparam_t *image_param = nullptr;
	/* Draw, DrawMultiply, DrawTonemap, DrawMultiplyTonemap */
	gs_technique_t *techniques[4] = {};
	/* DrawParent: the parent drawing itself straight into the output */
	gs_technique_t *parent_technique = nullptr;
	/* set while the parent draws itself through DrawParent: libobs runs
	 * the parent's filters again when this filter is drawn on its own,
	 * outside the parent's chain, and that must not recurse */
	bool drawing_parent = false;
	/* the part of the input that the window shows, drawn once a frame
	 * (in render, inside the graphics context): the frame's time, the
	 * pixels and the colour space it holds */
	gs_texrender_t *input = nullptr;
	uint64_t input_frame_time = 0;
	int input_rect[4] = {};
	gs_color_space input_space = GS_CS_SRGB;

	/* Loads the effect; false (logged) when it cannot. */
	bool load();
	void unload();
};

struct ZoomFilter {
	obs_source_t *source = nullptr;
	ZoomRenderer renderer;

	ZoomStage idle;
	/* the stage list: sized by update, read by the frame (graphics thread) */
	std::vector<ZoomStage> stages;

	int32_t stage_count = 1;
	Easing easing_in = Easing::EaseInOut;
	Easing easing_out = Easing::EaseInOut;
	double tracking_smoothing = 0.6;
	double tracking_dead_zone = DEFAULT_DEAD_ZONE;

	/* The hotkeys as registered (zoom-hotkeys.cpp), under `keys_lock`:
	 * one context per stage whose key was tried on the parent, alive until
	 * its key is unregistered. */
	std::mutex keys_lock;
	std::vector<std::unique_ptr<StageHotkeyContext>> stage_hotkey_contexts;
	obs_weak_source_t *hotkey_parent = nullptr;
	bool hotkeys_registered = false; /* the hold keys tried on it */
	obs_hotkey_id idle_zoom_in_hotkey = OBS_INVALID_HOTKEY_ID;
	obs_hotkey_id idle_zoom_out_hotkey = OBS_INVALID_HOTKEY_ID;
	obs_hotkey_id idle_hotkey = OBS_INVALID_HOTKEY_ID; /* return to idle */
	/* 1 for the names without a suffix, n > 1 for names ending ".n" */
	int64_t hotkey_set = 0;
	/* the filter's name in the descriptions of a set n > 1 */
	std::string described_name;
	/* the stages' names in their keys' descriptions ("" for a default) */
	std::vector<std::string> described_stage_names;
	/* marks the key bindings the filter saves as its own while its keys
	 * are on a source: a copy made meanwhile carries the same mark */
	int64_t keys_owner = 0;

	/* What the hotkeys should be (zoom-stages.cpp), under `wanted_lock`:
	 * the parent the frame last saw, the stage list's length, the names. */
	std::mutex wanted_lock;
	/* for comparing only; the frame reads it without the lock */
	std::atomic<obs_source_t *> wanted_parent_seen{nullptr};
	obs_weak_source_t *wanted_parent = nullptr;
	size_t wanted_stages = 1;
	std::string wanted_name; /* copied by the "rename" signal */
	/* each stage's name as chosen_stage_name gives it, copied by update */
	std::vector<std::string> wanted_stage_names;
	std::atomic<bool> hotkey_work_queued{false};

	/*
	 * The selection and what is shown, under `lock`, so that a frame never
	 * sees half of a stage press: the hotkey callbacks and requests choose
	 * the target and start its transition, the frame writes the zoom and
	 * the centres (render reads them inside the graphics context). The
	 * graphics thread also holds it while it resizes `stages` or writes a
	 * stage's values, which requests read. `event_lock` keeps each change
	 * of target in order with its StageChanged (zoom-control.cpp). Which
	 * thread takes which, in what order: RELIABILITY.md's thread map.
	 */
	std::mutex event_lock;
	std::mutex lock;
	/* grows by one with every change of target (StageChanged); it starts
	 * from the clock, so that a filter made later starts above it */
	int64_t stage_sequence = 0;
	int32_t active_stage = -1;
	/* the hold stage whose key chose active_stage and is still down */
	int32_t held_stage = -1;
	double transition_start_zoom = 1.0;
	double transition_progress = 0.0;
	bool zoom_in_held = false;
	bool zoom_out_held = false;
	double current_zoom = 1.0;
	/* the frame writes the centres; render, which may run on any thread
	 * inside the graphics context, reads them with current_zoom */
	double current_center_x = 0.5;
	double current_center_y = 0.5;
	double target_center_x = 0.5;
	double target_center_y = 0.5;

	/* The settings object has no lock of its own: a hold key let go writes
	 * the idle zoom into it while update reads it, both under this. (In
	 * OBS Studio the keys' callbacks run on the UI thread, which saves, so
	 * the write never meets a save.) */
	std::mutex settings_lock;

	/*
	 * Centre tracking, on the graphics thread (update and the frame; create
	 * and destroy never overlap them): what the tracking targets follow
	 * ("tracking_subject") and whether any target tracks; the follower
	 * while one does, which render uses inside the graphics context, so it
	 * is made current and dropped inside it too (zoom-animation.cpp); the
	 * wanted centre that the dead zone moves, and what the parent shows,
	 * looked up every CAPTURE_CHECK_FRAMES frames.
	 */
	TrackingSubject tracking_subject = TrackingSubject::Auto;
	bool any_tracking = false;
	std::unique_ptr<Follower> follower;
	bool tracking_shown = false;
	double tracked_x = 0.5;
	double tracked_y = 0.5;
	uint32_t capture_check_countdown = 0;
	CaptureSettings parent_capture;
	/* an "at the press" target: where the follower first saw the pointer
	 * (or face) after the choice numbered press_sequence was made; until
	 * then (press_pending) the target's own centre */
	int64_t press_sequence = 0;
	bool press_pending = false;
	double press_x = 0.5;
	double press_y = 0.5;

	/* fingerprints of what the property sheet last built or refreshed
	 * shows (the UI thread writes it) and of what the settings ask it to
	 * show (update), compared by the frame, which counts how long they
	 * have differed */
	std::atomic<size_t> sheet_shown{0};
	std::atomic<size_t> sheet_wanted{0};
	double sheet_outdated_for = 0.0;
};

/* settings */
void zoom_filter_get_defaults(obs_data_t *settings);
void zoom_filter_update(void *data, obs_data_t *settings);
/* The name a user gave stage `index` (zero-based), or "" when `name` is
 * the stage's default ("Stage N"), its translation or blank. */
std::string chosen_stage_name(int index, const char *name);
/* Makes the follower the one for what the tracking targets follow on the
 * filter's parent now. Graphics thread, outside the graphics context. */
void sync_tracking(ZoomFilter *filter);
/* Drops the follower (destroy). */
void close_follower(ZoomFilter *filter);

/* the stage list and its hotkeys */
void sync_stages(ZoomFilter *filter);
/* Compares the filter's parent with the one the frame saw last; a change
 * queues the hotkey work. Graphics thread. */
void follow_parent(ZoomFilter *filter);
/* The filter left its parent (libobs's filter_remove). */
void zoom_filter_remove(void *data, obs_source_t *parent);
/* The filter's "rename" signal: the descriptions follow its name. */
void zoom_filter_renamed(void *data, calldata_t *cd);
/* The stages' names as chosen_stage_name gives them (update): the stage
 * keys' descriptions follow them. */
void follow_stage_names(ZoomFilter *filter, std::vector<std::string> names);
/* The hotkey work of the filter whose source `weak` (a weak reference,
 * released here) names. */
void hotkey_work(void *weak);
/* libobs's save: the bindings of every registered key go with the filter.
 * The saving thread. */
void zoom_filter_save(void *data, obs_data_t *settings);
/* Gives up the mark on the bindings the filter carries (it left its
 * parent, or goes). */
void release_keys_owner(ZoomFilter *filter);
/* Unregisters every hotkey of the filter (destroy). */
void unregister_all_hotkeys(ZoomFilter *filter);
void on_stage_hotkey(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey,
		     bool pressed);
void on_idle_zoom_in(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey,
		     bool pressed);
void on_idle_zoom_out(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey,
		      bool pressed);
void on_idle_hotkey(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey,
		    bool pressed);
void save_idle_zoom_factor(ZoomFilter *filter);

/* A settings change took the active stage away: back to idle. */
void drop_active_stage(ZoomFilter *filter);
/* The hotkeys went while a hold stage's key was down: its release will not
 * come, so it is released here; the event names `parent` (the source the
 * key was on, kept alive by the caller), or nobody when it is null. */
void release_held_stage(ZoomFilter *filter, obs_source_t *parent);

/* frame */
void zoom_filter_tick(void *data, float seconds);
void zoom_filter_render(void *data, gs_effect_t *effect);
gs_color_space zoom_filter_color_space(void *data, size_t count,
				       const gs_color_space *preferred);

/* property sheet */
obs_properties_t *zoom_filter_properties(void *data);
/* A fingerprint of what the property sheet shows of these settings:
 * which stages, whether tracking, the stages' titles. */
size_t sheet_fingerprint(obs_data_t *settings);
/* Asks OBS to rebuild an open property sheet that has shown other stages,
 * tracking or titles than the settings ask for, for SHEET_SETTLE_SECONDS.
 * Frame (graphics thread). */
void follow_sheet(ZoomFilter *filter, float seconds);
