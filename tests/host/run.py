#!/usr/bin/env python3
"""Host-level tests of the real gearvane for Linux: no VM, no lever, no /dev/uinput.

  run.py --program PATH CASE.scn

Each run starts in a fresh folder, which is also its HOME, with $XDG_CONFIG_HOME inside.
A case file holds, in the scenario format of tests/e2e/scenario.py:
  file NAME: "..."       a file in the folder; "..." * N repeats the text N times, and +
                         joins such parts
  fifo: NAME             a FIFO in the folder
  config: "..."          the default config file, $XDG_CONFIG_HOME/gearvane/gearvane.conf
  without: PATH          the case is skipped (77) on a host that has PATH
  commands:              EXIT ARGS [~ TEXT]: one run each, with empty input; TEXT is in its
                         standard output if EXIT is 0, else in its standard error (any case)
or a single run:
  args: --simulate       its command line (shell words)
  stdin: "7\\n"           its standard input (default: empty)
  stdin file: NAME       its standard input from NAME, in the folder (or a path, /dev/zero)
  stderr pipe: stalled   its standard error a 4 KiB pipe that nobody reads
  signal: TERM after MS  the signal MS ms after the start; the input stays open till the end.
                         With `ends within: MS` it must have ended that long after the signal
  reload: after MS "..." the default config file rewritten and SIGHUP sent MS ms after the
                         start; then the input ends
  exit: N                its exit status (default 0)
  stdout: / stderr:      its output lines, exactly; {dir} stands for the folder. With
                         `slack: MS` the time between two lines (their leading numbers, and
                         the first line's from 0) may be longer than expected by up to MS,
                         as a busy machine wakes the program late, but never shorter: a key
                         is held, and a gap kept, for the full time
A run that takes over 10 s is killed, and says so.
"""
import argparse
import ast
import fcntl
import os
import re
import shlex
import signal
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import scenario as shared  # noqa: E402

SETTINGS = {"without", "stderr pipe", "fifo", "config", "args", "stdin", "stdin file", "signal", "ends within", "exit",
            "slack", "reload"}
SECTIONS = {"commands", "stdout", "stderr"}
TIMEOUT = 10


def prepare(scn, folder):
    for key, value in scn.settings.items():
        if key.startswith("file "):
            text = ""
            for literal, times in re.findall(r'("(?:[^"\\]|\\.)*")(?:\s*\*\s*(\d+))?', value):
                text += ast.literal_eval(literal) * int(times or 1)
            with open(os.path.join(folder, key[5:]), "wb") as f:
                f.write(text.encode("latin-1"))
    if "fifo" in scn.settings:
        os.mkfifo(os.path.join(folder, scn.settings["fifo"]))
    if "config" in scn.settings:
        write_config(folder, scn.string("config"))


def write_config(folder, text):
    os.makedirs(os.path.join(folder, "xdg", "gearvane"), exist_ok=True)
    with open(os.path.join(folder, "xdg", "gearvane", "gearvane.conf"), "wb") as f:
        f.write(text)


def run(program, scn, args, stdin=b""):
    """Exit status ("killed" after the timeout), standard output and error, and the folder."""
    with tempfile.TemporaryDirectory(prefix="gearvane-host-") as folder:
        prepare(scn, folder)
        # A control socket of its own, apart from any gearvane that runs here.
        env = dict(os.environ, HOME=folder, XDG_CONFIG_HOME=os.path.join(folder, "xdg"),
                   XDG_RUNTIME_DIR=os.path.join(folder, "run"))
        os.mkdir(env["XDG_RUNTIME_DIR"], 0o700)
        if {"stdin file", "signal", "stderr pipe", "reload"} & set(scn.settings):
            status, out, err = run_open(program, scn, args, stdin, folder, env)
        else:
            try:
                p = subprocess.run([program] + args, cwd=folder, env=env, input=stdin, capture_output=True,
                                   timeout=TIMEOUT)
                status, out, err = str(p.returncode), p.stdout, p.stderr
            except subprocess.TimeoutExpired as e:
                status, out, err = "killed", e.stdout or b"", e.stderr or b""
    return status, out.decode(errors="replace"), err.decode(errors="replace"), folder


