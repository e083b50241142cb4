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
                         standard error, or if EXIT is 0 in its standard output or error (any case)
or a single run:
  args: --simulate       its command line (shell words)
  stdin: "7\\n"           its standard input (default: empty)
  stdin file: NAME       its standard input from NAME, in the folder (or a path, /dev/zero)
  stdin: closed          no standard input at all (<&-)
  stderr pipe: stalled   its standard error a 4 KiB pipe that nobody reads; `closed`: a pipe
                         whose reader has gone. `stdout pipe: closed` likewise
  signal: TERM after MS  the signal MS ms after the start; the input stays open till the end.
                         Several: "TSTP after 200, CONT after 400, ...": after SIGTSTP it must
                         be stopped within 100 ms. "hangup after MS": standard input and error
                         are its controlling terminal, closed then. With `ends within: MS` it
                         must have ended that long after the last one
  reload: after MS "..." the default config file rewritten and SIGHUP sent MS ms after the
                         start, to a gearvane without a terminal, as a service; then the
                         input ends
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
import pty
import re
import shlex
import signal
import subprocess
import sys
import tempfile
import termios
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import scenario as shared  # noqa: E402

SETTINGS = {"without", "stderr pipe", "stdout pipe", "fifo", "config", "args", "stdin", "stdin file",
            "signal", "ends within", "exit", "slack", "reload"}
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
        if stdin is None or {"stdin file", "signal", "stderr pipe", "stdout pipe", "reload"} & set(
                scn.settings):
            status, out, err = run_open(program, scn, args, stdin, folder, env)
        else:
            try:
                p = subprocess.run([program] + args, cwd=folder, env=env, input=stdin, capture_output=True,
                                   timeout=TIMEOUT)
                status, out, err = str(p.returncode), p.stdout, p.stderr
            except subprocess.TimeoutExpired as e:
                status, out, err = "killed", e.stdout or b"", e.stderr or b""
    return status, out.decode(errors="replace"), err.decode(errors="replace"), folder


def pipe(how):
    """A pipe for standard output or error, as `how` asks: (the program's end, ours or None)."""
    if not how:
        return None, None
    r, w = os.pipe()
    if how == "closed":
        os.close(r)
        return w, None
    fcntl.fcntl(w, 1031, 4096)  # F_SETPIPE_SZ: stalled
    return w, r


def run_open(program, scn, args, stdin, folder, env):
    """A run whose input is a file, a terminal, or a pipe that stays open till the end; it
    may get signals."""
    events = sorted((int(ms), name) for name, ms in re.findall(r"(\w+) after (\d+)", scn.settings.get("signal", "")))
    hangup = any(name == "hangup" for _, name in events)
    reload = re.fullmatch(r'after (\d+) (".*")', scn.settings.get("reload", ""))
    source = scn.settings.get("stdin file")
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            open(os.path.join(folder, source) if source else os.devnull, "rb") as given:
        errors, err_ours = pipe(scn.settings.get("stderr pipe"))
        output, _ = pipe(scn.settings.get("stdout pipe"))
        term, tty = pty.openpty() if hangup else (None, None)
        p = subprocess.Popen([program] + args, cwd=folder, env=env,
                             stdin=tty or (given if source or stdin is None else subprocess.PIPE),
                             stdout=output or out, stderr=tty or errors or err,
                             start_new_session=bool(hangup or reload),
                             # A job of its own, as a shell starts it: in a process group that
                             # no shell could continue, the kernel ignores a SIGTSTP.
                             process_group=0 if events and not hangup else None,
                             preexec_fn=(lambda: os.close(0)) if stdin is None else
                             (lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0)) if hangup else None)
        for fd in (output, errors, tty):
            if fd is not None:
                os.close(fd)
        if hangup:
            os.write(term, stdin)
        elif p.stdin:
            p.stdin.write(stdin)
            p.stdin.flush()
            if not (events or reload):
                p.stdin.close()
        status = None
        if reload:
            try:
                p.wait(int(reload[1]) / 1000)
            except subprocess.TimeoutExpired:
                write_config(folder, ast.literal_eval(reload[2]).encode("latin-1"))
                p.send_signal(signal.SIGHUP)
                p.stdin.close()
        start, last = time.monotonic(), None
        for ms, last in events:
            try:
                p.wait(max(0, start + ms / 1000 - time.monotonic()))
                break
            except subprocess.TimeoutExpired:
                if last == "hangup":
                    os.close(term)
                    term = None
                else:
                    p.send_signal(getattr(signal, "SIG" + last))
            if last == "TSTP":
                time.sleep(0.1)
                if open(f"/proc/{p.pid}/stat").read().rpartition(")")[2].split()[0] != "T":
                    status = "not stopped 100 ms after SIGTSTP"
        within = scn.number("ends within", TIMEOUT * 1000) if last else TIMEOUT * 1000
        try:
            p.wait(within / 1000)
        except subprocess.TimeoutExpired:
            status = status or (f"not ended {within} ms after {last if last == 'hangup' else 'SIG' + last}"
                                if last else "killed")
        if p.returncode is None:
            p.kill()
            p.wait()
        if p.stdin:
            p.stdin.close()
        for fd in (err_ours, term):
            if fd is not None:
                os.close(fd)
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
            said = out + err if status == "0" else err
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
    closed = scn.settings.get("stdin") == "closed"
    status, out, err, folder = run(program, scn, shlex.split(scn.settings.get("args", "")),
                                   None if closed else scn.string("stdin", b""))
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
