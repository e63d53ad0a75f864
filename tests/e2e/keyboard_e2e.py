#!/usr/bin/python3
"""A newcomer's first session with the keyboard alone: real key events
through xdotool, no pointer and no accessible actions (the accessibility bus
only reads what the windows show). Configure: type the mailbox, Tab between
the fields, choose Security with the arrow keys, Save. Get Faxes: Download,
while the status log announces its new lines. Browse Faxes: arrow to the
second row, Enter views it, Page Down turns the page, Escape closes the
viewer. Remove, with its warning answered by key. The import window: choose
a file, Enter imports it. Xvfb has no window manager: the script gives the
focus to each window when it appears or comes back, as one would.

Usage: keyboard_e2e.py PELLIMAR_BINARY SOURCE_DIR"""

import os
import shutil
import subprocess
import sys
import tempfile

from desktop import (Desktop, Program, application, check, exit_with_checks, find, focus_window, import_pyatspi, keys,
                     label_of, retried, skip, type_text, wait_for)
from browser_e2e import FAXES, rows, start_mailbox, window


def pump():
    """Delivers the accessibility events that arrived."""
    from gi.repository import GLib
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def until(what, probe, timeout=60):
    def pumped():
        pump()
        return probe()
    return wait_for(what, pumped, timeout)


class FocusTracker:
    """The control that the focus last moved to, as a screen reader learns it
    from the focus events."""

    def __init__(self, pyatspi):
        self.node = None
        pyatspi.Registry.registerEventListener(self.moved, "object:state-changed:focused")

    def moved(self, event):
        if event.detail1:
            self.node = event.source


def shown(pyatspi, app, starts, exact=False):
    """The showing top-level window whose title begins with (or is) the text."""
    frame = window(app, starts, exact)
    return frame if frame is not None and frame.getState().contains(pyatspi.STATE_SHOWING) else None


def tab_to(pyatspi, focus, role, name=None, limit=40):
    """Presses Tab until the focus is on a control of that role (and name or
    label); an item view counts when it has the focus on one of its items.
    An item view's current item says it is focused also while the view is
    not, so the control itself must say so."""
    def matches(node):
        return (node is not None and node.getRoleName() == role and node.getState().contains(pyatspi.STATE_FOCUSED)
                and (name is None or name in (node.name, label_of(pyatspi, node))))

    visited = []
    for _ in range(limit):
        pump()
        node = focus.node

        def reached():
            for candidate in (node, node.parent if node is not None else None):
                if matches(candidate):
                    return candidate
            visited.append("none" if node is None else "%s %r" % (node.getRoleName(), node.name))
            return None

        found = retried("the focus", reached)
        if found is not None:
            return found
        keys("Tab")
        try:
            until("the focus to move", lambda: focus.node is not node, 5)
        except AssertionError:
            pass
    raise AssertionError("Tab never reached the %s %s; it went to %s" % (role, name or "", ", ".join(visited)))


def configure(pyatspi, focus, folder, port):
    keys("ctrl+Tab", "ctrl+Tab")
    tab_to(pyatspi, focus, "text", "Host")
    type_text("127.0.0.1:%s" % port)
    keys("Tab")
    type_text("fax")
    keys("Tab")
    type_text("secret")
    security = tab_to(pyatspi, focus, "combo box", "Security:")
    keys("Up", "Down")  # from "None" up to STARTTLS and back: the arrows choose
    keys("alt+s")
    registry = os.path.join(folder, "registry.reg")
    saved = until("the settings saved", lambda: os.path.exists(registry) and "rgSecurity" in open(registry).read()
                  and open(registry).read(), 20)
    check("Save stored what was typed and chosen",
          "127.0.0.1:%s" % port in saved and '"rgUserName"="fax"' in saved and '"rgSecurity"="None"' in saved)
    return security


def download(announced):
    keys("ctrl+Tab")  # back round to Get Faxes
    keys("alt+d")
    until("the run to end", lambda: any("A total of 3 Faxes where added." in line for line in announced), 120)
    check("the status log announced its lines as they came", any(line.startswith("Fax Detected") for line in announced)
          or len(announced) > 3)


