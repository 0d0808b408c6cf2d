/*
 * Centre tracking with the real X pointer, moved by XTest under Xvfb. The
 * filter's parent is a plain source, so the whole X screen maps onto it;
 * libobs runs without video and the tests tick the filter themselves, so
 * every crop window is exactly the one the frame would draw.
 */
#include "obs-harness.hpp"
#include "core/zoom-core.hpp"
#include "tracking/pointer-sample.hpp"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

constexpr float FRAME = 1.0f / 60.0f;

/* Our own connection to an X display, to move its pointer. */
struct Pointer {
	Display *display = nullptr;
	int width = 0;
	int height = 0;

	explicit Pointer(const char *name = nullptr)
		: display(XOpenDisplay(name))
	{
		if (display) {
			width = DisplayWidth(display, DefaultScreen(display));
			height = DisplayHeight(display, DefaultScreen(display));
		}
	}
	~Pointer()
	{
		/* closing a connection whose server has died would end the
		 * process through Xlib's default error handler: it is kept */
		static std::vector<Display *> dead;
		if (display && server_gone)
			dead.push_back(display);
		else if (display)
			XCloseDisplay(display);
	}
	bool server_gone = false;
	void move(int x, int y) const
	{
		XTestFakeMotionEvent(display, -1, x, y, 0);
		XSync(display, False);
	}
	/* the fractions of the screen that the pixel at x, y maps to */
	double fx(int x) const { return (x + 0.5) / width; }
	double fy(int y) const { return (y + 0.5) / height; }
};

/* The sampler threads of this process. */
int sampler_threads()
{
	return threads_named("tavimore-ptr");
}

/* Whether the count of sampler threads comes to `n` within a few seconds (a
 * sampler asked to stop ends on its own, soon after). */
