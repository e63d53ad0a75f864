#!/usr/bin/python3
"""Every window as a screen reader walks it: on each page of the main window,
in the viewer, the import window, the help window and the warning box of
Remove, every showing control that shows or takes text (push button, text,
combo box, list, table, page tab...) has a name, and no two showing buttons
or page tabs of one window answer to the same mnemonic. Controls that other
work adds later are walked too.

Usage: accessible_names_e2e.py PELLIMAR_BINARY SOURCE_DIR"""

import os
import shutil
import subprocess
import sys
import tempfile

from desktop import (Desktop, Program, application, check, clashing_mnemonics, exit_with_checks, find,
                     import_pyatspi, press, retried, unnamed_controls, wait_for)
from browser_e2e import headless, select_row, window


def walked(pyatspi, what, frame):
    missing = retried(what, lambda: unnamed_controls(pyatspi, frame))
    check("%s: every control has a name%s" % (what, "" if not missing else ": missing " + "; ".join(missing)),
          not missing)
    clashes = retried(what, lambda: clashing_mnemonics(pyatspi, frame))
    check("%s: no mnemonic clashes%s" % (what, "" if not clashes else ": " + "; ".join(clashes)), not clashes)


def walk_every_window(pyatspi, binary, folder):
    program = Program(binary, [], folder)
    try:
        app = wait_for("the program on the accessibility bus", lambda: application(pyatspi, program.process.pid))
        main = wait_for("the main window", lambda: window(app, "Pellimar", exact=True))
        for page, button in (("Get Faxes", "Download"), ("Configure", "Save"), ("Browse Faxes", "View Fax")):
            press(wait_for("the page tab " + page, lambda: find(main, "page tab", page)))
            wait_for("the page to show", lambda: find(main, "push button", button).getState().contains(
                pyatspi.STATE_SHOWING))
            walked(pyatspi, "main window, " + page, main)

        table = wait_for("the fax grid", lambda: find(main, "table", "faxGrid"))
        wait_for("its rows", lambda: table.queryTable().nRows == 2)
        select_row(table, 0)
        press(wait_for("View Fax", lambda: find(main, "push button", "View Fax")))
        viewer = wait_for("the viewer window", lambda: window(app, "  Viewing page 1 of"))
        walked(pyatspi, "viewer", viewer)
        press(wait_for("the viewer's Close", lambda: find(viewer, "push button", "Close")))

        press(wait_for("Import Fax...", lambda: find(main, "push button", "Import Fax...")))
        importer = wait_for("the import window", lambda: window(app, "Pellimar Import Fax", exact=True))
        wait_for("the file list", lambda: find(importer, "list item", "extra.apf"))
        walked(pyatspi, "import window", importer)
        press(wait_for("the import window's Close", lambda: find(importer, "push button", "Close")))

        select_row(table, 0)
        press(wait_for("Remove Fax", lambda: find(main, "push button", "Remove Fax")))
        box = wait_for("the warning box", lambda: window(app, "Warning"))
        walked(pyatspi, "warning box", box)
        press(wait_for("No", lambda: find(box, "push button", "No")))

        press(wait_for("Help", lambda: find(main, "push button", "Help")))
        help_window = wait_for("the help window", lambda: window(app, "Pellimar Help", exact=True))
        walked(pyatspi, "help window", help_window)
    finally:
        program.stop()


def main():
    binary, source = sys.argv[1], sys.argv[2]
    desktop = Desktop()
    try:
        pyatspi = import_pyatspi()
        pyatspi.setTimeout(10000, 15000)  # a program under a sanitizer on a busy machine answers slowly
        with tempfile.TemporaryDirectory(prefix="pellimar-e2e-names-") as folder:
            for sub in ("faxes", "temp"):
                os.makedirs(os.path.join(folder, sub))
            samples = [os.path.join(source, "tests/data/fax", name) for name in ("multi.apf", "text-fine.apf")]
            imported = headless(binary, folder, "--import", *samples)
            check("two faxes imported to walk the browser and the viewer", imported.returncode == 0)
            shutil.copy(samples[0], os.path.join(folder, "extra.apf"))
            walk_every_window(pyatspi, binary, folder)
    finally:
        desktop.close()
    exit_with_checks()


if __name__ == "__main__":
    main()
