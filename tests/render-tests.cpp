/*
 * The filter drawn by the real libobs-opengl: the pattern source with the
 * zoom filter attached is rendered and read back, and its colours tell which
 * window of the input reached the output.
 */
#ifdef _WIN32
/* before libobs, whose SSE names from SIMDe must not meet the compiler's
 * own intrinsics */
#include <windows.h>
#endif

#include "render-checks.hpp"

#include <gtest/gtest.h>
#include <obs.hpp>

#ifndef _WIN32
#include <link.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

/* Frames after which a change has fully shown with smoothing 0 (tau 0.02 s)
 * and instant transitions. */
constexpr int SETTLE_FRAMES = 40;

static void settle()
{
	wait_frames(SETTLE_FRAMES);
}

/* Lets a change settle while checking that every frame on the way shows
 * some window of the input. */
static void settle_watching(const Rig &rig)
{
	for (int i = 0; i < SETTLE_FRAMES / 2; i++) {
		EXPECT_TRUE(shows_some_window(rig.frame())) << "frame " << i;
		wait_frames(2);
	}
}

TEST(Render, EffectCompilesOnOpenGL)
{
	clear_logs();
	Rig rig({{"idle_zoom_factor", 2.0}});
	ASSERT_NE(obs_obj_get_data(rig.filter), nullptr);
	EXPECT_TRUE(snapshot_of(rig.filter)->effect);
	EXPECT_TRUE(snapshot_of(rig.filter)->center_param);
	EXPECT_TRUE(snapshot_of(rig.filter)->half_size_param);
	EXPECT_TRUE(logs_containing("zoom-crop.effect").empty());
}

#ifdef _WIN32
/* The folder of the loaded DLL of that name. */
static std::string folder_of_loaded(const char *name)
{
	char path[MAX_PATH];
	HMODULE module = GetModuleHandleA(name);
	const DWORD n = module ? GetModuleFileNameA(module, path, MAX_PATH) : 0;
	const std::string file(path, n);
	const size_t slash = file.find_last_of("\\/");
	return slash == std::string::npos ? std::string()
					  : file.substr(0, slash);
}

/* The Windows build uses older headers than the libobs it runs in, on
 * purpose: it loads in every OBS from the headers' version on. */
TEST(Render, RunsInALibobsNoOlderThanItsHeadersWithTheGraphicsModuleBesideIt)
{
	EXPECT_GE(obs_get_version(), uint32_t(LIBOBS_API_VER))
		<< "running libobs " << obs_get_version_string();
	const std::string libobs = folder_of_loaded("obs.dll");
	EXPECT_FALSE(libobs.empty());
	EXPECT_EQ(folder_of_loaded(
			  (std::string(graphics_module()) + ".dll").c_str()),
		  libobs);
}
#else
/* The folder of the loaded library whose file name begins with `name`. */
static std::string folder_of_loaded(const char *name)
{
	struct Search {
		const char *name;
		std::string folder;
	} search{name, {}};
	dl_iterate_phdr(
		[](dl_phdr_info *info, size_t, void *data) {
			auto *s = static_cast<Search *>(data);
			const char *slash = std::strrchr(info->dlpi_name, '/');
			if (!slash || std::strncmp(slash + 1, s->name,
						   std::strlen(s->name)))
				return 0;
			s->folder.assign(info->dlpi_name, slash);
			return 1;
		},
		&search);
	return search.folder;
}

/* A libobs and a graphics module of two different OBS builds fail or draw
 * wrongly; so does a libobs of another version than the headers. */
TEST(Render, RunsInTheLibobsOfItsHeadersWithTheGraphicsModuleBesideIt)
{
	EXPECT_EQ(obs_get_version(), uint32_t(LIBOBS_API_VER))
		<< "running libobs " << obs_get_version_string();
	const std::string libobs = folder_of_loaded("libobs.so");
	EXPECT_FALSE(libobs.empty());
	EXPECT_EQ(folder_of_loaded("libobs-opengl.so"), libobs);
}
#endif

