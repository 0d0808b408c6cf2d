/*
 * Centre tracking with Windows's pointer, in OBS's Windows libobs. Under
 * Wine, SetCursorPos moves the X pointer and GetCursorPos reads it back.
 * The parents: a plain source (the whole desktop), and OBS's own display and
 * window captures (its win-capture plug-in), set up with the strings their
 * own property lists offer. libobs runs with video, as OBS's captures need
 * (on Direct3D 11 its display capture is the one that names monitors by id).
 */
#include <windows.h>

#include "alloc-counter.hpp"
#include "render-checks.hpp"
#include "core/zoom-core.hpp"

#include "tracking/capture-settings.hpp"
#include "auto-zoom-steps.hpp"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

bool load_win_capture()
{
	static const bool loaded = [] {
		obs_module_t *m = nullptr;
		return obs_open_module(&m,
				       TAVIMORE_WINDOWS_HOST
				       "/obs-plugins/64bit/win-capture.dll",
				       TAVIMORE_WINDOWS_HOST
				       "/data/obs-plugins/win-capture") ==
			       MODULE_SUCCESS &&
		       obs_init_module(m);
	}();
	return loaded;
}

/* A program started for its windows, ended with the test. */
struct Program {
	PROCESS_INFORMATION process = {};

	explicit Program(std::wstring command)
	{
		STARTUPINFOW startup = {};
		startup.cb = sizeof(startup);
		if (CreateProcessW(nullptr, &command[0], nullptr, nullptr,
				   FALSE, 0, nullptr, nullptr, &startup,
				   &process))
			WaitForInputIdle(process.hProcess, 10000);
	}
	~Program()
	{
		if (!process.hProcess)
			return;
		TerminateProcess(process.hProcess, 0);
		WaitForSingleObject(process.hProcess, 10000);
		CloseHandle(process.hThread);
		CloseHandle(process.hProcess);
	}
	/* Its window of that class under `parent` (none: a top-level one),
	 * waited for a while. */
	HWND window(const wchar_t *window_class, HWND parent = nullptr) const
	{
		for (int i = 0; i < 400 && process.hProcess; i++, Sleep(25))
			for (HWND w = nullptr;
			     (w = FindWindowExW(parent, w, window_class,
						nullptr));) {
				DWORD pid = 0;
				GetWindowThreadProcessId(w, &pid);
				if (pid == process.dwProcessId)
					return w;
			}
		return nullptr;
	}
};

/* A window of another program (OBS lists no window of its own process):
 * Wine's Notepad, titled and placed on the desktop. */
struct TestWindow {
	Program notepad{L"notepad.exe"};
	HWND hwnd = notepad.window(L"Notepad");

	TestWindow(const wchar_t *title, int x, int y, int w, int h)
	{
		for (int i = 0; i < 400 && hwnd && !IsWindowVisible(hwnd); i++)
			Sleep(25);
		if (!hwnd)
			return;
		SetWindowTextW(hwnd, title);
		SetWindowPos(hwnd, nullptr, x, y, w, h,
			     SWP_NOZORDER | SWP_NOACTIVATE);
	}
	RECT client() const
	{
		RECT r;
		GetClientRect(hwnd, &r);
		POINT corner = {0, 0};
		ClientToScreen(hwnd, &corner);
		OffsetRect(&r, corner.x, corner.y);
		return r;
	}
	RECT whole() const
	{
		RECT r;
		GetWindowRect(hwnd, &r);
		return r;
	}
};

