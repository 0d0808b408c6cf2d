/* The filter's arithmetic, checked with exact figures. */
#include "core/zoom-core.hpp"
#include "tracking/face-follow.hpp"
#include "tracking/follower.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

static const double FRAME_60 = static_cast<double>(1.0f / 60.0f);
static const double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();
static const double INF = std::numeric_limits<double>::infinity();

/* ---- transition progress ---- */

static int ticks_to_complete(double duration, double dt)
{
	double progress = 0.0;
	int ticks = 0;
	while (progress < 1.0 && ticks < 100000) {
		progress = advance_progress(progress, dt, duration);
		ticks++;
	}
	return ticks;
}

TEST(Progress, CompletesAfterTheDurationAtSixtyFramesPerSecond)
{
	EXPECT_DOUBLE_EQ(FRAME_60, 0.01666666753590107);
	EXPECT_DOUBLE_EQ(advance_progress(0.0, FRAME_60, 0.5),
			 0.03333333507180214);
	EXPECT_EQ(ticks_to_complete(0.5, FRAME_60), 30);
	EXPECT_EQ(ticks_to_complete(1.0, FRAME_60), 60);
	EXPECT_EQ(ticks_to_complete(3.0, FRAME_60), 180);
	EXPECT_EQ(ticks_to_complete(0.05, FRAME_60), 3);
}

TEST(Progress, NeverExceedsOneAndStaysThere)
{
	EXPECT_EQ(advance_progress(0.99, 1.0, 0.5), 1.0);
	EXPECT_EQ(advance_progress(1.0, FRAME_60, 0.5), 1.0);
	EXPECT_EQ(advance_progress(0.25, 0.0, 0.5), 0.25);
}

TEST(Progress, ADurationOfZeroOrLessOrNotANumberRunsAtAThousandPerSecond)
{
	const double one_ms = static_cast<double>(0.001f);
	const double almost_one_ms = static_cast<double>(0.0009f);
	for (double duration : {0.0, -1.0, -INF, NAN_VALUE}) {
		EXPECT_EQ(advance_progress(0.0, one_ms, duration), 1.0)
			<< duration;
		const double p = advance_progress(0.0, almost_one_ms, duration);
		EXPECT_LT(p, 0.9) << duration;
		EXPECT_GT(p, 0.8999) << duration;
	}
}

/* ---- easing ---- */

TEST(Easing, EveryCurveMeetsItsFormulaRunsFromZeroToOneAndRises)
{
	/* a kind not known is linear */
	const struct {
		int kind;
		double at_quarter, at_half, at_three_quarters;
	} cases[] = {
		{int(Easing::EaseInOut), 0.0625, 0.5, 0.9375},
		{int(Easing::EaseOut), 0.578125, 0.875, 0.984375},
		{int(Easing::Linear), 0.25, 0.5, 0.75},
		{7, 0.25, 0.5, 0.75},
		{-1, 0.25, 0.5, 0.75},
		{42, 0.25, 0.5, 0.75},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(::testing::Message() << "kind " << c.kind);
		const Easing kind = Easing(c.kind);
		EXPECT_DOUBLE_EQ(apply_easing(0.25, kind), c.at_quarter);
		EXPECT_DOUBLE_EQ(apply_easing(0.5, kind), c.at_half);
		EXPECT_DOUBLE_EQ(apply_easing(0.75, kind), c.at_three_quarters);
		for (double x : {0.0, -0.5, NAN_VALUE, 1.0, 1.5})
			EXPECT_EQ(apply_easing(x, kind), x >= 1 ? 1 : 0) << x;
		double previous = 0.0;
		for (int i = 1; i <= 1000; i++) {
			const double e = apply_easing(i / 1000.0, kind);
			EXPECT_GE(e, previous) << i;
			previous = e;
		}
	}
}

TEST(Easing, ZoomingInUsesTheInCurveAndEverythingElseTheOutCurve)
{
	const Easing in = Easing(10), out = Easing(20);
	EXPECT_EQ(easing_for(3.0, 1.5, in, out), in);
	EXPECT_EQ(easing_for(1.5, 3.0, in, out), out);
	EXPECT_EQ(easing_for(2.0, 2.0, in, out), out);
}

TEST(ShownZoom, FollowsTheEasedProgressBetweenStartAndTarget)
{
	EXPECT_DOUBLE_EQ(shown_zoom(1.0, 2.0, 0.25, Easing::EaseInOut), 1.0625);
	EXPECT_DOUBLE_EQ(shown_zoom(1.0, 2.0, 0.5, Easing::EaseInOut), 1.5);
	EXPECT_EQ(shown_zoom(2.0, 2.0, 0.5, Easing::EaseOut), 2.0);
	EXPECT_EQ(shown_zoom(1.0, 3.7, 1.0, Easing::EaseOut), 3.7);
	EXPECT_EQ(shown_zoom(3.0, 1.2, 0.0, Easing::Linear), 3.0);
	/* a target below 1 is eased to like any other value */
	EXPECT_DOUBLE_EQ(shown_zoom(1.0, 0.5, 0.5, Easing::Linear), 0.75);
}

