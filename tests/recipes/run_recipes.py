#!/usr/bin/env python3
"""Runs every command line of README.md and doc/*.md as written, against a
real AviSynth+ with FFMS2, on small media that ffmpeg makes here.

In the documents:
  ```sh            a block of commands this machine runs: run, in order,
                   each block as one bash script with errexit and pipefail
  ```sh REASON     a block that needs what a test cannot give (setup: a
                   system's packages or a build; remote: other machines;
                   display: a screen): shown, not run
  ```  (plain)     beginning with "# NAME.avs": a script, written to the
                   document's folder as NAME.avs before the blocks after it

Each document gets a folder of its own, with the media and a script for
each (film.avs, hdr.avs, phone.avs, film1080.avs, film1080i.avs,
episode1.avs) opening it through FFMS2, so that a block finds the files it
names. A document's own scripts replace them. File names are adapted, and
nothing else: a script's LoadPlugin("...libffms2.so") loads the FFMS2 of
the tests, "clipspout" is the tool built here, loading the real frame
server, and "examples/" is the project's own. FFMS2 also sits in the
folder AviSynth+ loads plugins from by itself ($HOME/.avisynth), for the
scripts that name no plugin.

  run_recipes.py --tool BUILD/clipspout --source PROJECT [--only TEXT]

Exits 0 when every block ran with status 0, 1 naming each that did not,
and 77 (a skip) without CLIPSPOUT_TEST_REAL_FRAMESERVER and
CLIPSPOUT_TEST_FFMS2."""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

REASONS = {"setup", "remote", "display"}

# The media every document's folder holds, as ffmpeg makes it: (file,
# ffmpeg arguments before the output).
TONE = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=10 -ac 2"
MEDIA = [
    ("film.mkv", "-f lavfi -i testsrc2=size=320x180:rate=24000/1001:duration=10.01 " + TONE +
     " -shortest -pix_fmt yuv420p -c:v libx264 -preset ultrafast -c:a aac"),
    ("film.mp4", "-f lavfi -i testsrc2=size=320x180:rate=24000/1001:duration=10.01 " + TONE +
     " -shortest -pix_fmt yuv420p -c:v libx264 -preset ultrafast -c:a aac"),
    ("hdr.mkv", "-f lavfi -i testsrc2=size=320x180:rate=24000/1001:duration=1 " + TONE +
     " -shortest -pix_fmt yuv420p10le -c:v libx265 -preset ultrafast -x265-params "
     "'log-level=error:colorprim=bt2020:transfer=smpte2084:colormatrix=bt2020nc:range=limited:chromaloc=2:"
     "master-display=G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,1):max-cll=1000,400:hdr10=1'"
     " -c:a flac"),
    # Frames of 33, 50 and 17 ms, over and over.
    ("phone.mp4", "-f lavfi -i testsrc2=size=320x180:rate=30:duration=4 " + TONE +
     " -shortest -vf \"settb=1/1000,setpts='floor(N/3)*100+if(eq(mod(N,3),1),33,if(eq(mod(N,3),2),83,0))'\""
     " -fps_mode passthrough -enc_time_base 1/1000 -pix_fmt yuv420p -c:v libx264 -preset ultrafast -c:a aac"),
    ("film1080.mkv", "-f lavfi -i testsrc2=size=1920x1080:rate=24000/1001:duration=0.5 " + TONE +
     " -shortest -pix_fmt yuv420p -c:v libx264 -preset ultrafast -c:a aac"),
    ("film1080i.mkv", "-f lavfi -i testsrc2=size=1920x1080:rate=30000/1001:duration=0.5 " + TONE +
     " -shortest -pix_fmt yuv420p -flags +ildct+ilme -top 1 -c:v libx264 -preset ultrafast -c:a aac"),
]
SCRIPTS = {"film.avs": "film.mkv", "hdr.avs": "hdr.mkv", "phone.avs": "phone.mp4", "film1080.avs": "film1080.mkv",
           "film1080i.avs": "film1080i.mkv", "episode1.avs": "film.mkv"}


def blocks_of(text):
    """The fenced blocks of a Markdown text: (info string, lines), in order,
    each line without the indent of its fence (a block in a list item)."""
    found, info, lines, indent = [], None, [], 0
    for line in text.split("\n"):
        stripped = line.strip()
        if info is None and stripped.startswith("```"):
            info, lines, indent = stripped[3:].strip(), [], len(line) - len(line.lstrip())
        elif info is not None and stripped.startswith("```"):
            found.append((info, lines))
            info = None
        elif info is not None:
            lines.append(line[indent:] if line[:indent].strip() == "" else line)
    return found


