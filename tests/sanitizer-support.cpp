/*
 * Linked into the test programs of a sanitizer build only.
 *
 * libobs unloads libobs-opengl at shutdown, and with it go the OpenGL
 * driver's libraries (Mesa, libglvnd). Blocks that only their static data
 * pointed to then look lost to LeakSanitizer, whose report comes after
 * unloading and can no longer even name the frames. Keeping exactly those
 * libraries mapped lets it see them as they are: still referenced. Every
 * other library, the module included, is unloaded as usual, so a leak of
 * the module is still reported.
 */
#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <initializer_list>

static bool is_graphics_library(const char *path)
{
	if (std::strstr(path, "/dri/"))
		return true;
	const char *slash = std::strrchr(path, '/');
	const char *file = slash ? slash + 1 : path;
	for (const char *prefix :
	     {"libobs-opengl", "libGL", "libEGL", "libgbm", "libglapi",
	      "libgallium", "libLLVM", "libdrm", "libvulkan"})
		if (std::strncmp(file, prefix, std::strlen(prefix)) == 0)
			return true;
	return false;
}

extern "C" __attribute__((visibility("default"))) int dlclose(void *handle)
{
	using Close = int (*)(void *);
	static const auto real =
		reinterpret_cast<Close>(dlsym(RTLD_NEXT, "dlclose"));
	link_map *map = nullptr;
	if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name &&
	    is_graphics_library(map->l_name))
		return 0;
	return real(handle);
}