TEST(Render, ShowsTheCropWindowAtTheZoomAndCentreAtTheInputsSizeFrameAfterFrame)
{
	const struct {
		double zoom, center_x, center_y;
		Window window;
		uint32_t width = 256, height = 256;
	} cases[] = {
		/* the bottom-left quarter at twice its size */
		{2.0, 0.1, 0.9, {0.0, 0.5, 0.5, 0.5}},
		/* a zoom of 1, or below 1, shows the whole frame */
		{1.0, 0.1, 0.9, WHOLE_FRAME},
		{0.8, 0.3, 0.7, WHOLE_FRAME},
		/* the centre clamped to the bottom edge */
		{4.0, 0.5, 1.0, {0.375, 0.75, 0.25, 0.25}},
		/* a centre far outside the frame: the top-right corner */
		{5.0, 7.0, -3.0, {0.8, 0.0, 0.2, 0.2}},
		{1.5, 0.5, 0.5, {1.0 / 6, 1.0 / 6, 2.0 / 3, 2.0 / 3}},
		/* a wide input keeps its aspect, enlarged, not distorted */
		{2.0, 0.1, 0.9, {0.0, 0.5, 0.5, 0.5}, 320, 180},
		/* 16 levels apart: each input pixel spans four output pixels,
		 * which linear filtering blends */
		{4.0, 0.5, 0.0, crop_of(4.0, 0.5, 0.0), 16, 16},
		{3.0, 0.3, 0.6, crop_of(3.0, 0.3, 0.6)},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(::testing::Message()
			     << "zoom " << c.zoom << " centre (" << c.center_x
			     << ", " << c.center_y << ") input " << c.width
			     << " x " << c.height);
		Rig rig(idle_at(c.zoom, c.center_x, c.center_y), c.width,
			c.height);
		settle();
		EXPECT_EQ(obs_source_get_width(rig.filter), c.width);
		EXPECT_EQ(obs_source_get_height(rig.filter), c.height);
		/* every frame between two ticks shows the same window */
		for (int i = 0; i < 5; i++)
			EXPECT_TRUE(shows_window(rig.frame(), c.window))
				<< "frame " << i;
	}
}

TEST(Render, TheCentreGlidesToANewIdleCentre)
{
	/* tau = 0.95 * 0.5 + 0.02 s: the glide lasts about two seconds */
	Rig rig(idle_at(2.0, 0.25, 0.25));
	settle();
	ASSERT_TRUE(shows_window(rig.frame(), crop_of(2.0, 0.25, 0.25)));

	rig.update({{"idle_center_x", 0.75},
		    {"idle_center_y", 0.7},
		    {"tracking_smoothing", 0.95}});
	std::vector<Measured> seen;
	for (int i = 0; i < 400; i++) {
		const Measured m = measure_window(rig.frame());
		seen.push_back(m);
		if (m.center_x > 0.749 && m.center_y > 0.699)
			break;
		wait_frames(2);
	}

	/* monotonic in both axes, with intermediate positions on the way */
	const double noise = 1.0 / 256;
	int between = 0;
	for (size_t i = 0; i < seen.size(); i++) {
		const Measured &m = seen[i];
		EXPECT_NEAR(m.half_size, 0.25, 2 * noise) << "frame " << i;
		if (i > 0) {
			EXPECT_GE(m.center_x, seen[i - 1].center_x - noise)
				<< "frame " << i;
			EXPECT_GE(m.center_y, seen[i - 1].center_y - noise)
				<< "frame " << i;
		}
		if (m.center_x > 0.27 && m.center_x < 0.73)
			between++;
	}
	EXPECT_GE(between, 3) << "the centre jumped instead of gliding";
	ASSERT_FALSE(seen.empty());
	EXPECT_NEAR(seen.back().center_x, 0.75, 2 * noise);
	EXPECT_NEAR(seen.back().center_y, 0.7, 2 * noise);
	EXPECT_TRUE(shows_window(rig.frame(), crop_of(2.0, 0.75, 0.7)));
}

/* A stage easing in over its duration: hotkey-render-tests. */

/* ---- a filter drawn on its own --------------------------------------- */

