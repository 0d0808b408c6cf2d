/* The filter's settings: defaults and reading them into the instance. */
#include "filter/zoom-filter.hpp"
#include "filter/zoom-keys.hpp"
#include "core/zoom-core.hpp"
#include "tracking/face-follow.hpp"

#include <algorithm>
#include <cmath>
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
	obs_data_set_default_int(settings, KEY_AUTO_ZOOM, int(AutoZoom::Off));
	obs_data_set_default_int(settings, KEY_AUTO_ZOOM_STAGE, 1);
	obs_data_set_default_double(settings, KEY_AUTO_ZOOM_LINGER, 2.5);

	/* the targets' own framing, curves and centre modes, after every key
	 * that came before them */
	for (int i = -1; i < MAX_STAGES; i++) {
		const TargetKeys &keys = i < 0 ? idle : stage_keys(i);
		obs_data_set_default_bool(settings, keys.face_framing, false);
		obs_data_set_default_double(settings, keys.face_share,
					    FACE_SHARE_DEFAULT);
		obs_data_set_default_string(settings, keys.easing,
					    curve_name(Curve::Filter));
		obs_data_set_default_string(settings, keys.bezier,
					    DEFAULT_BEZIER_TEXT);
		obs_data_set_default_string(settings, keys.center_mode,
					    center_mode_name(CenterMode::Set));
	}
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

/* A target's values as the settings hold them: its centre mode from
 * center_tracking and the stored mode together. */
static ZoomStage read_target(obs_data_t *settings, const TargetKeys &keys)
{
	ZoomStage target;
	target.zoom_factor = obs_data_get_double(settings, keys.zoom_factor);
	target.center_tracking =
		obs_data_get_bool(settings, keys.center_tracking);
	target.center_x = obs_data_get_double(settings, keys.center_x);
	target.center_y = obs_data_get_double(settings, keys.center_y);
	target.duration = obs_data_get_double(settings, keys.duration);
	target.face_framing = obs_data_get_bool(settings, keys.face_framing);
	target.face_share =
		std::clamp(obs_data_get_double(settings, keys.face_share),
			   FACE_SHARE_MIN, FACE_SHARE_MAX);
	target.center_mode = center_mode_from(
		target.center_tracking,
		obs_data_get_string(settings, keys.center_mode));
	target.curve = curve_from(obs_data_get_string(settings, keys.easing));
	/* a Bézier that does not read as four numbers is the default one, as
	 * an empty field would be */
	parse_bezier(obs_data_get_string(settings, keys.bezier), target.bezier);
	return target;
}

void zoom_filter_update(void *data, obs_data_t *settings)
{
	auto *filter = static_cast<ZoomFilter *>(data);

	/* an idle hold key's release may be writing to the settings: the
	 * idle target is read and set under this (its zoom stays while the
	 * key is down) */
	std::unique_lock<std::mutex> reading(filter->settings_lock);
	filter->selection.set_idle(read_target(settings, idle_keys()));
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
	const long long auto_zoom = obs_data_get_int(settings, KEY_AUTO_ZOOM);
	filter->auto_zoom = auto_zoom == int(AutoZoom::Clicks)
				    ? AutoZoom::Clicks
			    : auto_zoom == int(AutoZoom::ClicksAndTyping)
				    ? AutoZoom::ClicksAndTyping
				    : AutoZoom::Off;
	/* past the stage list: its last stage */
	filter->auto_stage = static_cast<int32_t>(std::clamp<long long>(
		obs_data_get_int(settings, KEY_AUTO_ZOOM_STAGE) - 1, 0,
		MAX_STAGES - 1));
	const double linger =
		obs_data_get_double(settings, KEY_AUTO_ZOOM_LINGER);
	filter->auto_linger =
		std::isfinite(linger)
			? std::clamp(linger, AUTO_LINGER_MIN, AUTO_LINGER_MAX)
			: 2.5;

	const int32_t count =
		std::min(std::max(filter->stage_count, 1), MAX_STAGES);
	std::vector<ZoomStage> stages;
	std::vector<std::string> key_names;
	for (int i = 0; i < count; i++) {
		const TargetKeys &keys = stage_keys(i);
		const char *name = obs_data_get_string(settings, keys.name);
		stages.push_back(read_target(settings, keys));
		stages.back().name = name ? name : "";
		stages.back().hold = obs_data_get_bool(settings, keys.hold);
		key_names.push_back(chosen_stage_name(i, name));
	}
	filter->sheet_wanted = sheet_fingerprint(settings);
	reading.unlock();

	filter->keys.follow_parent();
	/* keys and requests read the stages on other threads */
	filter->selection.set_stages(stages);
	filter->keys.want_stages(size_t(count), std::move(key_names));
	/* outside the selection's lock: opening or closing the face tracker
	 * enters the graphics context, inside which render takes it */
	sync_tracking(filter);
}
