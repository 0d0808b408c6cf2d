#include <obs-module.h>

#include "plugin-support.hpp"
#include "../filter/zoom-filter.hpp"
#include "../remote/zoom-remote.hpp"
#include "../tracking/pointer-source.hpp"

OBS_DECLARE_MODULE()
OBS_MODULE_USE_DEFAULT_LOCALE(PLUGIN_NAME, "en-US")

bool obs_module_load(void)
{
	note_ui_tasks();
	if (!register_zoom_filter()) {
		/* the user would find no filter: say why, and fail the load */
		log_message(LOG_ERROR,
			    "libobs refused the filter: this module was built "
			    "for libobs %d.%d.%d, OBS runs libobs %s; install "
			    "the build made for this OBS",
			    LIBOBS_API_MAJOR_VER, LIBOBS_API_MINOR_VER,
			    LIBOBS_API_PATCH_VER, obs_get_version_string());
		return false;
	}
	log_message(LOG_INFO, "plugin loaded successfully (version %s)",
		    PLUGIN_VERSION);
	return true;
}

/* obs-websocket takes vendors only once every module has loaded */
void obs_module_post_load(void)
{
	remote_register();
}

void obs_module_unload(void)
{
	remote_unregister();
	stop_pointer_sampler();
	log_message(LOG_INFO, "plugin unloaded");
}
