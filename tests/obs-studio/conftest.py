"""OBS Studio itself, with the plug-in installed, under an X server of its
own and driven through its obs-websocket: the fixtures of the OBS Studio
suite. scripts/test.d/50-obs-studio.sh runs it in a network namespace of its
own; TAVIMORE_OBS names the OBS Studios ("NAME=ROOT ...": root file systems,
each with its OBS and the plug-in installed), and every test that uses the
fixture obs_root runs once for each, named after it: test_x[sid].

A scenario is a module-scoped fixture that starts OBS with its inputs:
    with Session(obs_root, [image("Card", picture, zoom_filter(...))]) as s:
        yield s
and tests that use s.request, s.vendor, s.screenshot, s.x (pointer, keys).
TAVIMORE_KEEP=1 keeps each session's folder (HOME, logs) for a look.
"""
import base64
import glob
import io
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import warnings

import numpy as np
import pytest
import websocket
from PIL import Image
from Xlib import X, XK, display
from Xlib.ext import xtest

OBS_BUILDS = [entry.split("=", 1) for entry in os.environ.get("TAVIMORE_OBS", "").split()]
SCREEN = (1280, 720)
PORT = 4455
LOADED = "plugin loaded successfully (version 1.0.0)"
# the repeated quit runs only when asked for (test_quit.py)
collect_ignore = [] if os.environ.get("TAVIMORE_QUIT_RUNS") else ["test_quit.py"]
EXPECTED_LINES = (LOADED, "] plugin unloaded", "remote control through obs-websocket: tavimore", "pointer sampler st")


@pytest.fixture(scope="session", params=[root for _, root in OBS_BUILDS],
                ids=[name for name, _ in OBS_BUILDS])
def obs_root(request):
    return request.param


def pytest_terminal_summary(terminalreporter):
    """Adds the tests that passed in each OBS to the test command's tally."""
    if not os.environ.get("TAVIMORE_TALLY"):
        return
    counts = {name: 0 for name, _ in OBS_BUILDS}
    for report in terminalreporter.stats.get("passed", []):
        name = report.nodeid.partition("[")[2].split("-")[0].rstrip("]") or OBS_BUILDS[0][0]
        counts[name] += 1
    with open(os.environ["TAVIMORE_TALLY"], "a") as tally:
        for name, root in OBS_BUILDS:
            version = subprocess.run(["chroot", root, "dpkg-query", "-W", "-f=${Version}", "obs-studio"],
                                     capture_output=True, text=True).stdout
            tally.write("OBS Studio %s (%s)\t%d\n" % (version, name, counts[name]))


# ---- the scene collection's parts
def zoom_filter(name="Tavimore Zoom", **settings):
    return {"id": "tavimore_filter", "versioned_id": "tavimore_filter", "name": name,
            "settings": settings}


def source(kind, name, settings, *filters, hotkeys=None):
    """An input of the scene; hotkeys: {hotkey name: OBS key name} bindings."""
    bindings = {n: [{"key": key}] for n, key in (hotkeys or {}).items()}
    return {"id": kind, "versioned_id": kind, "name": name, "settings": settings,
            "filters": list(filters), "hotkeys": bindings}


def image(name, path, *filters, **kw):
    return source("image_source", name, {"file": path, "unload": False}, *filters, **kw)


def ramps(width, height):
    """A picture whose pixels tell where they are: red = x, green = y, each
    0 to 255 over the picture."""
    x = np.rint(np.arange(width) * 255 / (width - 1))
    y = np.rint(np.arange(height) * 255 / (height - 1))
    rgb = np.zeros((height, width, 3), np.uint8)
    rgb[..., 0], rgb[..., 1] = x[None, :], y[:, None]
    return rgb


