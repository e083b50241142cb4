#!/usr/bin/env python3
"""The Linux end-to-end suite: the unchanged gearvane in the throw-away VM, one boot for
every scenario, then one check per scenario file.

  suite.py boot --program P --lever L --floor F [--deb D] --results DIR [--cache DIR]
      turns each scenarios/*.scn into a plan for the scripted lever, boots once (with the
      peer rootfs when there is a .deb to install), and files each scenario's log in DIR
  suite.py check FILE.scn --results DIR
      compares what happened with what the file expects; prints Expected/Actual diffs
  suite.py package --results DIR
      checks the .deb's installation in the peer rootfs

A scenario file (scenarios/*.scn) holds, after '#' comments:
  args: --plate nascar            the command line (shell words); `program: floor` runs the
                                  floor mapper instead of gearvane (a check of the harness)
  config: "max-gear = 5\\n"        the default config file ($XDG_CONFIG_HOME/gearvane/gearvane.conf)
  file NAME: "..."                a file in the program's working folder
  lever: absent                   no lever at start;  decoy: NAME  another joystick, created first
  uinput: not loaded              runs before uinput.ko is loaded (or: writable, for any user);
  user: UID                       runs the program as UID
  settle: MS                      quiet time after each step's expected events (default 300)
  timing compare args: ...        runs again with these arguments: holds and gaps must grow
  random: N                       N random lever steps, numbered 1000 on, among the controller's;
                                  seed: S (the environment's GEARVANE_E2E_SEED overrides it)
  exit: N                         the expected exit code
  controller:                     STEP [after K down|up] WHAT, WHAT being a position (neutral,
                                  buttons 1,5,33, hat up|right|down|left|up-right|..., axis N, in
                                  any mix; it holds from that step on), unplug, replug [POSITION],
                                  dropped POSITION (moved while the program is stopped, with a
                                  burst that overflows its queue), signal TERM|HUP|INT,
                                  config "TEXT", chmod MODE lever, stdin TEXT, stdin end. A
                                  step starts once the last one's expected key lines have come
                                  and it stayed quiet for `settle`, or, with `after`, at the
                                  K-th key-down or key-up of the last step
  keys:                           STEP KEY down|up, STEP KEY tap [xN], STEP keyboard KEY...
                                  (the virtual keyboard appeared with these keys), STEP keyboard
                                  gone, STEP stdout TEXT; with --simulate the program's output
                                  lines are its key events
  stderr:                         the program's standard error, in order; {lever} is the node
  commands:                       EXIT ARGS [~ WORD]: one run each, WORD named in its output
"""
import argparse
import ast
import json
import os
import random
import re
import shlex
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, HERE)

import scenario as shared  # noqa: E402
import vm  # noqa: E402

SETTINGS = {"args", "program", "config", "lever", "decoy", "uinput", "user", "settle", "timing compare args",
            "random", "seed", "exit"}
SECTIONS = {"controller", "keys", "stderr", "commands"}
HATS = {"centred": (0, 0), "up": (0, -1), "right": (1, 0), "down": (0, 1), "left": (-1, 0),
        "up-right": (1, -1), "down-right": (1, 1), "down-left": (-1, 1), "up-left": (-1, -1)}
SIGNALS = {"TERM": 15, "HUP": 1, "INT": 2}
LEVER = "Scripted Lever"
KEYBOARDS = {"gearvane": "gearvane virtual keyboard", "floor": "floor virtual keyboard"}
FOREIGN = 20        # the button a burst toggles
BURST = 300         # press and release pairs: far more than an evdev client's queue holds
GUEST = "/e2e"


class Position:
    def __init__(self, buttons=(), hat=(0, 0), axis=0):
        self.buttons, self.hat, self.axis = tuple(sorted(buttons)), hat, axis

    @classmethod
    def parse(cls, words):
        buttons, hat, axis, i = [], (0, 0), 0, 0
        while i < len(words):
            w = words[i]
            if w == "neutral":
                i += 1
                continue
            if i + 1 >= len(words) or w not in ("buttons", "hat", "axis"):
                raise shared.ScenarioError(f"not a lever position: {' '.join(words)}")
            if w == "buttons":
                buttons = [int(b) for b in words[i + 1].split(",")]
            elif w == "hat":
                hat = HATS[words[i + 1]]
            else:
                axis = int(words[i + 1])
            i += 2
        return cls(buttons, hat, axis)

    def plan(self):
        return f"{','.join(map(str, self.buttons)) or '-'} {self.hat[0]} {self.hat[1]} {self.axis}"


