/*
 * What a tracking target follows, behind one interface: the pointer
 * (pointer-source.hpp) or the face (face-tracker.hpp), picked by
 * make_follower. The frame gets plain numbers back, never seeing X11,
 * Windows or the face detector. A follower is the graphics thread's
 * (update and the frame); `frame` and `release_graphics` run inside the
 * graphics context. Dropping one never waits for a thread of its own.
 */
#pragma once

#include <cstdint>
#include <memory>

typedef struct obs_source obs_source_t;
struct CaptureSettings;

/* What a target's centre tracking follows, as stored in "tracking_subject":
 * "auto" (the pointer on screen and window captures, a face on any other
 * source), "pointer" or "face"; anything unknown (or none) is Auto. */
enum class TrackingSubject { None = -1, Auto, Pointer, Face };
TrackingSubject tracking_subject_from(const char *setting);
/* What is followed: the setting, with auto resolved by what the parent is
 * (none while there is no parent to tell). */
TrackingSubject followed_subject(TrackingSubject setting, bool has_parent,
				 bool parent_shows_screen);

struct FollowReading {
	/* the view follows it: to x, y when `seen` now (fractions of the
	 * input), else where it was last seen */
	bool followed = false;
	bool seen = false;
	double x = 0.5;
	double y = 0.5;
	double least_smoothing = 0.0; /* > 0: the view glides this softly */
	/* seen: how tall it is, a fraction of the input's height (0: what is
	 * followed has no size, as the pointer) */
	double height = 0.0;
};

class Follower {
public:
	explicit Follower(TrackingSubject followed) : subject(followed) {}
	virtual ~Follower() = default;
	const TrackingSubject subject;
	/* What the filter's parent shows (cheap when unchanged). */
	virtual void set_capture(const CaptureSettings &) {}
	/* Once a frame, `seconds` after the last, while the shown target
	 * `tracking` or not. Never waits or allocates. */
	virtual FollowReading read(double seconds, bool tracking) = 0;
	/* After the filter has drawn: a look at its input (`target`). */
	virtual void frame(obs_source_t *, obs_source_t *, uint32_t, uint32_t)
	{
	}
	virtual void release_graphics() {}
};

/* Draws the filter's input, `target`, over a clear picture, into the texture
 * being rendered: a plain parent through libobs's default effect; any other
 * target (a filter before this one, an asynchronous or custom-drawn parent)
 * through its own render, which libobs draws unfiltered there. */
void draw_target(obs_source_t *target, obs_source_t *parent);

/* A follower of `subject`; null for none, or where there is none to have
 * (no pointer without an X display). Outside the graphics context. */
std::unique_ptr<Follower> make_follower(TrackingSubject subject);
