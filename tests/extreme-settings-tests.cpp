/*
 * Every key at once with a value no property sheet writes (scripts can):
 * the window stays finite and inside the frame, the stage list valid, and
 * sane settings bring the right window back.
 */
#include "obs-harness.hpp"
#include "core/zoom-core.hpp"
#include "filter/zoom-keys.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

/* Every key the module reads, with the type of its default. */
struct Key {
	std::string name;
	char type; /* 'd'ouble, 'i'nt, 'b'ool, 's'tring */
};

std::vector<Key> every_key()
{
	std::vector<Key> keys;
	auto add = [&keys](const TargetKeys &k) {
		if (k.name[0])
			keys.push_back({k.name, 's'});
		keys.push_back({k.zoom_factor, 'd'});
		keys.push_back({k.center_tracking, 'b'});
		keys.push_back({k.center_x, 'd'});
		keys.push_back({k.center_y, 'd'});
		keys.push_back({k.duration, 'd'});
		if (k.hold[0])
			keys.push_back({k.hold, 'b'});
	};
	add(idle_keys());
	for (const char *name : {"easing_in", "easing_out", "stage_count"})
		keys.push_back({name, 'i'});
	keys.push_back({"tracking_smoothing", 'd'});
	keys.push_back({"tracking_dead_zone", 'd'});
	keys.push_back({"tracking_subject", 's'});
	keys.push_back({"help_show", 'b'});
	for (int i = 0; i < MAX_STAGES; i++)
		add(stage_keys(i));
	return keys;
}

void expect_sane(const ZoomSnapshot &f, const std::string &when)
{
	SCOPED_TRACE(when);
	ASSERT_GE(f->stages.size(), 1u);
	ASSERT_LE(f->stages.size(), size_t(MAX_STAGES));
	EXPECT_GE(f->active_stage, -1);
	EXPECT_LT(f->active_stage, int32_t(f->stages.size()));
	const CropWindow w = crop_window(f->current_zoom, f->current_center_x,
					 f->current_center_y);
	ASSERT_TRUE(std::isfinite(w.center_x) && std::isfinite(w.center_y) &&
		    std::isfinite(w.half_size));
	EXPECT_GT(w.half_size, 0.0f);
	EXPECT_LE(w.half_size, 0.5f);
	EXPECT_GE(w.center_x - w.half_size, -1e-6f);
	EXPECT_LE(w.center_x + w.half_size, 1.0f + 1e-6f);
	EXPECT_GE(w.center_y - w.half_size, -1e-6f);
	EXPECT_LE(w.center_y + w.half_size, 1.0f + 1e-6f);
}

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

/* One value for every key: a double, an integer, the string "nan", true,
 * or ('o') an extreme of each key's own type. */
struct Fill {
	const char *what;
	char type;
	double d = 0;
	int64_t i = 0;

	void set(obs_data_t *data, const Key &key) const
	{
		const char *n = key.name.c_str();
		switch (type == 'o' ? key.type : type) {
		case 'd':
			obs_data_set_double(data, n, type == 'o' ? -INF : d);
			break;
		case 'i':
			obs_data_set_int(data, n, type == 'o' ? INT64_MAX : i);
			break;
		case 'b':
			obs_data_set_bool(data, n, true);
			break;
		default:
			obs_data_set_string(data, n,
					    type == 'o' ? "%s%s%n" : "nan");
		}
	}
};

const Fill FILLS[] = {
	{"NaN", 'd', NaN},
	{"+inf", 'd', INF},
	{"-inf", 'd', -INF},
	{"1e308", 'd', 1e308},
	{"-1e308", 'd', -1e308},
	{"INT64_MIN", 'i', 0, INT64_MIN},
	{"INT64_MAX", 'i', 0, INT64_MAX},
	{"negative", 'd', -2.5},
	{"strings", 's'},
	{"bools", 'b'},
	{"own type, extreme", 'o'},
};

