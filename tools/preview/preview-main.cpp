/*
 * tavimore-preview: renders a zoom scenario through the real module in a
 * headless libobs, frame by frame at exact frame times, to PNG frames, an
 * animated GIF and a video. See usage() for what it takes.
 *
 * This program is free software: you can redistribute it and/or modify it
 * under the terms of the GNU General Public License as published by the Free
 * Software Foundation, either version 3 of the License, or (at your option)
 * any later version (it links libimagequant, GPL-3.0-or-later).
 */
#include "output-folder.hpp"
#include "pictures.hpp"
#include "preview-host.hpp"
#include "scenario.hpp"
#include "video-file.hpp"
#include "video-input.hpp"

#include <obs.hpp>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const char *const program = "tavimore-preview";
/* Set in the copy of us that runs under xvfb-run, so it never loops. */
const char *const xvfb_marker = "TAVIMORE_PREVIEW_UNDER_XVFB";

/* A problem with what the user gave us: exit status 2. */
struct UsageError : std::runtime_error {
	using std::runtime_error::runtime_error;
};

void usage()
{
	std::printf(
		"Usage: %s [OPTION]...\n"
		"Renders the Tavimore Zoom filter through libobs, without OBS Studio and\n"
		"without a desktop, to PNG frames, an animated GIF and a video.\n"
		"\n"
		"Input\n"
		"  --image FILE        picture to zoom into (PNG, JPEG, ... as libobs reads\n"
		"                      them); default: a generated test card\n"
		"  --card NAME         generated picture when there is no --image: \"test\"\n"
		"                      (grid, labelled quadrants, gradient; the default) or\n"
		"                      \"coords\" (red = x, green = y, for checking pixels)\n"
		"                      or \"desktop\" (windows, text and a task bar)\n"
		"  --input-video FILE  a video to zoom into instead of a picture, frame by\n"
		"                      frame at --fps (decoded by the ffmpeg program); then\n"
		"                      each frame also waits for the module's face detector,\n"
		"                      which runs on its own thread in real time\n"
		"  --size WxH          frame size (16..4096 each); default: the image's or\n"
		"                      video's own size, 640x360 for the test card, 256x256\n"
		"                      for coords\n"
		"\n"
		"Filter settings (the keys of the filter's settings object; --list-settings)\n"
		"  --settings FILE     JSON object in the settings object's own format; keys\n"
		"                      it leaves out keep the filter's defaults. Without it\n"
		"                      the demo's settings are used (--print-demo)\n"
		"  --set KEY=VALUE     one setting, applied after --settings; repeatable\n"
		"  --list-settings     print every key with its type and default, then exit\n"
		"\n"
		"Timeline\n"
		"  --timeline FILE     hotkey events, one a line: TIME press|release|tap HOTKEY,\n"
		"                      and optionally a last line TIME end; TIME in seconds\n"
		"                      from the first frame, never decreasing; '#' comments.\n"
		"                      HOTKEY is a name the filter registers on its source:\n"
		"                      tavimore.stage_N, tavimore.idle (back to the idle\n"
		"                      view), tavimore.idle_zoom_in, tavimore.idle_zoom_out.\n"
		"                      TIME pointer X Y moves the X display's pointer to\n"
		"                      those fractions (0 to 1) of its screen, which maps\n"
		"                      onto the whole input (then waits 0.1 s of real time\n"
		"                      for the module to read it). TIME click X Y moves\n"
		"                      it there and clicks; TIME type presses a key (the\n"
		"                      automatic zoom's input, auto_zoom)\n"
		"                      Default: the demo's timeline (--print-demo)\n"
		"  --fps N             frame rate, 0 < N <= 240 (default 30)\n"
		"  --duration S        length in seconds (default: the timeline's end line,\n"
		"                      else 2 s after its last event); events after it are\n"
		"                      not played\n"
		"  --demo NAME         the built-in scenario used when --settings or\n"
		"                      --timeline is left out: \"zoom\" (the default: stages,\n"
		"                      hold keys, the pointer) or \"face\" (the view follows\n"
		"                      the face in --input-video; scripts/face-media.sh DIR\n"
		"                      demo makes such a video from a real photo)\n"
		"  --print-demo        print the demo's settings and timeline, then exit\n"
		"\n"
		"Output\n"
		"  --output DIR        folder for frame-NNNN.png and preview.gif (default\n"
		"                      ./tavimore-preview-out); it must be absent, empty or an\n"
		"                      earlier output of this tool. Everything is written to a\n"
		"                      hidden folder beside it first, so DIR appears complete\n"
		"                      or not at all\n"
		"  --no-frames         no PNG frames\n"
		"  --no-gif            no GIF. The GIF has one dithered palette of 128\n"
		"                      colours and at most 50 frames a second\n"
		"                      (delays are in 1/100 s): at a higher --fps it shows\n"
		"                      every 2nd (3rd, ...) frame\n"
		"  --video FILE        also write every frame, at exactly --fps, as a video:\n"
		"                      FILE.mp4 (H.264, yuv420p) or FILE.webm (VP9); the\n"
		"                      frame size must be even. Inside --output's folder it\n"
		"                      is part of that folder; elsewhere it is written under\n"
		"                      a hidden name beside FILE first and replaces FILE\n"
		"                      only when complete\n"
		"  --quiet             no progress on stderr\n"
		"\n"
		"Module\n"
		"  --module FILE       the module to load (default: this build's\n"
		"                      %s)\n"
		"  --data DIR          its data folder (default: %s)\n"
		"  --verbose           show libobs's log on stderr\n"
		"  --help, --version\n"
		"\n"
		"Frame i shows the time i/fps. Before it, the hotkey events up to that time\n"
		"are delivered through libobs's hotkey system (press, then release for tap),\n"
		"then the filter ticks once with exactly 1/fps seconds (0 for frame 0) and is\n"
		"rendered; the same inputs give the same frames (libobs's own clock never\n"
		"ticks the filter here). Without an X display the program runs itself again\n"
		"under xvfb-run. Exit status: 0 done, 1 failed, 2 bad arguments, input\n"
		"files or output places.\n",
		program, TAVIMORE_PREVIEW_MODULE, TAVIMORE_PREVIEW_DATA);
}

