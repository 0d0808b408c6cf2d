/*
 * The automatic zoom on OBS's screen capture of the Xvfb screen, less cut
 * margins, in the real libobs with video: clicks, pointer moves and key
 * presses are real X input (XTest).
 */
#include "auto-zoom-steps.hpp"

#include <obs.hpp>

/* last: X's headers define None and friends as macros */
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

TEST(AutoZoom, ClicksZoomFollowLingerAndGiveWayToTheUser)
{
	obs_module_t *m = nullptr;
	ASSERT_EQ(obs_open_module(&m,
				  "/usr/lib/x86_64-linux-gnu/obs-plugins/"
				  "linux-capture.so",
				  "/usr/share/obs/obs-plugins/linux-capture"),
		  MODULE_SUCCESS);
	ASSERT_TRUE(obs_init_module(m));
	Display *d = XOpenDisplay(nullptr);
	ASSERT_NE(d, nullptr);
	const int W = DisplayWidth(d, DefaultScreen(d));
	const int H = DisplayHeight(d, DefaultScreen(d));
	const int top = H / 8, left = W / 8, right = W / 16, bot = H / 16;
	OBSDataAutoRelease capture = obs_data_create();
	obs_data_set_bool(capture, "show_cursor", false);
	obs_data_set_int(capture, "cut_top", top);
	obs_data_set_int(capture, "cut_left", left);
	obs_data_set_int(capture, "cut_right", right);
	obs_data_set_int(capture, "cut_bot", bot);
	obs_source_t *source =
		obs_source_create("xshm_input", "screen", capture, nullptr);
	OBSDataAutoRelease settings =
		obs_data_create_from_json(AUTO_ZOOM_SETTINGS);
	obs_source_t *filter = create_zoom_filter("auto zoom", settings);
	obs_source_filter_add(source, filter);
	obs_source_inc_showing(source);
	wait_frames(3);

	const double aw = W - left - right, ah = H - top - bot;
	const int spots[][2] = {{0, 0},
				{left + int(aw * 0.4), top + int(ah * 0.45)},
				{left + int(aw * 0.95), top + int(ah * 0.9)},
				{left / 2, top + int(ah / 2)}};
	const KeyCode shift = XKeysymToKeycode(d, XK_Shift_L);
	auto act = [&](Act a, Spot at) {
		if (a == Act::Click || a == Act::Move)
			XTestFakeMotionEvent(d, -1, spots[at][0], spots[at][1],
					     0);
		if (a == Act::Click) {
			XTestFakeButtonEvent(d, 1, True, 0);
			XTestFakeButtonEvent(d, 1, False, 0);
		} else if (a == Act::Key) {
			XTestFakeKeyEvent(d, shift, True, 0);
			XTestFakeKeyEvent(d, shift, False, 0);
		} else if (a == Act::StageKey || a == Act::IdleKey) {
			press_hotkey(find_hotkey(
				source, a == Act::StageKey ? "tavimore.stage_2"
							   : "tavimore.idle"));
		}
		XSync(d, False);
	};
	play_auto_zoom(filter, act, [&](Spot at, double &fx, double &fy) {
		fx = (spots[at][0] - left + 0.5) / aw;
		fy = (spots[at][1] - top + 0.5) / ah;
	});

	/* switched off mid-zoom, or removed: back to idle, no sampler left */
	auto *zoom = static_cast<ZoomFilter *>(obs_obj_get_data(filter));
	const auto sampler_gone = [] {
		for (int i = 0; i < 200 && threads_named("tavimore-ptr"); i++)
			std::this_thread::sleep_for(
				std::chrono::milliseconds(10));
		return threads_named("tavimore-ptr") == 0;
	};
	for (bool remove : {false, true}) {
		act(Act::IdleKey, NOWHERE);
		act(Act::Click, HERE);
		std::this_thread::sleep_for(std::chrono::milliseconds(300));
		ASSERT_EQ(graphics_snapshot(filter).active_stage, 0);
		if (remove) {
			obs_source_filter_remove(source, filter);
			obs_source_release(filter);
			wait_destroyed();
		} else {
			obs_source_set_enabled(filter, false);
			wait_frames(3);
			EXPECT_EQ(graphics_snapshot(filter).active_stage, -1);
			EXPECT_FALSE(zoom->auto_shown);
		}
		EXPECT_TRUE(sampler_gone());
		if (remove)
			break;
		/* on again: the sampler comes back before the next click */
		obs_source_set_enabled(filter, true);
		std::this_thread::sleep_for(std::chrono::milliseconds(300));
	}
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
