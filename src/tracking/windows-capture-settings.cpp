/*
 * What a filter's parent shows on Windows: OBS's display capture
 * ("monitor_capture") shows one monitor, its window capture
 * ("window_capture") one window, any other source the whole desktop.
 *
 * Runs on the graphics thread, every CAPTURE_CHECK_FRAMES frames. Finding a
 * window walks every top-level window, so the window found for a setting is
 * kept (under `found_lock`, shared by every filter) while it exists.
 */
/* before libobs: its SSE names from SIMDe must not meet the compiler's own
 * intrinsics, which windows.h brings in */
#include <windows.h>

#include "capture-settings.hpp"

#include <obs.hpp>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::wstring wide(const std::string &text)
{
	const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(),
					  int(text.size()), nullptr, 0);
	std::wstring out(size_t(n > 0 ? n : 0), L'\0');
	if (n > 0)
		MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()),
				    &out[0], n);
	return out;
}

std::string narrow(const wchar_t *text)
{
	const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0,
					  nullptr, nullptr);
	std::string out(size_t(n > 1 ? n - 1 : 0), '\0');
	if (n > 1)
		WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr,
				    nullptr);
	return out;
}

/* ---- the display capture: which monitor ---- */

struct Monitors {
	std::vector<HMONITOR> list;
};

BOOL CALLBACK add_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM param)
{
	reinterpret_cast<Monitors *>(param)->list.push_back(monitor);
	return TRUE;
}

/* The id OBS's display capture stores for a monitor: the device interface
 * name of the display device on it. */
std::string monitor_id(HMONITOR monitor)
{
	MONITORINFOEXW info = {};
	info.cbSize = sizeof(info);
	if (!GetMonitorInfoW(monitor, &info))
		return {};
	DISPLAY_DEVICEW device = {};
	device.cb = sizeof(device);
	if (!EnumDisplayDevicesW(info.szDevice, 0, &device,
				 EDD_GET_DEVICE_INTERFACE_NAME))
		return {};
	return narrow(device.DeviceID);
}

/* The monitor's place in EnumDisplayMonitors's order: the one named by
 * "monitor_id" (OBS 28 and later), else the "monitor" index of older
 * settings; -1 when the id names no monitor present. */
int64_t capture_monitor(obs_data_t *settings)
{
	const char *id = obs_data_get_string(settings, "monitor_id");
	if (!id || !*id || std::strcmp(id, "DUMMY") == 0)
		return obs_data_get_int(settings, "monitor");
	Monitors monitors;
	EnumDisplayMonitors(nullptr, nullptr, add_monitor,
			    reinterpret_cast<LPARAM>(&monitors));
	for (size_t i = 0; i < monitors.list.size(); i++)
		if (monitor_id(monitors.list[i]) == id)
			return int64_t(i);
	return -1;
}

/* ---- the window capture: which window ---- */

/* The window capture's "priority": which part of its setting must match. */
enum Priority : int { BY_CLASS = 0, BY_TITLE = 1, BY_EXE = 2 };

/* "title:class:executable", each part with ':' written as "#3A" and '#' as
 * "#22". */
struct WindowSetting {
	std::wstring title;
	std::wstring window_class;
	std::wstring exe;
};

std::wstring decode_part(const std::string &part)
{
	std::string out;
	for (size_t i = 0; i < part.size(); i++) {
		if (part.compare(i, 3, "#3A") == 0) {
			out += ':';
			i += 2;
		} else if (part.compare(i, 3, "#22") == 0) {
			out += '#';
			i += 2;
		} else {
			out += part[i];
		}
	}
	return wide(out);
}

bool parse_window_setting(const char *setting, WindowSetting &wanted)
{
	const std::string text = setting ? setting : "";
	const size_t first = text.find(':');
	const size_t second = first == std::string::npos
				      ? std::string::npos
				      : text.find(':', first + 1);
	if (second == std::string::npos)
		return false;
	wanted.title = decode_part(text.substr(0, first));
	wanted.window_class =
		decode_part(text.substr(first + 1, second - first - 1));
	wanted.exe = decode_part(text.substr(second + 1));
	return true;
}

