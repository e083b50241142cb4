#!/usr/bin/env python3
"""Measures the Windows programs under Wine, in one run, with the end-to-end harness's
scripted levers and key recorder: the time from a lever event to its key-down for
gearvane-tray.exe, and CPU time and wake-ups at rest beside a bare GetMessage loop.
It prints a table; nothing passes or fails on a time.

  bench.py --build build/win32     (inside the Wine desktop of scripts/common.sh)
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e", "wine"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e"))
import run_scenario  # noqa: E402
import scenario as shared  # noqa: E402

CHANGES = 300
REST_S = 10


def latency(args, work):
    """Lever event to key-down (ms) over CHANGES changes of one gear: from the lever's QPC
    stamp of the state change to the hook's QPC stamp of the key-down."""
    path = os.path.join(work, "latency.scn")
    steps = [f"  {10 * (i + 1)} buttons {6 + i % 2}" for i in range(CHANGES)]  # 1st, 2nd, 1st...
    keys = [f"  {10 * (i + 1)} {'KEY_PAGEUP' if i % 2 == 0 else 'KEY_PAGEDOWN'} tap" for i in range(CHANGES)]
    with open(path, "w") as f:
        f.write("settle: 30\ncontroller:\n  0 neutral\n" + "\n".join(steps) + "\nkeys:\n" + "\n".join(keys) + "\n")
    run = run_scenario.TrayRun(args, shared.Scenario(path)).run(["--minimized", "--hold-ms", "1", "--gap-ms", "0"])
    first = {}
    for step, ms, _, _, flags in run.key_events():
        if not flags & run_scenario.UP:
            first.setdefault(step, ms)
    begins = {n: t * 1000 / run.freq for t, n in run.markers}
    return [first[n] - begins[n] for n in begins if n and n in first], CHANGES - len(first)


def cpu(pid):
    """CPU seconds and voluntary context switches (wake-ups) of all threads of a process."""
    seconds = switches = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/schedstat") as f:
            seconds += int(f.read().split()[0]) / 1e9
        with open(f"/proc/{pid}/task/{task}/status") as f:
            switches += next(int(l.split()[1]) for l in f if l.startswith("voluntary_ctxt_switches"))
    return seconds, switches


def wineserver():
    """The pid of this prefix's wineserver: the one working in the prefix's server folder."""
    st = os.stat(os.environ["WINEPREFIX"])
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{pid}/cwd").endswith(f"/server-{st.st_dev:x}-{st.st_ino:x}"):
                return pid
        except OSError:
            pass
    return None


def at_rest(name, argv, work, env, stdin=None):
    """CPU time and wake-ups of the program and of the wineserver over REST_S seconds, after
    three seconds to settle."""
    program = subprocess.Popen(["wine", *argv], cwd=work, env=dict(os.environ, **env), stdin=subprocess.PIPE,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if stdin:
        program.stdin.write(stdin.encode())
        program.stdin.flush()
    time.sleep(3)
    server = wineserver()
    before, server_before = cpu(program.pid), cpu(server)[0]
    time.sleep(REST_S)
    (after_s, after_w), server_after = cpu(program.pid), cpu(server)[0]
    program.kill()
    program.wait()
    return name, (after_s - before[0]) * 1000, after_w - before[1], (server_after - server_before) * 1000


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="the win32 build folder")
    build = os.path.abspath(parser.parse_args().build)
    e2e = os.path.join(build, "tests", "e2e", "wine")
    work = tempfile.mkdtemp(prefix="gearvane-bench-")
    args = argparse.Namespace(exe=os.path.join(build, "gearvane-tray.exe"), fake=os.path.join(e2e, "dinput8", "dinput8.dll"),
                              recorder=os.path.join(e2e, "key_recorder.exe"), work=work)
    ms, missed = latency(args, work)
    for exe, fake in (("gearvane-tray.exe", "dinput8"), ("gearvane.exe", "winmm")):
        os.makedirs(os.path.join(work, fake), exist_ok=True)
        for path in (os.path.join(build, exe), os.path.join(e2e, fake, fake + ".dll")):
            subprocess.run(["cp", path, os.path.join(work, fake)], check=True)
    with open(os.path.join(work, "winmm", "shift.ini"), "w") as f:
        f.write("50\n20\n")
    subprocess.run(["i686-w64-mingw32-gcc", "-O2", "-mwindows", "-o", os.path.join(work, "idle.exe"),
                    os.path.join(HERE, "idle.c")], check=True)
    rests = [at_rest("bare GetMessage loop", ["idle.exe"], work, {}),
             at_rest("gearvane-tray.exe", ["gearvane-tray.exe", "--minimized"], os.path.join(work, "dinput8"),
                     {"WINEDLLOVERRIDES": "dinput8=n"}, "0 set 6 4294967295\nstart\n"),
             at_rest("gearvane.exe", ["gearvane.exe"], os.path.join(work, "winmm"), {"WINEDLLOVERRIDES": "winmm=n"})]
    print(f"\ngearvane-tray.exe, lever event to key-down over {len(ms)} changes ({missed} missed): "
          f"p50 {shared.percentile(ms, 0.5):.2f} ms, p99 {shared.percentile(ms, 0.99):.2f} ms\n")
    print(f"| program at rest ({REST_S} s) | CPU time | wake-ups | wineserver CPU time |")
    print("|---|---|---|---|")
    for name, cpu_ms, wakeups, server_ms in rests:
        print(f"| {name} | {cpu_ms:.0f} ms | {wakeups} | {server_ms:.0f} ms |")
    print(f"\n(work folder {work})")


if __name__ == "__main__":
    main()
