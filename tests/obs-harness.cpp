#ifdef _WIN32
/* before libobs: its SSE names from SIMDe must not meet the compiler's own
 * intrinsics, which windows.h brings in */
#include <windows.h>
#endif

#include "obs-harness.hpp"
#include "filter/zoom-filter.hpp"
#include "tracking/pointer-source.hpp"

#include <obs.h>
#include <graphics/graphics.h>
#include <util/base.h>
#include <util/bmem.h>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <obs-nix-platform.h>
/* after gtest: Xlib defines None and Bool as macros */
#include <X11/Xlib.h>

#include <dirent.h>
#include <dlfcn.h>

#include <fstream>
#endif

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

static std::mutex log_mutex;
static std::vector<LogLine> log_lines;
static obs_module_t *module_handle = nullptr;
#ifndef _WIN32
static Display *x_display = nullptr;
#endif

static void capture_log(int level, const char *format, va_list args, void *)
{
	char text[4096];
	vsnprintf(text, sizeof(text), format, args);
	if (std::getenv("TAVIMORE_TEST_VERBOSE"))
		std::fprintf(stderr, "log %d: %s\n", level, text);
	std::lock_guard<std::mutex> guard(log_mutex);
	log_lines.push_back({level, text});
}

std::vector<LogLine> captured_logs()
{
	std::lock_guard<std::mutex> guard(log_mutex);
	return log_lines;
}

void clear_logs()
{
	std::lock_guard<std::mutex> guard(log_mutex);
	log_lines.clear();
}

std::vector<LogLine> logs_containing(const std::string &needle)
{
	std::vector<LogLine> found;
	for (const LogLine &line : captured_logs())
		if (line.text.find(needle) != std::string::npos)
			found.push_back(line);
	return found;
}

/* ---- the test pattern source -------------------------------------- */

struct Pattern {
	gs_texture_t *texture = nullptr;
	uint32_t width = 256;
	uint32_t height = 256;
};

static uint8_t scaled(uint32_t i, uint32_t n)
{
	return n > 1 ? static_cast<uint8_t>((i * 255 + (n - 1) / 2) / (n - 1))
		     : 0;
}

static void *pattern_create(obs_data_t *settings, obs_source_t *)
{
	auto *p = new Pattern();
	p->width = static_cast<uint32_t>(obs_data_get_int(settings, "width"));
	p->height = static_cast<uint32_t>(obs_data_get_int(settings, "height"));
	std::vector<uint8_t> pixels(size_t(p->width) * p->height * 4);
	uint8_t *px = pixels.data();
	for (uint32_t y = 0; y < p->height; y++)
		for (uint32_t x = 0; x < p->width; x++, px += 4) {
			px[0] = scaled(x, p->width);
			px[1] = scaled(y, p->height);
			px[2] = 64;
			px[3] = 255;
		}
	const uint8_t *planes[] = {pixels.data()};
	obs_enter_graphics();
	p->texture =
		gs_texture_create(p->width, p->height, GS_RGBA, 1, planes, 0);
	obs_leave_graphics();
	return p;
}

static void pattern_destroy(void *data)
{
	auto *p = static_cast<Pattern *>(data);
	obs_enter_graphics();
	gs_texture_destroy(p->texture);
	obs_leave_graphics();
	delete p;
}

static void pattern_render(void *data, gs_effect_t *effect)
{
	auto *p = static_cast<Pattern *>(data);
	if (!p->texture)
		return;
	gs_effect_set_texture(gs_effect_get_param_by_name(effect, "image"),
			      p->texture);
	gs_draw_sprite(p->texture, 0, p->width, p->height);
}

static void register_pattern_source()
{
	obs_source_info info = {};
	info.id = "tavimore_test_pattern";
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_VIDEO;
	info.get_name = [](void *) {
		return "Test pattern";
	};
	info.create = pattern_create;
	info.destroy = pattern_destroy;
	info.get_defaults = [](obs_data_t *settings) {
		obs_data_set_default_int(settings, "width", 256);
		obs_data_set_default_int(settings, "height", 256);
	};
	info.video_render = pattern_render;
	info.get_width = [](void *data) {
		return static_cast<Pattern *>(data)->width;
	};
	info.get_height = [](void *data) {
		return static_cast<Pattern *>(data)->height;
	};
	obs_register_source(&info);
}

