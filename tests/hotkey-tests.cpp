/*
 * Stage and idle hotkeys against libobs's own hotkey system (no video: the
 * tests tick the filter and run its update themselves).
 */
#include "obs-harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

const char *locale_text(const char *key)
{
	const char *text = nullptr;
	if (!obs_module_get_locale_string(loaded_module(), key, &text))
		return key;
	return text;
}

obs_source_t *zoom_with_stages(const char *name, int stage_count)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, "stage_count", stage_count);
	obs_source_t *filter = create_zoom_filter(name, settings);
	obs_data_release(settings);
	return filter;
}

const float FRAME = 1.0f / 60;

/* A pattern source with one zoom filter attached; more filters can join. */
struct Attached {
	obs_source_t *parent;
	std::vector<obs_source_t *> filters;

	explicit Attached(int stage_count,
			  obs_source_t *parent_source = nullptr)
		: parent(parent_source ? parent_source
				       : create_pattern_source("hotkey parent"))
	{
		add(stage_count);
	}
	~Attached()
	{
		for (obs_source_t *filter : filters) {
			obs_source_filter_remove(parent, filter);
			obs_source_release(filter);
		}
		obs_source_release(parent);
		wait_destroyed();
	}
	Attached(const Attached &) = delete;
	Attached &operator=(const Attached &) = delete;

	obs_source_t *add(int stage_count)
	{
		obs_source_t *filter =
			zoom_with_stages("hotkey zoom", stage_count);
		obs_source_filter_add(parent, filter);
		filters.push_back(filter);
		return filter;
	}
	obs_source_t *filter() const { return filters.front(); }
	ZoomView zoom() const { return {filter()}; }
	ZoomSnapshot operator->() const { return snapshot_of(filter()); }
};

std::string stage_name(int number)
{
	return "tavimore.stage_" + std::to_string(number);
}

/* Runs `seen` for each hotkey of libobs's global signal ("hotkey_register",
 * "hotkey_unregister") raised while `during` runs. */
void watch(const char *signal, const std::function<void(obs_hotkey_t *)> &seen,
	   const std::function<void()> &during)
{
	auto handle = [](void *data, calldata_t *cd) {
		auto *key =
			static_cast<obs_hotkey_t *>(calldata_ptr(cd, "key"));
		ASSERT_NE(key, nullptr);
		(*static_cast<const std::function<void(obs_hotkey_t *)> *>(
			data))(key);
	};
	signal_handler_t *handler = obs_get_signal_handler();
	signal_handler_connect(handler, signal, handle, (void *)&seen);
	during();
	signal_handler_disconnect(handler, signal, handle, (void *)&seen);
}

/* The names of the hotkeys registered while `during` runs. */
std::vector<std::string> registered_during(const std::function<void()> &during)
{
	std::vector<std::string> names;
	watch(
		"hotkey_register",
		[&](obs_hotkey_t *key) {
			names.push_back(obs_hotkey_get_name(key));
		},
		during);
	return names;
}

} // namespace

TEST(Registration, NothingWithoutAParent)
{
	obs_source_t *filter = zoom_with_stages("lonely zoom", 4);
	ZoomView f{filter};
	tick(filter, FRAME, 3);
	set_int(filter, "stage_count", 6);
	tick(filter, FRAME);

	EXPECT_FALSE(f->hotkeys_registered);
	EXPECT_EQ(f->idle_zoom_in_hotkey, OBS_INVALID_HOTKEY_ID);
	EXPECT_EQ(f->idle_zoom_out_hotkey, OBS_INVALID_HOTKEY_ID);
	ASSERT_EQ(f->stages.size(), 6u);
	EXPECT_TRUE(f->stage_keys.empty());
	EXPECT_TRUE(module_hotkeys().empty());
	obs_source_release(filter);
	wait_destroyed();
}

TEST(Registration, TheFirstTickWithAParentRegistersEverythingOnce)
{
	Attached a(3);
	/* attached, but neither updated nor ticked yet */
	EXPECT_TRUE(hotkeys_of(a.parent).empty());
	EXPECT_FALSE(a->hotkeys_registered);

	const std::vector<std::string> expected = {stage_name(1),
						   stage_name(2),
						   stage_name(3),
						   "tavimore.idle_zoom_in",
						   "tavimore.idle_zoom_out",
						   "tavimore.idle"};
	EXPECT_EQ(registered_during([&] { tick(a.filter(), FRAME); }),
		  expected);
	EXPECT_TRUE(a->hotkeys_registered);

	/* names, descriptions from the locale, the parent as registrant */
	const std::string toggle = locale_text("Hotkey.ToggleStage");
	ASSERT_NE(toggle, "Hotkey.ToggleStage") << "locale not loaded";
	const std::map<std::string, std::string> descriptions = {
		{stage_name(1), toggle + " 1"},
		{stage_name(2), toggle + " 2"},
		{stage_name(3), toggle + " 3"},
		{"tavimore.idle_zoom_in", locale_text("Hotkey.IdleZoomIn")},
		{"tavimore.idle_zoom_out", locale_text("Hotkey.IdleZoomOut")},
		{"tavimore.idle", locale_text("Hotkey.ReturnToIdle")},
	};
	const std::vector<HotkeyInfo> listed = hotkeys_of(a.parent);
	ASSERT_EQ(listed.size(), 6u);
	for (const HotkeyInfo &info : listed) {
		ASSERT_EQ(descriptions.count(info.name), 1u) << info.name;
		EXPECT_EQ(info.description, descriptions.at(info.name));
	}
	auto ids = hotkey_ids(a.parent);
	EXPECT_EQ(ids.size(), 6u);
	for (int i = 0; i < 3; i++) {
		ASSERT_NE(a->stage_keys[i].context, nullptr);
		EXPECT_EQ(a->stage_keys[i].id, ids[stage_name(i + 1)]);
		EXPECT_EQ(a->stage_keys[i].filter,
			  obs_obj_get_data(a.filter()));
		EXPECT_EQ(a->stage_keys[i].stage_index, i);
	}
	EXPECT_EQ(a->idle_zoom_in_hotkey, ids["tavimore.idle_zoom_in"]);
	EXPECT_EQ(a->idle_zoom_out_hotkey, ids["tavimore.idle_zoom_out"]);
	EXPECT_EQ(a->idle_hotkey, ids["tavimore.idle"]);
	EXPECT_TRUE(hotkeys_of(a.filter()).empty());

	/* later frames register nothing */
	std::vector<const void *> contexts;
	for (const auto &key : snapshot_of(a.filter()).stage_keys)
		contexts.push_back(key.context);
	EXPECT_TRUE(registered_during([&] {
			    tick(a.filter(), FRAME, 30);
		    }).empty());
	EXPECT_EQ(hotkey_ids(a.parent), ids);
	for (int i = 0; i < 3; i++)
		EXPECT_EQ(a->stage_keys[i].context, contexts[i]);
}

