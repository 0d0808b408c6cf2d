/* One frame of the zoom animation: hold keys, the eased zoom transition and
 * the smoothed glide of the crop centre, which follows the pointer while the
 * shown target tracks. */
#include "zoom-filter.hpp"
#include "zoom-core.hpp"
#include "../tracking/capture-settings.hpp"

void sync_pointer_client(ZoomFilter *filter)
{
	bool tracks = filter->idle.center_tracking;
	for (const ZoomStage &stage : filter->stages)
		tracks = tracks || stage.center_tracking;
	if (tracks && !filter->pointer) {
		filter->pointer = open_pointer_client();
		filter->capture_check_countdown = 0;
	} else if (!tracks && filter->pointer) {
		filter->pointer.reset();
		filter->tracking_shown = false;
	}
}

/* The centre a tracking target wants this frame: the pointer through the dead
 * zone; false (the target's own centre) while no pointer position is known
 * and none was followed before. */
static bool tracked_centre(ZoomFilter *filter, double zoom, double &x,
			   double &y)
{
	PointerClient *pointer = filter->pointer.get();
	if (!pointer)
		return false;
	if (filter->capture_check_countdown == 0) {
		filter->capture_check_countdown = CAPTURE_CHECK_FRAMES;
		capture_settings_of(obs_filter_get_parent(filter->source),
				    filter->parent_capture);
		pointer->set_capture(filter->parent_capture);
	}
	filter->capture_check_countdown--;

	double fx;
	double fy;
	if (pointer->latest(fx, fy)) {
		const double half = window_half_size(zoom);
		if (!filter->tracking_shown) {
			/* a view that starts tracking starts on the pointer */
			filter->tracked_x = fx;
			filter->tracked_y = fy;
		}
		filter->tracked_x =
			dead_zone_centre(filter->tracked_x, fx, half,
					 filter->tracking_dead_zone);
		filter->tracked_y =
			dead_zone_centre(filter->tracked_y, fy, half,
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
		const int kind = easing_for(target.zoom_factor,
					    filter->transition_start_zoom,
					    filter->easing_in,
					    filter->easing_out);
		filter->current_zoom = shown_zoom(filter->transition_start_zoom,
						  target.zoom_factor,
						  filter->transition_progress,
						  kind);
		/* the dead zone works on the window being zoomed to */
		zoom = target.zoom_factor;
		center_x = target.center_x;
		center_y = target.center_y;
		tracking = target.center_tracking;
	}

	/* the pointer and the parent's settings are read without the lock */
	if (!tracking || !tracked_centre(filter, zoom, center_x, center_y))
		filter->tracking_shown = false;

	const double keep = smoothing_keep(dt, filter->tracking_smoothing);

	/* the centre too is read by render, which may run on another thread
	 * (a screenshot, a read-back) */
	std::lock_guard<std::mutex> guard(filter->lock);
	filter->target_center_x = center_x;
	filter->target_center_y = center_y;
	filter->current_center_x =
		smooth_centre(filter->current_center_x, center_x, keep);
	filter->current_center_y =
		smooth_centre(filter->current_center_y, center_y, keep);
}
