/*
 * The module's data folder holds a crop effect with a syntax error (built
 * into the build tree with the locale files beside it). Each instance says
 * so in exactly one error line and then passes its input through; the rest
 * of the filter (settings, stages, hotkeys, animation) works as usual.
 */
#include "obs-harness.hpp"
#include "render-checks.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

static const char *const FAILURE_LINE =
	"[tavimore-free] failed to load zoom-crop.effect";

/* Lines of the module other than its load line and the effect failure. */
static std::vector<std::string> other_module_lines()
{
	std::vector<std::string> other;
	for (const LogLine &line : logs_containing("[tavimore-free]"))
		if (line.text != FAILURE_LINE &&
		    line.text.find("plugin loaded successfully") ==
			    std::string::npos)
			other.push_back(line.text);
	return other;
}

/* A zoom of 3 near the bottom-left corner, three stages. */
static const Numbers ZOOMED = {{"idle_zoom_factor", 3.0},
			       {"idle_center_x", 0.2},
			       {"idle_center_y", 0.8},
			       {"stage_count", 3}};

TEST(BrokenEffect, EachInstanceLogsOneErrorAndHasNoEffect)
{
	clear_logs();
	obs_source_t *first = zoom_filter_with("zoom 1", ZOOMED);
	ASSERT_NE(first, nullptr);
	EXPECT_EQ(effect_failure_lines(), 1);
	obs_source_t *second = zoom_filter_with("zoom 2", ZOOMED);
	ASSERT_NE(second, nullptr);
	EXPECT_EQ(effect_failure_lines(), 2);

	for (obs_source_t *filter : {first, second}) {
		const ZoomSnapshot f = snapshot_of(filter);
		EXPECT_FALSE(f->effect);
		EXPECT_FALSE(f->center_param);
		EXPECT_FALSE(f->half_size_param);
	}

	/* attached, drawn, updated and destroyed: no further line */
	obs_source_t *source = create_pattern_source("source");
	obs_source_filter_add(source, first);
	obs_source_filter_add(source, second);
	wait_frames(3);
	render_pixels(source, 256, 256);
	obs_data_t *changes = numbers({{"idle_zoom_factor", 2.0}});
	obs_source_update(first, changes);
	obs_data_release(changes);
	wait_frames(3);
	render_pixels(source, 256, 256);
	obs_source_filter_remove(source, first);
	obs_source_filter_remove(source, second);
	obs_source_release(first);
	obs_source_release(second);
	obs_source_release(source);
	wait_destroyed();

	EXPECT_EQ(effect_failure_lines(), 2);
	EXPECT_EQ(other_module_lines(), std::vector<std::string>());
}

TEST(BrokenEffect, TheInputIsPassedThroughUnchanged)
{
	obs_source_t *plain = create_pattern_source("plain");
	Rig rig(ZOOMED);
	wait_frames(3);

	const Frame input = read_frame(plain, 256, 256);
	const Frame output = rig.frame();
	/* the pattern itself came through, not an empty frame */
	EXPECT_EQ(input.at(255, 0)[0], 255);
	EXPECT_EQ(input.at(0, 255)[1], 255);
	EXPECT_TRUE(output.pixels == input.pixels)
		<< "the output differs from the unfiltered input";
	EXPECT_EQ(obs_source_get_width(rig.filter), 256u);
	EXPECT_EQ(obs_source_get_height(rig.filter), 256u);

	/* a stage in the middle of its zoom changes nothing either */
	ZoomView f{rig.filter};
	wait_frames(1);
	ASSERT_NE(f->stage_keys[0].id, OBS_INVALID_HOTKEY_ID);
	press_hotkey(f->stage_keys[0].id);
	wait_frames(5);
	EXPECT_TRUE(rig.frame().pixels == input.pixels);
	obs_source_release(plain);
}

TEST(BrokenEffect, SettingsStagesHotkeysAndAnimationWorkAsUsual)
{
	Rig rig(ZOOMED);
	obs_source_t *source = rig.parent;
	wait_frames(3);
	ZoomView f{rig.filter};

	/* three stages, their toggles, the two hold keys and the idle key */
	EXPECT_EQ(f->stages.size(), 3u);
	EXPECT_EQ(hotkeys_of(source).size(), 6u);
	EXPECT_DOUBLE_EQ(f->current_zoom, 3.0);

	/* a settings change reaches the instance */
	rig.update({{"stage_count", 5},
		    {"stage_2_zoom_factor", 4.0},
		    {"stage_2_duration", 0.05}});
	wait_frames(3);
	EXPECT_EQ(f->stages.size(), 5u);
	EXPECT_EQ(hotkeys_of(source).size(), 8u);

	/* a stage press zooms to the stage, a second press back to idle */
	press_hotkey(find_hotkey(source, "tavimore.stage_2"));
	wait_frames(10);
	EXPECT_EQ(f->active_stage, 1);
	EXPECT_DOUBLE_EQ(f->current_zoom, 4.0);
	press_hotkey(find_hotkey(source, "tavimore.stage_2"));
	wait_frames(60);
	EXPECT_EQ(f->active_stage, -1);
	EXPECT_DOUBLE_EQ(f->current_zoom, 3.0);
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	options.data_path = TAVIMORE_BROKEN_EFFECT_DATA;
	return run_tests_in_host(argc, argv, options);
}
