#!/usr/bin/env python3
"""strovia play --rate, --from-part and --repeat-part on the demo course: how
long each rate takes, what each start sends and where it holds, read from
--trace; bad values exit 2 with the reason.

  practice_cli.py STROVIA_EXE
"""

import json
import os
import subprocess
import sys
import tempfile

STROVIA = sys.argv[1]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL: " + what)


def play(course, *args):
    cmd = [STROVIA, "play", "--content", course, "--posture", "Tadasana", "--headless",
           "--timeout", "120", *args]
    r = subprocess.run(cmd, capture_output=True, text=True)
    return r.returncode, r.stdout, r.stderr


def trace(course, *args):
    rc, out, err = play(course, "--trace", *args)
    check(rc == 0, f"{args}: exit {rc}: {err[-400:]}")
    return [json.loads(line) for line in out.splitlines() if line.startswith("{")]


def frame(reply):
    """A position reply as a frame; None when the query wrote no number (a video that
    has ended leaves the tick's earlier reply in the buffer)."""
    try:
        return int(float(reply))
    except ValueError:
        return None


def holds(lines):
    """The position each hold began at: the reply read in the tick that first paused."""
    held, position, pausing = [], None, False
    for line in lines:
        if line["kind"] == "query" and line["text"] == "status video Position":
            position = frame(line["reply"])
        elif line["kind"] == "command" and line["text"] == "pause video":
            if not pausing and position is not None and position > 0:
                held.append(position)
            pausing = True
        elif line["kind"] == "command" and line["text"] == "play video":
            pausing = False
    return held


with tempfile.TemporaryDirectory(prefix="strovia-practice-") as work:
    course = os.path.join(work, "course")
    subprocess.run([STROVIA, "demo", course, "--no-play"], check=True, capture_output=True)
    dump = json.loads(subprocess.run(
        [STROVIA, "catalogue", "dump", os.path.join(course, "video", "AVPelmo.mdb")],
        check=True, capture_output=True, text=True).stdout)
    tables = {t["name"]: t for t in dump["tables"]}
    asana = next(r for r in tables["Asanas"]["rows"] if r[1] == "Tadasana")
    seg = tables[f"Audio_Asana{asana[0]}"]
    cols = [c["name"] for c in seg["columns"]]
    starts = [r[cols.index("StartPos")] for r in seg["rows"]]
    names = [r[cols.index("Filename")] for r in seg["rows"]]

    # The rate reaches the programme: all of it, holds included, takes 1/rate
    # as long (where each rate holds is the widget test's).
    took = {}
    for rate in ("0.5", "1.5"):
        ends = [l["t"] / 1000 for l in trace(course, "--rate", rate)
                if l["kind"] == "event" and l["name"] == "VideoEnd"]
        check(len(ends) == 1, f"rate {rate}: VideoEnd {len(ends)} times")
        took[rate] = ends[0] if ends else 0
        print(f"rate {rate}: VideoEnd at {took[rate]:.2f} s")
    check(took["0.5"] > 2 * took["1.5"], f"the rate changed nothing: VideoEnd at {took}")

    # Each segment from its own StartPos, with its narration.
    for part in range(2, len(starts) + 1):
        lines = trace(course, "--from-part", str(part))
        sent = [l["text"] for l in lines if l["kind"] == "command"]
        check(f"seek video to {starts[part - 1]}" in sent, f"part {part}: no seek in {sent[:8]}")
        opens = [c for c in sent if c.startswith("open") and "alias Sound" in c]
        check(opens and names[part - 1] + ".mp2" in opens[0],
              f"part {part}: first narration {opens[:1]}")
        first = next((frame(l["reply"]) for l in lines if l["kind"] == "query"
                      and l["text"] == "status video Position"), None)
        check(first is not None and starts[part - 1] <= first <= starts[part - 1] + 1,
              f"part {part}: first position {first}, StartPos {starts[part - 1]}")
        print(f"part {part}: StartPos {starts[part - 1]}, first position read {first}")

    # Segment 2 three times: its narration and its hold three times.
    lines = trace(course, "--repeat-part", "2", "--times", "3")
    sent = [l["text"] for l in lines if l["kind"] == "command"]
    check(sum(1 for c in sent if names[1] + ".mp2" in c) == 3, "segment 2's narration not 3 times")
    check(sent.count(f"seek video to {starts[1]}") == 3, f"seeks: {sent}")
    check(len(holds(lines)) >= 3 and all(0 <= h - starts[2] <= 1 for h in holds(lines)[:3]),
          f"repeat holds {holds(lines)}, boundary {starts[2]}")

    for args, words in ((("--rate", "2"), "--rate must be from 0.5 to 1.5"),
                        (("--rate", "0.4"), "--rate must be from 0.5 to 1.5"),
                        (("--from-part", "0"), "--from-part counts from 1"),
                        (("--repeat-part", "2"), "go together"),
                        (("--repeat-part", "1", "--times", "0"), "--times counts from 1"),
                        (("--from-part", "2", "--repeat-part", "2", "--times", "2"),
                         "cannot be used together"),
                        (("--from-part", "2", "--preview"), "a preview has no segments")):
        rc, _, err = play(course, *args)
        check(rc == 2 and words in err, f"{args}: exit {rc}, said {err!r}")

sys.exit(1 if failures else 0)
