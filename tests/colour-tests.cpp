/*
 * Colour through the filter, in the real libobs-opengl: an sRGB-aware
 * picture is zoomed and read back, and compared with bilinear sampling in
 * linear light computed here; 16-bit float content keeps values above 1.0
 * into float targets of every colour space libobs draws in.
 */
#include "colour-checks.hpp"
#include "render-checks.hpp"

#include <graphics/graphics.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

/* The picture with a zoom filter at rest on the given target. */
struct PictureRig {
	obs_source_t *parent = nullptr;
	obs_source_t *filter = nullptr;

	PictureRig(const Picture &picture, double zoom, double center_x,
		   double center_y)
	{
		parent = create_picture_source("colour picture", picture);
		filter = zoom_filter_with("colour zoom",
					  idle_at(zoom, center_x, center_y));
		obs_source_filter_add(parent, filter);
		/* smoothing 0 settles within a few frames */
		wait_frames(30);
	}
	~PictureRig()
	{
		remove_and_release(parent, filter);
		wait_destroyed();
	}
	PictureRig(const PictureRig &) = delete;
	PictureRig &operator=(const PictureRig &) = delete;
};

TEST(Colour, SharpEdgesAreBlendedInLinearLight)
{
	const Picture picture = sharp_picture(160, 120);
	const struct {
		double zoom, center_x, center_y;
	} cases[] = {
		{2.0, 0.5, 0.5},
		{2.0, 0.3, 0.7},
		{3.3, 0.4, 0.35},
		{3.3, 0.81, 0.66},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(::testing::Message()
			     << "zoom " << c.zoom << " centre (" << c.center_x
			     << ", " << c.center_y << ")");
		PictureRig rig(picture, c.zoom, c.center_x, c.center_y);
		const Span window = window_of(c.zoom, c.center_x, c.center_y);
		EXPECT_TRUE(levels_near(
			render_pixels(rig.parent, picture.width,
				      picture.height),
			picture.width, picture.height,
			[&](uint32_t x, uint32_t y, int ch) {
				return reference_level(picture, window, x, y,
						       ch);
			},
			1.0));
	}
}

TEST(Colour, AtZoomOneTheOutputEqualsTheInput)
{
	/* the sharp picture, its bottom rows fading out (premultiplied) */
	Picture picture = sharp_picture(96, 64);
	for (uint32_t y = 48; y < 64; y++)
		for (uint32_t x = 0; x < 96; x++) {
			uint8_t *px = &picture.rgba8[(y * 96 + x) * 4];
			const uint8_t alpha = uint8_t(x * 255 / 95);
			for (int c = 0; c < 3; c++)
				px[c] = uint8_t(px[c] * alpha / 255);
			px[3] = alpha;
		}
	PictureRig rig(picture, 1.0, 0.3, 0.8);
	const std::vector<uint8_t> frame = render_pixels(rig.parent, 96, 64);
	ASSERT_EQ(frame.size(), picture.rgba8.size());
	size_t differ = 0;
	for (size_t i = 0; i < frame.size(); i++)
		differ += frame[i] != picture.rgba8[i];
	EXPECT_EQ(differ, 0u) << "of " << frame.size() << " channels";
}

/* The middle row of the source drawn through the filter into a float
 * target of the given colour space, as linear RGBA floats. */
static std::vector<float> float_row(obs_source_t *source, uint32_t width,
				    uint32_t height, gs_color_space space)
{
	std::vector<uint8_t> bytes;
	obs_enter_graphics();
	{
		ReadbackTarget target(width, height, GS_RGBA16F, space);
		target.draw([source] { obs_source_video_render(source); },
			    &bytes);
	}
	obs_leave_graphics();
	std::vector<float> row;
	for (uint32_t x = 0; x < width && !bytes.empty(); x++)
		for (int c = 0; c < 4; c++) {
			uint16_t half;
			std::memcpy(&half,
				    &bytes[((height / 2) * width + x) * 8 +
					   size_t(c) * 2],
				    2);
			row.push_back(float_from_half(half));
		}
	return row;
}

