/*
 * The filter against OBS's own crop_filter and scale_filter (bilinear),
 * which crop and enlarge the same window in two steps. Needs OBS's
 * obs-filters plug-in (Debian's obs-plugins package), not only libobs.
 */
#include "colour-checks.hpp"
#include "render-checks.hpp"

#include <graphics/graphics.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

constexpr uint32_t SIZE = 330;

static bool load_obs_filters()
{
#ifdef _WIN32
	const char *file = TAVIMORE_WINDOWS_HOST
		"/obs-plugins/64bit/obs-filters.dll";
	const char *data = TAVIMORE_WINDOWS_HOST
		"/data/obs-plugins/obs-filters";
#else
	const char *file =
		"/usr/lib/x86_64-linux-gnu/obs-plugins/obs-filters.so";
	const char *data = "/usr/share/obs/obs-plugins/obs-filters";
#endif
	obs_module_t *module = nullptr;
	return obs_open_module(&module, file, data) == MODULE_SUCCESS &&
	       obs_init_module(module);
}

/* A window of the picture in whole pixels. */
struct PixelWindow {
	int left, top, size;
};

static obs_source_t *add_filter(obs_source_t *parent, const char *id,
				obs_data_t *settings)
{
	obs_source_t *filter =
		obs_source_create_private(id, "compared filter", settings);
	obs_data_release(settings);
	obs_source_filter_add(parent, filter);
	return filter;
}

static obs_source_t *add_crop(obs_source_t *parent, const PixelWindow &w)
{
	obs_data_t *s = obs_data_create();
	obs_data_set_bool(s, "relative", true);
	obs_data_set_int(s, "left", w.left);
	obs_data_set_int(s, "top", w.top);
	obs_data_set_int(s, "right", int(SIZE) - w.left - w.size);
	obs_data_set_int(s, "bottom", int(SIZE) - w.top - w.size);
	return add_filter(parent, "crop_filter", s);
}

static obs_source_t *add_scale(obs_source_t *parent)
{
	obs_data_t *s = obs_data_create();
	const std::string resolution =
		std::to_string(SIZE) + "x" + std::to_string(SIZE);
	obs_data_set_string(s, "resolution", resolution.c_str());
	obs_data_set_string(s, "sampling", "bilinear");
	return add_filter(parent, "scale_filter", s);
}

static obs_source_t *add_zoom(obs_source_t *parent, const PixelWindow &w)
{
	const double zoom = double(SIZE) / w.size;
	return add_filter(parent, "tavimore_filter",
			  numbers(idle_at(zoom, (w.left + w.size / 2.0) / SIZE,
					  (w.top + w.size / 2.0) / SIZE)));
}

/* Where the picture goes before it is read back. */
enum class Setting {
	Alone,
	/* over an opaque background in a scene */
	OverAScene,
	/* followed by a crop filter that crops nothing */
	BeforeAnotherFilter,
	/* after a crop filter that crops nothing */
	AfterAnotherFilter,
};

/* The picture through OBS's crop and scale filters (`zoomed` false) or
 * through the zoom filter (`zoomed` true), in the given setting. */
static std::vector<uint8_t> draw(const Picture &picture,
				 const PixelWindow &window, bool zoomed,
				 Setting setting)
{
	std::vector<obs_source_t *> sources;
	obs_source_t *parent = create_picture_source("compared", picture);
	sources.push_back(parent);
	const PixelWindow nothing = {0, 0, int(SIZE)};
	if (setting == Setting::AfterAnotherFilter)
		sources.push_back(add_crop(parent, nothing));
	if (zoomed) {
		sources.push_back(add_zoom(parent, window));
	} else {
		sources.push_back(add_crop(parent, window));
		sources.push_back(add_scale(parent));
	}
	if (setting == Setting::BeforeAnotherFilter)
		sources.push_back(add_crop(parent, nothing));

	obs_source_t *shown = parent;
	obs_scene_t *scene = nullptr;
	obs_source_t *background = nullptr;
	if (setting == Setting::OverAScene) {
		Picture solid;
		solid.width = solid.height = SIZE;
		for (uint32_t i = 0; i < SIZE * SIZE; i++)
			solid.rgba8.insert(solid.rgba8.end(),
					   {40, 160, 90, 255});
		background = create_picture_source("background", solid);
		scene = obs_scene_create_private("compared scene");
		obs_scene_add(scene, background);
		obs_scene_add(scene, parent);
		shown = obs_scene_get_source(scene);
	}
	wait_frames(30);
	std::vector<uint8_t> pixels = render_pixels(shown, SIZE, SIZE);

	if (scene)
		obs_scene_release(scene);
	if (background)
		obs_source_release(background);
	for (size_t i = sources.size(); i-- > 1;)
		obs_source_filter_remove(parent, sources[i]);
	for (obs_source_t *source : sources)
		obs_source_release(source);
	wait_destroyed();
	return pixels;
}

