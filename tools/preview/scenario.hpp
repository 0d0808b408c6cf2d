/*
 * What the preview plays: a timeline of hotkey events, read from a small
 * text format, and the built-in demo (its settings and its timeline).
 */
#pragma once

#include <optional>
#include <string>
#include <vector>

/* Pointer moves the X pointer, Click moves it and clicks there, Type
 * presses a key; tap is a press and a release at once. */
enum class Action { Press, Release, Tap, Pointer, Click, Type };

struct TimelineEvent {
	double time = 0.0; /* seconds from the first frame */
	Action action = Action::Tap;
	std::string hotkey; /* a hotkey name, e.g. "tavimore.stage_1" */
	double x = 0.0;     /* Pointer, Click: fractions of the X screen */
	double y = 0.0;
	int line = 0; /* where it was written, for messages */
};

struct Timeline {
	std::vector<TimelineEvent> events; /* in time order */
	std::optional<double> end;         /* from an "end" line */
	std::string origin;                /* file name, for messages */
};

/* Reads the format --help describes; throws std::runtime_error naming the
 * line. */
Timeline parse_timeline(const std::string &text, const std::string &origin);

/* The demo: idle, stage 1, stage 2, back to idle, the idle zoom keys held
 * (in, then out again), then stage 3 following the pointer and back to idle,
 * so that the loop closes. */
extern const char *const demo_timeline;
/* The demo's filter settings, in the settings object's JSON format. */
extern const char *const demo_settings_json;
/* The face demo (--demo face, with a video as the input): the idle view,
 * zoomed in, follows the face in the video, holds it when it is gone and
 * then eases back. */
extern const char *const face_demo_timeline;
extern const char *const face_demo_settings_json;
