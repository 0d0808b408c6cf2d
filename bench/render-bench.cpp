/*
 * Render cost in the real libobs (libobs-opengl on EGL; under Xvfb that is
 * Mesa's llvmpipe), 1920x1080. The same picture is drawn
 *   (a) by its source, with no filter;
 *   (b) through OBS's own "crop_filter", cropping the window that zoom 2
 *       shows, drawn at twice its size;
 *   (c) through "tavimore_filter" at zoom 2;
 *   (d) through "tavimore_filter" at zoom 1, the whole frame: it samples
 *       the source's texture as (a) does, where (c) reads only a quarter;
 * interleaved frame by frame in one run (the order rotates every frame),
 * each frame read back so that it is finished. An empty frame (clear and
 * read back only) is measured alongside, so the draw cost net of the
 * read-back is shown too. Then the scale: 1, 10 and 50 small sources each
 * with the filter, one frame of all of them, against the same sources
 * without it.
 *
 * The comparison runs on three sources: the tests' pattern source (a
 * plain source), OBS's image source showing a picture file, and OBS's
 * screen capture (xshm_input) of the display's screen, whose root window
 * shows the same picture; a screen larger than 1920x1080 is cut to it, on
 * a smaller one the capture is skipped.
 *
 * It prints figures and never fails on timing; it fails only when libobs
 * or a plug-in cannot start, the capture does not show the picture, or the
 * pictures of (b) and (c) disagree, in position or in how sharp edges are
 * blended (both blend in linear light).
 * --no-obs-plugins (for a libobs built without OBS's plug-ins) leaves out
 * (b), the image source and the screen capture; then (c)'s window is
 * checked on its own.
 */
#include "obs-harness.hpp"

#include <graphics/graphics.h>
#include <graphics/matrix4.h>
#include <obs.h>
#include <util/bmem.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t WIDTH = 1920;
constexpr uint32_t HEIGHT = 1080;
constexpr uint32_t TILE = 256;
const char *const PLUGIN_DIR = "/usr/lib/x86_64-linux-gnu/obs-plugins";
const char *const PLUGIN_DATA_DIR = "/usr/share/obs/obs-plugins";

struct Options {
	int frames = 300;
	int scale_frames = 100;
	bool obs_plugins = true;
};

bool load_plugin(const char *name)
{
	const std::string file = std::string(PLUGIN_DIR) + "/" + name + ".so";
	const std::string data = std::string(PLUGIN_DATA_DIR) + "/" + name;
	obs_module_t *module = nullptr;
	if (obs_open_module(&module, file.c_str(), data.c_str()) !=
		    MODULE_SUCCESS ||
	    !obs_init_module(module)) {
		std::fprintf(stderr, "cannot load %s (package obs-plugins)\n",
			     file.c_str());
		return false;
	}
	return true;
}

/* The picture every source shows, at (x, y): red and green tell where
 * each pixel came from; blue holds sharp edges (x xor y), where enlarging
 * shows how neighbouring pixels are blended. */
void picture_pixel(uint32_t x, uint32_t y, uint8_t rgb[3])
{
	rgb[0] = uint8_t(x * 255 / (WIDTH - 1));
	rgb[1] = uint8_t(y * 255 / (HEIGHT - 1));
	rgb[2] = uint8_t((x ^ y) & 0xff);
}

/* The picture as a 1920x1080 PPM file, for the image source. */
std::string write_picture()
{
	const std::string path = std::string(TAVIMORE_BINARY_DIR) +
				 "/bench/render-bench-picture.ppm";
	FILE *file = std::fopen(path.c_str(), "wb");
	if (!file)
		return std::string();
	std::fprintf(file, "P6\n%u %u\n255\n", WIDTH, HEIGHT);
	std::vector<uint8_t> row(WIDTH * 3);
	for (uint32_t y = 0; y < HEIGHT; y++) {
		for (uint32_t x = 0; x < WIDTH; x++)
			picture_pixel(x, y, &row[x * 3]);
		std::fwrite(row.data(), 1, row.size(), file);
	}
	std::fclose(file);
	return path;
}

