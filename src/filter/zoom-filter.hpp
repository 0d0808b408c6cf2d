/*
 * The records of one zoom filter instance. Shared by every part of the
 * filter: lifecycle, settings, hotkeys, animation, rendering and properties.
 */
#pragma once

#include <obs-module.h>

#include "filter/zoom-api.hpp"
#include "tracking/capture-settings.hpp"
#include "tracking/follower.hpp"
#include "tracking/pointer-source.hpp"
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

/* What the frame heads for: the target's zoom and centre, and whether the
 * centre follows, or is taken at the press of the choice numbered
 * `choice`. */
struct FrameTarget {
	double zoom, center_x, center_y;
	bool tracking;
	bool automatic; /* a click chose the stage: it follows the pointer */
	bool pressed;   /* zoomed to where the pointer was when chosen */
	int64_t choice;
	bool face_framing;
	double face_share;
};

/*
 * The stage selection (zoom-control.cpp): the targets (idle and the stage
 * list), the one chosen, the hold stage whose key is down, the transition
 * and what is shown, under `lock`, so that a frame never sees half of a
 * stage press. Keys and requests choose the target, update writes the
 * targets, the frame advances the transition and the centre, render and
 * GetState read what is shown. `event_lock` keeps each change of target in
 * order with its StageChanged, sent once `lock` is let go. Which thread
 * takes which, in what order: RELIABILITY.md's thread map.
 */
class ZoomSelection {
public:
	/* sequence numbers start from the clock, so that a filter made later
	 * starts above every earlier one */
	explicit ZoomSelection(obs_source_t *source);
	/* update: the idle target (its zoom stays while a hold key is down)
	 * and the stage list; a stage that goes while shown eases back to
	 * idle, announced */
	void set_idle(const ZoomStage &idle);
	void set_stages(std::vector<ZoomStage> &stages);
	/* at rest on the idle zoom (create): a zoom that is not a finite
	 * number starts at 1, so that no transition ever starts from it */
	void settle();
	bool any_tracking();
	/* the keys: a stage key's press or release, the return to idle, an
	 * idle hold key; the hotkeys went while keys were down (their releases
	 * will not come): whether an idle hold key was, and the hold stage,
	 * announced on `parent` (kept alive by the caller, or null) */
	void press_stage_key(int32_t k, bool pressed);
	void press_idle_key();
	void hold_idle_key(bool zoom_in, bool pressed);
	bool release_idle_keys();
	void release_held_stage(obs_source_t *parent);
	double idle_zoom();
	bool request(obs_source_t *parent, StageRequest kind, long long number,
		     int32_t &chosen, std::string &error);
	ZoomState state();
	/* the automatic zoom (the frame): a click's stage (zero-based) shown,
	 * unless the user chose one (false); back to idle from it; whether
	 * it is shown */
	bool show_auto_stage(int32_t stage);
	void end_auto();
	bool automatic();
	/* the frame: the transition advanced by dt, then the centre glided
	 * towards the one wanted; render's window on what is shown */
	FrameTarget advance(double dt, Easing in, Easing out);
	/* and the zoom glided to `framing` (a face's framing; 0: none) or
	 * back from it to the transition's */
	void glide(double center_x, double center_y, double keep,
		   double framing = 0.0);
	CropWindow window();

private:
	/* the tests' one look inside, and a selection made without keys */
	friend struct SnapshotDoor;
	friend void set_selection(obs_source_t *, int32_t, double, double);
	template<class Choose>
	void change(obs_source_t *parent, bool filter_parent, Choose choose,
		    bool automatic = false);
	const ZoomStage &target() const;

	obs_source_t *source;
	std::mutex event_lock;
	std::mutex lock;
	ZoomStage idle;
	std::vector<ZoomStage> stages;
	/* grows by one with every change of target (StageChanged) */
	int64_t stage_sequence;
	int32_t active_stage = -1;
	int32_t held_stage = -1;
	bool auto_shown = false; /* active_stage was chosen by a click */
	bool zoom_in_held = false;
	bool zoom_out_held = false;
	double transition_start_zoom = 1.0;
	double transition_progress = 0.0;
	double current_zoom = 1.0;
	/* the transition's zoom, and the one shown instead while framing a
	 * face or easing back from it (`framed`) */
	double eased_zoom = 1.0;
	double framed_zoom = 1.0;
	bool framed = false;
	double current_center_x = 0.5;
	double current_center_y = 0.5;
	double target_center_x = 0.5;
	double target_center_y = 0.5;
};

/*
 * The hotkey registry (zoom-hotkeys.cpp): the keys registered on the
 * parent, their set and descriptions, the bindings the filter carries,
 * under `keys_lock`; and what the keys should be (zoom-stages.cpp: the
 * parent the frame saw, the stages' number and names, the filter's name),
 * under `wanted_lock`, a leaf. Each change of what they should be queues
 * the hotkey work, which brings the registered keys in line on the thread
 * where the host saves.
 */