TEST(ShownZoom, ATargetThatIsNotFiniteShowsTheWholeFrame)
{
	for (double target : {NAN_VALUE, INF, -INF})
		for (double progress : {0.0, 0.5, 1.0})
			EXPECT_EQ(shown_zoom(2.0, target, progress,
					     Easing::EaseInOut),
				  1.0)
				<< target << " at " << progress;
}

/* ---- a target's own curve ---- */

TEST(Curve, EveryCurveEndsExactlyMeetsItsKnownValuesAndRisesUnlessItOvershoots)
{
	const double s8 = std::sin(3.14159265358979 / 8), r = std::sqrt(0.5);
	const struct {
		Curve curve;
		double at_quarter, at_half;
		Bezier b;
	} cases[] = {
		{Curve::Filter, 0.25, 0.5}, /* alone, as linear */
		{Curve::Linear, 0.25, 0.5},
		{Curve::SineIn, 1 - std::sqrt(1 - s8 * s8), 1 - r},
		{Curve::SineOut, s8, r},
		{Curve::SineInOut, (1 - r) / 2, 0.5},
		{Curve::CubicIn, 1 / 64.0, 0.125},
		{Curve::CubicOut, 1 - 27 / 64.0, 0.875},
		{Curve::CubicInOut, 0.0625, 0.5},
		{Curve::QuintIn, 1 / 1024.0, 1 / 32.0},
		{Curve::QuintOut, 1 - 243 / 1024.0, 1 - 1 / 32.0},
		{Curve::QuintInOut, 1 / 64.0, 0.5},
		{Curve::ExpoIn, std::exp2(-7.5), 1 / 32.0},
		{Curve::ExpoOut, 1 - std::exp2(-2.5), 1 - 1 / 32.0},
		{Curve::ExpoInOut, 1 / 64.0, 0.5},
		{Curve::Smooth, 0.103515625, 0.5},
		/* the default Bézier is CSS's ease; then ease-in, ease-out and
		 * ease-in-out */
		{Curve::Custom, 0.408511, 0.802403},
		{Curve::Custom, 0.093465, 0.315357, {0.42, 0, 1, 1}},
		{Curve::Custom, 0.378138, 0.684643, {0, 0, 0.58, 1}},
		{Curve::Custom, 0.129162, 0.5, {0.42, 0, 0.58, 1}},
		/* x(t) flat in the middle, where Newton's steps stall, or at the
		 * ends; control points past 0..1, the last but one overshooting */
		{Curve::Custom, 0.029725, 0.5, {1, 0, 0, 1}},
		{Curve::Custom, 0.479056, 0.5, {0, 1, 1, 0}},
		{Curve::Custom, 0.055818, 0.5, {0.3, -0.4, 0.7, 1.4}},
		{Curve::Custom, 0.708111, 0.5, {0, 2, 1, -1}},
	};
	/* a Bézier's coordinate at t, to check the point found for its x */
	const auto at = [](double p1, double p2, double t) {
		return 3 * (1 - t) * (1 - t) * t * p1 +
		       3 * (1 - t) * t * t * p2 + t * t * t;
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(::testing::Message()
			     << curve_name(c.curve) << " row " << &c - cases);
		const bool bezier = c.curve == Curve::Custom;
		const double near = bezier ? 1e-4 : 1e-6;
		EXPECT_NEAR(apply_curve(0.25, c.curve, c.b), c.at_quarter,
			    near);
		EXPECT_NEAR(apply_curve(0.5, c.curve, c.b), c.at_half, near);
		for (double x : {0.0, -0.5, NAN_VALUE, 1.0, 1.5, INF})
			EXPECT_EQ(apply_curve(x, c.curve, c.b), x >= 1 ? 1 : 0);
		const bool rises = std::fmin(c.b.y1, c.b.y2) >= 0 &&
				   std::fmax(c.b.y1, c.b.y2) <= 1;
		double previous = 0.0;
		for (int i = 1; i <= 1000; i++) {
			const double e = apply_curve(i / 1000.0, c.curve, c.b);
			ASSERT_TRUE(!rises || e >= previous) << i;
			previous = e;
		}
		for (int i = 1; bezier && i < 100; i++)
			EXPECT_NEAR(apply_curve(at(c.b.x1, c.b.x2, i / 100.0),
						c.curve, c.b),
				    at(c.b.y1, c.b.y2, i / 100.0), 2e-5)
				<< i;
		EXPECT_EQ(curve_from(curve_name(c.curve)), c.curve);
	}
	for (const char *name : {"", "Linear", "custom ", "bounce",
				 static_cast<const char *>(nullptr)})
		EXPECT_EQ(curve_from(name), Curve::Filter)
			<< (name ? name : "");
}

