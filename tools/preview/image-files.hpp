/*
 * Writing the preview's pictures: PNG frames through libpng, and an animated
 * GIF through giflib and libimagequant.
 */
#pragma once

#include "test-card.hpp"

#include <cstdint>
#include <string>
#include <vector>

/* Writes an RGB PNG (alpha dropped); throws std::runtime_error on failure. */
void write_png(const std::string &path, const RgbaImage &image);
/* Reads a PNG as RGBA; throws std::runtime_error on failure. */
RgbaImage read_png(const std::string &path);

/*
 * Collects the frames of an animation and writes them as one looping GIF
 * through giflib, with one palette for the whole animation (chosen and
 * dithered by libimagequant, so colours do not flicker from frame to
 * frame). A frame equal to the one before only lengthens it.
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
