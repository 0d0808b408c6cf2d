/*
 * The mouse pointer on X11, read by a sampler thread of its own.
 *
 * Threads: the sampler thread ("tavimore-ptr") owns the module's own xcb
 * connection, opened when it starts and closed when it ends. It sleeps until
 * the pointer moves (XInput 2 raw motion; without XInput 2 it polls), then
 * queries it at most about 120 times a second; it looks up the capture areas
 * four times a second and writes each client's latest fractions. Clients are made and dropped on
 * libobs's graphics, UI or destroy threads; `set_capture` and `latest` run on
 * the graphics thread. The client list, the thread's state and each client's
 * capture settings are shared under `Sampler::lock`, held only to copy a few
 * values and never across an X call; each client's latest fractions under a
 * sequence lock that the frame reads without waiting.
 *
 * Nobody ever waits for the sampler thread. An X server may accept a
 * connection and then never answer (stopped, hung, a stalled forwarded
 * display), and the thread would wait with it; so the last client gone only
 * asks it to end, and it ends by itself once it is back from the server. A
 * client that comes meanwhile takes it on again. The sampler's state is made
 * once and never freed, so the thread may outlive the module's unload and
 * the process's exit handlers, and leaving the process never waits either.
 *
 * xcb rather than Xlib: a dead or refusing server only yields errors on our
 * own connection, and no process-wide error handler is touched (OBS itself
 * uses Xlib). After an error the connection is dropped and tried again once a
 * second; meanwhile every client keeps its last position.
 */
#include "tracking/pointer-source.hpp"
#include "tracking/pointer-sample.hpp"
#include "core/zoom-core.hpp"
#include "core/plugin-support.hpp"

#include <obs-module.h>
#include <obs-nix-platform.h>

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xcb/xinerama.h>
#include <xcb/xinput.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto SAMPLE_PERIOD = std::chrono::microseconds(8333); /* 120 Hz */
constexpr auto AREA_PERIOD = std::chrono::milliseconds(250);
constexpr auto RECONNECT_PERIOD = std::chrono::seconds(1);

class X11Client;

/* The module's own connection, owned by the sampler thread. */
struct Link {
	xcb_connection_t *c = nullptr;
	const xcb_screen_t *screen = nullptr;
	xcb_window_t root = 0;
	bool monitors = false; /* randr 1.5 lists monitors */
	bool pending = false;  /* a pointer query awaits its reply */
	bool events = false;   /* XInput 2 reports motion: no polling */
	bool moved = false;    /* motion reported since the last query */
	xcb_query_pointer_cookie_t cookie = {0};
};

/* Replies of xcb, freed on every path. */
template<typename T> struct Reply {
	T *p = nullptr;
	~Reply() { free(p); }
	T *operator->() const { return p; }
	explicit operator bool() const { return p != nullptr; }
};

/* Takes a reply, dropping any error that came instead of it. */
template<typename T> static T *take(T *reply, xcb_generic_error_t *error)
{
	free(error);
	if (error) {
		free(reply);
		return nullptr;
	}
	return reply;
}

/* A capture area to look up, for one client. */
struct Job {
	X11Client *client;
	CaptureSettings capture;
	uint32_t window;
	bool found;
	bool gone;
	CaptureRect area;
};

class Sampler {
public:
	void add(X11Client *client);
	void remove(X11Client *client);
	void stop();
	void wake();

	/* guards the fields below and every client's shared fields */
	std::mutex lock;

private:
	void run();
	bool sample(Link &link, bool refresh_areas, bool query);
	void wait(Link &link, Clock::time_point until);
	bool stop_locked();

	bool running = false;  /* a sampler thread exists */
	bool stopping = false; /* it is asked to end */
	std::vector<X11Client *> clients;
	/* an eventfd: stop, or capture settings changed; made before the
	 * first thread starts, never closed */
	int wake_fd = -1;
	/* the thread's own, kept from round to round: one thread at a time
	 * uses it (a new one starts only once the last has left its loop).
	 * Not a thread_local: the module's thread_locals are dynamic TLS,
	 * which an ending thread frees while the host may be looking at
	 * every thread (LeakSanitizer's checks crashed on it) */
	std::vector<Job> jobs;
};

/* Made once and never destroyed: see the top of this file. */
Sampler &sampler()
{
	static Sampler *const instance = new Sampler;
	return *instance;
}

class X11Client final : public PointerClient {
public:
	X11Client() = default;
	~X11Client() override { sampler().remove(this); }

	void set_capture(const CaptureSettings &next) override
	{
		std::lock_guard<std::mutex> guard(sampler().lock);
		if (next == capture)
			return;
		capture = next;
		capture_changed = true;
		window_seen = false;
		window = 0;
		sampler().wake();
	}

