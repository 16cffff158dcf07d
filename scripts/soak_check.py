#!/usr/bin/env python3
"""Drives scene-sampler like its companion for a fixed time and checks what it
writes. Started by scripts/soak; standard library only.

    soak_check.py --binary PATH --scene FILE --seconds N [--mmap-threshold BYTES]

The driver selects the display once, then every second asks for a still
("capture-snapshot <n>") and sends a rotating mix of the other commands
(pause/resume, rate changes, anchor, sampler toggles, lines that must be
ignored); it selects again whenever the selection has ended. Checked:

- every line is one UTF-8 JSON object: a snapshot line (27 keys of the right
  kinds, objects with sorted keys), the literal "unavailable" line (only while
  the scene says the window list cannot be read), or a still reply (7 success
  keys with a decodable JPEG, or the 3 error keys), answering a request that
  was sent and is still open, within 3 s; malformed requests get no reply;
- no pass line while paused, and no tick more than 100 ms late: each line is
  due one period (the rate in force) after the previous one, or after the
  rate / resume command that came in between. A late tick that the time the
  sampler's main thread and this checker's reader spent waiting for a CPU
  (from /proc schedstat) explains is reported as machine load, not a fault;
- resident memory (VmRSS, sampled every 5 s) grows by less than 2 MiB from
  the sample after the first minute (after 10 s for runs under a minute):
  once the run lasts two scene periods past that sample, the lowest sample
  of the first period is compared with the lowest of the last (whole frames
  come and go with the scene's phase, and pools fill during the first ones;
  a leak lifts the floor). A shorter run reports its figures (baseline,
  last, median, min, max, peak) and leaves growth unjudged; a scene without
  a period compares the last sample with the baseline;
- the process exits with status 0 on "quit" and writes nothing to stderr.

Exit status 0 when every check passed, 1 otherwise.
"""
import argparse
import base64
import binascii
import json
import os
import queue
import re
import signal
import subprocess
import sys
import threading
import time

LATE_LIMIT = 0.100          # s past due before a tick counts as late
RSS_LIMIT_KIB = 2048
RSS_EVERY = 5.0             # s between memory samples
REPLY_LIMIT = 3.0           # s from request to reply (2 s deadline and the encoding)
DEFAULT_RATE_MS = 33
EDGE = 0.3                  # s of slack around the scene's window-list changes
UNAVAILABLE_LINE = b'{"status":"unavailable","windows":[]}\n'
STILL_SIZE = (3771, 2121)   # stream pixels of a 3840 x 2160 display (8,000,000-pixel cap)
ENDED_STATES = {"selection-required", "failed", "stopped", "rejected", "source-changed", "unsupported-selection"}
SESSION_STATES = ENDED_STATES | {"selecting", "starting", "ready", "interrupted", "stale"}

# ---------------------------------------------------------------------------
# Shapes. A kind is a Python type (bool kept apart from int), a tuple of kinds,
# a dict of key -> kind (exactly those keys), or a ("list", kind).
INT = "int"
UINT = "uint"
FLOAT = "float"
STR = "str"
BOOL = "bool"
NULL = "null"
LIST = "list"
ANY_OBJECT = "object"

RECT = (NULL, {"x": FLOAT, "y": FLOAT, "width": FLOAT, "height": FLOAT})
EVENT = {"at": STR, "uptime": FLOAT, "event": STR, "state": STR, "generation": UINT, "consent": UINT,
         "starts": UINT, "frames": UINT, "errorCode": (INT, NULL)}
CAPTURE_METRICS = {
    "directPixelRequests": INT, "frames": UINT, "starts": UINT, "consents": UINT, "generation": UINT,
    "state": STR, "fresh": BOOL, "frameAgeMS": (FLOAT, NULL), "activeStreams": INT, "transportRetiring": BOOL,
    "streamCreations": UINT, "globalMetadataRequests": INT, "secondaryStreams": INT, "recoveryAttempts": INT,
    "recoveries": INT, "displaySleeping": BOOL, "transportReplacements": INT, "startCompletions": INT,
    "rawBuffers": UINT, "ageRejectedBuffers": UINT, "bufferStatuses": ANY_OBJECT, "recoveryReason": (STR, NULL),
    "events": (LIST, EVENT), "sourceUnavailable": BOOL, "selectedDisplay": (UINT, NULL), "selectedWidth": FLOAT,
    "selectedHeight": FLOAT, "filterRect": RECT, "frameContentRect": RECT, "frameScreenRect": RECT,
    "frameScale": FLOAT, "frameContentScale": FLOAT, "frameCopyFailures": UINT, "errorCode": (INT, NULL),
}
WINDOW = {"id": STR, "pid": INT, "layer": INT, "alpha": FLOAT, "x": FLOAT, "y": FLOAT, "width": FLOAT,
          "height": FLOAT}
