/*
 * Stage and idle hotkeys against libobs's own hotkey system: what is
 * registered on the parent source and when, what a press and a release do,
 * the saved idle zoom, refusals, several filters and the end of a filter.
 * No video: the tests tick the filter and run its update themselves.
 */
#include "obs-harness.hpp"
#include "zoom-filter.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

const char *locale_text(const char *key)
{
	const char *text = nullptr;
	if (!obs_module_get_locale_string(loaded_module(), key, &text))
		return key;
	return text;
}

void set_int(obs_source_t *filter, const char *key, long long value)
{
	obs_data_t *changes = obs_data_create();
	obs_data_set_int(changes, key, value);
	update_filter(filter, changes);
	obs_data_release(changes);
}

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

	obs_source_t *add(int stage_count, obs_data_t *settings = nullptr)
	{
		obs_data_t *own = settings ? settings : obs_data_create();
		obs_data_set_int(own, "stage_count", stage_count);
		obs_source_t *filter = create_zoom_filter("hotkey zoom", own);
		if (!settings)
			obs_data_release(own);
		obs_source_filter_add(parent, filter);
		filters.push_back(filter);
		return filter;
	}
	obs_source_t *filter() const { return filters.front(); }
	ZoomFilter *operator->() const { return zoom_data(filter()); }
};

/* Every hotkey whose name starts with "tavimore.", on any registrant. */
std::vector<std::string> all_module_hotkeys()
{
	std::vector<std::string> names;
	obs_enum_hotkeys(
		[](void *data, obs_hotkey_id, obs_hotkey_t *key) {
			const std::string name = obs_hotkey_get_name(key);
			if (name.rfind("tavimore.", 0) == 0)
				static_cast<std::vector<std::string> *>(data)
					->push_back(name);
			return true;
		},
		&names);
	return names;
}

std::map<std::string, obs_hotkey_id> ids_by_name(obs_source_t *parent)
{
	std::map<std::string, obs_hotkey_id> ids;
	for (const HotkeyInfo &info : hotkeys_of(parent))
		ids[info.name] = info.id;
	return ids;
}

std::string stage_name(int number)
{
	return "tavimore.stage_" + std::to_string(number);
}

/* Watches one of libobs's global hotkey signals ("hotkey_register",
 * "hotkey_unregister") while it lives and runs `seen` for each hotkey. */
template<typename Seen> struct HotkeySignal {
	const char *signal;
	Seen seen;

	HotkeySignal(const char *signal_name, Seen on_seen)
		: signal(signal_name), seen(on_seen)
	{
		signal_handler_connect(obs_get_signal_handler(), signal, handle,
				       this);
	}
	~HotkeySignal()
	{
		signal_handler_disconnect(obs_get_signal_handler(), signal,
					  handle, this);
	}
	static void handle(void *data, calldata_t *cd)
	{
		auto *self = static_cast<HotkeySignal *>(data);
		auto *key =
			static_cast<obs_hotkey_t *>(calldata_ptr(cd, "key"));
		ASSERT_NE(key, nullptr);
		self->seen(key);
	}
};

template<typename Seen>
HotkeySignal<Seen> watch(const char *signal_name, Seen on_seen)
{
	return HotkeySignal<Seen>(signal_name, on_seen);
}

} // namespace

TEST(Registration, NothingWithoutAParent)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, "stage_count", 4);
	obs_source_t *filter = create_zoom_filter("lonely zoom", settings);
	obs_data_release(settings);
	ZoomFilter *f = zoom_data(filter);

	tick(filter, 1.0f / 60, 3);
	set_int(filter, "stage_count", 6);
	tick(filter, 1.0f / 60);

	EXPECT_FALSE(f->hotkeys_registered);
	EXPECT_EQ(f->idle_zoom_in_hotkey, OBS_INVALID_HOTKEY_ID);
	EXPECT_EQ(f->idle_zoom_out_hotkey, OBS_INVALID_HOTKEY_ID);
	ASSERT_EQ(f->stages.size(), 6u);
	for (size_t i = 0; i < f->stages.size(); i++) {
		EXPECT_EQ(f->stages[i].hotkey_id, OBS_INVALID_HOTKEY_ID);
		EXPECT_EQ(f->stage_hotkey_contexts[i], nullptr);
	}
	EXPECT_TRUE(all_module_hotkeys().empty());

	obs_source_release(filter);
	wait_destroyed();
	EXPECT_TRUE(all_module_hotkeys().empty());
}

