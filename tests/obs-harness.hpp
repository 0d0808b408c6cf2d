/*
 * A real libobs host for the tests: starts libobs (with or without its
 * graphics thread), loads the module that the build produced, captures the
 * log and offers a test-pattern source whose pixels tell where they came from.
 */
#pragma once

#include <obs-module.h>

#include "tracking/face-tracker.hpp"
#include "core/zoom-core.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct HostOptions {
	/* start libobs-opengl and the graphics thread (needed to render) */
	bool video = false;
	uint32_t width = 256;
	uint32_t height = 256;
	uint32_t fps = 60;
	/* the canvas: VIDEO_CS_2100_PQ with VIDEO_FORMAT_P010 draws it in
	 * half floats, in Rec. 709 extended (HDR) */
	video_colorspace colorspace = VIDEO_CS_SRGB;
	video_format format = VIDEO_FORMAT_RGBA;
	/* the module's data folder; defaults to the source tree's data */
	std::string data_path;
	/* load the module at start-up */
	bool load_module = true;
	/* a UI thread, as OBS Studio has: libobs's UI tasks run on a thread
	 * of the harness, one after another, and the module is loaded there
	 * (TAVIMORE_TEST_UI_THREAD=1 in the environment sets it too) */
	bool ui_thread = false;
	/* run_tests_in_host: more set-up once libobs runs (loading OBS's own
	 * plug-ins, say); false stops the run */
	std::function<bool()> after_start;
};

struct LogLine {
	int level;
	std::string text;
};

/* Starts libobs, registers the test pattern and loads the module. Returns
 * false (with a reason on stderr) when libobs cannot start. */
bool start_host(const HostOptions &options);
/* Shuts libobs down; returns libobs's count of allocations still alive. */
long stop_host();

/* Runs the tests of one binary inside one host. */
int run_tests_in_host(int argc, char **argv, const HostOptions &options);

std::vector<LogLine> captured_logs();
void clear_logs();
/* Lines of the log whose text contains `needle`. */
std::vector<LogLine> logs_containing(const std::string &needle);

/* The graphics module the host renders with: TAVIMORE_TEST_GRAPHICS, else
 * libobs-opengl (libobs-d3d11 is Windows's other one). */
const char *graphics_module();

/* The module file the tests load: the build's, or an installed copy named
 * by TAVIMORE_TEST_MODULE (with its data folder in TAVIMORE_TEST_DATA). */
const char *module_file();
/* The module as libobs loaded it. */
obs_module_t *loaded_module();

/* A public source (hotkeys can be registered on it) drawing a test pattern
 * of the given size: red = x, green = y, scaled to 0..255 over the frame. */
obs_source_t *create_pattern_source(const char *name, uint32_t width = 256,
				    uint32_t height = 256);
/* A picture for create_picture_source: `rgba8` holds rows of RGBA bytes
 * (sRGB-encoded, alpha premultiplied) for GS_RGBA, `rgba` rows of RGBA
 * floats (linear, premultiplied) for GS_RGBA16F, uploaded as half floats. */
struct Picture {
	uint32_t width = 0;
	uint32_t height = 0;
	gs_color_format format = GS_RGBA;
	/* the colour space the source reports */
	gs_color_space space = GS_CS_SRGB;
	std::vector<uint8_t> rgba8;
	std::vector<float> rgba;
	/* a second sprite over the picture, as a capture draws its cursor:
	 * an opaque white square of this size (0: none) at cursor_x,
	 * cursor_y, placed there by the matrix */
	uint32_t cursor_size = 0;
	uint32_t cursor_x = 0;
	uint32_t cursor_y = 0;
	/* draw the picture through the "Draw" technique of the effect libobs
	 * hands the source, begun by the source itself */
	bool begins_draw = false;
	/* OBS_SOURCE_CUSTOM_DRAW: drawn with OBS's default effect, as OBS's
	 * screen capture draws itself */
	bool custom_draw = false;
};
/* A public source drawing the picture as OBS's image source draws: sRGB
 * aware (OBS_SOURCE_SRGB), alpha premultiplied. */
obs_source_t *create_picture_source(const char *name, const Picture &picture);
/* IEEE half floats, as GS_RGBA16F textures hold them. */
uint16_t half_from_float(float value);
float float_from_half(uint16_t half);

/* A zoom filter made through libobs; settings may be null. */
obs_source_t *create_zoom_filter(const char *name, obs_data_t *settings);

/*
 * What a zoom filter holds, copied for a test: the only way the tests see
 * its state, so that its records can change without rewriting them. The
 * targets, the selection and what is shown are copied under the filter's
 * lock; the keys under their own, unless the caller runs inside the
 * filter's hotkey work (a hotkey signal it raised: KeyRead::Held) or leaves
 * them out; the pointer as the filter reads it; the face, whether the view
 * follows and the texture only where frames run (with video, the graphics
 * thread).
 */
