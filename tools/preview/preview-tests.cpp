/*
 * Runs the built tavimore-preview as a user would and checks what it leaves:
 * one error line and nothing written for bad input, identical files for
 * identical input, a GIF (decoded with giflib) and videos (checked with
 * Debian's ffprobe and ffmpeg) that show the PNG frames, and rendered windows
 * that follow the zoom transitions.
 */
#include "pictures.hpp"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Result {
	int status = -1;
	std::string out;
	std::string err;
};

std::string quote(const std::string &s)
{
	std::string q = "'";
	for (char c : s)
		q += c == '\'' ? std::string("'\\''") : std::string(1, c);
	return q + "'";
}

std::string slurp(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::ostringstream text;
	text << in.rdbuf();
	return text.str();
}

void spit(const std::string &path, const std::string &text)
{
	std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> list(const std::string &dir)
{
	std::vector<std::string> names;
	if (DIR *d = opendir(dir.c_str())) {
		while (dirent *e = readdir(d))
			if (std::string(e->d_name) != "." &&
			    std::string(e->d_name) != "..")
				names.push_back(e->d_name);
		closedir(d);
	}
	std::sort(names.begin(), names.end());
	return names;
}

/* A scratch folder per test, removed afterwards. */
class PreviewTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		const char *tmp = std::getenv("TMPDIR");
		std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") +
				      "/tavimore-preview-test-XXXXXX";
		ASSERT_NE(mkdtemp(pattern.data()), nullptr);
		dir = pattern;
	}
	void TearDown() override
	{
		std::system(("rm -rf " + quote(dir)).c_str());
	}

	Result run(const std::vector<std::string> &args,
		   const std::string &env = "") const
	{
		std::string command = env + " " + quote(TAVIMORE_PREVIEW_TOOL);
		for (const std::string &arg : args)
			command += " " + quote(arg);
		command += " >" + quote(dir + "/.out") + " 2>" +
			   quote(dir + "/.err");
		const int raw = std::system(command.c_str());
		Result r;
		r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
		r.out = slurp(dir + "/.out");
		r.err = slurp(dir + "/.err");
		unlink((dir + "/.out").c_str());
		unlink((dir + "/.err").c_str());
		return r;
	}

	std::string file(const std::string &name, const std::string &text)
	{
		spit(dir + "/" + name, text);
		return dir + "/" + name;
	}

	/* The coordinate card from the filter's defaults (every centre at 0.5)
	 * and `extra` settings, at 10 frames a second, into dir/out. */
	bool render_card(const std::string &timeline,
			 std::vector<std::string> extra = {})
	{
		std::system(("rm -rf " + quote(dir + "/out")).c_str());
		std::vector<std::string> args = {
			"--card",     "coords",
			"--settings", file("plain.json", "{}"),
			"--fps",      "10",
			"--timeline", file("t.txt", timeline),
			"--no-gif",   "--output",
			dir + "/out"};
		for (const std::string &setting : extra)
			args.insert(args.end(), {"--set", setting});
		const Result r = run(args);
		EXPECT_EQ(r.status, 0) << r.err;
		return r.status == 0;
	}

	RgbaImage frame(int k) const
	{
		char name[32];
		std::snprintf(name, sizeof(name), "frame-%04d.png", k);
		return read_png(dir + "/out/" + name);
	}

	std::string dir;
};

/* ---- bad input: one line, non-zero exit, nothing written ------------ */