/* The display's screen showing the picture at its top-left, as the root
 * window's background, for OBS's screen capture; the capture is cut to
 * 1920x1080 where the screen is larger. */
class RootPicture {
public:
	RootPicture() : display(XOpenDisplay(nullptr))
	{
		if (!display)
			return;
		const int s = DefaultScreen(display);
		width = DisplayWidth(display, s);
		height = DisplayHeight(display, s);
	}
	~RootPicture()
	{
		if (display)
			XCloseDisplay(display);
	}
	RootPicture(const RootPicture &) = delete;
	RootPicture &operator=(const RootPicture &) = delete;

	/* Why the capture cannot show the picture in full; empty when it
	 * can. */
	std::string unfit() const
	{
		if (!display)
			return "no X display";
		if (width < int(WIDTH) || height < int(HEIGHT))
			return "the X screen is " + std::to_string(width) +
			       "x" + std::to_string(height) +
			       ", smaller than " + std::to_string(WIDTH) + "x" +
			       std::to_string(HEIGHT);
		return std::string();
	}

	void paint() const
	{
		const int s = DefaultScreen(display);
		const Window root = DefaultRootWindow(display);
		Pixmap pixmap = XCreatePixmap(display, root, WIDTH, HEIGHT,
					      DefaultDepth(display, s));
		XImage *image = XCreateImage(display, DefaultVisual(display, s),
					     DefaultDepth(display, s), ZPixmap,
					     0, nullptr, WIDTH, HEIGHT, 32, 0);
		image->data = static_cast<char *>(
			std::calloc(size_t(image->bytes_per_line), HEIGHT));
		uint8_t rgb[3];
		for (uint32_t y = 0; y < HEIGHT; y++)
			for (uint32_t x = 0; x < WIDTH; x++) {
				picture_pixel(x, y, rgb);
				XPutPixel(image, int(x), int(y),
					  (unsigned long)rgb[0] << 16 |
						  (unsigned long)rgb[1] << 8 |
						  rgb[2]);
			}
		GC gc = XCreateGC(display, pixmap, 0, nullptr);
		XPutImage(display, pixmap, gc, image, 0, 0, 0, 0, WIDTH,
			  HEIGHT);
		XFreeGC(display, gc);
		XDestroyImage(image);
		XSetWindowBackgroundPixmap(display, root, pixmap);
		XFreePixmap(display, pixmap);
		XClearWindow(display, root);
		XSync(display, False);
	}

	/* OBS's screen capture of this screen, cut to the picture, without
	 * the cursor. */
	obs_source_t *capture(const char *name) const
	{
		obs_data_t *settings = obs_data_create();
		obs_data_set_int(settings, "screen", DefaultScreen(display));
		obs_data_set_bool(settings, "show_cursor", false);
		obs_data_set_int(settings, "cut_right", width - int(WIDTH));
		obs_data_set_int(settings, "cut_bot", height - int(HEIGHT));
		obs_source_t *source = obs_source_create("xshm_input", name,
							 settings, nullptr);
		obs_data_release(settings);
		return source;
	}

private:
	Display *display;
	int width = 0;
	int height = 0;
};

/* Waits (up to 10 s) until the source shows the picture: a capture
 * delivers its first frame a few ticks after it is shown. */
bool shows_picture(obs_source_t *source)
{
	const auto end =
		std::chrono::steady_clock::now() + std::chrono::seconds(10);
	while (std::chrono::steady_clock::now() < end) {
		if (obs_source_get_width(source) == WIDTH &&
		    obs_source_get_height(source) == HEIGHT) {
			const std::vector<uint8_t> px =
				render_pixels(source, WIDTH, HEIGHT);
			bool same = true;
			uint8_t rgb[3];
			for (uint32_t y : {0u, HEIGHT / 3, HEIGHT - 1})
				for (uint32_t x : {0u, WIDTH / 2, WIDTH - 1}) {
					picture_pixel(x, y, rgb);
					const uint8_t *p =
						&px[(size_t(y) * WIDTH + x) * 4];
					same = same && p[0] == rgb[0] &&
					       p[1] == rgb[1] && p[2] == rgb[2];
				}
			if (same)
				return true;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	}
	return false;
}

obs_source_t *make_image_source(const std::string &path, const char *name)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_string(settings, "file", path.c_str());
	obs_source_t *source =
		obs_source_create("image_source", name, settings, nullptr);
	obs_data_release(settings);
	return source;
}

