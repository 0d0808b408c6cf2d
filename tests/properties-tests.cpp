/*
 * The property sheet as libobs hands it to OBS Studio: its entries, their
 * ranges and labels, and the callbacks that show and hide parts of it.
 */
#include "obs-harness.hpp"
#include "locale-file.hpp"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

namespace {

/* The English text of a key, read from the file rather than through the
 * module (a missing key throws, which fails the test). */
const std::string &text_of(const std::string &key)
{
	static const auto texts = locale_texts(TAVIMORE_DATA_DIR, "en-US");
	return texts.at(key);
}

std::vector<obs_property_t *> entries_of(obs_properties_t *set)
{
	std::vector<obs_property_t *> entries;
	for (obs_property_t *p = obs_properties_first(set); p;) {
		entries.push_back(p);
		if (!obs_property_next(&p))
			break;
	}
	return entries;
}

std::vector<std::string> names_of(obs_properties_t *set)
{
	std::vector<std::string> names;
	for (obs_property_t *p : entries_of(set))
		names.push_back(obs_property_name(p));
	return names;
}

std::string stage_prefix(int n)
{
	return "stage_" + std::to_string(n) + "_";
}

void expect_float_slider(obs_property_t *p, double min, double max, double step)
{
	ASSERT_NE(p, nullptr);
	const std::string name = obs_property_name(p);
	ASSERT_EQ(obs_property_get_type(p), OBS_PROPERTY_FLOAT) << name;
	EXPECT_EQ(obs_property_float_type(p), OBS_NUMBER_SLIDER) << name;
	EXPECT_DOUBLE_EQ(obs_property_float_min(p), min) << name;
	EXPECT_DOUBLE_EQ(obs_property_float_max(p), max) << name;
	EXPECT_DOUBLE_EQ(obs_property_float_step(p), step) << name;
}

void expect_label(obs_property_t *p, const char *key)
{
	ASSERT_NE(p, nullptr);
	ASSERT_NE(obs_property_description(p), nullptr) << obs_property_name(p);
	EXPECT_EQ(std::string(obs_property_description(p)), text_of(key))
		<< obs_property_name(p) << " should read the text of " << key;
}

/* Runs the entry's modified callback the way the host does, with settings
 * holding the given value under the entry's own name. */
template<typename T> bool modify_with(obs_property_t *p, T value)
{
	obs_data_t *settings = obs_data_create();
	if constexpr (std::is_same_v<T, bool>)
		obs_data_set_bool(settings, obs_property_name(p), value);
	else if constexpr (std::is_same_v<T, const char *>)
		obs_data_set_string(settings, obs_property_name(p), value);
	else
		obs_data_set_int(settings, obs_property_name(p), value);
	const bool refresh = obs_property_modified(p, settings);
	obs_data_release(settings);
	return refresh;
}

/* Which of the eight stage groups are visible, stage 1 first. */
std::vector<bool> stage_groups_shown(obs_properties_t *props)
{
	std::vector<bool> shown;
	for (int n = 1; n <= 8; n++) {
		obs_property_t *group = obs_properties_get(
			props, (stage_prefix(n) + "group").c_str());
		EXPECT_NE(group, nullptr) << "stage " << n;
		shown.push_back(group && obs_property_visible(group));
	}
	return shown;
}

std::vector<bool> first_shown(int count)
{
	std::vector<bool> shown(8, false);
	std::fill_n(shown.begin(), std::clamp(count, 1, 8), true);
	return shown;
}

/* A text shown as information, word-wrapped, with the text of `key`. */
void expect_info_text(obs_property_t *p, const char *key)
{
	ASSERT_NE(p, nullptr);
	ASSERT_EQ(obs_property_get_type(p), OBS_PROPERTY_TEXT);
	EXPECT_EQ(obs_property_text_type(p), OBS_TEXT_INFO);
	EXPECT_TRUE(obs_property_text_info_word_wrap(p));
	expect_label(p, key);
}

obs_property_t *help_info(obs_properties_t *props)
{
	return obs_properties_get(props, "help_info");
}

bool visible(obs_properties_t *props, const char *name)
{
	return obs_property_visible(obs_properties_get(props, name));
}

/* The sheet without an instance (false) or of a fresh instance (true). */
class Sheet : public testing::TestWithParam<bool> {
protected:
	void SetUp() override
	{
		if (GetParam()) {
			filter = create_zoom_filter("sheet", nullptr);
			ASSERT_NE(filter, nullptr);
			props = obs_source_properties(filter);
		} else {
			props = obs_get_source_properties("tavimore_filter");
		}
		ASSERT_NE(props, nullptr);
	}
	void TearDown() override
	{
		obs_properties_destroy(props);
		obs_source_release(filter);
	}