struct Options {
	std::string image;
	std::string input_video;
	std::string demo = "zoom";
	std::string card = "test";
	uint32_t width = 0;
	uint32_t height = 0;
	std::string settings_file;
	std::vector<std::pair<std::string, std::string>> sets;
	std::string timeline_file;
	double fps = 30.0;
	std::optional<double> duration;
	std::string output = "tavimore-preview-out";
	std::string video;
	bool frames = true;
	bool gif = true;
	bool quiet = false;
	bool verbose = false;
	bool list_settings = false;
	bool help = false;
	bool version = false;
	bool print_demo = false;
	std::string module = TAVIMORE_PREVIEW_MODULE;
	std::string data = TAVIMORE_PREVIEW_DATA;
};

/* A number above 0 and at most `max`. */
double parse_positive(const std::string &option, const std::string &text,
		      int max, const char *unit)
{
	char *end = nullptr;
	const double v = std::strtod(text.c_str(), &end);
	if (text.empty() || *end != '\0' || !std::isfinite(v))
		throw UsageError(option + " needs a number, not \"" + text +
				 "\"");
	if (!(v > 0.0) || v > max)
		throw UsageError(option + " must be above 0 and at most " +
				 std::to_string(max) + unit + ", not " + text);
	return v;
}

void parse_size(const std::string &text, Options &o)
{
	unsigned w = 0, h = 0;
	char extra = 0;
	if (std::sscanf(text.c_str(), "%ux%u%c", &w, &h, &extra) != 2 ||
	    w < 16 || h < 16 || w > 4096 || h > 4096)
		throw UsageError("--size needs WxH with 16..4096 each, not \"" +
				 text + "\"");
	o.width = w;
	o.height = h;
}