TEST(Registration, TheFirstTickWithAParentRegistersEverythingOnce)
{
	Attached a(3);
	/* attached, but neither updated nor ticked yet */
	EXPECT_TRUE(hotkeys_of(a.parent).empty());
	EXPECT_FALSE(a->hotkeys_registered);

	std::vector<std::string> registered;
	{
		auto signal = watch("hotkey_register", [&](obs_hotkey_t *key) {
			registered.push_back(obs_hotkey_get_name(key));
		});
		tick(a.filter(), 1.0f / 60);
	}
	const std::vector<std::string> expected = {stage_name(1), stage_name(2),
						   stage_name(3),
						   "tavimore.idle_zoom_in",
						   "tavimore.idle_zoom_out"};
	EXPECT_EQ(registered, expected);
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
	};
	const std::vector<HotkeyInfo> listed = hotkeys_of(a.parent);
	ASSERT_EQ(listed.size(), 5u);
	std::map<std::string, obs_hotkey_id> ids;
	for (const HotkeyInfo &info : listed) {
		ASSERT_EQ(descriptions.count(info.name), 1u) << info.name;
		EXPECT_EQ(info.description, descriptions.at(info.name));
		ids[info.name] = info.id;
	}
	EXPECT_EQ(ids.size(), 5u);
	for (int i = 0; i < 3; i++) {
		EXPECT_EQ(a->stages[i].hotkey_id, ids[stage_name(i + 1)]);
		ASSERT_NE(a->stage_hotkey_contexts[i], nullptr);
		EXPECT_EQ(a->stage_hotkey_contexts[i]->filter,
			  zoom_data(a.filter()));
		EXPECT_EQ(a->stage_hotkey_contexts[i]->stage_index, i);
	}
	EXPECT_EQ(a->idle_zoom_in_hotkey, ids["tavimore.idle_zoom_in"]);
	EXPECT_EQ(a->idle_zoom_out_hotkey, ids["tavimore.idle_zoom_out"]);
	/* nothing is registered on the filter itself */
	EXPECT_TRUE(hotkeys_of(a.filter()).empty());

	/* later frames register nothing */
	std::vector<const StageHotkeyContext *> contexts;
	for (const auto &context : a->stage_hotkey_contexts)
		contexts.push_back(context.get());
	int more = 0;
	{
		auto signal = watch("hotkey_register",
				    [&](obs_hotkey_t *) { more++; });
		tick(a.filter(), 1.0f / 60, 30);
	}
	EXPECT_EQ(more, 0);
	EXPECT_EQ(ids_by_name(a.parent), ids);
	for (int i = 0; i < 3; i++)
		EXPECT_EQ(a->stage_hotkey_contexts[i].get(), contexts[i]);
}

TEST(Registration, AnUpdateWhileAttachedRegistersStagesButNotIdleKeys)
{
	Attached a(2);
	set_int(a.filter(), "stage_count", 2);
	auto ids = ids_by_name(a.parent);
	ASSERT_EQ(ids.size(), 2u);
	EXPECT_EQ(ids.count(stage_name(1)), 1u);
	EXPECT_EQ(ids.count(stage_name(2)), 1u);
	EXPECT_FALSE(a->hotkeys_registered);

	tick(a.filter(), 1.0f / 60);
	auto after = ids_by_name(a.parent);
	EXPECT_EQ(after.size(), 4u);
	EXPECT_EQ(after[stage_name(1)], ids[stage_name(1)]);
	EXPECT_EQ(after[stage_name(2)], ids[stage_name(2)]);
	EXPECT_EQ(after.count("tavimore.idle_zoom_in"), 1u);
	EXPECT_EQ(after.count("tavimore.idle_zoom_out"), 1u);
}

