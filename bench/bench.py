#!/usr/bin/env python3
"""Throughput of clipspout against a baseline writer, through the same pipe
into the same discarding reader. Runs tool and baseline alternately so the
ratio holds on a noisy machine; reports MB/s, frames/s, the ratio and the
tool's peak resident memory."""

import argparse
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
    "video 3840x2160 YV24": ("video", 'BlankClip(length={n}, width=3840, height=2160, pixel_type="YV24", fps=25)',
                             y4m_header(3840, 2160, "444"), 3840 * 2160 * 3 + 6, 600, "frames"),
    "video 1920x1080 10-bit 4:2:0": ("--depth=keep video", 'BlankClip(length={n}, width=1920, height=1080, '
                                     'pixel_type="YUV420P10", fps=25)', y4m_header(1920, 1080, "420p10") + 20,
                                     1920 * 1080 * 3 + 6, 1500, "frames"),
    "video 3840x2160 16-bit 4:4:4": ("--depth=keep video", 'BlankClip(length={n}, width=3840, height=2160, '
                                     'pixel_type="YUV444P16", fps=25)', y4m_header(3840, 2160, "444p16") + 20,
                                     3840 * 2160 * 6 + 6, 150, "frames"),
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
          f"{'CPU tool':>8} {'CPU base':>8} {'units/s':>14} {'peak RSS':>9}")
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
                  f"{count / tool_best:7.1f} {unit + '/s':6} {peak / 1024:7.1f}MB")
            sys.stdout.flush()
        meter_rows(args, servers, folder)


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
        print(f"{name:38} {server:12} meter {meter_best:.4f} s, bare loop {loop_best:.4f} s, "
              f"ratio {loop_best / meter_best:.3f}, paired {paired:.3f}, "
              f"meter adds {(meter_best - loop_best) / count * 1e6:.2f} us a frame")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
