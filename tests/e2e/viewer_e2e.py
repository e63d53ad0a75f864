#!/usr/bin/python3
"""The viewer window of the real program, driven from outside through the
accessibility interface: `pellimar FAX.apf` shows the fax, Prev and Next page
through it, the zoom box clamps what is typed, and a file that is not a fax
gives the error box.

Usage: viewer_e2e.py PELLIMAR_BINARY SOURCE_DIR"""

import os
import sys
import tempfile

from desktop import Desktop, Program, application, find, import_pyatspi, press, set_text, wait_for

failures = []


def check(what, condition):
    print(("ok      " if condition else "FAILED  ") + what)
    if not condition:
        failures.append(what)


def viewer_frame(app, starts):
    return find(app, "frame", starts=starts)


def shows_fax(pyatspi, binary, fax, folder):
    program = Program(binary, [fax], folder)
    try:
        app = wait_for("the program on the accessibility bus", lambda: application(pyatspi, program.process.pid))
        frame = wait_for("the viewer window", lambda: viewer_frame(app, "  Viewing page"))
        check("caption on start", frame.name == "  Viewing page 1 of 3 in " + fax)

        prev = find(frame, "push button", "Prev")
        nxt = find(frame, "push button", "Next")
        press(prev)
        check("Prev on page 1 keeps page 1",
              wait_for("caption", lambda: viewer_frame(app, "  Viewing page")).name.startswith("  Viewing page 1 of 3"))
        press(nxt)
        check("Next gives page 2",
              bool(wait_for("page 2", lambda: viewer_frame(app, "  Viewing page 2 of 3 in " + fax))))

        combo = find(frame, "combo box", "PercentCombo")
        edit = find(combo, "text", "PercentCombo")
        for typed, zoom in (("10", 25), ("1000", 400), ("100", 100)):
            set_text(edit, typed)
            check("zoom box: %s gives %d" % (typed, zoom),
                  bool(wait_for("zoom %d" % zoom, lambda: combo.description == "Zoom %d%%" % zoom, 10)))
    finally:
        program.stop()


def refuses_non_fax(pyatspi, binary, not_fax, folder):
    program = Program(binary, [not_fax], folder)
    try:
        app = wait_for("the program on the accessibility bus", lambda: application(pyatspi, program.process.pid))
        box = wait_for("the error box", lambda: find(app, "dialog", "Error") or find(app, "alert", "Error"))
        text = wait_for("the error text", lambda: find(box, "label", "Error opening fax file " + not_fax))
        check("error box for a file that is not a fax", bool(text))
        press(find(box, "push button", "OK"))
        frame = wait_for("the viewer window", lambda: viewer_frame(app, "Pellimar Fax Viewer"))
        check("caption kept after the error", bool(frame))
    finally:
        program.stop()


def main():
    binary, source = sys.argv[1], sys.argv[2]
    desktop = Desktop()
    try:
        pyatspi = import_pyatspi()
        with tempfile.TemporaryDirectory(prefix="pellimar-e2e-run-") as folder:
            shows_fax(pyatspi, binary, os.path.join(source, "tests/data/fax/multi.apf"), folder)
            refuses_non_fax(pyatspi, binary, os.path.join(source, "README.md"), folder)
    finally:
        desktop.close()
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)


if __name__ == "__main__":
    main()
