#include <obs-module.h>

#include "core/plugin-support.hpp"
#include "filter/zoom-api.hpp"
#include "remote/zoom-remote.hpp"
#include "tracking/face-tracker.hpp"
#include "tracking/pointer-source.hpp"

OBS_DECLARE_MODULE()
OBS_MODULE_USE_DEFAULT_LOCALE(PLUGIN_NAME, "en-US")

/* What OBS's plug-in manager shows when the module's manifest.json does
 * not name it; in the user's language */
const char *obs_module_name(void)
{
	return obs_module_text("Tavimore.ModuleName");
}

const char *obs_module_description(void)
{
	return obs_module_text("Tavimore.ModuleDescription");
}

bool obs_module_load(void)
{
	note_ui_tasks();
	set_stage_changed_hook(remote_stage_changed);
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
	/* (libobs unloads modules on the thread that shuts it down) */
	wait_for_face_workers();
	log_message(LOG_INFO, "plugin unloaded");
}