bool sampler_threads_become(int n)
{
	for (int i = 0; i < 300; i++) {
		if (sampler_threads() == n)
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return false;
}

/* An X display that takes connections and never answers, as a stopped or
 * hung server (or a stalled forwarded display) does: a listening socket,
 * in the abstract namespace where xcb looks first, that accepts nobody. A
 * client that connects waits for the server's first reply. */
struct SilentDisplay {
	int listener = -1;
	std::string name;

	SilentDisplay()
	{
		for (int n = 4100 + getpid() % 400; n < 4600 && listener < 0;
		     n++) {
			const std::string path =
				"/tmp/.X11-unix/X" + std::to_string(n);
			sockaddr_un address = {};
			address.sun_family = AF_UNIX;
			std::memcpy(address.sun_path + 1, path.data(),
				    path.size());
			const auto length = static_cast<socklen_t>(
				offsetof(sockaddr_un, sun_path) + 1 +
				path.size());
			const int fd =
				socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
			if (bind(fd, reinterpret_cast<sockaddr *>(&address),
				 length) == 0 &&
			    listen(fd, 16) == 0) {
				listener = fd;
				name = ":" + std::to_string(n);
			} else {
				close(fd);
			}
		}
	}
	~SilentDisplay() { hang_up(); }
	/* Whether a client has connected (and so waits) within the time. */
	bool connected(int ms = 5000) const
	{
		pollfd p = {listener, POLLIN, 0};
		return poll(&p, 1, ms) == 1;
	}
	/* Closes the socket: a client waiting on it sees the server gone. */
	void hang_up()
	{
		if (listener >= 0)
			close(listener);
		listener = -1;
	}
};

/* A zoom filter on a plain public source (stage hotkeys register on it). */
struct Tracked {
	obs_source_t *parent;
	obs_source_t *filter;

	explicit Tracked(const char *json)
		: parent(create_pattern_source("tracked parent"))
	{
		OBSDataAutoRelease settings = obs_data_create_from_json(json);
		/* a plain source follows a face unless told otherwise */
		if (!obs_data_has_user_value(settings, "tracking_subject"))
			obs_data_set_string(settings, "tracking_subject",
					    "pointer");
		filter = create_zoom_filter("tracking zoom", settings);
		obs_source_filter_add(parent, filter);
		tick(filter, FRAME); /* registers the hotkeys */
	}
	~Tracked()
	{
		remove_and_release(parent, filter);
		wait_destroyed();
	}
	ZoomSnapshot operator->() const { return snapshot_of(filter); }

	void press_stage() const
	{
		press_hotkey(find_hotkey(parent, "tavimore.stage_1"));
	}
	/* Waits until the sampler has seen the pointer at these fractions. */
	bool sees(double fx, double fy) const
	{
		const auto end = std::chrono::steady_clock::now() +
				 std::chrono::seconds(3);
		while (std::chrono::steady_clock::now() < end) {
			/* the sampler needs the capture settings from a tick */
			tick(filter, FRAME);
			const ZoomSnapshot f = snapshot_of(filter);
			if (f.pointer_seen && f.pointer_x == fx &&
			    f.pointer_y == fy)
				return true;
			std::this_thread::sleep_for(
				std::chrono::milliseconds(2));
		}
		return false;
	}
	/* The crop window after enough frames for the centre to settle. */
	CropWindow settled(int frames = 120) const
	{
		tick(filter, FRAME, frames);
		return window();
	}
	CropWindow window() const
	{
		return crop_window((*this)->current_zoom,
				   (*this)->current_center_x,
				   (*this)->current_center_y);
	}
};

bool same(const CropWindow &a, const CropWindow &b)
{
	return std::memcmp(&a, &b, sizeof a) == 0;
}

const char *const STAGE_TRACKS = R"({"stage_count": 1,
	"stage_1_zoom_factor": 2.0, "stage_1_center_tracking": true,
	"stage_1_center_x": 0.2, "stage_1_center_y": 0.3,
	"stage_1_duration": 0.05, "idle_zoom_factor": 1.5,
	"idle_center_x": 0.3, "idle_center_y": 0.6, "idle_duration": 0.05,
	"tracking_smoothing": 0.0, "tracking_dead_zone": 0.0})";

} // namespace

TEST(Tracking, TheWindowCentresOnThePointerAndStopsAtTheFramesEdges)
{
	Pointer pointer;
	ASSERT_NE(pointer.display, nullptr);
	const int w = pointer.width;
	const int h = pointer.height;
	Tracked t(STAGE_TRACKS);
	t.press_stage();

	const struct {
		int x, y;
		double want_x,
			want_y; /* negative: the pointer's own fraction */
	} cases[] = {
		{w / 2, h / 2, -1, -1},   {w / 3, 2 * h / 3, -1, -1},
		{0, 0, 0.25, 0.25},       {w - 1, h - 1, 0.75, 0.75},
		{w - 1, h / 3, 0.75, -1}, {w * 2 / 5, 0, -1, 0.25},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
		pointer.move(c.x, c.y);
		ASSERT_TRUE(t.sees(pointer.fx(c.x), pointer.fy(c.y)));
		const CropWindow got = t.settled();
		EXPECT_EQ(got.half_size, 0.25f);
		EXPECT_FLOAT_EQ(got.center_x,
				c.want_x < 0 ? pointer.fx(c.x) : c.want_x);
		EXPECT_FLOAT_EQ(got.center_y,
				c.want_y < 0 ? pointer.fy(c.y) : c.want_y);
	}
}

