"""A scripted game for gearvane --simulate: it reads the keys that gearvane prints, shifts
by its own rules, and sends its gear back at 60 Hz in the telemetry of one game.

The rules: a key-down starts a shift, unless the game is shifting already (the tap is
ignored) or the tap is dropped (a share of the rest, at random, seeded). The new gear counts,
and is reported, when the shift time has passed. A sequential box: reverse, neutral, then
1st to the car's top gear; a tap beyond either end does nothing.
"""
import os
import random
import re
import selectors
import socket
import struct
import subprocess
import time

PACKET_HZ = 60
CHANGE = re.compile(r"^(\S+) -> (\S+): (\d+) x \S+(?: \(the game reports (\S+)\))?$")
STOPPED = re.compile(r"^the change to \S+ stopped: the game stays in (\S+)$")


def gear_words(gear):
    """The gear as gearvane's status lines put it: reverse, neutral, 1st, 2nd."""
    if gear < 1:
        return "reverse" if gear < 0 else "neutral"
    return f"{gear}{ {1: 'st', 2: 'nd', 3: 'rd'}.get(gear, 'th') }"


def packets(fmt, gear, frame):
    """One frame's packets of `fmt` reporting `gear` (-1 reverse, 0 neutral)."""
    if fmt == "forza":  # Forza Horizon 4/5, Dash: IsRaceOn, gear 0 reverse, 11 neutral
        p = bytearray(324)
        struct.pack_into("<i", p, 0, 1)
        p[319] = 0 if gear < 0 else 11 if gear == 0 else gear
        return [bytes(p)]
    if fmt == "f1":  # F1 24: car telemetry of the player (car 3), and a packet without a gear
        header = struct.pack("<HBBBBBQfIIBB", 2024, 24, 1, 0, 1, 6, 7, frame / 60, frame, frame, 3, 255)
        p = bytearray(header + bytes(22 * 60 + 3))
        struct.pack_into("<b", p, 29 + 3 * 60 + 15, gear)
        lap = bytearray(p[:29] + bytes(1256))
        lap[6] = 2  # lap data
        return [bytes(p), bytes(lap)]
    if fmt == "codemasters":  # extradata=3: 66 floats, the gear @33, -1 reverse; 6 gears @65
        values = [0.0] * 66
        values[33], values[65] = float(gear), 6.0
        return [struct.pack("<66f", *values)]
    if fmt == "outgauge":  # 96 bytes: gear 0 reverse, 1 neutral, 2 first
        p = bytearray(96)
        struct.pack_into("<I4sHB", p, 0, frame * 16, b"XFG\0", 0, gear + 1)
        return [bytes(p)]
    raise ValueError(fmt)