TEST_F(PreviewTest, BadInputGivesOneErrorLineAndWritesNothing)
{
	const struct {
		const char *name, *text;
	} files[] = {
		{"broken.json", "{\"stage_count\": 2,"},
		{"array.json", "[1, 2]"},
		{"unknown.json", "{\"stage_count\": 2, \"zoom_speed\": 3}"},
		{"wrong-type.json", "{\"stage_count\": 1.5}"},
		{"unknown-hotkey.txt",
		 "0.5 tap tavimore.stage_1\n1.0 tap tavimore.stage_7\n"},
		{"backwards.txt",
		 "1.0 tap tavimore.stage_1\n0.5 tap tavimore.stage_1\n"},
		{"bad-action.txt", "0.5 hold tavimore.stage_1\n"},
		{"bad-time.txt", "soon tap tavimore.stage_1\n"},
		{"negative-time.txt", "-1 tap tavimore.stage_1\n"},
		{"after-end.txt", "1 end\n2 tap tavimore.stage_1\n"},
		{"pointer-outside.txt", "0 pointer 0.5 1.5\n"},
		{"pointer-short.txt", "0 pointer 0.5\n"},
		{"click-outside.txt", "0 click 0.5 -0.1\n"},
		{"type-what.txt", "0 type a\n"},
		{"not-a-picture.png", "this is text, not a picture\n"},
		{"a-file", "x"},
	};
	for (const auto &f : files)
		file(f.name, f.text);
	mkdir((dir + "/folder.mp4").c_str(), 0755);

	/* arguments ("@" stands for the scratch folder), part of the error
	 * line */
	const struct {
		std::vector<std::string> args;
		const char *says;
	} cases[] = {
		{{"--image", "@/no-such.png"}, "no-such.png"},
		{{"--image", "@/not-a-picture.png"}, "cannot decode"},
		{{"--settings", "@/broken.json"}, "not valid JSON"},
		{{"--settings", "@/array.json"}, "not valid JSON"},
		{{"--settings", "@/none.json"}, "none.json"},
		{{"--settings", "@/unknown.json"}, "zoom_speed"},
		{{"--settings", "@/wrong-type.json"}, "stage_count"},
		{{"--set", "zoom_speed=3"}, "zoom_speed"},
		{{"--set", "stage_1_zoom_factor=big"}, "stage_1_zoom_factor"},
		{{"--timeline", "@/unknown-hotkey.txt"}, "tavimore.stage_7"},
		{{"--timeline", "@/backwards.txt"}, "line 2"},
		{{"--timeline", "@/bad-action.txt"}, "hold"},
		{{"--timeline", "@/bad-time.txt"}, "soon"},
		{{"--timeline", "@/negative-time.txt"}, "negative"},
		{{"--timeline", "@/after-end.txt"}, "line 2"},
		{{"--timeline", "@/pointer-outside.txt"}, "1.5"},
		{{"--timeline", "@/pointer-short.txt"}, "pointer X Y"},
		{{"--timeline", "@/click-outside.txt"}, "-0.1"},
		{{"--timeline", "@/type-what.txt"}, "TIME type"},
		{{"--fps", "-30"}, "--fps"},
		{{"--fps", "0"}, "--fps"},
		{{"--fps", "fast"}, "--fps"},
		{{"--output", "@/a-file/out"}, "output folder"},
		{{"--output", "@/a-file"}, "not a folder"},
		{{"--zoom", "2"}, "--zoom"},
		{{"--fps"}, "--fps"},
		{{"--size", "10x10000"}, "--size"},
		{{"--no-gif", "--no-frames"}, "nothing to write"},
		{{"--video", "@/clip.avi"}, ".mp4"},
		{{"--video", "@/clip"}, ".webm"},
		{{"--video", "@/a-file/clip.mp4"}, "a-file/clip.mp4"},
		{{"--video", "@/no-such-folder/clip.webm"}, "no-such-folder"},
		{{"--video", "@/folder.mp4"}, "is a folder"},
		{{"--video", "@/clip.mp4", "--size", "65x32"}, "even"},
		{{"--video", "@/clip.mp4", "--fps", "0"}, "--fps"},
		{{"--video", "@/clip.webm", "--fps", "-25"}, "--fps"},
	};

	const std::vector<std::string> before = list(dir);
	for (const auto &c : cases) {
		std::vector<std::string> args;
		for (const std::string &arg : c.args)
			args.push_back(arg[0] == '@' ? dir + arg.substr(1)
						     : arg);
		SCOPED_TRACE(args.back());
		if (args[0] != "--output")
			args.insert(args.begin(), {"--output", dir + "/out"});
		const Result r = run(args);
		EXPECT_EQ(r.status, 2);
		ASSERT_FALSE(r.err.empty());
		EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
		EXPECT_EQ(r.err.rfind("tavimore-preview: error: ", 0), 0u)
			<< r.err;
		EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
		EXPECT_EQ(r.out, "");
		/* no output folder, no work folder left beside it */
		EXPECT_EQ(list(dir), before);
	}
}

TEST_F(PreviewTest, FolderWithOtherFilesIsLeftAlone)
{
	mkdir((dir + "/out").c_str(), 0755);
	file("out/notes.txt", "mine");
	const Result r = run({"--output", dir + "/out", "--duration", "0.1"});
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("notes.txt"), std::string::npos) << r.err;
	EXPECT_EQ(list(dir + "/out"), std::vector<std::string>{"notes.txt"});
	EXPECT_EQ(slurp(dir + "/out/notes.txt"), "mine");
}

