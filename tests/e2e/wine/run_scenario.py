#!/usr/bin/env python3
"""Runs one end-to-end scenario of gearvane.exe under Wine and compares what happened with
what the scenario file expects; prints an Expected/Actual diff for each part that differs.

The program runs unchanged from a fresh work folder holding a copy of gearvane.exe, the
scripted controller (winmm.dll) and the scenario's shift.ini. A key recorder, started first
in its own Wine process, logs every key event and reads and dismisses message boxes.

A scenario file (scenarios/*.scn) holds, after '#' comments:
  shift.ini: "50\n20\n"          the file's exact bytes as a string, or: none
  capture: refuse                 the scripted controller refuses the capture
  target: yes                     another program in the prefix shows a window (taking focus)
  exit: 1                         the expected exit code
  controller:                     POLL and a report (buttons MASK, pov ANGLE|forward|left|
                                  backward|right|centred, neutral, fail) that holds from that
                                  poll on, or an action done during that poll (click NAME,
                                  mouse-click NAME, uncheck NAME, close-button, mouse-close-button,
                                  wm-close, close-box, alt-f4, key Escape|Enter, focus-target,
                                  screenshot NAME, cpu, log-polls off|on)
  keys:                           POLL KEY down|up scan=.. injected, or POLL KEY tap [xN]; a key
                                  belongs to the poll during whose tick the hook saw it
  dialog:                         POLL text "..." | radios NAMES | focus NAME | foreground
                                  "...", read at the start of that poll (after the last tick)
  boxes:                          "caption" icon "text" owner "owner's caption"
  winmm:                          the calls the program made of the controller
  target:                         KEY tap [xN]: key messages the focused window got, in order
  timing compare shift.ini: "..." runs again with these values; holds and pauses must grow
Sections left out are not checked, except keys and boxes: none are expected then.
"""
import argparse
import ast
import difflib
import os
import shutil
import statistics
import subprocess
import sys
import time

CONTROLS = {"standard": 1025, "nascar": 1026, "max4": 1031, "max5": 1032, "max6": 1033, "max7": 1034}
RADIO_NAMES = {v: k for k, v in CONTROLS.items()}
FOCUS_NAMES = {**RADIO_NAMES, 1001: "close-button", 0: "none"}
POV = {"centred": 65535, "forward": 0, "right": 9000, "backward": 18000, "left": 27000}
KEYS = {0x21: "PgUp", 0x22: "PgDn", 0x1B: "Escape", 0x0D: "Enter", 0x73: "F4", 0x12: "Alt", 0xA4: "Alt"}
SCANS = {"PgUp": 0x49, "PgDn": 0x51, "Escape": 0x01, "Enter": 0x1C, "F4": 0x3E, "Alt": 0x38}
ACTIONS = {"click", "mouse-click", "uncheck", "close-button", "mouse-close-button", "wm-close", "close-box",
           "alt-f4", "key", "snapshot", "cpu", "log-polls", "focus-target", "screenshot"}
SECTIONS = {"controller", "keys", "dialog", "boxes", "winmm", "target"}
LLKHF_EXTENDED, LLKHF_INJECTED, LLKHF_UP = 0x01, 0x10, 0x80