def run_open(program, scn, args, stdin, folder, env):
    """A run whose input is a file, or a pipe that stays open till the end; it may get a signal."""
    sig = re.fullmatch(r"(\w+) after (\d+)", scn.settings.get("signal", ""))
    source = scn.settings.get("stdin file")
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            open(os.path.join(folder, source) if source else os.devnull, "rb") as given:
        stalled = None
        if "stderr pipe" in scn.settings:
            stalled = os.pipe()
            fcntl.fcntl(stalled[1], 1031, 4096)  # F_SETPIPE_SZ
        p = subprocess.Popen([program] + args, cwd=folder, env=env, stdin=given if source else subprocess.PIPE,
                             stdout=out, stderr=stalled[1] if stalled else err)
        if stalled:
            os.close(stalled[1])
        if not source:
            p.stdin.write(stdin)
            p.stdin.flush()
        status = None
        reload = re.fullmatch(r'after (\d+) (".*")', scn.settings.get("reload", ""))
        if reload:
            try:
                p.wait(int(reload[1]) / 1000)
            except subprocess.TimeoutExpired:
                write_config(folder, ast.literal_eval(reload[2]).encode("latin-1"))
                p.send_signal(signal.SIGHUP)
                p.stdin.close()
        try:
            p.wait(int(sig[2]) / 1000 if sig else TIMEOUT)
        except subprocess.TimeoutExpired:
            status = "killed"
            if sig:
                p.send_signal(getattr(signal, "SIG" + sig[1]))
                within = scn.number("ends within", TIMEOUT * 1000)
                try:
                    p.wait(within / 1000)
                    status = None
                except subprocess.TimeoutExpired:
                    status = f"not ended {within} ms after SIG{sig[1]}"
        if p.returncode is None:
            p.kill()
            p.wait()
        if p.stdin:
            p.stdin.close()
        if stalled:
            os.close(stalled[0])
        out.seek(0)
        err.seek(0)
        return status or str(p.returncode), out.read(), err.read()


def check_commands(program, scn):
    expected, actual = [], []
    for line in scn.blocks["commands"]:
        command, _, text = line.partition(" ~ ")
        words = shlex.split(command)
        status, out, err, _ = run(program, scn, words[1:])
        rendered = f"{status} {' '.join(command.split()[1:])}"
        if text:
            said = out if status == "0" else err
            rendered += f" ~ {text}" if text.lower() in said.lower() else f" ~ ? {(said or '(nothing)').strip()}"
        expected.append(line)
        actual.append(rendered)
    return shared.compare(f"{scn.name}: exit codes and messages", expected, actual)


def within_slack(expected, actual, slack):
    """The actual lines, where each whose time since the line before is as long as expected,
    or up to slack longer, and whose text is the same, replaced by the expected line."""
    out, before = [], (0, 0)
    for e, a in zip(expected, actual):
        e_time, _, e_text = e.partition(" ")
        a_time, _, a_text = a.partition(" ")
        if not (slack and e_time.isdigit() and a_time.isdigit()):
            out.append(a)
            continue
        late = (int(a_time) - before[1]) - (int(e_time) - before[0])
        out.append(e if e_text == a_text and 0 <= late <= slack else a)
        before = (int(e_time), int(a_time))
    return out + actual[len(expected):]


def check_run(program, scn):
    status, out, err, folder = run(program, scn, shlex.split(scn.settings.get("args", "")),
                                   scn.string("stdin", b""))
    ok = shared.compare(f"{scn.name}: exit status", [scn.settings.get("exit", "0")], [status])
    slack = scn.number("slack", 0)
    for name, said in (("stdout", out), ("stderr", err)):
        if name not in scn.blocks:
            continue
        expected = [line.replace("{dir}", folder) for line in scn.blocks[name]]
        lines = [shared.squeeze(line) for line in said.splitlines()]
        lines = within_slack(expected, lines, slack)
        ok = shared.compare(f"{scn.name}: {name}", expected, lines) and ok
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("case")
    a = parser.parse_args()
    program, scn = os.path.abspath(a.program), shared.Scenario(a.case)
    known = SETTINGS | {k for k in scn.settings if k.startswith("file ")}
    scn.check_known(known, SECTIONS)
    if os.path.exists(scn.settings.get("without", "/nonexistent")):
        print(f"skipped: this host has {scn.settings['without']}")
        return 77
    ok = check_commands(program, scn) if "commands" in scn.blocks else check_run(program, scn)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
