/*
 * The preview's libobs host: libobs with its graphics thread (for the
 * graphics context), the module loaded from a given file and data folder,
 * an input source that shows a picture, and one zoom filter on it.
 *
 * Frames are driven by us, not by libobs's clock: libobs's graphics thread
 * ticks every source in real time, so the host keeps the filter descriptor
 * that the module registers (it stands between the module and libobs's
 * obs_register_source_s), hands libobs a copy whose video_tick does nothing,
 * and calls the module's own video_tick itself with exact frame times. The
 * input is not part of any scene, so libobs never renders it; every other
 * callback (create, update, render, the hotkeys) runs through libobs as in
 * OBS Studio. Ticks, hotkey presses and renders all happen on the caller's
 * thread, one after another.
 */
#pragma once

#include "pictures.hpp"

#include <obs.h>

#include <map>
#include <string>

class PreviewHost {
public:
	/* Starts libobs (needs an X display) and loads the module; with
	 * `verbose`, libobs's log goes to stderr. Throws std::runtime_error
	 * with a one-line reason. */
	PreviewHost(const std::string &module, const std::string &data,
		    bool verbose);
	~PreviewHost();
	PreviewHost(const PreviewHost &) = delete;
	PreviewHost &operator=(const PreviewHost &) = delete;

	/* Decodes a picture with libobs's image loader. */
	RgbaImage load_image(const std::string &path) const;

	/* Makes the input source showing `input` at width x height and puts
	 * a zoom filter with `settings` on it. Throws when the module reports
	 * an error while creating the filter. */
	void create_filter(const RgbaImage &input, uint32_t width,
			   uint32_t height, obs_data_t *settings);

	/* Shows another picture of the same size (a video's next frame). */
	void set_picture(const RgbaImage &picture);

	/* The ids of the hotkeys registered on the input, by name. */
	std::map<std::string, obs_hotkey_id> hotkeys() const;

	/* One frame of the filter, `seconds` after the one before. */
	void tick(float seconds);
	/* Renders the input through its filter and reads the pixels back. */
	RgbaImage render();

private:
	void start(const std::string &module, const std::string &data);
	void stop();

	obs_source_t *input = nullptr;
	obs_source_t *filter = nullptr;
	gs_texrender_t *texrender = nullptr;
	gs_stagesurf_t *stagesurf = nullptr;
	uint32_t width = 0;
	uint32_t height = 0;
	bool started = false;
	bool verbose = false;
};

/* Whether an X display can be opened (libobs needs one to start). */
bool x_display_available();
/* Moves the X display's pointer to those fractions of its screen (XTest),
 * then gives the module's pointer sampler, which runs in real time, 0.1 s
 * to read it. */
void move_pointer(double fx, double fy);
/* Moves the pointer there and clicks its first button, then gives the
 * module 0.1 s to read the click. */
void click_pointer(double fx, double fy);
/* Presses and releases a key (Shift, which types nothing), then gives the
 * module, which looks for key input five times a second, 0.25 s. */
void type_key();
/* Waits (up to 10 s) until the module's face detector thread, if any, has
 * finished its work: it runs in real time beside the frames. */
void wait_for_face_detector();
/* The last error line that libobs logged (e.g. why a JSON text did not
 * parse); empty when none. */
std::string last_libobs_error();
/* Captures libobs's log from now on; with `echo`, also writes it to
 * stderr. */
void capture_libobs_log(bool echo);
