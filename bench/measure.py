"""In the VM: gives each mapper the same lever changes and reports, as `bench|JSON` lines,
the latency of each from the lever event's kernel timestamp to the first key-down's, then
its cost at rest. It uses the test suite's scripted lever and key recorder.

Usage: python3 measure.py CHANGES
"""
import fcntl
import json
import os
import select
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

sys.path.insert(0, "/e2e")
from suite import EV_KEY, EVIOCSCLOCKID, Keyboard, Lever, Position  # noqa: E402

KEYBOARD = "gearvane virtual keyboard"

WARM_UP = 20
GEARVANE = ["/e2e/bin/gearvane", "--gate", "1=1,2=2", "--hold-ms", "1", "--gap-ms", "0"]
MAPPERS = [
    # name, the keyboard it types on, its command ({lever}: the lever's node), whether to
    # measure it at rest, the seconds it may take to start, and the request of a client of
    # its control socket that reads all it is sent (a window open), if one is connected
    ("floor", "floor virtual keyboard", ["/e2e/floor", "{lever}"], True, 20, None),
    ("gearvane", KEYBOARD, GEARVANE, True, 20, None),
    ("gearvane --quiet", KEYBOARD, GEARVANE + ["--quiet"], False, 20, None),
    ("gearvane, a client connected", KEYBOARD, GEARVANE, True, 20, '{"type":"ping"}'),
    ("gearvane, a client watching devices", KEYBOARD, GEARVANE, True, 20, '{"type":"watch-devices","on":true}'),
    ("input-remapper", "input-remapper keyboard", ["python3", "/e2e/ir.py"], True, 60, None),
]
RUNTIME = "/tmp/bench-run"  # gearvane's XDG_RUNTIME_DIR, where its control socket is


def wait_key(keyboard, edge, timeout, seen):
    """The kernel timestamp of the keyboard's next key-down or key-up, or None. `seen`
    keeps what was read past it: a key-up may come in the same read as its key-down."""
    deadline = time.monotonic() + timeout
    while True:
        while seen:
            t, name, e = seen.pop(0)
            if e == edge:
                return t
        left = deadline - time.monotonic()
        if left <= 0:
            return None
        if select.select([keyboard.fd], [], [], left)[0]:
            seen += keyboard.read()[0]


def lever_stamp(fd):
    """The kernel timestamp of the lever's last button press, as its readers see it, or
    None where the mapper grabbed it."""
    stamp = None
    try:
        while data := os.read(fd, 24 * 64):
            for sec, usec, kind, code, value in struct.iter_unpack("qqHHi", data):
                if kind == EV_KEY and value == 1:
                    stamp = sec * 10**9 + usec * 1000
    except BlockingIOError:
        pass
    return stamp


def sample(group):
    """CPU time (ns, scheduler's clock), voluntary context switches of all threads, and
    resident memory (kB) of the processes of a group."""
    cpu = switches = rss = 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if int(open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()[2]) != group:
                continue
            # Walked from the page tables: the status counters lag for small processes.
            rss += int(next(l for l in open(f"/proc/{pid}/smaps_rollup") if l.startswith("Rss:")).split()[1])
            for task in os.listdir(f"/proc/{pid}/task"):
                cpu += int(open(f"/proc/{pid}/task/{task}/schedstat").read().split()[0])
                status = open(f"/proc/{pid}/task/{task}/status").read()
                switches += int(status.split("\nvoluntary_ctxt_switches:")[1].split()[0])
        except (OSError, IndexError, StopIteration):
            continue
    return cpu, switches, rss


def connect(request):
    """A client of gearvane's control socket that asks `request`, then reads what it is sent,
    as a window does, until it is closed."""
    client = socket.socket(socket.AF_UNIX)
    client.connect(f"{RUNTIME}/gearvane/control")
    client.sendall(request.encode() + b"\n")

    def read():
        try:
            while client.recv(65536):
                pass
        except OSError:
            pass

    threading.Thread(target=read, daemon=True).start()
    return client


def measure(name, keyboard_name, command, at_rest, start_s, request, changes):
    lever, keyboard = Lever(), Keyboard(keyboard_name)
    lever.plug(Position())
    own = os.open(lever.node, os.O_RDONLY | os.O_NONBLOCK)
    fcntl.ioctl(own, EVIOCSCLOCKID, struct.pack("i", time.CLOCK_MONOTONIC))
    os.makedirs(RUNTIME, 0o700, exist_ok=True)
    mapper = subprocess.Popen([w.replace("{lever}", lever.node) for w in command], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, start_new_session=True,
                              env=dict(os.environ, XDG_RUNTIME_DIR=RUNTIME))
    out = {"name": name, "latencies": [], "offsets": [], "missed": 0}
    deadline = time.monotonic() + start_s
    while keyboard.find() is None and keyboard.fd is None and time.monotonic() < deadline:
        select.select([keyboard.watch], [], [], deadline - time.monotonic())
    if keyboard.fd is None:
        out["problem"] = "its keyboard never appeared"
    else:
        time.sleep(3)  # input-remapper grabs the lever a moment after its keyboard appears
        keyboard.read()
        client = connect(request) if request else None
        seen = []
        for i in range(WARM_UP + changes):
            lever_stamp(own)
            written = time.monotonic_ns()
            lever.move(Position([1 + i % 2]))
            down = wait_key(keyboard, "down", 3, seen)
            stamp = lever_stamp(own)
            lever.move(Position())
            if down is None or wait_key(keyboard, "up", 3, seen) is None:
                out["missed"] += 1
            elif i >= WARM_UP:
                out["latencies"].append((down - (stamp or written)) / 1e6)
                if stamp:
                    out["offsets"].append((stamp - written) / 1e6)
            time.sleep(0.005)
        if at_rest:
            time.sleep(1)
            before = sample(mapper.pid)
            time.sleep(10)
            after = sample(mapper.pid)
            out["rest"] = [(after[0] - before[0]) / 1e6, after[1] - before[1], after[2]]
        if client:
            client.shutdown(socket.SHUT_RDWR)
            client.close()
    os.killpg(mapper.pid, signal.SIGTERM)
    try:
        mapper.wait(10)
    except subprocess.TimeoutExpired:
        os.killpg(mapper.pid, signal.SIGKILL)
    os.close(own)
    keyboard.close()
    lever.unplug()
    return out


def main():
    changes = int(sys.argv[1])
    for mapper in MAPPERS:
        print("bench|" + json.dumps(measure(*mapper, changes)), flush=True)


if __name__ == "__main__":
    main()