TEST(Registration, AnUpdateWhileAttachedRegistersEverythingOnce)
{
	Attached a(2);
	set_int(a.filter(), "stage_count", 2);
	auto ids = hotkey_ids(a.parent);
	EXPECT_EQ(ids.size(), 5u);
	EXPECT_EQ(ids.count(stage_name(1)) + ids.count(stage_name(2)), 2u);
	EXPECT_TRUE(a->hotkeys_registered);

	/* the tick after it registers nothing more */
	EXPECT_TRUE(
		registered_during([&] { tick(a.filter(), FRAME); }).empty());
	auto after = hotkey_ids(a.parent);
	EXPECT_EQ(after, ids);
	EXPECT_EQ(after.count("tavimore.idle_zoom_in") +
			  after.count("tavimore.idle_zoom_out") +
			  after.count("tavimore.idle"),
		  3u);
}

TEST(StageCount, ShrinkingUnregistersFromTheTopEachBeforeItsContextGoes)
{
	Attached a(8);
	tick(a.filter(), FRAME);
	const auto before = hotkey_ids(a.parent);
	ASSERT_EQ(before.size(), 11u);
	ZoomView f = a.zoom();

	std::vector<std::string> seen;
	watch(
		"hotkey_unregister",
		[&](obs_hotkey_t *key) {
			const std::string name = obs_hotkey_get_name(key);
			const size_t index = std::stoul(name.substr(15)) - 1;
			/* its context must still be in its slot */
			const auto keys = snapshot_of(a.filter(), KeyRead::Held)
						  .stage_keys;
			const bool alive =
				keys.size() > index && keys[index].context &&
				keys[index].stage_index == int(index);
			seen.push_back(name + (alive ? "" : " (no context)"));
		},
		[&] { set_int(a.filter(), "stage_count", 3); });

	EXPECT_EQ(seen, (std::vector<std::string>{stage_name(8), stage_name(7),
						  stage_name(6), stage_name(5),
						  stage_name(4)}));
	ASSERT_EQ(f->stages.size(), 3u);
	EXPECT_EQ(f->stage_keys.size(), 3u);
	auto after = hotkey_ids(a.parent);
	EXPECT_EQ(after.size(), 6u);
	for (const auto &[name, id] : after)
		EXPECT_EQ(id, before.at(name)) << name;
}

/* The stage values coming back from their keys: settings-tests. */
TEST(StageCount, GrowingRegistersTheNewStagesInThatUpdateUnderFormerNames)
{
	Attached a(4);
	tick(a.filter(), FRAME);
	ZoomView f = a.zoom();
	const auto first = hotkey_ids(a.parent);
	ASSERT_EQ(first.size(), 7u);
	const void *c1 = f->stage_keys[0].context;
	const void *c2 = f->stage_keys[1].context;
	set_int(a.filter(), "stage_count", 2);
	EXPECT_EQ(hotkey_ids(a.parent).size(), 5u);

	EXPECT_EQ(registered_during(
			  [&] { set_int(a.filter(), "stage_count", 5); }),
		  (std::vector<std::string>{stage_name(3), stage_name(4),
					    stage_name(5)}));
	const auto again = hotkey_ids(a.parent);
	ASSERT_EQ(again.size(), 8u);
	ASSERT_EQ(f->stages.size(), 5u);
	EXPECT_EQ(f->stage_keys[0].context, c1);
	EXPECT_EQ(f->stage_keys[1].context, c2);
	for (int i = 0; i < 5; i++) {
		const std::string name = stage_name(i + 1);
		EXPECT_EQ(f->stage_keys[i].id, again.at(name)) << name;
		ASSERT_NE(f->stage_keys[i].context, nullptr);
		EXPECT_EQ(f->stage_keys[i].stage_index, i);
		/* kept, or registered anew under the former name */
		if (i < 4)
			EXPECT_EQ(again.at(name) == first.at(name), i < 2)
				<< name;
	}
	press_hotkey(again.at(stage_name(5)));
	EXPECT_EQ(f->active_stage, 4);
}

