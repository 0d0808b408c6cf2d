/*
 * Every hotkey of the filter: one key per stage (a toggle, or shown while
 * held), the two idle hold keys and the return to idle, all registered on
 * the source that the filter is attached to (filters are private sources,
 * which cannot have hotkeys of their own), and the bindings it carries.
 * What a key does to the selection is in zoom-control.cpp.
 *
 * The locks and their order on each thread: RELIABILITY.md's thread map.
 * libobs runs every hotkey callback with its hotkey mutex held, and a
 * callback may take any lock of libobs (a script's hotkey that looks a
 * source up by name takes `sources_mutex`). So a libobs hotkey function
 * (register, unregister) is only ever called where no lock of libobs is
 * held: in the hotkey work, a task of its own, and in destroy, on the
 * destruction task; never from video_tick or update, which libobs runs
 * with `sources_mutex` held. No callback takes `keys_lock`.
 *
 * Lifetimes: the hotkey work holds only a weak reference to the filter and
 * to the parent, and works on them through strong references taken at its
 * start, so it never touches a filter or a parent that is gone; destroy
 * runs once no strong reference is left, so never during the work.
 */
#include "filter/zoom-filter.hpp"
#include "filter/zoom-keys.hpp"

#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <string>

/* ---- registering ---------------------------------------------------- */

/* "tavimore.<key>", with ".<set>" from the second set on. */
static std::string hotkey_name(int64_t set, const char *key)
{
	std::string name = std::string("tavimore.") + key;
	if (set > 1)
		name += "." + std::to_string(set);
	return name;
}

/* The locale text `text_key` followed by `number` when it is not empty;
 * from the second set on, after the filter's name. */
std::string HotkeyRegistry::description(const char *text_key,
					const std::string &number) const
{
	std::string description = obs_module_text(text_key);
	if (!number.empty())
		description += " " + number;
	if (set > 1)
		description = described_name + ": " + description;
	return description;
}

/* A stage key's number in its description, with the stage's name when the
 * user gave it one: "2 (Close-up)". */
std::string HotkeyRegistry::stage_number(int32_t index) const
{
	std::string number = std::to_string(index + 1);
	const auto &names = described_stage_names;
	if (static_cast<size_t>(index) < names.size() &&
	    !names[static_cast<size_t>(index)].empty())
		number += " (" + names[static_cast<size_t>(index)] + ")";
	return number;
}

/* ---- the keys' callbacks: the selection's keys ---------------------- */

static void on_stage_hotkey(void *data, obs_hotkey_id, obs_hotkey_t *,
			    bool pressed)
{
	auto *context = static_cast<StageHotkeyContext *>(data);
	/* a toggle acts on the press; a hold stage on press and release */
	context->filter->selection.press_stage_key(context->stage_index,
						   pressed);
}

static void on_idle_hotkey(void *data, obs_hotkey_id, obs_hotkey_t *,
			   bool pressed)
{
	if (pressed)
		static_cast<ZoomFilter *>(data)->selection.press_idle_key();
}

/* A hold key let go saves the idle zoom it reached, outside the
 * selection's lock. */
static void save_idle_zoom_factor(ZoomFilter *filter)
{
	const double zoom = filter->selection.idle_zoom();
	std::lock_guard<std::mutex> guard(filter->settings_lock);
	obs_data_t *settings = obs_source_get_settings(filter->source);
	obs_data_set_double(settings, idle_keys().zoom_factor, zoom);
	obs_data_release(settings);
}

template<bool zoom_in>
static void on_idle_hold(void *data, obs_hotkey_id, obs_hotkey_t *,
			 bool pressed)
{
	auto *filter = static_cast<ZoomFilter *>(data);
	filter->selection.hold_idle_key(zoom_in, pressed);
	if (!pressed)
		save_idle_zoom_factor(filter);
}

/* The keys other than the stages': the two idle hold keys and the return
 * to idle. */
struct FixedKey {
	const char *key;
	const char *text_key;
	obs_hotkey_func func;
};
static const FixedKey fixed_keys[3] = {
	{"idle_zoom_in", "Hotkey.IdleZoomIn", on_idle_hold<true>},
	{"idle_zoom_out", "Hotkey.IdleZoomOut", on_idle_hold<false>},
	{"idle", "Hotkey.ReturnToIdle", on_idle_hotkey},
};