TEST(Tracking, TheDeadZoneHoldsTheViewAndMovesItOnlyByTheOvershoot)
{
	Pointer pointer;
	ASSERT_NE(pointer.display, nullptr);
	const int w = pointer.width;
	const int h = pointer.height;
	/* box: the dead zone times the window, i.e. zone * 0.5 / zoom of the
	 * frame on each side of the wanted centre */
	const struct {
		double zoom, zone;
		double dx;  /* the move, as a fraction of the frame */
		bool moves; /* whether the view follows */
	} cases[] = {
		{2.0, 0.25, 0.02, false}, /* the default zone holds 2 % */
		{2.0, 0.25, -0.02, false},
		{5.0, 0.25, 0.02, false}, /* ... even at the highest zoom */
		{5.0, 0.25, -0.02, false},
		{2.0, 0.25, 0.10, true}, /* beyond the box of 0.0625 */
		{2.0, 0.5, -0.10, false},
		{2.0, 0.5, -0.20, true},
		{2.0, 0.0, 0.02, true}, /* no dead zone: on the pointer */
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.zoom) + " " +
			     std::to_string(c.zone) + " " +
			     std::to_string(c.dx));
		const std::string json = std::string(R"({"stage_count": 1,
			"stage_1_center_tracking": true, "stage_1_duration": 0.05,
			"tracking_smoothing": 0.0, "stage_1_zoom_factor": )") +
					 std::to_string(c.zoom) +
					 R"(, "tracking_dead_zone": )" +
					 std::to_string(c.zone) + "}";
		const int x0 = w / 2;
		const int y0 = h / 2;
		pointer.move(x0, y0);
		Tracked t(json.c_str());
		ASSERT_TRUE(t.sees(pointer.fx(x0), pointer.fy(y0)));
		t.press_stage();
		const CropWindow start = t.settled();
		/* a view that starts tracking starts on the pointer */
		EXPECT_FLOAT_EQ(start.center_x, pointer.fx(x0));

		const int x1 = x0 + int(std::lround(c.dx * w));
		pointer.move(x1, y0);
		ASSERT_TRUE(t.sees(pointer.fx(x1), pointer.fy(y0)));
		const CropWindow after = t.settled();
		EXPECT_EQ(after.center_y, start.center_y);
		if (!c.moves) {
			EXPECT_TRUE(same(after, start));
			continue;
		}
		/* the pointer ends on the box's edge */
		const double box = c.zone * 0.5 / c.zoom;
		const double want = pointer.fx(x1) - (c.dx > 0 ? box : -box);
		EXPECT_FLOAT_EQ(after.center_x, want);
	}
}

TEST(Tracking, SwitchingBetweenATrackingStageAndAFixedIdleView)
{
	Pointer pointer;
	ASSERT_NE(pointer.display, nullptr);
	const int x = pointer.width * 7 / 10;
	const int y = pointer.height * 4 / 10;
	pointer.move(x, y);
	Tracked t(STAGE_TRACKS);
	ASSERT_TRUE(t.sees(pointer.fx(x), pointer.fy(y)));

	const CropWindow idle = crop_window(1.5, 0.3, 0.6);
	const CropWindow stage = crop_window(2.0, pointer.fx(x), pointer.fy(y));
	EXPECT_TRUE(same(t.settled(), idle));
	for (int round = 0; round < 2; round++) {
		t.press_stage();
		EXPECT_TRUE(same(t.settled(), stage)) << round;
		t.press_stage();
		EXPECT_TRUE(same(t.settled(), idle)) << round;
	}

	/* the other way round: the idle view tracks, the stage does not */
	OBSDataAutoRelease swap = obs_data_create_from_json(
		R"({"idle_center_tracking": true,
		    "stage_1_center_tracking": false})");
	update_filter(t.filter, swap);
	EXPECT_TRUE(same(t.settled(),
			 crop_window(1.5, pointer.fx(x), pointer.fy(y))));
	t.press_stage();
	EXPECT_TRUE(same(t.settled(), crop_window(2.0, 0.2, 0.3)));
}

