/*
 * Draws the filter's input through the crop effect, in the input's own
 * colour space: 8-bit sRGB, 16-bit float sRGB or linear HDR (Rec. 709
 * extended), converted to the target's space on the way out. The input is
 * sampled and blended in linear light, and it arrives premultiplied by its
 * alpha, so it is drawn over what lies beneath with (1, 1 - alpha).
 *
 * Where drawing the parent straight into the output gives the same picture
 * (see draws_directly), the parent draws itself there, enlarged by the
 * matrix, with no texture between: one full-size pass instead of two.
 */
#include "filter/zoom-filter.hpp"
#include "core/zoom-core.hpp"
#include "core/plugin-support.hpp"

#include <graphics/matrix4.h>

#include <algorithm>

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

static bool is_sdr(gs_color_space space)
{
	return space == GS_CS_SRGB || space == GS_CS_SRGB_16F;
}

enum class Technique { Draw, DrawMultiply, DrawTonemap, DrawMultiplyTonemap };
/* the effect's technique for each, in that order */
static const char *const TECHNIQUE_NAMES[] = {
	"Draw", "DrawMultiply", "DrawTonemap", "DrawMultiplyTonemap"};

struct Conversion {
	Technique technique;
	float multiplier;
};

/* Runs every pass of `technique` around `draw`. */
template<typename Draw>
static void draw_passes(gs_technique_t *technique, Draw draw)
{
	const size_t passes = gs_technique_begin(technique);
	for (size_t i = 0; i < passes; i++) {
		gs_technique_begin_pass(technique, i);
		draw();
		gs_technique_end_pass(technique);
	}
	gs_technique_end(technique);
}

/* How a picture in `from` is drawn into a target in `to`. scRGB counts 80
 * nits as 1.0, the other spaces SDR white. */
static Conversion conversion(gs_color_space from, gs_color_space to)
{
	const float white_in_scrgb = obs_get_video_sdr_white_level() / 80.0f;
	if (to == GS_CS_709_SCRGB && from != GS_CS_709_SCRGB)
		return {Technique::DrawMultiply, white_in_scrgb};
	if (from == GS_CS_709_SCRGB && to != GS_CS_709_SCRGB)
		return {is_sdr(to) ? Technique::DrawMultiplyTonemap
				   : Technique::DrawMultiply,
			1.0f / white_in_scrgb};
	/* HDR content in an SDR target is tone mapped, not clipped */
	if (from == GS_CS_709_EXTENDED && is_sdr(to))
		return {Technique::DrawTonemap, 1.0f};
	return {Technique::Draw, 1.0f};
}

bool ZoomRenderer::load()
{
	char *path =
		obs_find_module_file(obs_current_module(), "zoom-crop.effect");
	obs_enter_graphics();
	effect = gs_effect_create_from_file(path, nullptr);
	obs_leave_graphics();
	bfree(path);
	if (!effect) {
		log_message(LOG_ERROR, "failed to load zoom-crop.effect");
		return false;
	}
	center_param = gs_effect_get_param_by_name(effect, "center");
	half_size_param = gs_effect_get_param_by_name(effect, "half_size");
	multiplier_param = gs_effect_get_param_by_name(effect, "multiplier");
	image_param = gs_effect_get_param_by_name(effect, "image");
	for (int i = 0; i < 4; i++)
		techniques[i] =
			gs_effect_get_technique(effect, TECHNIQUE_NAMES[i]);
	parent_technique = gs_effect_get_technique(effect, "DrawParent");
	return true;
}

