"""A private desktop for driving the real program: an Xvfb display, a D-Bus
session bus and the AT-SPI accessibility bus, and helpers that find widgets
by role and accessible name through pyatspi.

Import this module before pyatspi anywhere else: the buses are chosen when
pyatspi first connects."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77  # ctest's skip status for the e2e test


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIP)


class Desktop:
    """Starts Xvfb, dbus-daemon and at-spi-bus-launcher; stops them on close."""

    LAUNCHER = "/usr/libexec/at-spi-bus-launcher"

    def __init__(self):
        for tool in ("Xvfb", "dbus-daemon"):
            if not shutil.which(tool):
                skip(tool + " is not installed (tools/packages/e2e.txt)")
        if not os.access(self.LAUNCHER, os.X_OK):
            skip("at-spi2-core is not installed (tools/packages/e2e.txt)")
        self.processes = []
        self.home = tempfile.mkdtemp(prefix="pellimar-e2e-")
        os.environ["HOME"] = self.home
        os.environ["XDG_RUNTIME_DIR"] = self.home
        os.environ["XDG_CONFIG_HOME"] = os.path.join(self.home, "config")
        os.environ.pop("WAYLAND_DISPLAY", None)
        os.environ["QT_QPA_PLATFORM"] = "xcb"
        os.environ["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        os.environ["QT_ACCESSIBILITY"] = "1"
        self._start_display()
        self._start_session_bus()
        self._start_accessibility_bus()

    def _start_display(self):
        read, write = os.pipe()
        # Without -noreset the server resets when its last client leaves (the
        # accessibility launcher, once it has published its bus), and a
        # program that connects during the reset finds no display.
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                                 "-noreset"],
                                pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        self.processes.append(xvfb)
        number = b""
        with os.fdopen(read, "rb") as pipe:
            number = pipe.readline().strip()
        if not number:
            self.close()
            skip("Xvfb did not start")
        os.environ["DISPLAY"] = ":" + number.decode()

    def _start_session_bus(self):
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.processes.append(bus)
        address = bus.stdout.readline().decode().strip()
        if not address:
            self.close()
            skip("the D-Bus session bus did not start")
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = address

    def _start_accessibility_bus(self):
        launcher = subprocess.Popen([self.LAUNCHER, "--launch-immediately"], stderr=subprocess.DEVNULL)
        self.processes.append(launcher)
        # The launcher publishes the bus on the display's root window.
        for _ in range(100):
            probe = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                                    "org.a11y.Bus.GetAddress"], capture_output=True)
            if probe.returncode == 0:
                return
            time.sleep(0.1)
        self.close()
        skip("the AT-SPI bus could not be brought up")

    def close(self):
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
        self.processes = []
        shutil.rmtree(self.home, ignore_errors=True)


def import_pyatspi():
    try:
        import pyatspi  # noqa: F401  (connects to the buses of the environment)
    except ImportError:
        skip("python3-pyatspi is not installed (tools/packages/e2e.txt)")
    return sys.modules["pyatspi"]


class Program:
    """The built binary, started in a working folder of its own."""

    def __init__(self, binary, args, folder, extra_env=None):
        os.makedirs(os.path.join(folder, "temp"), exist_ok=True)
        os.makedirs(os.path.join(folder, "faxes"), exist_ok=True)
        env = dict(os.environ)
        env["PELLIMAR_REGISTRY"] = os.path.join(folder, "registry.reg")
        env["ASAN_OPTIONS"] = "detect_leaks=0"
        env.update(extra_env or {})
        self.process = subprocess.Popen([binary] + args, cwd=folder, env=env)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def wait_for(what, probe, timeout=30.0):
    """Polls `probe` until it returns something true; fails after `timeout`."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            found = probe()
        except Exception:  # the tree changes while it is read
            found = None
        if found:
            return found
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.2)