TEST(Press, ToggleSwitchAndRelease)
{
	Attached a(3);
	tick(a.filter(), FRAME);
	ZoomView f = a.zoom();
	const obs_hotkey_id stage1 = f->stage_keys[0].id;
	const obs_hotkey_id stage2 = f->stage_keys[1].id;
	const obs_hotkey_id stage3 = f->stage_keys[2].id;
	ASSERT_NE(stage2, OBS_INVALID_HOTKEY_ID);
	auto state = [&] {
		return std::make_tuple(f->active_stage,
				       f->transition_start_zoom,
				       f->transition_progress, f->current_zoom);
	};
	/* a press starts a transition to `active` from `start` */
	auto expect_started = [&](int32_t active, double start) {
		EXPECT_EQ(f->active_stage, active);
		EXPECT_EQ(f->transition_start_zoom, start);
		EXPECT_EQ(f->transition_progress, 0.0);
	};

	/* idle (1.0) to stage 2 (2.0); the release changes nothing */
	ASSERT_EQ(f->active_stage, -1);
	obs_hotkey_trigger_routed_callback(stage2, true);
	expect_started(1, 1.0);
	auto held = state();
	obs_hotkey_trigger_routed_callback(stage2, false);
	EXPECT_EQ(state(), held);

	/* stage 2 again part of the way: back to idle from the zoom shown */
	tick(a.filter(), 0.125f);
	const double shown = f->current_zoom;
	ASSERT_GT(shown, 1.0);
	ASSERT_LT(shown, 2.0);
	obs_hotkey_trigger_routed_callback(stage2, true);
	expect_started(-1, shown);
	held = state();
	obs_hotkey_trigger_routed_callback(stage2, false);
	EXPECT_EQ(state(), held);

	/* stage 3 fully shown, then stage 1 switches straight over */
	press_hotkey(stage3);
	EXPECT_EQ(f->active_stage, 2);
	tick(a.filter(), 1.0f);
	ASSERT_EQ(f->current_zoom, 2.0);
	tick(a.filter(), 0.0f);
	press_hotkey(stage1);
	expect_started(0, 2.0);

	/* mid-way between stages the new start is the zoom shown */
	set_int(a.filter(), "stage_3_zoom_factor", 4);
	press_hotkey(stage3);
	tick(a.filter(), 0.1f);
	const double between = f->current_zoom;
	ASSERT_GT(between, 2.0);
	ASSERT_LT(between, 4.0);
	press_hotkey(stage1);
	expect_started(0, between);
	held = state();
	for (obs_hotkey_id id : {stage1, stage2, stage3})
		obs_hotkey_trigger_routed_callback(id, false);
	EXPECT_EQ(state(), held);
}

TEST(Hold, BothKeysSetTheirOwnFlagsAndMoveTheIdleZoom)
{
	Attached a(1);
	tick(a.filter(), FRAME);
	ZoomView f = a.zoom();
	ASSERT_NE(f->idle_zoom_in_hotkey, OBS_INVALID_HOTKEY_ID);
	ASSERT_NE(f->idle_zoom_out_hotkey, OBS_INVALID_HOTKEY_ID);
	ASSERT_EQ(f->idle.zoom_factor, 1.0);

	/* both held: up, then down, so the zoom stays */
	const struct {
		bool zoom_in, pressed;
		float seconds;
		bool in_held, out_held;
		double zoom;
	} steps[] = {{true, true, 0.5f, true, false, 1.3},
		     {false, true, 0.5f, true, true, 1.3},
		     {true, false, 0.25f, false, true, 1.15},
		     {false, false, 0.5f, false, false, 1.15}};
	for (const auto &step : steps) {
		obs_hotkey_trigger_routed_callback(
			step.zoom_in ? f->idle_zoom_in_hotkey
				     : f->idle_zoom_out_hotkey,
			step.pressed);
		EXPECT_EQ(f->zoom_in_held, step.in_held);
		EXPECT_EQ(f->zoom_out_held, step.out_held);
		tick(a.filter(), step.seconds);
		EXPECT_DOUBLE_EQ(f->idle.zoom_factor, step.zoom);
	}
	EXPECT_DOUBLE_EQ(f->current_zoom, 1.15);
}

TEST(Hold, AReleaseSavesTheIdleZoomAndAPressSavesNothing)
{
	Attached a(1);
	tick(a.filter(), FRAME);
	ZoomView f = a.zoom();
	obs_data_t *settings = obs_source_get_settings(a.filter());
	ASSERT_FALSE(obs_data_has_user_value(settings, "idle_zoom_factor"));

	obs_hotkey_trigger_routed_callback(f->idle_zoom_in_hotkey, true);
	tick(a.filter(), 1.0f);
	EXPECT_DOUBLE_EQ(f->idle.zoom_factor, 1.6);
	EXPECT_FALSE(obs_data_has_user_value(settings, "idle_zoom_factor"));
	obs_hotkey_trigger_routed_callback(f->idle_zoom_in_hotkey, false);
	EXPECT_EQ(obs_data_get_double(settings, "idle_zoom_factor"),
		  f->idle.zoom_factor);

	obs_hotkey_trigger_routed_callback(f->idle_zoom_out_hotkey, true);
	tick(a.filter(), 0.5f);
	const double lowered = f->idle.zoom_factor;
	EXPECT_DOUBLE_EQ(lowered, 1.3);
	EXPECT_DOUBLE_EQ(obs_data_get_double(settings, "idle_zoom_factor"),
			 1.6);
	obs_hotkey_trigger_routed_callback(f->idle_zoom_out_hotkey, false);
	EXPECT_EQ(obs_data_get_double(settings, "idle_zoom_factor"), lowered);
	obs_data_release(settings);

	/* a later settings change keeps the zoom that the hold reached */
	set_int(a.filter(), "easing_in", 2);
	EXPECT_EQ(f->idle.zoom_factor, lowered);
}

