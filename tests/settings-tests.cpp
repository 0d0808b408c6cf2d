/* Settings: defaults, reading them into the instance, the stage list. */
#include "obs-harness.hpp"
#include "zoom-filter.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

/* A filter made through libobs from the given settings (null: empty). */
struct Filter {
	obs_source_t *source;

	explicit Filter(obs_data_t *settings = nullptr)
		: source(create_zoom_filter("zoom", settings))
	{
	}
	~Filter()
	{
		obs_source_release(source);
		wait_destroyed();
	}
	ZoomFilter *operator->() const { return zoom_data(source); }
	void set_int(const char *key, long long value) const
	{
		obs_data_t *changes = obs_data_create();
		obs_data_set_int(changes, key, value);
		update_filter(source, changes);
		obs_data_release(changes);
	}
	void set_double(const char *key, double value) const
	{
		obs_data_t *changes = obs_data_create();
		obs_data_set_double(changes, key, value);
		update_filter(source, changes);
		obs_data_release(changes);
	}
};

obs_data_t *settings_with(const char *key, long long value)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, key, value);
	return settings;
}

} // namespace

TEST(Defaults, RegistersExactlyTheFiftyEightKeys)
{
	std::vector<std::string> expected = {
		"idle_zoom_factor", "idle_center_tracking", "idle_center_x",
		"idle_center_y",    "idle_duration",        "easing_in",
		"easing_out",       "tracking_smoothing",   "help_show",
		"stage_count"};
	for (int n = 1; n <= 8; n++)
		for (const char *suffix :
		     {"name", "zoom_factor", "center_tracking", "center_x",
		      "center_y", "duration"})
			expected.push_back("stage_" + std::to_string(n) + "_" +
					   suffix);

	obs_data_t *defaults = obs_get_source_defaults("tavimore_filter");
	std::vector<std::string> keys;
	for (obs_data_item_t *item = obs_data_first(defaults); item;
	     obs_data_item_next(&item))
		keys.push_back(obs_data_item_get_name(item));
	/* libobs keeps the items sorted by name */
	std::sort(keys.begin(), keys.end());
	std::sort(expected.begin(), expected.end());
	EXPECT_EQ(keys.size(), 58u);
	EXPECT_EQ(keys, expected);

	EXPECT_EQ(obs_data_get_default_double(defaults, "idle_zoom_factor"),
		  1.0);
	EXPECT_EQ(obs_data_get_default_int(defaults, "stage_count"), 1);
	EXPECT_EQ(obs_data_get_default_double(defaults, "tracking_smoothing"),
		  0.6);
	EXPECT_STREQ(obs_data_get_default_string(defaults, "stage_8_name"),
		     "Stage 8");
	EXPECT_EQ(obs_data_get_default_double(defaults, "stage_5_zoom_factor"),
		  2.0);
	EXPECT_FALSE(obs_data_get_default_bool(defaults, "help_show"));
	obs_data_release(defaults);
}

TEST(Update, EmptySettingsGiveTheDefaults)
{
	Filter f;
	EXPECT_EQ(f->idle.zoom_factor, 1.0);
	EXPECT_EQ(f->idle.center_x, 0.5);
	EXPECT_EQ(f->idle.center_y, 0.5);
	EXPECT_EQ(f->idle.duration, 0.5);
	EXPECT_EQ(f->idle.name, "");
	EXPECT_EQ(f->easing_in, 1);
	EXPECT_EQ(f->easing_out, 1);
	EXPECT_EQ(f->tracking_smoothing, 0.6);
	EXPECT_EQ(f->stage_count, 1);
	ASSERT_EQ(f->stages.size(), 1u);
	ASSERT_EQ(f->stage_hotkey_contexts.size(), 1u);
	EXPECT_EQ(f->stages[0].name, "Stage 1");
	EXPECT_EQ(f->stages[0].zoom_factor, 2.0);
	EXPECT_EQ(f->stages[0].center_x, 0.5);
	EXPECT_EQ(f->stages[0].center_y, 0.5);
	EXPECT_EQ(f->stages[0].duration, 0.5);
	EXPECT_EQ(f->stages[0].hotkey_id, OBS_INVALID_HOTKEY_ID);
	EXPECT_EQ(f->stage_hotkey_contexts[0], nullptr);
}