def adapt_script(text, ffms2):
    return re.sub(r'LoadPlugin\("[^"]*libffms2\.so"\)', 'LoadPlugin("%s")' % ffms2, text)


def prepare(folder, media_cache, ffms2):
    for name, _ in MEDIA:
        os.symlink(os.path.join(media_cache, name), os.path.join(folder, name))
    for script, media in SCRIPTS.items():
        with open(os.path.join(folder, script), "w") as f:
            f.write('LoadPlugin("%s")\nAudioDub(FFVideoSource("%s"), FFAudioSource("%s"))\n' % (ffms2, media, media))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--only", default="", help="only the documents whose path holds this text")
    args = parser.parse_args()
    server, ffms2 = os.environ.get("CLIPSPOUT_TEST_REAL_FRAMESERVER"), os.environ.get("CLIPSPOUT_TEST_FFMS2")
    if not server or not ffms2:
        print("recipes: skipped: they need a real AviSynth+ and FFMS2 (CLIPSPOUT_TEST_REAL_FRAMESERVER, "
              "CLIPSPOUT_TEST_FFMS2)")
        return 77
    source = os.path.abspath(args.source)
    documents = [os.path.join(source, "README.md")] + sorted(glob.glob(os.path.join(source, "doc", "*.md")))
    failures, ran, shown = [], 0, 0
    with tempfile.TemporaryDirectory(prefix="clipspout-recipes-") as work:
        # clipspout, as a user has it on PATH, loading the real frame server.
        bin_folder = os.path.join(work, "bin")
        os.makedirs(bin_folder)
        with open(os.path.join(bin_folder, "clipspout"), "w") as f:
            f.write('#!/bin/sh\nexec "%s" --frameserver="%s" "$@"\n' % (os.path.abspath(args.tool), server))
        os.chmod(os.path.join(bin_folder, "clipspout"), 0o755)
        home = os.path.join(work, "home")
        os.makedirs(os.path.join(home, ".avisynth"))
        os.symlink(ffms2, os.path.join(home, ".avisynth", "libffms2.so"))
        media_cache = os.path.join(work, "media")
        os.makedirs(media_cache)
        for name, ffmpeg in MEDIA:
            subprocess.run("ffmpeg -v error -y %s '%s'" % (ffmpeg, os.path.join(media_cache, name)), shell=True,
                           check=True)
        env = dict(os.environ, PATH=bin_folder + ":" + os.environ["PATH"], HOME=home, LC_ALL="C.UTF-8")
        for document in documents:
            name = os.path.relpath(document, source)
            if args.only not in name:
                continue
            folder = os.path.join(work, name.replace("/", "_"))
            os.makedirs(folder)
            prepare(folder, media_cache, ffms2)
            with open(document) as f:
                blocks = blocks_of(f.read())
            for info, lines in blocks:
                words = info.split()
                if words and words[0] == "sh" and len(words) > 1:
                    if words[1] not in REASONS:
                        failures.append("%s: a block marked \"%s\", which names no known reason" % (name, info))
                    shown += 1
                    continue
                if not words and lines and re.match(r"# (\S+\.avs)", lines[0]):
                    script = re.match(r"# (\S+\.avs)", lines[0]).group(1)
                    with open(os.path.join(folder, script), "w") as f:
                        f.write(adapt_script("\n".join(lines[1:]) + "\n", ffms2))
                    continue
                if words != ["sh"]:
                    continue
                commands = "\n".join(lines).replace("examples/", os.path.join(source, "examples") + "/")
                ran += 1
                try:
                    done = subprocess.run(["bash", "-c", "set -eo pipefail\n" + commands], cwd=folder, env=env,
                                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                          timeout=300)
                    status, output = done.returncode, done.stdout.decode(errors="replace")
                except subprocess.TimeoutExpired:
                    status, output = "timeout", ""
                verdict = "ok" if status == 0 else "FAILED (status %s)" % status
                print("%s: %s\n%s" % (name, verdict, "\n".join("    $ " + l for l in lines)))
                if status != 0:
                    print("\n".join("    | " + l for l in output.rstrip().split("\n")[-30:]))
                    failures.append("%s: %s" % (name, lines[0]))
    print("recipes: %d blocks run, %d shown and not run, %d failed" % (ran, shown, len(failures)))
    for failure in failures:
        print("recipes: FAILED: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