def retried(what, call, tries=5):
    """call(), once more after a pause when the bus reports an error: a
    program kept busy by a loaded machine answers some calls too late."""
    for attempt in range(tries):
        try:
            return call()
        except Exception:
            if attempt == tries - 1:
                raise AssertionError("no answer while reading " + what)
            time.sleep(1)


def descendants(node):
    """Every accessible below `node`, depth first."""
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is None:
            continue
        yield child
        yield from descendants(child)


def application(pyatspi, pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def find(node, role, name=None, starts=None):
    """The first accessible below `node` with the role and the exact name
    (or a name beginning with `starts`)."""
    for child in descendants(node):
        if child.getRoleName() != role:
            continue
        if name is not None and child.name != name:
            continue
        if starts is not None and not child.name.startswith(starts):
            continue
        return child
    return None


def press(node):
    node.queryAction().doAction(0)


def set_text(node, text):
    node.queryEditableText().setTextContents(text)


failures = []


def check(what, condition):
    """Prints one check's outcome; a failed check fails the script at its end."""
    print(("ok      " if condition else "FAILED  ") + what)
    if not condition:
        failures.append(what)


def exit_with_checks():
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)
    print("all checks passed")


# --- The keyboard and the screen reader's view -----------------------------

def keys(*names):
    """Real key events (xdotool key names: "Tab", "alt+s", "ctrl+Tab") to
    whichever window has the keyboard focus."""
    subprocess.run(["xdotool", "key", "--delay", "60"] + list(names), check=True)


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "30", text], check=True)


def focus_window(title):
    """Gives the keyboard focus to the top-level window of that exact title,
    as a window manager does when a window appears or is brought back to the
    front (Xvfb has none)."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title.replace(".", "\\.")],
                           capture_output=True, text=True).stdout.split()
    if not found:
        return False
    return subprocess.run(["xdotool", "windowfocus", "--sync", found[-1]], capture_output=True).returncode == 0


def focused(pyatspi, node):
    """The accessible below `node` that has the keyboard focus, or None."""
    for child in descendants(node):
        if child.getState().contains(pyatspi.STATE_FOCUSED):
            return child
    return None


def label_of(pyatspi, node):
    """The name of the label that names `node` (Qt names a combo box by its
    text on Linux and links its label through this relation), or ""."""
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY and relation.getNTargets() > 0:
            return relation.getTarget(0).name
    return ""


# The roles of the controls that show or take text: each needs a name that
# says what it is, for a screen reader reads that name first.
NAMED_ROLES = ("push button", "text", "password text", "combo box", "list", "tree", "tree table", "table",
               "page tab", "spin button")


def unnamed_controls(pyatspi, window):
    """The showing controls of NAMED_ROLES below `window` without a name, as
    "role (path)" texts."""
    missing = []

    def walk(node, path):
        for i in range(node.childCount):
            child = node.getChildAtIndex(i)
            if child is None:
                continue
            role = child.getRoleName()
            here = path + [role]
            if (role in NAMED_ROLES and child.getState().contains(pyatspi.STATE_SHOWING) and not child.name.strip()
                    and not label_of(pyatspi, child).strip()):
                missing.append("%s (%s)" % (role, " > ".join(here)))
            walk(child, here)

    walk(window, [window.getRoleName()])
    return missing


def clashing_mnemonics(pyatspi, window):
    """Key bindings that more than one showing button or page tab of the
    window answers to."""
    seen, clashes = {}, []
    for node in descendants(window):
        if node.getRoleName() not in ("push button", "page tab") or not node.getState().contains(pyatspi.STATE_SHOWING):
            continue
        try:
            action = node.queryAction()
            binding = action.getKeyBinding(0) if action.nActions > 0 else ""
        except NotImplementedError:
            continue
        binding = binding.split(";")[0].lower()
        if binding:
            if binding in seen:
                clashes.append("%s: %s and %s" % (binding, seen[binding], node.name))
            seen[binding] = node.name
    return clashes