TEST(Tracking, TheThreeCentreModesWithTheRealPointer)
{
	Pointer pointer;
	ASSERT_NE(pointer.display, nullptr);
	const int xs[] = {pointer.width * 7 / 10, pointer.width * 3 / 10};
	const int ys[] = {pointer.height * 4 / 10, pointer.height * 7 / 10};
	/* where the view settles: the stage's own centre (-1) or pointer 0
	 * or 1, once chosen, after the pointer moved, and chosen again */
	const struct {
		const char *mode; /* "": saved before the modes */
		bool tracking;
		int chosen, moved, again;
	} rows[] = {
		{"set", false, -1, -1, -1},
		{"follow", true, 0, 1, 1},
		{"", true, 0, 1, 1},
		{"press", true, 0, 0, 1}, /* where it was at the press, held */
		{"press", false, -1, -1, -1}, /* turned off by an older version */
	};
	for (const auto &row : rows) {
		SCOPED_TRACE(row.mode);
		pointer.move(xs[0], ys[0]);
		Tracked t(STAGE_TRACKS);
		OBSDataAutoRelease mode = obs_data_create();
		obs_data_set_string(mode, "stage_1_center_mode", row.mode);
		obs_data_set_bool(mode, "stage_1_center_tracking",
				  row.tracking);
		update_filter(t.filter, mode);
		const auto at = [&](int p) {
			return p < 0 ? crop_window(2.0, 0.2, 0.3)
				     : crop_window(2.0, pointer.fx(xs[p]),
						   pointer.fy(ys[p]));
		};
		for (int p : {0, 1}) {
			pointer.move(xs[p], ys[p]);
			ASSERT_TRUE(!row.tracking || t.sees(pointer.fx(xs[p]),
							    pointer.fy(ys[p])));
			if (p == 0)
				t.press_stage();
			EXPECT_TRUE(same(t.settled(),
					 at(p ? row.moved : row.chosen)))
				<< p << ": " << t.window().center_x;
		}
		t.press_stage(); /* back to idle, then chosen again */
		t.settled();
		t.press_stage();
		EXPECT_TRUE(same(t.settled(), at(row.again)));
	}
}

TEST(Tracking, AStillPointerGivesTheSameWindowFrameAfterFrame)
{
	Pointer pointer;
	ASSERT_NE(pointer.display, nullptr);
	/* the defaults: smoothing 0.6 and the default dead zone */
	Tracked t(R"({"stage_count": 1, "stage_1_center_tracking": true,
		      "stage_1_zoom_factor": 3.0})");
	const int x = pointer.width / 3;
	const int y = pointer.height / 4;
	pointer.move(x, y);
	ASSERT_TRUE(t.sees(pointer.fx(x), pointer.fy(y)));
	t.press_stage();
	const CropWindow settled = t.settled(60 * 30);
	/* it did go to the pointer */
	EXPECT_NEAR(settled.center_x, pointer.fx(x), 1e-6);
	EXPECT_NEAR(settled.center_y, pointer.fy(y), 1e-6);
	for (int i = 0; i < 600; i++) {
		tick(t.filter, FRAME);
		if (i % 60 == 0) /* the sampler keeps sampling meanwhile */
			std::this_thread::sleep_for(
				std::chrono::milliseconds(20));
		ASSERT_TRUE(same(t.window(), settled)) << "frame " << i;
	}
}

TEST(Tracking, TheSamplerRunsOnlyWhileATargetTracks)
{
	/* the last test's sampler may still be on its way out */
	EXPECT_TRUE(sampler_threads_become(0));
	Tracked t(R"({"stage_count": 2})");
	EXPECT_FALSE(t->pointer);
	EXPECT_EQ(sampler_threads(), 0);

	const struct {
		const char *json;
		int threads;
	} steps[] = {
		{R"({"stage_2_center_tracking": true})", 1},
		{R"({"idle_center_tracking": true})", 1},
		{R"({"stage_2_center_tracking": false})", 1},
		{R"({"idle_center_tracking": false})", 0},
		{R"({"idle_center_tracking": true})", 1},
		/* a stage beyond the count does not count */
		{R"({"idle_center_tracking": false, "stage_count": 1,
		     "stage_2_center_tracking": true})",
		 0},
	};
	for (const auto &s : steps) {
		OBSDataAutoRelease changes = obs_data_create_from_json(s.json);
		update_filter(t.filter, changes);
		EXPECT_TRUE(sampler_threads_become(s.threads)) << s.json;
		EXPECT_EQ(t->pointer, s.threads == 1) << s.json;
	}
}

