#!/usr/bin/env python3
"""gearvane side by side with input-remapper and the floor (a minimal C mapper), in one
run of the throw-away VM of the Linux end-to-end tests. It prints a table; it never passes
or fails on a time.

Each mapper gets the same lever changes: button 1 down, up, button 2 down, up, and so on.
The floor and input-remapper map button 1 to Page Up and button 2 to Page Down; gearvane
runs with --gate 1=1,2=2, so each press is one gear change and one tap. Latency is from
the lever event's kernel timestamp to the first key-down's. input-remapper grabs the
lever, so no other reader sees its events: there the moment just before the lever's write
stands in for its timestamp (the table shows how far apart the two are where both are
seen). At rest, the lever still for 10 s: CPU time on the scheduler's clock and voluntary
context switches of each mapper's processes, and their resident memory. gearvane runs a
second and a third time with a client of its control socket that reads all it is sent, as a
window does: one connected, one watching every device's live input.

Emulated times only compare within one run.

Usage: bench.py --program build/linux/gearvane --floor FLOOR [--changes 1000] [--cache build/linux/vm]
"""
import argparse
import json
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.join(HERE, "..", "tests", "e2e")
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(TESTS, "linux"))
sys.path.insert(0, TESTS)

import scenario as shared  # noqa: E402
import vm  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("--floor", required=True)
    parser.add_argument("--changes", type=int, default=1000)
    parser.add_argument("--cache", default=os.path.join(HERE, "..", "build", "linux", "vm"))
    a = parser.parse_args()
    problem = vm.qemu_problem()
    if problem:
        print(f"QEMU cannot run here: {problem}")
        return 1
    os.makedirs(a.cache, exist_ok=True)
    start = time.monotonic()
    kernel = vm.build_kernel(a.cache)
    disk = vm.build_rootfs(a.cache)
    cpio = vm.initramfs(kernel, f"chroot /peer /usr/bin/python3 /e2e/measure.py {a.changes} >&3\n")
    cpio.add_file("e2e/bin/gearvane", a.program, 0o755)
    cpio.add_file("e2e/floor", a.floor, 0o755)
    for name, folder in (("suite.py", os.path.join(TESTS, "linux")), ("scenario.py", TESTS), ("measure.py", HERE),
                         ("ir.py", HERE)):
        cpio.add_file(f"e2e/{name}", os.path.join(folder, name))
    initrd = os.path.join(a.cache, "bench.cpio")
    cpio.write(initrd)
    built = time.monotonic()
    try:
        lines = vm.boot(kernel, initrd, disk, a.cache, 1200)
    except vm.VmError as e:
        print(e)
        return 1
    results = {r["name"]: r for r in (json.loads(text) for tag, text in lines if tag == "bench")}

    print(f"\nLatency, lever event to first key-down, {a.changes} gear changes each "
          f"(QEMU TCG, {os.cpu_count()} host cores; emulated times compare only within one run):\n")
    print("| mapper | p50 | p99 | changes | missed | lever write to its stamp, p50 |")
    print("|---|---|---|---|---|---|")
    for name, r in results.items():
        lat = r["latencies"]
        if not lat:
            print(f"| {name} | - | - | 0 | {r['missed']} | {r.get('problem', 'no key events')} |")
            continue
        offset = f"{statistics.median(r['offsets']):.3f} ms" if r["offsets"] else "(lever grabbed: not seen)"
        print(f"| {name} | {statistics.median(lat):.2f} ms | {shared.percentile(lat, 0.99):.2f} ms | {len(lat)} "
              f"| {r['missed']} | {offset} |")

    def ratio(x, y, q):
        if results.get(x, {}).get("latencies") and results.get(y, {}).get("latencies"):
            return f"{shared.percentile(results[x]['latencies'], q) / shared.percentile(results[y]['latencies'], q):.1f}"
        return "-"

    print(f"\ngearvane / floor: p50 x{ratio('gearvane', 'floor', 0.5)}, p99 x{ratio('gearvane', 'floor', 0.99)}; "
          f"input-remapper / gearvane: p50 x{ratio('input-remapper', 'gearvane', 0.5)}, "
          f"p99 x{ratio('input-remapper', 'gearvane', 0.99)}")
    print("\nAt rest, the lever still for 10 s:\n")
    print("| mapper | CPU time | voluntary context switches | resident memory |")
    print("|---|---|---|---|")
    for name, r in results.items():
        if "rest" in r:
            cpu, switches, rss = r["rest"]
            print(f"| {name} | {cpu:.2f} ms | {switches} | {rss / 1024:.1f} MiB |")
    print(f"\nVM built in {built - start:.0f} s, measured in {time.monotonic() - built:.0f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
