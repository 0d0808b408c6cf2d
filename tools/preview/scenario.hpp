/*
 * What the preview plays: a timeline of hotkey events, read from a small
 * text format, and the built-in demo (its settings and its timeline).
 */
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class KeyAction { Press, Release, Tap };

struct TimelineEvent {
	double time = 0.0; /* seconds from the first frame */
	KeyAction action = KeyAction::Tap;
	std::string hotkey;   /* a hotkey name, e.g. "tavimore.stage_1" */
	bool pointer = false; /* a "pointer" line: moves the X pointer */
	double x = 0.0;       /* ... to these fractions of the X screen */
	double y = 0.0;
	int line = 0; /* where it was written, for messages */
};

struct Timeline {
	std::vector<TimelineEvent> events; /* in time order */
	std::optional<double> end;         /* from an "end" line */
	std::string origin;                /* file name, for messages */
};

/*
 * One event a line: TIME ACTION HOTKEY, where ACTION is press, release or
 * tap (press and release at once); TIME pointer X Y, which moves the X
 * pointer to those fractions (0 to 1) of the X screen; or TIME end, which
 * sets the length and closes the timeline. Times are seconds, never negative, never falling.
 * "#" starts a comment. Throws std::runtime_error naming the line.
 */
Timeline parse_timeline(const std::string &text, const std::string &origin);

/* The demo: idle, stage 1, stage 2, back to idle, the idle zoom keys held
 * (in, then out again), then stage 3 following the pointer and back to idle,
 * so that the loop closes. */
extern const char *const demo_timeline;
/* The demo's filter settings, in the settings object's JSON format. */
extern const char *const demo_settings_json;
