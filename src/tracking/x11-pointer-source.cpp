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
#include "tracking/x11-capture-areas.hpp"
#include "tracking/x11-activity.hpp"
#include "core/zoom-core.hpp"
#include "core/plugin-support.hpp"

#include <obs-module.h>
#include <obs-nix-platform.h>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto SAMPLE_PERIOD = std::chrono::microseconds(8333); /* 120 Hz */
constexpr auto AREA_PERIOD = std::chrono::milliseconds(250);
constexpr auto RECONNECT_PERIOD = std::chrono::seconds(1);

class X11Client;

/* Notes what the server's events say: those xcb has queued, and with
 * `read` whatever the socket holds too. */
void note_events(Link &link, bool read)
{
	while (xcb_generic_event_t *ev =
		       read ? xcb_poll_for_event(link.c)
			    : xcb_poll_for_queued_event(link.c)) {
		const RawInput input = classify_event(ev);
		link.moved = link.moved || input == RawInput::Motion;
		link.clicked = link.clicked || input == RawInput::Button;
		if (input != RawInput::Motion)
			link.key_watch.note_pointer(Clock::now());
		free(ev);
	}
}

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
	std::vector<AreaJob> jobs;
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

	void watch_input(AutoZoom mode) override
	{
		std::lock_guard<std::mutex> guard(sampler().lock);
		if (mode == watching)
			return;
		watching = mode;
		sampler().wake();
	}

	InputActivity activity() override
	{
		InputActivity a;
		a.clicks = clicks.load(std::memory_order_acquire);
		a.keys = keys.load(std::memory_order_acquire);
		if (!click.read(a.click_x, a.click_y))
			a.clicks = 0;
		return a;
	}

	/* sampler thread only */
	void publish_click(double x, double y)
	{
		click.publish(x, y);
		clicks.fetch_add(1, std::memory_order_release);
	}
	void publish_key() { keys.fetch_add(1, std::memory_order_release); }

	/* the latest position: written by the sampler, read by the frame */
	PointerSample sample;
	/* under Sampler::lock: the input the automatic zoom watches */
	AutoZoom watching = AutoZoom::Off;

private:
	/* written by the sampler, read by the frame */
	PointerSample click;
	std::atomic<uint32_t> clicks{0};
	std::atomic<uint32_t> keys{0};
};

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
	bool clicks_watched = false;
	{
		std::lock_guard<std::mutex> guard(lock);
		link.keys = false;
		for (X11Client *client : clients) {
			clicks_watched = clicks_watched ||
					 client->watching != AutoZoom::Off;
			link.keys = link.keys ||
				    client->watching ==
					    AutoZoom::ClicksAndTyping;
			if (refresh_areas || client->capture_changed) {
				jobs.push_back({client, client->capture,
						client->window});
				client->capture_changed = false;
			}
		}
	}

	/* a new area needs a pointer position to go with it */
	query = query || !jobs.empty();
	xcb_connection_t *c = link.c;
	if (link.events && link.buttons != clicks_watched) {
		/* button presses wake the thread only while clicks matter */
		link.buttons = clicks_watched;
		select_motion(c, link.root, clicks_watched);
	}
	look_up_areas(link, jobs);

	Reply<xcb_query_pointer_reply_t> p;
	bool click = false;
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
			click = link.click_query;
			link.click_query = false;
		}
	}
	if (p) {
		/* without XInput 2, a button newly down is the click */
		const uint16_t down = p->mask & CLICK_BUTTONS;
		if (!link.events && (down & ~link.mask))
			click = true;
		link.mask = down;
		if (p->root_x != link.last_x || p->root_y != link.last_y ||
		    down)
			link.key_watch.note_pointer(Clock::now());
		link.last_x = p->root_x;
		link.last_y = p->root_y;
	}
	/* motion that came in with the reply; without a query in flight,
	 * whatever the socket holds */
	note_events(link, !p);
	/* any motion since the last query asks for another, and so does a
	 * click, for its position; without XInput 2, every round does */
	query = query || link.moved || link.clicked || !link.events;
	link.moved = false;
	/* a server slow to answer gets one query at a time */
	if (query && !link.pending) {
		link.cookie = xcb_query_pointer(c, link.root);
		link.pending = true;
		link.click_query = link.clicked;
		link.clicked = false;
		xcb_flush(c);
	}
	const auto now = Clock::now();
	const bool typed = link.keys && now >= link.key_watch.due() &&
			   link.key_watch.look(c, link.root, now);
	if (xcb_connection_has_error(c))
		return false;

	std::lock_guard<std::mutex> guard(lock);
	for (const AreaJob &job : jobs) {
		/* the client may have gone, or changed its capture meanwhile */
		auto it = std::find(clients.begin(), clients.end(), job.client);
		if (it == clients.end() || (*it)->capture_changed)
			continue;
		X11Client *client = *it;
		client->window = job.window;
		if (job.gone && client->window_seen) {
			/* a window that has gone holds the last position */
			client->area_known = false;
			continue;
		}
		client->window_seen =
			client->window_seen ||
			(job.found &&
			 job.capture.kind == CaptureSettings::Kind::Window);
		client->area = job.area;
		client->area_known = true;
	}
	if (p && p->same_screen) {
		for (X11Client *client : clients) {
			double x;
			double y;
			if (!client->area_known ||
			    !pointer_in_rect(client->area, p->root_x, p->root_y,
					     x, y))
				continue;
			client->publish(x, y);
			/* a click beside the shown area is not the filter's */
			if (click && client->watching != AutoZoom::Off &&
			    rect_contains(client->area, p->root_x, p->root_y))
				client->publish_click(x, y);
		}
	}
	if (typed) {
		for (X11Client *client : clients)
			if (client->watching == AutoZoom::ClicksAndTyping)
				client->publish_key();
	}
	return true;
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
		note_events(link, false);
		if (link.moved || link.clicked)
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
		if (!link.c && open_link(link)) {
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
			   : link.keys
				   ? std::min(next_area, link.key_watch.due())
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
