/*
 * Writing the preview's frames as a video through FFmpeg's libraries: H.264
 * (yuv420p) in .mp4, VP9 in .webm, one video frame per rendered frame at the
 * timeline's own frame rate.
 */
#pragma once

#include "pictures.hpp"

#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

/* "mp4" or "webm" from a file name's extension; empty for any other. */
std::string video_container(const std::string &path);

class VideoFile {
public:
	/* Opens `path` for a video of `container` ("mp4" or "webm");
	 * throws std::runtime_error with a one-line reason. */
	VideoFile(const std::string &path, const std::string &container,
		  uint32_t width, uint32_t height, double fps);
	~VideoFile();
	VideoFile(const VideoFile &) = delete;
	VideoFile &operator=(const VideoFile &) = delete;

	void add_frame(const RgbaImage &frame);
	/* Flushes the encoder and closes the file. */
	void finish();

	/* The codec's name, e.g. "h264". */
	std::string codec_name() const;

private:
	void open(const std::string &container, uint32_t width, uint32_t height,
		  double fps);
	/* Frees what open() made, also when it failed half-way. */
	void release();
	/* Throws with FFmpeg's reason when `error` is one. */
	void check(int error, const std::string &what) const;
	void send(AVFrame *frame);

	std::string path;
	AVFormatContext *format = nullptr;
	AVCodecContext *codec = nullptr;
	AVStream *stream = nullptr;
	SwsContext *scaler = nullptr;
	AVFrame *picture = nullptr;
	AVPacket *packet = nullptr;
	int64_t next_pts = 0;
};
