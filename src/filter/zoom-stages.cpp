/*
 * What the filter's hotkeys should be: the stages' number and names
 * (update), the parent the frame sees (tick), the filter's name (its
 * "rename" signal). Each change queues the hotkey work,
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

HotkeyRegistry::HotkeyRegistry(ZoomFilter *filter, const char *name)
	: filter(filter), wanted_name(name ? name : "")
{
}

HotkeyRegistry::~HotkeyRegistry()
{
	obs_weak_source_release(wanted_parent);
}

/* Queues the hotkey work, which brings the registered hotkeys in line
 * with the parent and the stage list. Any thread, no lock of ours held. */
void HotkeyRegistry::queue_work()
{
	if (work_queued.exchange(true))
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

/* ---- following the parent ----------------------------------------- */

void HotkeyRegistry::set_parent_seen(obs_source_t *seen)
{
	obs_weak_source_t *weak = seen ? obs_source_get_weak_source(seen)
				       : nullptr;
	obs_weak_source_t *old;
	{
		std::lock_guard<std::mutex> guard(wanted_lock);
		old = wanted_parent;
		wanted_parent = weak;
		wanted_parent_seen = seen;
	}
	obs_weak_source_release(old);
}

void HotkeyRegistry::follow_parent()
{
	obs_source_t *seen = obs_filter_get_parent(filter->source);
	if (seen == wanted_parent_seen.load())
		return;
	set_parent_seen(seen);
	queue_work();
}

void HotkeyRegistry::removed()
{
	set_parent_seen(nullptr);
	/* at once: the filter loaded back from what it saved (OBS's undo of
	 * its removal) may register before the work below has run */
	release_owner();
	queue_work();
}

void HotkeyRegistry::renamed(const char *name)
{
	{
		std::lock_guard<std::mutex> guard(wanted_lock);
		wanted_name = name ? name : "";
	}
	queue_work();
}

void HotkeyRegistry::want_stages(size_t count, std::vector<std::string> names)
{
	bool attached;
	{
		std::lock_guard<std::mutex> guard(wanted_lock);
		wanted_stages = count;
		wanted_stage_names = std::move(names);
		attached = wanted_parent != nullptr;
	}
	if (attached)
		queue_work();
}
