/* Draws the filter's input through the crop effect. */
#include "zoom-filter.hpp"
#include "zoom-core.hpp"

void zoom_filter_render(void *data, gs_effect_t *)
{
	auto *filter = static_cast<ZoomFilter *>(data);

	if (!filter->effect) {
		/* libobs's pass-through reads the parent without checking it;
		 * with no parent there is nothing to pass through */
		if (obs_filter_get_parent(filter->source))
			obs_source_skip_video_filter(filter->source);
		return;
	}

	CropWindow window;
	{
		/* the frame's values, taken whole: render may run on any
		 * thread that enters the graphics context */
		std::lock_guard<std::mutex> guard(filter->lock);
		window = crop_window(filter->current_zoom,
				     filter->current_center_x,
				     filter->current_center_y);
	}
	/* the whole frame: the input is drawn as it is, with nothing between */
	if (window.half_size >= 0.5f) {
		if (obs_filter_get_parent(filter->source))
			obs_source_skip_video_filter(filter->source);
		return;
	}

	/* The parent is drawn into a texture first: drawn straight through
	 * the effect, each of its sprites (a cursor, a cropped region) would
	 * have its own texture coordinates remapped instead of the picture. */
	if (!obs_source_process_filter_begin(filter->source, GS_RGBA,
					     OBS_NO_DIRECT_RENDERING))
		return;

	vec2 center;
	vec2_set(&center, window.center_x, window.center_y);
	vec2 half_size;
	vec2_set(&half_size, window.half_size, window.half_size);
	gs_effect_set_vec2(filter->center_param, &center);
	gs_effect_set_vec2(filter->half_size_param, &half_size);

	obs_source_process_filter_end(filter->source, filter->effect, 0, 0);
}
