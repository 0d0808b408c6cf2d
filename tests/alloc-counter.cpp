#include "alloc-counter.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TAVIMORE_SANITIZER_OWNS_MALLOC 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
	__has_feature(memory_sanitizer)
#define TAVIMORE_SANITIZER_OWNS_MALLOC 1
#endif
#endif

#ifdef TAVIMORE_SANITIZER_OWNS_MALLOC

bool allocation_counting_available()
{
	return false;
}

void start_counting_allocations() {}

AllocationCount stop_counting_allocations()
{
	return AllocationCount();
}

#elif defined(_WIN32)

/* MinGW: the executable's operator new, forwarded to malloc. The C++
 * library is linked in statically, so every other form of new ends in it;
 * DLLs (libobs, the module) and malloc itself are not counted. */

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

/* the counting thread, by id: a thread-local would allocate on MinGW */
static std::atomic<DWORD> counting_thread{0};
static AllocationCount counted;

void start_counting_allocations()
{
	counted = AllocationCount();
	counting_thread = GetCurrentThreadId();
}

AllocationCount stop_counting_allocations()
{
	counting_thread = 0;
	return counted;
}

void *operator new(size_t size)
{
	if (counting_thread.load(std::memory_order_relaxed) ==
	    GetCurrentThreadId()) {
		counted.allocations++;
		counted.news++;
	}
	void *pointer = std::malloc(size ? size : 1);
	if (!pointer)
		throw std::bad_alloc();
	return pointer;
}

bool allocation_counting_available()
{
	return true;
}

#else

#include <link.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *pointer);
}

/* Plain thread-locals of the executable: reaching them never allocates. */
static thread_local bool counting = false;
static thread_local AllocationCount counted;

/* The code of the OpenGL driver's libraries, found when counting starts. */
struct CodeRange {
	uintptr_t begin;
	uintptr_t end;
};
static CodeRange driver_code[128];
static int driver_ranges = 0;

static bool is_driver_library(const char *path)
{
	if (std::strstr(path, "/dri/"))
		return true;
	const char *slash = std::strrchr(path, '/');
	const char *file = slash ? slash + 1 : path;
	for (const char *prefix : {"libGL", "libEGL", "libgbm", "libglapi",
				   "libgallium", "libLLVM", "libdrm"})
		if (std::strncmp(file, prefix, std::strlen(prefix)) == 0)
			return true;
	return false;
}

static int find_driver_code(struct dl_phdr_info *info, size_t, void *)
{
	if (!info->dlpi_name || !is_driver_library(info->dlpi_name))
		return 0;
	for (int i = 0; i < info->dlpi_phnum; i++) {
		const ElfW(Phdr) &segment = info->dlpi_phdr[i];
		if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X))
			continue;
		if (driver_ranges ==
		    int(sizeof(driver_code) / sizeof(driver_code[0])))
			return 1;
		const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
		driver_code[driver_ranges++] = {begin, begin + segment.p_memsz};
	}
	return 0;
}

static bool called_from_driver(const void *caller)
{
	const auto address = reinterpret_cast<uintptr_t>(caller);
	for (int i = 0; i < driver_ranges; i++)
		if (address >= driver_code[i].begin &&
		    address < driver_code[i].end)
			return true;
	return false;
}

static inline void note_allocation(const void *caller)
{
	if (!counting)
		return;
	if (called_from_driver(caller))
		counted.driver_allocations++;
	else
		counted.allocations++;
}

static inline void note_free(void *pointer, const void *caller)
{
	if (!counting || !pointer)
		return;
	if (called_from_driver(caller))
		counted.driver_frees++;
	else
		counted.frees++;
}

void start_counting_allocations()
{
	/* libraries come and go (the driver loads with the graphics) */
	driver_ranges = 0;
	dl_iterate_phdr(find_driver_code, nullptr);
	counted = AllocationCount();
	counting = true;
}

AllocationCount stop_counting_allocations()
{
	counting = false;
	return counted;
}

extern "C" {

void *malloc(size_t size)
{
	note_allocation(__builtin_return_address(0));
	return __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
	note_allocation(__builtin_return_address(0));
	return __libc_calloc(count, size);
}

void *realloc(void *pointer, size_t size)
{
	note_allocation(__builtin_return_address(0));
	return __libc_realloc(pointer, size);
}

void free(void *pointer)
{
	note_free(pointer, __builtin_return_address(0));
	__libc_free(pointer);
}

void *memalign(size_t alignment, size_t size)
{
	note_allocation(__builtin_return_address(0));
	return __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size)
{
	note_allocation(__builtin_return_address(0));
	return __libc_memalign(alignment, size);
}

int posix_memalign(void **result, size_t alignment, size_t size)
{
	if (alignment < sizeof(void *) || (alignment & (alignment - 1)))
		return EINVAL;
	note_allocation(__builtin_return_address(0));
	void *pointer = __libc_memalign(alignment, size);
	if (!pointer)
		return ENOMEM;
	*result = pointer;
	return 0;
}

} // extern "C"

static inline void note_new(const void *caller)
{
	if (!counting)
		return;
	if (called_from_driver(caller)) {
		counted.driver_allocations++;
	} else {
		counted.allocations++;
		counted.news++;
	}
}

static inline void *new_block(size_t size, const void *caller)
{
	note_new(caller);
	void *pointer = __libc_malloc(size ? size : 1);
	if (!pointer)
		throw std::bad_alloc();
	return pointer;
}

static inline void *new_aligned_block(size_t size, std::align_val_t alignment,
				      const void *caller)
{
	note_new(caller);
	void *pointer = __libc_memalign(static_cast<size_t>(alignment),
					size ? size : 1);
	if (!pointer)
		throw std::bad_alloc();
	return pointer;
}

static inline void delete_block(void *pointer, const void *caller) noexcept
{
	note_free(pointer, caller);
	__libc_free(pointer);
}

void *operator new(size_t size)
{
	return new_block(size, __builtin_return_address(0));
}

void *operator new[](size_t size)
{
	return new_block(size, __builtin_return_address(0));
}

void *operator new(size_t size, const std::nothrow_t &) noexcept
{
	note_new(__builtin_return_address(0));
	return __libc_malloc(size ? size : 1);
}

void *operator new[](size_t size, const std::nothrow_t &) noexcept
{
	note_new(__builtin_return_address(0));
	return __libc_malloc(size ? size : 1);
}

void *operator new(size_t size, std::align_val_t alignment)
{
	return new_aligned_block(size, alignment, __builtin_return_address(0));
}

void *operator new[](size_t size, std::align_val_t alignment)
{
	return new_aligned_block(size, alignment, __builtin_return_address(0));
}

/* Every form of delete frees through the counter. */
#define COUNTED_DELETE(name, ...)                                   \
	void name(void *pointer, ##__VA_ARGS__) noexcept            \
	{                                                           \
		delete_block(pointer, __builtin_return_address(0)); \
	}
COUNTED_DELETE(operator delete)
COUNTED_DELETE(operator delete[])
COUNTED_DELETE(operator delete, size_t)
COUNTED_DELETE(operator delete[], size_t)
COUNTED_DELETE(operator delete, std::align_val_t)
COUNTED_DELETE(operator delete[], std::align_val_t)
COUNTED_DELETE(operator delete, size_t, std::align_val_t)
COUNTED_DELETE(operator delete[], size_t, std::align_val_t)
#undef COUNTED_DELETE

bool allocation_counting_available()
{
	return true;
}

#endif
