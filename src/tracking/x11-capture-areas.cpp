/*
 * Where an OBS capture's picture lies on the X screen, found as OBS's own
 * captures find it: the screen capture's monitor (randr, else xinerama,
 * else the X screen) and the window capture's window; and the pointer
 * sampler's own connection and what it offers. Plain xcb calls on that
 * connection, made by the sampler's thread.
 */
#include "tracking/x11-capture-areas.hpp"

#include <xcb/randr.h>
#include <xcb/xinerama.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

/* ---- the capture areas, found as OBS's captures find theirs ---- */

/* Whether randr lists monitors (1.5 or later). */
static bool randr_has_monitors(xcb_connection_t *c)
{
	auto v = ask(c, xcb_randr_query_version_reply,
		     xcb_randr_query_version(c, 1, 5));
	return v && (v->major_version > 1 || v->minor_version >= 5);
}

static bool randr_geometry(xcb_connection_t *c, xcb_window_t root,
			   bool monitors, int64_t screen, CaptureRect &r)
{
	if (monitors) {
		auto m = ask(c, xcb_randr_get_monitors_reply,
			     xcb_randr_get_monitors(c, root, 1));
		if (!m || screen < 0 ||
		    screen >= xcb_randr_get_monitors_monitors_length(m.p))
			return false;
		auto it = xcb_randr_get_monitors_monitors_iterator(m.p);
		for (int64_t s = 0; s < screen; s++)
			xcb_randr_monitor_info_next(&it);
		r = {double(it.data->x), double(it.data->y),
		     double(it.data->width), double(it.data->height)};
		return true;
	}
	auto res = ask(c, xcb_randr_get_screen_resources_reply,
		       xcb_randr_get_screen_resources(c, root));
	if (!res || screen < 0 ||
	    screen >= xcb_randr_get_screen_resources_crtcs_length(res.p))
		return false;
	const xcb_randr_crtc_t crtc =
		xcb_randr_get_screen_resources_crtcs(res.p)[screen];
	auto info = ask(c, xcb_randr_get_crtc_info_reply,
			xcb_randr_get_crtc_info(c, crtc, 0));
	if (!info)
		return false;
	r = {double(info->x), double(info->y), double(info->width),
	     double(info->height)};
	return true;
}

static bool xinerama_geometry(xcb_connection_t *c, int64_t screen,
			      CaptureRect &r)
{
	auto q = ask(c, xcb_xinerama_query_screens_reply,
		     xcb_xinerama_query_screens(c));
	if (!q || screen < 0 ||
	    screen >= xcb_xinerama_query_screens_screen_info_length(q.p))
		return false;
	const xcb_xinerama_screen_info_t &s =
		xcb_xinerama_query_screens_screen_info(q.p)[screen];
	r = {double(s.x_org), double(s.y_org), double(s.width),
	     double(s.height)};
	return true;
}

static bool xinerama_active(xcb_connection_t *c)
{
	const xcb_query_extension_reply_t *ext =
		xcb_get_extension_data(c, &xcb_xinerama_id);
	if (!ext || !ext->present)
		return false;
	auto a =
		ask(c, xcb_xinerama_is_active_reply, xcb_xinerama_is_active(c));
	return a && a->state != 0;
}

static bool x11_screen_geometry(xcb_connection_t *c, int64_t screen,
				CaptureRect &r)
{
	auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
	for (int64_t s = 0; it.rem; s++, xcb_screen_next(&it)) {
		if (s == screen) {
			r = {0, 0, double(it.data->width_in_pixels),
			     double(it.data->height_in_pixels)};
			return true;
		}
	}
	return false;
}

/* The screen capture's area: randr, else xinerama, else the X screen, for
 * its screen setting, less its cut margins. */
