#!/usr/bin/env python3
"""The closed loop against the open loop: gearvane --simulate, with and without --telemetry,
against the scripted game of the host tests (tests/host/scripted_game.py), which drops 0 %,
10 % or 25 % of the taps and takes 0, 120 or 300 ms to shift. For each, --changes random
lever moves: the share that end with the game in the lever's gear, the taps a change takes,
and the time from the lever to the game's final gear (p50, p99, of the changes in step).
gearvane runs with its defaults (holds and gaps of 40 ms, a wait of 500 ms); the game sends
Forza's format at 60 Hz.

Then what telemetry costs gearvane itself: its wake-ups (voluntary context switches) in 10 s
at rest with telemetry on and no packets, and its CPU time over 60 s of packets at 60 Hz.

It prints tables; nothing here passes or fails on a time. The runs go side by side, so on a
busy machine the times include its delays.

Usage: telemetry.py --program build/linux/gearvane [--changes 1000] [--jobs 18]
"""
import argparse
import concurrent.futures
import os
import random
import socket
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(HERE, "..", "tests", "host"))

from scripted_game import Game, packets  # noqa: E402

POSITIONS = ["r", "1", "2", "3", "4", "5", "6", "7"]


def run(program, closed, drop, shift_ms, changes, seed):
    game = Game(program, "forza" if closed else None, drop=drop, shift_ms=shift_ms, seed=seed + 1000)
    game.pump(time.monotonic() + 0.3)
    rng, position, in_step, taps, times = random.Random(seed), "n", 0, 0, []
    for _ in range(changes):
        position = rng.choice([p for p in POSITIONS if p != position])
        outcome, n, seconds, _ = game.move(position, limit=10)
        taps += n
        if outcome == "step":
            in_step += 1
            times.append(seconds * 1000)
    game.close()
    return closed, drop, shift_ms, in_step / changes, taps / changes, times


def percentile(values, share):
    if len(values) < 2:
        return values[0] if values else float("nan")
    return statistics.quantiles(values, n=100, method="inclusive")[share - 1]


def loops(program, changes, jobs):
    runs = [(closed, drop, shift) for closed in (True, False) for drop in (0, 0.1, 0.25) for shift in (0, 120, 300)]
    with concurrent.futures.ProcessPoolExecutor(jobs) as pool:
        # The same lever moves for each.
        results = pool.map(run, *zip(*[(program, *r, changes, 1) for r in runs]))
        print(f"{'loop':7} {'drops':>5} {'shift':>6} {'in step':>8} {'taps':>5} {'p50 ms':>7} {'p99 ms':>7}")
        for closed, drop, shift, share, taps, times in results:
            print(f"{'closed' if closed else 'open':7} {drop:5.0%} {shift:6} {share:8.1%} {taps:5.2f} "
                  f"{percentile(times, 50):7.0f} {percentile(times, 99):7.0f}", flush=True)


def counters(pid):
    """Voluntary context switches, utime+stime in clock ticks, and CPU time in ns."""
    with open(f"/proc/{pid}/status") as f:
        switches = next(int(line.split()[1]) for line in f if line.startswith("voluntary_ctxt_switches"))
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    with open(f"/proc/{pid}/schedstat") as f:
        ns = int(f.read().split()[0])
    return switches, int(fields[11]) + int(fields[12]), ns


def cost(program):
    probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    p = subprocess.Popen([program, "--simulate", "--telemetry", str(port)], stdin=subprocess.PIPE,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    sock, tick = socket.socket(socket.AF_INET, socket.SOCK_DGRAM), os.sysconf("SC_CLK_TCK")
    time.sleep(1)

    def phase(name, seconds, hz):
        before, start = counters(p.pid), time.monotonic()
        for frame in range(int(seconds * hz)):
            sock.sendto(packets("forza", 3, frame)[0], ("127.0.0.1", port))
            time.sleep(max(0.0, start + (frame + 1) / hz - time.monotonic()))
        time.sleep(max(0.0, start + seconds - time.monotonic()))
        after = counters(p.pid)
        print(f"{name:38} {seconds:3} s: {after[0] - before[0]:5} wake-ups, utime+stime "
              f"{(after[1] - before[1]) * 1000 // tick} ms, on the CPU {(after[2] - before[2]) / 1e6:.1f} ms")

    phase("at rest, telemetry on, no packets", 10, 0)
    phase("packets at 60 Hz", 60, 60)
    phase("at rest again, after the packets", 10, 0)
    p.stdin.close()
    p.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("--changes", type=int, default=1000)
    parser.add_argument("--jobs", type=int, default=18)
    a = parser.parse_args()
    print(f"== the closed loop against the open loop, {a.changes} lever changes each")
    loops(a.program, a.changes, a.jobs)
    print("== what telemetry costs gearvane (--simulate, the daemon's loop)")
    cost(a.program)
    return 0


if __name__ == "__main__":
    sys.exit(main())
