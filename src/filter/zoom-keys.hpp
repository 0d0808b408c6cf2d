/*
 * Settings keys of the zoom targets, built in one place so that the
 * defaults, update and the property sheet can never disagree.
 */
#pragma once

constexpr int MAX_STAGES = 8;

/* The filter's keys besides the targets': the stage list, the curves,
 * tracking and help; in its private settings, the key set and the mark on
 * the bindings it carries. */
constexpr char KEY_STAGE_COUNT[] = "stage_count";
constexpr char KEY_EASING_IN[] = "easing_in";
constexpr char KEY_EASING_OUT[] = "easing_out";
constexpr char KEY_TRACKING_SMOOTHING[] = "tracking_smoothing";
constexpr char KEY_TRACKING_DEAD_ZONE[] = "tracking_dead_zone";
constexpr char KEY_TRACKING_SUBJECT[] = "tracking_subject";
constexpr char KEY_HELP_SHOW[] = "help_show";
constexpr char KEY_HELP_INFO[] = "help_info";
constexpr char KEY_HOTKEY_SET[] = "hotkey_set";
constexpr char KEY_KEYS_OWNER[] = "keys_owner";
/* The automatic zoom: which input starts it (AutoZoom), the stage it shows
 * (1 to the stage count) and the seconds it lingers after the last input. */
constexpr char KEY_AUTO_ZOOM[] = "auto_zoom";
constexpr char KEY_AUTO_ZOOM_STAGE[] = "auto_zoom_stage";
constexpr char KEY_AUTO_ZOOM_LINGER[] = "auto_zoom_linger";
constexpr double AUTO_LINGER_MIN = 0.5;
constexpr double AUTO_LINGER_MAX = 10.0;

/* Every key of one zoom target: its prefix followed by a suffix. */
struct TargetKeys {
	char prefix[16]; /* "idle_" or "stage_N_" */
	char group[24];  /* prefix + "group", the sheet's group name */
	char name[24];   /* stages only; empty for the idle target */
	char zoom_factor[32];
	char center_tracking[40];
	char center_x[32];
	char center_y[32];
	char duration[32];
	char hold[24];        /* stages only; empty for the idle target */
	char easing[32];      /* the target's own curve, or "filter" */
	char bezier[32];      /* the curve's control points for "custom" */
	char center_mode[40]; /* set, follow or press, with center_tracking */
	char face_framing[40];
	char face_share[32];
};

/* The keys of a target with the given prefix; a name key only with_name. */
TargetKeys make_keys(const char *prefix, bool with_name);
/* The keys of the idle target. */
const TargetKeys &idle_keys();
/* The keys of the stage at a zero-based index, 0 to MAX_STAGES - 1. */
const TargetKeys &stage_keys(int index);
