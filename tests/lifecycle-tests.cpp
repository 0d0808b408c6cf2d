/*
 * Many lives of a zoom filter in one host, each leaving no hotkey behind;
 * scripts/test.d runs it under valgrind and LeakSanitizer as well.
 * TAVIMORE_LIFECYCLE_CYCLES sets the number of cycles (default 1000).
 */
#include "obs-harness.hpp"
#include "filter/zoom-keys.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

static int cycles()
{
	const char *text = std::getenv("TAVIMORE_LIFECYCLE_CYCLES");
	const int n = text ? std::atoi(text) : 1000;
	return n > 0 ? n : 1000;
}

/* The module's hotkeys (of the one filter alive): one toggle per stage and
 * the two hold keys. */
static size_t our_hotkeys()
{
	return module_hotkeys().size();
}

TEST(Lifecycle, ManyCyclesLeaveNoHotkeyAndNoInstanceBehind)
{
	const int n = cycles();
	std::printf("running %d lifecycle cycles\n", n);

	/* half of the cycles share one source, the others get their own */
	obs_source_t *shared = create_pattern_source("shared source");
	ASSERT_NE(shared, nullptr);

	for (int i = 0; i < n; i++) {
		SCOPED_TRACE("cycle " + std::to_string(i));
		clear_logs(); /* the captured log would grow with every cycle */
		const bool own = i % 2 == 1;
		obs_source_t *source = own ? create_pattern_source("own source")
					   : shared;
		ASSERT_NE(source, nullptr);

		const int first_count = i % MAX_STAGES + 1;
		obs_data_t *settings = obs_data_create();
		obs_data_set_int(settings, "stage_count", first_count);
		obs_data_set_double(settings, "stage_1_zoom_factor", 3.0);
		obs_source_t *filter = create_zoom_filter("zoom", settings);
		obs_data_release(settings);
		ASSERT_NE(filter, nullptr);
		ZoomView f{filter};

		obs_source_filter_add(source, filter);
		tick(filter, 1.0f / 60.0f, 3);
		ASSERT_TRUE(f->hotkeys_registered);
		ASSERT_EQ(our_hotkeys(), size_t(first_count) + 3);

		/* a stage press and a hold, as a user would */
		press_hotkey(f->stage_keys[0].id);
		tick(filter, 1.0f / 60.0f, 10);
		EXPECT_EQ(f->active_stage, 0);
		obs_hotkey_trigger_routed_callback(f->idle_zoom_in_hotkey,
						   true);
		tick(filter, 1.0f / 60.0f, 5);
		obs_hotkey_trigger_routed_callback(f->idle_zoom_in_hotkey,
						   false);

		/* the stage list grows to eight, shrinks to one, grows again */
		set_int(filter, "stage_count", 8);
		EXPECT_EQ(our_hotkeys(), size_t(8 + 3));
		press_hotkey(f->stage_keys[7].id);
		tick(filter, 1.0f / 60.0f);
		set_int(filter, "stage_count", 1);
		EXPECT_EQ(our_hotkeys(), size_t(1 + 3));
		EXPECT_EQ(f->active_stage, -1);
		set_int(filter, "stage_count", 1 + (i * 3) % 8);
		EXPECT_EQ(our_hotkeys(), size_t(1 + (i * 3) % 8 + 3));
		tick(filter, 1.0f / 60.0f, 2);

		if (i % 4 == 3) {
			/* the source goes first and takes its hotkeys along;
			 * the filter later unregisters ids that are gone */
			obs_source_release(source);
			wait_destroyed();
			EXPECT_EQ(obs_filter_get_parent(filter), nullptr);
			tick(filter, 1.0f / 60.0f);
			obs_source_release(filter);
			wait_destroyed();
			continue;
		}

		obs_source_filter_remove(source, filter);
		tick(filter, 1.0f / 60.0f); /* a tick without a parent */
		obs_source_release(filter);
		wait_destroyed();
		ASSERT_EQ(our_hotkeys(), size_t(0));

		if (own)
			obs_source_release(source);
	}
	obs_source_release(shared);
	wait_destroyed();
}

int main(int argc, char **argv)
{
	return run_tests_in_host(argc, argv, HostOptions());
}