	/* the frame's read never waits (pointer-sample.hpp) */
	bool latest(double &x, double &y) override { return sample.read(x, y); }

	/* sampler thread only */
	void publish(double x, double y) { sample.publish(x, y); }

	/* under Sampler::lock */
	CaptureSettings capture;
	bool capture_changed = true;
	bool window_seen = false;
	uint32_t window = 0; /* the window found for a window capture */
	bool area_known = false;
	CaptureRect area = {0, 0, 0, 0};

	/* the latest position: written by the sampler, read by the frame */
	PointerSample sample;
};

/* ---- the capture areas, found as OBS's captures find theirs ---- */

bool randr_has_monitors(xcb_connection_t *c)
{
	xcb_generic_error_t *e = nullptr;
	Reply<xcb_randr_query_version_reply_t> v;
	v.p = take(xcb_randr_query_version_reply(
			   c, xcb_randr_query_version(c, 1, 5), &e),
		   e);
	return v && (v->major_version > 1 || v->minor_version >= 5);
}

bool randr_geometry(xcb_connection_t *c, xcb_window_t root, bool monitors,
		    int64_t screen, CaptureRect &r)
{
	xcb_generic_error_t *e = nullptr;
	if (monitors) {
		Reply<xcb_randr_get_monitors_reply_t> m;
		m.p = take(xcb_randr_get_monitors_reply(
				   c, xcb_randr_get_monitors(c, root, 1), &e),
			   e);
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
	Reply<xcb_randr_get_screen_resources_reply_t> res;
	res.p = take(xcb_randr_get_screen_resources_reply(
			     c, xcb_randr_get_screen_resources(c, root), &e),
		     e);
	if (!res || screen < 0 ||
	    screen >= xcb_randr_get_screen_resources_crtcs_length(res.p))
		return false;
	const xcb_randr_crtc_t crtc =
		xcb_randr_get_screen_resources_crtcs(res.p)[screen];
	Reply<xcb_randr_get_crtc_info_reply_t> info;
	info.p = take(xcb_randr_get_crtc_info_reply(
			      c, xcb_randr_get_crtc_info(c, crtc, 0), &e),
		      e);
	if (!info)
		return false;
	r = {double(info->x), double(info->y), double(info->width),
	     double(info->height)};
	return true;
}

bool xinerama_geometry(xcb_connection_t *c, int64_t screen, CaptureRect &r)
{
	xcb_generic_error_t *e = nullptr;
	Reply<xcb_xinerama_query_screens_reply_t> q;
	q.p = take(xcb_xinerama_query_screens_reply(
			   c, xcb_xinerama_query_screens(c), &e),
		   e);
	if (!q || screen < 0 ||
	    screen >= xcb_xinerama_query_screens_screen_info_length(q.p))
		return false;
	const xcb_xinerama_screen_info_t &s =
		xcb_xinerama_query_screens_screen_info(q.p)[screen];
	r = {double(s.x_org), double(s.y_org), double(s.width),
	     double(s.height)};
	return true;
}

bool xinerama_active(xcb_connection_t *c)
{
	const xcb_query_extension_reply_t *ext =
		xcb_get_extension_data(c, &xcb_xinerama_id);
	if (!ext || !ext->present)
		return false;
	xcb_generic_error_t *e = nullptr;
	Reply<xcb_xinerama_is_active_reply_t> a;
	a.p = take(xcb_xinerama_is_active_reply(c, xcb_xinerama_is_active(c),
						&e),
		   e);
	return a && a->state != 0;
}

bool x11_screen_geometry(xcb_connection_t *c, int64_t screen, CaptureRect &r)
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
bool screen_capture_area(xcb_connection_t *c, xcb_window_t root, bool monitors,
			 const CaptureSettings &capture, CaptureRect &r)
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
bool on_screen(const CaptureRect &r, const CaptureRect &screen)
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

WindowAtoms window_atoms(xcb_connection_t *c)
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
		xcb_generic_error_t *e = nullptr;
		Reply<xcb_intern_atom_reply_t> a;
		a.p = take(xcb_intern_atom_reply(c, cookies[i], &e), e);
		atoms[i] = a ? a->atom : xcb_atom_t(XCB_ATOM_NONE);
	}
	return {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4]};
}

/* Asks for a property as OBS reads it: of any type, up to 16 KiB. */
xcb_get_property_cookie_t ask_property(xcb_connection_t *c, xcb_window_t w,
				       xcb_atom_t atom)
{
	return xcb_get_property(c, 0, w, atom, XCB_GET_PROPERTY_TYPE_ANY, 0,
				4096);
}

