#!/usr/bin/env python3
"""Throughput of clipspout against a baseline writer, through the same pipe
into the same discarding reader. Runs tool and baseline alternately so the
ratio holds on a noisy machine; reports MB/s, frames/s, the ratio and the
tool's peak resident memory."""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

def y4m_header(width, height, chroma):
    return len(f"YUV4MPEG2 W{width} H{height} F25:1 Ip A0:0 C{chroma}\n")


CASES = {
    # name: (mode, script, header bytes, bytes a frame or second, how many, unit)
    "video 1920x1080 YV12": ("video", 'BlankClip(length={n}, width=1920, height=1080, pixel_type="YV12", fps=25)',
                             y4m_header(1920, 1080, "420"), 1920 * 1080 * 3 // 2 + 6, 3000, "frames"),
    "video 640x480 YV12": ("video", 'BlankClip(length={n}, width=640, height=480, pixel_type="YV12", fps=25)',
                           y4m_header(640, 480, "420"), 640 * 480 * 3 // 2 + 6, 20000, "frames"),
    # Rows the frame server pads (a pitch past the width): many pieces a frame.
    "video 1366x768 YV12": ("video", 'BlankClip(length={n}, width=1366, height=768, pixel_type="YV12", fps=25)',
                            y4m_header(1366, 768, "420"), 1366 * 768 * 3 // 2 + 6, 6000, "frames"),
    "video 3840x2160 YV24": ("video", 'BlankClip(length={n}, width=3840, height=2160, pixel_type="YV24", fps=25)',
                             y4m_header(3840, 2160, "444"), 3840 * 2160 * 3 + 6, 600, "frames"),
    "video 1920x1080 10-bit 4:2:0": ("--depth=keep video", 'BlankClip(length={n}, width=1920, height=1080, '
                                     'pixel_type="YUV420P10", fps=25)', y4m_header(1920, 1080, "420p10") + 20,
                                     1920 * 1080 * 3 + 6, 1500, "frames"),
    "video 3840x2160 16-bit 4:4:4": ("--depth=keep video", 'BlankClip(length={n}, width=3840, height=2160, '
                                     'pixel_type="YUV444P16", fps=25)', y4m_header(3840, 2160, "444p16") + 20,
                                     3840 * 2160 * 6 + 6, 150, "frames"),
    "video 7680x4320 16-bit 4:4:4": ("--depth=keep video", 'BlankClip(length={n}, width=7680, height=4320, '
                                     'pixel_type="YUV444P16", fps=25)', y4m_header(7680, 4320, "444p16") + 20,
                                     7680 * 4320 * 6 + 6, 40, "frames"),
    # One Cluster a frame: about 30 bytes of heads beside the frame and its
    # samples, and some 400 before the first (the stream's own head).
    "mkv 1920x1080 YV12 + 48 kHz 5.1": ("mkv", 'BlankClip(length={n}, width=1920, height=1080, pixel_type="YV12", '
                                        'fps=25, audio_rate=48000, channels=6){silence}', 400,
                                        1920 * 1080 * 3 // 2 + 1920 * 12 + 30, 3000, "frames"),
    "mkv 1920x1080 10-bit 4:2:0": ("--depth=keep mkv", 'BlankClip(length={n}, width=1920, height=1080, '
                                   'pixel_type="YUV420P10", fps=25).KillAudio()', 400, 1920 * 1080 * 3 + 30, 1500,
                                   "frames"),
    "audio 48 kHz 8 ch 32-bit": ("audio", 'BlankClip(length={n}, fps=1, audio_rate=48000, channels=8, '
                                 'sample_type="32bit").KillVideo(){silence}', 80, 48000 * 8 * 4, 3600, "seconds"),
    # 90 minutes of 5.1 at 24 bits: past 4 GiB, so the RF64 header.
    "audio RF64 5.1 24-bit film": ("--rf64=auto --channel-mask=auto audio", 'BlankClip(length={n}, fps=1, '
                                   'audio_rate=48000, channels=6, sample_type="24bit").KillVideo(){silence}', 104,
                                   48000 * 6 * 3, 5400, "seconds"),
}

# The same stream, with the tool starting the reader itself (clipspout MODE
# SCRIPT PROGRAM) rather than a shell's pipe joining the two.
STARTS_READER = {"video 1920x1080 YV12, reader started": "video 1920x1080 YV12"}
CASES["video 1920x1080 YV12, reader started"] = CASES["video 1920x1080 YV12"]

# meter against the bare loop that fetches the same frames (bench_fetch): frames that cost nothing (what meter
# itself adds to each frame) and frames a filter works (what that is worth);
# the stand-in has no Animate, so the second is the real server's alone.
METER_CASES = {
    "meter 1920x1080 YV12 blank, 3000 frames": ('BlankClip(length={n}, width=1920, height=1080, '
                                                'pixel_type="YV12", fps=25)', 3000, None),
    "meter 1280x720 YV12 Levels, 600 frames": ('BlankClip(length={n}, width=1280, height=720, pixel_type="YV12", '
                                               'fps=25).Animate(0, {n}, "Levels", 0, 1.0, 255, 0, 255, 0, 1.0, '
                                               '255, 200, 255)', 600, "AviSynth+"),
}

# The real BlankClip's audio is zeros; the stand-in is told to give zeros too
# (StandinSilence), so that neither pays for a pattern a baseline never computes.
SILENCE = {"stand-in": ".StandinSilence()", "AviSynth+": ""}


# Every road keeps at least this share of the baseline writer's speed, and
# meter at least this share of the bare loop's.
THROUGHPUT_FLOOR = 0.95


def verdict(holds, rule):
    return ("ok" if holds else "BELOW") + f" ({rule})"


def run_pipeline(writer, env, reader, stats_file):
    """Runs writer | reader (or the writer alone, where reader is None and the
    writer starts it); returns (seconds, writer's status, writer's peak
    resident memory in KiB, writer's CPU seconds). GNU time starts the writer
    and leaves its figures in stats_file (a child forked from Python would
    count Python's memory too)."""
    writer = ["/usr/bin/time", "-f", "%M %U %S", "-o", stats_file] + writer
    start = time.perf_counter()
    w = subprocess.Popen(writer, stdout=subprocess.PIPE if reader else subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, env=env)
    r = subprocess.Popen([reader], stdin=w.stdout) if reader else None
    if r:
        w.stdout.close()
    status = w.wait()
    if r:
        r.wait()
    seconds = time.perf_counter() - start
    with open(stats_file) as f:
        rss, user, system = f.read().split()[-3:]
    return seconds, status, int(rss), float(user) + float(system)


def cases_on_servers(cases, servers, only):
    """Each case whose name holds only, on each frame server: (name, case,
    server, environment that loads it)."""
    for name, case in cases.items():
        if only not in name:
            continue
        for server, library in servers:
            yield name, case, server, dict(os.environ, LD_LIBRARY_PATH=library)


def best_and_paired(times, base_times):
    """The best time of each, and the median of base over times taken round
    by round, where both ran a moment apart."""
    paired = statistics.median(b / t for b, t in zip(base_times, times))
    return min(times), min(base_times), paired


def write_bench_script(folder, file_name, text):
    path = os.path.join(folder, file_name)
    with open(path, "w") as f:
        f.write(text + "\n")
    return path


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--scale", type=float, default=1.0, help="multiplies the clip lengths")
    parser.add_argument("--real", metavar="FOLDER", help="also measure against the AviSynth+ in FOLDER")
    parser.add_argument("--only", default="", help="only the cases whose name holds this text")
    args = parser.parse_args()

    tool = os.path.join(args.build, "clipspout")
    baseline = os.path.join(args.build, "bench", "bench_baseline")
    reader = os.path.join(args.build, "bench", "bench_discard")
    servers = [("stand-in", os.path.join(args.build, "standin"))]
    if args.real:
        servers.append(("AviSynth+", args.real))

    # ratio: best baseline time over best tool time; paired: the median of
    # the same ratio taken round by round, where both ran a moment apart.
    # CPU: the writer's own user and system time, best round.
    print(f"{'case':38} {'frame server':12} {'tool MB/s':>10} {'base MB/s':>10} {'ratio':>6} {'paired':>6} "
          f"{'CPU tool':>8} {'CPU base':>8} {'units/s':>14} {'peak RSS':>9} verdict")
    with tempfile.TemporaryDirectory() as folder:
        for name, (mode, script, header, chunk, count, unit), server, env in cases_on_servers(CASES, servers,
                                                                                              args.only):
            count = max(1, int(count * args.scale))
            path = write_bench_script(folder, "bench.avs", script.format(n=count, silence=SILENCE[server]))
            total = header + chunk * count
            tool_times, base_times, tool_cpu, base_cpu, peak = [], [], [], [], 0
            stats = os.path.join(folder, "stats")
            for _ in range(args.rounds):
                if name in STARTS_READER:
                    seconds, status, rss, cpu = run_pipeline([tool, *mode.split(), path, reader], env, None, stats)
                else:
                    seconds, status, rss, cpu = run_pipeline([tool, *mode.split(), path], env, reader, stats)
                if status != 0:
                    sys.exit(f"clipspout {mode} failed with status {status}")
                tool_times.append(seconds)
                tool_cpu.append(cpu)
                peak = max(peak, rss)
                seconds, status, rss, cpu = run_pipeline([baseline, str(header), str(chunk), str(count)], env,
                                                         reader, stats)
                base_times.append(seconds)
                base_cpu.append(cpu)
            tool_best, base_best, paired = best_and_paired(tool_times, base_times)
            print(f"{name:38} {server:12} {total / tool_best / 1e6:10.0f} {total / base_best / 1e6:10.0f} "
                  f"{base_best / tool_best:6.2f} {paired:6.2f} {min(tool_cpu):5.2f}s {min(base_cpu):5.2f}s "
                  f"{count / tool_best:7.1f} {unit + '/s':6} {peak / 1024:7.1f}MB "
                  f"{verdict(paired >= THROUGHPUT_FLOOR, f'paired >= {THROUGHPUT_FLOOR}')}")
            sys.stdout.flush()
        memory_rows(args, servers, folder)
        meter_rows(args, servers, folder)
        if args.real and args.only in "meter":
            meter_on_real_server(args, dict(os.environ, LD_LIBRARY_PATH=args.real), folder)


# Peak memory against clip length: the queue holds the same few frames
# however long the clip, so four times the frames may cost no more than
# this much beside.
MEMORY_CASES = {
    "1920x1080 YV12": ("video", 'BlankClip(length={n}, width=1920, height=1080, pixel_type="YV12", fps=25)', 250,
                       1920 * 1080 * 3 // 2),
    "7680x4320 16-bit 4:4:4": ("--depth=keep video", 'BlankClip(length={n}, width=7680, height=4320, '
                               'pixel_type="YUV444P16", fps=25)', 10, 7680 * 4320 * 6),
}
MEMORY_SLACK_MB = 8


def memory_rows(args, servers, folder):
    """The tool's peak resident memory at a clip length and at four times
    it, and what the queue may hold at that frame size."""
    tool = os.path.join(args.build, "clipspout")
    reader = os.path.join(args.build, "bench", "bench_discard")
    stats = os.path.join(folder, "stats")
    # The queue's bounds, as src/writers/write_queue.h has them.
    most_packets, most_bytes = 8, 64 << 20
    cases = {"memory " + name: case for name, case in MEMORY_CASES.items()}
    for name, (mode, script, count, frame), server, env in cases_on_servers(cases, servers, args.only):
        peaks = []
        for length in (count, count * 4):
            path = write_bench_script(folder, "memory.avs", script.format(n=length))
            _, status, rss, _ = run_pipeline([tool, *mode.split(), path], env, reader, stats)
            if status != 0:
                sys.exit(f"clipspout {mode} failed with status {status}")
            peaks.append(rss / 1024)
        queued = max(1, min(most_packets, most_bytes // frame))
        holds = peaks[1] <= peaks[0] + MEMORY_SLACK_MB
        print(f"{name:38} {server:12} peak {peaks[0]:.1f} MB at {count} frames, {peaks[1]:.1f} MB at "
              f"{count * 4}; the queue holds {queued} frame(s) of {frame / 1e6:.1f} MB at most "
              f"({queued * frame / 1e6:.1f} MB) {verdict(holds, f'4x the frames within {MEMORY_SLACK_MB} MB')}")
        sys.stdout.flush()


def meter_rows(args, servers, folder):
    """meter's own wall time against bench_fetch's, alternately."""
    tool = os.path.join(args.build, "clipspout")
    fetch = os.path.join(args.build, "bench", "bench_fetch")
    for name, (script, count, only_on), server, env in cases_on_servers(METER_CASES, servers, args.only):
        if only_on and server != only_on:
            continue
        count = max(1, int(count * args.scale))
        path = write_bench_script(folder, "meter.avs", script.format(n=count))
        meter_times, loop_times = [], []
        for _ in range(args.rounds):
            out = subprocess.run([tool, "--json", "meter", path], env=env, capture_output=True, text=True, check=True)
            meter_times.append(float(out.stdout.split('"wall_seconds": ')[1].split(",")[0]))
            out = subprocess.run([fetch, path], env=env, capture_output=True, text=True, check=True)
            loop_times.append(float(out.stdout))
        meter_best, loop_best, paired = best_and_paired(meter_times, loop_times)
        # Frames that cost nothing show what meter adds to each, in
        # microseconds; a ratio there says little. Frames with work must
        # keep the bare loop's speed.
        rule = (verdict(paired >= THROUGHPUT_FLOOR, f"paired >= {THROUGHPUT_FLOOR}") if only_on
                else verdict((meter_best - loop_best) / count < 1e-6, "adds < 1 us a frame"))
        print(f"{name:38} {server:12} meter {meter_best:.4f} s, bare loop {loop_best:.4f} s, "
              f"ratio {loop_best / meter_best:.3f}, paired {paired:.3f}, "
              f"meter adds {(meter_best - loop_best) / count * 1e6:.2f} us a frame {rule}")
        sys.stdout.flush()


def meter_json(tool, env, path, *options):
    out = subprocess.run([tool, *options, "--json", "meter", path], env=env, capture_output=True, text=True,
                         check=True)
    return json.loads(out.stdout)


def meter_on_real_server(args, env, folder):
    """What meter reports of a real AviSynth+ script where only a quiet
    machine lets it show: Prefetch(2) keeping two processors busy, a slow
    stretch standing out where it lies, and meter's own rate against its run
    timed from outside."""
    tool = os.path.join(args.build, "clipspout")
    work = ('ColorBars(width=1280, height=720, pixel_type="YV12").Trim(0, 159)'
            '.Animate(0, 159, "Levels", 0, 1.0, 255, 0, 255, 0, 1.0, 255, 160, 255)' + ".Blur(1.0)" * 6)
    alone = meter_json(tool, env, write_bench_script(folder, "alone.avs", work))
    prefetched = meter_json(tool, env, write_bench_script(folder, "prefetched.avs", work + ".Prefetch(2)"))
    speed_up = prefetched["per_second"] / alone["per_second"]
    holds = os.cpu_count() >= 2 and prefetched["busy_cores"] > 1.4 and alone["busy_cores"] < 1.3 and speed_up > 1.3
    print(f"{'meter: Prefetch(2), 1280x720 blurs':38} {'AviSynth+':12} busy cores {alone['busy_cores']:.2f} alone, "
          f"{prefetched['busy_cores']:.2f} prefetched; {alone['per_second']:.1f} fps against "
          f"{prefetched['per_second']:.1f} ({speed_up:.2f}x) "
          f"{verdict(holds, 'prefetched > 1.4 cores, alone < 1.3, > 1.3x the speed; 2 processors or more')}")

    # Frames 100 to 119 take forty blurs, the others two: the twenty slowest
    # after frame 0 (any first frame is slow) are that stretch.
    log = os.path.join(folder, "stretch.csv")
    stretch = write_bench_script(folder, "stretch.avs", 'ColorBars(width=1280, height=720, pixel_type="YV12")'
                                 '.Trim(0, 199).Blur(1.0).Blur(1.0)\nScriptClip("""current_frame >= 100 && '
                                 'current_frame <= 119 ? last' + ".Blur(1.0)" * 40 + ' : last""")')
    report = meter_json(tool, env, stretch, "--log", log)
    with open(log) as f:
        rows = [line.split(",") for line in f.read().splitlines()[2:]]
    slowest = sorted(int(r[0]) for r in sorted(rows, key=lambda r: -float(r[2]))[:20])
    print(f"{'meter: a slow stretch, frames 100-119':38} {'AviSynth+':12} the 20 slowest after frame 0: "
          f"{slowest[0]}..{slowest[-1]}, picture {report['speed_picture']} "
          f"{verdict(slowest == list(range(100, 120)), 'exactly frames 100 to 119')}")

    # The meter's own clock against its run timed from outside, less what
    # info's run takes (the same start, loading and script, no frames); and
    # video, which fetches the same frames and writes them too, no faster.
    outside = write_bench_script(folder, "outside.avs", 'ColorBars(width=1280, height=720, pixel_type="YV12")'
                                 '.Trim(0, 239)' + ".Blur(1.0)" * 4)
    def seconds(mode):
        start = time.perf_counter()
        subprocess.run([tool, mode, outside], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True)
        return time.perf_counter() - start
    fps = meter_json(tool, env, outside)["per_second"]
    start = seconds("info")
    meter_fps, video_fps = 240 / (seconds("meter") - start), 240 / (seconds("video") - start)
    holds = 0.8 < fps / meter_fps < 1.25 and fps > video_fps * 0.9
    print(f"{'meter: its rate against outside':38} {'AviSynth+':12} {fps:.1f} fps said, {meter_fps:.1f} timed "
          f"from outside, video {video_fps:.1f} {verdict(holds, 'within 0.8-1.25 of outside, >= 0.9 of video')}")
    sys.stdout.flush()


if __name__ == "__main__":
    main()