TEST(Hold, AnUnrelatedUpdateDuringAHoldKeepsTheLiveIdleZoom)
{
	const struct {
		bool zoom_in;
		double saved, live;
	} cases[] = {{true, 1.01, 1.61}, {false, 3.0, 2.4}};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.zoom_in ? "zoom in" : "zoom out");
		Attached a(1);
		obs_data_t *changes = obs_data_create();
		obs_data_set_double(changes, "idle_zoom_factor", c.saved);
		update_filter(a.filter(), changes);
		obs_data_release(changes);
		tick(a.filter(), 1.0f); /* settles on the saved zoom */
		ZoomView f = a.zoom();
		const obs_hotkey_id key = c.zoom_in ? f->idle_zoom_in_hotkey
						    : f->idle_zoom_out_hotkey;

		obs_hotkey_trigger_routed_callback(key, true);
		tick(a.filter(), 1.0f);
		ASSERT_DOUBLE_EQ(f->idle.zoom_factor, c.live);
		set_int(a.filter(), "easing_in", 2);
		EXPECT_DOUBLE_EQ(f->idle.zoom_factor, c.live);
		tick(a.filter(), 0.0f);
		EXPECT_DOUBLE_EQ(f->current_zoom, c.live);
		obs_hotkey_trigger_routed_callback(key, false);
	}
}

TEST(Hold, AKeyHeldWhenTheFilterLeavesItsSourceIsReleased)
{
	obs_source_t *parent = create_pattern_source("held parent");
	obs_source_t *filter = zoom_with_stages("held zoom", 1);
	ZoomView f{filter};
	obs_source_filter_add(parent, filter);
	tick(filter, FRAME);
	obs_hotkey_trigger_routed_callback(f->idle_zoom_in_hotkey, true);
	tick(filter, 1.0f);
	ASSERT_DOUBLE_EQ(f->idle.zoom_factor, 1.6);

	/* its release can no longer come: the zoom stays and is saved */
	obs_source_filter_remove(parent, filter);
	wait_hotkeys();
	tick(filter, 1.0f);
	EXPECT_FALSE(f->zoom_in_held);
	EXPECT_DOUBLE_EQ(f->idle.zoom_factor, 1.6);
	obs_data_t *settings = obs_source_get_settings(filter);
	EXPECT_DOUBLE_EQ(obs_data_get_double(settings, "idle_zoom_factor"),
			 1.6);
	obs_data_release(settings);

	obs_source_release(filter);
	obs_source_release(parent);
	wait_destroyed();
}

TEST(Refusal, ARefusedStageIsRetriedWithAFreshContext)
{
	/* libobs refuses hotkeys on private sources */
	obs_source_t *hidden = obs_source_create_private(
		"tavimore_test_pattern", "private parent", nullptr);
	Attached a(2, hidden);
	ZoomView f = a.zoom();
	auto expect_refused = [&](const void *const *not_these) {
		ASSERT_EQ(f->stage_keys.size(), 2u);
		for (int i = 0; i < 2; i++) {
			ASSERT_NE(f->stage_keys[i].context, nullptr);
			EXPECT_EQ(f->stage_keys[i].id, OBS_INVALID_HOTKEY_ID);
			EXPECT_EQ(f->stage_keys[i].stage_index, i);
			if (not_these)
				EXPECT_NE(f->stage_keys[i].context,
					  not_these[i]);
		}
	};

	tick(a.filter(), FRAME);
	EXPECT_TRUE(f->hotkeys_registered);
	EXPECT_EQ(f->idle_zoom_in_hotkey, OBS_INVALID_HOTKEY_ID);
	EXPECT_EQ(f->idle_zoom_out_hotkey, OBS_INVALID_HOTKEY_ID);
	expect_refused(nullptr);
	EXPECT_TRUE(module_hotkeys().empty());

	/* the next update tries again, each with a context of its own */
	const void *refused[] = {f->stage_keys[0].context,
				 f->stage_keys[1].context};
	set_int(a.filter(), "stage_count", 2);
	expect_refused(refused);

	/* moved to a public source, every hotkey registers there, the hold
	 * keys included: they are tried once on each parent */
	obs_source_t *shown = create_pattern_source("public parent");
	obs_source_filter_remove(hidden, a.filter());
	obs_source_filter_add(shown, a.filter());
	tick(a.filter(), FRAME);
	auto ids = hotkey_ids(shown);
	EXPECT_EQ(ids.size(), 5u);
	ASSERT_EQ(f->stage_keys.size(), 2u);
	for (int i = 0; i < 2; i++)
		EXPECT_EQ(f->stage_keys[i].id, ids[stage_name(i + 1)]);
	EXPECT_EQ(f->idle_zoom_in_hotkey, ids["tavimore.idle_zoom_in"]);
	press_hotkey(ids[stage_name(2)]);
	EXPECT_EQ(f->active_stage, 1);

	obs_source_filter_remove(shown, a.filter());
	obs_source_filter_add(hidden, a.filter());
	obs_source_release(shown);
}

