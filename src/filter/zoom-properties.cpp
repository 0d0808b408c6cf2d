/*
 * The filter's property sheet. What it shows follows the settings: the
 * groups of the stages in use, the tracking group while some view tracks,
 * the automatic zoom's stage and linger while it is on, and each stage's
 * name in its group's title. The modified callbacks keep
 * the sheet in line as the user edits it; a change made elsewhere (OBS's
 * Defaults button, which in OBS 29 redraws the sheet without rebuilding
 * it, or obs-websocket) reaches an open sheet through update and the
 * frame: when the sheet keeps showing otherwise, OBS is asked to rebuild
 * it ("update_properties"), from libobs's destruction task thread.
 */
#include "filter/zoom-filter.hpp"
#include "filter/zoom-keys.hpp"
#include "core/zoom-core.hpp"
#include "tracking/face-follow.hpp"

#include <cstring>
#include <functional>
#include <string>
#include <type_traits>

static const char *const STAGE_GROUP_LABELS[MAX_STAGES] = {
	"Zoom.Group.Stage1", "Zoom.Group.Stage2", "Zoom.Group.Stage3",
	"Zoom.Group.Stage4", "Zoom.Group.Stage5", "Zoom.Group.Stage6",
	"Zoom.Group.Stage7", "Zoom.Group.Stage8",
};

/* ---- what the sheet shows of the settings ----------------------------- */

struct SheetView {
	int stages_shown;
	bool tracking_shown;
	bool auto_shown;
	/* per target, the idle one first: framing a face is offered where
	 * the target follows what may be a face, its share where it is on;
	 * the Bézier where the target's curve is Custom */
	bool framing_shown[1 + MAX_STAGES];
	bool share_shown[1 + MAX_STAGES];
	bool bezier_shown[1 + MAX_STAGES];
	std::string titles[MAX_STAGES];
};

static const TargetKeys &target_keys(int target)
{
	return target == 0 ? idle_keys() : stage_keys(target - 1);
}

static SheetView sheet_view(obs_data_t *settings)
{
	SheetView view;
	/* the count is the low 32 bits of the stored integer, as update
	 * reads it */
	const auto count = static_cast<int32_t>(
		obs_data_get_int(settings, KEY_STAGE_COUNT));
	view.stages_shown = count < 1            ? 1
			    : count > MAX_STAGES ? MAX_STAGES
						 : count;
	view.tracking_shown =
		obs_data_get_bool(settings, idle_keys().center_tracking);
	view.auto_shown = obs_data_get_int(settings, KEY_AUTO_ZOOM) !=
			  int(AutoZoom::Off);
	const char *subject =
		obs_data_get_string(settings, KEY_TRACKING_SUBJECT);
	const bool may_be_face = tracking_subject_from(subject) !=
				 TrackingSubject::Pointer;
	for (int t = 0; t <= MAX_STAGES; t++) {
		const TargetKeys &keys = target_keys(t);
		view.framing_shown[t] =
			may_be_face &&
			center_mode_from(
				obs_data_get_bool(settings,
						  keys.center_tracking),
				obs_data_get_string(settings,
						    keys.center_mode)) ==
				CenterMode::Follow;
		view.share_shown[t] =
			view.framing_shown[t] &&
			obs_data_get_bool(settings, keys.face_framing);
		view.bezier_shown[t] = curve_from(obs_data_get_string(
					       settings, keys.easing)) ==
				       Curve::Custom;
	}
	for (int i = 0; i < MAX_STAGES; i++) {
		const TargetKeys &keys = stage_keys(i);
		if (i < view.stages_shown)
			view.tracking_shown =
				view.tracking_shown ||
				obs_data_get_bool(settings,
						  keys.center_tracking);
		view.titles[i] = obs_module_text(STAGE_GROUP_LABELS[i]);
		const std::string name = chosen_stage_name(
			i, obs_data_get_string(settings, keys.name));
		if (!name.empty())
			view.titles[i] += ": " + name;
	}
	return view;
}

