/*
 * The automatic zoom on OBS's screen capture of the Xvfb screen, less cut
 * margins, in the real libobs with video; clicks, pointer moves and key
 * presses are real X input (XTest).
 */
#include "auto-zoom-steps.hpp"

#include <obs.hpp>

#include <string>

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
	const int top = 90, left = 160;
	const double aw = DisplayWidth(d, 0) - left;
	const double ah = DisplayHeight(d, 0) - top;
	OBSDataAutoRelease capture = obs_data_create_from_json(
		R"({"show_cursor": false, "cut_top": 90, "cut_left": 160})");
	obs_source_t *source =
		obs_source_create("xshm_input", "screen", capture, nullptr);
	OBSDataAutoRelease settings =
		obs_data_create_from_json(AUTO_ZOOM_SETTINGS);
	obs_source_t *filter = create_zoom_filter("auto zoom", settings);
	obs_source_filter_add(source, filter);
	obs_source_inc_showing(source);
	wait_frames(3);

	const int spots[][2] = {{0, 0},
				{left + int(aw * 0.4), top + int(ah * 0.45)},
				{left + int(aw * 0.95), top + int(ah * 0.9)},
				{left / 2, top + int(ah / 2)}};
	const KeyCode shift = XKeysymToKeycode(d, XK_Shift_L);
	auto input = [&](Act a, Spot at) {
		if (a == Act::Click || a == Act::Move)
			XTestFakeMotionEvent(d, -1, spots[at][0], spots[at][1],
					     0);
		if (a == Act::Click) {
			XTestFakeButtonEvent(d, 1, True, 0);
			XTestFakeButtonEvent(d, 1, False, 0);
		} else if (a == Act::Key) {
			XTestFakeKeyEvent(d, shift, True, 0);
			XTestFakeKeyEvent(d, shift, False, 0);
		}
		XSync(d, False);
	};
	play_auto_zoom(filter, input, [&](Spot at, double &fx, double &fy) {
		fx = (spots[at][0] - left + 0.5) / aw;
		fy = (spots[at][1] - top + 0.5) / ah;
	});

	/* switched off mid-zoom, then removed mid-zoom: no sampler left */
	for (bool remove : {false, true}) {
		press_hotkey(find_hotkey(source, "tavimore.idle"));
		input(Act::Click, HERE);
		std::this_thread::sleep_for(std::chrono::milliseconds(300));
		ASSERT_EQ(graphics_snapshot(filter).active_stage, 0);
		if (remove)
			obs_source_filter_remove(source, filter);
		else
			obs_source_set_enabled(filter, false);
		wait_frames(3);
		EXPECT_EQ(graphics_snapshot(filter).active_stage, -1);
		for (int i = 0; i < 200 && threads_named("tavimore-ptr"); i++)
			std::this_thread::sleep_for(
				std::chrono::milliseconds(10));
		EXPECT_EQ(threads_named("tavimore-ptr"), 0) << remove;
		/* on again: the sampler is back before the next click */
		obs_source_set_enabled(filter, true);
		std::this_thread::sleep_for(std::chrono::milliseconds(300));
	}
	obs_source_release(filter);
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