namespace {

/* The key bound to each hotkey, by id. */
std::map<obs_hotkey_id, std::vector<obs_key_t>> bound_keys()
{
	std::map<obs_hotkey_id, std::vector<obs_key_t>> keys;
	obs_enum_hotkey_bindings(
		[](void *data, size_t, obs_hotkey_binding_t *binding) {
			auto &k = *static_cast<std::map<
				obs_hotkey_id, std::vector<obs_key_t>> *>(data);
			k[obs_hotkey_binding_get_hotkey_id(binding)].push_back(
				obs_hotkey_binding_get_key_combination(binding)
					.key);
			return true;
		},
		&keys);
	return keys;
}

/*
 * A source with two zoom filters, "zoom one" made first and "zoom two":
 * made afresh, or loaded from what save() wrote, as OBS loads its scene
 * collection (obs_load_source: the source, its hotkeys and its filters with
 * their settings and private settings). The filters then tick in the order
 * asked for, so either may register its keys first.
 */
struct TwoOnOne {
	obs_source_t *parent;
	obs_source_t *filters[2];

	explicit TwoOnOne(int first_stage_count = 1)
	{
		parent = create_pattern_source("two zooms");
		const char *names[2] = {"zoom one", "zoom two"};
		for (int i = 0; i < 2; i++) {
			filters[i] = zoom_with_stages(
				names[i], i == 0 ? first_stage_count : 1);
			obs_source_filter_add(parent, filters[i]);
		}
		tick(filters[0], FRAME);
		tick(filters[1], FRAME);
	}
	TwoOnOne(obs_data_t *saved, bool second_ticks_first)
	{
		parent = obs_load_source(saved);
		filters[0] = obs_source_get_filter_by_name(parent, "zoom one");
		filters[1] = obs_source_get_filter_by_name(parent, "zoom two");
		tick(filters[second_ticks_first ? 1 : 0], FRAME);
		tick(filters[second_ticks_first ? 0 : 1], FRAME);
	}
	~TwoOnOne()
	{
		for (obs_source_t *filter : filters) {
			obs_source_filter_remove(parent, filter);
			obs_source_release(filter);
		}
		obs_source_release(parent);
		wait_destroyed();
	}
	TwoOnOne(const TwoOnOne &) = delete;
	TwoOnOne &operator=(const TwoOnOne &) = delete;

	ZoomView zoom(int i) const { return {filters[i]}; }
	/* What OBS writes to the scene collection's file for the source. */
	obs_data_t *save() const
	{
		obs_data_t *data = obs_save_source(parent);
		obs_data_t *copy =
			obs_data_create_from_json(obs_data_get_json(data));
		obs_data_release(data);
		return copy;
	}
};

} // namespace

TEST(TwoFilters, DistinctNamesAndBindingsThatComeBackSeparately)
{
	obs_data_t *saved = nullptr;
	{
		TwoOnOne two;
		ZoomView f1 = two.zoom(0);
		ZoomView f2 = two.zoom(1);
		/* the first keeps the plain names, the second has its own and
		 * names its filter in each description */
		const std::string toggle = locale_text("Hotkey.ToggleStage");
		const std::map<std::string, std::string> expected = {
			{stage_name(1), toggle + " 1"},
			{"tavimore.idle_zoom_in",
			 locale_text("Hotkey.IdleZoomIn")},
			{"tavimore.idle_zoom_out",
			 locale_text("Hotkey.IdleZoomOut")},
			{"tavimore.idle", locale_text("Hotkey.ReturnToIdle")},
			{stage_name(1) + ".2", "zoom two: " + toggle + " 1"},
			{"tavimore.idle_zoom_in.2",
			 std::string("zoom two: ") +
				 locale_text("Hotkey.IdleZoomIn")},
			{"tavimore.idle_zoom_out.2",
			 std::string("zoom two: ") +
				 locale_text("Hotkey.IdleZoomOut")},
			{"tavimore.idle.2",
			 std::string("zoom two: ") +
				 locale_text("Hotkey.ReturnToIdle")},
		};
		std::map<std::string, std::string> listed;
		for (const HotkeyInfo &info : hotkeys_of(two.parent))
			listed[info.name] = info.description;
		EXPECT_EQ(listed, expected);

		/* each key drives its own filter */
		press_hotkey(f2->stage_keys[0].id);
		EXPECT_EQ(f2->active_stage, 0);
		EXPECT_EQ(f1->active_stage, -1);
		obs_hotkey_trigger_routed_callback(f1->idle_zoom_out_hotkey,
						   true);
		EXPECT_TRUE(f1->zoom_out_held);
		EXPECT_FALSE(f2->zoom_out_held);
		obs_hotkey_trigger_routed_callback(f1->idle_zoom_out_hotkey,
						   false);

		/* bind a key to each filter's first stage, and save */
		obs_key_combination_t one{0, OBS_KEY_1}, two_key{0, OBS_KEY_2};
		obs_hotkey_load_bindings(f1->stage_keys[0].id, &one, 1);
		obs_hotkey_load_bindings(f2->stage_keys[0].id, &two_key, 1);
		saved = two.save();
	}
	ASSERT_NE(saved, nullptr);

	/* loaded back in either order, each binding returns to its filter */
	for (bool second_first : {false, true}) {
		SCOPED_TRACE(second_first ? "second ticks first"
					  : "first ticks first");
		TwoOnOne two(saved, second_first);
		const auto keys = bound_keys();
		const obs_hotkey_id s1 = two.zoom(0)->stage_keys[0].id;
		const obs_hotkey_id s2 = two.zoom(1)->stage_keys[0].id;
		EXPECT_EQ(find_hotkey(two.parent, "tavimore.stage_1"), s1);
		ASSERT_EQ(keys.count(s1), 1u);
		ASSERT_EQ(keys.count(s2), 1u);
		EXPECT_EQ(keys.at(s1), std::vector<obs_key_t>{OBS_KEY_1});
		EXPECT_EQ(keys.at(s2), std::vector<obs_key_t>{OBS_KEY_2});
	}
	obs_data_release(saved);
}

