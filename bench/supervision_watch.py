#!/usr/bin/env python3
"""The supervising daemon on the simulator, timed from outside.

  bench/supervision_watch.py BUILD detect [--clocks 20] [--speed 9600]
      [--loss 0.01] [--trials 20] [--batch 5]
  bench/supervision_watch.py BUILD share --clocks N --speed BD [--minutes 6]
  bench/supervision_watch.py BUILD quiet [--clocks 20] [--speed 9600]
      [--loss 0.01] [--minutes 120]

detect: clocks switched off (the simulator's silence file) a batch at a
time, at random moments, and on again; the time from each switch to the
daemon's metric (chronavel_clock_up 0, then 1 again), median and worst.
share: the daemon left to watch a quiet line after its census;
chronavel_supervision_line_share once the census is out of its window.
quiet: every clock left on for a long run with replies lost; any clock
called silent is a false alarm (the daemon's log and chronavel_clock_up),
with the polls missed and the gaps between time frames beside it.
"""
import argparse
import contextlib
import json
import os
import random
import re
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def metrics(port):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=5) as r:
        text = r.read().decode()
    out = {}
    for line in text.splitlines():
        if line.startswith("#") or not line.strip():
            continue
        name, value = line.rsplit(" ", 1)
        out[name] = float(value)
    return out


def clock_up(m, line, addr):
    return m.get(f'chronavel_clock_up{{port="{line}",address="0x{addr:02X}"}}')