void parse_arguments(int argc, char **argv, Options &o)
{
	const std::map<std::string, std::string *> texts = {
		{"--image", &o.image},
		{"--settings", &o.settings_file},
		{"--output", &o.output},
		{"--timeline", &o.timeline_file},
		{"--module", &o.module},
		{"--data", &o.data},
		{"--card", &o.card},
		{"--video", &o.video},
		{"--input-video", &o.input_video},
		{"--demo", &o.demo}};
	const std::map<std::string, std::pair<bool *, bool>> switches = {
		{"--no-frames", {&o.frames, false}},
		{"--no-gif", {&o.gif, false}},
		{"--quiet", {&o.quiet, true}},
		{"--verbose", {&o.verbose, true}},
		{"--list-settings", {&o.list_settings, true}},
		{"--help", {&o.help, true}},
		{"-h", {&o.help, true}},
		{"--version", {&o.version, true}},
		{"--print-demo", {&o.print_demo, true}}};
	for (int i = 1; i < argc; i++) {
		std::string arg = argv[i], value;
		const size_t eq = arg.find('=');
		const bool inline_value = arg.rfind("--", 0) == 0 &&
					  eq != std::string::npos;
		if (inline_value) {
			value = arg.substr(eq + 1);
			arg.erase(eq);
		}
		if (switches.count(arg)) {
			if (inline_value)
				throw UsageError(arg + " takes no value");
			*switches.at(arg).first = switches.at(arg).second;
			continue;
		}
		if (arg.rfind("-", 0) != 0)
			throw UsageError("unexpected argument \"" + arg + "\"");
		if (!inline_value && i + 1 >= argc)
			throw UsageError(arg + " needs a value");
		if (!inline_value)
			value = argv[++i];

		if (arg == "--demo" && value != "zoom" && value != "face")
			throw UsageError("--demo is zoom or face, not \"" +
					 value + "\"");
		if (arg == "--card" && value != "test" && value != "coords" &&
		    value != "desktop")
			throw UsageError(
				"--card is test, coords or desktop, not \"" +
				value + "\"");
		if (arg == "--video" && video_container(value).empty())
			throw UsageError(
				"--video needs a file name ending in .mp4 (H.264) or .webm (VP9), not \"" +
				value + "\"");
		if (texts.count(arg)) {
			*texts.at(arg) = value;
		} else if (arg == "--fps") {
			o.fps = parse_positive(arg, value, 240, "");
		} else if (arg == "--duration") {
			o.duration = parse_positive(arg, value, 3600, " s");
		} else if (arg == "--size") {
			parse_size(value, o);
		} else if (arg == "--set") {
			const size_t at = value.find('=');
			if (at == std::string::npos || at == 0)
				throw UsageError(
					"--set needs KEY=VALUE, not \"" +
					value + "\"");
			o.sets.emplace_back(value.substr(0, at),
					    value.substr(at + 1));
		} else {
			throw UsageError("unknown option " + arg +
					 " (see --help)");
		}
	}
	if (!o.frames && !o.gif && o.video.empty())
		throw UsageError(
			"--no-frames with --no-gif and no --video leaves nothing to write");
}

std::string read_file(const std::string &what, const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	if (!in)
		throw UsageError("cannot read " + what + " " + path + ": " +
				 std::strerror(errno));
	std::ostringstream text;
	text << in.rdbuf();
	if (in.bad())
		throw UsageError("cannot read " + what + " " + path);
	return text.str();
}

OBSDataAutoRelease parse_settings_json(const std::string &text,
				       const std::string &origin)
{
	/* libobs takes any JSON value; settings are an object */
	const size_t first = text.find_first_not_of(" \t\r\n");
	if (first == std::string::npos || text[first] != '{')
		throw UsageError(
			"settings " + origin +
			" are not valid JSON settings: a JSON object { ... } is expected");
	OBSDataAutoRelease data = obs_data_create_from_json(text.c_str());
	if (!data) {
		std::string why = last_libobs_error();
		const size_t colon = why.find("): ");
		why = colon == std::string::npos ? ""
						 : ": " + why.substr(colon + 3);
		throw UsageError("settings " + origin + " are not valid JSON" +
				 why);
	}
	return data;
}