/*
 * Describes the registered keys anew for the filter's new name and the
 * stages' names. libobs 29 changes a description without taking its hotkey
 * mutex, so it is done inside obs_enum_hotkeys, which holds that mutex (a
 * recursive one) and so keeps every reader of the descriptions and every
 * registration out.
 */
void HotkeyRegistry::follow_names(const std::string &name,
				  const std::vector<std::string> &stage_names)
{
	if (name == described_name && stage_names == described_stage_names)
		return;
	described_name = name;
	described_stage_names = stage_names;
	std::map<obs_hotkey_id, std::string> descriptions;
	for (const auto &context : contexts)
		descriptions[context->hotkey_id] =
			description("Hotkey.ToggleStage",
				    stage_number(context->stage_index));
	/* the first set's other descriptions name no filter */
	for (int i = 0; i < 3 && set > 1; i++)
		descriptions[fixed[i]] =
			description(fixed_keys[i].text_key, "");
	descriptions.erase(OBS_INVALID_HOTKEY_ID);
	obs_enum_hotkeys(
		[](void *data, obs_hotkey_id id, obs_hotkey_t *) {
			auto *d = static_cast<
				std::map<obs_hotkey_id, std::string> *>(data);
			const auto found = d->find(id);
			if (found != d->end())
				obs_hotkey_set_description(
					id, found->second.c_str());
			return true;
		},
		&descriptions);
}

static void unregister(obs_hotkey_id &id)
{
	if (id != OBS_INVALID_HOTKEY_ID)
		obs_hotkey_unregister(id);
	id = OBS_INVALID_HOTKEY_ID;
}

obs_weak_source_t *HotkeyRegistry::unregister_all()
{
	obs_weak_source_t *was_on;
	{
		std::lock_guard<std::mutex> guard(keys_lock);
		/* every hotkey goes before any context handed with it: libobs
		 * calls no callback of a hotkey once obs_hotkey_unregister has
		 * returned */
		for (auto &context : contexts)
			unregister(context->hotkey_id);
		for (obs_hotkey_id &id : fixed)
			unregister(id);
		contexts.clear();
		registered = false;
		was_on = parent;
		parent = nullptr;
	}
	release_owner();
	return was_on;
}

void unregister_all_hotkeys(ZoomFilter *filter)
{
	obs_weak_source_t *was_on = filter->keys.unregister_all();
	/* a hold key down now never sees its release: release it here */
	if (filter->selection.release_idle_keys())
		save_idle_zoom_factor(filter);
	/* the source the keys were on, if it still lives */
	obs_source_t *parent = obs_weak_source_get_source(was_on);
	filter->selection.release_held_stage(parent);
	obs_weak_source_release(was_on);
	/* last: the parent's destroy may come from this release */
	obs_source_release(parent);
}

struct HotkeyOnParent {
	obs_source_t *parent;
	std::string name;
	bool found;
};

/* Whether some hotkey of that name is registered on the parent. */
static bool parent_has_hotkey(obs_source_t *parent, const std::string &name)
{
	HotkeyOnParent look{parent, name, false};
	obs_enum_hotkeys(
		[](void *data, obs_hotkey_id, obs_hotkey_t *key) {
			auto *l = static_cast<HotkeyOnParent *>(data);
			if (obs_hotkey_get_registerer_type(key) !=
				    OBS_HOTKEY_REGISTERER_SOURCE ||
			    l->name != obs_hotkey_get_name(key))
				return true;
			auto *weak = static_cast<obs_weak_source_t *>(
				obs_hotkey_get_registerer(key));
			l->found = weak && obs_weak_source_references_source(
						   weak, l->parent);
			return !l->found;
		},
		&look);
	return look.found;
}

/*
 * Picks the filter's names on a parent. The first zoom filter on a source
 * uses the names without a suffix, so bindings saved under them keep
 * working; every later one gets the lowest free number from 2 up and keeps
 * it, so that its names survive a rename, a reload and the order in which
 * filters come back. The hold key "idle_zoom_in" marks a set as taken.
 *
 * The number is kept in the filter's private settings: OBS's Defaults
 * button and obs-websocket's SetSourceFilterSettings (overlay false) clear
 * the user's settings, and two filters would then swap their keys after a
 * restart. A number kept in the settings by an earlier version is carried
 * over the first time.
 */
constexpr int64_t MAX_HOTKEY_SET = 1 << 20;