/* Runs a filter through its life with the given settings. */
void live_through(obs_source_t *source, obs_data_t *settings,
		  const std::string &what)
{
	obs_source_t *filter = create_zoom_filter("extreme zoom", settings);
	ASSERT_NE(filter, nullptr);
	ZoomView f{filter};
	expect_sane(f, what + ", created");
	obs_source_filter_add(source, filter);
	tick(filter, 1.0f / 60.0f);
	expect_sane(f, what + ", first tick");

	for (size_t i = 0; i < f->stages.size(); i++) {
		press_hotkey(f->stage_keys[i].id);
		tick(filter, 1.0f / 60.0f, 7);
		expect_sane(f, what + ", stage " + std::to_string(i + 1));
	}
	obs_hotkey_trigger_routed_callback(f->idle_zoom_in_hotkey, true);
	tick(filter, 1.0f / 60.0f, 20);
	obs_hotkey_trigger_routed_callback(f->idle_zoom_in_hotkey, false);
	obs_hotkey_trigger_routed_callback(f->idle_zoom_out_hotkey, true);
	tick(filter, 0.5f, 3);
	obs_hotkey_trigger_routed_callback(f->idle_zoom_out_hotkey, false);
	expect_sane(f, what + ", hold keys");

	/* back to sane settings: the idle view returns */
	obs_data_t *current = obs_source_get_settings(filter);
	for (const Key &key : every_key())
		obs_data_unset_user_value(current, key.name.c_str());
	obs_data_release(current);
	obs_data_t *changes = obs_data_create();
	obs_data_set_double(changes, "idle_zoom_factor", 2.0);
	obs_data_set_double(changes, "idle_center_x", 0.25);
	obs_data_set_double(changes, "idle_center_y", 0.75);
	update_filter(filter, changes);
	obs_data_release(changes);
	if (f->active_stage >= 0)
		press_hotkey(f->stage_keys[size_t(f->active_stage)].id);
	tick(filter, 1.0f / 60.0f, 60);
	EXPECT_EQ(f->active_stage, -1);
	EXPECT_EQ(f->current_zoom, 2.0) << what;
	/* the centre glides back from wherever it went; from a finite but
	 * absurd place (1e308) that takes a while, so only its window here */
	expect_sane(f, what + ", recovered");

	obs_source_filter_remove(source, filter);
	obs_source_release(filter);
	wait_destroyed();
}

} // namespace

TEST(ExtremeSettings, EveryKeyAtOnceWithTheSameExtremeValue)
{
	ASSERT_EQ(every_key().size(), 59u + 8u + 1u);
	obs_source_t *source = create_pattern_source("source");
	for (const Fill &fill : FILLS) {
		obs_data_t *settings = obs_data_create();
		for (const Key &key : every_key())
			fill.set(settings, key);
		live_through(source, settings, fill.what);
		obs_data_release(settings);
	}
	obs_source_release(source);
	wait_destroyed();
}

TEST(ExtremeSettings, AZoomFarAboveTheTargetRestsOnTheTargetItself)
{
	/* (1 - start) + start is 2, not 1, for start = 2^53 + 2 */
	const double start = 9007199254740994.0;
	ASSERT_EQ((1.0 - start) + start, 2.0);
	EXPECT_EQ(shown_zoom(start, 1.0, 1.0, Easing::EaseInOut), 1.0);

	obs_source_t *source = create_pattern_source("source");
	obs_data_t *settings = obs_data_create();
	obs_data_set_double(settings, "idle_zoom_factor", start);
	obs_source_t *filter = create_zoom_filter("zoom", settings);
	obs_data_release(settings);
	obs_source_filter_add(source, filter);
	ZoomView f{filter};

	obs_data_t *changes = obs_data_create();
	obs_data_set_double(changes, "idle_zoom_factor", 1.0);
	update_filter(filter, changes);
	obs_data_release(changes);
	tick(filter, 1.0f / 60.0f);
	EXPECT_EQ(f->current_zoom, 1.0);
	EXPECT_EQ(crop_window(f->current_zoom, 0.2, 0.2).half_size, 0.5f);

	remove_and_release(source, filter);
	wait_destroyed();
}

int main(int argc, char **argv)
{
	return run_tests_in_host(argc, argv, HostOptions());
}
