#include <obs-module.h>

#include "plugin-support.hpp"
#include "../filter/zoom-filter.hpp"
#include "../tracking/pointer-source.hpp"

OBS_DECLARE_MODULE()
OBS_MODULE_USE_DEFAULT_LOCALE(PLUGIN_NAME, "en-US")

bool obs_module_load(void)
{
	register_zoom_filter();
	log_message(LOG_INFO, "plugin loaded successfully (version %s)",
		    PLUGIN_VERSION);
	return true;
}

void obs_module_unload(void)
{
	stop_pointer_sampler();
	log_message(LOG_INFO, "plugin unloaded");
}
