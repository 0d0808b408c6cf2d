/*
 * The locale files: each one well formed and complete, and each one what
 * the module shows once OBS Studio is switched to its language.
 */
#include "obs-harness.hpp"
#include "locale-file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string data_dir = TAVIMORE_DATA_DIR;

/* Every key the module looks up. */
const std::set<std::string> &module_keys()
{
	static const std::set<std::string> keys = [] {
		std::istringstream names(
			"Tavimore.ModuleName Tavimore.ModuleDescription "
			"Tavimore.FilterNameFree Hotkey.ToggleStage "
			"Hotkey.IdleZoomIn Hotkey.IdleZoomOut Hotkey.ReturnToIdle "
			"Zoom.Group.Idle Zoom.Stage.Hold "
			"Zoom.Stage.Name Zoom.Stage.Factor Zoom.Stage.Duration "
			"Zoom.TrackingEnabled Zoom.CenterX Zoom.CenterY "
			"Zoom.StageCount Zoom.EasingIn Zoom.EasingOut "
			"Zoom.Easing.Linear Zoom.Easing.EaseInOut "
			"Zoom.Easing.EaseOut Zoom.TrackingSmoothing "
			"Zoom.TrackingDeadZone Zoom.TrackingSubject "
			"Zoom.TrackingSubject.Auto Zoom.TrackingSubject.Pointer "
			"Zoom.TrackingSubject.Face Help.Toggle "
			"Help.Text Help.Group About.Text About.Group "
			"Zoom.Group.Tracking Zoom.Group.Stages Zoom.Idle.Factor "
			"Zoom.Idle.Duration Zoom.Group.Auto Zoom.AutoZoom "
			"Zoom.AutoZoom.Off Zoom.AutoZoom.Clicks "
			"Zoom.AutoZoom.ClicksAndTyping Zoom.AutoZoomStage "
			"Zoom.AutoZoomLinger Zoom.FaceFraming Zoom.FaceShare "
			"Zoom.Curve Zoom.Curve.Filter Zoom.Curve.Smooth "
			"Zoom.Curve.Custom Zoom.Bezier "
			"Zoom.CenterMode.Set Zoom.CenterMode.Follow "
			"Zoom.CenterMode.Press");
		std::set<std::string> k{
			std::istream_iterator<std::string>(names),
			{}};
		for (int n = 1; n <= 8; n++)
			k.insert("Zoom.Group.Stage" + std::to_string(n));
		for (const char *kind : {"Sine", "Cubic", "Quint", "Expo"})
			for (const char *way : {"In", "Out", "InOut"})
				k.insert(std::string("Zoom.Curve.") + kind +
					 way);
		/* each entry's tooltip */
		std::istringstream tipped(
			"Zoom.Stage.Name Zoom.Stage.Factor Zoom.Idle.Factor "
			"Zoom.Stage.Duration Zoom.Idle.Duration Zoom.Stage.Hold "
			"Zoom.TrackingEnabled Zoom.CenterX Zoom.CenterY "
			"Zoom.StageCount Zoom.EasingIn Zoom.EasingOut "
			"Zoom.TrackingSmoothing Zoom.TrackingDeadZone "
			"Zoom.TrackingSubject Help.Toggle Zoom.AutoZoom "
			"Zoom.AutoZoomStage Zoom.AutoZoomLinger Zoom.FaceFraming "
			"Zoom.FaceShare Zoom.Curve Zoom.Bezier");
		for (std::string key; tipped >> key;)
			k.insert(key + ".Tip");
		return k;
	}();
	return keys;
}

/* The locales that ship, by file name, en-US included. */
std::vector<std::string> shipped_locales()
{
	std::vector<std::string> locales;
	for (const auto &entry :
	     std::filesystem::directory_iterator(data_dir + "/locale"))
		if (entry.path().extension() == ".ini")
			locales.push_back(entry.path().stem().string());
	std::sort(locales.begin(), locales.end());
	return locales;
}

/* Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
 * On failure, `at` is the offset of the first bad byte. */
bool valid_utf8(const std::string &s, size_t &at)
{
	const auto *p = reinterpret_cast<const unsigned char *>(s.data());
	for (size_t i = 0; i < s.size();) {
		at = i;
		const size_t len = p[i] < 0x80             ? 1
				   : (p[i] & 0xE0) == 0xC0 ? 2
				   : (p[i] & 0xF0) == 0xE0 ? 3
				   : (p[i] & 0xF8) == 0xF0 ? 4
							   : 0;
		if (len == 0 || i + len > s.size())
			return false;
		uint32_t cp = len == 1 ? p[i] : p[i] & (0x7F >> len);
		for (size_t k = 1; k < len; k++) {
			if ((p[i + k] & 0xC0) != 0x80)
				return false;
			cp = (cp << 6) | (p[i + k] & 0x3F);
		}
		const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
		if (cp < least[len] || cp > 0x10FFFF ||
		    (cp >= 0xD800 && cp <= 0xDFFF))
			return false;
		i += len;
	}
	return true;
}

/* OBS Studio's own name of an entry in its locale, when it is installed;
 * OBS falls back to English for a name that a language lacks. */
std::string obs_studio_text(const std::string &locale, const char *key)
{
	const std::string dir = "/usr/share/obs/obs-studio/locale/";
	for (const std::string &l : {locale, std::string("en-US")}) {
		for (const LocaleEntry &e :
		     read_locale_file(dir + l + ".ini").entries)
			if (e.key == key)
				return unescape_like_libobs(e.raw);
	}
	return "";
}

TEST(Locale, TheTenLanguagesShip)
{
	const auto locales = shipped_locales();
	for (const char *l : {"en-US", "de-DE", "es-ES", "fr-FR", "it-IT",
			      "ja-JP", "ko-KR", "pt-BR", "ru-RU", "zh-CN"})
		EXPECT_NE(std::find(locales.begin(), locales.end(), l),
			  locales.end())
			<< l;
}

TEST(Locale, EveryFileIsWellFormedAndHasExactlyTheModulesKeys)
{
	for (const std::string &locale : shipped_locales()) {
		SCOPED_TRACE(locale);
		const LocaleFile file = read_locale_file(data_dir + "/locale/" +
							 locale + ".ini");
		ASSERT_TRUE(file.opened);
		EXPECT_EQ(file.errors, std::vector<std::string>());

		size_t at = 0;
		EXPECT_TRUE(valid_utf8(file.bytes, at))
			<< "invalid UTF-8 at byte " << at;
		EXPECT_NE(file.bytes.rfind("\xEF\xBB\xBF", 0), 0u)
			<< "byte order mark";
		ASSERT_FALSE(file.bytes.empty());
		EXPECT_EQ(file.bytes.back(), '\n') << "last line unterminated";

		std::set<std::string> keys;
		for (const LocaleEntry &e : file.entries) {
			EXPECT_TRUE(keys.insert(e.key).second)
				<< e.key << " twice, line " << e.line;
			const std::string text = unescape_like_libobs(e.raw);
			EXPECT_NE(text.find_first_not_of(" \n"),
				  std::string::npos)
				<< e.key << " has no text";
			for (unsigned char c : e.raw)
				EXPECT_GE(c, 0x20)
					<< e.key << " holds a control byte";
		}
		EXPECT_EQ(keys, module_keys());
		/* Settings -> Hotkeys finds every key by the word Tavimore */
		auto texts = locale_texts(data_dir, locale);
		for (const char *key :
		     {"Hotkey.ToggleStage", "Hotkey.IdleZoomIn",
		      "Hotkey.IdleZoomOut", "Hotkey.ReturnToIdle"})
			EXPECT_EQ(texts[key].rfind("Tavimore", 0), 0u) << key;
	}
}