static size_t fingerprint(const SheetView &view)
{
	std::string all = std::to_string(view.stages_shown) +
			  (view.tracking_shown ? "+" : "-") +
			  (view.auto_shown ? "+" : "-");
	for (int t = 0; t <= MAX_STAGES; t++)
		all += std::to_string(view.framing_shown[t] * 2 +
				      view.share_shown[t]);
	for (const std::string &title : view.titles)
		all += title + '\n';
	for (bool shown : view.bezier_shown)
		all += shown ? "b" : "-";
	return std::hash<std::string>()(all);
}

/* The filter whose sheet this is (the sheet holds a weak reference), or
 * null for a sheet of no instance or of a filter gone. */
static obs_source_t *sheet_filter(obs_properties_t *props)
{
	auto *weak = static_cast<obs_weak_source_t *>(
		obs_properties_get_param(props));
	return weak ? obs_weak_source_get_source(weak) : nullptr;
}

/* The centre mode list shows the mode the target has: a collection from
 * before the list, or one whose tracking an older version changed, gets
 * the mode its center_tracking means (UI thread, like OBS's saving). */
static void align_center_modes(obs_data_t *settings)
{
	for (int i = -1; i < MAX_STAGES; i++) {
		const TargetKeys &keys = i < 0 ? idle_keys() : stage_keys(i);
		const char *stored =
			obs_data_get_string(settings, keys.center_mode);
		const char *mode = center_mode_name(center_mode_from(
			obs_data_get_bool(settings, keys.center_tracking),
			stored));
		if (std::strcmp(stored, mode) != 0)
			obs_data_set_string(settings, keys.center_mode, mode);
	}
}

/* Shows on the sheet what the settings use; true when anything changed. */
static bool show_settings(obs_properties_t *props, obs_data_t *settings)
{
	align_center_modes(settings);
	const SheetView view = sheet_view(settings);
	bool changed = false;
	auto set_visible = [&](const char *name, bool visible) {
		obs_property_t *p = obs_properties_get(props, name);
		if (p && obs_property_visible(p) != visible) {
			obs_property_set_visible(p, visible);
			changed = true;
		}
	};
	set_visible("tracking_group", view.tracking_shown);
	set_visible(KEY_AUTO_ZOOM_STAGE, view.auto_shown);
	set_visible(KEY_AUTO_ZOOM_LINGER, view.auto_shown);
	for (int t = 0; t <= MAX_STAGES; t++) {
		set_visible(target_keys(t).face_framing, view.framing_shown[t]);
		set_visible(target_keys(t).face_share, view.share_shown[t]);
		set_visible(target_keys(t).bezier, view.bezier_shown[t]);
	}
	for (int i = 0; i < MAX_STAGES; i++) {
		const char *group_name = stage_keys(i).group;
		set_visible(group_name, i < view.stages_shown);
		obs_property_t *group = obs_properties_get(props, group_name);
		const char *title = group ? obs_property_description(group)
					  : nullptr;
		if (group && (!title || view.titles[i] != title)) {
			obs_property_set_description(group,
						     view.titles[i].c_str());
			changed = true;
		}
	}

	/* what update compares the settings with */
	if (obs_source_t *source = sheet_filter(props)) {
		if (auto *filter =
			    static_cast<ZoomFilter *>(obs_obj_get_data(source)))
			filter->sheet_shown = fingerprint(view);
		obs_source_release(source);
	}
	return changed;
}

size_t sheet_fingerprint(obs_data_t *settings)
{
	return fingerprint(sheet_view(settings));
}

static void ask_for_new_sheet(void *data)
{
	auto *weak = static_cast<obs_weak_source_t *>(data);
	obs_source_t *source = obs_weak_source_get_source(weak);
	obs_weak_source_release(weak);
	if (source)
		obs_source_update_properties(source);
	obs_source_release(source);
}

void follow_sheet(ZoomFilter *filter, float seconds)
{
	const size_t wanted = filter->sheet_wanted;
	if (wanted == filter->sheet_shown) {
		filter->sheet_outdated_for = 0.0;
		return;
	}
	/* the view writes an edit to the settings a moment before it runs
	 * the entry's modified callback, and an update may come between:
	 * only a sheet that stays outdated is rebuilt, which would take the
	 * focus from the entry being edited */
	filter->sheet_outdated_for += seconds;
	if (filter->sheet_outdated_for < SHEET_SETTLE_SECONDS)
		return;
	filter->sheet_outdated_for = 0.0;
	filter->sheet_shown = wanted;
	obs_queue_task(OBS_TASK_DESTROY, ask_for_new_sheet,
		       obs_source_get_weak_source(filter->source), false);
}

