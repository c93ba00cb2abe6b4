#!/usr/bin/python3
"""Presses a control of a running Tamlo program through the accessibility bus, by its text, as
an operator would click it: a push button or a menu item (also one of a closed menu).
Used by scripts/screenshots.sh; needs a D-Bus session and QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 in
the program's environment.
    ui-press.py <program> <text> [<text> ...]     presses each in turn (spaces in texts ignored)
    ui-press.py <program> --list                  prints the controls that can be pressed
Exit 1 when a text is not found.
"""
import sys
import time

import pyatspi

PRESSABLE = {"push button", "menu item", "check box", "radio button"}


def find_app(name, seconds=10.0):
    end = time.time() + seconds
    while time.time() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.name == name:
                return app
        time.sleep(0.2)
    return None


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    if node.getRoleName() in ("table", "tree table", "list"):
        return  # grids hold thousands of cells and nothing to press
    for i in range(node.childCount):
        try:
            yield from walk(node.getChildAtIndex(i), depth + 1)
        except Exception:  # a control that went away meanwhile
            continue


def squeeze(text):
    return "".join((text or "").split())


def press(app, text):
    wanted = squeeze(text)
    for node in walk(app):
        try:
            role = node.getRoleName()
            if role not in PRESSABLE or squeeze(node.name) != wanted:
                continue
            # Hidden panels keep their buttons (two say "确  定"): only what is on the screen.
            if role == "push button" and not node.getState().contains(pyatspi.STATE_SHOWING):
                continue
            action = node.queryAction()
        except Exception:
            continue
        if action.nActions > 0:
            try:
                action.doAction(0)
            except Exception:
                pass  # an action that opens a modal dialog answers only when the dialog closes
            return True
    return False


def main():
    # Short calls: a press that opens a modal dialog must not hold the script for long.
    pyatspi.setTimeout(1500, 15000)
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    app = find_app(sys.argv[1])
    if app is None:
        print(f"no program {sys.argv[1]} on the accessibility bus", file=sys.stderr)
        return 1
    if sys.argv[2] == "--list":
        for node in walk(app):
            if node.getRoleName() in PRESSABLE:
                print(f"{node.getRoleName()}: {node.name}")
        return 0
    for text in sys.argv[2:]:
        if not press(app, text):
            print(f"{sys.argv[1]}: nothing to press named {text}", file=sys.stderr)
            return 1
        time.sleep(0.4)  # the click is animated; let it land before the next
    return 0


if __name__ == "__main__":
    sys.exit(main())
