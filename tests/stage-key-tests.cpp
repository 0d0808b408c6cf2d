/*
 * The stage keys as a remote button or a held key drives them: hold stages,
 * the return-to-idle key, and the StageChanged event each change sends.
 * Real hotkeys on a real source, no video: the test ticks the filter.
 */
#include "obs-harness.hpp"
#include "vendor-host.hpp"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <map>
#include <string>
#include <vector>

namespace {

const float FRAME = 1.0f / 60;

enum class Do { Press, Release, Idle, Tick, HoldOff };

struct Step {
	Do what;
	double value; /* stage number, or seconds for Tick */
	int active;   /* after the step */
	bool starts;  /* a transition starts from the zoom shown */
	const char *events;
};

/* "Keys" with one zoom filter of three stages: 1 toggles, 2 and 3 hold. */
struct Keys {
	obs_source_t *parent = create_pattern_source("Keys");
	obs_source_t *filter;
	std::map<std::string, obs_hotkey_id> ids;

	Keys()
	{
		if (vendor_host::vendor_name().empty()) {
			vendor_host::install();
			obs_post_load_modules();
		}
		OBSDataAutoRelease settings = obs_data_create_from_json(
			R"({"stage_count": 3, "stage_2_hold": true,
			    "stage_3_hold": true, "stage_1_zoom_factor": 2.0,
			    "stage_2_zoom_factor": 3.0,
			    "stage_3_zoom_factor": 4.0})");
		filter = create_zoom_filter("Zoom K", settings);
		obs_source_filter_add(parent, filter);
		/* the hotkeys are registered after the first frame */
		tick(filter, FRAME);
		wait_destroyed();
		ids = hotkey_ids(parent);
		vendor_host::take_events();
	}
	~Keys()
	{
		remove_and_release(parent, filter);
		wait_destroyed();
	}
	Keys(const Keys &) = delete;
	Keys &operator=(const Keys &) = delete;

	void run(const std::vector<Step> &steps)
	{
		ZoomView f{filter};
		int n = 0;
		for (const Step &step : steps) {
			SCOPED_TRACE("step " + std::to_string(++n));
			const double shown = f->current_zoom;
			const double progress = f->transition_progress;
			const std::string stage =
				"tavimore.stage_" +
				std::to_string(static_cast<int>(step.value));
			switch (step.what) {
			case Do::Press:
			case Do::Release:
				ASSERT_EQ(ids.count(stage), 1u) << stage;
				obs_hotkey_trigger_routed_callback(
					ids[stage], step.what == Do::Press);
				break;
			case Do::Idle:
				ASSERT_EQ(ids.count("tavimore.idle"), 1u);
				press_hotkey(ids["tavimore.idle"]);
				break;
			case Do::Tick:
				tick(filter, static_cast<float>(step.value));
				break;
			case Do::HoldOff: {
				OBSDataAutoRelease off =
					obs_data_create_from_json(
						R"({"stage_2_hold": false})");
				update_filter(filter, off);
				break;
			}
			}
			EXPECT_EQ(f->active_stage, step.active);
			if (step.what == Do::Tick)
				continue;
			if (step.starts) {
				EXPECT_EQ(f->transition_progress, 0.0);
				EXPECT_EQ(f->transition_start_zoom, shown);
			} else {
				EXPECT_EQ(f->transition_progress, progress);
			}
			EXPECT_EQ(vendor_host::take_events_text(), step.events);
		}
	}
};

const char TO_IDLE[] = "StageChanged Keys/Zoom K 0 Idle view; ";
const char TO_1[] = "StageChanged Keys/Zoom K 1 Stage 1; ";
const char TO_2[] = "StageChanged Keys/Zoom K 2 Stage 2; ";
const char TO_3[] = "StageChanged Keys/Zoom K 3 Stage 3; ";

} // namespace