void HotkeyRegistry::choose_set(obs_source_t *on)
{
	obs_data_t *own = obs_source_get_private_settings(filter->source);
	int64_t stored = obs_data_get_int(own, KEY_HOTKEY_SET);
	if (!obs_data_has_user_value(own, KEY_HOTKEY_SET)) {
		std::lock_guard<std::mutex> guard(filter->settings_lock);
		obs_data_t *settings = obs_source_get_settings(filter->source);
		stored = obs_data_get_int(settings, KEY_HOTKEY_SET);
		obs_data_release(settings);
	}
	/* a stored value out of any sensible range counts as none */
	set = stored > 1 && stored <= MAX_HOTKEY_SET ? stored : 1;
	while (parent_has_hotkey(on, hotkey_name(set, "idle_zoom_in")))
		set++;
	obs_data_set_int(own, KEY_HOTKEY_SET, set);
	obs_data_release(own);
}

/*
 * libobs forgets a key's bindings when the key is unregistered, and saves
 * only the keys registered, with the source they are on. So the filter
 * carries its keys' bindings in its private settings, under
 * "<key>_bindings": save stores those of every registered key, and a stage
 * key that goes with a lower stage count leaves its own there. A key
 * registered again takes them, in place of what libobs loaded with it
 * (older, or nothing: OBS's undo of a removed filter loads the filter's
 * own save onto a source saved without its keys), in this run or a later
 * one. The keys past the count are not kept registered: they would be
 * listed in Settings -> Hotkeys for stages that do not exist.
 *
 * A filter's bindings are all its own or none: a copy (OBS's Paste
 * Filters, a duplicated source: obs_source_duplicate copies the private
 * settings) takes none of them, as libobs gives a duplicated source none
 * of its own hotkeys' bindings; on the same source, the copy's keys would
 * otherwise fire both filters at once. The bindings carry the mark of the
 * filter that stored them ("keys_owner"), held by one filter at a time
 * while its keys are on a source: a filter that finds its mark held by
 * another is a copy and drops them.
 */
static std::string stored_bindings_name(const std::string &key)
{
	return key + "_bindings";
}

static std::string stage_key(int32_t stage_index)
{
	return "stage_" + std::to_string(stage_index + 1);
}

static void store_bindings(obs_data_t *own, const std::string &key,
			   obs_hotkey_id id)
{
	if (id == OBS_INVALID_HOTKEY_ID)
		return;
	obs_data_array_t *bindings = obs_hotkey_save(id);
	if (bindings)
		obs_data_set_array(own, stored_bindings_name(key).c_str(),
				   bindings);
	obs_data_array_release(bindings);
}

static void take_bindings(obs_data_t *own, const std::string &key,
			  obs_hotkey_id id)
{
	if (id == OBS_INVALID_HOTKEY_ID)
		return;
	const std::string name = stored_bindings_name(key);
	obs_data_array_t *bindings = obs_data_get_array(own, name.c_str());
	if (bindings) {
		obs_hotkey_load(id, bindings);
		obs_data_erase(own, name.c_str());
	}
	obs_data_array_release(bindings);
}

static std::mutex owners_lock;
static std::set<int64_t> held_owners;
static int64_t last_owner = 0;

void HotkeyRegistry::release_owner()
{
	std::lock_guard<std::mutex> guard(owners_lock);
	held_owners.erase(owner);
}

/* Takes the mark the filter stored, or a new one (from the clock, above
 * every mark of an earlier run) when it stored none or when another filter
 * holds it; a copy's bindings go. */
void HotkeyRegistry::claim_keys(obs_data_t *own)
{
	const int64_t stored = obs_data_get_int(own, KEY_KEYS_OWNER);
	bool copy;
	{
		std::lock_guard<std::mutex> guard(owners_lock);
		copy = stored != 0 && held_owners.count(stored) != 0;
		if (stored != 0 && !copy) {
			owner = stored;
		} else {
			using namespace std::chrono;
			const int64_t now =
				duration_cast<microseconds>(
					system_clock::now().time_since_epoch())
					.count();
			last_owner = now > last_owner ? now : last_owner + 1;
			owner = last_owner;
		}
		held_owners.insert(owner);
	}
	if (copy) {
		for (int32_t i = 0; i < MAX_STAGES; i++)
			obs_data_erase(
				own,
				stored_bindings_name(stage_key(i)).c_str());
		for (const FixedKey &k : fixed_keys)
			obs_data_erase(own,
				       stored_bindings_name(k.key).c_str());
	}
	obs_data_set_int(own, KEY_KEYS_OWNER, owner);
}

