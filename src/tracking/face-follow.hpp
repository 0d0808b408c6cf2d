/*
 * The arithmetic of following a face: which part of the source to look at
 * next, which of the faces found is the one followed, and when a box has
 * moved enough to count. Plain functions over plain values, with no libobs
 * and no detector in sight.
 */
#pragma once

/* How long a lost face's last place is held before the view returns to its
 * target's own centre, in seconds. */
constexpr double FACE_HOLD_SECONDS = 2.0;
/* How often the picture is looked at: while a face is followed, and while
 * one is searched for (the whole frame, which costs several times more). */
constexpr double FACE_FOLLOW_INTERVAL = 0.4;
constexpr double FACE_SEARCH_INTERVAL = 1.0;
/* The largest picture handed to the detector, in pixels on each side: the
 * whole frame is searched at most this large, so a face is found from
 * about an eighth of the frame's width (dlib finds faces from about 80
 * pixels). */
constexpr int FACE_PICTURE_MAX = 640;
/* A followed face is drawn this many pixels tall for the detector, in a
 * region this many times its size around it: 220 pixels square, whatever
 * the source's size. dlib's boxes come in steps of a fifth (88, 106, 127
 * pixels ...): at 88 a face is found on the detector's first level, with
 * the same box look after look. */
constexpr double FACE_DRAWN_SIZE = 88.0;
constexpr double FACE_REGION_SCALE = 2.5;
/* The view glides to a face at least this softly, so that the few looks
 * a second never show as steps; and so for this long after a lost face's
 * hold, back to the target's own centre. */
constexpr double FACE_MIN_SMOOTHING = 0.3;
constexpr double FACE_RETURN_SECONDS = 3.0;

/* A box as fractions of the source: left, top, width, height. */
struct FaceBox {
	double x = 0.0;
	double y = 0.0;
	double w = 0.0;
	double h = 0.0;

	double center_x() const { return x + w / 2; }
	double center_y() const { return y + h / 2; }
};

/* The part of the source drawn for the detector: [x0, x1) by [y0, y1) in
 * source pixels, drawn `width` by `height` pixels. */
struct FaceRegion {
	double x0 = 0.0;
	double y0 = 0.0;
	double x1 = 0.0;
	double y1 = 0.0;
	int width = 0;
	int height = 0;
};

/* What to draw next from a source of width by height pixels: the whole of
 * it at most FACE_PICTURE_MAX on a side while no face is followed, else the
 * region around the followed face, scaled so that the face is drawn
 * FACE_DRAWN_SIZE tall. False when there is nothing to draw (an empty or
 * unusable source). */
bool face_region(double width, double height, const FaceBox *followed,
		 FaceRegion &region);

/* A box found in the drawn picture (pixels, left, top, width, height), as
 * fractions of the source. */
FaceBox box_in_source(const FaceRegion &region, double source_width,
		      double source_height, double left, double top,
		      double width, double height);

/* How far a followed face may have gone, in its own sizes: as far as it
 * could move since it was last seen (FACE_MOVES face sizes a second), and
 * at least its size. */
constexpr double FACE_MOVES = 2.5;
double face_reach(double seconds_unseen);

/* Which of n faces to follow: with none followed, the largest; else the one
 * whose centre lies closest to the followed face's centre, when that is
 * within `reach` times the followed face's size (a face of similar size
 * elsewhere is another face). -1 when none. Sizes are compared in pixels,
 * so the source's width and height are needed. */
int pick_face(const FaceBox *faces, int n, const FaceBox *followed,
	      double source_width, double source_height, double reach = 1.0);

/* Where to look after a new sighting: the new box's centre, with a size
 * averaged with the last one's (a third of the new size). */
FaceBox averaged_box(const FaceBox &last, const FaceBox &found);

/* The box to publish after a new sighting: the one published before while
 * the new one differs from it by less than the detector's own noise (a few
 * hundredths of the face's size), else the new one. A still face thus gives
 * the very same box, look after look. */
FaceBox steady_box(const FaceBox &published, const FaceBox &found);
