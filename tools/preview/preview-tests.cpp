/*
 * Runs the built tavimore-preview as a user would and checks what it leaves:
 * one error line and nothing written for bad input, identical files for
 * identical input, and rendered windows that follow the zoom transitions.
 */
#include "image-files.hpp"
#include "test-card.hpp"

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
		{"not-a-picture.png", "this is text, not a picture\n"},
		{"a-file", "x"},
	};
	for (const auto &f : files)
		file(f.name, f.text);

	/* option, value ("@" stands for the scratch folder; none for an
	 * option without its value), part of the error line */
	const struct {
		const char *option, *value, *says;
	} cases[] = {
		{"--image", "@/no-such.png", "no-such.png"},
		{"--image", "@/not-a-picture.png", "cannot decode"},
		{"--settings", "@/broken.json", "not valid JSON"},
		{"--settings", "@/array.json", "not valid JSON"},
		{"--settings", "@/none.json", "none.json"},
		{"--settings", "@/unknown.json", "zoom_speed"},
		{"--settings", "@/wrong-type.json", "stage_count"},
		{"--set", "zoom_speed=3", "zoom_speed"},
		{"--set", "stage_1_zoom_factor=big", "stage_1_zoom_factor"},
		{"--timeline", "@/unknown-hotkey.txt", "tavimore.stage_7"},
		{"--timeline", "@/backwards.txt", "line 2"},
		{"--timeline", "@/bad-action.txt", "hold"},
		{"--timeline", "@/bad-time.txt", "soon"},
		{"--timeline", "@/negative-time.txt", "negative"},
		{"--timeline", "@/after-end.txt", "line 2"},
		{"--timeline", "@/pointer-outside.txt", "1.5"},
		{"--timeline", "@/pointer-short.txt", "pointer X Y"},
		{"--fps", "-30", "--fps"},
		{"--fps", "0", "--fps"},
		{"--fps", "fast", "--fps"},
		{"--output", "@/a-file/out", "output folder"},
		{"--output", "@/a-file", "not a folder"},
		{"--zoom", "2", "--zoom"},
		{"--fps", nullptr, "--fps"},
		{"--size", "10x10000", "--size"},
	};

	const std::vector<std::string> before = list(dir);
	for (const auto &c : cases) {
		std::vector<std::string> args = {c.option};
		if (c.value)
			args.push_back(c.value[0] == '@' ? dir + (c.value + 1)
							 : c.value);
		SCOPED_TRACE(args.back());
		if (args[0] != "--output")
			args.insert(args.begin(), {"--output", dir + "/out"});
		const Result r = run(args);
		EXPECT_NE(r.status, 0);
		EXPECT_NE(r.status, -1);
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
	EXPECT_EQ(std::count(keys.out.begin(), keys.out.end(), '\n'), 59);
	EXPECT_NE(keys.out.find("stage_8_duration"), std::string::npos);
	EXPECT_NE(keys.out.find("tracking_dead_zone"), std::string::npos);

	const Result help = run({"--help"});
	EXPECT_EQ(help.status, 0);
	for (const char *option :
	     {"--image", "--settings", "--set", "--timeline", "--fps",
	      "--output", "--module", "--data"})
		EXPECT_NE(help.out.find(option), std::string::npos) << option;
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
		const size_t row = size_t(shown.height / 2) * shown.width * 4;
		const double left = shown.pixels[row];
		const double right =
			shown.pixels[row + size_t(shown.width - 1) * 4];
		/* the outermost pixels sample 256 (c -/+ h) -/+ h - 0.5 */
		const double centre = ((left + right) / 2 + 0.5) / 256;
		EXPECT_NEAR(shown_half_width(shown), 0.25, 2.0 / 510);
		EXPECT_NEAR(centre, 0.25 + 0.25 * std::pow(keep, k), 1.5 / 256);
	}
}

TEST_F(PreviewTest, PointerLinesMoveTheRealPointerThatATrackingStageFollows)
{
	/* the tool's input is no capture: the whole X screen maps onto it */
	ASSERT_TRUE(render_card("0 pointer 0.3 0.6\n0 tap tavimore.stage_1\n"
				"1 pointer 0.7 0.4\n2 end\n",
				{"stage_1_center_tracking=true",
				 "stage_1_duration=0", "tracking_smoothing=0",
				 "tracking_dead_zone=0"}));
	const struct {
		int frame;
		double x, y;
	} cases[] = {{9, 0.3, 0.6}, {19, 0.7, 0.4}};
	for (const auto &c : cases) {
		SCOPED_TRACE("frame " + std::to_string(c.frame));
		const RgbaImage shown = frame(c.frame);
		const size_t w = shown.width, h = shown.height;
		const uint8_t *p = shown.pixels.data();
		const size_t mid_row = (h / 2) * w * 4, mid_col = (w / 2) * 4;
		const double cx =
			((p[mid_row] + p[mid_row + (w - 1) * 4]) / 2.0 + 0.5) /
			256;
		const double cy =
			((p[mid_col + 1] + p[(h - 1) * w * 4 + mid_col + 1]) /
				 2.0 +
			 0.5) /
			256;
		EXPECT_NEAR(shown_half_width(shown), 0.25, 2.0 / 510);
		/* the pointer sits on a whole pixel of the screen */
		EXPECT_NEAR(cx, c.x, 2.0 / 256);
		EXPECT_NEAR(cy, c.y, 2.0 / 256);
	}
}

} // namespace