obs_source_t *add_zoom_filter(obs_source_t *parent, double zoom)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_double(settings, "idle_zoom_factor", zoom);
	obs_source_t *filter = create_zoom_filter("zoom", settings);
	obs_data_release(settings);
	obs_source_filter_add(parent, filter);
	return filter;
}

/* OBS's crop filter showing the window of zoom 2 around the centre. */
obs_source_t *add_crop_filter(obs_source_t *parent, uint32_t width,
			      uint32_t height)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_bool(settings, "relative", true);
	obs_data_set_int(settings, "left", width / 4);
	obs_data_set_int(settings, "right", width / 4);
	obs_data_set_int(settings, "top", height / 4);
	obs_data_set_int(settings, "bottom", height / 4);
	obs_source_t *filter =
		obs_source_create_private("crop_filter", "crop", settings);
	obs_data_release(settings);
	obs_source_filter_add(parent, filter);
	return filter;
}

/* A 1920x1080 target with its read-back surface, drawn into and read back
 * as a whole for every timed frame. Use inside the graphics context. */
class Frame {
public:
	/* Draws, reads back and returns the seconds it all took. Drawn as a
	 * scene draws an item (with the default blend method): in linear
	 * light, so that an sRGB-aware source that leaves that choice to its
	 * caller, as OBS's screen capture does, samples as it does in OBS. */
	double draw(const std::function<void()> &content,
		    std::vector<uint8_t> *pixels = nullptr)
	{
		const auto start = std::chrono::steady_clock::now();
		target.draw(
			[&] {
				const bool previous = gs_set_linear_srgb(true);
				content();
				gs_set_linear_srgb(previous);
			},
			pixels);
		const std::chrono::duration<double> elapsed =
			std::chrono::steady_clock::now() - start;
		return elapsed.count();
	}

private:
	ReadbackTarget target{WIDTH, HEIGHT};
};