/* ---- a picture drawn as OBS's image source draws ------------------ */

uint16_t half_from_float(float value)
{
	uint32_t bits;
	std::memcpy(&bits, &value, sizeof(bits));
	const uint16_t sign = uint16_t((bits >> 16) & 0x8000);
	const int exponent = int((bits >> 23) & 0xff) - 127 + 15;
	const uint32_t mantissa = bits & 0x7fffff;
	if (exponent <= 0)
		return sign; /* tiny values: zero is all the tests need */
	if (exponent >= 31)
		return uint16_t(sign | 0x7c00);
	/* round to nearest */
	/* a carry out of the mantissa moves into the exponent */
	const uint32_t half =
		(uint32_t(exponent) << 10) + ((mantissa + 0x1000) >> 13);
	return uint16_t(sign | half);
}

float float_from_half(uint16_t half)
{
	const int exponent = (half >> 10) & 0x1f;
	const int mantissa = half & 0x3ff;
	float value;
	if (exponent == 0)
		value = std::ldexp(float(mantissa), -24);
	else if (exponent == 31)
		value = mantissa ? NAN : INFINITY;
	else
		value = std::ldexp(float(mantissa | 0x400), exponent - 25);
	return half & 0x8000 ? -value : value;
}

struct PictureSource {
	gs_texture_t *texture = nullptr;
	uint32_t width = 0;
	uint32_t height = 0;
	gs_color_space space = GS_CS_SRGB;
	gs_texture_t *cursor = nullptr;
	uint32_t cursor_size = 0;
	uint32_t cursor_x = 0;
	uint32_t cursor_y = 0;
	bool begins_draw = false;
};

/* handed from create_picture_source to picture_create, on one thread */
static const Picture *next_picture = nullptr;

static void *picture_create(obs_data_t *, obs_source_t *)
{
	auto *p = new PictureSource();
	if (!next_picture)
		return p;
	const Picture &picture = *next_picture;
	p->width = picture.width;
	p->height = picture.height;
	p->space = picture.space;
	std::vector<uint16_t> halves;
	const uint8_t *plane = picture.rgba8.data();
	if (picture.format == GS_RGBA16F) {
		for (float v : picture.rgba)
			halves.push_back(half_from_float(v));
		plane = reinterpret_cast<const uint8_t *>(halves.data());
	}
	p->cursor_size = picture.cursor_size;
	p->cursor_x = picture.cursor_x;
	p->cursor_y = picture.cursor_y;
	p->begins_draw = picture.begins_draw;
	const std::vector<uint8_t> white(
		size_t(p->cursor_size) * p->cursor_size * 4, 255);
	const uint8_t *cursor_plane = white.data();
	obs_enter_graphics();
	p->texture = gs_texture_create(p->width, p->height, picture.format, 1,
				       &plane, 0);
	if (p->cursor_size)
		p->cursor = gs_texture_create(p->cursor_size, p->cursor_size,
					      GS_RGBA, 1, &cursor_plane, 0);
	obs_leave_graphics();
	return p;
}

static void picture_destroy(void *data)
{
	auto *p = static_cast<PictureSource *>(data);
	obs_enter_graphics();
	gs_texture_destroy(p->texture);
	if (p->cursor)
		gs_texture_destroy(p->cursor);
	obs_leave_graphics();
	delete p;
}

