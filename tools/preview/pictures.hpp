/*
 * The preview's pictures: RGBA images, the generated cards it can start from
 * (test-card.cpp), and the files it writes (image-files.cpp): PNG frames
 * through libpng and an animated GIF through giflib and libimagequant.
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

/* A desktop: three windows with title bars, lines of text and buttons, and
 * a task bar, as a screen capture would show one (DejaVu Sans, as above). */
RgbaImage make_desktop_card(uint32_t width, uint32_t height);

/* Writes an RGB PNG (alpha dropped); throws std::runtime_error on failure. */
void write_png(const std::string &path, const RgbaImage &image);
/* Reads a PNG as RGBA; throws std::runtime_error on failure. */
RgbaImage read_png(const std::string &path);

/*
 * Collects the frames of an animation and writes them as one looping GIF,
 * with one palette for the whole animation (chosen and dithered by
 * libimagequant, so colours do not flicker from frame to frame). A frame
 * equal to the one before only lengthens it.
 */
class GifAnimation {
public:
	/* Adds a frame shown for the given number of hundredths of a second. */
	void add_frame(const RgbaImage &frame, int delay_cs);
	/* Needs a frame; throws std::runtime_error on failure. */
	void write(const std::string &path) const;

private:
	struct Frame {
		RgbaImage image;
		int delay_cs;
	};
	std::vector<Frame> frames;
};
