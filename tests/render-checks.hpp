/*
 * Reading a rendered test pattern: the pattern's red level encodes x and its
 * green level y, so a read-back frame tells which window of the input it
 * shows. Shared by the render tests.
 */
#pragma once

#include "obs-harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

/* An RGBA frame as render_pixels reads it back. */
struct Frame {
	std::vector<uint8_t> pixels;
	uint32_t width = 0;
	uint32_t height = 0;

	const uint8_t *at(uint32_t x, uint32_t y) const
	{
		return &pixels[(size_t(y) * width + x) * 4];
	}
};

inline Frame read_frame(obs_source_t *source, uint32_t width, uint32_t height)
{
	Frame frame;
	frame.pixels = render_pixels(source, width, height);
	frame.width = width;
	frame.height = height;
	return frame;
}

/* A window of the input in fractions of the frame: x from left to
 * left + width, y from top to top + height. */
struct Window {
	double left;
	double top;
	double width;
	double height;
};

constexpr Window WHOLE_FRAME = {0.0, 0.0, 1.0, 1.0};

/* The level that linear sampling of the pattern gives at output pixel i of
 * n when the window [start, start + span] is stretched over the output. */
inline double expected_level(double start, double span, uint32_t i, uint32_t n)
{
	const double coord = start + span * (i + 0.5) / n;
	double texel = coord * n - 0.5;
	texel = std::min(std::max(texel, 0.0), double(n - 1));
	return texel * 255.0 / (n - 1);
}

/* Every pixel of the frame shows the pattern's window, within `tolerance`
 * levels; blue and alpha are the pattern's own. */
inline ::testing::AssertionResult
shows_window(const Frame &frame, const Window &window, double tolerance = 2.0)
{
	if (frame.pixels.size() != size_t(frame.width) * frame.height * 4)
		return ::testing::AssertionFailure() << "no frame read back";
	size_t wrong = 0;
	::testing::AssertionResult first = ::testing::AssertionSuccess();
	for (uint32_t y = 0; y < frame.height; y++) {
		const double green = expected_level(window.top, window.height,
						    y, frame.height);
		for (uint32_t x = 0; x < frame.width; x++) {
			const double red = expected_level(
				window.left, window.width, x, frame.width);
			const uint8_t *px = frame.at(x, y);
			const bool good = std::abs(px[0] - red) <= tolerance &&
					  std::abs(px[1] - green) <=
						  tolerance &&
					  std::abs(px[2] - 64) <= tolerance &&
					  px[3] == 255;
			if (good)
				continue;
			if (wrong++ == 0)
				first = ::testing::AssertionFailure()
					<< "pixel (" << x << ", " << y
					<< ") is rgba(" << int(px[0]) << ", "
					<< int(px[1]) << ", " << int(px[2])
					<< ", " << int(px[3])
					<< "), expected about rgba(" << red
					<< ", " << green << ", 64, 255)";
		}
	}
	if (wrong == 0)
		return ::testing::AssertionSuccess();
	return first
	       << "; " << wrong << " of " << size_t(frame.width) * frame.height
	       << " pixels differ from the window (" << window.left << ", "
	       << window.top << ") size " << window.width << " x "
	       << window.height;
}

/* The frame shows some window of the pattern, enlarged at most five times:
 * the pattern's blue and alpha everywhere, red rising along each row and
 * green down each column over at least a fifth of their range. A frame
 * drawn from non-finite coordinates is black, cleared or one flat colour. */
inline ::testing::AssertionResult shows_some_window(const Frame &frame)
{
	const uint32_t w = frame.width;
	const uint32_t h = frame.height;
	if (frame.pixels.size() != size_t(w) * h * 4 || w < 2 || h < 2)
		return ::testing::AssertionFailure() << "no frame read back";
	for (uint32_t y = 0; y < h; y++) {
		for (uint32_t x = 0; x < w; x++) {
			const uint8_t *px = frame.at(x, y);
			const char *fault =
				std::abs(px[2] - 64) > 2 || px[3] != 255
					? "is not the pattern's"
				: x > 0 && px[0] < frame.at(x - 1, y)[0]
					? "has less red than its left"
				: y > 0 && px[1] < frame.at(x, y - 1)[1]
					? "has less green than above"
					: nullptr;
			if (fault)
				return ::testing::AssertionFailure()
				       << "pixel (" << x << ", " << y << ") "
				       << fault << ": rgba(" << int(px[0])
				       << ", " << int(px[1]) << ", "
				       << int(px[2]) << ", " << int(px[3])
				       << ")";
		}
	}
	const int red_range = frame.at(w - 1, h / 2)[0] - frame.at(0, h / 2)[0];
	const int green_range =
		frame.at(w / 2, h - 1)[1] - frame.at(w / 2, 0)[1];
	if (red_range < 40 || green_range < 40)
		return ::testing::AssertionFailure()
		       << "red spans " << red_range << " and green "
		       << green_range << " levels";
	return ::testing::AssertionSuccess();
}

