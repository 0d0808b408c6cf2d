/*
 * A video file as the preview's input: its frames, scaled to the preview's
 * size and taken at its frame rate, decoded by the ffmpeg program (Debian's
 * ffmpeg) into a pipe. After the video's end the last frame stays.
 */
#pragma once

#include "pictures.hpp"

#include <cstdio>
#include <string>

class VideoInput {
public:
	/* Starts decoding `path` at width x height and `fps` frames a
	 * second; throws std::runtime_error when ffmpeg cannot start. */
	VideoInput(const std::string &path, uint32_t width, uint32_t height,
		   double fps);
	~VideoInput();
	VideoInput(const VideoInput &) = delete;
	VideoInput &operator=(const VideoInput &) = delete;

	/* The next frame (the last one again once the video has ended). */
	const RgbaImage &next();

	/* The size of a video's frames (ffprobe); throws when unknown. */
	static void size_of(const std::string &path, uint32_t &width,
			    uint32_t &height);

private:
	FILE *pipe = nullptr;
	RgbaImage frame;
	bool ended = false;
	int frames = 0;
};
