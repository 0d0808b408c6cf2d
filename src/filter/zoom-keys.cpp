#include "filter/zoom-keys.hpp"

#include <array>
#include <cstdio>

TargetKeys make_keys(const char *prefix, bool with_name)
{
	TargetKeys k{};
	std::snprintf(k.prefix, sizeof(k.prefix), "%s", prefix);
	std::snprintf(k.group, sizeof(k.group), "%sgroup", prefix);
	if (with_name) {
		std::snprintf(k.name, sizeof(k.name), "%sname", prefix);
		std::snprintf(k.hold, sizeof(k.hold), "%shold", prefix);
	}
	std::snprintf(k.zoom_factor, sizeof(k.zoom_factor), "%szoom_factor",
		      prefix);
	std::snprintf(k.center_tracking, sizeof(k.center_tracking),
		      "%scenter_tracking", prefix);
	std::snprintf(k.center_x, sizeof(k.center_x), "%scenter_x", prefix);
	std::snprintf(k.center_y, sizeof(k.center_y), "%scenter_y", prefix);
	std::snprintf(k.duration, sizeof(k.duration), "%sduration", prefix);
	std::snprintf(k.face_framing, sizeof(k.face_framing), "%sface_framing",
		      prefix);
	std::snprintf(k.face_share, sizeof(k.face_share), "%sface_share",
		      prefix);
	std::snprintf(k.easing, sizeof(k.easing), "%seasing", prefix);
	std::snprintf(k.bezier, sizeof(k.bezier), "%sbezier", prefix);
	std::snprintf(k.center_mode, sizeof(k.center_mode), "%scenter_mode",
		      prefix);
	return k;
}

const TargetKeys &idle_keys()
{
	static const TargetKeys keys = make_keys("idle_", false);
	return keys;
}

const TargetKeys &stage_keys(int index)
{
	static const std::array<TargetKeys, MAX_STAGES> keys = [] {
		std::array<TargetKeys, MAX_STAGES> all{};
		for (int i = 0; i < MAX_STAGES; i++) {
			char prefix[16];
			std::snprintf(prefix, sizeof(prefix), "stage_%d_",
				      i + 1);
			all[i] = make_keys(prefix, true);
		}
		return all;
	}();
	return keys[index];
}
