#include "capture-settings.hpp"

#include <obs.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>

uint32_t capture_window_id(const char *setting)
{
	if (!setting || *setting < '0' || *setting > '9')
		return 0;
	errno = 0;
	char *end = nullptr;
	const unsigned long long id = std::strtoull(setting, &end, 10);
	/* the id stands alone or is followed by "\r\n", name and class */
	if (errno || id > 0xffffffffull || (*end && *end != '\r'))
		return 0;
	return static_cast<uint32_t>(id);
}

static void read_cuts(obs_data_t *settings, CaptureSettings &capture)
{
	capture.cut_top = obs_data_get_int(settings, "cut_top");
	capture.cut_left = obs_data_get_int(settings, "cut_left");
	capture.cut_right = obs_data_get_int(settings, "cut_right");
	capture.cut_bot = obs_data_get_int(settings, "cut_bot");
}

CaptureSettings capture_settings_of(obs_source_t *parent)
{
	CaptureSettings capture;
	const char *id = parent ? obs_source_get_unversioned_id(parent)
				: nullptr;
	if (!id)
		return capture;
	if (std::strcmp(id, "xshm_input") == 0) {
		OBSDataAutoRelease settings = obs_source_get_settings(parent);
		capture.kind = CaptureSettings::SCREEN;
		capture.screen = obs_data_get_int(settings, "screen");
		read_cuts(settings, capture);
	} else if (std::strcmp(id, "xcomposite_input") == 0) {
		OBSDataAutoRelease settings = obs_source_get_settings(parent);
		capture.kind = CaptureSettings::WINDOW;
		capture.window = capture_window_id(
			obs_data_get_string(settings, "capture_window"));
		capture.include_border =
			obs_data_get_bool(settings, "include_border");
		read_cuts(settings, capture);
	}
	return capture;
}
