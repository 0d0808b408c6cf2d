/*
 * Feeds the zoom filter settings that no property sheet would ever write
 * (every key, with any type and any value, down to NaN, infinities and the
 * extremes of the integers), then runs it: create, attach to a source,
 * ticks, stage and hold hotkeys, further updates, stage count changes,
 * detach and destroy, all through the real module in a real libobs.
 *
 * After every step the window that the filter would hand to its effect must
 * be finite and inside the frame, and the stage list and the active stage
 * must be valid. After the fuzzed part, with the settings back to their
 * defaults and every key released, the filter must show the whole frame
 * again.
 */
#include "obs-harness.hpp"
#include "core/zoom-core.hpp"
#include "filter/zoom-keys.hpp"

#include <fuzzer/FuzzedDataProvider.h>

#include <obs.h>

#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

enum class KeyType { Double, Int, Bool, String };

struct Key {
	std::string name;
	KeyType natural; /* the type the module writes as its default */
};

std::vector<Key> all_keys()
{
	std::vector<Key> keys;
	auto add_target = [&keys](const TargetKeys &k) {
		if (k.name[0])
			keys.push_back({k.name, KeyType::String});
		keys.push_back({k.zoom_factor, KeyType::Double});
		keys.push_back({k.center_tracking, KeyType::Bool});
		keys.push_back({k.center_x, KeyType::Double});
		keys.push_back({k.center_y, KeyType::Double});
		keys.push_back({k.duration, KeyType::Double});
		if (k.hold[0])
			keys.push_back({k.hold, KeyType::Bool});
		keys.push_back({k.easing, KeyType::String});
		keys.push_back({k.bezier, KeyType::String});
		keys.push_back({k.center_mode, KeyType::String});
	};
	add_target(idle_keys());
	keys.push_back({"easing_in", KeyType::Int});
	keys.push_back({"easing_out", KeyType::Int});
	keys.push_back({"tracking_smoothing", KeyType::Double});
	keys.push_back({"help_show", KeyType::Bool});
	keys.push_back({"stage_count", KeyType::Int});
	keys.push_back({"tracking_subject", KeyType::String});
	for (int i = 0; i < MAX_STAGES; i++)
		add_target(stage_keys(i));
	return keys;
}

const std::vector<Key> &keys()
{
	static const std::vector<Key> k = all_keys();
	return k;
}

constexpr double INF = std::numeric_limits<double>::infinity();

const double SPECIAL_DOUBLES[] = {
	std::numeric_limits<double>::quiet_NaN(),
	-std::numeric_limits<double>::quiet_NaN(),
	INF,
	-INF,
	1e308,
	-1e308,
	DBL_MAX,
	-DBL_MAX,
	DBL_MIN,
	std::numeric_limits<double>::denorm_min(),
	0.0,
	-0.0,
	1e-9,
	-1e-9,
	0.0009,
	0.001,
	0.05,
	0.5,
	1.0,
	-1.0,
	1.5,
	2.0,
	4.995,
	5.0,
	5.000001,
	0.95,
	3.0,
	-3.0,
	7.0,
	1e9,
	-1e9,
	9.2233720368547758e18,
	-9.2233720368547758e18,
};

const long long SPECIAL_INTS[] = {
	INT64_MIN,
	INT64_MAX,
	INT32_MIN,
	INT32_MAX,
	INT32_MIN - 1LL,
	0x100000001LL,
	0,
	1,
	-1,
	2,
	3,
	7,
	8,
	9,
	100,
};

const char *const SPECIAL_STRINGS[] = {
	"", "nan", "inf", "-inf", "1e308", "2", "0.5", "%s%n%s", "Stage 1",
};

double fuzzed_double(FuzzedDataProvider &in)
{
	switch (in.ConsumeIntegralInRange<int>(0, 2)) {
	case 0:
		return in.PickValueInArray(SPECIAL_DOUBLES);
	case 1: {
		/* any bit pattern: every NaN payload, denormals, ... */
		const uint64_t bits = in.ConsumeIntegral<uint64_t>();
		double d;
		std::memcpy(&d, &bits, sizeof(d));
		return d;
	}
	default:
		return in.ConsumeFloatingPointInRange<double>(-10.0, 10.0);
	}
}

long long fuzzed_int(FuzzedDataProvider &in)
{
	if (in.ConsumeBool())
		return in.PickValueInArray(SPECIAL_INTS);
	return in.ConsumeIntegral<long long>();
}

