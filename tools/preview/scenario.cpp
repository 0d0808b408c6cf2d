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
    "tracking_subject": "pointer",
    "stage_3_duration": 0.8
}
)";

const char *const face_demo_timeline =
	R"(# The idle view, at twice the size, follows the face in the input
# video; when the face has left, it holds its place for two seconds, then
# eases back to the view's own centre.
10 end
)";

const char *const face_demo_settings_json = R"({
    "idle_zoom_factor": 2.0,
    "idle_center_tracking": true,
    "tracking_subject": "face"
}
)";

Timeline parse_timeline(const std::string &text, const std::string &origin)
{
	Timeline timeline;
	timeline.origin = origin;
	std::istringstream lines(text);
	std::string raw;
	int number = 0;
	const auto fail = [&](const std::string &what) {
		throw std::runtime_error("timeline " + origin + " line " +
					 std::to_string(number) + ": " + what);
	};
	/* NaN for anything but a finite number */
	const auto number_of = [](const std::string &word) {
		char *end = nullptr;
		const double v = std::strtod(word.c_str(), &end);
		return *end == '\0' && std::isfinite(v) ? v : NAN;
	};
	while (std::getline(lines, raw)) {
		number++;
		std::istringstream words(raw.substr(0, raw.find('#')));
		std::vector<std::string> parts;
		for (std::string word; words >> word;)
			parts.push_back(word);
		if (parts.empty())
			continue;
		if (timeline.end)
			fail("nothing may follow \"end\"");
		TimelineEvent event;
		event.line = number;
		event.time = number_of(parts[0]);
		if (std::isnan(event.time))
			fail("\"" + parts[0] + "\" is not a time in seconds");
		if (event.time < 0.0)
			fail("time " + parts[0] + " is negative");
		if (!timeline.events.empty() &&
		    event.time < timeline.events.back().time)
			fail("time " + parts[0] +
			     " is earlier than the line before");

		if (parts.size() == 2 && parts[1] == "end") {
			if (event.time <= 0.0)
				fail("the timeline must end after 0 s");
			timeline.end = event.time;
			continue;
		}
		if (parts.size() > 1 && parts[1] == "type") {
			if (parts.size() != 2)
				fail("expected TIME type");
			event.action = Action::Type;
		} else if (parts.size() > 1 &&
			   (parts[1] == "pointer" || parts[1] == "click")) {
			if (parts.size() != 4)
				fail("expected TIME " + parts[1] + " X Y");
			event.action = parts[1] == "click" ? Action::Click
							   : Action::Pointer;
			event.x = number_of(parts[2]);
			event.y = number_of(parts[3]);
			for (const std::string &word : {parts[2], parts[3]})
				if (!(number_of(word) >= 0.0 &&
				      number_of(word) <= 1.0))
					fail("\"" + word +
					     "\" is not a fraction of the screen (0 to 1)");
		} else if (parts.size() != 3) {
			fail("expected TIME press|release|tap HOTKEY, "
			     "TIME pointer|click X Y, TIME type or TIME end");
		} else if (parts[1] == "press" || parts[1] == "release" ||
			   parts[1] == "tap") {
			event.hotkey = parts[2];
			event.action = parts[1] == "press"     ? Action::Press
				       : parts[1] == "release" ? Action::Release
							       : Action::Tap;
		} else {
			fail("unknown action \"" + parts[1] +
			     "\" (press, release, tap, pointer, click, type "
			     "or end)");
		}
		timeline.events.push_back(event);
	}
	return timeline;
}
