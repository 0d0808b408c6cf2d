#include "tracking/face-tracker.hpp"
#include "tracking/face-detector.hpp"

#include <util/platform.h>

#include <cstring>

#if defined(__linux__)
#include <pthread.h>
#endif

/* More faces than this in one picture are not looked at. */
constexpr int MAX_FACES = 16;

/* The workers told to stop that have not ended yet. Made once and never
 * freed: a worker may end while the process's exit handlers run. */
struct RetiredWorkers {
	std::mutex lock;
	std::condition_variable ended;
	int count = 0;
};

static RetiredWorkers &retired()
{
	static RetiredWorkers *const workers = new RetiredWorkers;
	return *workers;
}

void wait_for_face_workers()
{
	RetiredWorkers &r = retired();
	std::unique_lock<std::mutex> guard(r.lock);
	r.ended.wait(guard, [&] { return r.count == 0; });
}

FaceWork::FaceWork() = default;
FaceWork::~FaceWork() = default;

static void face_worker(FaceWork *work)
{
#if defined(__linux__)
	pthread_setname_np(pthread_self(), "tavimore-face");
#endif
	work->run();
	/* the picture, the detector and the rest go on this thread */
	delete work;
	RetiredWorkers &r = retired();
	std::lock_guard<std::mutex> guard(r.lock);
	r.count--;
	r.ended.notify_all();
}

FaceTracker::FaceTracker() : Follower(TrackingSubject::Face), work(new FaceWork)
{
	retired();
	std::thread(face_worker, work).detach();
}

FaceTracker::~FaceTracker()
{
	{
		/* counted before the worker can end */
		RetiredWorkers &r = retired();
		std::lock_guard<std::mutex> guard(r.lock);
		r.count++;
	}
	/* told under the lock: once it is let go, the worker may end and
	 * free `work` at any moment */
	std::lock_guard<std::mutex> guard(work->lock);
	work->stopping = true;
	work->wake.notify_all();
}

FollowReading FaceTracker::read(double seconds, bool tracking)
{
	clock_seconds.store(clock_seconds.load() + seconds);
	ticks.fetch_add(1);
	const FaceSighting sighting = latest();
	lost_seconds = sighting.found ? 0.0 : lost_seconds + seconds;
	/* a face lost is held where it was last seen for a while, then the
	 * view glides back to the target's own centre */
	const bool held = followed && lost_seconds < FACE_HOLD_SECONDS;
	if (tracking && followed && !sighting.found && !held)
		return_seconds = 0.0;
	return_seconds += seconds;
	followed = tracking && (sighting.found || held);
	/* seen a few times a second, a face is always glided to softly */
	const bool soft = followed || return_seconds < FACE_RETURN_SECONDS;
	return {followed,
		sighting.found,
		sighting.box.center_x(),
		sighting.box.center_y(),
		soft ? FACE_MIN_SMOOTHING : 0.0,
		sighting.found ? sighting.box.h : 0.0};
}

void FaceTracker::release_graphics()
{
	gs_stagesurface_destroy(stage);
	gs_texrender_destroy(texrender);
	stage = nullptr;
	texrender = nullptr;
	staged = false;
}

void FaceTracker::frame(obs_source_t *target, obs_source_t *parent,
			uint32_t width, uint32_t height)
{
	const uint64_t tick = ticks.load();
	if (tick == last_tick)
		return;
	last_tick = tick;
	if (staged) {
		/* a frame later the GPU has finished the copy: mapping it
		 * does not wait */
		const uint64_t start = os_gettime_ns();
		hand_over();
		frame_ns += os_gettime_ns() - start;
		return;
	}
	const double now = clock_seconds.load();
	if (now < next_look)
		return;

	FaceRegion region;
	bool followed;
	{
		std::lock_guard<std::mutex> guard(work->lock);
		/* the worker has yet to make its picture, or is still on
		 * the last one */
		if (!work->ready || work->picture_ready)
			return;
		followed = work->following;
		/* after a miss, or when the source has changed size (another
		 * picture), the whole frame */
		const bool around_face = followed && !work->missed &&
					 width == work->followed_width &&
					 height == work->followed_height;
		if (!face_region(width, height,
				 around_face ? &work->look_box : nullptr,
				 region))
			return;
	}
	next_look =
		now + (followed ? FACE_FOLLOW_INTERVAL : FACE_SEARCH_INTERVAL);
	const uint64_t start = os_gettime_ns();
	draw(target, parent, region);
	frame_ns += os_gettime_ns() - start;
	staged_width = width;
	staged_height = height;
}

