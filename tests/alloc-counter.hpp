/*
 * Counts the heap allocations made by the calling thread while counting is
 * on. Linked into an executable, it replaces malloc and its family and the
 * global operator new and delete for the whole process, libobs and the
 * dlopen()ed module included (the executable's definitions come first in
 * symbol lookup); every call is forwarded to glibc's own allocator.
 *
 * The OpenGL driver (Mesa) allocates inside its own draw calls, whoever
 * draws; calls made directly from the driver's libraries are counted apart,
 * by the address they are called from. Everything else, libobs, its
 * graphics back end, the C and C++ runtimes and the module, counts as an
 * allocation.
 *
 * On Windows (MinGW) only the executable's operator new is replaced: what
 * code linked into the test allocates through new (standard strings and
 * containers included) is counted, not what a DLL allocates.
 */
#pragma once

struct AllocationCount {
	long allocations = 0; /* malloc, calloc, realloc, memalign, new */
	long news = 0;        /* of which through operator new */
	long frees = 0;       /* free, delete */
	/* made and freed by the OpenGL driver's own code */
	long driver_allocations = 0;
	long driver_frees = 0;
};

/* False in a sanitizer build: the sanitizer owns malloc, and nothing is
 * replaced or counted. */
bool allocation_counting_available();

/* Starts counting on this thread, from zero. */
void start_counting_allocations();
/* Stops counting on this thread and returns what it saw. */
AllocationCount stop_counting_allocations();

/* Counts around one call. */
template<typename F> AllocationCount count_allocations(F &&work)
{
	start_counting_allocations();
	work();
	return stop_counting_allocations();
}