/* After each row's change, a save and a reload with the second filter
 * first, every binding is still on its filter's key, and the descriptions
 * name each filter as it is now called. */
TEST(TwoFilters, BindingsAndDescriptionsOutliveDefaultsStageCountsAndRenames)
{
	auto stages = [](int n) {
		return [n](TwoOnOne &two) {
			set_int(two.filters[0], "stage_count", n);
		};
	};
	auto nothing = [](TwoOnOne &) {
	};
	const struct {
		const char *change;
		std::function<void(TwoOnOne &)> before_save, after_reload;
	} rows[] = {
		{"the second filter's Defaults button",
		 [](TwoOnOne &two) {
			 obs_data_t *settings =
				 obs_source_get_settings(two.filters[1]);
			 obs_data_clear(settings);
			 obs_data_release(settings);
			 update_filter(two.filters[1], nullptr);
		 },
		 nothing},
		{"the second filter's settings reset (obs-websocket's "
		 "SetSourceFilterSettings, overlay false)",
		 [](TwoOnOne &two) {
			 obs_data_t *empty = obs_data_create();
			 obs_source_reset_settings(two.filters[1], empty);
			 obs_data_release(empty);
			 update_filter(two.filters[1], nullptr);
		 },
		 nothing},
		{"two stages, one, two again",
		 [&](TwoOnOne &two) {
			 stages(1)(two);
			 stages(2)(two);
		 },
		 nothing},
		{"one stage when saved, two after the reload", stages(1),
		 stages(2)},
		{"a save of an earlier version: the key set in the settings",
		 [](TwoOnOne &two) {
			 obs_data_t *own = obs_source_get_private_settings(
				 two.filters[1]);
			 obs_data_t *settings =
				 obs_source_get_settings(two.filters[1]);
			 obs_data_set_int(settings, "hotkey_set",
					  obs_data_get_int(own, "hotkey_set"));
			 obs_data_erase(own, "hotkey_set");
			 obs_data_release(settings);
			 obs_data_release(own);
		 },
		 [](TwoOnOne &two) {
			 /* carried over, where Defaults cannot clear it */
			 obs_data_t *own = obs_source_get_private_settings(
				 two.filters[1]);
			 EXPECT_EQ(obs_data_get_int(own, "hotkey_set"), 2);
			 obs_data_release(own);
		 }},
		{"the second filter renamed after the reload", nothing,
		 [](TwoOnOne &two) {
			 obs_source_set_name(two.filters[1], "zoom renamed");
			 wait_hotkeys();
		 }},
	};
	for (const auto &row : rows) {
		SCOPED_TRACE(row.change);
		obs_data_t *saved;
		{
			TwoOnOne two(2);
			obs_key_combination_t keys[] = {{0, OBS_KEY_1},
							{0, OBS_KEY_2},
							{0, OBS_KEY_3},
							{0, OBS_KEY_4}};
			const obs_hotkey_id ids[] = {
				two.zoom(0)->stage_keys[0].id,
				two.zoom(0)->stage_keys[1].id,
				two.zoom(1)->stage_keys[0].id,
				two.zoom(1)->idle_hotkey};
			for (int i = 0; i < 4; i++)
				obs_hotkey_load_bindings(ids[i], &keys[i], 1);
			row.before_save(two);
			saved = two.save();
		}
		TwoOnOne two(saved, true);
		obs_data_release(saved);
		row.after_reload(two);

		const auto bound = bound_keys();
		auto keys_of = [&](obs_hotkey_id id) {
			const auto found = bound.find(id);
			return found == bound.end() ? std::vector<obs_key_t>{}
						    : found->second;
		};
		ZoomView f1 = two.zoom(0);
		ZoomView f2 = two.zoom(1);
		ASSERT_EQ(f1->stage_keys.size(), 2u);
		ASSERT_EQ(f2->stage_keys.size(), 1u);
		EXPECT_EQ(keys_of(f1->stage_keys[0].id),
			  std::vector<obs_key_t>{OBS_KEY_1});
		EXPECT_EQ(keys_of(f1->stage_keys[1].id),
			  std::vector<obs_key_t>{OBS_KEY_2});
		EXPECT_EQ(keys_of(f2->stage_keys[0].id),
			  std::vector<obs_key_t>{OBS_KEY_3});
		EXPECT_EQ(keys_of(f2->idle_hotkey),
			  std::vector<obs_key_t>{OBS_KEY_4});

		const std::string second =
			std::string(obs_source_get_name(two.filters[1])) + ": ";
		const auto listed = hotkeys_of(two.parent);
		EXPECT_EQ(listed.size(), 5u + 4u);
		for (const HotkeyInfo &info : listed) {
			const bool of_second =
				info.name.size() > 2 &&
				info.name.compare(info.name.size() - 2, 2,
						  ".2") == 0;
			EXPECT_EQ(info.description.rfind(second, 0) == 0,
				  of_second)
				<< info.name << ": " << info.description;
		}
	}
}

/* Each row sets the settings of one of two filters on a source (the
 * second's descriptions start with its name); a stage key's description
 * names its stage. */
