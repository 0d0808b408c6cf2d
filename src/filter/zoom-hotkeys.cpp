/*
 * The stage list and every hotkey of the filter: one key per stage (a
 * toggle, or shown while held), the two idle hold keys and the return to
 * idle, all registered on the source that the filter is attached to
 * (filters are private sources, which cannot have hotkeys of their own).
 * What a key does to the selection is in zoom-control.cpp, which requests
 * share.
 *
 * Lock order, outermost first:
 *   libobs's hotkey mutex  ->  ZoomFilter::lock  /  ZoomFilter::settings_lock
 * libobs runs every hotkey callback with its hotkey mutex held, and a
 * callback may take any lock of libobs (a script's hotkey that looks a
 * source up by name takes `sources_mutex`). So a libobs hotkey function
 * (register, unregister) is only ever called where no lock is held at all:
 * in the hotkey work below, on libobs's destruction task thread, which runs
 * its tasks one at a time with no lock of libobs held (libobs itself
 * unregisters a source's own hotkeys there), and in destroy, which runs on
 * that same thread. Never from video_tick or update: libobs runs both with
 * `sources_mutex` held. `lock`, `settings_lock` and `wanted_lock` are leaf
 * locks: nothing that takes another lock is called while one is held.
 *
 * Lifetimes: the hotkey work holds only a weak reference to the filter and
 * to the parent, and works on them through strong references taken at its
 * start, so it never touches a filter or a parent that is gone. destroy
 * runs on the same thread, so it never overlaps the work either.
 */
#include "zoom-filter.hpp"
#include "zoom-keys.hpp"

#include <cstring>
#include <string>

/* ---- the stage list --------------------------------------------------- */

void start_transition_locked(ZoomFilter *filter, int32_t target)
{
	filter->transition_start_zoom = filter->current_zoom;
	filter->active_stage = target;
	filter->transition_progress = 0.0;
}

void sync_stages(ZoomFilter *filter)
{
	int32_t n = filter->stage_count > 1 ? filter->stage_count : 1;
	n = n < MAX_STAGES ? n : MAX_STAGES;
	const size_t wanted = static_cast<size_t>(n);

	{
		std::lock_guard<std::mutex> guard(filter->lock);
		filter->stages.resize(wanted);
	}
	/* a stage that goes away while shown eases back to idle, announced */
	drop_active_stage(filter);
	bool attached;
	{
		std::lock_guard<std::mutex> guard(filter->wanted_lock);
		filter->wanted_stages = wanted;
		attached = filter->wanted_parent != nullptr;
	}
	if (attached)
		queue_hotkey_work(filter);
}

/* ---- following the parent ----------------------------------------- */

static void set_wanted_parent(ZoomFilter *filter, obs_source_t *parent)
{
	obs_weak_source_t *weak = parent ? obs_source_get_weak_source(parent)
					 : nullptr;
	obs_weak_source_t *old;
	{
		std::lock_guard<std::mutex> guard(filter->wanted_lock);
		old = filter->wanted_parent;
		filter->wanted_parent = weak;
		filter->wanted_parent_seen = parent;
	}
	obs_weak_source_release(old);
}

void follow_parent(ZoomFilter *filter)
{
	obs_source_t *parent = obs_filter_get_parent(filter->source);
	if (parent == filter->wanted_parent_seen.load())
		return;
	set_wanted_parent(filter, parent);
	queue_hotkey_work(filter);
}

void zoom_filter_remove(void *data, obs_source_t *)
{
	auto *filter = static_cast<ZoomFilter *>(data);
	set_wanted_parent(filter, nullptr);
	queue_hotkey_work(filter);
}

/* ---- registering ---------------------------------------------------- */

static std::string hotkey_name(int64_t set, const char *key)
{
	std::string name = std::string("tavimore.") + key;
	if (set > 1)
		name += "." + std::to_string(set);
	return name;
}

obs_hotkey_id register_filter_hotkey(ZoomFilter *filter, obs_source_t *parent,
				     const char *key, const char *text_key,
				     const std::string &number,
				     obs_hotkey_func func, void *data)
{
	std::string description = obs_module_text(text_key);
	if (!number.empty())
		description += " " + number;
	if (filter->hotkey_set > 1)
		description = std::string(obs_source_get_name(filter->source)) +
			      ": " + description;
	return obs_hotkey_register_source(
		parent, hotkey_name(filter->hotkey_set, key).c_str(),
		description.c_str(), func, data);
}

static void unregister(obs_hotkey_id &id)
{
	if (id != OBS_INVALID_HOTKEY_ID)
		obs_hotkey_unregister(id);
	id = OBS_INVALID_HOTKEY_ID;
}