TEST(Tracking, AReadDuringAPublishHeldOpenReturnsTheLastPositionRead)
{
	const struct {
		bool read_before; /* a position published and read before */
	} cases[] = {{true}, {false}};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.read_before);
		PointerSample sample;
		double x = -1.0;
		double y = -1.0;
		if (c.read_before) {
			sample.publish(0.25, 0.75);
			ASSERT_TRUE(sample.read(x, y));
		}
		/* the sampler descheduled in the middle of a publish */
		sample.begin_publish();
		auto read = std::async(std::launch::async,
				       [&] { return sample.read(x, y); });
		const bool returned = read.wait_for(std::chrono::seconds(2)) ==
				      std::future_status::ready;
		sample.end_publish(0.5, 0.5);
		EXPECT_TRUE(returned);
		EXPECT_EQ(read.get(), c.read_before);
		if (c.read_before) {
			EXPECT_EQ(x, 0.25);
			EXPECT_EQ(y, 0.75);
		}
	}
}

TEST(Tracking, WithoutAnXDisplayATrackingViewKeepsItsCentre)
{
	ASSERT_NE(std::getenv("DISPLAY"), nullptr);
	const std::string saved = std::getenv("DISPLAY");
	unsetenv("DISPLAY");
	{
		Tracked t(STAGE_TRACKS);
		EXPECT_FALSE(t->pointer);
		t.press_stage();
		EXPECT_TRUE(same(t.settled(), crop_window(2.0, 0.2, 0.3)));
		EXPECT_TRUE(sampler_threads_become(0));
	}
	/* a display that does not answer */
	setenv("DISPLAY", ":4093", 1);
	{
		Tracked t(STAGE_TRACKS);
		EXPECT_TRUE(t->pointer);
		t.press_stage();
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
		EXPECT_TRUE(same(t.settled(), crop_window(2.0, 0.2, 0.3)));
	}
	setenv("DISPLAY", saved.c_str(), 1);
	EXPECT_TRUE(sampler_threads_become(0));
	EXPECT_FALSE(logs_containing("pointer tracking: no X display").empty());
}

TEST(Tracking, AnXServerThatDiesHoldsTheLastPositionAndNothingSticks)
{
	/* a server of our own for the sampler, so that libobs keeps its own */
	int fds[2];
	ASSERT_EQ(pipe(fds), 0);
	const pid_t server = fork();
	ASSERT_GE(server, 0);
	if (server == 0) {
		close(fds[0]);
		const std::string fd = std::to_string(fds[1]);
		execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0",
		       "640x480x24", "-nolisten", "tcp", nullptr);
		_exit(127);
	}
	close(fds[1]);
	char number[16] = {};
	ssize_t got = 0;
	for (ssize_t n; got < 15 && (n = read(fds[0], number + got, 1)) > 0;
	     got += n)
		if (number[got] == '\n')
			break;
	close(fds[0]);
	ASSERT_GT(got, 0) << "Xvfb did not start";
	const std::string name = ":" + std::to_string(std::atoi(number));

	const std::string saved = std::getenv("DISPLAY");
	setenv("DISPLAY", name.c_str(), 1);
	{
		Pointer pointer(name.c_str());
		ASSERT_NE(pointer.display, nullptr);
		ASSERT_EQ(pointer.width, 640);
		pointer.move(160, 360);
		Tracked t(STAGE_TRACKS);
		ASSERT_TRUE(t.sees(pointer.fx(160), pointer.fy(360)));
		t.press_stage();
		const CropWindow followed = t.settled();
		EXPECT_TRUE(same(followed, crop_window(2.0, pointer.fx(160),
						       pointer.fy(360))));

		pointer.server_gone = true;
		kill(server, SIGKILL);
		waitpid(server, nullptr, 0);
		std::this_thread::sleep_for(std::chrono::milliseconds(200));
		EXPECT_TRUE(same(t.settled(), followed));
		/* the keys still work, and the stage comes back where it was */
		t.press_stage();
		EXPECT_TRUE(same(t.settled(), crop_window(1.5, 0.3, 0.6)));
		t.press_stage();
		EXPECT_TRUE(same(t.settled(), followed));
	}
	setenv("DISPLAY", saved.c_str(), 1);
	EXPECT_TRUE(sampler_threads_become(0));
}