TEST(Render, AFilterWithoutParentOrTakenOffItsSourceDrawsNothing)
{
	obs_source_t *filter =
		zoom_filter_with("lonely zoom", {{"idle_zoom_factor", 2.0}});
	wait_frames(2);
	ASSERT_TRUE(snapshot_of(filter)->effect);
	EXPECT_TRUE(all_zero(read_frame(filter, 64, 64)));

	obs_source_t *parent = create_pattern_source("former parent");
	obs_source_filter_add(parent, filter);
	wait_frames(3);
	obs_source_filter_remove(parent, filter);
	wait_frames(2);
	EXPECT_TRUE(all_zero(read_frame(filter, 64, 64)));
	/* the source draws unfiltered again */
	EXPECT_TRUE(shows_window(read_frame(parent, 256, 256), WHOLE_FRAME));
	obs_source_release(filter);
	obs_source_release(parent);
	wait_destroyed();
}

/* ---- values the property sheet never writes ---------------------------- */

static const double NOT_FINITE[] = {
	std::numeric_limits<double>::quiet_NaN(),
	std::numeric_limits<double>::infinity(),
	-std::numeric_limits<double>::infinity(),
};

using Settings = Numbers;

/* With `bad` every frame shows some window and then `fallback`; `frames`
 * after the values are corrected the frame shows `fixed_window`. */
static void expect_bad_then_fixed(const Rig &rig, Settings bad,
				  const Window &fallback, Settings fixed,
				  const Window &fixed_window, int frames)
{
	rig.update(bad);
	settle_watching(rig);
	EXPECT_TRUE(shows_window(rig.frame(), fallback));
	rig.update(fixed);
	wait_frames(frames);
	EXPECT_TRUE(shows_window(rig.frame(), fixed_window));
}

TEST(Render, NonFiniteIdleValuesShowTheWholeFrameOrTheMiddleAndRecover)
{
	for (double bad : NOT_FINITE) {
		SCOPED_TRACE(::testing::Message() << "value " << bad);
		Rig rig(idle_at(2.0, 0.5, 0.9));
		settle();
		/* the zoom shows right again one tick after its correction */
		expect_bad_then_fixed(rig, {{"idle_zoom_factor", bad}},
				      WHOLE_FRAME, {{"idle_zoom_factor", 2.0}},
				      crop_of(2.0, 0.5, 0.9), 3);
		/* x at the middle; y, still finite, where it was */
		expect_bad_then_fixed(rig, {{"idle_center_x", bad}},
				      crop_of(2.0, 0.5, 0.9),
				      {{"idle_center_x", 0.1}},
				      crop_of(2.0, 0.1, 0.9), SETTLE_FRAMES);
	}
}

TEST(Render, NonFiniteStageValuesNeverReachTheFrame)
{
	Rig rig({{"idle_zoom_factor", 1.0},
		 {"stage_1_zoom_factor", 4.0},
		 {"stage_1_center_x", 0.5},
		 {"stage_1_center_y", 0.5},
		 {"stage_1_duration", 0.0},
		 {"tracking_smoothing", 0.0}});
	settle();
	const obs_hotkey_id stage = find_hotkey(rig.parent, "tavimore.stage_1");
	ASSERT_NE(stage, OBS_INVALID_HOTKEY_ID);
	press_hotkey(stage);
	settle();
	ASSERT_TRUE(shows_window(rig.frame(), crop_of(4.0, 0.5, 0.5)));

	for (double bad : NOT_FINITE) {
		SCOPED_TRACE(::testing::Message() << "stage value " << bad);
		expect_bad_then_fixed(rig, {{"stage_1_zoom_factor", bad}},
				      WHOLE_FRAME,
				      {{"stage_1_zoom_factor", 4.0}},
				      crop_of(4.0, 0.5, 0.5), 3);
		expect_bad_then_fixed(
			rig,
			{{"stage_1_center_x", bad}, {"stage_1_center_y", bad}},
			crop_of(4.0, 0.5, 0.5),
			{{"stage_1_center_x", 0.2}, {"stage_1_center_y", 0.7}},
			crop_of(4.0, 0.2, 0.7), SETTLE_FRAMES);
		rig.update(
			{{"stage_1_center_x", 0.5}, {"stage_1_center_y", 0.5}});
		settle();
	}
}

