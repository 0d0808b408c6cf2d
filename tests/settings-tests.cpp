/* Settings: defaults, reading them into the instance, the stage list. */
#include "obs-harness.hpp"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <cmath>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

/* A filter made through libobs from settings written as JSON. */
struct Filter {
	obs_source_t *source;

	explicit Filter(const char *json = "{}")
		: source(create_zoom_filter("zoom", settings(json).get()))
	{
	}
	explicit Filter(obs_data_t *settings)
		: source(create_zoom_filter("zoom", settings))
	{
		obs_data_release(settings);
	}
	~Filter()
	{
		obs_source_release(source);
		wait_destroyed();
	}
	ZoomSnapshot operator->() const { return snapshot_of(source); }
	/* Merges the changes in and runs the update at once. */
	void set(const char *json) const
	{
		update_filter(source, settings(json).get());
	}
	static std::unique_ptr<obs_data_t, void (*)(obs_data_t *)>
	settings(const char *json)
	{
		return {obs_data_create_from_json(json), obs_data_release};
	}
};

} // namespace

TEST(Defaults, RegistersTheFiftyNineKeysThenAHoldKeyPerStage)
{
	std::vector<std::string> expected = {
		"idle_zoom_factor", "idle_center_tracking", "idle_center_x",
		"idle_center_y", "idle_duration", "easing_in", "easing_out",
		"tracking_smoothing", "help_show", "stage_count",
		"tracking_dead_zone", "tracking_subject", "auto_zoom",
		"auto_zoom_stage", "auto_zoom_linger",
		/* each target's framing, curve and centre mode */
		"idle_face_framing", "idle_face_share", "idle_easing",
		"idle_bezier", "idle_center_mode"};
	for (int n = 1; n <= 8; n++)
		for (const char *suffix :
		     {"name", "zoom_factor", "center_tracking", "center_x",
		      "center_y", "duration", "face_framing", "face_share",
		      "easing", "bezier", "center_mode"})
			expected.push_back("stage_" + std::to_string(n) + "_" +
					   suffix);
	for (int n = 1; n <= 8; n++)
		expected.push_back("stage_" + std::to_string(n) + "_hold");

	obs_data_t *defaults = obs_get_source_defaults("tavimore_filter");
	std::vector<std::string> keys;
	for (obs_data_item_t *item = obs_data_first(defaults); item;
	     obs_data_item_next(&item))
		keys.push_back(obs_data_item_get_name(item));
	/* libobs keeps the items sorted by name */
	std::sort(keys.begin(), keys.end());
	std::sort(expected.begin(), expected.end());
	EXPECT_EQ(keys.size(), 59u + 8u + 1u + 3u + 18u + 27u);
	EXPECT_EQ(keys, expected);
	/* the automatic zoom is off until asked for */
	EXPECT_EQ(obs_data_get_default_int(defaults, "auto_zoom"), 0);

	/* the values themselves reach the instance: EmptySettingsGiveTheDefaults */
	EXPECT_FALSE(obs_data_get_default_bool(defaults, "help_show"));
	for (int n = 1; n <= 8; n++) {
		const std::string hold = "stage_" + std::to_string(n) + "_hold";
		EXPECT_EQ(obs_data_get_default_bool(defaults, hold.c_str()),
			  false);
	}
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
	EXPECT_EQ(f->easing_in, Easing::EaseInOut);
	EXPECT_EQ(f->easing_out, Easing::EaseInOut);
	EXPECT_EQ(f->tracking_smoothing, 0.6);
	EXPECT_EQ(f->tracking_dead_zone, 0.25);
	EXPECT_EQ(f->stage_count, 1);
	ASSERT_EQ(f->stages.size(), 1u);
	/* no parent, so no hotkey */
	EXPECT_TRUE(f->stage_keys.empty());
	EXPECT_EQ(f->stages[0].name, "Stage 1");
	EXPECT_EQ(f->stages[0].zoom_factor, 2.0);
	EXPECT_EQ(f->stages[0].center_x, 0.5);
	EXPECT_EQ(f->stages[0].center_y, 0.5);
	EXPECT_EQ(f->stages[0].duration, 0.5);
}

TEST(Update, TheDeadZoneIsClampedIntoZeroToNineTenths)
{
	const struct {
		const char *json;
		double want;
	} cases[] = {
		{R"({"tracking_dead_zone": 0.35})", 0.35},
		{R"({"tracking_dead_zone": 0.95})", 0.9},
		{R"({"tracking_dead_zone": -0.5})", 0.0},
		{R"({"tracking_dead_zone": 1e308})", 0.9},
		{R"({"tracking_dead_zone": "wide"})", 0.0},
	};
	Filter f;
	for (const auto &c : cases) {
		f.set(c.json);
		EXPECT_EQ(f->tracking_dead_zone, c.want) << c.json;
	}
	/* not a number, as the hold keys or a script could store it */
	OBSDataAutoRelease nan = obs_data_create();
	obs_data_set_double(nan, "tracking_dead_zone", std::nan(""));
	update_filter(f.source, nan);
	EXPECT_EQ(f->tracking_dead_zone, 0.0);
}

