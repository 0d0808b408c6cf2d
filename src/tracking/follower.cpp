#include "tracking/follower.hpp"
#include "tracking/face-tracker.hpp"
#include "tracking/pointer-source.hpp"

std::unique_ptr<Follower> make_follower(TrackingSubject subject)
{
	if (subject == TrackingSubject::Pointer)
		return open_pointer_client();
	if (subject == TrackingSubject::Face)
		return std::make_unique<FaceTracker>();
	return nullptr;
}