TEST(Bezier, ReadsFourNumbersAsCssWritesThemAndNothingElse)
{
	const auto read = [](const char *text) {
		Bezier b{9, 9, 9, 9};
		const bool ok = parse_bezier(text, b);
		return std::vector<double>(
			{double(ok), b.x1, b.y1, b.x2, b.y2});
	};
	const struct {
		const char *text;
		std::vector<double> read; /* whether read, and the curve */
	} cases[] = {
		{"0.25, 0.1, 0.25, 1", {1, 0.25, 0.1, 0.25, 1}},
		{" cubic-bezier ( .1,.2,.3,.4 ) ", {1, 0.1, 0.2, 0.3, 0.4}},
		{"0.1 0.2 0.3 0.4", {1, 0.1, 0.2, 0.3, 0.4}},
		{"+0.5,-0.5 , 1e0 ,15E-1", {1, 0.5, -0.5, 1, 1.5}},
		{"-0.5, 3, 1.5, -2", {1, 0, 2, 1, -1}}, /* x 0..1, y -1..2 */
	};
	for (const auto &c : cases)
		EXPECT_EQ(read(c.text), c.read) << c.text;
	/* text that does not read leaves the curve as it was */
	for (const char *text :
	     {"", "0.25, 0.1, 0.25", "1, 1, 1, 1, 1", "0,25, 0,1, 0,25, 1",
	      "a, b, c, d", "0.2,, 0.1, 0.2, 1", "0.2, 0.1, 0.2, 1x",
	      "0.2, 0.1, 0.2, 1)", "cubic-bezier(0, 0, 1, 1", "nan, 0, 1, 1",
	      "1e999, 0, 1, 1", "1e, 0, 1, 1", "-, 0, 1, 1",
	      static_cast<const char *>(nullptr)})
		EXPECT_EQ(read(text), std::vector<double>({0, 9, 9, 9, 9}))
			<< (text ? text : "null");
}

/* ---- idle hold keys ---- */

TEST(IdleHold, RaisesAndLowersWithinOneAndFive)
{
	const double step_dt = 0.01 / IDLE_HOLD_RATE;
	/* both held: up first (capped), then down */
	EXPECT_DOUBLE_EQ(held_idle_zoom(4.995, step_dt, true, true), 4.99);
	EXPECT_EQ(held_idle_zoom(7.0, FRAME_60, true, false), 5.0);
	EXPECT_EQ(held_idle_zoom(0.5, FRAME_60, false, true), 1.0);
	EXPECT_EQ(held_idle_zoom(2.5, FRAME_60, false, false), 2.5);

	double zoom = 1.5;
	int ticks = 0;
	while (zoom < 5.0 && ticks < 1000) {
		zoom = held_idle_zoom(zoom, FRAME_60, true, false);
		ticks++;
	}
	EXPECT_EQ(zoom, 5.0);
	/* about 5.83 s at 0.6 per second */
	EXPECT_NEAR(ticks * FRAME_60, 3.5 / 0.6, 2 * FRAME_60);
	EXPECT_EQ(held_idle_zoom(zoom, FRAME_60, true, false), 5.0);
}

/* ---- centre smoothing ---- */

TEST(Smoothing, IsAnExponentialGlideIndependentOfTheFrameRateWithAFloor)
{
	EXPECT_NEAR(smoothing_keep(FRAME_60, 0.6), 0.94925, 1e-5);
	EXPECT_NEAR(1.0 - smoothing_keep(FRAME_60, 0.0), 0.5654, 1e-4);
	EXPECT_NEAR(1.0 - smoothing_keep(FRAME_60, 0.95), 0.0331, 1e-4);
	EXPECT_EQ(smoothing_keep(0.0, 0.6), 1.0);
	/* tau = smoothing * 0.5 + 0.02, at least 0.001 s */
	EXPECT_DOUBLE_EQ(smoothing_keep(0.001, -1.0), std::exp(-1.0));
	EXPECT_DOUBLE_EQ(smoothing_keep(0.001, NAN_VALUE), std::exp(-1.0));

	double c = 0.5;
	for (int i = 0; i < 60; i++)
		c = smooth_center(c, 0.8, smoothing_keep(FRAME_60, 0.6));
	EXPECT_NEAR(c, 0.7868, 1e-4);

	/* one second in 30 frames or in 120 ends at the same place */
	double slow = 0.5, fast = 0.5;
	for (int i = 0; i < 30; i++)
		slow = smooth_center(slow, 0.8, smoothing_keep(1.0 / 30, 0.6));
	for (int i = 0; i < 120; i++)
		fast = smooth_center(fast, 0.8, smoothing_keep(1.0 / 120, 0.6));
	EXPECT_NEAR(slow, fast, 1e-12);
}

