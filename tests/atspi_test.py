#!/usr/bin/python3
"""What a screen reader hears from the editor, checked against tarn.

Usage: atspi_test.py EDITOR TARN ARCHIVE

Starts the editor on ARCHIVE with the accessibility bridge on, selects an
entry with the keyboard, and reads back through AT-SPI the names of the
panes, the tree's items and the list's rows, which must be what `tarn list`
and `tarn show` print for the same archive; what the status bar's message
pane says, and that each new message is announced; a link's description,
which must name where `tarn refs` finds the block's definition, and the
count View > Problems gives, which must be what `tarn lint` finds; the
description of the pane that shows a texture, which must agree with `tarn
info`; then edits a value in place, hears the field named as it takes the
focus, and reads the changed entry's mark; then opens the find field with
Ctrl+F and reads it as an editable text; then searches the rules with Find
in Rules and reads its matches, which must be what `tarn grep -i` prints;
then compares the archive, through File > Compare With..., with a copy in
which one value differs, and reads the changed row's description; then
opens a load order of the archive and that copy, and reads each overriding
entry's From column and mark, which must be what `tarn overrides` prints. Needs an
X display and a D-Bus session with the accessibility bus (scripts/test runs
it under xvfb-run and dbus-run-session); the editor's settings go to a
temporary folder.
"""
import os
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

TIMEOUT = 30.0


def pump():
    """Delivers the accessibility events that have arrived."""
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def wait_for(what, probe):
    """The first true value of probe() within the time limit."""
    end = time.monotonic() + TIMEOUT
    while time.monotonic() < end:
        pump()
        try:
            value = probe()
        except Exception:  # the tree is still being built; ask again
            value = None
        if value:
            return value
        time.sleep(0.2)
    raise TimeoutError("timed out waiting for " + what)


# Roles whose children are items, read through the table interface: not
# walked, which would cost a round trip per cell.
ITEM_VIEWS = ("table", "tree table", "tree", "list")


def find(node, predicate, depth=0):
    if node is None or depth > 12:
        return None
    if predicate(node):
        return node
    if node.getRoleName() in ITEM_VIEWS:
        return None
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


def plural(count, one, many):
    return "%d %s" % (count, one if count == 1 else many)


def run(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True).stdout.decode("latin-1")


def run_status(tool, *args):
    """Output of a tool whose exit status 1 means 'nothing found'."""
    result = subprocess.run([tool, *args], capture_output=True)
    if result.returncode not in (0, 1):
        raise subprocess.CalledProcessError(result.returncode, [tool, *args])
    return result.stdout.decode("latin-1")


def compared_copy(tarn, archive, target, folder):
    """A copy of ARCHIVE in FOLDER whose TARGET has its first value changed."""
    tree = os.path.join(folder, "tree")
    run(tarn, "extract", archive, tree)
    path = os.path.join(tree, *target.replace("\\", "/").split("/"))
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    for i, line in enumerate(lines):
        if b"=" in line and not line.lstrip().startswith(b";"):
            lines[i] = line.split(b"=", 1)[0] + b"= AtspiValue"
            break
    with open(path, "wb") as f:
        f.write(b"\n".join(lines))
    copy = os.path.join(folder, "compared.big")
    run(tarn, "pack", copy, tree)
    return copy