/* The window's centre and half size along x, estimated from the red levels
 * of the middle row (valid while the window lies inside the frame). */
struct Measured {
	double center_x;
	double center_y;
	double half_size;
};

inline Measured measure_window(const Frame &frame)
{
	const uint32_t w = frame.width;
	const uint32_t h = frame.height;
	/* levels back to texel coordinates, then to fractions of the frame */
	auto to_coord = [](double level, uint32_t n) {
		return (level * (n - 1) / 255.0 + 0.5) / n;
	};
	double red_sum = 0;
	for (uint32_t x = 0; x < w; x++)
		red_sum += frame.at(x, h / 2)[0];
	double green_sum = 0;
	for (uint32_t y = 0; y < h; y++)
		green_sum += frame.at(w / 2, y)[1];
	const double first = to_coord(frame.at(0, h / 2)[0], w);
	const double last = to_coord(frame.at(w - 1, h / 2)[0], w);
	Measured m;
	m.center_x = to_coord(red_sum / w, w);
	m.center_y = to_coord(green_sum / h, h);
	/* the first and last pixel centres lie half a pixel inside the edges */
	m.half_size = (last - first) / 2.0 * w / (w - 1);
	return m;
}

/* The crop window the filter should show for a zoom and a centre. */
inline Window crop_of(double zoom, double center_x, double center_y)
{
	const double h = 0.5 / std::max(1.0, zoom);
	const double cx = std::min(std::max(center_x, h), 1.0 - h);
	const double cy = std::min(std::max(center_y, h), 1.0 - h);
	return {cx - h, cy - h, 2 * h, 2 * h};
}

/* Nothing drawn: every byte of the frame is 0. */
inline bool all_zero(const Frame &frame)
{
	return !frame.pixels.empty() &&
	       std::all_of(frame.pixels.begin(), frame.pixels.end(),
			   [](uint8_t v) { return v == 0; });
}

/* The error lines of the log saying that the crop effect did not load. */
inline long effect_failure_lines()
{
	const auto lines = logs_containing("zoom-crop.effect");
	return std::count_if(lines.begin(), lines.end(), [](const LogLine &l) {
		return l.level == LOG_ERROR &&
		       l.text ==
			       "[tavimore-free] failed to load zoom-crop.effect";
	});
}

/* Settings of plain numbers: the key and its value. */
using Numbers = std::vector<std::pair<const char *, double>>;

/* The idle view zoomed to `zoom` on (x, y), reached with no glide. */
inline Numbers idle_at(double zoom, double x, double y)
{
	return {{"idle_zoom_factor", zoom},
		{"idle_center_x", x},
		{"idle_center_y", y},
		{"tracking_smoothing", 0.0}};
}

/* A settings object holding the given numbers. Release it. */
inline obs_data_t *numbers(const Numbers &values)
{
	obs_data_t *data = obs_data_create();
	for (const auto &value : values)
		obs_data_set_double(data, value.first, value.second);
	return data;
}

/* A zoom filter with the given numbers as its settings. */
inline obs_source_t *zoom_filter_with(const char *name, const Numbers &values)
{
	obs_data_t *data = numbers(values);
	obs_source_t *filter = create_zoom_filter(name, data);
	obs_data_release(data);
	return filter;
}

/* A pattern source with a zoom filter attached. */
struct Rig {
	obs_source_t *parent = nullptr;
	obs_source_t *filter = nullptr;

	Rig(const Numbers &settings, uint32_t width = 256,
	    uint32_t height = 256)
	{
		parent = create_pattern_source("render pattern", width, height);
		filter = zoom_filter_with("render zoom", settings);
		obs_source_filter_add(parent, filter);
	}
	~Rig()
	{
		remove_and_release(parent, filter);
		wait_destroyed();
	}
	Rig(const Rig &) = delete;
	Rig &operator=(const Rig &) = delete;

	/* Changes settings; the filter reads them at its next tick. */
	void update(const Numbers &changes) const
	{
		/* libobs merges the changes into the settings on the calling
		 * thread and reads them at the next tick, with no lock between
		 * the two: merged on the graphics thread, they never race */
		obs_data_t *data = numbers(changes);
		on_graphics_thread([&] { obs_source_update(filter, data); });
		obs_data_release(data);
	}

	Frame frame() const
	{
		return read_frame(parent, obs_source_get_width(parent),
				  obs_source_get_height(parent));
	}
};
