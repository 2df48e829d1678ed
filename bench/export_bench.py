#!/usr/bin/env python3
"""How fast `strovia export` renders, as a multiple of real time.

Makes the demo course (default size) in a scratch folder, exports its long
video posture several times in each format and reports the median speed
(programme seconds per wall-clock second) and CPU seconds per programme
second; then exports the whole course in both formats and reports the
sizes. Writes export-bench.json in the current folder. Reports, never
fails on a figure.

  bench/export_bench.py [--runs N] [--preset ci|default] [--posture NAME] [--size WxH]
"""

import argparse
import json
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(cmd):
    r = subprocess.run(cmd, capture_output=True, text=True, cwd=ROOT)
    if r.returncode != 0:
        sys.exit(" ".join(cmd) + " failed:\n" + r.stdout[-2000:] + r.stderr[-2000:])
    return r.stdout


def children_cpu():
    u = resource.getrusage(resource.RUSAGE_CHILDREN)
    return u.ru_utime + u.ru_stime


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--preset", default="ci")
    ap.add_argument("--posture", default="Tadasana")
    ap.add_argument("--size", default="640x480")
    args = ap.parse_args()
    here = os.getcwd()

    run(["cmake", "--build", "--preset", args.preset, "--target", "strovia"])
    strovia = os.path.join(ROOT, "build", args.preset, "apps", "strovia")
    work = tempfile.mkdtemp(prefix="strovia-export-bench-")
    try:
        course = os.path.join(work, "demo")
        run([strovia, "demo", course, "--no-play"])
        schedule = json.loads(run([strovia, "export", "--schedule", "--content", course,
                                   "--posture", args.posture]).splitlines()[0])
        seconds = schedule["end"]
        result = {"posture": args.posture, "programme_seconds": seconds, "size": args.size,
                  "loadavg_before": os.getloadavg()[0]}
        for fmt in ("mp4", "webm"):
            speeds, cpu = [], []
            for i in range(args.runs):
                out = os.path.join(work, f"{fmt}-{i}")
                c0, t0 = children_cpu(), time.monotonic()
                run([strovia, "export", "--content", course, "--posture", args.posture,
                     "--format", fmt, "--size", args.size, "-o", out])
                wall, used = time.monotonic() - t0, children_cpu() - c0
                speeds.append(seconds / wall)
                cpu.append(used / seconds)
            result[fmt] = {"speed_x_real_time": round(statistics.median(speeds), 2),
                           "speeds": [round(s, 2) for s in speeds],
                           "cpu_s_per_programme_s": round(statistics.median(cpu), 3)}
            print(f"{fmt}: {args.posture} ({seconds:.1f} s) exported at "
                  f"{result[fmt]['speed_x_real_time']}x real time (median of {args.runs}), "
                  f"{result[fmt]['cpu_s_per_programme_s']} CPU s per programme s")
        for fmt in ("mp4", "webm"):
            out = os.path.join(work, f"all-{fmt}")
            run([strovia, "export", "--content", course, "--all", "--format", fmt,
                 "--size", args.size, "-o", out])
            files = {f: os.path.getsize(os.path.join(out, f)) for f in sorted(os.listdir(out))}
            result[f"course_{fmt}"] = {"bytes": sum(files.values()), "files": files}
            print(f"whole demo course, {fmt}: {sum(files.values()) / 1e6:.2f} MB in "
                  f"{len(files)} files")
        result["loadavg_after"] = os.getloadavg()[0]
        with open(os.path.join(here, "export-bench.json"), "w") as f:
            json.dump(result, f, indent=2)
        print(f"load average {result['loadavg_before']:.1f} before, "
              f"{result['loadavg_after']:.1f} after; written export-bench.json")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