	obs_source_t *filter = nullptr;
	obs_properties_t *props = nullptr;
};

TEST_P(Sheet, HoldsItsGroupsAndTheirEntriesInOrder)
{
	struct Expected {
		std::string name;
		obs_property_type type;
		std::string label;
		std::vector<std::string> content; /* a group's, when listed */
	};
	std::vector<Expected> expected = {
		{"idle_group", OBS_PROPERTY_GROUP, "Zoom.Group.Idle", {}},
		{"tracking_group",
		 OBS_PROPERTY_GROUP,
		 "Zoom.Group.Tracking",
		 {"tracking_subject", "tracking_dead_zone",
		  "tracking_smoothing"}},
		{"stages_group",
		 OBS_PROPERTY_GROUP,
		 "Zoom.Group.Stages",
		 {"stage_count", "easing_in", "easing_out"}},
		{"auto_group",
		 OBS_PROPERTY_GROUP,
		 "Zoom.Group.Auto",
		 {"auto_zoom", "auto_zoom_stage", "auto_zoom_linger"}},
		{"help_group", OBS_PROPERTY_GROUP, "Help.Group", {}},
		{"about_group", OBS_PROPERTY_GROUP, "About.Group", {}}};
	for (int n = 8; n >= 1; n--) /* after the stages group */
		expected.insert(expected.begin() + 3,
				{stage_prefix(n) + "group",
				 OBS_PROPERTY_GROUP,
				 "Zoom.Group.Stage" + std::to_string(n),
				 {}});

	const auto entries = entries_of(props);
	ASSERT_EQ(entries.size(), 14u);
	for (size_t i = 0; i < entries.size(); i++) {
		SCOPED_TRACE(expected[i].name);
		EXPECT_EQ(obs_property_name(entries[i]), expected[i].name);
		EXPECT_EQ(obs_property_get_type(entries[i]), expected[i].type);
		expect_label(entries[i], expected[i].label.c_str());
		EXPECT_EQ(obs_property_group_type(entries[i]),
			  OBS_GROUP_NORMAL);
		ASSERT_NE(obs_property_group_content(entries[i]), nullptr);
		if (!expected[i].content.empty())
			EXPECT_EQ(names_of(obs_property_group_content(
					  entries[i])),
				  expected[i].content);
	}
	const char *const labels[][2] = {
		{"stage_count", "Zoom.StageCount"},
		{"easing_in", "Zoom.EasingIn"},
		{"easing_out", "Zoom.EasingOut"},
		{"tracking_smoothing", "Zoom.TrackingSmoothing"},
		{"tracking_dead_zone", "Zoom.TrackingDeadZone"},
		{"tracking_subject", "Zoom.TrackingSubject"},
		{"auto_zoom", "Zoom.AutoZoom"},
		{"auto_zoom_stage", "Zoom.AutoZoomStage"},
		{"auto_zoom_linger", "Zoom.AutoZoomLinger"}};
	for (const auto &label : labels)
		expect_label(obs_properties_get(props, label[0]), label[1]);

	obs_property_t *count = obs_properties_get(props, "stage_count");
	EXPECT_EQ(obs_property_int_type(count), OBS_NUMBER_SLIDER);
	EXPECT_EQ(obs_property_int_min(count), 1);
	EXPECT_EQ(obs_property_int_max(count), 8);
	EXPECT_EQ(obs_property_int_step(count), 1);

	expect_float_slider(obs_properties_get(props, "tracking_smoothing"),
			    0.0, 0.95, 0.01);
	expect_float_slider(obs_properties_get(props, "tracking_dead_zone"),
			    0.0, 0.9, 0.05);

	/* what tracking follows: the stored strings, in this order */
	obs_property_t *subject = obs_properties_get(props, "tracking_subject");
	EXPECT_EQ(obs_property_list_format(subject), OBS_COMBO_FORMAT_STRING);
	const char *const subjects[][2] = {
		{"auto", "Zoom.TrackingSubject.Auto"},
		{"pointer", "Zoom.TrackingSubject.Pointer"},
		{"face", "Zoom.TrackingSubject.Face"}};
	ASSERT_EQ(obs_property_list_item_count(subject), 3u);
	for (size_t i = 0; i < 3; i++) {
		EXPECT_STREQ(obs_property_list_item_string(subject, i),
			     subjects[i][0]);
		EXPECT_EQ(std::string(obs_property_list_item_name(subject, i)),
			  text_of(subjects[i][1]));
	}
}

TEST_P(Sheet, EachZoomGroupListsItsTargetInOrder)
{
	struct Expected {
		const char *suffix;
		obs_property_type type;
		const char *label;
		double min, max, step;
		bool stage_only;
	};
	const Expected target[] = {
		{"name", OBS_PROPERTY_TEXT, "Zoom.Stage.Name", 0, 0, 0, true},
		{"zoom_factor", OBS_PROPERTY_FLOAT, "Zoom.Stage.Factor", 1.0,
		 5.0, 0.1},
		{"duration", OBS_PROPERTY_FLOAT, "Zoom.Stage.Duration", 0.05,
		 3.0, 0.05},
		{"easing", OBS_PROPERTY_LIST, "Zoom.Curve", 0, 0, 0},
		{"bezier", OBS_PROPERTY_TEXT, "Zoom.Bezier", 0, 0, 0},
		{"center_mode", OBS_PROPERTY_LIST, "Zoom.TrackingEnabled", 0, 0,
		 0},
		{"center_x", OBS_PROPERTY_FLOAT, "Zoom.CenterX", 0.0, 1.0,
		 0.01},
		{"center_y", OBS_PROPERTY_FLOAT, "Zoom.CenterY", 0.0, 1.0,
		 0.01},
		{"hold", OBS_PROPERTY_BOOL, "Zoom.Stage.Hold", 0, 0, 0, true},
		/* framing a face last */
		{"face_framing", OBS_PROPERTY_BOOL, "Zoom.FaceFraming", 0, 0,
		 0},
		{"face_share", OBS_PROPERTY_FLOAT, "Zoom.FaceShare", 0.1, 0.8,
		 0.05},
	};

	for (int n = 0; n <= 8; n++) {
		const bool stage = n > 0;
		const std::string prefix = stage ? stage_prefix(n) : "idle_";
		SCOPED_TRACE(prefix + "group");
		obs_properties_t *content = obs_property_group_content(
			obs_properties_get(props, (prefix + "group").c_str()));
		ASSERT_NE(content, nullptr);
		auto entries = entries_of(content);
		ASSERT_EQ(entries.size(), stage ? 11u : 9u);

		size_t at = 0;
		for (const Expected &e : target) {
			if (e.stage_only && !stage)
				continue;
			obs_property_t *p = entries[at++];
			const std::string suffix = e.suffix;
			EXPECT_EQ(obs_property_name(p), prefix + suffix);
			const bool idle_duration = !stage &&
						   suffix == "duration";
			expect_label(p, idle_duration ? "Zoom.Idle.Duration"
						      : e.label);
			if (e.type == OBS_PROPERTY_FLOAT) {
				expect_float_slider(p, e.min, e.max, e.step);
				continue;
			}
			ASSERT_EQ(obs_property_get_type(p), e.type);
			if (suffix == "name")
				EXPECT_EQ(obs_property_text_type(p),
					  OBS_TEXT_DEFAULT);
			if (suffix == "hold")
				EXPECT_FALSE(modify_with(p, true));
			if (suffix != "center_mode")
				continue;
			const char *modes[] = {"set", "follow", "press"};
			ASSERT_EQ(obs_property_list_item_count(p), 3u);
			for (size_t i = 0; i < 3; i++)
				EXPECT_STREQ(obs_property_list_item_string(p,
									   i),
					     modes[i]);
			/* chosen alone: the tracking group shows for the idle
			 * view and stage 1, the only stage of such settings */
			modify_with(p, "press");
			EXPECT_EQ(visible(props, "tracking_group"), n <= 1);
		}
	}
}

/* The automatic zoom's stage and linger show only while it is on; framing a
 * face only where the target may follow a face, its share while it frames;
 * a Bézier only with the custom curve. */
TEST_P(Sheet, EntriesShowOnlyWhereTheyApply)
{
	obs_property_t *mode = obs_properties_get(props, "auto_zoom");
	ASSERT_EQ(obs_property_list_item_count(mode), 3u);
	for (long long v : {0, 1, 2})
		EXPECT_EQ(obs_property_list_item_int(mode, size_t(v)), v);
	const char *const names[] = {
		"auto_zoom_stage",      "auto_zoom_linger",
		"stage_2_face_framing", "stage_2_face_share",
		"stage_2_bezier",       "idle_face_framing"};
	const auto shown = [&] {
		std::string all;
		for (const char *name : names)
			all += visible(props, name) ? '1' : '0';
		return all;
	};
	/* each step's changes, and which of those entries show after it */
	const std::pair<const char *, const char *> steps[] = {
		{R"({"auto_zoom": 1})", "110000"},
		{R"({"auto_zoom": 0})", "000000"},
		{R"({"auto_zoom": 2})", "110000"},
		{R"({"auto_zoom": 0, "stage_2_center_tracking": true})",
		 "001000"},
		{R"({"stage_2_face_framing": true})", "001100"},
		{R"({"tracking_subject": "pointer"})", "000000"},
		/* a view held where the pointer was follows no face */
		{R"({"tracking_subject": "auto", "stage_2_center_mode": "press"})",
		 "000000"},
		{R"({"stage_2_center_mode": "follow", "stage_2_easing": "custom"})",
		 "001110"},
		{R"({"stage_2_center_tracking": false, "stage_2_easing": "smooth"})",
		 "000000"},
	};
	OBSDataAutoRelease settings = obs_data_create();
	for (const auto &[json, want] : steps) {
		SCOPED_TRACE(json);
		const std::string before = shown();
		OBSDataAutoRelease change = obs_data_create_from_json(json);
		obs_data_apply(settings, change);
		/* any entry's callback shows the sheet as the settings are, and
		 * asks for a refresh when that changed */
		const bool refresh = obs_property_modified(mode, settings);
		EXPECT_EQ(shown(), want);
		if (shown() != before)
			EXPECT_TRUE(refresh);
	}
}

TEST_P(Sheet, EasingListsOfferTheThreeCurvesInOrder)
{
	const char *labels[] = {"Zoom.Easing.Linear", "Zoom.Easing.EaseInOut",
				"Zoom.Easing.EaseOut"};
	for (const char *name : {"easing_in", "easing_out"}) {
		SCOPED_TRACE(name);
		obs_property_t *list = obs_properties_get(props, name);
		ASSERT_NE(list, nullptr);
		EXPECT_EQ(obs_property_list_type(list), OBS_COMBO_TYPE_LIST);
		EXPECT_EQ(obs_property_list_format(list), OBS_COMBO_FORMAT_INT);
		ASSERT_EQ(obs_property_list_item_count(list), 3u);
		for (size_t i = 0; i < 3; i++) {
			EXPECT_EQ(obs_property_list_item_int(list, i),
				  (long long)i);
			EXPECT_EQ(std::string(
					  obs_property_list_item_name(list, i)),
				  text_of(labels[i]));
			EXPECT_FALSE(obs_property_list_item_disabled(list, i));
		}
	}
}

TEST_P(Sheet, HelpAndAboutGroupsHoldTheirTexts)
{
	obs_properties_t *help = obs_property_group_content(
		obs_properties_get(props, "help_group"));
	ASSERT_NE(help, nullptr);
	EXPECT_EQ(names_of(help),
		  (std::vector<std::string>{"help_show", "help_info"}));
	obs_property_t *show = obs_properties_get(help, "help_show");
	ASSERT_EQ(obs_property_get_type(show), OBS_PROPERTY_BOOL);
	expect_label(show, "Help.Toggle");
	expect_info_text(help_info(props), "Help.Text");
	/* the settings hold no help_show of their own: the text stays folded */
	EXPECT_FALSE(obs_property_visible(help_info(props)));

	obs_properties_t *about = obs_property_group_content(
		obs_properties_get(props, "about_group"));
	ASSERT_NE(about, nullptr);
	EXPECT_EQ(names_of(about), (std::vector<std::string>{"about_info"}));
	obs_property_t *about_info = obs_properties_get(about, "about_info");
	expect_info_text(about_info, "About.Text");
	EXPECT_TRUE(obs_property_visible(about_info));
}

TEST_P(Sheet, OpensWithOnlyTheFirstStageGroupForOneStage)
{
	EXPECT_EQ(stage_groups_shown(props), first_shown(1));
}

INSTANTIATE_TEST_SUITE_P(Properties, Sheet, testing::Values(false, true),
			 [](const testing::TestParamInfo<bool> &info) {
				 return info.param ? "OfAnInstance"
						   : "WithoutAnInstance";
			 });

TEST(Properties, StageCountShowsTheStageGroupsUpToTheCount)
{
	obs_properties_t *props = obs_get_source_properties("tavimore_filter");
	ASSERT_NE(props, nullptr);
	obs_property_t *count = obs_properties_get(props, "stage_count");

	/* one sheet edited in turn, so that groups must come back too */
	const struct {
		long long value;
		int shown_up_to;
	} steps[] = {
		{3, 3},
		{0, 1},
		{-2, 1},
		{8, 8},
		{20, 20},
		{5, 5},
		{1, 1},
		/* the count is the low 32 bits of the stored integer */
		{(1LL << 32) + 3, 3},
		{(1LL << 32) - 2, 1},
		{-(1LL << 32) + 8, 8},
	};
	for (const auto &step : steps) {
		SCOPED_TRACE("stage_count " + std::to_string(step.value));
		EXPECT_TRUE(modify_with(count, step.value));
		EXPECT_EQ(stage_groups_shown(props),
			  first_shown(step.shown_up_to));
	}
	obs_properties_destroy(props);
}

/* What a sheet shows: each visible entry with its label, in order. */
void shown_entries(obs_properties_t *set, std::vector<std::string> &out)
{
	for (obs_property_t *p : entries_of(set)) {
		if (!obs_property_visible(p))
			continue;
		out.push_back(std::string(obs_property_name(p)) + ": " +
			      obs_property_description(p));
		if (obs_property_get_type(p) == OBS_PROPERTY_GROUP)
			shown_entries(obs_property_group_content(p), out);
	}
}

void on_update_properties(void *asked, calldata_t *)
{
	*static_cast<bool *>(asked) = true;
}

/* A sheet kept open as OBS Studio's properties view keeps it: rebuilt
 * (obs_source_properties) when the filter signals "update_properties",
 * else only redrawn from the same entries. Each step ends with a second
 * of frames, after which the sheet must show what a new one shows. */
TEST(Properties, AnOpenSheetShowsWhatTheSettingsHoldAfterDefaultsAndEdits)
{
	enum Kind { Edit, Defaults29, Defaults30, Remote };
	const struct {
		const char *settings;
		std::vector<std::tuple<Kind, const char *, const char *, int>>
			steps; /* kind, entry edited, change, stages shown */
	} rows[] = {
		{R"({"stage_count": 8})", {{Defaults29, "", "", 1}}},
		{R"({"stage_count": 8})", {{Defaults30, "", "", 1}}},
		{R"({"stage_count": 3, "stage_1_name": "Close-up",
		     "stage_3_center_tracking": true})",
		 {{Defaults29, "", "", 1}}},
		{"{}",
		 {{Edit, "stage_count", R"({"stage_count": 5})", 5},
		  {Edit, "stage_4_center_mode",
		   R"({"stage_4_center_mode": "follow"})", 5},
		  {Edit, "stage_4_name", R"({"stage_4_name": "Board"})", 5},
		  {Edit, "stage_count", R"({"stage_count": 3})", 3},
		  {Edit, "idle_center_mode", R"({"idle_center_mode": "press"})",
		   3},
		  {Edit, "stage_4_center_mode",
		   R"({"stage_4_center_mode": "set"})", 3},
		  {Defaults29, "", "", 1}}},
		/* obs-websocket changes the settings under an open sheet */
		{"{}",
		 {{Remote, "", R"({"stage_count": 4, "stage_2_name": "Wide",
		       "stage_4_center_tracking": true})",
		   4},
		  {Remote, "", R"({"stage_count": 2})", 2}}},
		/* a target's Bézier shows only with the custom curve */
		{R"({"stage_count": 2, "stage_1_easing": "custom"})",
		 {{Edit, "stage_2_easing", R"({"stage_2_easing": "custom"})", 2},
		  {Edit, "stage_1_easing", R"({"stage_1_easing": "smooth"})", 2},
		  {Remote, "", R"({"idle_easing": "custom"})", 2},
		  {Defaults29, "", "", 1}}},
	};
	for (const auto &row : rows) {
		SCOPED_TRACE(row.settings);
		obs_data_t *settings = obs_data_create_from_json(row.settings);
		obs_source_t *filter = create_zoom_filter("open", settings);
		obs_data_release(settings);
		settings = obs_source_get_settings(filter);
		signal_handler_t *signals =
			obs_source_get_signal_handler(filter);
		bool asked = false;
		signal_handler_connect(signals, "update_properties",
				       on_update_properties, &asked);
		obs_properties_t *sheet = obs_source_properties(filter);
		for (const auto &[kind, entry, json, stages_shown] :
		     row.steps) {
			SCOPED_TRACE(std::string(entry) + json);
			obs_data_t *change = obs_data_create_from_json(json);
			if (kind == Edit) {
				/* the view writes the setting and updates the
				 * filter, whose update runs at the next frame,
				 * here at the worst moment: before the view runs
				 * the entry's modified callback */
				obs_data_apply(settings, change);
				update_filter(filter, nullptr);
				tick(filter, 0.1f);
				obs_property_modified(obs_properties_get(sheet,
									 entry),
						      settings);
				/* the centre mode also sets center_tracking and
				 * asks for an update, run at the next frame */
				if (std::strstr(entry, "center_mode"))
					update_filter(filter, nullptr);
			} else if (kind == Remote) {
				update_filter(filter, change);
			} else {
				/* OBS 30 and later build the sheet anew */
				obs_data_clear(settings);
				update_filter(filter, nullptr);
				asked = asked || kind == Defaults30;
			}
			obs_data_release(change);
			tick(filter, 0.1f, 10);
			/* a rebuild would take the focus from an entry being
			 * edited */
			EXPECT_EQ(asked, kind != Edit);
			if (asked) {
				obs_properties_destroy(sheet);
				sheet = obs_source_properties(filter);
				asked = false;
			}
			EXPECT_EQ(stage_groups_shown(sheet),
				  first_shown(stages_shown));
			obs_properties_t *fresh = obs_source_properties(filter);
			std::vector<std::string> shown, wanted;
			shown_entries(sheet, shown);
			shown_entries(fresh, wanted);
			EXPECT_EQ(shown, wanted);
			obs_properties_destroy(fresh);
		}
		obs_properties_destroy(sheet);
		signal_handler_disconnect(signals, "update_properties",
					  on_update_properties, &asked);
		obs_data_release(settings);
		obs_source_release(filter);
	}
}

