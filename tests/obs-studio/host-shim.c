/*
 * Preloaded into OBS Studio by test_clean_exit.py, to show what the suite's
 * clean-exit check makes of a source that outlives OBS's clearing of its
 * scene data. Built and loaded against whichever libobs the OBS has.
 *   TAVIMORE_SHIM_DELAY=1: after a scene's last release, waits 50 ms, so
 *     that libobs's destruction thread frees the scene before the caller
 *     goes on (libobs 32's race in obs_canvas_enum_scenes, forced).
 *   TAVIMORE_SHIM_KEEP=NAME: the first release of the source NAME is
 *     dropped, as if someone kept a reference to it for good (a leftover
 *     that is not that race).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdbool.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef struct obs_source obs_source_t;
typedef struct obs_weak_source obs_weak_source_t;
bool obs_source_is_scene(const obs_source_t *source);
const char *obs_source_get_name(const obs_source_t *source);
obs_weak_source_t *obs_source_get_weak_source(obs_source_t *source);
bool obs_weak_source_expired(obs_weak_source_t *weak);
void obs_weak_source_release(obs_weak_source_t *weak);

void obs_source_release(obs_source_t *source)
{
	static void (*next)(obs_source_t *);
	static bool kept;
	if (!next)
		next = (void (*)(obs_source_t *))dlsym(RTLD_NEXT,
						       "obs_source_release");
	const char *keep = getenv("TAVIMORE_SHIM_KEEP");
	const char *name = source ? obs_source_get_name(source) : NULL;
	if (keep && name && strcmp(keep, name) == 0 &&
	    !__atomic_exchange_n(&kept, true, __ATOMIC_SEQ_CST))
		return;
	if (!source || !getenv("TAVIMORE_SHIM_DELAY") ||
	    !obs_source_is_scene(source)) {
		next(source);
		return;
	}
	obs_weak_source_t *weak = obs_source_get_weak_source(source);
	next(source);
	if (obs_weak_source_expired(weak))
		usleep(50000);
	obs_weak_source_release(weak);
}
