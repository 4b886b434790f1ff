#!/usr/bin/env python3
"""A whole encode against its parts: a 1080p H.264 file made by ffmpeg,
opened through FFMS2 in a real AviSynth+, resized to 720p with a filter's
cost, into x264 --threads 1. Each round times, one after another in an
order that turns round by round:

  script   the tool into a discarding reader (what the script and the tool cost)
  x264     x264 alone, reading the same stream from a y4m file
  both     the two above at once, unjoined: what the machine gives two
           busy processes side by side, the floor of any pipeline here
  shell    clipspout video S.avs | x264 ... -
  started  clipspout video S.avs x264 ... -   (the tool starts x264 itself)
  open     clipspout info S.avs: the script's import (the source's index,
           its decoder), which the encoder waits through for its first frame

and prints the medians over the rounds of shell / max(script, x264),
started / max(script, x264), both / max(script, x264) and started / shell,
each taken within its round, with the tool's peak resident memory on both
roads. A joined pipeline cannot start encoding before the script has opened
its source, so it also prints both roads against the floor that leaves,
max(script, open + x264).
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

# name: (the script's work after the resize, x264's preset); tuned on a
# 2-core machine so that the script and x264 take about the same time,
# x264 about half of it, and x264 about four times it.
CASES = {
    "balanced": (".Blur(1.0)" * 4, "faster"),
    "encoder faster": (".Blur(1.0)" * 8, "ultrafast"),
    "encoder slower": ("", "medium"),
}

# Both roads within this share of the slower part, the started road within
# this share of the shell's.
WITHIN_SLOWER_PART, WITHIN_SHELL = 1.03, 1.02


def timed(command, stdin=None, stdout=None, stats=None):
    """Runs command to its end; returns its wall seconds (and the peak
    resident KiB GNU time wrote into stats, where given)."""
    if stats:
        command = ["/usr/bin/time", "-f", "%M", "-o", stats] + command
    start = time.perf_counter()
    subprocess.run(command, stdin=stdin, stdout=stdout or subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    seconds = time.perf_counter() - start
    if not stats:
        return seconds, 0
    with open(stats) as f:
        return seconds, int(f.read().split()[-1])


def timed_pipe(writer, reader, stats):
    """writer | reader, as a shell joins them; returns wall seconds and the
    writer's peak resident KiB."""
    writer = ["/usr/bin/time", "-f", "%M", "-o", stats] + writer
    start = time.perf_counter()
    w = subprocess.Popen(writer, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    r = subprocess.Popen(reader, stdin=w.stdout, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    w.stdout.close()
    if w.wait() != 0 or r.wait() != 0:
        sys.exit(f"bench: {' '.join(writer)} | {' '.join(reader)} failed")
    seconds = time.perf_counter() - start
    with open(stats) as f:
        return seconds, int(f.read().split()[-1])


def timed_side_by_side(first, second):
    """Both pipelines at once, each a list of commands joined by pipes;
    returns the wall seconds until the last ends."""
    start = time.perf_counter()
    running = []
    for pipeline in (first, second):
        previous = None
        for i, (command, stdin) in enumerate(pipeline):
            last = i == len(pipeline) - 1
            p = subprocess.Popen(command, stdin=previous.stdout if previous else stdin,
                                 stdout=subprocess.DEVNULL if last else subprocess.PIPE, stderr=subprocess.DEVNULL)
            if previous:
                previous.stdout.close()
            running.append(p)
            previous = p
    if any(p.wait() != 0 for p in running):
        sys.exit("bench: a part run side by side failed")
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--real", required=True, metavar="FOLDER", help="the AviSynth+ to measure against")
    parser.add_argument("--ffms2", required=True, metavar="PLUGIN", help="FFMS2's AviSynth+ plugin")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--frames", type=int, default=720)
    parser.add_argument("--only", default="", help="only the cases whose name holds this text")
    args = parser.parse_args()
    tool = os.path.abspath(os.path.join(args.build, "clipspout"))
    discard = os.path.abspath(os.path.join(args.build, "bench", "bench_discard"))
    os.environ["LD_LIBRARY_PATH"] = args.real

    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "film.mkv")
        subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                        f"testsrc2=size=1920x1080:rate=24000/1001,noise=alls=12:allf=t",
                        "-frames:v", str(args.frames), "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
                        source], check=True)
        print(f"whole encode: {args.frames} frames of 1080p H.264 through FFMS2, 720p into x264 --threads 1, "
              f"{args.rounds} rounds; seconds are medians")
        print(f"{'case':16} {'script':>7} {'x264':>7} {'both':>7} {'shell':>7} {'started':>7} "
              f"{'shell/max':>9} {'started/max':>11} {'both/max':>8} {'started/shell':>13} {'peak RSS':>9} verdict")
        stats = os.path.join(folder, "stats")
        for name, (work, preset) in CASES.items():
            if args.only not in name:
                continue
            script = os.path.join(folder, "encode.avs")
            with open(script, "w") as f:
                f.write(f'LoadPlugin("{args.ffms2}")\nFFVideoSource("{source}", threads=1)'
                        f'.Spline36Resize(1280, 720){work}\n')
            # The index, made once, and the y4m file x264 alone reads.
            stream = os.path.join(folder, "encode.y4m")
            with open(stream, "wb") as f:
                subprocess.run([tool, "video", script], stdout=f, stderr=subprocess.DEVNULL, check=True)
            x264 = ["x264", "--threads", "1", "--preset", preset, "--quiet", "--demuxer", "y4m", "-o",
                    os.path.join(folder, "out.264")]
            rounds = {"script": [], "x264": [], "both": [], "shell": [], "started": [], "open": []}
            peak = 0

            def run_part(part):
                nonlocal peak
                if part == "script":
                    return timed_pipe([tool, "video", script], [discard], stats)[0]
                if part == "x264":
                    return timed(x264 + [stream])[0]
                if part == "open":
                    return timed([tool, "info", script])[0]
                if part == "both":
                    with open(stream, "rb") as y4m:
                        return timed_side_by_side([([tool, "video", script], None), ([discard], None)],
                                                  [(x264 + ["-"], y4m)])
                if part == "shell":
                    seconds, rss = timed_pipe([tool, "video", script], x264 + ["-"], stats)
                else:
                    seconds, rss = timed([tool, "video", script] + x264 + ["-"], stats=stats)
                peak = max(peak, rss)
                return seconds

            parts = list(rounds)
            for r in range(args.rounds):
                order = parts[r % len(parts):] + parts[:r % len(parts)]
                for part in order:
                    rounds[part].append(run_part(part))
            slower = [max(s, x) for s, x in zip(rounds["script"], rounds["x264"])]
            shell_ratio = statistics.median(t / m for t, m in zip(rounds["shell"], slower))
            started_ratio = statistics.median(t / m for t, m in zip(rounds["started"], slower))
            both_ratio = statistics.median(t / m for t, m in zip(rounds["both"], slower))
            road_ratio = statistics.median(d / c for d, c in zip(rounds["started"], rounds["shell"]))
            floor = [max(s, o + x) for s, o, x in zip(rounds["script"], rounds["open"], rounds["x264"])]
            shell_floor = statistics.median(t / f for t, f in zip(rounds["shell"], floor))
            started_floor = statistics.median(t / f for t, f in zip(rounds["started"], floor))
            holds = shell_ratio <= WITHIN_SLOWER_PART and started_ratio <= WITHIN_SLOWER_PART and \
                road_ratio <= WITHIN_SHELL
            median = {part: statistics.median(times) for part, times in rounds.items()}
            print(f"{name:16} {median['script']:7.2f} {median['x264']:7.2f} {median['both']:7.2f} "
                  f"{median['shell']:7.2f} {median['started']:7.2f} {shell_ratio:9.3f} {started_ratio:11.3f} "
                  f"{both_ratio:8.3f} {road_ratio:13.3f} "
                  f"{peak / 1024:7.1f}MB {'ok' if holds else 'ABOVE'} (<= {WITHIN_SLOWER_PART} of the slower part, "
                  f"started <= {WITHIN_SHELL} of shell); open {median['open']:.2f} s, "
                  f"shell/floor {shell_floor:.3f}, started/floor {started_floor:.3f}")
            sys.stdout.flush()


if __name__ == "__main__":
    main()