/* ---- output ----------------------------------------------------------- */

TEST_F(PreviewTest, SameInputsGiveIdenticalFiles)
{
	const std::string timeline = file("t.txt",
					  "0.1 tap tavimore.stage_1\n"
					  "0.3 press tavimore.idle_zoom_in\n"
					  "0.5 release tavimore.idle_zoom_in\n"
					  "0.6 tap tavimore.stage_2\n"
					  "1.0 end\n");
	std::vector<std::string> args = {"--size",  "160x90",     "--fps",
					 "20",      "--timeline", timeline,
					 "--quiet", "--output",   dir + "/a"};
	const Result first = run(args);
	ASSERT_EQ(first.status, 0) << first.err;
	args.back() = dir + "/b";
	const Result second = run(args);
	ASSERT_EQ(second.status, 0) << second.err;

	const auto names = list(dir + "/a");
	ASSERT_EQ(names.size(), 21u); /* 20 frames and the GIF */
	EXPECT_EQ(names, list(dir + "/b"));
	EXPECT_EQ(names.front(), "frame-0000.png");
	EXPECT_EQ(names[19], "frame-0019.png");
	EXPECT_EQ(names.back(), "preview.gif");
	for (const std::string &name : names) {
		SCOPED_TRACE(name);
		EXPECT_TRUE(slurp(dir + "/a/" + name) ==
			    slurp(dir + "/b/" + name));
	}
	/* the scenario moves: the zoomed frames differ from the first */
	EXPECT_TRUE(slurp(dir + "/a/frame-0000.png") !=
		    slurp(dir + "/a/frame-0010.png"));
	EXPECT_EQ(slurp(dir + "/a/preview.gif").substr(0, 6), "GIF89a");
	EXPECT_NE(first.out.find(dir + "/a/preview.gif"), std::string::npos);
}

TEST_F(PreviewTest, AnEarlierOutputIsReplacedWhole)
{
	const std::string out = dir + "/out";
	ASSERT_EQ(run({"--output", out, "--duration", "0.5", "--fps", "10",
		       "--size", "64x64"})
			  .status,
		  0);
	ASSERT_EQ(list(out).size(), 6u);
	const Result again = run({"--output", out, "--duration", "0.2", "--fps",
				  "10", "--size", "64x64", "--no-gif"});
	ASSERT_EQ(again.status, 0) << again.err;
	EXPECT_EQ(list(out), (std::vector<std::string>{"frame-0000.png",
						       "frame-0001.png"}));
	EXPECT_EQ(list(dir), std::vector<std::string>{"out"});
}

TEST_F(PreviewTest, AnImageFileRendersLikeTheSamePictureBuiltIn)
{
	const std::string picture = dir + "/coords.png";
	write_png(picture, make_coordinate_card(96, 64));
	const std::string timeline = file("t.txt", "0 tap tavimore.stage_1\n");
	std::vector<std::string> args = {
		"--timeline", timeline,   "--duration",  "0.3",
		"--fps",      "10",       "--set",       "stage_1_center_x=0.3",
		"--no-gif",   "--output", dir + "/file", "--image",
		picture};
	ASSERT_EQ(run(args).status, 0);
	args.resize(args.size() - 3);
	args.insert(args.end(),
		    {dir + "/card", "--card", "coords", "--size", "96x64"});
	ASSERT_EQ(run(args).status, 0);
	for (const char *name : {"frame-0000.png", "frame-0002.png"}) {
		SCOPED_TRACE(name);
		const RgbaImage a = read_png(dir + "/file/" + name);
		EXPECT_EQ(a.width, 96u);
		EXPECT_EQ(a.height, 64u);
		EXPECT_TRUE(a.pixels == read_png(dir + "/card/" + name).pixels);
	}
}

TEST_F(PreviewTest, RunsWithoutADisplay)
{
	const Result r = run({"--output", dir + "/out", "--duration", "0.1",
			      "--size", "32x32", "--fps", "10"},
			     "env -u DISPLAY");
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(list(dir + "/out"),
		  (std::vector<std::string>{"frame-0000.png", "preview.gif"}));
}

