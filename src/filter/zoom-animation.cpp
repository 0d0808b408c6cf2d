/* One frame of the zoom animation: hold keys, the eased zoom transition and
 * the smoothed glide of the crop centre, which follows the pointer or a face
 * while the shown target tracks. */
#include "filter/zoom-filter.hpp"
#include "core/zoom-core.hpp"
#include "tracking/capture-settings.hpp"

#include <algorithm>

void close_face_tracker(ZoomFilter *filter)
{
	if (!filter->face)
		return;
	std::unique_ptr<FaceTracker> face;
	obs_enter_graphics();
	filter->face->release_graphics();
	face = std::move(filter->face);
	obs_leave_graphics();
	/* tells the worker to stop, without waiting for it */
	face.reset();
}

static void sync_followers(ZoomFilter *filter, const CaptureSettings &capture)
{
	bool tracks = filter->idle.center_tracking;
	for (const ZoomStage &stage : filter->stages)
		tracks = tracks || stage.center_tracking;
	filter->any_tracking = tracks;
	/* a parent with no video (an audio source) shows nothing to follow */
	obs_source_t *parent = obs_filter_get_parent(filter->source);
	const bool no_video = parent && !(obs_source_get_output_flags(parent) &
					  OBS_SOURCE_VIDEO);
	const TrackingSubject subject =
		tracks && !no_video
			? followed_subject(
				  filter->tracking_subject, parent,
				  capture.kind != CaptureSettings::WHOLE_SCREEN)
			: TrackingSubject::None;

	if (subject == TrackingSubject::Pointer && !filter->pointer) {
		filter->pointer = open_pointer_client();
		if (filter->pointer)
			filter->pointer->set_capture(capture);
	} else if (subject != TrackingSubject::Pointer && filter->pointer) {
		filter->pointer.reset();
		filter->tracking_shown = false;
	}
	if (subject == TrackingSubject::Face && !filter->face) {
		auto face = std::make_unique<FaceTracker>();
		obs_enter_graphics();
		filter->face = std::move(face);
		obs_leave_graphics();
		filter->face_lost_seconds = 0.0;
	} else if (subject != TrackingSubject::Face && filter->face) {
		close_face_tracker(filter);
		filter->tracking_shown = false;
	}
}

void sync_tracking(ZoomFilter *filter)
{
	capture_settings_of(obs_filter_get_parent(filter->source),
			    filter->parent_capture);
	sync_followers(filter, filter->parent_capture);
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
		capture_settings_of(obs_filter_get_parent(filter->source),
				    filter->parent_capture);
		sync_followers(filter, filter->parent_capture);
		if (filter->pointer)
			filter->pointer->set_capture(filter->parent_capture);
	}
	filter->capture_check_countdown--;
}

/* The face's centre, or false while it is not seen. A face lost holds its
 * last place for FACE_HOLD_SECONDS (`held`), then lets go. */
static bool face_center(ZoomFilter *filter, double dt, double &fx, double &fy,
			bool &held)
{
	const FaceSighting sighting = filter->face->latest();
	held = false;
	if (sighting.found) {
		filter->face_lost_seconds = 0.0;
		fx = sighting.box.center_x();
		fy = sighting.box.center_y();
		return true;
	}
	filter->face_lost_seconds += dt;
	held = filter->tracking_shown &&
	       filter->face_lost_seconds < FACE_HOLD_SECONDS;
	return false;
}

/* The centre a tracking target wants this frame: the pointer or the face
 * through the dead zone; false (the target's own centre) while neither is
 * known and none was followed before, or once a lost face's hold is over. */
static bool tracked_center(ZoomFilter *filter, double zoom, double dt,
			   double &x, double &y)
{
	double fx;
	double fy;
	bool seen = false;
	if (filter->pointer) {
		seen = filter->pointer->latest(fx, fy);
	} else if (filter->face) {
		bool held;
		seen = face_center(filter, dt, fx, fy, held);
		if (!seen && !held && filter->tracking_shown) {
			/* the hold is over: back to the target's centre */
			filter->tracking_shown = false;
			filter->face_return_seconds = 0.0;
		}
	} else {
		return false;
	}
	if (seen) {
		const double half = window_half_size(zoom);
		if (!filter->tracking_shown) {
			/* a view that starts tracking starts on what it
			 * follows */
			filter->tracked_x = fx;
			filter->tracked_y = fy;
		}
		filter->tracked_x =
			dead_zone_center(filter->tracked_x, fx, half,
					 filter->tracking_dead_zone);
		filter->tracked_y =
			dead_zone_center(filter->tracked_y, fy, half,
					 filter->tracking_dead_zone);
		filter->tracking_shown = true;
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
		filter->current_zoom =
			shown_zoom(filter->transition_start_zoom, target,
				   filter->transition_progress,
				   filter->easing_in, filter->easing_out);
		/* the dead zone works on the window being zoomed to */
		zoom = target.zoom_factor;
		center_x = target.center_x;
		center_y = target.center_y;
		tracking = target.center_tracking;
	}

	/* the pointer, the face and the parent's settings are read without
	 * the lock */
	if (filter->any_tracking)
		check_capture(filter);
	if (filter->face)
		filter->face->tick(dt);
	if (!tracking || !tracked_center(filter, zoom, dt, center_x, center_y))
		filter->tracking_shown = false;

	/* a face, seen a few times a second, is always glided to, and so is
	 * the target's centre when a lost face's hold is over */
	filter->face_return_seconds += dt;
	const bool face_glide = filter->face && (filter->tracking_shown ||
						 filter->face_return_seconds <
							 FACE_RETURN_SECONDS);
	const double smoothing = face_glide
					 ? std::max(filter->tracking_smoothing,
						    FACE_MIN_SMOOTHING)
					 : filter->tracking_smoothing;
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