TEST(TwoFilters, AStageKeyDescribesItsStageByItsName)
{
	const std::tuple<int, const char *, const char *, const char *> rows[] = {
		{0, R"({"stage_1_name": "Close-up"})", "", "1 (Close-up)"},
		{0, R"({"stage_1_name": "  Wide "})", "", "1 (Wide)"},
		{0, R"({"stage_1_name": "Stage 1"})", "", "1"},
		{0, R"({"stage_1_name": " "})", "", "1"},
		{1, R"({"stage_1_name": "Face"})", ".2", "1 (Face)"},
		{0, R"({"stage_3_name": "Board", "stage_count": 3})", "",
		 "3 (Board)"},
		{0, "{}", "", "1"}, /* Defaults */
	};
	TwoOnOne two(2);
	const std::string toggle = locale_text("Hotkey.ToggleStage");
	for (const auto &[filter, json, suffix, number] : rows) {
		SCOPED_TRACE(json);
		obs_data_t *change = obs_data_create_from_json(json);
		obs_source_reset_settings(two.filters[filter], change);
		update_filter(two.filters[filter], nullptr);
		obs_data_release(change);
		std::map<std::string, std::string> listed;
		for (const HotkeyInfo &info : hotkeys_of(two.parent))
			listed[info.name] = info.description;
		const std::string key =
			std::string("tavimore.stage_") + number[0] + suffix;
		EXPECT_EQ(listed[key],
			  (filter ? "zoom two: " : "") + toggle + " " + number);
		EXPECT_EQ(listed["tavimore.idle"],
			  locale_text("Hotkey.ReturnToIdle"));
	}
}

/*
 * What a filter carries of its keys is all of their bindings, or none. The
 * filter has three stages and a key bound to each of its six keys, the
 * third stage's kept aside by a stage count of two, and its source has been
 * saved. OBS's undo of its removal loads the filter's own save onto the
 * source, saved meanwhile without the filter's keys; Paste Filters
 * (obs_source_copy_filters) copies it onto another source or onto its own,
 * where the copy's keys would otherwise fire both filters. The filter that
 * results is given three stages.
 */
TEST(Keys, UndoOfARemovalBringsEveryBindingBackAndACopyTakesNone)
{
	auto bindings_of = [](obs_source_t *filter) {
		ZoomView f{filter};
		std::vector<obs_hotkey_id> ids = {f->idle_zoom_in_hotkey,
						  f->idle_zoom_out_hotkey,
						  f->idle_hotkey};
		for (const auto &key : snapshot_of(filter).stage_keys)
			ids.push_back(key.id);
		const auto bound = bound_keys();
		std::vector<obs_key_t> keys; /* in that order, one each */
		for (obs_hotkey_id id : ids)
			keys.push_back(bound.count(id) &&
						       bound.at(id).size() == 1
					       ? bound.at(id).front()
					       : OBS_KEY_NONE);
		return keys;
	};
	/* the filter on `on` that is not `original` (its reference kept) */
	auto copy_on = [](obs_source_t *on, obs_source_t *original) {
		std::pair<obs_source_t *, obs_source_t *> find{original,
							       nullptr};
		obs_source_enum_filters(
			on,
			[](obs_source_t *, obs_source_t *filter, void *data) {
				auto *f = static_cast<decltype(find) *>(data);
				if (filter != f->first)
					f->second = filter;
			},
			&find);
		return find.second;
	};
	const std::vector<obs_key_t> all = {OBS_KEY_F1, OBS_KEY_F2, OBS_KEY_F3,
					    OBS_KEY_F4, OBS_KEY_F5, OBS_KEY_F6};
	const std::vector<obs_key_t> none(6, OBS_KEY_NONE);
	const struct {
		const char *change;
		std::function<obs_source_t *(obs_source_t *, obs_source_t *,
					     obs_source_t *)>
			make; /* from the source, the filter and another source */
		std::vector<obs_key_t> expected;
	} rows[] = {
		{"removed and brought back by undo",
		 [](obs_source_t *home, obs_source_t *original,
		    obs_source_t *) {
			 obs_data_t *saved = obs_save_source(original);
			 const std::string json = obs_data_get_json(saved);
			 obs_data_release(saved);
			 obs_source_filter_remove(home, original);
			 wait_hotkeys();
			 obs_data_release(obs_save_source(home));
			 saved = obs_data_create_from_json(json.c_str());
			 obs_source_t *back = obs_load_source(saved);
			 obs_data_release(saved);
			 obs_source_filter_add(home, back);
			 obs_source_release(back);
			 return back;
		 },
		 all},
		{"pasted onto another source",
		 [&](obs_source_t *home, obs_source_t *original,
		     obs_source_t *other) {
			 obs_source_copy_filters(other, home);
			 return copy_on(other, original);
		 },
		 none},
		{"pasted onto its own source",
		 [&](obs_source_t *home, obs_source_t *original,
		     obs_source_t *) {
			 obs_source_copy_filters(home, home);
			 return copy_on(home, original);
		 },
		 none},
	};
	for (const auto &row : rows) {
		SCOPED_TRACE(row.change);
		Attached a(3);
		obs_source_t *other = create_pattern_source("keys other");
		tick(a.filter(), FRAME);
		std::vector<obs_hotkey_id> ids = {a->idle_zoom_in_hotkey,
						  a->idle_zoom_out_hotkey,
						  a->idle_hotkey};
		for (const auto &key : snapshot_of(a.filter()).stage_keys)
			ids.push_back(key.id);
		for (size_t i = 0; i < ids.size(); i++) {
			obs_key_combination_t key{0, all[i]};
			obs_hotkey_load_bindings(ids[i], &key, 1);
		}
		set_int(a.filter(), "stage_count", 2);
		obs_data_release(obs_save_source(a.parent));

		obs_source_t *made = row.make(a.parent, a.filter(), other);
		ASSERT_NE(made, nullptr);
		tick(made, FRAME);
		set_int(made, "stage_count", 3);
		EXPECT_EQ(bindings_of(made), row.expected);
		set_int(a.filter(), "stage_count", 3);
		if (row.expected == none) /* the original keeps its own */
			EXPECT_EQ(bindings_of(a.filter()), all);

		for (obs_source_t *on : {a.parent, other})
			while (obs_source_t *filter = copy_on(on, nullptr))
				obs_source_filter_remove(on, filter);
		obs_source_release(other);
	}
	wait_hotkeys();
	EXPECT_TRUE(module_hotkeys().empty());
}

