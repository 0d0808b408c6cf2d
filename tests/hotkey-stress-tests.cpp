/*
 * A hotkey storm, with stage count changes, while libobs ticks and renders
 * the filter: no frame's zoom leaves its transition, and no deadlock.
 * Built once more with ThreadSanitizer by scripts/test.d.
 */
#include "obs-harness.hpp"
#include "core/zoom-core.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

/* ---- a filter that counts how often libobs renders through it ------ */

std::atomic<long> probe_renders{0};

void register_render_probe()
{
	obs_source_info info = {};
	info.id = "tavimore_test_render_probe";
	info.type = OBS_SOURCE_TYPE_FILTER;
	info.output_flags = OBS_SOURCE_VIDEO;
	info.get_name = [](void *) {
		return "Render probe";
	};
	info.create = [](obs_data_t *, obs_source_t *source) -> void * {
		return source;
	};
	info.destroy = [](void *) {
	};
	info.video_render = [](void *data, gs_effect_t *) {
		probe_renders++;
		obs_source_skip_video_filter(static_cast<obs_source_t *>(data));
	};
	obs_register_source(&info);
}

/* ---- what every frame is checked for --------------------------------- */

/*
 * Runs on the graphics thread after every source has ticked and before the
 * frame is drawn: the zoom that the frame will draw must lie between the
 * start and the target of the transition. Under the filter's lock the
 * observer sees either exactly what the tick computed, or a stage press
 * that came after it (which starts the next transition from that zoom).
 */
struct FrameCheck {
	obs_source_t *filter = nullptr;
	long frames = 0;
	long moving = 0; /* frames drawn while a transition was running */
	long outside = 0;
	long inconsistent = 0;
	std::string first_fault;

	std::atomic<long> frame_count{0};

	static void draw(void *data, uint32_t, uint32_t)
	{
		static_cast<FrameCheck *>(data)->check();
	}

	void check()
	{
		double zoom, start, progress, target;
		Easing kind;
		{
			const ZoomSnapshot f =
				snapshot_of(filter, KeyRead::Skipped);
			const int32_t active = f.active_stage;
			const bool staged = active >= 0 &&
					    size_t(active) < f.stages.size();
			target = staged ? f.stages[active].zoom_factor
					: f.idle.zoom_factor;
			zoom = f.current_zoom;
			start = f.transition_start_zoom;
			progress = f.transition_progress;
			kind = easing_for(target, start, f.easing_in,
					  f.easing_out);
		}
		frames++;
		frame_count++;
		/* a press between the tick and this check restarts the
		 * transition at 0, so that counts as running too */
		if (progress < 1.0 && start != target)
			moving++;

		/* the last bit of e * (target - start) + start may round past
		 * either end */
		const double slack = 4e-15 * std::max(start, target);
		const bool inside = zoom >= std::min(start, target) - slack &&
				    zoom <= std::max(start, target) + slack;
		/* a press after the tick: the new transition starts here */
		const bool just_pressed = progress == 0.0 && zoom == start;
		const bool as_ticked =
			zoom == shown_zoom(start, target, progress, kind);
		if (!inside)
			outside++;
		if (!just_pressed && !as_ticked)
			inconsistent++;
		if ((!inside || (!just_pressed && !as_ticked)) &&
		    first_fault.empty()) {
			std::ostringstream text;
			text.precision(17);
			text << "frame " << frames << ": zoom " << zoom
			     << ", start " << start << ", target " << target
			     << ", progress " << progress;
			first_fault = text.str();
		}
	}
};

obs_hotkey_id id_of(const std::map<std::string, obs_hotkey_id> &ids,
		    const std::string &name)
{
	const auto found = ids.find(name);
	return found == ids.end() ? OBS_INVALID_HOTKEY_ID : found->second;
}

/*
 * Waits for the storm to end. A deadlock stops the key presses or the
 * frames for good; when either stands still for `limit` (a minute by
 * default) the test ends the process with a message rather than hang.
 */
void watch_for_stall(const std::atomic<long> &events,
		     const std::atomic<long> &frames,
		     const std::atomic<bool> &done,
		     std::chrono::seconds limit = std::chrono::minutes(1))
{
	using clock = std::chrono::steady_clock;
	long last_events = events.load(), last_frames = frames.load();
	auto events_moved = clock::now(), frames_moved = clock::now();
	while (!done.load()) {
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
		const auto now = clock::now();
		if (events.load() != last_events) {
			last_events = events.load();
			events_moved = now;
		}
		if (frames.load() != last_frames) {
			last_frames = frames.load();
			frames_moved = now;
		}
		if (now - events_moved > limit || now - frames_moved > limit) {
			std::fprintf(stderr,
				     "stalled for %lld s (%s): deadlock\n",
				     static_cast<long long>(limit.count()),
				     now - events_moved > limit ? "key presses"
								: "frames");
			std::abort();
		}
	}
}

