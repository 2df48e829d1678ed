#!/usr/bin/env python3
"""`strovia export` against what should never happen to it: files outside
the course, full folders, signals, a failing re-export.

usage: export_safety.py STROVIA FFMPEG CASE
Each CASE builds its own small course in a scratch folder. Exit 0 passes,
1 fails (with the reason), 77 skips (a tmpfs cannot be mounted here).
A hang is caught by the test's TIMEOUT, not here.
"""
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from course_kit import (asanas, build_catalogue, check, course_folders, narration,  # noqa: E402
                        passes, photos, picture)

STROVIA, FFMPEG, CASE = sys.argv[1], sys.argv[2], sys.argv[3]
SKIP = 77
# Left in the output folder by nothing but a killed or failed export.
PART = re.compile(r"\.(part|mux)-\d+$")


def strovia(*args, env=None):
    return subprocess.run([STROVIA, *args], capture_output=True, text=True, env=env)


def parts(folder):
    return sorted(n for n in os.listdir(folder) if PART.search(n))


def digest(path):
    """The content's hash, or None for a file that is gone."""
    try:
        with open(path, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    except FileNotFoundError:
        return None


def make_course(root, names, seconds=0.6, images=None, noise=False):
    """A course of photo postures: posture k shows pic{k} over narration n{k}."""
    course = course_folders(root)
    source = "nullsrc=size=640x480,geq=random(1)*255:128:128" if noise else "color=c=red:size=64x48"
    tables = [asanas([[k + 1, n, "Photo", None] for k, n in enumerate(names)])]
    for k in range(1, len(names) + 1):
        narration(FFMPEG, os.path.join(course, "sound", "mp2", f"n{k}.mp2"), seconds)
        picture(FFMPEG, os.path.join(course, "video", f"pic{k}.png"), source)
        tables.append(photos(k, [[f"n{k}", (images or {}).get(k - 1, f"pic{k}.png")]]))
    build_catalogue(STROVIA, root, course, tables)
    return course


class Tmpfs:
    """A small tmpfs, or a skip where mounting is not allowed."""

    def __init__(self, path, size):
        os.makedirs(path, exist_ok=True)
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", path],
                           capture_output=True, text=True)
        if r.returncode != 0:
            print(f"SKIP: cannot mount a tmpfs here ({r.stderr.strip()}); "
                  "run as root to test full folders")
            sys.exit(SKIP)
        self.path = path

    def fill(self, leave):
        """Leaves about `leave` bytes free."""
        st = os.statvfs(self.path)
        free = st.f_bavail * st.f_frsize
        with open(os.path.join(self.path, "filler"), "wb") as f:
            f.write(b"\0" * max(0, free - leave))

    def close(self):
        subprocess.run(["umount", "-l", self.path])


def case_outside_paths(root):
    secret = os.path.join(root, "secret")
    os.makedirs(secret)
    course = make_course(root, ["Inside", "Dotdot", "Linked"],
                         images={1: "..\\..\\secret\\outside.png"})
    os.replace(os.path.join(course, "video", "pic2.png"), os.path.join(secret, "outside.png"))
    linked = os.path.join(course, "sound", "mp2", "n3.mp2")
    os.replace(linked, os.path.join(secret, "n3.mp2"))
    os.symlink(os.path.join(secret, "n3.mp2"), linked)
    for allow, code, made in ((False, 1, {"01"}), (True, 0, {"01", "02", "03"})):
        out = os.path.join(root, f"out-{allow}")
        r = strovia("export", "--all", "--content", course, "-o", out,
                    *(["--allow-outside"] if allow else []))
        said = r.stdout + r.stderr
        check(r.returncode == code, f"--allow-outside {allow}: exit {r.returncode}\n{said}")
        for posture, file in (("Dotdot", "outside.png"), ("Linked", "n3.mp2")):
            check(re.search(rf"posture {posture}: .*{file}.* lies outside the course folder", said),
                  f"--allow-outside {allow}: {posture} not said to read outside\n{said}")
        check("posture Inside:" not in said.replace("posture 1 of 3: Inside", ""),
              f"Inside said to read outside\n{said}")
        got = {f[:2] for f in os.listdir(out) if f.endswith(".mp4")}
        check(got == made, f"--allow-outside {allow}: exported {sorted(got)}, not {sorted(made)}")
        page = open(os.path.join(out, "index.html"), encoding="utf-8").read()
        check(secret not in page and "outside" not in page,
              "the page shows paths or reasons to learners")
    r = strovia("check", "--content", course)
    for posture, file in (("Dotdot", "outside.png"), ("Linked", "n3.mp2")):
        check(re.search(rf"{posture}.*{file}.* lies outside the course folder", r.stdout),
              f"check: {posture} not said to read outside\n{r.stdout}")
    check("Inside" not in r.stdout, f"check: Inside said to read outside\n{r.stdout}")


