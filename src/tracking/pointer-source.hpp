/*
 * Where the mouse pointer is, as fractions of what a filter's parent shows.
 * A filter that follows the pointer holds a PointerClient; the tick asks
 * it for the latest position and gets plain numbers back, never waiting on
 * the display. The platform's implementation (X11: x11-pointer-source.cpp)
 * reads the pointer on a thread of its own while any client exists.
 */
#pragma once

#include "tracking/follower.hpp"

#include <cstdint>
#include <memory>
#include <string>

/* What a filter's parent shows, in plain values. */
struct CaptureSettings {
	enum Kind : int {
		WHOLE_SCREEN = 0, /* any other source: the whole X screen */
		SCREEN = 1,       /* OBS's screen capture */
		WINDOW = 2,       /* OBS's window capture */
	};
	/* how a window capture finds its window, as OBS's does */
	enum WindowMatch : int {
		BY_ID = 0,            /* the window of that id */
		BY_ID_NAME_CLASS = 1, /* that id while it is a client window,
					 else the first client of that name
					 and class, else the id */
		FIRST_CLIENT = 2,     /* none chosen: the first client window */
	};
	int kind = WHOLE_SCREEN;
	int64_t screen = 0;  /* SCREEN: its "screen" setting (-1: none) */
	uint32_t window = 0; /* WINDOW: the X window's id; 0 when none */
	int window_match = BY_ID;
	std::string window_name;  /* BY_ID_NAME_CLASS: the title */
	std::string window_class; /* and WM_CLASS's first part */
	bool include_border = false;
	int64_t cut_top = 0;
	int64_t cut_left = 0;
	int64_t cut_right = 0;
	int64_t cut_bot = 0;

	bool operator==(const CaptureSettings &o) const
	{
		return kind == o.kind && screen == o.screen &&
		       window == o.window && window_match == o.window_match &&
		       window_name == o.window_name &&
		       window_class == o.window_class &&
		       include_border == o.include_border &&
		       cut_top == o.cut_top && cut_left == o.cut_left &&
		       cut_right == o.cut_right && cut_bot == o.cut_bot;
	}
	bool operator!=(const CaptureSettings &o) const
	{
		return !(*this == o);
	}
};

/* One filter's view of the pointer: the pointer's follower. */
class PointerClient : public Follower {
public:
	TrackingSubject subject() const override
	{
		return TrackingSubject::Pointer;
	}
	/* Unseen, the view keeps the pointer's last place. */
	FollowReading read(double, bool) override
	{
		FollowReading reading;
		reading.seen = latest(reading.x, reading.y);
		reading.hold = true;
		return reading;
	}
	/* The latest pointer position as fractions of what the parent shows,
	 * clamped to 0..1; false while none is known. Takes a short lock,
	 * never waits on the display and allocates nothing. */
	virtual bool latest(double &fx, double &fy) = 0;
};

/* A client of the platform's pointer, or null where none can be read (no X
 * display, Wayland). The first client starts the sampler, the last one
 * gone asks it to stop; neither waits for the sampler's thread. */
std::unique_ptr<PointerClient> open_pointer_client();

/* Asks the sampler to stop if it still runs (at module unload); never
 * waits for it. */
void stop_pointer_sampler();
