/*
 * The vendor "tavimore": its registration, its requests and StageChanged,
 * through the module's registered callbacks (vendor-host.hpp). No video:
 * the tests tick the filters themselves.
 */
#include "obs-harness.hpp"
#include "vendor-host.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using Data = std::unique_ptr<obs_data_t, void (*)(obs_data_t *)>;

Data call(const char *type, const std::string &json,
	  const char *null_field = nullptr)
{
	return Data(vendor_host::call(type, json.c_str(), null_field),
		    obs_data_release);
}

void ensure_registered()
{
	if (!vendor_host::vendor_name().empty())
		return;
	vendor_host::install();
	obs_post_load_modules();
}

const float FRAME = 1.0f / 60;

/* "Left" carries one zoom filter, "Right" two, "Plain" none. */
struct Scene {
	obs_source_t *left = create_pattern_source("Left");
	obs_source_t *right = create_pattern_source("Right");
	obs_source_t *plain = create_pattern_source("Plain");
	std::vector<std::pair<obs_source_t *, obs_source_t *>> attached;

	Scene()
	{
		ensure_registered();
		add(left, "Zoom A", 3);
		add(right, "Zoom B1", 2);
		add(right, "Zoom B2", 2);
		tick_all(FRAME);
		vendor_host::take_events();
	}
	~Scene()
	{
		for (auto &[parent, filter] : attached) {
			obs_source_filter_remove(parent, filter);
			obs_source_release(filter);
		}
		for (obs_source_t *s : {left, right, plain})
			obs_source_release(s);
		wait_destroyed();
	}
	Scene(const Scene &) = delete;
	Scene &operator=(const Scene &) = delete;

	void add(obs_source_t *parent, const char *name, int stages)
	{
		obs_data_t *settings = obs_data_create();
		obs_data_set_int(settings, "stage_count", stages);
		obs_data_set_double(settings, "tracking_smoothing", 0.0);
		for (int n = 1; n <= stages; n++) {
			const std::string p =
				"stage_" + std::to_string(n) + "_";
			obs_data_set_double(
				settings, (p + "zoom_factor").c_str(), 1.0 + n);
			obs_data_set_double(settings, (p + "center_x").c_str(),
					    0.1 * n);
		}
		obs_data_set_bool(settings, "stage_2_center_tracking", true);
		obs_source_t *filter = create_zoom_filter(name, settings);
		obs_data_release(settings);
		obs_source_filter_add(parent, filter);
		attached.emplace_back(parent, filter);
	}
	ZoomView zoom(size_t i) const { return {attached[i].second}; }
	void tick_all(float seconds) const
	{
		for (const auto &a : attached)
			tick(a.second, seconds);
	}
	/* what a request may change, of every filter */
	std::vector<std::tuple<int, int, double, double>> state() const
	{
		std::vector<std::tuple<int, int, double, double>> all;
		for (size_t i = 0; i < attached.size(); i++) {
			const ZoomSnapshot f = snapshot_of(attached[i].second);
			all.emplace_back(f->active_stage, f->held_stage,
					 f->transition_progress,
					 f->transition_start_zoom);
		}
		return all;
	}
};

} // namespace

TEST(Vendor, RegistersOnlyOnceObsWebsocketIsThere)
{
	if (vendor_host::vendor_name().empty()) {
		obs_post_load_modules();
		EXPECT_EQ(vendor_host::vendor_name(), "");
		Scene scene; /* works without it, and registers with it */
	}
	EXPECT_EQ(vendor_host::vendor_name(), "tavimore");
	EXPECT_EQ(vendor_host::request_types(),
		  (std::vector<std::string>{"GetState", "SetStage",
					    "ToggleStage"}));
}