/* The window's outermost input pixels, which the crop filter clamps at its
 * own edge: as many output pixels as the zoom enlarges one. */
static uint32_t ring_of(const PixelWindow &window)
{
	return uint32_t(std::ceil(double(SIZE) / window.size));
}

static ::testing::AssertionResult alike(const std::vector<uint8_t> &zoomed,
					const std::vector<uint8_t> &obs,
					double tolerance, uint32_t ring)
{
	if (obs.size() != size_t(SIZE) * SIZE * 4)
		return ::testing::AssertionFailure() << "no frame from OBS";
	return levels_near(
		zoomed, SIZE, SIZE,
		[&](uint32_t x, uint32_t y, int c) {
			return double(obs[(size_t(y) * SIZE + x) * 4 + c]);
		},
		tolerance, ring);
}

TEST(AgainstObsFilters, SharpEdgesMatchCropAndBilinearScale)
{
	const Picture picture = sharp_picture(SIZE, SIZE);
	/* zoom 2 and zoom 3.3 */
	const PixelWindow windows[] = {{40, 100, 165}, {130, 200, 100}};
	for (const PixelWindow &window : windows) {
		SCOPED_TRACE(::testing::Message()
			     << "window at (" << window.left << ", "
			     << window.top << ") size " << window.size);
		EXPECT_TRUE(alike(draw(picture, window, true, Setting::Alone),
				  draw(picture, window, false, Setting::Alone),
				  2.0, ring_of(window)));
	}
}

TEST(AgainstObsFilters, AnAlphaGradientComesOutAsThroughCropAndScale)
{
	/* the sharp picture fading from transparent on the left to opaque on
	 * the right, premultiplied as OBS's image source does */
	Picture picture = sharp_picture(SIZE, SIZE);
	for (uint32_t y = 0; y < SIZE; y++)
		for (uint32_t x = 0; x < SIZE; x++) {
			uint8_t *px = &picture.rgba8[(y * SIZE + x) * 4];
			const unsigned alpha = x * 255 / (SIZE - 1);
			for (int c = 0; c < 3; c++)
				px[c] = uint8_t((px[c] * alpha + 127) / 255);
			px[3] = uint8_t(alpha);
		}
	const PixelWindow window = {60, 90, 165};
	const struct {
		const char *name;
		Setting setting;
	} cases[] = {
		{"alone", Setting::Alone},
		{"over a scene", Setting::OverAScene},
		{"before another filter", Setting::BeforeAnotherFilter},
		{"after another filter", Setting::AfterAnotherFilter},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		EXPECT_TRUE(alike(draw(picture, window, true, c.setting),
				  draw(picture, window, false, c.setting), 1.0,
				  ring_of(window)));
	}
}

int main(int argc, char **argv)
{
	HostOptions options;
	options.video = true;
	options.width = SIZE;
	options.height = SIZE;
	options.after_start = [] {
		if (load_obs_filters())
			return true;
		std::fprintf(stderr, "cannot load OBS's obs-filters plug-in "
				     "(package obs-plugins)\n");
		return false;
	};
	return run_tests_in_host(argc, argv, options);
}