static bool screen_capture_area(xcb_connection_t *c, xcb_window_t root,
				bool monitors, const CaptureSettings &capture,
				CaptureRect &r)
{
	const xcb_query_extension_reply_t *randr =
		xcb_get_extension_data(c, &xcb_randr_id);
	CaptureRect s;
	bool found;
	if (randr && randr->present)
		found = randr_geometry(c, root, monitors, capture.screen, s);
	else if (xinerama_active(c))
		found = xinerama_geometry(c, capture.screen, s);
	else
		found = x11_screen_geometry(c, capture.screen, s);
	if (!found || !(s.width > 0 && s.height > 0))
		return false;
	/* a margin counts from the monitor's corner, or from the screen's
	 * for a monitor that would start before it */
	const double x = capture.cut_left ? std::max(s.x, 0.0) : s.x;
	const double y = capture.cut_top ? std::max(s.y, 0.0) : s.y;
	r = cut_capture_rect(x, y, s.width, s.height, double(capture.cut_top),
			     double(capture.cut_left),
			     double(capture.cut_right),
			     double(capture.cut_bot));
	return true;
}

/* Whether the screen capture gets a picture of that area: the X server
 * hands out only areas on the screen. Negative margins widen it onto a
 * neighbouring monitor, which is fine, but not off the screen. */
static bool on_screen(const CaptureRect &r, const CaptureRect &screen)
{
	return r.width > 0.0 && r.height > 0.0 && r.x >= screen.x &&
	       r.y >= screen.y && r.x + r.width <= screen.x + screen.width &&
	       r.y + r.height <= screen.y + screen.height;
}

/* ---- the window capture's window, found as OBS's window capture finds
 * it ---- */

/* The atoms a lookup needs; XCB_ATOM_NONE for one the server has never
 * heard of (no window can have it then). */
struct WindowAtoms {
	xcb_atom_t client_list;
	xcb_atom_t net_wm_name;
	xcb_atom_t utf8_string;
	xcb_atom_t text;
	xcb_atom_t compound_text;
};

static WindowAtoms window_atoms(xcb_connection_t *c)
{
	static const char *const names[] = {"_NET_CLIENT_LIST", "_NET_WM_NAME",
					    "UTF8_STRING", "TEXT",
					    "COMPOUND_TEXT"};
	constexpr size_t count = sizeof names / sizeof names[0];
	xcb_intern_atom_cookie_t cookies[count];
	for (size_t i = 0; i < count; i++)
		cookies[i] = xcb_intern_atom(c, 1, uint16_t(strlen(names[i])),
					     names[i]);
	xcb_atom_t atoms[count];
	for (size_t i = 0; i < count; i++) {
		auto a = ask(c, xcb_intern_atom_reply, cookies[i]);
		atoms[i] = a ? a->atom : xcb_atom_t(XCB_ATOM_NONE);
	}
	return {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4]};
}

/* Asks for a property as OBS reads it: of any type, up to 16 KiB. */
static xcb_get_property_cookie_t ask_property(xcb_connection_t *c,
					      xcb_window_t w, xcb_atom_t atom)
{
	return xcb_get_property(c, 0, w, atom, XCB_GET_PROPERTY_TYPE_ANY, 0,
				4096);
}

/* The property asked for; null when the window has none, or an empty one. */
static xcb_get_property_reply_t *property(xcb_connection_t *c,
					  xcb_get_property_cookie_t cookie)
{
	xcb_generic_error_t *e = nullptr;
	xcb_get_property_reply_t *r =
		take(xcb_get_property_reply(c, cookie, &e), e);
	if (r && xcb_get_property_value_length(r) > 0)
		return r;
	free(r);
	return nullptr;
}

/* A text property up to its first NUL, as OBS compares them. */
static std::string text_of(const xcb_get_property_reply_t *r)
{
	const auto *v = static_cast<const char *>(xcb_get_property_value(
		const_cast<xcb_get_property_reply_t *>(r)));
	const int n = xcb_get_property_value_length(
		const_cast<xcb_get_property_reply_t *>(r));
	return std::string(v, strnlen(v, size_t(n)));
}

/* A window's title as OBS's window capture reads it: _NET_WM_NAME, else
 * WM_NAME as it is (UTF-8, Latin-1 or the locale's), or compound text in
 * its Latin-1 form, turned into UTF-8; "unknown" when there is none. False
 * for compound text with other character sets, which then matches nothing. */
