/*
 * Choosing the target by keys and requests, and the keys' callbacks (a hold
 * key let go saves the idle zoom it reached). Key presses arrive on libobs's
 * hotkey thread (in OBS Studio, its UI thread) and requests on
 * obs-websocket's threads. Both change the selection under the filter's
 * lock; a change of target is announced (StageChanged) after the lock has
 * been let go, so nothing calls into obs-websocket with it held. Each
 * change holds the filter's `event_lock` from before it takes the lock
 * until its event has been handed over, so the events of one filter leave
 * in the order of the changes, each with the next sequence number.
 *
 * A stage shown by the automatic zoom counts as the idle view for the stage
 * keys and requests: the user's choice replaces it. The frame starts and
 * ends it (zoom-auto.cpp) through the same steps.
 */
#include "filter/zoom-filter.hpp"
#include "filter/zoom-keys.hpp"
#include "core/zoom-core.hpp"

#include <cmath>

namespace {

StageChangedHook stage_changed = nullptr;

/* Starts a transition to stage `target` (-1: the idle target) from the zoom
 * shown; the caller holds the lock. */
void start_transition_locked(ZoomFilter *filter, int32_t target)
{
	filter->transition_start_zoom = filter->current_zoom;
	filter->active_stage = target;
	filter->transition_progress = 0.0;
}

struct Announcement {
	bool send = false;
	int32_t stage = 0;
	int64_t sequence = 0;
	std::string name;
	bool automatic = false;
};

StageSelection selection_of(const ZoomFilter *filter)
{
	StageSelection s;
	s.active = filter->active_stage;
	s.held = filter->held_stage;
	return s;
}

/* The selection as a stage key or request sees it: a stage shown
 * automatically is no choice of the user's. */
StageSelection chosen_selection(const ZoomFilter *filter)
{
	StageSelection s = selection_of(filter);
	if (filter->auto_shown)
		s.active = -1;
	return s;
}

/* The name a client sees for a target; the caller holds the lock. */
std::string target_name(const ZoomFilter *filter, int32_t active)
{
	if (active >= 0 && static_cast<size_t>(active) < filter->stages.size())
		return filter->stages[active].name;
	return obs_module_text("Zoom.Group.Idle");
}

/* Applies a step to the filter; the caller holds the lock. A transition
 * starts from the zoom shown, so a change mid-way never jumps. */
Announcement apply(ZoomFilter *filter, const StageStep &step)
{
	/* any change ends an automatic zoom, and says so */
	const bool leaves_auto = filter->auto_shown &&
				 (step.changed || step.starts);
	if (leaves_auto)
		filter->auto_shown = false;
	if (step.starts)
		start_transition_locked(filter, step.next.active);
	filter->active_stage = step.next.active;
	filter->held_stage = step.next.held;

	Announcement a;
	if (step.changed || leaves_auto) {
		a.send = true;
		a.sequence = ++filter->stage_sequence;
		a.stage = step.next.active + 1;
		a.name = target_name(filter, step.next.active);
	}
	return a;
}

/* Tells the clients about the filter on `parent`, which the caller keeps
 * alive; a filter on no source has nobody to tell. */
void announce_on(obs_source_t *parent, ZoomFilter *filter,
		 const Announcement &a)
{
	if (a.send && parent && stage_changed)
		stage_changed(parent, filter->source, a.stage, a.name,
			      a.sequence, a.automatic);
}

/* A key's callback runs while its parent lives (libobs unregisters a
 * source's hotkeys before it frees it), and so does the update, from the
 * parent's tick. */
void announce(ZoomFilter *filter, const Announcement &a)
{
	if (a.send)
		announce_on(obs_filter_get_parent(filter->source), filter, a);
}

/* A stage hotkey's press or release: a toggle, or a hold stage shown while
 * its key is down. */
void press_stage_key(ZoomFilter *filter, int32_t k, bool pressed)
{
	std::lock_guard<std::mutex> in_order(filter->event_lock);
	Announcement a;
	{
		std::lock_guard<std::mutex> guard(filter->lock);
		/* a key of a stage that has just been removed does nothing */
		if (k < 0 || static_cast<size_t>(k) >= filter->stages.size())
			return;
		const StageSelection s = chosen_selection(filter);
		if (filter->stages[k].hold)
			a = apply(filter, pressed ? hold_stage_press(s, k)
						  : hold_stage_release(s, k));
		else if (pressed)
			a = apply(filter, toggle_stage(s, k));
	}
	announce(filter, a);
}

/* The return-to-idle key. */
void press_idle_key(ZoomFilter *filter)
{
	std::lock_guard<std::mutex> in_order(filter->event_lock);
	Announcement a;
	{
		std::lock_guard<std::mutex> guard(filter->lock);
		a = apply(filter, idle_key(selection_of(filter),
					   filter->transition_progress));
	}
	announce(filter, a);
}

} // namespace

