#!/usr/bin/env python3
"""gearvane side by side with input-remapper and the floor (a minimal C mapper), in one
run of the throw-away VM. It prints a table; it never passes or fails on a time.

Each mapper gets the same lever moves: button 1 down, up, button 2 down, up, and so on.
The floor and input-remapper map button 1 to Page Up and button 2 to Page Down; gearvane
runs with --gate 1=1,2=2, so each press is one gear change and one tap. Latency is from
the lever event's kernel timestamp to the first key-down's. input-remapper grabs the
lever, so no other reader sees its events: there the moment just before the lever's
write stands in for its timestamp (the table shows how far apart the two are where both
are seen). At rest, the lever still for 10 s: CPU time on the scheduler's clock and
voluntary context switches of each mapper's processes, and their resident memory.

Emulated times only compare within one run.

Usage: bench.py --program build/linux/gearvane --lever e2e_lever --floor e2e_floor
       [--changes 1000] [--cache build/linux/vm]
"""
import argparse
import os
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, HERE)

import scenario as shared  # noqa: E402
import vm  # noqa: E402

WARM_UP = 20
REST_STEP, END_STEP = 900000, 900001
MAPPERS = [
    # name, the keyboard it types on, the command, the seconds it may take to start
    ("floor", "floor virtual keyboard", ["/e2e/bin/e2e_floor", "Scripted Lever"], 20),
    ("gearvane", "gearvane virtual keyboard",
     ["/e2e/bin/gearvane", "--gate", "1=1,2=2", "--hold-ms", "1", "--gap-ms", "0"], 20),
    ("gearvane --quiet", "gearvane virtual keyboard",
     ["/e2e/bin/gearvane", "--gate", "1=1,2=2", "--hold-ms", "1", "--gap-ms", "0", "--quiet"], 20),
    ("input-remapper", "input-remapper keyboard", ["/bin/chroot", "/peer", "/usr/bin/python3", "/tmp/ir.py"], 60),
]
AT_REST = {"floor", "gearvane", "input-remapper"}


def plan(name, keyboard, command, start_s, changes):
    lines = ["name Scripted Lever", f"keyboard {keyboard}", "watch-lever", "settle 0",
             f"timeout {start_s * 1000}", f"program {command[0]}"] + [f"arg {a}" for a in command[1:]]
    lines += ["start", "step 0", "spawn", "wait count 1",
              # input-remapper grabs the lever a moment after its keyboard appears.
              "pause 3000", "timeout 3000"]
    for i in range(1, changes + WARM_UP + 1):
        button = 1 if i % 2 else 2
        lines += [f"step {i}", f"set {button} 0 0 0", "wait down 1", "set - 0 0 0", "wait up 1", "pause 5"]
    if name in AT_REST:
        lines += [f"step {REST_STEP}", "pause 1000", "sample", "pause 10000", "sample"]
    lines += [f"step {END_STEP}", "signal 15", "end"]
    return "\n".join(lines) + "\n"


def tag(name):
    return "bench-" + name.replace(" ", "").replace("-", "")


def analyse(lines):
    """Latencies (ms) from each press to its first key-down, the write-to-stamp offsets
    (ms) where the lever's own events were seen, the misses, and the at-rest samples."""
    events = []
    for line in lines:
        t, _, rest = line.partition(" ")
        kind, _, text = rest.partition(" ")
        events.append((int(t), kind, text))
    latencies, offsets, misses, samples = [], [], 0, []
    step, marker, lever_t, pressed = None, None, None, None
    for t, kind, text in events:
        if kind == "step":
            step, marker, lever_t, pressed = int(text), None, None, False
        elif kind == "moved" and marker is None:
            marker = t
        elif kind == "lev" and step and lever_t is None and text.endswith(" 1"):
            lever_t = t
        elif kind == "key" and text.endswith("down") and step and 0 < step <= 10 ** 6 and not pressed:
            pressed = True
            if step > WARM_UP and step < REST_STEP:
                start = lever_t if lever_t is not None else marker
                latencies.append((t - start) / 1e6)
                if lever_t is not None:
                    offsets.append((lever_t - marker) / 1e6)
        elif kind == "timeout" and text.startswith("down"):
            misses += 1
        elif kind == "sample":
            w = text.split()
            samples.append((t, int(w[0]), int(w[2]), int(w[4]), int(w[8])))
    return latencies, offsets, misses, samples