static bool window_title(const WindowAtoms &atoms,
			 const xcb_get_property_reply_t *net,
			 const xcb_get_property_reply_t *name,
			 std::string &title)
{
	title = "unknown";
	if (net) {
		title = text_of(net);
	} else if (name && (name->type == XCB_ATOM_STRING ||
			    name->type == atoms.utf8_string ||
			    name->type == atoms.text)) {
		title = text_of(name);
	} else if (name && name->type == atoms.compound_text) {
		const std::string latin1 = text_of(name);
		title.clear();
		for (const char ch : latin1) {
			const auto b = static_cast<unsigned char>(ch);
			if (b == 0x1b || b == 0x9b)
				return false; /* another character set */
			if (b < 0x80) {
				title += ch;
			} else {
				title += char(0xc0 | (b >> 6));
				title += char(0x80 | (b & 0x3f));
			}
		}
	}
	return true;
}

/* The client windows the window manager lists, in its order. */
static std::vector<xcb_window_t>
client_windows(xcb_connection_t *c, xcb_window_t root, const WindowAtoms &atoms)
{
	std::vector<xcb_window_t> windows;
	if (atoms.client_list == XCB_ATOM_NONE)
		return windows;
	Reply<xcb_get_property_reply_t> list{
		property(c, ask_property(c, root, atoms.client_list))};
	if (list && list->format == 32) {
		const auto *w = static_cast<const xcb_window_t *>(
			xcb_get_property_value(list.p));
		windows.assign(w, w + xcb_get_property_value_length(list.p) /
						  sizeof(xcb_window_t));
	}
	return windows;
}

/* The window a window capture shows: with none chosen, the first client
 * window; with an id, a title and a class, that id while it is a client
 * window, else the first client of that title and class; else the id. */
static xcb_window_t find_window(xcb_connection_t *c, xcb_window_t root,
				const CaptureSettings &capture)
{
	if (capture.window_match == CaptureSettings::WindowMatch::ById)
		return capture.window;
	const WindowAtoms atoms = window_atoms(c);
	const std::vector<xcb_window_t> clients =
		client_windows(c, root, atoms);
	if (capture.window_match == CaptureSettings::WindowMatch::FirstClient)
		return clients.empty() ? 0 : clients.front();
	if (std::find(clients.begin(), clients.end(), capture.window) !=
	    clients.end())
		return capture.window;

	/* every client's titles and class asked for at once, read in order */
	struct Asked {
		xcb_get_property_cookie_t net_name;
		xcb_get_property_cookie_t name;
		xcb_get_property_cookie_t cls;
	};
	const bool net_names = atoms.net_wm_name != XCB_ATOM_NONE;
	std::vector<Asked> asked;
	for (const xcb_window_t w : clients)
		asked.push_back({net_names
					 ? ask_property(c, w, atoms.net_wm_name)
					 : xcb_get_property_cookie_t{0},
				 ask_property(c, w, XCB_ATOM_WM_NAME),
				 ask_property(c, w, XCB_ATOM_WM_CLASS)});
	xcb_window_t found = capture.window;
	size_t i = 0;
	for (; i < clients.size(); i++) {
		Reply<xcb_get_property_reply_t> net{
			net_names ? property(c, asked[i].net_name) : nullptr};
		Reply<xcb_get_property_reply_t> name{
			property(c, asked[i].name)};
		Reply<xcb_get_property_reply_t> cls{property(c, asked[i].cls)};
		std::string title;
		if (window_title(atoms, net.p, name.p, title) &&
		    title == capture.window_name &&
		    (cls ? text_of(cls.p) : std::string("unknown")) ==
			    capture.window_class) {
			found = clients[i++];
			break;
		}
	}
	for (; i < clients.size(); i++) {
		if (net_names)
			xcb_discard_reply(c, asked[i].net_name.sequence);
		xcb_discard_reply(c, asked[i].name.sequence);
		xcb_discard_reply(c, asked[i].cls.sequence);
	}
	return found;
}

enum class WindowArea { Found, Gone };
/* The window capture's area: the window on the root window, less its cut
 * margins (the capture starts at the outer corner of the border). */
