#include "core/plugin-support.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void log_message(int level, const char *format, ...)
{
	/* The prefix is joined to the format itself, so the caller's
	 * conversion specifications are filled by libobs, not copied. */
	const size_t n = std::strlen(format);
	char *joined = static_cast<char *>(std::malloc(n + 18));
	if (!joined)
		return;
	std::snprintf(joined, n + 17, "[%s] %s", PLUGIN_NAME, format);

	va_list args;
	va_start(args, format);
	blogva(level, joined, args);
	va_end(args);

	std::free(joined);
}