/* Writes one key with a fuzzed type and value, or leaves it out. */
void set_fuzzed(FuzzedDataProvider &in, obs_data_t *data, const Key &key)
{
	const char *name = key.name.c_str();
	switch (in.ConsumeIntegralInRange<int>(0, 5)) {
	case 0: /* missing: the default holds */
		break;
	case 1:
		obs_data_set_double(data, name, fuzzed_double(in));
		break;
	case 2:
		obs_data_set_int(data, name, fuzzed_int(in));
		break;
	case 3:
		obs_data_set_bool(data, name, in.ConsumeBool());
		break;
	case 4:
		if (in.ConsumeBool())
			obs_data_set_string(
				data, name,
				in.PickValueInArray(SPECIAL_STRINGS));
		else
			obs_data_set_string(
				data, name,
				in.ConsumeRandomLengthString(64).c_str());
		break;
	default: /* the key's own type, the likeliest in real scene files */
		switch (key.natural) {
		case KeyType::Double:
			obs_data_set_double(data, name, fuzzed_double(in));
			break;
		case KeyType::Int:
			obs_data_set_int(data, name, fuzzed_int(in));
			break;
		case KeyType::Bool:
			obs_data_set_bool(data, name, in.ConsumeBool());
			break;
		case KeyType::String:
			obs_data_set_string(
				data, name,
				in.ConsumeRandomLengthString(32).c_str());
			break;
		}
		break;
	}
}

[[noreturn]] void fail(const char *what, const ZoomSnapshot &f)
{
	std::fprintf(
		stderr,
		"INVARIANT BROKEN: %s\n"
		"  current_zoom=%.17g centre=(%.17g, %.17g)\n"
		"  active_stage=%d stages=%zu contexts=%zu progress=%.17g\n",
		what, f->current_zoom, f->current_center_x, f->current_center_y,
		f->active_stage, f->stages.size(), f->stage_keys.size(),
		f->transition_progress);
	std::abort();
}

/* What the effect would be handed now, and the state it comes from. */
void check(const ZoomSnapshot &f)
{
	const size_t n = f->stages.size();
	if (n < 1 || n > MAX_STAGES)
		fail("stage list length outside 1..8", f);
	/* none without a parent, else one per stage */
	if (!f->stage_keys.empty() && f->stage_keys.size() != n)
		fail("one hotkey context per stage", f);
	if (f->active_stage < -1 ||
	    (f->active_stage >= 0 && size_t(f->active_stage) >= n))
		fail("active_stage names no stage", f);
	if (!(f->transition_progress >= 0.0 && f->transition_progress <= 1.0))
		fail("transition progress outside [0, 1]", f);

	const CropWindow w = crop_window(f->current_zoom, f->current_center_x,
					 f->current_center_y);
	if (!std::isfinite(w.center_x) || !std::isfinite(w.center_y) ||
	    !std::isfinite(w.half_size))
		fail("a value for the effect is not finite", f);
	if (w.center_x < 0.0f || w.center_x > 1.0f || w.center_y < 0.0f ||
	    w.center_y > 1.0f)
		fail("centre outside [0, 1]", f);
	if (!(w.half_size > 0.0f && w.half_size <= 0.5f))
		fail("half size outside (0, 0.5]", f);
	/* the window itself stays inside the frame (to float rounding) */
	const float slack = 1e-6f;
	if (w.center_x - w.half_size < -slack ||
	    w.center_x + w.half_size > 1.0f + slack ||
	    w.center_y - w.half_size < -slack ||
	    w.center_y + w.half_size > 1.0f + slack)
		fail("crop window reaches outside the frame", f);
}

const float FRAME_TIMES[] = {1.0f / 60.0f, 1.0f / 30.0f, 1.0f / 144.0f,
			     0.0f,         0.0009f,      0.25f,
			     1.0f,         3.0f,         30.0f};

obs_source_t *parent_source = nullptr;

/* Presses or releases a hold key, when it has been registered. */
void hold(obs_hotkey_id id, bool pressed)
{
	if (id != OBS_INVALID_HOTKEY_ID)
		obs_hotkey_trigger_routed_callback(id, pressed);
}