static void picture_render(void *data, gs_effect_t *effect)
{
	auto *p = static_cast<PictureSource *>(data);
	if (!p->texture)
		return;
	/* custom drawn, as OBS's screen capture: its own effect */
	if (!effect) {
		effect = obs_get_base_effect(OBS_EFFECT_DEFAULT);
		p->begins_draw = true;
	}
	const bool previous = gs_framebuffer_srgb_enabled();
	gs_enable_framebuffer_srgb(true);
	gs_blend_state_push();
	gs_blend_function(GS_BLEND_ONE, GS_BLEND_INVSRCALPHA);
	gs_eparam_t *image = gs_effect_get_param_by_name(effect, "image");
	gs_technique_t *draw = p->begins_draw
				       ? gs_effect_get_technique(effect, "Draw")
				       : nullptr;
	const size_t passes = draw ? gs_technique_begin(draw) : 1;
	for (size_t i = 0; i < passes; i++) {
		if (draw)
			gs_technique_begin_pass(draw, i);
		gs_effect_set_texture_srgb(image, p->texture);
		gs_draw_sprite(p->texture, 0, p->width, p->height);
		if (p->cursor) {
			gs_matrix_push();
			gs_matrix_translate3f(float(p->cursor_x),
					      float(p->cursor_y), 0.0f);
			gs_effect_set_texture_srgb(image, p->cursor);
			gs_draw_sprite(p->cursor, 0, p->cursor_size,
				       p->cursor_size);
			gs_matrix_pop();
		}
		if (draw)
			gs_technique_end_pass(draw);
	}
	if (draw)
		gs_technique_end(draw);
	gs_blend_state_pop();
	gs_enable_framebuffer_srgb(previous);
}

static void register_picture_source(bool custom_draw)
{
	obs_source_info info = {};
	info.id = custom_draw ? "tavimore_test_picture_custom"
			      : "tavimore_test_picture";
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_SRGB |
			    (custom_draw ? OBS_SOURCE_CUSTOM_DRAW : 0);
	info.get_name = [](void *) {
		return "Test picture";
	};
	info.create = picture_create;
	info.destroy = picture_destroy;
	info.video_render = picture_render;
	info.get_width = [](void *data) {
		return static_cast<PictureSource *>(data)->width;
	};
	info.get_height = [](void *data) {
		return static_cast<PictureSource *>(data)->height;
	};
	info.video_get_color_space = [](void *data, size_t,
					const gs_color_space *) {
		return static_cast<PictureSource *>(data)->space;
	};
	obs_register_source(&info);
}

obs_source_t *create_picture_source(const char *name, const Picture &picture)
{
	next_picture = &picture;
	obs_source_t *source = obs_source_create(
		picture.custom_draw ? "tavimore_test_picture_custom"
				    : "tavimore_test_picture",
		name, nullptr, nullptr);
	next_picture = nullptr;
	return source;
}

/* Keeps the filter's descriptor as the module registers it (below). */
static void keep_registered_filter(obs_module_t *module);
static void answer_missing_wine_functions();

/* ---- a UI thread, as OBS Studio's ---------------------------------- */

static std::mutex ui_mutex;
static std::condition_variable ui_wake;
static std::deque<std::function<void()>> ui_queue;
static bool ui_stopping = false;
static std::thread ui_thread;
static std::thread::id ui_thread_id;

static void run_ui_thread()
{
	for (;;) {
		std::function<void()> task;
		{
			std::unique_lock<std::mutex> lock(ui_mutex);
			ui_wake.wait(lock, [] {
				return ui_stopping || !ui_queue.empty();
			});
			if (ui_queue.empty())
				return;
			task = std::move(ui_queue.front());
			ui_queue.pop_front();
		}
		task();
	}
}

void post_ui_task(std::function<void()> task)
{
	{
		std::lock_guard<std::mutex> lock(ui_mutex);
		ui_queue.push_back(std::move(task));
	}
	ui_wake.notify_one();
}

bool has_ui_thread()
{
	return ui_thread.joinable();
}

/* As OBS Studio's handler: on the UI thread at once, from any other thread
 * queued, and waited for when asked. */
static void ui_task_handler(obs_task_t task, void *param, bool wait)
{
	if (std::this_thread::get_id() == ui_thread_id) {
		task(param);
	} else if (!wait) {
		post_ui_task([task, param] { task(param); });
	} else {
		std::promise<void> done;
		post_ui_task([&] {
			task(param);
			done.set_value();
		});
		done.get_future().wait();
	}
}

/* ---- host start and stop ------------------------------------------ */

