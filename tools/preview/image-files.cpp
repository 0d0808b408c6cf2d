#include "image-files.hpp"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numeric>
#include <stdexcept>

/* ---- PNG ------------------------------------------------------------ */

void write_png(const std::string &path, const RgbaImage &image)
{
	std::vector<uint8_t> rgb(size_t(image.width) * image.height * 3);
	for (size_t i = 0, n = size_t(image.width) * image.height; i < n; i++)
		std::memcpy(&rgb[i * 3], &image.pixels[i * 4], 3);

	png_image png;
	std::memset(&png, 0, sizeof(png));
	png.version = PNG_IMAGE_VERSION;
	png.width = image.width;
	png.height = image.height;
	png.format = PNG_FORMAT_RGB;
	if (!png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0,
				     nullptr)) {
		const std::string reason = png.message;
		png_image_free(&png);
		throw std::runtime_error("cannot write " + path + ": " +
					 reason);
	}
}

RgbaImage read_png(const std::string &path)
{
	png_image png;
	std::memset(&png, 0, sizeof(png));
	png.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_file(&png, path.c_str()))
		throw std::runtime_error("cannot read " + path + ": " +
					 png.message);
	png.format = PNG_FORMAT_RGBA;
	RgbaImage image;
	image.width = png.width;
	image.height = png.height;
	image.pixels.resize(PNG_IMAGE_SIZE(png));
	if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0,
				   nullptr)) {
		const std::string reason = png.message;
		png_image_free(&png);
		throw std::runtime_error("cannot read " + path + ": " + reason);
	}
	return image;
}

/* ---- GIF ------------------------------------------------------------ */

namespace {

uint16_t to15(const uint8_t *p)
{
	auto q = [](uint8_t v) {
		return uint16_t((v * 31 + 127) / 255);
	};
	return uint16_t(q(p[0]) << 10 | q(p[1]) << 5 | q(p[2]));
}

int channel(uint16_t c, int axis)
{
	return (c >> (10 - 5 * axis)) & 31;
}

/* The last palette entry marks pixels that stay as the frame before. */
constexpr uint8_t transparent = 255;

uint8_t expand5(int v)
{
	return uint8_t((v << 3) | (v >> 2));
}

/* Writes variable-width codes, least significant bit first, in sub-blocks
 * of at most 255 bytes. */
class CodeWriter {
public:
	explicit CodeWriter(std::vector<uint8_t> &out) : out(out) {}
	void put(uint32_t code, int bits)
	{
		buffer |= code << filled;
		filled += bits;
		while (filled >= 8) {
			byte(uint8_t(buffer & 0xFF));
			buffer >>= 8;
			filled -= 8;
		}
	}
	void finish()
	{
		if (filled > 0)
			byte(uint8_t(buffer & 0xFF));
		if (!block.empty())
			flush_block();
		out.push_back(0); /* block terminator */
	}

private:
	void byte(uint8_t b)
	{
		block.push_back(b);
		if (block.size() == 255)
			flush_block();
	}
	void flush_block()
	{
		out.push_back(uint8_t(block.size()));
		out.insert(out.end(), block.begin(), block.end());
		block.clear();
	}
	std::vector<uint8_t> &out;
	std::vector<uint8_t> block;
	uint32_t buffer = 0;
	int filled = 0;
};

/* GIF's LZW with 8-bit pixels: clear code 256, end code 257, codes of 9 up
 * to 12 bits, a fresh dictionary whenever it fills up. */
void lzw_encode(const std::vector<uint8_t> &indices, std::vector<uint8_t> &out)
{
	constexpr uint32_t clear_code = 256;
	constexpr uint32_t end_code = 257;
	out.push_back(8); /* minimum code size */
	CodeWriter writer(out);

	/* child code of (prefix, byte), valid while its generation matches */
	static std::vector<uint32_t> table(4096 * 256);
	static uint32_t generation = 0;
	auto reset = [&]() {
		if (++generation == 1u << 20) {
			std::fill(table.begin(), table.end(), 0);
			generation = 1;
		}
	};
	reset();

	int code_size = 9;
	uint32_t last_code = end_code;
	writer.put(clear_code, code_size);
	int32_t current = -1;
	for (uint8_t index : indices) {
		if (current < 0) {
			current = index;
			continue;
		}
		uint32_t &slot = table[size_t(current) * 256 + index];
		if ((slot >> 12) == generation) {
			current = int32_t(slot & 0xFFF);
			continue;
		}
		writer.put(uint32_t(current), code_size);
		slot = generation << 12 | ++last_code;
		if (last_code >= (1u << code_size))
			code_size++;
		if (last_code == 4095) {
			writer.put(clear_code, code_size);
			reset();
			code_size = 9;
			last_code = end_code;
		}
		current = index;
	}
	if (current >= 0)
		writer.put(uint32_t(current), code_size);
	writer.put(end_code, code_size);
	writer.finish();
}

void put16(std::vector<uint8_t> &out, uint32_t v)
{
	out.push_back(uint8_t(v & 0xFF));
	out.push_back(uint8_t((v >> 8) & 0xFF));
}

} // namespace