def case_full_output(root):
    course = make_course(root, ["Noise"], seconds=8, noise=True)
    fs = Tmpfs(os.path.join(root, "small"), "16m")
    try:
        out = fs.path
        r = strovia("export", "--all", "--content", course, "-o", out)
        check(r.returncode == 0, f"first export: {r.returncode}\n{r.stdout}{r.stderr}")
        files = sorted(f for f in os.listdir(out) if f.startswith("01-"))
        old = {f: digest(os.path.join(out, f)) for f in files}
        mp4 = os.path.getsize(os.path.join(out, "01-Noise.mp4"))
        check(mp4 > 150_000, f"the test file is too small to fill the folder: {mp4}")
        fs.fill(mp4 // 3)
        r = strovia("export", "--all", "--content", course, "-o", out)
        said = r.stdout + r.stderr
        check(r.returncode == 1 and re.search(r"skipped: .*(No space left|Failed to write)", said),
              f"export into a full folder: {r.returncode}\n{said}")
        check({f: digest(os.path.join(out, f)) for f in files} == old,
              "the file the earlier export wrote was changed or lost")
        check(parts(out) == [], f"parts left: {parts(out)}")
    finally:
        fs.close()


def case_full_temp(root):
    course = make_course(root, ["Noise"], seconds=4, noise=True)
    fs = Tmpfs(os.path.join(root, "tmp"), "64k")
    try:
        fs.fill(0)
        out = os.path.join(root, "out")
        r = strovia("export", "--all", "--content", course, "-o", out,
                    env={**os.environ, "TMPDIR": fs.path})
        check(r.returncode == 0, f"export with a full TMPDIR: {r.returncode}\n{r.stdout}{r.stderr}")
        check(os.path.getsize(os.path.join(out, "01-Noise.mp4")) > 0, "no file")
        check(parts(out) == [], f"parts left: {parts(out)}")
    finally:
        fs.close()


def interrupt(args, sig, when):
    """Runs an export and sends `sig` once its output holds `when` (a
    pattern) or, for a number, that many seconds after the start."""
    p = subprocess.Popen([STROVIA, *args], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         text=True, bufsize=1)
    said = ""
    if isinstance(when, str):
        for line in p.stdout:
            said += line
            if re.search(when, line):
                break
    else:
        time.sleep(when)
    p.send_signal(sig)
    start = time.monotonic()
    said += p.stdout.read()
    code = p.wait()
    return code, time.monotonic() - start, said


def case_signals(root):
    course = make_course(root, ["Long"], seconds=30, noise=True)
    out = os.path.join(root, "out")
    r = strovia("export", "--all", "--content", course, "-o", out)
    check(r.returncode == 0, f"first export: {r.returncode}\n{r.stdout}{r.stderr}")
    old = digest(os.path.join(out, "01-Long.mp4"))
    slowest = 0.0
    # Each signal while the media are measured, early in the render and
    # late in it; the earlier export's file must survive every one.
    for sig in (signal.SIGINT, signal.SIGTERM):
        for when in (0.3, r"Long 0%", r"Long (25|50)%"):
            code, took, said = interrupt(["export", "--all", "--content", course, "-o", out],
                                         sig, when)
            # A signal that comes before the export has set up its handling
            # (a loaded machine) ends it as the signal's default would.
            check(code == 130 or (code == -sig and not isinstance(when, str)),
                  f"{sig.name} at {when!r}: exit {code}\n{said}")
            check(digest(os.path.join(out, "01-Long.mp4")) == old,
                  f"{sig.name} at {when!r}: the earlier export's file was changed or lost")
            check(parts(out) == [], f"{sig.name} at {when!r}: parts left: {parts(out)}")
            slowest = max(slowest, took)
    print(f"slowest end after a signal: {slowest:.2f} s")


def case_leftovers(root):
    course = make_course(root, ["Long"], seconds=30, noise=True)
    out = os.path.join(root, "out")
    code, _, said = interrupt(["export", "--all", "--content", course, "-o", out],
                              signal.SIGKILL, r"Long (25|50)%")
    check(code != 0, f"killed export: exit {code}\n{said}")
    left = parts(out)
    check(left, "a killed export left no part: the test proves nothing")
    # A running export's parts are its own, and a file the export never
    # writes is not its part.
    kept = [f"01-Long.mp4.part-{os.getpid()}", "notes.txt.part-999999"]
    for name in kept:
        open(os.path.join(out, name), "w").close()
    r = strovia("export", "--all", "--content", course, "-o", out)
    check(r.returncode == 0, f"later export: {r.returncode}\n{r.stdout}{r.stderr}")
    check(parts(out) == sorted(kept), f"left after a later run: {parts(out)}")
    for name in left:
        check(name in r.stderr, f"{name} removed without a word\n{r.stderr}")


CASES = {n[5:]: f for n, f in globals().items() if n.startswith("case_")}

if __name__ == "__main__":
    root = tempfile.mkdtemp(prefix=f"strovia-safety-{CASE}-")
    try:
        passes(CASE, CASES[CASE], root)
    finally:
        for mounted in ("small", "tmp"):
            subprocess.run(["umount", "-l", os.path.join(root, mounted)], capture_output=True)
        shutil.rmtree(root, ignore_errors=True)