/* The property asked for; null when the window has none, or an empty one. */
xcb_get_property_reply_t *property(xcb_connection_t *c,
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
std::string text_of(const xcb_get_property_reply_t *r)
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
bool window_title(const WindowAtoms &atoms, const xcb_get_property_reply_t *net,
		  const xcb_get_property_reply_t *name, std::string &title)
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
std::vector<xcb_window_t> client_windows(xcb_connection_t *c, xcb_window_t root,
					 const WindowAtoms &atoms)
{
	std::vector<xcb_window_t> windows;
	if (atoms.client_list == XCB_ATOM_NONE)
		return windows;
	Reply<xcb_get_property_reply_t> list;
	list.p = property(c, ask_property(c, root, atoms.client_list));
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
xcb_window_t find_window(xcb_connection_t *c, xcb_window_t root,
			 const CaptureSettings &capture)
{
	if (capture.window_match == CaptureSettings::BY_ID)
		return capture.window;
	const WindowAtoms atoms = window_atoms(c);
	const std::vector<xcb_window_t> clients =
		client_windows(c, root, atoms);
	if (capture.window_match == CaptureSettings::FIRST_CLIENT)
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
		Reply<xcb_get_property_reply_t> net;
		if (net_names)
			net.p = property(c, asked[i].net_name);
		Reply<xcb_get_property_reply_t> name;
		name.p = property(c, asked[i].name);
		Reply<xcb_get_property_reply_t> cls;
		cls.p = property(c, asked[i].cls);
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

enum class WindowArea { FOUND, GONE };

/* The window capture's area: the window on the root window, less its cut
 * margins (the capture starts at the outer corner of the border). */
WindowArea window_capture_area(xcb_connection_t *c, xcb_window_t root,
			       xcb_window_t window,
			       const CaptureSettings &capture, CaptureRect &r)
{
	if (!window)
		return WindowArea::GONE;
	xcb_generic_error_t *e = nullptr;
	Reply<xcb_get_geometry_reply_t> g;
	g.p = take(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), &e),
		   e);
	if (!g)
		return WindowArea::GONE;
	Reply<xcb_translate_coordinates_reply_t> t;
	t.p = take(xcb_translate_coordinates_reply(
			   c, xcb_translate_coordinates(c, window, root, 0, 0),
			   &e),
		   e);
	if (!t)
		return WindowArea::GONE;
	const double border = g->border_width;
	const double counted = capture.include_border ? border : 0.0;
	r = cut_capture_rect(double(t->dst_x) - border,
			     double(t->dst_y) - border,
			     double(g->width) - 2.0 * counted,
			     double(g->height) - 2.0 * counted,
			     double(capture.cut_top), double(capture.cut_left),
			     double(capture.cut_right),
			     double(capture.cut_bot));
	return WindowArea::FOUND;
}

bool window_usable(const CaptureSettings &capture, const CaptureRect &r)
{
	return capture.cut_top >= 0 && capture.cut_left >= 0 &&
	       capture.cut_right >= 0 && capture.cut_bot >= 0 &&
	       r.width > 0.0 && r.height > 0.0;
}

/* ---- the sampler ---- */

void Sampler::add(X11Client *client)
{
	bool started = false;
	{
		std::lock_guard<std::mutex> guard(lock);
		clients.push_back(client);
		if (!running) {
			if (wake_fd < 0)
				wake_fd =
					eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
			std::thread thread([this] { run(); });
			/* named here, so that it carries its name from the
			 * start */
			pthread_setname_np(thread.native_handle(),
					   "tavimore-ptr");
			thread.detach();
			running = true;
			started = true;
		} else {
			/* a thread asked to end, and still busy with the
			 * server, carries on; either way the new client's
			 * area is looked up at once */
			started = stopping;
			stopping = false;
			wake();
		}
	}
	if (started)
		log_message(LOG_INFO, "pointer sampler started");
}

/* Asks the thread to end; true when it was running. */
bool Sampler::stop_locked()
{
	if (!running || stopping)
		return false;
	stopping = true;
	wake();
	return true;
}

void Sampler::remove(X11Client *client)
{
	bool stopped = false;
	{
		std::lock_guard<std::mutex> guard(lock);
		clients.erase(std::remove(clients.begin(), clients.end(),
					  client),
			      clients.end());
		if (clients.empty())
			stopped = stop_locked();
	}
	if (stopped)
		log_message(LOG_INFO, "pointer sampler stopped");
}

void Sampler::stop()
{
	std::lock_guard<std::mutex> guard(lock);
	stop_locked();
}

/* One round: the areas when due, and the pointer. A pointer query is sent in
 * one round and its reply taken in the next, a sampling period later, so
 * that a round wakes the thread only once. False when the connection has
 * failed. */
bool Sampler::sample(Link &link, bool refresh_areas, bool query)
{
	/* the areas to look up, copied so that no X request runs under the
	 * lock (this thread only: it may allocate) */
	jobs.clear();
	{
		std::lock_guard<std::mutex> guard(lock);
		for (X11Client *client : clients) {
			if (refresh_areas || client->capture_changed) {
				jobs.push_back({client,
						client->capture,
						client->window,
						false,
						false,
						{0, 0, 0, 0}});
				client->capture_changed = false;
			}
		}
	}

	/* a new area needs a pointer position to go with it */
	query = query || !jobs.empty();
	xcb_connection_t *c = link.c;
	CaptureRect whole = {0, 0, double(link.screen->width_in_pixels),
			     double(link.screen->height_in_pixels)};
	if (!jobs.empty()) {
		/* the screen's size now: it grows when a monitor is added */
		xcb_generic_error_t *e = nullptr;
		Reply<xcb_get_geometry_reply_t> g;
		g.p = take(xcb_get_geometry_reply(
				   c, xcb_get_geometry(c, link.root), &e),
			   e);
		if (g)
			whole = {0, 0, double(g->width), double(g->height)};
	}
	for (Job &job : jobs) {
		const CaptureSettings &capture = job.capture;
		CaptureRect r;
		if (capture.kind == CaptureSettings::SCREEN) {
			job.found = screen_capture_area(c, link.root,
							link.monitors, capture,
							r) &&
				    on_screen(r, whole);
		} else if (capture.kind == CaptureSettings::WINDOW) {
			WindowArea a = window_capture_area(
				c, link.root, job.window, capture, r);
			const uint32_t found =
				a == WindowArea::GONE
					? find_window(c, link.root, capture)
					: job.window;
			if (found != job.window) {
				/* not found yet, or gone: another window (a
				 * program that restarts has a new one) */
				job.window = found;
				a = window_capture_area(c, link.root,
							job.window, capture, r);
			}
			job.gone = a == WindowArea::GONE;
			job.found = !job.gone && window_usable(capture, r);
		}
		job.area = job.found ? r : whole;
	}

	Reply<xcb_query_pointer_reply_t> p;
	if (link.pending) {
		/* the reply came in long ago: taken without a blocking wait,
		 * which would poll the socket before reading it */
		void *reply = nullptr;
		xcb_generic_error_t *e = nullptr;
		if (xcb_poll_for_reply(c, link.cookie.sequence, &reply, &e)) {
			p.p = take(
				static_cast<xcb_query_pointer_reply_t *>(reply),
				e);
			link.pending = false;
		}
	}
	/* motion that came in with the reply; without a query in flight,
	 * whatever the socket holds */
	while (xcb_generic_event_t *ev = p ? xcb_poll_for_queued_event(c)
					   : xcb_poll_for_event(c)) {
		link.moved = true;
		free(ev);
	}
	/* any motion since the last query asks for another; without
	 * XInput 2, every round does */
	query = query || link.moved || !link.events;
	link.moved = false;
	/* a server slow to answer gets one query at a time */
	if (query && !link.pending) {
		link.cookie = xcb_query_pointer(c, link.root);
		link.pending = true;
		xcb_flush(c);
	}
	if (xcb_connection_has_error(c))
		return false;

	std::lock_guard<std::mutex> guard(lock);
	for (const Job &job : jobs) {
		/* the client may have gone, or changed its capture meanwhile */
		auto it = std::find(clients.begin(), clients.end(), job.client);
		if (it == clients.end() || job.client->capture_changed)
			continue;
		X11Client *client = job.client;
		client->window = job.window;
		if (job.gone && client->window_seen) {
			/* a window that has gone holds the last position */
			client->area_known = false;
			continue;
		}
		client->window_seen =
			client->window_seen ||
			(job.found &&
			 job.capture.kind == CaptureSettings::WINDOW);
		client->area = job.area;
		client->area_known = true;
	}
	if (p && p->same_screen) {
		for (X11Client *client : clients) {
			double x;
			double y;
			if (client->area_known &&
			    pointer_in_rect(client->area, p->root_x, p->root_y,
					    x, y))
				client->publish(x, y);
		}
	}
	return true;
}

/* Asks for XInput 2's raw motion events of every pointer on the root
 * window, so that a still pointer costs nothing; false when the server has no
 * XInput 2 (the sampler then polls). */
bool select_motion(xcb_connection_t *c, xcb_window_t root)
{
	const xcb_query_extension_reply_t *ext =
		xcb_get_extension_data(c, &xcb_input_id);
	if (!ext || !ext->present)
		return false;
	xcb_generic_error_t *e = nullptr;
	Reply<xcb_input_xi_query_version_reply_t> v;
	v.p = take(xcb_input_xi_query_version_reply(
			   c, xcb_input_xi_query_version(c, 2, 0), &e),
		   e);
	if (!v || v->major_version < 2)
		return false;
	struct {
		xcb_input_event_mask_t head;
		uint32_t mask;
	} mask = {{XCB_INPUT_DEVICE_ALL_MASTER, 1},
		  XCB_INPUT_XI_EVENT_MASK_RAW_MOTION};
	e = xcb_request_check(
		c, xcb_input_xi_select_events_checked(c, root, 1, &mask.head));
	free(e);
	return e == nullptr;
}

/* Opens the module's own connection; false when there is no X display. */
bool connect(Link &link)
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
			return true;
		}
	}
	xcb_disconnect(link.c);
	link.c = nullptr;
	return false;
}