TEST(Smoothing, TheShownCentreNeverBecomesNonFiniteAndRecovers)
{
	EXPECT_EQ(smooth_center(0.3, NAN_VALUE, 0.5), 0.3);
	EXPECT_EQ(smooth_center(0.3, INF, 0.5), 0.3);
	EXPECT_EQ(smooth_center(NAN_VALUE, NAN_VALUE, 0.5), 0.5);
	EXPECT_EQ(smooth_center(NAN_VALUE, 0.7, 0.5), 0.7);
	EXPECT_EQ(smooth_center(0.3, 0.7, 1.0), 0.3);
	EXPECT_DOUBLE_EQ(smooth_center(0.3, 0.7, 0.5), 0.5);
}

/* ---- crop window ---- */

TEST(CropWindow, StaysInsideTheFrameInSinglePrecisionAndFinite)
{
	struct Case {
		double zoom, x, y;
		float cx, cy, h;
	} cases[] = {
		{2.0, 0.1, 0.9, 0.25f, 0.75f, 0.25f},
		{1.0, 0.1, 0.9, 0.5f, 0.5f, 0.5f},
		{0.8, 0.0, 1.0, 0.5f, 0.5f, 0.5f},
		{4.0, 0.5, 1.0, 0.5f, 0.875f, 0.125f},
		{2.0, 0.25, 0.75, 0.25f, 0.75f, 0.25f}, /* exactly on a bound */
		{2.0, 0.4, 0.6, 0.4f, 0.6f, 0.25f},
		/* handed on in single precision */
		{5.0, -3.0, 7.0, 0.1f, 0.9f, 0.1f},
		{1.5, 0.5, 0.5, 0.5f, 0.5f, float(1 / 1.5 / 2)},
		/* values that are not finite never reach the effect */
		{NAN_VALUE, 0.1, 0.9, 0.5f, 0.5f, 0.5f},
		{INF, 0.1, 0.9, 0.5f, 0.5f, 0.5f},
		{-INF, 0.1, 0.9, 0.5f, 0.5f, 0.5f},
		{4.0, NAN_VALUE, NAN_VALUE, 0.5f, 0.5f, 0.125f},
		{4.0, INF, INF, 0.5f, 0.5f, 0.125f},
		{4.0, -INF, -INF, 0.5f, 0.5f, 0.125f},
		/* a huge but finite zoom keeps a window of positive size */
		{1e308, 0.5, 0.5, 0.5f, 0.5f,
		 std::numeric_limits<float>::min()},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(::testing::Message()
			     << "zoom " << c.zoom << " centre (" << c.x << ", "
			     << c.y << ")");
		const CropWindow w = crop_window(c.zoom, c.x, c.y);
		EXPECT_EQ(w.center_x, c.cx);
		EXPECT_EQ(w.center_y, c.cy);
		EXPECT_EQ(w.half_size, c.h);
	}
}

TEST(CropWindow, NeedsTheWindowsPixelsAndOneAroundWithinTheFrame)
{
	struct Case {
		double zoom, x, y;
		int width, height;
		PixelRect rect;
	} cases[] = {
		{1.0, 0.5, 0.5, 1920, 1080, {0, 0, 1920, 1080}},
		/* [480, 1440] x [270, 810] */
		{2.0, 0.5, 0.5, 1920, 1080, {479, 269, 1441, 811}},
		/* at the top-left and bottom-right corners */
		{2.0, 0.0, 0.0, 1920, 1080, {0, 0, 961, 541}},
		{2.0, 1.0, 1.0, 1920, 1080, {959, 539, 1920, 1080}},
		/* edges inside pixels: [44.8, 108.8] */
		{4.0, 0.3, 0.3, 256, 256, {43, 43, 110, 110}},
		/* a window too small to see still needs a pixel */
		{1e30, 0.5, 1.0, 100, 100, {49, 99, 51, 100}},
	};
	for (const Case &c : cases) {
		const PixelRect r = needed_pixels(crop_window(c.zoom, c.x, c.y),
						  c.width, c.height);
		SCOPED_TRACE(::testing::Message()
			     << "zoom " << c.zoom << " centre (" << c.x << ", "
			     << c.y << ")");
		EXPECT_EQ(r.x0, c.rect.x0);
		EXPECT_EQ(r.y0, c.rect.y0);
		EXPECT_EQ(r.x1, c.rect.x1);
		EXPECT_EQ(r.y1, c.rect.y1);
	}
}

/* ---- stage selection by keys and requests ---- */

enum class Key { Toggle, Set, HoldPress, HoldRelease, Idle };