RECT desktop()
{
	const int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
	const int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
	return {x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN),
		y + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

CaptureRect area_of(const RECT &r)
{
	return {double(r.left), double(r.top), double(r.right - r.left),
		double(r.bottom - r.top)};
}

/* Where the pixel at x, y lies in r, as the filter must see it: its
 * centre, clamped to r. */
void expected(const RECT &r, int x, int y, double &fx, double &fy)
{
	ASSERT_TRUE(pointer_in_rect(area_of(r), x, y, fx, fy));
}

/* The value of the list item of a property whose name holds `part`. */
std::string list_value(obs_source_t *source, const char *property,
		       const char *part)
{
	obs_properties_t *props = obs_source_properties(source);
	obs_property_t *list = obs_properties_get(props, property);
	std::string found;
	const size_t n = list ? obs_property_list_item_count(list) : 0;
	for (size_t i = 0; i < n && found.empty(); i++) {
		const char *name = obs_property_list_item_name(list, i);
		const char *value = obs_property_list_item_string(list, i);
		if (name && value &&
		    std::string(name).find(part) != std::string::npos)
			found = value;
	}
	obs_properties_destroy(props);
	return found;
}

/* A parent with a tracking idle view (zoom 2, no smoothing, no dead
 * zone), following what the setting says: a capture's view follows the
 * pointer by itself ("auto"), a plain source's is told to. */
struct Tracked {
	obs_source_t *parent;
	obs_source_t *filter;

	explicit Tracked(obs_source_t *source, const char *subject = "auto")
		: parent(source)
	{
		OBSDataAutoRelease settings = obs_data_create_from_json(
			R"({"idle_zoom_factor": 2.0, "idle_center_tracking": true,
			    "tracking_subject": "pointer",
			    "tracking_smoothing": 0.0, "tracking_dead_zone": 0.0})");
		obs_data_set_string(settings, "tracking_subject", subject);
		filter = create_zoom_filter("tracking zoom", settings);
		obs_source_filter_add(parent, filter);
		wait_frames(2);
	}
	~Tracked()
	{
		remove_and_release(parent, filter);
		wait_destroyed();
	}
	/* Frames enough for the filter to look at the capture's area again. */
	static void next_area() { wait_frames(int(CAPTURE_CHECK_FRAMES) + 2); }
	/* The pointer as the filter sees it after a move. */
	bool sees(int x, int y, double &fx, double &fy) const
	{
		SetCursorPos(x, y);
		next_area();
		const ZoomSnapshot f = snapshot_of(filter);
		fx = f.pointer_x;
		fy = f.pointer_y;
		return f.pointer_seen;
	}
	/* After a move to x, y: the pointer seen on its pixel in r. */
	void expect_sees(const RECT &r, int x, int y) const
	{
		double fx, fy, want_x, want_y;
		ASSERT_TRUE(sees(x, y, fx, fy));
		expected(r, x, y, want_x, want_y);
		EXPECT_DOUBLE_EQ(fx, want_x) << x;
		EXPECT_DOUBLE_EQ(fy, want_y) << y;
	}
};

obs_source_t *capture(const char *id, const char *json)
{
	OBSDataAutoRelease settings = obs_data_create_from_json(json);
	return obs_source_create(id, "capture", settings, nullptr);
}

/* A window capture of the window its setting names, found by `priority`. */
obs_source_t *window_capture(const std::string &window, int priority,
			     bool client_area = true)
{
	OBSDataAutoRelease s = obs_data_create();
	obs_data_set_string(s, "window", window.c_str());
	obs_data_set_int(s, "priority", priority);
	obs_data_set_bool(s, "client_area", client_area);
	return obs_source_create("window_capture", "window", s, nullptr);
}

/* The "window" setting OBS's own list gives the window titled `title`. */
std::string window_setting(const char *title)
{
	OBSSourceAutoRelease lister =
		capture("window_capture", R"({"window": ""})");
	return list_value(lister, "window", title);
}

/* Windows of another process, each of a class and styles of its own: this
 * program, started with --window-helper (and a frame's handle: the UWP
 * app's window, made in the frame by a third process). */
