#include "core/zoom-core.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>

double apply_easing(double x, Easing kind)
{
	/* the filter's two curves are the cubic ones of the targets' list */
	const Curve curve = kind == Easing::EaseInOut ? Curve::CubicInOut
			    : kind == Easing::EaseOut ? Curve::CubicOut
						      : Curve::Linear;
	return apply_curve(x, curve, Bezier());
}

double held_idle_zoom(double zoom, double dt, bool zoom_in_held,
		      bool zoom_out_held)
{
	const double step = dt * IDLE_HOLD_RATE;
	if (zoom_in_held) {
		const double v = zoom + step;
		zoom = v < IDLE_ZOOM_MAX ? v : IDLE_ZOOM_MAX;
	}
	if (zoom_out_held) {
		const double v = zoom - step;
		zoom = v > IDLE_ZOOM_MIN ? v : IDLE_ZOOM_MIN;
	}
	return zoom;
}

double advance_progress(double progress, double dt, double duration)
{
	/* "duration > 0" is false for NaN too, which then completes at once */
	const double rate = duration > 0.0 ? 1.0 / duration
					   : INSTANT_PROGRESS_RATE;
	const double p = dt * rate + progress;
	return p < 1.0 ? p : 1.0;
}

Easing easing_for(double target_zoom, double start_zoom, Easing easing_in,
		  Easing easing_out)
{
	return target_zoom > start_zoom ? easing_in : easing_out;
}

/* The zoom at eased progress e of a transition. */
static double zoom_between(double start_zoom, double target_zoom, double e)
{
	/* At the end of a transition the shown zoom is the target itself:
	 * from a start far beyond the target, (target - start) + start can
	 * cancel to another value (2 instead of 1 from 2^53 + 2), which would
	 * stay on screen until the next transition. */
	const double zoom =
		e != 1.0 ? e * (target_zoom - start_zoom) + start_zoom
			 : target_zoom;
	return std::isfinite(zoom) ? zoom : 1.0;
}

double shown_zoom(double start_zoom, double target_zoom, double progress,
		  Easing kind)
{
	return zoom_between(start_zoom, target_zoom,
			    apply_easing(progress, kind));
}

double shown_zoom(double start_zoom, const ZoomStage &target, double progress,
		  Easing easing_in, Easing easing_out)
{
	const double target_zoom = target.zoom_factor;
	if (target.curve == Curve::Filter)
		return shown_zoom(start_zoom, target_zoom, progress,
				  easing_for(target_zoom, start_zoom, easing_in,
					     easing_out));
	const double e = apply_curve(progress, target.curve, target.bezier);
	const double zoom = zoom_between(start_zoom, target_zoom, e);
	/* an overshoot past a wide end would show more than the frame */
	const double floor = std::min({1.0, start_zoom, target_zoom});
	return zoom > floor ? zoom : floor;
}

double smoothing_keep(double dt, double smoothing)
{
	double tau = smoothing * 0.5 + 0.02;
	/* also catches a smoothing amount that is not a number */
	if (!(tau >= 0.001))
		tau = 0.001;
	return std::exp(-dt / tau);
}

double smooth_center(double current, double target, double keep)
{
	if (!std::isfinite(target))
		return std::isfinite(current) ? current : 0.5;
	if (!std::isfinite(current))
		return target;
	const double next = (target - current) * (1.0 - keep) + current;
	return std::isfinite(next) ? next : current;
}

static double clamp_center(double c, double h)
{
	if (!std::isfinite(c))
		c = 0.5;
	/* lower bound first, then upper: the window stays inside the frame */
	c = c > h ? c : h;
	return c < 1.0 - h ? c : 1.0 - h;
}

double window_half_size(double zoom)
{
	double m = 1.0 > zoom ? 1.0 : zoom;
	if (!std::isfinite(m))
		m = 1.0;
	return 0.5 / m;
}

CropWindow crop_window(double zoom, double center_x, double center_y)
{
	const double h = window_half_size(zoom);

	CropWindow window;
	window.center_x = static_cast<float>(clamp_center(center_x, h));
	window.center_y = static_cast<float>(clamp_center(center_y, h));
	/* a finite but enormous zoom must not round the window away to nothing */
	const float half = static_cast<float>(h);
	window.half_size = half >= FLT_MIN ? half : FLT_MIN;
	return window;
}

