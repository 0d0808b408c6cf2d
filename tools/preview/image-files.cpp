#include "pictures.hpp"

#include <gif_lib.h>
#include <libimagequant.h>
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>

/* ---- PNG ------------------------------------------------------------ */

void write_png(const std::string &path, const RgbaImage &image)
{
	std::vector<uint8_t> rgb(size_t(image.width) * image.height * 3);
	for (size_t i = 0, n = size_t(image.width) * image.height; i < n; i++)
		std::memcpy(&rgb[i * 3], &image.pixels[i * 4], 3);

	png_image png = {};
	png.version = PNG_IMAGE_VERSION;
	png.width = image.width;
	png.height = image.height;
	png.format = PNG_FORMAT_RGB;
	const bool written = png_image_write_to_file(&png, path.c_str(), 0,
						     rgb.data(), 0, nullptr);
	png_image_free(&png);
	if (!written)
		throw std::runtime_error("cannot write " + path + ": " +
					 png.message);
}

RgbaImage read_png(const std::string &path)
{
	png_image png = {};
	png.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_file(&png, path.c_str()))
		throw std::runtime_error("cannot read " + path + ": " +
					 png.message);
	png.format = PNG_FORMAT_RGBA;
	RgbaImage image(png.width, png.height);
	/* finishing frees what the reading needed, also on failure */
	if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0,
				   nullptr))
		throw std::runtime_error("cannot read " + path + ": " +
					 png.message);
	return image;
}

/* ---- GIF ------------------------------------------------------------ */

namespace {

/* Frees a library's object with its own function. */
template<auto destroy> struct Free {
	template<typename T> void operator()(T *p) const { destroy(p); }
};

void must(bool ok, const char *what)
{
	if (!ok)
		throw std::runtime_error(std::string("libimagequant ") + what);
}

/* A part of a frame: the box x0 <= x < x1, y0 <= y < y1 of its indices. */
struct Box {
	uint32_t x0, y0, x1, y1;
	void grow(uint32_t x, uint32_t y)
	{
		x0 = std::min(x0, x);
		y0 = std::min(y0, y);
		x1 = std::max(x1, x + 1);
		y1 = std::max(y1, y + 1);
	}
};

/* giflib's writer, into memory, from the screen's description on; every
 * failed call throws with giflib's reason. */
class GifWriter {
public:
	GifWriter(uint32_t width, uint32_t height, const ColorMapObject *map)
	{
		int error = 0;
		gif = EGifOpen(&bytes, append, &error);
		if (!gif)
			fail(error);
		EGifSetGifVersion(gif, true);
		check(EGifPutScreenDesc(gif, int(width), int(height), 8, 0,
					map));
	}
	~GifWriter()
	{
		if (gif)
			EGifCloseFile(gif, nullptr);
	}
	GifFileType *get() const { return gif; }
	void check(int result) const
	{
		if (result != GIF_OK)
			fail(gif->Error);
	}
	void image(const uint8_t *indices, uint32_t width, const Box &box)
	{
		check(EGifPutImageDesc(gif, int(box.x0), int(box.y0),
				       int(box.x1 - box.x0),
				       int(box.y1 - box.y0), false, nullptr));
		for (uint32_t y = box.y0; y < box.y1; y++)
			check(EGifPutLine(
				gif,
				const_cast<uint8_t *>(
					indices + size_t(y) * width + box.x0),
				int(box.x1 - box.x0)));
	}
	const std::string &close()
	{
		int error = 0;
		const int result = EGifCloseFile(gif, &error);
		gif = nullptr;
		if (result != GIF_OK)
			fail(error);
		return bytes;
	}

private:
	static int append(GifFileType *gif, const GifByteType *data, int n)
	{
		static_cast<std::string *>(gif->UserData)
			->append(reinterpret_cast<const char *>(data),
				 size_t(n));
		return n;
	}
	[[noreturn]] static void fail(int error)
	{
		const char *why = GifErrorString(error);
		throw std::runtime_error(std::string("giflib: ") +
					 (why ? why : "failed"));
	}
	GifFileType *gif = nullptr;
	std::string bytes;
};

/* How many bytes one frame's image takes in a GIF. */
size_t packed_size(const uint8_t *indices, uint32_t width, const Box &box,
		   const ColorMapObject *map)
{
	GifWriter counter(width, box.y1, map);
	counter.image(indices, width, box);
	return counter.close().size();
}

} // namespace

void GifAnimation::add_frame(const RgbaImage &frame, int delay_cs)
{
	if (!frames.empty() && frames.back().image.pixels == frame.pixels)
		frames.back().delay_cs += delay_cs;
	else
		frames.push_back({frame, delay_cs});
}