TEST(Create, StartsAtRestOnTheIdleZoomWithTheCentreInTheMiddle)
{
	Filter f(R"({"idle_zoom_factor": 3.0, "idle_center_x": 0.2,
		     "idle_center_y": 0.7})");

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

	/* the first frames glide the centre from the middle to the idle centre */
	tick(f.source, 1.0f / 60.0f);
	EXPECT_GT(f->current_center_y, 0.5);
	EXPECT_LT(f->current_center_y, 0.7);
	EXPECT_EQ(f->target_center_y, 0.7);
}

TEST(Update, AnUnknownTrackingSubjectFollowsAsAuto)
{
	const struct {
		const char *json;
		TrackingSubject want;
	} cases[] = {
		{R"({"tracking_subject": "face"})", TrackingSubject::Face},
		{R"({"tracking_subject": "pointer"})",
		 TrackingSubject::Pointer},
		{R"({"tracking_subject": "auto"})", TrackingSubject::Auto},
		{R"({"tracking_subject": "pointer"})",
		 TrackingSubject::Pointer},
		{R"({"tracking_subject": "Face"})", TrackingSubject::Auto},
		{R"({"tracking_subject": ""})", TrackingSubject::Auto},
		{R"({"tracking_subject": "face"})", TrackingSubject::Face},
		{R"({"tracking_subject": 2})", TrackingSubject::Auto},
	};
	Filter f;
	EXPECT_EQ(f->tracking_subject, TrackingSubject::Auto);
	for (const auto &c : cases) {
		f.set(c.json);
		EXPECT_EQ(f->tracking_subject, c.want) << c.json;
	}
}

TEST(Update, TheStageListIsClampedToOneToEightButTheCountIsKept)
{
	struct Case {
		long long count;
		size_t stages;
	} cases[] = {{0, 1}, {-3, 1}, {3, 3},
		     {8, 8}, {12, 8}, {(1LL << 32) + 2, 2}};
	for (const Case &c : cases) {
		obs_data_t *settings = obs_data_create();
		obs_data_set_int(settings, "stage_count", c.count);
		Filter f(settings);
		EXPECT_EQ(f->stage_count, static_cast<int32_t>(c.count));
		EXPECT_EQ(f->stages.size(), c.stages) << c.count;
		EXPECT_TRUE(f->stage_keys.empty());
		for (size_t i = 0; i < f->stages.size(); i++)
			EXPECT_EQ(f->stages[i].name,
				  "Stage " + std::to_string(i + 1));
	}
}

TEST(Update, StagesRemovedAndAddedBackComeBackFromTheirStoredKeys)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, "stage_count", 8);
	for (int n = 1; n <= 8; n++) {
		const std::string prefix = "stage_" + std::to_string(n) + "_";
		obs_data_set_double(settings, (prefix + "zoom_factor").c_str(),
				    1.0 + n * 0.25);
		obs_data_set_string(settings, (prefix + "name").c_str(),
				    ("Shot " + std::to_string(n)).c_str());
	}
	Filter f(settings);
	ASSERT_EQ(f->stages.size(), 8u);

	f.set(R"({"stage_count": 3})");
	ASSERT_EQ(f->stages.size(), 3u);
	EXPECT_EQ(f->stages[2].name, "Shot 3");

	f.set(R"({"stage_count": 5})");
	ASSERT_EQ(f->stages.size(), 5u);
	for (int i = 0; i < 5; i++) {
		EXPECT_EQ(f->stages[i].zoom_factor, 1.0 + (i + 1) * 0.25);
		EXPECT_EQ(f->stages[i].name, "Shot " + std::to_string(i + 1));
	}
	EXPECT_TRUE(f->stage_keys.empty());
}

TEST(Update, ShrinkingBelowTheActiveStageEasesBackToIdleFromTheZoomShown)
{
	Filter f(R"({"stage_count": 8, "stage_6_zoom_factor": 3.0})");
	/* as a stage press leaves it: stage 6 half way in */
	set_selection(f.source, 5, 1.0, 0.0);
	tick(f.source, 0.125f, 2);
	const double shown = f->current_zoom;
	ASSERT_GT(shown, 1.5);
	ASSERT_LT(shown, 3.0);

	f.set(R"({"stage_count": 3})");
	EXPECT_EQ(f->active_stage, -1);
	EXPECT_EQ(f->transition_start_zoom, shown);
	EXPECT_EQ(f->transition_progress, 0.0);
	/* the next frames ease down from there, with no jump to idle */
	tick(f.source, 0.125f);
	EXPECT_LT(f->current_zoom, shown);
	EXPECT_GT(f->current_zoom, 1.2);
	tick(f.source, 0.5f);
	EXPECT_EQ(f->current_zoom, 1.0);

	set_selection(f.source, 2, f->transition_start_zoom,
		      f->transition_progress);
	f.set(R"({"stage_count": 3})");
	EXPECT_EQ(f->active_stage, 2);
	f.set(R"({"stage_count": 2})");
	EXPECT_EQ(f->active_stage, -1);
}