class Step:
    def __init__(self, number, trigger, kind, arg=None):
        self.number, self.trigger, self.kind, self.arg = number, trigger, kind, arg

    @classmethod
    def parse(cls, line):
        words = line.split()
        number, rest = int(words[0]), words[1:]
        trigger = None
        if rest[:1] == ["after"]:
            trigger = (rest[2], int(rest[1]))
            if trigger[0] not in ("down", "up"):
                raise shared.ScenarioError(f"after K down|up: {line}")
            rest = rest[3:]
        what = rest[0] if rest else ""
        if what == "unplug":
            return cls(number, trigger, "unplug")
        if what == "replug":
            return cls(number, trigger, "plug", Position.parse(rest[1:]) if len(rest) > 1 else None)
        if what == "dropped":
            return cls(number, trigger, "drop", Position.parse(rest[1:]))
        if what == "signal":
            return cls(number, trigger, "signal", SIGNALS[rest[1]])
        if what == "config":
            text = line.split("config", 1)[1].strip()
            return cls(number, trigger, "config", ast.literal_eval(text))
        if what == "chmod":
            return cls(number, trigger, "chmod", " ".join(rest[1:3]))
        if what == "stdin":
            text = line.split("stdin", 1)[1].strip()
            return cls(number, trigger, "eof" if text == "end" else "stdin", text)
        return cls(number, trigger, "set", Position.parse(rest))


class LinuxScenario(shared.Scenario):
    def __init__(self, path):
        super().__init__(path)
        known = set(SETTINGS) | {k for k in self.settings if k.startswith("file ")}
        self.check_known(known, SECTIONS)
        self.args = shlex.split(self.settings.get("args", ""))
        self.program = self.settings.get("program", "gearvane")
        self.steps = [Step.parse(line) for line in self.blocks.get("controller", [])]
        if not self.steps or self.steps[0].number != 0:
            self.steps.insert(0, Step(0, None, "set", Position()))
        numbers = [s.number for s in self.steps]
        if numbers != sorted(set(numbers)):
            raise shared.ScenarioError(f"{path}: controller steps must rise")
        self.settle = self.number("settle", 300)
        self.simulate = "--simulate" in self.args
        for line in self.keys():
            if int(line.split()[0]) not in numbers:
                raise shared.ScenarioError(f"{path}: keys at step {line.split()[0]}, which the controller lacks")

    def keys(self):
        return shared.expand_taps(self.blocks.get("keys", []), lambda step, key, edge: f"{step} {key} {edge}")

    def hold_gap(self, args):
        """The hold and gap (ms) that the command line and config file ask for."""
        text = " ".join(args) + " " + self.settings.get("config", "")
        hold = [int(v) for v in re.findall(r"hold-ms\W+(\d+)", text)] or [40]
        gap = [int(v) for v in re.findall(r"gap-ms\W+(\d+)", text)] or [40]
        return max(hold), max(gap)

    def seed(self):
        return int(os.environ.get("GEARVANE_E2E_SEED") or self.settings.get("seed", "1"))

    def runs(self):
        """(tag, args) of each start of the program."""
        out = [(self.name, self.args)]
        if "timing compare args" in self.settings:
            out.append((self.name + "+compare", shlex.split(self.settings["timing compare args"])))
        return out


# --- The random run -------------------------------------------------------------------------

class GateModel:
    """What the lever means under a --gate map (the rules of user-defined maps: only the
    map's inputs count, two gear inputs at once are no gear, a hat diagonal is no input),
    with the cap. Written from the rules, not from the program."""

    def __init__(self, args):
        gate = args[args.index("--gate") + 1]
        self.max_gear = int(args[args.index("--max-gear") + 1]) if "--max-gear" in args else 6
        self.inputs, self.reset = {}, None
        for item in gate.split(","):
            g, value = item.split("=")
            if g == "reset":
                self.reset = int(value)
            else:
                self.inputs[-1 if g == "R" else int(g)] = value

    def active(self, position, value):
        if value.startswith("hat-"):
            return position.hat == HATS[value[4:]]
        return int(value) in position.buttons

    def decode(self, position):
        gears = [g for g, v in self.inputs.items() if self.active(position, v)]
        gear = gears[0] if len(gears) == 1 else None
        if gear is not None and gear > self.max_gear:
            gear = self.max_gear
        return gear, self.reset is not None and self.reset in position.buttons

    def buttons(self):
        return sorted(int(v) for v in self.inputs.values() if not v.startswith("hat-"))


