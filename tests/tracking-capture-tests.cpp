/*
 * Centre tracking on OBS's own captures (xshm_input and xcomposite_input from
 * Debian's obs-plugins) of the Xvfb screen, in the real libobs with video:
 * the screen and a window show colour ramps (red = x, green = y), the pointer
 * moves by XTest, and the pixel read back at the middle of the filtered
 * capture tells which point of the screen the view is centred on.
 */
#include "obs-harness.hpp"
#include "zoom-core.hpp"
#include "zoom-filter.hpp"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

namespace {

const char *const CAPTURE_MODULE =
	"/usr/lib/x86_64-linux-gnu/obs-plugins/linux-capture.so";
const char *const CAPTURE_DATA = "/usr/share/obs/obs-plugins/linux-capture";

/* Announces an EWMH window manager on the display, as any current one does:
 * OBS's window capture is only offered under such a manager. The window
 * stays for the life of the connection, which stays open. */
void announce_window_manager()
{
	static Display *d = XOpenDisplay(nullptr);
	if (!d)
		return;
	const Window root = DefaultRootWindow(d);
	Window wm = XCreateSimpleWindow(d, root, 0, 0, 1, 1, 0, 0, 0);
	const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
	for (Window on : {root, wm})
		XChangeProperty(d, on, check, XA_WINDOW, 32, PropModeReplace,
				reinterpret_cast<const unsigned char *>(&wm),
				1);
	XSync(d, False);
}

/* OBS's linux-capture plug-in, loaded once into the host. */
bool load_captures()
{
	static const bool loaded = [] {
		announce_window_manager();
		obs_module_t *m = nullptr;
		return obs_open_module(&m, CAPTURE_MODULE, CAPTURE_DATA) ==
			       MODULE_SUCCESS &&
		       obs_init_module(m);
	}();
	return loaded;
}

struct X {
	Display *d = XOpenDisplay(nullptr);
	int w = d ? DisplayWidth(d, DefaultScreen(d)) : 0;
	int h = d ? DisplayHeight(d, DefaultScreen(d)) : 0;
	~X()
	{
		if (d)
			XCloseDisplay(d);
	}
	void move(int x, int y) const
	{
		XTestFakeMotionEvent(d, -1, x, y, 0);
		XSync(d, False);
	}
	/* Paints a window's background with ramps over its own size. */
	void paint_ramps(Window win, int width, int height) const
	{
		const int s = DefaultScreen(d);
		Pixmap pixmap = XCreatePixmap(d, win, width, height,
					      DefaultDepth(d, s));
		XImage *image = XCreateImage(d, DefaultVisual(d, s),
					     DefaultDepth(d, s), ZPixmap, 0,
					     nullptr, width, height, 32, 0);
		image->data = static_cast<char *>(
			calloc(size_t(image->bytes_per_line), height));
		for (int y = 0; y < height; y++)
			for (int x = 0; x < width; x++)
				XPutPixel(image, x, y,
					  (ramp(x, width) << 16) |
						  (ramp(y, height) << 8) |
						  0x40);
		GC gc = XCreateGC(d, pixmap, 0, nullptr);
		XPutImage(d, pixmap, gc, image, 0, 0, 0, 0, width, height);
		XFreeGC(d, gc);
		XDestroyImage(image);
		XSetWindowBackgroundPixmap(d, win, pixmap);
		XFreePixmap(d, pixmap);
		XClearWindow(d, win);
		XSync(d, False);
	}
	static unsigned long ramp(int v, int size)
	{
		return static_cast<unsigned long>(
			std::lround(255.0 * v / (size - 1)));
	}
};

/* A capture source with a tracking idle view (zoom 2, no smoothing, no dead
 * zone), shown in full. */
struct Capture {
	obs_source_t *source = nullptr;
	obs_source_t *filter = nullptr;

