/*
 * The filter's tick and render allocate nothing, counted on libobs's
 * graphics thread; the OpenGL driver's own allocations in its draw calls
 * (llvmpipe allocates in every draw, whoever draws) are only reported.
 */
#include "alloc-counter.hpp"
#include "obs-harness.hpp"

#include <graphics/graphics.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <type_traits>

/* last: X's headers define None and friends as macros */
#include <X11/extensions/XTest.h>

namespace {

constexpr int FRAMES = 240;
constexpr float FRAME_TIME = 1.0f / 60.0f;
constexpr uint32_t SIZE = 256;

void tick_frames(obs_source_t *filter, int frames)
{
	for (int i = 0; i < frames; i++)
		zoom_filter_info().video_tick(obs_obj_get_data(filter),
					      FRAME_TIME);
}

void render_frames(obs_source_t *filter, int frames)
{
	for (int i = 0; i < frames; i++)
		zoom_filter_info().video_render(obs_obj_get_data(filter),
						nullptr);
}

/* Counts the allocations of FRAMES ticks on the graphics thread. */
AllocationCount counted_ticks(obs_source_t *filter)
{
	AllocationCount count;
	on_graphics_thread([&] {
		count = count_allocations([&] { tick_frames(filter, FRAMES); });
	});
	return count;
}

/* A test pattern with a zoom filter on it, ticked by libobs until its
 * hotkeys are registered. */
class PerFrame : public ::testing::Test {
protected:
	void SetUp() override
	{
		if (!allocation_counting_available())
			GTEST_SKIP() << "a sanitizer owns malloc here";
		static int made = 0;
		const std::string name = "pattern " + std::to_string(++made);
		parent = create_pattern_source(name.c_str(), SIZE, SIZE);
		obs_data_t *settings = obs_data_create_from_json(
			R"({"idle_zoom_factor": 2.0, "stage_count": 8,
			    "stage_1_zoom_factor": 4.0, "stage_1_center_x": 0.2,
			    "stage_1_center_y": 0.7, "stage_1_duration": 100.0,
			    "stage_1_easing": "custom",
			    "stage_1_bezier": "0.42, 0, 0.58, 1"})");
		filter = create_zoom_filter("zoom", settings);
		obs_data_release(settings);
		obs_source_filter_add(parent, filter);
		wait_frames(3);
		ASSERT_TRUE(snapshot_of(filter)->hotkeys_registered);
	}

	void TearDown() override
	{
		if (!parent)
			return;
		remove_and_release(parent, filter);
		wait_destroyed();
	}

	/* Applies the settings, then waits up to `frames` frames for `ready`
	 * of the filter's snapshot. */
	bool switch_to(const char *json,
		       const std::function<bool(const ZoomSnapshot &)> &ready,
		       int frames = 100)
	{
		obs_data_t *changes = obs_data_create_from_json(json);
		obs_source_update(filter, changes);
		obs_data_release(changes);
		for (int i = 0; i < frames; i++) {
			wait_frames(1);
			if (ready(graphics_snapshot(filter)))
				return true;
		}
		return false;
	}

	obs_source_t *parent = nullptr;
	obs_source_t *filter = nullptr;
};

::testing::AssertionResult allocates_nothing(const AllocationCount &count)
{
	if (count.allocations == 0 && count.frees == 0)
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure()
	       << count.allocations << " allocations (" << count.news
	       << " through operator new) and " << count.frees << " frees";
}

/* Reads back the render target's top-left pixel. */
bool top_left_pixel(gs_texrender_t *target, uint8_t rgba[4])
{
	gs_stagesurf_t *stage = gs_stagesurface_create(SIZE, SIZE, GS_RGBA);
	gs_stage_texture(stage, gs_texrender_get_texture(target));
	uint8_t *data = nullptr;
	uint32_t linesize = 0;
	const bool mapped = gs_stagesurface_map(stage, &data, &linesize);
	if (mapped) {
		for (int i = 0; i < 4; i++)
			rgba[i] = data[i];
		gs_stagesurface_unmap(stage);
	}
	gs_stagesurface_destroy(stage);
	return mapped;
}

} // namespace