CONTEXT = {"revision": INT, "spaceRevision": INT, "frontPID": INT, "focusedWindowId": (STR, NULL),
           "transitioning": BOOL, "spaceTransitioning": BOOL, "pendingSupportOwners": (LIST, STR),
           "leftButtonDown": BOOL}
SUPPORT_METRICS = {
    "captureMS": FLOAT, "analysisMS": FLOAT, "topCaptureMS": FLOAT, "topTargets": INT, "topStatus": STR,
    "selectedContourMS": FLOAT, "selectedContourPixels": INT, "selectedContourRegions": INT,
    "selectedContourCandidates": INT, "selectedContourOwners": INT, "selectedContourProofs": INT,
    "selectedRawRuns": INT, "selectedDockRawRuns": INT, "selectedDockTargets": INT, "grayPixels": INT,
    "grayRegions": INT, "candidates": INT, "dockReadStatus": STR, "dockReadAgeMS": FLOAT, "dockReadMS": FLOAT,
    "dockFailures": INT,
}
VISUAL_METRICS = {"analysisMS": FLOAT, "captureMS": FLOAT, "status": STR, "edges": INT, "platforms": INT}
SNAPSHOT = {
    "accessibility": STR, "captureAccess": STR, "captureConsentID": UINT, "captureMetrics": CAPTURE_METRICS,
    "captureMode": STR, "capturePauseReason": STR, "captureSelectedDisplay": (UINT, NULL), "captureSession": STR,
    "commandKey": BOOL, "context": CONTEXT, "controls": (LIST, ANY_OBJECT), "dockStatus": STR,
    "docks": (LIST, ANY_OBJECT), "inputRevision": STR, "inputs": (LIST, ANY_OBJECT),
    "notificationBackdropsIgnored": INT, "sessionSafe": BOOL, "status": STR, "supportMetrics": SUPPORT_METRICS,
    "supportProofs": (LIST, ANY_OBJECT), "supportVerification": STR, "vision": STR, "visualAgeMS": FLOAT,
    "visualMetrics": VISUAL_METRICS, "visualTimestamp": FLOAT, "visuals": (LIST, ANY_OBJECT), "windows": (LIST, WINDOW),
}
assert len(SNAPSHOT) == 27 and len(CAPTURE_METRICS) == 34
SUCCESS_REPLY = {"kind": STR, "requestId": STR, "displayID": UINT, "image": STR, "generation": UINT,
                 "consentID": UINT, "observedAtMS": FLOAT}
ERROR_REPLY = {"kind": STR, "requestId": STR, "error": STR}


def shape_errors(value, kind, path):
    """Yields one message per place where `value` is not of `kind`."""
    if isinstance(kind, tuple) and kind and kind[0] == LIST:
        if not isinstance(value, list):
            yield f"{path}: expected an array, got {type(value).__name__}"
            return
        for i, item in enumerate(value):
            yield from shape_errors(item, kind[1], f"{path}[{i}]")
        return
    if isinstance(kind, tuple):
        if not any(not list(shape_errors(value, k, path)) for k in kind):
            yield f"{path}: {json.dumps(value)[:60]} is none of {kind}"
        return
    if isinstance(kind, dict):
        if not isinstance(value, dict):
            yield f"{path}: expected an object, got {type(value).__name__}"
            return
        missing, extra = kind.keys() - value.keys(), value.keys() - kind.keys()
        if missing or extra:
            yield f"{path}: missing keys {sorted(missing)}, unexpected keys {sorted(extra)}"
        for key in kind.keys() & value.keys():
            yield from shape_errors(value[key], kind[key], f"{path}.{key}")
        return
    ok = {
        INT: lambda v: type(v) is int and -2**63 <= v < 2**63,
        UINT: lambda v: type(v) is int and 0 <= v < 2**64,
        FLOAT: lambda v: type(v) is float,
        STR: lambda v: type(v) is str,
        BOOL: lambda v: type(v) is bool,
        NULL: lambda v: v is None,
        ANY_OBJECT: lambda v: type(v) is dict,
    }[kind](value)
    if not ok:
        yield f"{path}: {json.dumps(value)[:60]} is not {kind}"


class SortedObjects:
    """object_pairs_hook that notes objects whose keys are not in sorted order."""

    def __init__(self):
        self.unsorted = None

    def __call__(self, pairs):
        keys = [key for key, _ in pairs]
        if self.unsorted is None and keys != sorted(keys):
            self.unsorted = keys
        return dict(pairs)


