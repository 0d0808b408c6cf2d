#include "video-file.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <filesystem>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const std::string &path, const std::string &what,
		       int error)
{
	char reason[AV_ERROR_MAX_STRING_SIZE] = "";
	av_strerror(error, reason, sizeof(reason));
	throw std::runtime_error("cannot write the video " + path + ": " +
				 what + " (" + reason + ")");
}

} // namespace

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
	av_log_set_level(AV_LOG_ERROR);
	const bool h264 = container == "mp4";
	const AVCodec *encoder =
		avcodec_find_encoder_by_name(h264 ? "libx264" : "libvpx-vp9");
	if (!encoder)
		throw std::runtime_error(std::string("FFmpeg has no ") +
					 (h264 ? "libx264" : "libvpx-vp9") +
					 " encoder");
	/* from here on the destructor frees what was made */
	int error = avformat_alloc_output_context2(
		&format, nullptr, container.c_str(), path.c_str());
	if (error < 0)
		fail(path, "no " + container + " muxer", error);
	stream = avformat_new_stream(format, nullptr);
	codec = avcodec_alloc_context3(encoder);
	picture = av_frame_alloc();
	packet = av_packet_alloc();
	if (!stream || !codec || !picture || !packet)
		fail(path, "out of memory", AVERROR(ENOMEM));

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
	error = avcodec_open2(codec, encoder, &options);
	av_dict_free(&options);
	if (error < 0)
		fail(path, "the encoder does not start", error);
	error = avcodec_parameters_from_context(stream->codecpar, codec);
	if (error < 0)
		fail(path, "the encoder's parameters", error);
	stream->time_base = codec->time_base;
	stream->avg_frame_rate = rate;
	stream->r_frame_rate = rate;

	picture->format = codec->pix_fmt;
	picture->width = codec->width;
	picture->height = codec->height;
	error = av_frame_get_buffer(picture, 0);
	if (error < 0)
		fail(path, "out of memory", error);
	scaler = sws_getContext(int(width), int(height), AV_PIX_FMT_RGBA,
				int(width), int(height), AV_PIX_FMT_YUV420P,
				SWS_BICUBIC | SWS_ACCURATE_RND |
					SWS_FULL_CHR_H_INT,
				nullptr, nullptr, nullptr);
	if (!scaler)
		fail(path, "no RGB to YUV conversion", AVERROR(EINVAL));
	const int *bt709 = sws_getCoefficients(SWS_CS_ITU709);
	sws_setColorspaceDetails(scaler, bt709, 1, bt709, 0, 0, 1 << 16,
				 1 << 16);

	error = avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE);
	if (error < 0)
		fail(path, "cannot open it", error);
	error = avformat_write_header(format, nullptr);
	if (error < 0)
		fail(path, "the " + container + " header", error);
}

VideoFile::~VideoFile()
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
	int error = avcodec_send_frame(codec, frame);
	if (error < 0)
		fail(path, "the encoder refuses a frame", error);
	while ((error = avcodec_receive_packet(codec, packet)) >= 0) {
		av_packet_rescale_ts(packet, codec->time_base,
				     stream->time_base);
		packet->stream_index = stream->index;
		error = av_interleaved_write_frame(format, packet);
		if (error < 0)
			fail(path, "writing a frame", error);
	}
	if (error != AVERROR(EAGAIN) && error != AVERROR_EOF)
		fail(path, "the encoder fails", error);
}

void VideoFile::add_frame(const RgbaImage &frame)
{
	int error = av_frame_make_writable(picture);
	if (error < 0)
		fail(path, "out of memory", error);
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
	const int error = av_write_trailer(format);
	if (error < 0)
		fail(path, "closing the container", error);
	if (avio_closep(&format->pb) < 0)
		fail(path, "closing the file", AVERROR(EIO));
}