static bool on_shown_setting_modified(obs_properties_t *props, obs_property_t *,
				      obs_data_t *settings)
{
	return show_settings(props, settings);
}

/* ---- building the sheet ----------------------------------------------- */

/* An entry's tooltip: the locale text of its label's key + ".Tip", as a
 * paragraph of rich text, which Qt wraps (plain text runs off the screen
 * in one line). */
static obs_property_t *with_tip(obs_property_t *p, const char *text_key)
{
	const std::string key = std::string(text_key) + ".Tip";
	std::string tip = "<p>";
	for (const char *c = obs_module_text(key.c_str()); *c; c++)
		tip += *c == '&'   ? "&amp;"
		       : *c == '<' ? "&lt;"
				   : std::string(1, *c);
	tip += "</p>";
	obs_property_set_long_description(p, tip.c_str());
	return p;
}

/* An entry that `add` makes, labelled by `text_key`, with its tooltip. */
template<typename Add, typename... Rest>
static obs_property_t *add_entry(Add add, obs_properties_t *set,
				 const char *name, const char *text_key,
				 Rest... rest)
{
	return with_tip(add(set, name, obs_module_text(text_key), rest...),
			text_key);
}

static obs_property_t *add_slider(obs_properties_t *set, const char *name,
				  const char *text_key, double min, double max,
				  double step)
{
	return add_entry(obs_properties_add_float_slider, set, name, text_key,
			 min, max, step);
}

/* A drop-down list labelled by `text_key`, with its tooltip, its modified
 * callback if any, and its items: locale keys with the integers or strings
 * they stand for. */
template<typename Value>
static obs_property_t *
add_list(obs_properties_t *set, const char *name, const char *text_key,
	 obs_property_modified_t modified,
	 std::initializer_list<std::pair<const char *, Value>> items)
{
	constexpr bool ints = std::is_same_v<Value, int>;
	obs_property_t *list = add_entry(obs_properties_add_list, set, name,
					 text_key, OBS_COMBO_TYPE_LIST,
					 ints ? OBS_COMBO_FORMAT_INT
					      : OBS_COMBO_FORMAT_STRING);
	if (modified)
		obs_property_set_modified_callback(list, modified);
	for (const auto &[text, value] : items) {
		if constexpr (ints)
			obs_property_list_add_int(list, obs_module_text(text),
						  value);
		else
			obs_property_list_add_string(
				list, obs_module_text(text), value);
	}
	return list;
}

/* The centre mode, which keeps center_tracking in step for an older
 * version: on for Follow and At the press, off for Set centre. */
static bool on_center_mode_modified(obs_properties_t *props,
				    obs_property_t *list, obs_data_t *settings)
{
	const char *key = obs_property_name(list);
	for (int i = -1; i < MAX_STAGES; i++) {
		const TargetKeys &keys = i < 0 ? idle_keys() : stage_keys(i);
		if (std::strcmp(keys.center_mode, key) == 0)
			obs_data_set_bool(
				settings, keys.center_tracking,
				center_tracking_for(center_mode_named(
					obs_data_get_string(settings, key))));
	}
	/* the filter may have read the new mode with the old tracking: it
	 * reads both again at its next frame */
	if (obs_source_t *source = sheet_filter(props)) {
		obs_source_update(source, nullptr);
		obs_source_release(source);
	}
	show_settings(props, settings);
	return true;
}

