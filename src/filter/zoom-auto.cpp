/*
 * The automatic zoom, on the frame (graphics thread). A click inside what
 * the filter's parent shows zooms to the automatic stage, centred on the
 * click; while that stage is shown the view follows the pointer through the
 * dead zone, and every click (and key input, when typing is watched) starts
 * the linger time again. Once it has passed with no input, the view eases
 * back to idle. Typing alone never starts a zoom. The pointer client reads
 * the input; a stage chosen by a key or a request wins (zoom-control.cpp).
 */
#include "filter/zoom-filter.hpp"
#include "filter/zoom-keys.hpp"

#include <algorithm>

void follow_input(ZoomFilter *filter, double seconds)
{
	/* a filter switched off, or taken off its source, watches nothing */
	const bool running = filter->auto_zoom != AutoZoom::Off &&
			     obs_source_enabled(filter->source) &&
			     obs_filter_get_parent(filter->source);
	if (running != filter->auto_running) {
		filter->auto_running = running;
		filter->auto_watching = AutoZoom::Off;
		if (running) {
			/* what the parent shows now, for the new pointer */
			sync_tracking(filter);
			filter->auto_pointer = open_pointer_client();
			filter->auto_seen = InputActivity();
			if (filter->auto_pointer)
				filter->auto_pointer->set_capture(
					filter->parent_capture);
		} else {
			filter->selection.end_auto();
			/* the last client gone asks the sampler to end */
			filter->auto_pointer.reset();
		}
	}
	PointerClient *pointer = filter->auto_pointer.get();
	if (!running || !pointer)
		return;
	if (filter->auto_watching != filter->auto_zoom) {
		filter->auto_watching = filter->auto_zoom;
		pointer->watch_input(filter->auto_zoom);
	}

	const InputActivity input = pointer->activity();
	const bool clicked = input.clicks != filter->auto_seen.clicks;
	const bool typed = input.keys != filter->auto_seen.keys &&
			   filter->auto_zoom == AutoZoom::ClicksAndTyping;
	filter->auto_seen = input;

	bool shown = filter->selection.automatic();
	if (clicked) {
		/* past the stage list: its last stage */
		const int32_t last =
			std::min(std::max(filter->stage_count, 1), MAX_STAGES) -
			1;
		const bool was_shown = shown;
		shown = filter->selection.show_auto_stage(
			std::min(filter->auto_stage, last));
		if (shown && !was_shown) {
			/* the view starts on the click */
			filter->tracked_x = input.click_x;
			filter->tracked_y = input.click_y;
			filter->tracking_shown = true;
		}
	}
	if (!shown)
		return;
	if (clicked || typed) {
		filter->auto_quiet = 0.0;
		return;
	}
	filter->auto_quiet += seconds;
	if (filter->auto_quiet >= filter->auto_linger)
		filter->selection.end_auto();
}