TEST(Colour, FloatContentKeepsItsRangeInEveryTargetSpace)
{
	/* The left half of the picture in the given colour, the right half a
	 * dim grey; zoom 2 on the left quarter shows only the colour. scRGB
	 * counts 80 nits as 1.0, the other spaces SDR white (300 nits here);
	 * an SDR target tone maps HDR content, which leaves a grey g at
	 * g / (g + 1). */
	obs_set_video_levels(300.0f, 1000.0f); /* as OBS Studio does */
	const float to_scrgb = 300.0f / 80.0f;
	const struct {
		gs_color_space source, target;
		float colour[3], expected[3];
	} cases[] = {
		{GS_CS_709_SCRGB,
		 GS_CS_709_SCRGB,
		 {2.5f, 0.25f, 6.0f},
		 {2.5f, 0.25f, 6.0f}},
		{GS_CS_709_EXTENDED,
		 GS_CS_709_EXTENDED,
		 {2.5f, 0.25f, 6.0f},
		 {2.5f, 0.25f, 6.0f}},
		{GS_CS_709_SCRGB,
		 GS_CS_709_EXTENDED,
		 {2.5f, 0.25f, 6.0f},
		 {2.5f / to_scrgb, 0.25f / to_scrgb, 6.0f / to_scrgb}},
		{GS_CS_709_EXTENDED,
		 GS_CS_709_SCRGB,
		 {2.5f, 0.25f, 6.0f},
		 {2.5f * to_scrgb, 0.25f * to_scrgb, 6.0f * to_scrgb}},
		{GS_CS_709_EXTENDED,
		 GS_CS_SRGB_16F,
		 {3.0f, 3.0f, 3.0f},
		 {0.75f, 0.75f, 0.75f}},
		/* 3.0 in scRGB is 0.8 of SDR white */
		{GS_CS_709_SCRGB,
		 GS_CS_SRGB_16F,
		 {3.0f, 3.0f, 3.0f},
		 {0.8f / 1.8f, 0.8f / 1.8f, 0.8f / 1.8f}},
	};
	const uint32_t w = 32, h = 16;
	for (const auto &c : cases) {
		SCOPED_TRACE(::testing::Message()
			     << "source space " << c.source << ", target space "
			     << c.target);
		Picture picture;
		picture.width = w;
		picture.height = h;
		picture.format = GS_RGBA16F;
		picture.space = c.source;
		for (uint32_t y = 0; y < h; y++)
			for (uint32_t x = 0; x < w; x++) {
				for (int ch = 0; ch < 3; ch++)
					picture.rgba.push_back(
						x < w / 2 ? c.colour[ch]
							  : 0.5f);
				picture.rgba.push_back(1.0f);
			}
		PictureRig rig(picture, 2.0, 0.25, 0.5);
		const std::vector<float> row =
			float_row(rig.parent, w, h, c.target);
		ASSERT_EQ(row.size(), size_t(w) * 4);
		/* the window [0, 1/2] is stretched over the whole row; its
		 * last pixels blend in the grey beyond it */
		for (uint32_t x = 0; x < w - 3; x++)
			for (int ch = 0; ch < 3; ch++)
				EXPECT_NEAR(row[x * 4 + ch], c.expected[ch],
					    0.004 * c.expected[ch])
					<< "pixel " << x << " channel " << ch;
	}
}

/*
 * The filter's output drawn two ways: filling a target of its own size,
 * where an sRGB-aware parent draws itself straight into the output, and as
 * an item of a scene away from the scene's origin, where the parent goes
 * through the filter's texture. Both give the same
 * pixels, every sprite of the parent in its place, and nothing lands
 * outside the output's own rectangle. Whether the filter's texture was
 * made tells which way the parent went.
 */
