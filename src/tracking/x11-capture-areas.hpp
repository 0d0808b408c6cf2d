/*
 * The X plumbing of the pointer sampler (x11-capture-areas.cpp): what the
 * connection offers, the capture areas, and the xcb helpers they share.
 */
#pragma once

#include "core/zoom-core.hpp"
#include "tracking/capture-settings.hpp"

#include <xcb/xcb.h>

#include <cstdlib>

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

/* Whether randr lists monitors (1.5 or later). */
bool randr_has_monitors(xcb_connection_t *c);
/* Asks for XInput 2's raw motion events of every pointer on the root
 * window, so that a still pointer costs nothing; false when the server has no
 * XInput 2 (the sampler then polls). */
bool select_motion(xcb_connection_t *c, xcb_window_t root);
/* The screen capture's area: randr, else xinerama, else the X screen, for
 * its screen setting, less its cut margins. */
bool screen_capture_area(xcb_connection_t *c, xcb_window_t root, bool monitors,
			 const CaptureSettings &capture, CaptureRect &r);
/* Whether the screen capture gets a picture of that area: the X server
 * hands out only areas on the screen. Negative margins widen it onto a
 * neighbouring monitor, which is fine, but not off the screen. */
bool on_screen(const CaptureRect &r, const CaptureRect &screen);
/* The window a window capture shows: with none chosen, the first client
 * window; with an id, a title and a class, that id while it is a client
 * window, else the first client of that title and class; else the id. */
xcb_window_t find_window(xcb_connection_t *c, xcb_window_t root,
			 const CaptureSettings &capture);
enum class WindowArea { Found, Gone };
/* The window capture's area: the window on the root window, less its cut
 * margins (the capture starts at the outer corner of the border). */
WindowArea window_capture_area(xcb_connection_t *c, xcb_window_t root,
			       xcb_window_t window,
			       const CaptureSettings &capture, CaptureRect &r);
/* Whether a window capture of that area gives a picture. */
bool window_usable(const CaptureSettings &capture, const CaptureRect &r);
