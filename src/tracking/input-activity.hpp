/*
 * Clicks and typing, as the automatic zoom needs them: that a mouse button
 * was pressed (and where, as fractions of what the filter's parent shows),
 * and that some key was pressed. Which key never reaches the module: the
 * platforms report "input happened with the pointer still" instead.
 */
#pragma once

#include "core/zoom-core.hpp"

#include <cstdint>

/* Which input an automatic zoom watches ("auto_zoom"). */
enum class AutoZoom : int {
	Off = 0,
	Clicks = 1,
	ClicksAndTyping = 2,
};

/* Running counts, compared by the frame with the ones it saw last. */
struct InputActivity {
	/* presses of a mouse button inside the shown area, and where the
	 * latest one was, as fractions of the area */
	uint32_t clicks = 0;
	double click_x = 0.5;
	double click_y = 0.5;
	/* moments of key input (counted only while typing is watched) */
	uint32_t keys = 0;
};

/* Whether a pointer on the root window lies inside an area (a click on a
 * cut margin or beside a captured window is outside). */
inline bool rect_contains(const CaptureRect &r, double x, double y)
{
	return r.width > 0 && r.height > 0 && x >= r.x && y >= r.y &&
	       x < r.x + r.width && y < r.y + r.height;
}