TEST(Requests, BadOnesAreAnsweredWithAnErrorAndChangeNothing)
{
	Scene scene;
	/* Left part of the way to stage 1, so that any change would show */
	ASSERT_TRUE(obs_data_get_bool(
		call("SetStage", R"({"sourceName": "Left", "stage": 1})").get(),
		"success"));
	scene.tick_all(0.2f);
	vendor_host::take_events();

	const struct {
		const char *type;
		const char *request;
		const char *error; /* a part of the message */
		/* a field sent as JSON null by obs-websocket 5.7 */
		const char *null_field = nullptr;
	} cases[] = {
		{"GetState", "{}", "sourceName is missing"},
		{"SetStage", R"({"stage": 1})", "sourceName is missing"},
		{"GetState", R"({"sourceName": 5})",
		 "sourceName must be a string"},
		{"ToggleStage", R"({"sourceName": ["Left"], "stage": 1})",
		 "sourceName must be a string"},
		{"SetStage", R"({"sourceName": "Nowhere", "stage": 1})",
		 "no source named \"Nowhere\""},
		{"SetStage", R"({"sourceName": "", "stage": 1})",
		 "no source named \"\""},
		{"GetState", R"({"sourceName": "Plain"})",
		 "\"Plain\" has no Tavimore Zoom filter"},
		{"SetStage", R"({"sourceName": "Right", "stage": 1})",
		 "has 2 Tavimore Zoom filters: name one in filterName"},
		{"SetStage",
		 R"({"sourceName": "Left", "filterName": "Zoom B1", "stage": 1})",
		 "\"Left\" has no filter named \"Zoom B1\""},
		{"GetState", R"({"sourceName": "Left", "filterName": 1})",
		 "filterName must be a string"},
		{"SetStage", R"({"sourceName": "Left"})", "stage is missing"},
		{"ToggleStage", R"({"sourceName": "Left"})",
		 "stage is missing"},
		{"SetStage", R"({"sourceName": "Left", "stage": "2"})",
		 "stage must be a whole number"},
		{"SetStage", R"({"sourceName": "Left", "stage": 1.5})",
		 "stage must be a whole number"},
		{"ToggleStage", R"({"sourceName": "Left", "stage": true})",
		 "stage must be a whole number"},
		{"SetStage", R"({"sourceName": "Left", "stage": {"n": 2}})",
		 "stage must be a whole number"},
		{"SetStage", R"({"sourceName": "Left", "stage": 1e300})",
		 "stage must be a whole number"},
		{"SetStage", R"({"sourceName": "Left", "stage": 4})",
		 "stage 4 does not exist: use 0 for the idle view or 1 to 3"},
		{"ToggleStage", R"({"sourceName": "Left", "stage": -1})",
		 "stage -1 does not exist"},
		{"SetStage",
		 R"({"sourceName": "Right", "filterName": "Zoom B2", "stage": 3})",
		 "1 to 2"},
		{"GetState", "not json", "sourceName is missing"},
		{"GetState", "{}", "sourceName is missing", "sourceName"},
		{"GetState", R"({"sourceName": "Right"})",
		 "has 2 Tavimore Zoom filters", "filterName"},
		{"SetStage", R"({"sourceName": "Left"})", "stage is missing",
		 "stage"},
	};
	const auto before = scene.state();
	for (const auto &c : cases) {
		SCOPED_TRACE(std::string(c.type) + " " + c.request + " " +
			     (c.null_field ? c.null_field : ""));
		Data response = call(c.type, c.request, c.null_field);
		ASSERT_NE(response, nullptr);
		EXPECT_TRUE(obs_data_has_user_value(response.get(), "success"));
		EXPECT_FALSE(obs_data_get_bool(response.get(), "success"));
		const std::string error =
			obs_data_get_string(response.get(), "error");
		EXPECT_NE(error.find(c.error), std::string::npos) << error;
		EXPECT_EQ(scene.state(), before);
	}
	EXPECT_EQ(vendor_host::take_events_text(), "");
}

TEST(Requests, TwoSourcesDrivenIndependentlyWithAnEventForEveryChange)
{
	Scene scene;
	const std::string left = R"("sourceName": "Left")";
	const std::string b2 =
		R"("sourceName": "Right", "filterName": "Zoom B2")";
	const std::string b1 =
		R"("sourceName": "Right", "filterName": "Zoom B1")";
	const struct {
		const char *type;
		std::string request;
		long long stage;    /* in the response */
		const char *events; /* sent by the request */
	} steps[] = {
		{"SetStage", left + R"(, "stage": 2)", 2,
		 "StageChanged Left/Zoom A 2 Stage 2; "},
		{"SetStage", left + R"(, "stage": 2)", 2, ""},
		{"ToggleStage", b2 + R"(, "stage": 1)", 1,
		 "StageChanged Right/Zoom B2 1 Stage 1; "},
		{"ToggleStage", left + R"(, "stage": 3)", 3,
		 "StageChanged Left/Zoom A 3 Stage 3; "},
		{"ToggleStage", b2 + R"(, "stage": 1)", 0,
		 "StageChanged Right/Zoom B2 0 Idle view; "},
		{"SetStage", b1 + R"(, "stage": 2.0)", 2,
		 "StageChanged Right/Zoom B1 2 Stage 2; "},
		/* stage 0 of ToggleStage is the idle key: at rest, nothing */
		{"ToggleStage", b2 + R"(, "stage": 0)", 0, ""},
		{"ToggleStage", left + R"(, "stage": 0)", 0,
		 "StageChanged Left/Zoom A 0 Idle view; "},
		{"SetStage", left + R"(, "stage": 0)", 0, ""},
	};
	/* the stage each filter is at after each step: Zoom A, B1, B2 */
	const int active[][3] = {{1, -1, -1}, {1, -1, -1}, {1, -1, 0},
				 {2, -1, 0},  {2, -1, -1}, {2, 1, -1},
				 {2, 1, -1},  {-1, 1, -1}, {-1, 1, -1}};
	for (size_t i = 0; i < std::size(steps); i++) {
		const auto &step = steps[i];
		SCOPED_TRACE(std::string(step.type) + " " + step.request);
		Data response = call(step.type, "{" + step.request + "}");
		ASSERT_NE(response, nullptr);
		EXPECT_TRUE(obs_data_get_bool(response.get(), "success"))
			<< obs_data_get_string(response.get(), "error");
		EXPECT_EQ(obs_data_get_int(response.get(), "stage"),
			  step.stage);
		EXPECT_EQ(vendor_host::take_events_text(), step.events);
		for (size_t f = 0; f < 3; f++)
			EXPECT_EQ(scene.zoom(f)->active_stage, active[i][f])
				<< "filter " << f;
		/* let the idle key find B2 at rest */
		scene.tick_all(1.0f);
	}
}

