#!/usr/bin/env python3
"""How fast `strovia export` renders, as a multiple of real time.

Makes the demo course (default size) in a scratch folder, exports its long
video posture several times in each format and reports the median speed
(programme seconds per wall-clock second) and CPU seconds per programme
second, beside the CPU the encoders alone take, with the export's own
encoder settings, for the frames and sound the export feeds them: those
are made again here, with ffmpeg, from the course's files and the
schedule (`cpu_x_encoder_alone`, the export's overhead). The encoders'
work depends on what they are given, so the figure against the exported
file decoded again (lossy twice over: cheaper sound, dearer pictures) is
kept beside it as `cpu_x_encoder_on_decoded_output`. Then exports the
whole course in both formats and reports the sizes. Writes
export-bench.json in the current folder. Reports, never fails on a figure.

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


def encode_cpu(fmt, raw_v, raw_a, size, work):
    """CPU seconds the encoders alone take for raw I420 frames and 48 kHz
    stereo sound."""
    w, h = size.split("x")
    video, audio, mux = ENCODERS[fmt]
    pipeline = (f"filesrc location={raw_v} ! rawvideoparse width={w} height={h} format=i420 "
                f"framerate=25/1 ! {video.format(key=50)} ! queue ! mux. "
                f"filesrc location={raw_a} ! rawaudioparse format=pcm pcm-format=s16le "
                f"sample-rate=48000 num-channels=2 ! audioconvert ! {audio} ! queue ! mux. "
                f"{mux} name=mux ! filesink location={os.path.join(work, 'again.' + fmt)}")
    c0 = children_cpu()
    run(["gst-launch-1.0", "-q"] + pipeline.split())
    return children_cpu() - c0


def decoded_output(exported, work):
    """The frames and sound of an exported file, decoded again."""
    raw_v, raw_a = os.path.join(work, "decoded.yuv"), os.path.join(work, "decoded.pcm")
    run(["ffmpeg", "-nostdin", "-y", "-v", "error", "-i", exported, "-f", "rawvideo",
         "-pix_fmt", "yuv420p", "-r", "25", raw_v, "-f", "s16le", "-ar", "48000", "-ac", "2",
         raw_a])
    return raw_v, raw_a


def local(formed, base):
    return os.path.join(base, formed.replace("\\", "/"))


def scheduled_input(schedule, size, base, work):
    """The frames and sound the export feeds its encoders, made from the
    course's own files: each frame the video's frame or the picture of its
    moment (scaled with its aspect kept), each narration from its moment up
    to the next one's, silence between."""
    w, h = (int(x) for x in size.split("x"))
    fit = (f"scale={w}:{h}:force_original_aspect_ratio=decrease,"
           f"pad={w}:{h}:(ow-iw)/2:(oh-ih)/2,format=yuv420p")
    frame_bytes = w * h * 3 // 2

    def frames_of(path):
        out = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-vf", fit,
                              "-f", "rawvideo", "-"], capture_output=True, check=True).stdout
        return [out[i:i + frame_bytes] for i in range(0, len(out), frame_bytes)]

    end, fps = schedule["end"], 25
    video = [frames_of(local(schedule["video"], base))] if "video" in schedule else [[]]
    pictures = {}
    raw_v = os.path.join(work, "scheduled.yuv")
    with open(raw_v, "wb") as out:
        i = 0
        while i / fps < end:
            t = i / fps
            shot = [s for s in schedule["shots"] if s["from"] <= t + 1e-9][-1]
            if "picture" in shot:
                if shot["picture"] not in pictures:
                    pictures[shot["picture"]] = frames_of(local(shot["picture"], base))[0]
                out.write(pictures[shot["picture"]])
            else:
                n = shot["hold"] if "hold" in shot else shot["play"] + int((t - shot["from"]) * fps + 1e-6)
                out.write(video[0][min(n, len(video[0]) - 1)])
            i += 1
    total = round(end * 48000)
    pcm = bytearray(total * 4)
    cues = schedule["narrations"]
    for k, n in enumerate(cues):
        at = round(n["at"] * 48000)
        until = round(cues[k + 1]["at"] * 48000) if k + 1 < len(cues) else total
        sound = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", local(n["path"], base),
                                "-f", "s16le", "-ar", "48000", "-ac", "2", "-"],
                               capture_output=True, check=True).stdout
        sound = sound[:(until - at) * 4]
        pcm[at * 4:at * 4 + len(sound)] = sound
    raw_a = os.path.join(work, "scheduled.pcm")
    with open(raw_a, "wb") as out:
        out.write(pcm)
    return raw_v, raw_a


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
        scheduled = scheduled_input(schedule, args.size, os.path.dirname(course), work)
        for fmt in ("mp4", "webm"):
            speeds, cpu, alone, ratios, on_decoded = [], [], [], [], []
            # Each export beside the encoders alone, so a load that comes
            # and goes on a shared machine touches both.
            for i in range(args.runs):
                out = os.path.join(work, f"{fmt}-{i}")
                c0, t0 = children_cpu(), time.monotonic()
                run([strovia, "export", "--content", course, "--posture", args.posture,
                     "--format", fmt, "--size", args.size, "-o", out])
                wall, used = time.monotonic() - t0, children_cpu() - c0
                speeds.append(seconds / wall)
                cpu.append(used / seconds)
                alone.append(encode_cpu(fmt, *scheduled, args.size, work) / seconds)
                ratios.append(cpu[-1] / alone[-1])
                exported = [os.path.join(out, f) for f in os.listdir(out)
                            if f.endswith("." + fmt)]
                decoded = decoded_output(exported[0], work)
                on_decoded.append(cpu[-1] / (encode_cpu(fmt, *decoded, args.size, work) / seconds))
                for f in decoded:
                    os.remove(f)
            export_cpu, alone_cpu = statistics.median(cpu), statistics.median(alone)
            result[fmt] = {"speed_x_real_time": round(statistics.median(speeds), 2),
                           "speeds": [round(s, 2) for s in speeds],
                           "cpu_s_per_programme_s": round(export_cpu, 3),
                           "encoder_alone_cpu_s_per_programme_s": round(alone_cpu, 3),
                           "cpu_x_encoder_alone": round(statistics.median(ratios), 2),
                           "ratios": [round(r, 2) for r in ratios],
                           "cpu_x_encoder_on_decoded_output":
                               round(statistics.median(on_decoded), 2)}
            print(f"{fmt}: {args.posture} ({seconds:.1f} s) exported at "
                  f"{result[fmt]['speed_x_real_time']}x real time (median of {args.runs}), "
                  f"{round(export_cpu, 3)} CPU s per programme s; "
                  f"{result[fmt]['cpu_x_encoder_alone']}x the encoders alone "
                  f"({round(alone_cpu, 3)}; each run {result[fmt]['ratios']}); "
                  f"{result[fmt]['cpu_x_encoder_on_decoded_output']}x against the exported "
                  f"file decoded again")
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