TEST(StageCount, ShrinkingUnregistersFromTheTopEachBeforeItsContextGoes)
{
	Attached a(8);
	tick(a.filter(), 1.0f / 60);
	const auto before = ids_by_name(a.parent);
	ASSERT_EQ(before.size(), 10u);
	ZoomFilter *f = zoom_data(a.filter());

	struct Seen {
		std::string name;
		bool context_alive;
	};
	std::vector<Seen> seen;
	{
		auto signal = watch("hotkey_unregister", [&](obs_hotkey_t *key) {
			const std::string name = obs_hotkey_get_name(key);
			const int index = std::stoi(name.substr(15)) - 1;
			/* the context of a hotkey being unregistered must
			 * still be in its slot */
			const bool alive =
				f->stage_hotkey_contexts.size() >
					size_t(index) &&
				f->stage_hotkey_contexts[index] &&
				f->stage_hotkey_contexts[index]->stage_index ==
					index;
			seen.push_back({name, alive});
		});
		set_int(a.filter(), "stage_count", 3);
	}

	ASSERT_EQ(seen.size(), 5u);
	for (int i = 0; i < 5; i++) {
		EXPECT_EQ(seen[i].name, stage_name(8 - i));
		EXPECT_TRUE(seen[i].context_alive) << seen[i].name;
	}
	ASSERT_EQ(f->stages.size(), 3u);
	EXPECT_EQ(f->stage_hotkey_contexts.size(), 3u);

	auto after = ids_by_name(a.parent);
	EXPECT_EQ(after.size(), 5u);
	for (int n = 1; n <= 3; n++)
		EXPECT_EQ(after[stage_name(n)], before.at(stage_name(n)));
	EXPECT_EQ(after["tavimore.idle_zoom_in"],
		  before.at("tavimore.idle_zoom_in"));
	EXPECT_EQ(after["tavimore.idle_zoom_out"],
		  before.at("tavimore.idle_zoom_out"));
}

TEST(StageCount, GrowingRegistersTheNewStagesInThatUpdate)
{
	Attached a(2);
	tick(a.filter(), 1.0f / 60);
	ZoomFilter *f = zoom_data(a.filter());
	const obs_hotkey_id id1 = f->stages[0].hotkey_id;
	const obs_hotkey_id id2 = f->stages[1].hotkey_id;
	const StageHotkeyContext *c1 = f->stage_hotkey_contexts[0].get();
	const StageHotkeyContext *c2 = f->stage_hotkey_contexts[1].get();

	std::vector<std::string> registered;
	{
		auto signal = watch("hotkey_register", [&](obs_hotkey_t *key) {
			registered.push_back(obs_hotkey_get_name(key));
		});
		set_int(a.filter(), "stage_count", 4);
	}
	EXPECT_EQ(registered,
		  (std::vector<std::string>{stage_name(3), stage_name(4)}));

	ASSERT_EQ(f->stages.size(), 4u);
	EXPECT_EQ(f->stages[0].hotkey_id, id1);
	EXPECT_EQ(f->stages[1].hotkey_id, id2);
	EXPECT_EQ(f->stage_hotkey_contexts[0].get(), c1);
	EXPECT_EQ(f->stage_hotkey_contexts[1].get(), c2);
	auto ids = ids_by_name(a.parent);
	EXPECT_EQ(ids.size(), 6u);
	for (int i = 2; i < 4; i++) {
		EXPECT_EQ(f->stages[i].hotkey_id, ids[stage_name(i + 1)]);
		ASSERT_NE(f->stage_hotkey_contexts[i], nullptr);
		EXPECT_EQ(f->stage_hotkey_contexts[i]->stage_index, i);
	}
}

