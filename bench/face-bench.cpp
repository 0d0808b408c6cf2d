/*
 * What following a face costs, in the real libobs at 1920x1080 and 30
 * frames a second: OBS's media source plays a video of a real face (made by
 * scripts/face-media.sh from scikit-image's astronaut photo) with a zoom
 * filter on it, shown on the output, in one run:
 *   (a) following off: the process's CPU time per second of video;
 *   (b) following the face: the CPU time of the module's detector thread,
 *       the graphics thread's time in the filter's drawing and handing over
 *       of the small pictures, the looks and read-backs per second, and the
 *       process's CPU time again;
 *   (s) searching: the same filter on a video without a face (the whole
 *       frame searched every few seconds): the detector thread's CPU time
 *       and the looks a second;
 *   (c) the same detector (dlib's, as compiled into the module) on a frame
 *       of that video at half size, 960x540, as a filter that searches
 *       every frame would run it: its CPU time per detection, times 30 per
 *       second of video (the read-back of every frame is not even counted).
 * It prints figures and never fails on timing; it fails only when libobs or
 * OBS's media source cannot start or no face is followed.
 *   tavimore-face-bench [--seconds=N] [--video=FILE] [--empty=FILE]
 */
#include "tracking/face-detector.hpp"
#include "obs-harness.hpp"

#include <obs.hpp>

#include <dirent.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t WIDTH = 1920;
constexpr uint32_t HEIGHT = 1080;
constexpr uint32_t FPS = 30;

/* CPU seconds of this process's threads whose names start with `comm`
 * (the kernel's scheduler statistics, in nanoseconds). */
double thread_seconds(const char *comm)
{
	double total = 0.0;
	DIR *dir = opendir("/proc/self/task");
	while (dirent *e = dir ? readdir(dir) : nullptr) {
		const std::string task =
			std::string("/proc/self/task/") + e->d_name;
		std::ifstream name_file(task + "/comm");
		std::string name;
		if (!std::getline(name_file, name) ||
		    name.compare(0, std::strlen(comm), comm) != 0)
			continue;
		std::ifstream stat(task + "/schedstat");
		unsigned long long ns = 0;
		if (stat >> ns)
			total += double(ns) * 1e-9;
	}
	if (dir)
		closedir(dir);
	return total;
}

