/*
 * The module loaded from a data folder that holds its locale but not
 * zoom-crop.effect: each filter says so once in the log and then passes its
 * input through unchanged.
 */
#include "render-checks.hpp"

#include <gtest/gtest.h>

TEST(NoEffect, TheLocaleComesFromTheGivenDataFolder)
{
	/* the folder is in use: its texts are found, only the effect is not */
	EXPECT_STREQ(obs_source_get_display_name("tavimore_filter"),
		     "Tavimore Zoom");
	char *effect =
		obs_find_module_file(loaded_module(), "zoom-crop.effect");
	EXPECT_EQ(effect, nullptr);
	bfree(effect);
}

TEST(NoEffect, EachFilterLogsTheMissingEffectOnce)
{
	clear_logs();
	{
		Rig first({{"idle_zoom_factor", 2.0}});
		Rig second({{"idle_zoom_factor", 3.0}});
		wait_frames(3);
		EXPECT_FALSE(snapshot_of(first.filter)->effect);
		EXPECT_FALSE(snapshot_of(second.filter)->effect);
		EXPECT_EQ(effect_failure_lines(), 2);

		/* drawing and updating log nothing more */
		first.frame();
		second.frame();
		first.update({{"idle_zoom_factor", 4.0}});
		wait_frames(3);
		first.frame();
		EXPECT_EQ(effect_failure_lines(), 2);
	}
	EXPECT_EQ(effect_failure_lines(), 2);
	EXPECT_EQ(logs_containing("zoom-crop.effect").size(), 2u);
}

TEST(NoEffect, TheInputPassesThroughOnEveryFrame)
{
	Rig rig({{"idle_zoom_factor", 2.0},
		 {"idle_center_x", 0.1},
		 {"idle_center_y", 0.9},
		 {"stage_1_zoom_factor", 4.0},
		 {"stage_1_duration", 0.2},
		 {"tracking_smoothing", 0.0}});
	wait_frames(3);
	for (int i = 0; i < 5; i++) {
		EXPECT_TRUE(shows_window(rig.frame(), WHOLE_FRAME, 0.5))
			<< "frame " << i;
		wait_frames(1);
	}

	/* also while a stage zooms in and while the centre moves */
	const obs_hotkey_id stage = find_hotkey(rig.parent, "tavimore.stage_1");
	ASSERT_NE(stage, OBS_INVALID_HOTKEY_ID);
	press_hotkey(stage);
	rig.update({{"stage_1_center_x", 0.8}});
	for (int i = 0; i < 20; i++) {
		EXPECT_TRUE(shows_window(rig.frame(), WHOLE_FRAME, 0.5))
			<< "frame " << i << " after the stage key";
		wait_frames(1);
	}
}

TEST(NoEffect, AWideInputPassesThroughAtItsSize)
{
	Rig rig({{"idle_zoom_factor", 2.0}}, 320, 180);
	wait_frames(3);
	EXPECT_EQ(obs_source_get_width(rig.filter), 320u);
	EXPECT_EQ(obs_source_get_height(rig.filter), 180u);
	EXPECT_TRUE(shows_window(rig.frame(), WHOLE_FRAME, 0.5));
}

TEST(NoEffect, AFilterWithoutParentDrawsNothing)
{
	obs_source_t *filter =
		zoom_filter_with("lonely zoom", {{"idle_zoom_factor", 2.0}});
	wait_frames(2);
	ASSERT_FALSE(snapshot_of(filter)->effect);
	EXPECT_TRUE(all_zero(read_frame(filter, 64, 64)));
	obs_source_release(filter);
	wait_destroyed();
}

TEST(NoEffect, AFilterTakenOffItsSourceDrawsNothing)
{
	Rig rig({{"idle_zoom_factor", 2.0}});
	wait_frames(3);
	EXPECT_TRUE(shows_window(rig.frame(), WHOLE_FRAME, 0.5));
	obs_source_filter_remove(rig.parent, rig.filter);
	wait_frames(2);
	EXPECT_TRUE(all_zero(read_frame(rig.filter, 64, 64)));
	/* and on it again, it passes through again */
	obs_source_filter_add(rig.parent, rig.filter);
	wait_frames(2);
	EXPECT_TRUE(shows_window(rig.frame(), WHOLE_FRAME, 0.5));
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	options.width = 256;
	options.height = 256;
	options.data_path = TAVIMORE_NOEFFECT_DATA_DIR;
	return run_tests_in_host(argc, argv, options);
}