void FaceTracker::draw(obs_source_t *target, obs_source_t *parent,
		       const FaceRegion &region)
{
	if (!texrender)
		texrender = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
	if (!stage)
		stage = gs_stagesurface_create(FACE_PICTURE_MAX,
					       FACE_PICTURE_MAX, GS_RGBA);
	if (!texrender || !stage)
		return;
	gs_texrender_reset(texrender);
	if (!gs_texrender_begin_with_color_space(texrender, FACE_PICTURE_MAX,
						 FACE_PICTURE_MAX, GS_CS_SRGB))
		return;
	/* the region fills the top-left corner of the texture */
	gs_set_viewport(0, 0, region.width, region.height);
	gs_ortho(float(region.x0), float(region.x1), float(region.y0),
		 float(region.y1), -100.0f, 100.0f);
	draw_target(target, parent); /* as the filter draws its input */
	gs_texrender_end(texrender);

	gs_stage_texture(stage, gs_texrender_get_texture(texrender));
	staged = true;
	staged_region = region;
}

void FaceTracker::hand_over()
{
	staged = false;
	uint8_t *data = nullptr;
	uint32_t linesize = 0;
	if (!gs_stagesurface_map(stage, &data, &linesize))
		return;
	/* the worker is idle: nothing was handed over since the look was
	 * drawn, and only this thread hands over */
	const size_t row = size_t(staged_region.width) * 4;
	const size_t stride = size_t(FACE_PICTURE_MAX) * 4;
	for (int y = 0; y < staged_region.height; y++)
		std::memcpy(work->picture.data() + y * stride,
			    data + size_t(y) * linesize, row);
	gs_stagesurface_unmap(stage);
	readback_count++;
	std::lock_guard<std::mutex> guard(work->lock);
	work->picture_ready = true;
	work->picture_region = staged_region;
	work->picture_width = staged_width;
	work->picture_height = staged_height;
	work->wake.notify_one();
}

void FaceWork::run()
{
	/* made here, not on the thread that opened the tracker (the frame's) */
	std::vector<uint8_t> made(size_t(FACE_PICTURE_MAX) * FACE_PICTURE_MAX *
				  4);
	FoundFace found[MAX_FACES];
	FaceBox boxes[MAX_FACES];

	std::unique_lock<std::mutex> guard(lock);
	picture.swap(made);
	ready = true;
	for (;;) {
		wake.wait(guard, [this] { return stopping || picture_ready; });
		if (stopping)
			break;
		const FaceRegion region = picture_region;
		const double width = picture_width;
		const double height = picture_height;
		const std::shared_ptr<FaceGate> held = gate;
		guard.unlock();
		if (held)
			held->pass();
		/* dlib's model is decoded on the first search (once per
		 * process, up to seconds) */
		if (!detector)
			detector = std::make_unique<FaceDetector>();

		const int n = detector->detect(picture.data(), region.width,
					       region.height,
					       FACE_PICTURE_MAX * 4, found,
					       MAX_FACES);
		for (int i = 0; i < n; i++)
			boxes[i] = box_in_source(region, width, height,
						 found[i].left, found[i].top,
						 found[i].width,
						 found[i].height);
		const auto now = std::chrono::steady_clock::now();

		guard.lock();
		/* a source of another size shows another picture: its
		 * largest face is followed */
		if (width != followed_width || height != followed_height) {
			following = false;
			followed_width = width;
			followed_height = height;
		}
		/* a face unseen for a while may have gone further */
		const double unseen =
			std::chrono::duration<double>(now - last_seen).count();
		const int chosen = pick_face(
			boxes, n, following ? &published.box : nullptr, width,
			height, face_reach(unseen));
		if (chosen >= 0) {
			const FaceBox &box = boxes[chosen];
			look_box = following ? averaged_box(look_box, box)
					     : box;
			published.box = following
						? steady_box(published.box, box)
						: box;
			published.found = true;
			published.hits++;
			following = true;
			missed = false;
			last_seen = now;
		} else {
			published.found = false;
			missed = true;
			/* past the hold, any face may be followed anew */
			if (following &&
			    now - last_seen >= std::chrono::duration<double>(
						       FACE_HOLD_SECONDS))
				following = false;
		}
		published.looks++;
		picture_ready = false;
	}
}
