#!/usr/bin/python3
"""What a screen reader hears from the editor, checked against tarn.

Usage: atspi_test.py EDITOR TARN ARCHIVE

Starts the editor on ARCHIVE with the accessibility bridge on, selects an
entry with the keyboard, and reads back through AT-SPI the names of the
panes, the tree's items and the list's rows, which must be what `tarn list`
and `tarn show` print for the same archive; then edits a value in place
and reads the changed entry's mark. Needs an X display and a D-Bus
session with the accessibility bus (scripts/test runs it under xvfb-run and
dbus-run-session); the editor's settings go to a temporary folder.
"""
import os
import subprocess
import sys
import tempfile
import time

import pyatspi

TIMEOUT = 30.0


def wait_for(what, probe):
    """The first true value of probe() within the time limit."""
    end = time.monotonic() + TIMEOUT
    while time.monotonic() < end:
        try:
            value = probe()
        except Exception:  # the tree is still being built; ask again
            value = None
        if value:
            return value
        time.sleep(0.2)
    raise TimeoutError("timed out waiting for " + what)


def find(node, predicate, depth=0):
    if node is None or depth > 12:
        return None
    if predicate(node):
        return node
    for i in range(node.childCount):
        found = find(node.getChildAtIndex(i), predicate, depth + 1)
        if found is not None:
            return found
    return None


def named(name):
    return lambda node: node.name == name


def cells(table):
    t = table.queryTable()
    return [tuple(t.getAccessibleAt(r, c).name for c in range(t.nColumns)) for r in range(t.nRows)]


def run(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True).stdout.decode("latin-1")


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    editor, tarn, archive = sys.argv[1:]
    names = [line.split("\t", 2)[2] for line in run(tarn, "list", archive).splitlines()]
    # The first rules text of the archive, and what tarn shows of it.
    target = next(n for n in names if n.lower().endswith(".ini"))
    rows = [tuple(line.split("\t", 1)) for line in run(tarn, "show", archive, target).splitlines()]

    failures = []
    passed = 0

    def check(what, ok, detail=""):
        nonlocal passed
        if ok:
            passed += 1
        else:
            failures.append(what + (": " + detail if detail else ""))
            print("FAIL: " + failures[-1], file=sys.stderr)

    home = tempfile.mkdtemp(prefix="tarn-atspi-")
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
               HOME=home, XDG_CONFIG_HOME=home, XDG_RUNTIME_DIR=home)
    editor_process = subprocess.Popen([editor, archive], env=env)
    try:
        def the_app():
            for app in pyatspi.Registry.getDesktop(0):
                if app is not None and app.get_process_id() == editor_process.pid:
                    return app
            return None

        app = wait_for("the editor on the accessibility bus", the_app)
        tree = wait_for("the tree pane 'Entries'", lambda: find(app, named("Entries")))
        rows_pane = wait_for("the list pane 'Rows'", lambda: find(app, named("Rows")))
        wait_for("the tree's items", lambda: tree.queryTable().nRows == len(names))

        check("the tree lists what tarn list lists",
              [c[0] for c in cells(tree)] == names)
        header = tree.queryTable().getColumnHeader(0)
        check("the tree's header reads 'Name'", header is not None and header.name == "Name")

        bar = find(app, lambda node: node.getRoleName() == "status bar")
        panes = [bar.getChildAtIndex(i).name for i in range(bar.childCount)] if bar else []
        check("the status bar's panes are named",
              all(p in panes for p in ("Message", "Caps Lock", "Num Lock", "Scroll Lock")),
              repr(panes))

        # The keyboard: into the tree, to its first item, then down to the target.
        tree.queryComponent().grabFocus()
        window = wait_for("the main window", lambda: subprocess.run(
            ["xdotool", "search", "--pid", str(editor_process.pid), "--name", "^Tarn Editor"],
            capture_output=True, text=True).stdout.split())
        subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], check=True)
        subprocess.run(["xdotool", "key", "--delay", "20", "Home"], check=True)
        steps = names.index(target)
        if steps:
            subprocess.run(["xdotool", "key", "--delay", "5", "--repeat", str(steps), "Down"],
                           check=True)

        try:
            wait_for("the rows of " + target, lambda: cells(rows_pane) == rows)
            check("the list shows what tarn show shows of " + target, True)
        except TimeoutError:
            shown = cells(rows_pane)
            check("the list shows what tarn show shows of " + target, False,
                  "%d rows, first %r; tarn: %d rows, first %r"
                  % (len(shown), shown[:2], len(rows), rows[:2]))
        table = rows_pane.queryTable()
        headers = [table.getColumnHeader(c) for c in range(table.nColumns)]
        check("the list's headers read 'Name' and 'Value'",
              [h.name if h else None for h in headers] == ["Name", "Value"],
              repr([h.name if h else None for h in headers]))

        # An edit in place: F2 on a line's row opens a field; the entry it
        # changes is then described as changed in the tree.
        # (The editor is ended without saving: the archive stays as it was.)
        line = next(i for i, row in enumerate(rows) if row[0].startswith("    "))
        subprocess.run(["xdotool", "key", "--delay", "20", "F6", "Home"], check=True)  # to the list
        if line:
            subprocess.run(["xdotool", "key", "--delay", "5", "--repeat", str(line), "Down"], check=True)
        subprocess.run(["xdotool", "key", "--delay", "20", "F2"], check=True)
        # Qt's bridge lists a table's cells, not the field over one, so the
        # field's name 'Value' is checked offscreen (tests/app/edit_test.cpp).
        time.sleep(0.5)
        subprocess.run(["xdotool", "key", "--delay", "20", "ctrl+a"], check=True)
        subprocess.run(["xdotool", "type", "--delay", "20", "12345"], check=True)
        subprocess.run(["xdotool", "key", "--delay", "20", "Return"], check=True)
        item = tree.queryTable().getAccessibleAt(names.index(target), 0)
        try:
            wait_for("the changed entry's mark", lambda: item.description == "changed")
            check("the changed entry is described as changed", True)
        except TimeoutError:
            check("the changed entry is described as changed", False, repr(item.description))
    except TimeoutError as error:
        failures.append(str(error))
        print("FAIL: " + str(error), file=sys.stderr)
    finally:
        editor_process.terminate()
        editor_process.wait(10)

    print("atspi: %d passed, %d failed" % (passed, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