TEST(AllocationCounter, SeesTheModulesOwnAndLibobsAllocations)
{
	if (!allocation_counting_available())
		GTEST_SKIP() << "a sanitizer owns malloc here";
	/* The first tick of a filter on a parent queues the work that
	 * registers its hotkeys, on libobs's destruction task thread: there
	 * the module's own std::string and make_unique (operator new) and
	 * libobs's hotkey records (bmalloc, malloc) must all be seen. */
	obs_source_t *parent = create_pattern_source("counter check");
	obs_source_t *filter = create_zoom_filter("zoom", nullptr);
	AllocationCount first;
	AllocationCount second;
	on_graphics_thread([&] {
		/* no tick of libobs can come between these; the counting
		 * starts and stops on the destruction thread around the work */
		obs_source_filter_add(parent, filter);
		obs_queue_task(
			OBS_TASK_DESTROY,
			[](void *) { start_counting_allocations(); }, nullptr,
			false);
		tick_frames(filter, 1);
		second = count_allocations([&] { tick_frames(filter, 1); });
	});
	obs_queue_task(
		OBS_TASK_DESTROY,
		[](void *data) {
			*static_cast<AllocationCount *>(data) =
				stop_counting_allocations();
		},
		&first, true);
	EXPECT_TRUE(snapshot_of(filter)->hotkeys_registered);
	EXPECT_GT(first.news, 0);
	EXPECT_GT(first.allocations, first.news);
	EXPECT_TRUE(allocates_nothing(second));

	remove_and_release(parent, filter);
	wait_destroyed();
}

TEST_F(PerFrame, TickAllocatesNothingAtRestInTransitionAndWhileHolding)
{
	ZoomView zoom{filter};

	EXPECT_TRUE(allocates_nothing(counted_ticks(filter)));
	EXPECT_EQ(zoom->current_zoom, 2.0);

	/* stage 1 takes 100 seconds: every counted tick is mid-transition */
	const obs_hotkey_id stage_1 = find_hotkey(parent, "tavimore.stage_1");
	ASSERT_NE(stage_1, OBS_INVALID_HOTKEY_ID);
	press_hotkey(stage_1);
	AllocationCount moving;
	double zoom_before = 0.0;
	double zoom_after = 0.0;
	on_graphics_thread([&] {
		zoom_before = zoom->current_zoom;
		moving =
			count_allocations([&] { tick_frames(filter, FRAMES); });
		zoom_after = zoom->current_zoom;
	});
	EXPECT_TRUE(allocates_nothing(moving));
	EXPECT_EQ(zoom->active_stage, 0);
	EXPECT_GT(zoom_after, zoom_before);
	EXPECT_LT(zoom_after, 4.0);
	press_hotkey(stage_1);

	/* both hold keys down at once */
	const obs_hotkey_id zoom_in =
		find_hotkey(parent, "tavimore.idle_zoom_in");
	const obs_hotkey_id zoom_out =
		find_hotkey(parent, "tavimore.idle_zoom_out");
	ASSERT_NE(zoom_in, OBS_INVALID_HOTKEY_ID);
	ASSERT_NE(zoom_out, OBS_INVALID_HOTKEY_ID);
	press_hotkey(zoom_in, false);
	press_hotkey(zoom_out, false);
	const AllocationCount holding = counted_ticks(filter);
	EXPECT_TRUE(zoom->zoom_in_held);
	EXPECT_TRUE(zoom->zoom_out_held);
	obs_hotkey_trigger_routed_callback(zoom_in, false);
	obs_hotkey_trigger_routed_callback(zoom_out, false);
	EXPECT_TRUE(allocates_nothing(holding));
}

TEST_F(PerFrame, TickAllocatesNothingWhileFollowingThePointer)
{
	/* the sampler starts, reads the pointer, and the view follows it;
	 * the counted frames include looks at what the parent shows */
	ASSERT_TRUE(switch_to(
		R"({"idle_center_tracking": true, "tracking_dead_zone": 0.0,
		    "tracking_subject": "pointer"})",
		&ZoomSnapshot::tracking_shown));
	EXPECT_TRUE(allocates_nothing(counted_ticks(filter)));
	EXPECT_TRUE(graphics_snapshot(filter).tracking_shown);
}

