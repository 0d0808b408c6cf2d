#include "filter/zoom-keys.hpp"

#include <array>
#include <cstdio>

TargetKeys make_keys(const char *prefix, bool with_name)
{
	TargetKeys k{};
	const auto put = [prefix](auto &key, const char *suffix) {
		std::snprintf(key, sizeof(key), "%s%s", prefix, suffix);
	};
	put(k.prefix, "");
	put(k.group, "group");
	if (with_name) {
		put(k.name, "name");
		put(k.hold, "hold");
	}
	put(k.zoom_factor, "zoom_factor");
	put(k.center_tracking, "center_tracking");
	put(k.center_x, "center_x");
	put(k.center_y, "center_y");
	put(k.duration, "duration");
	put(k.face_framing, "face_framing");
	put(k.face_share, "face_share");
	put(k.easing, "easing");
	put(k.bezier, "bezier");
	put(k.center_mode, "center_mode");
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
