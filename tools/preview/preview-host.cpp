#include "preview-host.hpp"

#include <obs-module.h>
#include <obs-nix-platform.h>
#include <util/base.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <stdexcept>

namespace {

/* ---- libobs's log ---------------------------------------------------- */

std::mutex log_mutex;
bool log_echo = false;
std::string last_error;
std::string module_error; /* the module's first error line */

void on_log(int level, const char *format, va_list args, void *)
{
	char text[4096];
	vsnprintf(text, sizeof(text), format, args);
	std::lock_guard<std::mutex> guard(log_mutex);
	if (log_echo)
		std::fprintf(stderr, "libobs: %s\n", text);
	if (level <= LOG_ERROR) {
		last_error = text;
		if (module_error.empty() &&
		    std::strstr(text, "[tavimore-free]"))
			module_error = text;
	}
}

/* ---- the filter's descriptor ----------------------------------------- */

/* video_tick is set once the module has registered the filter */
obs_source_info module_filter_info;

/* ---- the input source ------------------------------------------------ */

/* What the input shows: a picture drawn at width x height. */
struct Input {
	gs_texture_t *texture;
	uint32_t width;
	uint32_t height;
};

/* The input being created; the source takes it (and its texture). */
Input pending_input;

void register_input_source()
{
	obs_source_info info = {};
	info.id = "tavimore_preview_input";
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_VIDEO;
	info.get_name = [](void *) {
		return "Preview input";
	};
	info.create = [](obs_data_t *, obs_source_t *) -> void * {
		return new Input(pending_input);
	};
	info.destroy = [](void *data) {
		auto *in = static_cast<Input *>(data);
		obs_enter_graphics();
		gs_texture_destroy(in->texture);
		obs_leave_graphics();
		delete in;
	};
	info.video_render = [](void *data, gs_effect_t *effect) {
		auto *in = static_cast<Input *>(data);
		gs_effect_set_texture(gs_effect_get_param_by_name(effect,
								  "image"),
				      in->texture);
		gs_draw_sprite(in->texture, 0, in->width, in->height);
	};
	info.get_width = [](void *in) {
		return static_cast<Input *>(in)->width;
	};
	info.get_height = [](void *in) {
		return static_cast<Input *>(in)->height;
	};
	obs_register_source(&info);
}

} // namespace

/* The executable exports this function, so the dynamic linker gives the
 * module ours ahead of libobs's (see preview-host.hpp). */
extern "C" __attribute__((visibility("default"))) void
obs_register_source_s(const struct obs_source_info *info, size_t size)
{
	using Register = void (*)(const struct obs_source_info *, size_t);
	static const auto real = reinterpret_cast<Register>(
		dlsym(RTLD_NEXT, "obs_register_source_s"));
	if (info->id && std::strcmp(info->id, "tavimore_filter") == 0 &&
	    size >= offsetof(obs_source_info, video_tick) +
			    sizeof(info->video_tick)) {
		const size_t kept = std::min(size, sizeof(module_filter_info));
		std::memset(&module_filter_info, 0, sizeof(module_filter_info));
		std::memcpy(&module_filter_info, info, kept);
		obs_source_info gated = module_filter_info;
		/* libobs's own clock ticks nothing; the host ticks the filter */
		gated.video_tick = [](void *, float) {
		};
		real(&gated, kept);
		return;
	}
	real(info, size);
}

/* The display is opened once and kept: an Xvfb started by xvfb-run resets
 * when its last client leaves and refuses connections meanwhile. */
static Display *shared_display = nullptr;

/* Whether a thread of this process named "tavimore-face" is running (not
 * waiting). */
static bool face_detector_busy()
{
	bool busy = false;
	DIR *dir = opendir("/proc/self/task");
	while (dirent *e = dir ? readdir(dir) : nullptr) {
		const std::string task =
			std::string("/proc/self/task/") + e->d_name;
		std::ifstream comm(task + "/comm");
		std::string name;
		if (!std::getline(comm, name) || name != "tavimore-face")
			continue;
		/* "pid (name) state ...": the state follows the name */
		std::ifstream stat(task + "/stat");
		std::string line;
		std::getline(stat, line);
		const size_t close = line.rfind(')');
		if (close != std::string::npos && close + 2 < line.size() &&
		    line[close + 2] == 'R')
			busy = true;
	}
	if (dir)
		closedir(dir);
	return busy;
}

void wait_for_face_detector()
{
	/* the picture handed over in this frame wakes it a moment later */
	usleep(5000);
	for (int i = 0; i < 10000 && face_detector_busy(); i++)
		usleep(1000);
}

