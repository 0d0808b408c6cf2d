#include "tracking/follower.hpp"
#include "tracking/face-tracker.hpp"
#include "tracking/pointer-source.hpp"

#include <obs-module.h>

std::unique_ptr<Follower> make_follower(TrackingSubject subject)
{
	if (subject == TrackingSubject::Pointer)
		return open_pointer_client();
	if (subject == TrackingSubject::Face)
		return std::make_unique<FaceTracker>();
	return nullptr;
}

void draw_target(obs_source_t *target, obs_source_t *parent)
{
	vec4 clear;
	vec4_zero(&clear);
	gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
	gs_blend_state_push();
	gs_blend_function_separate(GS_BLEND_SRCALPHA, GS_BLEND_INVSRCALPHA,
				   GS_BLEND_ONE, GS_BLEND_INVSRCALPHA);
	const uint32_t flags = obs_source_get_output_flags(parent);
	if (target == parent &&
	    !(flags & (OBS_SOURCE_CUSTOM_DRAW | OBS_SOURCE_ASYNC)))
		obs_source_default_render(target);
	else
		obs_source_video_render(target);
	gs_blend_state_pop();
}