/* Runs `act` on a thread of its own; true when it returns within a few
 * seconds while `display` stays silent. If it does not, the display hangs
 * up, so that it can return, and is waited for. */
bool returns_while_silent(SilentDisplay &display,
			  const std::function<void()> &act)
{
	std::promise<void> done;
	std::future<void> returned = done.get_future();
	std::thread acting([&] {
		act();
		done.set_value();
	});
	const bool in_time = returned.wait_for(std::chrono::seconds(3)) ==
			     std::future_status::ready;
	display.hang_up();
	acting.join();
	return in_time;
}

TEST(Tracking, StoppingNeverWaitsOnAnXServerThatDoesNotAnswer)
{
	const std::string saved = std::getenv("DISPLAY");
	for (const bool destroy : {false, true}) {
		SCOPED_TRACE(destroy ? "filter destroyed"
				     : "tracking switched off");
		SilentDisplay silent;
		ASSERT_FALSE(silent.name.empty());
		setenv("DISPLAY", silent.name.c_str(), 1);
		obs_source_t *parent = create_pattern_source("silent parent");
		OBSDataAutoRelease tracks = obs_data_create_from_json(
			R"({"idle_center_tracking": true,
			    "tracking_subject": "pointer"})");
		obs_source_t *filter =
			create_zoom_filter("silent zoom", tracks);
		obs_source_filter_add(parent, filter);
		/* the sampler is inside its connection, waiting for an answer */
		EXPECT_TRUE(silent.connected());
		const auto stop = [&] {
			if (destroy) {
				obs_source_filter_remove(parent, filter);
				obs_source_release(filter);
				filter = nullptr;
				wait_destroyed();
			} else {
				OBSDataAutoRelease off = obs_data_create_from_json(
					R"({"idle_center_tracking": false})");
				update_filter(filter, off);
				EXPECT_FALSE(snapshot_of(filter).pointer);
			}
		};
		EXPECT_TRUE(returns_while_silent(silent, stop));
		setenv("DISPLAY", saved.c_str(), 1);
		if (filter)
			remove_and_release(parent, filter);
		else
			obs_source_release(parent);
		wait_destroyed();
		/* the server gone, the sampler ends */
		EXPECT_TRUE(sampler_threads_become(0));
	}
	/* and tracking starts again as before */
	Pointer pointer;
	Tracked t(STAGE_TRACKS);
	pointer.move(pointer.width / 5, pointer.height / 3);
	EXPECT_TRUE(t.sees(pointer.fx(pointer.width / 5),
			   pointer.fy(pointer.height / 3)));
}

/* ---- leaving the process while a filter tracks, in a child process ---- */

const char LEAVE_ENV[] = "TAVIMORE_LEAVE_WHILE_TRACKING";
const char SILENT_ENV[] = "TAVIMORE_SILENT_DISPLAY";

/* The child: a host with a tracking filter, whose sampler reads the display
 * named in SILENT_ENV (when set; the test waits for its connection, then
 * writes a byte to our stdin) or the real one (then it waits until the
 * pointer is seen). Then it leaves with status 7: "exit" calls exit() with
 * the filter still tracking, "quit" destroys the filter and shuts libobs
 * down (the module unloads) as OBS Studio does when it quits. */