	Capture(const char *id, obs_data_t *settings)
	{
		source = obs_source_create(id, "capture", settings, nullptr);
		OBSDataAutoRelease zoom = obs_data_create_from_json(
			R"({"idle_zoom_factor": 2.0, "idle_center_tracking": true,
			    "tracking_smoothing": 0.0, "tracking_dead_zone": 0.0})");
		filter = create_zoom_filter("capture zoom", zoom);
		obs_source_filter_add(source, filter);
		/* a capture only captures while it is shown */
		obs_source_inc_showing(source);
		wait_frames(3);
	}
	~Capture()
	{
		obs_source_dec_showing(source);
		obs_source_filter_remove(source, filter);
		obs_source_release(filter);
		obs_source_release(source);
		wait_destroyed();
	}
	/* Waits until the sampler reports these fractions of the area. */
	bool sees(double fx, double fy, double tolerance = 1e-9) const
	{
		const auto end = std::chrono::steady_clock::now() +
				 std::chrono::seconds(3);
		while (std::chrono::steady_clock::now() < end) {
			ZoomFilter *f = zoom_data(filter);
			double x = -1;
			double y = -1;
			if (f->pointer && f->pointer->latest(x, y) &&
			    std::fabs(x - fx) <= tolerance &&
			    std::fabs(y - fy) <= tolerance)
				return true;
			std::this_thread::sleep_for(
				std::chrono::milliseconds(5));
		}
		return false;
	}
	/* The point of the painted ramps shown in the middle of the frame,
	 * once the view has settled. */
	void centre(int ramp_w, int ramp_h, double &x, double &y) const
	{
		wait_frames(40);
		const uint32_t w = obs_source_get_width(source);
		const uint32_t h = obs_source_get_height(source);
		const std::vector<uint8_t> px = render_pixels(source, w, h);
		const size_t at = (size_t(h / 2) * w + w / 2) * 4;
		x = px[at] * (ramp_w - 1) / 255.0;
		y = px[at + 1] * (ramp_h - 1) / 255.0;
	}
};

} // namespace

TEST(CaptureTracking, TheScreenCaptureFollowsThePointerWithinItsCutMargins)
{
	ASSERT_TRUE(load_captures());
	X x;
	ASSERT_NE(x.d, nullptr);
	const int W = x.w;
	const int H = x.h;
	x.paint_ramps(DefaultRootWindow(x.d), W, H);

	/* margins as OBS's screen capture takes them */
	const int top = H / 7, left = W * 5 / 16, right = W / 16, bot = H / 36;
	const double aw = W - left - right;
	const double ah = H - top - bot;
	const struct {
		bool cut;
		int px, py;
		double want_x, want_y; /* the screen point in the middle */
	} cases[] = {
		{false, W / 2, H / 2, W / 2 + 0.5, H / 2 + 0.5},
		{false, W / 5, H * 2 / 3, W / 4.0, H * 2 / 3 + 0.5},
		{false, W - 1, 0, W * 0.75, H * 0.25},
		{true, left + int(aw / 2), top + int(ah / 3),
		 left + int(aw / 2) + 0.5, top + int(ah / 3) + 0.5},
		/* outside the area: clamped to its edge, then to the frame */
		{true, 0, 0, left + aw / 4, top + ah / 4},
		{true, W - 1, H - 1, left + aw * 0.75, top + ah * 0.75},
	};
	/* the ramps' steps and the sampling */
	const double tol_x = (W - 1) / 255.0 + 1.0;
	const double tol_y = (H - 1) / 255.0 + 1.0;
	for (bool cut : {false, true}) {
		OBSDataAutoRelease settings = obs_data_create();
		obs_data_set_bool(settings, "show_cursor", false);
		if (cut) {
			obs_data_set_int(settings, "cut_top", top);
			obs_data_set_int(settings, "cut_left", left);
			obs_data_set_int(settings, "cut_right", right);
			obs_data_set_int(settings, "cut_bot", bot);
		}
		Capture capture("xshm_input", settings);
		wait_frames(5);
		/* the capture itself shows the area the pointer maps to */
		EXPECT_EQ(obs_source_get_width(capture.source),
			  uint32_t(cut ? aw : W));
		EXPECT_EQ(obs_source_get_height(capture.source),
			  uint32_t(cut ? ah : H));
		for (const auto &c : cases) {
			if (c.cut != cut)
				continue;
			SCOPED_TRACE(std::to_string(c.px) + "," +
				     std::to_string(c.py) +
				     (cut ? " cut" : " whole"));
			x.move(c.px, c.py);
			const double ox = cut ? left : 0;
			const double oy = cut ? top : 0;
			const double fx = std::clamp(
				(c.px - ox + 0.5) / (cut ? aw : W), 0.0, 1.0);
			const double fy = std::clamp(
				(c.py - oy + 0.5) / (cut ? ah : H), 0.0, 1.0);
			ASSERT_TRUE(capture.sees(fx, fy));
			double gx, gy;
			capture.centre(W, H, gx, gy);
			EXPECT_NEAR(gx, c.want_x, tol_x);
			EXPECT_NEAR(gy, c.want_y, tol_y);
		}
	}
}

TEST(CaptureTracking, MissingOrWrongCaptureSettingsMapTheWholeScreen)
{
	ASSERT_TRUE(load_captures());
	X x;
	ASSERT_NE(x.d, nullptr);
	const struct {
		const char *id, *json;
	} wrong[] = {
		{"xshm_input", R"({"screen": 7})"},
		{"xshm_input", R"({"cut_left": -40})"},
		{"xshm_input", R"({"cut_top": 100000})"},
		{"xshm_input", R"({"screen": "first"})"},
		{"xcomposite_input", R"({})"},
		{"xcomposite_input", R"({"capture_window": "no window"})"},
		{"xcomposite_input", R"({"capture_window": "99999999999"})"},
	};
	int px = x.w / 3;
	for (const auto &w : wrong) {
		SCOPED_TRACE(std::string(w.id) + " " + w.json);
		OBSDataAutoRelease settings = obs_data_create_from_json(w.json);
		Capture capture(w.id, settings);
		x.move(++px, x.h / 4);
		EXPECT_TRUE(
			capture.sees((px + 0.5) / x.w, (x.h / 4 + 0.5) / x.h));
	}
}