TEST(Requests, GetStateReportsTheTargetTheTransitionAndTheCentre)
{
	Scene scene;
	/* GetState of Left: the stage, its name, the shown, target zoom,
	 * the progress, the shown centre and whether the stage tracks */
	auto expect = [](long long stage, const char *name, double shown,
			 double target, double progress, double x,
			 bool tracking) {
		Data r = call("GetState", R"({"sourceName": "Left"})");
		auto get = [&](const char *key) {
			return obs_data_get_double(r.get(), key);
		};
		EXPECT_TRUE(obs_data_get_bool(r.get(), "success"));
		EXPECT_EQ(obs_data_get_string(r.get(), "filterName"),
			  std::string("Zoom A"));
		EXPECT_EQ(obs_data_get_int(r.get(), "stage"), stage);
		EXPECT_EQ(obs_data_get_string(r.get(), "stageName"),
			  std::string(name));
		EXPECT_EQ(obs_data_get_int(r.get(), "stageCount"), 3);
		EXPECT_EQ(get("shownZoom"), shown);
		EXPECT_EQ(get("targetZoom"), target);
		EXPECT_EQ(get("progress"), progress);
		EXPECT_NEAR(get("centerX"), x, 1e-12);
		EXPECT_DOUBLE_EQ(get("centerY"), 0.5);
		EXPECT_EQ(obs_data_get_bool(r.get(), "tracking"), tracking);
	};
	expect(0, "Idle view", 1.0, 1.0, 1.0, 0.5, false);

	/* a quarter of the way to stage 2 (zoom 3, centre x 0.2, linear) */
	obs_data_t *linear = obs_data_create();
	obs_data_set_int(linear, "easing_in", 0);
	obs_data_set_string(linear, "stage_2_name", "Close-up");
	update_filter(scene.attached[0].second, linear);
	obs_data_release(linear);
	call("SetStage", R"({"sourceName": "Left", "stage": 2})");
	tick(scene.attached[0].second, 0.125f);
	/* the shown centre, on its way from 0.5 to 0.2 with the least
	 * smoothing (time constant 0.02 s): the stage tracks, but a plain
	 * source's view follows a face, and there is none */
	expect(2, "Close-up", 1.5, 3.0, 0.25,
	       0.2 + 0.3 * std::exp(-0.125 / 0.02), true);
	EXPECT_EQ(vendor_host::take_events_text(),
		  "StageChanged Left/Zoom A 2 Close-up; ");
}

/*
 * A change of Left's filter, and a second one (SetStage 2) from another
 * thread that starts while the first one's event is being sent, as two
 * clients do at once. The events must leave in the order of the changes,
 * each sequence number one above the last, and GetState must report the
 * last one. Each row makes the first change another way.
 */
