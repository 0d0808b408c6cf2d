/*
 * CPU cost of the filter's per-frame and per-press work, through the module
 * as libobs loaded it: the registered video_tick, the crop window, a stage
 * hotkey press through libobs's hotkey path, and the one-time hotkey
 * registration of many filters. Every figure also carries the heap
 * allocations counted per iteration.
 */
#include "alloc-counter.hpp"
#include "obs-harness.hpp"
#include "core/zoom-core.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <time.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <atomic>
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

	explicit Scene(const char *name, int stage_count = 8,
		       const char *stage_1_curve = "filter")
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
		obs_data_set_string(settings, "stage_1_easing", stage_1_curve);
		obs_data_set_string(settings, "stage_1_bezier",
				    "0.3, -0.4, 0.7, 1.4");
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
	if (snapshot_of(scene.filter)->transition_progress >= 1.0)
		state.SkipWithError("the transition ended during the run");
}
BENCHMARK(BM_TickMidTransition);

/* the same with the stage's own curve, a Bézier solved every frame */
void BM_TickMidTransitionBezier(benchmark::State &state)
{
	Scene scene("tick mid-transition, Bézier", 8, "custom");
	press_hotkey(scene.hotkey("tavimore.stage_1"));
	run_ticks(state, scene.data, "tick mid-transition, Bézier");
	if (snapshot_of(scene.filter)->transition_progress >= 1.0)
		state.SkipWithError("the transition ended during the run");
}
BENCHMARK(BM_TickMidTransitionBezier);

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

/* A scene whose idle view follows the pointer, once the sampler has seen it
 * (the pointer stands still; the sampler keeps sampling during the run). */
bool follow_pointer(const Scene &scene)
{
	obs_data_t *tracking =
		obs_data_create_from_json(R"({"idle_center_tracking": true,
			"tracking_subject": "pointer"})");
	update_filter(scene.filter, tracking);
	obs_data_release(tracking);
	for (int i = 0; i < 2000; i++) {
		zoom_filter_info().video_tick(scene.data, FRAME_TIME);
		if (snapshot_of(scene.filter)->tracking_shown)
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	}
	return false;
}

void BM_TickTracking(benchmark::State &state)
{
	Scene scene("tick tracking");
	if (!follow_pointer(scene)) {
		state.SkipWithError("no pointer position from the X display");
		return;
	}
	run_ticks(state, scene.data, "tick tracking");
}
BENCHMARK(BM_TickTracking);

/* The sampler thread's CPU time, read from its per-thread CPU clock, over a
 * fixed interval while one filter tracks, as a share of one core. */
long sampler_tid()
{
	for (const auto &task :
	     std::filesystem::directory_iterator("/proc/self/task")) {
		std::ifstream comm(task.path() / "comm");
		std::string name;
		if (std::getline(comm, name) && name == "tavimore-ptr")
			return std::stol(task.path().filename().string());
	}
	return 0;
}

long voluntary_switches(long tid)
{
	std::ifstream status("/proc/self/task/" + std::to_string(tid) +
			     "/status");
	for (std::string line; std::getline(status, line);)
		if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
			return std::stol(line.substr(24));
	return 0;
}

double thread_cpu_seconds(long tid)
{
	/* the kernel's per-thread CPU clock, as pthread_getcpuclockid makes
	 * it: ~tid << 3 | CPUCLOCK_SCHED | CPUCLOCK_PERTHREAD */
	const clockid_t clock = static_cast<clockid_t>((~tid) << 3) | 6;
	timespec ts{};
	if (clock_gettime(clock, &ts) != 0)
		return -1.0;
	return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

/* A thread that only wakes at the sampler's rate (120 Hz) and does nothing:
 * what one wake-up costs on this machine, measured beside the sampler. */
struct BareTimer {
	std::atomic<bool> stop{false};
	std::atomic<long> tid{0};
	std::thread thread{[this] {
		tid = syscall(SYS_gettid);
		auto next = std::chrono::steady_clock::now();
		while (!stop) {
			next += std::chrono::microseconds(8333);
			std::this_thread::sleep_until(next);
		}
	}};
	~BareTimer()
	{
		stop = true;
		thread.join();
	}
};

/* Sampler cost over a fixed interval: range(0) seconds, the pointer still
 * (range(1) = 0) or moved by XTest 250 times a second (range(1) = 1), with
 * the automatic zoom off (range(2) = 0) or on clicks and typing (2): the
 * sampler then also takes button presses and asks for the idle time five
 * times a second. */
void BM_SamplerCpu(benchmark::State &state)
{
	Scene scene("sampler cpu");
	if (!follow_pointer(scene)) {
		state.SkipWithError("no pointer position from the X display");
		return;
	}
	if (state.range(2) != 0) {
		obs_data_t *on = obs_data_create();
		obs_data_set_int(on, "auto_zoom", state.range(2));
		update_filter(scene.filter, on);
		obs_data_release(on);
		/* the frame tells the sampler what to watch */
		zoom_filter_info().video_tick(scene.data, FRAME_TIME);
	}
	const long tid = sampler_tid();
	Display *display = XOpenDisplay(nullptr);
	if (!tid || !display) {
		state.SkipWithError("no sampler thread or no display");
		if (display)
			XCloseDisplay(display);
		return;
	}
	const double seconds = double(state.range(0));
	const bool moving = state.range(1) != 0;
	BareTimer timer;
	while (!timer.tid)
		std::this_thread::yield();
	double cpu = 0.0, bare = 0.0;
	long switches = 0;
	for (auto _ : state) {
		const double cpu0 = thread_cpu_seconds(tid);
		const double bare0 = thread_cpu_seconds(timer.tid);
		const long switches0 = voluntary_switches(tid);
		const auto start = std::chrono::steady_clock::now();
		const auto end = start + std::chrono::duration<double>(seconds);
		for (int i = 0; std::chrono::steady_clock::now() < end; i++) {
			if (moving) {
				XTestFakeMotionEvent(display, -1,
						     100 + (i * 7) % 600,
						     100 + (i * 3) % 400, 0);
				XFlush(display);
			}
			std::this_thread::sleep_for(
				std::chrono::milliseconds(4));
		}
		cpu = thread_cpu_seconds(tid) - cpu0;
		bare = thread_cpu_seconds(timer.tid) - bare0;
		switches = voluntary_switches(tid) - switches0;
		state.SetIterationTime(seconds);
	}
	XCloseDisplay(display);
	state.counters["cpu_%_of_core"] = 100.0 * cpu / seconds;
	state.counters["wakeups/s"] = double(switches) / seconds;
	state.counters["bare_120Hz_timer_%"] = 100.0 * bare / seconds;
}
BENCHMARK(BM_SamplerCpu)
	->Args({10, 0, 0})
	->Args({10, 0, 2})
	->Args({10, 1, 0})
	->Args({10, 1, 2})
	->Iterations(1)
	->UseManualTime()
	->Unit(benchmark::kMillisecond);

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
 * hotkey work it queues, which registers 8 stage keys, the two hold keys and
 * the return to idle on libobs's destruction task thread. Reported per
 * filter. */
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

		if (hotkeys_of(parents.back()).size() != 8 + 3)
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