TEST(StageCount, LoweredThenRaisedStagesComeBackFromTheirKeys)
{
	Attached a(1);
	obs_data_t *values = obs_data_create();
	for (int n = 1; n <= 5; n++) {
		const std::string prefix = "stage_" + std::to_string(n) + "_";
		obs_data_set_double(values, (prefix + "zoom_factor").c_str(),
				    1.0 + n * 0.5);
		obs_data_set_double(values, (prefix + "center_x").c_str(),
				    0.1 * n);
	}
	obs_data_set_int(values, "stage_count", 5);
	update_filter(a.filter(), values);
	obs_data_release(values);
	tick(a.filter(), 1.0f / 60);
	const auto first = ids_by_name(a.parent);
	ASSERT_EQ(first.size(), 7u);

	set_int(a.filter(), "stage_count", 2);
	EXPECT_EQ(ids_by_name(a.parent).size(), 4u);
	set_int(a.filter(), "stage_count", 5);

	ZoomFilter *f = zoom_data(a.filter());
	const auto again = ids_by_name(a.parent);
	ASSERT_EQ(again.size(), 7u);
	ASSERT_EQ(f->stages.size(), 5u);
	for (int i = 0; i < 5; i++) {
		SCOPED_TRACE(stage_name(i + 1));
		EXPECT_EQ(f->stages[i].zoom_factor, 1.0 + (i + 1) * 0.5);
		EXPECT_EQ(f->stages[i].center_x, 0.1 * (i + 1));
		const std::string name = stage_name(i + 1);
		EXPECT_EQ(f->stages[i].hotkey_id, again.at(name));
		ASSERT_NE(f->stage_hotkey_contexts[i], nullptr);
		EXPECT_EQ(f->stage_hotkey_contexts[i]->stage_index, i);
		if (i < 2)
			EXPECT_EQ(again.at(name), first.at(name));
		else /* registered anew under the former name */
			EXPECT_NE(again.at(name), first.at(name));
	}

	/* the stage that came back answers its hotkey */
	press_hotkey(again.at(stage_name(5)));
	EXPECT_EQ(f->active_stage, 4);
}

TEST(Press, ToggleSwitchAndRelease)
{
	Attached a(3);
	tick(a.filter(), 1.0f / 60);
	ZoomFilter *f = zoom_data(a.filter());
	const obs_hotkey_id stage1 = f->stages[0].hotkey_id;
	const obs_hotkey_id stage2 = f->stages[1].hotkey_id;
	const obs_hotkey_id stage3 = f->stages[2].hotkey_id;
	ASSERT_NE(stage2, OBS_INVALID_HOTKEY_ID);

	struct State {
		int32_t active;
		double start, progress, zoom;
		bool operator==(const State &o) const
		{
			return active == o.active && start == o.start &&
			       progress == o.progress && zoom == o.zoom;
		}
	};
	auto state = [&] {
		return State{f->active_stage, f->transition_start_zoom,
			     f->transition_progress, f->current_zoom};
	};

	/* idle (1.0) to stage 2 (2.0) */
	ASSERT_EQ(f->active_stage, -1);
	obs_hotkey_trigger_routed_callback(stage2, true);
	EXPECT_EQ(f->active_stage, 1);
	EXPECT_EQ(f->transition_start_zoom, 1.0);
	EXPECT_EQ(f->transition_progress, 0.0);
	State held = state();
	obs_hotkey_trigger_routed_callback(stage2, false);
	EXPECT_TRUE(state() == held) << "a release changes nothing";

	/* part of the way, then stage 2 again: back to idle from the zoom
	 * shown at that moment */
	tick(a.filter(), 0.125f);
	const double shown = f->current_zoom;
	ASSERT_GT(shown, 1.0);
	ASSERT_LT(shown, 2.0);
	obs_hotkey_trigger_routed_callback(stage2, true);
	EXPECT_EQ(f->active_stage, -1);
	EXPECT_EQ(f->transition_start_zoom, shown);
	EXPECT_EQ(f->transition_progress, 0.0);
	held = state();
	obs_hotkey_trigger_routed_callback(stage2, false);
	EXPECT_TRUE(state() == held);

	/* stage 3 fully shown, then stage 1 switches straight over */
	press_hotkey(stage3);
	EXPECT_EQ(f->active_stage, 2);
	tick(a.filter(), 1.0f);
	ASSERT_EQ(f->current_zoom, 2.0);
	tick(a.filter(), 0.0f);
	press_hotkey(stage1);
	EXPECT_EQ(f->active_stage, 0);
	EXPECT_EQ(f->transition_start_zoom, 2.0);
	EXPECT_EQ(f->transition_progress, 0.0);

	/* mid-way between stages the new start is the zoom shown */
	set_int(a.filter(), "stage_3_zoom_factor", 4);
	press_hotkey(stage3);
	tick(a.filter(), 0.1f);
	const double between = f->current_zoom;
	ASSERT_GT(between, 2.0);
	ASSERT_LT(between, 4.0);
	press_hotkey(stage1);
	EXPECT_EQ(f->active_stage, 0);
	EXPECT_EQ(f->transition_start_zoom, between);
	EXPECT_EQ(f->transition_progress, 0.0);
	/* releases only: nothing moves */
	held = state();
	for (obs_hotkey_id id : {stage1, stage2, stage3})
		obs_hotkey_trigger_routed_callback(id, false);
	EXPECT_TRUE(state() == held);
}