TEST_F(PreviewTest, ListsTheFiltersSettingsAndDocumentsItself)
{
	const Result keys = run({"--list-settings"});
	ASSERT_EQ(keys.status, 0) << keys.err;
	EXPECT_EQ(std::count(keys.out.begin(), keys.out.end(), '\n'),
		  59 + 8 + 1 + 3 + 18 + 27);
	for (const char *key :
	     {"stage_8_duration", "stage_8_face_share", "stage_8_center_mode",
	      "tracking_dead_zone", "stage_8_hold", "tracking_subject",
	      "auto_zoom_linger"})
		EXPECT_NE(keys.out.find(key), std::string::npos) << key;

	const Result help = run({"--help"});
	EXPECT_EQ(help.status, 0);
	for (const char *option :
	     {"--image", "--settings", "--set", "--timeline", "--fps",
	      "--output", "--video", ".mp4", ".webm", "--module", "--data",
	      "--input-video", "--demo"})
		EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

/* ---- the GIF and the video show the frames ---------------------------- */

std::string capture(const std::string &command)
{
	std::string out;
	if (FILE *pipe = popen(command.c_str(), "r")) {
		char buffer[4096];
		size_t n;
		while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
			out.append(buffer, n);
		pclose(pipe);
	}
	return out;
}

/* A frame as limited-range BT.709 yuv420p (chroma: the mean of each 2x2
 * block), the way the video says it stores its frames. */
std::vector<uint8_t> to_yuv420(const RgbaImage &rgba)
{
	const uint32_t w = rgba.width, h = rgba.height;
	std::vector<uint8_t> yuv(size_t(w) * h * 3 / 2);
	std::vector<double> cb(size_t(w) * h), cr(size_t(w) * h);
	for (size_t i = 0; i < size_t(w) * h; i++) {
		const double r = rgba.pixels[i * 4] / 255.0,
			     g = rgba.pixels[i * 4 + 1] / 255.0,
			     b = rgba.pixels[i * 4 + 2] / 255.0;
		const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
		yuv[i] = uint8_t(std::lround(16 + 219 * y));
		cb[i] = (b - y) / 1.8556;
		cr[i] = (r - y) / 1.5748;
	}
	uint8_t *u = &yuv[size_t(w) * h], *v = u + size_t(w / 2) * (h / 2);
	for (uint32_t y = 0; y < h / 2; y++)
		for (uint32_t x = 0; x < w / 2; x++) {
			const size_t i = size_t(2 * y) * w + 2 * x;
			const size_t o = size_t(y) * (w / 2) + x;
			u[o] = uint8_t(std::lround(
				128 + 224 *
					      (cb[i] + cb[i + 1] + cb[i + w] +
					       cb[i + w + 1]) /
					      4));
			v[o] = uint8_t(std::lround(
				128 + 224 *
					      (cr[i] + cr[i + 1] + cr[i + w] +
					       cr[i + w + 1]) /
					      4));
		}
	return yuv;
}

/* PSNR in dB of n bytes at a against b (b's bytes every `stride`, the
 * first three of them used when stride is 4). */
double psnr(const uint8_t *a, const uint8_t *b, size_t n, int stride = 1)
{
	double squares = 0;
	for (size_t i = 0, j = 0; i < n; j++)
		if (stride == 1 || j % 4 != 3) {
			const double d = double(a[i++]) - b[j];
			squares += d * d;
		}
	return 10 * std::log10(255.0 * 255 / std::max(squares / n, 1e-10));
}

TEST_F(PreviewTest, TheGifAndTheVideoShowThePngFrames)
{
	/* still, a zoom in, still, a zoom out cut short */
	const std::string timeline = file("t.txt", "0.2 tap tavimore.stage_1\n"
						   "1.3 tap tavimore.stage_1\n"
						   "1.7 end\n");
	const uint32_t w = 160, h = 90;
	const struct {
		const char *fps, *video, *codec, *rate;
		bool in_output;
	} cases[] = {
		{"60", "preview.mp4", "h264", "60/1", true},
		{"25", "clip.webm", "vp9", "25/1", false},
		{"29.97", "clip.mp4", "h264", "2997/100", false},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.video + std::string(" at ") + c.fps);
		const std::string out = dir + "/out-" + c.fps;
		const std::string video =
			(c.in_output ? out : dir) + "/" + c.video;
		const Result r = run({"--size", "160x90", "--fps", c.fps,
				      "--timeline", timeline, "--quiet",
				      "--output", out, "--video", video});
		ASSERT_EQ(r.status, 0) << r.err;
		EXPECT_NE(r.out.find("video: " + video), std::string::npos);
		std::vector<RgbaImage> png;
		for (const std::string &name : list(out))
			if (name.rfind("frame-", 0) == 0)
				png.push_back(read_png(out + "/" + name));
		const double fps = std::atof(c.fps);
		ASSERT_EQ(png.size(), size_t(std::lround(1.7 * fps)));

		/* the GIF: at most 50 frames a second; a frame equal to the
		 * one before only lengthens it */
		int error = 0;
		GifFileType *gif = DGifOpenFileName(
			(out + "/preview.gif").c_str(), &error);
		ASSERT_NE(gif, nullptr) << GifErrorString(error);
		ASSERT_EQ(DGifSlurp(gif), GIF_OK) << GifErrorString(gif->Error);
		EXPECT_EQ(gif->SWidth, int(w));
		EXPECT_EQ(gif->SHeight, int(h));
		const size_t step = size_t(std::ceil(fps / 50));
		int runs = 0;
		for (size_t i = 0; i < png.size(); i += step)
			runs += i == 0 || png[i].pixels != png[i - step].pixels;
		EXPECT_EQ(gif->ImageCount, runs);
		std::vector<uint8_t> shown(size_t(w) * h * 3, 0);
		double sum[3] = {0, 0, 0};
		int max[3] = {0, 0, 0}, time_cs = 0;
		for (int j = 0; j < gif->ImageCount; j++) {
			const SavedImage &image = gif->SavedImages[j];
			const GifImageDesc &d = image.ImageDesc;
			GraphicsControlBlock control;
			ASSERT_EQ(DGifSavedExtensionToGCB(gif, j, &control),
				  GIF_OK);
			const ColorMapObject *map = d.ColorMap ? d.ColorMap
							       : gif->SColorMap;
			for (int y = 0; y < d.Height; y++)
				for (int x = 0; x < d.Width; x++) {
					const int index =
						image.RasterBits[y * d.Width +
								 x];
					if (index == control.TransparentColor)
						continue;
					const GifColorType &rgb =
						map->Colors[index];
					uint8_t *p =
						&shown[(size_t(d.Top + y) * w +
							size_t(d.Left + x)) *
						       3];
					p[0] = rgb.Red;
					p[1] = rgb.Green;
					p[2] = rgb.Blue;
				}
			/* shown from time_cs on */
			const size_t i =
				size_t(std::lround(time_cs * fps / 100));
			ASSERT_LT(i, png.size());
			for (size_t p = 0; p < shown.size(); p++) {
				const int e = std::abs(
					int(shown[p]) -
					png[i].pixels[p / 3 * 4 + p % 3]);
				sum[p % 3] += e;
				max[p % 3] = std::max(max[p % 3], e);
			}
			time_cs += control.DelayTime;
		}
		const double n = double(gif->ImageCount) * w * h;
		DGifCloseFile(gif, &error);
		EXPECT_EQ(time_cs, std::lround(100 * png.size() / fps));
		std::printf("[ GIF   ] %s fps, %d frames: palette error mean "
			    "%.2f %.2f %.2f, max %d %d %d (R G B)\n",
			    c.fps, runs, sum[0] / n, sum[1] / n, sum[2] / n,
			    max[0], max[1], max[2]);
		for (double s : sum)
			EXPECT_LT(s / n, 3.0);

		/* the video: exactly what was asked, one frame per PNG */
		const std::string probe = capture(
			"ffprobe -v error -count_frames -select_streams v:0 "
			"-show_entries stream=codec_name,width,height,pix_fmt,"
			"r_frame_rate,avg_frame_rate,nb_read_frames "
			"-of default=noprint_wrappers=1 " +
			quote(video));
		EXPECT_EQ(probe,
			  std::string("codec_name=") + c.codec +
				  "\nwidth=160\nheight=90\npix_fmt=yuv420p"
				  "\nr_frame_rate=" +
				  c.rate + "\navg_frame_rate=" + c.rate +
				  "\nnb_read_frames=" +
				  std::to_string(png.size()) + "\n");
		/* the codec's error: decoded frames against the PNG frames
		 * as yuv420p; and, for the report, as RGB (4:2:0 loses
		 * colour detail on top) */
		const std::string decode =
			"ffmpeg -v error -i " + quote(video) + " -f rawvideo ";
		const std::string yuv = capture(decode + "-pix_fmt yuv420p -");
		const std::string rgb = capture(decode + "-pix_fmt rgb24 -");
		const size_t frame = size_t(w) * h * 3 / 2;
		ASSERT_EQ(yuv.size(), png.size() * frame);
		ASSERT_EQ(rgb.size(), png.size() * w * h * 3);
		double worst = 1e9, mean = 0, rgb_worst = 1e9;
		for (size_t i = 0; i < png.size(); i++) {
			const auto *got = reinterpret_cast<const uint8_t *>(
				&yuv[i * frame]);
			const double own =
				psnr(got, to_yuv420(png[i]).data(), frame);
			worst = std::min(worst, own);
			mean += own / png.size();
			rgb_worst = std::min(
				rgb_worst,
				psnr(reinterpret_cast<const uint8_t *>(
					     &rgb[i * w * h * 3]),
				     png[i].pixels.data(), w * h * 3, 4));
		}
		std::printf("[ video ] %s at %s fps: PSNR lowest %.1f dB, mean "
			    "%.1f dB (yuv420p); lowest %.1f dB as RGB\n",
			    c.video, c.fps, worst, mean, rgb_worst);
		EXPECT_GE(worst, 35.0);
	}
}

