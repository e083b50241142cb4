#!/usr/bin/env python3
"""Runs one end-to-end scenario of gearvane.exe or gearvane-tray.exe under Wine and prints an
Expected/Actual diff for each part that differs from the scenario file.

The exe runs from a fresh work folder beside its scripted controller (--fake: winmm.dll for
gearvane.exe, dinput8.dll for gearvane-tray.exe), which logs its calls and message boxes in
the scenario's own words; a key recorder in its own Wine process logs every key event.
Scenario files (format: ../scenario.py), for both programs:
  controller:  STEP WHAT: a position (neutral, buttons 1,5,100, hat up|up-right|..|centred,
               pov N; it holds from that step on) or an action
  keys:        STEP KEY down|up, STEP KEY tap [xN], KEY named as the program must send it
               (see KEYS); any other key event reads vk=.. scan=.. flags=..
  boxes:       "caption" icon "text" owner "owner's caption"   (none unless listed)
  exit: N;  timing compare ...: a second run, whose holds and gaps must be over 3 times longer
gearvane.exe: a step is a poll of its 10 ms timer, during whose tick the hook saw the key.
Actions: fail (the poll fails, its report written anyway), click|uncheck RADIO, close-button,
wm-close, close-box, escape, focus-target, remove FILE. shift.ini: "50\\n20\\n" (or none),
capture: refuse, target: yes (a window to take the focus), timing compare shift.ini: "...";
where a file's lines are equal, holds and pauses must agree. Sections: dialog (POLL text
"..."), winmm (the capture calls), files (POLL remove FILE -> ok|error N), target (KEY tap
[xN], the key messages the focused window got).
gearvane-tray.exe: a step starts once the last one's keys have come and stayed quiet for
`settle` ms (300), or, written `STEP after K down|up WHAT`, at the last step's K-th key-down
or -up. Actions of the scripted lever (see fake_dinput8.c): unplug [hard], replug [POSITION],
pad POSITION (a second controller's), scroll down|up (the mouse on the status pane's scroll
arrow), choose ROW (of the game controllers),
lock, unlock, suspend, resume (what Windows tells the window then), type hold|gap TEXT, click IDC_..
(a control of tray_resource.h), gear R|N|1..7 (chosen in the menu of the game's gear).
Actions of the runner: rest MS, start ARGS (another start, waited for; its exit code and boxes
join the keys), game (the scripted game of `game` starts), save [xN] ["TEXT"] (the config file
written as an editor does, emptied first; the text of `config` unless given), remove (the
config file), taskkill (WM_CLOSE from another program), endsession (Windows ends the session).
The program is killed at the end if it still runs. Taps are checked: one key down at a time, none left down, holds and gaps of 40 ms
or more at least half as long, a key cut by an unplug let go within half a hold, by a start
before its hold ran out.
args: ... (after --log status.log), lever: absent|polled|silent|pad ..., config: "TEXT" (the
config file at start), timing compare args: ... Sections: log (the status lines), calls (STEP
N: the lever's calls during the step), saved (the config file's lines at the end, but comments),
wake-ups (STEP N: the program's threads woke N times during the step's rest).
vjoy: missing, or the scripted vJoyInterface.dll's scene (see fake_vjoy.c), registered as vJoy's
installer does; its buttons join the keys as BUTTON_1 and BUTTON_2, and the section vjoy lists
its acquire, reset and relinquish calls. game: GEAR [drop N,..]: a scripted game, started by the
action game, that sends Forza Horizon's telemetry at 60 Hz to the port of --telemetry, in GEAR,
and shifts on the key-downs the recorder sees but the N-th ones; `game ends in: GEAR` checks
where it ends. taken: PORT: a program of the runner's holds UDP 127.0.0.1:PORT meanwhile.
"""
import argparse
import ast
import glob
import os
import re
import shlex
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import scenario as shared  # noqa: E402

EXTENDED, INJECTED, UP = 0x01, 0x10, 0x80
HATS = {"up": 0, "up-right": 4500, "right": 9000, "down-right": 13500, "down": 18000, "down-left": 22500,
        "left": 27000, "up-left": 31500, "centred": 0xFFFFFFFF}
