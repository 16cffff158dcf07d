"""Headless Chromium driven over the DevTools protocol on a pair of pipes.

The browser reads commands from its descriptor 3 and writes answers and
events to its descriptor 4, one JSON message each, ended by a NUL byte
(--remote-debugging-pipe). No port is opened, so nothing else on the machine
can drive it, and nothing waits on a port to appear.
"""

import base64
import fcntl
import json
import os
import select
import shutil
import subprocess
import tempfile
import time

# The flags Debian's chromium needs to run headless as root on a machine
# without a network; without the background-networking ones it keeps trying to
# reach services it never will.
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--remote-debugging-pipe", "--hide-scrollbars", "--force-device-scale-factor=1"]


class DevToolsError(Exception):
    pass


class Browser:
    """One headless browser with one page; close() ends it and removes its profile."""

    def __init__(self, chromium, width=1600, height=1000):
        self.profile = tempfile.mkdtemp(prefix="scene-view-browser-")
        commands_read, commands_write = os.pipe()
        answers_read, answers_write = os.pipe()
        # Far from 3 and 4, so placing them there in the child cannot clobber them.
        high_read = fcntl.fcntl(commands_read, fcntl.F_DUPFD_CLOEXEC, 20)
        high_write = fcntl.fcntl(answers_write, fcntl.F_DUPFD_CLOEXEC, 20)
        os.close(commands_read)
        os.close(answers_write)

        def place_pipes():
            os.dup2(high_read, 3)
            os.dup2(high_write, 4)

        self.process = subprocess.Popen(
            [chromium, *FLAGS, f"--user-data-dir={self.profile}", f"--window-size={width},{height}", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=place_pipes, pass_fds=(3, 4))
        os.close(high_read)
        os.close(high_write)
        self.to_browser = commands_write
        self.from_browser = answers_read
        self.buffer = b""
        self.next_id = 0
        self.events = []
        self.session = None

    def _read_message(self, deadline, waiting_for="a message"):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise DevToolsError(f"the browser sent no {waiting_for} in time")
            ready, _, _ = select.select([self.from_browser], [], [], left)
            if ready:
                chunk = os.read(self.from_browser, 1 << 20)
                if not chunk:
                    raise DevToolsError("the browser closed its pipe")
                self.buffer += chunk
        message, _, self.buffer = self.buffer.partition(b"\0")
        return json.loads(message)

    def send(self, method, params=None, timeout=30, session=True):
        """Runs one command and returns its result; events meanwhile are kept."""
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            answer = self._read_message(deadline, f"answer to {method}")
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise DevToolsError(f"{method}: {answer['error']}")
                return answer.get("result", {})
            self.events.append(answer)

    def wait_event(self, method, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            for index, event in enumerate(self.events):
                if event.get("method") == method:
                    return self.events.pop(index)
            self.events.append(self._read_message(deadline, method))

    def open(self, url):
        """A page at `url`, its load finished."""
        target = self.send("Target.createTarget", {"url": "about:blank"}, session=False)["targetId"]
        self.session = self.send("Target.attachToTarget", {"targetId": target, "flatten": True},
                                 session=False)["sessionId"]
        self.send("Page.enable")
        self.send("Page.navigate", {"url": url})
        self.wait_event("Page.loadEventFired")

    def evaluate(self, expression, timeout=30):
        """The value of a JavaScript expression in the page; a promise is awaited."""
        result = self.send("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                "returnByValue": True}, timeout=timeout)
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            raise DevToolsError(details.get("exception", {}).get("description") or details.get("text"))
        return result["result"].get("value")

    def click(self, x, y, between=None):
        """Presses and releases the left button at (x, y); `between` runs while it is down."""
        for kind in ("mousePressed", "mouseReleased"):
            self.send("Input.dispatchMouseEvent", {"type": kind, "x": x, "y": y, "button": "left", "clickCount": 1})
            if between and kind == "mousePressed":
                between()

    def screenshot(self, width, height):
        """A PNG of the page in a viewport of this size."""
        self.send("Emulation.setDeviceMetricsOverride", {"width": width, "height": height, "deviceScaleFactor": 1,
                                                         "mobile": False})
        return base64.b64decode(self.send("Page.captureScreenshot", {"format": "png"})["data"])

    def close(self):
        try:
            if self.process.poll() is None:
                self.send("Browser.close", session=False, timeout=5)
        except (DevToolsError, OSError):
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        for descriptor in (self.to_browser, self.from_browser):
            try:
                os.close(descriptor)
            except OSError:
                pass
        shutil.rmtree(self.profile, ignore_errors=True)