double clock_seconds(clockid_t clock)
{
	timespec ts{};
	clock_gettime(clock, &ts);
	return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void sleep_for(double seconds)
{
	std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void on_graphics_thread(void (*work)(void *), void *param)
{
	obs_queue_task(OBS_TASK_GRAPHICS, work, param, true);
}

/* CPU seconds so far: the process, and the threads that draw (libobs's
 * graphics thread, Mesa's llvmpipe threads, which rasterise on the CPU
 * here) and the module's detector thread; with the frames drawn and the
 * frames missed. */
struct Clocks {
	double wall, process, graphics, llvmpipe, detector;
	uint32_t frames, lagged;

	static Clocks now()
	{
		return {clock_seconds(CLOCK_MONOTONIC),
			clock_seconds(CLOCK_PROCESS_CPUTIME_ID),
			thread_seconds("libobs: graphic"),
			thread_seconds("llvmpipe-"),
			thread_seconds("tavimore-face"),
			obs_get_total_frames(),
			obs_get_lagged_frames()};
	}
	Clocks operator-(const Clocks &o) const
	{
		return {wall - o.wall,         process - o.process,
			graphics - o.graphics, llvmpipe - o.llvmpipe,
			detector - o.detector, frames - o.frames,
			lagged - o.lagged};
	}
	Clocks &operator+=(const Clocks &o)
	{
		wall += o.wall;
		process += o.process;
		graphics += o.graphics;
		llvmpipe += o.llvmpipe;
		detector += o.detector;
		frames += o.frames;
		lagged += o.lagged;
		return *this;
	}
};

struct Following {
	FaceSighting sighting;
	uint64_t readbacks = 0;
	uint64_t frame_ns = 0;
	bool exists = false;
};

Following following(obs_source_t *filter)
{
	struct Read {
		obs_source_t *filter;
		Following out;
	} read{filter, {}};
	on_graphics_thread(
		[](void *p) {
			auto *r = static_cast<Read *>(p);
			const ZoomSnapshot z = snapshot_of(r->filter);
			r->out.exists = z.face;
			r->out.sighting = z.sighting;
			r->out.readbacks = z.face_readbacks;
			r->out.frame_ns = z.face_frame_ns;
		},
		&read);
	return read.out;
}

void set_following(obs_source_t *filter, bool on)
{
	OBSDataAutoRelease changes = obs_data_create();
	obs_data_set_bool(changes, "idle_center_tracking", on);
	obs_source_update(filter, changes);
	wait_frames(3);
}

/* The draw and read-back of looks like the filter's, alone: the media
 * source drawn into a region of a FACE_PICTURE_MAX-square texture, staged
 * and mapped (at once, so every copy is finished), `count` times. Returns
 * the CPU seconds of the drawing threads a look. */
double look_cost(obs_source_t *media, const FaceRegion &region, int count)
{
	struct Work {
		obs_source_t *media;
		FaceRegion region;
		int count;
		double seconds;
	} work{media, region, count, 0.0};
	on_graphics_thread(
		[](void *p) {
			auto *w = static_cast<Work *>(p);
			obs_enter_graphics();
			gs_texrender_t *texrender =
				gs_texrender_create(GS_RGBA, GS_ZS_NONE);
			gs_stagesurf_t *stage = gs_stagesurface_create(
				FACE_PICTURE_MAX, FACE_PICTURE_MAX, GS_RGBA);
			std::vector<uint8_t> copy(size_t(FACE_PICTURE_MAX) *
						  FACE_PICTURE_MAX * 4);
			const double start = thread_seconds("libobs: graphic") +
					     thread_seconds("llvmpipe-");
			for (int i = 0; i < w->count; i++) {
				gs_texrender_reset(texrender);
				gs_texrender_begin(texrender, FACE_PICTURE_MAX,
						   FACE_PICTURE_MAX);
				vec4 clear;
				vec4_zero(&clear);
				gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
				gs_set_viewport(0, 0, w->region.width,
						w->region.height);
				gs_ortho(float(w->region.x0),
					 float(w->region.x1),
					 float(w->region.y0),
					 float(w->region.y1), -100.0f, 100.0f);
				obs_source_video_render(w->media);
				gs_texrender_end(texrender);
				gs_stage_texture(
					stage,
					gs_texrender_get_texture(texrender));
				uint8_t *data = nullptr;
				uint32_t linesize = 0;
				if (gs_stagesurface_map(stage, &data,
							&linesize)) {
					for (int y = 0; y < w->region.height;
					     y++)
						std::memcpy(
							copy.data() +
								size_t(y) *
									FACE_PICTURE_MAX *
									4,
							data + size_t(y) *
									linesize,
							size_t(w->region.width) *
								4);
					gs_stagesurface_unmap(stage);
				}
			}
			w->seconds = (thread_seconds("libobs: graphic") +
				      thread_seconds("llvmpipe-") - start) /
				     w->count;
			gs_stagesurface_destroy(stage);
			gs_texrender_destroy(texrender);
			obs_leave_graphics();
		},
		&work);
	return work.seconds;
}

} // namespace

int main(int argc, char **argv)
{
	double seconds = 20.0;
	std::string video = TAVIMORE_FACE_BENCH_VIDEO;
	std::string empty_video = TAVIMORE_FACE_BENCH_EMPTY;
	for (int i = 1; i < argc; i++) {
		if (std::strncmp(argv[i], "--seconds=", 10) == 0)
			seconds = std::atof(argv[i] + 10);
		else if (std::strncmp(argv[i], "--video=", 8) == 0)
			video = argv[i] + 8;
		else if (std::strncmp(argv[i], "--empty=", 8) == 0)
			empty_video = argv[i] + 8;
	}

	HostOptions options;
	options.video = true;
	options.width = WIDTH;
	options.height = HEIGHT;
	options.fps = FPS;
	if (!start_host(options))
		return 1;
	obs_module_t *ffmpeg = nullptr;
	if (obs_open_module(
		    &ffmpeg,
		    "/usr/lib/x86_64-linux-gnu/obs-plugins/obs-ffmpeg.so",
		    "/usr/share/obs/obs-plugins/obs-ffmpeg") !=
		    MODULE_SUCCESS ||
	    !obs_init_module(ffmpeg)) {
		std::fprintf(stderr, "OBS's media source (obs-plugins) is "
				     "missing\n");
		stop_host();
		return 1;
	}

	OBSDataAutoRelease media_settings = obs_data_create();
	obs_data_set_bool(media_settings, "is_local_file", true);
	obs_data_set_string(media_settings, "local_file", video.c_str());
	obs_data_set_bool(media_settings, "looping", true);
	obs_data_set_bool(media_settings, "hw_decode", false);
	obs_source_t *media = obs_source_create("ffmpeg_source", "face video",
						media_settings, nullptr);
	OBSDataAutoRelease zoom = obs_data_create_from_json(
		R"({"idle_zoom_factor": 2.0, "tracking_subject": "face"})");
	obs_source_t *filter = create_zoom_filter("zoom", zoom);
	obs_source_filter_add(media, filter);
	/* the scene without a face, shown in the searching rounds */
	obs_data_set_string(media_settings, "local_file", empty_video.c_str());
	obs_source_t *empty = obs_source_create("ffmpeg_source", "no face",
						media_settings, nullptr);
	obs_source_t *searcher = create_zoom_filter("searching zoom", zoom);
	obs_source_filter_add(empty, searcher);
	set_following(searcher, false);
	obs_set_output_source(0, media);
	sleep_for(1.0);
	int status = 0;

	/* (a) and (b), in alternating rounds so that the machine's other
	 * work weighs on both alike */
	set_following(filter, true);
	for (int i = 0; i < 100 && !following(filter).sighting.found; i++)
		sleep_for(0.05);
	const int rounds = 4;
	Clocks off{}, on{}, search{};
	double frame_side = 0.0, looks = 0.0, readbacks = 0.0, hits = 0.0;
	double search_looks = 0.0, search_hits = 0.0;
	int found_rounds = 0;
	for (int round = 0; round < rounds; round++) {
		set_following(filter, false);
		Clocks start = Clocks::now();
		sleep_for(seconds / rounds);
		off += Clocks::now() - start;

		/* the face is found again (a whole-frame look) before the
		 * round counts */
		set_following(filter, true);
		for (int i = 0; i < 100 && !following(filter).sighting.found;
		     i++)
			sleep_for(0.05);
		const Following before = following(filter);
		start = Clocks::now();
		sleep_for(seconds / rounds);
		on += Clocks::now() - start;
		const Following after = following(filter);
		looks += double(after.sighting.looks - before.sighting.looks);
		hits += double(after.sighting.hits - before.sighting.hits);
		readbacks += double(after.readbacks - before.readbacks);
		frame_side += double(after.frame_ns - before.frame_ns) * 1e-9;
		found_rounds += before.sighting.found && after.sighting.found;

		/* searching: the scene without a face (its first search
		 * made, so that the detector's model is decoded) */
		set_following(filter, false);
		obs_set_output_source(0, empty);
		set_following(searcher, true);
		for (int i = 0;
		     i < 100 && following(searcher).sighting.looks < 1; i++)
			sleep_for(0.05);
		const Following first = following(searcher);
		start = Clocks::now();
		sleep_for(seconds / rounds);
		search += Clocks::now() - start;
		const Following last = following(searcher);
		search_looks +=
			double(last.sighting.looks - first.sighting.looks);
		search_hits += double(last.sighting.hits - first.sighting.hits);
		set_following(searcher, false);
		obs_set_output_source(0, media);
	}
	set_following(filter, false);
	/* per second of video */
	const auto rate = [](double v, const Clocks &c) {
		return v / c.wall;
	};
	const double worker = rate(on.detector, on);
	const double search_worker = rate(search.detector, search);
	search_looks /= search.wall;
	const double graphics_extra =
		rate(on.graphics, on) - rate(off.graphics, off);
	const double llvmpipe_extra =
		rate(on.llvmpipe, on) - rate(off.llvmpipe, off);
	const double process_extra =
		rate(on.process, on) - rate(off.process, off);
	frame_side /= on.wall;
	hits /= on.wall;
	looks /= on.wall;
	readbacks /= on.wall;
	if (found_rounds != rounds) {
		std::fprintf(stderr,
			     "the face was not followed in %d of %d "
			     "rounds (%s)\n",
			     rounds - found_rounds, rounds, video.c_str());
		status = 1;
	}

	/* (c) the detector on every frame at half size: a frame of the same
	 * video, unfiltered, read back at 960x540 */
	obs_source_filter_remove(media, filter);
	wait_frames(2);
	std::vector<uint8_t> half;
	obs_enter_graphics();
	{
		ReadbackTarget target(WIDTH / 2, HEIGHT / 2);
		target.draw(
			[&] {
				gs_matrix_scale3f(0.5f, 0.5f, 1.0f);
				obs_source_video_render(media);
			},
			&half);
	}
	obs_leave_graphics();
	/* a look around the face (as wide as the head in the video) and a
	 * look at the whole frame */
	FaceBox face{0.3, 0.3, 264.0 / WIDTH, 264.0 / HEIGHT};
	FaceRegion around, whole;
	face_region(WIDTH, HEIGHT, &face, around);
	face_region(WIDTH, HEIGHT, nullptr, whole);
	const double around_cost = look_cost(media, around, 60);
	const double whole_cost = look_cost(media, whole, 60);

	FaceDetector detector;
	FoundFace faces[8];
	int found = 0;
	int detections = 0;
	const double cpu_start = clock_seconds(CLOCK_THREAD_CPUTIME_ID);
	do {
		found = detector.detect(half.data(), WIDTH / 2, HEIGHT / 2,
					WIDTH / 2 * 4, faces, 8);
		detections++;
	} while (clock_seconds(CLOCK_THREAD_CPUTIME_ID) - cpu_start < 3.0);
	const double per_detection =
		(clock_seconds(CLOCK_THREAD_CPUTIME_ID) - cpu_start) /
		detections;
	const double every_frame = per_detection * FPS;

	/* following: the detector's thread, and drawing and reading back
	 * its pictures (measured alone, as many as were looked at: a look
	 * after a sighting is one around the face, a look after a miss one
	 * of the whole frame); and, coarser, every look priced as the
	 * dearer kind */
	const double misses = std::max(looks - hits, 0.0);
	const double drawing = (looks - misses) * around_cost +
			       misses * std::max(around_cost, whole_cost);
	const double drawing_bound = looks * std::max(around_cost, whole_cost);
	const double following_cpu = worker + drawing;
	const double searching_cpu = search_worker + search_looks * whole_cost;
	const double frame = 1.0 / FPS;
	std::printf(
		"face following, %ux%u at %u fps: %.0f s off and %.0f s on, "
		"in %d alternating rounds\n",
		WIDTH, HEIGHT, FPS, off.wall, on.wall, rounds);
	std::printf("  looks a second: %.2f (read back: %.2f), the face found "
		    "in %.1f %% of them; frames drawn off %u (%u late), on %u "
		    "(%u late)\n",
		    looks, readbacks, looks > 0 ? hits / looks * 100 : 0.0,
		    off.frames, off.lagged, on.frames, on.lagged);
	std::printf("  detector thread: %.2f ms a second (%.2f %% of a core), "
		    "%.2f ms a look\n",
		    worker * 1e3, worker * 100,
		    looks > 0 ? worker / looks * 1e3 : 0.0);
	std::printf(
		"  drawing and reading back one look, alone: %.2f ms around "
		"the face (%dx%d), %.2f ms the whole frame (%dx%d): %.2f "
		"ms a second, %.3f ms a frame (%.2f %% of a frame); every "
		"look as the dearer kind: %.2f ms a second\n",
		around_cost * 1e3, around.width, around.height,
		whole_cost * 1e3, whole.width, whole.height, drawing * 1e3,
		drawing / FPS * 1e3, drawing / FPS / frame * 100,
		drawing_bound * 1e3);
	std::printf("  added while following, drawing threads: graphics thread "
		    "%+.2f ms a second, llvmpipe %+.2f ms a second: %+.3f ms "
		    "a frame (%+.2f %% of a frame)\n",
		    graphics_extra * 1e3, llvmpipe_extra * 1e3,
		    (graphics_extra + llvmpipe_extra) / FPS * 1e3,
		    (graphics_extra + llvmpipe_extra) / FPS / frame * 100);
	std::printf("  (wall time inside the filter's look, waits for the "
		    "rasteriser included: %.1f us a frame)\n",
		    frame_side / FPS * 1e6);
	std::printf("  following in all: %.2f ms a second (%.2f %% of a core; "
		    "%.2f %% with every look as the dearer kind); the whole "
		    "process: %.1f %% of a core off, %.1f %% on (%+.1f %%)\n",
		    following_cpu * 1e3, following_cpu * 100,
		    (worker + drawing_bound) * 100,
		    rate(off.process, off) * 100, rate(on.process, on) * 100,
		    process_extra * 100);
	std::printf("searching, no face in the frame: %.2f looks a second "
		    "(%dx%d; %.0f found a face), detector thread %.2f ms a "
		    "second (%.2f ms a look); with drawing and reading back: "
		    "%.2f ms a second (%.2f %% of a core)\n",
		    search_looks, whole.width, whole.height, search_hits,
		    search_worker * 1e3,
		    search_looks > 0 ? search_worker / search_looks * 1e3 : 0.0,
		    searching_cpu * 1e3, searching_cpu * 100);
	std::printf("every frame at half size (%ux%u): %.1f ms a detection "
		    "(%d found), %.0f ms a second of video (%.0f %% of a "
		    "core)\n",
		    WIDTH / 2, HEIGHT / 2, per_detection * 1e3, found,
		    every_frame * 1e3, every_frame * 100);
	std::printf("ratio, following / every frame: %.4f (1/%.0f)\n",
		    following_cpu / every_frame, every_frame / following_cpu);
	if (found < 1) {
		std::fprintf(stderr,
			     "the detector found no face at half size\n");
		status = 1;
	}

	obs_set_output_source(0, nullptr);
	obs_source_release(filter);
	obs_source_release(media);
	obs_source_filter_remove(empty, searcher);
	obs_source_release(searcher);
	obs_source_release(empty);
	wait_destroyed();
	stop_host();
	return status;
}