RADIOS = {"standard": 1025, "nascar": 1026, "max4": 1031, "max5": 1032, "max6": 1033, "max7": 1034}
FIELD = re.compile(r'([\w-]+)=(\S*)')
VJOY_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{8E31F76F-74C3-47F1-9550-E041EEDC5FBB}_is1"
BUTTON = 0x100  # vk of a vJoy button's events: 0x100 + its number
IDS = {name: int(value) for name, value in re.findall(
    r"#define (IDC?_\w+)\s+(\d+)", open(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                 "../../../resources/tray_resource.h")).read())}
GEAR_MENU = 40010  # ID_MENU_GEAR of view.h
CONFIG = re.compile(r"C:\\users\\[^\\]+\\AppData\\Roaming\\gearvane\\gearvane\.conf", re.I)
STAMP = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ")


def position(words):
    """(buttons, hat in hundredths of a degree) of words such as `buttons 1,5 hat up`."""
    buttons, hat, i = [], HATS["centred"], 0
    while i < len(words):
        if words[i] == "buttons":
            buttons = [int(b) for b in words[i + 1].split(",")]
        elif words[i] in ("hat", "pov"):
            hat = HATS[words[i + 1]] if words[i] == "hat" else int(words[i + 1], 0)
        elif words[i] != "neutral":
            raise shared.ScenarioError(f"not a lever position: {' '.join(words)}")
        i += 1 if words[i] == "neutral" else 2
    return buttons, hat


def ended(program, timeout):
    """Its exit code once it has ended, or "killed" if it had to be."""
    try:
        return str(program.wait(timeout))
    except subprocess.TimeoutExpired:
        program.kill()
        program.wait()
        return "killed"


class Log:
    """The lines of a log that another process appends to, as they come: (kind, words, fields)."""

    def __init__(self, path):
        self.path, self.offset, self.records = path, 0, []

    def read(self):
        if os.path.exists(self.path):
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
            data = data[:data.rfind(b"\n") + 1]
            self.offset += len(data)
            self.records += [(line.split()[0], line.split(), dict(FIELD.findall(line)), line)
                             for line in data.decode(errors="replace").splitlines() if line.split()]
        return self.records

    def section(self, name):
        return [line[len(name) + 1:] for kind, _, _, line in self.read() if kind == name]


class Run:
    """One start of the program with its controller and the key recorder."""

    def __init__(self, args, scn, tag=""):
        self.args, self.scn = args, scn
        self.work = os.path.join(args.work, scn.name + tag)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        for path in (args.exe, args.fake, args.recorder):
            shutil.copy(path, self.work)
        self.exe, self.fake = os.path.basename(args.exe), os.path.basename(args.fake)
        self.log, self.recorder_log = Log(self.at("controller.log")), Log(self.at("recorder.log"))
        self.vjoy_log = Log(self.at("vjoy.log"))
        self.starts = []

    def at(self, name):
        return os.path.join(self.work, name)

    def wine(self, argv, log, stdin=subprocess.DEVNULL, env=None):
        env = dict(os.environ, WINEDLLOVERRIDES=f"{self.fake[:-4]}=n", GEARVANE_E2E_LOG=log,
                   WINEDEBUG="-all,err+module", **(env or {}))
        with open(self.at(log + ".stderr"), "w") as err:
            return subprocess.Popen(["wine", *argv], cwd=self.work, env=env, stdin=stdin,
                                    stdout=subprocess.DEVNULL, stderr=err)

    def start_recorder(self):
        target = ["--target"] if self.scn.settings.get("target") == "yes" else []
        self.recorder = self.wine([os.path.basename(self.args.recorder), *target], "recorder.log")
        deadline = time.time() + 30
        while not self.recorder_log.section("ready") and time.time() < deadline:
            time.sleep(0.05)

    def finish(self, program, timeout):
        self.exit = ended(program, timeout)
        self.recorder.kill()
        self.recorder.wait()
        records = self.log.read()
        self.freq = next((int(w[1]) for kind, w, _, _ in records if kind == "freq"), 10 ** 7)
        self.markers = [(int(f["t"]), int(w[1])) for kind, w, f, _ in records if kind == self.marker]

    def key_events(self):
        """(step, ms, vk, scan, flags) of each key event the hook saw, and of each button of the
        scripted vJoy, in time order."""
        keys = [(int(f["t"]), int(f["vk"], 16), int(f["scan"], 16), int(f["flags"], 16))
                for kind, _, f, _ in self.recorder_log.read() if kind == "key"]
        keys += [(int(f["t"]), BUTTON + int(w[1]), 0, UP if w[2] == "up" else 0)
                 for kind, w, f, _ in self.vjoy_log.read() if kind == "button"]
        return [(shared.step_at(self.markers, t), t * 1000 / self.freq, vk, scan, flags)
                for t, vk, scan, flags in sorted(keys)]

    def actual_keys(self):
        """(ms, line) of each key event, named as the scenario names it."""
        return [(ms, f"{step} {self.KEYS.get((vk, scan, flags & ~UP), f'vk=0x{vk:02X} scan=0x{scan:02X} flags=0x{flags & ~UP:02X}')}"
                     f" {'up' if flags & UP else 'down'}") for step, ms, vk, scan, flags in self.key_events()]

    def spans(self):
        return shared.holds_and_gaps([(step, ms, not flags & UP) for step, ms, vk, _, flags in self.key_events()
                                      if vk != 0x1B])

    def check(self, sections=("boxes",)):
        ok = True
        # Without these every "nothing happened" expectation would pass unseen.
        if not self.log.section("freq"):
            print(f"the scripted {self.fake} was not loaded:", open(self.at("controller.log.stderr")).read())
            ok = False
        if self.recorder_log.section("ready") != ["hook=1"]:
            print("the key recorder's keyboard hook was not installed")
            ok = False
        for line in self.log.section("contract") + self.vjoy_log.section("contract"):
            print(f"{self.exe} broke the agreed use of DirectInput or vJoy: {line}")
            ok = False
        if "exit" in self.scn.settings:
            ok &= shared.compare("exit code", [self.scn.settings["exit"]], [self.exit])
        expected = shared.expand_taps(self.scn.blocks.get("keys", []), lambda step, key, edge: f"{step} {key} {edge}")
        ok &= shared.compare("keys", expected, [line for _, line in sorted(self.actual_keys())])
        for name in sections:
            if name in self.scn.blocks or name == "boxes":
                ok &= shared.compare(name, self.scn.blocks.get(name, []), self.log.section(name))
        return ok


