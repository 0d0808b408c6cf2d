/*
 * References in linear light for the colour tests: sRGB's transfer
 * function, a sharp-edged picture, and what bilinear sampling of it in
 * linear light gives when a window of it is stretched over the output.
 */
#pragma once

#include "obs-harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

inline double srgb_to_linear(double v)
{
	return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

inline double linear_to_srgb(double v)
{
	v = std::min(std::max(v, 0.0), 1.0);
	return v <= 0.0031308 ? v * 12.92
			      : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

/* Text-like black and white strokes one to four pixels wide, beside
 * saturated colour edges (red on blue, green on magenta, yellow on black),
 * all opaque. */
inline Picture sharp_picture(uint32_t width, uint32_t height)
{
	static const uint8_t palette[][3] = {
		{0, 0, 0},   {255, 255, 255}, {255, 0, 0},   {0, 0, 255},
		{0, 255, 0}, {255, 0, 255},   {255, 255, 0}, {0, 0, 0},
	};
	Picture picture;
	picture.width = width;
	picture.height = height;
	picture.rgba8.resize(size_t(width) * height * 4);
	for (uint32_t y = 0; y < height; y++)
		for (uint32_t x = 0; x < width; x++) {
			/* strokes in the top half, colour blocks below */
			const unsigned index =
				y < height / 2
					? ((x / (1 + x % 4)) ^ (y / 3)) & 1
					: 2 + (((x / 5) ^ (y / 7)) % 6);
			uint8_t *px =
				&picture.rgba8[(size_t(y) * width + x) * 4];
			std::copy(palette[index], palette[index] + 3, px);
			px[3] = 255;
		}
	return picture;
}

/* A window of the input in fractions of the frame. */
struct Span {
	double left, top, size;
};

/* The window the filter shows at a zoom and centre, the centre kept so
 * that the window stays inside the frame. */
inline Span window_of(double zoom, double center_x, double center_y)
{
	const double h = 0.5 / std::max(1.0, zoom);
	const double cx = std::min(std::max(center_x, h), 1.0 - h);
	const double cy = std::min(std::max(center_y, h), 1.0 - h);
	return {cx - h, cy - h, 2 * h};
}

/* Bilinear sampling in linear light of an 8-bit picture (clamped at its
 * edges), the window stretched over an output of the picture's size:
 * channel c of output pixel (x, y), as a level 0..255, sRGB-encoded. */
inline double reference_level(const Picture &picture, const Span &window,
			      uint32_t x, uint32_t y, int c)
{
	const uint32_t w = picture.width, h = picture.height;
	const double u = (window.left + window.size * (x + 0.5) / w) * w - 0.5;
	const double v = (window.top + window.size * (y + 0.5) / h) * h - 0.5;
	const double fu = std::floor(u), fv = std::floor(v);
	const double tu = u - fu, tv = v - fv;
	auto texel = [&](double tx, double ty) {
		const uint32_t cx =
			uint32_t(std::min(std::max(tx, 0.0), double(w - 1)));
		const uint32_t cy =
			uint32_t(std::min(std::max(ty, 0.0), double(h - 1)));
		const uint8_t level =
			picture.rgba8[(size_t(cy) * w + cx) * 4 + size_t(c)];
		return c == 3 ? level / 255.0 : srgb_to_linear(level / 255.0);
	};
	const double top = texel(fu, fv) * (1 - tu) + texel(fu + 1, fv) * tu;
	const double bottom =
		texel(fu, fv + 1) * (1 - tu) + texel(fu + 1, fv + 1) * tu;
	const double linear = top * (1 - tv) + bottom * tv;
	return 255.0 * (c == 3 ? linear : linear_to_srgb(linear));
}

/* Every channel of every pixel of `frame` (RGBA bytes) within `tolerance`
 * levels of `expected(x, y, c)`, leaving out a ring `ring` pixels wide
 * along the frame's edges. */
template<typename Expected>
::testing::AssertionResult
levels_near(const std::vector<uint8_t> &frame, uint32_t width, uint32_t height,
	    Expected expected, double tolerance, uint32_t ring = 0)
{
	if (frame.size() != size_t(width) * height * 4)
		return ::testing::AssertionFailure() << "no frame read back";
	size_t wrong = 0;
	double largest = 0;
	::testing::Message first;
	for (uint32_t y = ring; y + ring < height; y++)
		for (uint32_t x = ring; x + ring < width; x++)
			for (int c = 0; c < 4; c++) {
				const double want = expected(x, y, c);
				const int got =
					frame[(size_t(y) * width + x) * 4 + c];
				const double off = std::abs(got - want);
				largest = std::max(largest, off);
				if (off <= tolerance)
					continue;
				if (wrong++ == 0)
					first << "pixel (" << x << ", " << y
					      << ") channel " << c << " is "
					      << got << ", expected " << want;
			}
	if (wrong == 0)
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure()
	       << first << "; " << wrong << " channels off by more than "
	       << tolerance << ", the largest by " << largest;
}