def random_steps(scn, model, seed):
    """The random lever run: (Step, expected net taps since the start or None when a later
    step cuts in before it settles)."""
    rng = random.Random(seed)
    foreign = [b for b in (1, 2, 3, 12, 20, 33, 36) if b not in model.buttons() and b != model.reset]
    gears = list(model.inputs)
    start = 1000
    out, base, target, last_taps, last_triggered, last_reset = [], 0, 0, 0, True, False
    for i in range(scn.number("random")):
        buttons, hat = set(), (0, 0)
        roll = rng.random()
        if roll < 0.1:
            pass  # neutral
        else:
            g = rng.choice(gears)
            v = model.inputs[g]
            if v.startswith("hat-"):
                hat = HATS[v[4:]]
            else:
                buttons.add(int(v))
            if rng.random() < 0.3:
                buttons.add(rng.choice(foreign))
            if rng.random() < 0.1:
                other = model.inputs[rng.choice(gears)]
                if other.startswith("hat-"):
                    hat = HATS[other[4:]]
                else:
                    buttons.add(int(other))
            if rng.random() < 0.07:
                hat = rng.choice([HATS["up-right"], HATS["down-left"]])
        trigger = None
        if not last_triggered and not last_reset and last_taps >= 2 and rng.random() < 0.35:
            trigger = ("down", rng.randint(1, last_taps - 1))
        elif not last_reset and rng.random() < 0.08 and model.reset:
            buttons.add(model.reset)
        position = Position(buttons, hat)
        gear, reset = model.decode(position)
        before = target
        if reset:
            base += target
            target = 0
        if gear is not None:
            target = gear
        if out and trigger:
            out[-1] = (out[-1][0], None)
        # From a settled start, the taps this step needs; a step that cut in does not count.
        last_taps = abs(target - (0 if reset else before)) if not trigger else 0
        last_triggered, last_reset = trigger is not None, reset
        out.append((Step(start + i, trigger, "set", position), base + target))
    return out


# --- Plans for the scripted lever -----------------------------------------------------------

def expected_counts(lines):
    counts = {}
    for line in lines:
        step = int(line.split()[0])
        counts[step] = counts.get(step, 0) + 1
    return counts


def plan(scn, tag, args, steps, nets=None):
    """The scripted lever's plan for one start of the program. `nets` maps a step to the net
    taps that must have come when it ends (else the step's expected key lines count)."""
    work = f"/tmp/w/{tag}"
    hold, gap = scn.hold_gap(args)
    keyboard = KEYBOARDS[scn.program]
    lines = [f"name {LEVER}", f"keyboard {keyboard}", f"settle {scn.settle}",
             # Generous: emulation is slow, and only a broken program ever waits it out.
             f"timeout {4000 + 8 * (hold + gap)}"]
    if scn.settings.get("decoy"):
        lines.append(f"decoy {scn.settings['decoy']}")
    if scn.settings.get("lever") == "absent" or scn.settings.get("uinput") == "not loaded":
        lines.append("absent")
    if scn.simulate:
        lines.append("stdout-keys")
    lines.append(f"state {steps[0].arg.plan() if steps[0].arg else '- 0 0 0'}")
    lines += [f"cwd {work}", f"env HOME={work}", f"env XDG_CONFIG_HOME={work}/xdg"]
    if "user" in scn.settings:
        lines.append(f"user {scn.number('user')}")
    if any(s.kind in ("stdin", "eof") for s in steps):
        lines.append("input pipe")
    if scn.program == "floor":
        lines += [f"program {GUEST}/bin/e2e_floor", f"arg {LEVER}"]
    else:
        lines += [f"program {GUEST}/bin/gearvane"] + [f"arg {a}" for a in args]
    if "config" in scn.settings:
        lines.append(f"copy {GUEST}/s/{scn.name}/config {work}/xdg/gearvane/gearvane.conf")
    if scn.settings.get("uinput") == "writable":
        lines.append("chmod 0666 /dev/uinput")
    counts = expected_counts(scn.keys())
    lines += ["start", "step 0", "spawn"]
    nets = nets or {}

    def wait_for(step):
        if nets.get(step) is not None:
            return f"wait net {nets[step]}"
        return f"wait count {counts.get(step, 0)}"

    previous = 0
    for s in steps[1:]:
        lines.append(f"wait {s.trigger[0]} {s.trigger[1]}" if s.trigger else wait_for(previous))
        lines.append(f"step {s.number}")
        if s.kind == "set":
            lines.append(f"set {s.arg.plan()}")
        elif s.kind == "unplug":
            lines.append("unplug")
        elif s.kind == "plug":
            lines.append(f"plug {s.arg.plan()}" if s.arg else "plug")
        elif s.kind == "drop":
            lines.append(f"drop {s.arg.plan()} {FOREIGN} {BURST}")
        elif s.kind == "signal":
            lines.append(f"signal {s.arg}")
        elif s.kind == "config":
            lines.append(f"copy {GUEST}/s/{scn.name}/config.{s.number} {work}/xdg/gearvane/gearvane.conf")
        elif s.kind == "chmod":
            lines.append(f"chmod {s.arg}")
        elif s.kind == "stdin":
            lines.append(f"stdin {s.arg}")
        elif s.kind == "eof":
            lines.append("eof")
        previous = s.number
    lines += [wait_for(previous), "end"]
    if scn.settings.get("uinput") == "writable":
        lines.append("chmod 0600 /dev/uinput")  # as it was, for the scenarios after this one
    return "\n".join(lines) + "\n"