def jpeg_size(data):
    """(width, height) from the frame header of a baseline or progressive JPEG, or None."""
    if data[:2] != b"\xff\xd8" or data[-2:] != b"\xff\xd9":
        return None
    i = 2
    while i + 9 < len(data):
        if data[i] != 0xFF:
            return None
        marker, length = data[i + 1], int.from_bytes(data[i + 2:i + 4], "big")
        if marker in (0xC0, 0xC1, 0xC2):
            return int.from_bytes(data[i + 7:i + 9], "big"), int.from_bytes(data[i + 5:i + 7], "big")
        i += 2 + length
    return None


# ---------------------------------------------------------------------------
class WindowListStates:
    """The scene's window-list state over time (top-level value and timeline, repeated)."""

    def __init__(self, scene):
        self.initial = scene.get("windowList", "available")
        self.period = scene.get("repeat")
        self.changes = sorted((float(e["at"]), i, e["state"]) for i, e in enumerate(scene.get("timeline", []))
                              if e.get("do") == "window-list")

    def at(self, t):
        if t < 0:
            return self.initial
        state = self.initial
        if self.period and self.changes:
            # Before the first change of a repetition, the state is the one the
            # previous repetition ended with.
            repetition = int(t // self.period)
            local = t - repetition * self.period
            if repetition > 0:
                state = self.changes[-1][2]
            t = local
        for at, _, value in self.changes:
            if at <= t:
                state = value
        return state

    def settled(self, t):
        """The state at `t` when it holds EDGE seconds either side, else None."""
        states = {self.at(t - EDGE), self.at(t), self.at(t + EDGE)}
        return states.pop() if len(states) == 1 else None


def schedstat(path):
    """(ns on a CPU, ns waiting for a CPU) of one thread, or None."""
    try:
        with open(path, "rb") as file:
            fields = file.read().split()
        return int(fields[0]), int(fields[1])
    except (OSError, IndexError, ValueError):
        return None


def parse_rate(text):
    if not re.fullmatch(r"[+-]?[0-9]+", text):
        return None
    value = int(text)
    return 33 if value < 34 else 500 if value >= 500 else value


# ---------------------------------------------------------------------------
class Soak:
    def __init__(self, args):
        self.args = args
        with open(args.scene, encoding="utf-8") as file:
            scene = json.load(file)
        self.window_list = WindowListStates(scene)
        self.period = scene.get("repeat")
        self.failures = []
        self.failure_count = 0
        # counters
        self.lines = self.snapshots = self.unavailable = 0
        self.replies_ok = self.replies_error = 0
        self.requests_sent = self.requests_ignored_sent = 0
        self.request_id = 0
        self.pending = {}  # requestId -> (sent monotonic, sent wall)
        # tick timing
        self.rate_ms = DEFAULT_RATE_MS
        self.last_pass = None
        self.paused = False
        self.paused_at = None
        self.excluded = False        # the gap now open spans a pause
        self.commands_since = []     # (time, rate ms) of rate/resume commands since the last pass line
        self.gaps_checked = 0
        self.late = []               # (lateness s, gap s, t, rate ms)
        self.max_gap = (0.0, 0, 0.0)  # (gap s, rate ms, t)
        self.max_gap_default = 0.0
        # memory
        self.rss = []                # (t, KiB)
        # what the run went through
        self.states = {}
        self.reasons = set()
        self.last_session = None
        self.last_focus = None
        self.last_select = -10.0
        self.selects = 0
        self.monotone = {}
        self.max_frames = 0
        self.t0 = 0.0
        self.ending = False
        self.sampler_sched = self.reader_sched = None
        self.last_sched = (None, None)
        self.hwm = self.cpu = self.status = None
        self.hwm_at = None           # s: the sample by which VmHWM had its latest value

    # -- reporting ----------------------------------------------------------
    def fail(self, t, message):
        self.failure_count += 1
        if len(self.failures) < 40:
            self.failures.append(f"[{t:8.3f} s] {message}")

    def now(self):
        return time.monotonic() - self.t0

    # -- child --------------------------------------------------------------
    def start(self):
        command = [self.args.binary, "--scene", self.args.scene, "--allow-screen-capture", "--visual", "--controls"]
        self.t0 = time.monotonic()
        environment = dict(os.environ)
        if self.args.mmap_threshold:
            environment["MALLOC_MMAP_THRESHOLD_"] = str(self.args.mmap_threshold)
        self.child = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, env=environment)
        self.lines_queue = queue.Queue()
        self.stderr_text = bytearray()
        threading.Thread(target=self.read_stdout, daemon=True).start()
        threading.Thread(target=self.read_stderr, daemon=True).start()

    def read_stdout(self):
        stream = self.child.stdout
        own = f"/proc/self/task/{threading.get_native_id()}/schedstat"
        main = f"/proc/{self.child.pid}/task/{self.child.pid}/schedstat"
        while True:
            raw = stream.readline()
            t = time.monotonic() - self.t0
            self.lines_queue.put((t, raw, schedstat(main), schedstat(own)))
            if not raw:
                return

    def read_stderr(self):
        for chunk in iter(lambda: self.child.stderr.read(4096), b""):
            self.stderr_text += chunk

    def send(self, text):
        try:
            self.child.stdin.write(text.encode())
            self.child.stdin.flush()
        except (BrokenPipeError, OSError):
            pass

    def command(self, line):
        t = self.now()
        self.send(line + "\n")
        if line == "pause":
            self.paused, self.paused_at, self.excluded = True, t, True
        elif line == "resume":
            self.paused = False
            self.commands_since.append((t, self.rate_ms))
        elif line.startswith("rate "):
            rate = parse_rate(line[5:])
            if rate is not None:
                self.rate_ms = rate
                self.commands_since.append((t, rate))
        elif line in ("capture-select", "capture-retry"):
            self.last_select, self.selects = t, self.selects + 1

    def request(self, text=None):
        if text is None:
            self.request_id += 1
            text = str(self.request_id)
            self.pending[text] = (self.now(), time.time())
            self.requests_sent += 1
        else:
            self.requests_ignored_sent += 1
        self.send(f"capture-snapshot {text}\n")

    def rss_kib(self):
        try:
            with open(f"/proc/{self.child.pid}/status", encoding="ascii") as file:
                for row in file:
                    if row.startswith("VmRSS:"):
                        return int(row.split()[1])
        except OSError:
            return None
        return None

    # -- the command mix, once a second -------------------------------------
    def second(self, s):
        if self.last_session in ENDED_STATES and self.now() - self.last_select > 2.0:
            self.command("capture-retry" if self.selects % 2 else "capture-select")
        self.request()
        step = s % 60
        mix = {
            2: lambda: self.command(f"anchor {self.last_focus or ''}"),
            4: lambda: self.command("rate 50"),
            6: lambda: self.command("rate 10"),      # clamps to 33
            8: lambda: self.command("inputs-on"),
            9: lambda: self.command("rate 250"),
            11: lambda: self.command("rate 5000"),   # clamps to 500
            13: lambda: self.command("rate 33"),
            16: lambda: self.split("visual-off"),
            18: lambda: self.command("visual-on"),
            19: lambda: (self.request("123456789012345678901"), self.request("abc"), self.request("")),
            20: lambda: self.command("controls-off"),
            22: lambda: self.command("controls-on"),
            23: lambda: [self.send(text) for text in (" pause\n", "PAUSE\n", "rate 50x\n", "rate \n", "bogus\n",
                                                      "pause\r\nresume\n")],
            24: lambda: self.command("inputs-off"),
            26: lambda: self.command("anchor "),
            27: lambda: self.command("rate +40"),
            29: lambda: self.command("rate 33"),
            32: lambda: self.command("rate 100"),
            35: lambda: self.command("rate 33"),
            38: lambda: self.command("visual-off"),
            40: lambda: self.command("visual-on"),
            44: lambda: self.command(f"anchor {self.last_focus or ''}"),
            # Once a minute only: a pause restarts the stream's steady run, and
            # recovery attempts are forgiven after 30 s of steady frames.
            50: lambda: self.command("pause"),
            52: lambda: self.command("resume"),
        }
        if step in mix:
            mix[step]()

    def split(self, line):
        """One command in two writes: the sampler must join them."""
        half = len(line) // 2
        self.send(line[:half])
        time.sleep(0.01)
        self.send(line[half:] + "\n")

    # -- lines ----------------------------------------------------------------
    def on_line(self, t, raw):
        self.lines += 1
        if not raw.endswith(b"\n"):
            self.fail(t, f"line without line feed at the end of output: {raw[:120]!r}")
            return
        if raw == UNAVAILABLE_LINE:
            self.unavailable += 1
            settled = self.window_list.settled(t)
            if settled == "available":
                self.fail(t, "an \"unavailable\" line while the scene's window list is available")
            self.on_pass(t)
            return
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError:
            self.fail(t, f"line is not UTF-8: {raw[:120]!r}")
            return
        order = SortedObjects()
        try:
            value = json.loads(text, object_pairs_hook=order)
        except ValueError as error:
            self.fail(t, f"line is not JSON ({error}): {text[:160]!r}")
            return
        if not isinstance(value, dict):
            self.fail(t, f"line is not a JSON object: {text[:160]!r}")
        elif "kind" in value:
            self.on_reply(t, value, text)
        elif value.get("status") == "unavailable":
            self.fail(t, f"an \"unavailable\" line that differs from the literal: {text[:160]!r}")
            self.on_pass(t)
        else:
            self.on_snapshot(t, value, order.unsorted)
            self.on_pass(t)

    def on_snapshot(self, t, snap, unsorted):
        self.snapshots += 1
        errors = list(shape_errors(snap, SNAPSHOT, "snapshot"))
        if unsorted is not None:
            errors.append(f"keys not in sorted order: {unsorted[:8]}")
        if errors:
            for error in errors[:3]:
                self.fail(t, error)
            return
        settled = self.window_list.settled(t)
        if settled in ("unavailable", "malformed"):
            self.fail(t, f"a snapshot line while the scene's window list is {settled}")
        context = snap["context"]
        problems = []
        if snap["status"] != "ready":
            problems.append(f"status {snap['status']!r}")
        if snap["captureMode"] != "selected-session":
            problems.append(f"captureMode {snap['captureMode']!r}")
        if snap["captureSession"] not in SESSION_STATES:
            problems.append(f"captureSession {snap['captureSession']!r}")
        if not re.fullmatch(r"[0-9]+(:[0-9]+){5}", snap["inputRevision"]):
            problems.append(f"inputRevision {snap['inputRevision']!r}")
        if context["spaceTransitioning"] and snap["windows"]:
            problems.append("windows listed during a Space transition")
        if context["transitioning"] and (snap["controls"] or snap["inputs"] or snap["visuals"]):
            problems.append("controls, inputs or visuals during a transition")
        if snap["supportMetrics"]["selectedDockTargets"] != len(snap["docks"]):
            problems.append("supportMetrics.selectedDockTargets differs from the number of docks")
        visual = snap["visualMetrics"]
        if visual["status"] != snap["vision"] or visual["platforms"] > visual["edges"] \
                or len(snap["visuals"]) > visual["edges"]:
            problems.append(f"visualMetrics {visual} disagree with vision/visuals")
        if len(snap["captureMetrics"]["events"]) > 64:
            problems.append("more than 64 capture events")
        for window in snap["windows"]:
            if window["width"] < 0 or window["height"] < 0 or window["id"] != f"{window['pid']}:" + \
                    window["id"].partition(":")[2] or not window["id"].partition(":")[2].isdigit():
                problems.append(f"window record {window}")
                break
        metrics = snap["captureMetrics"]
        for key, value in (("revision", context["revision"]), ("spaceRevision", context["spaceRevision"]),
                           ("consents", snap["captureConsentID"]), ("frames", metrics["frames"]),
                           ("starts", metrics["starts"]), ("generation", metrics["generation"])):
            if value < self.monotone.get(key, value):
                problems.append(f"{key} went back from {self.monotone[key]} to {value}")
            self.monotone[key] = value
        for problem in problems:
            self.fail(t, problem)
        session = snap["captureSession"]
        self.states[session] = self.states.get(session, 0) + 1
        if metrics["recoveryReason"]:
            self.reasons.add(metrics["recoveryReason"])
        self.last_session = session
        self.last_focus = context["focusedWindowId"]
        self.max_frames = max(self.max_frames, metrics["frames"])

    def on_reply(self, t, reply, text):
        if reply.get("kind") != "capture-snapshot":
            self.fail(t, f"a line with an unknown kind: {text[:160]!r}")
            return
        shape = SUCCESS_REPLY if "image" in reply else ERROR_REPLY
        errors = list(shape_errors(reply, shape, "reply"))
        if errors:
            for error in errors[:3]:
                self.fail(t, error)
            return
        request = reply["requestId"]
        if request not in self.pending:
            self.fail(t, f"a reply to request {request!r}, which is not open")
            return
        sent, sent_wall = self.pending.pop(request)
        if t - sent > REPLY_LIMIT:
            self.fail(t, f"request {request} answered after {t - sent:.2f} s")
        if shape is ERROR_REPLY:
            self.replies_error += 1
            if reply["error"] != "selection-unavailable":
                self.fail(t, f"request {request}: error {reply['error']!r}")
            return
        self.replies_ok += 1
        try:
            image = base64.b64decode(reply["image"], validate=True)
        except (binascii.Error, ValueError):
            self.fail(t, f"request {request}: image is not Base64")
            return
        size = jpeg_size(image)
        if size != STILL_SIZE:
            self.fail(t, f"request {request}: image is not a {STILL_SIZE} JPEG (header says {size})")
        observed = reply["observedAtMS"] / 1000
        if not sent_wall - 1.0 <= observed <= time.time() + 0.1:
            self.fail(t, f"request {request}: observedAtMS {reply['observedAtMS']} is not between the request "
                         f"and the reply ({sent_wall * 1000:.0f} ms)")
        if reply["displayID"] != 1:
            self.fail(t, f"request {request}: displayID {reply['displayID']}")

    def on_pass(self, t):
        """Timing of a line written by a sampling pass."""
        if self.ending:
            return
        if self.paused and self.paused_at is not None and t > self.paused_at + 0.1:
            self.fail(t, "a pass line while paused")
        if self.last_pass is not None and not self.excluded and not self.paused:
            previous, previous_rate = self.last_pass
            due = previous + previous_rate / 1000
            for at, rate in self.commands_since:
                # A command just before the previous line may not have reached
                # the timer yet: allow either schedule.
                due = max(due, at + rate / 1000) if at <= previous + 0.005 else at + rate / 1000
            gap = t - previous
            self.gaps_checked += 1
            if gap > self.max_gap[0]:
                self.max_gap = (gap, previous_rate, t)
            if self.rate_ms == DEFAULT_RATE_MS and not self.commands_since:
                self.max_gap_default = max(self.max_gap_default, gap)
            if t - due > LATE_LIMIT:
                self.late.append((t - due, gap, t, previous_rate) + self.waits())
        if not self.paused:
            if self.excluded and self.commands_since:
                # First line after "resume": due one period after the command.
                at, rate = self.commands_since[-1]
                if t - (at + rate / 1000) > LATE_LIMIT:
                    self.late.append((t - at - rate / 1000, t - at, t, rate) + self.waits())
                self.gaps_checked += 1
            self.excluded = False
        self.commands_since = []
        self.last_pass = (t, self.rate_ms)
        self.last_sched = (self.sampler_sched, self.reader_sched)

    def waits(self):
        """Since the previous pass line: (sampler main thread waiting for a CPU, the same for
        the checker's reader, sampler main thread on a CPU), seconds; None when unknown."""
        (sampler_then, reader_then), sampler_now, reader_now = self.last_sched, self.sampler_sched, self.reader_sched
        if not (sampler_then and reader_then and sampler_now and reader_now):
            return None, None, None
        return ((sampler_now[1] - sampler_then[1]) / 1e9, (reader_now[1] - reader_then[1]) / 1e9,
                (sampler_now[0] - sampler_then[0]) / 1e9)

    @staticmethod
    def starved(late):
        """A late tick that would have been in time had neither process waited for a CPU."""
        lateness, _, _, _, sampler_wait, reader_wait, _ = late
        return sampler_wait is not None and lateness - sampler_wait - reader_wait <= LATE_LIMIT

    # -- the run --------------------------------------------------------------
    def run(self):
        seconds = self.args.seconds
        self.start()
        baseline_at = 60.0 if seconds >= 60 else 10.0
        next_second, next_rss, next_progress = 1.0, RSS_EVERY, 60.0
        selected = False
        finished = False
        while not finished:
            now = self.now()
            if now >= seconds:
                break
            wake = min(next_second, next_rss, seconds)
            try:
                t, raw, self.sampler_sched, self.reader_sched = self.lines_queue.get(timeout=max(0.0, wake - now))
            except queue.Empty:
                t, raw = None, None
            if t is not None:
                if not raw:
                    self.fail(t, f"the sampler ended early (status {self.child.wait()})")
                    finished = True
                    break
                self.on_line(t, raw)
                if not selected:
                    self.command("capture-select")
                    selected = True
            now = self.now()
            if now >= next_second:
                if now < seconds - REPLY_LIMIT - 0.5:
                    self.second(int(next_second))
                next_second += 1.0
            if now >= next_rss:
                kib = self.rss_kib()
                if kib is not None:
                    self.rss.append((now, kib))
                self.note_peak(now)
                next_rss += RSS_EVERY
            if now >= next_progress:
                self.progress(now)
                next_progress += 60.0
        if self.last_pass and self.now() - self.last_pass[0] > 2.0 and not self.paused:
            self.fail(self.now(), f"no line for {self.now() - self.last_pass[0]:.1f} s")
        kib = self.rss_kib()
        if kib is not None:
            self.rss.append((self.now(), kib))
        self.note_peak(self.now())
        self.cpu = self.cpu_seconds()
        self.finish()
        return self.report(baseline_at)

    def note_peak(self, now):
        """VmHWM, and the memory sample by which it had reached its latest value."""
        hwm = self.status_field("VmHWM")
        if hwm is not None and hwm > (self.hwm or 0):
            self.hwm, self.hwm_at = hwm, now

    def status_field(self, name):
        try:
            with open(f"/proc/{self.child.pid}/status", encoding="ascii") as file:
                for row in file:
                    if row.startswith(name + ":"):
                        return int(row.split()[1])
        except OSError:
            pass
        return None

    def cpu_seconds(self):
        try:
            with open(f"/proc/{self.child.pid}/stat", encoding="ascii") as file:
                fields = file.read().rpartition(")")[2].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except (OSError, IndexError, ValueError):
            return None

    def finish(self):
        """"quit", then read the rest of the output and check the ending."""
        if self.child.poll() is None:
            self.send("quit\n")
        try:
            status = self.child.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.fail(self.now(), "the sampler did not exit within 5 s of \"quit\"")
            self.child.kill()
            status = self.child.wait()
        self.ending = True  # lines after "quit" are not timed
        while True:
            try:
                t, raw, self.sampler_sched, self.reader_sched = self.lines_queue.get(timeout=2)
            except queue.Empty:
                break
            if not raw:
                break
            self.on_line(t, raw)
        self.status = status
        if status != 0:
            self.fail(self.now(), f"exit status {status}" + (f" (signal {-status})" if status < 0 else ""))
        time.sleep(0.1)
        if self.stderr_text:
            self.fail(self.now(), f"standard error: {bytes(self.stderr_text[:300])!r}")
        for request, (sent, _) in sorted(self.pending.items(), key=lambda item: item[1]):
            self.fail(sent, f"request {request} got no reply")

    def progress(self, now):
        rss = f"{self.rss[-1][1] / 1024:.1f} MiB" if self.rss else "?"
        print(f"[{now:6.0f} s] lines {self.lines}, replies {self.replies_ok + self.replies_error}, "
              f"late ticks {len(self.late)}, max gap {self.max_gap[0] * 1000:.0f} ms, RSS {rss}, "
              f"capture {self.last_session}, failures {self.failure_count}", flush=True)

    def report(self, baseline_at):
        seconds = self.args.seconds
        baseline = next(((t, kib) for t, kib in self.rss if t >= baseline_at), None)
        end = self.rss[-1] if self.rss else None
        allocator = (f"glibc mmap threshold fixed at {self.args.mmap_threshold} bytes" if self.args.mmap_threshold
                     else "the allocator's defaults")
        print(f"soak: {seconds} s on {self.args.scene}, sampler run with {allocator}")
        print(f"lines written: {self.lines} (snapshots {self.snapshots}, unavailable {self.unavailable}, "
              f"replies {self.replies_ok + self.replies_error})")
        print(f"replies: {self.replies_ok} stills, {self.replies_error} \"selection-unavailable\"; "
              f"{self.requests_sent} requests sent, {len(self.pending)} unanswered; "
              f"{self.requests_ignored_sent} malformed requests sent (no reply expected)")
        gap, rate, at = self.max_gap
        starved = [late for late in self.late if self.starved(late)]
        print(f"ticks: {self.gaps_checked} gaps checked, {len(self.late)} late by more than "
              f"{LATE_LIMIT * 1000:.0f} ms ({len(starved)} of them only because the sampler or this checker waited "
              f"for a CPU); max gap {gap * 1000:.1f} ms (rate {rate} ms, at {at:.1f} s); "
              f"max gap at the default rate {self.max_gap_default * 1000:.1f} ms")
        for late in sorted(self.late, reverse=True)[:8]:
            lateness, gap, t, rate, sampler_wait, reader_wait, sampler_cpu = late
            where = f"scene time {t % self.period:.1f} s" if self.period else ""
            print(f"  late: {lateness * 1000:.0f} ms past due at {t:.3f} s ({where}; gap {gap * 1000:.0f} ms, rate "
                  f"{rate} ms)" + ("" if sampler_wait is None else
                                   f": sampler main thread ran {sampler_cpu * 1000:.0f} ms and waited "
                                   f"{sampler_wait * 1000:.0f} ms for a CPU, checker waited {reader_wait * 1000:.0f} ms"))
        if baseline and end:
            label = "1 minute" if baseline_at == 60 else "10 s (run shorter than a minute)"
            after = sorted(kib for t, kib in self.rss if t >= baseline[0])
            print(f"RSS: {baseline[1] / 1024:.2f} MiB at {label} ({baseline[0]:.0f} s), {end[1] / 1024:.2f} MiB at "
                  f"the end ({end[0]:.0f} s), {end[1] - baseline[1]:+d} KiB; median from the baseline on "
                  f"{after[len(after) // 2] / 1024:.2f} MiB; min {min(k for _, k in self.rss) / 1024:.2f}, "
                  f"max {max(k for _, k in self.rss) / 1024:.2f} MiB, peak (VmHWM) {(self.hwm or 0) / 1024:.2f} MiB"
                  + (f", reached by {self.hwm_at:.0f} s" if self.hwm_at is not None else ""))
            # Frames are tens of MiB, and how many are held at a given moment
            # depends on the scene's phase and on timing. Once the run spans
            # two scene periods after the baseline, the check compares the
            # floor (lowest sample) of the first period after the baseline
            # with the floor of the last period: a leak lifts every sample.
            # A shorter run cannot tell a leak from pools that are still
            # filling, so it reports its figures and leaves growth alone.
            spanned = end[0] - baseline[0]
            growth = None
            if not self.period:
                growth = end[1] - baseline[1]
                how = f"{end[1] / 1024:.2f} MiB at the end against {baseline[1] / 1024:.2f} MiB"
            elif spanned >= 2 * self.period - 1.0:  # a second's slack for where the samples fall
                first = [kib for t, kib in self.rss if baseline[0] <= t < baseline[0] + self.period]
                last = [kib for t, kib in self.rss if t > end[0] - self.period]
                growth = min(last) - min(first)
                how = (f"lowest sample of the last {self.period:g} s period {min(last) / 1024:.2f} MiB against "
                       f"{min(first) / 1024:.2f} MiB in the first period after the baseline")
                periods, start = [], baseline[0]
                while start < end[0]:
                    chunk = [kib for t, kib in self.rss if start <= t < start + self.period]
                    if chunk:
                        periods.append(f"{min(chunk) / 1024:.0f}-{max(chunk) / 1024:.0f}")
                    start += self.period
                print(f"RSS per {self.period:g} s period from {baseline[0]:.0f} s, MiB: {' '.join(periods)}")
            if growth is None:
                print(f"RSS check: growth not judged: the run spans {spanned:.0f} s after the baseline, less than "
                      f"two {self.period:g} s scene periods (runs of at least {60 + 2 * self.period:g} s are judged)")
            else:
                print(f"RSS check: {how}: growth {growth:+d} KiB (limit {RSS_LIMIT_KIB} KiB)")
                if growth >= RSS_LIMIT_KIB:
                    self.fail(end[0], f"resident memory grew by {growth} KiB")
        else:
            print("RSS: not enough samples")
            self.fail(self.now(), "no memory samples")
        if self.args.samples:
            with open(self.args.samples, "w", encoding="ascii") as file:
                file.writelines(f"{t:.1f} {kib}\n" for t, kib in self.rss)
        states = ", ".join(f"{state} {count}" for state, count in sorted(self.states.items()))
        print(f"capture: {self.selects} selections, frames {self.max_frames}; snapshot states: {states}")
        print(f"recovery reasons seen: {', '.join(sorted(self.reasons)) or 'none'}")
        if self.cpu is not None:
            print(f"sampler CPU: {self.cpu:.1f} s ({100 * self.cpu / max(seconds, 1):.1f} % of one core); "
                  f"load average {os.getloadavg()[0]:.2f}")
        print(f"exit status: {self.status}")
        for failure in self.failures:
            print(f"FAIL {failure}")
        if self.failure_count > len(self.failures):
            print(f"FAIL ... and {self.failure_count - len(self.failures)} more")
        # A tick that is late only because the machine had no CPU to give is
        # reported above but is no fault of the sampler.
        late = len(self.late) - len(starved)
        ok = self.failure_count == 0 and late == 0
        print("result: " + ("PASS" if ok else f"FAIL ({self.failure_count} failures, {late} late ticks)"))
        return 0 if ok else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", required=True)
    parser.add_argument("--scene", required=True)
    parser.add_argument("--seconds", type=int, required=True)
    parser.add_argument("--mmap-threshold", type=int, default=0, metavar="BYTES",
                        help="run the sampler with this fixed glibc mmap threshold (0: the allocator's default)")
    parser.add_argument("--samples", help="write the memory samples (seconds, KiB) to this file")
    args = parser.parse_args()
    soak = Soak(args)

    def stop(signum, _frame):
        raise SystemExit(128 + signum)

    for signum in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(signum, stop)
    try:
        return soak.run()
    finally:
        child = getattr(soak, "child", None)
        if child is not None and child.poll() is None:
            child.kill()
            child.wait()


if __name__ == "__main__":
    sys.exit(main())
