#include "pictures.hpp"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

struct Rgb {
	uint8_t r, g, b;
};
static_assert(sizeof(Rgb) == 3, "an Rgb is the first 3 bytes of a pixel");

/* Paints a pixel's colour (new images are opaque already). */
void put(RgbaImage &image, int x, int y, Rgb c)
{
	if (x >= 0 && y >= 0 && x < int(image.width) && y < int(image.height))
		std::memcpy(&image.pixels[(size_t(y) * image.width + x) * 4],
			    &c, sizeof(c));
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
	const auto channel = [h](double shift) {
		const double d =
			std::fabs(std::fmod(h * 6.0 + shift, 6.0) - 3.0);
		return uint8_t(
			std::lround(255.0 * std::clamp(d - 1.0, 0.0, 1.0)));
	};
	return {channel(0.0), channel(4.0), channel(2.0)};
}

/* Text in a DejaVu font through FreeType, drawn without antialiasing:
 * crisp text keeps the GIF small. */
class Font {
public:
	Font(const char *name, int pixels)
	{
		const std::string file =
			std::string(TAVIMORE_PREVIEW_FONTS) + "/" + name;
		if (FT_Init_FreeType(&library) != 0 ||
		    FT_New_Face(library, file.c_str(), 0, &face) != 0 ||
		    FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixels)) != 0) {
			FT_Done_FreeType(library);
			throw std::runtime_error(
				"cannot load the test card's font " + file +
				" (apt-get install fonts-dejavu-core)");
		}
	}
	/* also frees the face */
	~Font() { FT_Done_FreeType(library); }
	Font(const Font &) = delete;
	Font &operator=(const Font &) = delete;

	/* How far a capital letter rises above the baseline. */
	int cap_height() const
	{
		return FT_Load_Char(face, 'H', flags) == 0
			       ? face->glyph->bitmap_top
			       : 0;
	}
	/* Draws text from the top left of its capitals, or only measures it
	 * without an image; returns its width. */
	int draw(RgbaImage *image, int x, int top, const std::string &text,
		 Rgb colour) const
	{
		const int baseline = top + cap_height(), start = x;
		for (char ch : text) {
			if (FT_Load_Char(face, FT_ULong(ch), flags) != 0)
				continue;
			const FT_GlyphSlot g = face->glyph;
			const FT_Bitmap &b = g->bitmap;
			for (int row = 0; image && row < int(b.rows); row++)
				for (int col = 0; col < int(b.width); col++)
					if (b.buffer[row * b.pitch + col / 8] &
					    (0x80 >> (col % 8)))
						put(*image,
						    x + g->bitmap_left + col,
						    baseline - g->bitmap_top +
							    row,
						    colour);
			x += int(g->advance.x >> 6);
		}
		return x - start;
	}

private:
	static constexpr FT_Int32 flags = FT_LOAD_RENDER | FT_LOAD_TARGET_MONO;
	FT_Library library = nullptr;
	FT_Face face = nullptr;
};

} // namespace