def commands_plan(scn):
    lines = [f"name {LEVER}", "settle 50", "timeout 10000", f"cwd /tmp/w/{scn.name}",
             f"env HOME=/tmp/w/{scn.name}", f"env XDG_CONFIG_HOME=/tmp/w/{scn.name}/xdg"]
    if scn.settings.get("uinput") == "not loaded":
        lines.append("absent")
    if "user" in scn.settings:
        lines.append(f"user {scn.number('user')}")
    lines.append("start")
    for i, line in enumerate(scn.blocks["commands"]):
        args = shlex.split(line.split(" ~ ")[0])[1:]
        lines += [f"step {i}", f"program {GUEST}/bin/gearvane"] + [f"arg {a}" for a in args] + ["spawn", "end"]
    return "\n".join(lines) + "\n"


# --- Booting the suite ----------------------------------------------------------------------

def scenario_files(folder):
    return sorted(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(".scn"))


def boot(a):
    os.makedirs(a.results, exist_ok=True)
    for f in os.listdir(a.results):
        os.remove(os.path.join(a.results, f))
    meta = {"seeds": {}, "stages": {}}

    def finish(status, code):
        meta["status"] = status
        with open(os.path.join(a.results, "meta.json"), "w") as f:
            json.dump(meta, f, indent=1)
        # CTest hides a passing test's output: scripts/test prints this instead.
        with open(os.path.join(a.results, "report.txt"), "w") as f:
            if meta.get("skipped"):
                f.write(f"Linux end-to-end VM: not run: QEMU cannot run here: {meta['skipped']}\n")
            else:
                f.write(f"Linux end-to-end VM: {status}; "
                        + ", ".join(f"{n} {s:.0f} s" for n, s in meta["stages"].items())
                        + "".join(f"; {n}: seed {seed}" for n, seed in meta["seeds"].items()) + "\n")
        return code

    problem = vm.qemu_problem()
    if problem:
        print(f"QEMU cannot run here: {problem}. The Linux end-to-end tests need it.")
        meta["skipped"] = problem
        return finish("skipped", 1 if os.environ.get("CI") == "true" else 77)
    if not os.path.exists(a.program):
        print(f"no program at {a.program}: build the linux preset first")
        return finish("no program", 1)
    os.makedirs(a.cache, exist_ok=True)
    watch = vm.Stopwatch()
    kernel = watch.stage("kernel tree", vm.build_kernel, a.cache)
    deb = a.deb if a.deb and os.path.exists(a.deb) else None
    disk = watch.stage("peer rootfs", vm.build_rootfs, a.cache, vm.deb_depends(deb)) if deb else None
    if not deb:
        print(f"no .deb at {a.deb}: the package check will fail (cmake --build --preset linux --target package)")

    cpio = vm.base_initramfs(kernel, disk=bool(disk))
    vm.add_program(cpio, a.program, "e2e/bin/gearvane")
    cpio.add_file("e2e/bin/e2e_lever", a.lever, 0o755)
    cpio.add_file("e2e/bin/e2e_floor", a.floor, 0o755)
    before, after = [], []
    for path in scenario_files(a.scenarios):
        scn = LinuxScenario(path)
        if a.only and scn.name not in a.only:
            continue
        folder = f"e2e/s/{scn.name}"
        if "config" in scn.settings:
            cpio.add(f"{folder}/config", scn.string("config"))
        for s in scn.steps:
            if s.kind == "config":
                cpio.add(f"{folder}/config.{s.number}", s.arg.encode())
        files = [key[5:] for key in scn.settings if key.startswith("file ")]
        for name in files:
            cpio.add(f"{folder}/{name}", scn.string(f"file {name}"))
        if "commands" in scn.blocks:
            cpio.add(f"{folder}/plan", commands_plan(scn).encode())
            tags = [scn.name]
        else:
            steps, nets = scn.steps, None
            if "random" in scn.settings:
                seed = scn.seed()
                meta["seeds"][scn.name] = seed
                print(f"{scn.name}: seed {seed} (GEARVANE_E2E_SEED=n runs another)")
                extra = random_steps(scn, GateModel(scn.args), seed)
                steps = sorted(scn.steps + [s for s, _ in extra], key=lambda s: s.number)
                nets = {s.number: n for s, n in extra}
            tags = []
            for tag, args in scn.runs():
                cpio.add(f"e2e/s/{tag}/plan", plan(scn, tag, args, steps, nets).encode())
                tags.append(tag)
        script = []
        for tag in tags:
            # Each start of the program gets a fresh working folder and config home.
            script.append(f"mkdir -p /tmp/w/{tag}/xdg/gearvane")
            script += [f"cp {GUEST}/s/{scn.name}/{name} /tmp/w/{tag}/" for name in files]
            script.append(f"play {tag}")
        (before if scn.settings.get("uinput") == "not loaded" else after).extend(script)
    run_sh = ["load_modules uinput"] + before + ["insmod /modules/uinput.ko"] + after
    if disk:
        cpio.add_file("e2e/gearvane.deb", deb)
        cpio.add_file("e2e/package.sh", os.path.join(HERE, "guest", "package.sh"))
        run_sh.append("emit package sh /e2e/package.sh")
    cpio.add("e2e/run.sh", ("\n".join(run_sh) + "\n").encode())
    initrd = os.path.join(a.cache, "suite.cpio")
    watch.stage("initramfs", cpio.write, initrd)
    try:
        lines = watch.stage("boot and scenarios", vm.boot, kernel, initrd, a.cache, disk, a.timeout)
    except vm.VmError as e:
        print(e)
        meta["stages"] = dict(watch.stages)
        return finish("failed", 1)
    meta["stages"] = dict(watch.stages)
    logs = {}
    for tag, text in lines:
        logs.setdefault(tag, []).append(text)
    for tag, texts in logs.items():
        with open(os.path.join(a.results, f"{'guest' if tag == '@@' else tag}.log"), "w") as f:
            f.write("\n".join(texts) + "\n")
    for text in logs.get("@@", []):
        print(f"guest: {text}")
    return finish("ok", 0)