class Game:
    def __init__(self, program, fmt=None, drop=0.25, shift_ms=120, seed=1, top=6, hold_ms=40, gap_ms=40,
                 wait_ms=500, before=()):
        self.rng, self.drop, self.shift, self.top, self.fmt = random.Random(seed), drop, shift_ms / 1000, top, fmt
        self.gear, self.next, self.done_at, self.changed_at = 0, None, 0.0, 0.0
        self.down = False
        self.keys = []  # (our time, key, edge, gearvane's time in ms)
        self.lines = []  # (our time, status line)
        self.taken = self.ignored = self.dropped = 0
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.start([*before, program, "--simulate", "--max-gear", str(top), "--hold-ms", str(hold_ms), "--gap-ms",
                    str(gap_ms), "--telemetry-wait-ms", str(wait_ms)])
        self.frame, self.next_frame = 0, time.monotonic()

    def start(self, args):
        """Starts gearvane; with telemetry on a free port, and on another if a program took
        that one between the look and gearvane's bind."""
        for _ in range(5):
            if self.fmt:
                probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                probe.bind(("127.0.0.1", 0))
                self.port = probe.getsockname()[1]
                probe.close()
            more = ["--telemetry", str(self.port)] if self.fmt else []
            self.p = subprocess.Popen(args + more, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE)
            self.sel, self.partial = selectors.DefaultSelector(), {}
            for pipe in (self.p.stdout, self.p.stderr):
                os.set_blocking(pipe.fileno(), False)
                self.sel.register(pipe, selectors.EVENT_READ)
                self.partial[pipe] = b""
            while self.fmt and not self.lines and len(self.sel.get_map()) == 2:
                for key, _ in self.sel.select(5):
                    self.read(key.fileobj, time.monotonic())
            if not self.fmt or self.lines[0][1].startswith("telemetry: waiting"):
                return
            self.p.wait()
            self.lines.clear()
        raise RuntimeError("gearvane cannot listen for telemetry")

    def shifting(self, now):
        if self.next is not None and now >= self.done_at:
            self.gear, self.next, self.changed_at = self.next, None, self.done_at
        return self.next is not None

    def key_down(self, direction, now):
        if self.shifting(now):
            self.ignored += 1
        elif self.rng.random() < self.drop:
            self.dropped += 1
        elif -1 <= self.gear + direction <= self.top:
            self.taken += 1
            self.next, self.done_at = self.gear + direction, now + self.shift
            self.shifting(now)

    def pump(self, until):
        """Reads gearvane's lines, shifts and sends packets until `until` (time.monotonic)."""
        while True:
            now = time.monotonic()
            self.shifting(now)
            if self.fmt and now >= self.next_frame:
                for p in packets(self.fmt, self.gear, self.frame):
                    self.sock.sendto(p, ("127.0.0.1", self.port))
                self.frame += 1
                self.next_frame += 1 / PACKET_HZ
                continue
            if now >= until:
                return
            soon = min(until, self.next_frame if self.fmt else until, self.done_at if self.next is not None else until)
            for key, _ in self.sel.select(max(0.0, soon - now)):
                self.read(key.fileobj, time.monotonic())

    def read(self, pipe, now):
        data = os.read(pipe.fileno(), 65536)
        if not data:
            self.sel.unregister(pipe)
            return
        *whole, self.partial[pipe] = (self.partial[pipe] + data).split(b"\n")
        for line in (w.decode() for w in whole):
            if pipe is self.p.stderr:
                self.lines.append((now, line))
                continue
            ms, key, edge = line.split()
            self.keys.append((now, key, edge, int(ms)))
            self.down = edge == "down"
            if self.down:
                self.key_down(1 if key == "KEY_PAGEUP" else -1, now)

    def move(self, position, limit=5.0):
        """Moves the lever through neutral to `position` (r, 1..7) and waits until the change is over.
        Returns (outcome, taps, seconds to the game's final gear, the change line's match):
        outcome "step" (the game is in the lever's gear, capped), "stopped" (gearvane said it
        stopped, and the game is in the gear it named) or what went wrong."""
        target = min(-1 if position == "r" else int(position), self.top)
        start, keys, lines = time.monotonic(), len(self.keys), len(self.lines)
        self.p.stdin.write(f"n\n{position}\n".encode())
        self.p.stdin.flush()
        announced, settle = None, 0.02 if self.fmt else 0.05
        while True:
            self.pump(time.monotonic() + 0.005)
            now = time.monotonic()
            said = [line for _, line in self.lines[lines:]]
            announced = announced or next(filter(None, map(CHANGE.match, said)), None)
            stopped = next(filter(None, map(STOPPED.match, said)), None)
            ups = sum(edge == "up" for _, _, edge, _ in self.keys[keys:])
            last = max([start] + [t for t, _, _, _ in self.keys[keys:]])
            quiet = not self.down and not self.shifting(now) and now - last >= settle
            if self.fmt:  # and a packet has told gearvane the game's last gear
                heard = now - self.changed_at >= 1 / PACKET_HZ + 0.01
                over = quiet and heard and (self.gear == target or stopped)
            else:  # the count's taps all went, or none was needed
                over = quiet and (ups == int(announced[3]) if announced else now - start >= settle)
            if over or now - start > limit:
                break
        taps = sum(edge == "down" for _, _, edge, _ in self.keys[keys:])
        if self.gear == target:
            outcome = "step"
        elif stopped and stopped[1] == gear_words(self.gear):
            outcome = "stopped"
        else:
            outcome = f"in {gear_words(self.gear)}, not {gear_words(target)}" + (" (no end)" if not over else "")
        return outcome, taps, max(self.changed_at - start, 0.0), announced

    def close(self):
        """Ends gearvane's input and waits for it; returns its exit status."""
        self.p.stdin.close()
        deadline = time.monotonic() + 5
        while self.sel.get_map() and time.monotonic() < deadline:
            self.pump(time.monotonic() + 0.05)
        try:
            return self.p.wait(max(0.1, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            self.p.kill()
            return self.p.wait()
