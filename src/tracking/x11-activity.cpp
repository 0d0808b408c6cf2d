/* Clicks and key input on X11: see x11-activity.hpp. Sampler thread only. */
#include "tracking/x11-activity.hpp"

#include <xcb/screensaver.h>
#include <xcb/xinput.h>

#include <cstdlib>

namespace {

/* Input this close to the pointer's own is the pointer's: the server and
 * the sampler see the same moment a few milliseconds apart. */
constexpr auto POINTER_MARGIN = std::chrono::milliseconds(30);

} // namespace

RawInput classify_event(const xcb_generic_event_t *event)
{
	if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
		return RawInput::Motion;
	const auto *ge =
		reinterpret_cast<const xcb_ge_generic_event_t *>(event);
	if (ge->event_type != XCB_INPUT_RAW_BUTTON_PRESS)
		return RawInput::Motion;
	const auto *press =
		reinterpret_cast<const xcb_input_raw_button_press_event_t *>(
			event);
	/* buttons 4 to 7 are the wheel's steps */
	return press->detail >= 4 && press->detail <= 7 ? RawInput::Wheel
							: RawInput::Button;
}

bool KeyInputWatch::start(xcb_connection_t *c)
{
	const xcb_query_extension_reply_t *ext =
		xcb_get_extension_data(c, &xcb_screensaver_id);
	present = ext && ext->present;
	next = last_input = Clock::now();
	pointer_input = Clock::time_point();
	return present;
}

bool KeyInputWatch::look(xcb_connection_t *c, xcb_window_t root,
			 Clock::time_point now)
{
	next = now + PERIOD;
	if (!present)
		return false;
	xcb_generic_error_t *e = nullptr;
	xcb_screensaver_query_info_reply_t *info =
		xcb_screensaver_query_info_reply(
			c, xcb_screensaver_query_info(c, root), &e);
	free(e);
	if (!info)
		return false;
	const auto idle = std::chrono::milliseconds(info->ms_since_user_input);
	free(info);
	/* a reply read late puts the input later than it was: the same
	 * input seen twice lies within the margin of its first sighting */
	const Clock::time_point input = Clock::now() - idle;
	if (input <= last_input + POINTER_MARGIN)
		return false;
	last_input = input;
	return input > pointer_input + POINTER_MARGIN;
}