TEST(Update, StoresValuesAsTheyAreWithoutValidation)
{
	Filter f(R"({"stage_count": 2, "easing_in": 7,
		     "stage_2_zoom_factor": 0.25, "idle_duration": -1.0,
		     "stage_1_name": "", "stage_2_center_tracking": true})");

	EXPECT_EQ(f->easing_in, Easing(7));
	EXPECT_EQ(f->stages[1].zoom_factor, 0.25);
	EXPECT_EQ(f->idle.duration, -1.0);
	EXPECT_EQ(f->stages[0].name, "");
	EXPECT_TRUE(f->stages[1].center_tracking);
	EXPECT_FALSE(f->stages[0].center_tracking);
}

TEST(Update, ASettingChangedMidTransitionDoesNotRestartIt)
{
	Filter f(R"({"stage_count": 2})");
	set_selection(f.source, 1, 1.0, 0.0);
	tick(f.source, 0.125f, 2); /* half of the 0.5 s duration */
	ASSERT_EQ(f->transition_progress, 0.5);
	const double shown = f->current_zoom;
	EXPECT_GT(shown, 1.0);
	EXPECT_LT(shown, 2.0);

	f.set(R"({"stage_2_zoom_factor": 3.0})");
	EXPECT_EQ(f->transition_progress, 0.5);
	EXPECT_EQ(f->transition_start_zoom, 1.0);
	/* the next frame animates towards the new value */
	tick(f.source, 0.0f);
	EXPECT_DOUBLE_EQ(f->current_zoom, 2.0); /* eased half way to 3 */
}

TEST(Update, EachTargetReadsItsCurveAndAnOldCollectionKeepsTheFiltersRule)
{
	/* half way to stage 1 (zoom 3) from 1, or to idle (-1) from 3 */
	const struct {
		const char *json;
		int32_t active;
		double expected;
	} rows[] = {
		/* saved before targets had curves: easing_in ease-out,
		 * easing_out linear, as before */
		{R"({"easing_in": 2, "easing_out": 0})", 0, 2.75},
		{R"({"easing_in": 2, "easing_out": 0})", -1, 2},
		{R"({"easing_in": 2, "stage_1_easing": "cubic_in"})", 0, 1.25},
		{R"({"easing_out": 2, "idle_easing": "smooth"})", -1, 2},
		/* a name not known keeps the filter's rule */
		{R"({"easing_in": 2, "stage_1_easing": "bounce"})", 0, 2.75},
		/* a Bézier that does not read is CSS's ease, the default */
		{R"({"stage_1_easing": "custom", "stage_1_bezier": "0.42, 0"})",
		 0, 2.6048068},
		{R"j({"stage_1_easing": "custom",
		      "stage_1_bezier": "cubic-bezier(0.42, 0, 1, 1)"})j",
		 0, 1.6307136},
	};
	for (const auto &row : rows) {
		SCOPED_TRACE(row.json);
		Filter f(row.json);
		f.set(R"({"stage_1_zoom_factor": 3.0})");
		set_selection(f.source, row.active, row.active < 0 ? 3 : 1,
			      0.0);
		tick(f.source, 0.25f);
		EXPECT_NEAR(f->current_zoom, row.expected, 1e-6);
	}

	/* saved again, nothing is added that today's collections lack */
	const char *saved = R"({"easing_in": 2, "stage_count": 2,
				"stage_2_center_tracking": true})";
	Filter f(saved);
	OBSDataAutoRelease settings = obs_source_get_settings(f.source);
	OBSDataAutoRelease before = obs_data_create_from_json(saved);
	EXPECT_STREQ(obs_data_get_json(settings), obs_data_get_json(before));
}

TEST(Tick, AnIdleZoomThatIsNotFiniteNeverStartsATransition)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_double(settings, "idle_zoom_factor", NAN);
	Filter f(settings);
	EXPECT_EQ(f->current_zoom, 1.0);
	EXPECT_EQ(f->transition_start_zoom, 1.0);

	tick(f.source, 1.0f / 60.0f);
	EXPECT_EQ(f->current_zoom, 1.0);
	f.set(R"({"idle_zoom_factor": 2.5})");
	tick(f.source, 1.0f / 60.0f);
	EXPECT_EQ(f->current_zoom, 2.5);
}

int main(int argc, char **argv)
{
	return run_tests_in_host(argc, argv, HostOptions());
}