void HotkeyRegistry::save()
{
	std::lock_guard<std::mutex> guard(keys_lock);
	/* a filter on no source keeps what it carries */
	if (!registered)
		return;
	obs_data_t *own = obs_source_get_private_settings(filter->source);
	for (const auto &context : contexts)
		store_bindings(own, stage_key(context->stage_index),
			       context->hotkey_id);
	for (int i = 0; i < 3; i++)
		store_bindings(own, fixed_keys[i].key, fixed[i]);
	obs_data_release(own);
}

void HotkeyRegistry::register_on(obs_source_t *on, obs_weak_source_t *weak,
				 size_t stages, const std::string &name,
				 const std::vector<std::string> &stage_names)
{
	std::lock_guard<std::mutex> guard(keys_lock);
	if (!parent) {
		parent = weak;
		obs_weak_source_addref(weak);
	}
	obs_data_t *own = obs_source_get_private_settings(filter->source);
	const bool first_time = !registered;
	if (first_time) {
		claim_keys(own);
		choose_set(on);
		described_name = name;
		described_stage_names = stage_names;
	} else {
		follow_names(name, stage_names);
	}

	/* the highest stage goes first, its hotkey before its context */
	while (contexts.size() > stages) {
		store_bindings(own, stage_key(contexts.back()->stage_index),
			       contexts.back()->hotkey_id);
		unregister(contexts.back()->hotkey_id);
		contexts.pop_back();
	}
	for (size_t i = 0; i < stages; i++) {
		if (i < contexts.size() &&
		    contexts[i]->hotkey_id != OBS_INVALID_HOTKEY_ID)
			continue;
		/* a refused registration is tried again with a fresh context */
		auto context = std::make_unique<StageHotkeyContext>();
		context->filter = filter;
		context->stage_index = static_cast<int32_t>(i);
		const std::string key = stage_key(context->stage_index);
		context->hotkey_id = obs_hotkey_register_source(
			on, hotkey_name(set, key.c_str()).c_str(),
			description("Hotkey.ToggleStage",
				    stage_number(context->stage_index))
				.c_str(),
			on_stage_hotkey, context.get());
		take_bindings(own, key, context->hotkey_id);
		if (i < contexts.size())
			contexts[i] = std::move(context);
		else
			contexts.push_back(std::move(context));
	}

	/* the hold keys are tried once on each parent */
	for (int i = 0; i < 3 && first_time; i++) {
		const FixedKey &k = fixed_keys[i];
		fixed[i] = obs_hotkey_register_source(
			on, hotkey_name(set, k.key).c_str(),
			description(k.text_key, "").c_str(), k.func, filter);
		take_bindings(own, k.key, fixed[i]);
	}
	registered = true;
	obs_data_release(own);
}

void HotkeyRegistry::sync()
{
	obs_weak_source_t *wanted;
	size_t stages;
	std::string name;
	std::vector<std::string> stage_names;
	/* a change from here on queues the work once more */
	work_queued = false;
	{
		std::lock_guard<std::mutex> guard(wanted_lock);
		wanted = wanted_parent;
		obs_weak_source_addref(wanted);
		stages = wanted_stages;
		name = wanted_name;
		stage_names = wanted_stage_names;
	}
	obs_source_t *on = obs_weak_source_get_source(wanted);

	bool other_parent;
	{
		std::lock_guard<std::mutex> guard(keys_lock);
		other_parent = parent != wanted;
	}
	if (other_parent || !on)
		unregister_all_hotkeys(filter);
	if (on)
		register_on(on, wanted, stages, name, stage_names);
	obs_weak_source_release(wanted);
	/* last: the parent's destroy may come from this release */
	obs_source_release(on);
}

void hotkey_work(void *data)
{
	auto *weak = static_cast<obs_weak_source_t *>(data);
	obs_source_t *source = obs_weak_source_get_source(weak);
	obs_weak_source_release(weak);
	if (!source)
		return;
	auto *filter = static_cast<ZoomFilter *>(obs_obj_get_data(source));
	if (filter)
		filter->keys.sync();
	obs_source_release(source);
}