class LegacyRun(Run):
    """gearvane.exe with the scripted winmm.dll, which reads its script, by poll, at start."""
    marker = "poll"
    KEYS = {(0x21, 0x49, INJECTED): "KEY_PAGEUP", (0x22, 0x51, INJECTED): "KEY_PAGEDOWN",
            (0x1B, 0x01, INJECTED): "KEY_ESC"}
    ACTIONS = {"click", "uncheck", "close-button", "wm-close", "close-box", "escape", "focus-target", "remove"}

    def script(self):
        out = ["0 refuse-capture"] if self.scn.settings.get("capture") == "refuse" else []
        for line in self.scn.blocks.get("controller", []):
            poll, words = line.split()[0], line.split()[1:]
            if words[0] in self.ACTIONS:
                out.append(f"{poll} {words[0]} {RADIOS.get(words[-1], words[-1])}")
            else:
                buttons, hat = position([w for w in words if w != "fail"])
                out.append(f"{poll} state {sum(1 << (b - 1) for b in buttons)} {hat & 0xFFFF} {int('fail' in words)}")
        return "\n".join(out + [f"{line.split()[0]} text" for line in self.scn.blocks.get("dialog", [])]) + "\n"

    def run(self, ini):
        self.ini = ini
        if ini is not None:
            with open(self.at("shift.ini"), "wb") as f:
                f.write(ini)
        with open(self.at("controller.txt"), "w") as f:
            f.write(self.script())
        self.start_recorder()
        self.finish(self.wine([self.exe], "controller.log", env={"GEARVANE_E2E_SCRIPT": "controller.txt"}), 60)
        return self

    def check(self):
        ok = super().check(("boxes", "winmm", "dialog", "files"))
        lines = self.ini.split()[:2] if self.ini else []
        holds, pauses = self.spans()
        if len(lines) == 2 and lines[0] == lines[1] and holds and pauses:
            ratio = shared.median(pauses) / shared.median(holds)
            print(f"timing: with equal lines in shift.ini, pause / hold = {ratio:.2f}")
            if not 0.8 <= ratio <= 1.25:
                print("timing: FAILED: the hold and the pause differ by more than 25 %")
                ok = False
        if "target" in self.scn.blocks:
            # In order, without polls: the window gets them through its queue, after the hook.
            actual = [f"{w[1]} {self.KEYS.get((int(f['vk'], 16), int(f['lparam'], 16) >> 16 & 0xFF, INJECTED))}"
                      for kind, w, f, _ in self.recorder_log.read() if kind == "msg"]
            expected = shared.expand_taps([f"- {line}" for line in self.scn.blocks["target"]],
                                          lambda _, key, edge: f"WM_KEY{edge.upper()} {key}")
            ok &= shared.compare("key messages that the focused window got", expected, actual)
        return ok


