#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets whose input is binary into
fuzz/corpus/<target>/: the command input's chunk script, and the targets read
through libFuzzer's FuzzedDataProvider (visual_edges, support_runs,
selected_region_crop). The text targets' seeds are plain files.

The provider takes raw bytes from the front of the input and integers and
floats from the back, so seeds written by hand would be unreadable; here each
seed is spelt as the sequence of values the target reads, in the target's
order, and encoded the way the provider decodes it. A seed that no longer
matches its target after a change is still a valid input, only a less telling
one: run this again after changing what a target reads.

Usage: fuzz/make_seeds.py
"""

import pathlib

HERE = pathlib.Path(__file__).resolve().parent


# command_input_fuzz.cpp: a settings byte, then chunks, "END" for the end of
# input, and (count, pattern) for a long chunk of the pattern repeated.
def chunks(settings, *steps):
    out = bytearray([settings])
    for step in steps:
        if step == "END":
            out += b"\xfe"
        elif isinstance(step, tuple):
            count, pattern = step
            out += b"\xff" + (count // 2).to_bytes(2, "big") + bytes([len(pattern) - 1]) + pattern
        else:
            assert len(step) < 0xFE
            out += bytes([len(step)]) + step
    return bytes(out)


class Provider:
    """Builds an input for FuzzedDataProvider, value by value."""

    def __init__(self):
        self.front = bytearray()  # ConsumeBytes and friends, in order
        self.back = []  # integral bytes, in the order they are consumed

    def integer(self, value, low, high, bits=32):
        assert low <= value <= high, (value, low, high)
        span = high - low
        count, offset = 0, 0
        while offset < bits and (span >> offset) > 0:
            count += 1
            offset += 8
        self.back.extend((value - low).to_bytes(count, "big") if count else b"")

    def byte(self, value):
        self.integer(value, 0, 255, 8)

    def boolean(self, value):
        self.byte(1 if value else 0)

    def fraction(self, value, low, high):
        """ConsumeFloatingPointInRange(low, high) giving about `value`."""
        probability = (value - low) / (high - low)
        self.back.extend(round(probability * (2**64 - 1)).to_bytes(8, "big"))

    def raw(self, data):
        self.front.extend(data)

    def data(self):
        return bytes(self.front) + bytes(reversed(self.back))


# fuzz_inputs.h: edgyDouble(input, low, high).
EDGES = {"nan": 5, "inf": 6, "denorm_min": 10, "1e300": 14}


def edgy_plain(p, value, low, high):
    p.integer(3, 0, 7)  # an ordinary number in [low, high]
    p.fraction(value, low, high)


def edgy_edge(p, name):
    p.integer(0, 0, 7)
    p.integer(EDGES[name], 0, 17, 64)


# fuzz_inputs.h: paintGray(input, width, height); shapes are
# (kind, x, y, w, h, value[, gap]) with kind 0 box, 1 outline, 2 rule.
def paint(p, width, height, background, shapes):
    p.byte(background)
    p.integer(len(shapes), 0, 24)
    for kind, x, y, w, h, value, *gap in shapes:
        p.integer(kind, 0, 4)
        p.integer(x, -8, width)
        p.integer(y, -8, height)
        p.integer(w, 0, width + 8)
        p.integer(h, 0, height + 8)
        p.byte(value)
        if kind == 2:
            p.integer(gap[0], 0, 40)


def visual_side(p, value):
    if value in (79, 80):
        p.integer(1, 0, 15)
        p.boolean(value == 80)
    else:
        p.integer(2, 0, 15)
        p.integer(value, 80, 512)


def visual_edges(width, height, points_per_pixel, shapes, point_width=None, background=240):
    p = Provider()
    visual_side(p, width)
    visual_side(p, height)
    for side in (width, height):
        if point_width == "nan":
            p.boolean(False)
            edgy_edge(p, "nan")
        else:
            p.boolean(True)
            p.fraction(points_per_pixel, 0.25, 4.0)
    p.integer(5, 0, 31)  # the buffer has the right size
    paint(p, width, height, background, shapes)
    return p.data()


SIDES = ["top", "bottom", "left", "right", "", "middle"]
RECT_RANGES = [(-3000, 3000), (-3000, 3000), (-10, 2000), (-10, 2000)]  # support_runs_fuzz.cpp


def support_runs(width, height, shapes, side, fixed, background=0, identity=False, tolerance=2.0, grid=None,
                 scale=1.0, origin=(100, 50), span=(0.0, 1.0), plausible=True, region=None):
    p = Provider()
    for value in (width, height):
        p.integer(1, 0, 15)
        p.integer(value, 1, 512)
    paint(p, width, height, background, shapes)
    p.integer(5, 0, 31)
    p.boolean(plausible)
    p.integer(SIDES.index(side), 0, 5, 64)
    p.boolean(identity)
    edgy_plain(p, tolerance, -2, 30)
    if plausible:
        p.fraction(scale, 0.25, 4.0)
        p.integer(origin[0], -3000, 6000)
        p.integer(origin[1], -3000, 6000)
        p.boolean(grid is not None)
        if grid is not None:
            offset_x, offset_y, extra_x, extra_y = grid
            p.integer(offset_x, 0, 2048)
            p.integer(offset_y, 0, 2048)
            p.integer(extra_x, 0, 2048)
            p.integer(extra_y, 0, 2048)
        p.fraction(span[0], -0.2, 1.2)
        p.fraction(span[1], -0.2, 1.2)
        p.fraction(fixed, -0.1, 1.1)
    else:
        for value, (low, high) in zip(region, RECT_RANGES):
            if isinstance(value, str):
                edgy_edge(p, value)
            else:
                edgy_plain(p, value, low, high)
        for value in (100, 400, 60):
            edgy_plain(p, value, -3000, 3000)
        p.boolean(False)
    return p.data()


# selected_region_crop_fuzz.cpp: rect(input, -3000, 3000).
def edgy_rect(p, values):
    for value, (low, high) in zip(values, [(-3000, 3000), (-3000, 3000), (0, 3000), (0, 3000)]):
        if isinstance(value, str):
            edgy_edge(p, value)
        else:
            edgy_plain(p, value, low, high)


def crop(frame, bounds, region, size, pattern=b"\x10\x80\xf0\xff\x20\x40\x60\xff"):
    p = Provider()
    p.integer(frame[0], 1, 256)
    p.integer(frame[1], 1, 256)
    p.integer(0, 0, 3)  # no row padding
    p.byte(0x33)
    p.integer(len(pattern), 0, 256)
    p.raw(pattern)
    if any(isinstance(value, str) for value in bounds):
        p.boolean(False)
        edgy_rect(p, bounds)
    else:
        p.boolean(True)
        p.integer(bounds[0], -3000, 3000)
        p.integer(bounds[1], -3000, 3000)
        p.integer(bounds[2], 1, 3000)
        p.integer(bounds[3], 1, 3000)
    if any(isinstance(value, str) for value in region):
        p.boolean(False)
        edgy_rect(p, region)
    else:
        p.boolean(True)
        p.fraction(region[0], -0.1, 1.0)
        p.fraction(region[1], -0.1, 1.0)
        p.fraction(region[2], 0.0, 1.1)
        p.fraction(region[3], 0.0, 1.1)
    if isinstance(size, int):
        p.integer(0, 0, 7)
        p.integer(size, 0, 9, 64)
    else:
        p.integer(1, 0, 7)
        p.integer(size[0], 1, 300)
        p.integer(size[1], 1, 300)
    return p.data()


OLD_SYSTEM, OPTIONS_ON = 1, 2

SEEDS = {
    "command_input": {
        "pause_resume": chunks(0, b"pause\n", b"resume\n"),
        # "pause" cut in two, its line feed with the second half.
        "split_line": chunks(0, b"pa", b"use\n", b"quit\n"),
        # A carriage return and line feed are one character: one unknown line.
        "crlf_pair": chunks(0, b"pause\r\nresume\n", b"resume\n"),
        # A character split between chunks, then a chunk that is not UTF-8.
        "utf8_split_and_invalid": chunks(0, b"anchor caf\xc3", b"\xa9\n", b"\xff\n\n", b"inputs-on\n"),
        # A line past the buffer's limit, then an ordinary one.
        "overlong_line": chunks(0, (73728, b"x"), b"\n", b"visual-on\n"),
        "rate_snapshot_end": chunks(OLD_SYSTEM | OPTIONS_ON, b"rate 100\n", b"visual-off\n", b"controls-off\n",
                                    b"capture-snapshot 7\n", b"capture-select\n", "END", b"pause\n"),
        "nul_and_old_system": chunks(OLD_SYSTEM, b"pause\x00\n", b"controls-on\n", b"capture-snapshot 8\n"),
    },
    "visual_edges": {
        # The top of a box whose sides run 50 points down: a platform.
        "box_top": visual_edges(200, 160, 1.0, [(1, 20, 100, 150, 50, 40)]),
        # The same box on a display of two pixels per point.
        "box_top_retina": visual_edges(400, 320, 0.5, [(1, 40, 200, 300, 100, 40)]),
        # A card with a title strip and a rule missing every fifteenth pixel.
        "card_and_rule": visual_edges(300, 240, 1.0, [(0, 30, 100, 200, 100, 250), (0, 30, 100, 200, 20, 200),
                                                     (2, 20, 220, 250, 1, 20, 15)]),
        # One column too narrow: nothing is looked at.
        "too_narrow": visual_edges(79, 120, 1.0, [(0, 0, 60, 79, 60, 0)]),
        # A point size that is not a number.
        "nan_points": visual_edges(120, 120, 1.0, [(0, 0, 90, 120, 30, 0)], point_width="nan"),
    },
    "support_runs": {
        # Black above line 10, white from it on: one run along the whole tile.
        "step": support_runs(300, 20, [(0, 0, 10, 300, 10, 255)], "top", 0.5),
        # The same step as a column, for a left side.
        "step_vertical": support_runs(20, 300, [(0, 10, 0, 10, 300, 255)], "left", 0.5),
        # A tile 512 pixels down a 2048-pixel capture, read through its grid.
        "tile_in_grid": support_runs(300, 40, [(0, 0, 20, 300, 20, 255)], "bottom", 0.5, grid=(0, 512, 0, 1496)),
        # A visual edge's proposal with a wide tolerance, at two pixels per point.
        "identity_tolerance": support_runs(400, 40, [(0, 0, 18, 400, 22, 200)], "top", 0.3, identity=True,
                                           tolerance=20.0, scale=2.0),
        # A step with every fifteenth position missing: 93 % hits is too few.
        "gappy_step": support_runs(300, 20, [(2, 0, 10, 300, 1, 255, 15), (2, 0, 11, 300, 1, 255, 15)], "top",
                                   0.5),
        # A region that is not a number.
        "nan_region": support_runs(300, 20, [(0, 0, 10, 300, 10, 255)], "top", 0.5, plausible=False,
                                   region=["nan", 50, 300, 20]),
    },
    "selected_region_crop": {
        # A quarter of the frame at exactly its pixel size: a plain crop.
        "exact_crop": crop((64, 48), (0, 0, 640, 480), (0.25, 0.25, 0.5, 0.5), (32, 24)),
        # The same region scaled to another size.
        "scaled_crop": crop((64, 48), (0, 0, 640, 480), (0.25, 0.25, 0.5, 0.5), (100, 50)),
        # The whole frame at its own size.
        "whole_frame": crop((64, 48), (-1440, 0, 1440, 900), (0.0, 0.0, 1.0, 1.0), (64, 48)),
        # A size no stream frame can have.
        "too_large": crop((64, 48), (0, 0, 640, 480), (0.0, 0.0, 1.0, 1.0), 7),
        # A region that is not a number.
        "nan_region": crop((64, 48), (0, 0, 640, 480), ("nan", 10, 100, 100), (32, 24)),
        # Bounds a denormal wide: the frame's pixels per point overflow.
        "denormal_bounds": crop((64, 48), (0, 0, "denorm_min", "denorm_min"), (0.0, 0.0, 1.0, 1.0), (16, 16)),
    },
}


def main():
    for target, seeds in SEEDS.items():
        folder = HERE / "corpus" / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
