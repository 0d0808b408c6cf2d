/* One frame of the zoom animation: hold keys, the eased zoom transition and
 * the smoothed glide of the crop centre, which follows the filter's follower
 * (the pointer or a face) while the shown target tracks. */
#include "filter/zoom-filter.hpp"
#include "core/zoom-core.hpp"

#include <algorithm>

/* Makes `next` the filter's follower inside the graphics context, which
 * render holds while it uses it; the one replaced goes outside it, and
 * never waits for a thread of its own. */
static void swap_follower(ZoomFilter *filter, std::unique_ptr<Follower> next)
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

void close_follower(ZoomFilter *filter)
{
	swap_follower(filter, nullptr);
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
				  capture.kind != CaptureSettings::WHOLE_SCREEN)
			: TrackingSubject::None;
	Follower *current = filter->follower.get();
	if (subject == (current ? current->subject() : TrackingSubject::None)) {
		if (current)
			current->set_capture(capture);
		return;
	}
	std::unique_ptr<Follower> next = make_follower(subject);
	if (next)
		next->set_capture(capture);
	swap_follower(filter, std::move(next));
}

void sync_tracking(ZoomFilter *filter)
{
	sync_followers(filter);
	/* the next frame looks at the parent again */
	filter->capture_check_countdown = 0;
}

/* Every CAPTURE_CHECK_FRAMES frames while any target tracks: what the
 * parent shows, which decides what auto follows and where the pointer
 * maps to. */
static void check_capture(ZoomFilter *filter)
{
	if (filter->capture_check_countdown == 0) {
		filter->capture_check_countdown = CAPTURE_CHECK_FRAMES;
		sync_followers(filter);
	}
	filter->capture_check_countdown--;
}

/* The centre a tracking target wants this frame: what the follower sees,
 * through the dead zone, or the last such place while it holds; false (the
 * target's own centre) while nothing was followed or it lets go. */
static bool tracked_center(ZoomFilter *filter, const FollowReading &reading,
			   double zoom, double &x, double &y)
{
	if (reading.seen) {
		const double half = window_half_size(zoom);
		if (!filter->tracking_shown) {
			/* a view that starts tracking starts on what it
			 * follows */
			filter->tracked_x = reading.x;
			filter->tracked_y = reading.y;
		}
		filter->tracked_x =
			dead_zone_center(filter->tracked_x, reading.x, half,
					 filter->tracking_dead_zone);
		filter->tracked_y =
			dead_zone_center(filter->tracked_y, reading.y, half,
					 filter->tracking_dead_zone);
		filter->tracking_shown = true;
	} else if (!reading.hold) {
		filter->tracking_shown = false;
	}
	if (!filter->tracking_shown)
		return false;
	x = filter->tracked_x;
	y = filter->tracked_y;
	return true;
}

/* The centre of an "at the press" target: where the follower saw the
 * pointer (or face) first since the target was chosen, then held there;
 * false (the target's own centre) until it has been seen. */
static bool pressed_center(ZoomFilter *filter, int64_t choice,
			   const FollowReading &reading, double &x, double &y)
{
	if (choice != filter->press_sequence) {
		filter->press_sequence = choice;
		filter->press_pending = true;
	}
	if (filter->press_pending && reading.seen) {
		filter->press_x = reading.x;
		filter->press_y = reading.y;
		filter->press_pending = false;
	}
	if (filter->press_pending)
		return false;
	x = filter->press_x;
	y = filter->press_y;
	return true;
}

void zoom_filter_tick(void *data, float seconds)
{
	auto *filter = static_cast<ZoomFilter *>(data);

	filter->keys.follow_parent();
	follow_sheet(filter, seconds);

	const double dt = seconds;
	/* the dead zone works on the window being zoomed to */
	auto [zoom, center_x, center_y, tracking, pressed, choice] =
		filter->selection.advance(dt, filter->easing_in,
					  filter->easing_out);

	/* the follower and the parent's settings are read without the
	 * selection's lock */
	if (filter->any_tracking)
		check_capture(filter);
	const FollowReading reading =
		filter->follower
			? filter->follower->read(
				  dt, tracking && filter->tracking_shown)
			: FollowReading();
	if (pressed)
		pressed_center(filter, choice, reading, center_x, center_y);
	if (!tracking ||
	    !tracked_center(filter, reading, zoom, center_x, center_y))
		filter->tracking_shown = false;

	double smoothing = filter->tracking_smoothing;
	if (reading.least_smoothing > 0.0 &&
	    (filter->tracking_shown || reading.returning))
		smoothing = std::max(smoothing, reading.least_smoothing);
	const double keep = smoothing_keep(dt, smoothing);

	/* the centre too is read by render, which may run on another thread
	 * (a screenshot, a read-back) */
	filter->selection.glide(center_x, center_y, keep);
}