const struct {
	const wchar_t *window_class, *title;
	DWORD style, ex_style;
	int show;
} helper_windows[] = {
	{L"Notepad", L"Tavimore helper", 0, 0, SW_SHOWNOACTIVATE},
	{L"TavimoreTool", L"Tavimore tool", 0, WS_EX_TOOLWINDOW,
	 SW_SHOWNOACTIVATE},
	{L"TavimoreHidden", L"Tavimore hidden", 0, 0, SW_HIDE},
	{L"TavimoreMinimised", L"Tavimore minimised", 0, 0, SW_SHOWMINNOACTIVE},
	{L"Chrome_WidgetWin_1", L"Tavimore browser", 0, 0, SW_SHOWNOACTIVATE},
	{L"Windows.UI.Core.CoreWindow", L"Tavimore store", 0, 0,
	 SW_SHOWNOACTIVATE},
	/* a child of the desktop, listed among the top-level windows */
	{L"TavimoreChild", L"Tavimore child", WS_CHILD, 0, SW_SHOWNOACTIVATE},
	{L"TavimoreUmlaut", L"Tavimore \u00c4rger", 0, 0, SW_SHOWNOACTIVATE},
	{L"ApplicationFrameWindow", L"Tavimore frame", 0, 0, SW_SHOWNOACTIVATE},
	{L"TavimoreApp", L"Tavimore app", WS_CHILD, 0, SW_SHOWNOACTIVATE},
};
enum {
	HELPER,
	TOOL,
	HIDDEN,
	MINIMISED,
	BROWSER,
	STORE,
	CHILD,
	UMLAUT,
	FRAME,
	APP
};

int window_helper(const char *frame)
{
	const HINSTANCE self = GetModuleHandleW(nullptr);
	const HWND parent =
		frame ? reinterpret_cast<HWND>(static_cast<intptr_t>(
				std::strtoll(frame, nullptr, 10)))
		      : GetDesktopWindow();
	for (int i = frame ? APP : 0; i < (frame ? APP + 1 : APP); i++) {
		const auto &w = helper_windows[i];
		WNDCLASSW window_class = {};
		window_class.lpfnWndProc = DefWindowProcW;
		window_class.hInstance = self;
		window_class.lpszClassName = w.window_class;
		RegisterClassW(&window_class);
		ShowWindow(CreateWindowExW(w.ex_style, w.window_class, w.title,
					   w.style ? w.style
						   : WS_OVERLAPPEDWINDOW,
					   40 + 30 * i, 40 + 20 * i, 240, 160,
					   w.style ? parent : nullptr, nullptr,
					   self, nullptr),
			   w.show);
	}
	MSG message;
	while (GetMessageW(&message, nullptr, 0, 0) > 0)
		DispatchMessageW(&message);
	return 0;
}

std::atomic<int> text_asked{0};

LRESULT CALLBACK count_text_asked(HWND window, UINT message, WPARAM w, LPARAM l)
{
	text_asked += message == WM_GETTEXT;
	return DefWindowProcW(window, message, w, l);
}

} // namespace

TEST(WindowsTracking, APlainSourceMapsTheWholeDesktop)
{
	Tracked t(create_pattern_source("plain parent"), "pointer");
	const RECT d = desktop();
	const int w = d.right - d.left;
	const int h = d.bottom - d.top;
	ASSERT_GT(w, 0);
	const struct {
		int x, y;
		double want_x,
			want_y; /* negative: the pointer's own fraction */
	} cases[] = {
		{w / 2, h / 2, -1, -1},
		{w / 3, 2 * h / 3, -1, -1},
		{0, 0, 0.25, 0.25},
		{w - 1, h / 3, 0.75, -1},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
		double fx, fy, want_x, want_y;
		ASSERT_TRUE(t.sees(d.left + c.x, d.top + c.y, fx, fy));
		expected(d, d.left + c.x, d.top + c.y, want_x, want_y);
		EXPECT_DOUBLE_EQ(fx, want_x);
		EXPECT_DOUBLE_EQ(fy, want_y);
		/* the frame shows the window around the pointer, inside
		 * the picture */
		EXPECT_TRUE(
			shows_window(read_frame(t.parent, 256, 256),
				     crop_of(2.0, c.want_x < 0 ? fx : c.want_x,
					     c.want_y < 0 ? fy : c.want_y)));
	}
}

