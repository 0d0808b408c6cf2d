/*
 * Requests from several threads at once, as obs-websocket's worker threads
 * send them, among key presses and settings changes, while libobs ticks and
 * renders: no deadlock, no frame outside its transition; and filters
 * destroyed while requests for them arrive. Built once more with
 * ThreadSanitizer by scripts/test.d.
 */
#include "obs-harness.hpp"
#include "vendor-host.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Data = std::unique_ptr<obs_data_t, void (*)(obs_data_t *)>;

Data call(const char *type, const std::string &json)
{
	return Data(vendor_host::call(type, json.c_str()), obs_data_release);
}

void ensure_registered()
{
	if (vendor_host::vendor_name().empty()) {
		vendor_host::install();
		obs_post_load_modules();
	}
}

obs_source_t *storm_filter(const char *name, int stages)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, "stage_count", stages);
	obs_data_set_double(settings, "idle_duration", 0.1);
	for (int n = 1; n <= 8; n++) {
		const std::string p = "stage_" + std::to_string(n) + "_";
		obs_data_set_double(settings, (p + "zoom_factor").c_str(),
				    1.0 + 0.5 * n);
		obs_data_set_double(settings, (p + "duration").c_str(),
				    n == 2 ? 0.0 : 0.04 * n);
		obs_data_set_bool(settings, (p + "hold").c_str(), n % 2 == 0);
	}
	obs_source_t *filter = create_zoom_filter(name, settings);
	obs_data_release(settings);
	return filter;
}

/* Run on the graphics thread before each frame is drawn: the zoom it draws
 * lies between the start and the target of its transition. */
struct FrameCheck {
	std::vector<obs_source_t *> filters;
	std::atomic<long> frames{0};
	long outside = 0;
	std::string first_fault;

	static void draw(void *data, uint32_t, uint32_t)
	{
		auto *check = static_cast<FrameCheck *>(data);
		for (obs_source_t *f : check->filters)
			check->check(f);
		check->frames++;
	}
	void check(obs_source_t *filter)
	{
		double zoom, start, target;
		{
			const ZoomSnapshot f =
				snapshot_of(filter, KeyRead::Skipped);
			const int32_t a = f.active_stage;
			target = a >= 0 && size_t(a) < f.stages.size()
					 ? f.stages[a].zoom_factor
					 : f.idle.zoom_factor;
			zoom = f.current_zoom;
			start = f.transition_start_zoom;
		}
		const double slack = 4e-15 * std::max(start, target);
		if (zoom >= std::min(start, target) - slack &&
		    zoom <= std::max(start, target) + slack)
			return;
		if (outside++ == 0) {
			std::ostringstream text;
			text.precision(17);
			text << "zoom " << zoom << ", start " << start
			     << ", target " << target;
			first_fault = text.str();
		}
	}
};

/* Ends the process when `count` stands still for a minute: a deadlock. */
void abort_on_stall(const std::atomic<long> &count,
		    const std::atomic<bool> &done, const char *what)
{
	long last = count.load();
	auto moved = std::chrono::steady_clock::now();
	while (!done.load()) {
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
		const auto now = std::chrono::steady_clock::now();
		if (count.load() != last) {
			last = count.load();
			moved = now;
		} else if (now - moved > std::chrono::minutes(1)) {
			std::fprintf(stderr,
				     "%s stalled for a minute: deadlock\n",
				     what);
			std::abort();
		}
	}
}

} // namespace