static bool load_module(const HostOptions &options)
{
	const char *data_override = std::getenv("TAVIMORE_TEST_DATA");
	const std::string data = data_override ? data_override
				 : options.data_path.empty()
					 ? TAVIMORE_DATA_DIR
					 : options.data_path;
	if (obs_open_module(&module_handle, module_file(), data.c_str()) !=
	    MODULE_SUCCESS) {
		std::fprintf(stderr, "cannot open %s\n", module_file());
		return false;
	}
	keep_registered_filter(module_handle);
	if (!obs_init_module(module_handle)) {
		std::fprintf(stderr, "cannot load %s\n", module_file());
		return false;
	}
	return true;
}

bool start_host(const HostOptions &options)
{
	base_set_log_handler(capture_log, nullptr);

#ifndef _WIN32
	x_display = XOpenDisplay(nullptr);
	if (!x_display) {
		std::fprintf(stderr, "no X display: run under xvfb-run\n");
		return false;
	}
	obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
	obs_set_nix_platform_display(x_display);
#endif

	if (!obs_startup("en-US", nullptr, nullptr)) {
		std::fprintf(stderr, "obs_startup failed\n");
		return false;
	}

	if (options.video) {
		answer_missing_wine_functions();
		obs_video_info ovi = {};
		ovi.graphics_module = graphics_module();
		ovi.fps_num = options.fps;
		ovi.fps_den = 1;
		ovi.base_width = options.width;
		ovi.base_height = options.height;
		ovi.output_width = options.width;
		ovi.output_height = options.height;
		ovi.output_format = options.format;
		ovi.colorspace = options.colorspace;
		ovi.range = VIDEO_RANGE_FULL;
		ovi.gpu_conversion = true;
		ovi.scale_type = OBS_SCALE_BILINEAR;
		const int result = obs_reset_video(&ovi);
		if (result != OBS_VIDEO_SUCCESS) {
			std::fprintf(stderr, "obs_reset_video failed: %d\n",
				     result);
			return false;
		}
	}

	register_pattern_source();
	register_picture_source(false);
	register_picture_source(true);
	obs_hotkey_enable_callback_rerouting(true);

	if (options.ui_thread) {
		ui_stopping = false;
		ui_thread = std::thread(run_ui_thread);
		ui_thread_id = ui_thread.get_id();
		obs_set_ui_task_handler(ui_task_handler);
	}
	if (!options.load_module)
		return true;
	if (!options.ui_thread)
		return load_module(options);
	/* OBS Studio loads its modules on its UI thread */
	struct Load {
		const HostOptions &options;
		bool loaded;
	} load{options, false};
	obs_queue_task(
		OBS_TASK_UI,
		[](void *data) {
			auto *l = static_cast<Load *>(data);
			l->loaded = load_module(l->options);
		},
		&load, true);
	return load.loaded;
}

long stop_host()
{
	if (has_ui_thread())
		wait_hotkeys();
	obs_shutdown();
	if (ui_thread.joinable()) {
		{
			std::lock_guard<std::mutex> lock(ui_mutex);
			ui_stopping = true;
		}
		ui_wake.notify_one();
		ui_thread.join();
	}
	module_handle = nullptr;
#ifndef _WIN32
	if (x_display) {
		XCloseDisplay(x_display);
		x_display = nullptr;
	}
#endif
	return bnum_allocs();
}

const char *graphics_module()
{
	const char *chosen = std::getenv("TAVIMORE_TEST_GRAPHICS");
	return chosen && *chosen ? chosen : "libobs-opengl";
}

const char *module_file()
{
	const char *installed = std::getenv("TAVIMORE_TEST_MODULE");
	return installed ? installed : TAVIMORE_MODULE_FILE;
}

obs_module_t *loaded_module()
{
	return module_handle;
}