std::string type_name(obs_data_item_t *item)
{
	switch (obs_data_item_gettype(item)) {
	case OBS_DATA_BOOLEAN:
		return "bool";
	case OBS_DATA_STRING:
		return "string";
	case OBS_DATA_NUMBER:
		return obs_data_item_numtype(item) == OBS_DATA_NUM_INT
			       ? "int"
			       : "double";
	default:
		return "object";
	}
}

/* The type of a setting's default; empty for a key the filter lacks. */
std::string default_type(obs_data_t *defaults, const std::string &key)
{
	obs_data_item_t *item = obs_data_item_byname(defaults, key.c_str());
	const std::string type = item ? type_name(item) : "";
	obs_data_item_release(&item);
	return type;
}

UsageError unknown_setting(const std::string &key, const std::string &origin)
{
	return UsageError("unknown setting \"" + key + "\" in " + origin +
			  " (--list-settings shows the keys)");
}

/* Checks every key of `given` against the filter's defaults: the key must
 * exist and its value must have the default's type. */
void check_settings(obs_data_t *given, obs_data_t *defaults,
		    const std::string &origin)
{
	for (obs_data_item_t *item = obs_data_first(given); item;
	     obs_data_item_next(&item)) {
		const std::string key = obs_data_item_get_name(item);
		const std::string have = type_name(item);
		const std::string want = default_type(defaults, key);
		if (want == have || (want == "double" && have == "int"))
			continue;
		obs_data_item_release(&item);
		if (want.empty())
			throw unknown_setting(key, origin);
		throw UsageError("setting \"" + key + "\" in " + origin +
				 " must be " +
				 (want == "int" ? "an int" : "a " + want) +
				 ", not " + have);
	}
}

/* Sets key to the text of a --set, read as the type of its default. */
void apply_set(obs_data_t *settings, obs_data_t *defaults,
	       const std::string &key, const std::string &text)
{
	const std::string type = default_type(defaults, key);
	if (type.empty())
		throw unknown_setting(key, "--set");
	const std::string where = "--set " + key + "=" + text + ": " + key;
	const char *name = key.c_str();
	char *end = nullptr;
	errno = 0;
	if (type == "string") {
		obs_data_set_string(settings, name, text.c_str());
	} else if (type == "bool") {
		const bool yes = text == "true" || text == "1" ||
				 text == "yes" || text == "on";
		if (!yes && text != "false" && text != "0" && text != "no" &&
		    text != "off")
			throw UsageError(where + " is a bool (true or false)");
		obs_data_set_bool(settings, name, yes);
	} else if (type == "int") {
		const long long v = std::strtoll(text.c_str(), &end, 10);
		if (text.empty() || *end != '\0' || errno != 0)
			throw UsageError(where + " is an int (a whole number)");
		obs_data_set_int(settings, name, v);
	} else {
		const double v = std::strtod(text.c_str(), &end);
		if (text.empty() || *end != '\0' || !std::isfinite(v))
			throw UsageError(where + " is a number");
		obs_data_set_double(settings, name, v);
	}
}

void list_settings(obs_data_t *defaults)
{
	for (obs_data_item_t *item = obs_data_first(defaults); item;
	     obs_data_item_next(&item)) {
		const std::string type = type_name(item);
		std::ostringstream value;
		if (type == "bool")
			value << std::boolalpha
			      << obs_data_item_get_default_bool(item);
		else if (type == "string")
			value << '"' << obs_data_item_get_default_string(item)
			      << '"';
		else if (type == "int")
			value << obs_data_item_get_default_int(item);
		else
			value << obs_data_item_get_default_double(item);
		std::printf("%-26s %-7s %s\n", obs_data_item_get_name(item),
			    type.c_str(), value.str().c_str());
	}
}

/* Runs us again under xvfb-run when there is no X display. Returns only
 * when a display is there. */
