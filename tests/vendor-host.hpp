/*
 * obs-websocket's plug-in API hosted by the tests themselves, for hosts
 * without OBS Studio (obs-websocket's own module needs Qt's application
 * and OBS's front end). It answers libobs's "obs_websocket_api_get_ph" with
 * a proc handler of the same procedures, so the module registers its vendor,
 * requests and events through its real code; the tests then call the
 * registered request callbacks as obs-websocket does, on any thread, and
 * read the events sent. obs-websocket itself is covered in OBS Studio
 * (scripts/test.d).
 */
#pragma once

#include <obs-module.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace vendor_host {

/* Offers the API through libobs's proc handler; until then the module
 * finds no obs-websocket. */
void install();
/* Closes the API's proc handler; call before libobs shuts down. */
void uninstall();
/* Closes it once every test has run (add it in main). */
class Environment : public ::testing::Environment {
	void TearDown() override { uninstall(); }
};

/* The vendor the module registered ("" when none) and its request types. */
std::string vendor_name();
std::vector<std::string> request_types();

/* Calls a registered request with the JSON object `request` (null when it
 * does not parse) and, when `null_field` is given, that field as a JSON null
 * reaches a vendor from obs-websocket 5.7 (an object item without an
 * object); returns the response, to release with obs_data_release, or null
 * when no such request is registered. */
obs_data_t *call(const char *type, const char *request,
		 const char *null_field = nullptr);

struct Event {
	std::string type;
	std::string source;
	std::string filter;
	long long stage;
	std::string stage_name;
	long long sequence;
};
/* Runs `hook` on the sending thread inside each event's emit call, before
 * the event is taken down (an empty hook: none). */
void set_emit_hook(std::function<void(const Event &)> hook);
/* The events sent since the last call, in order. */
std::vector<Event> take_events();
/* The events sent since the last call, as "StageChanged source/filter
 * stage name; " each. */
std::string take_events_text();

} // namespace vendor_host