class Scenario:
    def __init__(self, path):
        self.name = os.path.splitext(os.path.basename(path))[0]
        self.ini = None
        self.capture = "ok"
        self.target = False
        self.exit = None
        self.timeout = 60
        self.compare_ini = None
        self.blocks = {s: [] for s in SECTIONS}
        self.given = set()
        section = None
        with open(path) as f:
            for number, raw in enumerate(f, 1):
                line = raw.split(" #")[0].rstrip() if not raw.lstrip().startswith("#") else ""
                if not line.strip():
                    continue
                if not line[0].isspace():
                    key, _, value = line.partition(":")
                    key, value = key.strip(), value.strip()
                    section = None
                    if key in SECTIONS and not value:
                        section = key
                        self.given.add(key)
                    elif key == "shift.ini":
                        self.ini = None if value == "none" else ast.literal_eval(value).encode("latin-1")
                    elif key == "capture":
                        self.capture = value
                    elif key == "target":
                        self.target = value == "yes"
                    elif key == "exit":
                        self.exit = int(value)
                    elif key == "timeout":
                        self.timeout = int(value)
                    elif key == "timing compare shift.ini":
                        self.compare_ini = ast.literal_eval(value).encode("latin-1")
                    else:
                        sys.exit(f"{path}:{number}: unknown line: {line}")
                elif section:
                    self.blocks[section].append(squeeze(line))
                else:
                    sys.exit(f"{path}:{number}: indented line outside a section")

    def controller_script(self):
        """The scripted controller's own format, from the readable controller section."""
        out = ["refuse-capture"] if self.capture == "refuse" else []
        for line in self.blocks["controller"]:
            words = line.split()
            poll, words = int(words[0]), words[1:]
            if words and words[0] in ACTIONS:
                arg = words[1] if len(words) > 1 else ""
                out.append(f"act {poll} {words[0]} {CONTROLS.get(arg, arg)}")
                continue
            buttons, pov, fail = 0, 65535, 0
            i = 0
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
                    sys.exit(f"controller line not understood: {line}")
                i += 1
            out.append(f"state {poll} {buttons} {pov} {fail}")
        for line in self.blocks["dialog"]:
            out.append(f"act {int(line.split()[0])} snapshot")
        return "\n".join(out) + "\n"


def squeeze(line):
    """The line with runs of blanks outside quotes made single, so columns may be aligned."""
    out, quoted, i = [], False, 0
    line = line.strip()
    while i < len(line):
        ch = line[i]
        if quoted and ch == "\\":
            out.append(line[i:i + 2])
            i += 2
            continue
        if ch == '"':
            quoted = not quoted
        if not quoted and ch.isspace() and out and out[-1] == " ":
            i += 1
            continue
        out.append(" " if ch.isspace() and not quoted else ch)
        i += 1
    return "".join(out)


def expand_keys(lines, prefix=""):
    """`10 PgUp tap x2` stands for two down/up pairs; other lines stay as written."""
    out = []
    for line in lines:
        words = line.split()
        if "tap" in words:
            count = int(words[-1][1:]) if words[-1].startswith("x") else 1
            poll, key = (words[0], words[1]) if not prefix else ("", words[0])
            for _ in range(count):
                for edge in ("down", "up"):
                    if prefix:
                        out.append(f"{prefix}{edge.upper()} {key} scan=0x{SCANS[key]:02X}")
                    else:
                        out.append(f"{poll} {key} {edge} scan=0x{SCANS[key]:02X} injected")
        else:
            out.append(line)
    return out


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
            f.write(scenario.controller_script())
        self.args, self.scenario, self.tag = args, scenario, tag

    def start_recorder(self):
        cmd = ["wine", os.path.basename(self.args.recorder), "recorder.log"]
        if self.scenario.target:
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
        started = time.time()
        program = subprocess.Popen(["wine", os.path.basename(self.args.exe)], cwd=self.work, env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.timed_out = False
        try:
            while program.poll() is None:
                if time.time() - started > self.scenario.timeout:
                    self.timed_out = True
                    program.kill()
                    program.wait()
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
            if pt <= t:
                found = n
            else:
                break
        return found

    def key_events(self):
        """Key events from the hook: (poll, name, down, scan, flags, t)."""
        out = []
        for kind, w, f, _ in self.recorder_log:
            if kind == "key":
                vk, t = int(f["vk"], 16), int(f["t"])
                out.append((self.poll_of(t), KEYS.get(vk, f"vk=0x{vk:02X}"), not int(f["flags"], 16) & LLKHF_UP,
                            int(f["scan"], 16), int(f["flags"], 16), t))
        return out

    # Each part renders as lines in the same form as the scenario's expectations.
    def actual_keys(self):
        lines = []
        for poll, name, down, scan, flags, _ in self.key_events():
            words = [("injected" if flags & LLKHF_INJECTED else "not-injected")]
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
            elif what == "focus":
                focus = int(line.rsplit("focus=", 1)[1])
                lines.append(f"{poll} focus {FOCUS_NAMES.get(focus, focus)}")
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

    def actual_target(self):
        """In order, without poll numbers: the window gets them through its message queue,
        later than the hook sees them."""
        lines = []
        for kind, w, f, line in self.recorder_log:
            if kind == "msg":
                lparam = int(f["lparam"], 16)
                vk = int(f["vk"], 16)
                extra = " extended" if lparam >> 24 & 1 else ""
                lines.append(f"{w[1]} {KEYS.get(vk, f'vk=0x{vk:02X}')} "
                             f"scan=0x{lparam >> 16 & 0xFF:02X}{extra}")
        return lines

    def ms(self, ticks):
        return ticks * 1000.0 / self.freq


def as_c_string(text):
    out = []
    for ch in text:
        out.append({"\n": "\\n", "\r": "\\r", "\t": "\\t", '"': '\\"', "\\": "\\\\"}.get(ch, ch))
    return '"' + "".join(out) + '"'


def compare(title, expected, actual):
    if expected == actual:
        return True
    print(f"--- {title}: Expected / Actual")
    for line in difflib.unified_diff(expected, actual, "Expected", "Actual", lineterm="", n=100):
        print(line)
    return False


def percentile(values, q):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(q * (len(ordered) - 1))))]


