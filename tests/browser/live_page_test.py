#!/usr/bin/env python3
"""The live page in headless Chromium: what it draws against what it was sent.

Starts scene-view --serve on a scene, reads the event stream itself, loads the
page in Debian's chromium over the DevTools protocol and checks that the page
draws the snapshot it says it drew (the window outlines by id, the focused one,
the Dock shelves, supports, visual edges and controls), shows the still, shows
the record of a shape clicked with the mouse, hides a layer from the legend and
forwards pause and resume from its buttons. With --screenshot PATH it also
writes a PNG of the page once it has drawn supports.

Everything it starts is ended, whatever happens.
"""

import argparse
import json
import os
import select
import signal
import subprocess
import sys
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from devtools_pipe import Browser, DevToolsError  # noqa: E402

# Seconds any one step may take; stretched in sanitizer builds (--slowdown).
DEADLINE = 30


class Viewer:
    """scene-view --serve and its page's address."""

    def __init__(self, binary, scene):
        self.process = subprocess.Popen(
            [binary, "--serve", "--port", "0", "--", "--platform", "simulated", "--scene", scene,
             "--allow-screen-capture", "--visual", "--controls"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, env={})
        ready, _, _ = select.select([self.process.stdout], [], [], DEADLINE)
        line = self.process.stdout.readline().decode().strip() if ready else ""
        if not line.startswith("http://127.0.0.1:"):
            raise AssertionError(f"scene-view printed no address: {line!r}")
        self.url = line

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=DEADLINE)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return None


class Stream:
    """The viewer's event stream as a plain client reads it: snapshots by sequence number."""

    def __init__(self, url):
        self.snapshots = {}
        self.lock = threading.Lock()
        self.response = urllib.request.urlopen(url + "events", timeout=DEADLINE)
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def read(self):
        name, data = None, []
        try:
            for raw in self.response:
                line = raw.decode().rstrip("\n")
                if line.startswith("event: "):
                    name = line[7:]
                elif line.startswith("data: "):
                    data.append(line[6:])
                elif line == "" and name == "snapshot":
                    event = json.loads("\n".join(data))
                    with self.lock:
                        self.snapshots[event["seq"]] = event["snapshot"]
                        for old in [seq for seq in self.snapshots if seq < event["seq"] - 300]:
                            del self.snapshots[old]
                if line == "":
                    name, data = None, []
        except (OSError, ValueError, AttributeError):
            pass  # the stream ended: the viewer stopped, or close() below

    def snapshot(self, seq):
        with self.lock:
            return self.snapshots.get(seq)

    def close(self):
        self.response.close()


# Resolves, on the next drawing that passes `test` (a JavaScript expression on
# the page), with what the page shows at that moment: the drawing and the DOM
# are read in one turn of the page's event loop, so they belong together.
DRAWN = """
new Promise((resolve, reject) => {
  const read = () => {
    const desktop = document.getElementById("desktop");
    const ids = (selector) => [...desktop.querySelectorAll(selector)].map((node) => node.dataset.id);
    return {
      seq: Number(desktop.dataset.seq || 0),
      windows: ids("rect.window, rect.focused-window"),
      focused: ids("rect.focused-window"),
      docks: desktop.querySelectorAll("rect.dock").length,
      supports: desktop.querySelectorAll("line.support").length,
      visuals: desktop.querySelectorAll("line.visual-edge, line.platform-edge").length,
      controls: desktop.querySelectorAll("rect.control").length,
      still: document.getElementById("still").getAttribute("href"),
    };
  };
  const check = () => {
    const drawn = read();
    if (drawn.seq > 0 && (%s)) {
      document.removeEventListener("scene-drawn", check);
      resolve(drawn);
    }
  };
  document.addEventListener("scene-drawn", check);
  setTimeout(() => reject(new Error("no such drawing within the deadline")), %d);
  check();
})
"""


def drawn(browser, test):
    return browser.evaluate(DRAWN % (test, DEADLINE * 1000), timeout=DEADLINE + 5)


def settled(browser, value, action=""):
    """Runs `action`, then resolves with `value` (JavaScript) once it is truthy after some change to the page."""
    return browser.evaluate("""new Promise((resolve, reject) => {
        const check = () => { const value = (%s); if (value) resolve(value); };
        new MutationObserver(check).observe(document.body, {childList: true, characterData: true, subtree: true});
        setTimeout(() => reject(new Error("not within the deadline: " + %s)), %d);
        %s;
        check();
    })""" % (value, json.dumps(value), DEADLINE * 1000, action), timeout=DEADLINE + 5)


