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

static std::string hotkey_name(int64_t set, const char *key)
{
	std::string name = std::string("tavimore.") + key;
	if (set > 1)
		name += "." + std::to_string(set);
	return name;
}

/* The locale text `text_key` followed by `number` when it is not empty;
 * from the second set on, after the filter's name. */
static std::string hotkey_description(const ZoomFilter *filter,
				      const char *text_key,
				      const std::string &number)
{
	std::string description = obs_module_text(text_key);
	if (!number.empty())
		description += " " + number;
	if (filter->hotkey_set > 1)
		description = filter->described_name + ": " + description;
	return description;
}

/* A stage key's number in its description, with the stage's name when the
 * user gave it one: "2 (Close-up)". */
static std::string stage_number(const ZoomFilter *filter, int32_t index)
{
	std::string number = std::to_string(index + 1);
	const auto &names = filter->described_stage_names;
	if (static_cast<size_t>(index) < names.size() &&
	    !names[static_cast<size_t>(index)].empty())
		number += " (" + names[static_cast<size_t>(index)] + ")";
	return number;
}

/* Registers one more hotkey of the filter on `parent`, named
 * "tavimore.<key>" (with the filter's suffix) and described by the locale
 * text `text_key` followed by `number` when it is not empty. */
static obs_hotkey_id register_filter_hotkey(ZoomFilter *filter,
					    obs_source_t *parent,
					    const char *key,
					    const char *text_key,
					    const std::string &number,
					    obs_hotkey_func func, void *data)
{
	return obs_hotkey_register_source(
		parent, hotkey_name(filter->hotkey_set, key).c_str(),
		hotkey_description(filter, text_key, number).c_str(), func,
		data);
}

/* The keys other than the stages': the two idle hold keys and the return
 * to idle. */
struct FixedKey {
	const char *key;
	const char *text_key;
	obs_hotkey_id ZoomFilter::*id;
	obs_hotkey_func func;
};
static const FixedKey fixed_keys[] = {
	{"idle_zoom_in", "Hotkey.IdleZoomIn", &ZoomFilter::idle_zoom_in_hotkey,
	 on_idle_zoom_in},
	{"idle_zoom_out", "Hotkey.IdleZoomOut",
	 &ZoomFilter::idle_zoom_out_hotkey, on_idle_zoom_out},
	{"idle", "Hotkey.ReturnToIdle", &ZoomFilter::idle_hotkey,
	 on_idle_hotkey},
};

/*
 * Describes the registered keys anew for the filter's new name and the
 * stages' names. libobs 29 changes a description without taking its hotkey
 * mutex, so it is done inside obs_enum_hotkeys, which holds that mutex (a
 * recursive one) and so keeps every reader of the descriptions and every
 * registration out.
 */