void GifAnimation::write(const std::string &path) const
{
	const uint32_t width = frames.front().image.width;
	const uint32_t height = frames.front().image.height;
	/* one palette for every frame, and a last entry for the pixels that
	 * keep the frame before */
	std::unique_ptr<liq_attr, Free<liq_attr_destroy>> attr(
		liq_attr_create());
	must(attr && liq_set_max_colors(attr.get(), 128) == LIQ_OK,
	     "does not start");
	std::unique_ptr<liq_histogram, Free<liq_histogram_destroy>> histogram(
		liq_histogram_create(attr.get()));
	must(bool(histogram), "does not start");
	auto picture = [&](const Frame &frame) {
		std::unique_ptr<liq_image, Free<liq_image_destroy>> image(
			liq_image_create_rgba(attr.get(),
					      frame.image.pixels.data(),
					      int(width), int(height), 0.0));
		must(bool(image), "cannot take a frame");
		return image;
	};
	for (const Frame &frame : frames)
		must(liq_histogram_add_image(histogram.get(), attr.get(),
					     picture(frame).get()) == LIQ_OK,
		     "cannot take a frame");
	liq_result *made = nullptr;
	must(liq_histogram_quantize(histogram.get(), attr.get(), &made) ==
		     LIQ_OK,
	     "cannot choose a palette");
	std::unique_ptr<liq_result, Free<liq_result_destroy>> result(made);
	liq_set_dithering_level(result.get(), 1.0f);
	const liq_palette palette = *liq_get_palette(result.get());
	const uint8_t transparent = 255;
	GifColorType colours[256] = {};
	for (unsigned i = 0; i < palette.count; i++)
		colours[i] = {palette.entries[i].r, palette.entries[i].g,
			      palette.entries[i].b};
	const std::unique_ptr<ColorMapObject, Free<GifFreeMapObject>> map(
		GifMakeMapObject(256, colours));
	must(bool(map), "is out of memory");

	GifWriter gif(width, height, map.get());
	/* loop for ever */
	gif.check(EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE));
	gif.check(EGifPutExtensionBlock(gif.get(), 11, "NETSCAPE2.0"));
	const uint8_t loop[3] = {1, 0, 0};
	gif.check(EGifPutExtensionBlock(gif.get(), 3, loop));
	gif.check(EGifPutExtensionTrailer(gif.get()));

	/* Each frame after the first covers only the box of pixels whose
	 * index changes. Or: pixels whose colour in the frames moved by at
	 * most `keep` levels since they were drawn are marked transparent,
	 * so that they keep what they show (dithered for a colour that close)
	 * and only the box around the others is written; long runs of one
	 * index are what LZW packs best. Whichever packs smaller is written. */
	const int keep = 8;
	const size_t n = size_t(width) * height;
	/* the index shown at each pixel, and the colour it was chosen for */
	std::vector<uint8_t> shown(n), source(n * 3), indices(n), holes(n);
	for (size_t f = 0; f < frames.size(); f++) {
		const uint8_t *rgba = frames[f].image.pixels.data();
		must(liq_write_remapped_image(result.get(),
					      picture(frames[f]).get(),
					      indices.data(), n) == LIQ_OK,
		     "cannot remap a frame");
		Box changed = {width, height, 0, 0}, box_holes = changed;
		for (uint32_t y = 0; y < height; y++)
			for (uint32_t x = 0; x < width; x++) {
				const size_t i = size_t(y) * width + x;
				const uint8_t *was = &source[i * 3];
				const uint8_t *now = &rgba[i * 4];
				const int near =
					std::max({std::abs(was[0] - now[0]),
						  std::abs(was[1] - now[1]),
						  std::abs(was[2] - now[2])});
				holes[i] = f > 0 && near <= keep ? transparent
								 : indices[i];
				if (f == 0 || shown[i] != indices[i])
					changed.grow(x, y);
				if (holes[i] != transparent)
					box_holes.grow(x, y);
			}
		if (changed.x1 == 0) /* nothing changes: one kept pixel */
			changed = {0, 0, 1, 1};
		if (box_holes.x1 == 0)
			box_holes = {0, 0, 1, 1};
		const bool with_holes =
			f > 0 &&
			packed_size(holes.data(), width, box_holes, map.get()) <
				packed_size(indices.data(), width, changed,
					    map.get());
		const std::vector<uint8_t> &written = with_holes ? holes
								 : indices;
		const Box &box = with_holes ? box_holes : changed;
		/* without holes, every pixel now shows what this frame's
		 * remap chose for it */
		for (size_t i = 0; i < n; i++)
			if (written[i] != transparent) {
				shown[i] = written[i];
				std::memcpy(&source[i * 3], &rgba[i * 4], 3);
			}

		GraphicsControlBlock control = {};
		control.DisposalMode = DISPOSE_DO_NOT;
		control.DelayTime = std::min(frames[f].delay_cs, 65535);
		control.TransparentColor = with_holes ? transparent
						      : NO_TRANSPARENT_COLOR;
		GifByteType extension[4];
		const size_t length = EGifGCBToExtension(&control, extension);
		gif.check(EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE,
					   int(length), extension));
		gif.image(written.data(), width, box);
	}
	std::ofstream file(path, std::ios::binary);
	file << gif.close();
	if (!file.flush())
		throw std::runtime_error("cannot write " + path + ": " +
					 std::strerror(errno));
}