def check_drawing(browser, stream, visual_edges):
    """The page's outlines and shapes are those of the snapshot it drew."""
    wanted = "drawn.supports > 0 && drawn.controls > 0 && drawn.still"
    if visual_edges:
        wanted += " && drawn.visuals > 0"
    for _ in range(100):
        page = drawn(browser, wanted)
        sent = stream.snapshot(page["seq"])
        if sent is not None:
            break
    else:
        raise AssertionError("the page drew no snapshot that the stream also carried")
    windows = sorted(window["id"] for window in sent["windows"])
    assert sorted(page["windows"]) == windows, f"outlines {sorted(page['windows'])} for windows {windows}"
    assert page["focused"] == [sent["context"]["focusedWindowId"]], page["focused"]
    assert page["docks"] == len(sent["docks"]), page
    assert page["supports"] == len(sent["supportProofs"]), (page["supports"], len(sent["supportProofs"]))
    assert page["visuals"] == len(sent["visuals"]), (page["visuals"], len(sent["visuals"]))
    assert page["controls"] == len(sent["controls"]), (page["controls"], len(sent["controls"]))
    # The still is a JPEG the browser can decode, of the display's size.
    size = browser.evaluate("""(async () => {
        const image = new Image();
        image.src = document.getElementById("still").getAttribute("href");
        await image.decode();
        return [image.naturalWidth, image.naturalHeight];
    })()""")
    assert size == [1440, 900], size
    return sent["context"]["focusedWindowId"]


def check_click(browser, focused):
    """A real mouse click on the focused window's title bar shows its record, also
    when the page redraws between the press and the release."""
    point = browser.evaluate("""(() => {
        const outline = document.querySelector("#desktop rect.focused-window");
        const box = outline.getBoundingClientRect();
        const scale = box.height / outline.height.baseVal.value;
        return [box.left + box.width / 2, box.top + 14 * scale];
    })()""")
    # The button comes up only after the page has drawn the next snapshot, as
    # it does under a person's finger.
    def next_drawing():
        seq = browser.evaluate("Number(document.getElementById('desktop').dataset.seq)")
        drawn(browser, f"drawn.seq > {seq}")

    browser.click(*point, between=next_drawing)
    shown = settled(browser, """(() => {
        try { return JSON.parse(document.getElementById("record").textContent); } catch (error) { return null; }
    })()""")
    assert shown.get("id") == focused, f"the inspector shows {shown.get('id')}, not {focused}"


def check_legend(browser):
    """Unticking a layer hides its shapes and no others."""
    hidden = browser.evaluate("""(() => {
        document.querySelector('#legend li[data-layer="window"] input').click();
        const shown = (selector) => getComputedStyle(document.querySelector(selector)).display !== "none";
        return [shown("#desktop rect.window"), shown("#desktop rect.focused-window")];
    })()""")
    assert hidden == [False, True], hidden
    browser.evaluate("""document.querySelector('#legend li[data-layer="window"] input').click()""")


def check_commands(browser):
    """The pause and resume buttons reach the viewer, which says so in its status."""
    for command, expected in (("pause", "paused"), ("resume", "connected")):
        settled(browser, f"document.getElementById('connection').textContent === '{expected}'",
                f"document.querySelector('#commands button[data-command=\"{command}\"]').click()")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--viewer", required=True)
    parser.add_argument("--chromium", required=True)
    parser.add_argument("--scene", required=True)
    parser.add_argument("--screenshot", help="also write a PNG of the page here")
    parser.add_argument("--slowdown", type=int, default=1,
                        help="how many times slower than a plain build the binaries run")
    # Under the thread sanitizer the visual analysis overruns its CPU budget,
    # and the sampler rightly withholds its edges: there are none to draw.
    parser.add_argument("--no-visual-edges", action="store_true",
                        help="do not wait for visual edges (the build cannot analyse within budget)")
    args = parser.parse_args()
    global DEADLINE
    DEADLINE *= max(1, args.slowdown)
    if not os.access(args.chromium, os.X_OK):
        print(f"FAIL: no browser at {args.chromium} (scripts/setup installs Debian's chromium)")
        return 1

    viewer = stream = browser = None
    try:
        viewer = Viewer(args.viewer, args.scene)
        stream = Stream(viewer.url)
        browser = Browser(args.chromium)
        browser.open(viewer.url)
        focused = check_drawing(browser, stream, not args.no_visual_edges)
        check_click(browser, focused)
        if args.screenshot:
            with open(args.screenshot, "wb") as file:
                file.write(browser.screenshot(1600, 1080))
        check_legend(browser)
        check_commands(browser)
    except (AssertionError, DevToolsError, OSError) as error:
        print(f"FAIL: {type(error).__name__}: {error}")
        return 1
    finally:
        if browser:
            browser.close()
        if stream:
            stream.close()
        status = viewer.stop() if viewer else None
    if status != 0:
        print(f"FAIL: scene-view ended with {status}")
        return 1
    print("live page: drawing, still, click, legend and commands checked")
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