# --- Reading a log back ---------------------------------------------------------------------

class Log:
    def __init__(self, path):
        self.events = []
        with open(path) as f:
            for line in f:
                t, _, rest = line.rstrip("\n").partition(" ")
                kind, _, text = rest.partition(" ")
                self.events.append((int(t), kind, text))
        self.markers = [(t, int(text)) for t, kind, text in self.events if kind == "step"]
        self.nodes = sorted({text for t, kind, text in self.events if kind == "lever"}, key=len, reverse=True)

    def step_at(self, t):
        found = self.markers[0][1] if self.markers else 0
        for mt, n in self.markers:
            if mt <= t:
                found = n
            else:
                break
        return found

    def key_events(self, simulate):
        """(step, t, key, edge, program ms or None), in order of time."""
        out = []
        for t, kind, text in self.events:
            if kind == "key":
                key, edge = text.split()
                out.append((self.step_at(t), t, key, edge, None))
            elif kind == "out" and simulate and re.fullmatch(r"\d+ \S+ (down|up)", text):
                ms, key, edge = text.split()
                out.append((self.step_at(t), t, key, edge, int(ms)))
        return sorted(out, key=lambda e: e[1])

    def actual_keys(self, simulate):
        lines = []
        for t, kind, text in sorted(self.events, key=lambda e: e[0]):
            if kind == "key":
                key, edge = text.split()
                lines.append((t, f"{self.step_at(t)} {key} {edge}"))
            elif kind == "keyboard":
                lines.append((t, f"{self.step_at(t)} keyboard {text}"))
            elif kind == "out":
                if simulate and re.fullmatch(r"\d+ \S+ (down|up)", text):
                    lines.append((t, f"{self.step_at(t)} {' '.join(text.split()[1:])}"))
                else:
                    lines.append((t, f"{self.step_at(t)} stdout {shared.squeeze(text)}"))
        return [line for _, line in lines]

    def stderr(self):
        out = []
        for t, kind, text in self.events:
            if kind == "err":
                for node in self.nodes:
                    text = re.sub(re.escape(node) + r"(?!\d)", "{lever}", text)
                out.append(shared.squeeze(text))
        return out

    def exit(self):
        for t, kind, text in self.events:
            if kind == "killed":
                return "killed (it did not end in time)"
            if kind == "exit":
                return text
            if kind == "signalled":
                return f"killed by signal {text}"
        return "(never started)"

    def problems(self):
        """The harness's own complaints: a broken plan, or waits that ran out."""
        out = []
        for t, kind, text in self.events:
            if kind in ("fatal", "timeout", "stdin-failed") or (kind == "lever-exit" and text != "0"):
                out.append(f"{kind} {text} (step {self.step_at(t)})")
        return out


