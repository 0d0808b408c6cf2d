#include "test-card.hpp"

#include <algorithm>
#include <cmath>

namespace {

/* 5x7 glyphs, one byte per row from the top, bit 4 the leftmost column. */
struct Glyph {
	char ch;
	uint8_t rows[7];
};

constexpr Glyph font[] = {
	{'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
	{'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
	{'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
	{'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
	{'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
	{'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
	{'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
	{'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
	{'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
	{'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
	{'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
	{'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
	{'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
	{'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
	{'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
	{'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
	{'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
	{'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
	{'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
	{'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
	{'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
	{'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
	{'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
	{'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
	{'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}},
	{'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
	{'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
	{'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
	{'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
	{'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
	{'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
	{'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
	{'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
	{'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
	{'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
	{'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
	{'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
	{',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
	{'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
};

const Glyph *find_glyph(char ch)
{
	for (const Glyph &glyph : font)
		if (glyph.ch == ch)
			return &glyph;
	return nullptr;
}

struct Rgb {
	uint8_t r, g, b;
};

void put(RgbaImage &image, int x, int y, Rgb c)
{
	if (x < 0 || y < 0 || x >= int(image.width) || y >= int(image.height))
		return;
	uint8_t *p = &image.pixels[(size_t(y) * image.width + size_t(x)) * 4];
	p[0] = c.r;
	p[1] = c.g;
	p[2] = c.b;
	p[3] = 255;
}

void fill_rect(RgbaImage &image, int x0, int y0, int x1, int y1, Rgb c)
{
	for (int y = std::max(y0, 0); y < std::min(y1, int(image.height)); y++)
		for (int x = std::max(x0, 0);
		     x < std::min(x1, int(image.width)); x++)
			put(image, x, y, c);
}

Rgb mix(Rgb a, Rgb b, double t)
{
	auto m = [t](uint8_t u, uint8_t v) {
		return static_cast<uint8_t>(std::lround(u + (v - u) * t));
	};
	return {m(a.r, b.r), m(a.g, b.g), m(a.b, b.b)};
}

/* Fully saturated hue, h in [0, 1). */
Rgb hue(double h)
{
	const double s = h * 6.0;
	const int sector = std::min(5, static_cast<int>(s));
	const double f = s - sector;
	const auto up = static_cast<uint8_t>(std::lround(255.0 * f));
	const auto down = static_cast<uint8_t>(std::lround(255.0 * (1.0 - f)));
	switch (sector) {
	case 0:
		return {255, up, 0};
	case 1:
		return {down, 255, 0};
	case 2:
		return {0, 255, up};
	case 3:
		return {0, down, 255};
	case 4:
		return {up, 0, 255};
	default:
		return {255, 0, down};
	}
}

void draw_text_shadowed(RgbaImage &image, int x, int y, int scale,
			const std::string &text, Rgb colour)
{
	const uint8_t shadow[3] = {16, 16, 24};
	const int offset = std::max(1, scale / 3);
	draw_text(image, x + offset, y + offset, scale, text, shadow);
	const uint8_t fore[3] = {colour.r, colour.g, colour.b};
	draw_text(image, x, y, scale, text, fore);
}

} // namespace

int text_width(const std::string &text, int scale)
{
	return text.empty() ? 0 : (int(text.size()) * 6 - 1) * scale;
}

int text_height(int scale)
{
	return 7 * scale;
}

void draw_text(RgbaImage &image, int x, int y, int scale,
	       const std::string &text, const uint8_t rgb[3])
{
	const Rgb colour{rgb[0], rgb[1], rgb[2]};
	for (size_t i = 0; i < text.size(); i++) {
		const Glyph *glyph = find_glyph(text[i]);
		if (!glyph)
			continue; /* blanks and anything unknown */
		const int left = x + int(i) * 6 * scale;
		for (int row = 0; row < 7; row++)
			for (int col = 0; col < 5; col++)
				if (glyph->rows[row] & (0x10 >> col))
					fill_rect(image, left + col * scale,
						  y + row * scale,
						  left + (col + 1) * scale,
						  y + (row + 1) * scale,
						  colour);
	}
}

RgbaImage make_test_card(uint32_t width, uint32_t height)
{
	RgbaImage image;
	image.width = width;
	image.height = height;
	image.pixels.assign(size_t(width) * height * 4, 255);
	const int w = int(width);
	const int h = int(height);

	/* quadrants: each its own colour, so a glance tells where we are */
	const Rgb quadrant[4] = {{40, 80, 140},
				 {140, 40, 70},
				 {45, 120, 80},
				 {140, 110, 40}};
	const Rgb white{255, 255, 255};
	for (int q = 0; q < 4; q++) {
		const int x0 = (q % 2) ? w / 2 : 0;
		const int y0 = (q / 2) ? h / 2 : 0;
		fill_rect(image, x0, y0, (q % 2) ? w : w / 2,
			  (q / 2) ? h : h / 2, quadrant[q]);
	}

	/* the grid: 16 columns by 8 rows, quarter lines stronger */
	const int columns = 16;
	const int rows = 8;
	const int label_scale = std::max(1, h / 240);
	for (int c = 0; c < columns; c++) {
		for (int r = 0; r < rows; r++) {
			const int x0 = c * w / columns;
			const int y0 = r * h / rows;
			const int q = (c >= columns / 2 ? 1 : 0) +
				      (r >= rows / 2 ? 2 : 0);
			const Rgb line = mix(quadrant[q], white, 0.35);
			fill_rect(image, x0, y0, x0 + 1, (r + 1) * h / rows,
				  line);
			fill_rect(image, x0, y0, (c + 1) * w / columns, y0 + 1,
				  line);
			const std::string name = std::string(1, char('A' + c)) +
						 std::to_string(r + 1);
			const uint8_t ink[3] = {line.r, line.g, line.b};
			draw_text(image, x0 + 2 * label_scale + 1,
				  y0 + 2 * label_scale + 1, label_scale, name,
				  ink);
		}
	}
	const int thick = std::max(2, h / 180);
	for (int i = 1; i < 4; i++) {
		const int x = i * w / 4;
		const int y = i * h / 4;
		const Rgb line =
			mix({128, 128, 128}, white, i == 2 ? 1.0 : 0.6);
		fill_rect(image, x - thick / 2, 0, x - thick / 2 + thick, h,
			  line);
		fill_rect(image, 0, y - thick / 2, w, y - thick / 2 + thick,
			  line);
	}

	/* quadrant names, large, at each quadrant's centre */
	const char *names[4] = {"TL", "TR", "BL", "BR"};
	const int big = std::max(2, h / 36);
	for (int q = 0; q < 4; q++) {
		const int cx = (q % 2) ? 3 * w / 4 : w / 4;
		const int cy = (q / 2) ? 3 * h / 4 : h / 4;
		draw_text_shadowed(image, cx - text_width(names[q], big) / 2,
				   cy - text_height(big) / 2, big, names[q],
				   white);
	}

	/* a ring and a cross at the centre */
	const double cx = w / 2.0;
	const double cy = h / 2.0;
	const double radius = h / 7.0;
	const double ring = std::max(2.0, h / 120.0);
	for (int y = 0; y < h; y++) {
		for (int x = 0; x < w; x++) {
			const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
			if (std::fabs(d - radius) <= ring / 2 ||
			    std::fabs(d - radius / 2) <= ring / 4)
				put(image, x, y, {250, 230, 90});
		}
	}

	/* a hue gradient along the bottom, with a tick every sixteenth */
	const int band = std::max(4, h / 14);
	for (int x = 0; x < w; x++) {
		const Rgb c = hue((x + 0.5) / w * 0.83);
		fill_rect(image, x, h - band, x + 1, h, c);
	}
	for (int i = 1; i < 16; i++) {
		const int x = i * w / 16;
		fill_rect(image, x, h - band, x + 1, h - (i % 4 ? band / 2 : 0),
			  {20, 20, 20});
	}

	/* a border, so the frame's edges are plain to see */
	const int border = std::max(2, h / 180);
	fill_rect(image, 0, 0, w, border, white);
	fill_rect(image, 0, h - border, w, h, white);
	fill_rect(image, 0, 0, border, h, white);
	fill_rect(image, w - border, 0, w, h, white);
	return image;
}

RgbaImage make_coordinate_card(uint32_t width, uint32_t height)
{
	RgbaImage image;
	image.width = width;
	image.height = height;
	image.pixels.resize(size_t(width) * height * 4);
	auto scaled = [](uint32_t i, uint32_t n) {
		return n > 1 ? static_cast<uint8_t>((i * 255 + (n - 1) / 2) /
						    (n - 1))
			     : uint8_t(0);
	};
	for (uint32_t y = 0; y < height; y++) {
		for (uint32_t x = 0; x < width; x++) {
			uint8_t *p = &image.pixels[(size_t(y) * width + x) * 4];
			p[0] = scaled(x, width);
			p[1] = scaled(y, height);
			p[2] = 64;
			p[3] = 255;
		}
	}
	return image;
}
