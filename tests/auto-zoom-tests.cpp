/*
 * The automatic zoom on OBS's screen capture of the Xvfb screen, in the real
 * libobs with video: clicks and key presses are real X input (XTest), and
 * the filter's own records say what it shows.
 */
#include "obs-harness.hpp"
#include "core/zoom-core.hpp"
#include "filter/zoom-filter.hpp"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>

namespace {

bool load_captures()
{
	static const bool loaded = [] {
		obs_module_t *m = nullptr;
		return obs_open_module(
			       &m,
			       "/usr/lib/x86_64-linux-gnu/obs-plugins/linux-capture.so",
			       "/usr/share/obs/obs-plugins/linux-capture") ==
			       MODULE_SUCCESS &&
		       obs_init_module(m);
	}();
	return loaded;
}

struct Shown {
	int32_t stage;
	bool automatic;
	double center_x, center_y;
};

Shown shown(obs_source_t *filter)
{
	auto *f = static_cast<ZoomFilter *>(obs_obj_get_data(filter));
	std::lock_guard<std::mutex> guard(f->lock);
	return {f->active_stage, f->auto_shown, f->target_center_x,
		f->target_center_y};
}

void pause(double seconds)
{
	std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

/* Waits up to two seconds for no pointer sampler thread. */
bool sampler_gone()
{
	for (int i = 0; i < 200 && threads_named("tavimore-ptr") > 0; i++)
		pause(0.01);
	return threads_named("tavimore-ptr") == 0;
}

} // namespace

TEST(AutoZoom, ClicksZoomFollowLingerAndGiveWayToTheUser)
{
	ASSERT_TRUE(load_captures());
	Display *d = XOpenDisplay(nullptr);
	ASSERT_NE(d, nullptr);
	const int W = DisplayWidth(d, DefaultScreen(d));
	const int H = DisplayHeight(d, DefaultScreen(d));
	/* the capture shows the screen less its margins */
	const int top = H / 8, left = W / 8, right = W / 16, bot = H / 16;
	const double aw = W - left - right, ah = H - top - bot;

	OBSDataAutoRelease capture_settings = obs_data_create();
	obs_data_set_bool(capture_settings, "show_cursor", false);
	obs_data_set_int(capture_settings, "cut_top", top);
	obs_data_set_int(capture_settings, "cut_left", left);
	obs_data_set_int(capture_settings, "cut_right", right);
	obs_data_set_int(capture_settings, "cut_bot", bot);
	obs_source_t *source = obs_source_create("xshm_input", "screen",
						 capture_settings, nullptr);
	OBSDataAutoRelease zoom = obs_data_create_from_json(
		R"({"stage_count": 2, "stage_1_zoom_factor": 2.0,
		    "stage_1_duration": 0.2, "tracking_smoothing": 0.0,
		    "tracking_dead_zone": 0.25, "auto_zoom": 2,
		    "auto_zoom_stage": 1, "auto_zoom_linger": 1.0})");
	obs_source_t *filter = create_zoom_filter("auto zoom", zoom);
	obs_source_filter_add(source, filter);
	obs_source_inc_showing(source);
	wait_frames(3);
	ASSERT_EQ(threads_named("tavimore-ptr"), 1);

