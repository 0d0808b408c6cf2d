/*
 * Following a face, in the real libobs with video at 30 frames a second:
 * a real photo (scikit-image's astronaut, from Debian's python3-skimage)
 * shown through OBS's image source, and videos made from it with FFmpeg
 * (scripts/face-media.sh) played through OBS's media source, as a camera's
 * frames arrive. The filter draws its input small, reads it back and runs
 * dlib's detector on it; the tests read the crop window the frame draws.
 *
 * The head in the pictures is 256 pixels square with the face centred at
 * 127, 127 in it (dlib's box on the photo itself); its place on each canvas
 * is known, so the face's centre is too.
 */
#include "obs-harness.hpp"
#include "core/zoom-core.hpp"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string MEDIA = TAVIMORE_FACE_MEDIA;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SANITIZED_BUILD = true;
#else
constexpr bool SANITIZED_BUILD = false;
#endif
constexpr double W = 640.0;
constexpr double H = 360.0;
/* the face's centre in the head, in pixels */
constexpr double FACE_IN_HEAD = 127.0;
/* how far the window's centre may be from the face's, in pixels: a tenth
 * of the face's width. dlib's boxes lie on its 8-pixel HOG cells at the
 * size the face is drawn (about the face's own size here), so a box's
 * centre is good to about half a cell either way, both the box found and
 * the one that gives the face's centre above. */
constexpr double NEAR = 8.8;

bool load_plugin(const char *name)
{
	const std::string file =
		std::string("/usr/lib/x86_64-linux-gnu/obs-plugins/") + name +
		".so";
	const std::string data =
		std::string("/usr/share/obs/obs-plugins/") + name;
	obs_module_t *m = nullptr;
	return obs_open_module(&m, file.c_str(), data.c_str()) ==
		       MODULE_SUCCESS &&
	       obs_init_module(m);
}

/* The face worker threads of this process. */
int face_threads()
{
	return threads_named("tavimore-face");
}

void sleep_for(double seconds)
{
	std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start)
{
	return std::chrono::duration<double>(Clock::now() - start).count();
}

/* Waits until `done` holds, checking every 20 ms, for at most `seconds`. */
bool within(double seconds, const std::function<bool()> &done)
{
	const auto end = std::chrono::steady_clock::now() +
			 std::chrono::duration<double>(seconds);
	while (std::chrono::steady_clock::now() < end) {
		if (done())
			return true;
		sleep_for(0.02);
	}
	return done();
}

/* A value's course: sampled every `period` seconds (every frame at 0) for
 * `seconds`, or until `stop` holds. */
std::vector<double> course(double seconds,
			   const std::function<double()> &sample,
			   double period = 0,
			   const std::function<bool()> &stop = nullptr)
{
	std::vector<double> values;
	const auto end = Clock::now() + std::chrono::duration<double>(seconds);
	while (Clock::now() < end && !(stop && stop())) {
		values.push_back(sample());
		if (period > 0)
			sleep_for(period);
		else
			wait_frames(1);
	}
	return values;
}

/* How many values lie more than `margin` inside the span from a to b: a
 * course that eased rather than jumped has several. */
long between(const std::vector<double> &values, double a, double b,
	     double margin)
{
	return std::count_if(values.begin(), values.end(), [&](double v) {
		return v > std::min(a, b) + margin &&
		       v < std::max(a, b) - margin;
	});
}

/* Changes a source's settings on libobs's graphics thread: libobs's own
 * deferred update reads a source's settings there without a lock, while
 * obs_source_update writes them on the caller's thread. */
void apply_settings(obs_source_t *source, const std::string &json)
{
	OBSDataAutoRelease changes = obs_data_create_from_json(json.c_str());
	on_graphics_thread([&] { obs_source_update(source, changes); });
}

/* A source shown on the output (so libobs draws it every frame) with a zoom
 * filter whose idle view tracks. */
struct Shown {
	obs_source_t *parent = nullptr;
	obs_source_t *filter = nullptr;

