/*
 * The X plumbing of the pointer sampler (x11-capture-areas.cpp): its
 * connection and what it offers, the capture areas, and the xcb helpers
 * they share. Sampler thread only.
 */
#pragma once

#include "core/zoom-core.hpp"
#include "tracking/capture-settings.hpp"
#include "tracking/x11-activity.hpp"

#include <xcb/xcb.h>

#include <cstdlib>
#include <vector>

/* Replies of xcb, freed on every path. */
template<typename T> struct Reply {
	T *p = nullptr;
	~Reply() { free(p); }
	T *operator->() const { return p; }
	explicit operator bool() const { return p != nullptr; }
};

/* Takes a reply, dropping any error that came instead of it. */
template<typename T> T *take(T *reply, xcb_generic_error_t *error)
{
	free(error);
	if (error) {
		free(reply);
		return nullptr;
	}
	return reply;
}

/* A request's reply, by the request's reply function and cookie. */
template<typename T, typename Cookie>
Reply<T> ask(xcb_connection_t *c,
	     T *(*reply)(xcb_connection_t *, Cookie, xcb_generic_error_t **),
	     Cookie cookie)
{
	xcb_generic_error_t *e = nullptr;
	T *r = reply(c, cookie, &e);
	return Reply<T>{take(r, e)};
}

/* Asks for XInput 2's raw motion events of every pointer on the root
 * window, so that a still pointer costs nothing, and with `buttons` its raw
 * button presses too; false when the server has no XInput 2 (the sampler
 * then polls). */
bool select_motion(xcb_connection_t *c, xcb_window_t root,
		   bool buttons = false);
/* The module's own connection, owned by the sampler thread. */
struct Link {
	xcb_connection_t *c = nullptr;
	const xcb_screen_t *screen = nullptr;
	xcb_window_t root = 0;
	bool monitors = false; /* randr 1.5 lists monitors */
	bool pending = false;  /* a pointer query awaits its reply */
	bool events = false;   /* XInput 2 reports motion: no polling */
	bool moved = false;    /* motion reported since the last query */
	xcb_query_pointer_cookie_t cookie = {0};
	/* clicks: raw button presses selected; a press seen, whose position
	 * the next query asks for; the query in flight asks for it */
	bool buttons = false;
	bool clicked = false;
	bool click_query = false;
	uint16_t mask = 0; /* without XInput 2: the buttons down last */
	int16_t last_x = -1, last_y = -1;
	bool keys = false; /* some client watches typing */
	KeyInputWatch key_watch;
};

/* Opens the module's own connection; false when there is no X display. */
bool open_link(Link &link);

class PointerClient;
/* A capture area to look up, for one client. */
struct AreaJob {
	PointerClient *client;
	CaptureSettings capture;
	uint32_t window; /* the window found last for a window capture */
	bool found = false;
	bool gone = false;
	CaptureRect area = {0, 0, 0, 0};
};
/* Looks up each job's area: the screen or window capture's, or the whole
 * screen where it has none; a window capture's window found anew when it
 * has gone. */
void look_up_areas(const Link &link, std::vector<AreaJob> &jobs);