void move_pointer(double fx, double fy)
{
	if (!x_display_available())
		return;
	Display *d = shared_display;
	const int s = DefaultScreen(d);
	const auto pixel = [](double f, int size) {
		const int p = static_cast<int>(f * size);
		return p < size ? p : size - 1;
	};
	XTestFakeMotionEvent(d, s, pixel(fx, DisplayWidth(d, s)),
			     pixel(fy, DisplayHeight(d, s)), 0);
	XSync(d, False);
	std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void click_pointer(double fx, double fy)
{
	move_pointer(fx, fy);
	if (!x_display_available())
		return;
	XTestFakeButtonEvent(shared_display, 1, True, 0);
	XTestFakeButtonEvent(shared_display, 1, False, 0);
	XSync(shared_display, False);
	std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void type_key()
{
	if (!x_display_available())
		return;
	const KeyCode shift = XKeysymToKeycode(shared_display, XK_Shift_L);
	XTestFakeKeyEvent(shared_display, shift, True, 0);
	XTestFakeKeyEvent(shared_display, shift, False, 0);
	XSync(shared_display, False);
	std::this_thread::sleep_for(std::chrono::milliseconds(250));
}

bool x_display_available()
{
	const char *name = std::getenv("DISPLAY");
	if (!shared_display && name && *name)
		shared_display = XOpenDisplay(nullptr);
	return shared_display != nullptr;
}

void capture_libobs_log(bool echo)
{
	std::lock_guard<std::mutex> guard(log_mutex);
	log_echo = echo;
	base_set_log_handler(on_log, nullptr);
}

std::string last_libobs_error()
{
	std::lock_guard<std::mutex> guard(log_mutex);
	return last_error;
}

PreviewHost::PreviewHost(const std::string &module, const std::string &data,
			 bool verbose)
	: verbose(verbose)
{
	try {
		start(module, data);
	} catch (...) {
		stop();
		throw;
	}
}

void PreviewHost::start(const std::string &path, const std::string &data)
{
	capture_libobs_log(verbose);

	if (!x_display_available())
		throw std::runtime_error("cannot open the X display");
	obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
	obs_set_nix_platform_display(shared_display);

	if (!obs_startup("en-US", nullptr, nullptr))
		throw std::runtime_error("libobs did not start");
	started = true;

	/* The graphics thread gives us the graphics context; its own frames
	 * tick nothing of ours, so a low rate leaves the CPU to us. */
	obs_video_info ovi = {};
	ovi.graphics_module = "libobs-opengl";
	ovi.fps_num = 10;
	ovi.fps_den = 1;
	ovi.base_width = 320;
	ovi.base_height = 180;
	ovi.output_width = 320;
	ovi.output_height = 180;
	ovi.output_format = VIDEO_FORMAT_RGBA;
	ovi.colorspace = VIDEO_CS_SRGB;
	ovi.range = VIDEO_RANGE_FULL;
	ovi.gpu_conversion = true;
	ovi.scale_type = OBS_SCALE_BILINEAR;
	const int video = obs_reset_video(&ovi);
	if (video != OBS_VIDEO_SUCCESS)
		throw std::runtime_error(
			"libobs cannot start its OpenGL renderer (error " +
			std::to_string(video) + ")");

	register_input_source();
	obs_hotkey_enable_callback_rerouting(true);

	obs_module_t *module = nullptr;
	if (obs_open_module(&module, path.c_str(), data.c_str()) !=
	    MODULE_SUCCESS)
		throw std::runtime_error("libobs cannot load the module " +
					 path);
	if (!obs_init_module(module))
		throw std::runtime_error("the module " + path +
					 " did not initialise");
	if (!module_filter_info.video_tick)
		throw std::runtime_error(
			path +
			" does not register tavimore_filter with a tick");
}

PreviewHost::~PreviewHost()
{
	stop();
}

void PreviewHost::stop()
{
	if (started) {
		obs_enter_graphics();
		gs_stagesurface_destroy(stagesurf);
		gs_texrender_destroy(texrender);
		obs_leave_graphics();
		/* the input's end removes its filter */
		obs_source_release(filter);
		obs_source_release(input);
		obs_shutdown();
		started = false;
	}
	if (shared_display) {
		XCloseDisplay(shared_display);
		shared_display = nullptr;
	}
}

RgbaImage PreviewHost::load_image(const std::string &path) const
{
	/* libobs's decoder (FFmpeg) writes its complaints straight to
	 * stderr; ours is the one line that counts */
	std::fflush(stderr);
	const int saved = dup(STDERR_FILENO);
	const int null = open("/dev/null", O_WRONLY);
	if (!verbose && saved >= 0 && null >= 0)
		dup2(null, STDERR_FILENO);
	gs_color_format format = GS_UNKNOWN;
	uint32_t cx = 0, cy = 0;
	uint8_t *data =
		gs_create_texture_file_data(path.c_str(), &format, &cx, &cy);
	if (saved >= 0)
		dup2(saved, STDERR_FILENO);
	close(saved);
	close(null);

	const bool usable =
		data && cx && cy &&
		(format == GS_RGBA || format == GS_BGRA || format == GS_BGRX);
	RgbaImage image(usable ? cx : 0, usable ? cy : 0);
	if (usable)
		image.pixels.assign(data, data + image.pixels.size());
	bfree(data);
	for (size_t i = 0; format != GS_RGBA && i < image.pixels.size();
	     i += 4) {
		std::swap(image.pixels[i], image.pixels[i + 2]);
		if (format == GS_BGRX)
			image.pixels[i + 3] = 255;
	}
	if (!usable)
		throw std::runtime_error("cannot decode the image " + path);
	return image;
}

void PreviewHost::create_filter(const RgbaImage &picture, uint32_t w,
				uint32_t h, obs_data_t *settings)
{
	width = w;
	height = h;

	const uint8_t *planes[] = {picture.pixels.data()};
	obs_enter_graphics();
	gs_texture_t *texture = gs_texture_create(picture.width, picture.height,
						  GS_RGBA, 1, planes, 0);
	obs_leave_graphics();
	if (!texture)
		throw std::runtime_error(
			"cannot make a texture of the picture");
	pending_input = {texture, w, h};
	input = obs_source_create("tavimore_preview_input", "Preview input",
				  nullptr, nullptr);
	if (!input)
		throw std::runtime_error("libobs cannot create the input");

	{
		std::lock_guard<std::mutex> guard(log_mutex);
		module_error.clear();
	}
	filter = obs_source_create_private("tavimore_filter", "Tavimore Zoom",
					   settings);
	if (!filter)
		throw std::runtime_error(
			"libobs cannot create tavimore_filter");
	obs_source_filter_add(input, filter);
	{
		std::lock_guard<std::mutex> guard(log_mutex);
		if (!module_error.empty())
			throw std::runtime_error("the module reports: " +
						 module_error);
	}

	obs_enter_graphics();
	texrender = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
	stagesurf = gs_stagesurface_create(w, h, GS_RGBA);
	obs_leave_graphics();
	if (!texrender || !stagesurf)
		throw std::runtime_error("cannot make a render target of " +
					 std::to_string(w) + "x" +
					 std::to_string(h));
}

void PreviewHost::set_picture(const RgbaImage &picture)
{
	auto *in = static_cast<Input *>(obs_obj_get_data(input));
	const uint8_t *planes[] = {picture.pixels.data()};
	obs_enter_graphics();
	gs_texture_t *texture = gs_texture_create(picture.width, picture.height,
						  GS_RGBA, 1, planes, 0);
	if (texture) {
		gs_texture_destroy(in->texture);
		in->texture = texture;
	}
	obs_leave_graphics();
	if (!texture)
		throw std::runtime_error(
			"cannot make a texture of the picture");
}

std::map<std::string, obs_hotkey_id> PreviewHost::hotkeys() const
{
	struct Walk {
		obs_source_t *source;
		std::map<std::string, obs_hotkey_id> keys;
	} walk{input, {}};
	obs_enum_hotkeys(
		[](void *data, obs_hotkey_id id, obs_hotkey_t *key) {
			auto *w = static_cast<Walk *>(data);
			auto *weak = static_cast<obs_weak_source_t *>(
				obs_hotkey_get_registerer(key));
			if (obs_hotkey_get_registerer_type(key) ==
				    OBS_HOTKEY_REGISTERER_SOURCE &&
			    weak &&
			    obs_weak_source_references_source(weak, w->source))
				w->keys[obs_hotkey_get_name(key)] = id;
			return true;
		},
		&walk);
	return walk.keys;
}

void PreviewHost::tick(float seconds)
{
	module_filter_info.video_tick(obs_obj_get_data(filter), seconds);
	/* the filter's hotkey work runs on libobs's destruction task thread:
	 * wait for it, so that a key is there from the tick that asked for it */
	obs_queue_task(
		OBS_TASK_DESTROY, [](void *) {}, nullptr, true);
}

RgbaImage PreviewHost::render()
{
	RgbaImage frame(width, height);
	bool done = false;
	obs_enter_graphics();
	gs_texrender_reset(texrender);
	if (gs_texrender_begin(texrender, width, height)) {
		vec4 clear;
		vec4_set(&clear, 0.0f, 0.0f, 0.0f, 1.0f);
		gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
		gs_ortho(0.0f, float(width), 0.0f, float(height), -100.0f,
			 100.0f);
		/* Set every state the draw depends on: until libobs's own
		 * graphics thread has run a frame, the device still culls
		 * back faces, which drops our flipped sprite. */
		gs_set_cull_mode(GS_NEITHER);
		gs_enable_depth_test(false);
		gs_enable_stencil_test(false);
		gs_enable_color(true, true, true, true);
		gs_blend_state_push();
		gs_enable_blending(true);
		gs_blend_function(GS_BLEND_ONE, GS_BLEND_ZERO);
		obs_source_video_render(input);
		gs_blend_state_pop();
		gs_texrender_end(texrender);

		gs_stage_texture(stagesurf,
				 gs_texrender_get_texture(texrender));
		uint8_t *data = nullptr;
		uint32_t linesize = 0;
		if (gs_stagesurface_map(stagesurf, &data, &linesize)) {
			for (uint32_t y = 0; y < height; y++)
				std::memcpy(
					&frame.pixels[size_t(y) * width * 4],
					data + size_t(y) * linesize,
					size_t(width) * 4);
			gs_stagesurface_unmap(stagesurf);
			done = true;
		}
	}
	obs_leave_graphics();
	if (!done)
		throw std::runtime_error("cannot read a rendered frame back");
	for (size_t i = 3; i < frame.pixels.size(); i += 4)
		frame.pixels[i] = 255;
	return frame;
}