	Shown(const char *id, const char *source_json, const char *zoom_json)
	{
		OBSDataAutoRelease source_settings =
			obs_data_create_from_json(source_json);
		parent = obs_source_create(id, "face parent", source_settings,
					   nullptr);
		OBSDataAutoRelease settings =
			obs_data_create_from_json(zoom_json);
		filter = create_zoom_filter("face zoom", settings);
		obs_source_filter_add(parent, filter);
		obs_set_output_source(0, parent);
	}
	~Shown()
	{
		obs_set_output_source(0, nullptr);
		remove_and_release(parent, filter);
		wait_destroyed();
	}
	/* the window as the frame draws it, in pixels of the canvas */
	double x() const { return window().center_x * W; }
	double y() const { return window().center_y * H; }
	CropWindow window() const
	{
		const ZoomSnapshot f = snapshot_of(filter, KeyRead::Skipped);
		return crop_window(f.current_zoom, f.current_center_x,
				   f.current_center_y);
	}
	/* the latest sighting (none while no tracker exists) */
	FaceSighting sighting() const
	{
		return graphics_snapshot(filter).sighting;
	}
	bool has_face_tracker() const { return graphics_snapshot(filter).face; }
	bool has_pointer() const { return graphics_snapshot(filter).pointer; }
	uint64_t readbacks() const
	{
		return graphics_snapshot(filter).face_readbacks;
	}
	/* (the detector's model is read on first use: a sanitizer build
	 * takes seconds for it) */
	bool sees_face(double seconds = 5.0) const
	{
		return within(seconds, [&] { return sighting().found; });
	}
	bool near(double want_x, double want_y) const
	{
		return std::fabs(x() - want_x) <= NEAR &&
		       std::fabs(y() - want_y) <= NEAR;
	}
	/* the view on FOLLOW's own centre */
	bool home() const
	{
		const CropWindow win = window();
		return std::fabs(win.center_x - 0.3) < 1e-3 &&
		       std::fabs(win.center_y - 0.7) < 1e-3;
	}
	void update(const char *json) const
	{
		apply_settings(filter, json);
		wait_frames(2);
	}
};

std::string image_json(const std::string &file)
{
	return R"({"file": ")" + MEDIA + "/" + file + R"("})";
}

std::string video_json(const std::string &file, bool looping = false)
{
	return R"({"is_local_file": true, "local_file": ")" + MEDIA + "/" +
	       file + R"(", "looping": )" + (looping ? "true" : "false") +
	       R"(, "clear_on_media_end": false, "hw_decode": false})";
}

/* zoom 3 (a third of the frame each way), no dead zone, no smoothing */
const char *const FOLLOW = R"({"idle_zoom_factor": 3.0,
	"idle_center_tracking": true, "idle_center_x": 0.3,
	"idle_center_y": 0.7, "tracking_smoothing": 0.0,
	"tracking_dead_zone": 0.0})";

} // namespace

TEST(FaceFollowing, TheWindowCentresOnTheFaceAndStopsAtTheFramesEdges)
{
	const struct {
		const char *picture;
		double head_x, head_y, scale, width, height;
		/* where the window must stop (zoom 2.5: a fifth of the
		 * frame from each edge); negative: on the face */
		double want_x, want_y;
	} cases[] = {
		{"head-centre.png", 192, 52, 1, W, H, -1, -1},
		{"head-top-left.png", -60, -60, 1, W, H, W / 5, H / 5},
		{"head-bottom-right.png", 444, 184, 1, W, H, W * 4 / 5,
		 H * 4 / 5},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.picture);
		Shown shown("image_source", image_json(c.picture).c_str(),
			    R"({"idle_zoom_factor": 2.5,
			    "idle_center_tracking": true,
			    "tracking_smoothing": 0.0,
			    "tracking_dead_zone": 0.0})");
		ASSERT_TRUE(shown.sees_face());
		const double fx = c.head_x + FACE_IN_HEAD * c.scale;
		const double fy = c.head_y + FACE_IN_HEAD * c.scale;
		/* at the edge exactly, else on the face */
		const auto on = [](double got, double want, double face) {
			return want < 0 ? std::fabs(got - face) <= NEAR
					: std::fabs(got - want) < 0.05;
		};
		EXPECT_TRUE(within(2.0,
				   [&] {
					   return on(shown.x(), c.want_x, fx) &&
						  on(shown.y(), c.want_y, fy);
				   }))
			<< shown.x() << "," << shown.y();
		/* the face's own box, as fractions of the source */
		const FaceBox box = shown.sighting().box;
		EXPECT_NEAR(box.center_x() * W, fx, NEAR);
		EXPECT_NEAR(box.center_y() * H, fy, NEAR);
	}
}