double median(std::vector<double> values)
{
	if (values.empty())
		return 0.0;
	std::sort(values.begin(), values.end());
	const size_t n = values.size();
	return n % 2 ? values[n / 2]
		     : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

struct Variant {
	const char *label;
	std::function<void()> content;
	std::vector<double> seconds;
};

/* Lets libobs's graphics thread run (with nothing on its canvas) until it
 * has ticked every source once more: a filter that draws its input into a
 * texture draws it once a frame, and reuses it until the next tick. Called
 * inside the graphics context, which it leaves meanwhile. */
void next_frame()
{
	obs_leave_graphics();
	wait_frames(2);
	obs_enter_graphics();
}

/* Draws every variant once per frame, in an order that rotates, for the
 * given number of frames, each round in a frame of libobs's own; variant 0
 * must be the empty frame. */
void run_interleaved(Frame &frame, std::vector<Variant> &variants, int frames)
{
	const size_t n = variants.size();
	for (Variant &v : variants) {
		v.seconds.clear();
		for (int i = 0; i < 3; i++) {
			next_frame();
			frame.draw(v.content);
		}
	}
	for (int f = 0; f < frames; f++) {
		next_frame();
		for (size_t k = 0; k < n; k++) {
			Variant &v = variants[(k + size_t(f)) % n];
			v.seconds.push_back(frame.draw(v.content));
		}
	}
}

/* Per frame, the time net of that frame's empty frame. */
std::vector<double> net_of_empty(const Variant &v, const Variant &empty)
{
	std::vector<double> net;
	for (size_t i = 0; i < v.seconds.size(); i++)
		net.push_back(v.seconds[i] - empty.seconds[i]);
	return net;
}

/* How far apart two pictures are in the given channels: the largest
 * difference over all pixels, and the share of pixels more than 2 apart. */
void compare(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b,
	     size_t first_channel, size_t channels, int *largest, double *share)
{
	size_t far = 0;
	*largest = 0;
	for (size_t i = 0; i + 3 < a.size(); i += 4) {
		int pixel = 0;
		for (size_t c = first_channel; c < first_channel + channels;
		     c++)
			pixel = std::max(
				pixel, std::abs(int(a[i + c]) - int(b[i + c])));
		*largest = std::max(*largest, pixel);
		if (pixel > 2)
			far++;
	}
	*share = double(far) / double(a.size() / 4);
}

void render_source(obs_source_t *source)
{
	obs_source_video_render(source);
}

void render_doubled(obs_source_t *source)
{
	gs_matrix_push();
	gs_matrix_scale3f(2.0f, 2.0f, 1.0f);
	obs_source_video_render(source);
	gs_matrix_pop();
}

/* (a) to (d), each on its own copy of one picture, in one graphics
 * section (libobs's own frames wait meanwhile). Returns false when the
 * pictures of (b) and (c) disagree. */
bool compare_filters(const char *title, obs_source_t *plain,
		     obs_source_t *cropped, obs_source_t *zoomed,
		     obs_source_t *whole, int frames)
{
	std::printf("\n== %s, %ux%u, %d frames of each, interleaved\n", title,
		    WIDTH, HEIGHT, frames);
	std::printf("sizes: source %ux%u, crop_filter output %ux%u, "
		    "tavimore_filter output %ux%u\n",
		    obs_source_get_width(plain), obs_source_get_height(plain),
		    cropped ? obs_source_get_width(cropped) : 0,
		    cropped ? obs_source_get_height(cropped) : 0,
		    obs_source_get_width(zoomed),
		    obs_source_get_height(zoomed));

	bool agree = true;
	obs_enter_graphics();
	{
		Frame frame;
		std::vector<uint8_t> by_crop;
		std::vector<uint8_t> by_zoom;
		frame.draw([&] { render_source(zoomed); }, &by_zoom);
		/* red: the window of zoom 2 starts at x = 480 */
		std::printf("picture (c): top-left red %d (window starts at "
			    "x = 480)\n",
			    by_zoom[0]);
		agree = std::abs(by_zoom[0] - 64) <= 2;
		if (cropped) {
			frame.draw([&] { render_doubled(cropped); }, &by_crop);
			/* red and green: which window reached the output;
			 * blue: how the enlargement blends neighbours */
			const struct {
				const char *what;
				size_t first, count;
			} parts[] = {{"position (red, green)", 0, 2},
				     {"detail (blue)", 2, 1}};
			for (const auto &part : parts) {
				int largest = 0;
				double share = 0.0;
				compare(by_crop, by_zoom, part.first,
					part.count, &largest, &share);
				std::printf("pictures (b) and (c), %s: largest "
					    "difference %d, %.3f%% of pixels "
					    "more than 2 apart\n",
					    part.what, largest, share * 100.0);
				agree = agree && share < 0.01;
			}
		}

		std::vector<Variant> variants = {
			{"(0) empty frame", [] {}, {}},
			{"(a) no filter", [&] { render_source(plain); }, {}},
			{"(b) crop_filter, drawn 2x",
			 [&] { render_doubled(cropped); },
			 {}},
			{"(c) tavimore_filter zoom 2",
			 [&] { render_source(zoomed); },
			 {}},
			{"(d) tavimore_filter zoom 1",
			 [&] { render_source(whole); },
			 {}},
		};
		if (!cropped)
			variants.erase(variants.begin() + 2);
		run_interleaved(frame, variants, frames);

		const Variant &empty = variants[0];
		const double a = median(variants[1].seconds);
		const double a_net = median(net_of_empty(variants[1], empty));
		std::printf("%-28s %12s %12s %10s %12s\n", "", "median ms",
			    "ratio to (a)", "net ms", "net ratio");
		for (const Variant &v : variants) {
			const double t = median(v.seconds);
			if (&v == &empty) {
				std::printf("%-28s %12.3f\n", v.label, t * 1e3);
				continue;
			}
			const double net = median(net_of_empty(v, empty));
			std::printf("%-28s %12.3f %12.3f %10.3f %12.3f\n",
				    v.label, t * 1e3, t / a, net * 1e3,
				    net / a_net);
		}
	}
	obs_leave_graphics();
	return agree;
}

/* Four copies of one picture from `make`: bare, with the crop filter
 * (unless `with_crop` is false), with the zoom filter at zoom 2 and at zoom 1.
 * Every copy is shown, as in a scene (a capture captures only then); with
 * `ready`, the filters are added once every copy passes it. */
bool compare_copies(const char *title,
		    const std::function<obs_source_t *(const char *)> &make,
		    int frames, bool with_crop,
		    const std::function<bool(obs_source_t *)> &ready = nullptr)
{
	const std::string prefix = std::string(title) + " ";
	obs_source_t *plain = make((prefix + "a").c_str());
	obs_source_t *cropped = with_crop ? make((prefix + "b").c_str())
					  : nullptr;
	obs_source_t *zoomed = make((prefix + "c").c_str());
	obs_source_t *whole = make((prefix + "d").c_str());
	std::vector<obs_source_t *> copies = {plain, zoomed, whole};
	if (cropped)
		copies.push_back(cropped);
	bool agree = true;
	for (obs_source_t *s : copies) {
		obs_source_inc_showing(s);
		if (ready && agree && !ready(s)) {
			std::fprintf(stderr,
				     "%s: %s does not show the "
				     "picture\n",
				     title, obs_source_get_name(s));
			agree = false;
		}
	}
	obs_source_t *crop = with_crop ? add_crop_filter(cropped, WIDTH, HEIGHT)
				       : nullptr;
	obs_source_t *zoom_2 = add_zoom_filter(zoomed, 2.0);
	obs_source_t *zoom_1 = add_zoom_filter(whole, 1.0);
	wait_frames(3);
	agree = agree &&
		compare_filters(title, plain, cropped, zoomed, whole, frames);
	if (crop)
		obs_source_filter_remove(cropped, crop);
	obs_source_filter_remove(zoomed, zoom_2);
	obs_source_filter_remove(whole, zoom_1);
	for (obs_source_t *s : copies)
		obs_source_dec_showing(s);
	for (obs_source_t *s :
	     {crop, zoom_2, zoom_1, plain, cropped, zoomed, whole})
		obs_source_release(s);
	wait_destroyed();
	return agree;
}

/* One frame of n tiles, each a source with the filter, against the same n
 * sources without it. */
void scale(int frames)
{
	std::printf("\n== scale: n sources of %ux%u, one frame of all of "
		    "them, %d frames each, interleaved\n",
		    TILE, TILE, frames);
	std::printf("%6s %14s %14s %16s %16s %10s\n", "n", "unfiltered ms",
		    "filtered ms", "net/source ms", "net/filtered ms", "ratio");
	for (int n : {1, 10, 50}) {
		std::vector<obs_source_t *> plain;
		std::vector<obs_source_t *> zoomed;
		std::vector<obs_source_t *> filters;
		for (int i = 0; i < n; i++) {
			const std::string a = "plain tile " + std::to_string(i);
			const std::string b = "zoom tile " + std::to_string(i);
			plain.push_back(
				create_pattern_source(a.c_str(), TILE, TILE));
			zoomed.push_back(
				create_pattern_source(b.c_str(), TILE, TILE));
			filters.push_back(add_zoom_filter(zoomed.back(), 2.0));
		}
		wait_frames(3);

		auto tiles = [](const std::vector<obs_source_t *> &sources) {
			const int columns = int(WIDTH / TILE);
			for (size_t i = 0; i < sources.size(); i++) {
				const int cell = int(i) % (columns * 4);
				gs_matrix_push();
				gs_matrix_translate3f(
					float((cell % columns) * TILE),
					float((cell / columns) * TILE), 0.0f);
				obs_source_video_render(sources[i]);
				gs_matrix_pop();
			}
		};
		obs_enter_graphics();
		{
			Frame frame;
			std::vector<Variant> variants = {
				{"empty", [] {}, {}},
				{"unfiltered", [&] { tiles(plain); }, {}},
				{"filtered", [&] { tiles(zoomed); }, {}},
			};
			run_interleaved(frame, variants, frames);
			const double u = median(variants[1].seconds);
			const double f = median(variants[2].seconds);
			const double u_net =
				median(net_of_empty(variants[1], variants[0]));
			const double f_net =
				median(net_of_empty(variants[2], variants[0]));
			std::printf("%6d %14.3f %14.3f %16.4f %16.4f %10.3f\n",
				    n, u * 1e3, f * 1e3, u_net * 1e3 / n,
				    f_net * 1e3 / n, f_net / u_net);
		}
		obs_leave_graphics();

		for (int i = 0; i < n; i++) {
			obs_source_filter_remove(zoomed[i], filters[i]);
			obs_source_release(filters[i]);
			obs_source_release(zoomed[i]);
			obs_source_release(plain[i]);
		}
		wait_destroyed();
	}
}

bool parse(int argc, char **argv, Options &options)
{
	for (int i = 1; i < argc; i++) {
		const std::string arg = argv[i];
		if (arg.rfind("--frames=", 0) == 0)
			options.frames = std::atoi(arg.c_str() + 9);
		else if (arg.rfind("--scale-frames=", 0) == 0)
			options.scale_frames = std::atoi(arg.c_str() + 15);
		else if (arg == "--no-obs-plugins")
			options.obs_plugins = false;
		else
			return false;
	}
	return options.frames > 0 && options.scale_frames > 0;
}

} // namespace

