/*
 * The stage selection: the targets, the one chosen by keys and requests,
 * its transition and what is shown. Key presses arrive on libobs's hotkey
 * thread (in OBS Studio, its UI thread) and requests on obs-websocket's
 * threads. Both change the selection under its lock; a change of target is
 * announced (StageChanged) after the lock has been let go, so nothing calls
 * into obs-websocket with it held. Each change holds `event_lock` from
 * before it takes the lock until its event has been handed over, so the
 * events of one filter leave in the order of the changes, each with the
 * next sequence number.
 *
 * A stage shown by the automatic zoom counts as the idle view for the stage
 * keys and requests: the user's choice replaces it. The frame starts and
 * ends it (zoom-auto.cpp) through the same changes.
 */
#include "filter/zoom-filter.hpp"
#include "core/zoom-core.hpp"

#include <chrono>
#include <cmath>

static StageChangedHook stage_changed = nullptr;

void set_stage_changed_hook(StageChangedHook hook)
{
	stage_changed = hook;
}

ZoomSelection::ZoomSelection(obs_source_t *source)
	: source(source),
	  /* microseconds: no filter changes its target a million times a
	   * second */
	  stage_sequence(
		  std::chrono::duration_cast<std::chrono::microseconds>(
			  std::chrono::system_clock::now().time_since_epoch())
			  .count())
{
}

/* The target chosen; the caller holds the lock. */
const ZoomStage &ZoomSelection::target() const
{
	const bool staged = active_stage >= 0 &&
			    static_cast<size_t>(active_stage) < stages.size();
	return staged ? stages[active_stage] : idle;
}

/*
 * One change of the selection: `choose` (called under the lock) gives the
 * step, or false to do nothing. A transition starts from the zoom shown,
 * so a change mid-way never jumps. A change of target is announced on
 * `parent`, or on the filter's parent, which lives while a key's callback
 * or the update runs (libobs unregisters a source's hotkeys before it frees
 * it); a filter on no source has nobody to tell.
 */
template<class Choose>
void ZoomSelection::change(obs_source_t *parent, bool filter_parent,
			   Choose choose, bool automatic)
{
	std::lock_guard<std::mutex> in_order(event_lock);
	StageStep step;
	int64_t sequence;
	std::string name;
	{
		std::lock_guard<std::mutex> guard(lock);
		const StageSelection s{active_stage, held_stage};
		if (!choose(s, step))
			return;
		/* any change ends an automatic zoom, and says so */
		const bool leaves_auto = auto_shown &&
					 (step.changed || step.starts);
		if (leaves_auto)
			auto_shown = false;
		if (automatic)
			auto_shown = true;
		if (step.starts) {
			transition_start_zoom = current_zoom;
			transition_progress = 0.0;
		}
		active_stage = step.next.active;
		held_stage = step.next.held;
		if (!step.changed && !leaves_auto)
			return;
		sequence = ++stage_sequence;
		name = &target() != &idle ? target().name
					  : obs_module_text("Zoom.Group.Idle");
	}
	if (filter_parent)
		parent = obs_filter_get_parent(source);
	if (parent && stage_changed)
		stage_changed(parent, source, step.next.active + 1, name,
			      sequence, automatic);
}

void ZoomSelection::press_stage_key(int32_t k, bool pressed)
{
	change(nullptr, true, [&](StageSelection s, StageStep &step) {
		/* a key of a stage that has just been removed does nothing */
		if (k < 0 || static_cast<size_t>(k) >= stages.size())
			return false;
		if (auto_shown)
			s.active = -1;
		if (stages[k].hold)
			step = pressed ? hold_stage_press(s, k)
				       : hold_stage_release(s, k);
		else if (pressed)
			step = toggle_stage(s, k);
		return stages[k].hold || pressed;
	});
}

void ZoomSelection::press_idle_key()
{
	change(nullptr, true, [&](StageSelection s, StageStep &step) {
		step = idle_key(s, transition_progress);
		return true;
	});
}

bool ZoomSelection::request(obs_source_t *parent, StageRequest kind,
			    long long number, int32_t &chosen,
			    std::string &error)
{
	bool found = false;
	change(parent, false, [&](StageSelection s, StageStep &step) {
		const auto count = static_cast<long long>(stages.size());
		if (number < 0 || number > count) {
			error = "stage " + std::to_string(number) +
				" does not exist: use 0 for the idle view or 1 to " +
				std::to_string(count);
			return false;
		}
		const int k = static_cast<int>(number) - 1;
		/* back to idle ends an automatic zoom too */
		if (auto_shown && k >= 0)
			s.active = -1;
		if (kind == StageRequest::Set)
			step = set_stage(s, k);
		else
			step = k < 0 ? idle_key(s, transition_progress)
				     : toggle_stage(s, k);
		chosen = step.next.active + 1;
		return found = true;
	});
	return found;
}

bool request_stage(ZoomFilter *filter, obs_source_t *parent, StageRequest kind,
		   long long number, int32_t &chosen, std::string &error)
{
	return filter->selection.request(parent, kind, number, chosen, error);
}

void ZoomSelection::set_stages(std::vector<ZoomStage> &list)
{
	{
		std::lock_guard<std::mutex> guard(lock);
		stages.swap(list);
	}
	/* a stage that went while shown eases back to idle, announced */
	change(nullptr, true, [&](StageSelection s, StageStep &step) {
		step = set_stage(s, -1);
		return active_stage >= static_cast<int32_t>(stages.size());
	});
}