class HotkeyRegistry {
public:
	HotkeyRegistry(ZoomFilter *filter, const char *name);
	~HotkeyRegistry();
	/* the frame: a change of parent queues the work */
	void follow_parent();
	/* filter_remove, the "rename" signal, update (the stage count, the
	 * names chosen_stage_name gives the stages) */
	void removed();
	void renamed(const char *name);
	void want_stages(size_t count, std::vector<std::string> names);
	/* the hotkey work: registers, unregisters, renames */
	void sync();
	/* libobs's save: the bindings of every registered key go with the
	 * filter (the saving thread) */
	void save();
	/* every key unregistered (destroy, or another parent): the weak
	 * parent they were on, for the caller to release */
	obs_weak_source_t *unregister_all();

private:
	friend struct SnapshotDoor;
	void queue_work();
	void set_parent_seen(obs_source_t *parent);
	void release_owner();
	void claim_keys(obs_data_t *own);
	void choose_set(obs_source_t *parent);
	std::string description(const char *text_key,
				const std::string &number) const;
	std::string stage_number(int32_t index) const;
	void follow_names(const std::string &name,
			  const std::vector<std::string> &stage_names);
	void register_on(obs_source_t *parent, obs_weak_source_t *weak,
			 size_t stages, const std::string &name,
			 const std::vector<std::string> &stage_names);

	ZoomFilter *filter;
	std::mutex keys_lock;
	/* one context per stage whose key was tried on the parent, alive
	 * until its key is unregistered */
	std::vector<std::unique_ptr<StageHotkeyContext>> contexts;
	obs_weak_source_t *parent = nullptr;
	bool registered = false; /* the hold keys tried on it */
	/* idle zoom in, idle zoom out, return to idle */
	obs_hotkey_id fixed[3] = {OBS_INVALID_HOTKEY_ID, OBS_INVALID_HOTKEY_ID,
				  OBS_INVALID_HOTKEY_ID};
	/* 1 for the names without a suffix, n > 1 for names ending ".n" */
	int64_t set = 0;
	/* the filter's name in the descriptions of a set n > 1, the stages'
	 * names in their keys' ("" for a default) */
	std::string described_name;
	std::vector<std::string> described_stage_names;
	/* marks the key bindings the filter saves as its own while its keys
	 * are on a source: a copy made meanwhile carries the same mark */
	int64_t owner = 0;

	std::mutex wanted_lock;
	/* for comparing only; the frame reads it without the lock */
	std::atomic<obs_source_t *> wanted_parent_seen{nullptr};
	obs_weak_source_t *wanted_parent = nullptr;
	size_t wanted_stages = 1;
	std::string wanted_name; /* copied by the "rename" signal */
	std::vector<std::string> wanted_stage_names;
	std::atomic<bool> work_queued{false};
};

struct ZoomFilter {
	explicit ZoomFilter(obs_source_t *source)
		: source(source), selection(source),
		  keys(this, obs_source_get_name(source))
	{
	}
	obs_source_t *source;
	ZoomRenderer renderer;
	ZoomSelection selection;
	HotkeyRegistry keys;

	int32_t stage_count = 1;
	Easing easing_in = Easing::EaseInOut;
	Easing easing_out = Easing::EaseInOut;
	double tracking_smoothing = 0.6;
	double tracking_dead_zone = DEFAULT_DEAD_ZONE;

	/* The settings object has no lock of its own: a hold key let go writes
	 * the idle zoom into it while update reads it, both under this. (In
	 * OBS Studio the keys' callbacks run on the UI thread, which saves, so
	 * the write never meets a save.) */
	std::mutex settings_lock;

	/*
	 * Centre tracking, on the graphics thread (update and the frame; create
	 * and destroy never overlap them): what the targets follow and whether
	 * any tracks; the follower while one does (render uses it, see
	 * set_follower); the wanted centre that the dead zone moves, and what
	 * the parent shows, looked up every CAPTURE_CHECK_FRAMES frames.
	 */
	TrackingSubject tracking_subject = TrackingSubject::Auto;
	bool any_tracking = false;
	std::unique_ptr<Follower> follower;
	bool tracking_shown = false;
	double tracked_x = 0.5;
	double tracked_y = 0.5;
	/* framing a face by its size: the zoom it asks for (0: none, the
	 * target's own) */
	double framing_goal = 0.0;
	uint32_t capture_check_countdown = 0;
	CaptureSettings parent_capture;
	/* an "at the press" target: where the follower first saw the pointer
	 * (or face) after the choice numbered press_sequence was made; until
	 * then (press_pending) the target's own centre */
	int64_t press_sequence = 0;
	bool press_pending = false;
	double press_x = 0.5;
	double press_y = 0.5;

	/*
	 * The automatic zoom (zoom-auto.cpp). Its settings are written by
	 * update and read by the frame, both on the graphics thread, as is
	 * what the frame last saw of the input; the selection knows whether
	 * a click chose the stage shown.
	 */
	AutoZoom auto_zoom = AutoZoom::Off;
	int32_t auto_stage = 0; /* zero-based */
	double auto_linger = 2.5;
	bool auto_running = false; /* on, enabled and on a source */
	double auto_quiet = 0.0;   /* seconds since the last click or key */
	InputActivity auto_seen;
	/* the pointer and its clicks while the automatic zoom runs, apart
	 * from the follower (which may follow a face meanwhile) */
	std::unique_ptr<PointerClient> auto_pointer;
	AutoZoom auto_watching = AutoZoom::Off; /* what it was told */

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
/* Makes `next` the follower inside the graphics context, which render holds
 * while it uses it; the one replaced goes outside it, without waiting. */
void set_follower(ZoomFilter *filter, std::unique_ptr<Follower> next);

/* the hotkeys */
/* The hotkey work of the filter whose source `weak` (a weak reference,
 * released here) names. */
void hotkey_work(void *weak);
/* Unregisters every hotkey of the filter and releases the keys that were
 * down (destroy, or the keys leave their parent). */
void unregister_all_hotkeys(ZoomFilter *filter);

/* One frame of the automatic zoom, before the animation's. */
void follow_input(ZoomFilter *filter, double seconds);

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
