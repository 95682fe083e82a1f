#!/usr/bin/env python3
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

"""Tavrin's benchmarks against other recorders, on a private PulseAudio and a private PipeWire.
Prints figures and the targets beside them; never fails.

    bench/bench.py BUILD_DIR WORK_DIR [clients window server latency stop gaps save]

BENCH_MINUTES scales every duration (1 = the full lengths: 10 min of the recorders side by
side, 2 min of each recorder alone, 5 min for gaps, a one-hour take for the save); e.g.
BENCH_MINUTES=0.1 for a quick run. BENCH_SERVERS=pulseaudio or pipewire runs one server only.
"""
import array
import glob
import os
import random
import re
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCALE = float(os.environ.get("BENCH_MINUTES_SCALE", os.environ.get("BENCH_MINUTES", "1")))
TICK = os.sysconf("SC_CLK_TCK")
PAGE = os.sysconf("SC_PAGE_SIZE")
RATE, CHANNELS, BPF = 44100, 2, 4
MIB = 2 ** 20


def say(*args):
    print(*args, flush=True)


def cpu_seconds(pid):
    """utime + stime of the whole process, all threads."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except (FileNotFoundError, ProcessLookupError):
        return float("nan")
    return (int(fields[11]) + int(fields[12])) / TICK


def switches(pid):
    """Voluntary + involuntary context switches, summed over the live threads."""
    total = 0
    for status in glob.glob(f"/proc/{pid}/task/*/status"):
        try:
            with open(status) as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total


def threads(pid):
    """{tid: (name, cpu seconds, context switches)} of each live thread."""
    out = {}
    for task in glob.glob(f"/proc/{pid}/task/*"):
        try:
            with open(f"{task}/stat") as f:
                head, rest = f.read().rsplit(")", 1)
            fields = rest.split()
            name = head.split("(", 1)[1]
            cs = 0
            with open(f"{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        cs += int(line.split()[1])
            out[os.path.basename(task)] = (name, (int(fields[11]) + int(fields[12])) / TICK, cs)
        except (FileNotFoundError, ProcessLookupError, IndexError):
            pass
    return out


def thread_times(pid):
    """{tid: (name, cpu seconds, context switches)}, the CPU time from schedstat (nanoseconds):
    a light thread uses a few clock ticks a minute, too few to count in ticks."""
    out = {}
    for task in glob.glob(f"/proc/{pid}/task/*"):
        try:
            with open(f"{task}/comm") as f:
                name = f.read().strip()
            with open(f"{task}/schedstat") as f:
                cpu = int(f.read().split()[0]) / 1e9
            cs = 0
            with open(f"{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        cs += int(line.split()[1])
            out[os.path.basename(task)] = (name, cpu, cs)
        except (FileNotFoundError, ProcessLookupError, IndexError, ValueError):
            pass
    return out


def start_xvfb():
    """A private X server on a display it picks itself: (process, DISPLAY value)."""
    read_end, write_end = os.pipe()
    p = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                          "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,),
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        display = f.readline().strip()
    if not display:
        p.kill()
        raise RuntimeError("Xvfb did not start")
    return p, ":" + display


def rss_bytes(pid):
    try:
        with open(f"/proc/{pid}/statm") as f:
            return int(f.read().split()[1]) * PAGE
    except (FileNotFoundError, ProcessLookupError):
        return 0


def slope(points):
    n = len(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    return sum((x - mx) * (y - my) for x, y in points) / sxx if sxx else 0.0


def verdict(ok):
    return "met" if ok else "MISSED"


class Server:
    """A private sound server from scripts/: 'pulseaudio' or 'pipewire'."""

    def __init__(self, kind, work):
        self.kind = kind
        self.dir = os.path.join(work, kind)
        self.script = os.path.join(ROOT, "scripts",
                                   "pulse-test-server.sh" if kind == "pulseaudio"
                                   else "pipewire-test-server.sh")
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.dir, QT_QPA_PLATFORM="offscreen")
        if kind == "pipewire":
            self.env["PIPEWIRE_RUNTIME_DIR"] = self.dir
        out = subprocess.run([self.script, "start", self.dir], check=True, env=self.env,
                             stdout=subprocess.PIPE, text=True).stdout.strip()
        self.env["PULSE_SERVER"] = out.splitlines()[-1]

    def close(self):
        subprocess.run([self.script, "stop", self.dir], env=self.env)

    def daemons(self):
        """{name: pid} of the server's own processes (not the test signal's)."""
        if self.kind == "pulseaudio":
            files = {"pulseaudio": os.path.join(self.dir, "pulse", "pid")}
        else:
            files = {n: os.path.join(self.dir, f"{n}.pid")
                     for n in ("pipewire", "pipewire-pulse", "wireplumber")}
        pids = {}
        for name, path in files.items():
            try:
                with open(path) as f:
                    pids[name] = int(f.read().split()[0])
            except (OSError, ValueError, IndexError):
                pass
        return pids

    def server_cpu(self):
        return {name: cpu_seconds(pid) for name, pid in self.daemons().items()}


class Bench:
    def __init__(self, build, work):
        self.build = os.path.abspath(build)
        self.work = os.path.abspath(work)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.app = os.path.join(self.work, "app")
        os.makedirs(self.app)
        # A copy of the executable with its own settings file: 44100 Hz, 16-bit, stereo.
        shutil.copy2(os.path.join(self.build, "tavr"), os.path.join(self.app, "tavr"))
        with open(os.path.join(self.app, "tavr.ini"), "w") as f:
            f.write("[Software]\nVersion=218\n[Setting]\nRecMode=13\n")
        self.server = None
        self.results = {}  # (server kind, key) -> figure
        # A desktop session's runtime folder is a tmpfs, where the take's ring lives; the test
        # servers' folders are on disk, so Tavrin gets one of its own in /dev/shm.
        self.runtime = tempfile.mkdtemp(prefix="tavr-bench-", dir="/dev/shm") if os.path.isdir("/dev/shm") else None

    def put(self, key, value):
        self.results[(self.server.kind if self.server else "", key)] = value

    def get(self, kind, key, default=float("nan")):
        return self.results.get((kind, key), default)

    # The recorders. Each returns (process, function giving the file that grows, header size).
    def out_file(self, name, tag):
        out = os.path.join(self.work, f"{name}-{self.server.kind}-{tag}.wav")
        if os.path.exists(out):
            os.unlink(out)
        return out

    def spawn(self, argv, env=None):
        return subprocess.Popen(argv, env=env or self.server.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def start_tavr(self, tag, display=None):
        state = os.path.join(self.work, f"state-{self.server.kind}-{tag}")
        shutil.rmtree(state, ignore_errors=True)
        env = dict(self.server.env, XDG_STATE_HOME=state)
        if self.runtime:
            env["XDG_RUNTIME_DIR"] = self.runtime
        if display:  # a real window on an X server rather than offscreen
            env.update(QT_QPA_PLATFORM="xcb", DISPLAY=display)
            env.pop("XAUTHORITY", None)
        p = subprocess.Popen([os.path.join(self.app, "tavr"), "-rec"], env=env, cwd=self.app,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        spool_dir = os.path.join(state, "tavrin")

        def spool():
            try:
                names = [n for n in os.listdir(spool_dir) if n.startswith("spool-")]
            except FileNotFoundError:
                return None
            return os.path.join(spool_dir, names[0]) if names else None
        return p, spool, 80

    def plain(self, name, argv_of, header=44):
        def start(tag):
            out = self.out_file(name, tag)
            p = self.spawn(argv_of(out))
            return p, (lambda: out if os.path.exists(out) else None), header
        return start

    def recorders(self):
        r = {
            "tavr": self.start_tavr,
            "parecord": self.plain("parecord", lambda out: [
                "parecord", "--rate=44100", "--format=s16le", "--channels=2",
                "--file-format=wav", out]),
            "arecord": self.plain("arecord", lambda out: [
                "arecord", "-q", "-D", "pulse", "-f", "S16_LE", "-r", "44100", "-c", "2",
                "-t", "wav", out]),
            "gst": self.plain("gst", lambda out: [
                "gst-launch-1.0", "-q", "pulsesrc", "!",
                "audio/x-raw,rate=44100,channels=2,format=S16LE", "!", "wavenc", "!",
                "filesink", f"location={out}"]),
        }
        if self.server.kind == "pipewire":
            r["pw-record"] = self.plain("pw-record", lambda out: [
                "pw-record", "--rate", "44100", "--channels", "2", "--format", "s16", out])
        return r

    @staticmethod
    def stop(p):
        p.send_signal(signal.SIGTERM)
        try:
            p.wait(5)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()

    # Every recorder side by side: client CPU, context switches, RSS (and whether it grows).
    def clients(self):
        minutes = max(10 * SCALE, 0.5)
        kind = self.server.kind
        say(f"== [{kind}] Recorders side by side, {minutes:.1f} min: client CPU, "
            f"context switches, RSS")
        recs = {k: start("side")[0] for k, start in self.recorders().items()}
        time.sleep(5)  # past start-up: the figures are for a recording that is running
        t0 = time.monotonic()
        cpu0 = {k: cpu_seconds(p.pid) for k, p in recs.items()}
        cs0 = {k: switches(p.pid) for k, p in recs.items()}
        th0 = threads(recs["tavr"].pid)
        samples = {k: [] for k in recs}
        end = t0 + minutes * 60
        while True:
            now = time.monotonic()
            for k, p in recs.items():
                samples[k].append((now - t0, rss_bytes(p.pid)))
            if now >= end:
                break
            time.sleep(min(10, end - now))
        wall = time.monotonic() - t0
        th1 = threads(recs["tavr"].pid)
        for k, p in recs.items():
            alive = p.poll() is None
            per_min = (cpu_seconds(p.pid) - cpu0[k]) / wall * 60
            cs = (switches(p.pid) - cs0[k]) / wall
            pts = samples[k]
            fit = [(t, r) for t, r in pts if t >= 60] or pts
            growth = slope(fit) * 540  # bytes from minute 1 to minute 10
            self.put(f"cpu_{k}", per_min)
            self.put(f"cs_{k}", cs)
            self.put(f"rss_{k}", pts[-1][1])
            self.put(f"rss_growth_{k}", growth)
            say(f"{k:10s} {per_min:6.3f} CPU s/min  {cs:7.1f} switches/s  RSS "
                f"{pts[-1][1] / MIB:5.1f} MiB (fitted growth 1->10 min {growth / MIB:+.3f} MiB, "
                f"{len(fit)} samples){'' if alive else '  (had exited!)'}")
            self.stop(p)
        say(f"tavr by thread over the same {wall:.0f} s:")
        for tid, (name, cpu, cs) in sorted(th1.items()):
            c0 = th0.get(tid, (name, 0.0, 0))
            say(f"  {name:16s} {(cpu - c0[1]) / wall * 60:6.3f} CPU s/min  "
                f"{(cs - c0[2]) / wall:7.1f} switches/s")
        lightest = min(self.get(kind, "cpu_parecord"), self.get(kind, "cpu_arecord"))
        target = 0.05 if kind == "pipewire" else lightest
        tavr = self.get(kind, "cpu_tavr")
        self.put("cpu_target", target)
        say(f"target: tavr CPU {tavr:.3f} <= {target:.3f} "
            f"({'0.05 on PipeWire' if kind == 'pipewire' else 'lightest of parecord, arecord'})"
            f", ratio {tavr / target:.2f}: {verdict(tavr <= target)}")
        growth = self.get(kind, "rss_growth_tavr")
        say(f"target: tavr RSS flat (growth 1->10 min {growth / MIB:+.3f} MiB < 1 MiB): "
            f"{verdict(abs(growth) < MIB)}")

    # What the window costs: the same take, offscreen and with a real window on Xvfb, by
    # thread; then the real window beside arecord, whole clients.
    def window(self):
        minutes = max(2 * SCALE, 0.5)
        kind = self.server.kind
        say(f"== [{kind}] The window while recording, {minutes:.1f} min each: offscreen, then on Xvfb "
            f"(CPU-s/min and wake-ups/s by thread)")
        try:
            xvfb, display = start_xvfb()
        except (OSError, RuntimeError) as e:
            say(f"no X server for the real window: {e!r}")
            return
        try:
            for label, disp in (("offscreen", None), ("xvfb", display)):
                p = self.start_tavr(f"window-{label}", disp)[0]
                time.sleep(5)  # past start-up
                t0 = time.monotonic()
                th0 = thread_times(p.pid)
                time.sleep(minutes * 60)
                wall = time.monotonic() - t0
                th1 = thread_times(p.pid)
                total = 0.0
                for tid, (name, cpu, cs) in sorted(th1.items(), key=lambda t: int(t[0])):
                    c0 = th0.get(tid, (name, 0.0, 0))
                    per_min = (cpu - c0[1]) / wall * 60
                    total += per_min
                    ui = int(tid) == p.pid
                    if ui:
                        self.put(f"window_ui_{label}", per_min)
                    say(f"  {label:9s} {('UI thread' if ui else name):16s} {per_min:6.3f} CPU-s/min  "
                        f"{(cs - c0[2]) / wall:6.1f} wake-ups/s")
                self.put(f"window_all_{label}", total)
                say(f"  {label:9s} {'whole client':16s} {total:6.3f} CPU-s/min")
                self.stop(p)
            # The floors: a bare Qt window of the same size, its 500 ms timer alone, then
            # repainting a glyph-sized rectangle once a second, as the time does; and the same
            # straight on X11 with no toolkit, the machine's own price for a wake-up and a draw.
            env = dict(self.server.env, QT_QPA_PLATFORM="xcb", DISPLAY=display)
            env.pop("XAUTHORITY", None)
            for toolkit, exe, key in (("Qt", "qtfloor", "floor"), ("X11", "xfloor", "xfloor")):
                path = os.path.join(self.build, "bench", exe)
                if not os.path.exists(path):
                    continue
                for label, args in (("timer", ["--timer-only"]), ("repaint", [])):
                    p = subprocess.Popen([path] + args, env=env, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
                    time.sleep(3)
                    t0, cpu0 = time.monotonic(), thread_times(p.pid).get(str(p.pid))
                    time.sleep(minutes * 60)
                    wall, cpu1 = time.monotonic() - t0, thread_times(p.pid).get(str(p.pid))
                    self.stop(p)
                    if cpu0 and cpu1:
                        per_min = (cpu1[1] - cpu0[1]) / wall * 60
                        self.put(f"window_{key}_{label}", per_min)
                        say(f"  {toolkit + ' floor':9s} {label:16s} {per_min:6.3f} CPU-s/min  "
                            f"{(cpu1[2] - cpu0[2]) / wall:6.1f} wake-ups/s")
            # Side by side with arecord, the real window against the lightest usual recorder.
            recs = {"tavr (Xvfb)": self.start_tavr("window-side", display)[0],
                    "arecord": self.recorders()["arecord"]("window")[0]}
            time.sleep(5)
            t0 = time.monotonic()
            cpu0 = {k: sum(c for _, c, _ in thread_times(p.pid).values()) for k, p in recs.items()}
            time.sleep(minutes * 60)
            wall = time.monotonic() - t0
            for k, p in recs.items():
                per_min = (sum(c for _, c, _ in thread_times(p.pid).values()) - cpu0[k]) / wall * 60
                self.put(f"window_side_{k.split()[0]}", per_min)
                say(f"  side by side: {k:12s} {per_min:6.3f} CPU-s/min")
                self.stop(p)
        finally:
            xvfb.terminate()
            xvfb.wait()
        ui = self.get(kind, "window_ui_xvfb")
        say(f"target: UI thread with a real window {ui:.3f} <= 0.020 CPU-s/min: {verdict(ui <= 0.02)} "
            f"(floors here: a bare Qt window {self.get(kind, 'window_floor_repaint'):.3f}, its timer alone "
            f"{self.get(kind, 'window_floor_timer'):.3f}; a bare X11 client "
            f"{self.get(kind, 'window_xfloor_repaint'):.3f})")
        t, a = self.get(kind, "window_side_tavr"), self.get(kind, "window_side_arecord")
        say(f"target: whole client with a real window {t:.3f} <= arecord {a:.3f} side by side: "
            f"{verdict(t <= a)}")

    # The server's own CPU with each recorder alone, and with none. The machine is shared, so
    # the time is split into rounds in alternating order, and the rounds are summed.
    def server_alone(self, rounds=2):
        minutes = max(2 * SCALE, 0.5)
        kind = self.server.kind
        say(f"== [{kind}] Server CPU with each recorder alone, {minutes:.1f} min each in {rounds} "
            f"rounds (daemons: {', '.join(self.server.daemons())})")
        order = [("none", None)] + list(self.recorders().items())
        server = {k: {} for k, _ in order}
        client = {k: 0.0 for k, _ in order}
        wall = {k: 0.0 for k, _ in order}
        for r in range(rounds):
            for k, start in (order if r % 2 == 0 else order[::-1]):
                p = start(f"alone{r}")[0] if start else None
                time.sleep(3)
                t0 = time.monotonic()
                s0 = self.server.server_cpu()
                c0 = cpu_seconds(p.pid) if p else 0.0
                time.sleep(minutes * 60 / rounds)
                wall[k] += time.monotonic() - t0
                s1 = self.server.server_cpu()
                client[k] += (cpu_seconds(p.pid) - c0) if p else 0.0
                for n in s1:
                    if n in s0:
                        server[k][n] = server[k].get(n, 0.0) + s1[n] - s0[n]
                if p:
                    self.stop(p)
        for k, start in order:
            per = {n: v / wall[k] * 60 for n, v in server[k].items()}
            total = sum(per.values())
            self.put(f"srv_{k}", total)
            self.put(f"alone_{k}", client[k] / wall[k] * 60)
            parts = ", ".join(f"{n} {v:.3f}" for n, v in per.items()) if len(per) > 1 else ""
            say(f"{k:10s} server {total:6.3f} CPU s/min{f' ({parts})' if parts else ''}"
                + (f"; client alone {client[k] / wall[k] * 60:.3f}" if start else ""))
        t, pr = self.get(kind, "srv_tavr"), self.get(kind, "srv_parecord")
        say(f"target: server CPU with tavr {t:.3f} <= with parecord {pr:.3f}, "
            f"ratio {t / pr if pr else float('inf'):.2f}: {verdict(t <= pr)}")

    # From the start of the process to the first captured frame on disk.
    def latency(self, reps=5):
        kind = self.server.kind
        say(f"== [{kind}] First frame on disk, {reps} starts each")
        # parecord with 20 ms fragments shows how soon the server itself delivers.
        quick = self.plain("parecord20", lambda out: [
            "parecord", "--rate=44100", "--format=s16le", "--channels=2", "--latency-msec=20",
            "--file-format=wav", out])
        for name, starter in (("tavr", self.start_tavr), ("parecord", self.recorders()["parecord"]),
                              ("parecord20", quick)):
            times = []
            for i in range(reps):
                t0 = time.monotonic()
                p, path_of, header = starter(f"lat{i}")
                seen = None
                while time.monotonic() - t0 < 10:
                    path = path_of()
                    try:
                        if path and os.path.getsize(path) > header:
                            seen = time.monotonic() - t0
                            break
                    except FileNotFoundError:
                        pass
                    time.sleep(0.001)
                self.stop(p)
                times.append(seen if seen is not None else float("inf"))
            med = statistics.median(times)
            self.put(f"lat_{name}", med)
            self.put(f"lat_worst_{name}", max(times))
            say(f"{name}: median {med * 1000:.0f} ms  ({', '.join(f'{t * 1000:.0f}' for t in times)})")
        lat = self.get(kind, "lat_tavr")
        say(f"target: tavr first frame {lat * 1000:.0f} ms <= ~100 ms: {verdict(lat <= 0.110)}")

    # Where a stopped take ends against the press, and how long Stop takes (bench_stop).
    def stop_takes(self, takes=10):
        kind = self.server.kind
        say(f"== [{kind}] Stop: {takes} takes of 1-3 s through TMediaPlayer on the real backend")
        env = dict(self.server.env, QT_LOGGING_RULES="tavrin.audio.debug=true")
        out = subprocess.run([os.path.join(self.build, "bench", "bench_stop"),
                              os.path.join(self.work, f"stop-{kind}"), str(takes)],
                             env=env, capture_output=True, text=True, timeout=takes * 10 + 30)
        rows = []
        for line in out.stdout.splitlines():
            if not line.startswith("take "):
                continue
            f = dict(re.findall(r"(\w+_ms) (-?[\d.]+)", line.split(" log ", 1)[0]))
            f = {k: float(v) for k, v in f.items()}
            m = re.search(r"stream time (\d+) ms", line)
            f["log_stream_ms"] = float(m.group(1)) if m else float("nan")
            m = re.search(r"tail (\d+) ms", line)
            f["tail_ms"] = float(m.group(1)) if m else float("nan")
            rows.append(f)
        if not rows:
            say("bench_stop failed:", out.stdout.strip(), out.stderr.strip())
            return
        for f in rows:
            say(f"  wall {f['wall_ms']:7.1f}  saved {f['saved_ms']:7.1f} ({f['saved_ms'] - f['wall_ms']:+6.1f})"
                f"  Length {f['length_ms']:5.0f}  stream clock at press {f['press_stream_ms']:7.1f}"
                f" ({f['press_stream_ms'] - f['wall_ms']:+6.1f}), at 0.5 s "
                f"{f['mid_stream_ms'] - f['mid_wall_ms']:+5.1f}; backend's stop line {f['log_stream_ms']:.0f}"
                f"  Stop {f['stop_ms']:6.1f} ms (tail {f['tail_ms']:.0f})")

        def summary(key, values):
            med = statistics.median(values)
            worst = max(values, key=abs)
            self.put(f"{key}_median", med)
            self.put(f"{key}_worst", worst)
            return med, worst
        end_med, end_worst = summary("stop_end", [f["saved_ms"] - f["wall_ms"] for f in rows])
        len_med, len_worst = summary("stop_len", [f["length_ms"] - f["wall_ms"] for f in rows])
        clk_med, clk_worst = summary("stop_clock", [f["saved_ms"] - f["log_stream_ms"] for f in rows])
        skew_med, skew_worst = summary("stop_skew", [f["press_stream_ms"] - f["wall_ms"] for f in rows])
        start_med, start_worst = summary("stop_start", [f["mid_stream_ms"] - f["mid_wall_ms"] for f in rows])
        # The stream's first frame may come well after Record() returns (PipeWire links the
        # stream late): taking the clocks' offset half a second in as the start leaves the end.
        corr_med, corr_worst = summary("stop_endc", [
            (f["saved_ms"] - f["wall_ms"]) - (f["mid_stream_ms"] - f["mid_wall_ms"]) for f in rows])
        st_med, st_worst = summary("stop_ms", [f["stop_ms"] for f in rows])
        say(f"saved take end - press (wall clock from Record's return): median {end_med:+.1f} ms, "
            f"worst {end_worst:+.1f} ms; Length() - press: median {len_med:+.1f}, worst {len_worst:+.1f}")
        say(f"saved take end - the stream clock at the press (backend's log): median {clk_med:+.1f} ms,"
            f" worst {clk_worst:+.1f} ms")
        say(f"stream clock - wall clock: at the press median {skew_med:+.1f} ms, worst "
            f"{skew_worst:+.1f}; half a second in median {start_med:+.1f}, worst {start_worst:+.1f}")
        say(f"saved take end - press, counted from the stream's start (its clock half a second in):"
            f" median {corr_med:+.1f} ms, worst {corr_worst:+.1f} ms")
        say(f"target: saved take ends within 20 ms of the press (worst {end_worst:+.1f} ms from "
            f"Record's return: {verdict(abs(end_worst) <= 20)}; {corr_worst:+.1f} ms from the "
            f"stream's start: {verdict(abs(corr_worst) <= 20)}); Stop returns within 250 ms (median {st_med:.1f}, "
            f"worst {st_worst:.1f} ms): {verdict(st_worst <= 250)}")

    # kill -9 at random moments of a take: what the spool (what the next start recovers) lacks
    # against the time the take had run.
    def kills(self, n=20):
        kind = self.server.kind
        say(f"== [{kind}] kill -9 at {n} random moments, 2-8 s into a take")
        rng = random.Random(20261210)
        losses = []
        for i in range(n):
            p, spool, header = self.start_tavr(f"kill{i}")
            t0 = b0 = None
            deadline = time.monotonic() + 30
            while t0 is None and time.monotonic() < deadline:
                path = spool()
                size = os.path.getsize(path) if path and os.path.exists(path) else 0
                if size > header:
                    t0, b0 = time.monotonic(), size - header
                time.sleep(0.002)
            if t0 is None:
                p.kill()
                p.wait()
                say(f"  take {i}: no audio reached the spool")
                continue
            time.sleep(rng.uniform(2, 8))
            killed = time.monotonic()
            p.send_signal(signal.SIGKILL)
            p.wait()
            kept = max(spool_data_bytes(spool(), header), ring_data_bytes(self.runtime, spool()))
            loss = (b0 + (killed - t0) * 44100 * 4 - kept) / (44100 * 4)
            losses.append(loss)
            say(f"  take {i}: {killed - t0:.2f} s, kept {kept / 176400:.2f} s, lost {loss:.3f} s")
        if losses:
            say(f"  lost: median {statistics.median(losses):.3f} s, worst {max(losses):.3f} s")
            self.put("kill_worst", max(losses))
            self.put("kill_median", statistics.median(losses))

    # Gaps under load: both cores busy and a large file copy half-way.
    def gaps(self):
        minutes = max(5 * SCALE, 0.5)
        kind = self.server.kind
        say(f"== [{kind}] Gaps: {minutes:.1f} min under stress-ng --cpu 2 and a large copy half-way")
        big = os.path.join(self.work, "big.bin")
        if not os.path.exists(big):
            size_mb = int(os.environ.get("BENCH_COPY_MB", "2048"))
            subprocess.run(["dd", "if=/dev/zero", f"of={big}", "bs=1M", f"count={size_mb}",
                            "status=none"], check=True)
            subprocess.run(["sync"])
        recs = {"tavr": self.start_tavr("gap"), "parecord": self.recorders()["parecord"]("gap")}
        stress = subprocess.Popen(["stress-ng", "--cpu", "2", "--quiet"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        progress = {k: [] for k in recs}
        t0 = time.monotonic()
        end = t0 + minutes * 60
        copier = None
        while time.monotonic() < end:
            now = time.monotonic()
            if copier is None and now - t0 >= minutes * 30:
                copier = subprocess.Popen(["sh", "-c", f"cp {big} {big}.copy && sync {big}.copy"])
            for k, (p, path_of, header) in recs.items():
                path = path_of()
                if path:
                    try:
                        progress[k].append((time.monotonic(), (os.path.getsize(path) - header) // BPF))
                    except FileNotFoundError:
                        pass
            time.sleep(0.05)
        for k, (p, _, _) in recs.items():
            self.stop(p)  # tavr keeps its spool for recovery when told to end
        reports = {}
        for k, (p, path_of, header) in recs.items():
            path = path_of()
            reports[k] = phase_gaps(path, header) if path else None
        stress.send_signal(signal.SIGINT)
        stress.wait()
        if copier:
            copier.wait()
        if os.path.exists(big + ".copy"):
            os.unlink(big + ".copy")
        for k, report in reports.items():
            if report is None:
                say(f"{k}: no file")
                continue
            drift = length_drift(progress[k])
            self.put(f"gaps_{k}", report["gaps"])
            self.put(f"drift_{k}", drift)
            say(f"{k}: {report['frames'] / RATE:.1f} s analysed, {report['gaps']} phase gaps "
                f"(worst period error {report['worst']:.2f} samples), length vs wall clock "
                f"{drift * 1000:+.1f} ms; copy ran: {copier is not None}")
        g = self.get(kind, "gaps_tavr")
        say(f"target: tavr 0 gaps ({g}): {verdict(g == 0)}")

    # Save of a long take against cp of the same bytes on the same disk (no server needed).
    def save(self, runs=5):
        minutes = max(60 * SCALE, 1)
        say(f"== Save of a {minutes:.0f}-minute take, {runs} runs, against cp")
        d = os.path.join(self.work, "save")
        out = subprocess.run([os.path.join(self.build, "bench", "bench_save"), d, str(int(minutes)),
                              str(runs)], capture_output=True, text=True)
        say(out.stdout.strip())
        saves = [float(l.split()[1]) for l in out.stdout.splitlines() if l.startswith("save_seconds")]
        if not saves:
            say("save failed:", out.stderr.strip())
            return
        src = os.path.join(d, "saved.wav")
        cps, cpsyncs = [], []
        for _ in range(runs):
            dst = os.path.join(d, "copy.wav")
            if os.path.exists(dst):
                os.unlink(dst)
            t = time.monotonic()
            subprocess.run(["cp", src, dst], check=True)
            cps.append(time.monotonic() - t)
            subprocess.run(["sync", dst])
            os.unlink(dst)
            # Save makes the file durable; cp does not. The same copy with its fsync:
            t = time.monotonic()
            subprocess.run(["cp", src, dst], check=True)
            subprocess.run(["sync", dst], check=True)
            cpsyncs.append(time.monotonic() - t)
            os.unlink(dst)
        s, c, cs = statistics.median(saves), statistics.median(cps), statistics.median(cpsyncs)
        self.put("save", s)
        say(f"Save median {s:.3f} s; cp median {c:.3f} s; cp+sync median {cs:.3f} s; "
            f"ratio Save/cp {s / c:.2f}, Save/(cp+sync) {s / cs:.2f}")
        shutil.rmtree(d, ignore_errors=True)

    def table(self, kinds):
        """The figures of both servers side by side, with the targets."""
        say("== Summary (CPU in CPU-s per minute of 44100/16/2 capture)")
        names = ["tavr", "parecord", "arecord", "pw-record", "gst"]
        for kind in kinds:
            if not any(k == kind for k, _ in self.results):
                continue
            say(f"[{kind}]  recorder: client CPU / switches per s / RSS MiB / server CPU alone")
            for n in names:
                if (kind, f"cpu_{n}") not in self.results and (kind, f"srv_{n}") not in self.results:
                    continue
                say(f"  {n:10s} {self.get(kind, f'cpu_{n}'):6.3f} / {self.get(kind, f'cs_{n}'):6.1f} / "
                    f"{self.get(kind, f'rss_{n}', 0) / MIB:5.1f} / {self.get(kind, f'srv_{n}'):6.3f}")
            say(f"  {'none':10s}                           {self.get(kind, 'srv_none'):6.3f}")
            say(f"  tavr UI thread: offscreen {self.get(kind, 'window_ui_offscreen'):.3f}, real window "
                f"(Xvfb) {self.get(kind, 'window_ui_xvfb'):.3f} CPU-s/min (target 0.020); whole client "
                f"with the real window {self.get(kind, 'window_side_tavr'):.3f} beside arecord "
                f"{self.get(kind, 'window_side_arecord'):.3f}")
            say(f"  tavr: CPU target {self.get(kind, 'cpu_target'):.3f}; first frame on disk "
                f"{self.get(kind, 'lat_tavr') * 1000:.0f} ms (target ~100); take end - press "
                f"median {self.get(kind, 'stop_end_median'):+.1f} ms, worst "
                f"{self.get(kind, 'stop_end_worst'):+.1f}, from the stream's start median "
                f"{self.get(kind, 'stop_endc_median'):+.1f}, worst {self.get(kind, 'stop_endc_worst'):+.1f}"
                f" (target within 20); Stop worst "
                f"{self.get(kind, 'stop_ms_worst'):.1f} ms (target 250); gaps under load "
                f"{self.get(kind, 'gaps_tavr')} (target 0)")


def length_drift(progress):
    """Frames on disk against the wall clock between the first and last few seconds of a run."""
    if len(progress) < 40:
        return float("nan")
    def offset(window):
        return statistics.median(n / RATE - t for t, n in window)
    head = [x for x in progress if x[0] - progress[0][0] > 3][:40]
    tail = progress[-40:]
    return offset(tail) - offset(head)


def phase_gaps(path, header):
    """Rising zero crossings of the left channel: a 440 Hz sine crosses every RATE/440 samples."""
    raw = array.array("h")
    with open(path, "rb") as f:
        f.seek(header)
        data = f.read()
    data = data[:len(data) - len(data) % BPF]
    raw.frombytes(data)
    left = raw[0::2]
    period = RATE / 440
    crossings = []
    prev = left[0] if left else 0
    for i in range(1, len(left)):
        cur = left[i]
        if prev < 0 <= cur:
            crossings.append(i - 1 + (-prev) / (cur - prev))
        prev = cur
    gaps, worst = 0, 0.0
    # Skip the first half second: a recorder may begin with silence before the tone arrives.
    for a, b in zip(crossings, crossings[1:]):
        if a < RATE // 2:
            continue
        err = abs((b - a) - period)
        worst = max(worst, err)
        if err > 0.5:
            gaps += 1
    return {"frames": len(left), "gaps": gaps, "worst": worst, "crossings": len(crossings)}


def spool_data_bytes(path, header):
    """What recovery would keep of a spool: the header's data size, within the file."""
    with open(path, "rb") as f:
        head = f.read(header)
        size = os.fstat(f.fileno()).st_size
    pos, declared = 12, 0
    while pos + 8 <= len(head):
        tag, n = head[pos:pos + 4], struct.unpack("<I", head[pos + 4:pos + 8])[0]
        if tag == b"ds64":
            declared = struct.unpack("<Q", head[pos + 16:pos + 24])[0]
        if tag == b"data":
            declared = n if n != 0xFFFFFFFF else declared
            break
        pos += 8 + n + (n & 1)
    return min(declared, size - header) // 4 * 4