TEST(Move, AFilterMovedToAnotherSourceTakesEveryHotkeyAlong)
{
	obs_source_t *from = create_pattern_source("first home");
	obs_source_t *to = create_pattern_source("second home");
	obs_source_t *filter = zoom_with_stages("moving zoom", 3);
	ZoomView f{filter};
	auto names_on = [](obs_source_t *source) {
		std::vector<std::string> names;
		for (const HotkeyInfo &info : hotkeys_of(source))
			names.push_back(info.name);
		std::sort(names.begin(), names.end());
		return names;
	};
	auto with_stages = [](int n) {
		std::vector<std::string> names = {"tavimore.idle_zoom_in",
						  "tavimore.idle_zoom_out",
						  "tavimore.idle"};
		for (int i = 1; i <= n; i++)
			names.push_back(stage_name(i));
		std::sort(names.begin(), names.end());
		return names;
	};
	const std::vector<std::string> nothing;

	obs_source_filter_add(from, filter);
	tick(filter, FRAME);
	EXPECT_EQ(names_on(from), with_stages(3));

	/* each step, then what each source holds */
	const struct {
		const char *step;
		std::function<void()> run;
		std::vector<std::string> on_from, on_to;
	} steps[] = {
		{"removed", [&] { obs_source_filter_remove(from, filter); },
		 nothing, nothing},
		{"added to the other",
		 [&] { obs_source_filter_add(to, filter); }, nothing,
		 with_stages(3)},
		{"five stages", [&] { set_int(filter, "stage_count", 5); },
		 nothing, with_stages(5)},
		{"two stages", [&] { set_int(filter, "stage_count", 2); },
		 nothing, with_stages(2)},
	};
	for (const auto &step : steps) {
		step.run();
		tick(filter, FRAME);
		EXPECT_EQ(names_on(from), step.on_from) << step.step;
		EXPECT_EQ(names_on(to), step.on_to) << step.step;
	}
	press_hotkey(find_hotkey(to, stage_name(2).c_str()));
	EXPECT_EQ(f->active_stage, 1);

	obs_source_filter_remove(to, filter);
	obs_source_release(filter);
	obs_source_release(from);
	obs_source_release(to);
	wait_destroyed();
	EXPECT_TRUE(module_hotkeys().empty());
}

TEST(Destroy, NoHotkeyOfTheFilterOutlivesIt)
{
	Attached a(1);
	obs_source_t *doomed = a.add(4);
	tick(a.filter(), FRAME);
	tick(doomed, FRAME);
	ZoomView f{doomed};
	/* stages from the first, then zoom-in, zoom-out, return to idle */
	std::vector<obs_hotkey_id> expected;
	for (const auto &key : snapshot_of(doomed).stage_keys)
		expected.push_back(key.id);
	expected.push_back(f->idle_zoom_in_hotkey);
	expected.push_back(f->idle_zoom_out_hotkey);
	expected.push_back(f->idle_hotkey);
	ASSERT_EQ(hotkeys_of(a.parent).size(), 4u + 7u);

	std::vector<obs_hotkey_id> unregistered;
	std::vector<size_t> contexts_left;
	/* runs on libobs's destruction thread, inside destroy */
	watch(
		"hotkey_unregister",
		[&](obs_hotkey_t *key) {
			unregistered.push_back(obs_hotkey_get_id(key));
			const auto keys =
				snapshot_of(doomed, KeyRead::Held).stage_keys;
			contexts_left.push_back(std::count_if(
				keys.begin(), keys.end(),
				[](const auto &k) { return !!k.context; }));
		},
		[&] {
			obs_source_filter_remove(a.parent, doomed);
			obs_source_release(doomed);
			a.filters.pop_back();
			wait_destroyed();
		});
	EXPECT_EQ(unregistered, expected);
	/* every context outlives every hotkey */
	EXPECT_EQ(contexts_left, std::vector<size_t>(7, 4));

	const auto left = hotkeys_of(a.parent);
	EXPECT_EQ(left.size(), 4u);
	for (const HotkeyInfo &info : left)
		EXPECT_EQ(std::count(expected.begin(), expected.end(), info.id),
			  0)
			<< info.name;
}

TEST(Destroy, AParentDestroyedFirstTakesTheHotkeysAlong)
{
	obs_source_t *parent = create_pattern_source("short-lived parent");
	obs_source_t *filter = zoom_with_stages("survivor", 2);
	obs_source_filter_add(parent, filter);
	tick(filter, FRAME);
	EXPECT_EQ(module_hotkeys().size(), 5u);

	obs_source_release(parent);
	wait_destroyed();
	EXPECT_TRUE(module_hotkeys().empty());
	obs_source_release(filter);
	wait_destroyed();
	EXPECT_TRUE(module_hotkeys().empty());
}

int main(int argc, char **argv)
{
	return run_tests_in_host(argc, argv, HostOptions{});
}