TEST(Events, LeaveInTheOrderOfTheChangesWithGrowingSequenceNumbers)
{
	const struct {
		const char *first;
		long long stage; /* that it chooses */
		std::function<void(Scene &)> change;
	} rows[] = {
		{"a request", 1,
		 [](Scene &) {
			 call("SetStage",
			      R"({"sourceName": "Left", "stage": 1})");
		 }},
		{"a stage key", 1,
		 [](Scene &scene) {
			 press_hotkey(
				 find_hotkey(scene.left, "tavimore.stage_1"));
		 }},
		{"the return-to-idle key", 0,
		 [](Scene &scene) {
			 press_hotkey(find_hotkey(scene.left, "tavimore.idle"));
		 }},
		{"a stage count that removes the stage shown", 0,
		 [](Scene &scene) {
			 obs_data_t *changes = obs_data_create();
			 obs_data_set_int(changes, "stage_count", 2);
			 update_filter(scene.attached[0].second, changes);
			 obs_data_release(changes);
		 }},
	};
	const char *left = R"({"sourceName": "Left"})";
	for (const auto &row : rows) {
		SCOPED_TRACE(row.first);
		Scene scene;
		call("SetStage", R"({"sourceName": "Left", "stage": 3})");
		const auto before = vendor_host::take_events();
		ASSERT_EQ(before.size(), 1u);

		std::thread second;
		std::atomic<bool> started{false}, answered{false};
		vendor_host::set_emit_hook([&](const vendor_host::Event &) {
			if (started.exchange(true))
				return;
			second = std::thread([&] {
				call("SetStage",
				     R"({"sourceName": "Left", "stage": 2})");
				answered = true;
			});
			/* long enough for it to finish, unless it waits for
			 * this event */
			const auto until = std::chrono::steady_clock::now() +
					   std::chrono::milliseconds(250);
			while (!answered &&
			       std::chrono::steady_clock::now() < until)
				std::this_thread::sleep_for(
					std::chrono::milliseconds(1));
		});
		row.change(scene);
		if (second.joinable())
			second.join();
		vendor_host::set_emit_hook(nullptr);

		const auto events = vendor_host::take_events();
		ASSERT_EQ(events.size(), 2u);
		EXPECT_EQ(events[0].stage, row.stage);
		EXPECT_EQ(events[1].stage, 2);
		EXPECT_EQ(events[0].sequence, before[0].sequence + 1);
		EXPECT_EQ(events[1].sequence, events[0].sequence + 1);
		Data state = call("GetState", left);
		EXPECT_EQ(obs_data_get_int(state.get(), "stage"), 2);
		EXPECT_EQ(obs_data_get_int(state.get(), "sequence"),
			  events[1].sequence);
	}
}

/* Names with bytes that are not UTF-8 (a script may set any) reach the
 * clients with each such byte replaced: obs-websocket's JSON would throw
 * on them in its thread pool. */
TEST(Requests, TextThatIsNotUtf8ReachesClientsAsUtf8)
{
	Scene scene;
	obs_source_t *filter = scene.attached[0].second;
	const std::string bad = "\xff", replaced = "\xEF\xBF\xBD";
	obs_source_set_name(filter, ("Zoom" + bad + "A").c_str());
	obs_data_t *names = obs_data_create();
	obs_data_set_string(names, "stage_1_name", "Close\xc3(up");
	obs_data_set_string(names, "stage_2_name",
			    "Gr\xc3\xb6\xc3\x9f"
			    "e \xf0\x9f\x94\x8d");
	update_filter(filter, names);
	obs_data_release(names);

	const struct {
		int stage;
		std::string name;
	} rows[] = {{1, "Close" + replaced + "(up"},
		    {2, "Gr\xc3\xb6\xc3\x9f"
			"e \xf0\x9f\x94\x8d"}};
	for (const auto &row : rows) {
		const std::string request =
			R"({"sourceName": "Left", "stage": )" +
			std::to_string(row.stage) + "}";
		Data set = call("SetStage", request);
		EXPECT_EQ(obs_data_get_string(set.get(), "filterName"),
			  "Zoom" + replaced + "A");
		Data state = call("GetState", R"({"sourceName": "Left"})");
		EXPECT_EQ(obs_data_get_string(state.get(), "stageName"),
			  row.name);
		EXPECT_EQ(obs_data_get_string(state.get(), "filterName"),
			  "Zoom" + replaced + "A");
		EXPECT_EQ(vendor_host::take_events_text(),
			  "StageChanged Left/Zoom" + replaced + "A " +
				  std::to_string(row.stage) + " " + row.name +
				  "; ");
	}

	/* a surrogate's three bytes in the source's name: a key names it */
	obs_source_set_name(scene.left, "Left\xed\xa0\x80");
	press_hotkey(find_hotkey(scene.left, "tavimore.stage_1"));
	const auto events = vendor_host::take_events();
	ASSERT_EQ(events.size(), 1u);
	EXPECT_EQ(events[0].source, "Left" + replaced + replaced + replaced);
}

int main(int argc, char **argv)
{
	::testing::AddGlobalTestEnvironment(new vendor_host::Environment);
	return run_tests_in_host(argc, argv, HostOptions{});
}
