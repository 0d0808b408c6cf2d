/*
 * Draws the filter's input through the crop effect, in the input's own
 * colour space: 8-bit sRGB, 16-bit float sRGB or linear HDR (Rec. 709
 * extended), converted to the target's space on the way out. The input is
 * sampled and blended in linear light, and it arrives premultiplied by its
 * alpha, so it is drawn over what lies beneath with (1, 1 - alpha).
 */
#include "zoom-filter.hpp"
#include "zoom-core.hpp"

/* The spaces the filter draws its input in; anything else is converted to
 * one of these by the input's own render. */
static const gs_color_space INPUT_SPACES[] = {
	GS_CS_SRGB,
	GS_CS_SRGB_16F,
	GS_CS_709_EXTENDED,
};

static gs_color_space input_space(obs_source_t *target)
{
	return obs_source_get_color_space(target, OBS_COUNTOF(INPUT_SPACES),
					  INPUT_SPACES);
}

static bool is_scrgb(gs_color_space space)
{
	return space == GS_CS_709_SCRGB;
}

static bool is_sdr(gs_color_space space)
{
	return space == GS_CS_SRGB || space == GS_CS_SRGB_16F;
}

struct Conversion {
	const char *technique;
	float multiplier;
};

/* How a picture in `from` is drawn into a target in `to`. scRGB counts 80
 * nits as 1.0, the other spaces SDR white. */
static Conversion conversion(gs_color_space from, gs_color_space to)
{
	const float white_in_scrgb = obs_get_video_sdr_white_level() / 80.0f;
	if (is_scrgb(to) && !is_scrgb(from))
		return {"DrawMultiply", white_in_scrgb};
	if (is_scrgb(from) && !is_scrgb(to))
		return {is_sdr(to) ? "DrawMultiplyTonemap" : "DrawMultiply",
			1.0f / white_in_scrgb};
	/* HDR content in an SDR target is tone mapped, not clipped */
	if (from == GS_CS_709_EXTENDED && is_sdr(to))
		return {"DrawTonemap", 1.0f};
	return {"Draw", 1.0f};
}

gs_color_space zoom_filter_color_space(void *data, size_t count,
				       const gs_color_space *preferred)
{
	auto *filter = static_cast<ZoomFilter *>(data);
	obs_source_t *target = obs_filter_get_target(filter->source);
	const gs_color_space space = target ? input_space(target) : GS_CS_SRGB;
	/* the input's space when the caller takes it, else the caller's
	 * last choice, into which libobs converts the output */
	for (size_t i = 0; i < count; i++)
		if (preferred[i] == space)
			return space;
	return count ? preferred[count - 1] : space;
}

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

	obs_source_t *target = obs_filter_get_target(filter->source);
	const gs_color_space space = target ? input_space(target) : GS_CS_SRGB;
	const Conversion convert = conversion(space, gs_get_color_space());
	/* the input is drawn into a texture of its own first: the zoom
	 * remaps texture coordinates, which only a single texture of the
	 * whole input can take */
	if (!obs_source_process_filter_begin_with_color_space(
		    filter->source, gs_get_format_from_space(space), space,
		    OBS_NO_DIRECT_RENDERING))
		return;

	/* current_zoom is written by the frame tick on this same thread */
	const CropWindow window = crop_window(filter->current_zoom,
					      filter->current_center_x,
					      filter->current_center_y);
	vec2 center;
	vec2_set(&center, window.center_x, window.center_y);
	vec2 half_size;
	vec2_set(&half_size, window.half_size, window.half_size);
	gs_effect_set_vec2(filter->center_param, &center);
	gs_effect_set_vec2(filter->half_size_param, &half_size);
	gs_effect_set_float(filter->multiplier_param, convert.multiplier);

	gs_blend_state_push();
	gs_blend_function(GS_BLEND_ONE, GS_BLEND_INVSRCALPHA);
	obs_source_process_filter_tech_end(filter->source, filter->effect, 0, 0,
					   convert.technique);
	gs_blend_state_pop();
}
