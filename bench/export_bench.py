#!/usr/bin/env python3
"""How fast `strovia export` renders, as a multiple of real time.

Makes the demo course (default size) in a scratch folder, exports its long
video posture several times in each format and reports the median speed
(programme seconds per wall-clock second) and CPU seconds per programme
second, beside the CPU the encoders alone take for the same frames and
sound (the exported file decoded once, then encoded again with the
export's own encoder settings): the ratio is the export's overhead. Then
exports the whole course in both formats and reports the
sizes. Writes export-bench.json in the current folder. Reports, never
fails on a figure.

  bench/export_bench.py [--runs N] [--preset ci|default] [--posture NAME] [--size WxH]
                       [--strovia PROGRAM]
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


# The export's encoders and muxers, fed the decoded frames and sound of an
# exported file: what any export of these frames must spend at least.
ENCODERS = {
    "mp4": ("x264enc speed-preset=veryfast key-int-max={key} ! video/x-h264,profile=high ! "
            "h264parse", "avenc_aac bitrate=128000 ! aacparse", "mp4mux faststart=true"),
    "webm": ("vp9enc deadline=1 cpu-used=8 row-mt=true threads=2 target-bitrate=1000000 "
             "keyframe-max-dist={key}", "opusenc bitrate=96000", "webmmux"),
}


def encoder_alone_cpu(fmt, exported, size, work):
    """CPU seconds the encoders alone take for the frames and sound of
    `exported`."""
    w, h = size.split("x")
    raw_v, raw_a = os.path.join(work, "frames.yuv"), os.path.join(work, "sound.pcm")
    run(["ffmpeg", "-nostdin", "-y", "-v", "error", "-i", exported, "-f", "rawvideo",
         "-pix_fmt", "yuv420p", "-r", "25", raw_v, "-f", "s16le", "-ar", "48000", "-ac", "2",
         raw_a])
    video, audio, mux = ENCODERS[fmt]
    pipeline = (f"filesrc location={raw_v} ! rawvideoparse width={w} height={h} format=i420 "
                f"framerate=25/1 ! {video.format(key=50)} ! queue ! mux. "
                f"filesrc location={raw_a} ! rawaudioparse format=pcm pcm-format=s16le "
                f"sample-rate=48000 num-channels=2 ! audioconvert ! {audio} ! queue ! mux. "
                f"{mux} name=mux ! filesink location={os.path.join(work, 'again.' + fmt)}")
    c0 = children_cpu()
    run(["gst-launch-1.0", "-q"] + pipeline.split())
    used = children_cpu() - c0
    os.remove(raw_v)
    os.remove(raw_a)
    return used


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--preset", default="ci")
    ap.add_argument("--posture", default="Tadasana")
    ap.add_argument("--size", default="640x480")
    ap.add_argument("--strovia", help="measure this strovia program instead of building one")
    args = ap.parse_args()
    here = os.getcwd()

    strovia = args.strovia
    if not strovia:
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
            speeds, cpu, alone, ratios = [], [], [], []
            # Each export beside the encoders alone on its own frames, so a
            # load that comes and goes on a shared machine touches both.
            for i in range(args.runs):
                out = os.path.join(work, f"{fmt}-{i}")
                c0, t0 = children_cpu(), time.monotonic()
                run([strovia, "export", "--content", course, "--posture", args.posture,
                     "--format", fmt, "--size", args.size, "-o", out])
                wall, used = time.monotonic() - t0, children_cpu() - c0
                speeds.append(seconds / wall)
                cpu.append(used / seconds)
                exported = [os.path.join(out, f) for f in os.listdir(out)
                            if f.endswith("." + fmt)]
                alone.append(encoder_alone_cpu(fmt, exported[0], args.size, work) / seconds)
                ratios.append(cpu[-1] / alone[-1])
            export_cpu, alone_cpu = statistics.median(cpu), statistics.median(alone)
            result[fmt] = {"speed_x_real_time": round(statistics.median(speeds), 2),
                           "speeds": [round(s, 2) for s in speeds],
                           "cpu_s_per_programme_s": round(export_cpu, 3),
                           "encoder_alone_cpu_s_per_programme_s": round(alone_cpu, 3),
                           "cpu_x_encoder_alone": round(statistics.median(ratios), 2),
                           "ratios": [round(r, 2) for r in ratios]}
            print(f"{fmt}: {args.posture} ({seconds:.1f} s) exported at "
                  f"{result[fmt]['speed_x_real_time']}x real time (median of {args.runs}), "
                  f"{round(export_cpu, 3)} CPU s per programme s; "
                  f"{result[fmt]['cpu_x_encoder_alone']}x the encoders alone "
                  f"({round(alone_cpu, 3)}; each run {result[fmt]['ratios']})")
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
