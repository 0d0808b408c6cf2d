/* One frame of the zoom animation: hold keys, the eased zoom transition and
 * the smoothed glide of the crop centre, which follows the filter's follower
 * (the pointer or a face) while the shown target tracks. */
#include "filter/zoom-filter.hpp"
#include "core/zoom-core.hpp"
#include "tracking/face-follow.hpp"

#include <algorithm>

void set_follower(ZoomFilter *filter, std::unique_ptr<Follower> next)
{
	if (!filter->follower && !next)
		return;
	obs_enter_graphics();
	if (filter->follower)
		filter->follower->release_graphics();
	filter->follower.swap(next);
	obs_leave_graphics();
	filter->tracking_shown = false;
}

/* What the parent shows, and the follower for what the tracking targets
 * follow there. */
static void sync_followers(ZoomFilter *filter)
{
	obs_source_t *parent = obs_filter_get_parent(filter->source);
	const CaptureSettings &capture = filter->parent_capture;
	capture_settings_of(parent, filter->parent_capture);
	const bool tracks = filter->selection.any_tracking();
	filter->any_tracking = tracks;
	/* a parent with no video (an audio source) shows nothing to follow */
	const bool no_video = parent && !(obs_source_get_output_flags(parent) &
					  OBS_SOURCE_VIDEO);
	const TrackingSubject subject =
		tracks && !no_video
			? followed_subject(
				  filter->tracking_subject, parent,
				  capture.kind !=
					  CaptureSettings::Kind::WholeScreen)
			: TrackingSubject::None;
	Follower *current = filter->follower.get();
	if (subject == (current ? current->subject : TrackingSubject::None)) {
		if (current)
			current->set_capture(capture);
		return;
	}
	std::unique_ptr<Follower> next = make_follower(subject);
	if (next)
		next->set_capture(capture);
	set_follower(filter, std::move(next));
}

void sync_tracking(ZoomFilter *filter)
{
	sync_followers(filter);
	/* the next frame looks at the parent again */
	filter->capture_check_countdown = 0;
}

/* The zoom a target that frames a face asks for this frame: from the face's
 * size while it is seen, still under small changes; held while a lost face
 * is held; else none (0), the target's own. */
static double framing_goal(ZoomFilter *filter, const FollowReading &reading,
			   bool framing, double share)
{
	if (!framing || !reading.followed)
		return 0.0;
	if (reading.seen && reading.height > 0.0)
		return steady_framing_zoom(filter->framing_goal,
					   framing_zoom(reading.height, share));
	return filter->framing_goal;
}

/* An "at the press" target wants where the follower sees the pointer (or
 * face) first since the target was chosen (the choice numbered `choice`);
 * true until then. */
static bool press_pending(ZoomFilter *filter, int64_t choice)
{
	if (choice != filter->press_sequence) {
		filter->press_sequence = choice;
		filter->press_pending = true;
	}
	return filter->press_pending;
}

/* Its centre: that place, then held there; its own centre until seen. */
static void pressed_center(ZoomFilter *filter, const FollowReading &reading,
			   double &x, double &y)
{
	if (filter->press_pending && reading.seen) {
		filter->press_x = reading.x;
		filter->press_y = reading.y;
		filter->press_pending = false;
	}
	if (!filter->press_pending) {
		x = filter->press_x;
		y = filter->press_y;
	}
}

void zoom_filter_tick(void *data, float seconds)
{
	auto *filter = static_cast<ZoomFilter *>(data);

	filter->keys.follow_parent();
	follow_sheet(filter, seconds);
	follow_input(filter, seconds);

	const double dt = seconds;
	/* the dead zone works on the window being zoomed to; a stage shown
	 * automatically follows the automatic zoom's pointer */
	auto [zoom, center_x, center_y, tracking, automatic, pressed, choice,
	      framing, share] = filter->selection.advance(dt, filter->easing_in,
							  filter->easing_out);
	if (filter->framing_goal > 0.0)
		zoom = filter->framing_goal;

	/* the follower and the parent's settings are read without the
	 * selection's lock; what the parent shows (which decides what auto
	 * follows and where the pointer maps to) every CAPTURE_CHECK_FRAMES
	 * frames */
	if ((filter->any_tracking || filter->auto_running) &&
	    filter->capture_check_countdown-- == 0) {
		filter->capture_check_countdown = CAPTURE_CHECK_FRAMES - 1;
		sync_followers(filter);
		if (filter->auto_pointer)
			filter->auto_pointer->set_capture(
				filter->parent_capture);
	}
	Follower *follower = automatic && filter->auto_pointer
				     ? filter->auto_pointer.get()
				     : filter->follower.get();
	/* a view zoomed to where the pointer was reads it until it has */
	const bool looking = tracking ||
			     (pressed && press_pending(filter, choice));
	const FollowReading reading = follower ? follower->read(dt, looking)
					       : FollowReading();
	if (pressed)
		pressed_center(filter, reading, center_x, center_y);
	const bool followed = tracking && reading.followed;
	if (followed && reading.seen) {
		/* the dead zone works on the window being zoomed to; a view
		 * that starts following starts on what it follows */
		const double half = window_half_size(zoom);
		if (!filter->tracking_shown) {
			filter->tracked_x = reading.x;
			filter->tracked_y = reading.y;
		}
		filter->tracked_x =
			dead_zone_center(filter->tracked_x, reading.x, half,
					 filter->tracking_dead_zone);
		filter->tracked_y =
			dead_zone_center(filter->tracked_y, reading.y, half,
					 filter->tracking_dead_zone);
	}
	filter->tracking_shown = followed;
	filter->framing_goal =
		framing_goal(filter, reading, tracking && framing, share);
	if (followed) {
		center_x = filter->tracked_x;
		center_y = filter->tracked_y;
	}
	double smoothing = filter->tracking_smoothing;
	if (reading.least_smoothing > 0.0)
		smoothing = std::max(smoothing, reading.least_smoothing);
	const double keep = smoothing_keep(dt, smoothing);

	/* the centre too is read by render, which may run on another thread
	 * (a screenshot, a read-back) */
	filter->selection.glide(center_x, center_y, keep, filter->framing_goal);
}