void ensure_display(int argc, char **argv)
{
	if (x_display_available())
		return;
	if (std::getenv(xvfb_marker))
		throw std::runtime_error("no X display, even under xvfb-run");
	std::error_code error;
	const std::string self =
		std::filesystem::read_symlink("/proc/self/exe", error);
	if (error)
		throw std::runtime_error(
			"no X display, and /proc/self/exe is unreadable");
	setenv(xvfb_marker, "1", 1);
	std::vector<const char *> args = {"xvfb-run", "-a", "-s",
					  "-screen 0 1280x720x24 -nolisten tcp",
					  self.c_str()};
	args.insert(args.end(), argv + 1, argv + argc);
	args.push_back(nullptr);
	std::fflush(nullptr);
	execvp(args[0], const_cast<char *const *>(args.data()));
	throw std::runtime_error(
		std::string(
			"no X display, and xvfb-run cannot run (apt-get install xvfb xauth): ") +
		std::strerror(errno));
}

void check_readable(const std::string &what, const std::string &path)
{
	if (access(path.c_str(), R_OK) != 0)
		throw UsageError("cannot read " + what + " " + path + ": " +
				 std::strerror(errno));
}

volatile std::sig_atomic_t interrupted = 0;

/* at most 20000 frames: 4 digits, or 5 when they are needed */
std::string frame_name(size_t i, size_t count)
{
	const int digits = count > 10000 ? 5 : 4;
	char buffer[64];
	std::snprintf(buffer, sizeof(buffer), "frame-%0*zu.png", digits, i);
	return buffer;
}

/* Whether `file` names a file directly inside `folder`. */
bool inside_folder(const std::string &file, const std::string &folder)
{
	namespace fs = std::filesystem;
	std::error_code e1, e2;
	const fs::path parent = fs::weakly_canonical(
		fs::absolute(fs::path(file)).parent_path(), e1);
	const fs::path dir = fs::weakly_canonical(fs::absolute(folder), e2);
	return !e1 && !e2 && parent == dir;
}