TEST(Render, ATransitionStartedWhileTheZoomIsNotFiniteStartsFromTheWholeFrame)
{
	/* the stage hotkey starts from the shown zoom; it must be a number */
	Rig rig({{"idle_zoom_factor", std::nan("")},
		 {"stage_1_zoom_factor", 3.0},
		 {"stage_1_center_x", 0.5},
		 {"stage_1_center_y", 0.5},
		 {"stage_1_duration", 0.05},
		 {"idle_duration", 0.05},
		 {"tracking_smoothing", 0.0}});
	settle();
	EXPECT_TRUE(shows_window(rig.frame(), WHOLE_FRAME));
	const obs_hotkey_id stage = find_hotkey(rig.parent, "tavimore.stage_1");
	ASSERT_NE(stage, OBS_INVALID_HOTKEY_ID);
	press_hotkey(stage);
	settle();
	EXPECT_TRUE(shows_window(rig.frame(), crop_of(3.0, 0.5, 0.5)));
	/* and back to the idle target, whose zoom is corrected meanwhile */
	rig.update({{"idle_zoom_factor", 2.0}, {"idle_center_x", 0.9}});
	press_hotkey(stage);
	settle();
	EXPECT_TRUE(shows_window(rig.frame(), crop_of(2.0, 0.9, 0.5)));
}

TEST(Render, AnOvershootingCurveNeverShowsMoreThanTheSource)
{
	/* a stage in the corner, a little closer than the whole frame: the
	 * curve dips below its start on the way in and past its end on the
	 * way out, both times below a zoom of 1 */
	Rig rig({{"idle_zoom_factor", 1.0},
		 {"stage_1_zoom_factor", 1.5},
		 {"stage_1_center_x", 1.0},
		 {"stage_1_center_y", 0.0},
		 {"stage_1_duration", 0.5},
		 {"idle_duration", 0.5},
		 {"tracking_smoothing", 0.0}});
	OBSDataAutoRelease curves = obs_data_create_from_json(
		R"({"stage_1_easing": "custom", "idle_easing": "custom",
		    "stage_1_bezier": "0.3, -1, 0.7, 2",
		    "idle_bezier": "0.3, -1, 0.7, 2"})");
	/* the hotkey work that the new filter's first frames queue reads its
	 * settings: done first */
	wait_frames(2);
	on_graphics_thread([&] { obs_source_update(rig.filter, curves); });
	settle();
	const obs_hotkey_id stage = find_hotkey(rig.parent, "tavimore.stage_1");
	ASSERT_NE(stage, OBS_INVALID_HOTKEY_ID);
	for (int way = 0; way < 2; way++) {
		SCOPED_TRACE(way == 0 ? "to the stage" : "back to idle");
		press_hotkey(stage);
		double lowest = 5.0, highest = 0.0;
		for (int i = 0; i < 40; i++) {
			EXPECT_TRUE(shows_some_window(rig.frame())) << i;
			const double zoom =
				graphics_snapshot(rig.filter).current_zoom;
			lowest = std::min(lowest, zoom);
			highest = std::max(highest, zoom);
			wait_frames(1);
		}
		EXPECT_EQ(lowest, 1.0);
		/* the overshoot itself shows, past the closer end */
		EXPECT_GT(highest, 1.55);
		settle();
	}
	EXPECT_TRUE(shows_window(rig.frame(), WHOLE_FRAME));
}

/*
 * A source that draws like OBS's PipeWire capture: its picture as a
 * sub-region of a larger texture (a window cropped out of the screen), and
 * the cursor as a sprite of its own on top.
 */
