/* The module as libobs sees it: exports, version, log lines, locale. */
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "obs-harness.hpp"
#include "locale-file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

/* The module as a library of its own: opened, a symbol, closed. */
#ifdef _WIN32
static void *open_library(const char *file)
{
	return LoadLibraryA(file);
}
static void *symbol(void *library, const char *name)
{
	return reinterpret_cast<void *>(
		GetProcAddress(static_cast<HMODULE>(library), name));
}
static void close_library(void *library)
{
	FreeLibrary(static_cast<HMODULE>(library));
}

/* The names in the DLL's export table. */
static std::set<std::string> exported_functions(const char *library)
{
	std::set<std::string> names;
	void *module = open_library(library);
	if (!module)
		return names;
	const auto *base = static_cast<const uint8_t *>(module);
	const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(
		base +
		reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew);
	const IMAGE_DATA_DIRECTORY &dir =
		nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
	if (dir.Size) {
		const auto *exports =
			reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(
				base + dir.VirtualAddress);
		const auto *name_rvas = reinterpret_cast<const DWORD *>(
			base + exports->AddressOfNames);
		for (DWORD i = 0; i < exports->NumberOfNames; i++)
			names.insert(reinterpret_cast<const char *>(
				base + name_rvas[i]));
	}
	close_library(module);
	return names;
}
#else
static void *open_library(const char *file)
{
	return dlopen(file, RTLD_NOW | RTLD_LOCAL);
}
static void *symbol(void *library, const char *name)
{
	return dlsym(library, name);
}
static void close_library(void *library)
{
	dlclose(library);
}

static std::set<std::string> exported_functions(const char *library)
{
	std::set<std::string> names;
	const std::string command =
		std::string("nm -D --defined-only '") + library + "'";
	FILE *pipe = popen(command.c_str(), "r");
	if (!pipe)
		return names;
	char line[512];
	while (fgets(line, sizeof(line), pipe)) {
		char address[64], type[8], name[400];
		if (std::sscanf(line, "%63s %7s %399s", address, type, name) ==
		    3)
			names.insert(name);
	}
	pclose(pipe);
	return names;
}

#endif

/* The module's own obs_module_ver(). */
static bool module_version(const char *library, uint32_t &version)
{
	void *module = open_library(library);
	auto ver = reinterpret_cast<uint32_t (*)()>(
		module ? symbol(module, "obs_module_ver") : nullptr);
	if (ver)
		version = ver();
	if (module)
		close_library(module);
	return ver != nullptr;
}

/* The names that cmake/exports.map makes global. */
static std::set<std::string> export_map_names()
{
	std::set<std::string> names;
	std::ifstream map(TAVIMORE_SOURCE_DIR "/cmake/exports.map");
	std::string line;
	bool global = false;
	while (std::getline(map, line)) {
		const auto start = line.find_first_not_of(" \t");
		const auto end = line.find(';');
		if (line.find("global:") != std::string::npos)
			global = true;
		else if (line.find("local:") != std::string::npos)
			global = false;
		else if (global && start != std::string::npos &&
			 end != std::string::npos)
			names.insert(line.substr(start, end - start));
	}
	return names;
}

TEST(Module, ExportsExactlyTheEntryPointsOfTheExportMap)
{
	const std::set<std::string> expected = export_map_names();
	for (const char *entry_point :
	     {"obs_module_load", "obs_module_unload", "obs_module_ver",
	      "obs_module_set_pointer", "obs_module_post_load",
	      "obs_module_name", "obs_module_description"})
		EXPECT_EQ(expected.count(entry_point), 1u) << entry_point;
	EXPECT_EQ(exported_functions(module_file()), expected);
}

TEST(Module, ReportsTheApiVersionItWasBuiltAgainst)
{
	uint32_t version = 0;
	ASSERT_TRUE(module_version(module_file(), version)) << module_file();
	EXPECT_EQ(version, uint32_t(LIBOBS_API_VER));
}

#ifdef _WIN32
/* What Windows shows as the DLL's version (its resource), in numbers and in
 * text, is the version the module logs. */
TEST(Module, CarriesItsVersionAsWindowsVersionInformation)
{
	DWORD unused = 0;
	const DWORD size = GetFileVersionInfoSizeA(module_file(), &unused);
	ASSERT_GT(size, 0u);
	std::vector<char> info(size);
	ASSERT_TRUE(GetFileVersionInfoA(module_file(), 0, size, info.data()));
	void *value = nullptr;
	UINT length = 0;
	ASSERT_TRUE(VerQueryValueA(info.data(), "\\", &value, &length));
	const auto *fixed = static_cast<const VS_FIXEDFILEINFO *>(value);
	EXPECT_EQ(fixed->dwFileVersionMS, DWORD(MAKELONG(0, 1)));
	EXPECT_EQ(fixed->dwFileVersionLS, DWORD(0));
	ASSERT_TRUE(VerQueryValueA(info.data(),
				   "\\StringFileInfo\\040904B0\\FileVersion",
				   &value, &length));
	EXPECT_STREQ(static_cast<const char *>(value), "1.0.0");
}
#endif

/* The lines of the log that read exactly `text`, at info. */
static long info_lines(const char *text)
{
	const auto lines = captured_logs();
	return std::count_if(lines.begin(), lines.end(), [&](const LogLine &l) {
		return l.text == text && l.level == LOG_INFO;
	});
}

TEST(Module, WritesTheLoadLineOnceAtInfo)
{
	EXPECT_EQ(info_lines("[tavimore-free] plugin loaded successfully "
			     "(version 1.0.0)"),
		  1);
}

