/* One frame of the zoom animation: hold keys, the eased zoom transition and
 * the smoothed glide of the crop centre, which follows the filter's follower
 * (the pointer or a face) while the shown target tracks. */
#include "filter/zoom-filter.hpp"
#include "core/zoom-core.hpp"

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
		zoom = target.zoom_factor;
		center_x = target.center_x;
		center_y = target.center_y;
		tracking = target.center_tracking;
	}

	/* the follower and the parent's settings are read without the lock;
	 * what the parent shows (which decides what auto follows and where
	 * the pointer maps to) every CAPTURE_CHECK_FRAMES frames */
	if (filter->any_tracking && filter->capture_check_countdown-- == 0) {
		filter->capture_check_countdown = CAPTURE_CHECK_FRAMES - 1;
		sync_followers(filter);
	}
	const FollowReading reading =
		filter->follower ? filter->follower->read(dt, tracking)
				 : FollowReading();
	if (reading.followed && reading.seen) {
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
	filter->tracking_shown = reading.followed;
	if (reading.followed) {
		center_x = filter->tracked_x;
		center_y = filter->tracked_y;
	}
	double smoothing = filter->tracking_smoothing;
	if (reading.least_smoothing > 0.0)
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
}