TEST(StageSelection, KeysAndRequestsInSequence)
{
	/* each sequence starts at rest on the idle target */
	struct Step {
		Key key;
		int k;
		double progress; /* of the transition, for the idle key */
		int active, held;
		bool starts, changed;
	};
	const struct {
		const char *what;
		std::vector<Step> steps;
	} cases[] = {
		{"toggle on, off, then switch straight to another stage",
		 {{Key::Toggle, 1, 0, 1, -1, true, true},
		  {Key::Toggle, 1, 0, -1, -1, true, true},
		  {Key::Toggle, 0, 0, 0, -1, true, true},
		  {Key::Toggle, 2, 0, 2, -1, true, true}}},
		{"set: the stage already selected changes nothing",
		 {{Key::Set, -1, 0, -1, -1, false, false},
		  {Key::Set, 3, 0, 3, -1, true, true},
		  {Key::Set, 3, 0, 3, -1, false, false},
		  {Key::Set, -1, 0, -1, -1, true, true}}},
		{"hold: press shows the stage, release returns to idle",
		 {{Key::HoldPress, 1, 0, 1, 1, true, true},
		  {Key::HoldRelease, 1, 0, -1, -1, true, true},
		  {Key::HoldRelease, 1, 0, -1, -1, false, false}}},
		{"hold: a release after another stage was chosen",
		 {{Key::HoldPress, 1, 0, 1, 1, true, true},
		  {Key::Toggle, 2, 0, 2, -1, true, true},
		  {Key::HoldRelease, 1, 0, 2, -1, false, false}}},
		{"hold: chosen again by request before the release",
		 {{Key::HoldPress, 1, 0, 1, 1, true, true},
		  {Key::Set, 0, 0, 0, -1, true, true},
		  {Key::Set, 1, 0, 1, -1, true, true},
		  {Key::HoldRelease, 1, 0, 1, -1, false, false}}},
		{"hold: the idle key during the hold",
		 {{Key::HoldPress, 0, 0, 0, 0, true, true},
		  {Key::Idle, -1, 0.5, -1, -1, true, true},
		  {Key::HoldRelease, 0, 0, -1, -1, false, false}}},
		{"hold: pressed while its stage is already shown",
		 {{Key::Toggle, 1, 0, 1, -1, true, true},
		  {Key::HoldPress, 1, 0, 1, 1, false, false},
		  {Key::HoldRelease, 1, 0, -1, -1, true, true}}},
		{"hold: a second hold key takes over",
		 {{Key::HoldPress, 0, 0, 0, 0, true, true},
		  {Key::HoldPress, 1, 0, 1, 1, true, true},
		  {Key::HoldRelease, 0, 0, 1, 1, false, false},
		  {Key::HoldRelease, 1, 0, -1, -1, true, true}}},
		{"idle key: at rest on idle does nothing",
		 {{Key::Idle, -1, 1.0, -1, -1, false, false}}},
		{"idle key: from a stage, shown or mid-way",
		 {{Key::Toggle, 4, 0, 4, -1, true, true},
		  {Key::Idle, -1, 1.0, -1, -1, true, true},
		  {Key::Toggle, 4, 0, 4, -1, true, true},
		  {Key::Idle, -1, 0.25, -1, -1, true, true}}},
		{"idle key: on the way to idle it starts again from the shown zoom",
		 {{Key::Toggle, 2, 0, 2, -1, true, true},
		  {Key::Toggle, 2, 0, -1, -1, true, true},
		  {Key::Idle, -1, 0.5, -1, -1, true, false}}},
	};
	for (const auto &c : cases) {
		StageSelection s;
		int n = 0;
		for (const Step &step : c.steps) {
			StageStep r;
			switch (step.key) {
			case Key::Toggle:
				r = toggle_stage(s, step.k);
				break;
			case Key::Set:
				r = set_stage(s, step.k);
				break;
			case Key::HoldPress:
				r = hold_stage_press(s, step.k);
				break;
			case Key::HoldRelease:
				r = hold_stage_release(s, step.k);
				break;
			case Key::Idle:
				r = idle_key(s, step.progress);
				break;
			}
			SCOPED_TRACE(std::string(c.what) + " #" +
				     std::to_string(++n));
			EXPECT_EQ(r.next.active, step.active);
			EXPECT_EQ(r.next.held, step.held);
			EXPECT_EQ(r.starts, step.starts);
			EXPECT_EQ(r.changed, step.changed);
			s = r.next;
		}
	}
}
/* ---- centre tracking ---- */