TEST(WindowsTracking, TheWindowCaptureMapsItsWindowFoundFromItsSetting)
{
	ASSERT_TRUE(load_win_capture());
	/* ':' and '#' are written escaped in the setting */
	TestWindow window(L"Tavimore: zoom #1", 200, 120, 420, 300);
	ASSERT_NE(window.hwnd, nullptr);
	const std::string setting = window_setting("Tavimore: zoom #1");
	ASSERT_FALSE(setting.empty());
	EXPECT_NE(setting.find("#3A"), std::string::npos) << setting;

	const struct {
		bool client_area;
		int priority;
		std::string window;
	} cases[] = {
		{true, 2, setting},
		{false, 2, setting},
		/* by title, whatever the rest says */
		{true, 1, "Tavimore#3A zoom #221:Other:other.exe"},
		/* by class, the title changed */
		{true, 0, "Renamed:Notepad:other.exe"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.window + (c.client_area ? " client" : " whole"));
		obs_source_t *source =
			window_capture(c.window, c.priority, c.client_area);
		CaptureSettings found;
		capture_settings_of(source, found);
		EXPECT_EQ(found.kind, CaptureSettings::Kind::Window);
		EXPECT_EQ(found.window,
			  uint32_t(reinterpret_cast<uintptr_t>(window.hwnd)));
		Tracked t(source);
		const RECT r = c.client_area ? window.client() : window.whole();
		for (const POINT p : {POINT{r.left + 10, r.top + 20},
				      POINT{r.right - 1, r.bottom - 1},
				      POINT{r.left - 50, r.top - 50}})
			t.expect_sees(r, p.x, p.y);
	}
}

TEST(WindowsTracking, AWindowThatClosesHoldsTheLastPosition)
{
	ASSERT_TRUE(load_win_capture());
	auto window = std::make_unique<TestWindow>(L"Tavimore closing", 300,
						   200, 300, 200);
	const RECT r = window->client();
	Tracked t(capture("window_capture",
			  R"({"window": "Tavimore closing:Notepad:notepad.exe",
			      "priority": 1, "client_area": true})"));
	double fx, fy, want_x, want_y;
	ASSERT_TRUE(t.sees(r.left + 30, r.top + 40, fx, fy));
	expected(r, r.left + 30, r.top + 40, want_x, want_y);
	EXPECT_DOUBLE_EQ(fx, want_x);
	window.reset();
	/* the next look at the area, with the pointer where it was */
	Tracked::next_area();
	double hx, hy;
	ASSERT_TRUE(t.sees(r.left + 200, r.top + 10, hx, hy));
	EXPECT_EQ(hx, fx);
	EXPECT_EQ(hy, fy);
}

TEST(WindowsTracking, TheDisplayCaptureMapsItsMonitorByIdOrIndex)
{
	ASSERT_TRUE(load_win_capture());
	/* on OpenGL OBS's older display capture, which stores an index */
	OBSSourceAutoRelease lister = capture("monitor_capture", "{}");
	const std::string id = list_value(lister, "monitor_id", "");
	EXPECT_EQ(id.empty(), std::string(graphics_module()) != "libobs-d3d11");

	const HMONITOR primary =
		MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY);
	MONITORINFO info = {};
	info.cbSize = sizeof(info);
	ASSERT_TRUE(GetMonitorInfoW(primary, &info));
	const RECT m = info.rcMonitor;

	struct Case {
		std::string id; /* none: the index */
		int64_t screen;
	};
	/* an index, as settings from before monitor ids hold; a monitor
	 * that is not there */
	std::vector<Case> cases = {{"", 0}, {"\\\\?\\DISPLAY#None#0", -1}};
	if (!id.empty())
		cases.push_back({id, 0});
	for (const auto &c : cases) {
		SCOPED_TRACE(c.id);
		OBSDataAutoRelease settings = obs_data_create();
		if (c.id.empty())
			obs_data_set_int(settings, "monitor", 0);
		else
			obs_data_set_string(settings, "monitor_id",
					    c.id.c_str());
		obs_source_t *source = obs_source_create(
			"monitor_capture", "display", settings, nullptr);
		CaptureSettings found;
		capture_settings_of(source, found);
		EXPECT_EQ(found.kind, CaptureSettings::Kind::Screen);
		EXPECT_EQ(found.screen, c.screen);
		Tracked t(source);
		t.expect_sees(c.screen < 0 ? desktop() : m,
			      m.left + (m.right - m.left) / 3,
			      m.top + (m.bottom - m.top) / 4);
	}
}

/* The window capture's window, found as OBS's window capture finds it,
 * asking nothing of a window of this process (OBS's own): its UI thread may
 * be busy, or waiting for the very lock a frame holds. */
