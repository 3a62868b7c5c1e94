#!/usr/bin/python3
"""Prints the tables of a running program as a screen reader hears them over AT-SPI.

    a11y-tables.py APP [--watch SECONDS] [--interval MS] [--rows N]

APP is the program's accessible name (its application name, e.g. tallyvo). Without --watch the
tables are read once, straight from the program. With --watch the script behaves as a screen
reader does: it listens for the program's events and reads the tables from its main loop, where
AT-SPI keeps what it has read of each cell until the program announces a change. It prints the
tables each time what it hears changes, with the seconds since it started, so what a blind user
would hear can be set beside screenshots of the same moments.

Needs the accessibility bus (at-spi2-core, python3-pyatspi) and the program started with
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 on the same session bus. Call it with Debian's /usr/bin/python3.
"""

import argparse
import sys
import time

import pyatspi
from gi.repository import GLib


def find_app(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.name == name:
            return app
    return None


def tables(root):
    found = []

    def walk(node, depth):
        if node is None or depth > 40:
            return
        try:
            role = node.getRole()
        except Exception:
            return
        if role == pyatspi.ROLE_TABLE:
            try:
                showing = node.getState().contains(pyatspi.STATE_SHOWING)
            except Exception:
                showing = False
            if showing:
                found.append(node)
            return
        for child in node:
            walk(child, depth + 1)

    walk(root, 0)
    return found


def read_table(table, max_rows):
    """The table's rows as lists of cell names, the column headers first."""
    t = table.queryTable()
    rows = [[t.getColumnDescription(c) for c in range(t.nColumns)]]
    for r in range(min(t.nRows, max_rows)):
        row = []
        for c in range(t.nColumns):
            cell = t.getAccessibleAt(r, c)
            row.append(cell.name if cell is not None else "?")
        rows.append(row)
    return rows


def render(app, max_rows):
    out = []
    for i, table in enumerate(tables(app)):
        out.append("table %d %r" % (i, table.name))
        for row in read_table(table, max_rows):
            # The key column is hidden on screen; show it apart so rows read as the screen shows.
            out.append("  " + " | ".join(row))
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("app")
    parser.add_argument("--watch", type=float, default=0)
    parser.add_argument("--interval", type=int, default=500)
    parser.add_argument("--rows", type=int, default=12)
    args = parser.parse_args()

    app = find_app(args.app)
    if app is None:
        sys.exit("no application %r on the accessibility bus" % args.app)
    if args.watch <= 0:
        print(render(app, args.rows))
        return

    start = time.monotonic()
    last = [None]

    def on_event(event):
        pass  # listening is what makes the program send its events, as for a screen reader

    for name in ("object:property-change:accessible-name", "object:children-changed",
                 "object:state-changed", "object:text-changed"):
        pyatspi.Registry.registerEventListener(on_event, name)

    def poll():
        try:
            now = render(app, args.rows)
        except Exception as e:  # the program went away
            now = "unreadable: %s" % e
        if now != last[0]:
            print("--- %.1f s\n%s" % (time.monotonic() - start, now), flush=True)
            last[0] = now
        if time.monotonic() - start >= args.watch:
            pyatspi.Registry.stop()
            return False
        return True

    GLib.timeout_add(args.interval, poll)
    pyatspi.Registry.start()


if __name__ == "__main__":
    main()