TEST_F(PerFrame, TickAllocatesNothingWhileZoomingOnAClick)
{
	ASSERT_TRUE(switch_to(R"({"auto_zoom": 1, "auto_zoom_linger": 0.5})",
			      &ZoomSnapshot::auto_seen));
	/* a real click, read by the first counted tick: the view zooms in,
	 * follows the pointer and, half a second later, eases back */
	Display *d = XOpenDisplay(nullptr);
	ASSERT_NE(d, nullptr);
	XTestFakeButtonEvent(d, 1, True, 0);
	XTestFakeButtonEvent(d, 1, False, 0);
	XSync(d, False);
	XCloseDisplay(d);
	wait_frames(9);
	AllocationCount click, after;
	on_graphics_thread([&] {
		click = count_allocations([&] { tick_frames(filter, 1); });
		EXPECT_TRUE(snapshot_of(filter).automatic);
		after = count_allocations([&] { tick_frames(filter, FRAMES); });
	});
	EXPECT_TRUE(allocates_nothing(click));
	EXPECT_TRUE(allocates_nothing(after));
	EXPECT_EQ(snapshot_of(filter)->active_stage, -1);
}

/* Counts the allocations of libobs's graphics thread over `frames` real
 * frames, ticks and renders together. */
AllocationCount counted_frames(int frames)
{
	obs_queue_task(
		OBS_TASK_GRAPHICS, [](void *) { start_counting_allocations(); },
		nullptr, false);
	wait_frames(frames);
	AllocationCount count;
	on_graphics_thread([&] { count = stop_counting_allocations(); });
	return count;
}

TEST_F(PerFrame, FramesAllocateNothingWhileFollowingAFace)
{
	/* the parent drawn every frame, as a shown source is */
	obs_set_output_source(0, parent);
	wait_frames(5);
	const AllocationCount still = counted_frames(120);

	/* the tracker draws the parent small once a second (it finds no face
	 * in the pattern), reads it back and hands it to its thread */
	ASSERT_TRUE(switch_to(
		R"({"idle_center_tracking": true, "tracking_subject": "face"})",
		[](const ZoomSnapshot &s) { return s.sighting.looks >= 2; },
		300));
	const uint64_t read_before = graphics_snapshot(filter).face_readbacks;
	const AllocationCount following = counted_frames(150);
	const uint64_t read_after = graphics_snapshot(filter).face_readbacks;
	obs_set_output_source(0, nullptr);

	/* libobs's own frames allocate nothing either: any count would be
	 * the tracker's */
	EXPECT_TRUE(allocates_nothing(still));
	EXPECT_TRUE(allocates_nothing(following));
	EXPECT_GE(read_after, read_before + 1);
	std::printf("following a face: %.2f driver allocations a frame, "
		    "%llu read-backs in the counted frames\n",
		    double(following.driver_allocations) / 150,
		    (unsigned long long)(read_after - read_before));
}

TEST_F(PerFrame, StagePressAllocatesNothing)
{
	const obs_hotkey_id stage_3 = find_hotkey(parent, "tavimore.stage_3");
	ASSERT_NE(stage_3, OBS_INVALID_HOTKEY_ID);
	press_hotkey(stage_3);
	press_hotkey(stage_3);
	const AllocationCount presses = count_allocations([&] {
		for (int i = 0; i < FRAMES; i++)
			press_hotkey(stage_3);
	});
	EXPECT_TRUE(allocates_nothing(presses));
	EXPECT_EQ(snapshot_of(filter)->active_stage, -1);
}