TEST(FaceFollowing, AFaceASixteenthOfTheFramesWidthIsFoundSoonAfterItComes)
{
	/* a frame searched for a while, then the same frame with a small face:
	 * found on the first or second look after it (the one under way may
	 * have drawn the empty frame), within 3 s of its coming (longer in a
	 * sanitizer build, whose searches take many times as long) */
	const double limit = SANITIZED_BUILD ? 9.0 : 3.0;
	const struct {
		const char *empty, *face;
		double head_x, head_y, scale;
	} cases[] = {
		{"empty-1080p.png", "small-face-1080p.png", 1300, 600, 1.364},
		{"empty-720p.png", "small-face-720p.png", 200, 380, 0.909},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.face);
		Shown shown("image_source", image_json(c.empty).c_str(),
			    FOLLOW);
		/* the detector is ready and the frame searched */
		ASSERT_TRUE(within(limit * 3, [&] {
			return shown.sighting().looks >= 2;
		}));
		const uint32_t w = obs_source_get_width(shown.parent);
		ASSERT_EQ(shown.sighting().hits, 0u);
		const uint64_t looks = shown.sighting().looks;
		const auto start = Clock::now();
		apply_settings(shown.parent, image_json(c.face));
		ASSERT_TRUE(
			within(limit, [&] { return shown.sighting().found; }))
			<< shown.sighting().looks - looks << " looks";
		const double took = seconds_since(start);
		EXPECT_LE(shown.sighting().looks, looks + 2) << took << " s";
		std::printf("%s: found %.2f s after it came\n", c.face, took);
		/* it is the face, a sixteenth of the width */
		const double fx = c.head_x + FACE_IN_HEAD * c.scale;
		const double fy = c.head_y + FACE_IN_HEAD * c.scale;
		const FaceBox box = shown.sighting().box;
		const double h = obs_source_get_height(shown.parent);
		EXPECT_NEAR(box.center_x() * w, fx, NEAR * c.scale * 2);
		EXPECT_NEAR(box.center_y() * h, fy, NEAR * c.scale * 2);
		EXPECT_NEAR(box.w * 16, 1.0, 0.25);
	}
}

TEST(FaceFollowing, FramingZoomsToTheFacesSizeHoldsItThenEasesBackWhenLost)
{
	/* the face 88 pixels tall, then 53 (the head at 0.6), then gone:
	 * half the view's height is 2.05 then 3.4 times the zoom */
	Shown shown("image_source", image_json("head-centre.png").c_str(),
		    R"({"idle_zoom_factor": 1.5, "idle_center_tracking": true,
		    "idle_face_framing": true, "idle_face_share": 0.5,
		    "tracking_smoothing": 0.0, "tracking_dead_zone": 0.0})");
	const auto zoom = [&] {
		return snapshot_of(shown.filter, KeyRead::Skipped).current_zoom;
	};
	ASSERT_TRUE(shown.sees_face());
	EXPECT_TRUE(within(4.0, [&] { return std::fabs(zoom() - 2.05) < 0.3; }))
		<< zoom();
	/* a still face, settled: the very same zoom, look after look */
	sleep_for(1.5);
	const std::vector<double> still = course(2.0, zoom);
	EXPECT_EQ(*std::min_element(still.begin(), still.end()),
		  *std::max_element(still.begin(), still.end()));

	apply_settings(shown.parent, image_json("head-small.png"));
	const double large_zoom = zoom();
	std::vector<double> closer = course(5.0, zoom);
	EXPECT_NEAR(closer.back(), 3.4, 0.5);
	EXPECT_GE(between(closer, large_zoom, closer.back(), 0.1), 3)
		<< "jumped";

	/* lost: held for two seconds, then eased back to its own 1.5 */
	apply_settings(shown.parent, image_json("empty.png"));
	ASSERT_TRUE(within(2 * FACE_SEARCH_INTERVAL + 1.0,
			   [&] { return !shown.sighting().found; }));
	const double framed = zoom();
	sleep_for(1.0);
	EXPECT_NEAR(zoom(), framed, 0.01);
	const std::vector<double> back = course(5.0, zoom);
	EXPECT_NEAR(back.back(), 1.5, 0.01);
	EXPECT_GE(between(back, framed, 1.5, 0.1), 3) << "jumped back";
}