int leave_while_tracking(const std::string &how)
{
	if (!start_host(HostOptions()))
		return 2;
	if (const char *silent = std::getenv(SILENT_ENV))
		setenv("DISPLAY", silent, 1);
	obs_source_t *parent = create_pattern_source("leaving parent");
	OBSDataAutoRelease tracks =
		obs_data_create_from_json(R"({"idle_center_tracking": true,
					     "tracking_subject": "pointer"})");
	obs_source_t *filter = create_zoom_filter("leaving zoom", tracks);
	obs_source_filter_add(parent, filter);
	if (!snapshot_of(filter).pointer)
		return 3;
	if (std::getenv(SILENT_ENV)) {
		char go;
		if (read(0, &go, 1) != 1)
			return 4;
	} else {
		int tries = 0;
		while (!snapshot_of(filter).pointer_seen && ++tries < 500)
			std::this_thread::sleep_for(
				std::chrono::milliseconds(10));
		if (tries == 500)
			return 5;
	}
	if (how == "exit")
		std::exit(7);
	remove_and_release(parent, filter);
	stop_host();
	return 7;
}

TEST(Tracking, LeavingTheProcessWhileAFilterTracksIsANormalExit)
{
	const struct {
		const char *how;
		bool silent; /* the sampler waits on a server that never answers */
	} rows[] = {{"exit", false}, {"exit", true}, {"quit", true}};
	for (const auto &row : rows) {
		SCOPED_TRACE(std::string(row.how) +
			     (row.silent ? ", silent X server" : ", X server"));
		SilentDisplay silent;
		ASSERT_FALSE(silent.name.empty());
		std::vector<std::string> env;
		for (char **e = environ; *e; e++)
			env.push_back(*e);
		env.push_back(std::string(LEAVE_ENV) + "=" + row.how);
		if (row.silent)
			env.push_back(std::string(SILENT_ENV) + "=" +
				      silent.name);
		/* the child exits without freeing what libobs holds */
		const char *asan = std::getenv("ASAN_OPTIONS");
		env.push_back(std::string("ASAN_OPTIONS=") +
			      (asan ? asan : "") + ":detect_leaks=0");
		std::vector<char *> envp;
		for (std::string &e : env)
			envp.push_back(&e[0]);
		envp.push_back(nullptr);
		int go[2];
		ASSERT_EQ(pipe2(go, O_CLOEXEC), 0);

		const pid_t child = fork();
		ASSERT_GE(child, 0);
		if (child == 0) {
			dup2(go[0], 0);
			execle("/proc/self/exe", "tracking-tests", nullptr,
			       envp.data());
			_exit(127);
		}
		close(go[0]);
		if (row.silent) {
			EXPECT_TRUE(silent.connected(15000));
			EXPECT_EQ(write(go[1], "g", 1), 1);
		}
		close(go[1]);
		int status = 0;
		pid_t ended = 0;
		for (int i = 0; i < 1500 && ended == 0; i++) {
			ended = waitpid(child, &status, WNOHANG);
			if (ended == 0)
				std::this_thread::sleep_for(
					std::chrono::milliseconds(10));
		}
		if (ended == 0) {
			kill(child, SIGKILL);
			waitpid(child, &status, 0);
			ADD_FAILURE() << "the child did not end within 15 s";
			continue;
		}
		EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7)
			<< (WIFSIGNALED(status)
				    ? "signal " +
					      std::to_string(WTERMSIG(status))
				    : "status " + std::to_string(
							  WEXITSTATUS(status)));
	}
}

int main(int argc, char **argv)
{
	if (const char *how = std::getenv(LEAVE_ENV))
		return leave_while_tracking(how);
	return run_tests_in_host(argc, argv, HostOptions());
}
