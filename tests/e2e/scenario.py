"""Scenario files of the end-to-end tests, shared by the Wine suite and the Linux suite:
the file format, the expected-against-actual comparison, and the statistics of the reports.

A scenario file holds, after '#' comments (a line starting with '#', or ' #' and the rest of
a line):
  key: value            a setting, such as  exit: 1  or  shift.ini: "50\\n20\\n"
  section:              a section; its lines follow, indented, such as
    20 PgUp tap x2      (runs of blanks outside quotes count as one, so columns may align)
Which settings and sections a suite understands is up to its runner; it refuses the others.
"""
import ast
import difflib
import os


class ScenarioError(Exception):
    pass


class Scenario:
    def __init__(self, path):
        self.path = path
        self.name = os.path.splitext(os.path.basename(path))[0]
        self.settings = {}
        self.blocks = {}
        section = None
        with open(path) as f:
            for number, raw in enumerate(f, 1):
                line = "" if raw.lstrip().startswith("#") else strip_comment(raw).rstrip()
                if not line.strip():
                    continue
                if not line[0].isspace():
                    key, colon, value = line.partition(":")
                    key, value = key.strip(), value.strip()
                    if not colon:
                        raise ScenarioError(f"{path}:{number}: neither a setting nor a section: {line}")
                    section = None
                    if value:
                        self.settings[key] = value
                    else:
                        section = key
                        self.blocks.setdefault(key, [])
                elif section:
                    self.blocks[section].append(squeeze(line))
                else:
                    raise ScenarioError(f"{path}:{number}: indented line outside a section")

    def check_known(self, settings, sections):
        """Refuses settings and sections that this suite does not understand."""
        unknown = sorted(set(self.settings) - set(settings)) + sorted(set(self.blocks) - set(sections))
        if unknown:
            raise ScenarioError(f"{self.path}: not understood by this suite: {', '.join(unknown)}")

    def string(self, key, default=None):
        """A setting written as a Python string literal, as bytes; 'none' gives None."""
        value = self.settings.get(key)
        if value is None:
            return default
        if value == "none":
            return None
        return ast.literal_eval(value).encode("latin-1")

    def number(self, key, default=None):
        value = self.settings.get(key)
        return default if value is None else int(value, 0)


def strip_comment(line):
    """The line without a ' #' comment outside quotes."""
    quoted = False
    for i, ch in enumerate(line):
        if ch == '"' and (i == 0 or line[i - 1] != "\\"):
            quoted = not quoted
        if ch == "#" and not quoted and i > 0 and line[i - 1].isspace():
            return line[:i]
    return line


def squeeze(line):
    """The line with runs of blanks outside quotes made single."""
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


def expand_taps(lines, render):
    """`20 PgUp tap x2` stands for two down/up pairs of that step; other lines stay as
    written. render(step, key, edge) gives the line of one key event."""
    out = []
    for line in lines:
        words = line.split()
        if len(words) >= 3 and words[2] == "tap":
            count = int(words[3][1:]) if len(words) > 3 else 1
            for _ in range(count):
                out.append(render(words[0], words[1], "down"))
                out.append(render(words[0], words[1], "up"))
        else:
            out.append(line)
    return out


def compare(title, expected, actual):
    """True when they are equal; otherwise prints an Expected/Actual diff."""
    if expected == actual:
        return True
    print(f"--- {title}: Expected / Actual")
    for line in difflib.unified_diff(expected, actual, "Expected", "Actual", lineterm="", n=100):
        print(line)
    return False


def percentile(values, q):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(q * (len(ordered) - 1))))]


def median(values):
    ordered = sorted(values)
    n = len(ordered)
    return ordered[n // 2] if n % 2 else (ordered[n // 2 - 1] + ordered[n // 2]) / 2


def step_at(markers, t):
    """The step during which an event at time t happened, from (time, step) markers in
    time order; before the first marker, the first step."""
    found = markers[0][1] if markers else 0
    for mt, step in markers:
        if mt > t:
            break
        found = step
    return found


def holds_and_gaps(events):
    """Key holds (a down to its up) and gaps (an up to the next down in the same step), from
    (step, time, down) key events in time order."""
    holds, gaps, down, up = [], [], None, None
    for step, t, is_down in events:
        if is_down:
            if up and up[0] == step:
                gaps.append(t - up[1])
            down, up = (step, t), None
        elif down:
            holds.append(t - down[1])
            down, up = None, (step, t)
    return holds, gaps

