#!/usr/bin/python3
"""The viewer window of the real program, driven from outside through the
accessibility interface: `pellimar FAX.apf` shows the fax, Prev and Next page
through it, the page box goes to a page, the zoom box clamps what is typed and fits the page to the
window's width, a file that is not a fax gives the error box, the thumbnail
strip chooses pages and hides, Ctrl+C copies the block drawn with the mouse
as an image, Preview... opens the print preview, and Print sends the whole fax to a CUPS queue, with Multi-page
on one sheet. The same fax as a TIFF and as a PDF (made by fax2tiff, tiffcp
and tiff2pdf) opens and pages the same way.

Usage: viewer_e2e.py PELLIMAR_BINARY SOURCE_DIR"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

import cups
from desktop import (Desktop, Program, application, descendants, find, import_pyatspi, press, set_text, wait_for, check,
                     exit_with_checks)

def viewer_frame(app, starts):
    """The top-level window whose title begins with `starts` (Qt gives plain
    top-level widgets the role "filler", dialogs "dialog")."""
    for i in range(app.childCount):
        window = app.getChildAtIndex(i)
        if window is not None and window.name.startswith(starts):
            return window
    return None


def type_into(pyatspi, edit, text):
    """Types the text into a box and confirms it with Enter, as a user does."""
    set_text(edit, text)
    edit.queryComponent().grabFocus()
    pyatspi.Registry.generateKeyboardEvent(0xFF0D, None, pyatspi.KEY_SYM)  # Return


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
        press(prev)
        wait_for("page 1", lambda: viewer_frame(app, "  Viewing page 1 of 3 in " + fax))
        press(prev)
        press(nxt)
        # Had the second Prev left page 1, Next would not give page 2.
        check("Prev on page 1 does nothing",
              bool(wait_for("page 2 again", lambda: viewer_frame(app, "  Viewing page 2 of 3 in " + fax))))

        # The page box goes to the page set in it.
        find(frame, "spin button", "Page").queryValue().currentValue = 3
        check("the page box goes to page 3",
              bool(wait_for("page 3", lambda: viewer_frame(app, "  Viewing page 3 of 3 in " + fax), 10)))

        # A combo box is named by its text; its editor by the component name.
        edit = find(frame, "text", "PercentCombo")
        combo = edit.parent
        for typed, zoom in (("10", 25), ("1000", 400), ("100", 100)):
            type_into(pyatspi, edit, typed)
            check("zoom box: %s gives %d" % (typed, zoom),
                  bool(wait_for("zoom %d" % zoom, lambda: combo.description == "Zoom %d%%" % zoom, 10)))
        # Fit width: a 1728-pixel page in a window about half as wide.
        type_into(pyatspi, edit, "Fit width")
        fitted = lambda: combo.description.startswith("Zoom ") and 30 < int(combo.description[5:-1]) < 70
        try:
            wait_for("fit width", fitted, 10)
        except AssertionError:
            pass
        check("Fit width zooms the page to the window's width (%s)" % combo.description, fitted())
        check("the zoom box says Fit width", edit.queryText().getText(0, -1) == "Fit width")
        type_into(pyatspi, edit, "100")
        wait_for("zoom 100", lambda: combo.description == "Zoom 100%", 10)
    finally:
        program.stop()


def named(node, name):
    """The first accessible below `node` with the name, whatever its role."""
    for child in descendants(node):
        if child.name == name:
            return child
    return None


def toggle_named(frame, name):
    for role in ("toggle button", "push button", "check box"):
        found = find(frame, role, name)
        if found is not None:
            return found
    return None


def showing(pyatspi, node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def xdotool(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True)
    time.sleep(0.2)


def clipboard(target):
    """The clipboard's content as `target` (TARGETS lists what it offers)."""
    return subprocess.run(["xclip", "-selection", "clipboard", "-t", target, "-o"], capture_output=True,
                          timeout=10).stdout


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", data[16:24])


