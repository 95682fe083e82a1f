#!/usr/bin/env python3
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

"""Saving a take as FLAC, Ogg Vorbis, MP3 and Opus against `flac -5`, `oggenc -q 5`, `lame -V 2`
and `opusenc --bitrate 96` on the same WAV file. Prints figures; never fails.

    bench/bench_encode.py BUILD_DIR WORK_DIR

The take is 44.1 kHz/16-bit/stereo, BENCH_MINUTES long (default 60): a 10-second loop of
plucked-string chords (sox `synth pluck`, three notes a chord, four chords, panned) mixed with
pink noise at about -34 dBFS, so neither encoder meets silence or a pure tone. BENCH_RUNS
(default 5) runs of each, alternating, medians reported: wall time, and CPU time (user +
system), which a shared machine disturbs less. Tavrin's times include its fsync and rename;
the tools' include no sync. BENCH_FORMATS (default flac,ogg,mp3,opus) picks the formats. The
MP3 and Opus files of both sides are decoded once through libsndfile to the end, and their
lengths compared with the take's.
"""
import hashlib
import os
import resource
import shutil
import statistics
import struct
import subprocess
import sys
import time

MINUTES = float(os.environ.get("BENCH_MINUTES", "60"))
RUNS = int(os.environ.get("BENCH_RUNS", "5"))
FORMATS = os.environ.get("BENCH_FORMATS", "flac,ogg,mp3,opus").split(",")
VORBIS_Q = 5  # kVorbisQuality (0.5) on oggenc's scale
MP3_V = 2  # kMp3VbrQuality
OPUS_KBPS = 96  # opusBitrateFor(44100, 2)


def say(*args):
    print(*args, flush=True)


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw)


def make_take(work):
    take = os.path.join(work, "take.wav")
    if os.path.exists(take):
        return take
    chords = [("A2", "C#3", "E3"), ("D3", "F#3", "A3"), ("E3", "G#3", "B3"), ("C#3", "E3", "A3")]
    parts = []
    for i, (a, b, c) in enumerate(chords):
        p = os.path.join(work, f"chord{i}.wav")
        run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", p, "synth", "2.5",
             "pluck", a, "pluck", b, "pluck", c, "remix", "1,2v0.6", "2,3v0.6", "gain", "-n", "-3"])
        parts.append(p)
    chords_wav = os.path.join(work, "chords.wav")
    run(["sox", *parts, chords_wav])
    noise = os.path.join(work, "noise.wav")
    run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", noise, "synth", "10", "pinknoise", "vol", "0.02"])
    seed = os.path.join(work, "seed.wav")
    run(["sox", "-m", chords_wav, noise, seed])
    repeats = max(0, int(MINUTES * 6) - 1)
    run(["sox", seed, take, "repeat", str(repeats)])
    for p in parts + [chords_wav, noise, seed]:
        os.remove(p)
    return take


def wav_data_md5(path):
    with open(path, "rb") as f:
        f.seek(12)
        while True:
            head = f.read(8)
            if len(head) < 8:
                return None
            cid, size = head[:4], struct.unpack("<I", head[4:])[0]
            if cid == b"data":
                h = hashlib.md5()
                left = size
                while left > 0:
                    block = f.read(min(left, 1 << 22))
                    if not block:
                        break
                    h.update(block)
                    left -= len(block)
                return h.hexdigest()
            f.seek(size + (size & 1), 1)


def flac_pcm_md5(path):
    p = subprocess.Popen(["flac", "-d", "-c", "-s", "--force-raw-format", "--endian=little",
                          "--sign=signed", path], stdout=subprocess.PIPE)
    h = hashlib.md5()
    for block in iter(lambda: p.stdout.read(1 << 22), b""):
        h.update(block)
    p.wait()
    return h.hexdigest() if p.returncode == 0 else None


