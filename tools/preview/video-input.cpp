#include "video-input.hpp"

#include <stdexcept>

namespace {

/* The path as one single-quoted shell word. */
std::string quoted(const std::string &path)
{
	std::string q = "'";
	for (char c : path)
		q += c == '\'' ? std::string("'\\''") : std::string(1, c);
	return q + "'";
}

} // namespace

VideoInput::VideoInput(const std::string &path, uint32_t width, uint32_t height,
		       double fps)
	: frame(width, height)
{
	char filter[96];
	std::snprintf(filter, sizeof(filter), "fps=%g,scale=%u:%u", fps, width,
		      height);
	const std::string command = "ffmpeg -nostdin -v error -i " +
				    quoted(path) + " -vf " + filter +
				    " -f rawvideo -pix_fmt rgba -";
	pipe = popen(command.c_str(), "r");
	if (!pipe)
		throw std::runtime_error("cannot start ffmpeg for " + path);
}

VideoInput::~VideoInput()
{
	if (pipe)
		pclose(pipe);
}

const RgbaImage &VideoInput::next()
{
	if (ended)
		return frame;
	RgbaImage read(frame.width, frame.height);
	if (std::fread(read.pixels.data(), 1, read.pixels.size(), pipe) ==
	    read.pixels.size()) {
		frame = std::move(read);
		frames++;
	} else {
		ended = true;
		if (!frames)
			throw std::runtime_error(
				"ffmpeg gave no frame of the input video");
	}
	return frame;
}

void VideoInput::size_of(const std::string &path, uint32_t &width,
			 uint32_t &height)
{
	const std::string command =
		"ffprobe -v error -select_streams v:0 -show_entries "
		"stream=width,height -of csv=p=0:s=x " +
		quoted(path);
	FILE *probe = popen(command.c_str(), "r");
	unsigned w = 0, h = 0;
	const bool read = probe && std::fscanf(probe, "%ux%u", &w, &h) == 2;
	if (probe)
		pclose(probe);
	if (!read || !w || !h)
		throw std::runtime_error("ffprobe cannot tell the size of " +
					 path);
	width = w;
	height = h;
}