TEST(Tracking, CutMarginsShrinkTheScreenCaptureArea)
{
	struct Case {
		double x, y, w, h, top, left, right, bot;
		CaptureRect want;
	} cases[] = {
		{0, 0, 1280, 720, 0, 0, 0, 0, {0, 0, 1280, 720}},
		{0, 0, 1280, 720, 100, 200, 80, 20, {200, 100, 1000, 600}},
		/* a second head to the right of the first */
		{1920, 0, 1280, 1024, 24, 10, 0, 0, {1930, 24, 1270, 1000}},
	};
	for (const Case &c : cases) {
		const CaptureRect r = cut_capture_rect(
			c.x, c.y, c.w, c.h, c.top, c.left, c.right, c.bot);
		EXPECT_EQ(r.x, c.want.x);
		EXPECT_EQ(r.y, c.want.y);
		EXPECT_EQ(r.width, c.want.width);
		EXPECT_EQ(r.height, c.want.height);
	}
}

TEST(Tracking, APointerMapsToFractionsOfTheAreaAndIsClampedToItsEdges)
{
	const CaptureRect area = {200, 100, 1000, 600};
	struct Case {
		double px, py, fx, fy;
	} cases[] = {
		{200, 100, 0.0005, 1.0 / 1200}, /* the first pixel's centre */
		{699.5, 399.5, 0.5, 0.5},       /* the middle */
		{1199, 699, 0.9995, 1199.0 / 1200}, /* the last pixel */
		{0, 0, 0.0, 0.0},      /* above and left: clamped */
		{1279, 719, 1.0, 1.0}, /* below and right */
		{50, 399.5, 0.0, 0.5}, /* left only */
	};
	for (const Case &c : cases) {
		double fx = -1, fy = -1;
		ASSERT_TRUE(pointer_in_rect(area, c.px, c.py, fx, fy));
		EXPECT_DOUBLE_EQ(fx, c.fx) << c.px;
		EXPECT_DOUBLE_EQ(fy, c.fy) << c.py;
	}
}

TEST(Tracking, AnEmptyOrBrokenAreaOrPointerMapsToNothing)
{
	const CaptureRect bad[] = {
		{0, 0, 0, 720},         {0, 0, 1280, -5},
		{0, 0, NAN_VALUE, 720}, {NAN_VALUE, 0, 1280, 720},
		{0, 0, INF, 720},       {0, 0, 1280, INF}};
	for (const CaptureRect &r : bad) {
		double fx = 0.25, fy = 0.75;
		EXPECT_FALSE(pointer_in_rect(r, 10, 10, fx, fy));
		EXPECT_EQ(fx, 0.25);
		EXPECT_EQ(fy, 0.75);
	}
	double fx = 0.25, fy = 0.75;
	EXPECT_FALSE(pointer_in_rect({0, 0, 10, 10}, NAN_VALUE, 1, fx, fy));
	EXPECT_FALSE(pointer_in_rect({0, 0, 10, 10}, 1, INF, fx, fy));
}

TEST(Tracking, TheDeadZoneIsClampedIntoZeroToNineTenths)
{
	const double cases[][2] = {{0.0, 0.0},  {0.25, 0.25}, {0.9, 0.9},
				   {0.95, 0.9}, {-0.1, 0.0},  {NAN_VALUE, 0.0},
				   {INF, 0.9},  {-INF, 0.0},  {1e308, 0.9}};
	for (const auto &c : cases)
		EXPECT_EQ(clamp_dead_zone(c[0]), c[1]) << c[0];
}

TEST(Tracking, TheDeadZoneHoldsInsideItsBoxAndFollowsByTheOvershoot)
{
	/* half size 0.25 (zoom 2): a dead zone of 0.25 is a box of +-0.0625 */
	struct Case {
		double wanted, pointer, half, zone, want;
	} cases[] = {
		{0.5, 0.5, 0.25, 0.25, 0.5},    /* on the centre */
		{0.5, 0.56, 0.25, 0.25, 0.5},   /* inside: holds */
		{0.5, 0.4375, 0.25, 0.25, 0.5}, /* on the box's edge */
		{0.5, 0.6, 0.25, 0.25, 0.5375}, /* beyond: by the overshoot */
		{0.5, 0.3, 0.25, 0.25, 0.3625},
		{0.5, 0.6, 0.25, 0.0, 0.6},   /* no dead zone: on the pointer */
		{0.5, 0.95, 0.25, 0.0, 0.75}, /* ... inside the frame */
		{0.5, 0.0, 0.25, 0.25, 0.25},
		{0.5, 0.52, 0.1, 0.2, 0.5},       /* zoom 5, 2 % of the frame */
		{0.5, 0.53, 0.1, 0.2, 0.51},      /* ... 3 %: by 1 % */
		{0.5, 0.9, 0.25, 0.9, 0.675},     /* the widest box */
		{0.5, 0.9, 0.25, 5.0, 0.675},     /* beyond it: clamped */
		{0.5, 0.6, 0.25, NAN_VALUE, 0.6}, /* not a number: none */
		{0.9, 0.9, 0.25, 0.25, 0.75},     /* pulled back into reach */
		{NAN_VALUE, 0.3, 0.25, 0.25, 0.3}, /* restarts on the pointer */
		{0.4, NAN_VALUE, 0.25, 0.25, 0.4}, /* holds without a pointer */
		{0.4, 0.9, 0.5, 0.25, 0.5},        /* zoom 1: the middle */
		{0.4, 0.9, NAN_VALUE, 0.25, 0.5},  /* a broken window: all */
	};
	for (const Case &c : cases)
		EXPECT_DOUBLE_EQ(dead_zone_center(c.wanted, c.pointer, c.half,
						  c.zone),
				 c.want)
			<< c.wanted << " " << c.pointer << " " << c.half << " "
			<< c.zone;
}

