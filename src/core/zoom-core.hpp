/*
 * The zoom filter's arithmetic: easing curves, one frame's step of the
 * animation and the crop window. Plain functions over plain values, with no
 * libobs in sight, so that every figure can be checked exactly.
 */
#pragma once

#include "core/zoom-center.hpp"
#include "core/zoom-curves.hpp"

#include <cstdint>
#include <string>

/* One zoom target: the idle target or a numbered stage. */
struct ZoomStage {
	std::string name;
	double zoom_factor = 1.5;
	bool center_tracking = false; /* the centre follows the pointer */
	double center_x = 0.5;
	double center_y = 0.5;
	double duration = 0.5; /* seconds */
	bool hold = false;     /* stages only: shown while its key is held */
	/* a followed face sets the zoom: its height this share of the
	 * view's */
	bool face_framing = false;
	double face_share = 0.3;
	Curve curve = Curve::Filter; /* the curve of transitions to it */
	Bezier bezier;               /* its shape when curve is Custom */
	CenterMode center_mode = CenterMode::Set; /* with center_tracking */
};

/* Easing curves as stored in "easing_in" and "easing_out". Any other value
 * acts as Linear. */
enum class Easing : int { Linear = 0, EaseInOut = 1, EaseOut = 2 };

/* Idle zoom hold keys change the idle zoom at this rate, within these bounds. */
constexpr double IDLE_HOLD_RATE = 0.6;
constexpr double IDLE_ZOOM_MAX = 5.0;
constexpr double IDLE_ZOOM_MIN = 1.0;
/* How often the tick looks at what the parent shows (it may change). */
constexpr uint32_t CAPTURE_CHECK_FRAMES = 30;
/* A target without a positive duration completes at this rate per second. */
constexpr double INSTANT_PROGRESS_RATE = 1000.0;

/* Eases x (clamped to [0, 1]) with the given curve; 0 maps to 0, 1 to 1. */
double apply_easing(double x, Easing kind);

/* The idle zoom after one frame of the hold keys: zoom-in first (capped at
 * the maximum), then zoom-out (floored at the minimum). */
double held_idle_zoom(double zoom, double dt, bool zoom_in_held,
		      bool zoom_out_held);

/* Transition progress after dt seconds towards a target of the given
 * duration; never above 1. */
double advance_progress(double progress, double dt, double duration);

/* The curve of a transition: easing_in when it zooms in, else easing_out. */
Easing easing_for(double target_zoom, double start_zoom, Easing easing_in,
		  Easing easing_out);

/* The zoom shown at the given progress of a transition. A value that is not
 * finite (from a target that is not) shows as 1, the whole frame, so the next
 * transition never starts from it. */
double shown_zoom(double start_zoom, double target_zoom, double progress,
		  Easing kind);

/* The zoom shown at the given progress of a transition to a target: with
 * its own curve, or by the filter's easing_in/easing_out rule for
 * Curve::Filter. A curve that overshoots never shows less than the whole
 * frame: the zoom stays at or above the lower of 1, start and target. */
double shown_zoom(double start_zoom, const ZoomStage &target, double progress,
		  Easing easing_in, Easing easing_out);

/* The share of the remaining distance that the centre keeps after dt seconds
 * of smoothing with the given amount: exp(-dt / tau). */
double smoothing_keep(double dt, double smoothing);

/* One smoothing step of a centre coordinate towards its target. The shown
 * centre never becomes non-finite: a target that is not finite holds it
 * where it is, and a shown centre that is not finite restarts at the target. */
double smooth_center(double current, double target, double keep);

/* The window handed to the crop effect, in the input's texture coordinates. */
struct CropWindow {
	float center_x;
	float center_y;
	float half_size;
};

/* The crop window for a zoom and a wanted centre: half size 0.5 / max(1,
 * zoom), centre clamped so that the window stays inside the frame. A zoom
 * that is not finite draws as 1, a centre that is not finite as 0.5. */
CropWindow crop_window(double zoom, double center_x, double center_y);

/*
 * Which target is selected, and by whom. `active` is the stage shown or being
 * approached (-1 for the idle target, 0..count-1 for the stages); `held` is
 * the hold stage whose key selected it and is still down (-1 when none), so
 * that the release of that key knows whether its stage is still the one it
 * chose.
 */
struct StageSelection {
	int active = -1;
	int held = -1;
};

/* What a key or a request does to the selection. `starts` is true when a
 * transition starts (from the zoom shown, at progress 0); `changed` when it
 * heads for another target than before. */
struct StageStep {
	StageSelection next;
	bool starts = false;
	bool changed = false;
};

/* A toggle key of stage k: to stage k, or back to idle when k is selected. */
StageStep toggle_stage(StageSelection s, int k);
/* Goes to stage k (-1 for idle); selecting the stage already selected
 * changes nothing. */
StageStep set_stage(StageSelection s, int k);
/* The key of a hold stage k, pressed: shows stage k while the key is down. */
StageStep hold_stage_press(StageSelection s, int k);
/* The key of a hold stage k, released: back to idle, unless another target
 * has been chosen since the press. */
StageStep hold_stage_release(StageSelection s, int k);
/* The return-to-idle key: a transition to the idle target, unless it is
 * already shown and at rest (progress 1). */
StageStep idle_key(StageSelection s, double progress);
/* The crop window's half size for a zoom, in double precision: 0.5 / max(1,
 * zoom), and 0.5 for a zoom that is not finite. */
double window_half_size(double zoom);

/* ---- centre tracking ---- */

/* The dead zone's bounds, as a fraction of the shown window. */
constexpr double DEAD_ZONE_MIN = 0.0;
constexpr double DEAD_ZONE_MAX = 0.9;

/* A rectangle on the X root window, in pixels: the area a capture shows. */
struct CaptureRect {
	double x;
	double y;
	double width;
	double height;
};

/* The area of a screen capture: the screen's rectangle less the cut margins
 * on each side, as OBS's screen capture computes it. */
CaptureRect cut_capture_rect(double x, double y, double width, double height,
			     double cut_top, double cut_left, double cut_right,
			     double cut_bot);

/* Where a pointer on the root window lies in an area, as fractions of it:
 * the pointer pixel's centre, clamped to the area's edges (0..1). Returns
 * false, leaving fx and fy alone, when the area is empty or not finite. */
bool pointer_in_rect(const CaptureRect &rect, double pointer_x,
		     double pointer_y, double &fx, double &fy);

/* The dead zone setting within 0..0.9; a value that is not a number is 0. */
double clamp_dead_zone(double dead_zone);

/* One axis of the tracked centre. While the pointer stays inside the central
 * box of the window (dead_zone times the window's size, around the wanted
 * centre), the wanted centre holds; outside it, the centre moves just far
 * enough to put the pointer back on the box's edge. The result is kept where
 * a window of that half size fits inside the frame, so that the view moves
 * as soon as the pointer turns back from an edge. */
double dead_zone_center(double wanted, double pointer, double half_size,
			double dead_zone);

/* The pixels of the input that the window needs, [x0, x1) by [y0, y1): the
 * window in whole pixels, with a pixel around it for the linear sampler's
 * neighbours, never past the frame. */
struct PixelRect {
	int x0;
	int y0;
	int x1;
	int y1;
};

PixelRect needed_pixels(const CropWindow &window, int width, int height);
