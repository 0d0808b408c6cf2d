/*
 * Pictures the preview can start from without any input file: a test card
 * that makes zoom and position easy to read, and a coordinate card whose
 * pixels tell where they came from.
 */
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/* Tightly packed 8-bit RGBA, rows top to bottom; new ones are white. */
struct RgbaImage {
	explicit RgbaImage(uint32_t width = 0, uint32_t height = 0)
		: width(width), height(height),
		  pixels(size_t(width) * height * 4, 255)
	{
	}
	uint32_t width;
	uint32_t height;
	std::vector<uint8_t> pixels;
};

/* Four coloured, labelled quadrants, a grid whose cells carry their names
 * (column letter, row number), a ring at the centre and a hue gradient
 * along the bottom edge. Its text is drawn with FreeType in DejaVu Sans;
 * throws std::runtime_error when the font cannot be loaded. */
RgbaImage make_test_card(uint32_t width, uint32_t height);

/* red = x and green = y, each scaled to 0..255 over the frame, blue = 64:
 * a read-back pixel tells from where in the input it was sampled. */
RgbaImage make_coordinate_card(uint32_t width, uint32_t height);