/* ---- the pictures follow the transitions ------------------------------ */

/* Half the width of the window shown in a frame of the coordinate card
 * (red = x at 256 pixels wide), as a fraction of the input: the outermost
 * output pixels sample the input at 127.5 -/+ 255 h. */
double shown_half_width(const RgbaImage &frame)
{
	const size_t row = size_t(frame.height / 2) * frame.width * 4;
	const int left = frame.pixels[row];
	const int right = frame.pixels[row + size_t(frame.width - 1) * 4];
	return (right - left) / 510.0;
}

/* The centre of the window shown in a frame of the coordinate card, as a
 * fraction of the input, across (red) or down (green) its middle: the
 * outermost pixels sample 256 (c -/+ h) -/+ h - 0.5. */
double shown_centre(const RgbaImage &frame, bool down)
{
	const size_t w = frame.width, h = frame.height;
	const size_t first = down ? (w / 2) * 4 + 1 : (h / 2) * w * 4;
	const size_t last = first + (down ? (h - 1) * w * 4 : (w - 1) * 4);
	return ((frame.pixels[first] + frame.pixels[last]) / 2.0 + 0.5) / 256;
}

double ease(double x, int kind)
{
	x = std::min(1.0, std::max(0.0, x));
	if (kind == 1)
		return x < 0.5 ? 4 * x * x * x : 1 - std::pow(2 - 2 * x, 3) / 2;
	if (kind == 2)
		return 1 - std::pow(1 - x, 3);
	return x;
}