def shown_window(shot, width, height):
    """Which part of a ramps picture of width x height a screenshot shows,
    cropped and scaled any way: (left, right, top, bottom) in the picture's
    pixels (edges, not centres), fitted by least squares to the middle row's
    red and the middle column's green, so that each is well within a pixel."""
    a = np.asarray(shot.convert("RGB"), float)

    def edges(levels, size):
        at = (np.arange(len(levels)) + 0.5) / len(levels)
        extent, first = np.polyfit(at, levels * (size - 1) / 255 + 0.5, 1)
        return first, first + extent

    return (*edges(a[a.shape[0] // 2, :, 0], width), *edges(a[:, a.shape[1] // 2, 1], height))


def settles(probe, seconds=15, times=2):
    """Calls probe until it answers (ok, seen) with ok true `times` in a row;
    returns (ok, last seen)."""
    deadline, row = time.monotonic() + seconds, 0
    while True:
        ok, seen = probe()
        row = row + 1 if ok else 0
        if row >= times or time.monotonic() > deadline:
            return row >= times, seen
        time.sleep(0.1)


# ---- OBS's clearing of its scene data, and libobs 32's race in it
NOT_CLEARED = "Not all sources were cleared when clearing scene data:"


def host_race(log, snapshot, cleared):
    """Whether the sources that OBS's clearing of its scene data (whose
    NOT_CLEARED line starts at `cleared` in `log`) left over are exactly
    what libobs 32's race in obs_canvas_enum_scenes leaves (RELIABILITY.md):
    the clearing frees the first scenes of the canvas, in the order they
    were made, until a scene whose last release let the destruction thread
    free it before the enumeration read its link; every scene after it is
    skipped, neither removed nor destroyed, and their items keep their
    sources alive, those and no others. `snapshot` is (log length, {scene:
    its items' sources}) as noted before the clearing. Returns (the last
    scene freed, the scenes skipped, the sources kept), or None."""
    version = re.search(r"^[\d:.]+: OBS (\d+)\.", log, re.M)
    if not version or int(version.group(1)) < 32:
        return None  # only libobs 32.2.2's clearing was seen to race
    noted_at, scenes = snapshot
    made = {m.group(1): m.start() for m in re.finditer(r"^[\d:.]+: source '(.*)' \(scene\) created$",
                                                       log[:noted_at], re.M)}
    if not set(scenes) <= set(made):
        return None
    order = sorted(scenes, key=made.get)
    destroyed = set(re.findall(r"^[\d:.]+: source '(.*)' destroyed$", log[noted_at:cleared], re.M))
    freed = 0
    while freed < len(order) and order[freed] in destroyed:
        freed += 1
    skipped = order[freed:]
    if not freed or not skipped or destroyed & set(skipped):
        return None
    kept, reach = set(), list(skipped)
    while reach:  # a scene shown in a skipped scene stays too, with its items
        for name in scenes.get(reach.pop(), []):
            if name in scenes:
                reach.append(name)
            else:
                kept.add(name)
    listed = set()
    for line in log[cleared:].splitlines()[1:]:
        entry = re.match(r"^[\d:.]+: (- (.*))?$", line)
        if not entry:
            break
        if entry.group(2):
            listed.add(entry.group(2))
    if listed != kept:
        return None
    return order[freed - 1], ", ".join("'%s'" % s for s in skipped), ", ".join(sorted(kept))


class RequestFailed(Exception):
    pass


class Client:
    """One obs-websocket 5 connection (no password), identified."""

    def __init__(self, subscriptions=0, timeout=10):
        self.ws = websocket.create_connection(
            "ws://127.0.0.1:%d" % PORT, timeout=timeout, subprotocols=["obswebsocket.json"])
        assert json.loads(self.ws.recv())["op"] == 0  # Hello, without a password
        self.ws.send(json.dumps({"op": 1, "d": {"rpcVersion": 1, "eventSubscriptions": subscriptions}}))
        assert json.loads(self.ws.recv())["op"] == 2
        self.next_id = 0

    def request(self, kind, data=None):
        self.next_id += 1
        body = {"requestType": kind, "requestId": str(self.next_id)}
        if data is not None:
            body["requestData"] = data
        self.ws.send(json.dumps({"op": 6, "d": body}))
        while True:
            d = json.loads(self.ws.recv())["d"]
            if d.get("requestId") == body["requestId"]:
                break
        if not d["requestStatus"]["result"]:
            raise RequestFailed("%s: %s" % (kind, d["requestStatus"]))
        return d.get("responseData", {})

    def events(self, seconds):
        """The vendor events (vendorName, eventType, eventData) received within `seconds`."""
        got, deadline = [], time.monotonic() + seconds
        while (left := deadline - time.monotonic()) > 0:
            self.ws.settimeout(left)
            try:
                message = json.loads(self.ws.recv())
            except websocket.WebSocketTimeoutException:
                break
            if message["op"] == 5 and message["d"]["eventType"] == "VendorEvent":
                got.append(message["d"]["eventData"])
        return got


class XScreen:
    """The X server's screen: a picture over every window, the pointer and the keys (XTest)."""

    def __init__(self, name):
        self.display = display.Display(name)
        self.stop = threading.Event()

    def move(self, x, y):
        xtest.fake_input(self.display, X.MotionNotify, x=x, y=y)
        self.display.sync()

    def click(self, x, y):
        """Moves the pointer there and clicks its first button."""
        self.move(x, y)
        xtest.fake_input(self.display, X.ButtonPress, 1)
        xtest.fake_input(self.display, X.ButtonRelease, 1)
        self.display.sync()

    def key(self, obs_key, down):
        """Presses or releases the key of an OBS key name (OBS_KEY_F6)."""
        code = self.display.keysym_to_keycode(XK.string_to_keysym(obs_key[len("OBS_KEY_"):]))
        xtest.fake_input(self.display, X.KeyPress if down else X.KeyRelease, code)
        self.display.sync()

    def cover(self, rgb):
        """Shows the picture in a window over the whole screen, raised
        above every window mapped later, until close()."""
        d = display.Display(self.display.get_display_name())
        screen = d.screen()
        h, w = rgb.shape[:2]
        win = screen.root.create_window(0, 0, w, h, 0, screen.root_depth, override_redirect=True)
        pixmap = win.create_pixmap(w, h, screen.root_depth)
        gc = pixmap.create_gc()
        bgrx = np.zeros((h, w, 4), np.uint8)
        bgrx[..., :3] = rgb[..., ::-1]
        for top in range(0, h, 32):  # in pieces that fit one request
            part = bgrx[top:top + 32]
            pixmap.put_image(gc, 0, top, w, len(part), X.ZPixmap, screen.root_depth, 0, part.tobytes())
        win.change_attributes(background_pixmap=pixmap)
        win.map()
        win.clear_area()
        d.sync()

        def raise_it():
            while not self.stop.wait(0.2):
                win.raise_window()
                d.sync()
            d.close()
        threading.Thread(target=raise_it, daemon=True).start()

    def close(self):
        self.stop.set()
        self.display.close()


class Session:
    """OBS Studio of the root file system `root` with a scene collection
    "Tavimore" whose scene "Scene" holds `inputs`, a private HOME, its own Xvfb.
    `scenes` ({name: [input names]}, in order) makes other scenes instead;
    `env` adds variables to OBS's environment."""

    def __init__(self, root, inputs, scenes=None, env=()):
        self.root, self.inputs, self.scenes, self.env = root, inputs, scenes, list(env)
        self.snapshots = []  # (log length, {scene: its items' sources})
        self.work = tempfile.mkdtemp(prefix="tavimore-obs-", dir=os.path.join(root, "tmp"))
        self.home = self.work + "/home"
        self.config = self.home + "/.config/obs-studio"
        self.collection = self.config + "/basic/scenes/Tavimore.json"
        self.obs = self.xvfb = self.x = None

    def __enter__(self):
        try:
            self.write_config()
            self.start()
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        if self.x:
            self.x.close()
        for process in (self.obs, self.xvfb):
            if process and process.poll() is None:
                process.send_signal(signal.SIGINT)
                try:
                    process.wait(15)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        if os.environ.get("TAVIMORE_KEEP"):
            print("kept", self.work)
        else:
            shutil.rmtree(self.work, ignore_errors=True)

    def write_config(self):
        # no first-run wizard, no questions on exit, our collection;
        # user.ini is where OBS 31 and later read most of it
        ini = ("[General]\nFirstRun=true\nEnableAutoUpdates=false\nConfirmOnExit=false\n\n"
               "[Basic]\nProfile=Untitled\nProfileDir=Untitled\nSceneCollection=Tavimore\n"
               "SceneCollectionFile=Tavimore\n\n[OBSWebSocket]\nFirstLoad=false\nServerEnabled=true\n"
               "ServerPort=%d\nAlertsEnabled=false\nAuthRequired=false\n" % PORT)
        os.makedirs(self.config + "/basic/scenes")
        os.makedirs(self.config + "/plugin_config/obs-websocket")
        for name in ("global.ini", "user.ini"):
            with open(self.config + "/" + name, "w") as f:
                f.write(ini)
        with open(self.config + "/plugin_config/obs-websocket/config.json", "w") as f:
            json.dump({"first_load": False, "server_enabled": True, "server_port": PORT,
                       "alerts_enabled": False, "auth_required": False}, f)
        scenes = self.scenes or {"Scene": [s["name"] for s in self.inputs]}
        made = []
        for name, held in scenes.items():
            items = [{"name": n, "id": i + 1, "visible": True, "locked": False,
                      "pos": {"x": 0.0, "y": 0.0}, "scale": {"x": 1.0, "y": 1.0}, "rot": 0.0, "align": 5,
                      "bounds_type": 0, "bounds": {"x": 0.0, "y": 0.0}, "bounds_align": 0}
                     for i, n in enumerate(held)]
            made.append({"id": "scene", "versioned_id": "scene", "name": name,
                         "settings": {"id_counter": len(items), "custom_size": False, "items": items}})
        first = made[0]["name"]
        with open(self.collection, "w") as f:
            json.dump({"name": "Tavimore", "current_scene": first, "current_program_scene": first,
                       "scene_order": [{"name": s["name"]} for s in made], "sources": made + self.inputs,
                       "groups": [], "transitions": [], "current_transition": "Fade",
                       "transition_duration": 300}, f, indent=1)

    def inside(self, path):
        """A path of the host as OBS in its root sees it."""
        return "/" + os.path.relpath(path, self.root)

    def start(self):
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx24" % SCREEN,
                                      "-nolisten", "tcp"], pass_fds=[write], stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            name = ":" + f.readline().strip()
        assert name != ":", "Xvfb did not start"
        self.x = XScreen(name)
        env = ["HOME=" + self.inside(self.home), "DISPLAY=" + name, "PATH=/usr/bin:/bin",
               "LANG=C.UTF-8"] + self.env
        # --multi: OBS would look for another instance machine-wide and wait
        # on a dialog; --verbose: libobs's lines of each source made and
        # destroyed, which tell its race at quit from a leftover of ours
        self.obs = subprocess.Popen(
            ["chroot", self.root, "env", "-i"] + env + ["obs", "--verbose", "--disable-updater",
                                                        "--disable-shutdown-check", "--multi",
                                                        "--collection", "Tavimore", "--scene",
                                                        next(iter(self.scenes or {"Scene": 0}))],
            stdout=open(self.work + "/obs.out", "w"), stderr=subprocess.STDOUT, cwd="/")
        deadline = time.monotonic() + 90  # start-up on a busy machine
        while True:  # until obs-websocket answers, with OBS done loading
            assert self.obs.poll() is None, "OBS stopped while starting: " + self.output()
            try:
                self.client = Client()
                self.client.request("GetCurrentProgramScene")
                self.ready = time.monotonic()
                break
            except (OSError, websocket.WebSocketException, RequestFailed):
                assert time.monotonic() < deadline, "OBS not ready after 90 s: " + self.output()
                time.sleep(0.2)

    def output(self):
        """The end of OBS's output and of its log, for a failure's message."""
        with open(self.work + "/obs.out") as out:
            return out.read()[-1500:] + "\n-- log:\n" + self.log_text()[-3000:]

    def log_text(self):
        """OBS's log of this session."""
        logs = sorted(glob.glob(self.config + "/logs/*.txt"), key=os.path.getmtime)
        with open(logs[-1] if logs else os.devnull) as f:
            return f.read()

    def module_lines(self):
        return [line for line in self.log_text().splitlines() if "[tavimore-free]" in line]

    def request(self, kind, data=None):
        if kind == "SetCurrentSceneCollection":
            self.note_scenes()  # OBS clears its scene data first
        return self.client.request(kind, data)

    def note_scenes(self):
        """Notes the scenes and what their items show, before OBS clears
        its scene data (on quit, on a switch of scene collection), for the
        clean-exit check: see host_race."""
        scenes = {}
        for scene in self.client.request("GetSceneList")["scenes"]:
            try:
                items = self.client.request("GetSceneItemList", {"sceneName": scene["sceneName"]})
            except RequestFailed:
                continue  # removed, and not yet gone from OBS's list
            scenes[scene["sceneName"]] = [i["sourceName"] for i in items["sceneItems"]]
        self.snapshots.append((len(self.log_text()), scenes))

    def vendor(self, kind, data=None):
        body = {"vendorName": "tavimore", "requestType": kind}
        if data is not None:
            body["requestData"] = data
        return self.request("CallVendorRequest", body)["responseData"]

    def screenshot(self, name):
        uri = self.request("GetSourceScreenshot", {"sourceName": name, "imageFormat": "png"})["imageData"]
        return Image.open(io.BytesIO(base64.b64decode(uri.split(",", 1)[1])))

    def shows(self, name, size, expected, tolerance=1.5):
        """Polls screenshots of input `name` (a ramps picture of `size`) until
        two in a row show the window expected, each edge within tolerance."""
        def probe():
            seen = shown_window(self.screenshot(name), *size)
            return max(abs(a - b) for a, b in zip(seen, expected)) <= tolerance, seen
        ok, seen = settles(probe)
        assert ok, "%s shows %s (left right top bottom), expected %s" % (
            name, " ".join("%.1f" % v for v in seen), expected)

    def hold(self, key, seconds, while_held=None):
        """Holds a key for `seconds` (real key events); while_held runs meanwhile."""
        self.x.key(key, True)
        end = time.monotonic() + seconds
        try:
            if while_held:
                while_held()
            time.sleep(max(0.0, end - time.monotonic()))
        finally:
            self.x.key(key, False)

    def mapped_modules(self):
        """The files of the module that the running OBS has mapped."""
        with open("/proc/%d/maps" % self.obs.pid) as f:
            return {line.split()[-1] for line in f if "tavimore-free.so" in line}

    def saved_hotkeys(self, name):
        """The hotkeys that the saved collection holds for input `name`."""
        with open(self.collection) as f:
            return next(s for s in json.load(f)["sources"] if s["name"] == name).get("hotkeys", {})

    def stop(self):
        """SIGINT, as on closing OBS's window; then every check of a clean exit."""
        # OBS 29 quit in its first seconds, while Qt still paints its new
        # window, sometimes crashes in Qt (QWidgetPrivate::paintBackground)
        # with or without the module: quit once it has been up a while
        time.sleep(max(0.0, self.ready + 3 - time.monotonic()))
        self.note_scenes()
        self.client.ws.close()
        self.obs.send_signal(signal.SIGINT)
        status = self.obs.wait(30)
        log = self.log_text()
        self.races = races = []
        for cleared in re.finditer(re.escape(NOT_CLEARED), log):
            noted = [s for s in self.snapshots if s[0] <= cleared.start()]
            race = noted and host_race(log, noted[-1], cleared.start())
            assert race, "a source outlived OBS's clearing of its scene data (scenes before it: %s): %s" % (
                noted and noted[-1][1], "\n".join(log[cleared.start():].splitlines()[:8]))
            races.append(race)
            warnings.warn("libobs's race, not ours: OBS's clearing of its scene data freed scene '%s' and "
                          "then skipped %s, which kept %s" % race)
        if races:
            # what libobs then does with what the race left: its leak count,
            # "source(s) were remaining", "Double destroy", or a crash on its
            # destruction thread once every module has been unloaded
            assert status == 0 or status == -signal.SIGSEGV and "Freeing OBS context data" in log, (
                "OBS exited with %s: %s" % (status, self.output()))
        assert races or status == 0, "OBS exited with %s: %s" % (status, self.output())
        assert any(LOADED in line for line in self.module_lines()), "no load line of the module"
        assert any("] plugin unloaded" in line for line in self.module_lines()), "no unload line"
        assert not [line for line in self.log_text().splitlines() if "tavimore_filter" in line and (
            "not found" in line.lower() or "failed" in line.lower())], "libobs did not know the filter's id"
        if not races:
            assert "Number of memory leaks: 0" in log
            for line in ("source(s) were remaining", "Double destroy"):
                assert line not in log, line
        unexpected = [line for line in self.module_lines() if not any(e in line for e in EXPECTED_LINES)]
        assert not unexpected, "lines of the module: %s" % unexpected