/* ---- following a face ---- */

TEST(FaceRegion, TheWholeFrameWhileSearchingAndASquareAroundAFollowedFace)
{
	/* a face 88 pixels wide whose centre is at 400, 300 of 1920x1080 */
	const FaceBox face{356.0 / 1920, 256.0 / 1080, 88.0 / 1920,
			   88.0 / 1080};
	const FaceBox at_corner{0.0, 0.0, 88.0 / 1920, 88.0 / 1080};
	const FaceBox huge{0.1, 0.1, 0.8, 0.8};
	const FaceBox nothing{0.5, 0.5, 0.0, 0.0};
	const struct {
		double width, height;
		const FaceBox *followed;
		bool ok;
		FaceRegion want;
	} cases[] = {
		/* searching: 1024 on the longer side, enlarged at most
		 * twice */
		{1920, 1080, nullptr, true, {0, 0, 1920, 1080, 1024, 576}},
		{1080, 1920, nullptr, true, {0, 0, 1080, 1920, 576, 1024}},
		{640, 360, nullptr, true, {0, 0, 640, 360, 1024, 576}},
		{320, 240, nullptr, true, {0, 0, 320, 240, 640, 480}},
		{1, 1, nullptr, true, {0, 0, 1, 1, 2, 2}},
		/* 2.5 faces square around it, the face drawn 88 wide */
		{1920, 1080, &face, true, {290, 190, 510, 410, 220, 220}},
		/* kept inside the frame */
		{1920, 1080, &at_corner, true, {0, 0, 220, 220, 220, 220}},
		/* a region as large as the frame: the whole frame */
		{1920, 1080, &huge, true, {0, 0, 1920, 1080, 1024, 576}},
		{1920, 1080, &nothing, true, {0, 0, 1920, 1080, 1024, 576}},
		/* nothing to draw */
		{0, 1080, nullptr, false, {}},
		{1920, 0, &face, false, {}},
		{NAN_VALUE, 1080, nullptr, false, {}},
		{0.5, 0.5, nullptr, false, {}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.width) + "x" +
			     std::to_string(c.height));
		FaceRegion r;
		ASSERT_EQ(face_region(c.width, c.height, c.followed, r), c.ok);
		if (!c.ok)
			continue;
		EXPECT_DOUBLE_EQ(r.x0, c.want.x0);
		EXPECT_DOUBLE_EQ(r.y0, c.want.y0);
		EXPECT_DOUBLE_EQ(r.x1, c.want.x1);
		EXPECT_DOUBLE_EQ(r.y1, c.want.y1);
		EXPECT_EQ(r.width, c.want.width);
		EXPECT_EQ(r.height, c.want.height);
	}
	/* a box found in a region comes back as fractions of the source */
	const FaceRegion region{290, 190, 510, 410, 220, 220};
	const FaceBox back = box_in_source(region, 1920, 1080, 66, 66, 88, 88);
	EXPECT_DOUBLE_EQ(back.center_x() * 1920, 400.0);
	EXPECT_DOUBLE_EQ(back.center_y() * 1080, 300.0);
	EXPECT_DOUBLE_EQ(back.w * 1920, 88.0);
}

TEST(FaceFraming, TheFaceFillsItsShareWithinOneToFiveAndSmallChangesKeepTheZoom)
{
	const struct {
		double face_height, share, want;
	} framing[] = {
		{0.1, 0.3, 3.0},       {0.15, 0.3, 2.0}, {0.3, 0.3, 1.0},
		{0.6, 0.3, 1.0},  /* never below 1 */
		{0.02, 0.3, 5.0}, /* nor above 5 */
		{0.1, 0.05, 1.0}, /* a share below 0.1 is 0.1 */
		{0.2, 0.9, 4.0},  /* and above 0.8 is 0.8 */
		{0.1, NAN_VALUE, 3.0}, {0.0, 0.3, 1.0},  {NAN_VALUE, 0.3, 1.0},
	};
	for (const auto &c : framing)
		EXPECT_DOUBLE_EQ(framing_zoom(c.face_height, c.share), c.want)
			<< c.face_height << " " << c.share;
	const struct {
		double shown, wanted, want;
	} steady[] = {
		{2.0, 2.2, 2.0},   {2.0, 1.75, 2.0}, /* within 15 %: still */
		{2.0, 2.31, 2.31}, {2.0, 1.69, 1.69}, {0.0, 3.0, 3.0},
	};
	for (const auto &c : steady)
		EXPECT_DOUBLE_EQ(steady_framing_zoom(c.shown, c.wanted), c.want)
			<< c.shown << " " << c.wanted;
}