def at_rest(samples):
    """CPU ms, voluntary switches and RSS (kB) of the process group over the 10 s."""
    if not samples:
        return None
    first_t = samples[0][0]
    before = [s for s in samples if s[0] - first_t < 5e9]
    after = [s for s in samples if s[0] - first_t >= 5e9]
    b = {s[1]: s for s in before}
    cpu = sum(s[2] - b[s[1]][2] for s in after if s[1] in b) / 1e6
    switches = sum(s[3] - b[s[1]][3] for s in after if s[1] in b)
    rss = sum(s[4] for s in after)
    return cpu, switches, rss


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("--lever", required=True)
    parser.add_argument("--floor", required=True)
    parser.add_argument("--changes", type=int, default=1000)
    parser.add_argument("--cache", default=os.path.join(HERE, "..", "..", "..", "build", "linux", "vm"))
    parser.add_argument("--timeout", type=int, default=1200)
    a = parser.parse_args()
    problem = vm.qemu_problem()
    if problem:
        print(f"QEMU cannot run here: {problem}")
        return 1
    os.makedirs(a.cache, exist_ok=True)
    watch = vm.Stopwatch()
    kernel = watch.stage("kernel tree", vm.build_kernel, a.cache)
    disk = watch.stage("peer rootfs", vm.build_rootfs, a.cache)
    cpio = vm.base_initramfs(kernel, disk=True)
    vm.add_program(cpio, a.program, "e2e/bin/gearvane")
    cpio.add_file("e2e/bin/e2e_lever", a.lever, 0o755)
    cpio.add_file("e2e/bin/e2e_floor", a.floor, 0o755)
    cpio.add_file("e2e/ir.py", os.path.join(HERE, "guest", "ir.py"))
    run_sh = ["load_modules", "mount -t ext4 /dev/vda /peer", "mount -o bind /dev /peer/dev",
              "mount -t proc proc /peer/proc", "mount -t sysfs sys /peer/sys", "mount -t tmpfs tmp /peer/tmp",
              "cp /e2e/ir.py /peer/tmp/ir.py"]
    for name, keyboard, command, start_s in MAPPERS:
        cpio.add(f"e2e/s/{tag(name)}/plan", plan(name, keyboard, command, start_s, a.changes).encode())
        run_sh.append(f"play {tag(name)}")
    cpio.add("e2e/run.sh", ("\n".join(run_sh) + "\n").encode())
    initrd = os.path.join(a.cache, "bench.cpio")
    cpio.write(initrd)
    try:
        lines = watch.stage("boot and measurements", vm.boot, kernel, initrd, a.cache, disk, a.timeout)
    except vm.VmError as e:
        print(e)
        return 1
    logs = {}
    for t, text in lines:
        logs.setdefault(t, []).append(text)
    results = {}
    print()
    print(f"Latency, lever event to first key-down, {a.changes} gear changes each "
          f"(QEMU TCG, {os.cpu_count()} host cores; emulated times compare only within one run):")
    print()
    print("| mapper | p50 | p99 | changes | missed | lever write to its stamp, p50 |")
    print("|---|---|---|---|---|---|")
    for name, *_ in MAPPERS:
        latencies, offsets, misses, samples = analyse(logs.get(tag(name), []))
        results[name] = (latencies, samples)
        if not latencies:
            print(f"| {name} | - | - | 0 | {misses} | (no key events: see the log) |")
            for line in logs.get(tag(name), [])[-15:]:
                print(f"    {line}")
            continue
        offset = f"{statistics.median(offsets):.3f} ms" if offsets else "(lever grabbed: not seen)"
        print(f"| {name} | {statistics.median(latencies):.2f} ms | {shared.percentile(latencies, 0.99):.2f} ms "
              f"| {len(latencies)} | {misses} | {offset} |")

    def ratio(x, y, q):
        if results.get(x, ([],))[0] and results.get(y, ([],))[0]:
            return f"{shared.percentile(results[x][0], q) / shared.percentile(results[y][0], q):.1f}"
        return "-"

    print()
    print(f"gearvane / floor: p50 x{ratio('gearvane', 'floor', 0.5)}, p99 x{ratio('gearvane', 'floor', 0.99)}; "
          f"input-remapper / gearvane: p50 x{ratio('input-remapper', 'gearvane', 0.5)}, "
          f"p99 x{ratio('input-remapper', 'gearvane', 0.99)}")
    print()
    print("At rest, the lever still for 10 s:")
    print()
    print("| mapper | CPU time | voluntary context switches | resident memory |")
    print("|---|---|---|---|")
    for name, *_ in MAPPERS:
        if name not in AT_REST:
            continue
        rest = at_rest(results.get(name, ([], []))[1])
        if rest:
            print(f"| {name} | {rest[0]:.2f} ms | {rest[1]} | {rest[2] / 1024:.1f} MiB |")
        else:
            print(f"| {name} | - | - | - |")
    print()
    print("Stages: " + ", ".join(f"{n} {s:.0f} s" for n, s in watch.stages))
    return 0


if __name__ == "__main__":
    sys.exit(main())