int main(int argc, char **argv)
{
	Options options;
	if (!parse(argc, argv, options)) {
		std::fprintf(stderr,
			     "usage: %s [--frames=N] "
			     "[--scale-frames=N] [--no-obs-plugins]\n",
			     argv[0]);
		return 2;
	}

	HostOptions host;
	host.video = true;
	host.width = WIDTH;
	host.height = HEIGHT;
	if (!start_host(host) ||
	    (options.obs_plugins &&
	     (!load_plugin("obs-filters") || !load_plugin("image-source") ||
	      !load_plugin("linux-capture"))))
		return 1;
	for (const LogLine &line : logs_containing("Loading up OpenGL"))
		std::printf("%s\n", line.text.c_str());
	for (const char *id : {"tavimore_test_pattern", "image_source",
			       "xshm_input", "crop_filter", "tavimore_filter"})
		if (obs_source_get_display_name(id))
			std::printf("%s declares OBS_SOURCE_SRGB: %s\n", id,
				    obs_get_source_output_flags(id) &
						    OBS_SOURCE_SRGB
					    ? "yes"
					    : "no");

	/* the harness's test pattern, a plain video source */
	bool agree = compare_copies(
		"test pattern source",
		[](const char *name) {
			return create_pattern_source(name, WIDTH, HEIGHT);
		},
		options.frames, options.obs_plugins);
	/* OBS's image source, which draws in linear colour (sRGB aware) */
	if (options.obs_plugins) {
		const std::string picture = write_picture();
		agree &= compare_copies(
			"image_source (PPM picture)",
			[&](const char *name) {
				return make_image_source(picture, name);
			},
			options.frames, true);
		/* OBS's screen capture, custom drawn and sRGB aware */
		RootPicture screen;
		const std::string unfit = screen.unfit();
		if (unfit.empty()) {
			screen.paint();
			agree &= compare_copies(
				"xshm_input (screen capture)",
				[&](const char *name) {
					return screen.capture(name);
				},
				options.frames, true, shows_picture);
		} else {
			std::printf("\n== xshm_input (screen capture): "
				    "skipped: %s\n",
				    unfit.c_str());
		}
	}

	scale(options.scale_frames);

	stop_host();
	if (!agree) {
		std::fprintf(stderr, "a source does not show the picture, or "
				     "the pictures of (b) and (c) disagree: "
				     "the comparison is not like for like\n");
		return 1;
	}
	return 0;
}