/* The target's curve, and its Bézier, which shows only for Custom. */
static void add_curve_list(obs_properties_t *group, const TargetKeys &keys)
{
	obs_property_t *list =
		add_list<const char *>(group, keys.easing, "Zoom.Curve",
				       on_shown_setting_modified, {});
	static const char *const texts[CURVE_COUNT] = {
		"Zoom.Curve.Filter",     "Zoom.Easing.Linear",
		"Zoom.Curve.SineIn",     "Zoom.Curve.SineOut",
		"Zoom.Curve.SineInOut",  "Zoom.Curve.CubicIn",
		"Zoom.Curve.CubicOut",   "Zoom.Curve.CubicInOut",
		"Zoom.Curve.QuintIn",    "Zoom.Curve.QuintOut",
		"Zoom.Curve.QuintInOut", "Zoom.Curve.ExpoIn",
		"Zoom.Curve.ExpoOut",    "Zoom.Curve.ExpoInOut",
		"Zoom.Curve.Smooth",     "Zoom.Curve.Custom"};
	for (int n = 0; n < CURVE_COUNT; n++)
		obs_property_list_add_string(list, obs_module_text(texts[n]),
					     curve_name(Curve(n)));
	add_entry(obs_properties_add_text, group, keys.bezier, "Zoom.Bezier",
		  OBS_TEXT_DEFAULT);
}

static void add_zoom_group(obs_properties_t *props, const char *prefix,
			   const char *label, bool with_name)
{
	obs_properties_t *group = obs_properties_create();
	const TargetKeys keys = make_keys(prefix, with_name);

	if (with_name)
		obs_property_set_modified_callback(
			add_entry(obs_properties_add_text, group, keys.name,
				  "Zoom.Stage.Name", OBS_TEXT_DEFAULT),
			on_shown_setting_modified);
	add_slider(group, keys.zoom_factor,
		   with_name ? "Zoom.Stage.Factor" : "Zoom.Idle.Factor", 1.0,
		   5.0, 0.1);
	add_slider(group, keys.duration,
		   with_name ? "Zoom.Stage.Duration" : "Zoom.Idle.Duration",
		   0.05, 3.0, 0.05);
	add_curve_list(group, keys);
	add_list<const char *>(
		group, keys.center_mode, "Zoom.TrackingEnabled",
		on_center_mode_modified,
		{{"Zoom.CenterMode.Set", center_mode_name(CenterMode::Set)},
		 {"Zoom.CenterMode.Follow",
		  center_mode_name(CenterMode::Follow)},
		 {"Zoom.CenterMode.Press",
		  center_mode_name(CenterMode::Press)}});
	add_slider(group, keys.center_x, "Zoom.CenterX", 0.0, 1.0, 0.01);
	add_slider(group, keys.center_y, "Zoom.CenterY", 0.0, 1.0, 0.01);
	if (with_name)
		add_entry(obs_properties_add_bool, group, keys.hold,
			  "Zoom.Stage.Hold");
	obs_property_set_modified_callback(add_entry(obs_properties_add_bool,
						     group, keys.face_framing,
						     "Zoom.FaceFraming"),
					   on_shown_setting_modified);
	add_slider(group, keys.face_share, "Zoom.FaceShare", FACE_SHARE_MIN,
		   FACE_SHARE_MAX, 0.05);

	obs_properties_add_group(props, keys.group, label, OBS_GROUP_NORMAL,
				 group);
}

static void add_easing_list(obs_properties_t *set, const char *name,
			    const char *text_key)
{
	add_list<int>(set, name, text_key, nullptr,
		      {{"Zoom.Easing.Linear", int(Easing::Linear)},
		       {"Zoom.Easing.EaseInOut", int(Easing::EaseInOut)},
		       {"Zoom.Easing.EaseOut", int(Easing::EaseOut)}});
}

static void add_tracking_group(obs_properties_t *props)
{
	obs_properties_t *tracking = obs_properties_create();
	add_list<const char *>(tracking, KEY_TRACKING_SUBJECT,
			       "Zoom.TrackingSubject",
			       on_shown_setting_modified,
			       {{"Zoom.TrackingSubject.Auto", "auto"},
				{"Zoom.TrackingSubject.Pointer", "pointer"},
				{"Zoom.TrackingSubject.Face", "face"}});
	add_slider(tracking, KEY_TRACKING_DEAD_ZONE, "Zoom.TrackingDeadZone",
		   DEAD_ZONE_MIN, DEAD_ZONE_MAX, 0.05);
	add_slider(tracking, KEY_TRACKING_SMOOTHING, "Zoom.TrackingSmoothing",
		   0.0, 0.95, 0.01);
	obs_properties_add_group(props, "tracking_group",
				 obs_module_text("Zoom.Group.Tracking"),
				 OBS_GROUP_NORMAL, tracking);
}

