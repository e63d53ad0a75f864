#!/usr/bin/python3
"""The import window of the real program, driven from outside: Import Fax...
opens it, the drive list moves to the home folder, where a fax file lies,
clicking the file and OK copies it into faxes/ and catalogues it; after the
program is closed, `pellimar --list` shows the record with "<none available>"
as its Sender ID.

Usage: import_e2e.py PELLIMAR_BINARY SOURCE_DIR"""

import os
import shutil
import subprocess
import sys
import tempfile

from desktop import descendants, Desktop, Program, application, find, import_pyatspi, press, wait_for, check, exit_with_checks

def top_window(app, title):
    for i in range(app.childCount):
        window = app.getChildAtIndex(i)
        if window is not None and window.name == title and window.getState().contains(pyatspi.STATE_SHOWING):
            return window
    return None


def click(pyatspi, node):
    """A real pointer click in the middle of `node`."""
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["xdotool", "mousemove", str(box.x + box.width // 2), str(box.y + box.height // 2),
                    "click", "1"], check=True)


def keys(*names):
    subprocess.run(["xdotool", "key"] + list(names), check=True)


def log_text(frame):
    """The texts of the window's text fields, the status log among them."""
    texts = []
    for node in descendants(frame):
        if node.getRoleName() == "text":
            text = node.queryText()
            texts.append(text.getText(0, text.characterCount))
    return "\n".join(texts)


def eventually(probe, timeout=60):
    try:
        return bool(wait_for("a check", probe, timeout))
    except AssertionError:
        return False


def list_catalogue(binary, folder):
    env = dict(os.environ, PELLIMAR_REGISTRY=os.path.join(folder, "registry.reg"), ASAN_OPTIONS="detect_leaks=0")
    run = subprocess.run([binary, "--list"], cwd=folder, env=env, capture_output=True, text=True, timeout=60)
    return [line.split("\t") for line in run.stdout.splitlines()]


def imports_from_elsewhere(binary, fax, home, folder):
    """Imports `fax` from the home folder; returns the full path imported."""
    source = os.path.join(home, "fax7.apf")
    shutil.copy(fax, source)
    program = Program(binary, [], folder)
    try:
        # Generous waits: the machines running the tests are often busy.
        app = wait_for("the program on the accessibility bus", lambda: application(pyatspi, program.process.pid), 90)
        main = wait_for("the main window", lambda: top_window(app, "Pellimar"), 90)
        press(wait_for("Import Fax...", lambda: find(main, "push button", "Import Fax..."), 90))
        window = wait_for("the import window", lambda: top_window(app, "Pellimar Import Fax"), 90)
        ok = wait_for("OK", lambda: find(window, "push button", "OK"), 90)
        check("OK is disabled until a file is selected", not ok.getState().contains(pyatspi.STATE_ENABLED))

        # The home folder is the last entry of the drive list, the first
        # combo box (a combo box is named by its text).
        click(pyatspi, wait_for("the drive list", lambda: find(window, "combo box"), 90))
        keys("End", "Return")
        files = wait_for("the file list", lambda: find(window, "list", "FileListBox1"), 90)
        item = wait_for("fax7.apf in the file list", lambda: find(files, "list item", "fax7.apf"), 90)
        click(pyatspi, item)
        wait_for("OK enabled", lambda: ok.getState().contains(pyatspi.STATE_ENABLED), 60)
        press(ok)

        wait_for("the import window to close", lambda: top_window(app, "Pellimar Import Fax") is None, 90)
        copied = os.path.join(folder, "faxes", "fax7.apf")
        check("the fax is copied into faxes/",
              eventually(lambda: os.path.isfile(copied) and open(copied, "rb").read() == open(fax, "rb").read()))
        check("the log names the imported file", eventually(lambda: ("Added 1 Fax: " + source) in log_text(main)))
        check_grid(main)
        close = wait_for("Close", lambda: find(main, "push button", "Close"), 90)
        try:
            press(close)
        except Exception:  # the program may end before it answers
            pass
        # Closing saves the catalogue into faxes.qdb.
        program.process.wait(60)
    finally:
        program.stop()
    return source


def check_grid(main):
    """The Browse Faxes page lists the imported fax, without a sender."""
    press(find(main, "page tab", "Browse Faxes"))
    table = wait_for("the fax grid", lambda: find(main, "table", "faxGrid"), 90)

    def rows():
        grid = table.queryTable()
        return [[grid.getAccessibleAt(r, c).name for c in range(3)] for r in range(grid.nRows)]

    listed = wait_for("a row in the grid", lambda: rows() or None, 60)
    check("the Browse grid lists the imported fax as New with <none available> as its Sender ID",
          listed == [["New", "faxes\\fax7.apf", "<none available>"]])
    press(find(main, "page tab", "Get Faxes"))


def catalogued(binary, folder):
    rows = list_catalogue(binary, folder)
    check("pellimar --list shows one record", len(rows) == 1)
    if rows:
        check("the record: New, faxes\\fax7.apf, <none available>, <none available>",
              rows[0][:4] == ["New", "faxes\\fax7.apf", "<none available>", "<none available>"])


def main():
    global pyatspi
    binary, source = sys.argv[1], sys.argv[2]
    if not shutil.which("xdotool"):
        print("SKIPPED: xdotool is not installed (tools/packages/e2e.txt)")
        sys.exit(77)
    desktop = Desktop()
    try:
        pyatspi = import_pyatspi()
        with tempfile.TemporaryDirectory(prefix="pellimar-e2e-import-") as folder:
            imports_from_elsewhere(binary, os.path.join(source, "tests/data/fax/multi.apf"), desktop.home, folder)
            catalogued(binary, folder)
    finally:
        desktop.close()
    exit_with_checks()


if __name__ == "__main__":
    main()
