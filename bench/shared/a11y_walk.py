#!/usr/bin/python3
"""Times reading a running Tamlo program's windows through the accessibility bus, two ways:
  reader: as a screen reader does, tables through their table interface (column names, then
          the cells of the first <rows> rows by row and column);
  walk:   every child of every node, as a naive client or a tree dump does (role, name, states).
    a11y_walk.py <program> <rows> [seconds]
Prints one line per way: nodes (or cells) read and the seconds taken; a walk still going after
<seconds> (default 600) stops there and says so.
"""
import importlib.util
import pathlib
import sys
import time

import pyatspi

_press = importlib.util.spec_from_file_location(
    "ui_press", pathlib.Path(__file__).resolve().parents[2] / "scripts" / "ui-press.py")
ui_press = importlib.util.module_from_spec(_press)
_press.loader.exec_module(ui_press)


class OutOfTime(Exception):
    pass


def walk(node, count, deadline, depth=0):
    if node is None or depth > 40:
        return
    if time.monotonic() > deadline:
        raise OutOfTime
    count[0] += 1
    node.getRoleName()
    node.name
    node.getState()
    for i in range(node.childCount):
        try:
            child = node.getChildAtIndex(i)
        except Exception:  # went away meanwhile
            continue
        walk(child, count, deadline, depth + 1)


def read(node, rows, count, depth=0):
    if node is None or depth > 40:
        return
    node.getRoleName()
    node.name
    if node.getState().contains(pyatspi.STATE_MANAGES_DESCENDANTS):
        table = node.queryTable()
        for c in range(table.nColumns):
            table.getColumnDescription(c)
        for r in range(min(rows, table.nRows)):
            for c in range(table.nColumns):
                cell = table.getAccessibleAt(r, c)
                if cell is not None:
                    cell.name
                    count[0] += 1
        return
    for i in range(node.childCount):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        read(child, rows, count, depth + 1)


def main():
    pyatspi.setTimeout(60000, 600000)
    program, rows = sys.argv[1], int(sys.argv[2])
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 600.0
    app = ui_press.find_app(program, 30.0)
    if app is None:
        print(f"no program {program} on the accessibility bus", file=sys.stderr)
        return 1
    count = [0]
    start = time.monotonic()
    read(app, rows, count)
    print(f"{program:10} reader {count[0]:7d} cells {time.monotonic() - start:8.2f} s", flush=True)
    count = [0]
    start = time.monotonic()
    try:
        walk(app, count, start + seconds)
        stopped = ""
    except OutOfTime:
        stopped = " (stopped: out of time)"
    print(f"{program:10} walk   {count[0]:7d} nodes {time.monotonic() - start:8.2f} s{stopped}",
          flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