TEST(FaceFollowing, TheViewFollowsAFaceMovingInAVideo)
{
	/* still at x 0 for 3 s, to x 384 by 5 s, then still */
	Shown shown("ffmpeg_source", video_json("moving.mp4").c_str(), FOLLOW);
	ASSERT_TRUE(shown.sees_face());
	const double y = 52 + FACE_IN_HEAD;
	EXPECT_TRUE(within(1.5, [&] { return shown.near(FACE_IN_HEAD, y); }))
		<< shown.x() << "," << shown.y();

	/* while it moves, the view goes with it, never back by more than a
	 * box's noise, until it rests on the face at the right */
	const double right = 384 + FACE_IN_HEAD;
	const std::vector<double> xs = course(
		8.0, [&] { return shown.x(); }, 0.1,
		[&] { return shown.near(right, y); });
	EXPECT_TRUE(shown.near(right, y)) << shown.x() << "," << shown.y();
	for (size_t i = 1; i < xs.size(); i++)
		EXPECT_GE(xs[i], xs[i - 1] - NEAR) << "sample " << i;
	/* it went there step by step, not in one jump */
	EXPECT_GE(between(xs, FACE_IN_HEAD, right, 50), 5);
}

TEST(FaceFollowing, ALostFaceIsHeldThenTheViewEasesBackToItsOwnCentre)
{
	/* the face in the middle for 4 s, then gone to the right */
	Shown shown("ffmpeg_source", video_json("leaving.mp4").c_str(), FOLLOW);
	ASSERT_TRUE(shown.sees_face());
	const double fx = 192 + FACE_IN_HEAD;
	const double fy = 52 + FACE_IN_HEAD;
	ASSERT_TRUE(within(1.5, [&] { return shown.near(fx, fy); }));
	ASSERT_TRUE(within(5.0, [&] { return !shown.sighting().found; }));
	const auto lost = std::chrono::steady_clock::now();
	/* seen last on its way out, maybe */
	const FaceBox last = shown.sighting().box;
	EXPECT_GE(last.center_x() * W, fx - NEAR);

	/* held where it was seen last */
	sleep_for(1.2);
	EXPECT_TRUE(shown.near(last.center_x() * W, last.center_y() * H))
		<< shown.x() << "," << shown.y();
	/* then eased back (not jumped) to the target's own centre */
	const std::vector<double> xs = course(
		4.0 - seconds_since(lost), [&] { return shown.x(); }, 1.0 / 30);
	const double home_x = 0.3 * W;
	EXPECT_TRUE(shown.near(home_x, 0.7 * H))
		<< shown.x() << "," << shown.y();
	EXPECT_GE(between(xs, last.center_x() * W, home_x, 10), 3)
		<< "the view jumped back";
}

TEST(FaceFollowing, OfTwoFacesTheLargerAtTheStartIsFollowedThroughout)
{
	/* the left face (256 pixel head) drifts right by 10 px a second; the
	 * right one grows from 176 to 320 pixels, past the left one */
	Shown shown("ffmpeg_source", video_json("two-faces.mp4").c_str(),
		    FOLLOW);
	ASSERT_TRUE(shown.sees_face());
	/* the box and the view, each sample: the left face's centre is at x
	 * 147 to 207, the right one's beyond 400 */
	const std::vector<double> xs = course(
		4.0,
		[&] {
			return std::max(shown.sighting().box.center_x() * W,
					shown.x());
		},
		0.1);
	EXPECT_GT(xs.size(), 20u);
	for (size_t i = 0; i < xs.size(); i++)
		EXPECT_LT(xs[i], 260.0) << "sample " << i;
}

