/*
 * The stage list and what the filter's hotkeys should be: the stages'
 * number and names (update), the parent the frame sees (tick), the
 * filter's name (its "rename" signal). Each change queues the hotkey work,
 * which brings the registered keys in line (zoom-hotkeys.cpp).
 *
 * Where the hotkey work runs. Registering a key reads the parent's saved
 * hotkey data, which libobs's obs_save_source swaps and frees without a
 * lock, and the work writes the filter's private settings (the key set,
 * the bindings of stage keys past the count), which the save serialises
 * by reference, also without a lock. So the work runs where the host
 * saves: OBS Studio saves on its UI thread, and there it is a UI task
 * (OBS_TASK_UI), queued without waiting. libobs has no getter for a UI
 * task handler; OBS Studio sets one before it loads modules, on the thread
 * that then runs obs_module_load, so the module notes there whether that
 * is libobs's UI thread (note_ui_tasks). A host without one (bare libobs:
 * the tests, the preview tool) has no UI thread to save on; there the work
 * stays on libobs's destruction task, as destroy, and such a host must not
 * save the filter or its source while a stage count or parent changes.
 * OBS Studio runs a UI task queued from its UI thread at once, inside the
 * caller, which may hold libobs's sources lock (its scene collection's
 * clearing releases sources inside obs_enum_sources): work wanted on the
 * UI thread goes there by way of the destruction task, so it always runs
 * as a task of its own.
 */
#include "filter/zoom-filter.hpp"
#include "filter/zoom-keys.hpp"

static std::atomic<bool> ui_tasks{false};

void note_ui_tasks()
{
	ui_tasks = obs_in_task_thread(OBS_TASK_UI);
}

static void hotkey_work_to_ui(void *data)
{
	obs_queue_task(OBS_TASK_UI, hotkey_work, data, false);
}

/* Queues the hotkey work, which brings the registered hotkeys in line
 * with the parent and the stage list. Any thread, no lock of ours held. */
static void queue_hotkey_work(ZoomFilter *filter)
{
	if (filter->hotkey_work_queued.exchange(true))
		return;
	void *weak = obs_source_get_weak_source(filter->source);
	/* never waiting: OBS's UI thread may be waiting for the caller */
	if (!ui_tasks)
		obs_queue_task(OBS_TASK_DESTROY, hotkey_work, weak, false);
	else if (obs_in_task_thread(OBS_TASK_UI))
		obs_queue_task(OBS_TASK_DESTROY, hotkey_work_to_ui, weak,
			       false);
	else
		obs_queue_task(OBS_TASK_UI, hotkey_work, weak, false);
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
	/* at once: the filter loaded back from what it saved (OBS's undo of
	 * its removal) may register before the work below has run */
	release_keys_owner(filter);
	queue_hotkey_work(filter);
}

void zoom_filter_renamed(void *data, calldata_t *cd)
{
	auto *filter = static_cast<ZoomFilter *>(data);
	const char *name = calldata_string(cd, "new_name");
	{
		std::lock_guard<std::mutex> guard(filter->wanted_lock);
		filter->wanted_name = name ? name : "";
	}
	queue_hotkey_work(filter);
}

void follow_stage_names(ZoomFilter *filter, std::vector<std::string> names)
{
	bool attached;
	{
		std::lock_guard<std::mutex> guard(filter->wanted_lock);
		if (names == filter->wanted_stage_names)
			return;
		filter->wanted_stage_names = std::move(names);
		attached = filter->wanted_parent != nullptr;
	}
	if (attached)
		queue_hotkey_work(filter);
}