TEST(Properties, TheCentreModeListShowsAndKeepsCenterTrackingInStep)
{
	/* the idle view's settings; the mode shown; then one chosen, and the
	 * tracking that an older version reads */
	const std::tuple<const char *, const char *, const char *, bool> rows[] = {
		{R"({"idle_center_tracking": true})", "follow", "set", false},
		/* an older version turned tracking off */
		{R"({"idle_center_tracking": false, "idle_center_mode": "press"})",
		 "set", "follow", true},
	};
	for (const auto &[json, shown, chosen, tracking] : rows) {
		SCOPED_TRACE(json);
		OBSDataAutoRelease data = obs_data_create_from_json(json);
		OBSSourceAutoRelease filter = create_zoom_filter("modes", data);
		OBSDataAutoRelease settings = obs_source_get_settings(filter);
		obs_properties_t *sheet = obs_source_properties(filter);
		EXPECT_STREQ(obs_data_get_string(settings, "idle_center_mode"),
			     shown);
		obs_data_set_string(settings, "idle_center_mode", chosen);
		obs_property_modified(obs_properties_get(sheet,
							 "idle_center_mode"),
				      settings);
		EXPECT_EQ(obs_data_get_bool(settings, "idle_center_tracking"),
			  tracking);
		obs_properties_destroy(sheet);
	}
}