obs_data_t *stage_settings()
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, "stage_count", 8);
	obs_data_set_double(settings, "idle_zoom_factor", 1.5);
	obs_data_set_double(settings, "idle_duration", 0.2);
	obs_data_set_int(settings, "easing_in", 1);
	obs_data_set_int(settings, "easing_out", 2);
	for (int n = 1; n <= 8; n++) {
		const std::string prefix = "stage_" + std::to_string(n) + "_";
		obs_data_set_double(settings, (prefix + "zoom_factor").c_str(),
				    1.0 + 0.5 * n);
		/* 0 s completes at once; the others take frames */
		obs_data_set_double(settings, (prefix + "duration").c_str(),
				    n == 3 ? 0.0 : 0.05 * n);
		obs_data_set_double(settings, (prefix + "center_x").c_str(),
				    0.1 * n);
	}
	return settings;
}

} // namespace

TEST(Stress, HotkeyStormWhileTheStageCountChanges)
{
	constexpr long MIN_EVENTS = 100000;
	constexpr long MIN_FRAMES = 240;
	constexpr long FRAMES_PER_COUNT_CHANGE = 3;

	register_render_probe();
	obs_source_t *parent = create_pattern_source("storm parent", 128, 128);
	obs_data_t *settings = stage_settings();
	obs_source_t *filter = create_zoom_filter("storm zoom", settings);
	obs_data_release(settings);
	obs_source_t *probe = obs_source_create_private(
		"tavimore_test_render_probe", "storm probe", nullptr);
	ASSERT_NE(probe, nullptr);

	FrameCheck check;
	check.filter = filter;
	obs_add_main_render_callback(FrameCheck::draw, &check);
	obs_source_filter_add(parent, filter);
	obs_source_filter_add(parent, probe); /* drawn first, then the zoom */
	obs_set_output_source(0, parent);
	wait_frames(3);
	ASSERT_EQ(hotkey_ids(parent).size(), 11u);
	const long renders_before = probe_renders.load();

	std::atomic<long> events{0};
	std::atomic<bool> done{false};
	long count_changes = 0;
	std::thread storm([&] {
		std::mt19937 random(20261207);
		std::map<std::string, obs_hotkey_id> ids = hotkey_ids(parent);
		const long first_frame = check.frame_count.load();
		long frame_of_change = first_frame;
		int actions = 0;
		obs_data_t *changes = obs_data_create();

		while (events < MIN_EVENTS ||
		       check.frame_count.load() - first_frame < MIN_FRAMES) {
			const long frame = check.frame_count.load();
			if (frame - frame_of_change >=
			    FRAMES_PER_COUNT_CHANGE) {
				frame_of_change = frame;
				obs_data_set_int(changes, "stage_count",
						 1 + random() % 8);
				obs_source_update(filter, changes);
				count_changes++;
			}
			/* stale ids (of stages removed since) press nothing;
			 * the presses go on through every part of the frame,
			 * the tick's registrations included */
			if (++actions % 32 == 0) {
				ids = hotkey_ids(parent);
				std::this_thread::yield();
			}

			const unsigned pick = random() % 10;
			if (pick < 8) {
				const std::string name =
					"tavimore.stage_" +
					std::to_string(1 + random() % 8);
				const obs_hotkey_id id = id_of(ids, name);
				obs_hotkey_trigger_routed_callback(id, true);
				obs_hotkey_trigger_routed_callback(id, false);
				events += 2;
			} else {
				/* the two hold keys, alone or overlapping */
				const obs_hotkey_id in =
					id_of(ids, "tavimore.idle_zoom_in");
				const obs_hotkey_id out =
					id_of(ids, "tavimore.idle_zoom_out");
				obs_hotkey_trigger_routed_callback(in, true);
				if (pick == 9)
					obs_hotkey_trigger_routed_callback(
						out, true);
				std::this_thread::yield();
				obs_hotkey_trigger_routed_callback(in, false);
				if (pick == 9)
					obs_hotkey_trigger_routed_callback(
						out, false);
				events += pick == 9 ? 4 : 2;
			}
		}
		obs_data_release(changes);
		done = true;
	});
	watch_for_stall(events, check.frame_count, done);
	storm.join();
	wait_frames(3);
	obs_remove_main_render_callback(FrameCheck::draw, &check);

	EXPECT_GE(events.load(), MIN_EVENTS);
	EXPECT_GE(count_changes, 20);
	EXPECT_GE(check.frames, MIN_FRAMES);
	/* the check saw transitions under way, and libobs drew the filter */
	EXPECT_GT(check.moving, check.frames / 10);
	EXPECT_GT(probe_renders.load() - renders_before, MIN_FRAMES / 2);
	EXPECT_EQ(check.outside, 0) << check.first_fault;
	EXPECT_EQ(check.inconsistent, 0) << check.first_fault;
	std::printf("%ld events, %ld stage count changes, %ld frames "
		    "(%ld mid-transition)\n",
		    events.load(), count_changes, check.frames, check.moving);

	/* after the storm the hotkeys on the source are the filter's own */
	struct Registered {
		obs_source_t *filter;
		std::vector<obs_hotkey_id> stages;
		obs_hotkey_id in, out;
	} registered{filter, {}, 0, 0};
	/* read where the hotkey work writes them, after the work queued */
	obs_queue_task(
		OBS_TASK_DESTROY,
		[](void *data) {
			auto *r = static_cast<Registered *>(data);
			const ZoomSnapshot f = snapshot_of(r->filter);
			for (const auto &key : f.stage_keys)
				r->stages.push_back(key.id);
			r->in = f.idle_zoom_in_hotkey;
			r->out = f.idle_zoom_out_hotkey;
		},
		&registered, true);
	const auto ids = hotkey_ids(parent);
	ASSERT_EQ(ids.size(), registered.stages.size() + 3);
	for (size_t i = 0; i < registered.stages.size(); i++)
		EXPECT_EQ(ids.at("tavimore.stage_" + std::to_string(i + 1)),
			  registered.stages[i]);
	EXPECT_EQ(ids.at("tavimore.idle_zoom_in"), registered.in);
	EXPECT_EQ(ids.at("tavimore.idle_zoom_out"), registered.out);

	obs_set_output_source(0, nullptr);
	obs_source_filter_remove(parent, probe);
	obs_source_filter_remove(parent, filter);
	obs_source_release(probe);
	obs_source_release(filter);
	obs_source_release(parent);
	wait_destroyed();
	EXPECT_TRUE(module_hotkeys().empty());
}

