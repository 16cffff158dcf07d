#!/usr/bin/python3
"""A small GTK 3 application for the accessibility tests and the walk benchmark.

Two top-level windows: "main" holds two buttons, a text entry, a password
entry, two check boxes and a scrolled list of buttons longer than its view;
"second" holds a button and an entry. With --grid N the main window also
holds a grid of N widgets (buttons, entries and check boxes in turn).

Once both windows are on screen it writes one JSON line on standard output,
and one more after every command read from standard input:
    {"windows": {NAME: X window id}, "widgets": {NAME: {x, y, width, height}},
     "focus": NAME or null, "active": NAME or null}
Frames are in root-window coordinates, as the widget itself knows them.
Commands: "focus WIDGET" gives the widget the keyboard focus within its
window; "scroll" scrolls the list to its end, or back to its start when it
is there; "report" only reports; "quit" ends the application.
"""

import json
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("GdkX11", "3.0")
# GdkX11 gives the windows their get_xid.
from gi.repository import GdkX11, GLib, Gtk  # noqa: E402,F401

ROWS = 40


def main():
    grid = 0
    if len(sys.argv) == 3 and sys.argv[1] == "--grid":
        grid = int(sys.argv[2])
    widgets = {}
    windows = {}

    def button(name, label):
        widget = Gtk.Button(label=label)
        widget.set_size_request(120, 32)
        widgets[name] = widget
        return widget

    def entry(name, secret=False):
        widget = Gtk.Entry()
        widget.set_visibility(not secret)
        widgets[name] = widget
        return widget

    def check(name, label):
        widget = Gtk.CheckButton(label=label)
        widgets[name] = widget
        return widget

    main_window = Gtk.Window(title="main")
    main_window.move(60, 60)
    windows["main"] = main_window
    column = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
    column.set_border_width(8)
    row = Gtk.Box(spacing=6)
    row.pack_start(button("save", "Save"), False, False, 0)
    row.pack_start(button("open", "Open"), False, False, 0)
    column.pack_start(row, False, False, 0)
    column.pack_start(entry("name"), False, False, 0)
    column.pack_start(entry("secret", secret=True), False, False, 0)
    column.pack_start(check("remember", "Remember me"), False, False, 0)
    column.pack_start(check("notify", "Notify me"), False, False, 0)
    scrolled = Gtk.ScrolledWindow()
    scrolled.set_policy(Gtk.PolicyType.NEVER, Gtk.PolicyType.ALWAYS)
    scrolled.set_size_request(220, 160)
    widgets["list"] = scrolled
    rows = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=2)
    for index in range(ROWS):
        rows.pack_start(button("row%d" % index, "Row %d" % index), False, False, 0)
    scrolled.add(rows)
    column.pack_start(scrolled, False, False, 0)
    if grid > 0:
        table = Gtk.Grid(row_spacing=2, column_spacing=2)
        for index in range(grid):
            kind = index % 3
            if kind == 0:
                widget = button("grid%d" % index, "B%d" % index)
                widget.set_size_request(60, 20)
            elif kind == 1:
                widget = entry("grid%d" % index)
                widget.set_width_chars(4)
            else:
                widget = check("grid%d" % index, "C%d" % index)
            table.attach(widget, index % 15, index // 15, 1, 1)
        column.pack_start(table, False, False, 0)
    main_window.add(column)

    second_window = Gtk.Window(title="second")
    second_window.move(760, 120)
    windows["second"] = second_window
    second = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
    second.set_border_width(8)
    second.pack_start(button("apply", "Apply"), False, False, 0)
    second.pack_start(entry("note"), False, False, 0)
    second_window.add(second)

    def frame(widget):
        top = widget.get_toplevel()
        origin = top.get_window().get_origin()
        x, y = widget.translate_coordinates(top, 0, 0)
        allocation = widget.get_allocation()
        return {"x": origin.x + x, "y": origin.y + y, "width": allocation.width, "height": allocation.height}

    def report():
        focus = None
        active = None
        for name, window in windows.items():
            if window.is_active():
                active = name
                for widget_name, widget in widgets.items():
                    if widget is window.get_focus():
                        focus = widget_name
        line = {
            "windows": {name: window.get_window().get_xid() for name, window in windows.items()},
            "widgets": {name: frame(widget) for name, widget in widgets.items()},
            "focus": focus,
            "active": active,
        }
        print(json.dumps(line), flush=True)

    def command(channel, condition):
        text = channel.readline()
        if not text or text.strip() == "quit":
            Gtk.main_quit()
            return False
        words = text.split()
        if len(words) == 2 and words[0] == "focus" and words[1] in widgets:
            widgets[words[1]].grab_focus()
        if words == ["scroll"]:
            adjustment = scrolled.get_vadjustment()
            end = adjustment.get_upper() - adjustment.get_page_size()
            adjustment.set_value(0 if adjustment.get_value() >= end else end)
        # Let the focus change reach the toolkit's state before reporting it.
        GLib.idle_add(lambda: report() and False, priority=GLib.PRIORITY_LOW)
        return True

    shown = set()

    def mapped(window, event):
        shown.add(window)
        if len(shown) == len(windows):
            GLib.timeout_add(0, lambda: report() and False)
        return False

    for window in windows.values():
        window.connect("map-event", mapped)
        window.connect("delete-event", lambda *args: True)
    # The main window comes last, so the manager gives it the focus.
    second_window.show_all()
    main_window.show_all()
    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP, command)
    Gtk.main()


if __name__ == "__main__":
    main()
