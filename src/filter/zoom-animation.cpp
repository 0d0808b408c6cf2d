/* One frame of the zoom animation: hold keys, the eased zoom transition and
 * the smoothed glide of the crop centre, which follows the filter's follower
 * (the pointer or a face) while the shown target tracks. */
#include "filter/zoom-filter.hpp"
#include "core/zoom-core.hpp"
#include "tracking/face-follow.hpp"

#include <algorithm>
#include <cmath>

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
	bool tracks = filter->idle.center_tracking;
	for (const ZoomStage &stage : filter->stages)
		tracks = tracks || stage.center_tracking;
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

/* A zoom framing a face this close to where it glides to is there: less
 * than a pixel's change in the view. */
constexpr double FRAMED_ZOOM_CLOSE = 1e-3;

/* The zoom a target that frames a face asks for this frame: from the face's
 * size while it is seen, still under small changes; held while a lost face
 * is held; else none (0), the target's own. */
static double framing_goal(ZoomFilter *filter, const FollowReading &reading,
			   bool framing, double share)
{
	if (!framing || !filter->tracking_shown)
		return 0.0;
	if (reading.seen && reading.height > 0.0)
		return steady_framing_zoom(filter->framing_goal,
					   framing_zoom(reading.height, share));
	return filter->framing_goal;
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

void zoom_filter_tick(void *data, float seconds)
{
	auto *filter = static_cast<ZoomFilter *>(data);

	follow_parent(filter);
	follow_sheet(filter, seconds);

	const double dt = seconds;
	double center_x;
	double center_y;
	double zoom;
	bool tracking;
	bool framing;
	double share;
	double eased_zoom;
	{
		std::lock_guard<std::mutex> guard(filter->lock);

		filter->idle.zoom_factor = held_idle_zoom(
			filter->idle.zoom_factor, dt, filter->zoom_in_held,
			filter->zoom_out_held);

		const int32_t active = filter->active_stage;
		const bool staged = active >= 0 &&
				    static_cast<size_t>(active) <
					    filter->stages.size();
		const ZoomStage &target = staged ? filter->stages[active]
						 : filter->idle;

		filter->transition_progress = advance_progress(
			filter->transition_progress, dt, target.duration);
		const Easing kind = easing_for(target.zoom_factor,
					       filter->transition_start_zoom,
					       filter->easing_in,
					       filter->easing_out);
		filter->current_zoom = shown_zoom(filter->transition_start_zoom,
						  target.zoom_factor,
						  filter->transition_progress,
						  kind);
		/* the zoom framing a face showed last frame stays until the
		 * frame's own is known */
		eased_zoom = filter->current_zoom;
		if (filter->framed)
			filter->current_zoom = filter->framed_zoom;
		/* the dead zone works on the window being zoomed to */
		zoom = target.zoom_factor;
		center_x = target.center_x;
		center_y = target.center_y;
		tracking = target.center_tracking;
		framing = tracking && target.face_framing;
		share = target.face_share;
	}

	/* the follower and the parent's settings are read without the lock */
	if (filter->any_tracking)
		check_capture(filter);
	const FollowReading reading =
		filter->follower
			? filter->follower->read(
				  dt, tracking && filter->tracking_shown)
			: FollowReading();
	if (filter->framing_goal > 0.0)
		zoom = filter->framing_goal;
	if (!tracking ||
	    !tracked_center(filter, reading, zoom, center_x, center_y))
		filter->tracking_shown = false;
	filter->framing_goal = framing_goal(filter, reading, framing, share);

	double smoothing = filter->tracking_smoothing;
	if (reading.least_smoothing > 0.0 &&
	    (filter->tracking_shown || reading.returning))
		smoothing = std::max(smoothing, reading.least_smoothing);
	const double keep = smoothing_keep(dt, smoothing);

	/* the centre too is read by render, which may run on another thread
	 * (a screenshot, a read-back) */
	std::lock_guard<std::mutex> guard(filter->lock);
	filter->target_center_x = center_x;
	filter->target_center_y = center_y;
	filter->current_center_x =
		smooth_center(filter->current_center_x, center_x, keep);
	filter->current_center_y =
		smooth_center(filter->current_center_y, center_y, keep);

	/* framing glides to the face's zoom, and back to the target's own
	 * with the centre, as softly */
	if (filter->framing_goal > 0.0 || filter->framed) {
		const double goal = filter->framing_goal > 0.0
					    ? filter->framing_goal
					    : eased_zoom;
		filter->framed_zoom = smooth_center(
			filter->framed ? filter->framed_zoom : eased_zoom, goal,
			keep);
		/* the last bit is shown at once: a still face gives the
		 * very same zoom frame after frame */
		if (std::fabs(filter->framed_zoom - goal) < FRAMED_ZOOM_CLOSE)
			filter->framed_zoom = goal;
		filter->framed = filter->framing_goal > 0.0 ||
				 filter->framed_zoom != eased_zoom;
		filter->current_zoom = filter->framed ? filter->framed_zoom
						      : eased_zoom;
	}
}
