/*
 * OBS Studio's own saving beside the filter's hotkey work: the harness runs
 * libobs's UI tasks on a thread of its own, as OBS Studio does, and this
 * test saves there between them (obs_save_source and its JSON, of the
 * source and of the filter) while the stage count of a filter with a key
 * bound to each stage flips between 1 and 8 on every frame.
 * Built once more with ThreadSanitizer by scripts/test.d.
 *   TAVIMORE_SAVE_FLIPS=N runs N flips (300 by default).
 */
#include "obs-harness.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
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
	/* F1 to F8 on the stages; what each stage key is bound to */
	auto bound = [&] {
		std::map<std::string, std::string> keys;
		for (const auto &key : hotkey_ids(parent)) {
			obs_data_array_t *saved = obs_hotkey_save(key.second);
			obs_data_t *first = obs_data_array_item(saved, 0);
			if (first && key.first.rfind("tavimore.stage_", 0) == 0)
				keys[key.first] =
					obs_data_get_string(first, "key");
			obs_data_release(first);
			obs_data_array_release(saved);
		}
		return keys;
	};
	for (int n = 1; n <= 8; n++) {
		obs_key_combination_t key{0, obs_key_t(OBS_KEY_F1 + n - 1)};
		obs_hotkey_load_bindings(
			find_hotkey(
				parent,
				("tavimore.stage_" + std::to_string(n)).c_str()),
			&key, 1);
	}
	const auto keys = bound();
	ASSERT_EQ(keys.size(), 8u);

	/* where the filter's hotkeys come and go */
	static std::atomic<long> changes{0}, off_ui_thread{0};
	auto count = [](void *, calldata_t *) {
		changes++;
		if (!obs_in_task_thread(OBS_TASK_UI))
			off_ui_thread++;
	};
	signal_handler_t *signals = obs_get_signal_handler();
	signal_handler_connect(signals, "hotkey_register", count, nullptr);
	signal_handler_connect(signals, "hotkey_unregister", count, nullptr);

	/* the UI thread saves, then queues its next save behind what came */
	std::atomic<bool> stop{false};
	long saves = 0;
	std::promise<void> saver_done;
	std::function<void()> save = [&] {
		if (stop)
			return saver_done.set_value();
		obs_data_t *data =
			obs_save_source(saves++ % 2 ? filter : parent);
		EXPECT_NE(*obs_data_get_json(data), '\0');
		obs_data_release(data);
		post_ui_task(save);
	};
	post_ui_task(save);

	/* one change a frame, as SetSourceFilterSettings from obs-websocket */
	for (long i = 0; i <= flips; i++) {
		obs_data_set_int(settings, "stage_count",
				 i % 2 || i == flips ? 8 : 1);
		obs_source_update(filter, settings);
		wait_frames(1);
	}
	stop = true;
	saver_done.get_future().wait();
	signal_handler_disconnect(signals, "hotkey_register", count, nullptr);
	signal_handler_disconnect(signals, "hotkey_unregister", count, nullptr);
	std::printf("%ld flips, %ld saves, %ld keys registered or "
		    "unregistered\n",
		    flips, saves, changes.load());
	EXPECT_GT(saves, flips / 2);
	EXPECT_GT(changes.load(), flips);
	EXPECT_EQ(off_ui_thread.load(), 0);
	/* eight stages again, each on its own key */
	EXPECT_EQ(bound(), keys);

	obs_data_release(settings);
	obs_set_output_source(0, nullptr);
	remove_and_release(parent, filter);
	wait_hotkeys();
	EXPECT_TRUE(module_hotkeys().empty());
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = options.ui_thread = true;
	options.width = options.height = 64;
	options.fps = 120;
	return run_tests_in_host(argc, argv, options);
}
