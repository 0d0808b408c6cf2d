/* The automatic zoom's behaviour as one table, played on a capture by each
 * platform's test with real input (XTest on X11, SendInput on Windows). */
#pragma once

#include "obs-harness.hpp"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <algorithm>
#include <chrono>
#include <thread>

/* The platform's input (click, move, key) or what the table does itself. */
enum class Act { Click, Move, Key, Wait, Stage, Idle, On, Off, Remove };

/* Adds a zoom filter to `parent`, a capture of `area` (screen pixels), and
 * plays the table: `input` acts at x, y before a step's wait, and hears of
 * the table's own acts after theirs. */
inline void play_auto_zoom(obs_source_t *parent, const CaptureRect &area,
			   const std::function<void(Act, int, int)> &input)
{
	/* x, y: fractions of the area; -0.1 lies beside it */
	const struct {
		const char *what;
		Act act;
		double x, y, wait;
		int32_t stage;
		bool automatic;
	} steps[] = {
		{"typing alone starts nothing", Act::Key, 0, 0, .4, -1, false},
		{"a click beside: nothing", Act::Click, -.1, .5, .4, -1, false},
		{"a click zooms to it", Act::Click, .4, .45, .4, 0, true},
		{"the view follows", Act::Move, .95, .9, .3, 0, true},
		{"typing keeps it", Act::Key, 0, 0, .5, 0, true},
		{"and keeps it", Act::Key, 0, 0, .5, 0, true},
		{"so does a click", Act::Click, .4, .45, .6, 0, true},
		{"after the linger: idle", Act::Wait, 0, 0, 1.3, -1, false},
		{"return to idle ends one", Act::Click, .95, .9, .3, 0, true},
		{"at once", Act::Idle, 0, 0, .1, -1, false},
		{"a stage key takes over", Act::Click, .4, .45, .3, 0, true},
		/* the key of the stage shown: the user's choice, no toggle */
		{"and stays", Act::Stage, 0, 0, 1.5, 0, false},
		{"clicks leave it alone", Act::Click, .95, .9, .3, 0, false},
		{"back to idle", Act::Idle, 0, 0, .1, -1, false},
		{"switched off mid-zoom", Act::Click, .4, .45, .3, 0, true},
		{"ends it", Act::Off, 0, 0, .5, -1, false},
		/* a new reader of input: earlier clicks are no news */
		{"on again", Act::On, 0, 0, .3, -1, false},
		{"taken off mid-zoom", Act::Click, .95, .9, .3, 0, true},
		{"ends it too", Act::Remove, 0, 0, .5, -1, false},
	};
	/* stage 1 at zoom 2, 1 s of linger, the view on the pointer itself */
	OBSDataAutoRelease settings = obs_data_create_from_json(
		R"({"stage_count": 2, "stage_1_zoom_factor": 2.0,
		    "stage_1_duration": 0.2, "tracking_smoothing": 0.0,
		    "tracking_dead_zone": 0.0, "auto_zoom": 2, "auto_zoom_linger": 1.0})");
	obs_source_t *filter = create_zoom_filter("auto zoom", settings);
	obs_source_filter_add(parent, filter);
	wait_frames(int(CAPTURE_CHECK_FRAMES) + 2);
	for (const auto &step : steps) {
		SCOPED_TRACE(step.what);
		const Act act = step.act;
		const char *key = act == Act::Stage ? "tavimore.stage_1"
						    : "tavimore.idle";
		if (act == Act::Stage || act == Act::Idle)
			press_hotkey(find_hotkey(parent, key));
		if (act == Act::On || act == Act::Off)
			obs_source_set_enabled(filter, act == Act::On);
		if (act == Act::Remove)
			obs_source_filter_remove(parent, filter);
		const int x = int(area.x + step.x * area.width);
		const int y = int(area.y + step.y * area.height);
		if (act <= Act::Key)
			input(act, x, y);
		std::this_thread::sleep_for(
			std::chrono::duration<double>(step.wait));
		if (act > Act::Key)
			input(act, x, y);
		const ZoomSnapshot z = snapshot_of(filter);
		EXPECT_EQ(z.active_stage, step.stage);
		EXPECT_EQ(z.automatic, step.automatic);
		if (!step.automatic || act == Act::Key)
			continue;
		/* centred on the pointer's pixel, where a window of zoom 2 fits */
		const double fx = (x - area.x + 0.5) / area.width;
		const double fy = (y - area.y + 0.5) / area.height;
		EXPECT_NEAR(z.target_center_x, std::clamp(fx, .25, .75), 1e-9);
		EXPECT_NEAR(z.target_center_y, std::clamp(fy, .25, .75), 1e-9);
	}
	obs_source_release(filter);
}