std::wstring window_exe(HWND window)
{
	DWORD pid = 0;
	GetWindowThreadProcessId(window, &pid);
	HANDLE process =
		OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
	if (!process)
		return {};
	wchar_t path[MAX_PATH];
	DWORD size = MAX_PATH;
	std::wstring name;
	if (QueryFullProcessImageNameW(process, 0, path, &size)) {
		name.assign(path, size);
		const size_t slash = name.find_last_of(L"\\/");
		if (slash != std::wstring::npos)
			name.erase(0, slash + 1);
	}
	CloseHandle(process);
	return name;
}

struct Search {
	const WindowSetting *wanted;
	int priority;
	HWND best = nullptr;
	int best_score = -1;
};

/* The visible top-level window that matches the part the priority names;
 * among several, the one matching most of the other parts, then the
 * topmost. */
BOOL CALLBACK rate_window(HWND window, LPARAM param)
{
	auto *search = reinterpret_cast<Search *>(param);
	if (!IsWindowVisible(window))
		return TRUE;
	const WindowSetting &wanted = *search->wanted;
	wchar_t text[512];
	const int title_length = GetWindowTextW(window, text, 512);
	const bool title = wanted.title ==
			   std::wstring(text, size_t(title_length));
	const int class_length = GetClassNameW(window, text, 512);
	const bool window_class =
		CompareStringOrdinal(text, class_length,
				     wanted.window_class.c_str(),
				     int(wanted.window_class.size()),
				     TRUE) == CSTR_EQUAL;
	const std::wstring exe_name = window_exe(window);
	const bool exe =
		CompareStringOrdinal(exe_name.c_str(), int(exe_name.size()),
				     wanted.exe.c_str(), int(wanted.exe.size()),
				     TRUE) == CSTR_EQUAL;
	const bool required = search->priority == BY_CLASS   ? window_class
			      : search->priority == BY_TITLE ? title
							     : exe;
	const int score =
		(title ? 4 : 0) + (window_class ? 2 : 0) + (exe ? 1 : 0);
	if (required && score > search->best_score) {
		search->best = window;
		search->best_score = score;
	}
	return TRUE;
}

/* The window last found for each setting, reused while it exists. */
struct Found {
	std::string setting;
	int priority;
	HWND window;
};
std::mutex found_lock;
std::vector<Found> found;

HWND capture_window(const char *setting, int priority)
{
	const std::string key = setting ? setting : "";
	{
		std::lock_guard<std::mutex> guard(found_lock);
		for (const Found &f : found)
			if (f.setting == key && f.priority == priority &&
			    IsWindow(f.window))
				return f.window;
	}
	WindowSetting wanted;
	if (!parse_window_setting(setting, wanted))
		return nullptr;
	Search search{&wanted, priority};
	EnumWindows(rate_window, reinterpret_cast<LPARAM>(&search));

	std::lock_guard<std::mutex> guard(found_lock);
	for (auto it = found.begin(); it != found.end();)
		it = IsWindow(it->window) ? it + 1 : found.erase(it);
	if (search.best)
		found.push_back({key, priority, search.best});
	return search.best;
}

} // namespace

void capture_settings_of(obs_source_t *parent, CaptureSettings &capture)
{
	/* filled in place: the strings keep their storage */
	capture.kind = CaptureSettings::WHOLE_SCREEN;
	capture.screen = 0;
	capture.window = 0;
	capture.include_border = false;
	const char *id = parent ? obs_source_get_unversioned_id(parent)
				: nullptr;
	if (!id)
		return;
	if (std::strcmp(id, "monitor_capture") == 0) {
		OBSDataAutoRelease settings = obs_source_get_settings(parent);
		capture.kind = CaptureSettings::SCREEN;
		capture.screen = capture_monitor(settings);
	} else if (std::strcmp(id, "window_capture") == 0) {
		OBSDataAutoRelease settings = obs_source_get_settings(parent);
		capture.kind = CaptureSettings::WINDOW;
		const HWND window = capture_window(
			obs_data_get_string(settings, "window"),
			int(obs_data_get_int(settings, "priority")));
		/* window handles keep to 32 bits, for 32-bit programs */
		capture.window = static_cast<uint32_t>(
			reinterpret_cast<uintptr_t>(window));
		/* the whole window, frame included, unless "client_area" */
		capture.include_border =
			!obs_data_get_bool(settings, "client_area");
	}
}
