/*
 * Where the mouse pointer is, as fractions of what a filter's parent shows.
 * A filter that follows the pointer holds a PointerClient; the tick asks
 * it for the latest position and gets plain numbers back, never waiting on
 * the display. The platform's implementation (X11: x11-pointer-source.cpp)
 * reads the pointer on a thread of its own while any client exists.
 */
#pragma once

#include "tracking/capture-settings.hpp"
#include "tracking/follower.hpp"

#include <memory>

/* One filter's view of the pointer: the pointer's follower. */
class PointerClient : public Follower {
public:
	PointerClient() : Follower(TrackingSubject::Pointer) {}
	/* Read only while the target tracks; unseen, the view stays put. */
	FollowReading read(double, bool tracking) override
	{
		FollowReading reading;
		reading.seen = tracking && latest(reading.x, reading.y);
		followed = tracking && (followed || reading.seen);
		reading.followed = followed;
		return reading;
	}
	/* The latest pointer position as fractions of what the parent shows,
	 * clamped to 0..1; false while none is known. Takes a short lock,
	 * never waits on the display and allocates nothing. */
	virtual bool latest(double &fx, double &fy) = 0;

private:
	bool followed = false;
};

/* A client of the platform's pointer, or null where none can be read (no X
 * display, Wayland). The first client starts the sampler, the last one
 * gone asks it to stop; neither waits for the sampler's thread. */
std::unique_ptr<PointerClient> open_pointer_client();

/* Asks the sampler to stop if it still runs (at module unload); never
 * waits for it. */
void stop_pointer_sampler();