def spins(run):
    """Key holds (down to up of one key) and pauses (up to the next down within one tick), ms."""
    holds, pauses, last = [], [], None
    for poll, name, down, scan, flags, t in run.key_events():
        if name not in ("PgUp", "PgDn"):
            continue
        if last and not down and last[2]:
            holds.append(run.ms(t - last[5]))
        if last and down and not last[2] and last[0] == poll:
            pauses.append(run.ms(t - last[5]))
        last = (poll, name, down, scan, flags, t)
    return holds, pauses


def report(run):
    """Prints the time from a poll to its first key-down and the actual poll period."""
    times = dict((n, t) for t, n in run.polls)
    latencies, seen = [], set()
    for poll, name, down, scan, flags, t in run.key_events():
        if name in ("PgUp", "PgDn") and down and poll not in seen and poll in times:
            seen.add(poll)
            latencies.append(run.ms(t - times[poll]))
    periods = [run.ms(b[0] - a[0]) for a, b in zip(run.polls, run.polls[1:]) if b[1] == a[1] + 1]
    if latencies:
        print(f"report: poll to first key-down: median {statistics.median(latencies):.3f} ms, "
              f"p99 {percentile(latencies, 0.99):.3f} ms over {len(latencies)} gear changes")
    if periods:
        print(f"report: poll period: median {statistics.median(periods):.2f} ms, "
              f"p99 {percentile(periods, 0.99):.2f} ms over {len(periods)} polls")
    cpu = [(int(f["t"]), int(f["user"]) + int(f["kernel"])) for kind, w, f, _ in run.controller if kind == "cpu"]
    if len(cpu) >= 3:  # the last one is logged when the process ends
        (t0, c0), (t1, c1) = cpu[0], cpu[-2]
        wall = run.ms(t1 - t0) / 1000.0
        note(f"CPU at rest: {(c1 - c0) / 1e7:.3f} s of CPU in {wall:.1f} s = "
             f"{100.0 * (c1 - c0) / 1e7 / wall:.2f} % of one core (goal: under 0.5 %)")
    if args_global.measurements:
        with open(args_global.measurements, "a") as f:
            for v in latencies:
                f.write(f"latency {v:.4f}\n")
            for v in periods:
                f.write(f"period {v:.4f}\n")


def note(text):
    """Prints a figure for the report and keeps it for the suite's summary."""
    print(text)
    if args_global.measurements:
        with open(args_global.measurements, "a") as f:
            f.write(f"note {text}\n")


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
        print(f"gearvane.exe did not end within {scenario.timeout} s: killed")
        ok = False
    if scenario.exit is not None:
        ok &= compare("exit code", [str(scenario.exit)], [str(run.exit)])
    ok &= compare("keys", expand_keys(scenario.blocks["keys"]), run.actual_keys())
    if "dialog" in scenario.given:
        ok &= compare("dialog", scenario.blocks["dialog"], run.actual_dialog(scenario.blocks["dialog"]))
    ok &= compare("message boxes", scenario.blocks["boxes"], run.actual_boxes())
    if "winmm" in scenario.given:
        ok &= compare("winmm calls", scenario.blocks["winmm"], run.actual_winmm())
    if scenario.target:
        ok &= compare("key messages received by the focused window",
                      expand_keys(scenario.blocks["target"], prefix="WM_KEY"), run.actual_target())
    return ok