TEST(WindowsTracking, AWindowIsFoundAsOBSsWindowCaptureFindsIt)
{
	ASSERT_TRUE(load_win_capture());
	TestWindow pad(L"Tavimore pad", 700, 80, 300, 200);
	ASSERT_NE(pad.hwnd, nullptr);
	wchar_t self[MAX_PATH];
	GetModuleFileNameW(nullptr, self, MAX_PATH);
	const std::wstring helper_command =
		L"\"" + std::wstring(self) + L"\" --window-helper";
	Program helper(helper_command);
	HWND w[APP + 1];
	for (int i = 0; i < APP; i++)
		ASSERT_NE(w[i] = helper.window(helper_windows[i].window_class),
			  nullptr);
	Program app(helper_command + L" " +
		    std::to_wstring(intptr_t(w[FRAME])));
	ASSERT_NE(w[APP] = app.window(L"TavimoreApp", w[FRAME]), nullptr);

	const std::string exe = ":windows-tracking-tests.exe";
	const struct {
		std::string setting;
		int priority; /* 0 class, 1 title, 2 executable */
		HWND want;
	} cases[] = {
		/* this process's windows are no candidates */
		{"Tavimore own:TavimoreOwn" + exe, 1, nullptr},
		{"x:TavimoreOwn" + exe, 0, nullptr},
		/* nor hidden, tool or child windows; minimised ones are */
		{"Tavimore hidden:TavimoreHidden:x.exe", 1, nullptr},
		{"Tavimore tool:TavimoreTool:x.exe", 1, nullptr},
		{"Tavimore child:TavimoreChild:x.exe", 1, nullptr},
		{"Tavimore minimised:x:x.exe", 1, w[MINIMISED]},
		/* ASCII letters compare in either case, others exactly */
		{"tAVIMORE hELPER:x:x.exe", 1, w[HELPER]},
		{"TAVIMORE \xc3\x84rger:x:x.exe", 1, w[UMLAUT]},
		{"tavimore \xc3\xa4rger:x:x.exe", 1, nullptr},
		{"Tavimore pad:x:NOTEPAD.EXE", 2, pad.hwnd},
		/* by class: then the executable, then the title decides */
		{"Tavimore pad:Notepad" + exe, 0, w[HELPER]},
		{"Tavimore pad:notepad:other.exe", 0, pad.hwnd},
		/* by executable: then the title; by title: only that */
		{"Tavimore browser:x" + exe, 2, w[BROWSER]},
		{"Tavimore pad:x:x.exe", 1, pad.hwnd},
		/* classes many programs share, and UWP apps', go by title */
		{"Tavimore pad:Chrome_WidgetWin_1:x.exe", 0, pad.hwnd},
		{"Tavimore pad:Windows.UI.Core.CoreWindow:x.exe", 0, pad.hwnd},
		{"Tavimore pad:Windows.UI.Core.CoreWindow:x.exe", 2, nullptr},
		{"Tavimore helper:Windows.UI.Core.CoreWindow:notepad.exe", 2,
		 nullptr},
		/* a UWP frame stands for the app's window in it */
		{"Tavimore app:TavimoreApp:x.exe", 1, w[APP]},
		{"Tavimore frame:ApplicationFrameWindow" + exe, 1, nullptr},
		/* fewer parts, or another priority: no window */
		{"Tavimore pad:Notepad", 2, nullptr},
		{"Tavimore pad:Notepad:notepad.exe", 3, nullptr},
	};

	/* this process's window, whose thread reads no message for five
	 * seconds once shown, as OBS's busy UI thread */
	const HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
	std::atomic<bool> shown{false};
	std::thread busy([&] {
		WNDCLASSW window_class = {};
		window_class.lpfnWndProc = count_text_asked;
		window_class.hInstance = GetModuleHandleW(nullptr);
		window_class.lpszClassName = L"TavimoreOwn";
		RegisterClassW(&window_class);
		const HWND own = CreateWindowExW(
			0, L"TavimoreOwn", L"Tavimore own", WS_OVERLAPPEDWINDOW,
			500, 300, 240, 160, nullptr, nullptr,
			window_class.hInstance, nullptr);
		ShowWindow(own, SW_SHOWNOACTIVATE);
		text_asked = 0;
		shown = true;
		WaitForSingleObject(done, 5000);
		MSG message;
		while (MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE,
						 QS_ALLINPUT) != WAIT_OBJECT_0)
			while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
				DispatchMessageW(&message);
		DestroyWindow(own);
	});
	while (!shown)
		Sleep(5);
	for (const auto &c : cases) {
		SCOPED_TRACE(c.setting + " by " + std::to_string(c.priority));
		OBSSourceAutoRelease source =
			window_capture(c.setting, c.priority);
		CaptureSettings found;
		const ULONGLONG start = GetTickCount64();
		capture_settings_of(source, found);
		EXPECT_LT(GetTickCount64() - start, 1000u);
		EXPECT_EQ(found.window, uint32_t(uintptr_t(c.want)));
	}
	SetEvent(done);
	busy.join();
	CloseHandle(done);
	EXPECT_EQ(text_asked, 0);
}