TEST(Create, StartsAtRestOnTheIdleZoomWithTheCentreInTheMiddle)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_double(settings, "idle_zoom_factor", 3.0);
	obs_data_set_double(settings, "idle_center_x", 0.2);
	obs_data_set_double(settings, "idle_center_y", 0.7);
	Filter f(settings);
	obs_data_release(settings);

	EXPECT_EQ(f->current_zoom, 3.0);
	EXPECT_EQ(f->transition_start_zoom, 3.0);
	EXPECT_EQ(f->transition_progress, 1.0);
	EXPECT_EQ(f->active_stage, -1);
	EXPECT_EQ(f->current_center_x, 0.5);
	EXPECT_EQ(f->current_center_y, 0.5);
	EXPECT_EQ(f->target_center_x, 0.5);
	EXPECT_EQ(f->target_center_y, 0.5);
	EXPECT_EQ(f->idle.center_x, 0.2);
	EXPECT_EQ(f->idle.center_y, 0.7);
	EXPECT_FALSE(f->hotkeys_registered);
	EXPECT_EQ(f->idle_zoom_in_hotkey, OBS_INVALID_HOTKEY_ID);
	EXPECT_EQ(f->idle_zoom_out_hotkey, OBS_INVALID_HOTKEY_ID);

	/* the first frames glide the centre from the middle to the idle centre */
	tick(f.source, 1.0f / 60.0f);
	EXPECT_GT(f->current_center_y, 0.5);
	EXPECT_LT(f->current_center_y, 0.7);
	EXPECT_EQ(f->target_center_y, 0.7);
}

TEST(Update, TheStageListIsClampedToOneToEightButTheCountIsKept)
{
	struct Case {
		long long count;
		size_t stages;
	} cases[] = {{0, 1}, {-3, 1}, {3, 3},
		     {8, 8}, {12, 8}, {(1LL << 32) + 2, 2}};
	for (const Case &c : cases) {
		obs_data_t *settings = settings_with("stage_count", c.count);
		Filter f(settings);
		obs_data_release(settings);
		EXPECT_EQ(f->stage_count, static_cast<int32_t>(c.count));
		EXPECT_EQ(f->stages.size(), c.stages) << c.count;
		EXPECT_EQ(f->stage_hotkey_contexts.size(), c.stages);
		for (size_t i = 0; i < f->stages.size(); i++)
			EXPECT_EQ(f->stages[i].name,
				  "Stage " + std::to_string(i + 1));
	}
}

TEST(Update, StagesRemovedAndAddedBackComeBackFromTheirStoredKeys)
{
	obs_data_t *settings = settings_with("stage_count", 8);
	for (int n = 1; n <= 8; n++) {
		const std::string prefix = "stage_" + std::to_string(n) + "_";
		obs_data_set_double(settings, (prefix + "zoom_factor").c_str(),
				    1.0 + n * 0.25);
		obs_data_set_string(settings, (prefix + "name").c_str(),
				    ("Shot " + std::to_string(n)).c_str());
	}
	Filter f(settings);
	obs_data_release(settings);
	ASSERT_EQ(f->stages.size(), 8u);

	f.set_int("stage_count", 3);
	ASSERT_EQ(f->stages.size(), 3u);
	EXPECT_EQ(f->stages[2].name, "Shot 3");

	f.set_int("stage_count", 5);
	ASSERT_EQ(f->stages.size(), 5u);
	for (int i = 0; i < 5; i++) {
		EXPECT_EQ(f->stages[i].zoom_factor, 1.0 + (i + 1) * 0.25);
		EXPECT_EQ(f->stages[i].name, "Shot " + std::to_string(i + 1));
		EXPECT_EQ(f->stages[i].hotkey_id, OBS_INVALID_HOTKEY_ID);
		EXPECT_EQ(f->stage_hotkey_contexts[i], nullptr);
	}
}

