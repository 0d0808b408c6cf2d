/*
 * Where the mouse pointer is, as fractions of what a filter's parent shows.
 * A filter that shows a tracking target holds a PointerClient; the tick asks
 * it for the latest position and gets plain numbers back, never waiting on
 * the display. The platform's implementation (X11: x11-pointer-source.cpp)
 * reads the pointer on a thread of its own while any client exists.
 */
#pragma once

#include <cstdint>
#include <memory>

/* What a filter's parent shows, in plain values. */
struct CaptureSettings {
	enum Kind : int {
		WHOLE_SCREEN = 0, /* any other source: the whole X screen */
		SCREEN = 1,       /* OBS's screen capture (xshm_input) */
		WINDOW = 2,       /* OBS's window capture (xcomposite_input) */
	};
	int kind = WHOLE_SCREEN;
	int64_t screen = 0;  /* SCREEN: its "screen" setting */
	uint32_t window = 0; /* WINDOW: the X window; 0 when none is set */
	bool include_border = false;
	int64_t cut_top = 0;
	int64_t cut_left = 0;
	int64_t cut_right = 0;
	int64_t cut_bot = 0;

	bool operator==(const CaptureSettings &o) const
	{
		return kind == o.kind && screen == o.screen &&
		       window == o.window &&
		       include_border == o.include_border &&
		       cut_top == o.cut_top && cut_left == o.cut_left &&
		       cut_right == o.cut_right && cut_bot == o.cut_bot;
	}
	bool operator!=(const CaptureSettings &o) const
	{
		return !(*this == o);
	}
};

/* One filter's view of the pointer. */
class PointerClient {
public:
	virtual ~PointerClient() = default;
	/* Says what the filter's parent shows (cheap when unchanged). */
	virtual void set_capture(const CaptureSettings &capture) = 0;
	/* The latest pointer position as fractions of that area, clamped to
	 * 0..1; false while none is known. Takes a short lock, never waits on
	 * the display and allocates nothing. */
	virtual bool latest(double &fx, double &fy) = 0;
};

/* A client of the platform's pointer, or null where none can be read (no X
 * display, Wayland). The first client starts the sampler, the last one
 * gone stops it. */
std::unique_ptr<PointerClient> open_pointer_client();

/* Stops the sampler if it still runs (at module unload). */
void stop_pointer_sampler();