namespace {

constexpr uint32_t SPRITES_SIZE = 128;
constexpr uint32_t CURSOR_AT = 16, CURSOR_SIZE = 8;

struct Sprites {
	gs_texture_t *screen = nullptr;
	gs_texture_t *cursor = nullptr;
};

void register_sprites_source()
{
	obs_source_info info = {};
	info.id = "tavimore_test_sprites";
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_VIDEO;
	info.get_name = [](void *) {
		return "Sprites";
	};
	info.create = [](obs_data_t *, obs_source_t *) -> void * {
		auto *s = new Sprites();
		/* the screen: red = x, green = y over 256 pixels */
		std::vector<uint8_t> screen(256 * 256 * 4);
		for (uint32_t i = 0; i < 256 * 256; i++) {
			screen[i * 4] = uint8_t(i % 256);
			screen[i * 4 + 1] = uint8_t(i / 256);
			screen[i * 4 + 2] = 64;
			screen[i * 4 + 3] = 255;
		}
		std::vector<uint8_t> cursor(CURSOR_SIZE * CURSOR_SIZE * 4, 255);
		const uint8_t *screen_planes[] = {screen.data()};
		const uint8_t *cursor_planes[] = {cursor.data()};
		obs_enter_graphics();
		s->screen = gs_texture_create(256, 256, GS_RGBA, 1,
					      screen_planes, 0);
		s->cursor = gs_texture_create(CURSOR_SIZE, CURSOR_SIZE, GS_RGBA,
					      1, cursor_planes, 0);
		obs_leave_graphics();
		return s;
	};
	info.destroy = [](void *data) {
		auto *s = static_cast<Sprites *>(data);
		obs_enter_graphics();
		gs_texture_destroy(s->screen);
		gs_texture_destroy(s->cursor);
		obs_leave_graphics();
		delete s;
	};
	info.video_render = [](void *data, gs_effect_t *effect) {
		auto *s = static_cast<Sprites *>(data);
		gs_eparam_t *image =
			gs_effect_get_param_by_name(effect, "image");
		gs_effect_set_texture(image, s->screen);
		gs_draw_sprite_subregion(s->screen, 0, 64, 64, SPRITES_SIZE,
					 SPRITES_SIZE);
		gs_matrix_push();
		gs_matrix_translate3f(float(CURSOR_AT), float(CURSOR_AT), 0.0f);
		gs_effect_set_texture(image, s->cursor);
		gs_draw_sprite(s->cursor, 0, CURSOR_SIZE, CURSOR_SIZE);
		gs_matrix_pop();
	};
	info.get_width = [](void *) {
		return SPRITES_SIZE;
	};
	info.get_height = [](void *) {
		return SPRITES_SIZE;
	};
	obs_register_source(&info);
}

} // namespace

TEST(Render, EverySpriteOfTheSourceIsZoomedTheCursorIncluded)
{
	register_sprites_source();
	obs_source_t *source = obs_source_create("tavimore_test_sprites",
						 "sprites", nullptr, nullptr);
	const Frame plain = read_frame(source, SPRITES_SIZE, SPRITES_SIZE);
	ASSERT_EQ(plain.at(CURSOR_AT + 4, CURSOR_AT + 4)[2], 255)
		<< "the cursor is not drawn";

	/* twice the top-left quarter: output (x, y) shows (x / 2, y / 2) */
	obs_source_t *filter =
		zoom_filter_with("sprite zoom", idle_at(2.0, 0.25, 0.25));
	obs_source_filter_add(source, filter);
	settle();
	const Frame zoomed = read_frame(source, SPRITES_SIZE, SPRITES_SIZE);

	/* pixels near the zoomed cursor's edges blend both and are skipped */
	auto near_edge = [](uint32_t v) {
		const uint32_t a = 2 * CURSOR_AT,
			       b = 2 * (CURSOR_AT + CURSOR_SIZE);
		return (v + 2 >= a && v <= a + 2) || (v + 2 >= b && v <= b + 2);
	};
	size_t wrong = 0;
	std::string first;
	for (uint32_t y = 0; y < SPRITES_SIZE; y++)
		for (uint32_t x = 0; x < SPRITES_SIZE; x++) {
			if (near_edge(x) || near_edge(y))
				continue;
			const uint8_t *want = plain.at(x / 2, y / 2);
			const uint8_t *got = zoomed.at(x, y);
			bool same = true;
			for (int c = 0; c < 4; c++)
				same = same && std::abs(got[c] - want[c]) <= 3;
			if (!same && wrong++ == 0)
				first = "(" + std::to_string(x) + ", " +
					std::to_string(y) + ") is " +
					std::to_string(got[0]) + "/" +
					std::to_string(got[1]) + "/" +
					std::to_string(got[2]) + ", wanted " +
					std::to_string(want[0]) + "/" +
					std::to_string(want[1]) + "/" +
					std::to_string(want[2]);
		}
	EXPECT_EQ(wrong, 0u) << "first: " << first;
	/* the cursor's middle, at its zoomed place, is the cursor's white */
	EXPECT_EQ(zoomed.at(2 * CURSOR_AT + 8, 2 * CURSOR_AT + 8)[2], 255);

	remove_and_release(source, filter);
	wait_destroyed();
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	options.width = 256;
	options.height = 256;
	return run_tests_in_host(argc, argv, options);
}