TEST(Storm, RequestsKeysAndStageCountChangesFromSeveralThreads)
{
	constexpr long MIN_REQUESTS = 20000;
	constexpr long MIN_FRAMES = 120;
	constexpr long MIN_KEYS = 2000;
	ensure_registered();
	const char *names[] = {"Storm A", "Storm B"};
	obs_source_t *parents[2];
	obs_source_t *filters[2];
	FrameCheck check;
	for (int i = 0; i < 2; i++) {
		parents[i] = create_pattern_source(names[i], 64, 64);
		filters[i] = storm_filter(i ? "Zoom B" : "Zoom A", i ? 4 : 8);
		obs_source_filter_add(parents[i], filters[i]);
		check.filters.push_back(filters[i]);
	}
	obs_add_main_render_callback(FrameCheck::draw, &check);
	obs_set_output_source(0, parents[0]);
	obs_set_output_source(1, parents[1]);
	wait_frames(3);
	wait_destroyed(); /* the hotkeys are in place */
	vendor_host::take_events();

	std::atomic<long> requests{0}, failures{0}, keys{0};
	std::atomic<bool> done{false};
	std::mutex faults_lock;
	std::vector<std::string> faults;
	auto fault = [&](const std::string &text) {
		std::lock_guard<std::mutex> guard(faults_lock);
		if (faults.size() < 5)
			faults.push_back(text);
	};

	auto request_thread = [&](unsigned seed) {
		std::mt19937 random(seed);
		const char *types[] = {"SetStage", "ToggleStage", "GetState"};
		while (!done) {
			const char *type = types[random() % 3];
			const int stage = int(random() % 11) - 1;
			const std::string json =
				std::string(R"({"sourceName": ")") +
				names[random() % 2] + R"(", "stage": )" +
				std::to_string(stage) + "}";
			Data r = call(type, json);
			requests++;
			if (!r ||
			    !obs_data_has_user_value(r.get(), "success")) {
				fault(json + ": no success field");
				continue;
			}
			if (!obs_data_get_bool(r.get(), "success")) {
				failures++;
				const std::string error =
					obs_data_get_string(r.get(), "error");
				if (error.find("does not exist") ==
				    std::string::npos)
					fault(json + ": " + error);
				continue;
			}
			const long long got =
				obs_data_get_int(r.get(), "stage");
			const long long count =
				obs_data_get_int(r.get(), "stageCount");
			if (got < 0 || got > 8 ||
			    (type[0] == 'G' && (count < 1 || got > count)))
				fault(json + ": stage " + std::to_string(got));
		}
	};
	auto key_thread = [&] {
		std::mt19937 random(7);
		std::vector<std::map<std::string, obs_hotkey_id>> ids;
		long n = 0;
		while (!done) {
			if (n++ % 64 == 0) {
				ids = {hotkey_ids(parents[0]),
				       hotkey_ids(parents[1])};
			}
			const auto &mine = ids[random() % 2];
			const unsigned pick = random() % 10;
			const std::string name =
				pick == 0
					? "tavimore.idle"
					: "tavimore.stage_" +
						  std::to_string(1 + pick % 8);
			const auto found = mine.find(name);
			if (found == mine.end())
				continue;
			obs_hotkey_trigger_routed_callback(found->second, true);
			std::this_thread::yield();
			obs_hotkey_trigger_routed_callback(found->second,
							   false);
			keys += 2;
		}
	};

	std::vector<std::thread> threads;
	threads.emplace_back(request_thread, 1);
	threads.emplace_back(request_thread, 2);
	threads.emplace_back(request_thread, 3);
	threads.emplace_back(key_thread);
	std::thread watchdog(abort_on_stall, std::cref(requests),
			     std::cref(done), "requests");
	std::thread frame_watchdog(abort_on_stall, std::cref(check.frames),
				   std::cref(done), "frames");

	/* the stage count of Storm A changes every few frames, which drops
	 * the stage shown now and then */
	std::mt19937 random(11);
	obs_data_t *changes = obs_data_create();
	long count_changes = 0;
	const long first_frame = check.frames;
	while (requests < MIN_REQUESTS || keys < MIN_KEYS ||
	       check.frames - first_frame < MIN_FRAMES) {
		obs_data_set_int(changes, "stage_count", 1 + random() % 8);
		obs_source_update(filters[0], changes);
		count_changes++;
		std::this_thread::sleep_for(std::chrono::milliseconds(40));
	}
	obs_data_release(changes);
	done = true;
	for (std::thread &t : threads)
		t.join();
	watchdog.join();
	frame_watchdog.join();
	wait_frames(2);
	obs_remove_main_render_callback(FrameCheck::draw, &check);

	const std::vector<vendor_host::Event> events =
		vendor_host::take_events();
	long bad_events = 0;
	for (const auto &e : events)
		if (e.type != "StageChanged" || e.stage < 0 || e.stage > 8 ||
		    (e.source != names[0] && e.source != names[1]))
			bad_events++;
	std::printf("%ld requests (%ld refused), %ld key events, %ld stage "
		    "count changes, %ld frames, %zu StageChanged\n",
		    requests.load(), failures.load(), keys.load(),
		    count_changes, check.frames.load(), events.size());
	EXPECT_TRUE(faults.empty()) << faults.front();
	EXPECT_EQ(check.outside, 0) << check.first_fault;
	EXPECT_GT(count_changes, 10);
	EXPECT_GT(events.size(), size_t(1000));
	EXPECT_EQ(bad_events, 0);

	obs_set_output_source(0, nullptr);
	obs_set_output_source(1, nullptr);
	for (int i = 0; i < 2; i++) {
		remove_and_release(parents[i], filters[i]);
	}
	wait_destroyed();
}

