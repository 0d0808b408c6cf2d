#include "scenario.hpp"

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

const char *const demo_timeline =
	"# time (s)  action   hotkey\n"
	"0.5         tap      tavimore.stage_1\n"
	"1.9         tap      tavimore.stage_2\n"
	"3.3         tap      tavimore.stage_2\n"
	"4.3         press    tavimore.idle_zoom_in\n"
	"5.3         release  tavimore.idle_zoom_in\n"
	"5.6         press    tavimore.idle_zoom_out\n"
	"6.6         release  tavimore.idle_zoom_out\n"
	"# stage 3 follows the pointer\n"
	"7.0         pointer  0.30 0.30\n"
	"7.0         tap      tavimore.stage_3\n"
	"7.9         pointer  0.62 0.28\n"
	"8.5         pointer  0.78 0.55\n"
	"9.1         pointer  0.80 0.60\n"
	"9.3         pointer  0.55 0.75\n"
	"9.9         pointer  0.25 0.65\n"
	"10.6        tap      tavimore.stage_3\n"
	"11.4        end\n";

const char *const demo_settings_json = R"({
    "stage_count": 3,
    "idle_duration": 0.8,
    "stage_1_name": "Top left",
    "stage_1_zoom_factor": 2.0,
    "stage_1_center_x": 0.25,
    "stage_1_center_y": 0.25,
    "stage_1_duration": 0.8,
    "stage_2_name": "Ring",
    "stage_2_zoom_factor": 3.0,
    "stage_2_center_x": 0.5,
    "stage_2_center_y": 0.5,
    "stage_2_duration": 1.0,
    "stage_3_name": "Follow",
    "stage_3_zoom_factor": 2.5,
    "stage_3_center_tracking": true,
    "stage_3_duration": 0.8
}
)";

namespace {

[[noreturn]] void fail(const Timeline &timeline, int line,
		       const std::string &what)
{
	throw std::runtime_error("timeline " + timeline.origin + " line " +
				 std::to_string(line) + ": " + what);
}

double parse_time(const Timeline &timeline, int line, const std::string &word)
{
	char *end = nullptr;
	const double t = std::strtod(word.c_str(), &end);
	if (word.empty() || *end != '\0' || !std::isfinite(t))
		fail(timeline, line,
		     "\"" + word + "\" is not a time in seconds");
	if (t < 0.0)
		fail(timeline, line, "time " + word + " is negative");
	return t;
}

double parse_fraction(const Timeline &timeline, int line,
		      const std::string &word)
{
	char *end = nullptr;
	const double f = std::strtod(word.c_str(), &end);
	if (word.empty() || *end != '\0' || !(f >= 0.0 && f <= 1.0))
		fail(timeline, line,
		     "\"" + word +
			     "\" is not a fraction of the screen (0 to 1)");
	return f;
}

} // namespace

Timeline parse_timeline(const std::string &text, const std::string &origin)
{
	Timeline timeline;
	timeline.origin = origin;
	std::istringstream lines(text);
	std::string raw;
	int number = 0;
	double last = 0.0;
	while (std::getline(lines, raw)) {
		number++;
		const size_t hash = raw.find('#');
		if (hash != std::string::npos)
			raw.erase(hash);
		std::istringstream words(raw);
		std::vector<std::string> parts;
		for (std::string word; words >> word;)
			parts.push_back(word);
		if (parts.empty())
			continue;
		if (timeline.end)
			fail(timeline, number, "nothing may follow \"end\"");

		const double t = parse_time(timeline, number, parts[0]);
		if (t < last)
			fail(timeline, number,
			     "time " + parts[0] +
				     " is earlier than the line before");
		last = t;

		if (parts.size() == 2 && parts[1] == "end") {
			if (t <= 0.0)
				fail(timeline, number,
				     "the timeline must end after 0 s");
			timeline.end = t;
			continue;
		}
		if (parts[1] == "pointer") {
			if (parts.size() != 4)
				fail(timeline, number,
				     "expected TIME pointer X Y");
			TimelineEvent event;
			event.time = t;
			event.line = number;
			event.pointer = true;
			event.x = parse_fraction(timeline, number, parts[2]);
			event.y = parse_fraction(timeline, number, parts[3]);
			timeline.events.push_back(event);
			continue;
		}
		if (parts.size() != 3)
			fail(timeline, number,
			     "expected TIME press|release|tap HOTKEY, "
			     "TIME pointer X Y or TIME end");
		TimelineEvent event;
		event.time = t;
		event.line = number;
		event.hotkey = parts[2];
		if (parts[1] == "press")
			event.action = KeyAction::Press;
		else if (parts[1] == "release")
			event.action = KeyAction::Release;
		else if (parts[1] == "tap")
			event.action = KeyAction::Tap;
		else
			fail(timeline, number,
			     "unknown action \"" + parts[1] +
				     "\" (press, release, tap or end)");
		timeline.events.push_back(event);
	}
	return timeline;
}