int run_tests_in_host(int argc, char **argv, const HostOptions &options)
{
	::testing::InitGoogleTest(&argc, argv);
	HostOptions host = options;
	const char *ui = std::getenv("TAVIMORE_TEST_UI_THREAD");
	if (ui && std::strcmp(ui, "1") == 0)
		host.ui_thread = true;
	if (!start_host(host))
		return 1;
	if (host.after_start && !host.after_start()) {
		stop_host();
		return 1;
	}
	const int result = RUN_ALL_TESTS();
	const long leaked = stop_host();
	if (leaked != 0) {
		std::fprintf(stderr, "libobs reports %ld allocations alive\n",
			     leaked);
		return result ? result : 1;
	}
	return result;
}

/* ---- sources ------------------------------------------------------- */

obs_source_t *create_pattern_source(const char *name, uint32_t width,
				    uint32_t height)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, "width", width);
	obs_data_set_int(settings, "height", height);
	obs_source_t *source = obs_source_create("tavimore_test_pattern", name,
						 settings, nullptr);
	obs_data_release(settings);
	return source;
}

obs_source_t *create_zoom_filter(const char *name, obs_data_t *settings)
{
	return obs_source_create_private("tavimore_filter", name, settings);
}

static ZoomFilter *zoom_data(obs_source_t *filter)
{
	return static_cast<ZoomFilter *>(obs_obj_get_data(filter));
}

/* The one look inside the filter's owners. */
struct SnapshotDoor {
	static void read(ZoomSelection &o, ZoomSnapshot &s)
	{
		std::lock_guard<std::mutex> guard(o.lock);
		s.idle = o.idle;
		s.stages = o.stages;
		s.active_stage = o.active_stage;
		s.held_stage = o.held_stage;
		s.automatic = o.auto_shown;
		s.zoom_in_held = o.zoom_in_held;
		s.zoom_out_held = o.zoom_out_held;
		s.transition_start_zoom = o.transition_start_zoom;
		s.transition_progress = o.transition_progress;
		s.current_zoom = o.current_zoom;
		s.current_center_x = o.current_center_x;
		s.current_center_y = o.current_center_y;
		s.target_center_x = o.target_center_x;
		s.target_center_y = o.target_center_y;
	}
	static void read(HotkeyRegistry &o, ZoomSnapshot &s, KeyRead keys)
	{
		std::unique_lock<std::mutex> guard(o.keys_lock,
						   std::defer_lock);
		if (keys == KeyRead::Locked)
			guard.lock();
		s.hotkeys_registered = o.registered;
		s.idle_zoom_in_hotkey = o.fixed[0];
		s.idle_zoom_out_hotkey = o.fixed[1];
		s.idle_hotkey = o.fixed[2];
		for (const auto &c : o.contexts)
			s.stage_keys.push_back({c->hotkey_id, c->stage_index,
						c->filter, c.get()});
	}
};

/* The follower as the face tracker its subject says it is (unchecked by
 * the sanitizers: the tracker's type information is the module's own). */
static FaceTracker *face_of(Follower *follower)
{
	return static_cast<FaceTracker *>(follower);
}

ZoomSnapshot snapshot_of(obs_source_t *source, KeyRead keys)
{
	ZoomFilter *f = zoom_data(source);
	ZoomSnapshot s{};
	SnapshotDoor::read(f->selection, s);
	s.stage_count = f->stage_count;
	s.easing_in = f->easing_in;
	s.easing_out = f->easing_out;
	s.tracking_smoothing = f->tracking_smoothing;
	s.tracking_dead_zone = f->tracking_dead_zone;
	s.tracking_subject = f->tracking_subject;
	if (keys != KeyRead::Skipped)
		SnapshotDoor::read(f->keys, s, keys);
	s.effect = f->renderer.effect != nullptr;
	s.center_param = f->renderer.center_param != nullptr;
	s.half_size_param = f->renderer.half_size_param != nullptr;
	/* the follower is the frame's, its pointer read by one thread: while
	 * frames run elsewhere, the pointer is read there */
	auto read_pointer = [&] {
		Follower *follower = f->follower.get();
		s.pointer = follower &&
			    follower->subject == TrackingSubject::Pointer;
		s.pointer_seen = s.pointer &&
				 static_cast<PointerClient *>(follower)->latest(
					 s.pointer_x, s.pointer_y);
	};
	obs_video_info video;
	if (obs_get_video_info(&video) &&
	    !obs_in_task_thread(OBS_TASK_GRAPHICS)) {
		on_graphics_thread(read_pointer);
		return s;
	}
	read_pointer();
	Follower *follower = f->follower.get();
	s.input = f->renderer.input != nullptr;
	double x, y;
	s.auto_seen = f->auto_pointer && f->auto_pointer->latest(x, y);
	s.tracking_shown = f->tracking_shown;
	s.face = follower && follower->subject == TrackingSubject::Face;
	if (s.face) {
		FaceTracker *face = face_of(follower);
		s.sighting = face->latest();
		s.face_readbacks = face->readbacks();
		s.face_frame_ns = face->frame_time_spent();
	}
	return s;
}

