#!/usr/bin/env python3
"""The exported course page in headless Chromium, as a learner meets it.

usage: export_browser.py CHROMIUM FOLDER file|http
    Plays an exported folder (with "http" served on a local port for the
    run) and prints one JSON object: what the page did when its chapter
    button was pressed and when the first posture played to its end under
    "Play all" (its rest skipped).
usage: export_browser.py page STROVIA FFMPEG CHROMIUM
    Makes a course with hostile names, titled and untitled segments and a
    posture that cannot be exported, exports it and checks the page: at
    1920x1080, 1280x720 and 390x844 the video, its controls, "Play all" and
    the current chapter lie inside the screen; names and marks; every button
    reached and pressed from the keyboard; the rest between postures. Exit 0
    passes, 1 fails with the reason; prints what it measured.

Chromium is driven over its DevTools pipe (file descriptors 3 and 4), so
no port is opened and nothing is fetched from the network.
"""
import functools
import http.server
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time

PLAY = r"""
(async () => {
  const v = document.getElementById("player");
  const until = (what, ms) => new Promise(done => {
    const t = setTimeout(() => done(false), ms);
    v.addEventListener(what, () => { clearTimeout(t); done(true); }, {once: true});
  });
  const out = {};
  v.muted = true;
  document.getElementById("play-all").click();
  out.first = document.getElementById("title").textContent;
  if (v.readyState < 1 && !(await until("loadedmetadata", 20000))) {
    out.error = "no metadata: " + (v.error ? v.error.code : "none");
    return out;
  }
  out.duration = v.duration;
  const track = v.querySelector("track");
  if (track) {
    if (track.readyState !== 2) await new Promise(r => { track.onload = r; track.onerror = r; });
    out.trackCues = track.track.cues ? track.track.cues.length : -1;
  }
  const chapters = [...document.querySelectorAll("#chapters button")];
  out.chapters = chapters.map(b => [b.textContent, Number(b.dataset.start)]);
  const last = chapters[chapters.length - 1];
  const seeked = until("seeked", 20000);
  last.click();
  out.seeked = await seeked;
  out.afterSeek = v.currentTime;
  out.ended = await until("ended", 60000);
  out.mediaError = v.error ? v.error.code : 0;
  await new Promise(r => setTimeout(r, 300));
  out.resting = !document.getElementById("rest").hidden;
  document.getElementById("rest-skip").click();
  await new Promise(r => setTimeout(r, 300));
  out.next = document.getElementById("title").textContent;
  out.nextSrc = decodeURIComponent(v.currentSrc.split("/").pop());
  return out;
})()
"""

# Where the parts a learner needs lie on the screen.
LAYOUT = r"""
(async () => {
  const v = document.getElementById("player");
  if (v.readyState < 1)
    await new Promise(r => { v.addEventListener("loadedmetadata", r, {once: true});
                             setTimeout(r, 20000); });
  const box = e => { if (!e) return null; const r = e.getBoundingClientRect();
                     return [Math.round(r.left), Math.round(r.top), Math.round(r.right),
                             Math.round(r.bottom)]; };
  const current = document.querySelector("#chapters button[aria-current]") ||
                  document.querySelector("#chapters button");
  return {screen: [innerWidth, innerHeight], video: box(document.getElementById("player")),
          playAll: box(document.getElementById("play-all")), chapter: box(current),
          posture: box(document.querySelector("#postures button[aria-current]"))};
})()
"""


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


