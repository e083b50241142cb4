#!/usr/bin/env python3
"""The Linux end-to-end suite: the unchanged gearvane in a throw-away VM, for what only a
kernel shows (devices that come and go, permissions, signals mid-tap, dropped events, the
virtual keyboard). One boot plays every scenario; one CTest test then checks each.

  suite.py boot --program P --deb D --tarball T --results DIR --cache DIR [--sdl-client C] [--only NAME...]
  suite.py check FILE.scn --results DIR     Expected/Actual diffs, and the taps' timing
  suite.py package --results DIR            the .deb, installed on the VM's Debian
  suite.py play FILE.scn...                 in the VM: plays them, one JSON event a line

A scenario file (scenarios/*.scn) holds, after '#' comments:
  args: --plate nascar          gearvane's command line (shell words)
  timing compare args: ...      a second run: holds and gaps must grow as these ask
  config: "max-gear = 5\\n"      the config file ($XDG_CONFIG_HOME/gearvane/gearvane.conf)
  lever: absent                 no lever at start; `locked`: the lever's node is locked at start
                                as another gearvane locks it, until an `unlock` step
  user: UID                     gearvane runs as UID, with /dev/uinput writable for it
  install: tarball              UID installs the tarball in an empty home, to run from there
  exit: N                       gearvane's exit code
  sdl: on                       udevd runs; SDL2 clients, with udev and without, watch the output
  controller:   STEP [after K down|up] WHAT. WHAT is a lever position (neutral, buttons 1,5,
                hat up|right|down|left, in any mix), unplug, replug [POSITION], dropped
                POSITION (moved while gearvane is stopped, in a burst that overflows its
                queue), signal TERM|INT, reload "CONFIG" (written, then SIGHUP), chmod MODE
                (the lever's node), mkdir DIR, link PATH (to the lever's node), pause MS, unlock,
                stdin [TEXT], stdin end, run ARGS (another gearvane, with no input, waited
                for), uninstall (then what is left in the home), ask JSON (a request on its
                control socket, waited for), watch (a client of that socket that watches
                every device's live input from then on), or learn (a client that starts
                learning gates, and stays). A step starts once the last one's
                key and sdl lines have come and 300 ms have passed, or, with `after`, at the
                last step's K-th key-down|up.
  keys:         STEP KEY down|up, STEP KEY tap [xN], STEP keyboard KEY... (gearvane's virtual
                keyboard appeared with these keys; `shifter` for its virtual shifter), STEP
                keyboard gone, STEP stdout TEXT, STEP run TEXT (each line of a `run`, then
                `exit N`), STEP ask TEXT (of an `ask`: the lever and the Scripted Lever's
                entry in the devices list as they change, then `ok` or `error: WHY`), STEP watch
                TEXT (the Scripted Lever's live input, as a `watch` client is sent it), STEP udev PROPERTIES (its ID_INPUT properties, with `sdl: on`)
  sdl:          what each SDL2 client sees: STEP opened NAME..., STEP buttonN down|up|tap [xN],
                STEP closed; their holds must be the kernel's (see SDL_HOLD_SLACK)
  stderr:       gearvane's standard error
{lever} stands for the lever's node, {pid} for gearvane's process id, {locker} for the
process that locked the lever.
"""
import argparse
import ast
import collections
import ctypes
import fcntl
import glob
import json
import os
import re
import select
import shlex
import signal
import socket
import statistics
import struct
import subprocess
import sys
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, HERE)

import scenario as shared  # noqa: E402

try:
    import evdev  # in the VM only
except ImportError:
    evdev = None

SETTINGS = {"args", "timing compare args", "config", "lever", "user", "install", "exit", "sdl"}
ACTIONS = {"unplug", "replug", "dropped", "signal", "reload", "chmod", "mkdir", "link", "pause", "stdin", "run",
           "unlock", "uninstall", "ask", "watch", "learn"}
HATS = {"up": (0, -1), "right": (1, 0), "down": (0, 1), "left": (-1, 0)}
LEVER, PROGRAM, SDL_CLIENT = "Scripted Lever", "/e2e/bin/gearvane", "/e2e/bin/sdl_client"
OUTPUTS = ("keyboard", "shifter")  # gearvane's output devices, named "gearvane virtual " + output
SDL_CLIENTS = {"sdl": {}, "sdl-no-udev": {"SDL_JOYSTICK_DISABLE_UDEV": "1"}}
KEYS = {"key", "stdout", "run", "ask", "watch", "udev", *OUTPUTS}  # the kinds of the keys block
COUNTED = KEYS | set(SDL_CLIENTS)  # what a step waits for
# How far the holds that a game sees through SDL may be off the kernel's, in ms, in the
# median over the taps; more when gearvane's own holds, as the kernel stamped them, are
# further off the hold asked: then the host starves the VM, and the client with it. SDL2
# has no kernel timestamps: the client notes when SDL hands an event over.
SDL_HOLD_SLACK = 2
SETTLE = 0.3          # s of quiet that ends a step
KEYBOARD_SETTLE = 250  # ms that gearvane leaves a new keyboard before its first key
FOREIGN, BURST = 20, 300  # the button that a burst toggles, far more often than a queue holds
EV_SYN, EV_KEY, EV_ABS, ABS_HAT0X, ABS_HAT0Y, BTN_TRIGGER = 0, 1, 3, 0x10, 0x11, 0x120
EVIOCGNAME, EVIOCGBIT_KEY, EVIOCSCLOCKID = 2 << 30 | 256 << 16 | 0x4506, 2 << 30 | 96 << 16 | 0x4521, \
    1 << 30 | 4 << 16 | 0x45a0
