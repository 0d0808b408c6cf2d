#include "core/zoom-center.hpp"

#include <cstring>
#include <initializer_list>

const char *center_mode_name(CenterMode mode)
{
	switch (mode) {
	case CenterMode::Follow:
		return "follow";
	case CenterMode::Press:
		return "press";
	default:
		return "set";
	}
}

CenterMode center_mode_named(const char *name)
{
	for (CenterMode mode : {CenterMode::Follow, CenterMode::Press})
		if (name && std::strcmp(name, center_mode_name(mode)) == 0)
			return mode;
	return CenterMode::Set;
}

CenterMode center_mode_from(bool center_tracking, const char *stored)
{
	if (!center_tracking)
		return CenterMode::Set;
	return center_mode_named(stored) == CenterMode::Press
		       ? CenterMode::Press
		       : CenterMode::Follow;
}

bool center_tracking_for(CenterMode mode)
{
	return mode != CenterMode::Set;
}