TEST(Colour, TheParentDrawnDirectlyMatchesTheTexturePath)
{
	Picture sharp = sharp_picture(96, 64);
	Picture with_cursor = sharp;
	with_cursor.cursor_size = 8;
	with_cursor.cursor_x = 30;
	with_cursor.cursor_y = 21;
	Picture beginning = sharp;
	beginning.begins_draw = true;
	Picture custom = with_cursor;
	custom.custom_draw = true;
	const struct {
		const char *parent;
		const Picture *picture; /* null: the plain test pattern */
		double zoom, center_x, center_y;
		bool texture_when_filling;
	} cases[] = {
		{"sharp picture", &sharp, 1.0, 0.5, 0.5, false},
		{"sharp picture", &sharp, 2.0, 0.5, 0.5, false},
		{"sharp picture", &sharp, 2.0, 0.3, 0.7, false},
		{"sharp picture", &sharp, 3.3, 0.81, 0.66, false},
		{"picture and cursor", &with_cursor, 2.0, 0.4, 0.4, false},
		{"picture and cursor", &with_cursor, 3.3, 0.35, 0.3, false},
		{"picture beginning Draw", &beginning, 2.0, 0.3, 0.7, false},
		{"custom-drawn picture and cursor", &custom, 2.0, 0.4, 0.4,
		 false},
		{"custom-drawn picture and cursor", &custom, 3.3, 0.35, 0.3,
		 false},
		/* not sRGB aware: drawn straight, it would blend encoded
		 * values */
		{"plain pattern", nullptr, 2.0, 0.3, 0.7, true},
	};
	const uint32_t w = 96, h = 64, margin = 12;
	for (const auto &c : cases) {
		SCOPED_TRACE(::testing::Message()
			     << c.parent << ", zoom " << c.zoom << " centre ("
			     << c.center_x << ", " << c.center_y << ")");
		obs_source_t *parent =
			c.picture ? create_picture_source("direct", *c.picture)
				  : create_pattern_source("direct", w, h);
		obs_source_t *filter = zoom_filter_with(
			"direct", idle_at(c.zoom, c.center_x, c.center_y));
		obs_source_filter_add(parent, filter);
		wait_frames(30);

		const std::vector<uint8_t> filling =
			render_pixels(parent, w, h);
		EXPECT_EQ(graphics_snapshot(filter).input,
			  c.texture_when_filling);
		/* the picture is opaque: all of it is drawn */
		size_t opaque = 0;
		for (size_t i = 3; i < filling.size(); i += 4)
			opaque += filling[i] == 255;
		EXPECT_EQ(opaque, size_t(w) * h);

		/* the parent as an item of a scene, at (margin, margin) */
		obs_scene_t *scene = obs_scene_create_private("offset");
		obs_sceneitem_t *item = obs_scene_add(scene, parent);
		vec2 at;
		vec2_set(&at, float(margin), float(margin));
		obs_sceneitem_set_pos(item, &at);
		wait_frames(2);
		std::vector<uint8_t> offset;
		obs_enter_graphics();
		{
			ReadbackTarget target(w + 2 * margin, h + 2 * margin);
			target.draw(
				[scene] {
					obs_source_video_render(
						obs_scene_get_source(scene));
				},
				&offset);
		}
		obs_leave_graphics();
		obs_scene_release(scene);
		EXPECT_EQ(graphics_snapshot(filter).input, c.zoom > 1.0);

		/* the cursor's enlarged edges blend it with the picture
		 * beneath in the texture and not when drawn straight */
		const Span window = window_of(c.zoom, c.center_x, c.center_y);
		auto near_cursor_edge = [&](uint32_t v, double origin,
					    uint32_t at) {
			for (uint32_t edge : {at, at + c.picture->cursor_size})
				if (std::abs(v + 0.5 -
					     (edge - origin) * c.zoom) < 2.5)
					return true;
			return false;
		};
		const uint32_t ow = w + 2 * margin;
		size_t outside = 0;
		for (uint32_t y = 0; y < h + 2 * margin; y++)
			for (uint32_t x = 0; x < ow; x++) {
				const bool inside =
					x >= margin && x < margin + w &&
					y >= margin && y < margin + h;
				for (int ch = 0; !inside && ch < 4; ch++)
					outside +=
						offset[(size_t(y) * ow + x) * 4 +
						       ch] != 0;
			}
		EXPECT_EQ(outside, 0u) << "channels drawn outside the output";
		EXPECT_TRUE(levels_near(
			filling, w, h,
			[&](uint32_t x, uint32_t y, int ch) -> double {
				const bool skip =
					c.picture && c.picture->cursor_size &&
					(near_cursor_edge(x, window.left * w,
							  c.picture->cursor_x) ||
					 near_cursor_edge(y, window.top * h,
							  c.picture->cursor_y));
				const int level =
					offset[(size_t(y + margin) * ow + x +
						margin) *
						       4 +
					       size_t(ch)];
				return skip ? filling[(size_t(y) * w + x) * 4 +
						      size_t(ch)]
					    : level;
			},
			1.0));
		if (c.picture && c.picture->cursor_size) {
			/* the cursor's middle, enlarged at its place, is
			 * white both ways */
			const double mx = (c.picture->cursor_x +
					   c.picture->cursor_size / 2.0 -
					   window.left * w) *
					  c.zoom;
			const double my = (c.picture->cursor_y +
					   c.picture->cursor_size / 2.0 -
					   window.top * h) *
					  c.zoom;
			const size_t i = (size_t(my) * w + size_t(mx)) * 4;
			EXPECT_EQ(filling[i] + filling[i + 1] + filling[i + 2],
				  3 * 255);
		}

		remove_and_release(parent, filter);
		wait_destroyed();
	}
}

/*
 * A zoom far beyond any the properties offer (a script can set one) still
 * draws the whole output: the window is a fraction of one input pixel, so
 * every output pixel shows that pixel's colour, filling a target of the
 * output's size, where the parent would otherwise draw itself straight
 * into it.
 */
TEST(Colour, AnExtremeZoomDrawsTheWholeOutput)
{
	const struct {
		uint32_t width, height;
		double zoom, centre;
	} cases[] = {
		/* where the straight draw left holes */
		{64, 64, 1e7, 0.4},
		{1920, 1080, 1e6, 0.123},
		{1920, 1080, 1e300, 0.3},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height
						  << ", zoom " << c.zoom);
		PictureRig rig(sharp_picture(c.width, c.height), c.zoom,
			       c.centre, c.centre);
		const std::vector<uint8_t> pixels =
			render_pixels(rig.parent, c.width, c.height);
		size_t opaque = 0, unlike_first = 0;
		for (size_t i = 0; i < pixels.size(); i += 4) {
			opaque += pixels[i + 3] == 255;
			for (size_t ch = 0; ch < 3; ch++)
				unlike_first += std::abs(pixels[i + ch] -
							 pixels[ch]) > 2;
		}
		EXPECT_EQ(opaque, size_t(c.width) * c.height);
		EXPECT_EQ(unlike_first, 0u);
	}
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	return run_tests_in_host(argc, argv, options);
}
