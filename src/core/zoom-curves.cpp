#include "core/zoom-curves.hpp"

#include <cmath>
#include <cstring>

static const char *const CURVE_NAMES[CURVE_COUNT] = {
	"filter",      "linear",      "sine_in",      "sine_out",
	"sine_in_out", "cubic_in",    "cubic_out",    "cubic_in_out",
	"quint_in",    "quint_out",   "quint_in_out", "expo_in",
	"expo_out",    "expo_in_out", "smooth",       "custom",
};

const char *curve_name(Curve curve)
{
	const int n = int(curve);
	return n >= 0 && n < CURVE_COUNT ? CURVE_NAMES[n] : CURVE_NAMES[0];
}

Curve curve_from(const char *name)
{
	if (name)
		for (int n = 0; n < CURVE_COUNT; n++)
			if (std::strcmp(name, CURVE_NAMES[n]) == 0)
				return Curve(n);
	return Curve::Filter;
}

/* ---- reading a Bézier ---- */

static bool is_blank(char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

static bool is_digit(char c)
{
	return c >= '0' && c <= '9';
}

/* 10^n for n within 0..22, each exact in double precision. */
static double power_of_ten(int n)
{
	double p = 1.0;
	for (int i = 0; i < n; i++)
		p *= 10.0;
	return p;
}

/* A decimal number in C's notation at `s`, whatever the process's locale
 * says about decimal separators; false when there is none. Up to 15
 * significant digits and a power of ten within 22 read exactly as the
 * nearest double ("0.3" is 0.3). */
static bool read_number(const char *&s, double &value)
{
	const char *p = s;
	const bool negative = *p == '-';
	if (*p == '+' || *p == '-')
		p++;
	double digits = 0.0;
	int count = 0;    /* significant digits taken */
	int exponent = 0; /* of ten, applied to `digits` */
	bool any = false;
	bool fraction = false;
	for (;; p++) {
		if (*p == '.' && !fraction) {
			fraction = true;
			continue;
		}
		if (!is_digit(*p))
			break;
		any = true;
		if (digits == 0.0 && *p == '0') {
			exponent -= fraction ? 1 : 0; /* a leading zero */
		} else if (count < 15) {
			digits = digits * 10.0 + (*p - '0');
			count++;
			exponent -= fraction ? 1 : 0;
		} else if (!fraction) {
			exponent++; /* a digit past the 15th */
		}
	}
	if (!any)
		return false;
	if (*p == 'e' || *p == 'E') {
		const char *q = p + 1;
		const bool down = *q == '-';
		if (*q == '+' || *q == '-')
			q++;
		if (!is_digit(*q))
			return false;
		int e = 0;
		for (; is_digit(*q); q++)
			e = e < 10000 ? e * 10 + (*q - '0') : e;
		exponent += down ? -e : e;
		p = q;
	}
	double v = digits;
	if (v != 0.0 && exponent >= -22 && exponent <= 22)
		v = exponent < 0 ? v / power_of_ten(-exponent)
				 : v * power_of_ten(exponent);
	else if (v != 0.0)
		v *= std::pow(10.0, exponent);
	value = negative ? -v : v;
	s = p;
	return true;
}

static double clamp_to(double v, double low, double high)
{
	v = v > low ? v : low;
	return v < high ? v : high;
}

bool parse_bezier(const char *text, Bezier &out)
{
	if (!text)
		return false;
	const char *s = text;
	while (is_blank(*s))
		s++;
	static const char css[] = "cubic-bezier";
	const bool wrapped = std::strncmp(s, css, sizeof(css) - 1) == 0;
	if (wrapped) {
		s += sizeof(css) - 1;
		while (is_blank(*s))
			s++;
		if (*s++ != '(')
			return false;
	}
	double v[4];
	for (int i = 0; i < 4; i++) {
		while (is_blank(*s))
			s++;
		if (i > 0 && *s == ',') {
			s++;
			while (is_blank(*s))
				s++;
		}
		if (!read_number(s, v[i]) || !std::isfinite(v[i]))
			return false;
		/* numbers run into each other only through a separator */
		if (*s && *s != ',' && *s != ')' && !is_blank(*s))
			return false;
	}
	while (is_blank(*s))
		s++;
	if (wrapped && *s++ != ')')
		return false;
	while (is_blank(*s))
		s++;
	if (*s)
		return false;
	out.x1 = clamp_to(v[0], 0.0, 1.0);
	out.y1 = clamp_to(v[1], -BEZIER_Y_REACH, 1.0 + BEZIER_Y_REACH);
	out.x2 = clamp_to(v[2], 0.0, 1.0);
	out.y2 = clamp_to(v[3], -BEZIER_Y_REACH, 1.0 + BEZIER_Y_REACH);
	return true;
}

/* ---- evaluating ---- */

/* One coordinate of the curve at parameter t, with control values a and b
 * (the ends being 0 and 1), or with `slope` its derivative, in Horner's
 * form. */
static double bezier_coord(double a, double b, double t, bool slope = false)
{
	const double c = 3.0 * a;
	const double bb = 3.0 * (b - a) - c;
	const double aa = 1.0 - c - bb;
	return slope ? (3.0 * aa * t + 2.0 * bb) * t + c
		     : ((aa * t + bb) * t + c) * t;
}

double bezier_at(const Bezier &curve, double x)
{
	if (!(x > 0.0))
		return 0.0;
	if (x >= 1.0)
		return 1.0;
	/* x values within 0..1 make x(t) rise from 0 to 1, so exactly one t
	 * gives x: a few Newton steps find it, bisection where they stall */
	const double x1 = clamp_to(curve.x1, 0.0, 1.0);
	const double x2 = clamp_to(curve.x2, 0.0, 1.0);
	const double tolerance = 1e-12;
	double t = x;
	bool found = false;
	for (int i = 0; i < 8 && !found; i++) {
		const double error = bezier_coord(x1, x2, t) - x;
		found = std::fabs(error) < tolerance;
		const double slope = bezier_coord(x1, x2, t, true);
		if (found || std::fabs(slope) < 1e-6)
			break;
		t -= error / slope;
		if (!(t >= 0.0 && t <= 1.0))
			break;
	}
	/* where x(t) runs flat, t is found to the last bits by halving */
	double low = 0.0;
	double high = 1.0;
	for (int i = 0; i < 60 && !found; i++) {
		t = 0.5 * (low + high);
		const double error = bezier_coord(x1, x2, t) - x;
		found = error == 0.0;
		(error < 0.0 ? low : high) = t;
	}
	return bezier_coord(curve.y1, curve.y2, t);
}

static double in_out(double x, double (*in)(double))
{
	return x < 0.5 ? 0.5 * in(2.0 * x) : 1.0 - 0.5 * in(2.0 - 2.0 * x);
}

static const double HALF_PI = 1.57079632679489661923;

static double sine_in(double x)
{
	return 1.0 - std::cos(x * HALF_PI);
}

static double cubic_in(double x)
{
	return x * x * x;
}

static double quint_in(double x)
{
	return x * x * x * x * x;
}

static double expo_in(double x)
{
	return x > 0.0 ? std::exp2(10.0 * x - 10.0) : 0.0;
}

double apply_curve(double x, Curve curve, const Bezier &bezier)
{
	/* both ends exact, whatever a formula rounds to there */
	if (!(x > 0.0))
		return 0.0;
	if (x >= 1.0)
		return 1.0;

	/* each family's In, Out and InOut, from its In */
	static double (*const in[])(double) = {sine_in, cubic_in, quint_in,
					       expo_in};
	const int n = int(curve) - int(Curve::SineIn);
	if (n >= 0 && n <= int(Curve::ExpoInOut) - int(Curve::SineIn))
		return n % 3 == 0   ? in[n / 3](x)
		       : n % 3 == 1 ? 1.0 - in[n / 3](1.0 - x)
				    : in_out(x, in[n / 3]);
	if (curve == Curve::Smooth)
		return x * x * x * (x * (6.0 * x - 15.0) + 10.0);
	return curve == Curve::Custom ? bezier_at(bezier, x) : x;
}