IN_CREATE = 0x100


class Position:
    def __init__(self, buttons=(), hat=(0, 0)):
        self.buttons, self.hat = frozenset(buttons), hat

    @classmethod
    def parse(cls, text):
        words, buttons, hat = text.split(), (), (0, 0)
        while words:
            word = words.pop(0)
            if word == "buttons" and words:
                buttons = [int(b) for b in words.pop(0).split(",")]
            elif word == "hat" and words and words[0] in HATS:
                hat = HATS[words.pop(0)]
            elif word != "neutral":
                raise shared.ScenarioError(f"not a lever position: {text}")
        return cls(buttons, hat)


class Step:
    def __init__(self, line):
        m = re.fullmatch(r"(\d+)\s*(?:after (\d+) (down|up)\s*)?(\S*)\s*(.*)", line)
        if not m:
            raise shared.ScenarioError(f"not a controller step: {line}")
        self.number, self.trigger = int(m[1]), (m[3], int(m[2])) if m[2] else None
        word, rest = m[4], m[5]
        self.kind = word if word in ACTIONS else "set"
        self.arg = {"set": lambda: Position.parse(f"{word} {rest}"),
                    "replug": lambda: Position.parse(rest) if rest else None,
                    "dropped": lambda: Position.parse(rest),
                    "signal": lambda: {"TERM": signal.SIGTERM, "INT": signal.SIGINT}[rest],
                    "reload": lambda: ast.literal_eval(rest),
                    "run": lambda: shlex.split(rest)}.get(self.kind, lambda: rest)()
        if self.kind == "stdin" and rest == "end":
            self.kind = "eof"


class LinuxScenario(shared.Scenario):
    def __init__(self, path):
        super().__init__(path)
        self.check_known(SETTINGS, {"controller", "keys", "stderr", "sdl"})
        self.args = shlex.split(self.settings.get("args", ""))
        self.steps = [Step(line) for line in self.blocks.get("controller", [])]
        if not self.steps or self.steps[0].number != 0:
            self.steps.insert(0, Step("0 neutral"))
        numbers = [s.number for s in self.steps]
        if self.steps[0].kind != "set" or numbers != sorted(set(numbers)):
            raise shared.ScenarioError(f"{path}: controller steps must rise from a position at 0")
        for line in self.keys():
            if int(line.split()[0]) not in numbers:
                raise shared.ScenarioError(f"{path}: keys at step {line.split()[0]}, which the controller lacks")

    def keys(self):
        return shared.expand_taps(self.blocks.get("keys", []), lambda step, key, edge: f"{step} {key} {edge}")

    def sdl(self):
        return shared.expand_taps(self.blocks.get("sdl", []), lambda step, key, edge: f"{step} {key} {edge}")

    def output(self, args):
        """The output device that the command line and config file ask for."""
        text = " ".join(args) + " " + self.settings.get("config", "")
        return "shifter" if re.search(r"output\W+shifter", text) else "keyboard"

    def hold_gap(self, args):
        """The hold and gap (ms) that the command line and config file ask for."""
        text = " ".join(args) + " " + self.settings.get("config", "")
        hold = [int(v) for v in re.findall(r"hold-ms\W+(\d+)", text)] or [40]
        gap = [int(v) for v in re.findall(r"gap-ms\W+(\d+)", text)] or [40]
        return hold[0], gap[0]

    def runs(self):
        """(tag, args) of each start of gearvane."""
        out = [(self.name, self.args)]
        if "timing compare args" in self.settings:
            out.append((self.name + "+compare", shlex.split(self.settings["timing compare args"])))
        return out


# --- In the VM: the scripted lever, the key recorder and the player -------------------------

class Lever:
    """A uinput joystick as a USB shifter is: buttons 1..32 from BTN_TRIGGER on, and a hat."""

    def __init__(self):
        self.ui, self.node, self.at = None, None, Position()

    def plug(self, at):
        hat = evdev.AbsInfo(0, -1, 1, 0, 0, 0)
        self.ui = evdev.UInput({EV_KEY: [BTN_TRIGGER + i for i in range(32)],
                                EV_ABS: [(ABS_HAT0X, hat), (ABS_HAT0Y, hat)]},
                               name=LEVER, vendor=0x1209, product=0xa5f1)
        self.node, self.at = self.ui.device.path, Position()
        self.move(at)

    def unplug(self):
        self.ui.close()
        self.ui = None

    def frame(self, to):
        """The events, SYN_REPORT included, that take the lever to `to`."""
        events = [(EV_KEY, BTN_TRIGGER + b - 1, int(b in to.buttons)) for b in sorted(self.at.buttons ^ to.buttons)]
        events += [(EV_ABS, code, new) for code, old, new in zip((ABS_HAT0X, ABS_HAT0Y), self.at.hat, to.hat)
                   if old != new]
        self.at = to
        return events + [(EV_SYN, 0, 0)] if events else []

    def write(self, events):
        """In one write: a burst gets into the kernel faster than any reader can follow."""
        os.write(self.ui.fd, b"".join(struct.pack("qqHHi", 0, 0, *e) for e in events))

    def move(self, to):
        events = self.frame(to)
        if self.ui and events:
            self.write(events)


