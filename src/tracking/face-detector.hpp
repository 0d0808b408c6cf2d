/*
 * Finds frontal faces in a grey picture: dlib's HOG frontal face detector,
 * compiled into the module (see third_party/dlib). Only this file's
 * implementation sees dlib.
 */
#pragma once

#include <cstdint>
#include <memory>

/* A face found, in pixels of the picture searched. */
struct FoundFace {
	double left;
	double top;
	double width;
	double height;
	double confidence;
};

class FaceDetector {
public:
	FaceDetector();
	~FaceDetector();
	FaceDetector(const FaceDetector &) = delete;
	FaceDetector &operator=(const FaceDetector &) = delete;

	/* Searches a picture of RGBA rows, `stride` bytes apart, converted
	 * to grey first; writes up to `max` faces, most confident first, and
	 * returns how many. Faces smaller than about 80 pixels are not found.
	 * Not thread-safe: one detector per thread. */
	int detect(const uint8_t *rgba, int width, int height, int stride,
		   FoundFace *faces, int max);

	/* Dlib's boxes below this confidence are mostly round things with
	 * marks on them (a badge, a clock): not reported. */
	static constexpr double MIN_CONFIDENCE = 0.3;

private:
	struct Impl;
	std::unique_ptr<Impl> impl;
};