struct ZoomSnapshot {
	/* the settings as update read them */
	ZoomStage idle;
	std::vector<ZoomStage> stages;
	int32_t stage_count;
	Easing easing_in, easing_out;
	double tracking_smoothing, tracking_dead_zone;
	TrackingSubject tracking_subject;
	/* the selection, the transition and what is shown */
	int32_t active_stage, held_stage;
	bool automatic; /* the automatic zoom chose active_stage */
	bool zoom_in_held, zoom_out_held;
	double transition_start_zoom, transition_progress, current_zoom;
	double current_center_x, current_center_y;
	double target_center_x, target_center_y;
	/* the keys registered: `filter` is the data each stage key hands its
	 * callback, `context` tells one registration from the next */
	bool hotkeys_registered;
	obs_hotkey_id idle_zoom_in_hotkey, idle_zoom_out_hotkey, idle_hotkey;
	struct StageKey {
		obs_hotkey_id id;
		int32_t stage_index;
		const void *filter, *context;
	};
	std::vector<StageKey> stage_keys;
	/* the followers: the pointer and where it was last seen, the face */
	bool pointer, pointer_seen, tracking_shown, face;
	bool auto_seen; /* the automatic zoom has read the pointer (frames) */
	double pointer_x, pointer_y;
	FaceSighting sighting;
	uint64_t face_readbacks, face_frame_ns;
	/* the renderer: what it found of its effect, its input's texture */
	bool effect, center_param, half_size_param, input;
	const ZoomSnapshot *operator->() const { return this; }
};
enum class KeyRead { Locked, Held, Skipped };
ZoomSnapshot snapshot_of(obs_source_t *filter, KeyRead keys = KeyRead::Locked);
/* The same, taken on the graphics thread between frames (video only). */
ZoomSnapshot graphics_snapshot(obs_source_t *filter);
/* Puts the filter where a press leaves it, for a filter without keys: stage
 * `active` (-1: idle) chosen, its transition from `start` at `progress`. */
void set_selection(obs_source_t *filter, int32_t active, double start,
		   double progress);
/* A filter that every look through `->` copies afresh; the copy lasts as
 * long as the expression (loop over snapshot_of(filter).stage_keys). */
struct ZoomView {
	obs_source_t *filter;
	ZoomSnapshot operator->() const { return snapshot_of(filter); }
	operator ZoomSnapshot() const { return snapshot_of(filter); }
};
/* Hands the followed face a gate that holds its worker's next search
 * (graphics thread). */
void set_face_gate(obs_source_t *filter, std::shared_ptr<FaceGate> gate);
/* Swaps the effect the filter draws with for `effect`, returning the one
 * it had: the path without an effect, drawn on purpose (graphics thread). */
gs_effect_t *swap_effect(obs_source_t *filter, gs_effect_t *effect);

/* The filter's descriptor as the module registered it with libobs. */
const obs_source_info &zoom_filter_info();
/* Takes the filter off its parent and releases both. */
void remove_and_release(obs_source_t *parent, obs_source_t *filter);
/* Calls the filter's tick with dt seconds, as libobs's graphics thread
 * does, then waits for the hotkey work it queued; only for hosts without
 * video, where nothing else ticks. */
void tick(obs_source_t *source, float seconds, int times = 1);
/* Merges changes into the filter's settings and runs its update at once
 * (libobs defers it to a graphics tick), then waits for the hotkey work it
 * queued; only for hosts without video. */
void update_filter(obs_source_t *source, obs_data_t *changes);
/* update_filter with one whole number changed. */
void set_int(obs_source_t *filter, const char *key, long long value);
/* Waits until the module's hotkey work queued so far is done (it runs on
 * the UI thread when there is one, else on libobs's destruction task
 * thread, as destroy does). */
void wait_hotkeys();
/* Whether the host runs UI tasks (HostOptions::ui_thread). */
bool has_ui_thread();
/* Queues `task` on the UI thread behind what waits there, without waiting
 * for it, as OBS Studio's event loop queues its own work. */
void post_ui_task(std::function<void()> task);
/* Runs `work` on libobs's graphics thread and waits for it (video only). */
void on_graphics_thread(const std::function<void()> &work);
/* Waits until the graphics thread has finished `frames` more frames, and
 * the hotkey work that they queued. */
void wait_frames(int frames);
/* Waits until every source released so far has been destroyed. */
void wait_destroyed();

/* A render target and its read-back surface, made once and drawn into any
 * number of times. Make, use and destroy it inside the graphics context. */
class ReadbackTarget {
public:
	/* of the given format, drawn in the given colour space; the pixels
	 * read back are rows of that format (8 bytes a pixel for RGBA16F) */
	ReadbackTarget(uint32_t width, uint32_t height,
		       gs_color_format format = GS_RGBA,
		       gs_color_space space = GS_CS_SRGB);
	~ReadbackTarget();
	ReadbackTarget(const ReadbackTarget &) = delete;
	ReadbackTarget &operator=(const ReadbackTarget &) = delete;

	/* Clears the target, runs `content` with plain (non-blending) drawing
	 * in an orthographic view of the target's size, and reads the result
	 * back, into `pixels` as rows of RGBA when it is not null. */
	void draw(const std::function<void()> &content,
		  std::vector<uint8_t> *pixels = nullptr);

private:
	uint32_t width;
	uint32_t height;
	uint32_t pixel_bytes;
	gs_color_space space;
	gs_texrender_t *target;
	gs_stagesurf_t *stage;
};

/* Renders a source at the given size and reads the RGBA pixels back. */
std::vector<uint8_t> render_pixels(obs_source_t *source, uint32_t width,
				   uint32_t height);

/* The hotkeys registered on a source, by name. */
struct HotkeyInfo {
	obs_hotkey_id id;
	std::string name;
	std::string description;
};
std::vector<HotkeyInfo> hotkeys_of(obs_source_t *source);
/* The same, name to id (the last of several of one name). */
std::map<std::string, obs_hotkey_id> hotkey_ids(obs_source_t *source);
/* The names of every hotkey named "tavimore.…", on any registrant. */
std::vector<std::string> module_hotkeys();
/* The id of the hotkey of that name on that source; -1 when none. */
obs_hotkey_id find_hotkey(obs_source_t *source, const char *name, int nth = 0);
/* Presses (and, with release, releases) a hotkey through libobs. */
void press_hotkey(obs_hotkey_id id, bool release = true);

#ifndef _WIN32
/* The threads of this process that carry the name `name` (Linux). */
int threads_named(const char *name);
#endif