TEST(Properties, HelpToggleShowsAndHidesTheHelpText)
{
	obs_data_t *settings = obs_data_create_from_json(
		R"({"help_show": true, "stage_count": 3})");
	obs_source_t *filter = create_zoom_filter("help", settings);
	obs_data_release(settings);
	ASSERT_NE(filter, nullptr);

	/* as the host opens the sheet of this instance */
	obs_properties_t *props = obs_source_properties(filter);
	ASSERT_NE(props, nullptr);
	EXPECT_TRUE(obs_property_visible(help_info(props)));
	EXPECT_EQ(stage_groups_shown(props), first_shown(3));

	obs_property_t *show = obs_properties_get(props, "help_show");
	for (bool on : {false, true, false}) {
		EXPECT_TRUE(modify_with(show, on));
		EXPECT_EQ(obs_property_visible(help_info(props)), on);
	}
	obs_properties_destroy(props);

	/* the sheet's own first visibility, before any callback has run: of
	 * the instance, of none, of the instance with the help switched off */
	const obs_source_info &info = zoom_filter_info();
	ASSERT_NE(info.get_properties, nullptr);
	for (int step = 0; step < 3; step++) {
		SCOPED_TRACE(step);
		if (step == 2) {
			OBSDataAutoRelease off = obs_data_create();
			obs_data_set_bool(off, "help_show", false);
			obs_source_update(filter, off);
		}
		props = info.get_properties(
			step == 1 ? nullptr : obs_obj_get_data(filter));
		EXPECT_EQ(obs_property_visible(help_info(props)), step == 0);
		obs_properties_destroy(props);
	}

	obs_source_release(filter);
}

