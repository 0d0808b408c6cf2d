/*
 * What a filter's parent shows on Windows: OBS's display capture
 * ("monitor_capture") shows one monitor, its window capture
 * ("window_capture") one window, any other source the whole desktop.
 *
 * Runs on the graphics thread, every CAPTURE_CHECK_FRAMES frames, and
 * allocates nothing. A window is found as OBS's window capture finds it in
 * its own tick, on the same thread: every visible top-level window that is
 * neither a tool window nor a child, a UWP frame standing for the app's
 * window inside it, rated by the capture's "priority" (the walk of its
 * BitBlt method). A window of OBS's own process is never a
 * candidate and its title is never read: reading it with GetWindowText
 * would send WM_GETTEXT and wait for OBS's UI thread. Titles are read with
 * InternalGetWindowText, which sends no message to any window. The window
 * found for a setting is kept (in slots under `found_lock`, shared by every
 * filter, held only to read or fill a slot) while it exists, as OBS keeps
 * it even when its title changes.
 */
/* before libobs: its SSE names from SIMDe must not meet the compiler's own
 * intrinsics, which windows.h brings in */
#include <windows.h>
#include <psapi.h>

#include "tracking/capture-settings.hpp"

#include <obs.hpp>

#include <cstring>
#include <cwchar>
#include <mutex>

namespace {

/* ---- the display capture: which monitor ---- */

/* Device interface names fit DISPLAY_DEVICEW's DeviceID. */
constexpr int MONITOR_ID_CHARS = 128;

struct MonitorSearch {
	const wchar_t *id;
	int64_t index = 0;
	int64_t found = -1;
};

/* The id OBS's display capture stores for a monitor is the device interface
 * name of the display device on it. */
BOOL CALLBACK match_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM param)
{
	auto *search = reinterpret_cast<MonitorSearch *>(param);
	MONITORINFOEXW info = {};
	info.cbSize = sizeof(info);
	DISPLAY_DEVICEW device = {};
	device.cb = sizeof(device);
	if (GetMonitorInfoW(monitor, &info) &&
	    EnumDisplayDevicesW(info.szDevice, 0, &device,
				EDD_GET_DEVICE_INTERFACE_NAME) &&
	    std::wcscmp(device.DeviceID, search->id) == 0) {
		search->found = search->index;
		return FALSE;
	}
	search->index++;
	return TRUE;
}

/* The monitor's place in EnumDisplayMonitors's order: the one named by
 * "monitor_id" (OBS 28 and later), else the "monitor" index of older
 * settings; -1 when the id names no monitor present. */
int64_t capture_monitor(obs_data_t *settings)
{
	const char *id = obs_data_get_string(settings, "monitor_id");
	if (!id || !*id || std::strcmp(id, "DUMMY") == 0)
		return obs_data_get_int(settings, "monitor");
	wchar_t wanted[MONITOR_ID_CHARS];
	/* 0 when it does not fit: longer than any device's name */
	if (!MultiByteToWideChar(CP_UTF8, 0, id, -1, wanted, MONITOR_ID_CHARS))
		return -1;
	MonitorSearch search{wanted};
	EnumDisplayMonitors(nullptr, nullptr, match_monitor,
			    reinterpret_cast<LPARAM>(&search));
	return search.found;
}

/* ---- the window capture: which window ---- */

/* The window capture's "priority": which part of its setting must match. */
enum class Priority { ByClass, ByTitle, ByExe };

constexpr int NO_MATCH = 0x7fffffff;
/* a title this long or longer is taken as matching no setting */
constexpr int TITLE_CHARS = 4096;
constexpr int CLASS_CHARS = 256;

/* One part of the setting "title:class:executable", as written: ':' is
 * "#3A" and '#' is "#22" in it, decoded while it is compared. */
struct Part {
	const char *begin = nullptr;
	const char *end = nullptr;
};

/* The next character of a setting's part, as a code point; -1 at its end. */
long next_of_part(const char *&at, const char *end)
{
	if (at >= end)
		return -1;
	if (end - at >= 3 && at[0] == '#') {
		if (at[1] == '3' && at[2] == 'A') {
			at += 3;
			return ':';
		}
		if (at[1] == '2' && at[2] == '2') {
			at += 3;
			return '#';
		}
	}
	/* UTF-8; a broken sequence counts byte by byte, as nothing a
	 * window's text holds */
	const auto lead = static_cast<unsigned char>(*at++);
	const int more = lead >= 0xf0   ? 3
			 : lead >= 0xe0 ? 2
			 : lead >= 0xc0 ? 1
					: 0;
	if (!more)
		return lead < 0x80 ? long(lead) : 0x110000L + lead;
	long code = lead & (0x3f >> more);
	for (int i = 0; i < more; i++) {
		if (at >= end ||
		    (static_cast<unsigned char>(*at) & 0xc0) != 0x80)
			return 0x110000L + lead;
		code = (code << 6) | (static_cast<unsigned char>(*at++) & 0x3f);
	}
	return code;
}

