/*
 * A stage hotkey pressed while libobs runs its graphics thread: the rendered
 * frames move to the stage's window and back to the idle window.
 */
#include "render-checks.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

/* Frames that cover a transition of `seconds` at 60 frames per second,
 * with room for the centre to settle (smoothing 0: tau 0.02 s). */
int frames_for(double seconds)
{
	return static_cast<int>(seconds * 60) + 20;
}

/* Reads frames until one shows `window` (at most `limit`), returning the
 * half size of every frame seen on the way. */
std::vector<double> half_sizes_until(const Rig &rig, const Window &window,
				     int limit)
{
	std::vector<double> seen;
	for (int i = 0; i < limit; i++) {
		const Frame frame = rig.frame();
		seen.push_back(measure_window(frame).half_size);
		if (shows_window(frame, window))
			break;
		wait_frames(1);
	}
	return seen;
}

} // namespace

TEST(StageHotkey, PressShowsTheStageAndPressingAgainReturnsToIdle)
{
	/* long enough for several read-backs on the way */
	const double duration = 1.5;
	Rig rig({{"stage_count", 1},
		 {"stage_1_zoom_factor", 2.0},
		 {"stage_1_center_x", 0.25},
		 {"stage_1_center_y", 0.75},
		 {"stage_1_duration", duration},
		 {"idle_zoom_factor", 1.0},
		 {"idle_duration", duration},
		 {"easing_in", 0},
		 {"easing_out", 0},
		 {"tracking_smoothing", 0.0}});
	wait_frames(3); /* the first frame registers the hotkeys */
	const obs_hotkey_id stage1 =
		find_hotkey(rig.parent, "tavimore.stage_1");
	ASSERT_NE(stage1, OBS_INVALID_HOTKEY_ID);
	ASSERT_TRUE(shows_window(rig.frame(), WHOLE_FRAME));

	const Window stage_window = crop_of(2.0, 0.25, 0.75);
	press_hotkey(stage1);
	const std::vector<double> in =
		half_sizes_until(rig, stage_window, 4 * frames_for(duration));
	ASSERT_TRUE(shows_window(rig.frame(), stage_window));
	/* on the way the window only shrinks, through sizes in between */
	const double noise = 1.5 / 256;
	int between = 0;
	for (size_t i = 0; i < in.size(); i++) {
		if (i > 0)
			EXPECT_LE(in[i], in[i - 1] + noise) << "frame " << i;
		between += in[i] < 0.45 && in[i] > 0.28; /* zoom 1.1 to 1.8 */
	}
	EXPECT_GE(between, 3) << "the zoom jumped instead of easing";

	/* after the stage's duration it stays there */
	wait_frames(frames_for(duration));
	EXPECT_TRUE(shows_window(rig.frame(), stage_window));

	press_hotkey(stage1);
	const std::vector<double> out =
		half_sizes_until(rig, WHOLE_FRAME, 4 * frames_for(duration));
	ASSERT_TRUE(shows_window(rig.frame(), WHOLE_FRAME));
	for (size_t i = 1; i < out.size(); i++)
		EXPECT_GE(out[i], out[i - 1] - noise) << "frame " << i;
	wait_frames(frames_for(duration));
	EXPECT_TRUE(shows_window(rig.frame(), WHOLE_FRAME));
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	return run_tests_in_host(argc, argv, options);
}
