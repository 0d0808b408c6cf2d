/*
 * Clicks and key input on X11, read on the pointer sampler's own xcb
 * connection (x11-pointer-source.cpp) and on its thread. A click is an
 * XInput 2 raw button press on the root window (no grab, and no press is
 * missed however short), or, without XInput 2, a button newly down in the
 * pointer query's mask. Key input is never read as keys: the screen saver
 * extension says how long ago the last input of any kind came, and input
 * with the pointer still and no button pressed is taken as typing.
 */
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>

/* What an event from the server says. */
enum class RawInput {
	Motion, /* the pointer moved (or anything else that asks for a look) */
	Button, /* a mouse button was pressed */
	Wheel,  /* the wheel turned: input, but no click */
};
RawInput classify_event(const xcb_generic_event_t *event);

/* The buttons of a pointer query's mask that make a click (1 to 3). */
constexpr uint16_t CLICK_BUTTONS = XCB_KEY_BUT_MASK_BUTTON_1 |
				   XCB_KEY_BUT_MASK_BUTTON_2 |
				   XCB_KEY_BUT_MASK_BUTTON_3;

/* Watches the time since the last input, for key input. */
class KeyInputWatch {
public:
	using Clock = std::chrono::steady_clock;
	/* how often the server is asked while typing is watched: often
	 * enough for the linger time (half a second at least) */
	static constexpr auto PERIOD = std::chrono::milliseconds(200);

	/* On a new connection: false when the server has no screen saver
	 * extension (then no key input is ever seen). */
	bool start(xcb_connection_t *c);
	/* The pointer moved or a button was pressed at `when`. */
	void note_pointer(Clock::time_point when) { pointer_input = when; }
	/* When the server should next be asked. */
	Clock::time_point due() const { return next; }
	/* Asks the server (one round trip): true when input came since the
	 * last look while the pointer stood still. */
	bool look(xcb_connection_t *c, xcb_window_t root,
		  Clock::time_point now);

private:
	bool present = false;
	Clock::time_point next;
	Clock::time_point last_input; /* the last input seen */
	Clock::time_point pointer_input;
};
