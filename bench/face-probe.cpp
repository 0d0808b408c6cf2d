/*
 * The module's face detector as a small library of its own, for
 * bench/face-detectors.py to compare it with other detectors on the same
 * pictures: tavimore_face_detect(rgba, width, height, boxes, max) fills up
 * to `max` boxes (left, top, width, height, confidence) and returns how
 * many faces were found.
 */
#include "tracking/face-detector.hpp"

#include <memory>

extern "C" __attribute__((visibility("default"))) int
tavimore_face_detect(const uint8_t *rgba, int width, int height, double *boxes,
		     int max)
{
	static std::unique_ptr<FaceDetector> detector;
	if (!detector)
		detector = std::make_unique<FaceDetector>();
	FoundFace found[64];
	const int n = detector->detect(rgba, width, height, width * 4, found,
				       max < 64 ? max : 64);
	for (int i = 0; i < n; i++) {
		boxes[i * 5 + 0] = found[i].left;
		boxes[i * 5 + 1] = found[i].top;
		boxes[i * 5 + 2] = found[i].width;
		boxes[i * 5 + 3] = found[i].height;
		boxes[i * 5 + 4] = found[i].confidence;
	}
	return n;
}
