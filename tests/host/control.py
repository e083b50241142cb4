#!/usr/bin/env python3
"""The control socket of the real gearvane --simulate, through a small client of its own.

  control.py --program PATH [TEST...]

Each test starts its own gearvane --simulate in a fresh folder (HOME, XDG_CONFIG_HOME and
XDG_RUNTIME_DIR inside it), types the simulated lever's lines on its standard input, and
talks to it as a window would. Without TEST names, every test runs.
"""
import argparse
import fcntl
import json
import os
import pwd
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import time

TIMEOUT = 5


class Failed(Exception):
    pass


def check(ok, what):
    if not ok:
        raise Failed(what if len(what) < 2000 else what[:2000] + "...")


class Daemon:
    """A gearvane --simulate with its own folder; typed() feeds its standard input."""

    def __init__(self, program, args=(), config=None, user=None):
        self.folder = tempfile.mkdtemp(prefix="gearvane-control-")
        self.runtime = os.path.join(self.folder, "run")
        os.mkdir(self.runtime, 0o700)
        self.config = os.path.join(self.folder, "xdg", "gearvane", "gearvane.conf")
        if config is not None:
            os.makedirs(os.path.dirname(self.config))
            with open(self.config, "w") as f:
                f.write(config)
        self.env = dict(os.environ, HOME=self.folder, XDG_CONFIG_HOME=os.path.join(self.folder, "xdg"),
                        XDG_RUNTIME_DIR=self.runtime)
        self.out = tempfile.TemporaryFile()
        self.err = tempfile.TemporaryFile()
        self.program = program
        self.process = None
        if user:
            # A copy that the user may run, wherever the build is.
            program = shutil.copy(program, os.path.join(self.folder, "gearvane"))
            os.chmod(self.folder, 0o755)
            for root, dirs, files in os.walk(self.folder):
                for name in dirs + files + [""]:
                    os.chown(os.path.join(root, name), user.pw_uid, user.pw_gid)
        self.process = subprocess.Popen([program, "--simulate"] + list(args), stdin=subprocess.PIPE, stdout=self.out,
                                        stderr=self.err, env=self.env, cwd=self.folder,
                                        user=user.pw_uid if user else None, group=user.pw_gid if user else None)
        self.path = os.path.join(self.runtime, "gearvane", "control")
        deadline = time.monotonic() + TIMEOUT
        while not os.path.exists(self.path):
            check(self.process.poll() is None and time.monotonic() < deadline,
                  f"no control socket at {self.path}: {self.stderr()}")
            time.sleep(0.01)

    def type(self, *lines):
        for line in lines:
            self.process.stdin.write((line + "\n").encode())
        self.process.stdin.flush()

    def stdout(self):
        self.out.seek(0)
        return self.out.read().decode(errors="replace")

    def stderr(self):
        self.err.seek(0)
        return self.err.read().decode(errors="replace")

    def end(self):
        """Ends its input, waits for it to end, and returns its exit status."""
        if self.process.stdin:
            self.process.stdin.close()
        try:
            return self.process.wait(TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise Failed("gearvane did not end when its input did")

    def close(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)

    def run(self, *args):
        """Another gearvane of the same user, such as --status: its exit status, output and error."""
        p = subprocess.run([self.program] + list(args), env=self.env, capture_output=True, timeout=TIMEOUT)
        return p.returncode, p.stdout.decode(), p.stderr.decode()


class Client:
    """One connection; messages() are the daemon's lines as they came, decoded."""

    def __init__(self, daemon, greet=True):
        self.socket = socket.socket(socket.AF_UNIX)
        self.socket.connect(daemon.path)
        self.buffer = b""
        self.seen = []
        self.next_id = 1
        if greet:
            self.until(lambda m: m["type"] == "learning")

    def send_raw(self, data):
        self.socket.sendall(data)

    def read(self, timeout):
        """The next message, or None after `timeout` s or at the end of the connection."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.socket], [], [], left)[0]:
                return None
            try:
                data = self.socket.recv(65536)
            except ConnectionResetError:  # closed with our lines unread
                return None
            if not data:
                return None
            self.buffer += data
        line, self.buffer = self.buffer.split(b"\n", 1)
        message = json.loads(line)
        self.seen.append(message)
        return message

    def until(self, wanted, timeout=TIMEOUT):
        """The messages up to and including the first that `wanted` takes."""
        got = []
        deadline = time.monotonic() + timeout
        while True:
            m = self.read(max(0, deadline - time.monotonic()))
            check(m is not None, f"waited in vain; got {len(got)} lines, the last {got[-3:]}")
            got.append(m)
            if wanted(m):
                return got

    def ask(self, request):
        """Sends a request; returns the events before its reply, and the reply."""
        request = dict(request, id=self.next_id)
        self.next_id += 1
        self.send_raw((json.dumps(request) + "\n").encode())
        got = self.until(lambda m: m["type"] == "reply")
        check(got[-1]["id"] == request["id"], f"reply to {request}: {got[-1]}")
        return got[:-1], got[-1]

    def ok(self, request):
        events, reply = self.ask(request)
        check(reply["ok"], f"{request} refused: {reply}")
        return events

    def closed(self, timeout=TIMEOUT):
        """Whether the daemon closes the connection within `timeout` s; the lines before go to seen."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.read(deadline - time.monotonic()) is None:
                try:
                    return self.socket.recv(1, socket.MSG_DONTWAIT) == b""
                except ConnectionResetError:
                    return True
                except BlockingIOError:
                    return False
        return False


def of(messages, kind):
    return [m for m in messages if m["type"] == kind]


# The tests. Each gets the program's path.

def test_connect_and_requests(program):
    """The connect burst in order, and every request once, each with its events before its reply."""
    d = Daemon(program, config="# mine\nhold-ms = 40\n")
    try:
        d.type("3")
        time.sleep(0.3)
        c = Client(d, greet=False)
        burst = c.until(lambda m: m["type"] == "reply" or (m["type"] == "status" and "N -> 3" in m["text"]), 2)
        kinds = [m["type"] for m in burst]
        check(kinds[:6] == ["hello", "settings", "devices", "lever", "game", "learning"], f"connect burst: {kinds}")
        check(burst[0]["simulate"] is True and burst[0]["config"] == d.config, f"hello: {burst[0]}")
        check(burst[4] == {"type": "game", "gear": 3, "source": "counted", "target": 3, "busy": False},
              f"game: {burst[4]}")
        check(burst[-1].get("backlog") is True, f"backlog: {burst[-1]}")
        c.ok({"type": "ping"})

        # set: checked, saved with the file's comments kept, applied, told to all.
        events = c.ok({"type": "set", "settings": {"max-gear": 5, "hold-ms": 60, "up-key": "KEY_E"}})
        check([m["type"] for m in events] == ["settings", "status"], f"set events: {events}")
        check(events[0]["max-gear"] == 5 and events[0]["hold-ms"] == 60, f"settings after set: {events[0]}")
        with open(d.config) as f:
            check(f.read() == "# mine\nhold-ms = 60\nmax-gear = 5\nup-key = KEY_E\n", "config file after set")
        d.type("7")
        taps = c.until(lambda m: m["type"] == "game" and not m["busy"])
        check([(t["key"], t["from"], t["to"]) for t in of(taps, "tap")] == [("KEY_E", 3, 4), ("KEY_E", 4, 5)],
              f"taps after set: {of(taps, 'tap')}")

        # set-gear: the game is taken to be in 2nd, and the lever (capped at 5th) is shifted to.
        events, reply = c.ask({"type": "set-gear", "gear": 2})
        check(reply["ok"] and of(events, "game")[0]["source"] == "user", f"set-gear: {events}")
        c.until(lambda m: m["type"] == "game" and m["gear"] == 5 and not m["busy"])

        # watch-devices: the simulated lever's state at once, then each change.
        events = c.ok({"type": "watch-devices", "on": True})
        check(of(events, "device-input") == [{"type": "device-input", "node": "simulate", "buttons": [],
                                              "hat": None}], f"watch: {events}")
        check(of(c.ok({"type": "watch-devices", "on": True}), "device-input") == [], "a second watch restates")
        d.type("press 9", "hat down-left")
        got = c.until(lambda m: m["type"] == "device-input" and m["hat"] == "down-left")
        check(of(got, "lever")[-1]["buttons"] == [9], f"lever after press: {of(got, 'lever')}")
        c.ok({"type": "watch-devices", "on": False})

        # learn: three gears (one refused as taken), the reset, saved as --learn would.
        d.type("release 9", "hat centre")
        c.ok({"type": "learn", "action": "start"})
        d.type("press 13", "release 13", "press 13")
        refused = c.until(lambda m: m["type"] == "learning" and m["note"])
        check("button 13 is 1st gear's" in refused[-1]["note"], f"note: {refused[-1]}")
        d.type("press 14", "hat left")
        c.until(lambda m: m["type"] == "learning" and m.get("asking") == 4)
        c.ok({"type": "learn", "action": "done"})
        d.type("release 14", "press 14")
        c.until(lambda m: m["type"] == "learning" and "1st" not in m["note"] and m["note"])
        d.type("press 11")
        ended = c.until(lambda m: m["type"] == "learning" and m["state"] == "off")
        check(ended[-1].get("ended") == "saved", f"learning ended: {ended}")
        check(of(ended, "settings")[-1]["gate"] == "1=13,2=14,3=hat-left,reset=11", f"learned: {ended}")
        with open(d.config) as f:
            text = f.read()
        check('device = "gearvane simulated lever"' in text and 'gate = "1=13,2=14,3=hat-left,reset=11"' in text,
              f"config after learning: {text}")

        # set telemetry: the game's port is listened on at once, as on a reload.
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        events = c.ok({"type": "set", "settings": {"telemetry": port}})
        check(f"telemetry: waiting for packets on 127.0.0.1:{port}" in [m["text"] for m in of(events, "status")]
              and of(events, "settings")[-1]["telemetry"] == f"127.0.0.1:{port}", f"set telemetry: {events}")
    finally:
        d.close()


def test_bad_requests(program):
    """Each bad request gets an error naming what was wrong, and changes nothing."""
    d = Daemon(program, config="hold-ms = 40\n")
    try:
        c = Client(d)
        cases = [
            (b"{nope", "not JSON"),
            (b"[1]", "not a JSON object"),
            (b'{"id":"x"}', "no 'type'"),
            (b'{"type":"frob"}', "unknown type 'frob'"),
            (b'{"type":"set","settings":{}}', "at least one setting"),
            (b'{"type":"set","settings":{"colour":"red"}}', "'colour' is not a setting"),
            (b'{"type":"set","settings":{"hold-ms":null}}', "hold-ms: null is not a value"),
            (b'{"type":"set","settings":{"hold-ms":1.5}}', "hold-ms: 1.5 is not a value"),
            (b'{"type":"set","settings":{"plate":"nascar","gate":"1=1"}}', "plate and gate cannot be set together"),
            (b'{"type":"set","settings":{"hold-ms":0}}', "hold-ms: '0' is not a decimal number from 1 to 1000"),
            (b'{"type":"set-gear","gear":8}', "'gear' is not a whole number from -1"),
            (b'{"type":"learn","action":"skip"}', "no learning is under way"),
            (b'{"type":"watch-devices"}', "'on' is missing"),
        ]
        for line, error in cases + [(None, None), (b'{"type":"set","settings":{"hold-ms":50}}', "gearvane.conf:2: 'bogus'")]:
            if not line:
                with open(d.config, "a") as f:
                    f.write("bogus\n")  # broken by hand since the start: nothing is saved till it is mended
                continue
            c.send_raw(line + b"\n")
            reply = c.until(lambda m: m["type"] == "reply")
            check(len(reply) == 1 and not reply[0]["ok"] and error in reply[0]["error"],
                  f"{line}: {reply} (wanted '{error}')")
        with open(d.config) as f:
            check(f.read() == "hold-ms = 40\nbogus\n", "the config file changed")
        check(of(c.seen, "settings")[-1]["hold-ms"] == 40 and len(of(c.seen, "settings")) == 1, "settings changed")
        # A line beyond 64 KiB closes that client alone; a blank line is no request.
        c.send_raw(b"\n" + b" " * 70000)
        check(c.closed(), "an endless line kept the client")
        Client(d).ok({"type": "ping"})
    finally:
        d.close()


def test_other_user_refused(program):
    """A peer of another user is closed before a word is said."""
    if os.geteuid() != 0:
        print("skipped: needs root, to run gearvane as nobody")
        return
    d = Daemon(program, user=pwd.getpwnam("nobody"))
    try:
        c = Client(d, greet=False)
        check(c.closed(), "another user's connection was kept")
        check(c.seen == [], f"another user was told {c.seen}")
    finally:
        d.close()


def test_stuck_client(program):
    """A client that never reads holds no key up while it is connected, and is dropped once
    its queue is full."""
    # A map without the hat, so that the hat can mark the end of a flood.
    d = Daemon(program, args=["--hold-ms", "20", "--gap-ms", "20", "--gate", "1=1,6=6"])
    try:
        stuck = Client(d, greet=False)
        stuck.send_raw(b'{"type":"watch-devices","on":true}\n')
        watcher = Client(d)
        watcher.ok({"type": "watch-devices", "on": True})
        d.type("1")
        watcher.until(lambda m: m["type"] == "game" and m["gear"] == 1 and not m["busy"])

        def flood(lines):
            # Each line gives its clients a lever and a device-input line; the hat marks the end.
            d.type(*["press 20\nrelease 20"] * (lines // 2), "hat up", "hat centre")
            watcher.until(lambda m: m["type"] == "device-input" and m["hat"] == "up", 20)

        # Until its socket is full, and then a little more, which waits in its queue.
        unread = lambda: int.from_bytes(fcntl.ioctl(stuck.socket, termios.FIONREAD, b"    "), sys.byteorder)
        before = -1
        while unread() > before:
            before = unread()
            flood(200)
        flood(200)
        # A busy machine may wake the loop late now and then: a round of taps is tried again,
        # up to five times, but a client that held keys up would do so in every round.
        for round in range(5):
            taken = len(d.stdout().splitlines())
            for gear in (6, 1):
                d.type(str(gear))
                watcher.until(lambda m: m["type"] == "game" and m["gear"] == gear and not m["busy"])
            holds, down = [], {}
            for line in d.stdout().splitlines()[taken:]:
                ms, key, edge = line.split()
                if edge == "down":
                    down[key] = int(ms)
                else:
                    holds.append(int(ms) - down.pop(key))
            if len(holds) == 10 and all(20 <= h <= 22 for h in holds):
                break
        check(len(holds) == 10 and all(20 <= h <= 22 for h in holds), f"holds: {holds}")
        # It was connected all along: once it reads, it gets every line, the last tap too.
        got = stuck.until(lambda m: m["type"] == "game" and m["gear"] == 1 and not m["busy"] and
                          len(of(stuck.seen, "tap")) == 1 + 10 * (round + 1), 20)
        check(of(got, "tap")[-1]["to"] == 1, f"the stuck client's last tap: {of(got, 'tap')[-1]}")

        # Over 1 MB more: it is dropped, and may come back for the whole state. The tap to 6th
        # on standard output marks the end, as a client reading all that could fall behind too.
        watcher.socket.close()
        d.type(*["press 20\nrelease 20"] * 3000, "6")
        deadline = time.monotonic() + 20
        while d.stdout().count("down") < 1 + 10 * (round + 1) + 1 and time.monotonic() < deadline:
            time.sleep(0.05)
        check(stuck.closed(), "the stuck client was never dropped")
        Client(d).ok({"type": "ping"})
    finally:
        d.close()


def test_eight_clients(program):
    """Eight clients at once; a ninth is told why and closed."""
    d = Daemon(program)
    try:
        clients = [Client(d) for _ in range(8)]
        ninth = Client(d, greet=False)
        check(ninth.closed() and ninth.seen == [{"type": "bye", "reason": "too many clients: at most 8"}],
              f"the ninth: {ninth.seen}")
        d.type("2")
        for c in clients:
            c.until(lambda m: m["type"] == "tap" and m["to"] == 2)
        clients.pop().socket.close()
        Client(d).ok({"type": "ping"})
    finally:
        d.close()


def test_first_clients_at_once(program):
    """Two clients that come in one turn of the loop, the first since none, both get the state as it is."""
    d = Daemon(program)
    try:
        d.type("3")
        Client(d).until(lambda m: m["type"] == "game" and m["gear"] == 3 and not m["busy"])
        time.sleep(0.2)  # the client has gone, and the loop has taken note
        os.kill(d.process.pid, signal.SIGSTOP)
        clients = [Client(d, greet=False) for _ in range(2)]
        os.kill(d.process.pid, signal.SIGCONT)
        for c in clients:
            burst = {m["type"]: m for m in c.until(lambda m: m["type"] == "learning")}
            check(len(burst["devices"]["devices"]) == 1 and burst["lever"]["attached"] and
                  burst["game"]["gear"] == 3, f"greeted with {burst}")
    finally:
        d.close()


def test_status_and_set_gear(program):
    """--status and --set-gear with a gearvane running, and with none."""
    d = Daemon(program)
    try:
        d.type("3")
        Client(d).until(lambda m: m["type"] == "game" and m["gear"] == 3 and not m["busy"])
        status, out, err = d.run("--status")
        check(status == 0 and "lever: simulate (gearvane simulated lever), 3rd gear" in out and
              "game: 3rd gear (counted from the taps sent)" in out, f"--status: {status} {out} {err}")
        c = Client(d)
        status, out, err = d.run("--set-gear", "r")
        check(status == 0 and "reverse" in out, f"--set-gear r: {status} {out} {err}")
        # From reverse, the taps go to the lever's gear again.
        c.until(lambda m: m["type"] == "game" and m["source"] == "user" and m["gear"] == -1)
        c.until(lambda m: m["type"] == "game" and m["gear"] == 3 and not m["busy"])
        check(d.run("--set-gear", "9")[0] == 2, "--set-gear 9 is a usage error")
        # A second one runs without the socket, and says why.
        status, out, err = d.run("--simulate")
        check(status == 0 and "no control socket: another gearvane has" in err, f"a second gearvane: {err}")
        d.end()
        check(not os.path.exists(d.path), "the socket was left behind")
        for args in (["--status"], ["--set-gear", "2"]):
            status, out, err = d.run(*args)
            check(status == 1 and "no gearvane is running" in err, f"{args} with none running: {status} {err}")
        del d.env["XDG_RUNTIME_DIR"]
        status, out, err = d.run("--status")
        check(status == 1 and "XDG_RUNTIME_DIR is not set" in err, f"--status without XDG_RUNTIME_DIR: {err}")
        check("no control socket: XDG_RUNTIME_DIR is not set" in d.run("--simulate")[2], "--simulate said nothing")
    finally:
        d.close()


TESTS = {name[5:]: f for name, f in globals().items() if name.startswith("test_")}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("tests", nargs="*", choices=[[]] + list(TESTS))
    a = parser.parse_args()
    failed = 0
    for name in a.tests or TESTS:
        try:
            TESTS[name](os.path.abspath(a.program))
            print(f"ok: {name}")
        except Failed as e:
            print(f"FAILED: {name}: {e}")
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
