#!/usr/bin/python3
"""Finding a fax by its text in the real program, driven through the
accessibility interface: two faxes of known sentences are imported, the
window reads their text in the background (its progress line says when all
are read), and a word typed into the Browse Faxes filter that no field holds
finds the one fax whose text holds it, marked "Found in text"; a sender typed
finds its fax unmarked.

Usage: text_search_e2e.py PELLIMAR_BINARY SOURCE_DIR"""

import os
import subprocess
import sys
import tempfile

from desktop import Desktop, Program, application, check, exit_with_checks, find, import_pyatspi, press, set_text, wait_for

FAXES = ("text-fine.apf", "text-standard.apf")


def window(app, title):
    for i in range(app.childCount):
        frame = app.getChildAtIndex(i)
        if frame is not None and frame.name == title:
            return frame
    return None


def rows(table):
    grid = table.queryTable()
    return [[grid.getAccessibleAt(r, c).name for c in range(6)] for r in range(grid.nRows)]


def search(pyatspi, binary, folder):
    program = Program(binary, [], folder, {"PELLIMAR_TEXT_WORKERS": "1"})
    try:
        app = wait_for("the program on the accessibility bus", lambda: application(pyatspi, program.process.pid))
        main = wait_for("the main window", lambda: window(app, "Pellimar"))
        press(wait_for("the Browse Faxes tab", lambda: find(main, "page tab", "Browse Faxes")))
        table = wait_for("the fax grid", lambda: find(main, "table", "faxGrid"))
        wait_for("two rows", lambda: len(rows(table)) == 2)
        check("the sixth column is Found in text", table.queryTable().getColumnHeader(5).name == "Found in text")
        # The progress line is a label whose name is its text.
        wait_for("every fax to be read", lambda: find(main, "label", starts="Text recognition: the text of every fax"), 180)

        search_box = find(main, "text", "Filter")
        set_text(search_box, "tractor harvest")
        found = wait_for("one row", lambda: rows(table) if len(rows(table)) == 1 else None, 10)
        check("words only the fine fax's text holds find it, marked Found in text",
              [(row[1], row[5]) for row in found] == [("faxes\\text-fine.apf", "Yes")])
        set_text(search_box, "laboratory")
        found = wait_for("the standard fax", lambda: rows(table) if rows(table) and rows(table)[0][1].endswith(
            "text-standard.apf") else None, 10)
        check("a word of the standard fax's second page finds it", [(row[1], row[5]) for row in found]
              == [("faxes\\text-standard.apf", "Yes")])
        set_text(search_box, "<none available>")
        found = wait_for("both rows", lambda: rows(table) if len(rows(table)) == 2 else None, 10)
        check("a field match is not marked Found in text", all(row[5] == "" for row in found))

        press(find(main, "page tab", "Get Faxes"))
        press(wait_for("the Close button", lambda: find(main, "push button", "Close")))
        program.process.wait(30)
        check("the program ended cleanly", program.process.returncode == 0)
    finally:
        program.stop()


def main():
    binary, source = sys.argv[1], sys.argv[2]
    desktop = Desktop()
    try:
        pyatspi = import_pyatspi()
        with tempfile.TemporaryDirectory(prefix="pellimar-e2e-text-") as folder:
            made = os.path.join(folder, "made")
            subprocess.run([sys.executable, os.path.join(source, "tools/make_text_fixtures.py"), made], check=True)
            work = os.path.join(folder, "work")
            os.makedirs(os.path.join(work, "faxes"))
            imported = subprocess.run([binary, "--import"] + [os.path.join(made, name) for name in FAXES], cwd=work,
                                      capture_output=True, text=True, timeout=120,
                                      env=dict(os.environ, PELLIMAR_REGISTRY=os.path.join(work, "registry.reg"),
                                               ASAN_OPTIONS="detect_leaks=0", QT_QPA_PLATFORM="offscreen"))
            check("the two faxes are imported", imported.returncode == 0)
            search(pyatspi, binary, work)
    finally:
        desktop.close()
    exit_with_checks()


if __name__ == "__main__":
    main()