TEST(Locale, TheHelpTextNamesTheHotkeysAsOBSStudioShowsThem)
{
	for (const std::string &locale : shipped_locales()) {
		SCOPED_TRACE(locale);
		auto texts = locale_texts(data_dir, locale);
		const std::string &help = texts["Help.Text"];
		/* the stage hotkeys are described as this text, a space and
		 * the stage number */
		for (const std::string &name :
		     {texts["Hotkey.ToggleStage"] + " 1",
		      texts["Hotkey.IdleZoomIn"], texts["Hotkey.IdleZoomOut"],
		      std::string("OBS Studio")})
			EXPECT_NE(help.find(name), std::string::npos) << name;

		const std::string settings =
			obs_studio_text(locale, "Settings");
		const std::string hotkeys =
			obs_studio_text(locale, "Basic.Settings.Hotkeys");
		if (settings.empty() || hotkeys.empty())
			continue; /* OBS Studio's texts are not installed */
		EXPECT_NE(help.find(settings), std::string::npos) << settings;
		EXPECT_NE(help.find(hotkeys), std::string::npos) << hotkeys;
	}
}

/* The descriptions of a fresh filter's hotkeys: stage 1, zoom in, out. */
std::vector<std::string> hotkey_descriptions()
{
	obs_source_t *parent = create_pattern_source("locale parent");
	obs_source_t *filter = create_zoom_filter("locale filter", nullptr);
	obs_source_filter_add(parent, filter);
	tick(filter, 0.016f);

	std::map<std::string, std::string> by_name;
	for (const HotkeyInfo &h : hotkeys_of(parent))
		by_name[h.name] = h.description;
	const std::vector<std::string> found = {
		by_name["tavimore.stage_1"], by_name["tavimore.idle_zoom_in"],
		by_name["tavimore.idle_zoom_out"]};

	remove_and_release(parent, filter);
	wait_destroyed();
	return found;
}

TEST(Locale, TheModuleShowsTheTextsOfTheChosenLanguage)
{
	obs_module_t *module = loaded_module();
	ASSERT_NE(module, nullptr);
	for (const std::string &locale : shipped_locales()) {
		SCOPED_TRACE(locale);
		const auto texts = locale_texts(data_dir, locale);
		ASSERT_EQ(texts.size(), module_keys().size());
		obs_set_locale(locale.c_str());

		for (const auto &[key, text] : texts) {
			const char *shown =
				obs_module_get_locale_text(module, key.c_str());
			ASSERT_NE(shown, nullptr);
			EXPECT_EQ(std::string(shown), text) << key;
		}

		/* where the texts surface in OBS Studio */
		EXPECT_EQ(std::string(obs_source_get_display_name(
				  "tavimore_filter")),
			  texts.at("Tavimore.FilterNameFree"));
		obs_properties_t *props =
			obs_get_source_properties("tavimore_filter");
		ASSERT_NE(props, nullptr);
		EXPECT_EQ(std::string(obs_property_description(
				  obs_properties_get(props, "stage_3_group"))),
			  texts.at("Zoom.Group.Stage3"));
		EXPECT_EQ(std::string(obs_property_list_item_name(
				  obs_properties_get(props, "easing_out"), 2)),
			  texts.at("Zoom.Easing.EaseOut"));
		EXPECT_EQ(std::string(obs_property_description(
				  obs_properties_get(props, "help_info"))),
			  texts.at("Help.Text"));
		obs_properties_destroy(props);

		const std::vector<std::string> expected = {
			texts.at("Hotkey.ToggleStage") + " 1",
			texts.at("Hotkey.IdleZoomIn"),
			texts.at("Hotkey.IdleZoomOut")};
		EXPECT_EQ(hotkey_descriptions(), expected);
	}

	obs_set_locale("en-US");
}

} // namespace

int main(int argc, char **argv)
{
	return run_tests_in_host(argc, argv, HostOptions());
}
