/*
 * Where a target's view is centred: at its set centre, following the
 * pointer or a face, or at where the pointer was when the target was
 * chosen. Stored as "…_center_mode" beside the older "…_center_tracking",
 * which keeps its meaning, so that a collection reads the same in a
 * version that knows only the checkbox.
 */
#pragma once

enum class CenterMode : int {
	Set = 0,    /* centre_x, centre_y */
	Follow = 1, /* the pointer or a face, all the time */
	Press = 2,  /* where the pointer (or face) was at the choice, held */
};

/* The stored name of a mode, and back (a name not known is Set). */
const char *center_mode_name(CenterMode mode);
CenterMode center_mode_named(const char *name);

/* The mode a target has: center_tracking says whether it follows at all
 * (an older version writes only that), the stored mode which way. With
 * tracking off it is Set whatever the mode says; with it on, Press when
 * stored so, else Follow. */
CenterMode center_mode_from(bool center_tracking, const char *stored);

/* What center_tracking holds for a mode, so that an older version follows
 * for Follow and Press (its nearest) and holds the set centre for Set. */
bool center_tracking_for(CenterMode mode);