TEST(Update, ShrinkingBelowTheActiveStageReturnsToIdleWithoutRestarting)
{
	obs_data_t *settings = settings_with("stage_count", 8);
	Filter f(settings);
	obs_data_release(settings);

	/* as a stage press leaves it: stage 6 shown, transition half done */
	f->active_stage = 5;
	f->transition_start_zoom = 1.25;
	f->transition_progress = 0.5;
	f.set_int("stage_count", 3);
	EXPECT_EQ(f->active_stage, -1);
	EXPECT_EQ(f->transition_start_zoom, 1.25);
	EXPECT_EQ(f->transition_progress, 0.5);

	f->active_stage = 2;
	f.set_int("stage_count", 3);
	EXPECT_EQ(f->active_stage, 2);
	f.set_int("stage_count", 2);
	EXPECT_EQ(f->active_stage, -1);
}

TEST(Update, StoresValuesAsTheyAreWithoutValidation)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, "stage_count", 2);
	obs_data_set_int(settings, "easing_in", 7);
	obs_data_set_double(settings, "stage_2_zoom_factor", 0.25);
	obs_data_set_double(settings, "idle_duration", -1.0);
	obs_data_set_string(settings, "stage_1_name", "");
	obs_data_set_bool(settings, "stage_2_center_tracking", true);
	Filter f(settings);
	obs_data_release(settings);

	EXPECT_EQ(f->easing_in, 7);
	EXPECT_EQ(f->stages[1].zoom_factor, 0.25);
	EXPECT_EQ(f->idle.duration, -1.0);
	EXPECT_EQ(f->stages[0].name, "");
	EXPECT_TRUE(f->stages[1].center_tracking);
	EXPECT_FALSE(f->stages[0].center_tracking);
}

TEST(Update, ASettingChangedMidTransitionDoesNotRestartIt)
{
	obs_data_t *settings = settings_with("stage_count", 2);
	Filter f(settings);
	obs_data_release(settings);

	f->active_stage = 1;
	f->transition_start_zoom = 1.0;
	f->transition_progress = 0.0;
	tick(f.source, 0.125f, 2); /* half of the 0.5 s duration */
	ASSERT_EQ(f->transition_progress, 0.5);
	const double shown = f->current_zoom;
	EXPECT_GT(shown, 1.0);
	EXPECT_LT(shown, 2.0);

	f.set_double("stage_2_zoom_factor", 3.0);
	EXPECT_EQ(f->transition_progress, 0.5);
	EXPECT_EQ(f->transition_start_zoom, 1.0);
	/* the next frame animates towards the new value */
	tick(f.source, 0.0f);
	EXPECT_DOUBLE_EQ(f->current_zoom, 2.0); /* eased half way to 3 */
}

TEST(Tick, AnIdleZoomThatIsNotFiniteNeverStartsATransition)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_double(settings, "idle_zoom_factor", NAN);
	Filter f(settings);
	obs_data_release(settings);
	EXPECT_EQ(f->current_zoom, 1.0);
	EXPECT_EQ(f->transition_start_zoom, 1.0);

	tick(f.source, 1.0f / 60.0f);
	EXPECT_EQ(f->current_zoom, 1.0);
	f.set_double("idle_zoom_factor", 2.5);
	tick(f.source, 1.0f / 60.0f);
	EXPECT_EQ(f->current_zoom, 2.5);
}

int main(int argc, char **argv)
{
	return run_tests_in_host(argc, argv, HostOptions());
}
