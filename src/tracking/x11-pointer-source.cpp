/*
 * The mouse pointer on X11, read by a sampler thread of its own.
 *
 * Threads: the sampler thread ("tavimore-ptr") owns the module's own xcb
 * connection, opened when it starts and closed when it stops. It queries the
 * pointer about 120 times a second and the capture areas ten times a second,
 * and writes each client's latest fractions. Clients are made and dropped on
 * libobs's graphics, UI or destroy threads; `set_capture` and `latest` run on
 * the graphics thread. The client list, each client's capture spec and its
 * latest fractions are shared under `Sampler::lock`, held only to copy a few
 * values. Starting and stopping the thread is serialised by
 * `Sampler::life`, which the sampler thread itself never takes.
 *
 * xcb rather than Xlib: a dead or refusing server only yields errors on our
 * own connection, and no process-wide error handler is touched (OBS itself
 * uses Xlib). After an error the connection is dropped and tried again once a
 * second; meanwhile every client keeps its last position.
 */
#include "pointer-source.hpp"
#include "zoom-core.hpp"
#include "../module/plugin-support.hpp"

#include <obs-module.h>
#include <obs-nix-platform.h>

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xinerama.h>

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto SAMPLE_PERIOD = std::chrono::microseconds(8333); /* 120 Hz */
constexpr auto AREA_PERIOD = std::chrono::milliseconds(100);
constexpr auto RECONNECT_PERIOD = std::chrono::seconds(1);

class X11Client;

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

class Sampler {
public:
	void add(X11Client *client);
	void remove(X11Client *client);
	void stop();

	/* guards clients and every client's shared fields */
	std::mutex lock;

private:
	void run();
	bool sample(xcb_connection_t *c, xcb_window_t root, bool refresh_areas);

	std::mutex life;
	std::thread thread;
	std::condition_variable wake;
	bool stopping = false; /* under lock */
	std::vector<X11Client *> clients;
};

Sampler &sampler()
{
	static Sampler instance;
	return instance;
}

class X11Client final : public PointerClient {
public:
	X11Client() = default;
	~X11Client() override { sampler().remove(this); }

	void set_capture(const CaptureSpec &next) override
	{
		std::lock_guard<std::mutex> guard(sampler().lock);
		if (next == spec)
			return;
		spec = next;
		spec_changed = true;
		window_seen = false;
	}

	bool latest(double &x, double &y) override
	{
		std::lock_guard<std::mutex> guard(sampler().lock);
		if (!known)
			return false;
		x = fx;
		y = fy;
		return true;
	}