TEST_F(PerFrame,
       RenderAllocatesNothingOnTheSourceBehindAFilterAndPassingThrough)
{
	/* the first zoom filter draws the source, a second one in front of
	 * it draws the first one's output; each through a texture of its
	 * own */
	obs_source_t *outer = create_zoom_filter("outer", nullptr);
	obs_source_filter_add(parent, outer);
	obs_source_t *bare = create_pattern_source("bare", SIZE, SIZE);
	/* an sRGB-aware source, which draws itself straight into the
	 * filter's output */
	Picture grey;
	grey.width = grey.height = SIZE;
	grey.rgba8.assign(size_t(SIZE) * SIZE * 4, 128);
	obs_source_t *picture = create_picture_source("picture", grey);
	obs_data_t *zoom_2 = obs_data_create_from_json(
		R"({"idle_zoom_factor": 2.0, "tracking_smoothing": 0.0})");
	obs_source_t *picture_zoom = create_zoom_filter("picture zoom", zoom_2);
	obs_data_release(zoom_2);
	obs_source_filter_add(picture, picture_zoom);
	wait_frames(3);

	AllocationCount direct;
	AllocationCount chained;
	AllocationCount passing;
	AllocationCount unfiltered;
	AllocationCount straight;
	AllocationCount alone;
	uint8_t pixel[4] = {};
	bool read = false;
	on_graphics_thread([&] {
		obs_enter_graphics();
		gs_texrender_t *target =
			gs_texrender_create(GS_RGBA, GS_ZS_NONE);
		gs_texrender_begin(target, SIZE, SIZE);
		gs_ortho(0.0f, float(SIZE), 0.0f, float(SIZE), -100.0f, 100.0f);

		/* the first frames may make libobs's own render targets */
		render_frames(filter, 3);
		render_frames(outer, 3);
		for (int i = 0; i < 3; i++)
			obs_source_video_render(bare);
		unfiltered = count_allocations([&] {
			for (int i = 0; i < FRAMES; i++)
				obs_source_video_render(bare);
		});
		direct = count_allocations(
			[&] { render_frames(filter, FRAMES); });
		chained = count_allocations(
			[&] { render_frames(outer, FRAMES); });
		for (int i = 0; i < 3; i++)
			obs_source_video_render(picture);
		straight = count_allocations([&] {
			for (int i = 0; i < FRAMES; i++)
				obs_source_video_render(picture);
		});
		/* the filter drawn on its own, outside the picture's chain,
		 * whose drawing runs the chain again */
		alone = count_allocations(
			[&] { render_frames(picture_zoom, FRAMES); });

		gs_effect_t *effect = swap_effect(filter, nullptr);
		render_frames(filter, 3);
		passing = count_allocations(
			[&] { render_frames(filter, FRAMES); });
		swap_effect(filter, effect);

		/* what the counted frames drew: zoom 2 on the centre */
		vec4 clear;
		vec4_zero(&clear);
		gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
		render_frames(filter, 1);
		gs_texrender_end(target);
		read = top_left_pixel(target, pixel);
		gs_texrender_destroy(target);
		obs_leave_graphics();
	});

	EXPECT_TRUE(allocates_nothing(direct));
	EXPECT_TRUE(allocates_nothing(chained));
	EXPECT_TRUE(allocates_nothing(passing));
	EXPECT_TRUE(allocates_nothing(straight));
	EXPECT_TRUE(allocates_nothing(alone));
	/* it went straight: the filter made no texture */
	EXPECT_FALSE(graphics_snapshot(picture_zoom).input);
	for (const auto &[what, count] :
	     {std::pair{"source drawn without a filter", unfiltered},
	      {"filter on the source", direct},
	      {"filter on another filter", chained},
	      {"filter on an sRGB-aware source, drawn straight", straight},
	      {"filter passing through", passing}})
		std::printf("%s: %.2f driver allocations and %.2f driver frees "
			    "per frame\n",
			    what, double(count.driver_allocations) / FRAMES,
			    double(count.driver_frees) / FRAMES);
	ASSERT_TRUE(read);
	EXPECT_NEAR(pixel[0], 64, 2);
	EXPECT_NEAR(pixel[1], 64, 2);

	obs_source_filter_remove(parent, outer);
	obs_source_release(outer);
	obs_source_release(bare);
	remove_and_release(picture, picture_zoom);
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	options.width = SIZE;
	options.height = SIZE;
	return run_tests_in_host(argc, argv, options);
}