def browse_and_view(pyatspi, focus, app):
    keys("ctrl+Tab")
    table = tab_to(pyatspi, focus, "table")
    until("three rows", lambda: len(rows(table)) == 3)
    keys("ctrl+Home", "Down")
    keys("Return")
    viewer = until("the viewer", lambda: window(app, "  Viewing page 1 of"))
    check("Enter views the second fax", viewer.name.endswith("fax0002.apf"))
    focus_window(viewer.name)
    keys("Next")
    until("page 2", lambda: window(app, "  Viewing page 2 of"), 20)
    check("Page Down turns to page 2", True)
    keys("Escape")
    until("the viewer to close", lambda: shown(pyatspi, app, "  Viewing page") is None, 20)
    check("Escape closes the viewer", True)
    focus_window("Pellimar")
    return table


def remove(pyatspi, focus, app, folder, table):
    tab_to(pyatspi, focus, "table")
    keys("ctrl+Home")
    keys("alt+r")
    until("the warning box", lambda: window(app, "Warning"))
    focus_window("Warning")
    keys("y")
    until("the box to close", lambda: shown(pyatspi, app, "Warning") is None, 20)
    focus_window("Pellimar")
    check("Y on the warning deletes the first fax",
          until("the file gone", lambda: not os.path.exists(os.path.join(folder, "faxes", FAXES[0])), 20))
    check("and its row", until("two rows", lambda: len(rows(table)) == 2, 20))


def import_file(pyatspi, focus, app, folder):
    keys("alt+i")
    importer = until("the import window", lambda: window(app, "Pellimar Import Fax", exact=True))
    focus_window("Pellimar Import Fax")
    files = tab_to(pyatspi, focus, "list", "FileListBox1")
    until("the file in the list", lambda: find(files, "list item", "extra.apf"), 30)
    keys("Home", "space")  # the focus makes the first file current; Space chooses it
    until("the file chosen", lambda: find(files, "list item", "extra.apf").getState().contains(pyatspi.STATE_SELECTED), 20)
    keys("Return")
    until("the import window to close", lambda: shown(pyatspi, app, "Pellimar Import Fax", True) is None, 30)
    check("Enter on the chosen file imports it",
          until("the copy", lambda: os.path.exists(os.path.join(folder, "faxes", "extra.apf")), 30))


def session(pyatspi, binary, source, folder, port):
    shutil.copy(os.path.join(source, "tests/data/fax/black-fine.apf"), os.path.join(folder, "extra.apf"))
    announced = []

    def on_insert(event):
        try:
            if event.source is not None and event.source.name == "Status log":
                announced.append(str(event.any_data))
        except Exception:  # the source may be gone
            pass

    pyatspi.Registry.registerEventListener(on_insert, "object:text-changed:insert")
    focus = FocusTracker(pyatspi)
    program = Program(binary, [], folder)
    try:
        app = wait_for("the program on the accessibility bus", lambda: application(pyatspi, program.process.pid))
        wait_for("the main window", lambda: window(app, "Pellimar", exact=True))
        wait_for("the main window on the display", lambda: focus_window("Pellimar"))
        configure(pyatspi, focus, folder, port)
        download(announced)
        table = browse_and_view(pyatspi, focus, app)
        remove(pyatspi, focus, app, folder, table)
        import_file(pyatspi, focus, app, folder)
        focus_window("Pellimar")
        keys("ctrl+Tab", "ctrl+Tab")  # Browse Faxes to Configure to Get Faxes
        keys("alt+c")
        check("Alt+C on Get Faxes closes the program", program.process.wait(30) is not None)
    finally:
        program.stop()


def main():
    binary, source = sys.argv[1], sys.argv[2]
    if os.geteuid() != 0 or not shutil.which("dovecot"):
        skip("needs root and Dovecot (tools/packages) for the local mailbox")
    if not shutil.which("xdotool"):
        skip("xdotool is not installed (tools/packages/e2e.txt)")
    desktop = Desktop()
    try:
        pyatspi = import_pyatspi()
        pyatspi.setTimeout(10000, 15000)  # a program under a sanitizer on a busy machine answers slowly
        with tempfile.TemporaryDirectory(prefix="pellimar-e2e-keyboard-") as folder:
            os.chmod(folder, 0o755)
            server, port = start_mailbox(source, folder)
            try:
                session(pyatspi, binary, source, folder, port)
            finally:
                subprocess.run([sys.executable, os.path.join(source, "tools/local_pop3_server.py"), "stop", server],
                               capture_output=True)
    finally:
        desktop.close()
    exit_with_checks()


if __name__ == "__main__":
    main()
