/*
 * The filter on an HDR canvas (Rec. 2100 PQ, drawn by libobs in half floats
 * in Rec. 709 extended): it reports the canvas's colour space, and what it
 * shows reaches the canvas unclipped. Read back from libobs's own canvas.
 */
#include "colour-checks.hpp"
#include "render-checks.hpp"

#include <graphics/graphics.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

constexpr uint32_t WIDTH = 64;
constexpr uint32_t HEIGHT = 32;

/* The canvas as libobs last drew it, as linear RGBA floats. */
static std::vector<float> canvas()
{
	std::vector<float> values;
	obs_enter_graphics();
	gs_texture_t *texture = obs_get_main_texture();
	gs_stagesurf_t *stage =
		gs_stagesurface_create(WIDTH, HEIGHT, GS_RGBA16F);
	uint8_t *data = nullptr;
	uint32_t linesize = 0;
	if (texture && gs_texture_get_color_format(texture) == GS_RGBA16F) {
		gs_stage_texture(stage, texture);
		if (gs_stagesurface_map(stage, &data, &linesize)) {
			for (uint32_t y = 0; y < HEIGHT; y++)
				for (uint32_t i = 0; i < WIDTH * 4; i++) {
					uint16_t half;
					std::memcpy(&half,
						    data + y * linesize + i * 2,
						    2);
					values.push_back(float_from_half(half));
				}
			gs_stagesurface_unmap(stage);
		}
	}
	gs_stagesurface_destroy(stage);
	obs_leave_graphics();
	return values;
}

TEST(HdrCanvas, TheFilterReportsTheCanvasSpaceAndKeepsHdrValues)
{
	/* the left half of each picture in one colour, the right in another;
	 * zoom 2 on the left quarter shows the left colour only */
	const struct {
		const char *name;
		gs_color_format format;
		gs_color_space space;
		float left[3], right[3];
		/* on the canvas, where SDR white is 1.0 */
		float expected[3];
	} cases[] = {
		{"HDR picture",
		 GS_RGBA16F,
		 GS_CS_709_EXTENDED,
		 {4.0f, 1.5f, 0.25f},
		 {0.5f, 0.5f, 0.5f},
		 {4.0f, 1.5f, 0.25f}},
		/* 8-bit level 188 is 0.5 in linear light */
		{"SDR picture",
		 GS_RGBA,
		 GS_CS_SRGB,
		 {188.0f, 255.0f, 0.0f},
		 {0.0f, 0.0f, 255.0f},
		 {0.5029f, 1.0f, 0.0f}},
	};
	const gs_color_space canvas_space = GS_CS_709_EXTENDED;
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		Picture picture;
		picture.width = WIDTH;
		picture.height = HEIGHT;
		picture.format = c.format;
		picture.space = c.space;
		for (uint32_t y = 0; y < HEIGHT; y++)
			for (uint32_t x = 0; x < WIDTH; x++) {
				const float *colour = x < WIDTH / 2 ? c.left
								    : c.right;
				for (int ch = 0; ch < 4; ch++) {
					const float v = ch < 3 ? colour[ch]
							       : 1.0f;
					picture.rgba.push_back(v);
					picture.rgba8.push_back(
						uint8_t(ch < 3 ? v : 255));
				}
			}
		obs_source_t *parent =
			create_picture_source("hdr picture", picture);
		obs_source_t *filter =
			zoom_filter_with("hdr zoom", idle_at(2.0, 0.25, 0.5));
		obs_source_filter_add(parent, filter);
		obs_set_output_source(0, parent);
		wait_frames(30);

		EXPECT_EQ(obs_source_get_color_space(filter, 1, &canvas_space),
			  canvas_space);
		const std::vector<float> values = canvas();
		ASSERT_EQ(values.size(), size_t(WIDTH) * HEIGHT * 4);
		/* the last pixels of each row blend in the right half */
		for (uint32_t y = 0; y < HEIGHT; y += 7)
			for (uint32_t x = 0; x < WIDTH - 3; x += 3)
				for (int ch = 0; ch < 3; ch++)
					EXPECT_NEAR(
						values[(y * WIDTH + x) * 4 + ch],
						c.expected[ch],
						0.004 * c.expected[ch] + 0.001)
						<< "pixel (" << x << ", " << y
						<< ") channel " << ch;

		obs_set_output_source(0, nullptr);
		remove_and_release(parent, filter);
		wait_destroyed();
	}
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	options.width = WIDTH;
	options.height = HEIGHT;
	options.colorspace = VIDEO_CS_2100_PQ;
	options.format = VIDEO_FORMAT_P010;
	return run_tests_in_host(argc, argv, options);
}
