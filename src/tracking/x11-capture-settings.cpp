#include "tracking/capture-settings.hpp"

#include <obs.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

/* The window capture's "capture_window" is "ID\r\nNAME\r\nCLASS" (the id in
 * decimal, the title and the first part of WM_CLASS), or a bare id from
 * older versions, or empty while none is chosen. */
const char MARK[] = "\r\n";
constexpr size_t MARK_SIZE = sizeof MARK - 1;

/* The number before the first line break; 0 when there is none. */
uint32_t window_id(const char *setting)
{
	if (*setting < '0' || *setting > '9')
		return 0;
	errno = 0;
	char *end = nullptr;
	const unsigned long long id = std::strtoull(setting, &end, 10);
	if (errno || id > 0xffffffffull || (*end && *end != '\r'))
		return 0;
	return static_cast<uint32_t>(id);
}

void read_window(const char *setting, CaptureSettings &capture)
{
	if (!setting || !*setting) {
		capture.window_match =
			CaptureSettings::WindowMatch::FirstClient;
		return;
	}
	capture.window = window_id(setting);
	const char *first = std::strstr(setting, MARK);
	const char *second = first ? std::strstr(first + MARK_SIZE, MARK)
				   : nullptr;
	if (!second)
		return;
	capture.window_match = CaptureSettings::WindowMatch::ByIdNameClass;
	capture.window_name.assign(first + MARK_SIZE, second);
	capture.window_class.assign(second + MARK_SIZE);
}

void read_cuts(obs_data_t *settings, CaptureSettings &capture)
{
	capture.cut_top = obs_data_get_int(settings, "cut_top");
	capture.cut_left = obs_data_get_int(settings, "cut_left");
	capture.cut_right = obs_data_get_int(settings, "cut_right");
	capture.cut_bot = obs_data_get_int(settings, "cut_bot");
}

} // namespace

void capture_settings_from(const char *id, obs_data_t *settings,
			   CaptureSettings &capture)
{
	/* field by field: the strings keep their buffers */
	capture.kind = CaptureSettings::Kind::WholeScreen;
	capture.screen = 0;
	capture.window = 0;
	capture.window_match = CaptureSettings::WindowMatch::ById;
	capture.window_name.clear();
	capture.window_class.clear();
	capture.include_border = false;
	capture.cut_top = capture.cut_left = 0;
	capture.cut_right = capture.cut_bot = 0;
	if (!id || !settings)
		return;
	/* OBS 31 made the screen capture "xshm_input_v2" (with no screen
	 * chosen, -1, until the user picks one) and kept the old type for
	 * existing scenes; both take the same settings */
	if (std::strcmp(id, "xshm_input") == 0 ||
	    std::strcmp(id, "xshm_input_v2") == 0) {
		capture.kind = CaptureSettings::Kind::Screen;
		capture.screen = obs_data_get_int(settings, "screen");
		read_cuts(settings, capture);
	} else if (std::strcmp(id, "xcomposite_input") == 0) {
		capture.kind = CaptureSettings::Kind::Window;
		read_window(obs_data_get_string(settings, "capture_window"),
			    capture);
		capture.include_border =
			obs_data_get_bool(settings, "include_border");
		read_cuts(settings, capture);
	}
}

void capture_settings_of(obs_source_t *parent, CaptureSettings &capture)
{
	const char *id = parent ? obs_source_get_unversioned_id(parent)
				: nullptr;
	OBSDataAutoRelease settings = id ? obs_source_get_settings(parent)
					 : nullptr;
	capture_settings_from(id, settings, capture);
}