# --- Checking -------------------------------------------------------------------------------

def least(value, own_clock):
    """The shortest hold or gap (ms) that cannot be a fault. On the program's own clock
    (--simulate) timers never fire early; 1 ms is left for its whole milliseconds. Between
    kernel timestamps the program's work before each key event (up to about 10 ms under
    emulation) shortens or lengthens it: there only one of 40 ms or more is checked, at half."""
    if own_clock:
        return value - 1
    return value / 2 if value >= 40 else None


def check_taps(log, events, hold, gap, cut_steps):
    """A key-down always gets its key-up before the next key-down, holds and gaps are not
    shorter than asked (see least), and a tap cut short by an unplug or a signal ends at
    once: well within half its hold."""
    problems, down, last_up = [], None, None
    marks = {n: t for t, n in log.markers}
    for step, t, key, edge, ms in events:
        when = ms if ms is not None else t / 1e6
        if edge == "repeat":
            problems.append(f"step {step}: {key} auto-repeated")
        elif edge == "down":
            if down:
                problems.append(f"step {step}: {key} down while {down[0]} is still down")
            shortest = least(gap, ms is not None)
            if last_up is not None and shortest is not None and when - last_up < shortest:
                problems.append(f"step {step}: {key} down {when - last_up:.1f} ms after the last key-up "
                                f"(gap {gap} ms)")
            down = (key, when)
        elif edge == "up":
            if not down or down[0] != key:
                problems.append(f"step {step}: {key} up without its down")
            elif step not in cut_steps and least(hold, ms is not None) is not None \
                    and when - down[1] < least(hold, ms is not None):
                problems.append(f"step {step}: {key} held {when - down[1]:.1f} ms (hold {hold} ms)")
            elif step in cut_steps and ms is None and (t - marks[step]) / 1e6 > hold / 2:
                problems.append(f"step {step}: {key} went up {(t - marks[step]) / 1e6:.0f} ms after the step "
                                f"began, not at once (hold {hold} ms)")
            down, last_up = None, when
    if down:
        problems.append(f"{down[0]} still down at the end")
    return problems


def check_run(scn, tag, args, results, nets=None):
    path = os.path.join(results, f"{tag}.log")
    if not os.path.exists(path):
        print(f"{tag}: no log from the VM (see the e2e-linux.boot test's output)")
        return False, None
    log = Log(path)
    ok = True
    for problem in log.problems():
        print(f"harness: {problem}")
    if nets is None:
        ok &= shared.compare(f"{tag}: keys", scn.keys(), log.actual_keys(scn.simulate))
    if "stderr" in scn.blocks:
        ok &= shared.compare(f"{tag}: standard error", scn.blocks["stderr"], log.stderr())
    if "exit" in scn.settings:
        ok &= shared.compare(f"{tag}: exit code", [scn.settings["exit"]], [log.exit()])
    if scn.program == "gearvane":
        hold, gap = scn.hold_gap(args)
        cut = {s.number for s in scn.steps if s.kind == "unplug" or (s.kind == "signal" and s.arg != 1)}
        problems = check_taps(log, log.key_events(scn.simulate), hold, gap, cut)
        if problems:
            print(f"--- {tag}: taps")
            print("\n".join(problems[:20]))
            ok = False
    return ok, log


