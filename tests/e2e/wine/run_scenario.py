#!/usr/bin/env python3
"""Runs one end-to-end scenario of gearvane.exe under Wine and compares what happened with
what the scenario file expects; prints an Expected/Actual diff for each part that differs.

The program runs unchanged from a fresh work folder holding a copy of gearvane.exe, the
scripted controller (winmm.dll) and the scenario's shift.ini. A key recorder, started first
in its own Wine process, logs every key event and reads and dismisses message boxes.

Settings and sections of a scenario (format: ../scenario.py):
  shift.ini: "50\\n20\\n"          the file's exact bytes as a string, or: none
  capture: refuse                 the scripted controller refuses the capture
  target: yes                     another program in the prefix shows a window (taking focus)
  exit: 1                         the expected exit code
  timing compare shift.ini: "..." runs again with these values: holds and pauses must grow,
                                  and with equal lines, holds and pauses must agree
  controller:                     POLL and a report (buttons MASK, pov ANGLE|forward|left|
                                  backward|right|centred, neutral, fail) that holds from that
                                  poll on, or an action done during that poll (click NAME,
                                  uncheck NAME, close-button, wm-close, close-box, key Escape,
                                  focus-target, remove FILE, screenshot NAME)
  keys:                           POLL KEY down|up scan=.. injected, or POLL KEY tap [xN]; a key
                                  belongs to the poll during whose tick the hook saw it
  dialog:                         POLL text "..." | radios NAMES | foreground "...", read at
                                  the start of that poll (after the last tick)
  boxes:                          "caption" icon "text" owner "owner's caption"
  winmm:                          the calls the program made of the controller
  files:                          POLL remove FILE -> ok|error N
  target:                         KEY tap [xN]: key messages the focused window got, in order
Sections left out are not checked, except keys and boxes: none are expected then.
"""
import argparse
import ast
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from scenario import Scenario, ScenarioError, as_c_string, compare, expand_taps, median  # noqa: E402

SETTINGS = {"shift.ini", "capture", "target", "exit", "timeout", "timing compare shift.ini"}
SECTIONS = {"controller", "keys", "dialog", "boxes", "winmm", "files", "target"}
CONTROLS = {"standard": 1025, "nascar": 1026, "max4": 1031, "max5": 1032, "max6": 1033, "max7": 1034}
RADIO_NAMES = {v: k for k, v in CONTROLS.items()}
POV = {"centred": 65535, "forward": 0, "right": 9000, "backward": 18000, "left": 27000}
KEYS = {0x21: "PgUp", 0x22: "PgDn", 0x1B: "Escape"}
SCANS = {"PgUp": 0x49, "PgDn": 0x51, "Escape": 0x01}
ACTIONS = {"click", "uncheck", "close-button", "wm-close", "close-box", "key", "focus-target", "remove",
           "screenshot"}
LLKHF_EXTENDED, LLKHF_INJECTED, LLKHF_UP = 0x01, 0x10, 0x80


def controller_script(scenario):
    """The scripted controller's own format, from the readable controller section."""
    out = ["refuse-capture"] if scenario.settings.get("capture") == "refuse" else []
    for line in scenario.blocks.get("controller", []):
        words = line.split()
        poll, words = int(words[0]), words[1:]
        if words and words[0] in ACTIONS:
            arg = words[1] if len(words) > 1 else ""
            out.append(f"act {poll} {words[0]} {CONTROLS.get(arg, arg)}")
            continue
        buttons, pov, fail, i = 0, 65535, 0, 0
        while i < len(words):
            w = words[i]
            if w == "buttons":
                buttons = int(words[i + 1], 0)
                i += 1
            elif w == "pov":
                pov = POV[words[i + 1]] if words[i + 1] in POV else int(words[i + 1], 0)
                i += 1
            elif w == "fail":
                fail = 1
            elif w != "neutral":
                raise ScenarioError(f"controller line not understood: {line}")
            i += 1
        out.append(f"state {poll} {buttons} {pov} {fail}")
    for line in scenario.blocks.get("dialog", []):
        out.append(f"act {int(line.split()[0])} snapshot")
    return "\n".join(out) + "\n"


