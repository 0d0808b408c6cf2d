/*
 * The automatic zoom on OBS's screen capture of the Xvfb screen, less cut
 * margins, in the real libobs with video; clicks, pointer moves and key
 * presses are real X input (XTest).
 */
#include "auto-zoom-steps.hpp"

/* last: X's headers define None and friends as macros */
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
	OBSDataAutoRelease cut = obs_data_create_from_json(
		R"({"show_cursor": false, "cut_top": 90, "cut_left": 160})");
	OBSSourceAutoRelease screen =
		obs_source_create("xshm_input", "screen", cut, nullptr);
	obs_source_inc_showing(screen);
	const KeyCode shift = XKeysymToKeycode(d, XK_Shift_L);
	const ScreenArea area = {160, 90, DisplayWidth(d, 0) - 160,
				 DisplayHeight(d, 0) - 90};
	play_auto_zoom(screen, area, [&](Act act, int x, int y) {
		if (act == Act::Click || act == Act::Move)
			XTestFakeMotionEvent(d, -1, x, y, 0);
		for (Bool down : {True, False})
			if (act == Act::Click)
				XTestFakeButtonEvent(d, 1, down, 0);
			else if (act == Act::Key)
				XTestFakeKeyEvent(d, shift, down, 0);
		XSync(d, False);
		/* switched off or taken off: its pointer sampler ends */
		for (int i = 0; i < 200 && act >= Act::Off &&
				threads_named("tavimore-ptr");
		     i++)
			std::this_thread::sleep_for(
				std::chrono::milliseconds(10));
		EXPECT_TRUE(act < Act::Off || !threads_named("tavimore-ptr"));
	});
	obs_source_dec_showing(screen);
	XCloseDisplay(d);
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	return run_tests_in_host(argc, argv, options);
}
