#include "video-file.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <filesystem>
#include <stdexcept>

std::string video_container(const std::string &path)
{
	const std::string extension = std::filesystem::path(path).extension();
	return extension == ".mp4" || extension == ".webm" ? extension.substr(1)
							   : "";
}

VideoFile::VideoFile(const std::string &path, const std::string &container,
		     uint32_t width, uint32_t height, double fps)
	: path(path)
{
	try {
		open(container, width, height, fps);
	} catch (...) {
		release();
		throw;
	}
}

void VideoFile::check(int error, const std::string &what) const
{
	if (error >= 0)
		return;
	char reason[AV_ERROR_MAX_STRING_SIZE] = "";
	av_strerror(error, reason, sizeof(reason));
	throw std::runtime_error("cannot write the video " + path + ": " +
				 what + " (" + reason + ")");
}

void VideoFile::open(const std::string &container, uint32_t width,
		     uint32_t height, double fps)
{
	av_log_set_level(AV_LOG_ERROR);
	const bool h264 = container == "mp4";
	const AVCodec *encoder =
		avcodec_find_encoder_by_name(h264 ? "libx264" : "libvpx-vp9");
	if (!encoder)
		throw std::runtime_error(std::string("FFmpeg has no ") +
					 (h264 ? "libx264" : "libvpx-vp9") +
					 " encoder");
	check(avformat_alloc_output_context2(&format, nullptr,
					     container.c_str(), path.c_str()),
	      "no " + container + " muxer");
	stream = avformat_new_stream(format, nullptr);
	codec = avcodec_alloc_context3(encoder);
	picture = av_frame_alloc();
	packet = av_packet_alloc();
	if (!stream || !codec || !picture || !packet)
		check(AVERROR(ENOMEM), "out of memory");

	const AVRational rate = av_d2q(fps, 1000000);
	codec->width = int(width);
	codec->height = int(height);
	codec->pix_fmt = AV_PIX_FMT_YUV420P;
	codec->time_base = av_inv_q(rate);
	codec->framerate = rate;
	/* the frames are sRGB; the video says how its YUV was made */
	codec->color_range = AVCOL_RANGE_MPEG;
	codec->colorspace = AVCOL_SPC_BT709;
	codec->color_primaries = AVCOL_PRI_BT709;
	codec->color_trc = AVCOL_TRC_IEC61966_2_1;
	if (format->oformat->flags & AVFMT_GLOBALHEADER)
		codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
	AVDictionary *options = nullptr;
	if (h264) {
		av_dict_set(&options, "preset", "medium", 0);
		av_dict_set(&options, "crf", "14", 0);
	} else {
		codec->bit_rate = 0; /* constant quality */
		av_dict_set(&options, "crf", "24", 0);
		av_dict_set(&options, "deadline", "good", 0);
		av_dict_set(&options, "cpu-used", "4", 0);
		av_dict_set(&options, "row-mt", "1", 0);
	}
	const int opened = avcodec_open2(codec, encoder, &options);
	av_dict_free(&options);
	check(opened, "the encoder does not start");
	check(avcodec_parameters_from_context(stream->codecpar, codec),
	      "the encoder's parameters");
	stream->time_base = codec->time_base;
	stream->avg_frame_rate = rate;
	stream->r_frame_rate = rate;

	picture->format = codec->pix_fmt;
	picture->width = codec->width;
	picture->height = codec->height;
	check(av_frame_get_buffer(picture, 0), "out of memory");
	scaler = sws_getContext(int(width), int(height), AV_PIX_FMT_RGBA,
				int(width), int(height), AV_PIX_FMT_YUV420P,
				SWS_BICUBIC | SWS_ACCURATE_RND |
					SWS_FULL_CHR_H_INT,
				nullptr, nullptr, nullptr);
	if (!scaler)
		check(AVERROR(EINVAL), "no RGB to YUV conversion");
	const int *bt709 = sws_getCoefficients(SWS_CS_ITU709);
	sws_setColorspaceDetails(scaler, bt709, 1, bt709, 0, 0, 1 << 16,
				 1 << 16);

	check(avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE),
	      "cannot open it");
	check(avformat_write_header(format, nullptr),
	      "the " + container + " header");
}

VideoFile::~VideoFile()
{
	release();
}

void VideoFile::release()
{
	sws_freeContext(scaler);
	av_frame_free(&picture);
	av_packet_free(&packet);
	avcodec_free_context(&codec);
	if (format && format->pb)
		avio_closep(&format->pb);
	avformat_free_context(format);
}

std::string VideoFile::codec_name() const
{
	return avcodec_get_name(codec->codec_id);
}

void VideoFile::send(AVFrame *frame)
{
	check(avcodec_send_frame(codec, frame), "the encoder refuses a frame");
	int error;
	while ((error = avcodec_receive_packet(codec, packet)) >= 0) {
		av_packet_rescale_ts(packet, codec->time_base,
				     stream->time_base);
		packet->stream_index = stream->index;
		check(av_interleaved_write_frame(format, packet),
		      "writing a frame");
	}
	if (error != AVERROR(EAGAIN) && error != AVERROR_EOF)
		check(error, "the encoder fails");
}

void VideoFile::add_frame(const RgbaImage &frame)
{
	check(av_frame_make_writable(picture), "out of memory");
	const uint8_t *rows[1] = {frame.pixels.data()};
	const int stride[1] = {int(frame.width * 4)};
	sws_scale(scaler, rows, stride, 0, int(frame.height), picture->data,
		  picture->linesize);
	picture->pts = next_pts++;
	send(picture);
}

void VideoFile::finish()
{
	send(nullptr);
	check(av_write_trailer(format), "closing the container");
	check(avio_closep(&format->pb), "closing the file");
}