def ring_data_bytes(runtime, spool):
    """What a dead copy's ring adds to its spool at the next start: the spool's data up to
    the ring's last byte (its base plus what was ever written to it)."""
    if not runtime or not spool:
        return 0
    stem = os.path.basename(spool)[len("spool-"):-len(".wav")]
    try:
        with open(os.path.join(runtime, "tavrin", f"ring-{stem}.ring"), "rb") as f:
            head = f.read(2376)
    except FileNotFoundError:
        return 0
    base, written = struct.unpack("<Q", head[2240:2248])[0], struct.unpack("<Q", head[2304:2312])[0]
    return 0 if base == (1 << 64) - 1 else base + written


def main():
    build, work = sys.argv[1], sys.argv[2]
    which = sys.argv[3:] or ["clients", "window", "server", "latency", "stop", "gaps", "save"]
    kinds = os.environ.get("BENCH_SERVERS", "pulseaudio pipewire").split()
    say(f"machine: nproc {os.cpu_count()}, "
        + subprocess.run("grep -m1 'model name' /proc/cpuinfo | cut -d: -f2", shell=True,
                         capture_output=True, text=True).stdout.strip()
        + ", memory " + subprocess.run("free -h | awk '/Mem:/{print $2}'", shell=True,
                                       capture_output=True, text=True).stdout.strip()
        + f", {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}, scale {SCALE}")
    b = Bench(build, work)
    sections = {"clients": b.clients, "cpu": b.clients, "mem": b.clients, "window": b.window,
                "server": b.server_alone,
                "latency": b.latency, "stop": b.stop_takes, "gaps": b.gaps, "kill": b.kills}
    for kind in kinds:
        if not any(w in sections for w in which):
            break
        try:
            b.server = Server(kind, b.work)
        except Exception as e:  # figures only: a server that will not start is reported
            say(f"[{kind}] server did not start: {e!r}")
            b.server = None
            continue
        try:
            for name in which:
                if name in sections:
                    try:
                        sections[name]()
                    except Exception as e:  # one broken section does not end the others
                        say(f"[{kind}] {name} stopped: {e!r}")
        finally:
            b.server.close()
            b.server = None
    if "save" in which:
        try:
            b.save()
        except Exception as e:
            say(f"save stopped: {e!r}")
    b.table(kinds)
    big = os.path.join(b.work, "big.bin")
    if os.path.exists(big):
        os.unlink(big)
    if b.runtime:
        shutil.rmtree(b.runtime, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