static void add_auto_group(obs_properties_t *props)
{
	obs_properties_t *group = obs_properties_create();
	add_list<int>(group, KEY_AUTO_ZOOM, "Zoom.AutoZoom",
		      on_shown_setting_modified,
		      {{"Zoom.AutoZoom.Off", int(AutoZoom::Off)},
		       {"Zoom.AutoZoom.Clicks", int(AutoZoom::Clicks)},
		       {"Zoom.AutoZoom.ClicksAndTyping",
			int(AutoZoom::ClicksAndTyping)}});
	add_entry(obs_properties_add_int_slider, group, KEY_AUTO_ZOOM_STAGE,
		  "Zoom.AutoZoomStage", 1, MAX_STAGES, 1);
	add_slider(group, KEY_AUTO_ZOOM_LINGER, "Zoom.AutoZoomLinger",
		   AUTO_LINGER_MIN, AUTO_LINGER_MAX, 0.1);
	obs_properties_add_group(props, "auto_group",
				 obs_module_text("Zoom.Group.Auto"),
				 OBS_GROUP_NORMAL, group);
}

static void add_text_group(obs_properties_t *props, const char *group_name,
			   const char *group_key, const char *info_name,
			   const char *text_key, obs_properties_t *content)
{
	obs_property_t *info = obs_properties_add_text(
		content, info_name, obs_module_text(text_key), OBS_TEXT_INFO);
	obs_property_text_set_info_word_wrap(info, true);
	obs_properties_add_group(props, group_name, obs_module_text(group_key),
				 OBS_GROUP_NORMAL, content);
}

static bool on_stage_count_modified(obs_properties_t *props, obs_property_t *,
				    obs_data_t *settings)
{
	show_settings(props, settings);
	return true;
}

static bool on_help_show_modified(obs_properties_t *props, obs_property_t *,
				  obs_data_t *settings)
{
	obs_property_t *info = obs_properties_get(props, KEY_HELP_INFO);
	if (info)
		obs_property_set_visible(
			info, obs_data_get_bool(settings, KEY_HELP_SHOW));
	return true;
}

obs_properties_t *zoom_filter_properties(void *data)
{
	auto *filter = static_cast<ZoomFilter *>(data);
	obs_properties_t *props = obs_properties_create();
	if (filter && filter->source)
		obs_properties_set_param(
			props, obs_source_get_weak_source(filter->source),
			[](void *weak) {
				obs_weak_source_release(
					static_cast<obs_weak_source_t *>(weak));
			});

	add_zoom_group(props, idle_keys().prefix,
		       obs_module_text("Zoom.Group.Idle"), false);
	add_tracking_group(props);

	obs_properties_t *stages = obs_properties_create();
	obs_property_set_modified_callback(
		add_entry(obs_properties_add_int_slider, stages,
			  KEY_STAGE_COUNT, "Zoom.StageCount", 1, MAX_STAGES, 1),
		on_stage_count_modified);
	add_easing_list(stages, KEY_EASING_IN, "Zoom.EasingIn");
	add_easing_list(stages, KEY_EASING_OUT, "Zoom.EasingOut");
	obs_properties_add_group(props, "stages_group",
				 obs_module_text("Zoom.Group.Stages"),
				 OBS_GROUP_NORMAL, stages);

	for (int i = 0; i < MAX_STAGES; i++)
		add_zoom_group(props, stage_keys(i).prefix,
			       obs_module_text(STAGE_GROUP_LABELS[i]), true);
	add_auto_group(props);

	obs_properties_t *help = obs_properties_create();
	obs_property_set_modified_callback(add_entry(obs_properties_add_bool,
						     help, KEY_HELP_SHOW,
						     "Help.Toggle"),
					   on_help_show_modified);
	add_text_group(props, "help_group", "Help.Group", KEY_HELP_INFO,
		       "Help.Text", help);
	add_text_group(props, "about_group", "About.Group", "about_info",
		       "About.Text", obs_properties_create());

	/* the sheet's first look, before libobs runs the callbacks */
	obs_data_t *settings = filter && filter->source
				       ? obs_source_get_settings(filter->source)
				       : obs_data_create();
	show_settings(props, settings);
	on_help_show_modified(props, nullptr, settings);
	obs_data_release(settings);
	return props;
}