void set_stage_changed_hook(StageChangedHook hook)
{
	stage_changed = hook;
}

bool request_stage(ZoomFilter *filter, obs_source_t *parent, StageRequest kind,
		   long long number, int32_t &chosen, std::string &error)
{
	std::lock_guard<std::mutex> in_order(filter->event_lock);
	Announcement a;
	{
		std::lock_guard<std::mutex> guard(filter->lock);
		const auto count =
			static_cast<long long>(filter->stages.size());
		if (number < 0 || number > count) {
			error = "stage " + std::to_string(number) +
				" does not exist: use 0 for the idle view or 1 to " +
				std::to_string(count);
			return false;
		}
		const int k = static_cast<int>(number) - 1;
		/* back to idle ends an automatic zoom too */
		const StageSelection s = k >= 0 ? chosen_selection(filter)
						: selection_of(filter);
		if (kind == StageRequest::Set)
			a = apply(filter, set_stage(s, k));
		else if (k < 0)
			a = apply(filter,
				  idle_key(s, filter->transition_progress));
		else
			a = apply(filter, toggle_stage(s, k));
		chosen = filter->active_stage + 1;
	}
	announce_on(parent, filter, a);
	return true;
}

void drop_active_stage(ZoomFilter *filter)
{
	std::lock_guard<std::mutex> in_order(filter->event_lock);
	Announcement a;
	{
		std::lock_guard<std::mutex> guard(filter->lock);
		if (filter->active_stage <
		    static_cast<int32_t>(filter->stages.size()))
			return;
		a = apply(filter, set_stage(selection_of(filter), -1));
	}
	announce(filter, a);
}

void release_held_stage(ZoomFilter *filter, obs_source_t *parent)
{
	std::lock_guard<std::mutex> in_order(filter->event_lock);
	Announcement a;
	{
		std::lock_guard<std::mutex> guard(filter->lock);
		if (filter->held_stage < 0)
			return;
		a = apply(filter, hold_stage_release(selection_of(filter),
						     filter->held_stage));
	}
	announce_on(parent, filter, a);
}

ZoomState zoom_state(ZoomFilter *filter)
{
	std::lock_guard<std::mutex> guard(filter->lock);
	const int32_t active = filter->active_stage;
	const bool staged = active >= 0 &&
			    static_cast<size_t>(active) < filter->stages.size();
	const ZoomStage &target = staged ? filter->stages[active]
					 : filter->idle;

	ZoomState state;
	state.sequence = filter->stage_sequence;
	state.stage = staged ? active + 1 : 0;
	state.stage_name = target_name(filter, staged ? active : -1);
	state.stage_count = static_cast<int32_t>(filter->stages.size());
	state.shown_zoom = filter->current_zoom;
	/* a zoom that is not a number settles at the whole frame */
	state.target_zoom =
		std::isfinite(target.zoom_factor) ? target.zoom_factor : 1.0;
	state.progress = filter->transition_progress;
	state.center_x = filter->current_center_x;
	state.center_y = filter->current_center_y;
	state.tracking = target.center_tracking || filter->auto_shown;
	state.automatic = filter->auto_shown;
	return state;
}

bool show_auto_stage(ZoomFilter *filter, int32_t stage)
{
	std::lock_guard<std::mutex> in_order(filter->event_lock);
	Announcement a;
	{
		std::lock_guard<std::mutex> guard(filter->lock);
		/* a stage the user chose stays */
		if (filter->active_stage >= 0 && !filter->auto_shown)
			return false;
		if (stage < 0 ||
		    static_cast<size_t>(stage) >= filter->stages.size())
			return false;
		if (filter->auto_shown && filter->active_stage == stage)
			return true;
		a = apply(filter, set_stage(selection_of(filter), stage));
		filter->auto_shown = true;
		a.automatic = true;
	}
	announce(filter, a);
	return true;
}

void end_auto_zoom(ZoomFilter *filter)
{
	std::lock_guard<std::mutex> in_order(filter->event_lock);
	Announcement a;
	{
		std::lock_guard<std::mutex> guard(filter->lock);
		if (!filter->auto_shown)
			return;
		a = apply(filter, set_stage(selection_of(filter), -1));
	}
	announce(filter, a);
}

/* ---- the keys' callbacks ---------------------------------------------- */

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
	obs_data_set_double(settings, idle_keys().zoom_factor, zoom);
	obs_data_release(settings);
}
