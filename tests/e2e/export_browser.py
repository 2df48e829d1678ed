#!/usr/bin/env python3
"""Loads an exported course page in headless Chromium and plays it.

usage: export_browser.py CHROMIUM FOLDER file|http
With "http" the folder is served on a local port for the run. Prints one JSON object: what the page did when its chapter button was
pressed and when the first posture played to its end under "Play all".
Chromium is driven over its DevTools pipe (file descriptors 3 and 4), so
no port is opened and nothing is fetched from the network.
"""
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

CHECK = r"""
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
  out.next = document.getElementById("title").textContent;
  out.nextSrc = decodeURIComponent(v.currentSrc.split("/").pop());
  return out;
})()
"""


def main():
    chromium, folder, how = sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3]
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
    profile = tempfile.mkdtemp(prefix="strovia-chromium-")
    to_browser_r, to_browser_w = os.pipe()
    from_browser_r, from_browser_w = os.pipe()

    def plumb():
        a, b = os.dup(to_browser_r), os.dup(from_browser_w)
        os.dup2(a, 3)
        os.dup2(b, 4)

    flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--mute-audio", "--autoplay-policy=no-user-gesture-required",
             "--user-data-dir=" + profile, "--remote-debugging-pipe", "about:blank"]
    browser = subprocess.Popen([chromium] + flags, pass_fds=(3, 4), preexec_fn=plumb,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(to_browser_r)
    os.close(from_browser_w)
    buffered = b""
    next_id = [0]

    def call(method, params=None, session=None, timeout=90):
        nonlocal buffered
        next_id[0] += 1
        message = {"id": next_id[0], "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(to_browser_w, json.dumps(message).encode() + b"\0")
        deadline = time.time() + timeout
        while True:
            while b"\0" in buffered:
                raw, buffered = buffered.split(b"\0", 1)
                reply = json.loads(raw)
                if reply.get("id") == next_id[0]:
                    if "error" in reply:
                        raise RuntimeError(method + ": " + json.dumps(reply["error"]))
                    return reply["result"]
            left = deadline - time.time()
            if left <= 0 or not select.select([from_browser_r], [], [], left)[0]:
                raise RuntimeError(method + ": no answer from the browser")
            chunk = os.read(from_browser_r, 65536)
            if not chunk:
                raise RuntimeError(method + ": the browser went away")
            buffered += chunk

    try:
        pages = [t for t in call("Target.getTargets")["targetInfos"] if t["type"] == "page"]
        session = call("Target.attachToTarget",
                       {"targetId": pages[0]["targetId"], "flatten": True})["sessionId"]
        call("Page.enable", session=session)
        call("Page.navigate", {"url": url}, session=session)
        # The page builds its list on load; wait until it is there.
        for _ in range(100):
            ready = call("Runtime.evaluate",
                         {"expression": "document.readyState === 'complete' && "
                                        "!!document.getElementById('player')",
                          "returnByValue": True}, session=session)
            if ready["result"].get("value"):
                break
            time.sleep(0.1)
        result = call("Runtime.evaluate", {"expression": CHECK, "awaitPromise": True,
                                           "returnByValue": True}, session=session)
        print(json.dumps(result["result"].get("value", result)))
    finally:
        browser.kill()
        browser.wait()
        shutil.rmtree(profile, ignore_errors=True)
        if server:
            server.shutdown()


if __name__ == "__main__":
    main()
