/*
 * Centre tracking on OBS's own captures (xshm_input and xcomposite_input from
 * Debian's obs-plugins) of the Xvfb screen, in the real libobs with video:
 * the screen and a window show colour ramps (red = x, green = y), the pointer
 * moves by XTest, and the pixel read back at the middle of the filtered
 * capture tells which point of the screen the view is centred on. The
 * automatic zoom's table is played on the screen capture less cut margins.
 */
#include "auto-zoom-steps.hpp"
#include "core/zoom-core.hpp"
#include "tracking/capture-settings.hpp"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <sys/uio.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

namespace {

const char *const CAPTURE_MODULE =
	"/usr/lib/x86_64-linux-gnu/obs-plugins/linux-capture.so";
const char *const CAPTURE_DATA = "/usr/share/obs/obs-plugins/linux-capture";

/* Lists client windows on the root window, as an EWMH window manager does
 * (OBS's window capture finds its window among them). */
void set_client_list(Display *d, const std::vector<Window> &windows)
{
	XChangeProperty(d, DefaultRootWindow(d),
			XInternAtom(d, "_NET_CLIENT_LIST", False), XA_WINDOW,
			32, PropModeReplace,
			reinterpret_cast<const unsigned char *>(windows.data()),
			int(windows.size()));
	XSync(d, False);
}

/* Announces an EWMH window manager on the display, as any current one does:
 * OBS's window capture is only offered under such a manager, and reads the
 * window list and titles the manager supports. The window stays for the
 * life of the connection, which stays open. */
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
	const Atom supported[] = {check,
				  XInternAtom(d, "_NET_CLIENT_LIST", False),
				  XInternAtom(d, "_NET_WM_NAME", False)};
	XChangeProperty(d, root, XInternAtom(d, "_NET_SUPPORTED", False),
			XA_ATOM, 32, PropModeReplace,
			reinterpret_cast<const unsigned char *>(supported), 3);
	set_client_list(d, {});
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
	/* A program's window, placed exactly where asked: its title in
	 * WM_NAME, and also in _NET_WM_NAME (UTF-8, which OBS prefers) when
	 * `net_title` is given, as current programs do. */
	Window program_window(int wx, int wy, int ww, int wh, const char *title,
			      const char *net_title,
			      const char *res_class) const
	{
		const Window win = XCreateSimpleWindow(d, DefaultRootWindow(d),
						       wx, wy, ww, wh, 0, 0, 0);
		XSetWindowAttributes a;
		a.override_redirect = True;
		XChangeWindowAttributes(d, win, CWOverrideRedirect, &a);
		XStoreName(d, win, title);
		if (net_title)
			XChangeProperty(d, win,
					XInternAtom(d, "_NET_WM_NAME", False),
					XInternAtom(d, "UTF8_STRING", False), 8,
					PropModeReplace,
					reinterpret_cast<const unsigned char *>(
						net_title),
					int(std::strlen(net_title)));
		XClassHint hint = {const_cast<char *>(res_class),
				   const_cast<char *>("Tavimore")};
		XSetClassHint(d, win, &hint);
		XMapRaised(d, win);
		XSync(d, False);
		return win;
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
		remove_and_release(source, filter);
		wait_destroyed();
	}
	/* Waits until the sampler reports these fractions of the area. */
	bool sees(double fx, double fy, double tolerance = 1e-9) const
	{
		const auto end = std::chrono::steady_clock::now() +
				 std::chrono::seconds(3);
		while (std::chrono::steady_clock::now() < end) {
			const ZoomSnapshot f = snapshot_of(filter);
			if (f.pointer_seen &&
			    std::fabs(f.pointer_x - fx) <= tolerance &&
			    std::fabs(f.pointer_y - fy) <= tolerance)
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
	const ZoomSnapshot f = graphics_snapshot(filter);
	return crop_window(f.current_zoom, f.current_center_x,
			   f.current_center_y);
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

/* The "capture_window" value OBS's own window capture offers for a window
 * in its property sheet (what it stores when the user picks it). */
std::string offered_setting(Window win)
{
	std::string found;
	obs_properties_t *props = obs_get_source_properties("xcomposite_input");
	obs_property_t *list = obs_properties_get(props, "capture_window");
	const std::string prefix = std::to_string(win) + "\r\n";
	for (size_t i = 0; i < obs_property_list_item_count(list); i++) {
		const char *value = obs_property_list_item_string(list, i);
		if (value && std::string(value).rfind(prefix, 0) == 0)
			found = value;
	}
	obs_properties_destroy(props);
	return found;
}

TEST(CaptureTracking,
     TheWindowCaptureFindsARestartedProgramsWindowByTitleAndClass)
{
	ASSERT_TRUE(load_captures());
	X x;
	ASSERT_NE(x.d, nullptr);
	const int w = x.w / 4, h = x.h / 4;
	/* the pointer to (ox, oy) inside a window at wx, wy: its fractions */
	const auto point = [&](int wx, int wy, int ox, int oy, double &fx,
			       double &fy) {
		x.move(wx + ox, wy + oy);
		fx = (ox + 0.5) / w;
		fy = (oy + 0.5) / h;
	};
	const char *const net_title = "Ramps \xe2\x80\x94 k\xc3\xa4se";
	for (const bool net : {true, false}) {
		SCOPED_TRACE(net ? "_NET_WM_NAME" : "WM_NAME only");
		const char *title = net ? "Ramps - old title" : "Ramps";
		const Window first = x.program_window(20, 30, w, h, title,
						      net ? net_title : nullptr,
						      "ramps");
		set_client_list(x.d, {first});
		const std::string setting = offered_setting(first);
		ASSERT_FALSE(setting.empty());
		EXPECT_NE(setting.find(net ? net_title : title),
			  std::string::npos);
		OBSDataAutoRelease settings = obs_data_create();
		obs_data_set_string(settings, "capture_window",
				    setting.c_str());
		obs_data_set_bool(settings, "show_cursor", false);
		Capture capture("xcomposite_input", settings);
		double fx, fy;
		point(20, 30, w / 3, h * 2 / 3, fx, fy);
		ASSERT_TRUE(capture.sees(fx, fy));

		/* the program restarts: a new window of the same title and
		 * class elsewhere, listed after one of the same title but
		 * another class */
		XDestroyWindow(x.d, first);
		const Window other = x.program_window(x.w / 2, 40, w, h, title,
						      net ? net_title : nullptr,
						      "other");
		const Window second =
			x.program_window(x.w / 3, x.h / 2, w, h, title,
					 net ? net_title : nullptr, "ramps");
		set_client_list(x.d, {other, second});
		point(x.w / 3, x.h / 2, w * 3 / 4, h / 5, fx, fy);
		EXPECT_TRUE(capture.sees(fx, fy));
		/* OBS restarts too: a capture made now from the stored
		 * setting finds the window */
		{
			Capture later("xcomposite_input", settings);
			EXPECT_TRUE(later.sees(fx, fy));
		}
		/* with no window chosen, OBS captures the first client */
		set_client_list(x.d, {second, other});
		{
			OBSDataAutoRelease none = obs_data_create();
			Capture unset("xcomposite_input", none);
			EXPECT_TRUE(unset.sees(fx, fy));
		}
		XDestroyWindow(x.d, other);
		XDestroyWindow(x.d, second);
		set_client_list(x.d, {});
	}
}

/* A RandR monitor of our own on the Xvfb screen, for as long as it lives. */
struct Monitor {
	xcb_connection_t *c = xcb_connect(nullptr, nullptr);
	xcb_window_t root =
		xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
	xcb_atom_t name = 0;
	int index = -1; /* in the screen capture's list of screens */

	Monitor(int x, int y, int w, int h)
	{
		/* monitors are RandR 1.5's, which a client must ask for */
		free(xcb_randr_query_version_reply(
			c, xcb_randr_query_version(c, 1, 5), nullptr));
		const char label[] = "TAVIMORE-TEST";
		xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
			c, xcb_intern_atom(c, 0, sizeof label - 1, label),
			nullptr);
		if (!atom)
			return;
		name = atom->atom;
		free(atom);
		/* sent by hand: Debian 12's xcb_randr_set_monitor leaves a part
		 * of its request unset, which now and then breaks the
		 * connection */
		struct {
			uint32_t header; /* filled in by xcb */
			xcb_window_t window;
			xcb_randr_monitor_info_t info;
		} request = {};
		request.window = root;
		request.info.name = name;
		request.info.x = int16_t(x);
		request.info.y = int16_t(y);
		request.info.width = uint16_t(w);
		request.info.height = uint16_t(h);
		request.info.width_in_millimeters = uint32_t(w / 4);
		request.info.height_in_millimeters = uint32_t(h / 4);
		iovec parts[4] = {};
		parts[2].iov_base = &request;
		parts[2].iov_len = sizeof request;
		xcb_protocol_request_t set = {2, &xcb_randr_id,
					      XCB_RANDR_SET_MONITOR, 1};
		free(xcb_request_check(c,
				       {xcb_send_request(c, XCB_REQUEST_CHECKED,
							 parts + 2, &set)}));
		xcb_randr_get_monitors_reply_t *list =
			xcb_randr_get_monitors_reply(
				c, xcb_randr_get_monitors(c, root, 1), nullptr);
		if (!list)
			return;
		auto it = xcb_randr_get_monitors_monitors_iterator(list);
		for (int i = 0; it.rem; i++, xcb_randr_monitor_info_next(&it))
			if (it.data->name == name)
				index = i;
		free(list);
	}
	~Monitor()
	{
		if (name)
			free(xcb_request_check(
				c, xcb_randr_delete_monitor_checked(c, root,
								    name)));
		xcb_disconnect(c);
	}
};

TEST(CaptureTracking, NegativeMarginsWidenTheScreenCaptureOntoTheNextMonitor)
{
	ASSERT_TRUE(load_captures());
	X x;
	ASSERT_NE(x.d, nullptr);
	const int W = x.w, H = x.h;
	x.paint_ramps(DefaultRootWindow(x.d), W, H);
	/* a monitor that starts right of and below the screen's corner */
	const int mx = W / 2, my = H / 8, mw = W / 2, mh = H * 3 / 4;
	Monitor monitor(mx, my, mw, mh);
	ASSERT_GE(monitor.index, 0);

	const struct {
		int cut_left, cut_top;
		bool shown; /* the area lies on the screen */
	} rows[] = {
		{-W / 8, -H / 16, true},
		{-W / 8, 0, true},
		/* past the screen's left edge: OBS gets no picture */
		{-(mx + 8), 0, false},
	};
	const double tol_x = (W - 1) / 255.0 + 1.0;
	const double tol_y = (H - 1) / 255.0 + 1.0;
	for (const auto &row : rows) {
		SCOPED_TRACE(std::to_string(row.cut_left) + "," +
			     std::to_string(row.cut_top));
		OBSDataAutoRelease settings = obs_data_create();
		obs_data_set_int(settings, "screen", monitor.index);
		obs_data_set_int(settings, "cut_left", row.cut_left);
		obs_data_set_int(settings, "cut_top", row.cut_top);
		obs_data_set_bool(settings, "show_cursor", false);
		Capture capture("xshm_input", settings);
		wait_frames(5);
		const int ax = mx + row.cut_left, ay = my + row.cut_top;
		const int aw = mw - row.cut_left, ah = mh - row.cut_top;
		/* the capture itself is that big */
		EXPECT_EQ(obs_source_get_width(capture.source), uint32_t(aw));
		EXPECT_EQ(obs_source_get_height(capture.source), uint32_t(ah));
		const int px = std::max(ax, 0) + aw / 3;
		const int py = ay + ah / 2;
		x.move(px, py);
		if (!row.shown) {
			EXPECT_TRUE(
				capture.sees((px + 0.5) / W, (py + 0.5) / H));
			continue;
		}
		ASSERT_TRUE(capture.sees((px - ax + 0.5) / aw,
					 (py - ay + 0.5) / ah));
		/* and OBS's picture agrees: the pointer's point in the middle */
		double gx, gy;
		capture.centre(W, H, gx, gy);
		EXPECT_NEAR(gx, px + 0.5, tol_x);
		EXPECT_NEAR(gy, py + 0.5, tol_y);
	}
}

TEST(CaptureTracking, CaptureTypesAndSettingsAsEachOBSStoresThem)
{
	using Kind = CaptureSettings::Kind;
	using Match = CaptureSettings::WindowMatch;
	const struct {
		const char *id, *json;
		Kind kind;
		int64_t screen;
		uint32_t window;
		Match match;
		const char *name, *window_class;
		bool border;
		int64_t top, left, right, bot;
	} rows[] = {
		{"xshm_input",
		 R"({"screen": 1, "cut_top": 7, "cut_left": 320,
		     "cut_right": 5, "cut_bot": 3})",
		 Kind::Screen, 1, 0, Match::ById, "", "", false, 7, 320, 5, 3},
		/* OBS 31 and later */
		{"xshm_input_v2", R"({"screen": 1, "cut_left": -320})",
		 Kind::Screen, 1, 0, Match::ById, "", "", false, 0, -320, 0, 0},
		/* ... with no screen chosen yet */
		{"xshm_input_v2", R"({"screen": -1})", Kind::Screen, -1, 0,
		 Match::ById, "", "", false, 0, 0, 0, 0},
		{"xcomposite_input",
		 "{\"capture_window\": \"4194313\\r\\nRamps \u2014 k\u00e4se"
		 "\\r\\nramps\", \"include_border\": true, \"cut_top\": 4}",
		 Kind::Window, 0, 4194313, Match::ByIdNameClass,
		 "Ramps \xe2\x80\x94 k\xc3\xa4se", "ramps", true, 4, 0, 0, 0},
		/* older versions stored the id alone */
		{"xcomposite_input", R"({"capture_window": "4194313"})",
		 Kind::Window, 0, 4194313, Match::ById, "", "", false, 0, 0, 0,
		 0},
		{"xcomposite_input", R"({"capture_window": "12\r\nno class"})",
		 Kind::Window, 0, 12, Match::ById, "", "", false, 0, 0, 0, 0},
		{"xcomposite_input", "{}", Kind::Window, 0, 0,
		 Match::FirstClient, "", "", false, 0, 0, 0, 0},
		/* sources whose area is not known: the whole screen */
		{"image_source", R"({"file": "picture.png"})",
		 Kind::WholeScreen, 0, 0, Match::ById, "", "", false, 0, 0, 0,
		 0},
		{"pipewire-screen-capture-source", "{}", Kind::WholeScreen, 0,
		 0, Match::ById, "", "", false, 0, 0, 0, 0},
		{"pipewire-window-capture-source", "{}", Kind::WholeScreen, 0,
		 0, Match::ById, "", "", false, 0, 0, 0, 0},
	};
	CaptureSettings got;
	for (const auto &row : rows) {
		SCOPED_TRACE(std::string(row.id) + " " + row.json);
		OBSDataAutoRelease settings =
			obs_data_create_from_json(row.json);
		ASSERT_NE(settings.Get(), nullptr);
		/* filled over whatever the last row left */
		capture_settings_from(row.id, settings, got);
		EXPECT_EQ(got.kind, row.kind);
		EXPECT_EQ(got.screen, row.screen);
		EXPECT_EQ(got.window, row.window);
		EXPECT_EQ(got.window_match, row.match);
		EXPECT_EQ(got.window_name, row.name);
		EXPECT_EQ(got.window_class, row.window_class);
		EXPECT_EQ(got.include_border, row.border);
		EXPECT_EQ(got.cut_top, row.top);
		EXPECT_EQ(got.cut_left, row.left);
		EXPECT_EQ(got.cut_right, row.right);
		EXPECT_EQ(got.cut_bot, row.bot);
	}
}

