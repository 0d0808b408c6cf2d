/*
 * Stage toggle hotkeys and the idle zoom hold keys, all registered on the
 * source that the filter is attached to (filters are private sources, which
 * cannot have hotkeys of their own).
 *
 * libobs runs the callbacks on its hotkey thread with its hotkey mutex held,
 * and registering or unregistering takes that mutex too. The callbacks take
 * the filter's lock; so nothing here holds the lock while calling a libobs
 * hotkey function, or that would deadlock against a key press.
 */
#include "zoom-filter.hpp"

#include <string>

void register_missing_stage_hotkeys(ZoomFilter *filter)
{
	obs_source_t *parent = obs_filter_get_parent(filter->source);
	if (!parent)
		return;

	for (size_t i = 0; i < filter->stages.size(); i++) {
		ZoomStage &stage = filter->stages[i];
		if (stage.hotkey_id != OBS_INVALID_HOTKEY_ID)
			continue;

		auto context = std::make_unique<StageHotkeyContext>();
		context->filter = filter;
		context->stage_index = static_cast<int32_t>(i);

		const std::string number = std::to_string(i + 1);
		const std::string name = "tavimore.stage_" + number;
		const std::string description =
			std::string(obs_module_text("Hotkey.ToggleStage")) +
			" " + number;

		stage.hotkey_id = obs_hotkey_register_source(
			parent, name.c_str(), description.c_str(),
			on_stage_hotkey, context.get());
		/* a refused registration keeps its context until the retry */
		filter->stage_hotkey_contexts[i] = std::move(context);
	}
}

void register_hotkeys_once(ZoomFilter *filter)
{
	if (filter->hotkeys_registered)
		return;
	obs_source_t *parent = obs_filter_get_parent(filter->source);
	if (!parent)
		return;

	sync_stages(filter);
	filter->idle_zoom_in_hotkey = obs_hotkey_register_source(
		parent, "tavimore.idle_zoom_in",
		obs_module_text("Hotkey.IdleZoomIn"), on_idle_zoom_in, filter);
	filter->idle_zoom_out_hotkey = obs_hotkey_register_source(
		parent, "tavimore.idle_zoom_out",
		obs_module_text("Hotkey.IdleZoomOut"), on_idle_zoom_out,
		filter);
	filter->idle_hotkey = obs_hotkey_register_source(
		parent, "tavimore.idle", obs_module_text("Hotkey.ReturnToIdle"),
		on_idle_hotkey, filter);
	filter->hotkeys_registered = true;
}

void on_stage_hotkey(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	auto *context = static_cast<StageHotkeyContext *>(data);
	/* a toggle acts on the press; a hold stage on press and release */
	press_stage_key(context->filter, context->stage_index, pressed);
}

static void set_held(ZoomFilter *filter, bool ZoomFilter::*held, bool pressed)
{
	{
		std::lock_guard<std::mutex> guard(filter->lock);
		filter->*held = pressed;
	}
	if (!pressed)
		save_idle_zoom_factor(filter);
}

void on_idle_zoom_in(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	set_held(static_cast<ZoomFilter *>(data), &ZoomFilter::zoom_in_held,
		 pressed);
}

void on_idle_zoom_out(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	set_held(static_cast<ZoomFilter *>(data), &ZoomFilter::zoom_out_held,
		 pressed);
}

void on_idle_hotkey(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (pressed)
		press_idle_key(static_cast<ZoomFilter *>(data));
}

void save_idle_zoom_factor(ZoomFilter *filter)
{
	double zoom;
	{
		std::lock_guard<std::mutex> guard(filter->lock);
		zoom = filter->idle.zoom_factor;
	}
	/* the settings object is written outside the state lock */
	std::lock_guard<std::mutex> guard(filter->settings_lock);
	obs_data_t *settings = obs_source_get_settings(filter->source);
	obs_data_set_double(settings, "idle_zoom_factor", zoom);
	obs_data_release(settings);
}