RgbaImage make_test_card(uint32_t width, uint32_t height)
{
	RgbaImage image(width, height);
	const int w = int(width);
	const int h = int(height);

	/* quadrants: each its own colour, so a glance tells where we are */
	const Rgb quadrant[4] = {{40, 80, 140},
				 {140, 40, 70},
				 {45, 120, 80},
				 {140, 110, 40}};
	const Rgb white{255, 255, 255};
	for (int q = 0; q < 4; q++)
		fill_rect(image, q % 2 ? w / 2 : 0, q / 2 ? h / 2 : 0,
			  q % 2 ? w : w / 2, q / 2 ? h : h / 2, quadrant[q]);

	/* the grid: 16 columns by 8 rows, quarter lines stronger */
	const int columns = 16;
	const int rows = 8;
	const Font label("DejaVuSans.ttf", std::max(8, h / 45));
	for (int c = 0; c < columns; c++) {
		for (int r = 0; r < rows; r++) {
			const int x0 = c * w / columns;
			const int y0 = r * h / rows;
			const int x1 = (c + 1) * w / columns;
			const int y1 = (r + 1) * h / rows;
			const int q = (c >= columns / 2 ? 1 : 0) +
				      (r >= rows / 2 ? 2 : 0);
			const Rgb line = mix(quadrant[q], white, 0.35);
			fill_rect(image, x0, y0, x0 + 1, y1, line);
			fill_rect(image, x0, y0, x1, y0 + 1, line);
			const std::string name = std::string(1, char('A' + c)) +
						 std::to_string(r + 1);
			label.draw(&image, x0 + 3, y0 + 3, name, line);
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
	const Font big("DejaVuSans-Bold.ttf", std::max(12, h * 27 / 100));
	const int offset = std::max(1, h / 108);
	for (int q = 0; q < 4; q++) {
		const int x = ((q % 2) ? 3 * w / 4 : w / 4) -
			      big.draw(nullptr, 0, 0, names[q], {}) / 2;
		const int y =
			((q / 2) ? 3 * h / 4 : h / 4) - big.cap_height() / 2;
		big.draw(&image, x + offset, y + offset, names[q],
			 {16, 16, 24});
		big.draw(&image, x, y, names[q], white);
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

	/* a border as thick as the quarter lines, so the frame's edges are
	 * plain to see */
	fill_rect(image, 0, 0, w, thick, white);
	fill_rect(image, 0, h - thick, w, h, white);
	fill_rect(image, 0, 0, thick, h, white);
	fill_rect(image, w - thick, 0, w, h, white);
	return image;
}

RgbaImage make_coordinate_card(uint32_t width, uint32_t height)
{
	RgbaImage image(width, height);
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
		}
	}
	return image;
}

RgbaImage make_desktop_card(uint32_t width, uint32_t height)
{
	RgbaImage image(width, height);
	const int w = int(width);
	const int h = int(height);
	/* the background: a calm vertical gradient */
	for (int y = 0; y < h; y++)
		fill_rect(image, 0, y, w, y + 1,
			  mix({34, 70, 96}, {18, 30, 48}, double(y) / h));

	const Font text("DejaVuSans.ttf", std::max(8, h / 40));
	const Font title("DejaVuSans-Bold.ttf", std::max(8, h / 36));
	const int bar = std::max(6, h / 18);
	const struct {
		double x0, y0, x1, y1; /* fractions of the desktop */
		const char *name;
		Rgb accent;
	} windows[] = {
		{0.04, 0.06, 0.46, 0.58, "Editor: main.cpp", {70, 110, 190}},
		{0.52, 0.10, 0.96, 0.50, "Terminal", {60, 150, 90}},
		{0.30, 0.52, 0.78, 0.88, "Settings", {190, 120, 50}},
	};
	const char *const lines[] = {"int main(int argc, char **argv)",
				     "{",
				     "    start(argc, argv);",
				     "    while (running())",
				     "        frame();",
				     "    return 0;",
				     "}",
				     "$ make -j2 && ./demo"};
	int n = 0;
	for (const auto &win : windows) {
		const int x0 = int(win.x0 * w), y0 = int(win.y0 * h);
		const int x1 = int(win.x1 * w), y1 = int(win.y1 * h);
		fill_rect(image, x0 + 3, y0 + 3, x1 + 3, y1 + 3, {10, 14, 20});
		fill_rect(image, x0, y0, x1, y1, {236, 238, 242});
		fill_rect(image, x0, y0, x1, y0 + bar, win.accent);
		title.draw(&image, x0 + bar / 3, y0 + bar / 5, win.name,
			   {255, 255, 255});
		/* close, maximise and minimise */
		for (int b = 0; b < 3; b++) {
			const int bx = x1 - (b + 1) * bar;
			fill_rect(image, bx + bar / 4, y0 + bar / 4,
				  bx + bar * 3 / 4, y0 + bar * 3 / 4,
				  mix(win.accent, {255, 255, 255}, 0.5));
		}
		const int step = text.cap_height() * 2;
		for (int y = y0 + bar + step / 2; y + step < y1; y += step)
			text.draw(&image, x0 + bar / 2, y, lines[n++ % 8],
				  {40, 44, 52});
		/* a button in the corner */
		fill_rect(image, x1 - 4 * bar, y1 - bar * 3 / 2, x1 - bar / 2,
			  y1 - bar / 3, win.accent);
		text.draw(&image, x1 - 4 * bar + bar / 3, y1 - bar * 5 / 4,
			  "OK", {255, 255, 255});
	}
	/* the task bar, with a button for each window and a clock */
	fill_rect(image, 0, h - bar, w, h, {24, 26, 32});
	for (int i = 0; i < 3; i++)
		fill_rect(image, bar + i * 3 * bar, h - bar + 2,
			  bar + i * 3 * bar + 5 * bar / 2, h - 2,
			  mix(windows[i].accent, {24, 26, 32}, 0.4));
	text.draw(&image, w - 3 * bar, h - bar + bar / 4, "12:30",
		  {220, 220, 220});
	return image;
}