	/* under Sampler::lock */
	CaptureSpec spec;
	bool spec_changed = true;
	bool window_seen = false;
	bool area_known = false;
	CaptureRect area = {0, 0, 0, 0};
	bool known = false;
	double fx = 0.5;
	double fy = 0.5;
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

bool randr_geometry(xcb_connection_t *c, xcb_window_t root, int64_t screen,
		    CaptureRect &r)
{
	xcb_generic_error_t *e = nullptr;
	if (randr_has_monitors(c)) {
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
bool screen_capture_area(xcb_connection_t *c, xcb_window_t root,
			 const CaptureSpec &spec, CaptureRect &r)
{
	const xcb_query_extension_reply_t *randr =
		xcb_get_extension_data(c, &xcb_randr_id);
	CaptureRect s;
	bool found;
	if (randr && randr->present)
		found = randr_geometry(c, root, spec.screen, s);
	else if (xinerama_active(c))
		found = xinerama_geometry(c, spec.screen, s);
	else
		found = x11_screen_geometry(c, spec.screen, s);
	if (!found || !(s.width > 0 && s.height > 0))
		return false;
	r = cut_capture_rect(s.x, s.y, s.width, s.height, double(spec.cut_top),
			     double(spec.cut_left), double(spec.cut_right),
			     double(spec.cut_bot));
	return true;
}

enum class WindowArea { FOUND, GONE };

/* The window capture's area: the window on the root window, less its cut
 * margins (the capture starts at the outer corner of the border). */
WindowArea window_capture_area(xcb_connection_t *c, xcb_window_t root,
			       const CaptureSpec &spec, CaptureRect &r)
{
	xcb_generic_error_t *e = nullptr;
	Reply<xcb_get_geometry_reply_t> g;
	g.p = take(xcb_get_geometry_reply(c, xcb_get_geometry(c, spec.window),
					  &e),
		   e);
	if (!g)
		return WindowArea::GONE;
	Reply<xcb_translate_coordinates_reply_t> t;
	t.p = take(
		xcb_translate_coordinates_reply(
			c,
			xcb_translate_coordinates(c, spec.window, root, 0, 0),
			&e),
		e);
	if (!t)
		return WindowArea::GONE;
	const double border = g->border_width;
	const double counted = spec.include_border ? border : 0.0;
	r = cut_capture_rect(double(t->dst_x) - border,
			     double(t->dst_y) - border,
			     double(g->width) - 2.0 * counted,
			     double(g->height) - 2.0 * counted,
			     double(spec.cut_top), double(spec.cut_left),
			     double(spec.cut_right), double(spec.cut_bot));
	return WindowArea::FOUND;
}

bool usable(const CaptureSpec &spec, const CaptureRect &r)
{
	return spec.cut_top >= 0 && spec.cut_left >= 0 && spec.cut_right >= 0 &&
	       spec.cut_bot >= 0 && r.width > 0.0 && r.height > 0.0;
}

/* ---- the sampler ---- */

void Sampler::add(X11Client *client)
{
	std::lock_guard<std::mutex> starting(life);
	{
		std::lock_guard<std::mutex> guard(lock);
		clients.push_back(client);
		stopping = false;
	}
	if (!thread.joinable()) {
		thread = std::thread([this] { run(); });
		/* named here, so that it carries its name from the start */
		pthread_setname_np(thread.native_handle(), "tavimore-ptr");
		log_message(LOG_INFO, "pointer sampler started");
	}
}

void Sampler::remove(X11Client *client)
{
	std::lock_guard<std::mutex> stopping_guard(life);
	bool last;
	{
		std::lock_guard<std::mutex> guard(lock);
		clients.erase(std::remove(clients.begin(), clients.end(),
					  client),
			      clients.end());
		last = clients.empty();
		if (last)
			stopping = true;
	}
	if (last && thread.joinable()) {
		wake.notify_all();
		thread.join();
		log_message(LOG_INFO, "pointer sampler stopped");
	}
}

void Sampler::stop()
{
	std::lock_guard<std::mutex> stopping_guard(life);
	{
		std::lock_guard<std::mutex> guard(lock);
		stopping = true;
	}
	if (thread.joinable()) {
		wake.notify_all();
		thread.join();
	}
}

/* One round: the pointer, and the areas when due. False when the
 * connection has failed. */
bool Sampler::sample(xcb_connection_t *c, xcb_window_t root, bool refresh_areas)
{
	/* the specs to look up, copied so that no X request runs under the
	 * lock (this thread only: it may allocate) */
	struct Job {
		X11Client *client;
		CaptureSpec spec;
		bool found;
		bool gone;
		CaptureRect area;
	};
	static thread_local std::vector<Job> jobs;
	jobs.clear();
	{
		std::lock_guard<std::mutex> guard(lock);
		for (X11Client *client : clients) {
			if (refresh_areas || client->spec_changed) {
				jobs.push_back({client,
						client->spec,
						false,
						false,
						{0, 0, 0, 0}});
				client->spec_changed = false;
			}
		}
	}

	const xcb_screen_t *screen =
		xcb_setup_roots_iterator(xcb_get_setup(c)).data;
	const CaptureRect whole = {0, 0, double(screen->width_in_pixels),
				   double(screen->height_in_pixels)};
	for (Job &job : jobs) {
		const CaptureSpec &spec = job.spec;
		CaptureRect r;
		if (spec.kind == CaptureSpec::SCREEN) {
			job.found = screen_capture_area(c, root, spec, r) &&
				    usable(spec, r);
		} else if (spec.kind == CaptureSpec::WINDOW && spec.window) {
			job.gone = window_capture_area(c, root, spec, r) ==
				   WindowArea::GONE;
			job.found = !job.gone && usable(spec, r);
		}
		job.area = job.found ? r : whole;
	}

	xcb_generic_error_t *e = nullptr;
	Reply<xcb_query_pointer_reply_t> p;
	p.p = take(xcb_query_pointer_reply(c, xcb_query_pointer(c, root), &e),
		   e);
	if (xcb_connection_has_error(c))
		return false;

	std::lock_guard<std::mutex> guard(lock);
	for (const Job &job : jobs) {
		/* the client may have gone, or changed its spec meanwhile */
		auto it = std::find(clients.begin(), clients.end(), job.client);
		if (it == clients.end() || job.client->spec_changed)
			continue;
		X11Client *client = job.client;
		if (job.gone && client->window_seen) {
			/* a window that has gone holds the last position */
			client->area_known = false;
			continue;
		}
		client->window_seen =
			client->window_seen ||
			(job.found && job.spec.kind == CaptureSpec::WINDOW);
		client->area = job.area;
		client->area_known = true;
	}
	if (p && p->same_screen) {
		for (X11Client *client : clients) {
			if (client->area_known &&
			    pointer_in_rect(client->area, p->root_x, p->root_y,
					    client->fx, client->fy))
				client->known = true;
		}
	}
	return true;
}

void Sampler::run()
{
	xcb_connection_t *c = nullptr;
	xcb_window_t root = 0;
	auto next_area = Clock::now();
	auto next = Clock::now();
	bool reported = false;

	std::unique_lock<std::mutex> guard(lock);
	while (!stopping) {
		guard.unlock();
		if (!c) {
			int number = 0;
			c = xcb_connect(nullptr, &number);
			const xcb_setup_t *setup = xcb_connection_has_error(c)
							   ? nullptr
							   : xcb_get_setup(c);
			auto it = setup ? xcb_setup_roots_iterator(setup)
					: xcb_screen_iterator_t{};
			for (; setup && it.rem && number > 0; number--)
				xcb_screen_next(&it);
			if (setup && it.rem) {
				root = it.data->root;
				next_area = Clock::now();
				reported = false;
			} else {
				xcb_disconnect(c);
				c = nullptr;
			}
		}
		if (c) {
			const auto now = Clock::now();
			const bool areas = now >= next_area;
			if (areas)
				next_area = now + AREA_PERIOD;
			if (!sample(c, root, areas)) {
				/* the server went away: keep the last
				 * positions, and try again later */
				xcb_disconnect(c);
				c = nullptr;
			}
		}
		if (!c && !reported) {
			log_message(LOG_WARNING,
				    "pointer tracking: no X display; "
				    "views keep their last centre");
			reported = true;
		}
		next = c ? std::max(next + SAMPLE_PERIOD, Clock::now())
			 : Clock::now() + RECONNECT_PERIOD;
		guard.lock();
		wake.wait_until(guard, next, [this] { return stopping; });
	}
	guard.unlock();
	if (c)
		xcb_disconnect(c);
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