def play(chromium, folder, how):
    server = None
    if how == "http":
        class Quiet(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass
        handler = functools.partial(Quiet, directory=folder)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        url = "http://127.0.0.1:%d/index.html" % server.server_address[1]
    else:
        url = "file://" + folder + "/index.html"
    browser = Browser(chromium)
    try:
        browser.open(url)
        print(json.dumps(browser.js(PLAY)))
    finally:
        browser.close()
        if server:
            server.shutdown()


class Failed(Exception):
    pass


def check(ok, what):
    if not ok:
        raise Failed(what)


def sh(*args):
    r = subprocess.run(args, capture_output=True, text=True)
    check(r.returncode == 0, f"{args}: {r.returncode}\n{r.stdout}{r.stderr}")


# Segment titles: a readable Action, and ones that are not titles.
ACTIONS = ["Stand tall <b>", "x", "Line\nbreak -->"]
TITLES = ["Stand tall <b>", "Step 2", "Line break -->"]
HOSTILE = ["<!--<script>", "a</script><b>x", "Line\nbreak", "Amp &amp; \"q\" 'q' a->b"]


def make_course(root, strovia, ffmpeg):
    """Count: a video of three titled segments; the hostile names: photo
    postures of one picture; Broken: a narration that is missing."""
    course = os.path.join(root, "course")
    os.makedirs(os.path.join(course, "video"))
    os.makedirs(os.path.join(course, "sound", "mp2"))
    ff = [ffmpeg, "-nostdin", "-y", "-v", "error"]
    sh(*ff, "-f", "lavfi", "-i", "testsrc=size=352x288:rate=25", "-frames:v", "75",
       "-c:v", "mpeg1video", "-f", "mpeg", os.path.join(course, "video", "count.mpg"))
    sh(*ff, "-f", "lavfi", "-i", "color=c=red:size=64x48", "-frames:v", "1",
       os.path.join(course, "video", "pic.png"))
    sh(*ff, "-f", "lavfi", "-i", "sine=frequency=500:duration=0.5", "-c:a", "mp2", "-b:a", "128k",
       os.path.join(course, "sound", "mp2", "n.mp2"))
    text = lambda name: {"name": name, "type": "Text", "size": 50}
    names = ["Count"] + HOSTILE + ["Broken"]
    tables = [{"name": "Asanas",
               "columns": [{"name": "AsanaID", "type": "Long"}, text("name"), text("Disp_Type"),
                           text("VideoName")],
               "rows": [[1, "Count", "Video", "count.mpg"]] +
                       [[k + 2, n, "Photo", None] for k, n in enumerate(HOSTILE)] +
                       [[len(names), "Broken", "Photo", None]]},
              {"name": "Audio_Asana1",
               "columns": [text("Filename"), text("Action"),
                           {"name": "StartPos", "type": "Integer"},
                           {"name": "EndPos", "type": "Integer"},
                           {"name": "Filelen", "type": "Double"}],
               "rows": [["n", a, 25 * k, 25 * k + 24, 0.5] for k, a in enumerate(ACTIONS)]}]
    for k in range(len(HOSTILE) + 1):
        tables.append({"name": f"Photo_Asana{k + 2}",
                       "columns": [text("Mp2name"), text("ImageName")],
                       "rows": [["gone" if k == len(HOSTILE) else "n", "pic.png"]]})
    manifest = os.path.join(root, "manifest.json")
    with open(manifest, "w") as f:
        json.dump({"tables": tables}, f)
    sh(strovia, "catalogue", "build", manifest, "-o",
       os.path.join(course, "video", "AVPelmo.mdb"))
    return course


def inside(box, screen):
    if not box:
        return False
    left, top, right, bottom = box
    return left >= 0 and top >= 0 and right <= screen[0] and bottom <= screen[1]


def check_layout(browser, url):
    measured, failed = {}, []
    for size in ((1920, 1080), (1280, 720), (390, 844)):
        browser.open(url, size)
        at = browser.js(LAYOUT)
        measured["%dx%d" % size] = at
        for part in ("video", "playAll", "chapter"):
            if not inside(at[part], at["screen"]):
                failed.append(f"{size}: {part} {at[part]} off the screen")
        w, h = at["video"][2] - at["video"][0], at["video"][3] - at["video"][1]
        # Not merely on the screen: large enough to watch.
        if w < 0.5 * size[0] or h < 200:
            failed.append(f"{size}: video {w}x{h}")
    print(json.dumps({"layout": measured}))
    check(not failed, "; ".join(failed))
    return measured


def check_names_and_marks(browser, url, exported):
    browser.open(url, (1280, 720))
    page = browser.js("""(() => ({
      names: [...document.querySelectorAll('#postures button')].map(b => b.textContent),
      scripts: document.querySelectorAll('script').length,
      injected: document.querySelectorAll('b, main script').length,
      text: document.body.innerText,
      label: document.getElementById('player').getAttribute('aria-label'),
      chapters: [...document.querySelectorAll('#chapters button')].map(b => b.textContent),
      marker: getComputedStyle(document.querySelector('#postures button[aria-current]'),
                               '::before').content
    }))()""")
    check(page["names"] == exported, f"postures on the page: {page['names']}")
    check(page["scripts"] == 1 and page["injected"] == 0, f"a name made markup: {page}")
    check("Broken" not in page["text"] and "gone" not in page["text"],
          "the page tells learners of the skipped posture")
    check(page["label"] and "Count" in page["label"], f"video's name: {page['label']!r}")
    check(page["chapters"] == TITLES, f"chapter titles: {page['chapters']}")
    check("\u25b6" in page["marker"], f"the current posture's marker: {page['marker']!r}")
    # The chapter played is marked, the one before no longer.
    marks = browser.js("""(async () => {
      const v = document.getElementById('player'); v.muted = true;
      const b = [...document.querySelectorAll('#chapters button')];
      const seeked = new Promise(r => v.addEventListener('seeked', r, {once: true}));
      v.currentTime = Number(b[1].dataset.start) + 0.1; await seeked;
      return b.map(x => x.getAttribute('aria-current'));
    })()""")
    check(marks == [None, "step", None], f"chapter marks after a seek: {marks}")


def check_keyboard(browser, url, exported):
    browser.open(url, (1280, 720))
    buttons = browser.js("document.querySelectorAll('button:not([hidden] *)').length")
    reached, rings = set(), set()
    for _ in range(60):
        browser.key("Tab")
        focused = browser.js("""(() => { const e = document.activeElement;
          return [e.id || e.tagName + ':' + e.textContent,
                  getComputedStyle(e).outlineStyle + ' ' + getComputedStyle(e).outlineWidth]; })()""")
        reached.add(focused[0])
        if focused[0].startswith("BUTTON") or focused[0] == "play-all":
            rings.add(focused[1])
    wanted = {"play-all"} | {"BUTTON:" + n for n in exported + TITLES}
    check(buttons == len(wanted), f"{buttons} buttons, {len(wanted)} to reach")
    wanted.add("player")
    check(wanted <= reached, f"Tab never reaches {sorted(wanted - reached)}")
    check(rings == {"solid 3px"}, f"focus rings: {rings}")
    # Enter on a posture and Space on a chapter act.
    acted = browser.js("""(() => { document.querySelectorAll('#postures button')[1].focus();
      return true; })()""")
    browser.key("Enter")
    title = browser.js("document.getElementById('title').textContent")
    check(acted and title == exported[1], f"Enter on a posture shows {title!r}")
    browser.js("document.getElementById('player').muted = true;"
               "document.querySelector('#chapters button').focus()")
    browser.key(" ")
    time.sleep(0.5)
    playing = browser.js("!document.getElementById('player').paused")
    check(playing, "Space on a chapter does not play it")


def check_rest(browser, url, exported):
    browser.open(url, (1280, 720))
    rest = browser.js("""(async () => {
      const v = document.getElementById('player'); v.muted = true;
      const ended = new Promise(r => v.addEventListener('ended', r, {once: true}));
      document.getElementById('play-all').click();
      await new Promise(r => v.addEventListener('loadedmetadata', r, {once: true}));
      v.currentTime = v.duration - 0.3;
      await ended;
      const said = () => document.getElementById('rest-text').textContent;
      const first = said();
      await new Promise(r => setTimeout(r, 1300));
      return {first, later: said(), title: document.getElementById('title').textContent,
              shown: !document.getElementById('rest').hidden};
    })()""")
    check(rest["shown"] and rest["title"] == exported[0], f"no rest after the first: {rest}")
    check(re.search(r"\b5 s", rest["first"]) and re.search(r"\b[34] s", rest["later"]),
          f"the rest does not count down from 5: {rest}")
    check(exported[1] in rest["first"], f"the rest does not name the next posture: {rest}")
    browser.js("document.getElementById('rest-skip').focus()")
    browser.key("Enter")
    after = browser.js("[document.getElementById('title').textContent,"
                       " document.getElementById('rest').hidden]")
    check(after == [exported[1], True], f"skipping the rest: {after}")
    return rest


def check_page(strovia, ffmpeg, chromium):
    root = tempfile.mkdtemp(prefix="strovia-page-")
    browser = None
    try:
        course = make_course(root, strovia, ffmpeg)
        out = os.path.join(root, "out")
        r = subprocess.run([strovia, "export", "--all", "--content", course, "-o", out],
                           capture_output=True, text=True)
        check(r.returncode == 1, f"export: exit {r.returncode}\n{r.stdout}{r.stderr}")
        check(re.search(r"1 of 6 postures skipped:\n  Broken: .*gone\.mp2", r.stderr),
              f"the maintainer's report lacks the skipped posture:\n{r.stderr}")
        with open(os.path.join(out, "01-Count.vtt"), encoding="utf-8") as f:
            cues = [c.split("\n") for c in f.read().strip().split("\n\n")[1:]]
        check([c[2] for c in cues] == ["Count: Stand tall &lt;b&gt;", "Count: Step 2",
                                       "Count: Line break --&gt;"], f"cue titles: {cues}")
        exported = ["Count"] + HOSTILE
        url = "file://" + out + "/index.html"
        browser = Browser(chromium)
        failed = []
        try:
            check_layout(browser, url)
        except Failed as e:
            failed.append(f"check_layout: {e}")
        for part in (check_names_and_marks, check_keyboard, check_rest):
            try:
                part(browser, url, exported)
            except (Failed, RuntimeError) as e:
                failed.append(f"{part.__name__}: {e}")
        check(not failed, "\n".join(failed))
    finally:
        if browser:
            browser.close()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    if sys.argv[1] == "page":
        try:
            check_page(*sys.argv[2:5])
            print("page: passed")
        except Failed as e:
            print(f"page: FAILED: {e}")
            sys.exit(1)
    else:
        play(sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3])