class Step:
    """A step of the tray's controller section, and the lines that tell the scripted lever."""
    LEVER = ("unplug", "replug", "pad", "scroll", "choose", "lock", "unlock", "suspend", "resume", "type", "click",
             "gear")
    RUNNER = ("start", "rest", "save", "remove", "taskkill", "endsession", "game")

    def __init__(self, line):
        words = line.split()
        self.line = line
        self.number, self.trigger, words = int(words[0]), None, words[1:]
        if words[0] == "after":
            self.trigger, words = (words[2], int(words[1])), words[3:]
        self.kind = words[0] if words[0] in self.LEVER + self.RUNNER else "set"
        self.words = words[1:] if self.kind != "set" else words
        n = self.number
        buttons, hat = position(self.words if self.kind in ("set", "replug", "pad") else [])
        state = f"{','.join(map(str, buttons)) or '-'} {hat}"
        # A control by its name in tray_resource.h; a gear of the game's gear menu (R, N, 1..7).
        click = IDS.get(self.words[0], 0) if self.kind == "click" else \
            GEAR_MENU + 1 + "RN1234567".index(self.words[0]) - 1 if self.kind == "gear" else 0
        self.commands = {"set": [f"{n} set {state}"], "pad": [f"{n} pad {state}"],
                         "click": [f"{n} click {click}"], "gear": [f"{n} click {click}"],
                         "replug": ([f"{n} set {state}"] if self.words else []) + [f"{n} plug"]}.get(
            self.kind, [f"{n} {self.kind} {' '.join(self.words)}" if self.kind in self.LEVER else f"{n} mark"])