void unregister_all_hotkeys(ZoomFilter *filter)
{
	/* every hotkey goes before any context handed with it: libobs calls
	 * no callback of a hotkey once obs_hotkey_unregister has returned */
	for (auto &context : filter->stage_hotkey_contexts)
		unregister(context->hotkey_id);
	unregister(filter->idle_zoom_in_hotkey);
	unregister(filter->idle_zoom_out_hotkey);
	unregister(filter->idle_hotkey);
	filter->stage_hotkey_contexts.clear();
	filter->hotkeys_registered = false;

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
	obs_source_t *parent =
		obs_weak_source_get_source(filter->hotkey_parent);
	release_held_stage(filter, parent);
	obs_weak_source_release(filter->hotkey_parent);
	filter->hotkey_parent = nullptr;
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
 * it in its settings, so that its names survive a rename, a reload and the
 * order in which filters come back. The hold key "idle_zoom_in" marks a
 * set as taken.
 */
constexpr int64_t MAX_HOTKEY_SET = 1 << 20;

static void choose_hotkey_set(ZoomFilter *filter, obs_source_t *parent)
{
	int64_t stored;
	{
		std::lock_guard<std::mutex> guard(filter->settings_lock);
		obs_data_t *settings = obs_source_get_settings(filter->source);
		stored = obs_data_get_int(settings, "hotkey_set");
		obs_data_release(settings);
	}
	/* a stored value out of any sensible range counts as none */
	int64_t set = stored > 1 && stored <= MAX_HOTKEY_SET ? stored : 1;
	while (parent_has_hotkey(parent, hotkey_name(set, "idle_zoom_in")))
		set++;
	filter->hotkey_set = set;
	if (set == stored || (set == 1 && stored <= 1))
		return;
	std::lock_guard<std::mutex> guard(filter->settings_lock);
	obs_data_t *settings = obs_source_get_settings(filter->source);
	obs_data_set_int(settings, "hotkey_set", set);
	obs_data_release(settings);
}

static void register_on(ZoomFilter *filter, obs_source_t *parent, size_t stages)
{
	const bool first_time = !filter->hotkeys_registered;
	if (first_time)
		choose_hotkey_set(filter, parent);

	/* the highest stage goes first, its hotkey before its context */
	auto &contexts = filter->stage_hotkey_contexts;
	while (contexts.size() > stages) {
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
			"Hotkey.ToggleStage", number, on_stage_hotkey,
			context.get());
		if (i < contexts.size())
			contexts[i] = std::move(context);
		else
			contexts.push_back(std::move(context));
	}

	/* the hold keys are tried once on each parent */
	if (first_time) {
		filter->idle_zoom_in_hotkey = register_filter_hotkey(
			filter, parent, "idle_zoom_in", "Hotkey.IdleZoomIn", "",
			on_idle_zoom_in, filter);
		filter->idle_zoom_out_hotkey = register_filter_hotkey(
			filter, parent, "idle_zoom_out", "Hotkey.IdleZoomOut",
			"", on_idle_zoom_out, filter);
		filter->idle_hotkey = register_filter_hotkey(
			filter, parent, "idle", "Hotkey.ReturnToIdle", "",
			on_idle_hotkey, filter);
		filter->hotkeys_registered = true;
	}
}

static void sync_hotkeys(ZoomFilter *filter)
{
	obs_weak_source_t *wanted;
	size_t stages;
	{
		std::lock_guard<std::mutex> guard(filter->wanted_lock);
		wanted = filter->wanted_parent;
		obs_weak_source_addref(wanted);
		stages = filter->wanted_stages;
	}
	obs_source_t *parent = obs_weak_source_get_source(wanted);

	if (filter->hotkey_parent != wanted || !parent)
		unregister_all_hotkeys(filter);
	if (parent) {
		if (!filter->hotkey_parent) {
			filter->hotkey_parent = wanted;
			obs_weak_source_addref(wanted);
		}
		register_on(filter, parent, stages);
	}
	obs_weak_source_release(wanted);
	/* last: the parent's destroy may come from this release */
	obs_source_release(parent);
}

static void hotkey_work(void *data)
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

void queue_hotkey_work(ZoomFilter *filter)
{
	if (filter->hotkey_work_queued.exchange(true))
		return;
	obs_queue_task(OBS_TASK_DESTROY, hotkey_work,
		       obs_source_get_weak_source(filter->source), false);
}

/* ---- the callbacks ---------------------------------------------------- */

void on_stage_hotkey(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	auto *context = static_cast<StageHotkeyContext *>(data);
	/* a toggle acts on the press; a hold stage on press and release */
	press_stage_key(context->filter, context->stage_index, pressed);
}

void on_idle_hotkey(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (pressed)
		press_idle_key(static_cast<ZoomFilter *>(data));
}

static void set_held(ZoomFilter *filter, bool ZoomFilter::*held, bool pressed)
{
	{
		std::lock_guard<std::mutex> guard(filter->lock);
		filter->*held = pressed;
	}
	if (!pressed)
		save_idle_zoom_factor(filter);
}

void on_idle_zoom_in(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	set_held(static_cast<ZoomFilter *>(data), &ZoomFilter::zoom_in_held,
		 pressed);
}

void on_idle_zoom_out(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	set_held(static_cast<ZoomFilter *>(data), &ZoomFilter::zoom_out_held,
		 pressed);
}

void save_idle_zoom_factor(ZoomFilter *filter)
{
	double zoom;
	{
		std::lock_guard<std::mutex> guard(filter->lock);
		zoom = filter->idle.zoom_factor;
	}
	/* the settings object is written outside the state lock */
	std::lock_guard<std::mutex> guard(filter->settings_lock);
	obs_data_t *settings = obs_source_get_settings(filter->source);
	obs_data_set_double(settings, "idle_zoom_factor", zoom);
	obs_data_release(settings);
}
