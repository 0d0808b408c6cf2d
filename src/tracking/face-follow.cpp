#include "tracking/face-follow.hpp"
#include "tracking/follower.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

/* A box that moved or grew by less than this share of its size is the
 * same box: dlib's boxes wander by a pixel or two of the drawn picture. */
constexpr double FACE_NOISE = 0.08;

static bool usable(double v)
{
	return std::isfinite(v) && v >= 1.0 && v < 1.0e6;
}

static int drawn(double v)
{
	return std::clamp(int(std::lround(v)), 1, FACE_PICTURE_MAX);
}

bool face_region(double width, double height, const FaceBox *followed,
		 FaceRegion &region)
{
	if (!usable(width) || !usable(height))
		return false;
	region = FaceRegion{0.0, 0.0, width, height, 0, 0};
	double scale = std::min(
		{1.0, FACE_PICTURE_MAX / width, FACE_PICTURE_MAX / height});
	if (followed) {
		const double size =
			std::max(followed->w * width, followed->h * height);
		const double side = size * FACE_REGION_SCALE;
		if (std::isfinite(size) && size >= 1.0 &&
		    (side < width || side < height)) {
			/* a square around the face, kept inside the frame */
			const double half_w = std::min(side, width) / 2;
			const double half_h = std::min(side, height) / 2;
			const double cx =
				std::clamp(followed->center_x() * width, half_w,
					   width - half_w);
			const double cy =
				std::clamp(followed->center_y() * height,
					   half_h, height - half_h);
			region.x0 = cx - half_w;
			region.x1 = cx + half_w;
			region.y0 = cy - half_h;
			region.y1 = cy + half_h;
			scale = std::min({FACE_DRAWN_SIZE / size,
					  FACE_PICTURE_MAX / (2 * half_w),
					  FACE_PICTURE_MAX / (2 * half_h)});
		}
	}
	region.width = drawn((region.x1 - region.x0) * scale);
	region.height = drawn((region.y1 - region.y0) * scale);
	return true;
}

FaceBox box_in_source(const FaceRegion &region, double source_width,
		      double source_height, double left, double top,
		      double width, double height)
{
	const double sx = (region.x1 - region.x0) / region.width;
	const double sy = (region.y1 - region.y0) / region.height;
	FaceBox box;
	box.x = (region.x0 + left * sx) / source_width;
	box.y = (region.y0 + top * sy) / source_height;
	box.w = width * sx / source_width;
	box.h = height * sy / source_height;
	return box;
}

double face_reach(double seconds_unseen)
{
	if (!(seconds_unseen > 0.0))
		return 1.0;
	return 1.0 + FACE_MOVES * std::min(seconds_unseen, FACE_HOLD_SECONDS);
}

int pick_face(const FaceBox *faces, int n, const FaceBox *followed,
	      double source_width, double source_height, double reach)
{
	int best = -1;
	double best_value = 0.0;
	for (int i = 0; i < n; i++) {
		const FaceBox &f = faces[i];
		double value;
		if (!followed) {
			/* the largest */
			value = f.w * source_width * f.h * source_height;
		} else {
			const double dx =
				(f.center_x() - followed->center_x()) *
				source_width;
			const double dy =
				(f.center_y() - followed->center_y()) *
				source_height;
			const double size =
				std::max(followed->w * source_width,
					 followed->h * source_height);
			const double distance = std::hypot(dx, dy);
			if (!(distance <= size * reach))
				continue;
			/* the closest */
			value = -distance;
		}
		if (best < 0 || value > best_value) {
			best = i;
			best_value = value;
		}
	}
	return best;
}

FaceBox averaged_box(const FaceBox &last, const FaceBox &found)
{
	FaceBox box;
	box.w = (2 * last.w + found.w) / 3;
	box.h = (2 * last.h + found.h) / 3;
	box.x = found.center_x() - box.w / 2;
	box.y = found.center_y() - box.h / 2;
	return box;
}

FaceBox steady_box(const FaceBox &published, const FaceBox &found)
{
	const double size_w = std::max(published.w, found.w);
	const double size_h = std::max(published.h, found.h);
	const bool same =
		std::fabs(found.center_x() - published.center_x()) <=
			FACE_NOISE * size_w &&
		std::fabs(found.center_y() - published.center_y()) <=
			FACE_NOISE * size_h &&
		std::fabs(found.w - published.w) <= FACE_NOISE * size_w &&
		std::fabs(found.h - published.h) <= FACE_NOISE * size_h;
	return same ? published : found;
}

TrackingSubject tracking_subject_from(const char *setting)
{
	if (setting && std::strcmp(setting, "pointer") == 0)
		return TrackingSubject::Pointer;
	if (setting && std::strcmp(setting, "face") == 0)
		return TrackingSubject::Face;
	return TrackingSubject::Auto;
}

TrackingSubject followed_subject(TrackingSubject setting, bool has_parent,
				 bool parent_shows_screen)
{
	if (setting != TrackingSubject::Auto)
		return setting;
	if (!has_parent)
		return TrackingSubject::None;
	return parent_shows_screen ? TrackingSubject::Pointer
				   : TrackingSubject::Face;
}