void Sampler::wake()
{
	const uint64_t one = 1;
	if (wake_fd >= 0)
		(void)!write(wake_fd, &one, sizeof one);
}

/* Sleeps until `until`; with no query in flight, also until a wake-up or
 * (with XInput 2) the X server's next event. */
void Sampler::wait(Link &link, Clock::time_point until)
{
	if (link.c && link.pending) {
		/* a plain sleep: a stop or new capture settings wait at most
		 * this one period */
		std::this_thread::sleep_until(until);
		return;
	}
	pollfd fds[2] = {{wake_fd, POLLIN, 0}, {-1, POLLIN, 0}};
	if (link.c && link.events) {
		/* events read along with the last replies wait in xcb's
		 * queue, where poll cannot see them */
		while (xcb_generic_event_t *ev =
			       xcb_poll_for_queued_event(link.c)) {
			link.moved = true;
			free(ev);
		}
		if (link.moved)
			return;
		fds[1].fd = xcb_get_file_descriptor(link.c);
	}
	const auto left = std::max(until - Clock::now(), Clock::duration(0));
	const auto ns =
		std::chrono::duration_cast<std::chrono::nanoseconds>(left);
	timespec ts;
	ts.tv_sec = static_cast<time_t>(ns.count() / 1000000000);
	ts.tv_nsec = static_cast<long>(ns.count() % 1000000000);
	if (ppoll(fds, 2, &ts, nullptr) > 0 && (fds[0].revents & POLLIN)) {
		uint64_t count;
		(void)!read(wake_fd, &count, sizeof count);
	}
}

