#!/usr/bin/env python3
"""The exported course page in headless Chromium, as a learner meets it.

usage: export_browser.py STROVIA FFMPEG CHROMIUM
    Makes a course with hostile names, titled and untitled segments and a
    posture that cannot be exported, exports it and checks the files and the
    page: no name opens markup in the page's script or a cue in the chapter
    files; at 1920x1080, 1280x720 and 390x844 the video, its controls, "Play
    all" and the current chapter lie inside the screen; names and marks;
    every button reached and pressed from the keyboard; the rest between
    postures; served over HTTP, the chapters as a track and a chapter's
    button seeking to its start. Exit 0 passes, 1 fails with the reason;
    prints what it measured.
"""
import html
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from course_kit import (Browser, Failed, asanas, build_catalogue, check,  # noqa: E402
                        course_folders, ffmpeg, narration, passes, photos, picture, segments, serve)

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


# Segment titles: a readable Action, and ones that are not titles.
ACTIONS = ["Stand tall <b>", "x", "Line\nbreak -->"]
TITLES = ["Stand tall <b>", "Step 2", "Line break -->"]
# No "-->" among them: it would close the comment the first one opens and
# hide the fault the page had.
HOSTILE = ["<!--<script>", "a</script><b>x", "Line\nbreak", "Amp &amp; \"q\" 'q' a->b"]


def make_course(root, strovia, ffmpeg_exe):
    """Count: a video of three titled segments; the hostile names: photo
    postures of one picture; Broken: a narration that is missing."""
    course = course_folders(root)
    ffmpeg(ffmpeg_exe, "-f", "lavfi", "-i", "testsrc=size=352x288:rate=25", "-frames:v", "75",
           "-c:v", "mpeg1video", "-f", "mpeg", os.path.join(course, "video", "count.mpg"))
    picture(ffmpeg_exe, os.path.join(course, "video", "pic.png"))
    narration(ffmpeg_exe, os.path.join(course, "sound", "mp2", "n.mp2"), 0.5)
    broken = len(HOSTILE) + 2
    tables = [asanas([[1, "Count", "Video", "count.mpg"]] +
                     [[k + 2, n, "Photo", None] for k, n in enumerate(HOSTILE)] +
                     [[broken, "Broken", "Photo", None]]),
              segments(1, [["n", a, 25 * k, 25 * k + 24, 0.5] for k, a in enumerate(ACTIONS)])]
    tables += [photos(k, [["gone" if k == broken else "n", "pic.png"]])
               for k in range(2, broken + 1)]
    build_catalogue(strovia, root, course, tables)
    return course


def check_files(out, exported):
    """The page's posture data holds no '<' (it could open a comment or a
    tag the parser acts on); each chapter file's cues are a number, a time
    and one title line that starts with the posture's name and closes no cue."""
    page = open(os.path.join(out, "index.html"), encoding="utf-8").read()
    data = re.search(r"const postures = (\[.*?\]);\n", page)
    check(data and "<" not in data.group(1), f"the page's data: {data and data.group(1)}")
    for k, name in enumerate(exported):
        vtt = [f for f in os.listdir(out) if f.startswith(f"{k + 1:02d}-") and f.endswith(".vtt")]
        check(len(vtt) == 1, f"no chapters for {name!r}: {os.listdir(out)}")
        with open(os.path.join(out, vtt[0]), encoding="utf-8") as f:
            cues = [c.split("\n") for c in f.read().strip().split("\n\n")[1:]]
        check(cues and all(len(c) == 3 and "-->" in c[1] and "-->" not in c[2] for c in cues),
              f"{vtt[0]}: a cue is not number, time, one title line: {cues}")
        titles = [html.unescape(c[2]) for c in cues]
        check(all(t.startswith(name.replace("\n", " ")) for t in titles),
              f"{vtt[0]}: titles {titles} for {name!r}")
        if k == 0:
            check([c[2] for c in cues] == ["Count: Stand tall &lt;b&gt;", "Count: Step 2",
                                           "Count: Line break --&gt;"], f"cue titles: {cues}")


def inside(box, screen):
    if not box:
        return False
    left, top, right, bottom = box
    return left >= 0 and top >= 0 and right <= screen[0] and bottom <= screen[1]


def check_layout(browser, url, _exported):
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
    src = browser.js("decodeURIComponent(document.getElementById('player').currentSrc)")
    check(re.search(r"/02-[^/]*\.mp4$", src), f"the next posture's video: {src}")


def check_served(browser, url, _exported):
    browser.open(url, (1280, 720))
    got = browser.js("""(async () => {
      const v = document.getElementById('player'); v.muted = true;
      document.getElementById('play-all').click();
      if (v.readyState < 1) await new Promise(r => v.addEventListener('loadedmetadata', r));
      const track = v.querySelector('track');
      if (track.readyState !== 2) await new Promise(r => { track.onload = r; track.onerror = r; });
      const last = [...document.querySelectorAll('#chapters button')].pop();
      const seeked = new Promise(r => v.addEventListener('seeked', r, {once: true}));
      last.click();
      await seeked;
      return {cues: track.track.cues ? track.track.cues.length : -1,
              start: Number(last.dataset.start), at: v.currentTime};
    })()""")
    check(got["cues"] == len(TITLES), f"the chapters' track over HTTP: {got}")
    check(abs(got["at"] - got["start"]) < 0.1, f"a chapter's button seeks elsewhere: {got}")


def check_page(strovia, ffmpeg_exe, chromium):
    root = tempfile.mkdtemp(prefix="strovia-page-")
    browser = server = None
    try:
        course = make_course(root, strovia, ffmpeg_exe)
        out = os.path.join(root, "out")
        r = subprocess.run([strovia, "export", "--all", "--content", course, "-o", out],
                           capture_output=True, text=True)
        check(r.returncode == 1, f"export: exit {r.returncode}\n{r.stdout}{r.stderr}")
        check(re.search(r"1 of 6 postures skipped:\n  Broken: .*gone\.mp2", r.stderr),
              f"the maintainer's report lacks the skipped posture:\n{r.stderr}")
        exported = ["Count"] + HOSTILE
        check_files(out, exported)
        url = "file://" + out + "/index.html"
        server, base = serve(out)
        browser = Browser(chromium)
        failed = []
        for part, at in ((check_layout, url), (check_names_and_marks, url), (check_keyboard, url),
                         (check_rest, url), (check_served, base + "/index.html")):
            try:
                part(browser, at, exported)
            except (Failed, RuntimeError) as e:
                failed.append(f"{part.__name__}: {e}")
        check(not failed, "\n".join(failed))
    finally:
        if browser:
            browser.close()
        if server:
            server.shutdown()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    passes("page", check_page, *sys.argv[1:4])
