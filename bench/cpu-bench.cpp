/*
 * CPU cost of the filter's per-frame and per-press work, through the module
 * as libobs loaded it: the registered video_tick, the crop window, a stage
 * hotkey press through libobs's hotkey path, and the one-time hotkey
 * registration of many filters. Every figure also carries the heap
 * allocations counted per iteration.
 */
#include "alloc-counter.hpp"
#include "obs-harness.hpp"
#include "zoom-core.hpp"
#include "zoom-filter.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr float FRAME_TIME = 1.0f / 60.0f;

/* Per-frame and per-press work must not allocate: the run fails if it did
 * (timing never fails it). */
bool allocated = false;

void report_allocations(benchmark::State &state, const AllocationCount &count,
			const char *what)
{
	if (count.allocations != 0 || count.frees != 0) {
		allocated = true;
		std::fprintf(stderr, "%s: %ld allocations, %ld frees\n", what,
			     count.allocations, count.frees);
	}
	const double iterations =
		state.iterations() ? double(state.iterations()) : 1.0;
	state.counters["allocs/iter"] = double(count.allocations) / iterations;
	state.counters["frees/iter"] = double(count.frees) / iterations;
}

/* A public source with a zoom filter on it, its hotkeys registered. */
struct Scene {
	obs_source_t *parent = nullptr;
	obs_source_t *filter = nullptr;
	void *data = nullptr;

	explicit Scene(const char *name, int stage_count = 8)
	{
		parent = create_pattern_source(name);
		obs_data_t *settings = obs_data_create();
		obs_data_set_double(settings, "idle_zoom_factor", 2.0);
		obs_data_set_double(settings, "idle_center_x", 0.3);
		obs_data_set_double(settings, "idle_center_y", 0.6);
		obs_data_set_int(settings, "stage_count", stage_count);
		/* a transition that lasts as long as any run */
		obs_data_set_double(settings, "stage_1_zoom_factor", 4.0);
		obs_data_set_double(settings, "stage_1_duration", 1.0e9);
		filter = create_zoom_filter("zoom", settings);
		obs_data_release(settings);
		obs_source_filter_add(parent, filter);
		data = obs_obj_get_data(filter);
		/* the first tick queues the work that registers the hotkeys */
		zoom_filter_info().video_tick(data, FRAME_TIME);
		wait_hotkeys();
	}
	~Scene()
	{
		obs_source_filter_remove(parent, filter);
		obs_source_release(filter);
		obs_source_release(parent);
		wait_destroyed();
	}
	obs_hotkey_id hotkey(const char *name) const
	{
		return find_hotkey(parent, name);
	}
};

void run_ticks(benchmark::State &state, void *data, const char *what)
{
	const auto tick = zoom_filter_info().video_tick;
	start_counting_allocations();
	for (auto _ : state)
		tick(data, FRAME_TIME);
	report_allocations(state, stop_counting_allocations(), what);
}

void BM_TickAtRest(benchmark::State &state)
{
	Scene scene("tick at rest");
	for (int i = 0; i < 600; i++)
		zoom_filter_info().video_tick(scene.data, FRAME_TIME);
	run_ticks(state, scene.data, "tick at rest");
}
BENCHMARK(BM_TickAtRest);

void BM_TickMidTransition(benchmark::State &state)
{
	Scene scene("tick mid-transition");
	press_hotkey(scene.hotkey("tavimore.stage_1"));
	run_ticks(state, scene.data, "tick mid-transition");
	if (zoom_data(scene.filter)->transition_progress >= 1.0)
		state.SkipWithError("the transition ended during the run");
}
BENCHMARK(BM_TickMidTransition);

void BM_TickHoldingBothKeys(benchmark::State &state)
{
	Scene scene("tick holding");
	const obs_hotkey_id zoom_in = scene.hotkey("tavimore.idle_zoom_in");
	const obs_hotkey_id zoom_out = scene.hotkey("tavimore.idle_zoom_out");
	press_hotkey(zoom_in, false);
	press_hotkey(zoom_out, false);
	run_ticks(state, scene.data, "tick holding both keys");
	obs_hotkey_trigger_routed_callback(zoom_in, false);
	obs_hotkey_trigger_routed_callback(zoom_out, false);
}
BENCHMARK(BM_TickHoldingBothKeys);