int run(const Options &o, const Timeline &timeline, obs_data_t *base,
	const std::string &base_origin)
{
	PreviewHost host(o.module, o.data, o.verbose);
	/* the host has checked that the module registers the filter */
	OBSDataAutoRelease defaults =
		obs_get_source_defaults("tavimore_filter");
	if (o.list_settings) {
		list_settings(defaults);
		return 0;
	}
	check_settings(base, defaults, base_origin);
	for (const auto &set : o.sets)
		apply_set(base, defaults, set.first, set.second);

	RgbaImage picture;
	uint32_t width = o.width;
	uint32_t height = o.height;
	std::unique_ptr<VideoInput> input_video;
	if (!o.input_video.empty()) {
		if (!width)
			VideoInput::size_of(o.input_video, width, height);
		if (width < 16 || height < 16 || width > 4096 || height > 4096)
			throw UsageError("the video " + o.input_video + " is " +
					 std::to_string(width) + "x" +
					 std::to_string(height) +
					 "; use --size within 16..4096");
		input_video = std::make_unique<VideoInput>(o.input_video, width,
							   height, o.fps);
		picture = input_video->next();
	} else if (!o.image.empty()) {
		try {
			picture = host.load_image(o.image);
		} catch (const std::runtime_error &e) {
			throw UsageError(e.what());
		}
		if (!width) {
			width = picture.width;
			height = picture.height;
		}
		if (width < 16 || height < 16 || width > 4096 || height > 4096)
			throw UsageError("the image " + o.image + " is " +
					 std::to_string(width) + "x" +
					 std::to_string(height) +
					 "; use --size within 16..4096");
	} else {
		const bool coords = o.card == "coords";
		if (!width) {
			width = coords ? 256 : 640;
			height = coords ? 256 : 360;
		}
		picture = coords ? make_coordinate_card(width, height)
			  : o.card == "desktop"
				  ? make_desktop_card(width, height)
				  : make_test_card(width, height);
	}

	host.create_filter(picture, width, height, base);
	/* the first tick that finds the filter's source has its hotkeys
	 * registered; with 0 s it moves nothing */
	host.tick(0.0f);

	const std::map<std::string, obs_hotkey_id> ids = host.hotkeys();
	for (const TimelineEvent &event : timeline.events) {
		if (event.action == Action::Pointer ||
		    event.action == Action::Click ||
		    event.action == Action::Type || ids.count(event.hotkey))
			continue;
		std::string known;
		for (const auto &key : ids)
			known += (known.empty() ? "" : ", ") + key.first;
		throw UsageError("timeline " + timeline.origin + " line " +
				 std::to_string(event.line) +
				 ": unknown hotkey \"" + event.hotkey +
				 "\" (the filter has " + known + ")");
	}

	double duration = 2.0;
	if (o.duration)
		duration = *o.duration;
	else if (timeline.end)
		duration = *timeline.end;
	else if (!timeline.events.empty())
		duration = timeline.events.back().time + 2.0;
	const double count_real = std::round(duration * o.fps);
	if (count_real > 20000)
		throw UsageError(
			"that is more than 20000 frames; lower --fps or --duration");
	const size_t count = std::max<size_t>(1, size_t(count_real));

	if (!o.video.empty() && (width % 2 || height % 2))
		throw UsageError(
			"--video needs an even width and height, not " +
			std::to_string(width) + "x" + std::to_string(height) +
			" (see --size)");

	/* every output appears whole or not at all */
	std::unique_ptr<Output> folder, video_out;
	std::string video_path = o.video, video_work;
	try {
		if (o.frames || o.gif)
			folder = std::make_unique<Output>(o.output, true);
		const std::string name =
			std::filesystem::path(o.video).filename();
		const bool in_folder =
			folder && !o.video.empty() &&
			inside_folder(o.video, folder->final_path());
		if (in_folder) {
			video_work = folder->file(name);
			video_path = folder->final_path() + "/" + name;
		} else if (!o.video.empty()) {
			video_out = std::make_unique<Output>(o.video, false);
			video_work = video_out->work_path();
		}
	} catch (const std::runtime_error &e) {
		throw UsageError(e.what());
	}
	std::unique_ptr<VideoFile> video;
	if (!o.video.empty())
		video = std::make_unique<VideoFile>(video_work,
						    video_container(o.video),
						    width, height, o.fps);
	for (const int signal : {SIGINT, SIGTERM})
		std::signal(signal, [](int) { interrupted = 1; });

	const float dt = static_cast<float>(1.0 / o.fps);
	/* a GIF shows at most 50 frames a second (delays are in 1/100 s) */
	const size_t gif_step =
		std::max<size_t>(1, size_t(std::ceil(o.fps / 50.0 - 1e-9)));
	GifAnimation gif;
	const bool tty = isatty(STDERR_FILENO);
	auto next = timeline.events.begin();
	int reported = 0;
	for (size_t i = 0; i < count; i++) {
		if (interrupted)
			throw std::runtime_error(
				"interrupted; nothing written");
		const double now = double(i) / o.fps;
		for (;
		     next != timeline.events.end() && next->time <= now + 1e-9;
		     ++next) {
			const Action action = next->action;
			if (action == Action::Pointer)
				move_pointer(next->x, next->y);
			if (action == Action::Click)
				click_pointer(next->x, next->y);
			if (action == Action::Type)
				type_key();
			if (action == Action::Press || action == Action::Tap)
				obs_hotkey_trigger_routed_callback(
					ids.at(next->hotkey), true);
			if (action == Action::Release || action == Action::Tap)
				obs_hotkey_trigger_routed_callback(
					ids.at(next->hotkey), false);
		}
		if (input_video && i > 0)
			host.set_picture(input_video->next());
		if (i > 0)
			host.tick(dt);
		const RgbaImage frame = host.render();
		if (input_video)
			wait_for_face_detector();
		if (o.frames)
			write_png(folder->file(frame_name(i, count)), frame);
		if (video)
			video->add_frame(frame);
		if (o.gif && i % gif_step == 0) {
			const size_t until = std::min(count, i + gif_step);
			const long from_cs = std::lround(100.0 * i / o.fps);
			const long to_cs = std::lround(100.0 * until / o.fps);
			gif.add_frame(frame,
				      int(std::max(1L, to_cs - from_cs)));
		}
		const int percent = int((i + 1) * 100 / count);
		if (o.quiet || count < 60 || (!tty && percent / 25 == reported))
			continue;
		/* on a terminal one line that counts up; else every 25 % */
		std::fprintf(stderr, "%s%s: frame %zu of %zu (%d%%)%s",
			     tty ? "\r" : "", program, i + 1, count, percent,
			     !tty || i + 1 == count ? "\n" : "");
		reported = percent / 25;
	}
	if (o.gif)
		gif.write(folder->file("preview.gif"));
	if (video)
		video->finish();
	if (folder)
		folder->commit();
	if (video_out)
		video_out->commit();

	const std::string dir = folder ? folder->final_path() : "";
	if (o.frames)
		std::printf("frames: %s/%s ... %s (%zu at %g fps)\n",
			    dir.c_str(), frame_name(0, count).c_str(),
			    frame_name(count - 1, count).c_str(), count, o.fps);
	if (o.gif)
		std::printf("gif: %s/preview.gif\n", dir.c_str());
	if (video)
		std::printf("video: %s (%s, %zu frames at %g fps)\n",
			    video_path.c_str(), video->codec_name().c_str(),
			    count, o.fps);
	return 0;
}

} // namespace

