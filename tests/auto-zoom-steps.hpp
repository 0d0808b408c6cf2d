/*
 * The automatic zoom's behaviour as one table, played by each platform's
 * test with real input (XTest on X11, SendInput on Windows) on a capture
 * that leaves room beside its area: what the filter shows after each step.
 */
#pragma once

#include "obs-harness.hpp"
#include "filter/zoom-filter.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

/* stage 1 at zoom 2, 1 s of linger, the view on the pointer itself */
constexpr char AUTO_ZOOM_SETTINGS[] =
	R"({"stage_count": 2, "stage_1_zoom_factor": 2.0,
	    "stage_1_duration": 0.2, "tracking_smoothing": 0.0,
	    "tracking_dead_zone": 0.0, "auto_zoom": 2, "auto_zoom_linger": 1.0})";

/* The platform's input: a click, a pointer move or a key press. */
enum class Act { Click, Move, Key, StageKey, IdleKey, Nothing };
/* Two places inside the captured area and one beside it (not NEAR and FAR,
 * which Windows's headers define). */
enum Spot { NOWHERE, HERE, THERE, BESIDE };

inline void
play_auto_zoom(obs_source_t *filter,
	       const std::function<void(Act, Spot)> &input,
	       const std::function<void(Spot, double &, double &)> &fraction)
{
	const struct {
		const char *what;
		Act act;
		Spot at;
		double wait;
		int32_t stage;
		bool automatic;
	} steps[] = {
		{"typing alone starts nothing", Act::Key, NOWHERE, 0.4, -1,
		 false},
		{"a click beside the area is ignored", Act::Click, BESIDE, 0.4,
		 -1, false},
		{"a click zooms to it", Act::Click, HERE, 0.4, 0, true},
		{"the view follows the pointer", Act::Move, THERE, 0.3, 0,
		 true},
		{"typing keeps it", Act::Key, NOWHERE, 0.5, 0, true},
		{"and keeps it", Act::Key, NOWHERE, 0.5, 0, true},
		{"so does a click", Act::Click, HERE, 0.6, 0, true},
		{"after the linger: idle", Act::Nothing, NOWHERE, 1.3, -1,
		 false},
		{"return to idle ends one", Act::Click, THERE, 0.3, 0, true},
		{"at once", Act::IdleKey, NOWHERE, 0.1, -1, false},
		{"a stage key takes over", Act::Click, HERE, 0.3, 0, true},
		/* the key of the stage shown: the user's choice, no toggle */
		{"and stays", Act::StageKey, NOWHERE, 1.5, 0, false},
		{"clicks leave the user's stage", Act::Click, THERE, 0.3, 0,
		 false},
	};
	obs_source_t *parent = obs_filter_get_parent(filter);
	for (const auto &step : steps) {
		SCOPED_TRACE(step.what);
		if (step.act == Act::StageKey || step.act == Act::IdleKey)
			press_hotkey(
				find_hotkey(parent, step.act == Act::StageKey
							    ? "tavimore.stage_1"
							    : "tavimore.idle"));
		input(step.act, step.at);
		std::this_thread::sleep_for(
			std::chrono::duration<double>(step.wait));
		const ZoomSnapshot zoom = snapshot_of(filter);
		EXPECT_EQ(zoom.active_stage, step.stage);
		EXPECT_EQ(zoom.automatic, step.automatic);
		if (!step.automatic || step.at == NOWHERE)
			continue;
		/* centred on the pointer, where a window of zoom 2 fits */
		double fx, fy;
		fraction(step.at, fx, fy);
		EXPECT_NEAR(zoom.target_center_x, std::clamp(fx, 0.25, 0.75),
			    1e-9);
		EXPECT_NEAR(zoom.target_center_y, std::clamp(fy, 0.25, 0.75),
			    1e-9);
	}
}
