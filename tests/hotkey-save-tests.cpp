/*
 * OBS Studio's own saving beside the filter's hotkey work. The harness
 * runs libobs's UI tasks on a thread of its own, as OBS Studio runs them on
 * its UI thread, and this test saves there between them, as OBS Studio
 * saves its scene collection: obs_save_source and the JSON of it, for the
 * source and for the filter. Meanwhile the stage count of a filter with a
 * key bound to each stage flips between 1 and 8 on every frame.
 * Built once more with ThreadSanitizer by scripts/test.d.
 *   TAVIMORE_SAVE_FLIPS=N runs N flips (300 by default).
 */
#include "obs-harness.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>

TEST(Saving, TheStageCountFlipsWhileTheUiThreadSaves)
{
	const char *wanted = std::getenv("TAVIMORE_SAVE_FLIPS");
	const long flips = wanted ? std::atol(wanted) : 300;

	obs_source_t *parent = create_pattern_source("saved parent", 64, 64);
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, "stage_count", 8);
	obs_source_t *filter = create_zoom_filter("saved zoom", settings);
	obs_source_filter_add(parent, filter);
	obs_set_output_source(0, parent);
	wait_frames(3);
	auto stage = [](int n) {
		return "tavimore.stage_" + std::to_string(n);
	};
	auto bound_to_each_stage = [&] {
		std::map<int, obs_key_t> bound;
		const auto ids = hotkey_ids(parent);
		for (int n = 1; n <= 8; n++) {
			const auto found = ids.find(stage(n));
			if (found == ids.end())
				continue;
			obs_data_array_t *saved =
				obs_hotkey_save(found->second);
			obs_data_t *first = obs_data_array_item(saved, 0);
			if (first)
				bound[n] = obs_key_from_name(
					obs_data_get_string(first, "key"));
			obs_data_release(first);
			obs_data_array_release(saved);
		}
		return bound;
	};
	std::map<int, obs_key_t> keys;
	const auto ids = hotkey_ids(parent);
	for (int n = 1; n <= 8; n++) {
		keys[n] = static_cast<obs_key_t>(OBS_KEY_F1 + n - 1);
		obs_key_combination_t combination{0, keys[n]};
		obs_hotkey_load_bindings(ids.at(stage(n)), &combination, 1);
	}

	/* where libobs's hotkeys of the filter come and go */
	struct Seen {
		std::atomic<long> keys{0}, off_ui_thread{0};
	} seen;
	auto count = [](void *data, calldata_t *) {
		auto *s = static_cast<Seen *>(data);
		s->keys++;
		if (!obs_in_task_thread(OBS_TASK_UI))
			s->off_ui_thread++;
	};
	signal_handler_t *signals = obs_get_signal_handler();
	signal_handler_connect(signals, "hotkey_register", count, &seen);
	signal_handler_connect(signals, "hotkey_unregister", count, &seen);

	/* the UI thread saves, and queues its next save behind the tasks
	 * that came meanwhile */
	std::atomic<bool> stop{false};
	long saves = 0;
	std::promise<void> saver_done;
	std::function<void()> save = [&] {
		if (stop) {
			saver_done.set_value();
			return;
		}
		obs_data_t *data = obs_save_source(saves % 2 ? filter : parent);
		const char *json = obs_data_get_json(data);
		if (!json || !*json)
			ADD_FAILURE() << "no JSON";
		obs_data_release(data);
		saves++;
		post_ui_task(save);
	};
	post_ui_task(save);

	/* one change for each frame, as SetSourceFilterSettings from
	 * obs-websocket's thread */
	struct Frames {
		std::atomic<long> count{0};
	} frames;
	auto count_frame = [](void *data, uint32_t, uint32_t) {
		static_cast<Frames *>(data)->count++;
	};
	obs_add_main_render_callback(count_frame, &frames);
	for (long i = 0; i < flips; i++) {
		obs_data_set_int(settings, "stage_count", i % 2 ? 8 : 1);
		obs_source_update(filter, settings);
		const long frame = frames.count.load();
		while (frames.count.load() == frame)
			std::this_thread::sleep_for(
				std::chrono::milliseconds(1));
	}
	obs_data_set_int(settings, "stage_count", 8);
	obs_source_update(filter, settings);
	wait_frames(2);
	obs_remove_main_render_callback(count_frame, &frames);
	stop = true;
	saver_done.get_future().wait();
	signal_handler_disconnect(signals, "hotkey_register", count, &seen);
	signal_handler_disconnect(signals, "hotkey_unregister", count, &seen);
	std::printf("%ld flips, %ld saves, %ld keys registered or "
		    "unregistered\n",
		    flips, saves, seen.keys.load());

	EXPECT_GT(saves, flips / 2);
	EXPECT_GT(seen.keys.load(), flips);
	EXPECT_EQ(seen.off_ui_thread.load(), 0);
	/* the last flip left eight stages, each on its own key */
	EXPECT_EQ(bound_to_each_stage(), keys);

	obs_data_release(settings);
	obs_set_output_source(0, nullptr);
	obs_source_filter_remove(parent, filter);
	obs_source_release(filter);
	obs_source_release(parent);
	wait_hotkeys();
	wait_destroyed();
	EXPECT_TRUE(module_hotkeys().empty());
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	options.ui_thread = true;
	options.width = 64;
	options.height = 64;
	options.fps = 120;
	return run_tests_in_host(argc, argv, options);
}
