/*
 * The module as OBS Studio on Windows loads it: from OBS's own folder
 * (obs-plugins/64bit/tavimore-free.dll, data/obs-plugins/tavimore-free/),
 * found by libobs's own search of that folder (obs_load_all_modules2), with
 * obs_post_load_modules after it, as OBS starts. The folder is the one the
 * program runs under (TAVIMORE_WINDOWS_HOST, see scripts/windows/wine-run.sh):
 * the step that runs this suite unpacks the release zip into it.
 */
#include "render-checks.hpp"
#include "vendor-host.hpp"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

long info_lines(const std::string &text)
{
	const auto lines = captured_logs();
	return std::count_if(lines.begin(), lines.end(), [&](const LogLine &l) {
		return l.text == text && l.level == LOG_INFO;
	});
}

bool ends_with(const std::string &text, const std::string &end)
{
	return text.size() >= end.size() &&
	       text.compare(text.size() - end.size(), end.size(), end) == 0;
}

int failed_modules = -1;

bool load_obs_folder()
{
	obs_module_failure_info failures = {};
	obs_load_all_modules2(&failures);
	failed_modules = int(failures.count);
	obs_module_failure_info_free(&failures);
	/* obs-websocket's plug-in API, which OBS Studio would bring */
	vendor_host::install();
	obs_post_load_modules();
	return true;
}

} // namespace

TEST(ObsFolder, LoadsTheModuleFromObsPluginFolder)
{
	EXPECT_EQ(failed_modules, 0);
	obs_module_t *module = obs_get_module("tavimore-free");
	ASSERT_NE(module, nullptr);
	std::string binary = obs_get_module_binary_path(module);
	std::string data = obs_get_module_data_path(module);
	std::replace(binary.begin(), binary.end(), '\\', '/');
	std::replace(data.begin(), data.end(), '\\', '/');
	EXPECT_TRUE(ends_with(binary, "/obs-plugins/64bit/tavimore-free.dll"))
		<< binary;
	EXPECT_TRUE(ends_with(data, "/data/obs-plugins/tavimore-free")) << data;
	/* what OBS's plug-in manager lists, instead of the file name */
	EXPECT_STREQ(obs_get_module_name(module), "Tavimore Zoom");
	EXPECT_NE(obs_get_module_description(module), nullptr);
}

/* The third, "plugin unloaded", comes at shutdown (main). */
TEST(ObsFolder, WritesItsLoadLinesOnce)
{
	EXPECT_EQ(info_lines("[tavimore-free] plugin loaded successfully "
			     "(version 1.0.0)"),
		  1);
	EXPECT_EQ(info_lines("[tavimore-free] remote control through "
			     "obs-websocket: tavimore"),
		  1);
}

TEST(ObsFolder, RegistersTheFilterWithItsTranslatedNameAndDefaults)
{
	EXPECT_STREQ(obs_source_get_display_name("tavimore_filter"),
		     "Tavimore Zoom");
	/* the locale files came along, beside the DLL */
	EXPECT_STREQ(obs_module_get_locale_text(obs_get_module("tavimore-free"),
						"Hotkey.ToggleStage"),
		     "Tavimore: Toggle zoom stage");

	OBSDataAutoRelease defaults =
		obs_get_source_defaults("tavimore_filter");
	size_t keys = 0;
	for (obs_data_item_t *item = obs_data_first(defaults); item;
	     obs_data_item_next(&item))
		keys++;
	/* the keys, a hold key per stage, what tracking follows, the automatic
	 * zoom's three, each target's framing, curve and centre mode */
	EXPECT_EQ(keys, 59u + 8u + 1u + 3u + 18u + 27u);
	EXPECT_EQ(obs_data_get_default_double(defaults, "idle_zoom_factor"),
		  1.0);
	EXPECT_EQ(obs_data_get_default_int(defaults, "stage_count"), 1);
	EXPECT_EQ(obs_data_get_default_double(defaults, "stage_1_zoom_factor"),
		  2.0);
	EXPECT_EQ(obs_data_get_default_double(defaults, "tracking_smoothing"),
		  0.6);
	EXPECT_STREQ(obs_data_get_default_string(defaults, "tracking_subject"),
		     "auto");
}

TEST(ObsFolder, ShowsTheZoomTwoWindowWhereItBelongs)
{
	Rig rig({{"idle_zoom_factor", 2.0},
		 {"idle_center_x", 0.25},
		 {"idle_center_y", 0.75},
		 {"idle_duration", 0.0},
		 {"tracking_smoothing", 0.0}});
	wait_frames(40);
	EXPECT_TRUE(shows_window(rig.frame(), crop_of(2.0, 0.25, 0.75)));
}

TEST(ObsFolder, RegistersItsHotkeysOnTheParentAndAStagePressZooms)
{
	Rig rig({{"stage_count", 1},
		 {"stage_1_zoom_factor", 2.0},
		 {"stage_1_center_x", 0.75},
		 {"stage_1_center_y", 0.25},
		 {"stage_1_duration", 0.0},
		 {"tracking_smoothing", 0.0}});
	wait_frames(3); /* the first frame registers the hotkeys */
	const auto ids = hotkey_ids(rig.parent);
	for (const char *name :
	     {"tavimore.stage_1", "tavimore.idle", "tavimore.idle_zoom_in",
	      "tavimore.idle_zoom_out"})
		EXPECT_EQ(ids.count(name), 1u) << name;
	ASSERT_EQ(ids.count("tavimore.stage_1"), 1u);
	EXPECT_TRUE(shows_window(rig.frame(), WHOLE_FRAME));
	press_hotkey(ids.at("tavimore.stage_1"));
	wait_frames(40);
	EXPECT_TRUE(shows_window(rig.frame(), crop_of(2.0, 0.75, 0.25)));
}

int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	::testing::AddGlobalTestEnvironment(new vendor_host::Environment);
	HostOptions options;
	options.video = true;
	options.load_module = false;
	if (!start_host(options) || !load_obs_folder())
		return 1;
	int result = RUN_ALL_TESTS();
	const long alive = stop_host();
	if (info_lines("[tavimore-free] plugin unloaded") != 1) {
		std::fprintf(stderr, "FAILED: no single unload line\n");
		result = 1;
	}
	if (alive != 0) {
		std::fprintf(stderr, "FAILED: %ld libobs allocations alive\n",
			     alive);
		result = 1;
	}
	return result;
}
