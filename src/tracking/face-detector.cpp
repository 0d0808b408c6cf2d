#include "tracking/face-detector.hpp"

#include <dlib/image_processing/frontal_face_detector.h>

#include <algorithm>
#include <vector>

/* dlib's model, decoded from its headers once (a few hundred milliseconds)
 * and copied into each detector. */
static const dlib::frontal_face_detector &model()
{
	static const dlib::frontal_face_detector decoded =
		dlib::get_frontal_face_detector();
	return decoded;
}

struct FaceDetector::Impl {
	dlib::frontal_face_detector detector = model();
	dlib::array2d<unsigned char> grey;
	std::vector<dlib::rect_detection> found;
};

FaceDetector::FaceDetector() : impl(std::make_unique<Impl>()) {}

FaceDetector::~FaceDetector() = default;

int FaceDetector::detect(const uint8_t *rgba, int width, int height, int stride,
			 FoundFace *faces, int max)
{
	if (!rgba || width <= 0 || height <= 0 || max <= 0)
		return 0;
	dlib::array2d<unsigned char> &grey = impl->grey;
	grey.set_size(height, width);
	for (int y = 0; y < height; y++) {
		const uint8_t *p = rgba + size_t(y) * size_t(stride);
		unsigned char *row = &grey[y][0];
		for (int x = 0; x < width; x++, p += 4)
			/* Rec. 601 luma of the sRGB values, in integers */
			row[x] = (unsigned char)((77 * p[0] + 150 * p[1] +
						  29 * p[2] + 128) >>
						 8);
	}
	impl->found.clear();
	impl->detector(grey, impl->found, MIN_CONFIDENCE);
	std::sort(impl->found.begin(), impl->found.end(),
		  [](const dlib::rect_detection &a,
		     const dlib::rect_detection &b) {
			  return a.detection_confidence >
				 b.detection_confidence;
		  });
	int n = 0;
	for (const dlib::rect_detection &d : impl->found) {
		if (n == max)
			break;
		faces[n++] = FoundFace{double(d.rect.left()),
				       double(d.rect.top()),
				       double(d.rect.width()),
				       double(d.rect.height()),
				       d.detection_confidence};
	}
	return n;
}
