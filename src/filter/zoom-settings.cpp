/* The filter's settings: defaults and reading them into the instance. */
#include "filter/zoom-filter.hpp"
#include "filter/zoom-keys.hpp"
#include "core/zoom-core.hpp"

#include <cstdio>
#include <string>

void zoom_filter_get_defaults(obs_data_t *settings)
{
	const TargetKeys &idle = idle_keys();
	obs_data_set_default_double(settings, idle.zoom_factor, 1.0);
	obs_data_set_default_bool(settings, idle.center_tracking, false);
	obs_data_set_default_double(settings, idle.center_x, 0.5);
	obs_data_set_default_double(settings, idle.center_y, 0.5);
	obs_data_set_default_double(settings, idle.duration, 0.5);

	obs_data_set_default_int(settings, KEY_EASING_IN,
				 int(Easing::EaseInOut));
	obs_data_set_default_int(settings, KEY_EASING_OUT,
				 int(Easing::EaseInOut));
	obs_data_set_default_double(settings, KEY_TRACKING_SMOOTHING, 0.6);
	obs_data_set_default_bool(settings, KEY_HELP_SHOW, false);
	obs_data_set_default_int(settings, KEY_STAGE_COUNT, 1);

	for (int i = 0; i < MAX_STAGES; i++) {
		const TargetKeys &keys = stage_keys(i);
		char name[16];
		std::snprintf(name, sizeof(name), "Stage %d", i + 1);
		obs_data_set_default_string(settings, keys.name, name);
		obs_data_set_default_double(settings, keys.zoom_factor, 2.0);
		obs_data_set_default_bool(settings, keys.center_tracking,
					  false);
		obs_data_set_default_double(settings, keys.center_x, 0.5);
		obs_data_set_default_double(settings, keys.center_y, 0.5);
		obs_data_set_default_double(settings, keys.duration, 0.5);
	}
	for (int i = 0; i < MAX_STAGES; i++)
		obs_data_set_default_bool(settings, stage_keys(i).hold, false);

	obs_data_set_default_double(settings, KEY_TRACKING_DEAD_ZONE,
				    DEFAULT_DEAD_ZONE);
	obs_data_set_default_string(settings, KEY_TRACKING_SUBJECT, "auto");

	/* the targets' own curves, after every key that came before them */
	for (int i = -1; i < MAX_STAGES; i++) {
		const TargetKeys &keys = i < 0 ? idle : stage_keys(i);
		obs_data_set_default_string(settings, keys.easing,
					    curve_name(Curve::Filter));
		obs_data_set_default_string(settings, keys.bezier,
					    DEFAULT_BEZIER_TEXT);
		obs_data_set_default_string(settings, keys.center_mode,
					    center_mode_name(CenterMode::Set));
	}
}

/* A target's curve and centre mode; a Bézier that does not read as four
 * numbers is the default one, as an empty field would be. */
static void read_motion(obs_data_t *settings, const TargetKeys &keys,
			ZoomStage &target)
{
	target.center_mode = center_mode_from(
		obs_data_get_bool(settings, keys.center_tracking),
		obs_data_get_string(settings, keys.center_mode));
	target.curve = curve_from(obs_data_get_string(settings, keys.easing));
	target.bezier = Bezier{};
	parse_bezier(obs_data_get_string(settings, keys.bezier), target.bezier);
}

std::string chosen_stage_name(int index, const char *name)
{
	if (!name)
		return "";
	std::string chosen = name;
	const size_t first = chosen.find_first_not_of(" \t\n");
	if (first == std::string::npos)
		return "";
	chosen = chosen.substr(first,
			       chosen.find_last_not_of(" \t\n") + 1 - first);
	const std::string number = std::to_string(index + 1);
	const std::string label_key = "Zoom.Group.Stage" + number;
	if (chosen == "Stage " + number ||
	    chosen == obs_module_text(label_key.c_str()))
		return "";
	return chosen;
}

void zoom_filter_update(void *data, obs_data_t *settings)
{
	auto *filter = static_cast<ZoomFilter *>(data);
	const TargetKeys &idle = idle_keys();

	/* an idle hold key's release may be writing to the settings; the
	 * lock is let go while sync_stages hands work to the hotkeys */
	std::unique_lock<std::mutex> reading(filter->settings_lock);
	const double idle_zoom =
		obs_data_get_double(settings, idle.zoom_factor);
	{
		/* the hotkey thread saves the idle zoom; while a hold key is
		 * down the zoom it reached so far stays. Requests read the
		 * idle target. */
		std::lock_guard<std::mutex> guard(filter->lock);
		if (!filter->zoom_in_held && !filter->zoom_out_held)
			filter->idle.zoom_factor = idle_zoom;
		filter->idle.center_tracking =
			obs_data_get_bool(settings, idle.center_tracking);
		filter->idle.center_x =
			obs_data_get_double(settings, idle.center_x);
		filter->idle.center_y =
			obs_data_get_double(settings, idle.center_y);
		filter->idle.duration =
			obs_data_get_double(settings, idle.duration);
		read_motion(settings, idle, filter->idle);
	}

	filter->easing_in =
		Easing(int(obs_data_get_int(settings, KEY_EASING_IN)));
	filter->easing_out =
		Easing(int(obs_data_get_int(settings, KEY_EASING_OUT)));
	filter->tracking_smoothing =
		obs_data_get_double(settings, KEY_TRACKING_SMOOTHING);
	filter->stage_count = static_cast<int32_t>(
		obs_data_get_int(settings, KEY_STAGE_COUNT));
	filter->tracking_dead_zone = clamp_dead_zone(
		obs_data_get_double(settings, KEY_TRACKING_DEAD_ZONE));
	filter->tracking_subject = tracking_subject_from(
		obs_data_get_string(settings, KEY_TRACKING_SUBJECT));

	reading.unlock();
	follow_parent(filter);
	sync_stages(filter);
	reading.lock();

	/* keys and requests read the stages on other threads */
	std::vector<std::string> key_names;
	std::unique_lock<std::mutex> guard(filter->lock);
	for (size_t i = 0; i < filter->stages.size(); i++) {
		const TargetKeys &keys = stage_keys(static_cast<int>(i));
		ZoomStage &stage = filter->stages[i];
		const char *name = obs_data_get_string(settings, keys.name);
		stage.name = name ? name : "";
		key_names.push_back(
			chosen_stage_name(static_cast<int>(i), name));
		stage.hold = obs_data_get_bool(settings, keys.hold);
		stage.zoom_factor =
			obs_data_get_double(settings, keys.zoom_factor);
		stage.center_tracking =
			obs_data_get_bool(settings, keys.center_tracking);
		stage.center_x = obs_data_get_double(settings, keys.center_x);
		stage.center_y = obs_data_get_double(settings, keys.center_y);
		stage.duration = obs_data_get_double(settings, keys.duration);
		read_motion(settings, keys, stage);
	}
	guard.unlock();
	filter->sheet_wanted = sheet_fingerprint(settings);
	reading.unlock();
	follow_stage_names(filter, std::move(key_names));
	/* outside `lock`: opening or closing the face tracker enters the
	 * graphics context, inside which render takes `lock` */
	sync_tracking(filter);
}