def check_random(scn, log, seed):
    model = GateModel(scn.args)
    extra = random_steps(scn, model, seed)
    events = log.key_events(False)
    net_at = {}
    by_step = {}
    for step, t, key, edge, ms in events:
        by_step.setdefault(step, []).append(f"{key} {edge}")
    net, i = 0, 0
    markers = log.markers + [(float("inf"), None)]
    for (mt, n), (next_t, _) in zip(markers, markers[1:]):
        while i < len(events) and events[i][1] < next_t:
            if events[i][3] == "down":
                net += 1 if events[i][2] == "KEY_PAGEUP" else -1
            i += 1
        net_at[n] = net
    failures = []
    for s, expected in extra:
        if expected is None:
            continue
        actual = net_at.get(s.number)
        if actual != expected:
            gear = model.decode(s.arg)
            failures.append(f"step {s.number} ({s.arg.plan()}, decodes to {gear}): net taps since the start "
                            f"{actual}, expected {expected}; taps in the step: {', '.join(by_step.get(s.number, []))}")
    checked = sum(1 for _, e in extra if e is not None)
    print(f"{scn.name}: seed {seed}, {len(extra)} random steps, the invariant checked at {checked} settled steps, "
          f"{sum(1 for s, _ in extra if s.trigger)} changes retargeted mid-way, "
          f"{sum(1 for e in events if e[3] == 'down')} taps")
    if failures:
        print(f"--- {scn.name}: net taps differ from the gear the lever asked for (seed {seed}):")
        print("\n".join(failures[:10]))
    return not failures


def ratio_check(scn, base, longer):
    def spans(log):
        holds, gaps, down, up = [], [], None, None
        for step, t, key, edge, ms in log.key_events(scn.simulate):
            if edge == "down":
                if up is not None and up[0] == step:
                    gaps.append((t - up[1]) / 1e6)
                down = (step, t)
            elif edge == "up" and down:
                holds.append((t - down[1]) / 1e6)
                up = (step, t)
        return holds, gaps

    h0, g0 = spans(base)
    h1, g1 = spans(longer)
    if not (h0 and g0 and h1 and g1):
        print("timing: no holds or gaps to compare")
        return False
    (hold0, gap0), (hold1, gap1) = scn.hold_gap(scn.args), scn.hold_gap(shlex.split(scn.settings["timing compare args"]))
    hr, gr = statistics.median(h1) / statistics.median(h0), statistics.median(g1) / statistics.median(g0)
    print(f"timing: hold median {statistics.median(h0):.1f} ms -> {statistics.median(h1):.1f} ms (x{hr:.1f} for "
          f"--hold-ms {hold0} -> {hold1}); gap median {statistics.median(g0):.1f} ms -> {statistics.median(g1):.1f} ms "
          f"(x{gr:.1f} for --gap-ms {gap0} -> {gap1})")
    if hr < 3 or gr < 3:
        print("timing: FAILED: holds and gaps must grow well over 3 times")
        return False
    return True


def check_commands(scn, results):
    path = os.path.join(results, f"{scn.name}.log")
    if not os.path.exists(path):
        print(f"{scn.name}: no log from the VM (see the e2e-linux.boot test's output)")
        return False
    log = Log(path)
    for problem in log.problems():
        print(f"harness: {problem}")
    expected, actual = [], []
    for i, line in enumerate(scn.blocks["commands"]):
        command, _, word = line.partition(" ~ ")
        expected.append(line)
        events = [(kind, text) for t, kind, text in log.events if log.step_at(t) == i and kind != "step"]
        code = next((text for kind, text in events if kind == "exit"), None)
        if code is None:
            code = "killed" if any(k == "killed" for k, _ in events) else "(no exit)"
        args_text = " ".join(command.split()[1:])
        said = [text for kind, text in events if kind in ("err", "out")]
        rendered = f"{code} {args_text}"
        if word:
            if any(word.lower() in s.lower() for s in said):
                rendered += f" ~ {word}"
            else:
                rendered += f" ~ ? {said[0] if said else '(said nothing)'}"
        actual.append(rendered)
    return shared.compare(f"{scn.name}: exit codes and messages", expected, actual)


def boot_meta(results):
    """What the boot left, and the exit status for a check that cannot run (None if it can)."""
    path = os.path.join(results, "meta.json")
    meta = json.load(open(path)) if os.path.exists(path) else {}
    if meta.get("skipped"):
        print(f"not run: QEMU cannot run here: {meta['skipped']}")
        return meta, 1 if os.environ.get("CI") == "true" else 77
    return meta, None


def check(a):
    meta, status = boot_meta(a.results)
    if status is not None:
        return status
    if meta.get("status") != "ok":
        print("not run: the VM did not boot (see the e2e-linux.boot test's output)")
        return 1
    scn = LinuxScenario(a.scenario)
    if "commands" in scn.blocks:
        ok = check_commands(scn, a.results)
    elif "random" in scn.settings:
        ok, log = check_run(scn, scn.name, scn.args, a.results, nets=True)
        ok = check_random(scn, log, meta["seeds"][scn.name]) and ok if log else False
    else:
        ok, logs = True, []
        for tag, args in scn.runs():
            run_ok, log = check_run(scn, tag, args, a.results)
            ok &= run_ok
            logs.append(log)
        if len(logs) == 2 and all(logs):
            ok &= ratio_check(scn, *logs)
    print(f"{scn.name}: {'passed' if ok else 'FAILED'}")
    return 0 if ok else 1