/* Every choice of a target ends the hold of the stage held so far. */
static StageStep go_to(StageSelection s, int target, int held)
{
	StageStep step;
	step.next.active = target;
	step.next.held = held;
	step.starts = true;
	step.changed = target != s.active;
	return step;
}

static StageStep stay(StageSelection s)
{
	StageStep step;
	step.next = s;
	return step;
}

StageStep toggle_stage(StageSelection s, int k)
{
	return go_to(s, k == s.active ? -1 : k, -1);
}

StageStep set_stage(StageSelection s, int k)
{
	if (k == s.active)
		return stay(s);
	return go_to(s, k, -1);
}

StageStep hold_stage_press(StageSelection s, int k)
{
	if (k == s.active) {
		/* already there: the release still returns to idle */
		StageStep step = stay(s);
		step.next.held = k;
		return step;
	}
	return go_to(s, k, k);
}

StageStep hold_stage_release(StageSelection s, int k)
{
	if (s.held != k || s.active != k)
		return stay(s);
	return go_to(s, -1, -1);
}

StageStep idle_key(StageSelection s, double progress)
{
	if (s.active < 0 && progress >= 1.0) {
		StageStep step = stay(s);
		step.next.held = -1;
		return step;
	}
	return go_to(s, -1, -1);
}

CaptureRect cut_capture_rect(double x, double y, double width, double height,
			     double cut_top, double cut_left, double cut_right,
			     double cut_bot)
{
	CaptureRect r;
	r.x = x + cut_left;
	r.y = y + cut_top;
	r.width = width - cut_left - cut_right;
	r.height = height - cut_top - cut_bot;
	return r;
}

static double clamp_unit(double v)
{
	v = v > 0.0 ? v : 0.0;
	return v < 1.0 ? v : 1.0;
}

bool pointer_in_rect(const CaptureRect &rect, double pointer_x,
		     double pointer_y, double &fx, double &fy)
{
	/* "> 0" is false for NaN too */
	if (!(rect.width > 0.0 && rect.height > 0.0) ||
	    !std::isfinite(rect.width) || !std::isfinite(rect.height) ||
	    !std::isfinite(rect.x) || !std::isfinite(rect.y) ||
	    !std::isfinite(pointer_x) || !std::isfinite(pointer_y))
		return false;
	fx = clamp_unit((pointer_x - rect.x + 0.5) / rect.width);
	fy = clamp_unit((pointer_y - rect.y + 0.5) / rect.height);
	return true;
}

double clamp_dead_zone(double dead_zone)
{
	if (!(dead_zone > DEAD_ZONE_MIN))
		return DEAD_ZONE_MIN;
	return dead_zone < DEAD_ZONE_MAX ? dead_zone : DEAD_ZONE_MAX;
}

double dead_zone_center(double wanted, double pointer, double half_size,
			double dead_zone)
{
	if (!std::isfinite(pointer))
		return wanted;
	if (!std::isfinite(wanted))
		wanted = pointer;
	double h = half_size < 0.5 ? half_size : 0.5;
	h = h > 0.0 ? h : 0.0; /* also catches NaN */
	const double box = clamp_dead_zone(dead_zone) * h;
	if (pointer > wanted + box)
		wanted = pointer - box;
	else if (pointer < wanted - box)
		wanted = pointer + box;
	wanted = wanted > h ? wanted : h;
	return wanted < 1.0 - h ? wanted : 1.0 - h;
}

static void needed_span(float center, float half, int size, int &from, int &to)
{
	const double low = std::floor((double(center) - half) * size) - 1.0;
	const double high = std::ceil((double(center) + half) * size) + 1.0;
	/* a window that rounds to nothing still needs a pixel */
	from = low > 0.0 ? int(std::min(low, double(size - 1))) : 0;
	to = high < size ? int(std::max(high, double(from + 1))) : size;
}

PixelRect needed_pixels(const CropWindow &window, int width, int height)
{
	PixelRect rect;
	needed_span(window.center_x, window.half_size, width, rect.x0, rect.x1);
	needed_span(window.center_y, window.half_size, height, rect.y0,
		    rect.y1);
	return rect;
}