void run_input(FuzzedDataProvider &in)
{
	obs_data_t *settings = obs_data_create();
	for (const Key &key : keys())
		set_fuzzed(in, settings, key);
	obs_source_t *filter = create_zoom_filter("fuzzed zoom", settings);
	obs_data_release(settings);
	if (!filter)
		std::abort();
	ZoomView f{filter};
	check(f);

	bool attached = in.ConsumeBool();
	if (attached)
		obs_source_filter_add(parent_source, filter);

	int steps = 0;
	while (in.remaining_bytes() > 0 && steps++ < 64) {
		switch (in.ConsumeIntegralInRange<int>(0, 9)) {
		case 0:
			tick(filter, in.PickValueInArray(FRAME_TIMES));
			break;
		case 1:
			tick(filter, 1.0f / 60.0f,
			     in.ConsumeIntegralInRange<int>(1, 240));
			break;
		case 2: {
			/* a stage's toggle key, possibly one that is gone */
			const size_t k = in.ConsumeIntegralInRange<size_t>(
				0, MAX_STAGES);
			if (k < f->stage_keys.size() &&
			    f->stage_keys[k].id != OBS_INVALID_HOTKEY_ID)
				press_hotkey(f->stage_keys[k].id,
					     in.ConsumeBool());
			break;
		}
		case 3:
			hold(f->idle_zoom_in_hotkey, in.ConsumeBool());
			break;
		case 4:
			hold(f->idle_zoom_out_hotkey, in.ConsumeBool());
			break;
		case 5: {
			/* a few keys changed by a script or remote client */
			obs_data_t *changes = obs_data_create();
			const int count = in.ConsumeIntegralInRange<int>(1, 8);
			for (int i = 0; i < count; i++)
				set_fuzzed(
					in, changes,
					keys()[in.ConsumeIntegralInRange<size_t>(
						0, keys().size() - 1)]);
			update_filter(filter, changes);
			obs_data_release(changes);
			break;
		}
		case 6: {
			obs_data_t *changes = obs_data_create();
			obs_data_set_int(changes, "stage_count",
					 in.ConsumeIntegralInRange<int>(-1, 9));
			update_filter(filter, changes);
			obs_data_release(changes);
			break;
		}
		case 7:
			if (attached)
				obs_source_filter_remove(parent_source, filter);
			else
				obs_source_filter_add(parent_source, filter);
			attached = !attached;
			wait_hotkeys(); /* what filter_remove queued */
			break;
		case 8: {
			/* the property sheet reads the settings too */
			obs_properties_t *props = obs_source_properties(filter);
			obs_properties_destroy(props);
			break;
		}
		default:
			tick(filter, 1.0f / 60.0f);
			break;
		}
		check(f);
	}

	/* Back to sane settings: the filter must recover fully. */
	hold(f->idle_zoom_in_hotkey, false);
	hold(f->idle_zoom_out_hotkey, false);
	obs_data_t *current = obs_source_get_settings(filter);
	for (const Key &key : keys())
		obs_data_unset_user_value(current, key.name.c_str());
	obs_data_release(current);
	obs_data_t *none = obs_data_create();
	update_filter(filter, none);
	obs_data_release(none);
	{
		/* leave any stage: the idle target shows the whole frame */
		obs_hotkey_id active = OBS_INVALID_HOTKEY_ID;
		const size_t k = size_t(f->active_stage);
		if (f->active_stage >= 0 && k < f->stage_keys.size())
			active = f->stage_keys[k].id;
		if (active != OBS_INVALID_HOTKEY_ID)
			press_hotkey(active);
	}
	if (f->active_stage < 0) {
		tick(filter, 1.0f / 60.0f, 60);
		check(f);
		const CropWindow w = crop_window(f->current_zoom,
						 f->current_center_x,
						 f->current_center_y);
		if (w.half_size != 0.5f || w.center_x != 0.5f ||
		    w.center_y != 0.5f)
			fail("no whole frame after the settings were reset", f);
	}

	if (attached)
		obs_source_filter_remove(parent_source, filter);
	obs_source_release(filter);
	wait_destroyed();
	if (!hotkeys_of(parent_source).empty()) {
		std::fprintf(stderr,
			     "INVARIANT BROKEN: %zu hotkeys left on "
			     "the source after the filter went\n",
			     hotkeys_of(parent_source).size());
		std::abort();
	}
	clear_logs();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	HostOptions options;
	if (!start_host(options)) {
		std::fprintf(stderr, "libobs did not start\n");
		std::exit(1);
	}
	parent_source = create_pattern_source("fuzz parent");
	/* the host stays up for the whole run; the process exit ends it */
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	FuzzedDataProvider in(data, size);
	run_input(in);
	return 0;
}
