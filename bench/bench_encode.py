#!/usr/bin/env python3
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

"""Saving a take as FLAC and Ogg Vorbis against `flac -5` and `oggenc` on the same WAV file.
Prints figures; never fails.

    bench/bench_encode.py BUILD_DIR WORK_DIR

The take is 44.1 kHz/16-bit/stereo, BENCH_MINUTES long (default 60): a 10-second loop of
plucked-string chords (sox `synth pluck`, three notes a chord, four chords, panned) mixed with
pink noise at about -34 dBFS, so neither encoder meets silence or a pure tone. BENCH_RUNS
(default 5) runs of each, alternating, medians reported: wall time, and CPU time (user +
system), which a shared machine disturbs less. Tavrin's times include its fsync and rename;
the tools' include no sync.
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
VORBIS_Q = 5  # kVorbisQuality (0.5) on oggenc's scale


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


def main():
    if len(sys.argv) < 3:
        say(__doc__)
        return
    build, work = sys.argv[1], os.path.join(sys.argv[2], "encode")
    os.makedirs(work, exist_ok=True)
    for tool in ("sox", "flac", "oggenc"):
        if not shutil.which(tool):
            say(f"encode: {tool} is missing; skipped")
            return
    driver = os.path.join(os.path.abspath(build), "bench", "bench_encode")
    take = make_take(work)
    say(f"encode: take {os.path.getsize(take) / 1e6:.0f} MB, {MINUTES:g} min 44.1 kHz/16/2")
    ours = {"flac": os.path.join(work, "ours.flac"), "ogg": os.path.join(work, "ours.ogg")}
    refs = {"flac": os.path.join(work, "ref.flac"), "ogg": os.path.join(work, "ref.ogg")}
    tools = {"flac": ["flac", "-5", "-f", "-s", "-o", refs["flac"], take],
             "ogg": ["oggenc", "-Q", "-q", str(VORBIS_Q), "-o", refs["ogg"], take]}
    times = {k: [] for k in ("ours-flac", "tool-flac", "ours-ogg", "tool-ogg")}
    cpus = {k: [] for k in times}
    for _ in range(RUNS):
        for fmt in ("flac", "ogg"):
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
    # Each run's two figures side by side: the machine's load changes less within a pair.
    paired = {f: statistics.median(a / b for a, b in zip(times[f"ours-{f}"], times[f"tool-{f}"]))
              for f in ("flac", "ogg")}
    size = {k: os.path.getsize(p) for k, p in (("ours-flac", ours["flac"]), ("tool-flac", refs["flac"]),
                                                ("ours-ogg", ours["ogg"]), ("tool-ogg", refs["ogg"]))}
    lossless = flac_pcm_md5(ours["flac"]) == wav_data_md5(take)
    say(f"encode: FLAC   Tavrin {med['ours-flac']:.2f} s  flac -5 {med['tool-flac']:.2f} s  "
        f"ratio {med['ours-flac'] / med['tool-flac']:.2f}, paired {paired['flac']:.3f} (target <= 1)  "
        f"runs {', '.join(f'{x:.2f}' for x in times['ours-flac'])} / {', '.join(f'{x:.2f}' for x in times['tool-flac'])}")
    say(f"encode: FLAC   CPU Tavrin {cpu['ours-flac']:.2f} s  flac -5 {cpu['tool-flac']:.2f} s  "
        f"ratio {cpu['ours-flac'] / cpu['tool-flac']:.2f}")
    say(f"encode: FLAC   size Tavrin {size['ours-flac'] / 1e6:.1f} MB  flac -5 {size['tool-flac'] / 1e6:.1f} MB  "
        f"ratio {size['ours-flac'] / size['tool-flac']:.4f} (target <= 1.02)  lossless {'yes' if lossless else 'NO'}")
    say(f"encode: Vorbis Tavrin {med['ours-ogg']:.2f} s  oggenc -q {VORBIS_Q} {med['tool-ogg']:.2f} s  "
        f"ratio {med['ours-ogg'] / med['tool-ogg']:.2f}, paired {paired['ogg']:.3f} (target <= 1)  "
        f"runs {', '.join(f'{x:.2f}' for x in times['ours-ogg'])} / {', '.join(f'{x:.2f}' for x in times['tool-ogg'])}")
    say(f"encode: Vorbis CPU Tavrin {cpu['ours-ogg']:.2f} s  oggenc {cpu['tool-ogg']:.2f} s  "
        f"ratio {cpu['ours-ogg'] / cpu['tool-ogg']:.2f}")
    say(f"encode: Vorbis size Tavrin {size['ours-ogg'] / 1e6:.1f} MB  oggenc {size['tool-ogg'] / 1e6:.1f} MB  "
        f"({size['ours-ogg'] * 8 / (MINUTES * 60) / 1000:.0f} kb/s)")


if __name__ == "__main__":
    main()
