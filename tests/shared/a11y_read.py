#!/usr/bin/python3
"""Reads a running Tamlo program's windows through the accessibility bus as a screen reader
does: every control's role, name and state; a table (which manages its descendants) through its
table interface, with its column and row names, the cells of its first rows and the first cell
of its last row.
    a11y_read.py <program> <rows>
Prints the counts, the time taken, and per table a "columns:" line and a "table:" line with its
children (the cells a client walking the tree meets), rows and columns; exit 1 when the program is
not on the bus or no cell could be read.
"""
import importlib.util
import pathlib
import sys
import time

import pyatspi


# The program's accessible application, as scripts/ui-press.py finds it.
_press = importlib.util.spec_from_file_location(
    "ui_press", pathlib.Path(__file__).resolve().parents[2] / "scripts" / "ui-press.py")
ui_press = importlib.util.module_from_spec(_press)
_press.loader.exec_module(ui_press)


def read_table(node, rows, out):
    table = node.queryTable()
    out["columns"].append("|".join(table.getColumnDescription(c) for c in range(table.nColumns)))
    last = table.getAccessibleAt(table.nRows - 1, 0) if table.nRows > 0 else None
    out["tables"].append(f"{node.childCount} children of {table.nRows} x {table.nColumns}, "
                         f"last row {last.name if last is not None else '-'}")
    for r in range(min(rows, table.nRows)):
        table.getRowDescription(r)
        for c in range(table.nColumns):
            cell = table.getAccessibleAt(r, c)
            if cell is not None:
                cell.name
                out["cells"] += 1


def children(node):
    """The node's children, but for those that went away meanwhile."""
    for i in range(node.childCount):
        try:
            yield node.getChildAtIndex(i)
        except Exception:
            continue


def read(node, rows, out, depth=0):
    if node is None or depth > 40:
        return
    out["nodes"] += 1
    node.getRoleName()
    node.name
    if node.getState().contains(pyatspi.STATE_MANAGES_DESCENDANTS):
        read_table(node, rows, out)
        return
    for child in children(node):
        read(child, rows, out, depth + 1)


def main():
    pyatspi.setTimeout(60000, 600000)
    app = ui_press.find_app(sys.argv[1], 30.0)
    if app is None:
        print(f"no program {sys.argv[1]} on the accessibility bus", file=sys.stderr)
        return 1
    out = {"nodes": 0, "cells": 0, "columns": [], "tables": []}
    start = time.time()
    read(app, int(sys.argv[2]), out)
    print(f"{sys.argv[1]}: read {out['nodes']} controls and {out['cells']} cells "
          f"in {time.time() - start:.1f} s")
    for columns in out["columns"]:
        print(f"columns: {columns}")
    for table in out["tables"]:
        print(f"table: {table}")
    return 0 if out["cells"] > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
