/* What a filter's parent shows, in plain values, read from its settings
 * (x11-capture-settings.cpp, windows-capture-settings.cpp). */
#pragma once

#include <cstdint>
#include <string>

typedef struct obs_source obs_source_t;
typedef struct obs_data obs_data_t;

struct CaptureSettings {
	enum class Kind {
		WholeScreen, /* any other source: the whole screen */
		Screen,      /* OBS's screen (display) capture */
		Window,      /* OBS's window capture */
	};
	/* how a window capture finds its window, as OBS's does on X11 */
	enum class WindowMatch {
		ById,          /* the window of that id */
		ByIdNameClass, /* that id while it is a client window, else
				  the first client of that name and class */
		FirstClient,   /* none chosen: the first client window */
	};
	Kind kind = Kind::WholeScreen;
	int64_t screen = 0;  /* Screen: the screen or monitor (-1: none) */
	uint32_t window = 0; /* Window: the window's id; 0 when none */
	WindowMatch window_match = WindowMatch::ById;
	std::string window_name;  /* ByIdNameClass: the title */
	std::string window_class; /* and WM_CLASS's first part */
	bool include_border = false;
	int64_t cut_top = 0;
	int64_t cut_left = 0;
	int64_t cut_right = 0;
	int64_t cut_bot = 0;

	bool operator==(const CaptureSettings &o) const
	{
		return kind == o.kind && screen == o.screen &&
		       window == o.window && window_match == o.window_match &&
		       window_name == o.window_name &&
		       window_class == o.window_class &&
		       include_border == o.include_border &&
		       cut_top == o.cut_top && cut_left == o.cut_left &&
		       cut_right == o.cut_right && cut_bot == o.cut_bot;
	}
};

/* Fills `capture` from the parent's source type and settings: on X11, OBS's
 * screen capture (xshm_input, and xshm_input_v2 from OBS 31 on) and window
 * capture (xcomposite_input) show an area of the X screen; any other
 * source, or none, shows the whole screen. Fills in place, so that a check
 * of an unchanged parent allocates nothing. */
void capture_settings_of(obs_source_t *parent, CaptureSettings &capture);

/* The same, from a source type's unversioned id and its settings (X11). */
void capture_settings_from(const char *id, obs_data_t *settings,
			   CaptureSettings &capture);