/*
 * A hotkey of another part of the host (a script's, say) that looks a source
 * up by name: libobs runs it under its hotkey mutex, and the lookup takes
 * libobs's list of sources. Meanwhile the stage count flips between 1 and 8
 * on every frame, so the filter's hotkeys come and go all the time. Neither
 * the frames nor the key presses may ever stand still.
 */
TEST(Stress, AHotkeyLookingUpASourceWhileTheStageCountFlips)
{
	const auto run_for = std::chrono::seconds(20);
	const auto stall = std::chrono::seconds(5);

	obs_source_t *parent = create_pattern_source("lookup parent", 64, 64);
	obs_data_t *settings = stage_settings();
	obs_source_t *filter = create_zoom_filter("lookup zoom", settings);
	obs_data_release(settings);
	obs_source_filter_add(parent, filter);
	obs_set_output_source(0, parent);

	/* frames counted, and the longest time between two of them */
	struct Frames {
		std::atomic<long> count{0};
		std::chrono::steady_clock::time_point last;
		std::chrono::steady_clock::duration longest{};
	} frames;
	auto count_frame = [](void *data, uint32_t, uint32_t) {
		auto *f = static_cast<Frames *>(data);
		const auto now = std::chrono::steady_clock::now();
		if (f->count.load() > 0)
			f->longest = std::max(f->longest, now - f->last);
		f->last = now;
		++f->count;
	};
	obs_add_main_render_callback(count_frame, &frames);

	std::atomic<long> lookups{0};
	const obs_hotkey_id lookup = obs_hotkey_register_frontend(
		"test.lookup", "Look a source up",
		[](void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed) {
			if (!pressed)
				return;
			obs_source_t *found =
				obs_get_source_by_name("lookup parent");
			if (found)
				++*static_cast<std::atomic<long> *>(data);
			obs_source_release(found);
		},
		&lookups);

	std::atomic<bool> done{false};
	std::thread presser([&] {
		while (!done) {
			obs_hotkey_trigger_routed_callback(lookup, true);
			obs_hotkey_trigger_routed_callback(lookup, false);
		}
	});
	long changes = 0;
	std::thread changer([&] {
		using clock = std::chrono::steady_clock;
		const auto end = clock::now() + run_for;
		obs_data_t *count = obs_data_create();
		long frame = frames.count.load();
		while (clock::now() < end) {
			obs_data_set_int(count, "stage_count",
					 changes % 2 ? 1 : 8);
			obs_source_update(filter, count);
			changes++;
			/* one change for each frame */
			while (frames.count.load() == frame &&
			       clock::now() < end)
				std::this_thread::sleep_for(
					std::chrono::milliseconds(1));
			frame = frames.count.load();
		}
		obs_data_release(count);
		done = true;
	});
	watch_for_stall(lookups, frames.count, done, stall);
	changer.join();
	presser.join();
	obs_remove_main_render_callback(count_frame, &frames);
	obs_hotkey_unregister(lookup);

	const double longest =
		std::chrono::duration<double>(frames.longest).count();
	std::printf("%ld stage count changes, %ld lookups, %ld frames, "
		    "longest gap %.3f s\n",
		    changes, lookups.load(), frames.count.load(), longest);
	EXPECT_GE(changes, 100);
	EXPECT_GE(lookups.load(), 1000);
	/* no frame waits for the key presses */
	EXPECT_LT(longest, 1.0);
	/* the last count (1 or 8) is what the source holds */
	wait_frames(3);
	EXPECT_EQ(hotkey_ids(parent).size(), size_t(changes % 2 ? 8 : 1) + 3);

	obs_set_output_source(0, nullptr);
	remove_and_release(parent, filter);
	wait_destroyed();
	EXPECT_TRUE(module_hotkeys().empty());
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	return run_tests_in_host(argc, argv, options);
}
