/*
 * The face's follower: where the face is, as fractions of what a filter's
 * input shows. A lost face is held a while, then the view glides back; the
 * tick never waits on the GPU or the detector.
 *
 * Threads: `frame` runs on whichever thread draws the filter, inside the
 * graphics context; it draws the input small a few times a second, copies
 * it to a stage surface and maps that on a later frame, so it never waits
 * for the GPU. The copy goes to the tracker's own worker thread
 * ("tavimore-face"), which runs the detector and publishes the followed
 * face. `read` and `latest` only read what was published. They share
 * `FaceWork::lock`, a leaf lock. Once the tracker has drawn its first look,
 * neither the tick nor `frame` allocates; the worker does, inside the
 * detector.
 *
 * Nobody waits for the worker. Dropping the tracker only tells it to stop;
 * it ends by itself once back from the search under way (the first one
 * decodes dlib's model, up to seconds) and frees the picture, the detector
 * and the shared state on its own thread. The module's unload waits for
 * the workers told to stop (wait_for_face_workers): none then runs the
 * module's code or uses its data any more.
 */
#pragma once

#include "tracking/face-follow.hpp"
#include "tracking/follower.hpp"

#include <obs-module.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class FaceDetector;

/* For tests: a gate the worker passes before each search. While it is
 * closed the worker waits there, as if a search took that long. */
struct FaceGate {
	std::mutex lock;
	std::condition_variable changed;
	bool open = true;
	bool waiting = false; /* the worker waits at it */

	void pass()
	{
		std::unique_lock<std::mutex> guard(lock);
		waiting = true;
		changed.notify_all();
		changed.wait(guard, [this] { return open; });
		waiting = false;
	}
	void set_open(bool value)
	{
		std::lock_guard<std::mutex> guard(lock);
		open = value;
		changed.notify_all();
	}
	bool worker_waiting()
	{
		std::lock_guard<std::mutex> guard(lock);
		return waiting;
	}
};

/* The followed face as the tick reads it. */
struct FaceSighting {
	bool found = false; /* seen in the latest look */
	FaceBox box;        /* where it was last seen */
	uint64_t looks = 0; /* pictures searched so far */
	uint64_t hits = 0;  /* of which the followed face was found in */
};

/* What a tracker and its worker share, under `lock`. The worker owns it:
 * it frees it when it ends. */
struct FaceWork {
	std::mutex lock;
	std::condition_variable wake;
	bool stopping = false;
	bool ready = false;         /* the worker has made `picture` */
	bool picture_ready = false; /* `picture` holds one to search */
	FaceRegion picture_region;
	double picture_width = 0.0;
	double picture_height = 0.0;
	FaceSighting published;
	std::shared_ptr<FaceGate> gate;
	bool following = false; /* the worker follows `published.box` */
	/* where to look next: the followed face's centre, with its size
	 * averaged over the looks (dlib's box sizes come in steps of a fifth,
	 * and a region that followed each step would keep changing scale) */
	FaceBox look_box;
	/* the latest look missed it: the next one takes in the whole frame */
	bool missed = false;
	/* the source's size when the followed face was seen */
	double followed_width = 0.0;
	double followed_height = 0.0;

	/* the picture handed over: RGBA rows FACE_PICTURE_MAX * 4 bytes
	 * apart, made by the worker, written by `frame` only while no search
	 * is pending */
	std::vector<uint8_t> picture;

	/* worker only */
	std::unique_ptr<FaceDetector> detector;
	std::chrono::steady_clock::time_point last_seen;

	FaceWork();
	~FaceWork();
	void run();
};

/* Module unload: waits until every worker told to stop has ended. Not on
 * the graphics thread. */
void wait_for_face_workers();

class FaceTracker final : public Follower {
public:
	/* Starts the worker thread. Any thread; the GPU objects are made on
	 * the first frame. */
	FaceTracker();
	/* Tells the worker to stop, and returns at once. Call
	 * release_graphics first. */
	~FaceTracker() override;
	FaceTracker(const FaceTracker &) = delete;
	FaceTracker &operator=(const FaceTracker &) = delete;

	/* Also paces the looks, so that they follow the frames however the
	 * frames are driven. */
	FollowReading read(double seconds, bool tracking) override;

	/* Once a frame (a second call after the same tick does nothing),
	 * inside the graphics context: hands a mapped picture to the worker,
	 * or draws the filter's input (`target`, of width by height pixels)
	 * for the next one when it is time. */
	void frame(obs_source_t *target, obs_source_t *parent, uint32_t width,
		   uint32_t height) override;
	/* Inside the graphics context: destroys the texture and the stage
	 * surface. */
	void release_graphics() override;

	/* The latest sighting. Takes a short lock. */
	FaceSighting latest()
	{
		std::lock_guard<std::mutex> guard(work->lock);
		return work->published;
	}

	/* Pictures read back so far, and the time `frame` spent drawing and
	 * handing them over, in nanoseconds: for tests and benchmarks. */
	uint64_t readbacks() const { return readback_count.load(); }
	uint64_t frame_time_spent() const { return frame_ns.load(); }
	/* For tests: the gate the worker passes before each search. */
	void set_gate(std::shared_ptr<FaceGate> next)
	{
		std::lock_guard<std::mutex> guard(work->lock);
		work->gate = std::move(next);
	}

private:
	void draw(obs_source_t *target, obs_source_t *parent,
		  const FaceRegion &region);
	void hand_over();

	/* written by the tick, read by `frame` */
	std::atomic<double> clock_seconds{0.0};
	std::atomic<uint64_t> ticks{0};
	/* the tick's: whether the view follows the face; the seconds since
	 * it was last seen count the hold, those since the hold ended the
	 * glide back */
	bool followed = false;
	double lost_seconds = 0.0;
	double return_seconds = FACE_RETURN_SECONDS;

	/* graphics side */
	gs_texrender_t *texrender = nullptr;
	gs_stagesurf_t *stage = nullptr;
	uint64_t last_tick = 0;
	double next_look = 0.0;
	bool staged = false;
	uint64_t staged_frame_time = 0;
	FaceRegion staged_region;
	double staged_width = 0.0;
	double staged_height = 0.0;
	std::atomic<uint64_t> readback_count{0};
	std::atomic<uint64_t> frame_ns{0};

	/* shared with the worker, which frees it */
	FaceWork *const work;
};