def parse_log(path):
    records = []
    if os.path.exists(path):
        with open(path, errors="replace") as f:
            for line in f:
                words = line.split()
                if words:
                    fields = {w.split("=", 1)[0]: w.split("=", 1)[1] for w in words[1:] if "=" in w}
                    records.append((words[0], words, fields, line.rstrip("\n")))
    return records


def quoted_field(line, name):
    """The C-quoted value of `name="..."` in a log line, unescaped."""
    start = line.index(name + '="') + len(name) + 1
    i = start + 1
    while line[i] != '"':
        i += 2 if line[i] == "\\" else 1
    return ast.literal_eval(line[start:i + 1])


class Run:
    """One start of gearvane.exe, with what its controller and the key recorder saw."""

    def __init__(self, args, scenario, ini, tag):
        self.work = os.path.join(args.work, scenario.name + tag)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        shutil.copy(args.exe, self.work)
        shutil.copy(args.winmm, os.path.join(self.work, "winmm.dll"))
        shutil.copy(args.recorder, self.work)
        if ini is not None:
            with open(os.path.join(self.work, "shift.ini"), "wb") as f:
                f.write(ini)
        with open(os.path.join(self.work, "controller.txt"), "w") as f:
            f.write(controller_script(scenario))
        self.args, self.scenario = args, scenario

    def start_recorder(self):
        cmd = ["wine", os.path.basename(self.args.recorder), "recorder.log"]
        if self.scenario.settings.get("target") == "yes":
            cmd.append("--target")
        self.recorder = subprocess.Popen(cmd, cwd=self.work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        log = os.path.join(self.work, "recorder.log")
        deadline = time.time() + 30
        while time.time() < deadline:
            if os.path.exists(log) and "ready" in open(log).read():
                return
            time.sleep(0.05)
        raise RuntimeError("the key recorder did not start")

    def stop_recorder(self):
        open(os.path.join(self.work, "recorder.stop"), "w").close()
        try:
            self.recorder.wait(10)
        except subprocess.TimeoutExpired:
            self.recorder.kill()
            self.recorder.wait()

    def take_screenshots(self):
        for name in os.listdir(self.work):
            if name.startswith("screenshot-") and name.endswith(".request"):
                request = os.path.join(self.work, name)
                x, y, w, h = open(request).read().split()
                shot = os.path.join(self.args.shots, name[len("screenshot-"):-len(".request")] + ".png")
                os.makedirs(self.args.shots, exist_ok=True)
                subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage", shot],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                print(f"screenshot: {shot}")
                os.remove(request)

    def run(self):
        self.start_recorder()
        env = dict(os.environ, WINEDLLOVERRIDES="winmm=n", GEARVANE_E2E_SCRIPT="controller.txt",
                   GEARVANE_E2E_LOG="controller.log")
        timeout = self.scenario.number("timeout", 60)
        started = time.time()
        program = subprocess.Popen(["wine", os.path.basename(self.args.exe)], cwd=self.work, env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.timed_out = False
        try:
            while program.poll() is None:
                if time.time() - started > timeout:
                    self.timed_out = True
                    break
                self.take_screenshots()
                time.sleep(0.05)
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()
            self.stop_recorder()
        self.exit = program.returncode
        self.controller = parse_log(os.path.join(self.work, "controller.log"))
        self.recorder_log = parse_log(os.path.join(self.work, "recorder.log"))
        self.polls = [(int(f["t"]), int(w[1])) for kind, w, f, _ in self.controller if kind == "poll"]
        freq = [int(w[1]) for kind, w, f, _ in self.controller if kind == "freq"]
        self.freq = freq[0] if freq else 10**7

    def poll_of(self, t):
        """The poll during whose tick an event at QPC time t happened (0: before the first)."""
        found = 0
        for pt, n in self.polls:
            if pt > t:
                break
            found = n
        return found

    def key_events(self):
        """Key events from the hook: (poll, name, down, scan, flags, t)."""
        out = []
        for kind, w, f, _ in self.recorder_log:
            if kind == "key":
                vk, t, flags = int(f["vk"], 16), int(f["t"]), int(f["flags"], 16)
                out.append((self.poll_of(t), KEYS.get(vk, f"vk=0x{vk:02X}"), not flags & LLKHF_UP,
                            int(f["scan"], 16), flags, t))
        return out

    # Each part renders as lines in the same form as the scenario's expectations.
    def actual_keys(self):
        lines = []
        for poll, name, down, scan, flags, _ in self.key_events():
            words = ["injected" if flags & LLKHF_INJECTED else "not-injected"]
            if flags & LLKHF_EXTENDED:
                words.append("extended")
            lines.append(f"{poll} {name} {'down' if down else 'up'} scan=0x{scan:02X} {' '.join(words)}")
        return lines

    def actual_dialog(self, expected):
        snaps = {int(w[1]): line for kind, w, f, line in self.controller if kind == "snap"}
        lines = []
        for exp in expected:
            poll, what = int(exp.split()[0]), exp.split()[1]
            line = snaps.get(poll)
            if line is None:
                lines.append(f"{poll} (no snapshot: the program never reached this poll)")
            elif what == "text":
                lines.append(f"{poll} text {as_c_string(quoted_field(line, 'text'))}")
            elif what == "radios":
                states = dict(p.split(":") for p in line.split(" radios=")[1].split()[0].split(","))
                checked = [RADIO_NAMES[int(k)] for k, v in states.items() if v != "0"]
                odd = [f"{RADIO_NAMES[int(k)]}={v}" for k, v in states.items() if v not in ("0", "1")]
                lines.append(f"{poll} radios {' '.join(checked + odd)}")
            elif what == "foreground":
                lines.append(f"{poll} foreground {as_c_string(quoted_field(line, 'foreground'))}")
        return lines

    def actual_boxes(self):
        lines = []
        for kind, w, f, line in self.recorder_log:
            if kind == "box":
                lines.append(f"{as_c_string(quoted_field(line, 'caption'))} {f['icon']} "
                             f"{as_c_string(quoted_field(line, 'text'))} owner {as_c_string(quoted_field(line, 'owner'))}"
                             f"{'' if f['owner-visible'] == '0' else ' (owner visible)'}")
        return lines

    def actual_winmm(self):
        lines, run = [], None
        for kind, w, f, line in self.controller:
            if kind == "poll":
                key = f"id {f['id']} size {f['size']} flags {f['flags']}"
                n = int(w[1])
                if run and run[1] == key and run[0][1] == n - 1:
                    run[0][1] = n
                else:
                    run = [[n, n], key]
                    lines.append(run)
                continue
            if kind in ("capture", "release", "error"):
                run = None
            if kind == "capture":
                lines.append(f"capture window {as_c_string(quoted_field(line, 'window'))} id {f['id']} "
                             f"period {f['period']} changed {f['changed']} -> {w[-1]}")
            elif kind == "release":
                lines.append(f"release id {f['id']}")
            elif kind == "error":
                lines.append(line)
        return [l if isinstance(l, str) else f"polls {l[0][0]}-{l[0][1]} {l[1]}" for l in lines]

    def actual_files(self):
        return [line.split(" ", 1)[1] for kind, w, f, line in self.controller if kind == "file"]

    def actual_target(self):
        """In order, without poll numbers: the window gets them through its message queue,
        later than the hook sees them."""
        lines = []
        for kind, w, f, line in self.recorder_log:
            if kind == "msg":
                lparam, vk = int(f["lparam"], 16), int(f["vk"], 16)
                extra = " extended" if lparam >> 24 & 1 else ""
                lines.append(f"{w[1]} {KEYS.get(vk, f'vk=0x{vk:02X}')} scan=0x{lparam >> 16 & 0xFF:02X}{extra}")
        return lines

    def ms(self, ticks):
        return ticks * 1000.0 / self.freq


def check(run, scenario):
    ok = True
    # Without these every "nothing happened" expectation would pass unseen.
    if not any(kind == "freq" for kind, w, f, _ in run.controller):
        print("the scripted controller (winmm.dll) was not loaded into gearvane.exe")
        ok = False
    if not any(kind == "ready" and f.get("hook") == "1" for kind, w, f, _ in run.recorder_log):
        print("the key recorder's keyboard hook was not installed")
        ok = False
    if run.timed_out:
        print("gearvane.exe did not end in time: killed")
        ok = False
    if "exit" in scenario.settings:
        ok &= compare("exit code", [scenario.settings["exit"]], [str(run.exit)])
    keys = expand_taps(scenario.blocks.get("keys", []),
                       lambda poll, key, edge: f"{poll} {key} {edge} scan=0x{SCANS[key]:02X} injected")
    ok &= compare("keys", keys, run.actual_keys())
    ok &= compare("message boxes", scenario.blocks.get("boxes", []), run.actual_boxes())
    if "dialog" in scenario.blocks:
        ok &= compare("dialog", scenario.blocks["dialog"], run.actual_dialog(scenario.blocks["dialog"]))
    if "winmm" in scenario.blocks:
        ok &= compare("winmm calls", scenario.blocks["winmm"], run.actual_winmm())
    if "files" in scenario.blocks:
        ok &= compare("files", scenario.blocks["files"], run.actual_files())
    if "target" in scenario.blocks:
        target = expand_taps([f"- {line}" for line in scenario.blocks["target"]],
                             lambda _, key, edge: f"WM_KEY{edge.upper()} {key} scan=0x{SCANS[key]:02X}")
        ok &= compare("key messages received by the focused window", target, run.actual_target())
    return ok


def spins(run):
    """Key holds (down to up of one key) and pauses (up to the next down within one tick), ms."""
    holds, pauses, last = [], [], None
    for event in run.key_events():
        poll, name, down, _, _, t = event
        if name not in ("PgUp", "PgDn"):
            continue
        if last and not down and last[2]:
            holds.append(run.ms(t - last[5]))
        if last and down and not last[2] and last[0] == poll:
            pauses.append(run.ms(t - last[5]))
        last = event
    return holds, pauses


def check_spins(args, scenario, base):
    """The same script with larger shift.ini values: holds and pauses must grow with them,
    and where the two lines are equal, holds and pauses must agree."""
    longer = Run(args, scenario, scenario.string("timing compare shift.ini"), "-longer")
    longer.run()
    ok = check(longer, scenario)
    runs = [(base, scenario.string("shift.ini")), (longer, scenario.string("timing compare shift.ini"))]
    measured = []
    for run, ini in runs:
        holds, pauses = spins(run)
        if not (holds and pauses):
            print("timing: no holds or pauses measured")
            return False
        lines = [int(line) for line in ini.decode().split()[:2]]
        measured.append((median(holds), median(pauses), lines))
        print(f"timing: shift.ini {lines[0]}/{lines[1]}: key hold median {median(holds):.3f} ms over "
              f"{len(holds)} taps, pause median {median(pauses):.3f} ms over {len(pauses)} pauses "
              f"(pause/hold {median(pauses) / median(holds):.2f})")
        if lines[0] == lines[1] and not 0.8 <= median(pauses) / median(holds) <= 1.25:
            print("timing: FAILED: with equal lines the hold and the pause differ by more than 25 %")
            ok = False
    (h0, p0, l0), (h1, p1, l1) = measured
    need = 0.3 * min(l1[0] / l0[0], l1[1] / l0[1])
    print(f"timing: x{h1 / h0:.1f} the hold and x{p1 / p0:.1f} the pause for x{l1[0] / l0[0]:g} and "
          f"x{l1[1] / l0[1]:g} the values")
    if h1 / h0 < need or p1 / p0 < need:
        print(f"timing: FAILED: the spins did not grow with shift.ini (need at least x{need:g})")
        ok = False
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("scenario")
    for option in ("--exe", "--winmm", "--recorder", "--work", "--shots"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    for var in ("DISPLAY", "WINEPREFIX"):
        if not os.environ.get(var):
            sys.exit(f"{var} is not set: run inside the Wine desktop of scripts/test")
    scenario = Scenario(args.scenario)
    scenario.check_known(SETTINGS, SECTIONS)
    run = Run(args, scenario, scenario.string("shift.ini"), "")
    run.run()
    ok = check(run, scenario)
    if "timing compare shift.ini" in scenario.settings:
        ok &= check_spins(args, scenario, run)
    print(f"{scenario.name}: {'passed' if ok else 'FAILED'} (work folder {run.work})")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