TEST(Module, NamesTheFilterFromTheLocale)
{
	EXPECT_STREQ(obs_source_get_display_name("tavimore_filter"),
		     "Tavimore Zoom");
	/* a video filter that samples in linear light */
	EXPECT_EQ(obs_get_source_output_flags("tavimore_filter"),
		  uint32_t(OBS_SOURCE_VIDEO | OBS_SOURCE_SRGB));
}

/*
 * OBS's plug-in manager lists the module by its manifest (libobs 32 reads
 * manifest.json from the data folder) or else by the name it exports; the
 * description comes from the module, in the user's language.
 */
TEST(Module, NamesItselfToOBSsPluginManager)
{
	obs_module_t *module = loaded_module();
	obs_data_t *manifest = obs_data_create_from_json_file(
		TAVIMORE_BINARY_DIR "/module-data/manifest.json");
	ASSERT_NE(manifest, nullptr);
	const struct {
		const char *field, *value;
	} fields[] = {{"display_name", "Tavimore Zoom"},
		      {"id", "tavimore-free"},
		      {"name", "tavimore-free"},
		      {"version", TAVIMORE_PROJECT_VERSION}};
	for (const auto &f : fields)
		EXPECT_STREQ(obs_data_get_string(manifest, f.field), f.value)
			<< f.field;
	for (const char *f : {"os_arch", "description", "long_description"})
		EXPECT_STRNE(obs_data_get_string(manifest, f), "") << f;
	obs_data_t *urls = obs_data_get_obj(manifest, "urls");
	for (const char *f : {"repository", "website", "support"})
		EXPECT_TRUE(urls && obs_data_has_user_value(urls, f)) << f;
	obs_data_release(urls);
	obs_data_release(manifest);

	EXPECT_STREQ(obs_get_module_name(module), "Tavimore Zoom");
#if LIBOBS_API_MAJOR_VER >= 32
	/* only the manifest gives these */
	EXPECT_STREQ(obs_get_module_id(module), "tavimore-free");
	EXPECT_STREQ(obs_get_module_version(module), TAVIMORE_PROJECT_VERSION);
#endif
	for (const char *locale : {"de-DE", "ja-JP", "en-US"}) {
		obs_set_locale(locale);
		std::string expected;
		for (const LocaleEntry &e :
		     read_locale_file(std::string(TAVIMORE_DATA_DIR) +
				      "/locale/" + locale + ".ini")
			     .entries)
			if (e.key == "Tavimore.ModuleDescription")
				expected = unescape_like_libobs(e.raw);
		EXPECT_FALSE(expected.empty()) << locale;
		const char *shown = obs_get_module_description(module);
		EXPECT_EQ(std::string(shown ? shown : ""), expected) << locale;
	}
}

/* Every key found in every language: locale-tests. */
TEST(Module, FallsBackToTheKeyForAMissingText)
{
	obs_module_t *module = loaded_module();
	const char *missing = "No.Such.Key";
	const char *text = nullptr;
	EXPECT_FALSE(obs_module_get_locale_string(module, missing, &text));
	EXPECT_EQ(text, nullptr);
	EXPECT_EQ(obs_module_get_locale_text(module, missing), missing);
}

TEST(Module, ALocaleWithoutAFileFallsBackToEnglish)
{
	obs_set_locale("xx-XX");
	EXPECT_STREQ(obs_source_get_display_name("tavimore_filter"),
		     "Tavimore Zoom");
	obs_set_locale("en-US");
}

/*
 * A module built for a newer libobs, loaded in this one, which refuses its
 * larger filter descriptor: TAVIMORE_NEWER_MODULE names it, and the host
 * then starts without this build's module. scripts/test.d/45-libobs-from-
 * source.sh runs it with the build for libobs 32 in Debian's libobs 29.
 */
static const char *newer_module()
{
	return std::getenv("TAVIMORE_NEWER_MODULE");
}

TEST(NewerLibobs, TheRefusedFilterFailsTheLoadWithOneErrorLine)
{
	if (!newer_module())
		GTEST_SKIP() << "no TAVIMORE_NEWER_MODULE";
	clear_logs();
	obs_module_t *module = nullptr;
	ASSERT_EQ(obs_open_module(&module, newer_module(), TAVIMORE_DATA_DIR),
		  MODULE_SUCCESS);
	auto ver = reinterpret_cast<uint32_t (*)()>(
		symbol(obs_get_module_lib(module), "obs_module_ver"));
	ASSERT_NE(ver, nullptr);
	const uint32_t built = ver();
	ASSERT_GT(built, uint32_t(LIBOBS_API_VER)) << "not a newer build";

	EXPECT_FALSE(obs_init_module(module));
	EXPECT_EQ(obs_source_get_display_name("tavimore_filter"), nullptr);
	const auto lines = logs_containing("[tavimore-free]");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].level, LOG_ERROR);
	const std::string expected =
		"built for libobs " + std::to_string(built >> 24) + "." +
		std::to_string((built >> 16) & 0xff) + "." +
		std::to_string(built & 0xffff) + ", OBS runs libobs " +
		obs_get_version_string() + ";";
	EXPECT_NE(lines[0].text.find(expected), std::string::npos)
		<< lines[0].text;
}

int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	HostOptions options;
	options.load_module = !newer_module();
	/* the data folder as installed, with its manifest */
	options.data_path = TAVIMORE_BINARY_DIR "/module-data";
	if (!start_host(options))
		return 1;
	int result = RUN_ALL_TESTS();
	const long alive = stop_host();
	if (options.load_module &&
	    info_lines("[tavimore-free] plugin unloaded") != 1) {
		std::fprintf(stderr, "FAILED: no single unload line\n");
		result = 1;
	}
	if (alive != 0) {
		std::fprintf(stderr, "FAILED: %ld libobs allocations alive\n",
			     alive);
		result = 1;
	}
	return result;
}
