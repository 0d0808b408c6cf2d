/* The zoom filter's descriptor and the start and end of an instance. */
#include "filter/zoom-filter.hpp"

#include <cstring>
#include <new>

static const char *zoom_filter_get_name(void *)
{
	return obs_module_text("Tavimore.FilterNameFree");
}

/* The filter's "rename" signal: the keys' descriptions follow its name. */
static void zoom_filter_renamed(void *data, calldata_t *cd)
{
	static_cast<ZoomFilter *>(data)->keys.renamed(
		calldata_string(cd, "new_name"));
}

static void *zoom_filter_create(obs_data_t *settings, obs_source_t *source)
{
	auto *filter = new (std::nothrow) ZoomFilter(source);
	if (!filter)
		return nullptr;
	signal_handler_connect(obs_source_get_signal_handler(source), "rename",
			       zoom_filter_renamed, filter);

	filter->renderer.load();
	zoom_filter_update(filter, settings);
	filter->selection.settle();
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
	set_follower(filter, nullptr);

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
	info.filter_remove = [](void *data, obs_source_t *) {
		static_cast<ZoomFilter *>(data)->keys.removed();
	};
	info.save = [](void *data, obs_data_t *) {
		static_cast<ZoomFilter *>(data)->keys.save();
	};
	info.video_get_color_space = zoom_filter_color_space;
	obs_register_source(&info);
	/* libobs refuses a descriptor larger than its own (from a module
	 * built for a newer libobs) with a warning and no result: the type
	 * is there, and ours, when libobs names it as this filter does */
	const char *name = obs_source_get_display_name(info.id);
	return name && std::strcmp(name, zoom_filter_get_name(nullptr)) == 0;
}
