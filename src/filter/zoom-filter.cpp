/* The zoom filter's descriptor and the start and end of an instance. */
#include "filter/zoom-filter.hpp"

#include <chrono>
#include <cmath>
#include <cstring>
#include <new>

static const char *zoom_filter_get_name(void *)
{
	return obs_module_text("Tavimore.FilterNameFree");
}

static void *zoom_filter_create(obs_data_t *settings, obs_source_t *source)
{
	auto *filter = new (std::nothrow) ZoomFilter();
	if (!filter)
		return nullptr;
	filter->source = source;
	/* microseconds: no filter changes its target a million times a
	 * second, so one made later starts above every earlier one */
	filter->stage_sequence =
		std::chrono::duration_cast<std::chrono::microseconds>(
			std::chrono::system_clock::now().time_since_epoch())
			.count();
	const char *name = obs_source_get_name(source);
	filter->wanted_name = name ? name : "";
	signal_handler_connect(obs_source_get_signal_handler(source), "rename",
			       zoom_filter_renamed, filter);

	filter->renderer.load();
	zoom_filter_update(filter, settings);

	/* The filter starts at rest on the idle zoom. An idle zoom that is not
	 * a finite number starts at 1 instead, so that no transition ever
	 * starts from it. */
	const double zoom = std::isfinite(filter->idle.zoom_factor)
				    ? filter->idle.zoom_factor
				    : 1.0;
	filter->transition_progress = 1.0;
	filter->transition_start_zoom = zoom;
	filter->current_zoom = zoom;
	return filter;
}

static void zoom_filter_destroy(void *data)
{
	auto *filter = static_cast<ZoomFilter *>(data);
	signal_handler_disconnect(obs_source_get_signal_handler(filter->source),
				  "rename", zoom_filter_renamed, filter);

	/* libobs destroys a source once nothing holds it, so no hotkey work
	 * is under way (it holds the filter while it runs): every hotkey goes
	 * before any data handed with it */
	unregister_all_hotkeys(filter);
	obs_weak_source_release(filter->wanted_parent);
	close_follower(filter);

	filter->renderer.unload();

	delete filter;
}

bool register_zoom_filter()
{
	obs_source_info info = {};
	info.id = ZOOM_FILTER_ID;
	info.type = OBS_SOURCE_TYPE_FILTER;
	/* drawn in linear light, in the colour space of its input */
	info.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_SRGB;
	info.get_name = zoom_filter_get_name;
	info.create = zoom_filter_create;
	info.destroy = zoom_filter_destroy;
	info.get_defaults = zoom_filter_get_defaults;
	info.get_properties = zoom_filter_properties;
	info.update = zoom_filter_update;
	info.video_tick = zoom_filter_tick;
	info.video_render = zoom_filter_render;
	info.filter_remove = zoom_filter_remove;
	info.save = zoom_filter_save;
	info.video_get_color_space = zoom_filter_color_space;
	obs_register_source(&info);
	/* libobs refuses a descriptor larger than its own (from a module
	 * built for a newer libobs) with a warning and no result: the type
	 * is there, and ours, when libobs names it as this filter does */
	const char *name = obs_source_get_display_name(info.id);
	return name && std::strcmp(name, zoom_filter_get_name(nullptr)) == 0;
}