bool ZoomSelection::show_auto_stage(int32_t stage)
{
	bool shown = false;
	change(
		nullptr, true,
		[&](StageSelection s, StageStep &step) {
			/* a stage the user chose stays */
			if ((active_stage >= 0 && !auto_shown) || stage < 0 ||
			    static_cast<size_t>(stage) >= stages.size())
				return false;
			shown = true;
			step = set_stage(s, stage);
			return !auto_shown || active_stage != stage;
		},
		true);
	return shown;
}

void ZoomSelection::end_auto()
{
	change(nullptr, true, [&](StageSelection s, StageStep &step) {
		step = set_stage(s, -1);
		return auto_shown;
	});
}

bool ZoomSelection::automatic()
{
	std::lock_guard<std::mutex> guard(lock);
	return auto_shown;
}

void ZoomSelection::release_held_stage(obs_source_t *parent)
{
	change(parent, false, [&](StageSelection s, StageStep &step) {
		step = hold_stage_release(s, held_stage);
		return held_stage >= 0;
	});
}

void ZoomSelection::set_idle(const ZoomStage &target)
{
	std::lock_guard<std::mutex> guard(lock);
	/* while a hold key is down the zoom it reached so far stays */
	const double zoom = idle.zoom_factor;
	idle = target;
	if (zoom_in_held || zoom_out_held)
		idle.zoom_factor = zoom;
}

void ZoomSelection::settle()
{
	std::lock_guard<std::mutex> guard(lock);
	const double zoom = std::isfinite(idle.zoom_factor) ? idle.zoom_factor
							    : 1.0;
	transition_progress = 1.0;
	transition_start_zoom = zoom;
	current_zoom = zoom;
}

bool ZoomSelection::any_tracking()
{
	std::lock_guard<std::mutex> guard(lock);
	bool tracks = idle.center_tracking;
	for (const ZoomStage &stage : stages)
		tracks = tracks || stage.center_tracking;
	return tracks;
}

void ZoomSelection::hold_idle_key(bool zoom_in, bool pressed)
{
	std::lock_guard<std::mutex> guard(lock);
	(zoom_in ? zoom_in_held : zoom_out_held) = pressed;
}

bool ZoomSelection::release_idle_keys()
{
	std::lock_guard<std::mutex> guard(lock);
	const bool held = zoom_in_held || zoom_out_held;
	zoom_in_held = zoom_out_held = false;
	return held;
}

double ZoomSelection::idle_zoom()
{
	std::lock_guard<std::mutex> guard(lock);
	return idle.zoom_factor;
}

ZoomState ZoomSelection::state()
{
	std::lock_guard<std::mutex> guard(lock);
	const ZoomStage &shown = target();
	const bool staged = &shown != &idle;
	ZoomState state;
	state.sequence = stage_sequence;
	state.stage = staged ? active_stage + 1 : 0;
	state.stage_name = staged ? shown.name
				  : obs_module_text("Zoom.Group.Idle");
	state.stage_count = static_cast<int32_t>(stages.size());
	state.shown_zoom = current_zoom;
	/* a zoom that is not a number settles at the whole frame */
	state.target_zoom = std::isfinite(shown.zoom_factor) ? shown.zoom_factor
							     : 1.0;
	state.progress = transition_progress;
	state.center_x = current_center_x;
	state.center_y = current_center_y;
	state.tracking = shown.center_tracking || auto_shown;
	state.automatic = auto_shown;
	return state;
}

ZoomState zoom_state(ZoomFilter *filter)
{
	return filter->selection.state();
}

FrameTarget ZoomSelection::advance(double dt, Easing in, Easing out)
{
	std::lock_guard<std::mutex> guard(lock);
	idle.zoom_factor = held_idle_zoom(idle.zoom_factor, dt, zoom_in_held,
					  zoom_out_held);
	const ZoomStage &to = target();
	transition_progress =
		advance_progress(transition_progress, dt, to.duration);
	eased_zoom = shown_zoom(transition_start_zoom, to, transition_progress,
				in, out);
	/* a face's framing stays shown until glide */
	current_zoom = framed ? framed_zoom : eased_zoom;
	/* a stage shown automatically follows the pointer, whatever its mode */
	return {to.zoom_factor,
		to.center_x,
		to.center_y,
		to.center_mode == CenterMode::Follow || auto_shown,
		auto_shown,
		to.center_mode == CenterMode::Press && !auto_shown,
		stage_sequence,
		to.face_framing,
		to.face_share};
}

/* A zoom framing a face this close to where it glides to is there: less
 * than a pixel's change in the view. */
constexpr double FRAMED_ZOOM_CLOSE = 1e-3;

void ZoomSelection::glide(double center_x, double center_y, double keep,
			  double framing)
{
	std::lock_guard<std::mutex> guard(lock);
	target_center_x = center_x;
	target_center_y = center_y;
	current_center_x = smooth_center(current_center_x, center_x, keep);
	current_center_y = smooth_center(current_center_y, center_y, keep);
	if (!(framing > 0.0) && !framed)
		return;
	/* to the face's zoom, and back to the transition's with the centre,
	 * as softly */
	const double goal = framing > 0.0 ? framing : eased_zoom;
	framed_zoom =
		smooth_center(framed ? framed_zoom : eased_zoom, goal, keep);
	/* the last bit at once: a still face gives the very same zoom */
	if (std::fabs(framed_zoom - goal) < FRAMED_ZOOM_CLOSE)
		framed_zoom = goal;
	framed = framing > 0.0 || framed_zoom != eased_zoom;
	current_zoom = framed ? framed_zoom : eased_zoom;
}

CropWindow ZoomSelection::window()
{
	/* the frame's values, taken whole: render may run on any thread that
	 * enters the graphics context */
	std::lock_guard<std::mutex> guard(lock);
	return crop_window(current_zoom, current_center_x, current_center_y);
}
