"""What the end-to-end scripts share: checks that stop at the first fault,
commands that must succeed, small media and catalogues made at test time, a
local web server, and headless Chromium driven over its DevTools pipe (file
descriptors 3 and 4), so no port is opened and nothing is fetched."""
import functools
import http.server
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time


class Failed(Exception):
    pass


def check(ok, what):
    if not ok:
        raise Failed(what)


def sh(*args, **kw):
    r = subprocess.run(args, capture_output=True, text=True, **kw)
    check(r.returncode == 0, f"{args}: {r.returncode}\n{r.stdout}{r.stderr}")
    return r


def ffmpeg(exe, *args):
    sh(exe, "-nostdin", "-y", "-v", "error", *args)


def narration(exe, path, seconds):
    ffmpeg(exe, "-f", "lavfi", "-i", f"sine=frequency=500:duration={seconds}", "-c:a", "mp2",
           "-b:a", "128k", path)


def picture(exe, path, source="color=c=red:size=64x48"):
    ffmpeg(exe, "-f", "lavfi", "-i", source, "-frames:v", "1", path)


def text(name, size=50):
    return {"name": name, "type": "Text", "size": size}


def asanas(rows):
    return {"name": "Asanas", "rows": rows,
            "columns": [{"name": "AsanaID", "type": "Long"}, text("name"), text("Disp_Type", 10),
                        text("VideoName")]}


def segments(asana_id, rows):
    return {"name": f"Audio_Asana{asana_id}", "rows": rows,
            "columns": [text("Filename"), text("Action"), {"name": "StartPos", "type": "Integer"},
                        {"name": "EndPos", "type": "Integer"},
                        {"name": "Filelen", "type": "Double"}]}


def photos(asana_id, rows):
    return {"name": f"Photo_Asana{asana_id}", "rows": rows,
            "columns": [text("Mp2name"), text("ImageName")]}


def course_folders(root):
    """root/course with its video and narration folders."""
    course = os.path.join(root, "course")
    os.makedirs(os.path.join(course, "video"), exist_ok=True)
    os.makedirs(os.path.join(course, "sound", "mp2"), exist_ok=True)
    return course


def build_catalogue(strovia, root, course, tables):
    manifest = os.path.join(root, "manifest.json")
    with open(manifest, "w") as f:
        json.dump({"tables": tables}, f)
    sh(strovia, "catalogue", "build", manifest, "-o",
       os.path.join(course, "video", "AVPelmo.mdb"))


def serve(folder):
    """A local web server for `folder` on a free port: (server, base URL)."""

    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), functools.partial(Quiet, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, "http://127.0.0.1:%d" % server.server_address[1]


def passes(name, case, *args):
    """Runs `case`; says whether it passed, exits 1 when it did not."""
    try:
        case(*args)
        print(f"{name}: passed")
    except Failed as e:
        print(f"{name}: FAILED: {e}")
        sys.exit(1)


class Browser:
    """Headless Chromium over its DevTools pipe: no port, nothing fetched.
    Script errors of the page are kept in `exceptions` once Runtime is on."""

    def __init__(self, chromium, hide_scrollbars=True):
        self.profile = tempfile.mkdtemp(prefix="strovia-chromium-")
        to_r, self.to_w = os.pipe()
        self.from_r, from_w = os.pipe()

        def plumb():
            a, b = os.dup(to_r), os.dup(from_w)
            os.dup2(a, 3)
            os.dup2(b, 4)

        flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--mute-audio", "--autoplay-policy=no-user-gesture-required",
                 "--user-data-dir=" + self.profile, "--remote-debugging-pipe"]
        flags += ["--hide-scrollbars"] if hide_scrollbars else []
        flags.append("about:blank")
        self.process = subprocess.Popen([chromium] + flags, pass_fds=(3, 4), preexec_fn=plumb,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_r)
        os.close(from_w)
        self.buffered, self.next_id, self.exceptions = b"", 0, []
        pages = [t for t in self.call("Target.getTargets")["targetInfos"] if t["type"] == "page"]
        self.session = self.call("Target.attachToTarget",
                                 {"targetId": pages[0]["targetId"], "flatten": True})["sessionId"]
        self.page("Page.enable")

    def call(self, method, params=None, session=None, timeout=90):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_w, json.dumps(message).encode() + b"\0")
        deadline = time.time() + timeout
        while True:
            while b"\0" in self.buffered:
                raw, self.buffered = self.buffered.split(b"\0", 1)
                reply = json.loads(raw)
                if reply.get("method") == "Runtime.exceptionThrown":
                    self.exceptions.append(reply["params"]["exceptionDetails"].get("text"))
                if reply.get("id") == self.next_id:
                    if "error" in reply:
                        raise RuntimeError(method + ": " + json.dumps(reply["error"]))
                    return reply["result"]
            left = deadline - time.time()
            if left <= 0 or not select.select([self.from_r], [], [], left)[0]:
                raise RuntimeError(method + ": no answer from the browser")
            chunk = os.read(self.from_r, 65536)
            if not chunk:
                raise RuntimeError(method + ": the browser went away")
            self.buffered += chunk

    def page(self, method, params=None, timeout=90):
        return self.call(method, params, self.session, timeout)

    def js(self, expression):
        r = self.page("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                           "returnByValue": True})
        if "exceptionDetails" in r:
            raise RuntimeError(expression[:60] + ": " + json.dumps(r["exceptionDetails"]))
        return r["result"].get("value")

    def open(self, url, size=None):
        if size:
            w, h = size
            self.page("Emulation.setDeviceMetricsOverride",
                      {"width": w, "height": h, "deviceScaleFactor": 1, "mobile": w < 600})
        self.page("Page.navigate", {"url": url})
        # The page builds its lists on load; wait until they are there.
        for _ in range(100):
            if self.js("document.readyState === 'complete' && !!document.getElementById('player')"
                       " && document.querySelectorAll('#postures button').length > 0"):
                return
            time.sleep(0.1)
        raise RuntimeError(url + ": the page did not load")

    def key(self, name, shift=False):
        codes = {"Tab": 9, "Enter": 13, " ": 32}
        base = {"key": name, "code": "Space" if name == " " else name,
                "windowsVirtualKeyCode": codes[name], "modifiers": 8 if shift else 0}
        text = {"Enter": "\r", " ": " "}.get(name)
        self.page("Input.dispatchKeyEvent", {**base, "type": "keyDown",
                                             **({"text": text} if text else {})})
        self.page("Input.dispatchKeyEvent", {**base, "type": "keyUp"})

    def close(self):
        self.process.kill()
        self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)
