#include "capture-spec.hpp"

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

static void read_cuts(obs_data_t *settings, CaptureSpec &spec)
{
	spec.cut_top = obs_data_get_int(settings, "cut_top");
	spec.cut_left = obs_data_get_int(settings, "cut_left");
	spec.cut_right = obs_data_get_int(settings, "cut_right");
	spec.cut_bot = obs_data_get_int(settings, "cut_bot");
}

CaptureSpec capture_spec_of(obs_source_t *parent)
{
	CaptureSpec spec;
	const char *id = parent ? obs_source_get_unversioned_id(parent)
				: nullptr;
	if (!id)
		return spec;
	if (std::strcmp(id, "xshm_input") == 0) {
		OBSDataAutoRelease settings = obs_source_get_settings(parent);
		spec.kind = CaptureSpec::SCREEN;
		spec.screen = obs_data_get_int(settings, "screen");
		read_cuts(settings, spec);
	} else if (std::strcmp(id, "xcomposite_input") == 0) {
		OBSDataAutoRelease settings = obs_source_get_settings(parent);
		spec.kind = CaptureSpec::WINDOW;
		spec.window = capture_window_id(
			obs_data_get_string(settings, "capture_window"));
		spec.include_border =
			obs_data_get_bool(settings, "include_border");
		read_cuts(settings, spec);
	}
	return spec;
}