TEST(FaceFollowing, AStillFaceGivesTheVerySameWindowFrameAfterFrame)
{
	/* the default dead zone, the least smoothing; the video loops, so
	 * every look sees freshly decoded frames */
	Shown shown("ffmpeg_source", video_json("still.mp4", true).c_str(),
		    R"({"idle_zoom_factor": 2.5, "idle_center_tracking": true,
		    "tracking_smoothing": 0.0})");
	ASSERT_TRUE(shown.sees_face());
	sleep_for(4.0); /* settled to the last bit */
	const CropWindow settled = shown.window();
	const uint64_t looks = shown.sighting().looks;
	for (int i = 0; i < 90; i++) {
		wait_frames(1);
		const CropWindow w = shown.window();
		ASSERT_EQ(std::memcmp(&w, &settled, sizeof w), 0)
			<< "frame " << i;
	}
	/* it kept looking all along */
	EXPECT_GE(shown.sighting().looks, looks + 4);
	EXPECT_TRUE(shown.sighting().found);
}

TEST(FaceFollowing, AutoFollowsThePointerOnScreenCapturesAndFacesElsewhere)
{
	const struct {
		const char *id;
		std::string settings;
		const char *subject;
		bool pointer, face;
	} cases[] = {
		{"xshm_input", R"({"screen": 0})", "auto", true, false},
		{"ffmpeg_source", video_json("still.mp4"), "auto", false, true},
		{"image_source", image_json("head-centre.png"), "auto", false,
		 true},
		{"ffmpeg_source", video_json("still.mp4"), "pointer", true,
		 false},
		{"xshm_input", R"({"screen": 0})", "face", false, true},
		/* a source without video, as libobs keeps one whose
		 * plug-in is missing, shows nothing to follow */
		{"tavimore_test_missing", "{}", "auto", false, false},
		{"tavimore_test_missing", "{}", "face", false, false},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::string(c.id) + " " + c.subject);
		const std::string zoom =
			std::string(R"({"idle_zoom_factor": 2.0,
			"idle_center_tracking": true, "tracking_subject": ")") +
			c.subject + "\"}";
		Shown shown(c.id, c.settings.c_str(), zoom.c_str());
		wait_frames(3);
		EXPECT_EQ(shown.has_pointer(), c.pointer);
		EXPECT_EQ(shown.has_face_tracker(), c.face);
		/* the last row's worker ends on its own */
		EXPECT_TRUE(within(10.0, [&] {
			return face_threads() == (c.face ? 1 : 0);
		})) << face_threads();
	}
}

TEST(FaceFollowing, SwitchedOffNoThreadTextureOrReadBackIsLeft)
{
	Shown shown("image_source", image_json("head-centre.png").c_str(),
		    FOLLOW);
	ASSERT_TRUE(shown.sees_face());
	EXPECT_EQ(face_threads(), 1);
	EXPECT_GE(shown.readbacks(), 1u);

	const char *const off[] = {
		R"({"idle_center_tracking": false})",
		R"({"idle_center_tracking": true, "tracking_subject": "pointer"})",
		R"({"idle_center_tracking": false, "stage_count": 1,
		    "stage_1_center_tracking": true,
		    "tracking_subject": "pointer"})",
	};
	for (const char *json : off) {
		SCOPED_TRACE(json);
		shown.update(json);
		EXPECT_FALSE(shown.has_face_tracker());
		/* the worker ends on its own, after its search */
		EXPECT_TRUE(within(10.0, [] { return face_threads() == 0; }));
	}
	/* the view went back to its own centre */
	shown.update(R"({"idle_center_tracking": false})");
	EXPECT_TRUE(within(2.0, [&] { return shown.home(); }));
	/* and on again */
	shown.update(R"({"idle_center_tracking": true,
		"tracking_subject": "face"})");
	/* (the worker names itself once it runs) */
	EXPECT_TRUE(within(5.0, [] { return face_threads() == 1; }));
	EXPECT_TRUE(shown.sees_face());
}

