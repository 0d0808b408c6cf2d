/*
 * What a tracking target follows, behind one interface: the frame asks the
 * filter's follower where to look and gets plain numbers back, never seeing
 * X11, Windows or the face detector. The pointer (pointer-source.hpp) and
 * the face (face-tracker.hpp) follow; make_follower picks one.
 *
 * Threads: a follower is the graphics thread's (update and the frame);
 * `frame` and `release_graphics` run inside the graphics context, so the
 * filter makes a follower current and drops it only inside that context.
 * Dropping one never waits for a thread of its own.
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
	bool seen = false; /* seen now, at x, y (fractions of the input) */
	double x = 0.5;
	double y = 0.5;
	bool hold = false; /* unseen: the view stays where it followed it */
	/* while the view follows it, or is `returning` from it to the
	 * target's own centre, it glides at least this softly (0: as set) */
	double least_smoothing = 0.0;
	bool returning = false;
};

class Follower {
public:
	virtual ~Follower() = default;
	virtual TrackingSubject subject() const = 0;
	/* What the filter's parent shows (cheap when unchanged). */
	virtual void set_capture(const CaptureSettings &) {}
	/* Once a frame, `seconds` after the last; `followed`: the view
	 * followed it last frame and still tracks. Never waits or allocates. */
	virtual FollowReading read(double seconds, bool followed) = 0;
	/* After the filter has drawn: a look at its input (`target`). */
	virtual void frame(obs_source_t *, obs_source_t *, uint32_t, uint32_t)
	{
	}
	virtual void release_graphics() {}
};

/* A follower of `subject`; null for none, or where there is none to have
 * (no pointer without an X display). Outside the graphics context. */
std::unique_ptr<Follower> make_follower(TrackingSubject subject);
/* Module unload (never the graphics thread): the pointer's sampler is asked
 * to stop, the face workers told to stop are waited for. */
void stop_followers();