GifAnimation::GifAnimation(uint32_t width, uint32_t height)
	: width(width), height(height), histogram(1u << 15, 0)
{
}

void GifAnimation::add_frame(const RgbaImage &frame, int delay_cs)
{
	Frame next;
	next.colours.resize(size_t(width) * height);
	for (size_t i = 0; i < next.colours.size(); i++)
		next.colours[i] = to15(&frame.pixels[i * 4]);
	if (!frames.empty() && frames.back().colours == next.colours) {
		frames.back().delay_cs += delay_cs;
		return;
	}
	for (uint16_t c : next.colours)
		histogram[c]++;
	next.delay_cs = delay_cs;
	frames.push_back(std::move(next));
}

/* Median cut over every frame's colours: the box with the largest squared
 * error is split at the weighted median of its widest channel, until there
 * are 255 boxes (the last entry is for transparency); each box gives its weighted mean. */
std::vector<std::array<uint8_t, 3>> GifAnimation::make_palette() const
{
	std::vector<uint16_t> colours;
	for (uint32_t c = 0; c < histogram.size(); c++)
		if (histogram[c])
			colours.push_back(uint16_t(c));

	struct Box {
		size_t begin, end; /* range of `colours` */
		double error;
		int axis;
	};
	auto measure = [&](Box &box) {
		double best = -1.0;
		box.error = 0.0;
		for (int axis = 0; axis < 3; axis++) {
			double n = 0, sum = 0, sum2 = 0;
			for (size_t i = box.begin; i < box.end; i++) {
				const double w = histogram[colours[i]];
				const double v = channel(colours[i], axis);
				n += w;
				sum += w * v;
				sum2 += w * v * v;
			}
			const double error = n > 0 ? sum2 - sum * sum / n : 0;
			box.error += error;
			if (error > best) {
				best = error;
				box.axis = axis;
			}
		}
		if (box.end - box.begin < 2)
			box.error = 0;
	};

	std::vector<Box> boxes;
	if (!colours.empty()) {
		Box all{0, colours.size(), 0, 0};
		measure(all);
		boxes.push_back(all);
	}
	while (boxes.size() < transparent) {
		auto widest = std::max_element(boxes.begin(), boxes.end(),
					       [](const Box &a, const Box &b) {
						       return a.error < b.error;
					       });
		if (widest == boxes.end() || widest->error <= 0)
			break;
		Box box = *widest;
		std::sort(colours.begin() + long(box.begin),
			  colours.begin() + long(box.end),
			  [&](uint16_t a, uint16_t b) {
				  const int ca = channel(a, box.axis);
				  const int cb = channel(b, box.axis);
				  return ca != cb ? ca < cb : a < b;
			  });
		double total = 0;
		for (size_t i = box.begin; i < box.end; i++)
			total += histogram[colours[i]];
		double run = 0;
		size_t split = box.begin + 1;
		for (size_t i = box.begin; i < box.end - 1; i++) {
			run += histogram[colours[i]];
			split = i + 1;
			if (run * 2 >= total)
				break;
		}
		Box low{box.begin, split, 0, 0};
		Box high{split, box.end, 0, 0};
		measure(low);
		measure(high);
		*widest = low;
		boxes.push_back(high);
	}

	std::vector<std::array<uint8_t, 3>> palette;
	for (const Box &box : boxes) {
		double n = 0, sum[3] = {0, 0, 0};
		for (size_t i = box.begin; i < box.end; i++) {
			const double w = histogram[colours[i]];
			n += w;
			for (int axis = 0; axis < 3; axis++)
				sum[axis] +=
					w * expand5(channel(colours[i], axis));
		}
		std::array<uint8_t, 3> entry;
		for (int axis = 0; axis < 3; axis++)
			entry[axis] = uint8_t(std::lround(sum[axis] / n));
		palette.push_back(entry);
	}
	palette.resize(256, {0, 0, 0});
	return palette;
}