TEST_F(PreviewTest, RenderedWindowsFollowTheTransitionsTimingAndEasing)
{
	/* stage 1 (zoom 2, 1 s) at 0 s, back to idle (0.5 s) at 1.5 s; every
	 * centre at the middle so that only the zoom moves the window */
	const double dt = double(float(0.1));
	for (const auto &[easing_in, easing_out] :
	     {std::pair{0, 2}, std::pair{1, 1}, std::pair{2, 0}}) {
		SCOPED_TRACE("easing in " + std::to_string(easing_in) +
			     ", out " + std::to_string(easing_out));
		ASSERT_TRUE(render_card(
			"0 tap tavimore.stage_1\n1.5 tap tavimore.stage_1\n"
			"2.2 end\n",
			{"stage_1_zoom_factor=2", "stage_1_duration=1",
			 "idle_duration=0.5",
			 "easing_in=" + std::to_string(easing_in),
			 "easing_out=" + std::to_string(easing_out)}));
		ASSERT_EQ(list(dir + "/out").size(), 22u);
		for (int k = 0; k < 22; k++) {
			/* towards stage 1, one tick per frame; the tap at
			 * 1.5 s comes before frame 15's tick */
			const double zoom =
				k < 15 ? 1 + ease(k * dt / 1.0, easing_in)
				       : 2 - ease((k - 14) * dt / 0.5,
						  easing_out);
			EXPECT_NEAR(shown_half_width(frame(k)), 0.5 / zoom,
				    2.0 / 510)
				<< "frame " << k;
		}
	}
}