# --- The package ----------------------------------------------------------------------------

def check_package(a):
    _, status = boot_meta(a.results)
    if status is not None:
        return status
    path = os.path.join(a.results, "package.log")
    if not os.path.exists(path):
        print("no package log: was the .deb built? (cmake --build --preset linux --target package)")
        return 1
    out, exits = {}, {}
    for line in open(path):
        key, _, text = line.rstrip("\n").partition(" ")
        if key.endswith("-exit"):
            exits[key[:-5]] = text
        else:
            out.setdefault(key, []).append(text)
    depends = {d.split("(")[0].split(":")[0].strip() for d in " ".join(out.get("depends-out", [])).replace("|", ",").split(",")}
    libs = [line.split() for line in out.get("lib", [])]
    files = out.get("files-out", [])
    rules = [f for f in files if re.search(r"/rules\.d/[^/]+\.rules$", f)]
    rule_text = " ".join(out.get("rule", []))
    expected = ["dpkg -i: exit 0", "status: installed 0.3.0", "gearvane --version: exit 0, names 0.3.0",
                "man gearvane: exit 0, names gearvane", "every library's package is in Depends",
                "a udev rule that gives /dev/uinput to the seat, before 73-seat-late.rules",
                "a systemd user unit gearvane.service", "the man page gearvane.1"]
    version = " ".join(out.get("version-out", []))
    man = " ".join(out.get("man-out", []))
    missing = [f"{lib} ({pkg})" for lib, pkg in (l[:2] for l in libs if len(l) >= 2) if pkg not in depends]
    missing += [f"{l[0]} (no package)" for l in libs if len(l) < 2]
    rule_ok = [r for r in rules if os.path.basename(r) < "73-seat-late.rules"]
    actual = [
        f"dpkg -i: exit {exits.get('dpkg')}",
        f"status: {' '.join(out.get('status-out', ['(none)']))}",
        f"gearvane --version: exit {exits.get('version')}, "
        + ("names 0.3.0" if "0.3.0" in version else f"says {version!r}"),
        f"man gearvane: exit {exits.get('man')}, " + ("names gearvane" if "gearvane" in man.lower() else f"says {man[:80]!r}"),
        "every library's package is in Depends" if libs and not missing
        else f"not in Depends ({' '.join(sorted(depends))}): {', '.join(missing) or 'no libraries found'}",
        "a udev rule that gives /dev/uinput to the seat, before 73-seat-late.rules"
        if rule_ok and "uinput" in rule_text and "uaccess" in rule_text else f"udev rules: {rules} {rule_text!r}",
        "a systemd user unit gearvane.service" if any(re.search(r"/systemd/user/gearvane\.service$", f) for f in files)
        else "no systemd user unit gearvane.service",
        "the man page gearvane.1" if any(re.search(r"/man1/gearvane\.1(\.gz)?$", f) for f in files) else "no man page",
    ]
    ok = shared.compare("the package in the peer rootfs", expected, actual)
    if not ok:
        print("dpkg said:\n  " + "\n  ".join(out.get("dpkg-out", [])[-15:]))
    print(f"package: {'passed' if ok else 'FAILED'}")
    return 0 if ok else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    b = sub.add_parser("boot")
    b.add_argument("--program", required=True)
    b.add_argument("--lever", required=True)
    b.add_argument("--floor", required=True)
    b.add_argument("--deb")
    b.add_argument("--results", required=True)
    b.add_argument("--cache", default=os.path.join(HERE, "..", "..", "..", "build", "linux", "vm"))
    b.add_argument("--scenarios", default=os.path.join(HERE, "scenarios"))
    b.add_argument("--timeout", type=int, default=600, help="seconds for the whole boot")
    b.add_argument("--only", nargs="*", help="these scenarios only")
    c = sub.add_parser("check")
    c.add_argument("scenario")
    c.add_argument("--results", required=True)
    p = sub.add_parser("package")
    p.add_argument("--results", required=True)
    a = parser.parse_args()
    try:
        return {"boot": boot, "check": check, "package": check_package}[a.command](a)
    except shared.ScenarioError as e:
        print(e)
        return 1


if __name__ == "__main__":
    sys.exit(main())