/* Every named entry of the sheet, with the set it sits in. */
void collect(obs_properties_t *set, std::vector<obs_property_t *> &out)
{
	for (obs_property_t *p : entries_of(set)) {
		out.push_back(p);
		if (obs_property_get_type(p) == OBS_PROPERTY_GROUP)
			collect(obs_property_group_content(p), out);
	}
}

bool is_setting(obs_property_t *p)
{
	if (obs_property_get_type(p) == OBS_PROPERTY_GROUP)
		return false;
	return !(obs_property_get_type(p) == OBS_PROPERTY_TEXT &&
		 obs_property_text_type(p) == OBS_TEXT_INFO);
}

TEST(Properties, EditsExactlyTheSettingsThatHaveDefaults)
{
	obs_properties_t *props = obs_get_source_properties("tavimore_filter");
	ASSERT_NE(props, nullptr);
	obs_data_t *defaults = obs_get_source_defaults("tavimore_filter");
	ASSERT_NE(defaults, nullptr);

	std::vector<obs_property_t *> all;
	collect(props, all);
	std::set<std::string> edited, other;
	for (obs_property_t *p : all)
		(is_setting(p) ? edited : other).insert(obs_property_name(p));

	std::set<std::string> registered;
	for (obs_data_item_t *item = obs_data_first(defaults); item;
	     obs_data_item_next(&item))
		registered.insert(obs_data_item_get_name(item));

	/* the 58 names themselves: settings-tests */
	/* center_tracking, kept for older versions, is set through the
	 * centre mode's list */
	for (int n = 0; n <= 8; n++)
		registered.erase((n ? stage_prefix(n) : "idle_") +
				 "center_tracking");
	EXPECT_EQ(edited.size(), 59u + 8u + 1u + 3u + 18u + 27u - 9u);
	EXPECT_EQ(edited, registered);

	std::set<std::string> sheet_only = {"idle_group",   "tracking_group",
					    "stages_group", "help_group",
					    "about_group",  "help_info",
					    "about_info",   "auto_group"};
	for (int n = 1; n <= 8; n++)
		sheet_only.insert(stage_prefix(n) + "group");
	EXPECT_EQ(other, sheet_only);

	/* each entry edits its default with the matching type, in range */
	for (obs_property_t *p : all) {
		if (!is_setting(p))
			continue;
		const char *name = obs_property_name(p);
		SCOPED_TRACE(name);
		const char *tip = obs_property_long_description(p);
		EXPECT_TRUE(tip && *tip &&
			    std::string(tip).find(".Tip") == std::string::npos);
		obs_data_item_t *item = obs_data_item_byname(defaults, name);
		ASSERT_NE(item, nullptr);
		switch (obs_property_get_type(p)) {
		case OBS_PROPERTY_FLOAT: {
			ASSERT_EQ(obs_data_item_gettype(item), OBS_DATA_NUMBER);
			EXPECT_EQ(obs_data_item_numtype(item),
				  OBS_DATA_NUM_DOUBLE);
			const double v =
				obs_data_get_default_double(defaults, name);
			EXPECT_GE(v, obs_property_float_min(p));
			EXPECT_LE(v, obs_property_float_max(p));
			break;
		}
		case OBS_PROPERTY_LIST:
			if (obs_property_list_format(p) ==
			    OBS_COMBO_FORMAT_STRING) {
				ASSERT_EQ(obs_data_item_gettype(item),
					  OBS_DATA_STRING);
				const std::string v =
					obs_data_get_default_string(defaults,
								    name);
				bool listed = false;
				for (size_t i = 0;
				     i < obs_property_list_item_count(p); i++)
					listed |= v ==
						  obs_property_list_item_string(
							  p, i);
				EXPECT_TRUE(listed) << v;
				break;
			}
			[[fallthrough]];
		case OBS_PROPERTY_INT: {
			ASSERT_EQ(obs_data_item_gettype(item), OBS_DATA_NUMBER);
			EXPECT_EQ(obs_data_item_numtype(item),
				  OBS_DATA_NUM_INT);
			const long long v =
				obs_data_get_default_int(defaults, name);
			if (obs_property_get_type(p) == OBS_PROPERTY_INT) {
				EXPECT_GE(v, obs_property_int_min(p));
				EXPECT_LE(v, obs_property_int_max(p));
				break;
			}
			bool listed = false;
			for (size_t i = 0; i < obs_property_list_item_count(p);
			     i++)
				listed |= obs_property_list_item_int(p, i) == v;
			EXPECT_TRUE(listed) << v;
			break;
		}
		case OBS_PROPERTY_BOOL:
			EXPECT_EQ(obs_data_item_gettype(item),
				  OBS_DATA_BOOLEAN);
			break;
		case OBS_PROPERTY_TEXT:
			EXPECT_EQ(obs_data_item_gettype(item), OBS_DATA_STRING);
			break;
		default:
			ADD_FAILURE() << "unexpected kind of entry";
		}
		obs_data_item_release(&item);
	}

	obs_data_release(defaults);
	obs_properties_destroy(props);
}

} // namespace

int main(int argc, char **argv)
{
	return run_tests_in_host(argc, argv, HostOptions());
}