/* The crop window the filter draws, read on the graphics thread between
 * frames (where the filter's tick runs). */
CropWindow shown_window(obs_source_t *filter)
{
	struct Read {
		ZoomFilter *f;
		CropWindow w;
	} read{zoom_data(filter), {}};
	obs_queue_task(
		OBS_TASK_GRAPHICS,
		[](void *p) {
			auto *r = static_cast<Read *>(p);
			r->w = crop_window(r->f->current_zoom,
					   r->f->current_center_x,
					   r->f->current_center_y);
		},
		&read, true);
	return read.w;
}

/* Under Xvfb with llvmpipe the window capture gets no picture (EGL makes no
 * image from an X pixmap there), so this test checks the area it maps and
 * the window the filter draws, not read-back pixels. */
TEST(CaptureTracking, TheWindowCaptureFollowsThePointerOverARealWindow)
{
	ASSERT_TRUE(load_captures());
	X x;
	ASSERT_NE(x.d, nullptr);
	const int wx = x.w / 4, wy = x.h / 5, ww = x.w / 2, wh = x.h / 2;
	Window win = XCreateSimpleWindow(x.d, DefaultRootWindow(x.d), wx, wy,
					 ww, wh, 0, 0, 0);
	XSetWindowAttributes a;
	a.override_redirect = True; /* placed exactly where asked */
	XChangeWindowAttributes(x.d, win, CWOverrideRedirect, &a);
	XMapRaised(x.d, win);
	XSync(x.d, False);

	const int cut_left = ww / 8, cut_top = wh / 10, cut_bot = wh / 20;
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_string(
		settings, "capture_window",
		(std::to_string(win) + "\r\nramps\r\nramps").c_str());
	obs_data_set_bool(settings, "show_cursor", false);
	obs_data_set_int(settings, "cut_left", cut_left);
	obs_data_set_int(settings, "cut_top", cut_top);
	obs_data_set_int(settings, "cut_bot", cut_bot);
	Capture capture("xcomposite_input", settings);
	ASSERT_NE(capture.source, nullptr);
	const double aw = ww - cut_left;
	const double ah = wh - cut_top - cut_bot;

	const struct {
		int px, py;    /* on the screen */
		double fx, fy; /* of the captured area */
	} cases[] = {
		{wx + cut_left + int(aw / 2), wy + cut_top + int(ah / 3),
		 (int(aw / 2) + 0.5) / aw, (int(ah / 3) + 0.5) / ah},
		{wx + cut_left, wy + cut_top, 0.5 / aw, 0.5 / ah},
		/* outside the area: clamped to its edges */
		{wx / 2, wy / 2, 0.0, 0.0},
		{x.w - 1, wy + wh - 1, 1.0, 1.0},
		{x.w - 1, wy + cut_top + int(ah * 0.6), 1.0,
		 (int(ah * 0.6) + 0.5) / ah},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.px) + "," + std::to_string(c.py));
		x.move(c.px, c.py);
		ASSERT_TRUE(capture.sees(c.fx, c.fy));
		wait_frames(40);
		const CropWindow got = shown_window(capture.filter);
		EXPECT_FLOAT_EQ(got.center_x, std::clamp(c.fx, 0.25, 0.75));
		EXPECT_FLOAT_EQ(got.center_y, std::clamp(c.fy, 0.25, 0.75));
	}

	/* the window moves: so does the area */
	XMoveWindow(x.d, win, wx + 40, wy + 30);
	XSync(x.d, False);
	x.move(wx + 40 + cut_left + int(aw / 2),
	       wy + 30 + cut_top + int(ah / 2));
	EXPECT_TRUE(capture.sees((int(aw / 2) + 0.5) / aw,
				 (int(ah / 2) + 0.5) / ah));

	/* a window that has gone holds the last position */
	XDestroyWindow(x.d, win);
	XSync(x.d, False);
	std::this_thread::sleep_for(std::chrono::milliseconds(300));
	x.move(10, 10);
	std::this_thread::sleep_for(std::chrono::milliseconds(300));
	EXPECT_TRUE(capture.sees((int(aw / 2) + 0.5) / aw,
				 (int(ah / 2) + 0.5) / ah));
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	return run_tests_in_host(argc, argv, options);
}