	const KeyCode key = XKeysymToKeycode(d, XK_a);
	enum Act { Click, Key, Move, StageKey, IdleKey, Nothing };
	auto act = [&](Act a, int x, int y) {
		if (a == Click || a == Move)
			XTestFakeMotionEvent(d, -1, x, y, 0);
		if (a == Click) {
			XTestFakeButtonEvent(d, 1, True, 0);
			XTestFakeButtonEvent(d, 1, False, 0);
		} else if (a == Key) {
			XTestFakeKeyEvent(d, key, True, 0);
			XTestFakeKeyEvent(d, key, False, 0);
		} else if (a == StageKey) {
			press_hotkey(find_hotkey(source, "tavimore.stage_2"));
		} else if (a == IdleKey) {
			press_hotkey(find_hotkey(source, "tavimore.idle"));
		}
		XSync(d, False);
	};
	/* where the view centres on a pointer at (x, y): the pixel's centre as
	 * fractions of the area, kept where a window of zoom 2 fits */
	auto fraction = [](double p, double o, double size) {
		return std::clamp((p - o + 0.5) / size, 0.25, 0.75);
	};
	const int x1 = left + int(aw * 0.4), y1 = top + int(ah * 0.45);
	const int x2 = left + int(aw * 0.95), y2 = top + int(ah * 0.9);
	const struct {
		const char *what;
		Act act;
		int x, y;
		double wait;
		int32_t stage;
		bool automatic;
		bool centred; /* on the pointer through the dead zone */
	} steps[] = {
		{"typing alone starts nothing", Key, 0, 0, 0.4, -1, false},
		{"a click on a cut margin is ignored", Click, left / 2,
		 top + int(ah / 2), 0.4, -1, false},
		{"a click zooms to it", Click, x1, y1, 0.4, 0, true, true},
		{"the view follows the pointer", Move, x2, y2, 0.3, 0, true,
		 true},
		{"typing keeps it", Key, 0, 0, 0.5, 0, true},
		{"and keeps it", Key, 0, 0, 0.5, 0, true},
		{"so does a click", Click, x1, y1, 0.6, 0, true, true},
		{"after the linger: idle", Nothing, 0, 0, 1.2, -1, false},
		{"a click zooms again", Click, x2, y2, 0.3, 0, true, true},
		{"return to idle ends it", IdleKey, 0, 0, 0.1, -1, false},
		{"the next click starts one", Click, x1, y1, 0.3, 0, true,
		 true},
		{"a stage key takes over", StageKey, 0, 0, 1.5, 1, false},
		{"clicks leave the user's stage", Click, x2, y2, 0.3, 1, false},
	};
	double tracked_x = 0.5, tracked_y = 0.5;
	for (const auto &step : steps) {
		SCOPED_TRACE(step.what);
		const bool was_auto = shown(filter).automatic;
		act(step.act, step.x, step.y);
		pause(step.wait);
		const Shown s = shown(filter);
		EXPECT_EQ(s.stage, step.stage);
		EXPECT_EQ(s.automatic, step.automatic);
		if (!step.centred)
			continue;
		const double px = (step.x - left + 0.5) / aw;
		const double py = (step.y - top + 0.5) / ah;
		if (!was_auto) {
			/* a new zoom starts centred on the click, within a
			 * pixel */
			tracked_x = fraction(step.x, left, aw);
			tracked_y = fraction(step.y, top, ah);
			EXPECT_NEAR(s.center_x * aw, tracked_x * aw, 1.0);
			EXPECT_NEAR(s.center_y * ah, tracked_y * ah, 1.0);
		} else {
			tracked_x = dead_zone_center(tracked_x, px, 0.25, 0.25);
			tracked_y = dead_zone_center(tracked_y, py, 0.25, 0.25);
			EXPECT_NEAR(s.center_x, tracked_x, 1e-9);
			EXPECT_NEAR(s.center_y, tracked_y, 1e-9);
		}
	}

	/* switched off mid-zoom, or removed: back to idle, nothing runs */
	act(IdleKey, 0, 0);
	act(Click, x1, y1);
	pause(0.3);
	ASSERT_TRUE(shown(filter).automatic);
	obs_source_set_enabled(filter, false);
	pause(0.2);
	EXPECT_FALSE(shown(filter).automatic);
	EXPECT_EQ(shown(filter).stage, -1);
	EXPECT_TRUE(sampler_gone());
	obs_source_set_enabled(filter, true);
	pause(0.2);
	act(Click, x1, y1);
	pause(0.3);
	EXPECT_TRUE(shown(filter).automatic);
	obs_source_filter_remove(source, filter);
	obs_source_release(filter);
	wait_destroyed();
	EXPECT_TRUE(sampler_gone());

	obs_source_dec_showing(source);
	obs_source_release(source);
	wait_destroyed();
	XCloseDisplay(d);
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	return run_tests_in_host(argc, argv, options);
}