static void follow_names(ZoomFilter *filter, const std::string &name,
			 const std::vector<std::string> &stage_names)
{
	if (name == filter->described_name &&
	    stage_names == filter->described_stage_names)
		return;
	filter->described_name = name;
	filter->described_stage_names = stage_names;
	std::map<obs_hotkey_id, std::string> descriptions;
	for (const auto &context : filter->stage_hotkey_contexts)
		descriptions[context->hotkey_id] = hotkey_description(
			filter, "Hotkey.ToggleStage",
			stage_number(filter, context->stage_index));
	/* the first set's other descriptions name no filter */
	if (filter->hotkey_set > 1)
		for (const FixedKey &k : fixed_keys)
			descriptions[filter->*k.id] =
				hotkey_description(filter, k.text_key, "");
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

void unregister_all_hotkeys(ZoomFilter *filter)
{
	obs_weak_source_t *was_on;
	{
		std::lock_guard<std::mutex> guard(filter->keys_lock);
		/* every hotkey goes before any context handed with it: libobs
		 * calls no callback of a hotkey once obs_hotkey_unregister has
		 * returned */
		for (auto &context : filter->stage_hotkey_contexts)
			unregister(context->hotkey_id);
		for (const FixedKey &k : fixed_keys)
			unregister(filter->*k.id);
		filter->stage_hotkey_contexts.clear();
		filter->hotkeys_registered = false;
		was_on = filter->hotkey_parent;
		filter->hotkey_parent = nullptr;
	}
	release_keys_owner(filter);

	/* a hold key down now never sees its release: release it here */
	bool held;
	{
		std::lock_guard<std::mutex> guard(filter->lock);
		held = filter->zoom_in_held || filter->zoom_out_held;
		filter->zoom_in_held = false;
		filter->zoom_out_held = false;
	}
	if (held)
		save_idle_zoom_factor(filter);
	/* the source the keys were on, if it still lives */
	obs_source_t *parent = obs_weak_source_get_source(was_on);
	release_held_stage(filter, parent);
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

static void choose_hotkey_set(ZoomFilter *filter, obs_source_t *parent)
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
	int64_t set = stored > 1 && stored <= MAX_HOTKEY_SET ? stored : 1;
	while (parent_has_hotkey(parent, hotkey_name(set, "idle_zoom_in")))
		set++;
	filter->hotkey_set = set;
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

void release_keys_owner(ZoomFilter *filter)
{
	std::lock_guard<std::mutex> guard(owners_lock);
	held_owners.erase(filter->keys_owner);
}

/* Takes the mark the filter stored, or a new one (from the clock, above
 * every mark of an earlier run) when it stored none or when another filter
 * holds it; a copy's bindings go. */
static void claim_keys(ZoomFilter *filter, obs_data_t *own)
{
	const int64_t stored = obs_data_get_int(own, KEY_KEYS_OWNER);
	bool copy;
	{
		std::lock_guard<std::mutex> guard(owners_lock);
		copy = stored != 0 && held_owners.count(stored) != 0;
		if (stored != 0 && !copy) {
			filter->keys_owner = stored;
		} else {
			const int64_t now =
				std::chrono::duration_cast<
					std::chrono::microseconds>(
					std::chrono::system_clock::now()
						.time_since_epoch())
					.count();
			last_owner = now > last_owner ? now : last_owner + 1;
			filter->keys_owner = last_owner;
		}
		held_owners.insert(filter->keys_owner);
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
	obs_data_set_int(own, KEY_KEYS_OWNER, filter->keys_owner);
}

void zoom_filter_save(void *data, obs_data_t *)
{
	auto *filter = static_cast<ZoomFilter *>(data);
	std::lock_guard<std::mutex> guard(filter->keys_lock);
	/* a filter on no source keeps what it carries */
	if (!filter->hotkeys_registered)
		return;
	obs_data_t *own = obs_source_get_private_settings(filter->source);
	for (const auto &context : filter->stage_hotkey_contexts)
		store_bindings(own, stage_key(context->stage_index),
			       context->hotkey_id);
	for (const FixedKey &k : fixed_keys)
		store_bindings(own, k.key, filter->*k.id);
	obs_data_release(own);
}

static void register_on(ZoomFilter *filter, obs_source_t *parent,
			obs_weak_source_t *weak_parent, size_t stages,
			const std::string &name,
			const std::vector<std::string> &stage_names)
{
	std::lock_guard<std::mutex> guard(filter->keys_lock);
	if (!filter->hotkey_parent) {
		filter->hotkey_parent = weak_parent;
		obs_weak_source_addref(weak_parent);
	}
	obs_data_t *own = obs_source_get_private_settings(filter->source);
	const bool first_time = !filter->hotkeys_registered;
	if (first_time) {
		claim_keys(filter, own);
		choose_hotkey_set(filter, parent);
		filter->described_name = name;
		filter->described_stage_names = stage_names;
	} else {
		follow_names(filter, name, stage_names);
	}

	/* the highest stage goes first, its hotkey before its context */
	auto &contexts = filter->stage_hotkey_contexts;
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
		const std::string number = std::to_string(i + 1);
		context->hotkey_id = register_filter_hotkey(
			filter, parent, ("stage_" + number).c_str(),
			"Hotkey.ToggleStage",
			stage_number(filter, static_cast<int32_t>(i)),
			on_stage_hotkey, context.get());
		take_bindings(own, stage_key(context->stage_index),
			      context->hotkey_id);
		if (i < contexts.size())
			contexts[i] = std::move(context);
		else
			contexts.push_back(std::move(context));
	}

	/* the hold keys are tried once on each parent */
	if (first_time) {
		for (const FixedKey &k : fixed_keys) {
			filter->*k.id = register_filter_hotkey(filter, parent,
							       k.key,
							       k.text_key, "",
							       k.func, filter);
			take_bindings(own, k.key, filter->*k.id);
		}
		filter->hotkeys_registered = true;
	}
	obs_data_release(own);
}

static void sync_hotkeys(ZoomFilter *filter)
{
	obs_weak_source_t *wanted;
	size_t stages;
	std::string name;
	std::vector<std::string> stage_names;
	{
		std::lock_guard<std::mutex> guard(filter->wanted_lock);
		wanted = filter->wanted_parent;
		obs_weak_source_addref(wanted);
		stages = filter->wanted_stages;
		name = filter->wanted_name;
		stage_names = filter->wanted_stage_names;
	}
	obs_source_t *parent = obs_weak_source_get_source(wanted);

	bool other_parent;
	{
		std::lock_guard<std::mutex> guard(filter->keys_lock);
		other_parent = filter->hotkey_parent != wanted;
	}
	if (other_parent || !parent)
		unregister_all_hotkeys(filter);
	if (parent)
		register_on(filter, parent, wanted, stages, name, stage_names);
	obs_weak_source_release(wanted);
	/* last: the parent's destroy may come from this release */
	obs_source_release(parent);
}

void hotkey_work(void *data)
{
	auto *weak = static_cast<obs_weak_source_t *>(data);
	obs_source_t *source = obs_weak_source_get_source(weak);
	obs_weak_source_release(weak);
	if (!source)
		return;
	auto *filter = static_cast<ZoomFilter *>(obs_obj_get_data(source));
	if (filter) {
		/* a change from here on queues the work once more */
		filter->hotkey_work_queued = false;
		sync_hotkeys(filter);
	}
	obs_source_release(source);
}