class Line:
    def __init__(self, build, clocks, speed, loss, period):
        self.dir = tempfile.mkdtemp(prefix="chronavel-bench-")
        self.name = f"bench{os.getpid()}x{random.randrange(10**6)}"
        self.silence = os.path.join(self.dir, "silence")
        open(self.silence, "w").close()
        env = dict(os.environ, CHRONAVEL_PORTS_DIR=self.dir)
        sim = [f"{build}/sim/chronavel-sim", "--name", self.name, "--speed", str(speed),
               "--silence-file", self.silence, "--master", "1", "--seed", "1"]
        for a in clocks:
            sim += ["--clock", str(a)]
        if loss:
            sim += ["--drop-fraction", str(loss)]
        self.sim = subprocess.Popen(sim, env=env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        time.sleep(1)
        self.http = free_port()
        self.log = open(os.path.join(self.dir, "daemon.log"), "w")
        self.daemon = subprocess.Popen(
            [f"{build}/tools/chronavelctl", "daemon", "--port", self.name, "--speed", str(speed),
             "--period-seconds", str(period), "--supervise", "--http", f"127.0.0.1:{self.http}"],
            env=env, stdout=self.log, stderr=self.log)

    def metrics(self):
        return metrics(self.http)

    def silence_set(self, addrs):
        with open(self.silence + ".tmp", "w") as f:
            f.write(" ".join(str(a) for a in sorted(addrs)))
        os.replace(self.silence + ".tmp", self.silence)

    def wait_census(self, limit=600):
        end = time.time() + limit
        while time.time() < end:
            try:
                if self.metrics().get(f'chronavel_census_last_timestamp_seconds{{port="{self.name}"}}'):
                    return True
            except OSError:
                pass
            time.sleep(1)
        return False

    def close(self):
        for p in (self.daemon, self.sim):
            p.send_signal(signal.SIGTERM)
        for p in (self.daemon, self.sim):
            p.wait(timeout=20)


@contextlib.contextmanager
def censused_line(a, clocks, loss, period, limit=600):
    """A line whose daemon has taken its first census; closed afterwards."""
    line = Line(a.build, clocks, a.speed, loss, period)
    try:
        if not line.wait_census(limit):
            sys.exit("no census")
        yield line
    finally:
        line.close()


def detect(a):
    clocks = list(range(1, a.clocks + 1))
    with censused_line(a, clocks, a.loss, 60) as line:
        raised, cleared, false_alarms = [], [], 0
        candidates = clocks[1:]  # the master keeps streaming
        while len(raised) < a.trials:
            batch = random.sample(candidates, min(a.batch, a.trials - len(raised)))
            for phase, want, out in (("off", 0, raised), ("on", 1, cleared)):
                # Each clock switched at its own random moment in 30 s.
                at = {c: time.time() + random.uniform(0, 30) for c in batch}
                switched, seen = {}, {}
                silent = set(batch) if phase == "on" else set()
                while len(seen) < len(batch):
                    now = time.time()
                    for c in batch:
                        if c not in switched and now >= at[c]:
                            switched[c] = now
                            (silent.add if phase == "off" else silent.discard)(c)
                            line.silence_set(silent)
                    m = line.metrics()
                    for c in batch:
                        if c in switched and c not in seen and clock_up(m, line.name, c) == want:
                            seen[c] = time.time() - switched[c]
                    others = [c for c in clocks if c not in batch]
                    false_alarms += sum(1 for c in others if clock_up(m, line.name, c) == 0)
                    if time.time() - min(switched.values(), default=now) > 300:
                        sys.exit(f"{phase}: not seen within 300 s: {set(batch) - set(seen)}")
                    time.sleep(0.5)
                out.extend(seen.values())
        print(json.dumps({
            "clocks": a.clocks, "speed": a.speed, "loss": a.loss, "trials": len(raised),
            "raised_median_s": round(statistics.median(raised), 1),
            "raised_worst_s": round(max(raised), 1),
            "cleared_median_s": round(statistics.median(cleared), 1),
            "cleared_worst_s": round(max(cleared), 1),
            "false_alarm_samples": false_alarms}))


def share(a):
    with censused_line(a, list(range(1, a.clocks + 1)), 0, 3600, 1800) as line:
        time.sleep(a.minutes * 60)
        m = line.metrics()
        print(json.dumps({
            "clocks": a.clocks, "speed": a.speed,
            "share": round(m[f'chronavel_supervision_line_share{{port="{line.name}"}}'], 4),
            "cycle_s": m[f'chronavel_poll_cycle_seconds{{port="{line.name}"}}']}))


def quiet(a):
    clocks = list(range(1, a.clocks + 1))
    with censused_line(a, clocks, a.loss, 60) as line:
        end = time.time() + a.minutes * 60
        down_samples = 0
        while time.time() < end:
            m = line.metrics()
            down_samples += sum(1 for c in clocks if clock_up(m, line.name, c) == 0)
            time.sleep(5)
        m = line.metrics()
        missed = sum(v for k, v in m.items()
                     if k.startswith("chronavel_clock_missed_polls_total{"))
        line.log.flush()
        with open(line.log.name) as f:
            log = f.read()
        stamps = [time.mktime(time.strptime(t, "%Y-%m-%d %H:%M:%S"))
                  for t in re.findall(r"^(\S+ \S+) sync \S+: sent", log, re.M)]
        gaps = [b - a_ for a_, b in zip(stamps, stamps[1:])]
        print(json.dumps({
            "clocks": a.clocks, "speed": a.speed, "loss": a.loss, "minutes": a.minutes,
            "silent_raised": len(re.findall(r"alarm raised clock_silent", log)),
            "clock_up_0_samples": down_samples, "missed_polls": int(missed),
            "frames": len(stamps), "frame_gap_min_s": min(gaps, default=0),
            "frame_gap_max_s": max(gaps, default=0)}))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("build")
    p.add_argument("what", choices=["detect", "share", "quiet"])
    p.add_argument("--clocks", type=int, default=20)
    p.add_argument("--speed", type=int, default=9600)
    p.add_argument("--loss", type=float, default=0.01)
    p.add_argument("--trials", type=int, default=20)
    p.add_argument("--batch", type=int, default=5)
    p.add_argument("--minutes", type=float, default=6)
    a = p.parse_args()
    random.seed(1)
    {"detect": detect, "share": share, "quiet": quiet}[a.what](a)


if __name__ == "__main__":
    main()