void GifAnimation::write(const std::string &path) const
{
	const auto palette = make_palette();
	std::vector<int16_t> nearest(1u << 15, -1);
	auto index_of = [&](uint16_t c) {
		int16_t &cached = nearest[c];
		if (cached >= 0)
			return uint8_t(cached);
		long best = -1;
		int best_index = 0;
		for (int i = 0; i < int(transparent); i++) {
			long d = 0;
			for (int axis = 0; axis < 3; axis++) {
				const long delta =
					long(expand5(channel(c, axis))) -
					long(palette[size_t(i)][size_t(axis)]);
				d += delta * delta;
			}
			if (best < 0 || d < best) {
				best = d;
				best_index = i;
			}
		}
		cached = int16_t(best_index);
		return uint8_t(best_index);
	};

	std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
	put16(out, width);
	put16(out, height);
	out.push_back(0xF7); /* global table of 256 colours, 8 bits each */
	out.push_back(0);    /* background colour */
	out.push_back(0);    /* square pixels */
	for (const auto &entry : palette)
		out.insert(out.end(), entry.begin(), entry.end());

	/* loop for ever */
	const uint8_t loop[] = {0x21, 0xFF, 0x0B, 'N',  'E', 'T', 'S',
				'C',  'A',  'P',  'E',  '2', '.', '0',
				0x03, 0x01, 0x00, 0x00, 0x00};
	out.insert(out.end(), loop, loop + sizeof(loop));

	/* Each frame after the first covers only the box of pixels that
	 * changed, and inside it marks the unchanged ones transparent: long
	 * runs of one index are what LZW packs best. */
	const size_t n = size_t(width) * height;
	std::vector<uint8_t> shown(n), indices(n);
	for (size_t f = 0; f < frames.size(); f++) {
		const Frame &frame = frames[f];
		for (size_t i = 0; i < n; i++)
			indices[i] = index_of(frame.colours[i]);
		uint32_t x0 = 0, y0 = 0, x1 = width, y1 = height;
		if (f > 0) {
			x0 = width;
			y0 = height;
			x1 = 0;
			y1 = 0;
			for (uint32_t y = 0; y < height; y++)
				for (uint32_t x = 0; x < width; x++)
					if (indices[size_t(y) * width + x] !=
					    shown[size_t(y) * width + x]) {
						x0 = std::min(x0, x);
						y0 = std::min(y0, y);
						x1 = std::max(x1, x + 1);
						y1 = std::max(y1, y + 1);
					}
			if (x1 == 0) { /* same picture after all */
				x0 = y0 = 0;
				x1 = y1 = 1;
			}
		}
		/* unchanged pixels as transparent, or the box as it is:
		 * whichever packs smaller */
		std::vector<uint8_t> with_holes, plain;
		for (uint32_t y = y0; y < y1; y++)
			for (uint32_t x = x0; x < x1; x++) {
				const size_t i = size_t(y) * width + x;
				plain.push_back(indices[i]);
				with_holes.push_back(
					f > 0 && indices[i] == shown[i]
						? transparent
						: indices[i]);
			}
		std::vector<uint8_t> packed_holes, packed_plain;
		lzw_encode(plain, packed_plain);
		if (f > 0)
			lzw_encode(with_holes, packed_holes);
		const bool holes = f > 0 &&
				   packed_holes.size() < packed_plain.size();
		shown.swap(indices);

		const int delay = std::min(frame.delay_cs, 65535);
		const uint8_t control[] = {
			0x21,
			0xF9,
			0x04,
			uint8_t(0x04 |
				(holes ? 0x01 : 0x00)), /* keep; transparency */
			uint8_t(delay & 0xFF),
			uint8_t(delay >> 8),
			transparent,
			0x00};
		out.insert(out.end(), control, control + sizeof(control));
		out.push_back(0x2C);
		put16(out, x0);
		put16(out, y0);
		put16(out, x1 - x0);
		put16(out, y1 - y0);
		out.push_back(0); /* no local colour table, not interlaced */
		const auto &packed = holes ? packed_holes : packed_plain;
		out.insert(out.end(), packed.begin(), packed.end());
	}
	out.push_back(0x3B);

	std::unique_ptr<FILE, int (*)(FILE *)> file(
		std::fopen(path.c_str(), "wb"), std::fclose);
	if (!file)
		throw std::runtime_error("cannot write " + path + ": " +
					 std::strerror(errno));
	if (std::fwrite(out.data(), 1, out.size(), file.get()) != out.size())
		throw std::runtime_error("cannot write " + path + ": " +
					 std::strerror(errno));
	if (std::fclose(file.release()) != 0)
		throw std::runtime_error("cannot write " + path + ": " +
					 std::strerror(errno));
}