def thumbnails_and_copy(pyatspi, binary, fax, folder):
    if not shutil.which("xdotool") or not shutil.which("xclip"):
        print("skipped thumbnails and Ctrl+C: xdotool or xclip is not installed (tools/packages/e2e.txt)")
        return
    program = Program(binary, [fax], folder)
    try:
        app = wait_for("the program on the accessibility bus", lambda: application(pyatspi, program.process.pid))
        frame = wait_for("the viewer window", lambda: viewer_frame(app, "  Viewing page 1 of 3"))
        strip = wait_for("the thumbnail strip", lambda: find(frame, "list", "Pages"))
        third = wait_for("the thumbnail of page 3", lambda: find(strip, "list item", "Page 3"))
        box = third.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        xdotool("mousemove", box.x + box.width // 2, box.y + box.height // 2, "click", "1")
        check("clicking the thumbnail of page 3 shows page 3",
              bool(wait_for("page 3", lambda: viewer_frame(app, "  Viewing page 3 of 3 in " + fax), 10)))
        toggle = toggle_named(frame, "Thumbnails")
        check("the Thumbnails button is on the strip", toggle is not None)
        if toggle is not None:
            press(toggle)
            try:
                wait_for("the strip hidden", lambda: not showing(pyatspi, strip), 10)
            except AssertionError:
                pass
            check("Thumbnails hides the strip", not showing(pyatspi, strip))
            press(toggle)
            try:
                wait_for("the strip shown", lambda: showing(pyatspi, strip), 10)
            except AssertionError:
                pass
            check("Thumbnails shows it again", showing(pyatspi, strip))

        # A block drawn with the mouse at 100 %, copied with Ctrl+C.
        viewer = named(frame, "FaxViewer")
        area = viewer.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        x, y = area.x + 40, area.y + 40
        xdotool("mousemove", x, y)
        xdotool("mousedown", "1")
        xdotool("mousemove", x + 50, y + 30)
        xdotool("mousemove", x + 100, y + 60)
        xdotool("mouseup", "1")
        xdotool("key", "ctrl+c")
        try:
            wait_for("an image on the clipboard", lambda: b"image/png" in clipboard("TARGETS"), 10)
        except AssertionError:
            pass
        size = png_size(clipboard("image/png"))
        check("Ctrl+C puts the block drawn on the clipboard as an image (%s)" % (size,),
              size is not None and abs(size[0] - 101) <= 2 and abs(size[1] - 61) <= 2)

        # Preview... opens Qt's print preview (clicked with the pointer: the
        # dialog is modal, and an accessible press would wait for it).
        button = find(frame, "push button", "Preview...")
        check("the Preview... button is on the strip", button is not None)
        if button is not None:
            place = button.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            xdotool("mousemove", place.x + place.width // 2, place.y + place.height // 2, "click", "1")
            try:
                preview = wait_for("the print preview", lambda: viewer_frame(app, "Print Preview"), 30)
            except AssertionError:
                preview = None
            check("Preview... opens the print preview", preview is not None)
            if preview is not None:
                xdotool("key", "Escape")
                try:
                    wait_for("the preview closed", lambda: viewer_frame(app, "Print Preview") is None, 10)
                except AssertionError:
                    pass
    finally:
        program.stop()


def tiff_and_pdf_of(apf, folder):
    """The APF fixture's pages as a Group 4 TIFF and as a PDF of it."""
    data = open(apf, "rb").read()
    count, offset = struct.unpack_from("<H", data, 32)[0], struct.unpack_from("<I", data, 34)[0]
    raws = []
    for page in range(count):
        length = struct.unpack_from("<I", data, offset)[0]
        raw = os.path.join(folder, "page%d.g3" % page)
        with open(raw, "wb") as f:
            f.write(data[offset + 16:offset + 16 + length])
        raws.append(raw)
        offset += 16 + length
    g3, tiff, pdf = (os.path.join(folder, name) for name in ("fax-g3.tif", "fax.tif", "fax.pdf"))
    subprocess.run(["fax2tiff", "-1", "-L", "-R", "196", "-o", g3] + raws, check=True, capture_output=True)
    subprocess.run(["tiffcp", "-c", "g4", g3, tiff], check=True, capture_output=True)
    subprocess.run(["tiff2pdf", "-o", pdf, tiff], check=True, capture_output=True)
    return tiff, pdf


def pages_through(pyatspi, binary, fax, folder):
    program = Program(binary, [fax], folder)
    try:
        app = wait_for("the program on the accessibility bus", lambda: application(pyatspi, program.process.pid))
        frame = wait_for("the viewer window", lambda: viewer_frame(app, "  Viewing page"))
        check("caption on start for " + fax, frame.name == "  Viewing page 1 of 3 in " + fax)
        press(find(frame, "push button", "Next"))
        check("Next gives page 2 of " + fax,
              bool(wait_for("page 2", lambda: viewer_frame(app, "  Viewing page 2 of 3 in " + fax))))
        find(frame, "spin button", "Page").queryValue().currentValue = 3
        check("the page box goes to page 3 of " + fax,
              bool(wait_for("page 3", lambda: viewer_frame(app, "  Viewing page 3 of 3 in " + fax), 10)))
    finally:
        program.stop()


def refuses_non_fax(pyatspi, binary, not_fax, folder):
    program = Program(binary, [not_fax], folder)
    try:
        app = wait_for("the program on the accessibility bus", lambda: application(pyatspi, program.process.pid))
        box = wait_for("the error box", lambda: viewer_frame(app, "Error"))
        text = wait_for("the error text", lambda: find(box, "label", "Error opening fax file " + not_fax))
        check("error box for a file that is not a fax", bool(text))
        press(find(box, "push button", "OK"))
        frame = wait_for("the viewer window", lambda: viewer_frame(app, "Pellimar Fax Viewer"))
        check("caption kept after the error", bool(frame))
    finally:
        program.stop()


def prints_to_cups(pyatspi, binary, fax, folder):
    why = cups.unavailable()
    if why:
        print("skipped printing: " + why)
        return
    scheduler = cups.Cups()
    program = None
    try:
        if not scheduler.start():
            check("private CUPS scheduler starts", False)
            return
        program = Program(binary, [fax], folder, {"CUPS_SERVER": scheduler.socket})
        app = wait_for("the program on the accessibility bus", lambda: application(pyatspi, program.process.pid))
        frame = wait_for("the viewer window", lambda: viewer_frame(app, "  Viewing page 1 of 3"))
        press(find(frame, "push button", "Print"))
        pdf = scheduler.wait_for_pdf()
        check("Print gives a PDF in the CUPS queue's folder", pdf is not None)
        if pdf:
            check("the PDF holds the 3 pages", cups.pdf_pages(pdf) == 3)
            os.remove(pdf)
            # Multi-page: the three pages on one sheet.
            toggle = [b for b in (find(frame, role, "Multi-page") for role in ("toggle button", "push button", "check box"))
                      if b is not None]
            check("the Multi-page button is on the strip", bool(toggle))
            press(toggle[0])
            press(find(frame, "push button", "Print"))
            pdf = scheduler.wait_for_pdf()
            check("Multi-page prints the 3 pages on one sheet", pdf is not None and cups.pdf_pages(pdf) == 1)
    finally:
        if program:
            program.stop()
        scheduler.stop()


def main():
    binary, source = sys.argv[1], sys.argv[2]
    desktop = Desktop()
    try:
        pyatspi = import_pyatspi()
        with tempfile.TemporaryDirectory(prefix="pellimar-e2e-run-") as folder:
            shows_fax(pyatspi, binary, os.path.join(source, "tests/data/fax/multi.apf"), folder)
            thumbnails_and_copy(pyatspi, binary, os.path.join(source, "tests/data/fax/multi.apf"), folder)
            for document in tiff_and_pdf_of(os.path.join(source, "tests/data/fax/multi.apf"), folder):
                pages_through(pyatspi, binary, document, folder)
            refuses_non_fax(pyatspi, binary, os.path.join(source, "README.md"), folder)
            prints_to_cups(pyatspi, binary, os.path.join(source, "tests/data/fax/multi.apf"), folder)
    finally:
        desktop.close()
    exit_with_checks()


if __name__ == "__main__":
    main()
