/*
 * The curves a target may choose for its transitions: the usual easing
 * families, smootherstep and a cubic Bézier written as CSS writes it. Plain
 * arithmetic with no allocation, evaluated on every frame.
 */
#pragma once

/* A target's own curve ("…_easing"). Filter keeps the filter's rule
 * (easing_in when zooming in, else easing_out); every other value is one
 * curve for both directions. */
enum class Curve : int {
	Filter = 0,
	Linear,
	SineIn,
	SineOut,
	SineInOut,
	CubicIn,
	CubicOut,
	CubicInOut,
	QuintIn,
	QuintOut,
	QuintInOut,
	ExpoIn,
	ExpoOut,
	ExpoInOut,
	Smooth, /* smootherstep */
	Custom, /* the target's Bézier */
};
constexpr int CURVE_COUNT = int(Curve::Custom) + 1;

/* The name a curve is stored under, and back; a name that is not known
 * (or null) reads as Filter, so the target looks as it did before. */
const char *curve_name(Curve curve);
Curve curve_from(const char *name);

/* CSS's cubic-bezier(x1, y1, x2, y2): from (0, 0) to (1, 1) with these two
 * control points. The x values stay within 0..1, so that time runs one way;
 * y may leave 0..1 by up to BEZIER_Y_REACH for an overshoot. */
struct Bezier {
	double x1 = 0.25;
	double y1 = 0.1;
	double x2 = 0.25;
	double y2 = 1.0;
};
constexpr double BEZIER_Y_REACH = 1.0;
/* The stored form of the default, CSS's "ease". */
constexpr char DEFAULT_BEZIER_TEXT[] = "0.25, 0.1, 0.25, 1";

/* Reads four numbers, separated by commas or blanks, with or without CSS's
 * "cubic-bezier( … )" around them and in C's notation whatever the locale.
 * x values are clamped into 0..1 and y values into -1..2. Anything else
 * (fewer or more numbers, text, values that are not finite) returns false
 * and leaves `out` alone. */
bool parse_bezier(const char *text, Bezier &out);

/* The Bézier's y at x (clamped to [0, 1]): exactly 0 at 0 and 1 at 1. */
double bezier_at(const Bezier &curve, double x);

/* Eases x (clamped to [0, 1]) with a target's curve; Filter and any value
 * not known act as Linear. Exactly 0 at 0 and 1 at 1; only a Bézier whose
 * y leaves 0..1 leaves 0..1 in between. */
double apply_curve(double x, Curve curve, const Bezier &bezier);