void ZoomRenderer::unload()
{
	obs_enter_graphics();
	if (effect)
		gs_effect_destroy(effect);
	gs_texrender_destroy(input);
	obs_leave_graphics();
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

/*
 * Draws the pixels of the input that the window needs into the filter's
 * texture, in the input's colour space, as libobs draws a filter's input:
 * the whole input is drawn (every sprite of it, so a source drawn in
 * several parts comes out whole), projected so that only those pixels land
 * in the texture; libobs's obs_source_process_filter_begin would draw all
 * of the input, four times the pixels at zoom 2. Like libobs, once a frame:
 * a second view of the same frame reuses it. Returns that texture, or null.
 */
static gs_texture_t *draw_input(ZoomRenderer &r, obs_source_t *target,
				obs_source_t *parent, gs_color_space space,
				const PixelRect &rect)
{
	const uint64_t frame_time = obs_get_video_frame_time();
	const int bounds[4] = {rect.x0, rect.y0, rect.x1, rect.y1};
	if (r.input && r.input_frame_time == frame_time &&
	    r.input_space == space &&
	    std::equal(bounds, bounds + 4, r.input_rect)) {
		gs_texture_t *texture = gs_texrender_get_texture(r.input);
		if (texture)
			return texture;
	}
	r.input_frame_time = frame_time;
	r.input_space = space;
	std::copy(bounds, bounds + 4, r.input_rect);

	const gs_color_format format = gs_get_format_from_space(space);
	if (r.input && gs_texrender_get_format(r.input) != format) {
		gs_texrender_destroy(r.input);
		r.input = nullptr;
	}
	if (!r.input)
		r.input = gs_texrender_create(format, GS_ZS_NONE);

	gs_texrender_reset(r.input);
	if (!gs_texrender_begin_with_color_space(
		    r.input, uint32_t(rect.x1 - rect.x0),
		    uint32_t(rect.y1 - rect.y0), space))
		return nullptr;
	gs_ortho(float(rect.x0), float(rect.x1), float(rect.y0), float(rect.y1),
		 -100.0f, 100.0f);
	draw_target(target, parent);
	gs_texrender_end(r.input);
	return gs_texrender_get_texture(r.input);
}

/*
 * Whether the output fills the render target exactly: a texture of the
 * output's size, the viewport all of it, no transform. Only then does the
 * target's own edge keep the enlarged parent inside the output; anywhere
 * else (a scene item at an offset, scaled or turned, a larger target) the
 * parent goes through the texture. libobs offers no way to read the
 * projection, so the output's place in the target can be known only this
 * way.
 */
static bool fills_render_target(uint32_t width, uint32_t height)
{
	gs_texture_t *render_target = gs_get_render_target();
	if (!render_target || gs_texture_get_width(render_target) != width ||
	    gs_texture_get_height(render_target) != height)
		return false;
	gs_rect viewport;
	gs_get_viewport(&viewport);
	if (viewport.x != 0 || viewport.y != 0 || viewport.cx != int(width) ||
	    viewport.cy != int(height))
		return false;
	matrix4 current, identity;
	gs_matrix_get(&current);
	matrix4_identity(&identity);
	const float *a = &current.x.x, *b = &identity.x.x;
	return std::equal(a, a + 16, b);
}

/*
 * The widest the enlarged parent may be, in output pixels, for the straight
 * draw: its corners land at zoom * (x - window origin), in single precision,
 * and past 2^22 pixels those places (and the rasteriser's clipping of so
 * large a quad) are no longer exact to a quarter of a pixel; far past it,
 * parts of the output go undrawn. Above it (a zoom of some thousands) the
 * texture path draws, which enlarges only the few input pixels it needs.
 */
constexpr double MAX_STRAIGHT_EXTENT = 4194304.0;

/*
 * Whether the parent, drawn straight into the output with the zoom in the
 * matrix, gives what the texture path gives: it is the filter's input (no
 * filter before this one), it draws itself when asked (not asynchronous:
 * libobs would draw its frames), it samples in linear light (sRGB aware),
 * it draws in the output's colour space with no conversion, the output
 * fills the render target, and the enlarged parent is not too wide for
 * single precision.
 */
static bool draws_directly(const ZoomRenderer &r, obs_source_t *target,
			   obs_source_t *parent, gs_color_space space,
			   const CropWindow &window, uint32_t width,
			   uint32_t height)
{
	if (!r.parent_technique || target != parent)
		return false;
	if (std::max(width, height) * (0.5 / window.half_size) >
	    MAX_STRAIGHT_EXTENT)
		return false;
	const uint32_t flags = obs_source_get_output_flags(parent);
	if ((flags & OBS_SOURCE_ASYNC) || !(flags & OBS_SOURCE_SRGB))
		return false;
	const gs_color_space current = gs_get_color_space();
	if (space != current ||
	    obs_source_get_color_space(parent, 1, &current) != current)
		return false;
	return fills_render_target(width, height);
}

/*
 * Draws the parent straight into the output, the window enlarged by the
 * matrix (a custom-drawn parent with its own effects, any other through
 * DrawParent): a point (x, y) of the parent lands at
 * ((x, y) - window origin) * zoom. Every sprite of the parent keeps its own
 * texture and place (a cursor drawn over the picture lands on it, enlarged);
 * what falls outside the window falls outside the render target. Blended as
 * the texture path blends: straight alpha over what lies beneath, unless the
 * parent sets its own blending (premultiplied sources do).
 */
static void draw_parent(ZoomRenderer &r, obs_source_t *parent,
			const CropWindow &window, uint32_t width,
			uint32_t height)
{
	const float zoom = 0.5f / window.half_size;
	/* the target's own projection, as libobs's texture renders and its
	 * canvas set it: whatever the caller set, the output stays in it */
	gs_projection_push();
	gs_ortho(0.0f, float(width), 0.0f, float(height), -100.0f, 100.0f);
	gs_matrix_push();
	gs_matrix_scale3f(zoom, zoom, 1.0f);
	gs_matrix_translate3f(-(window.center_x - window.half_size) * width,
			      -(window.center_y - window.half_size) * height,
			      0.0f);
	/* the parent binds its textures as sRGB, so they blend linearly */
	const bool previous_linear = gs_set_linear_srgb(true);
	gs_blend_state_push();
	gs_blend_function_separate(GS_BLEND_SRCALPHA, GS_BLEND_INVSRCALPHA,
				   GS_BLEND_ONE, GS_BLEND_INVSRCALPHA);
	/* a parent that begins the effect's Draw itself, as a source may do
	 * with the effect libobs hands it, gets the whole frame from it */
	vec2 whole;
	vec2_set(&whole, 0.5f, 0.5f);
	gs_effect_set_vec2(r.center_param, &whole);
	gs_effect_set_vec2(r.half_size_param, &whole);
	r.drawing_parent = true;
	if (obs_source_get_output_flags(parent) & OBS_SOURCE_CUSTOM_DRAW) {
		/* it draws with effects of its own */
		obs_source_video_render(parent);
	} else {
		/* libobs hands the parent the active effect: this one */
		draw_passes(r.parent_technique,
			    [parent] { obs_source_video_render(parent); });
	}
	r.drawing_parent = false;
	gs_blend_state_pop();
	gs_set_linear_srgb(previous_linear);
	gs_matrix_pop();
	gs_projection_pop();
}

/* The zoomed window of the input, drawn. */
static void draw_zoomed(ZoomRenderer &r, obs_source_t *target,
			obs_source_t *parent, const CropWindow &window,
			uint32_t width, uint32_t height)
{
	const gs_color_space space = input_space(target);
	if (draws_directly(r, target, parent, space, window, width, height)) {
		draw_parent(r, parent, window, width, height);
		return;
	}
	/* only the pixels the window shows are drawn first: at zoom 2 a
	 * quarter of the input */
	const PixelRect rect = needed_pixels(window, int(width), int(height));
	gs_texture_t *texture = draw_input(r, target, parent, space, rect);
	if (!texture)
		return;

	/* the window in the coordinates of that texture */
	const float w = float(rect.x1 - rect.x0);
	const float h = float(rect.y1 - rect.y0);
	vec2 center;
	vec2_set(&center, (window.center_x * width - rect.x0) / w,
		 (window.center_y * height - rect.y0) / h);
	vec2 half_size;
	vec2_set(&half_size, window.half_size * width / w,
		 window.half_size * height / h);
	const Conversion convert = conversion(space, gs_get_color_space());
	gs_effect_set_vec2(r.center_param, &center);
	gs_effect_set_vec2(r.half_size_param, &half_size);
	gs_effect_set_float(r.multiplier_param, convert.multiplier);
	/* sampled in linear light, written back through an sRGB framebuffer */
	gs_effect_set_texture_srgb(r.image_param, texture);

	const bool previous_srgb = gs_framebuffer_srgb_enabled();
	gs_enable_framebuffer_srgb(true);
	gs_blend_state_push();
	gs_blend_function(GS_BLEND_ONE, GS_BLEND_INVSRCALPHA);
	draw_passes(r.techniques[int(convert.technique)],
		    [&] { gs_draw_sprite(texture, 0, width, height); });
	gs_blend_state_pop();
	gs_enable_framebuffer_srgb(previous_srgb);
}

void zoom_filter_render(void *data, gs_effect_t *)
{
	auto *filter = static_cast<ZoomFilter *>(data);
	if (filter->renderer.drawing_parent)
		return;

	obs_source_t *parent = obs_filter_get_parent(filter->source);
	if (!filter->renderer.effect) {
		/* libobs's pass-through reads the parent without checking it;
		 * with no parent there is nothing to pass through */
		if (parent)
			obs_source_skip_video_filter(filter->source);
		return;
	}
	obs_source_t *target = obs_filter_get_target(filter->source);
	if (!parent || !target)
		return;
	const uint32_t width = obs_source_get_base_width(target);
	const uint32_t height = obs_source_get_base_height(target);
	const CropWindow window = filter->selection.window();
	if (!width || !height) {
		obs_source_skip_video_filter(filter->source);
		return;
	}
	/* the whole frame is the input as it is: drawn unfiltered, exactly
	 * and at no cost */
	if (window.half_size >= 0.5f)
		obs_source_skip_video_filter(filter->source);
	else
		draw_zoomed(filter->renderer, target, parent, window, width,
			    height);
	/* once the output is drawn (the input's frame is then ready, an
	 * asynchronous source's converted), the follower may look at the
	 * input (the face's draws it small for its detector), whole frame
	 * or not: a face framed from the whole frame is found there */
	if (filter->follower) {
		filter->renderer.drawing_parent = true;
		filter->follower->frame(target, parent, width, height);
		filter->renderer.drawing_parent = false;
	}
}
