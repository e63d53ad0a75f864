#!/usr/bin/python3
"""The Browse Faxes page of the real program, driven from outside through the
accessibility interface against a local Dovecot: three faxes downloaded are
listed, View opens the second in the viewer and marks it "Viewed" (which
`pellimar --list` still shows after the program ended), a `pellimar --fetch`
beside the open window adds two more that the window lists without a restart,
and Remove deletes file and record on Yes and keeps both on No; the program
and the fetch keep one catalogue.

Usage: browser_e2e.py PELLIMAR_BINARY SOURCE_DIR"""

import os
import shutil
import subprocess
import sys
import tempfile

from desktop import Desktop, Program, application, descendants, find, import_pyatspi, press, skip, wait_for, check, exit_with_checks

FAXES = ("fax0001.apf", "fax0002.apf", "fax0003.apf")
FETCHED = ("fax0004.apf", "fax0005.apf")


def window(app, starts, exact=False):
    """The top-level window whose title begins with (or is) the text."""
    for i in range(app.childCount):
        frame = app.getChildAtIndex(i)
        if frame is not None and (frame.name == starts if exact else frame.name.startswith(starts)):
            return frame
    return None


def start_mailbox(source, folder, samples=("text-standard.apf", "multi.apf", "text-fine.apf"), names=FAXES):
    """Dovecot on a loopback port holding one fax mail per sample (a server
    already running from the folder is replaced, keeping its port); returns
    the server folder and the port."""
    mails = []
    for i, (sample, name) in enumerate(zip(samples, names)):
        path = os.path.join(folder, "%s.eml" % name)
        with open(path, "wb") as out:
            subprocess.run([sys.executable, os.path.join(source, "tools/make_fax_mail.py"), "--sender",
                            "+1 555 010%d" % i, "--date", "12/08/2026 09:1%d AM" % i, "--attach",
                            os.path.join(source, "tests/data/fax", sample), "--name", name], stdout=out, check=True)
        mails.append(path)
    server = os.path.join(folder, "server")
    started = subprocess.run([sys.executable, os.path.join(source, "tools/local_pop3_server.py"), "start", server,
                              "--user", "fax", "--password", "secret"] + mails, capture_output=True, text=True)
    if started.returncode != 0:
        skip("Dovecot could not be started: " + started.stderr.strip())
    port = started.stdout.split("127.0.0.1:")[1].split()[0]
    return server, port


def headless(binary, folder, *arguments):
    """The program run beside the window in the same folder, without a display."""
    return subprocess.run([binary] + list(arguments), cwd=folder, capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, PELLIMAR_REGISTRY=os.path.join(folder, "registry.reg"),
                                   ASAN_OPTIONS="detect_leaks=0", QT_QPA_PLATFORM="offscreen"))


def write_settings(folder, port):
    with open(os.path.join(folder, "registry.reg"), "w") as out:
        out.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore]\n"
                  "\"rgHost\"=\"127.0.0.1:%s\"\n\"rgUserName\"=\"fax\"\n\"rgPassword\"=\"secret\"\n" % port)


def run_ended(main):
    """True once the status log reports the faxes added by the run."""
    for node in descendants(main):
        if node.getRoleName() == "text":
            text = node.queryText()
            if "A total of 3 Faxes where added." in text.getText(0, text.characterCount):
                return True
    return False


def rows(table):
    grid = table.queryTable()
    return [[grid.getAccessibleAt(r, c).name for c in range(5)] for r in range(grid.nRows)]


def select_row(table, row):
    table.queryTable().addRowSelection(row)


def answer_warning(pyatspi, app, button):
    box = wait_for("the warning box", lambda: window(app, "Warning"))
    wait_for("its text", lambda: find(box, "label", starts="You are about to delete the selected fax faxes\\fax0001.apf."))
    press(find(box, "push button", button))
    wait_for("the box to close", lambda: window(app, "Warning") is None)