class TrayRun(Run):
    """gearvane-tray.exe with the scripted dinput8.dll, told each step on its standard input."""
    marker = "step"
    KEYS = {(0x21, 0x49, INJECTED | EXTENDED): "KEY_PAGEUP", (0x22, 0x51, INJECTED | EXTENDED): "KEY_PAGEDOWN",
            (0x51, 0x10, INJECTED): "KEY_Q", (0x41, 0x1E, INJECTED): "KEY_A",
            (BUTTON + 1, 0, 0): "BUTTON_1", (BUTTON + 2, 0, 0): "BUTTON_2"}

    def run(self, args):
        scn, settle = self.scn, self.scn.number("settle", 300)
        steps = [Step(line) for line in scn.blocks.get("controller", ["0 neutral"])]
        self.hold, self.gap = ([int(v) for v in re.findall(rf"--{name}-ms[= ](\d+)", " ".join(args))] or [40]
                               for name in ("hold", "gap"))
        limit = 4 + 8 * (self.hold[-1] + self.gap[-1]) / 1000  # generous: only a broken program waits it out
        expected = shared.expand_taps(scn.blocks.get("keys", []), lambda step, key, edge: f"{step} {key} {edge}")
        counts = [int(line.split()[0]) for line in expected if line.split()[-1] in ("down", "up")]
        lever = scn.settings.get("lever", "")
        roaming = [f for f in glob.glob(os.path.join(os.environ["WINEPREFIX"], "drive_c/users/*/AppData/Roaming"))
                   if "/Public/" not in f]
        self.config = os.path.join(roaming[0], "gearvane", "gearvane.conf")
        shutil.rmtree(os.path.dirname(self.config), ignore_errors=True)  # each run starts with its own config
        if "config" in scn.settings:
            self.save(1)
        self.steps = steps
        env = self.set_up_vjoy()
        holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        if "taken" in scn.settings:
            holder.bind(("127.0.0.1", scn.number("taken")))
        self.start_recorder()
        self.program = self.wine([self.exe, "--log", "status.log", *args], "controller.log", stdin=subprocess.PIPE,
                                 env=env)
        self.game, self.wakeups = None, {}
        self.tell(lever.split() + steps[0].commands + ["start"])
        for last, step in zip(steps, steps[1:]):
            self.wait(last, step.trigger, counts.count(last.number), settle, limit)
            self.tell(step.commands)
            if step.kind == "start":  # another start of the exe, waited for: its exit code and boxes
                self.wait(step, None, 0, 0, 5)
                code = ended(self.wine([self.exe, *step.words], f"start-{step.number}.log"), 30)
                boxes = "".join(f" box {b}" for b in Log(self.at(f"start-{step.number}.log")).section("boxes"))
                self.starts.append((step.number, shared.squeeze(f"{step.number} start {' '.join(step.words)}"
                                                                f" -> exit {code}{boxes}")))
            elif step.kind == "rest":
                # Once the scripted lever's own thread has taken the step and gone back to sleep.
                self.wait(step, None, 0, 0, 5)
                time.sleep(0.2)
                before = wakeups(self.program.pid)
                time.sleep(int(step.words[0]) / 1000)
                self.wakeups[step.number] = wakeups(self.program.pid) - before
            elif step.kind == "game":
                self.wait(step, None, 0, 0, 5)
                self.game = Game(self, scn.settings["game"].split(), args)
            elif step.kind in ("save", "remove", "taskkill", "endsession"):
                self.wait(step, None, 0, 0, 5)
                self.act(step)
        self.wait(steps[-1], None, counts.count(steps[-1].number), settle, limit)
        self.finish(self.program, 10 if "exit" in scn.settings else 0)
        self.game_gear = self.game.end() if self.game else None
        holder.close()
        if "vjoy" in scn.settings:
            ended(self.wine(["reg", "delete", VJOY_KEY, "/f"], "reg.log"), 30)
        return self

    def set_up_vjoy(self):
        """vJoy as the scenario has it: its uninstall key naming the scripted DLL's folder, as
        its installer does, or no key at all. The environment for the DLL."""
        scene = self.scn.settings.get("vjoy")
        if not scene:
            return {}
        if scene == "missing":
            ended(self.wine(["reg", "delete", VJOY_KEY, "/f"], "reg.log"), 30)
            return {}
        os.makedirs(self.at("vjoy"))
        shutil.copy(self.args.vjoy, self.at("vjoy"))
        folder = "Z:" + self.at("vjoy").replace("/", "\\")
        ended(self.wine(["reg", "add", VJOY_KEY, "/v", "DllX86Location", "/d", folder, "/f"], "reg.log"), 30)
        return {"GEARVANE_E2E_VJOY": scene, "GEARVANE_E2E_VJOY_LOG": "vjoy.log"}

    def save(self, times, text=None):
        """Writes the config file as an editor does: emptied, then written 2 ms later."""
        text = text if text is not None else self.scn.string("config", b"")
        os.makedirs(os.path.dirname(self.config), exist_ok=True)
        for _ in range(times):
            with open(self.config, "wb") as f:
                f.flush()
                time.sleep(0.002)
                f.write(text)
            time.sleep(0.05)

    def act(self, step):
        """An action of the runner's, once its step has begun."""
        if step.kind == "save":
            times, text = re.fullmatch(r'.*? save\s*(?:x(\d+))?\s*(".*")?', step.line).groups()
            self.save(int(times or 1), ast.literal_eval(text).encode() if text else None)
        elif step.kind == "remove":
            os.remove(self.config)
        else:
            command = ["taskkill", "/im", self.exe] if step.kind == "taskkill" else ["wineboot", "--end-session"]
            ended(self.wine(command, f"{step.kind}-{step.number}.log"), 30)

    def tell(self, lines):
        try:
            self.program.stdin.write("".join(line + "\n" for line in lines).encode())
            self.program.stdin.flush()
        except OSError:
            pass  # the program has ended: its exit code tells

    def wait(self, step, trigger, count, settle, limit):
        """Until the step has begun and its keys have come and stayed quiet, or the trigger came."""
        seen, quiet_since, deadline = -1, time.time(), time.time() + limit
        while time.time() < deadline:
            marks = [int(f["t"]) for kind, w, f, _ in self.log.read() if kind == "step" and int(w[1]) == step.number]
            keys = [int(f["flags"], 16) for kind, _, f, _ in self.recorder_log.read()
                    if kind == "key" and marks and int(f["t"]) >= marks[0]]
            keys += [UP if w[2] == "up" else 0 for kind, w, f, _ in self.vjoy_log.read()
                     if kind == "button" and marks and int(f["t"]) >= marks[0]]
            if not marks:
                pass
            elif trigger:
                if sum(1 for flags in keys if bool(flags & UP) == (trigger[0] == "up")) >= trigger[1]:
                    return
            elif len(keys) != seen:
                seen, quiet_since = len(keys), time.time()
            elif seen >= count and time.time() - quiet_since >= settle / 1000:
                return
            time.sleep(0.005)
        print(f"harness: step {step.number} waited {limit:.1f} s in vain")

    def begins(self):
        return {n: t * 1000 / self.freq for t, n in reversed(self.markers)}

    def actual_keys(self):
        return super().actual_keys() + [(self.begins().get(n, 0), line) for n, line in self.starts]

    def tap_problems(self):
        problems, down, up, begins = [], None, None, self.begins()
        # A key is cut at once by what the program is told in its own process, by the time it
        # takes another process to start otherwise.
        at_once = ("unplug", "lock", "suspend")
        cut = {s.number: s.kind for s in self.steps if s.kind in at_once + ("start", "taskkill", "endsession")}
        hold, gap = self.hold[-1], self.gap[-1]
        for step, ms, vk, _, flags in self.key_events():
            if not flags & UP:
                if down:
                    problems.append(f"step {step}: a key down while vk 0x{down[1]:02X} is down")
                elif up and up[0] == step and gap >= 40 and ms - up[1] < gap / 2:
                    problems.append(f"step {step}: a key down {ms - up[1]:.1f} ms after the last up (gap {gap} ms)")
                down = (ms, vk)
            elif down:
                # An unplug is seen in the program at once; a start of another copy takes time.
                late = begins[step] + hold / 2 if cut.get(step) in at_once else down[0] + 0.9 * hold
                if step in cut and ms > late:
                    problems.append(f"step {step}: the key went up {ms - down[0]:.0f} ms after its down, not at "
                                    f"once (hold {hold} ms)")
                elif step not in cut and hold >= 40 and ms - down[0] < hold / 2:
                    problems.append(f"step {step}: a key held {ms - down[0]:.1f} ms (hold {hold} ms)")
                down, up = None, (step, ms)
        return problems + ([f"vk 0x{down[1]:02X} still down at the end"] if down else [])

    def check(self):
        ok = super().check()
        for problem in self.tap_problems():
            print(f"taps: {problem}")
            ok = False
        if "log" in self.scn.blocks:
            lines = open(self.at("status.log"), errors="replace").read().splitlines() \
                if os.path.exists(self.at("status.log")) else []
            # Each line starts with its local time, which is checked and then left out.
            untimed = [CONFIG.sub(r"%APPDATA%\\gearvane\\gearvane.conf", STAMP.sub("", line, count=1))
                       if STAMP.match(line) else "(no time) " + line for line in lines]
            ok &= shared.compare("status lines of --log", self.scn.blocks["log"], [shared.squeeze(l) for l in untimed])
        if "saved" in self.scn.blocks:
            lines = open(self.config, errors="replace").read().splitlines() if os.path.exists(self.config) else []
            ok &= shared.compare("config file at the end, without its comments", self.scn.blocks["saved"],
                                 [shared.squeeze(l) for l in lines if not l.startswith("#")])
            # The new files that saves write and rename are never left behind.
            ok &= shared.compare("files in the config file's folder", ["gearvane.conf"],
                                 sorted(os.listdir(os.path.dirname(self.config))))
        if "vjoy" in self.scn.blocks:
            ok &= shared.compare("vJoy's calls", self.scn.blocks["vjoy"], self.vjoy_log.section("vjoy"))
        if "wake-ups" in self.scn.blocks:
            actual = [f"{n} {self.wakeups.get(n, '-')}" for n in (int(l.split()[0]) for l in self.scn.blocks["wake-ups"])]
            ok &= shared.compare("wake-ups during a rest", self.scn.blocks["wake-ups"], actual)
        if "game ends in" in self.scn.settings:
            ok &= shared.compare("the game's gear at the end", [self.scn.settings["game ends in"]],
                                 [str(self.game_gear)])
        if "calls" in self.scn.blocks:
            calls = [shared.step_at(self.markers, int(f["t"])) for kind, _, f, _ in self.log.read() if kind == "call"]
            actual = [f"{n} {calls.count(n)}" for n in (int(line.split()[0]) for line in self.scn.blocks["calls"])]
            ok &= shared.compare("calls of the lever", self.scn.blocks["calls"], actual)
        return ok