def timed(cmd):
    """Wall seconds, CPU seconds (user + system) and stdout of a command; None when it fails."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t = time.monotonic()
    out = subprocess.run(cmd, capture_output=True, text=True)
    wall = time.monotonic() - t
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if out.returncode != 0:
        say(f"encode: {os.path.basename(cmd[0])} failed: {out.stdout.strip()} {out.stderr.strip()}")
        return None
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, out.stdout


def decoded_seconds(driver, path):
    """The length of path decoded to its end through libsndfile, in seconds; None on failure."""
    out = subprocess.run([driver, "--decode", path], capture_output=True, text=True).stdout
    v = dict(l.split(None, 1) for l in out.splitlines() if " " in l)
    if "decoded_frames" not in v:
        return None
    return int(v["decoded_frames"]) / int(v["decoded_rate"])


def main():
    if len(sys.argv) < 3:
        say(__doc__)
        return
    build, work = sys.argv[1], os.path.join(sys.argv[2], "encode")
    os.makedirs(work, exist_ok=True)
    tool_of = {"flac": "flac", "ogg": "oggenc", "mp3": "lame", "opus": "opusenc"}
    for tool in ["sox"] + [tool_of[f] for f in FORMATS]:
        if not shutil.which(tool):
            say(f"encode: {tool} is missing; skipped")
            return
    driver = os.path.join(os.path.abspath(build), "bench", "bench_encode")
    take = make_take(work)
    take_seconds = (os.path.getsize(take) - 44) / (44100 * 4)
    say(f"encode: take {os.path.getsize(take) / 1e6:.0f} MB, {MINUTES:g} min 44.1 kHz/16/2")
    ours = {f: os.path.join(work, f"ours.{f}") for f in FORMATS}
    refs = {f: os.path.join(work, f"ref.{f}") for f in FORMATS}
    tools = {"flac": ["flac", "-5", "-f", "-s", "-o", refs.get("flac"), take],
             "ogg": ["oggenc", "-Q", "-q", str(VORBIS_Q), "-o", refs.get("ogg"), take],
             "mp3": ["lame", "--quiet", "-V", str(MP3_V), take, refs.get("mp3")],
             "opus": ["opusenc", "--quiet", "--bitrate", str(OPUS_KBPS), take, refs.get("opus")]}
    names = {"flac": ("FLAC", "flac -5"), "ogg": ("Vorbis", f"oggenc -q {VORBIS_Q}"),
             "mp3": ("MP3", f"lame -V {MP3_V}"), "opus": ("Opus", f"opusenc --bitrate {OPUS_KBPS}")}
    times = {f"{side}-{f}": [] for f in FORMATS for side in ("ours", "tool")}
    cpus = {k: [] for k in times}
    for _ in range(RUNS):
        for fmt in FORMATS:
            for p in (ours[fmt], refs[fmt]):
                if os.path.exists(p):
                    os.remove(p)
            r = timed([driver, take, ours[fmt], fmt])
            if not r:
                return
            # The driver's own figure leaves out its start-up and the WAV header's reading.
            secs = [float(l.split()[1]) for l in r[2].splitlines() if l.startswith("encode_seconds")]
            times[f"ours-{fmt}"].append(secs[0])
            cpus[f"ours-{fmt}"].append(r[1])
            r = timed(tools[fmt])
            if not r:
                return
            times[f"tool-{fmt}"].append(r[0])
            cpus[f"tool-{fmt}"].append(r[1])
    med = {k: statistics.median(v) for k, v in times.items()}
    cpu = {k: statistics.median(v) for k, v in cpus.items()}
    for f in FORMATS:
        name, tool = names[f]
        # Each run's two figures side by side: the machine's load changes less within a pair.
        paired = statistics.median(a / b for a, b in zip(times[f"ours-{f}"], times[f"tool-{f}"]))
        size = os.path.getsize(ours[f]), os.path.getsize(refs[f])
        say(f"encode: {name:6} Tavrin {med[f'ours-{f}']:.2f} s  {tool} {med[f'tool-{f}']:.2f} s  "
            f"ratio {med[f'ours-{f}'] / med[f'tool-{f}']:.2f}, paired {paired:.3f} (target <= 1)  "
            f"runs {', '.join(f'{x:.2f}' for x in times[f'ours-{f}'])} / "
            f"{', '.join(f'{x:.2f}' for x in times[f'tool-{f}'])}")
        say(f"encode: {name:6} CPU Tavrin {cpu[f'ours-{f}']:.2f} s  {tool} {cpu[f'tool-{f}']:.2f} s  "
            f"ratio {cpu[f'ours-{f}'] / cpu[f'tool-{f}']:.2f}")
        extra = ""
        if f == "flac":
            lossless = flac_pcm_md5(ours[f]) == wav_data_md5(take)
            extra = f"(target <= 1.02)  lossless {'yes' if lossless else 'NO'}"
        elif f in ("mp3", "opus"):
            extra = "(target 0.95-1.05)"
        say(f"encode: {name:6} size Tavrin {size[0] / 1e6:.1f} MB  {tool} {size[1] / 1e6:.1f} MB  "
            f"ratio {size[0] / size[1]:.4f} {extra}  "
            f"({size[0] * 8 / take_seconds / 1000:.0f} / {size[1] * 8 / take_seconds / 1000:.0f} kb/s, "
            f"one minute {size[0] * 60 / take_seconds / 1e6:.2f} MB)")
        if f in ("mp3", "opus"):
            ms = [decoded_seconds(driver, p) for p in (ours[f], refs[f])]
            shown = ["failed" if m is None else f"{(m - take_seconds) * 1000:+.2f} ms" for m in ms]
            say(f"encode: {name:6} decoded length minus the take's: Tavrin {shown[0]}  {tool} {shown[1]}  "
                f"(target within 20 ms)")


if __name__ == "__main__":
    main()