void set_selection(obs_source_t *filter, int32_t active, double start,
		   double progress)
{
	ZoomSelection &o = zoom_data(filter)->selection;
	std::lock_guard<std::mutex> guard(o.lock);
	o.active_stage = active;
	o.transition_start_zoom = start;
	o.transition_progress = progress;
}

void on_graphics_thread(const std::function<void()> &work)
{
	obs_queue_task(
		OBS_TASK_GRAPHICS,
		[](void *param) {
			(*static_cast<const std::function<void()> *>(param))();
		},
		const_cast<std::function<void()> *>(&work), true);
}

ZoomSnapshot graphics_snapshot(obs_source_t *filter)
{
	ZoomSnapshot s;
	on_graphics_thread([&] { s = snapshot_of(filter); });
	return s;
}

void set_face_gate(obs_source_t *filter, std::shared_ptr<FaceGate> gate)
{
	face_of(zoom_data(filter)->follower.get())->set_gate(std::move(gate));
}

gs_effect_t *swap_effect(obs_source_t *filter, gs_effect_t *effect)
{
	std::swap(zoom_data(filter)->renderer.effect, effect);
	return effect;
}

/*
 * libobs does not export its per-source tick, so the harness keeps the
 * descriptor that the module registers: it stands between the module and
 * libobs's own obs_register_source_s, copies the descriptor and hands it on
 * unchanged. On Linux the test binary exports the function, so it is found
 * first; a Windows DLL calls libobs through its import table, where the
 * harness puts itself before the module's obs_module_load runs.
 */
static obs_source_info zoom_info;

using Register = void (*)(const struct obs_source_info *, size_t);
static Register real_register = nullptr;

static void keep_descriptor(const struct obs_source_info *info, size_t size)
{
	if (info->id && std::strcmp(info->id, "tavimore_filter") == 0)
		std::memcpy(&zoom_info, info,
			    std::min(size, sizeof(zoom_info)));
	real_register(info, size);
}

#ifdef _WIN32
/* Points a DLL's import of `function` from `dll` at `replacement`; returns
 * what it pointed at (null when the DLL imports no such function). */
static void *replace_import(HMODULE module, const char *dll,
			    const char *function, void *replacement)
{
	auto *base = reinterpret_cast<uint8_t *>(module);
	const auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
	const auto *nt =
		reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
	const IMAGE_DATA_DIRECTORY &imports =
		nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
	for (auto *from = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(
		     base + imports.VirtualAddress);
	     from->Name; from++) {
		if (_stricmp(reinterpret_cast<char *>(base + from->Name), dll))
			continue;
		auto *name = reinterpret_cast<IMAGE_THUNK_DATA *>(
			base + from->OriginalFirstThunk);
		auto *slot = reinterpret_cast<IMAGE_THUNK_DATA *>(
			base + from->FirstThunk);
		for (; name->u1.AddressOfData; name++, slot++) {
			if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) ||
			    std::strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(
						base + name->u1.AddressOfData)
						->Name,
					function))
				continue;
			DWORD was;
			VirtualProtect(&slot->u1.Function, sizeof(void *),
				       PAGE_READWRITE, &was);
			void *previous =
				reinterpret_cast<void *>(slot->u1.Function);
			slot->u1.Function =
				reinterpret_cast<ULONG_PTR>(replacement);
			VirtualProtect(&slot->u1.Function, sizeof(void *), was,
				       &was);
			return previous;
		}
	}
	return nullptr;
}

