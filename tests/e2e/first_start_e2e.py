#!/usr/bin/python3
"""The first start of an installed Pellimar, as from the desktop menu: a new
user whose home folder is empty starts it in the home folder. The window
offers ~/Pellimar in a welcome box; OK creates it with temp/ and faxes/, and a
download against a local Dovecot puts the fax there. `--fetch` and `--list`
started in the home folder use the same folder; `--home DIR` and
PELLIMAR_HOME win over it; a folder that holds a catalogue is used where it
is; and `--fetch` in a folder that is no working folder exits with 5.

Usage: first_start_e2e.py PELLIMAR_BINARY SOURCE_DIR"""

import os
import shutil
import subprocess
import sys
import tempfile

from desktop import Desktop, application, descendants, find, import_pyatspi, press, skip, wait_for, check, exit_with_checks
from browser_e2e import start_mailbox, window


def environment(home, **extra):
    env = dict(os.environ, HOME=home, PELLIMAR_REGISTRY=os.path.join(home, "registry.reg"),
               ASAN_OPTIONS="detect_leaks=0")
    env.pop("PELLIMAR_HOME", None)
    env.update(extra)
    return env


def headless(binary, cwd, home, *arguments, **extra):
    return subprocess.run([binary] + list(arguments), cwd=cwd, capture_output=True, text=True, timeout=120,
                          env=environment(home, QT_QPA_PLATFORM="offscreen", **extra))


def log_says(main, words):
    for node in descendants(main):
        if node.getRoleName() == "text":
            text = node.queryText()
            if words in text.getText(0, text.characterCount):
                return True
    return False


def first_start(pyatspi, binary, home, port):
    with open(os.path.join(home, "registry.reg"), "w") as out:
        out.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore]\n"
                  "\"rgHost\"=\"127.0.0.1:%s\"\n\"rgUserName\"=\"fax\"\n\"rgPassword\"=\"secret\"\n" % port)
    process = subprocess.Popen([binary], cwd=home, env=environment(home))
    folder = os.path.join(home, "Pellimar")
    try:
        app = wait_for("the program on the accessibility bus", lambda: application(pyatspi, process.pid))
        welcome = wait_for("the welcome box", lambda: window(app, "Welcome to Pellimar"))
        text = wait_for("its text", lambda: find(welcome, "label", starts="Pellimar keeps your faxes in the folder"))
        check("it names the folder", folder in text.name)
        check("nothing is created before the user agrees", not os.path.exists(folder))
        press(find(welcome, "push button", "OK"))
        main = wait_for("the main window", lambda: window(app, "Pellimar", exact=True))
        check("OK created the folder with temp/ and faxes/",
              os.path.isdir(os.path.join(folder, "temp")) and os.path.isdir(os.path.join(folder, "faxes")))
        press(wait_for("the Download button", lambda: find(main, "push button", "Download")))
        wait_for("the run to end", lambda: log_says(main, "A total of 1 Faxes where added."), 120)
        check("the download put the fax there", os.path.exists(os.path.join(folder, "faxes", "fax0001.apf")))
        press(find(main, "push button", "Close"))
        process.wait(30)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    return folder


def the_same_rule(binary, home, folder):
    fetched = headless(binary, home, home, "--fetch")
    check("--fetch from the home folder works in ~/Pellimar",
          fetched.returncode == 0 and fetched.stdout.startswith("Working folder: %s\n" % folder))
    listed = headless(binary, home, home, "--list")
    check("--list from the home folder lists the fax there", listed.returncode == 0 and "faxes\\fax0001.apf" in listed.stdout)

    other = os.path.join(home, "other")
    os.makedirs(os.path.join(other, "faxes"))
    check("--home wins", headless(binary, home, home, "--home", other, "--list").stdout == "")
    check("PELLIMAR_HOME wins", headless(binary, home, home, "--list", PELLIMAR_HOME=other).stdout == "")
    moved = os.path.join(home, "moved")
    os.makedirs(moved)
    shutil.copy(os.path.join(folder, "faxes.qdb"), moved)
    check("a folder holding a catalogue is used where it is",
          "faxes\\fax0001.apf" in headless(binary, moved, home, "--list").stdout)
    empty = os.path.join(home, "empty")
    os.makedirs(empty)
    refused = headless(binary, home, home, "--fetch", "--home", empty)
    check("--fetch in no working folder exits with 5 and says so",
          refused.returncode == 5 and "is no working folder" in refused.stderr)
    check("and creates nothing there", os.listdir(empty) == [])


def main():
    binary, source = sys.argv[1], sys.argv[2]
    if os.geteuid() != 0 or not shutil.which("dovecot"):
        skip("needs root and Dovecot (tools/packages) for the local mailbox")
    desktop = Desktop()
    try:
        pyatspi = import_pyatspi()
        with tempfile.TemporaryDirectory(prefix="pellimar-e2e-first-") as scratch:
            os.chmod(scratch, 0o755)
            home = os.path.join(scratch, "home")
            os.makedirs(home)
            server, port = start_mailbox(source, scratch, ("black-fine.apf",), ("fax0001.apf",))
            try:
                folder = first_start(pyatspi, binary, home, port)
                the_same_rule(binary, home, folder)
            finally:
                subprocess.run([sys.executable, os.path.join(source, "tools/local_pop3_server.py"), "stop", server],
                               capture_output=True)
    finally:
        desktop.close()
    exit_with_checks()


if __name__ == "__main__":
    main()