TEST(RemoteDestroy, FiltersGoWhileRequestsForThemArrive)
{
	ensure_registered();
	std::atomic<long> answered{0}, found{0};
	std::atomic<bool> done{false};
	std::mutex faults_lock;
	std::vector<std::string> faults;

	auto request_thread = [&](unsigned seed) {
		std::mt19937 random(seed);
		const char *types[] = {"SetStage", "ToggleStage", "GetState"};
		while (!done) {
			const char *type = types[random() % 3];
			Data r = call(type,
				      R"({"sourceName": "Doomed", "stage": )" +
					      std::to_string(random() % 4) +
					      "}");
			answered++;
			if (obs_data_get_bool(r.get(), "success")) {
				found++;
				continue;
			}
			const std::string error =
				obs_data_get_string(r.get(), "error");
			/* gone, or going: nothing else may be said */
			if (error.find("no source named") ==
				    std::string::npos &&
			    error.find("has no Tavimore Zoom filter") ==
				    std::string::npos) {
				std::lock_guard<std::mutex> guard(faults_lock);
				faults.push_back(error);
			}
		}
	};
	std::vector<std::thread> threads;
	for (unsigned seed = 1; seed <= 3; seed++)
		threads.emplace_back(request_thread, seed);

	for (int round = 0; round < 40; round++) {
		obs_source_t *parent = create_pattern_source("Doomed", 32, 32);
		obs_source_t *filter = storm_filter("Zoom D", 3);
		obs_source_filter_add(parent, filter);
		const long before = answered;
		while (answered - before < 20)
			std::this_thread::yield();
		/* the filter goes first, or the source with it */
		if (round % 2 == 0) {
			obs_source_filter_remove(parent, filter);
			obs_source_release(filter);
			std::this_thread::yield();
			obs_source_release(parent);
		} else {
			obs_source_release(filter);
			obs_source_release(parent);
		}
		wait_destroyed();
	}
	done = true;
	for (std::thread &t : threads)
		t.join();
	vendor_host::take_events();
	std::printf("%ld requests, %ld found the filter\n", answered.load(),
		    found.load());
	EXPECT_TRUE(faults.empty()) << faults.front();
	EXPECT_GT(found.load(), 0);
	EXPECT_GT(answered.load() - found.load(), 0);
}

int main(int argc, char **argv)
{
	::testing::AddGlobalTestEnvironment(new vendor_host::Environment);
	HostOptions options;
	options.video = true;
	return run_tests_in_host(argc, argv, options);
}