void BM_CropWindow(benchmark::State &state)
{
	/* varied inputs, so that nothing folds into a constant */
	struct Input {
		double zoom, x, y;
	};
	std::vector<Input> inputs;
	for (int i = 0; i < 64; i++)
		inputs.push_back({1.0 + 0.0625 * i, (i % 11) / 10.0,
				  (i % 7) / 6.0 - 0.1});
	size_t i = 0;
	start_counting_allocations();
	for (auto _ : state) {
		const Input &in = inputs[i++ & 63];
		benchmark::DoNotOptimize(crop_window(in.zoom, in.x, in.y));
	}
	report_allocations(state, stop_counting_allocations(), "crop window");
}
BENCHMARK(BM_CropWindow);

/* A press and release of a stage key, through libobs's hotkey lookup and
 * lock, as a key press arrives; each press toggles the stage. */
void BM_StageHotkeyPress(benchmark::State &state)
{
	Scene scene("stage press");
	const obs_hotkey_id stage = scene.hotkey("tavimore.stage_3");
	start_counting_allocations();
	for (auto _ : state)
		press_hotkey(stage);
	report_allocations(state, stop_counting_allocations(), "stage press");
}
BENCHMARK(BM_StageHotkeyPress);

/* The first tick of each of n filters, each on its own source, and the
 * hotkey work it queues, which registers 8 stage keys and the two hold keys
 * on libobs's destruction task thread. Reported per filter. */
void BM_RegisterHotkeys(benchmark::State &state)
{
	const int n = static_cast<int>(state.range(0));
	const auto tick = zoom_filter_info().video_tick;
	double total_seconds = 0.0;
	for (auto _ : state) {
		std::vector<obs_source_t *> parents;
		std::vector<obs_source_t *> filters;
		obs_data_t *settings = obs_data_create();
		obs_data_set_int(settings, "stage_count", 8);
		for (int i = 0; i < n; i++) {
			const std::string name =
				"registration " + std::to_string(i);
			parents.push_back(create_pattern_source(name.c_str()));
			filters.push_back(create_zoom_filter("zoom", settings));
			obs_source_filter_add(parents.back(), filters.back());
		}
		obs_data_release(settings);

		const auto start = std::chrono::steady_clock::now();
		for (obs_source_t *filter : filters)
			tick(obs_obj_get_data(filter), FRAME_TIME);
		wait_hotkeys();
		const std::chrono::duration<double> elapsed =
			std::chrono::steady_clock::now() - start;
		state.SetIterationTime(elapsed.count());
		total_seconds += elapsed.count();

		if (hotkeys_of(parents.back()).size() != 10)
			state.SkipWithError("the hotkeys were not registered");
		for (int i = 0; i < n; i++) {
			obs_source_filter_remove(parents[i], filters[i]);
			obs_source_release(filters[i]);
			obs_source_release(parents[i]);
		}
		wait_destroyed();
	}
	state.counters["us/filter"] =
		total_seconds * 1e6 / (double(state.iterations()) * n);
}
BENCHMARK(BM_RegisterHotkeys)
	->Arg(1)
	->Arg(10)
	->Arg(50)
	->Iterations(50)
	->UseManualTime()
	->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
	benchmark::Initialize(&argc, argv);
	if (benchmark::ReportUnrecognizedArguments(argc, argv))
		return 1;
	if (!start_host(HostOptions()))
		return 1;
	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();
	const long leaked = stop_host();
	if (leaked != 0) {
		std::fprintf(stderr, "libobs reports %ld allocations alive\n",
			     leaked);
		return 1;
	}
	if (allocated) {
		std::fprintf(stderr, "per-frame work allocated (see above)\n");
		return 1;
	}
	return 0;
}