/* The next character of a window's text (UTF-16), as a code point. */
long next_of_text(const wchar_t *&at, const wchar_t *end)
{
	if (at >= end)
		return -1;
	const long unit = *at++;
	if (unit >= 0xd800 && unit < 0xdc00 && at < end && *at >= 0xdc00 &&
	    *at < 0xe000)
		return 0x10000 + ((unit - 0xd800) << 10) + (*at++ - 0xdc00);
	return unit;
}

long ascii_upper(long c)
{
	return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

/* Whether a window's text is the part, as OBS compares them: letters of
 * ASCII in either case, every other character exactly. */
bool same_text(const wchar_t *text, int length, const Part &part)
{
	const wchar_t *t = text;
	const wchar_t *t_end = text + (length > 0 ? length : 0);
	const char *p = part.begin;
	for (;;) {
		const long a = next_of_text(t, t_end);
		const long b = next_of_part(p, part.end);
		if (ascii_upper(a) != ascii_upper(b))
			return false;
		if (a < 0)
			return true;
	}
}

/* Whether the part holds `word`, in ASCII letters of either case. */
bool part_contains(const Part &part, const char *word)
{
	const size_t n = std::strlen(word);
	for (const char *at = part.begin; size_t(part.end - at) >= n; at++) {
		size_t i = 0;
		while (i < n && ascii_upper(at[i]) == ascii_upper(word[i]))
			i++;
		if (i == n)
			return true;
	}
	return false;
}

bool part_is(const Part &part, const char *word)
{
	return size_t(part.end - part.begin) == std::strlen(word) &&
	       std::memcmp(part.begin, word, std::strlen(word)) == 0;
}

struct WindowSearch {
	Part title, window_class, exe;
	Priority priority = Priority::ByExe;
	/* the setting's class is one many programs share: matched by title */
	bool generic_class = false;
	/* a UWP app's window: always matched by title */
	bool uwp_class = false;
	HWND best = nullptr;
	int best_rating = NO_MATCH;
};

/* OBS splits the setting at every ':' and takes the first three parts;
 * with fewer it looks for no window. */
bool parse_window_setting(const char *setting, Priority priority,
			  WindowSearch &search)
{
	if (!setting)
		return false;
	Part *parts[] = {&search.title, &search.window_class, &search.exe};
	const char *at = setting;
	for (int i = 0; i < 3; i++) {
		const char *colon = std::strchr(at, ':');
		const char *end = colon ? colon : at + std::strlen(at);
		parts[i]->begin = at;
		parts[i]->end = end;
		if (!colon && i < 2)
			return false;
		at = colon ? colon + 1 : end;
	}
	search.priority = priority;
	search.generic_class = part_contains(search.window_class, "Chrome") ||
			       part_contains(search.window_class, "SDL_app");
	search.uwp_class =
		part_is(search.window_class, "Windows.UI.Core.CoreWindow") ||
		part_is(search.window_class, "WinUIDesktopWin32WindowClass");
	return true;
}

/* The file name of the window's program, as OBS names it ("unknown" when
 * it cannot be read); false for a window of this process. */
bool window_exe(HWND window, wchar_t (&name)[MAX_PATH], int &length)
{
	DWORD pid = 0;
	GetWindowThreadProcessId(window, &pid);
	if (pid == GetCurrentProcessId())
		return false;
	wchar_t path[MAX_PATH];
	DWORD size = 0;
	HANDLE process =
		OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
	if (process) {
		size = GetProcessImageFileNameW(process, path, MAX_PATH);
		CloseHandle(process);
	}
	const wchar_t *slash = size ? std::wcsrchr(path, L'\\') : nullptr;
	const wchar_t *file = slash ? slash + 1 : L"unknown";
	length = int(std::wcslen(file));
	std::wmemcpy(name, file, size_t(length) + 1);
	return true;
}

/* How well a window matches, as OBS's window capture rates it: 0 is a
 * perfect match, NO_MATCH none, lower is better. */
int rating(HWND window, const WindowSearch &search)
{
	wchar_t exe[MAX_PATH];
	int exe_length = 0;
	if (!window_exe(window, exe, exe_length))
		return NO_MATCH;
	wchar_t title[TITLE_CHARS];
	const int title_length =
		InternalGetWindowText(window, title, TITLE_CHARS);
	wchar_t window_class[CLASS_CHARS];
	const int class_length =
		GetClassNameW(window, window_class, CLASS_CHARS);

	const bool title_matches = title_length < TITLE_CHARS - 1 &&
				   same_text(title, title_length, search.title);
	const bool class_matches =
		same_text(window_class, class_length, search.window_class);
	const bool exe_matches = same_text(exe, exe_length, search.exe);
	const int by_title = title_matches ? 0 : 1;

	Priority priority = search.priority;
	if (search.generic_class && priority == Priority::ByClass)
		priority = Priority::ByTitle;
	if (search.uwp_class)
		return priority == Priority::ByExe && !exe_matches ? NO_MATCH
		       : title_matches                             ? 0
								   : NO_MATCH;
	switch (priority) {
	case Priority::ByClass:
		return !class_matches ? NO_MATCH
		       : exe_matches  ? by_title
				      : by_title + 0x1000;
	case Priority::ByTitle:
		return title_matches ? 0 : NO_MATCH;
	case Priority::ByExe:
		return exe_matches ? by_title : NO_MATCH;
	default:
		return NO_MATCH;
	}
}

/* A UWP app's frame stands for the app's window inside it: its first child
 * of another process. */
HWND uwp_app_window(HWND frame)
{
	wchar_t name[CLASS_CHARS];
	if (!GetClassNameW(frame, name, CLASS_CHARS) ||
	    (std::wcscmp(name, L"ApplicationFrameWindow") != 0 &&
	     std::wcscmp(name, L"WinUIDesktopWin32WindowClass") != 0))
		return nullptr;
	DWORD frame_pid = 0;
	GetWindowThreadProcessId(frame, &frame_pid);
	for (HWND child = FindWindowExW(frame, nullptr, nullptr, nullptr);
	     child; child = FindWindowExW(frame, child, nullptr, nullptr)) {
		DWORD pid = 0;
		GetWindowThreadProcessId(child, &pid);
		if (pid != frame_pid)
			return child;
	}
	return nullptr;
}

/* Top-level windows from the top down, as OBS walks them; the first with
 * the lowest rating wins, a perfect match ends the walk. */
BOOL CALLBACK rate_window(HWND window, LPARAM param)
{
	auto *search = reinterpret_cast<WindowSearch *>(param);
	const auto style = GetWindowLongPtrW(window, GWL_STYLE);
	const auto ex_style = GetWindowLongPtrW(window, GWL_EXSTYLE);
	if (!IsWindowVisible(window) || (ex_style & WS_EX_TOOLWINDOW) ||
	    (style & WS_CHILD))
		return TRUE;
	if (const HWND app = uwp_app_window(window))
		window = app;
	const int r = rating(window, *search);
	if (r < search->best_rating) {
		search->best_rating = r;
		search->best = window;
	}
	return r != 0;
}

/* The window last found for a setting, reused while it exists. A setting
 * too long for `setting` is looked up on every check instead. */
struct Found {
	char setting[1024];
	Priority priority;
	HWND window;
};
std::mutex found_lock;
Found found[8];
unsigned found_next = 0;

HWND capture_window(const char *setting, Priority priority)
{
	if (!setting)
		setting = "";
	const size_t length = std::strlen(setting);
	const bool kept = length < sizeof(Found::setting);
	if (kept) {
		std::lock_guard<std::mutex> guard(found_lock);
		for (const Found &f : found)
			if (f.window && f.priority == priority &&
			    std::strcmp(f.setting, setting) == 0 &&
			    IsWindow(f.window))
				return f.window;
	}
	WindowSearch search;
	if (!parse_window_setting(setting, priority, search))
		return nullptr;
	EnumWindows(rate_window, reinterpret_cast<LPARAM>(&search));
	if (!search.best || !kept)
		return search.best;

	std::lock_guard<std::mutex> guard(found_lock);
	Found *slot = nullptr;
	for (Found &f : found)
		if (!slot && (!f.window || !IsWindow(f.window)))
			slot = &f;
	if (!slot)
		slot = &found[found_next++ % (sizeof found / sizeof found[0])];
	std::memcpy(slot->setting, setting, length + 1);
	slot->priority = priority;
	slot->window = search.best;
	return search.best;
}

} // namespace

void capture_settings_of(obs_source_t *parent, CaptureSettings &capture)
{
	capture.kind = CaptureSettings::Kind::WholeScreen;
	capture.screen = 0;
	capture.window = 0;
	capture.include_border = false;
	const char *id = parent ? obs_source_get_unversioned_id(parent)
				: nullptr;
	if (!id)
		return;
	if (std::strcmp(id, "monitor_capture") == 0) {
		OBSDataAutoRelease settings = obs_source_get_settings(parent);
		capture.kind = CaptureSettings::Kind::Screen;
		capture.screen = capture_monitor(settings);
	} else if (std::strcmp(id, "window_capture") == 0) {
		OBSDataAutoRelease settings = obs_source_get_settings(parent);
		capture.kind = CaptureSettings::Kind::Window;
		const HWND window = capture_window(
			obs_data_get_string(settings, "window"),
			Priority(obs_data_get_int(settings, "priority")));
		/* window handles keep to 32 bits, for 32-bit programs */
		capture.window = static_cast<uint32_t>(
			reinterpret_cast<uintptr_t>(window));
		/* the whole window, frame included, unless "client_area" */
		capture.include_border =
			!obs_data_get_bool(settings, "client_area");
	}
}