def app_of(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def check_order(editor, tarn, archive, changed, target, home, env, check):
    """A load order of ARCHIVE and the CHANGED copy over it: the tree's From
    column reads each entry's mark and archive as tarn overrides prints
    them, with the shadowed archive in its description, and the Load Order
    pane lists both archives."""
    order = os.path.join(home, "game.order")
    with open(order, "w") as f:
        f.write(archive + "\n" + changed + "\n")
    marks = {}
    for line in run(tarn, "overrides", "@" + order).splitlines():
        fields = line.split("\t")
        if fields[0] != "shadowed":
            marks[fields[1]] = fields[0] + " " + os.path.basename(fields[2])
    process = subprocess.Popen([editor, order], env=env)
    try:
        app = wait_for("the load-order window on the accessibility bus", lambda: app_of(process.pid))
        tree = wait_for("the tree pane 'Entries'", lambda: find(app, named("Entries")))
        wait_for("the tree's items", lambda: tree.queryTable().nRows > 0)
        table = tree.queryTable()
        read = {}
        for r in range(table.nRows):
            name = table.getAccessibleAt(r, 0).name
            if name in marks:
                cell = table.getAccessibleAt(r, 1)
                read[name] = (cell.name, cell.description)
        check("the tree reads each overriding entry's From and mark as tarn overrides prints them",
              {name: shown[0] for name, shown in read.items()} == marks, repr(read))
        check("the changed entry's description names the archive it overrides",
              target in read and "different copies in " + os.path.basename(archive) in read[target][1],
              repr(read.get(target)))
        header = table.getColumnHeader(1)
        check("the tree's second header reads 'From'", header is not None and header.name == "From")
        pane = wait_for("the pane 'Load Order'", lambda: find(app, named("Load Order")))
        check("the Load Order pane lists both archives",
              [c[0] for c in cells(pane)] == [os.path.basename(archive), os.path.basename(changed)],
              repr(cells(pane)))
    finally:
        process.terminate()
        process.wait(10)


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    editor, tarn, archive = sys.argv[1:]
    listed = [line.split("\t", 2) for line in run(tarn, "list", archive).splitlines()]
    names = [fields[2] for fields in listed]
    # The first rules text of the archive, and what tarn shows of it.
    target = next(n for n in names if n.lower().endswith(".ini"))
    target_size = int(next(fields[1] for fields in listed if fields[2] == target))
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
    # What the editor announces: every new name of one of its objects.
    announced = []

    def on_name_change(event):
        try:
            # Qt sends the object with the event, not its new name.
            if event.source.get_process_id() == editor_process.pid:
                announced.append((event.source.description, event.source.name))
        except Exception:  # the object went away meanwhile
            pass

    pyatspi.Registry.registerEventListener(on_name_change, "object:property-change:accessible-name")
    # What takes the focus: a screen reader announces it by these events,
    # also for a field that no pane lists among its children.
    focused = []

    def on_focus(event):
        try:
            if event.detail1 == 1 and event.source.get_process_id() == editor_process.pid:
                focused.append((event.source.getRoleName(), event.source.name))
        except Exception:  # the object went away meanwhile
            pass

    pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
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
        panes = [bar.getChildAtIndex(i) for i in range(bar.childCount)] if bar else []
        check("the status bar's lock panes are named",
              all(p in [pane.name for pane in panes] for p in ("Caps Lock", "Num Lock", "Scroll Lock")),
              repr([pane.name for pane in panes]))
        # The message pane is read by what it says; its description says
        # which pane it is.
        message = next((pane for pane in panes if pane.description == "Message"), None)
        check("the message pane says how many entries the archive holds",
              message is not None and message.name == plural(len(names), "entry", "entries"),
              repr([(pane.name, pane.description) for pane in panes]))

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

        # The entry's size and rows, said in the message pane and announced.
        said = plural(target_size, "byte", "bytes") + ", " + plural(len(rows), "row", "rows")
        try:
            wait_for("the announcement '%s'" % said, lambda: ("Message", said) in announced)
            check("selecting an entry announces its size and rows", True)
        except TimeoutError:
            check("selecting an entry announces its size and rows", False, repr(announced[-3:]))
        check("the message pane reads what it shows",
              message is not None and message.name == said,
              repr(message.name if message else None))

        # A value naming a defined block is a link, described with where
        # tarn refs finds the block's definition: in the first rules text
        # with such a value, by what tarn show prints of them all.
        ini = [n for n in names if n.lower().endswith(".ini")]
        shown = {n: [tuple(line.split("\t", 1)) for line in run(tarn, "show", archive, n).splitlines()]
                 for n in ini}
        defined = {row[0] for n in ini for row in shown[n] if not row[0].startswith(" ")}
        linking = next((n for n in ini
                        if any(row[0].startswith(" ") and len(row) > 1 and set(row[1].split()) & defined
                               for row in shown[n])), None)
        link = None
        if linking is not None:
            tree.queryComponent().grabFocus()
            subprocess.run(["xdotool", "key", "--delay", "20", "Home"], check=True)
            if names.index(linking):
                subprocess.run(["xdotool", "key", "--delay", "5", "--repeat",
                                str(names.index(linking)), "Down"], check=True)

            def first_link():
                if cells(rows_pane) != shown[linking]:
                    return None
                t = rows_pane.queryTable()
                described = [(r, t.getAccessibleAt(r, 1).description) for r in range(t.nRows)]
                return next(((r, d.split("; ")[0]) for r, d in described
                             if d.startswith("reference to ")), None)
            try:
                link = wait_for("a link among the rows of " + linking, first_link)
            except TimeoutError:
                pass
        if link is None:
            check("a value of %s reads as a reference" % linking, False)
        else:
            block, entry = link[1][len("reference to "):].split(" in ", 1)
            defs = [line.split("\t") for line in run_status(tarn, "refs", block, archive).splitlines()
                    if line.startswith("def\t")]
            check("a link's description names where tarn refs finds its definition",
                  block in shown[linking][link[0]][1].split() and bool(defs) and defs[0][1] == entry,
                  repr((link, defs[:1])))

        # View > Problems: the message pane counts what tarn lint finds.
        problems = len(run_status(tarn, "lint", archive).splitlines())
        subprocess.run(["xdotool", "key", "--delay", "100", "alt+v", "b"], check=True)
        counted = plural(problems, "problem", "problems")
        try:
            wait_for("the message '%s'" % counted, lambda: message is not None and message.name == counted)
            check("View > Problems says how many problems tarn lint finds", True)
        except TimeoutError:
            check("View > Problems says how many problems tarn lint finds", False,
                  repr(message.name if message else None))
        subprocess.run(["xdotool", "key", "--delay", "100", "alt+v", "b"], check=True)
        tree.queryComponent().grabFocus()


        # facts, as tarn info gives them; then back to the rules text.
        info = [line.split("\t") for line in run(tarn, "info", archive).splitlines()]
        texture = next(((name, details.split()) for name, kind, details in info
                        if kind == "image" and details.startswith("dds ")), None)
        if texture is None:
            check("the archive holds a DDS texture", False)
        else:
            width, height = texture[1][1].split("x")
            described = "Image: %s \u00d7 %s, %s, %s" % (
                width, height, texture[1][2].upper(),
                plural(int(texture[1][3].split("=")[1]), "mipmap", "mipmaps"))
            tree.queryComponent().grabFocus()
            subprocess.run(["xdotool", "key", "--delay", "20", "Home"], check=True)
            subprocess.run(["xdotool", "key", "--delay", "5", "--repeat",
                            str(names.index(texture[0])), "Down"], check=True)
            entry = wait_for("the pane 'Entry'", lambda: find(app, named("Entry")))
            try:
                wait_for("the description '%s'" % described, lambda: entry.description == described)
                check("the entry pane describes a texture's kind and facts", True)
            except TimeoutError:
                check("the entry pane describes a texture's kind and facts", False,
                      repr(entry.description))
            tree.queryComponent().grabFocus()
            subprocess.run(["xdotool", "key", "--delay", "20", "Home"], check=True)
            if steps:
                subprocess.run(["xdotool", "key", "--delay", "5", "--repeat", str(steps), "Down"],
                               check=True)
            wait_for("the rows of " + target + " again", lambda: cells(rows_pane) == rows)

        # An edit in place: F2 on a line's row opens a field; the entry it
        # changes is then described as changed in the tree.
        # (The editor is ended without saving: the archive stays as it was.)
        line = next(i for i, row in enumerate(rows) if row[0].startswith("    "))
        subprocess.run(["xdotool", "key", "--delay", "20", "F6", "Home"], check=True)  # to the list
        if line:
            subprocess.run(["xdotool", "key", "--delay", "5", "--repeat", str(line), "Down"], check=True)
        subprocess.run(["xdotool", "key", "--delay", "20", "F2"], check=True)
        # Qt's bridge lists a table's cells, not the field over one: the
        # field is heard as the focus moves to it.
        try:
            wait_for("the focus on the field 'Value'", lambda: ("text", "Value") in focused)
            check("F2 gives the focus to an editable text named 'Value'", True)
        except TimeoutError:
            check("F2 gives the focus to an editable text named 'Value'", False, repr(focused[-3:]))
        subprocess.run(["xdotool", "key", "--delay", "20", "ctrl+a"], check=True)
        subprocess.run(["xdotool", "type", "--delay", "20", "12345"], check=True)
        subprocess.run(["xdotool", "key", "--delay", "20", "Return"], check=True)
        item = tree.queryTable().getAccessibleAt(names.index(target), 0)
        try:
            wait_for("the changed entry's mark", lambda: item.description == "changed")
            check("the changed entry is described as changed", True)
        except TimeoutError:
            check("the changed entry is described as changed", False, repr(item.description))

        # Ctrl+F: the find field, an editable text with its name, that
        # holds what is typed into it.
        subprocess.run(["xdotool", "key", "ctrl+f"], check=True)
        subprocess.run(["xdotool", "type", "--delay", "20", "ini"], check=True)

        def find_field():
            field = find(app, lambda node: node.name == "Find entry")
            states = field.getState() if field else None
            return field if states and states.contains(pyatspi.STATE_EDITABLE) and \
                states.contains(pyatspi.STATE_FOCUSED) else None

        try:
            field = wait_for("the find field with the focus", find_field)
            check("Ctrl+F shows the find field as an editable text named 'Find entry'",
                  field.getRoleName() == "text", field.getRoleName())
            wait_for("the typed text in the find field",
                     lambda: field.queryText().getText(0, -1) == "ini")
            check("the find field holds what was typed", True)
        except TimeoutError as error:
            check("Ctrl+F shows the find field as an editable text named 'Find entry'", False,
                  str(error))
        # The find field closes with Escape before the rules are searched.
        subprocess.run(["xdotool", "key", "Escape"], check=True)

        # Find in Rules: the matches pane reads as tarn grep -i prints, one
        # row of Entry, Block, Name and Value per match.
        pattern = rows[0][0]
        grep = [tuple(line.split("\t")) for line in run_status(tarn, "grep", "-i", pattern, archive).splitlines()]
        check("tarn grep -i finds the first block's name", len(grep) > 0)
        subprocess.run(["xdotool", "key", "--delay", "20", "ctrl+shift+f"], check=True)
        field = wait_for("the field 'Find in rules'", lambda: find(app, named("Find in rules")))
        field.queryComponent().grabFocus()
        subprocess.run(["xdotool", "type", "--delay", "20", pattern], check=True)
        subprocess.run(["xdotool", "key", "Return"], check=True)
        matches = wait_for("the matches pane 'Matches'", lambda: find(app, named("Matches")))
        try:
            wait_for("the matches of " + pattern, lambda: cells(matches) == grep)
            check("the matches pane shows what tarn grep -i finds", True)
        except TimeoutError:
            shown = cells(matches)
            check("the matches pane shows what tarn grep -i finds", False,
                  "%d rows, first %r; tarn: %d rows, first %r" % (len(shown), shown[:2], len(grep), grep[:2]))
        table = matches.queryTable()
        headers = [table.getColumnHeader(c) for c in range(table.nColumns)]
        check("the matches' headers read 'Entry', 'Block', 'Name' and 'Value'",
              [h.name if h else None for h in headers] == ["Entry", "Block", "Name", "Value"],
              repr([h.name if h else None for h in headers]))

        # File > Compare With... against a copy whose target has one value
        # changed: the changed row must say so in its description.
        changed = compared_copy(tarn, archive, target, home)
        subprocess.run(["xdotool", "key", "--delay", "100", "alt+f", "r"], check=True)
        wait_for("the file dialog", lambda: find(app, lambda n: n.getRoleName() == "dialog"))
        time.sleep(0.5)
        subprocess.run(["xdotool", "type", "--delay", "5", changed], check=True)
        subprocess.run(["xdotool", "key", "Return"], check=True)
        changes = wait_for("the Compare window's 'Changes'", lambda: find(app, named("Changes")))
        compared = wait_for("the Compare window's 'Changed rows'", lambda: find(app, named("Changed rows")))
        wait_for("one changed entry", lambda: changes.queryTable().nRows == 1)
        check("the changed entry is described",
              changes.queryTable().getAccessibleAt(0, 1).description == "changed: " + target,
              repr(changes.queryTable().getAccessibleAt(0, 1).description))
        changes.queryComponent().grabFocus()
        subprocess.run(["xdotool", "key", "--delay", "50", "End", "Home"], check=True)

        def described_rows():
            t = compared.queryTable()
            return [t.getAccessibleAt(r, 1).description for r in range(t.nRows)]
        try:
            wait_for("an added row in 'Changed rows'",
                     lambda: any(d.startswith("added row: ") and d.endswith("AtspiValue")
                                 for d in described_rows()))
            check("a changed row reads as removed and added",
                  any(d.startswith("removed row: ") for d in described_rows()), repr(described_rows()))
        except TimeoutError:
            check("a changed row reads as removed and added", False, repr(described_rows()))
    except TimeoutError as error:
        failures.append(str(error))
        print("FAIL: " + str(error), file=sys.stderr)
    finally:
        editor_process.terminate()
        editor_process.wait(10)
    try:
        check_order(editor, tarn, archive, compared_copy(tarn, archive, target, tempfile.mkdtemp(dir=home)),
                    target, home, env, check)
    except TimeoutError as error:
        failures.append(str(error))
        print("FAIL: " + str(error), file=sys.stderr)

    print("atspi: %d passed, %d failed" % (passed, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
