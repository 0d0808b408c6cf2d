/* The filter's property sheet. */
#include "zoom-filter.hpp"
#include "zoom-keys.hpp"
#include "zoom-core.hpp"

static const char *const STAGE_GROUP_LABELS[MAX_STAGES] = {
	"Zoom.Group.Stage1", "Zoom.Group.Stage2", "Zoom.Group.Stage3",
	"Zoom.Group.Stage4", "Zoom.Group.Stage5", "Zoom.Group.Stage6",
	"Zoom.Group.Stage7", "Zoom.Group.Stage8",
};

void add_zoom_group(obs_properties_t *props, const char *prefix,
		    const char *label, bool with_name)
{
	obs_properties_t *group = obs_properties_create();
	const TargetKeys keys = make_keys(prefix, with_name);

	if (with_name)
		obs_properties_add_text(group, keys.name,
					obs_module_text("Zoom.Stage.Name"),
					OBS_TEXT_DEFAULT);
	obs_properties_add_float_slider(group, keys.zoom_factor,
					obs_module_text("Zoom.Stage.Factor"),
					1.0, 5.0, 0.1);
	obs_properties_add_float_slider(group, keys.duration,
					obs_module_text("Zoom.Stage.Duration"),
					0.05, 3.0, 0.05);
	obs_properties_add_bool(group, keys.center_tracking,
				obs_module_text("Zoom.TrackingEnabled"));
	obs_properties_add_float_slider(group, keys.center_x,
					obs_module_text("Zoom.CenterX"), 0.0,
					1.0, 0.01);
	obs_properties_add_float_slider(group, keys.center_y,
					obs_module_text("Zoom.CenterY"), 0.0,
					1.0, 0.01);
	if (with_name)
		obs_properties_add_bool(group, keys.hold,
					obs_module_text("Zoom.Stage.Hold"));

	obs_properties_add_group(props, keys.group, label, OBS_GROUP_NORMAL,
				 group);
}

static void add_easing_items(obs_property_t *list)
{
	obs_property_list_add_int(list, obs_module_text("Zoom.Easing.Linear"),
				  0);
	obs_property_list_add_int(list,
				  obs_module_text("Zoom.Easing.EaseInOut"), 1);
	obs_property_list_add_int(list, obs_module_text("Zoom.Easing.EaseOut"),
				  2);
}

obs_properties_t *zoom_filter_properties(void *data)
{
	auto *filter = static_cast<ZoomFilter *>(data);
	obs_properties_t *props = obs_properties_create();

	add_zoom_group(props, idle_keys().prefix,
		       obs_module_text("Zoom.Group.Idle"), false);

	obs_property_t *count = obs_properties_add_int_slider(
		props, "stage_count", obs_module_text("Zoom.StageCount"), 1,
		MAX_STAGES, 1);
	obs_property_set_modified_callback(count, on_stage_count_modified);

	for (int i = 0; i < MAX_STAGES; i++)
		add_zoom_group(props, stage_keys(i).prefix,
			       obs_module_text(STAGE_GROUP_LABELS[i]), true);

	obs_property_t *easing_in = obs_properties_add_list(
		props, "easing_in", obs_module_text("Zoom.EasingIn"),
		OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_INT);
	obs_property_t *easing_out = obs_properties_add_list(
		props, "easing_out", obs_module_text("Zoom.EasingOut"),
		OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_INT);
	add_easing_items(easing_in);
	add_easing_items(easing_out);

	obs_properties_add_float_slider(
		props, "tracking_smoothing",
		obs_module_text("Zoom.TrackingSmoothing"), 0.0, 0.95, 0.01);
	obs_properties_add_float_slider(
		props, "tracking_dead_zone",
		obs_module_text("Zoom.TrackingDeadZone"), DEAD_ZONE_MIN,
		DEAD_ZONE_MAX, 0.05);
	obs_property_t *subject = obs_properties_add_list(
		props, "tracking_subject",
		obs_module_text("Zoom.TrackingSubject"), OBS_COMBO_TYPE_LIST,
		OBS_COMBO_FORMAT_STRING);
	obs_property_list_add_string(
		subject, obs_module_text("Zoom.TrackingSubject.Auto"), "auto");
	obs_property_list_add_string(
		subject, obs_module_text("Zoom.TrackingSubject.Pointer"),
		"pointer");
	obs_property_list_add_string(
		subject, obs_module_text("Zoom.TrackingSubject.Face"), "face");

	obs_properties_t *help = obs_properties_create();
	obs_property_t *show = obs_properties_add_bool(
		help, "help_show", obs_module_text("Help.Toggle"));
	obs_property_set_modified_callback(show, on_help_show_modified);
	obs_property_t *help_info = obs_properties_add_text(
		help, "help_info", obs_module_text("Help.Text"), OBS_TEXT_INFO);
	obs_property_text_set_info_word_wrap(help_info, true);
	bool help_visible = false;
	if (filter && filter->source) {
		obs_data_t *settings = obs_source_get_settings(filter->source);
		help_visible = obs_data_get_bool(settings, "help_show");
		obs_data_release(settings);
	}
	obs_property_set_visible(help_info, help_visible);
	obs_properties_add_group(props, "help_group",
				 obs_module_text("Help.Group"),
				 OBS_GROUP_NORMAL, help);

	obs_properties_t *about = obs_properties_create();
	obs_property_t *about_info = obs_properties_add_text(
		about, "about_info", obs_module_text("About.Text"),
		OBS_TEXT_INFO);
	obs_property_text_set_info_word_wrap(about_info, true);
	obs_properties_add_group(props, "about_group",
				 obs_module_text("About.Group"),
				 OBS_GROUP_NORMAL, about);

	return props;
}

bool on_stage_count_modified(obs_properties_t *props, obs_property_t *,
			     obs_data_t *settings)
{
	const auto count =
		static_cast<int32_t>(obs_data_get_int(settings, "stage_count"));
	for (int n = 2; n <= MAX_STAGES; n++) {
		obs_property_t *group =
			obs_properties_get(props, stage_keys(n - 1).group);
		if (group)
			obs_property_set_visible(group, n <= count);
	}
	return true;
}

bool on_help_show_modified(obs_properties_t *props, obs_property_t *,
			   obs_data_t *settings)
{
	obs_property_t *info = obs_properties_get(props, "help_info");
	if (info)
		obs_property_set_visible(info, obs_data_get_bool(settings,
								 "help_show"));
	return true;
}
