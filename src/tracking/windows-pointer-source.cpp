/*
 * The mouse pointer on Windows. GetCursorPos is a cheap call that never
 * waits, so there is no sampler thread: `latest` asks for the pointer on
 * every frame, and `set_capture` looks the captured area up again (a monitor
 * or a window moves, or goes).
 *
 * Clicks and key input are read on the frame too, with no hook and no
 * thread: GetAsyncKeyState's "pressed since the last call" bit catches a
 * click that came and went between two frames, and GetLastInputInfo says
 * when the last input of any kind came; input with the pointer still and no
 * button pressed is taken as typing (which key is never asked). That bit is
 * the process's, so one poll a millisecond serves every filter.
 *
 * Threads: every call comes from the graphics thread; `lock` guards a
 * client's area and last position all the same, held only to copy a few
 * values, and the poll's lock its counts.
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

/* Clicks and key input, for every client. */
struct InputPoll {
	std::mutex lock;
	ULONGLONG polled_at = 0;
	uint32_t clicks = 0;
	POINT click = {0, 0};
	uint32_t keys = 0;
	DWORD last_input = 0;
	POINT last_cursor = {0, 0};
	bool started = false;

	/* Under `lock`: reads the input since the last poll. */
	void poll()
	{
		const ULONGLONG now = GetTickCount64();
		if (started && now == polled_at)
			return;
		polled_at = now;
		bool pressed = false;
		bool down = false;
		for (int vk : {VK_LBUTTON, VK_RBUTTON, VK_MBUTTON, VK_XBUTTON1,
			       VK_XBUTTON2}) {
			const SHORT state = GetAsyncKeyState(vk);
			pressed = pressed || (state & 1);
			down = down || (state & 0x8000);
		}
		POINT p = {0, 0};
		GetCursorPos(&p);
		LASTINPUTINFO info = {};
		info.cbSize = sizeof(info);
		GetLastInputInfo(&info);
		if (started && pressed) {
			clicks++;
			click = p;
		}
		const bool still = p.x == last_cursor.x && p.y == last_cursor.y;
		if (started && info.dwTime != last_input && still && !pressed &&
		    !down)
			keys++;
		last_input = info.dwTime;
		last_cursor = p;
		started = true;
	}
};

InputPoll &input_poll()
{
	static InputPoll poll;
	return poll;
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

	void watch_input(AutoZoom mode) override
	{
		std::lock_guard<std::mutex> guard(lock);
		watching = mode;
	}

	InputActivity activity() override
	{
		uint32_t clicks;
		POINT click;
		uint32_t keys;
		{
			InputPoll &poll = input_poll();
			std::lock_guard<std::mutex> guard(poll.lock);
			poll.poll();
			clicks = poll.clicks;
			click = poll.click;
			keys = poll.keys;
		}
		std::lock_guard<std::mutex> guard(lock);
		/* clicks from before the client's first look are not its own */
		if (watching == AutoZoom::Off || !primed) {
			primed = true;
			seen_clicks = clicks;
			seen_keys = keys;
			return mine;
		}
		/* a click beside the shown area is not the filter's */
		if (clicks != seen_clicks && area_known &&
		    rect_contains(area, click.x, click.y) &&
		    pointer_in_rect(area, click.x, click.y, mine.click_x,
				    mine.click_y))
			mine.clicks++;
		if (keys != seen_keys && watching == AutoZoom::ClicksAndTyping)
			mine.keys++;
		seen_clicks = clicks;
		seen_keys = keys;
		return mine;
	}

private:
	std::mutex lock;
	AutoZoom watching = AutoZoom::Off;
	bool primed = false;
	uint32_t seen_clicks = 0;
	uint32_t seen_keys = 0;
	InputActivity mine;
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