static void keep_registered_filter(obs_module_t *module)
{
	real_register = reinterpret_cast<Register>(
		replace_import(static_cast<HMODULE>(obs_get_module_lib(module)),
			       "obs.dll", "obs_register_source_s",
			       reinterpret_cast<void *>(&keep_descriptor)));
}

static LONG WINAPI not_supported(const void *)
{
	return LONG(0xC00000BB); /* STATUS_NOT_SUPPORTED */
}

/* Wine has no D3DKMTSetProcessSchedulingPriorityClass (only a stub that
 * ends the process), which libobs-d3d11 calls to raise its GPU priority:
 * under Wine, libobs-d3d11 is told that this is not supported, and goes on
 * as it does on a Windows that says so. */
static void answer_missing_wine_functions()
{
	if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
		return;
	if (std::strcmp(graphics_module(), "libobs-d3d11") != 0)
		return;
	HMODULE d3d11 = LoadLibraryA("libobs-d3d11.dll");
	if (d3d11)
		replace_import(d3d11, "gdi32.dll",
			       "D3DKMTSetProcessSchedulingPriorityClass",
			       reinterpret_cast<void *>(&not_supported));
}
#else
static void keep_registered_filter(obs_module_t *) {}
static void answer_missing_wine_functions() {}

extern "C" __attribute__((visibility("default"))) void
obs_register_source_s(const struct obs_source_info *info, size_t size)
{
	if (!real_register)
		real_register = reinterpret_cast<Register>(
			dlsym(RTLD_NEXT, "obs_register_source_s"));
	keep_descriptor(info, size);
}
#endif

const obs_source_info &zoom_filter_info()
{
	return zoom_info;
}

void remove_and_release(obs_source_t *parent, obs_source_t *filter)
{
	obs_source_filter_remove(parent, filter);
	obs_source_release(filter);
	obs_source_release(parent);
}

void tick(obs_source_t *source, float seconds, int times)
{
	for (int i = 0; i < times; i++)
		zoom_info.video_tick(obs_obj_get_data(source), seconds);
	wait_hotkeys();
}

void update_filter(obs_source_t *source, obs_data_t *changes)
{
	obs_source_update(source, changes);
	obs_data_t *settings = obs_source_get_settings(source);
	zoom_info.update(obs_obj_get_data(source), settings);
	obs_data_release(settings);
	wait_hotkeys();
}

void set_int(obs_source_t *filter, const char *key, long long value)
{
	obs_data_t *changes = obs_data_create();
	obs_data_set_int(changes, key, value);
	update_filter(filter, changes);
	obs_data_release(changes);
}

static void no_op(void *) {}

void wait_frames(int frames)
{
	for (int i = 0; i < frames; i++)
		obs_queue_task(OBS_TASK_GRAPHICS, no_op, nullptr, true);
	wait_hotkeys();
}

void wait_destroyed()
{
	obs_queue_task(OBS_TASK_DESTROY, no_op, nullptr, true);
}

void wait_hotkeys()
{
	wait_destroyed();
	if (!has_ui_thread())
		return;
	/* work queued from the UI thread goes there by way of the
	 * destruction task */
	for (int i = 0; i < 2; i++) {
		obs_queue_task(OBS_TASK_UI, no_op, nullptr, true);
		wait_destroyed();
	}
}

ReadbackTarget::ReadbackTarget(uint32_t width, uint32_t height,
			       gs_color_format format, gs_color_space space)
	: width(width), height(height),
	  pixel_bytes(gs_get_format_bpp(format) / 8), space(space),
	  target(gs_texrender_create(format, GS_ZS_NONE)),
	  stage(gs_stagesurface_create(width, height, format))
{
}

ReadbackTarget::~ReadbackTarget()
{
	gs_stagesurface_destroy(stage);
	gs_texrender_destroy(target);
}

