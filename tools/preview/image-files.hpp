/*
 * Writing the preview's pictures: PNG frames through libpng, and an animated
 * GIF through a small encoder of our own (one palette for the whole
 * animation, so colours do not flicker from frame to frame).
 */
#pragma once

#include "test-card.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

/* Writes an RGB PNG (alpha dropped); throws std::runtime_error on failure. */
void write_png(const std::string &path, const RgbaImage &image);
/* Reads a PNG as RGBA; throws std::runtime_error on failure. */
RgbaImage read_png(const std::string &path);

/*
 * Collects the frames of an animation and writes them as one looping GIF.
 * Frames are kept at 5 bits per channel (all the GIF palette can tell
 * apart anyway); a frame equal to the one before only lengthens it.
 */
class GifAnimation {
public:
	GifAnimation(uint32_t width, uint32_t height);

	/* Adds a frame shown for the given number of hundredths of a second. */
	void add_frame(const RgbaImage &frame, int delay_cs);
	size_t frame_count() const { return frames.size(); }
	/* Throws std::runtime_error on failure. */
	void write(const std::string &path) const;

private:
	struct Frame {
		std::vector<uint16_t> colours; /* 0bRRRRRGGGGGBBBBB */
		int delay_cs;
	};
	uint32_t width;
	uint32_t height;
	std::vector<Frame> frames;
	std::vector<uint32_t> histogram; /* pixels per 15-bit colour */

	std::vector<std::array<uint8_t, 3>> make_palette() const;
};