TEST_F(PreviewTest, HoldingTheIdleZoomKeyZoomsAtItsRateUntilReleased)
{
	ASSERT_TRUE(
		render_card("0 press tavimore.idle_zoom_in\n"
			    "1.0 release tavimore.idle_zoom_in\n1.5 end\n"));
	const double dt = double(float(0.1));
	for (int k = 0; k < 15; k++) {
		/* held through the ticks of frames 1 to 9: the release comes
		 * before frame 10's tick */
		const double zoom = 1 + 0.6 * dt * std::min(k, 9);
		EXPECT_NEAR(shown_half_width(frame(k)), 0.5 / zoom, 2.0 / 510)
			<< "frame " << k;
	}
}

TEST_F(PreviewTest, TheShownCentreGlidesWithTheSmoothingTimeConstant)
{
	/* an instant stage at zoom 2 centred a quarter in: the window is half
	 * the frame from the first tick, and its centre keeps exp(-dt / tau)
	 * of the way to 0.25 each frame, tau = smoothing * 0.5 + 0.02 */
	ASSERT_TRUE(render_card("0 tap tavimore.stage_1\n1.2 end\n",
				{"stage_1_duration=0", "stage_1_center_x=0.25",
				 "tracking_smoothing=0.6"}));
	const double keep = std::exp(-double(float(0.1)) / (0.6 * 0.5 + 0.02));
	for (int k = 1; k < 12; k++) {
		SCOPED_TRACE("frame " + std::to_string(k));
		const RgbaImage shown = frame(k);
		EXPECT_NEAR(shown_half_width(shown), 0.25, 2.0 / 510);
		EXPECT_NEAR(shown_centre(shown, false),
			    0.25 + 0.25 * std::pow(keep, k), 1.5 / 256);
	}
}

TEST_F(PreviewTest, PointerLinesMoveTheRealPointerThatATrackingStageFollows)
{
	/* the tool's input is no capture: the whole X screen maps onto it */
	ASSERT_TRUE(
		render_card("0 pointer 0.3 0.6\n0 tap tavimore.stage_1\n"
			    "1 pointer 0.7 0.4\n2 end\n",
			    {"stage_1_center_tracking=true",
			     "tracking_subject=pointer", "stage_1_duration=0",
			     "tracking_smoothing=0", "tracking_dead_zone=0"}));
	const struct {
		int frame;
		double x, y;
	} cases[] = {{9, 0.3, 0.6}, {19, 0.7, 0.4}};
	for (const auto &c : cases) {
		SCOPED_TRACE("frame " + std::to_string(c.frame));
		const RgbaImage shown = frame(c.frame);
		EXPECT_NEAR(shown_half_width(shown), 0.25, 2.0 / 510);
		/* the pointer sits on a whole pixel of the screen */
		EXPECT_NEAR(shown_centre(shown, false), c.x, 2.0 / 256);
		EXPECT_NEAR(shown_centre(shown, true), c.y, 2.0 / 256);
	}
}

TEST_F(PreviewTest, TheFaceDemoFollowsTheFaceInAVideo)
{
	/* a head on a grey canvas, still at the left, moving right between
	 * 3 s and 5 s (scripts/face-media.sh); zoom 2 shows half of it */
	const Result r = run({"--demo", "face", "--input-video",
			      std::string(TAVIMORE_FACE_MEDIA) + "/moving.mp4",
			      "--fps", "10", "--duration", "7", "--no-gif",
			      "--output", dir + "/out"});
	ASSERT_EQ(r.status, 0) << r.err;
	/* whether a band of columns of a frame is the bare canvas */
	const auto canvas = [](const RgbaImage &f, size_t x0, size_t x1) {
		for (size_t y = 0; y < f.height; y++)
			for (size_t x = x0; x < x1; x++)
				for (int c = 0; c < 3; c++)
					if (std::abs(int(f.pixels[(y * f.width +
								   x) * 4 +
								  c]) -
						     0x5a) > 6)
						return false;
		return true;
	};
	/* at rest on the left face (the window stops at the frame's left
	 * edge): the head fills the view up to x 512 */
	const RgbaImage left = frame(25);
	EXPECT_FALSE(canvas(left, 420, 500));
	EXPECT_TRUE(canvas(left, 560, 640));
	/* on the face at the right: the head from x 128 on */
	const RgbaImage right = frame(69);
	EXPECT_TRUE(canvas(right, 0, 100));
	EXPECT_FALSE(canvas(right, 150, 250));
}

} // namespace
