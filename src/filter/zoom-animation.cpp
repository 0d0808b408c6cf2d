/* One frame of the zoom animation: hold keys, the eased zoom transition and
 * the smoothed glide of the crop centre. */
#include "zoom-filter.hpp"
#include "zoom-core.hpp"

void zoom_filter_tick(void *data, float seconds)
{
	auto *filter = static_cast<ZoomFilter *>(data);

	follow_parent(filter);

	const double dt = seconds;
	const double keep = smoothing_keep(dt, filter->tracking_smoothing);

	std::lock_guard<std::mutex> guard(filter->lock);

	filter->idle.zoom_factor = held_idle_zoom(filter->idle.zoom_factor, dt,
						  filter->zoom_in_held,
						  filter->zoom_out_held);

	const int32_t active = filter->active_stage;
	const bool staged = active >= 0 &&
			    static_cast<size_t>(active) < filter->stages.size();
	const ZoomStage &target = staged ? filter->stages[active]
					 : filter->idle;

	filter->transition_progress = advance_progress(
		filter->transition_progress, dt, target.duration);
	const int kind = easing_for(target.zoom_factor,
				    filter->transition_start_zoom,
				    filter->easing_in, filter->easing_out);
	filter->current_zoom = shown_zoom(filter->transition_start_zoom,
					  target.zoom_factor,
					  filter->transition_progress, kind);

	/* the centre too is read by render, which may run on another thread
	 * (a screenshot, a read-back) */
	filter->target_center_x = target.center_x;
	filter->target_center_y = target.center_y;
	filter->current_center_x =
		smooth_centre(filter->current_center_x, target.center_x, keep);
	filter->current_center_y =
		smooth_centre(filter->current_center_y, target.center_y, keep);
}