def main():
    global args_global
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("scenario", nargs="?")
    parser.add_argument("--exe")
    parser.add_argument("--winmm")
    parser.add_argument("--recorder")
    parser.add_argument("--work")
    parser.add_argument("--shots")
    parser.add_argument("--measurements")
    parser.add_argument("--summary", help="print the timing figures gathered by the scenarios run so far")
    args_global = args = parser.parse_args()
    if args.summary:
        return summary(args.summary)
    if not (args.scenario and args.exe and args.winmm and args.recorder and args.work and args.shots):
        parser.error("a scenario needs --exe, --winmm, --recorder, --work and --shots")
    for var in ("DISPLAY", "WINEPREFIX"):
        if not os.environ.get(var):
            sys.exit(f"{var} is not set: run inside the Wine desktop of scripts/test")
    scenario = Scenario(args.scenario)
    run = Run(args, scenario, scenario.ini, "")
    run.run()
    ok = check(run, scenario)
    report(run)
    if scenario.compare_ini is not None:
        ok &= check_spins(args, scenario, run)
    print(f"{scenario.name}: {'passed' if ok else 'FAILED'} (work folder {run.work})")
    return 0 if ok else 1


def check_spins(args, scenario, base):
    """The same script with larger shift.ini values: holds and pauses must grow with them."""
    longer = Run(args, scenario, scenario.compare_ini, "-longer")
    longer.run()
    ok = check(longer, scenario)
    h0, p0 = spins(base)
    h1, p1 = spins(longer)
    if not (h0 and p0 and h1 and p1):
        print("timing: no holds or pauses measured")
        return False
    hold_ratio = statistics.median(h1) / statistics.median(h0)
    pause_ratio = statistics.median(p1) / statistics.median(p0)
    factor = [a / b for a, b in zip(parse_ini(scenario.compare_ini), parse_ini(scenario.ini))]
    note(f"key hold, median: {statistics.median(h0):.3f} ms -> {statistics.median(h1):.3f} ms "
         f"(x{hold_ratio:.1f} for x{factor[0]:g} the WAIT1 value, {len(h0)}/{len(h1)} taps)")
    note(f"pause between taps, median: {statistics.median(p0):.3f} ms -> {statistics.median(p1):.3f} ms "
         f"(x{pause_ratio:.1f} for x{factor[1]:g} the WAIT2 value, {len(p0)}/{len(p1)} pauses)")
    need = min(factor) * 0.3
    if hold_ratio < need or pause_ratio < need:
        print(f"timing: FAILED: the spins did not grow with shift.ini (need at least x{need:g})")
        return False
    return ok


def summary(path):
    """Median and p99 over the whole suite; a report, never a pass or fail."""
    values = {"latency": [], "period": []}
    lines = []
    if os.path.exists(path):
        for line in open(path):
            kind, value = line.rstrip("\n").split(" ", 1)
            if kind == "note":
                lines.append(value)
            else:
                values[kind].append(float(value))
    for kind, title, unit in (("latency", "poll that reports a new gate position to the first key-down", "gear changes"),
                              ("period", "poll period", "polls")):
        v = values[kind]
        if v:
            lines.append(f"{title}: median {statistics.median(v):.3f} ms, p99 {percentile(v, 0.99):.3f} ms, "
                         f"max {max(v):.3f} ms over {len(v)} {unit}")
    text = "\n".join(lines) if lines else "no measurements"
    print(text)
    with open(os.path.join(os.path.dirname(path), "report.txt"), "w") as f:
        f.write(text + "\n")
    return 0


def parse_ini(data):
    return [int(line) for line in data.decode().split()[:2]]


if __name__ == "__main__":
    sys.exit(main())