TEST(AutoZoom, ClicksZoomFollowLingerAndGiveWayToTheUser)
{
	ASSERT_TRUE(load_captures());
	X x;
	ASSERT_NE(x.d, nullptr);
	OBSDataAutoRelease cut = obs_data_create_from_json(
		R"({"show_cursor": false, "cut_top": 90, "cut_left": 160})");
	OBSSourceAutoRelease screen =
		obs_source_create("xshm_input", "screen", cut, nullptr);
	obs_source_inc_showing(screen);
	const KeyCode shift = XKeysymToKeycode(x.d, XK_Shift_L);
	const CaptureRect area = {160, 90, x.w - 160.0, x.h - 90.0};
	play_auto_zoom(screen, area, [&](Act act, int px, int py) {
		if (act == Act::Click || act == Act::Move)
			x.move(px, py);
		for (Bool down : {True, False})
			if (act == Act::Click)
				XTestFakeButtonEvent(x.d, 1, down, 0);
			else if (act == Act::Key)
				XTestFakeKeyEvent(x.d, shift, down, 0);
		XSync(x.d, False);
		/* switched off or taken off: its pointer sampler has ended */
		if (act >= Act::Off)
			EXPECT_EQ(threads_named("tavimore-ptr"), 0);
	});
	obs_source_dec_showing(screen);
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	return run_tests_in_host(argc, argv, options);
}
