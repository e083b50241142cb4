#!/usr/bin/env python3
"""The closed loop on the host: gearvane --simulate --telemetry against the scripted game,
which ignores taps during its shift and drops a quarter of the rest. For each format, 200
random lever moves: after each, the game is in the lever's gear (capped), or gearvane said
that the change stopped and the game is in the gear it named; and each change starts from
the gear the game really is in. Without telemetry the same game drifts from the lever.

The times are scaled down (a shift of 30 ms, taps of 8 ms and 8 ms) so that the formats,
run side by side, take tens of seconds; the rules bite as they do at full scale.

  telemetry_loop.py --program PATH [--moves 200] [--seed 1]
"""
import argparse
import collections
import concurrent.futures
import os
import random
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from scripted_game import Game, gear_words  # noqa: E402

FORMATS = ["forza", "f1", "codemasters", "outgauge"]
POSITIONS = ["r", "1", "2", "3", "4", "5", "6", "7"]
TIMES = dict(drop=0.25, shift_ms=30, hold_ms=8, gap_ms=8, wait_ms=80)


def run(program, fmt, moves, seed):
    """Outcomes counted, problems found, and the game's own counts."""
    outcomes, problems = collections.Counter(), []
    game = Game(program, fmt, seed=seed + 1000, **TIMES)
    game.pump(time.monotonic() + 0.2)
    if fmt == "forza":  # a second gearvane cannot have the port, and says so
        second = subprocess.run([program, "--simulate", "--telemetry", str(game.port)], stdin=subprocess.DEVNULL,
                                capture_output=True)
        if second.returncode != 1 or b"port is taken" not in second.stderr:
            problems.append(f"a second gearvane on the port: {second.returncode} {second.stderr.decode()}")
    rng, position = random.Random(seed), "n"
    for i in range(moves):
        position = rng.choice([p for p in POSITIONS if p != position])
        before = game.gear
        outcome, _, _, change = game.move(position)
        outcomes[outcome if outcome in ("step", "stopped") else "out of step"] += 1
        if fmt and outcome not in ("step", "stopped"):
            problems.append(f"move {i + 1} to {position}: {outcome}")
        if fmt and change and change[4] != gear_words(before):
            problems.append(f"move {i + 1} to {position}: planned from {change[4]}, the game was in "
                            f"{gear_words(before)}: {change[0]}")
    status = game.close()
    if status != 0:
        problems.append(f"gearvane ended with {status}: {[line for _, line in game.lines][-3:]}")
    return fmt or "no telemetry", outcomes, problems, (game.taken, game.dropped, game.ignored)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("--moves", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    a = parser.parse_args()
    jobs = [(f, a.moves) for f in FORMATS] + [(None, 30)]
    with concurrent.futures.ProcessPoolExecutor(len(jobs)) as pool:
        results = list(pool.map(run, *zip(*[(a.program, f, n, a.seed + i) for i, (f, n) in enumerate(jobs)])))
    ok = True
    for name, outcomes, problems, (taken, dropped, ignored) in results:
        print(f"{name}: {sum(outcomes.values())} moves, {outcomes['step']} in step, {outcomes['stopped']} stopped, "
              f"{outcomes['out of step']} out of step; taps taken {taken}, dropped {dropped}, ignored {ignored}")
        for problem in problems[:10]:
            print(f"  {problem}")
        ok = ok and not problems
    drift = results[-1][1]["out of step"]
    if not drift:
        print("no telemetry: the game never drifted, so it cannot show that the loop mends drift")
    return 0 if ok and drift else 1


if __name__ == "__main__":
    sys.exit(main())