static WindowArea window_capture_area(xcb_connection_t *c, xcb_window_t root,
				      xcb_window_t window,
				      const CaptureSettings &capture,
				      CaptureRect &r)
{
	if (!window)
		return WindowArea::Gone;
	auto g = ask(c, xcb_get_geometry_reply, xcb_get_geometry(c, window));
	if (!g)
		return WindowArea::Gone;
	auto t = ask(c, xcb_translate_coordinates_reply,
		     xcb_translate_coordinates(c, window, root, 0, 0));
	if (!t)
		return WindowArea::Gone;
	const double border = g->border_width;
	const double counted = capture.include_border ? border : 0.0;
	r = cut_capture_rect(double(t->dst_x) - border,
			     double(t->dst_y) - border,
			     double(g->width) - 2.0 * counted,
			     double(g->height) - 2.0 * counted,
			     double(capture.cut_top), double(capture.cut_left),
			     double(capture.cut_right),
			     double(capture.cut_bot));
	return WindowArea::Found;
}

/* Whether a window capture of that area gives a picture. */
static bool window_usable(const CaptureSettings &capture, const CaptureRect &r)
{
	return capture.cut_top >= 0 && capture.cut_left >= 0 &&
	       capture.cut_right >= 0 && capture.cut_bot >= 0 &&
	       r.width > 0.0 && r.height > 0.0;
}

bool select_motion(xcb_connection_t *c, xcb_window_t root, bool buttons)
{
	const xcb_query_extension_reply_t *ext =
		xcb_get_extension_data(c, &xcb_input_id);
	if (!ext || !ext->present)
		return false;
	auto v = ask(c, xcb_input_xi_query_version_reply,
		     xcb_input_xi_query_version(c, 2, 0));
	if (!v || v->major_version < 2)
		return false;
	struct {
		xcb_input_event_mask_t head;
		uint32_t mask;
	} mask = {
		{XCB_INPUT_DEVICE_ALL_MASTER, 1},
		uint32_t(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION) |
			(buttons ? uint32_t(
					   XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS)
				 : 0u)};
	xcb_generic_error_t *e = xcb_request_check(
		c, xcb_input_xi_select_events_checked(c, root, 1, &mask.head));
	free(e);
	return e == nullptr;
}

void look_up_areas(const Link &link, std::vector<AreaJob> &jobs)
{
	if (jobs.empty())
		return;
	xcb_connection_t *c = link.c;
	/* the screen's size now: it grows when a monitor is added */
	CaptureRect whole = {0, 0, double(link.screen->width_in_pixels),
			     double(link.screen->height_in_pixels)};
	if (auto g = ask(c, xcb_get_geometry_reply,
			 xcb_get_geometry(c, link.root)))
		whole = {0, 0, double(g->width), double(g->height)};
	for (AreaJob &job : jobs) {
		const CaptureSettings &capture = job.capture;
		CaptureRect r;
		if (capture.kind == CaptureSettings::Kind::Screen) {
			job.found = screen_capture_area(c, link.root,
							link.monitors, capture,
							r) &&
				    on_screen(r, whole);
		} else if (capture.kind == CaptureSettings::Kind::Window) {
			WindowArea a = window_capture_area(
				c, link.root, job.window, capture, r);
			const uint32_t found =
				a == WindowArea::Gone
					? find_window(c, link.root, capture)
					: job.window;
			if (found != job.window) {
				/* not found yet, or gone: another window (a
				 * program that restarts has a new one) */
				job.window = found;
				a = window_capture_area(c, link.root,
							job.window, capture, r);
			}
			job.gone = a == WindowArea::Gone;
			job.found = !job.gone && window_usable(capture, r);
		}
		job.area = job.found ? r : whole;
	}
}

bool open_link(Link &link)
{
	int number = 0;
	link = Link{};
	link.c = xcb_connect(nullptr, &number);
	if (!xcb_connection_has_error(link.c)) {
		auto it = xcb_setup_roots_iterator(xcb_get_setup(link.c));
		for (; it.rem && number > 0; number--)
			xcb_screen_next(&it);
		if (it.rem) {
			link.screen = it.data;
			link.root = it.data->root;
			link.monitors = randr_has_monitors(link.c);
			link.events = select_motion(link.c, link.root);
			link.key_watch.start(link.c);
			return true;
		}
	}
	xcb_disconnect(link.c);
	link.c = nullptr;
	return false;
}