TEST(FaceFollowing, SwitchingOffNeverWaitsForASearchUnderWay)
{
	const struct {
		const char *what;
		const char *json; /* null: the filter is destroyed */
	} cases[] = {
		{"Follow: mouse pointer", R"({"tracking_subject": "pointer"})"},
		{"centre tracking off", R"({"idle_center_tracking": false})"},
		{"filter destroyed", nullptr},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		auto shown = std::make_unique<Shown>(
			"image_source", image_json("head-centre.png").c_str(),
			FOLLOW);
		ASSERT_TRUE(shown->sees_face());
		/* the worker's next search lasts until the gate opens */
		auto gate = std::make_shared<FaceGate>();
		gate->set_open(false);
		on_graphics_thread([&] { set_face_gate(shown->filter, gate); });
		ASSERT_TRUE(
			within(5.0, [&] { return gate->worker_waiting(); }));
		/* should the switch wait for the worker, it ends after 5 s */
		std::thread opener([gate] {
			std::unique_lock<std::mutex> guard(gate->lock);
			gate->changed.wait_for(guard, std::chrono::seconds(5),
					       [&] { return gate->open; });
			gate->open = true;
			gate->changed.notify_all();
		});
		const auto start = std::chrono::steady_clock::now();
		if (c.json)
			shown->update(c.json);
		else
			shown.reset();
		const double took = seconds_since(start);
		/* done while the search was still under way */
		EXPECT_TRUE(gate->worker_waiting()) << took << " s";
		EXPECT_LT(took, 2.0);
		gate->set_open(true);
		opener.join();
		EXPECT_TRUE(within(10.0, [] { return face_threads() == 0; }));
	}
}

TEST(FaceFollowing, OddSourcesNeitherCrashNorStickTheView)
{
	/* an image source with no file (0x0), one pixel, a picture without a
	 * face; then a picture of another size with the face elsewhere */
	Shown shown("image_source", "{}", FOLLOW);
	const struct {
		std::string settings;
		bool face;
	} steps[] = {
		{"{}", false},
		{image_json("one-pixel.png"), false},
		{R"({"file": "/usr/lib/python3/dist-packages/skimage/data/coffee.png"})",
		 false},
		{image_json("head-centre.png"), true},
		{image_json("head-wide.png"), true},
		{image_json("one-pixel.png"), false},
	};
	for (const auto &s : steps) {
		SCOPED_TRACE(s.settings);
		apply_settings(shown.parent, s.settings);
		const uint64_t looks = shown.sighting().looks;
		if (!s.face) {
			/* looked at (a picture with pixels) or not, the view
			 * ends up on its own centre (two searches, each far
			 * slower under the sanitizers) */
			EXPECT_TRUE(within(4 * FACE_SEARCH_INTERVAL + 10.0, [&] {
				const uint32_t w =
					obs_source_get_width(shown.parent);
				return (w < 2 ||
					shown.sighting().looks > looks + 1) &&
				       !shown.sighting().found &&
				       shown.window().half_size > 0;
			}));
			continue;
		}
		ASSERT_TRUE(shown.sees_face());
		/* the face's centre, whatever the source's size */
		const uint32_t w = obs_source_get_width(shown.parent);
		const uint32_t h = obs_source_get_height(shown.parent);
		const double fx = w == 800 ? 440 + 127 * 1.25 : 192 + 127;
		const double fy = w == 800 ? 100 + 127 * 1.25 : 52 + 127;
		EXPECT_TRUE(within(5.0, [&] {
			const CropWindow win = shown.window();
			return std::fabs(win.center_x * w - fx) <= NEAR &&
			       std::fabs(win.center_y * h - fy) <= NEAR;
		}));
	}
	/* after the hold, home */
	EXPECT_TRUE(within(4.0, [&] { return shown.home(); }))
		<< shown.x() << "," << shown.y();
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	options.width = uint32_t(W);
	options.height = uint32_t(H);
	options.fps = 30;
	options.after_start = [] {
		for (const char *name :
		     {"image-source", "obs-ffmpeg", "linux-capture"})
			if (!load_plugin(name)) {
				std::fprintf(stderr,
					     "cannot load OBS's %s plug-in "
					     "(package obs-plugins)\n",
					     name);
				return false;
			}
		return true;
	};
	return run_tests_in_host(argc, argv, options);
}