TEST(Hold, BothKeysSetTheirOwnFlagsAndMoveTheIdleZoom)
{
	Attached a(1);
	tick(a.filter(), 1.0f / 60);
	ZoomFilter *f = zoom_data(a.filter());
	const obs_hotkey_id in = f->idle_zoom_in_hotkey;
	const obs_hotkey_id out = f->idle_zoom_out_hotkey;
	ASSERT_NE(in, OBS_INVALID_HOTKEY_ID);
	ASSERT_NE(out, OBS_INVALID_HOTKEY_ID);
	ASSERT_EQ(f->idle.zoom_factor, 1.0);

	obs_hotkey_trigger_routed_callback(in, true);
	EXPECT_TRUE(f->zoom_in_held);
	EXPECT_FALSE(f->zoom_out_held);
	tick(a.filter(), 0.5f);
	EXPECT_DOUBLE_EQ(f->idle.zoom_factor, 1.3);
	EXPECT_DOUBLE_EQ(f->current_zoom, 1.3);

	obs_hotkey_trigger_routed_callback(out, true);
	EXPECT_TRUE(f->zoom_in_held);
	EXPECT_TRUE(f->zoom_out_held);
	tick(a.filter(), 0.5f);
	EXPECT_DOUBLE_EQ(f->idle.zoom_factor, 1.3); /* up, then down */

	obs_hotkey_trigger_routed_callback(in, false);
	EXPECT_FALSE(f->zoom_in_held);
	EXPECT_TRUE(f->zoom_out_held);
	tick(a.filter(), 0.25f);
	EXPECT_DOUBLE_EQ(f->idle.zoom_factor, 1.15);

	obs_hotkey_trigger_routed_callback(out, false);
	EXPECT_FALSE(f->zoom_in_held);
	EXPECT_FALSE(f->zoom_out_held);
	tick(a.filter(), 0.5f);
	EXPECT_DOUBLE_EQ(f->idle.zoom_factor, 1.15);
}

