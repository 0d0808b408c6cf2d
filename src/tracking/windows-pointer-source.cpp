/*
 * The mouse pointer on Windows. GetCursorPos is a cheap call that never
 * waits, so there is no sampler thread: `latest` asks for the pointer on
 * every frame, and `set_capture` looks the captured area up again (a monitor
 * or a window moves, or goes).
 *
 * Threads: both calls come from the graphics thread; `lock` guards a
 * client's area and last position all the same, held only to copy a few
 * values.
 */
#include "tracking/pointer-source.hpp"
#include "core/zoom-core.hpp"

#include <windows.h>

#include <mutex>
#include <vector>

namespace {

/* The whole desktop: every monitor, in the pointer's coordinates. */
CaptureRect virtual_screen()
{
	return {double(GetSystemMetrics(SM_XVIRTUALSCREEN)),
		double(GetSystemMetrics(SM_YVIRTUALSCREEN)),
		double(GetSystemMetrics(SM_CXVIRTUALSCREEN)),
		double(GetSystemMetrics(SM_CYVIRTUALSCREEN))};
}

CaptureRect rect_of(const RECT &r)
{
	return {double(r.left), double(r.top), double(r.right - r.left),
		double(r.bottom - r.top)};
}

struct MonitorWalk {
	int64_t wanted;
	int64_t index = 0;
	bool found = false;
	RECT rect = {};
};

BOOL CALLBACK find_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM param)
{
	auto *walk = reinterpret_cast<MonitorWalk *>(param);
	if (walk->index++ != walk->wanted)
		return TRUE;
	MONITORINFO info = {};
	info.cbSize = sizeof(info);
	walk->found = GetMonitorInfoW(monitor, &info) != FALSE;
	walk->rect = info.rcMonitor;
	return FALSE;
}

/* The display capture's area: its monitor's rectangle. */
bool monitor_area(int64_t index, CaptureRect &area)
{
	MonitorWalk walk{index};
	EnumDisplayMonitors(nullptr, nullptr, find_monitor,
			    reinterpret_cast<LPARAM>(&walk));
	if (!walk.found)
		return false;
	area = rect_of(walk.rect);
	return true;
}

/* The window capture's area: the window's client area on the screen, or
 * the whole window with its frame. */
bool window_area(uint32_t handle, bool whole_window, CaptureRect &area)
{
	/* a 32-bit handle widens with its sign */
	const HWND window = reinterpret_cast<HWND>(
		static_cast<intptr_t>(static_cast<int32_t>(handle)));
	if (!IsWindow(window))
		return false;
	RECT r;
	if (whole_window) {
		if (!GetWindowRect(window, &r))
			return false;
	} else {
		POINT corner = {0, 0};
		if (!GetClientRect(window, &r) ||
		    !ClientToScreen(window, &corner))
			return false;
		OffsetRect(&r, corner.x, corner.y);
	}
	area = rect_of(r);
	return true;
}

class WindowsClient final : public PointerClient {
public:
	void set_capture(const CaptureSettings &next) override
	{
		CaptureRect found = virtual_screen();
		bool known = true;
		bool window = false;
		if (next.kind == CaptureSettings::Kind::Screen) {
			CaptureRect monitor;
			if (monitor_area(next.screen, monitor) &&
			    monitor.width > 0 && monitor.height > 0)
				found = monitor;
		} else if (next.kind == CaptureSettings::Kind::Window) {
			CaptureRect r;
			window = next.window &&
				 window_area(next.window, next.include_border,
					     r) &&
				 r.width > 0 && r.height > 0;
			if (window)
				found = r;
		}

		std::lock_guard<std::mutex> guard(lock);
		if (next.kind != CaptureSettings::Kind::Window)
			window_seen = false;
		/* a window that has gone (closed, or minimised to nothing)
		 * holds the last position */
		if (next.kind == CaptureSettings::Kind::Window && !window &&
		    window_seen)
			known = false;
		window_seen = window_seen || window;
		area = found;
		area_known = known;
	}

	bool latest(double &x, double &y) override
	{
		POINT p;
		const bool read = GetCursorPos(&p) != FALSE;
		std::lock_guard<std::mutex> guard(lock);
		if (read && area_known &&
		    pointer_in_rect(area, p.x, p.y, last_x, last_y))
			position_known = true;
		if (!position_known)
			return false;
		x = last_x;
		y = last_y;
		return true;
	}

private:
	std::mutex lock;
	/* the whole desktop until the first set_capture */
	CaptureRect area = virtual_screen();
	bool area_known = true;
	bool window_seen = false;
	bool position_known = false;
	double last_x = 0.5;
	double last_y = 0.5;
};

} // namespace

std::unique_ptr<PointerClient> open_pointer_client()
{
	return std::make_unique<WindowsClient>();
}

/* No thread to stop: the pointer is read on the frame that needs it. */
void stop_pointer_sampler() {}