TEST(StageKeys, HoldStagesAndTheIdleKeyFromAStageMidTransitionAndAtIdle)
{
	const std::vector<std::vector<Step>> runs = {
		/* shown while held, back to idle on release */
		{{Do::Press, 2, 1, true, TO_2},
		 {Do::Tick, 0.2, 1, false, ""},
		 {Do::Release, 2, -1, true, TO_IDLE},
		 /* a second release changes nothing */
		 {Do::Release, 2, -1, false, ""},
		 /* pressed while its stage is shown: the release still
		  * returns to idle */
		 {Do::Tick, 1.0, -1, false, ""},
		 {Do::Press, 1, 0, true, TO_1},
		 {Do::Press, 2, 1, true, TO_2},
		 {Do::Tick, 1.0, 1, false, ""},
		 {Do::Press, 2, 1, false, ""},
		 {Do::Release, 2, -1, true, TO_IDLE}},
		/* a release after another stage was chosen changes nothing */
		{{Do::Press, 2, 1, true, TO_2},
		 {Do::Press, 1, 0, true, TO_1},
		 {Do::Release, 1, 0, false, ""},
		 {Do::Release, 2, 0, false, ""},
		 /* another hold stage takes over from the one held */
		 {Do::Press, 2, 1, true, TO_2},
		 {Do::Press, 3, 2, true, TO_3},
		 {Do::Release, 2, 2, false, ""},
		 {Do::Release, 3, -1, true, TO_IDLE}},
		/* with hold off the stage toggles as before */
		{{Do::HoldOff, 0, -1, false, ""},
		 {Do::Press, 2, 1, true, TO_2},
		 {Do::Release, 2, 1, false, ""},
		 {Do::Press, 2, -1, true, TO_IDLE},
		 {Do::Release, 2, -1, false, ""}},
		/* the idle key: at rest on idle, nothing */
		{{Do::Idle, 0, -1, false, ""},
		 /* from a stage fully shown */
		 {Do::Press, 1, 0, true, TO_1},
		 {Do::Tick, 1.0, 0, false, ""},
		 {Do::Idle, 0, -1, true, TO_IDLE},
		 /* mid-way to a stage: back from the zoom shown */
		 {Do::Press, 1, 0, true, TO_1},
		 {Do::Tick, 0.1, 0, false, ""},
		 {Do::Idle, 0, -1, true, TO_IDLE},
		 /* mid-way back to idle: starts again, same target */
		 {Do::Tick, 0.1, -1, false, ""},
		 {Do::Idle, 0, -1, true, ""},
		 /* during a hold, whose release then changes nothing */
		 {Do::Tick, 1.0, -1, false, ""},
		 {Do::Press, 3, 2, true, TO_3},
		 {Do::Idle, 0, -1, true, TO_IDLE},
		 {Do::Release, 3, -1, false, ""}},
	};
	for (size_t i = 0; i < runs.size(); i++) {
		SCOPED_TRACE("run " + std::to_string(i + 1));
		Keys keys;
		keys.run(runs[i]);
	}
}

TEST(HoldStage, AKeyDownWhenTheHotkeysGoIsReleased)
{
	Keys keys;
	keys.run({{Do::Press, 2, 1, true, TO_2}});
	/* off its source, the filter's hotkeys go and no release will come */
	obs_source_filter_remove(keys.parent, keys.filter);
	wait_destroyed();
	ZoomView f{keys.filter};
	EXPECT_EQ(f->active_stage, -1);
	EXPECT_EQ(f->held_stage, -1);
	EXPECT_EQ(f->transition_progress, 0.0);
	/* the event names the source the key was on */
	EXPECT_EQ(vendor_host::take_events_text(), TO_IDLE);
	obs_source_filter_add(keys.parent, keys.filter);
}

int main(int argc, char **argv)
{
	::testing::AddGlobalTestEnvironment(new vendor_host::Environment);
	return run_tests_in_host(argc, argv, HostOptions{});
}
