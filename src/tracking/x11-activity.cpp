/* Clicks and key input on X11: see x11-activity.hpp. Sampler thread only. */
#include "tracking/x11-activity.hpp"

#include <xcb/xcbext.h>
#include <xcb/xinput.h>

#include <sys/uio.h>

#include <cstdlib>

namespace {

/* Input this close to the pointer's own is the pointer's: the server and
 * the sampler see the same moment a few milliseconds apart. */
constexpr auto POINTER_MARGIN = std::chrono::milliseconds(30);

/* The screen saver extension's QueryInfo, written out here rather than
 * taken from libxcb-screensaver, which OBS's own libraries do not bring
 * along: the request names a drawable, the reply says how long ago the
 * last input came. */
xcb_extension_t screensaver = {"MIT-SCREEN-SAVER", 0};
constexpr uint8_t QUERY_INFO = 1;

struct QueryInfoRequest {
	uint8_t major_opcode; /* the three filled in by xcb */
	uint8_t minor_opcode;
	uint16_t length;
	uint32_t drawable;
};

struct QueryInfoReply {
	uint8_t response_type;
	uint8_t state;
	uint16_t sequence;
	uint32_t length;
	uint32_t saver_window;
	uint32_t ms_until_server;
	uint32_t ms_since_user_input;
	uint32_t event_mask;
	uint8_t kind;
	uint8_t pad[7];
};
static_assert(sizeof(QueryInfoReply) == 32, "a reply is 32 bytes");

/* The milliseconds since the last input; false on an error. */
bool query_idle(xcb_connection_t *c, xcb_window_t root, uint32_t &ms)
{
	QueryInfoRequest out = {0, 0, 0, root};
	iovec parts[4];
	parts[2].iov_base = &out;
	parts[2].iov_len = sizeof(out);
	parts[3].iov_base = nullptr;
	parts[3].iov_len = 0;
	xcb_protocol_request_t request = {2, &screensaver, QUERY_INFO, 0};
	const unsigned int sequence =
		xcb_send_request(c, XCB_REQUEST_CHECKED, parts + 2, &request);
	xcb_generic_error_t *e = nullptr;
	auto *reply = static_cast<QueryInfoReply *>(
		xcb_wait_for_reply(c, sequence, &e));
	free(e);
	if (!reply)
		return false;
	ms = reply->ms_since_user_input;
	free(reply);
	return true;
}

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
		xcb_get_extension_data(c, &screensaver);
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
	uint32_t ms = 0;
	if (!query_idle(c, root, ms))
		return false;
	const auto idle = std::chrono::milliseconds(ms);
	/* a reply read late puts the input later than it was: the same
	 * input seen twice lies within the margin of its first sighting */
	const Clock::time_point input = Clock::now() - idle;
	if (input <= last_input + POINTER_MARGIN)
		return false;
	last_input = input;
	return input > pointer_input + POINTER_MARGIN;
}