TEST(FaceChoice, TheLargestAtFirstThenTheOneNearestTheFollowedFace)
{
	/* on a 1000x1000 source: a large face left, a smaller one right */
	const FaceBox faces[] = {{0.1, 0.4, 0.2, 0.2}, {0.7, 0.4, 0.15, 0.15}};
	const FaceBox left{0.12, 0.41, 0.2, 0.2};
	const FaceBox right{0.69, 0.42, 0.15, 0.15};
	const FaceBox between{0.45, 0.4, 0.1, 0.1};
	const FaceBox tiny{0.9, 0.9, 0.05, 0.05};
	const struct {
		const FaceBox *followed;
		int n;
		double unseen; /* seconds */
		int want;
	} cases[] = {
		{nullptr, 2, 0, 0}, /* the largest */
		{&left, 2, 0, 0},
		{&right, 2, 0, 1},    /* stays with the smaller one */
		{&between, 2, 0, -1}, /* neither is within its size of it */
		{nullptr, 0, 0, -1},
		{&right, 1, 0, -1}, /* its face is gone; the other is not it */
		/* unseen for a while, it may be further: 0.325 from the
		 * left face's centre is 3.25 of its 0.1 */
		{&between, 1, 0.8, -1},
		{&between, 1, 0.9, 0},
		{&between, 2, 9.0, 1}, /* the nearer of the two */
		{&tiny, 1, 9.0, -1},   /* never more than the hold's reach */
	};
	for (const auto &c : cases)
		EXPECT_EQ(pick_face(faces, c.n, c.followed, 1000, 1000,
				    face_reach(c.unseen)),
			  c.want)
			<< c.unseen;
	EXPECT_EQ(face_reach(0.0), 1.0);
	EXPECT_EQ(face_reach(-1.0), 1.0);
	EXPECT_EQ(face_reach(NAN_VALUE), 1.0);
	EXPECT_EQ(face_reach(1.0), 1.0 + FACE_MOVES);
}

TEST(FaceChoice, NoiseKeepsThePublishedBoxAndGrowthMovesIt)
{
	const FaceBox shown{0.40, 0.30, 0.10, 0.10};
	const struct {
		FaceBox found;
		bool same;
	} cases[] = {
		{{0.40, 0.30, 0.10, 0.10}, true},
		{{0.405, 0.296, 0.10, 0.10}, true}, /* half a twentieth */
		{{0.41, 0.30, 0.10, 0.10}, false},  /* a tenth of its size */
		{{0.39, 0.29, 0.12, 0.12}, false},  /* a fifth larger */
		{{0.40, 0.30, 0.105, 0.105}, true},
	};
	for (const auto &c : cases) {
		const FaceBox got = steady_box(shown, c.found);
		const FaceBox &want = c.same ? shown : c.found;
		EXPECT_EQ(got.x, want.x);
		EXPECT_EQ(got.y, want.y);
		EXPECT_EQ(got.w, want.w);
	}
	/* where to look: the new centre, a third of the way to its size */
	const FaceBox look = averaged_box(shown, {0.5, 0.5, 0.16, 0.16});
	EXPECT_DOUBLE_EQ(look.center_x(), 0.58);
	EXPECT_DOUBLE_EQ(look.w, 0.12);
}

TEST(TrackingSubject, StoredNamesAndWhatAutoFollows)
{
	EXPECT_EQ(tracking_subject_from("pointer"), TrackingSubject::Pointer);
	EXPECT_EQ(tracking_subject_from("face"), TrackingSubject::Face);
	for (const char *other : {"auto", "", "FACE", "faces", " face"})
		EXPECT_EQ(tracking_subject_from(other), TrackingSubject::Auto)
			<< other;
	EXPECT_EQ(tracking_subject_from(nullptr), TrackingSubject::Auto);
	const struct {
		TrackingSubject setting;
		bool parent, screen;
		TrackingSubject want;
	} cases[] = {
		{TrackingSubject::Auto, true, true, TrackingSubject::Pointer},
		{TrackingSubject::Auto, true, false, TrackingSubject::Face},
		{TrackingSubject::Auto, false, false, TrackingSubject::None},
		{TrackingSubject::Pointer, false, false,
		 TrackingSubject::Pointer},
		{TrackingSubject::Face, true, true, TrackingSubject::Face},
	};
	for (const auto &c : cases)
		EXPECT_EQ(followed_subject(c.setting, c.parent, c.screen),
			  c.want);
}