class Keyboard:
    """The keyboard with a given name, opened as soon as it appears: its first key comes at
    once. Its events carry kernel timestamps on CLOCK_MONOTONIC."""

    def __init__(self, name):
        self.name, self.fd, self.frame = name.encode(), None, []
        libc = ctypes.CDLL(None, use_errno=True)
        self.watch = libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.watch < 0 or libc.inotify_add_watch(self.watch, b"/dev/input", IN_CREATE) < 0:
            raise OSError(ctypes.get_errno(), "inotify on /dev/input")

    def close(self):
        for fd in (self.watch, self.fd):
            if fd is not None:
                os.close(fd)

    def find(self):
        """Opens the keyboard if none is open and it is there; returns its keys, or None."""
        try:
            while os.read(self.watch, 4096):
                pass
        except BlockingIOError:
            pass
        for node in [] if self.fd is not None else sorted(glob.glob("/dev/input/event*")):
            name, bits, fd = bytearray(256), bytearray(96), None
            try:
                fd = os.open(node, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
                # The clock first: setting it empties the queue.
                fcntl.ioctl(fd, EVIOCSCLOCKID, struct.pack("i", time.CLOCK_MONOTONIC))
                fcntl.ioctl(fd, EVIOCGNAME, name)
                fcntl.ioctl(fd, EVIOCGBIT_KEY, bits)
            except OSError:
                name = b""  # gone already
            if name.split(b"\0")[0] == self.name:
                self.fd = fd
                return [key_name(c) for c in range(8 * len(bits)) if bits[c // 8] >> c % 8 & 1]
            if fd is not None:
                os.close(fd)
        return None

    def read(self):
        """The key events waiting, as (ns, name, down|up|repeat|up-by-kernel), and whether
        the keyboard went. When a device goes, the kernel lets go of the keys still down on
        it and ends those key-ups with SYN_REPORT 1: the program left them down."""
        out = []
        while True:
            try:
                data = os.read(self.fd, 24 * 64)
            except BlockingIOError:
                return out, False
            except OSError:
                data = b""
            if not data:
                os.close(self.fd)
                self.fd, self.frame = None, []
                return out, True
            for sec, usec, kind, code, value in struct.iter_unpack("qqHHi", data):
                if kind == EV_KEY:
                    self.frame.append((sec * 10**9 + usec * 1000, key_name(code), ["up", "down", "repeat"][value]))
                elif kind == EV_SYN and code == 0:
                    out += [(t, name, "up-by-kernel" if value == 1 else edge) for t, name, edge in self.frame]
                    self.frame = []


def key_name(code):
    name = evdev.ecodes.KEY.get(code) or evdev.ecodes.BTN.get(code) or str(code)
    # BTN_TRIGGER shares its code with BTN_JOYSTICK, the start of the joystick buttons.
    return name if not isinstance(name, list) else "BTN_TRIGGER" if "BTN_TRIGGER" in name else name[0]


class Player:
    """Plays one run of a scenario and records it as events [ns, step, kind, text]: the
    key events with their kernel timestamps, the rest when they were seen."""

    def __init__(self, scn, tag, args):
        self.scn, self.args, self.work = scn, args, f"/tmp/w/{tag}"
        hold, gap = scn.hold_gap(args)
        self.timeout = 4 + 8 * (hold + gap) / 1000  # generous: only a broken program waits it out
        self.events, self.step, self.since = [], 0, collections.Counter()
        self.output = scn.output(args)
        self.lever, self.keyboard = Lever(), Keyboard("gearvane virtual " + self.output)
        self.proc, self.pidfd, self.pipes, self.made, self.lock = None, None, {}, [], None
        self.udevd, self.clients = None, []
        uid = scn.number("user")
        self.as_user = dict(user=uid, group=uid, extra_groups=[]) if uid else {}
        self.env = {"PATH": "/usr/bin:/bin", "HOME": self.work, "XDG_CONFIG_HOME": f"{self.work}/xdg"}
        self.program = PROGRAM
        if scn.settings.get("install") == "tarball":
            # An empty home, as a new user's: nothing else points into it.
            self.env = {"PATH": "/usr/bin:/bin", "HOME": f"{self.work}/home"}
            self.program = f"{self.work}/home/.local/bin/gearvane"

    def log(self, kind, text="", t=None):
        if kind in SDL_CLIENTS and re.match(r"\d+ ", text):  # the client's own time
            t, text = text.split(" ", 1)
            t = int(t)
        self.events.append([t or time.monotonic_ns(), self.step, kind, text])
        if kind in COUNTED:
            self.since["all"] += 1
        if kind == "key":
            self.since[text.split()[1]] += 1

    def play(self):
        steps = self.scn.steps
        expected = collections.Counter(int(line.split()[0]) for line in self.scn.keys())
        expected.update(int(line.split()[0]) for line in self.scn.sdl() for _ in SDL_CLIENTS)
        try:
            if self.scn.settings.get("sdl") == "on":
                self.start_sdl()
            if self.as_user:
                os.chmod("/dev/uinput", 0o666)  # as the package's udev rule does for the seat's user
            if self.scn.settings.get("lever") == "absent":
                self.lever.move(steps[0].arg)
            else:
                self.plug(steps[0].arg)
            if self.scn.settings.get("lever") == "locked":
                self.lock = os.open(self.lever.node, os.O_RDONLY | os.O_CLOEXEC)
                fcntl.flock(self.lock, fcntl.LOCK_EX)
                self.log("locker", str(os.getpid()))
            self.begin(0)
            self.spawn()
            for last, s in zip(steps, steps[1:]):
                if s.trigger:
                    self.wait(lambda: self.since[s.trigger[0]] >= s.trigger[1], 0)
                else:
                    self.wait(lambda: self.since["all"] >= expected[last.number], SETTLE)
                self.begin(s.number)
                self.act(s)
            self.wait(lambda: self.since["all"] >= expected[steps[-1].number], SETTLE)
            self.finish()
        except Exception:
            self.log("problem", traceback.format_exc())
        finally:
            self.clean_up()
        return self.events

    def start_sdl(self):
        """systemd-udevd, then the SDL2 clients; step 0 waits for them to open the output."""
        # input-remapper's rule runs a Python program for each device, which holds up udev's
        # queue for seconds under emulation.
        masked = "/etc/udev/rules.d/60-input-remapper-daemon.rules"
        os.symlink("/dev/null", masked)
        self.made.append(masked)
        self.udevd = subprocess.Popen(["/lib/systemd/systemd-udevd"], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL, start_new_session=True)
        # udevadm's own waiting (settle, control --ping) does nothing in a chroot.
        until(lambda: os.path.exists("/run/udev/control"), "systemd-udevd did not start")
        for kind, env in SDL_CLIENTS.items():
            # A game's input thread: it keeps up with the taps, even under emulation.
            client = subprocess.Popen(["chrt", "-f", "10", SDL_CLIENT, "gearvane virtual " + self.output],
                                      env=dict(self.env, SDL_JOYSTICK_HIDAPI="0", **env), stdout=subprocess.PIPE,
                                      stderr=subprocess.STDOUT, start_new_session=True)
            os.set_blocking(client.stdout.fileno(), False)
            self.pipes[client.stdout.fileno()] = [kind, b"", client.stdout]
            self.clients.append(client)

    def plug(self, at):
        self.lever.plug(at)
        self.log("lever", self.lever.node)

    def begin(self, number):
        while self.pump(0):
            pass
        self.step = number
        self.since.clear()
        self.log("step")

    def spawn(self):
        os.makedirs(f"{self.work}/xdg/gearvane")
        # A control socket of its own, in a folder of the user's alone.
        self.env["XDG_RUNTIME_DIR"] = f"{self.work}/run"
        os.makedirs(self.env["XDG_RUNTIME_DIR"], 0o700)
        if self.as_user:
            os.chown(self.env["XDG_RUNTIME_DIR"], self.as_user["user"], self.as_user["group"])
        if self.program != PROGRAM:
            self.install()
        if "config" in self.scn.settings:
            self.write_config(self.scn.string("config").decode())
        stdin = subprocess.PIPE if any(s.kind in ("stdin", "eof") for s in self.scn.steps) else subprocess.DEVNULL
        self.proc = subprocess.Popen([self.program] + self.args, cwd=self.work, env=self.env, stdin=stdin,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True,
                                     **self.as_user)
        self.pidfd = os.pidfd_open(self.proc.pid)
        for kind, f in (("stdout", self.proc.stdout), ("stderr", self.proc.stderr)):
            os.set_blocking(f.fileno(), False)
            self.pipes[f.fileno()] = [kind, b"", f]
        self.log("spawn", str(self.proc.pid))

    def install_sh(self, command, keep=None):
        """Runs a shell command as the scenario's user where the tarball is unpacked; logs as run
        lines its exit and those of its lines that start with `keep` (all when it fails)."""
        done = subprocess.run(["sh", "-c", command], cwd=f"{self.work}/unpacked", env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30, **self.as_user)
        for line in done.stdout.decode(errors="replace").splitlines():
            if done.returncode or keep and line.startswith(keep):
                self.log("run", line.replace(self.env["HOME"], "~"))
        self.log("run", f"exit {done.returncode}")

    def install(self):
        for d in (self.env["HOME"], f"{self.work}/unpacked"):
            os.makedirs(d)
            os.chown(d, self.as_user["user"], self.as_user["group"])
        self.install_sh("tar xzf /e2e/gearvane.tar.gz && sh ./*/install.sh", "installed ")

    def uninstall(self):
        self.install_sh("sh ./*/install.sh --uninstall")
        home = self.env["HOME"]
        left = sorted(os.path.relpath(os.path.join(d, n), home) for d, dirs, files in os.walk(home) for n in dirs + files)
        self.log("run", f"left in the home: {' '.join(left) or 'nothing'}")

    def write_config(self, text):
        path = f"{self.work}/xdg/gearvane/gearvane.conf"
        with open(path + ".new", "w") as f:
            f.write(text)
        os.rename(path + ".new", path)  # as an editor saves

    def act(self, s):
        pid = self.proc.pid
        if s.kind == "set":
            self.lever.move(s.arg)
        elif s.kind == "replug":
            self.plug(s.arg or self.lever.at)
        elif s.kind == "unplug":
            self.lever.unplug()
        elif s.kind == "dropped":
            self.dropped(s.arg)
        elif s.kind == "signal":
            os.kill(pid, s.arg)
        elif s.kind == "reload":
            self.write_config(s.arg)
            os.kill(pid, signal.SIGHUP)
        elif s.kind == "chmod":
            os.chmod(self.lever.node, int(s.arg, 8))
        elif s.kind == "mkdir":
            os.mkdir(s.arg)
            self.made.append(s.arg)
        elif s.kind == "link":  # relative, as udev makes them
            os.symlink(os.path.relpath(self.lever.node, os.path.dirname(s.arg)), s.arg)
            self.made.append(s.arg)
        elif s.kind == "pause":
            self.settle(int(s.arg) / 1000)
        elif s.kind == "stdin":
            self.proc.stdin.write(s.arg.encode() + b"\n")
            self.proc.stdin.flush()
        elif s.kind == "eof":
            self.proc.stdin.close()
        elif s.kind == "run":
            self.run(s.arg)
        elif s.kind == "ask":
            self.ask(s.arg)
        elif s.kind in ("watch", "learn"):
            self.watch(s.kind)
        elif s.kind == "unlock":
            os.close(self.lock)
            self.lock = None
        elif s.kind == "uninstall":
            self.uninstall()


    def connect(self):
        s = socket.socket(socket.AF_UNIX)
        s.settimeout(self.timeout)
        s.connect(f"{self.env['XDG_RUNTIME_DIR']}/gearvane/control")
        return s

    def watch(self, kind):
        """A client that stays: one that watches every device's live input, as the device
        picker does, or one that starts learning gates, as Learn does. What it is sent is
        read with gearvane's own output."""
        s = self.connect()
        s.sendall(b'{"type":"watch-devices","on":true}\n' if kind == "watch" else
                  b'{"type":"learn","action":"start"}\n')
        s.setblocking(False)
        self.pipes[s.fileno()] = ["watch", b"", s]

    def watched(self, line):
        """The Scripted Lever's live input in a line that a `watch` client is sent, or None."""
        m = json.loads(line)
        if m["type"] != "device-input" or m["node"] != self.lever.node:
            return None
        return f"{m['node']} buttons {','.join(map(str, m['buttons'])) or 'none'} hat {m['hat'] or 'centred'}"

    def ask(self, request):
        """A request on gearvane's control socket, as gearvane-gui makes it, after the state
        that a client is sent on connect."""
        try:
            with self.connect() as s:
                lines = s.makefile("rb")
                while json.loads(lines.readline())["type"] != "learning":
                    pass
                s.sendall(request.encode() + b"\n")
                while True:
                    m = json.loads(lines.readline())
                    if m["type"] == "lever":
                        self.log("ask", f"lever {m['node']} gear {m['gear']}" if m["attached"]
                                 else f"lever waiting for {m['waiting']}")
                    for d in m.get("devices", []) if m["type"] == "devices" else []:
                        if d["name"] == LEVER:
                            self.log("ask", f"device {d['node']} setting {d['setting']} driving {d['driving']}")
                    if m["type"] == "reply":
                        self.log("ask", "ok" if m["ok"] else f"error: {m['error']}")
                        return
        except (OSError, ValueError) as e:
            self.log("ask", f"failed: {e}")

    def dropped(self, to):
        """Moves the lever while gearvane is stopped, at the start of a burst of another
        button that overflows gearvane's queue: the move itself is lost."""
        pid = self.proc.pid
        os.kill(pid, signal.SIGSTOP)
        while open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()[0] != "T":
            time.sleep(0.001)
        toggle = [(EV_KEY, BTN_TRIGGER + FOREIGN - 1, 1), (EV_SYN, 0, 0), (EV_KEY, BTN_TRIGGER + FOREIGN - 1, 0),
                  (EV_SYN, 0, 0)]
        self.lever.write(self.lever.frame(to) + toggle * BURST)
        os.kill(pid, signal.SIGCONT)

    def run(self, args):
        try:
            # An empty pipe: the end of input at once, where /dev/null would give none to epoll.
            done = subprocess.run([self.program] + args, cwd=self.work, env=self.env, input=b"",
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=self.timeout,
                                  **self.as_user)
            output, end = done.stdout, f"exit {done.returncode}"
        except subprocess.TimeoutExpired as e:
            output, end = e.output or b"", "killed: it did not end"
        for line in output.decode(errors="replace").splitlines() + [end]:
            self.log("run", line)

    def pump(self, seconds):
        """Records what happens within `seconds`; returns whether anything did."""
        fds = [self.keyboard.watch] + [fd for fd in (self.keyboard.fd, self.pidfd) if fd is not None] + list(self.pipes)
        ready = select.select(fds, [], [], max(seconds, 0))[0]
        for fd in ready:
            if fd == self.keyboard.watch:
                self.find_keyboard()
            elif fd == self.keyboard.fd:
                events, gone = self.keyboard.read()
                for t, name, edge in events:
                    self.log("key", f"{name} {edge}", t)
                if gone:
                    self.log(self.output, "gone")
                    self.find_keyboard()
            elif fd in self.pipes:
                self.read_pipe(fd)
        if self.pidfd in ready:  # after the pipes: its last words come before its exit
            for fd in [fd for fd, (kind, _, _) in self.pipes.items() if kind in ("stdout", "stderr")]:
                os.set_blocking(fd, True)
                while fd in self.pipes:
                    self.read_pipe(fd)
            code = self.proc.wait()
            os.close(self.pidfd)
            self.pidfd = None
            self.log("exit", str(code) if code >= 0 else f"killed by signal {-code}")
        return bool(ready)

    def find_keyboard(self):
        keys = self.keyboard.find()
        if keys is None:
            return
        self.log(self.output, " ".join(keys))
        if self.udevd:
            rdev = os.fstat(self.keyboard.fd).st_rdev
            dev = f"{os.major(rdev)}:{os.minor(rdev)}"
            until(lambda: os.path.exists(f"/run/udev/data/c{dev}"), "udev did not take the device in")
            info = subprocess.run(["udevadm", "info", "--query=property", f"/sys/dev/char/{dev}"], capture_output=True,
                                  text=True)
            properties = [p for p in info.stdout.split() if p.startswith("ID_INPUT")]
            self.log("udev", " ".join(sorted(properties)) or info.stderr.strip())

    def read_pipe(self, fd):
        kind, before, f = self.pipes[fd]
        try:
            data = os.read(fd, 65536)
        except BlockingIOError:
            return
        *lines, rest = (before + data).split(b"\n")
        self.pipes[fd][1] = rest
        if not data:
            lines += [rest] if rest else []
            del self.pipes[fd]
            f.close()
        for line in lines:
            text = line.decode(errors="replace")
            if kind == "watch":
                text = self.watched(text)
            if text is not None:
                self.log(kind, text)

    def wait(self, done, settle):
        """Until done() (or a timeout, which is logged), then `settle` seconds more."""
        deadline = time.monotonic() + self.timeout
        while not done():
            if self.pidfd is None and self.keyboard.fd is None:
                break  # gearvane and its keyboard are gone: nothing more can come
            if time.monotonic() > deadline:
                self.log("problem", f"timed out in step {self.step}")
                self.timeout = 1  # the run has gone wrong already: the rest need only end soon
                break
            self.pump(deadline - time.monotonic())
        self.settle(settle)

    def settle(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.pump(end - time.monotonic())

    def finish(self):
        deadline = time.monotonic() + self.timeout
        while self.pidfd is not None and time.monotonic() < deadline:
            self.pump(deadline - time.monotonic())
        if self.pidfd is not None:
            self.log("problem", "gearvane did not end in time")
            os.killpg(self.proc.pid, signal.SIGKILL)
            while self.pidfd is not None:
                self.pump(1)
        self.settle(SETTLE)  # the keyboard goes after the exit, and the SDL clients see it go

    def clean_up(self):
        if self.pidfd is not None:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()
        if self.lock is not None:
            os.close(self.lock)
        if self.lever.ui:
            self.lever.unplug()
        self.keyboard.close()
        for p in [p for p in self.clients + [self.udevd] if p]:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()
        for path in reversed(self.made):
            (os.remove if os.path.islink(path) else os.rmdir)(path)
        os.chmod("/dev/uinput", 0o600)


def until(done, problem):
    """Waits until done(), for 20 s at most."""
    deadline = time.monotonic() + 20
    while not done():
        if time.monotonic() > deadline:
            raise RuntimeError(problem)
        time.sleep(0.01)


def play(a):
    for path in a.scenarios:
        scn = LinuxScenario(path)
        for tag, args in scn.runs():
            for event in Player(scn, tag, args).play():
                print(f"{tag}|{json.dumps(event)}", flush=True)
    return 0


# --- On the host: booting, and checking what happened ---------------------------------------

def skipped(results):
    """The exit status of a check after a boot that could not run, else None."""
    try:
        meta = json.load(open(os.path.join(results, "meta.json")))
    except OSError:
        meta = {"status": "no boot"}
    if meta.get("skipped"):
        print(f"not run: QEMU cannot run here: {meta['skipped']}")
        return 1 if os.environ.get("CI") == "true" else 77
    if meta.get("status") != "ok":
        print("not run: the VM did not boot (see the e2e-linux.boot test's output)")
        return 1
    return None


def boot(a):
    os.makedirs(a.results, exist_ok=True)
    for f in os.listdir(a.results):
        os.remove(os.path.join(a.results, f))
    meta = {"status": "failed", "stages": []}
    code = boot_and_play(a, meta)
    json.dump(meta, open(os.path.join(a.results, "meta.json"), "w"))
    # CTest hides a passing test's output: scripts/test prints this instead.
    with open(os.path.join(a.results, "report.txt"), "w") as f:
        f.write(f"Linux end-to-end VM: {meta['status']}; {meta.get('skipped') or ', '.join(meta['stages'])}\n")
    return code


def boot_and_play(a, meta):
    import vm
    problem, began = vm.qemu_problem(), time.monotonic()
    if problem:
        print(f"QEMU cannot run here: {problem}. The Linux end-to-end tests need it.")
        meta.update(status="skipped", skipped=problem)
        return 1 if os.environ.get("CI") == "true" else 77

    def stage(name, result):
        nonlocal began
        meta["stages"].append(f"{name} {time.monotonic() - began:.0f} s")
        print(f"vm: {meta['stages'][-1]}", flush=True)
        began = time.monotonic()
        return result

    try:
        os.makedirs(a.cache, exist_ok=True)
        kernel = stage("kernel", vm.build_kernel(a.cache))
        disk = stage("Debian disk", vm.build_rootfs(a.cache, vm.deb_depends(a.deb)))
        names = sorted(f for f in os.listdir(os.path.join(HERE, "scenarios"))
                       if f.endswith(".scn") and (not a.only or f[:-4] in a.only))
        cpio = vm.initramfs(kernel, ("" if a.only else "sh /e2e/package.sh | sed 's/^/package|/' >&3\n")
                            + "chroot /peer /usr/bin/python3 /e2e/suite.py play /e2e/scenarios/*.scn >&3\n")
        cpio.add_file("e2e/bin/gearvane", a.program, 0o755)
        if a.sdl_client:
            cpio.add_file("e2e/bin/sdl_client", a.sdl_client, 0o755)
        cpio.add_file("e2e/gearvane.deb", a.deb)
        cpio.add_file("e2e/gearvane.tar.gz", a.tarball)
        for name in ["suite.py", "package.sh"] + [f"scenarios/{n}" for n in names]:
            cpio.add_file(f"e2e/{name}", os.path.join(HERE, name))
        cpio.add_file("e2e/scenario.py", os.path.join(os.path.dirname(HERE), "scenario.py"))
        cpio.write(os.path.join(a.cache, "suite.cpio"))
        lines = stage("boot and scenarios", vm.boot(kernel, os.path.join(a.cache, "suite.cpio"), disk, a.cache, 600))
    except (vm.VmError, OSError) as e:
        print(e)
        return 1
    logs = collections.defaultdict(list)
    for tag, text in lines:
        logs["guest" if tag == "@@" else tag].append(text)
    for tag, texts in logs.items():
        with open(os.path.join(a.results, f"{tag}.log"), "w") as f:
            f.write("\n".join(texts) + "\n")
    print("\n".join(f"guest: {text}" for text in logs["guest"]))
    meta["status"] = "ok"
    return 0


def check_taps(scn, args, events):
    """Each key-down gets its key-up before the next; the first key on a new keyboard
    waits for its settle time; holds and gaps of 40 ms or more are not shorter than half
    (between kernel timestamps, the program's own work before each write shortens or
    lengthens them by up to about 10 ms under emulation); and a tap that an unplug, a signal
    or a request (which may let go of the lever) cuts short ends at once, well within half
    its hold."""
    hold, gap = scn.hold_gap(args)
    cut = {s.number for s in scn.steps if s.kind in ("unplug", "signal", "ask")}
    starts = {step: t for t, step, kind, _ in events if kind == "step"}
    problems, down, last_up, appeared = [], None, None, None
    for t, step, kind, text in sorted(events, key=lambda e: e[0]):
        if kind in OUTPUTS and text != "gone":
            appeared = t
        if kind != "key":
            continue
        key, edge = text.split()
        if edge in ("repeat", "up-by-kernel"):
            problems.append(f"step {step}: {key} " + ("auto-repeated" if edge == "repeat" else
                                                      "left down: the kernel let it go as the keyboard went"))
            down = None
        elif edge == "down":
            if down:
                problems.append(f"step {step}: {key} down while {down[0]} is still down")
            if appeared is not None and t - appeared < KEYBOARD_SETTLE / 2 * 1e6:
                problems.append(f"step {step}: {key} down {(t - appeared) / 1e6:.0f} ms after its keyboard appeared")
            if last_up is not None and gap >= 40 and t - last_up < gap / 2 * 1e6:
                problems.append(f"step {step}: {key} down {(t - last_up) / 1e6:.1f} ms after the last key-up")
            down, appeared = (key, t), None
        elif not down or down[0] != key:
            problems.append(f"step {step}: {key} up without its down")
        else:
            if step in cut and down[1] < starts[step] and t - starts[step] > hold / 2 * 1e6:
                problems.append(f"step {step}: {key} went up {(t - starts[step]) / 1e6:.0f} ms after the step began")
            elif (step not in cut or down[1] >= starts[step]) and hold >= 40 and t - down[1] < hold / 2 * 1e6:
                problems.append(f"step {step}: {key} held {(t - down[1]) / 1e6:.1f} ms (hold {hold} ms)")
            down, last_up = None, t
    if down:
        problems.append(f"{down[0]} still down at the end")
    return problems


def spans(events, kind="key"):
    """The holds and the gaps within a step (ns) of the key or button events of `kind`."""
    return shared.holds_and_gaps([(step, t, text.endswith(" down")) for t, step, k, text in sorted(events)
                                  if k == kind and text.split()[-1] in ("down", "up")])


def check_sdl_holds(client, events, hold):
    """What the game sees: the holds that the kernel's timestamps show, over the taps that no
    signal or unplug cut short, and each of them a tap, not a blip: half of it at least."""
    pairs = [(a / 1e6, b / 1e6) for a, b in zip(spans(events, client)[0], spans(events)[0]) if b >= hold * 1e6 / 2]
    if not pairs:
        return False  # the lines differ already
    off, kernel = statistics.median(a - b for a, b in pairs), statistics.median(b for _, b in pairs)
    slack = max(SDL_HOLD_SLACK, abs(kernel - hold))
    print(f"{client}: {len(pairs)} holds of {statistics.median(a for a, _ in pairs):.2f} ms in the median (asked "
          f"{hold}, the kernel's {kernel:.2f}), {off:+.2f} ms off the kernel's (at most {slack:.2f})")
    return abs(off) <= slack and all(a >= b / 2 for a, b in pairs)


def check_run(scn, tag, args, events):
    nodes = sorted({text for _, _, kind, text in events if kind == "lever"}, key=len, reverse=True)
    pids = [(text, "{" + kind.replace("spawn", "pid") + "}") for _, _, kind, text in events
            if kind in ("spawn", "locker")]

    def shown(text):
        for node in nodes:
            text = re.sub(re.escape(node) + r"(?!\d)", "{lever}", text)
        for pid, name in pids:
            text = re.sub(rf"\b{pid}\b", name, text)
        return shared.squeeze(text)

    ordered = sorted(events, key=lambda e: e[0])
    actual = [f"{step} {'' if kind == 'key' else kind + ' '}{shown(text)}" for _, step, kind, text in ordered
              if kind in KEYS]
    ok = shared.compare(f"{tag}: keys", scn.keys(), actual)
    if scn.settings.get("sdl") == "on":
        for client in SDL_CLIENTS:
            # A button event is in the step of its key event: SDL may see it in the next.
            steps = iter([at for _, at, kind, _ in ordered if kind == "key"])
            seen = [f"{next(steps, at) if text.startswith('button') else at} {text}" for _, at, kind, text in ordered
                    if kind == client]
            ok &= shared.compare(f"{tag}: what {client} sees", scn.sdl(), seen)
            ok &= check_sdl_holds(client, events, scn.hold_gap(args)[0])
    if "stderr" in scn.blocks:
        ok &= shared.compare(f"{tag}: standard error", scn.blocks["stderr"],
                             [shown(text) for _, _, kind, text in ordered if kind == "stderr"])
    if "exit" in scn.settings:
        ok &= shared.compare(f"{tag}: exit code", [scn.settings["exit"]],
                             [text for _, _, kind, text in events if kind == "exit"])
    problems = [f"harness: {text}" for _, _, kind, text in events if kind == "problem"]
    problems += check_taps(scn, args, events)
    if problems:
        print(f"--- {tag}: taps\n" + "\n".join(problems[:20]))
    return ok and not problems


def check_ratio(scn, base, longer):
    """Holds and gaps are real milliseconds: they grow with the options, each by its own
    ratio (medians, within half of it either way), never compared with a time."""
    (h0, g0), (h1, g1) = spans(base), spans(longer)
    if not (h0 and g0 and h1 and g1):
        print("timing: no holds or gaps to compare")
        return False
    asked = [b / a for a, b in zip(scn.hold_gap(scn.args), scn.hold_gap(shlex.split(scn.settings["timing compare args"])))]
    ok = True
    for what, (a, b), want in zip(("hold", "gap"), ((h0, h1), (g0, g1)), asked):
        got = statistics.median(b) / statistics.median(a)
        ok &= 0.5 < got / want < 1.5
        print(f"timing: {what} median {statistics.median(a) / 1e6:.1f} ms -> {statistics.median(b) / 1e6:.1f} ms: "
              f"x{got:.1f}, asked x{want:.1f}")
    if not ok:
        print("timing: FAILED: holds and gaps must grow as asked")
    return ok


def load(results, tag):
    path = os.path.join(results, f"{tag}.log")
    if not os.path.exists(path):
        print(f"{tag}: no log from the VM (see the e2e-linux.boot test's output)")
        return None
    return [json.loads(line) for line in open(path) if line.strip()]


def check(a):
    status = skipped(a.results)
    if status is not None:
        return status
    scn = LinuxScenario(a.scenario)
    ok, logs = True, []
    for tag, args in scn.runs():
        events = load(a.results, tag)
        ok &= events is not None and check_run(scn, tag, args, events)
        logs.append(events)
    if len(logs) == 2 and all(logs):
        ok &= check_ratio(scn, *logs)
    print(f"{scn.name}: {'passed' if ok else 'FAILED'}")
    return 0 if ok else 1


def check_package(a):
    status = skipped(a.results)
    if status is not None:
        return status
    out = collections.defaultdict(list)
    path = os.path.join(a.results, "package.log")
    for line in open(path) if os.path.exists(path) else []:
        key, _, text = line.rstrip("\n").partition(" ")
        out[key].append(text)
    said = {key: " ".join(texts) for key, texts in out.items()}
    installed = said.get("status-out", "").split()
    depends = set(re.findall(r"(?:^|[,|])\s*([a-z0-9][a-z0-9.+-]+)", said.get("depends-out", "")))
    missing = [line for line in out["lib"] if line.partition(" ")[2] not in depends]
    files, rules = out["files-out"], " ".join(out["rule"])
    checks = {
        "dpkg -i ends with 0": said.get("dpkg-exit") == "0",
        "installed, and gearvane --version names its version": installed[:1] == ["installed"]
        and said.get("version-exit") == "0" and installed[-1] in said.get("version-out", ""),
        "man gearvane shows the man page": said.get("man-exit") == "0" and "gearvane" in said.get("man-out", ""),
        "the package of every library it links is in Depends": bool(out["lib"]) and not missing,
        "a udev rule, before 73-seat-late.rules, gives /dev/uinput to the seat":
            any(re.search(r"/rules\.d/[^/]+\.rules$", f) and os.path.basename(f) < "73-seat-late.rules"
                for f in files) and "uinput" in rules and "uaccess" in rules,
        "a systemd user unit gearvane.service": any(f.endswith("/systemd/user/gearvane.service") for f in files),
    }
    ok = shared.compare("the package on the VM's Debian", list(checks), [c if v else "NOT " + c for c, v in checks.items()])
    if not ok:
        print("\n".join(out["dpkg-out"][-15:] + [f"Depends: {said.get('depends-out')}"]
                        + [f"library (package): {line}" for line in missing]))
    print(f"package: {'passed' if ok else 'FAILED'}")
    return 0 if ok else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    b = sub.add_parser("boot")
    for option in ("--program", "--deb", "--tarball", "--results", "--cache"):
        b.add_argument(option, required=True)
    b.add_argument("--sdl-client", help="the SDL2 client, built on the host")
    b.add_argument("--only", nargs="+", help="these scenarios, and not the package")
    c = sub.add_parser("check")
    c.add_argument("scenario")
    c.add_argument("--results", required=True)
    sub.add_parser("package").add_argument("--results", required=True)
    sub.add_parser("play").add_argument("scenarios", nargs="+")
    a = parser.parse_args()
    try:
        return {"boot": boot, "check": check, "package": check_package, "play": play}[a.command](a)
    except shared.ScenarioError as e:
        print(e)
        return 1


if __name__ == "__main__":
    sys.exit(main())
