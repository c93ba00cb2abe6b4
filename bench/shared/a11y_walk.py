#!/usr/bin/python3
"""Times reading a running Tamlo program's windows through the accessibility bus, two ways:
  reader: as a screen reader does, tables through their table interface (column names, then
          the cells of the first <rows> rows by row and column);
  walk:   every child of every node, as a naive client or a tree dump does (role, name, states).
    a11y_walk.py <program> <rows> [seconds] [tab]
Prints one line per way: nodes (or cells) read and the seconds taken; a walk still going after
<seconds> (default 600) stops there and says so. With a tab's text, that page is shown first.
"""
import importlib.util
import pathlib
import sys
import time

import pyatspi

# The screen reader's read of the tests, and the program's application as it finds it.
_read = importlib.util.spec_from_file_location(
    "a11y_read", pathlib.Path(__file__).resolve().parents[2] / "tests" / "shared" / "a11y_read.py")
a11y_read = importlib.util.module_from_spec(_read)
_read.loader.exec_module(a11y_read)


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
    for child in a11y_read.children(node):
        walk(child, count, deadline, depth + 1)


def show_tab(node, text, depth=0):
    if node is None or depth > 40:
        return False
    role = node.getRoleName()
    if role == "page tab" and node.name == text:
        node.queryAction().doAction(0)
        return True
    if role in ("table", "list"):  # no tabs among cells
        return False
    return any(show_tab(child, text, depth + 1) for child in a11y_read.children(node))


def main():
    pyatspi.setTimeout(60000, 600000)
    program, rows = sys.argv[1], int(sys.argv[2])
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 600.0
    app = a11y_read.ui_press.find_app(program, 30.0)
    if app is None:
        print(f"no program {program} on the accessibility bus", file=sys.stderr)
        return 1
    if len(sys.argv) > 4:
        if not show_tab(app, sys.argv[4]):
            print(f"no tab {sys.argv[4]}", file=sys.stderr)
            return 1
        time.sleep(1)
    out = {"nodes": 0, "cells": 0, "columns": [], "tables": []}
    start = time.monotonic()
    a11y_read.read(app, rows, out)
    print(f"{program:10} reader {out['cells']:7d} cells {time.monotonic() - start:8.2f} s",
          flush=True)
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