void ReadbackTarget::draw(const std::function<void()> &content,
			  std::vector<uint8_t> *pixels)
{
	gs_texrender_reset(target);
	if (gs_texrender_begin_with_color_space(target, width, height, space)) {
		vec4 clear;
		vec4_zero(&clear);
		gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
		gs_ortho(0.0f, float(width), 0.0f, float(height), -100.0f,
			 100.0f);
		gs_blend_state_push();
		gs_blend_function(GS_BLEND_ONE, GS_BLEND_ZERO);
		content();
		gs_blend_state_pop();
		gs_texrender_end(target);
	}
	gs_stage_texture(stage, gs_texrender_get_texture(target));
	uint8_t *data = nullptr;
	uint32_t linesize = 0;
	if (!gs_stagesurface_map(stage, &data, &linesize))
		return;
	if (pixels) {
		const size_t row = size_t(width) * pixel_bytes;
		pixels->resize(row * height);
		for (uint32_t y = 0; y < height; y++)
			std::memcpy(pixels->data() + y * row,
				    data + size_t(y) * linesize, row);
	}
	gs_stagesurface_unmap(stage);
}

std::vector<uint8_t> render_pixels(obs_source_t *source, uint32_t width,
				   uint32_t height)
{
	std::vector<uint8_t> pixels(size_t(width) * height * 4);
	obs_enter_graphics();
	{
		ReadbackTarget target(width, height);
		target.draw([source] { obs_source_video_render(source); },
			    &pixels);
	}
	obs_leave_graphics();
	return pixels;
}

/* ---- hotkeys ------------------------------------------------------- */

std::vector<HotkeyInfo> hotkeys_of(obs_source_t *source)
{
	struct Walk {
		obs_source_t *source;
		std::vector<HotkeyInfo> found;
	} walk{source, {}};
	obs_enum_hotkeys(
		[](void *data, obs_hotkey_id id, obs_hotkey_t *key) {
			auto *w = static_cast<Walk *>(data);
			if (obs_hotkey_get_registerer_type(key) !=
			    OBS_HOTKEY_REGISTERER_SOURCE)
				return true;
			auto *weak = static_cast<obs_weak_source_t *>(
				obs_hotkey_get_registerer(key));
			if (weak &&
			    obs_weak_source_references_source(weak, w->source))
				w->found.push_back(
					{id, obs_hotkey_get_name(key),
					 obs_hotkey_get_description(key)});
			return true;
		},
		&walk);
	return walk.found;
}

std::map<std::string, obs_hotkey_id> hotkey_ids(obs_source_t *source)
{
	std::map<std::string, obs_hotkey_id> ids;
	for (const HotkeyInfo &info : hotkeys_of(source))
		ids[info.name] = info.id;
	return ids;
}

std::vector<std::string> module_hotkeys()
{
	std::vector<std::string> names;
	obs_enum_hotkeys(
		[](void *data, obs_hotkey_id, obs_hotkey_t *key) {
			const std::string name = obs_hotkey_get_name(key);
			if (name.rfind("tavimore.", 0) == 0)
				static_cast<std::vector<std::string> *>(data)
					->push_back(name);
			return true;
		},
		&names);
	return names;
}

obs_hotkey_id find_hotkey(obs_source_t *source, const char *name, int nth)
{
	for (const HotkeyInfo &info : hotkeys_of(source))
		if (info.name == name && nth-- == 0)
			return info.id;
	return OBS_INVALID_HOTKEY_ID;
}

void press_hotkey(obs_hotkey_id id, bool release)
{
	obs_hotkey_trigger_routed_callback(id, true);
	if (release)
		obs_hotkey_trigger_routed_callback(id, false);
}

#ifndef _WIN32
int threads_named(const char *name)
{
	int n = 0;
	DIR *dir = opendir("/proc/self/task");
	while (dirent *e = dir ? readdir(dir) : nullptr) {
		std::ifstream comm(std::string("/proc/self/task/") + e->d_name +
				   "/comm");
		std::string line;
		if (std::getline(comm, line) && line == name)
			n++;
	}
	if (dir)
		closedir(dir);
	return n;
}
#endif