def browse(pyatspi, binary, source, folder):
    program = Program(binary, [], folder)
    try:
        app = wait_for("the program on the accessibility bus", lambda: application(pyatspi, program.process.pid))
        main = wait_for("the main window", lambda: window(app, "Pellimar", exact=True))
        download = wait_for("the Download button", lambda: find(main, "push button", "Download"))
        press(download)
        wait_for("the run to end", lambda: run_ended(main), 120)
        check("the three faxes are in faxes/",
              all(os.path.exists(os.path.join(folder, "faxes", name)) for name in FAXES))

        press(find(main, "page tab", "Browse Faxes"))
        table = wait_for("the fax grid", lambda: find(main, "table", "faxGrid"))
        listed = wait_for("three rows", lambda: rows(table) if len(rows(table)) == 3 else None)
        check("the page lists the three faxes in name order",
              [row[1] for row in listed] == ["faxes\\" + name for name in FAXES])
        check("they are New", all(row[0] == "New" for row in listed))
        headers = [table.queryTable().getColumnHeader(c).name for c in range(5)]
        check("the column headers", headers == ["Status", "Filename", "Sender ID", "Fax Date", "eMail Date"])

        select_row(table, 1)
        press(find(main, "push button", "View Fax"))
        viewer = wait_for("the viewer window", lambda: window(app, "  Viewing page 1 of"))
        check("the viewer shows the second fax", viewer.name.endswith("fax0002.apf"))
        check("its row says Viewed", rows(table)[1][0] == "Viewed")
        press(find(viewer, "push button", "Close"))

        # The timer's fetch, while the window is open on the same folder.
        start_mailbox(source, folder, ("lines-standard.apf", "black-fine.apf"), FETCHED)
        fetched = headless(binary, folder, "--fetch")
        check("--fetch beside the window adds two faxes",
              fetched.returncode == 0 and "A total of 2 Faxes where added." in fetched.stdout)
        shown = wait_for("the window to list the fetched faxes",
                         lambda: rows(table) if len(rows(table)) == 5 else None, 20)
        check("the window lists them without a restart, the viewed mark kept",
              [row[1] for row in shown] == ["faxes\\" + name for name in FAXES + FETCHED] and shown[1][0] == "Viewed")

        select_row(table, 0)
        press(find(main, "push button", "Remove Fax"))
        answer_warning(pyatspi, app, "No")
        check("No keeps the file", os.path.exists(os.path.join(folder, "faxes", FAXES[0])))
        check("No keeps the row", len(rows(table)) == 5)

        select_row(table, 0)
        press(find(main, "push button", "Remove Fax"))
        answer_warning(pyatspi, app, "Yes")
        check("Yes deletes the file", not os.path.exists(os.path.join(folder, "faxes", FAXES[0])))
        left = wait_for("four rows", lambda: rows(table) if len(rows(table)) == 4 else None, 10)
        check("Yes removes the row", [row[1] for row in left] == ["faxes\\" + name for name in FAXES[1:] + FETCHED])

        press(find(main, "page tab", "Get Faxes"))
        press(wait_for("the Close button", lambda: find(main, "push button", "Close")))
        program.process.wait(30)
    finally:
        program.stop()

    listing = headless(binary, folder, "--list")
    lines = [line.split("\t") for line in listing.stdout.splitlines()]
    check("--list after the program ended: the removed fax is gone, the viewed one says Viewed, the fetched ones are in",
          [(line[0], line[1]) for line in lines] == [("Viewed", "faxes\\fax0002.apf"), ("New", "faxes\\fax0003.apf"),
                                                      ("New", "faxes\\fax0004.apf"), ("New", "faxes\\fax0005.apf")])
    check("the window and the fetch kept one catalogue", not [n for n in os.listdir(folder) if n.startswith("1.")])


def main():
    binary, source = sys.argv[1], sys.argv[2]
    if os.geteuid() != 0 or not shutil.which("dovecot"):
        skip("needs root and Dovecot (tools/packages) for the local mailbox")
    desktop = Desktop()
    try:
        pyatspi = import_pyatspi()
        # Dovecot's own users must reach the mailbox folder.
        with tempfile.TemporaryDirectory(prefix="pellimar-e2e-browse-") as folder:
            os.chmod(folder, 0o755)
            server, port = start_mailbox(source, folder)
            # Stopped while its folder still exists, also when a check fails.
            try:
                write_settings(folder, port)
                browse(pyatspi, binary, source, folder)
            finally:
                subprocess.run([sys.executable, os.path.join(source, "tools/local_pop3_server.py"), "stop", server],
                               capture_output=True)
    finally:
        desktop.close()
    exit_with_checks()


if __name__ == "__main__":
    main()