def wakeups(pid):
    """How often the threads of a process have slept and woken (voluntary context switches)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/status") as f:
            total += next(int(line.split()[1]) for line in f if line.startswith("voluntary_ctxt_switches"))
    return total


class Game(threading.Thread):
    """A scripted game on this computer's loopback: it sends Forza Horizon 4/5's Data Out (324
    bytes: IsRaceOn @0, the gear @319, 0 reverse, 11 neutral) at 60 Hz to the port of
    --telemetry, and takes a shift on each key-down that the key recorder logs, except the
    N-th ones that it drops."""

    def __init__(self, run, words, args):
        super().__init__(daemon=True)
        self.gear, self.drops = int(words[0]), {int(n) for n in words[2].split(",")} if len(words) > 2 else set()
        self.port = int(re.search(r"--telemetry[= ](?:[\d.]+:)?(\d+)", " ".join(args)).group(1))
        self.keys, self.stop = Log(run.at("recorder.log")), threading.Event()
        self.start()

    def run(self):
        sock, seen, downs = socket.socket(socket.AF_INET, socket.SOCK_DGRAM), 0, 0
        while not self.stop.is_set():
            records = self.keys.read()
            for kind, _, f, _ in records[seen:]:
                vk = int(f.get("vk", "0"), 16)
                if kind == "key" and vk in (0x21, 0x22) and not int(f["flags"], 16) & UP:
                    downs += 1
                    if downs not in self.drops:
                        self.gear = max(-1, min(10, self.gear + (1 if vk == 0x21 else -1)))
            seen = len(records)
            packet = bytearray(324)
            struct.pack_into("<I", packet, 0, 1)
            packet[319] = 0 if self.gear < 0 else 11 if self.gear == 0 else self.gear
            sock.sendto(packet, ("127.0.0.1", self.port))
            time.sleep(1 / 60)
        sock.close()

    def end(self):
        self.stop.set()
        self.join()
        return self.gear


def grew(base, longer):
    """Whether holds and gaps (gearvane.exe: pauses) grew well over three times."""
    (h0, g0), (h1, g1) = base.spans(), longer.spans()
    if not (h0 and g0 and h1 and g1):
        print("timing: no holds or gaps to compare")
        return False
    hr, gr = shared.median(h1) / shared.median(h0), shared.median(g1) / shared.median(g0)
    print(f"timing: hold median {shared.median(h0):.2f} -> {shared.median(h1):.2f} ms (x{hr:.1f}), gap median "
          f"{shared.median(g0):.2f} -> {shared.median(g1):.2f} ms (x{gr:.1f})")
    if hr < 3 or gr < 3:
        print("timing: FAILED: holds and gaps must grow well over 3 times")
    return hr >= 3 and gr >= 3


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("scenario")
    for option in ("--exe", "--fake", "--recorder", "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--vjoy", help="the scripted vJoyInterface.dll, for gearvane-tray.exe")
    args = parser.parse_args()
    for var in ("DISPLAY", "WINEPREFIX"):
        if not os.environ.get(var):
            sys.exit(f"{var} is not set: run inside the Wine desktop of scripts/common.sh")
    scn = shared.Scenario(args.scenario)
    if os.path.basename(args.fake).lower() == "dinput8.dll":
        scn.check_known({"args", "lever", "config", "settle", "exit", "timing compare args", "vjoy", "game",
                         "game ends in", "taken"}, {"controller", "keys", "boxes", "log", "calls", "saved", "vjoy", "wake-ups"})
        first, compare = "args", "timing compare args"
        make = lambda tag, key: TrayRun(args, scn, tag).run(shlex.split(scn.settings.get(key, "")))  # noqa: E731
    else:
        scn.check_known({"shift.ini", "capture", "target", "exit", "timing compare shift.ini"},
                        {"controller", "keys", "boxes", "dialog", "winmm", "files", "target"})
        first, compare = "shift.ini", "timing compare shift.ini"
        make = lambda tag, key: LegacyRun(args, scn, tag).run(scn.string(key))  # noqa: E731
    runs = [make("", first)] + ([make("-longer", compare)] if compare in scn.settings else [])
    ok = all([run.check() for run in runs]) and (len(runs) == 1 or grew(*runs))
    print(f"{scn.name}: {'passed' if ok else 'FAILED'} (work folder {os.path.join(args.work, scn.name)})")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