/* The check every CAPTURE_CHECK_FRAMES frames allocates nothing, whether
 * it finds its window or looks for a monitor or window not there. */
TEST(WindowsTracking, TheCaptureCheckAllocatesNothing)
{
	ASSERT_TRUE(load_win_capture());
	TestWindow pad(L"Tavimore counted window", 700, 80, 300, 200);
	ASSERT_NE(pad.hwnd, nullptr);
	const struct {
		const char *source, *key, *value;
		bool found;
	} cases[] = {
		{"monitor_capture", "monitor_id", "\\\\?\\DISPLAY#None#0",
		 false},
		{"window_capture", "window",
		 "Tavimore counted window:Notepad:notepad.exe", true},
		{"window_capture", "window",
		 "Tavimore gone:TavimoreGone:gone.exe", false},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.value);
		OBSDataAutoRelease settings = obs_data_create();
		obs_data_set_string(settings, c.key, c.value);
		OBSSourceAutoRelease source = obs_source_create(
			c.source, "counted", settings, nullptr);
		CaptureSettings found;
		capture_settings_of(source, found);
		EXPECT_EQ(found.screen >= 0 && found.window != 0, c.found);
		const AllocationCount count = count_allocations([&] {
			for (int i = 0; i < 10; i++)
				capture_settings_of(source, found);
		});
		EXPECT_EQ(count.allocations, 0);
	}
}

/* The automatic zoom's table, with clicks and keys injected as a user's
 * (SendInput), on a window capture: "beside" is beside the window. */
TEST(WindowsTracking, ClicksAndTypingDriveTheAutomaticZoom)
{
	ASSERT_TRUE(load_win_capture());
	TestWindow window(L"Tavimore clicks", 260, 140, 480, 360);
	ASSERT_NE(window.hwnd, nullptr);
	OBSSourceAutoRelease source =
		window_capture(window_setting("Tavimore clicks"), 2);
	const CaptureRect area = area_of(window.client());
	play_auto_zoom(source, area, [](Act act, int x, int y) {
		if (act == Act::Click || act == Act::Move)
			SetCursorPos(x, y);
		INPUT in[2] = {};
		in[0].type = in[1].type = act == Act::Key ? INPUT_KEYBOARD
							  : INPUT_MOUSE;
		in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
		in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
		if (act == Act::Key) {
			in[0].ki = {VK_SHIFT, 0, 0, 0, 0};
			in[1].ki = {VK_SHIFT, 0, KEYEVENTF_KEYUP, 0, 0};
		}
		if (act == Act::Click || act == Act::Key)
			SendInput(2, in, sizeof(INPUT));
	});
}

int main(int argc, char **argv)
{
	if (argc > 1 && std::strcmp(argv[1], "--window-helper") == 0)
		return window_helper(argc > 2 ? argv[2] : nullptr);
	::testing::InitGoogleTest(&argc, argv);
	HostOptions options;
	options.video = true;
	if (!start_host(options))
		return 1;
	const int result = RUN_ALL_TESTS();
	/* Not checked here: under Wine OBS's win-capture leaves allocations
	 * of its own behind (a window capture with no filter at all leaves
	 * the same number; its 32-bit helper cannot run). Every other suite
	 * checks that nothing is left. */
	const long alive = stop_host();
	std::fprintf(stderr, "libobs reports %ld allocations alive\n", alive);
	return result;
}