int main(int argc, char **argv)
{
	capture_libobs_log(false);
	Options options;
	try {
		parse_arguments(argc, argv, options);
		if (options.help) {
			usage();
			return 0;
		}
		if (options.version) {
			std::printf("%s %s (libobs %s)\n", program,
				    TAVIMORE_VERSION, obs_get_version_string());
			return 0;
		}
		const bool face = options.demo == "face";
		const char *const demo_settings = face ? face_demo_settings_json
						       : demo_settings_json;
		const char *const demo_events = face ? face_demo_timeline
						     : demo_timeline;
		if (options.print_demo) {
			std::printf("# settings (--settings FILE)\n%s\n"
				    "# timeline (--timeline FILE)\n%s",
				    demo_settings, demo_events);
			return 0;
		}
		if (face && options.input_video.empty())
			throw UsageError("--demo face follows the face in a "
					 "video: give one with --input-video");
		if (!options.input_video.empty() && !options.image.empty())
			throw UsageError(
				"--image and --input-video cannot go together");

		/* read and check the input files before anything starts */
		const bool from_demo = options.settings_file.empty();
		const std::string settings_origin =
			from_demo ? "the demo settings" : options.settings_file;
		OBSDataAutoRelease settings = parse_settings_json(
			from_demo
				? demo_settings
				: read_file("settings", options.settings_file),
			settings_origin);
		const std::string &timeline_file = options.timeline_file;
		Timeline timeline;
		try {
			timeline = parse_timeline(
				timeline_file.empty()
					? demo_events
					: read_file("timeline", timeline_file),
				timeline_file.empty() ? "(the demo's)"
						      : timeline_file);
		} catch (const std::runtime_error &e) {
			throw UsageError(e.what());
		}
		if (!options.image.empty())
			check_readable("the image", options.image);
		if (!options.input_video.empty())
			check_readable("the video", options.input_video);
		check_readable("the module", options.module);
		if (access((options.data + "/zoom-crop.effect").c_str(),
			   R_OK) != 0)
			throw UsageError("the data folder " + options.data +
					 " has no zoom-crop.effect");

		ensure_display(argc, argv);
		return run(options, timeline, settings, settings_origin);
	} catch (const std::exception &e) {
		std::fprintf(stderr, "%s: error: %s\n", program, e.what());
		return dynamic_cast<const UsageError *>(&e) ? 2 : 1;
	}
}