void Sampler::run()
{
	Link link;
	auto next_area = Clock::now();
	bool reported = false;

	for (;;) {
		{
			std::lock_guard<std::mutex> guard(lock);
			if (stopping) {
				/* from here on, a new client starts a new
				 * thread */
				running = false;
				stopping = false;
				break;
			}
		}
		if (!link.c && connect(link)) {
			next_area = Clock::now();
			reported = false;
		}
		const auto now = Clock::now();
		if (link.c) {
			const bool areas = now >= next_area;
			if (areas)
				next_area = now + AREA_PERIOD;
			if (!sample(link, areas, areas)) {
				/* the server went away: keep the last
				 * positions, and try again later */
				xcb_disconnect(link.c);
				link.c = nullptr;
			}
		}
		if (!link.c && !reported) {
			log_message(LOG_WARNING,
				    "pointer tracking: no X display; "
				    "views keep their last centre");
			reported = true;
		}
		/* a query in flight is read a period later; otherwise the
		 * thread sleeps until motion, new capture settings or the next areas */
		wait(link, !link.c        ? now + RECONNECT_PERIOD
			   : link.pending ? now + SAMPLE_PERIOD
					  : next_area);
	}
	if (link.c)
		xcb_disconnect(link.c);
}

} // namespace

std::unique_ptr<PointerClient> open_pointer_client()
{
	/* only X11 is read here; elsewhere a tracking view keeps its centre */
	const int platform = static_cast<int>(obs_get_nix_platform());
	if (platform > static_cast<int>(OBS_NIX_PLATFORM_X11_EGL))
		return nullptr;
	const char *display = std::getenv("DISPLAY");
	if (!display || !*display)
		return nullptr;
	auto client = std::make_unique<X11Client>();
	sampler().add(client.get());
	return client;
}

void stop_pointer_sampler()
{
	sampler().stop();
}