TEST(Hold, AReleaseSavesTheIdleZoomAndAPressSavesNothing)
{
	Attached a(1);
	tick(a.filter(), 1.0f / 60);
	ZoomFilter *f = zoom_data(a.filter());
	obs_data_t *settings = obs_source_get_settings(a.filter());
	ASSERT_FALSE(obs_data_has_user_value(settings, "idle_zoom_factor"));

	obs_hotkey_trigger_routed_callback(f->idle_zoom_in_hotkey, true);
	tick(a.filter(), 1.0f);
	EXPECT_DOUBLE_EQ(f->idle.zoom_factor, 1.6);
	EXPECT_FALSE(obs_data_has_user_value(settings, "idle_zoom_factor"));
	obs_hotkey_trigger_routed_callback(f->idle_zoom_in_hotkey, false);
	EXPECT_TRUE(obs_data_has_user_value(settings, "idle_zoom_factor"));
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

TEST(Refusal, ARefusedStageIsRetriedWithAFreshContext)
{
	/* libobs refuses hotkeys on private sources */
	obs_source_t *hidden = obs_source_create_private(
		"tavimore_test_pattern", "private parent", nullptr);
	Attached a(2, hidden);
	ZoomFilter *f = zoom_data(a.filter());

	tick(a.filter(), 1.0f / 60);
	EXPECT_TRUE(f->hotkeys_registered);
	EXPECT_EQ(f->idle_zoom_in_hotkey, OBS_INVALID_HOTKEY_ID);
	EXPECT_EQ(f->idle_zoom_out_hotkey, OBS_INVALID_HOTKEY_ID);
	std::vector<const StageHotkeyContext *> refused;
	for (int i = 0; i < 2; i++) {
		EXPECT_EQ(f->stages[i].hotkey_id, OBS_INVALID_HOTKEY_ID);
		ASSERT_NE(f->stage_hotkey_contexts[i], nullptr);
		EXPECT_EQ(f->stage_hotkey_contexts[i]->stage_index, i);
		refused.push_back(f->stage_hotkey_contexts[i].get());
	}
	EXPECT_TRUE(all_module_hotkeys().empty());

	/* the next update tries again, each with a context of its own */
	set_int(a.filter(), "stage_count", 2);
	for (int i = 0; i < 2; i++) {
		EXPECT_EQ(f->stages[i].hotkey_id, OBS_INVALID_HOTKEY_ID);
		ASSERT_NE(f->stage_hotkey_contexts[i], nullptr);
		EXPECT_NE(f->stage_hotkey_contexts[i].get(), refused[i]);
		EXPECT_EQ(f->stage_hotkey_contexts[i]->stage_index, i);
	}

	/* moved to a public source, the retry succeeds; the idle keys were
	 * tried once and stay unregistered */
	obs_source_t *shown = create_pattern_source("public parent");
	obs_source_filter_remove(hidden, a.filter());
	obs_source_filter_add(shown, a.filter());
	const StageHotkeyContext *second = f->stage_hotkey_contexts[0].get();
	set_int(a.filter(), "stage_count", 2);
	tick(a.filter(), 1.0f / 60);
	auto ids = ids_by_name(shown);
	EXPECT_EQ(ids.size(), 2u);
	for (int i = 0; i < 2; i++)
		EXPECT_EQ(f->stages[i].hotkey_id, ids[stage_name(i + 1)]);
	EXPECT_NE(f->stage_hotkey_contexts[0].get(), second);
	EXPECT_EQ(f->idle_zoom_in_hotkey, OBS_INVALID_HOTKEY_ID);
	press_hotkey(ids[stage_name(2)]);
	EXPECT_EQ(f->active_stage, 1);

	obs_source_filter_remove(shown, a.filter());
	obs_source_filter_add(hidden, a.filter());
	obs_source_release(shown);
}

TEST(TwoFilters, EachHasItsOwnHotkeysOfTheSameNamesOnTheSource)
{
	Attached a(2);
	obs_source_t *second = a.add(1);
	tick(a.filter(), 1.0f / 60);
	tick(second, 1.0f / 60);
	ZoomFilter *f1 = zoom_data(a.filter());
	ZoomFilter *f2 = zoom_data(second);

	const auto listed = hotkeys_of(a.parent);
	EXPECT_EQ(listed.size(), 7u);
	auto count = [&](const std::string &name) {
		return std::count_if(listed.begin(), listed.end(),
				     [&](const HotkeyInfo &info) {
					     return info.name == name;
				     });
	};
	EXPECT_EQ(count(stage_name(1)), 2);
	EXPECT_EQ(count(stage_name(2)), 1);
	EXPECT_EQ(count("tavimore.idle_zoom_in"), 2);
	EXPECT_EQ(count("tavimore.idle_zoom_out"), 2);
	EXPECT_NE(f1->stages[0].hotkey_id, f2->stages[0].hotkey_id);
	EXPECT_NE(f1->idle_zoom_in_hotkey, f2->idle_zoom_in_hotkey);

	press_hotkey(f2->stages[0].hotkey_id);
	EXPECT_EQ(f2->active_stage, 0);
	EXPECT_EQ(f1->active_stage, -1);
	press_hotkey(f1->stages[1].hotkey_id);
	EXPECT_EQ(f1->active_stage, 1);
	EXPECT_EQ(f2->active_stage, 0);
	obs_hotkey_trigger_routed_callback(f1->idle_zoom_out_hotkey, true);
	EXPECT_TRUE(f1->zoom_out_held);
	EXPECT_FALSE(f2->zoom_out_held);
	obs_hotkey_trigger_routed_callback(f1->idle_zoom_out_hotkey, false);
}

TEST(Destroy, NoHotkeyOfTheFilterOutlivesIt)
{
	Attached a(1);
	obs_source_t *doomed = a.add(4);
	tick(a.filter(), 1.0f / 60);
	tick(doomed, 1.0f / 60);
	ZoomFilter *f = zoom_data(doomed);
	std::vector<obs_hotkey_id> ids = {f->idle_zoom_in_hotkey,
					  f->idle_zoom_out_hotkey};
	for (const ZoomStage &stage : f->stages)
		ids.push_back(stage.hotkey_id);
	ASSERT_EQ(hotkeys_of(a.parent).size(), 3u + 6u);

	std::vector<obs_hotkey_id> unregistered;
	std::vector<size_t> contexts_left;
	{
		/* runs on libobs's destruction thread, inside destroy, while
		 * the filter still exists */
		auto signal =
			watch("hotkey_unregister", [&](obs_hotkey_t *key) {
				unregistered.push_back(obs_hotkey_get_id(key));
				contexts_left.push_back(std::count_if(
					f->stage_hotkey_contexts.begin(),
					f->stage_hotkey_contexts.end(),
					[](const auto &c) { return !!c; }));
			});
		obs_source_filter_remove(a.parent, doomed);
		obs_source_release(doomed);
		a.filters.pop_back();
		wait_destroyed();
	}
	/* stages from the first, then zoom-in, then zoom-out */
	const std::vector<obs_hotkey_id> expected = {ids[2], ids[3], ids[4],
						     ids[5], ids[0], ids[1]};
	EXPECT_EQ(unregistered, expected);
	/* every context outlives every hotkey */
	EXPECT_EQ(contexts_left, std::vector<size_t>(6, 4));

	const auto left = hotkeys_of(a.parent);
	EXPECT_EQ(left.size(), 3u);
	for (const HotkeyInfo &info : left)
		EXPECT_EQ(std::count(ids.begin(), ids.end(), info.id), 0)
			<< info.name;
}

TEST(Destroy, AParentDestroyedFirstTakesTheHotkeysAlong)
{
	obs_source_t *parent = create_pattern_source("short-lived parent");
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, "stage_count", 2);
	obs_source_t *filter = create_zoom_filter("survivor", settings);
	obs_data_release(settings);
	obs_source_filter_add(parent, filter);
	tick(filter, 1.0f / 60);
	EXPECT_EQ(all_module_hotkeys().size(), 4u);

	obs_source_release(parent);
	wait_destroyed();
	EXPECT_TRUE(all_module_hotkeys().empty());
	obs_source_release(filter);
	wait_destroyed();
	EXPECT_TRUE(all_module_hotkeys().empty());
}

int main(int argc, char **argv)
{
	return run_tests_in_host(argc, argv, HostOptions{});
}
