#!/usr/bin/env python3
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

"""Tavrin's benchmarks against parecord, on a private sound server. Prints figures; never fails.

    bench/bench.py BUILD_DIR WORK_DIR [cpu mem latency save gaps]

BENCH_MINUTES scales every duration (1 = the full lengths: 10 min for memory, 5 min for gaps,
a one-hour take for the save); e.g. BENCH_MINUTES=0.1 for a quick run.
"""
import array
import os
import shutil
import signal
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCALE = float(os.environ.get("BENCH_MINUTES_SCALE", os.environ.get("BENCH_MINUTES", "1")))
TICK = os.sysconf("SC_CLK_TCK")
PAGE = os.sysconf("SC_PAGE_SIZE")
RATE, CHANNELS, BPF = 44100, 2, 4


def say(*args):
    print(*args, flush=True)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime + stime


def rss_bytes(pid):
    with open(f"/proc/{pid}/statm") as f:
        return int(f.read().split()[1]) * PAGE


def slope(points):
    n = len(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    return sum((x - mx) * (y - my) for x, y in points) / sxx if sxx else 0.0


class Bench:
    def __init__(self, build, work):
        self.build = os.path.abspath(build)
        self.work = os.path.abspath(work)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.pulse = os.path.join(self.work, "pulse")
        self.app = os.path.join(self.work, "app")
        os.makedirs(self.app)
        # A copy of the executable with its own settings file: 44100 Hz, 16-bit, stereo.
        shutil.copy2(os.path.join(self.build, "tavr"), os.path.join(self.app, "tavr"))
        with open(os.path.join(self.app, "tavr.ini"), "w") as f:
            f.write("[Software]\nVersion=218\n[Setting]\nRecMode=13\n")
        self.env = dict(os.environ)
        self.env.update(XDG_RUNTIME_DIR=self.pulse, PULSE_SERVER=f"unix:{self.pulse}/native",
                        QT_QPA_PLATFORM="offscreen")
        subprocess.run([os.path.join(ROOT, "scripts/pulse-test-server.sh"), "start", self.pulse],
                       check=True, stdout=subprocess.DEVNULL, env=self.env)
        self.results = {}

    def close(self):
        subprocess.run([os.path.join(ROOT, "scripts/pulse-test-server.sh"), "stop", self.pulse],
                       env=self.env)

    # The recorders. Each returns (process, function giving the file that grows).
    def start_tavr(self, tag):
        state = os.path.join(self.work, f"state-{tag}")
        shutil.rmtree(state, ignore_errors=True)
        env = dict(self.env, XDG_STATE_HOME=state)
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

    def start_parecord(self, tag):
        out = os.path.join(self.work, f"parecord-{tag}.wav")
        if os.path.exists(out):
            os.unlink(out)
        p = subprocess.Popen(["parecord", "--rate=44100", "--format=s16le", "--channels=2",
                              "--file-format=wav", out], env=self.env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return p, (lambda: out if os.path.exists(out) else None), 44

    @staticmethod
    def stop(p):
        p.send_signal(signal.SIGTERM)
        try:
            p.wait(5)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()

    # 1 and 2: CPU per minute and resident memory, both recorders side by side.
    def cpu_mem(self):
        minutes = max(10 * SCALE, 0.5)
        say(f"== CPU and memory: {minutes:.1f} min of recording, tavr and parecord side by side")
        procs = {"tavr": self.start_tavr("cpu")[0], "parecord": self.start_parecord("cpu")[0]}
        time.sleep(5)  # past start-up: the figures are for a recording that is running
        t0 = time.monotonic()
        cpu0 = {k: cpu_seconds(p.pid) for k, p in procs.items()}
        samples = {k: [] for k in procs}
        end = t0 + minutes * 60
        while True:
            now = time.monotonic()
            for k, p in procs.items():
                samples[k].append((now - t0, rss_bytes(p.pid)))
            if now >= end:
                break
            time.sleep(min(10, end - now))
        wall = time.monotonic() - t0
        for k, p in procs.items():
            per_min = (cpu_seconds(p.pid) - cpu0[k]) / wall * 60
            self.results[f"cpu_{k}"] = per_min
            pts = samples[k]
            after1 = [r for t, r in pts if t >= 60] or [pts[-1][1]]
            fit = [(t, r) for t, r in pts if t >= 60] or pts
            growth = slope(fit) * 540  # bytes from minute 1 to minute 10
            self.results[f"rss1_{k}"] = after1[0]
            self.results[f"rss_last_{k}"] = pts[-1][1]
            self.results[f"rss_growth_{k}"] = growth
            say(f"{k}: {per_min:.3f} CPU s per minute; RSS {after1[0] / 2**20:.1f} MiB at 1 min, "
                f"{pts[-1][1] / 2**20:.1f} MiB at {pts[-1][0] / 60:.1f} min; "
                f"fitted growth 1->10 min {growth / 2**20:+.3f} MiB ({len(fit)} samples)")
            self.stop(p)
        r = self.results["cpu_tavr"] / self.results["cpu_parecord"]
        say(f"CPU ratio tavr/parecord: {r:.2f} (target <= 1.25)")

    # 4: from the start of the process to the first captured frame on disk.
    def latency(self, reps=5):
        say(f"== First frame on disk, {reps} starts each")
        for name, starter in (("tavr", self.start_tavr), ("parecord", self.start_parecord)):
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
            self.results[f"lat_{name}"] = med
            say(f"{name}: median {med * 1000:.0f} ms  ({', '.join(f'{t * 1000:.0f}' for t in times)})")
        r = self.results["lat_tavr"] / self.results["lat_parecord"]
        say(f"latency ratio tavr/parecord: {r:.2f} (target: tavr under 300 ms)")

    # 3: Save of a long take against cp of the same bytes on the same disk.
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
        self.results.update(save=s, cp=c, cpsync=cs)
        say(f"Save median {s:.3f} s; cp median {c:.3f} s; cp+sync median {cs:.3f} s; "
            f"ratio Save/cp {s / c:.2f} (target <= 1.1), Save/(cp+sync) {s / cs:.2f}")
        shutil.rmtree(d, ignore_errors=True)

    # 5: gaps under load: both cores busy and a large file copy half-way.
    def gaps(self):
        minutes = max(5 * SCALE, 0.5)
        say(f"== Gaps: {minutes:.1f} min under stress-ng --cpu 2 and a large copy half-way")
        big = os.path.join(self.work, "big.bin")
        size_mb = int(os.environ.get("BENCH_COPY_MB", "2048"))
        subprocess.run(["dd", "if=/dev/zero", f"of={big}", "bs=1M", f"count={size_mb}",
                        "status=none"], check=True)
        subprocess.run(["sync"])
        recs = {"tavr": self.start_tavr("gap"), "parecord": self.start_parecord("gap")}
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
            self.stop(p)
        stress.send_signal(signal.SIGINT)
        stress.wait()
        if copier:
            copier.wait()
        copy_done = copier is not None
        for f in (big, big + ".copy"):
            if os.path.exists(f):
                os.unlink(f)
        for k, (p, path_of, header) in recs.items():
            drift = length_drift(progress[k])
            report = phase_gaps(path_of(), header)
            self.results[f"gaps_{k}"] = report
            self.results[f"drift_{k}"] = drift
            say(f"{k}: {report['frames'] / RATE:.1f} s analysed, {report['gaps']} phase gaps "
                f"(worst period error {report['worst']:.2f} samples), length vs wall clock "
                f"{drift * 1000:+.1f} ms (target: 0 gaps, within 20 ms); copy ran: {copy_done}")


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


def main():
    build, work = sys.argv[1], sys.argv[2]
    which = sys.argv[3:] or ["cpu", "latency", "save", "gaps"]
    say(f"machine: nproc {os.cpu_count()}, "
        + subprocess.run("grep -m1 'model name' /proc/cpuinfo | cut -d: -f2", shell=True,
                         capture_output=True, text=True).stdout.strip()
        + ", memory " + subprocess.run("free -h | awk '/Mem:/{print $2}'", shell=True,
                                       capture_output=True, text=True).stdout.strip()
        + f", {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}, scale {SCALE}")
    b = Bench(build, work)
    try:
        for name in which:
            {"cpu": b.cpu_mem, "mem": b.cpu_mem, "latency": b.latency, "save": b.save,
             "gaps": b.gaps}[name]()
    except Exception as e:  # figures only: a broken benchmark is reported, not fatal
        say(f"benchmark stopped: {e!r}")
    finally:
        b.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
