"""A private CUPS scheduler for the end-to-end tests: cupsd with folders of
its own under one temporary folder, listening on a socket there, with one
cups-pdf queue (the default) whose PDFs land in the folder. cups-pdf reads
its settings only from /etc/cups, so the queue's settings file lives there
under the fixture's unique name until the fixture stops."""

import glob
import os
import shutil
import subprocess
import tempfile
import time

PPD = "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd"
QUEUE = "PellimarE2E"


def tool_path(name):
    return shutil.which(name, path="/usr/sbin:/usr/bin")


def unavailable():
    """Why the fixture cannot run here, or None."""
    for tool in ("cupsd", "lpadmin", "lpstat", "pdfinfo"):
        if not tool_path(tool):
            return tool + " is not installed (tools/packages/print.txt)"
    if not os.path.exists("/usr/lib/cups/backend/cups-pdf") or not os.path.exists(PPD):
        return "the cups-pdf backend is not installed (printer-driver-cups-pdf)"
    if os.geteuid() != 0 or not os.access("/etc/cups", os.W_OK):
        return "the CUPS fixture needs root and a writable /etc/cups"
    return None


class Cups:
    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="pellimar-e2e-cups-")
        self.socket = os.path.join(self.root, "cups.sock")
        self.name = "pellimar-e2e-" + os.path.basename(self.root)
        self.settings = "/etc/cups/cups-pdf-%s.conf" % self.name
        self.process = None
        # The filters run as lp: the folders they use must let it in.
        os.chmod(self.root, 0o755)
        for sub in ("etc", "etc/ppd", "spool", "cache", "state", "log", "out"):
            os.makedirs(os.path.join(self.root, sub), mode=0o755)
        os.makedirs(os.path.join(self.root, "tmp"))
        os.chmod(os.path.join(self.root, "tmp"), 0o1777)
        r = self.root
        self._write("etc/cupsd.conf",
                    "LogLevel warn\nListen %s\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
                    "ErrorPolicy abort-job\nMaxJobs 0\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                    "<Policy default>\n  JobPrivateAccess all\n  JobPrivateValues none\n"
                    "  SubscriptionPrivateAccess all\n  SubscriptionPrivateValues none\n"
                    "  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n" % self.socket)
        self._write("etc/cups-files.conf",
                    "ServerRoot {r}/etc\nRequestRoot {r}/spool\nTempDir {r}/tmp\nCacheDir {r}/cache\n"
                    "StateDir {r}/state\nErrorLog {r}/log/error_log\nAccessLog {r}/log/access_log\n"
                    "PageLog {r}/log/page_log\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\n".format(r=r))
        with open(self.settings, "w") as out:
            out.write("Out {r}/out\nSpool {r}/cups-pdf-spool\nLog {r}/log\nLogType 1\nGrp root\n".format(r=r))

    def _write(self, name, text):
        with open(os.path.join(self.root, name), "w") as out:
            out.write(text)

    def _tool(self, *args):
        env = dict(os.environ, CUPS_SERVER=self.socket)
        return subprocess.run([tool_path(args[0])] + list(args[1:]), env=env, capture_output=True).returncode == 0

    def start(self):
        """Starts the scheduler and adds the queue; False when it fails."""
        self.process = subprocess.Popen(
            [tool_path("cupsd"), "-f", "-c", self.root + "/etc/cupsd.conf", "-s", self.root + "/etc/cups-files.conf"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while not self._tool("lpstat", "-r"):
            if self.process.poll() is not None or time.monotonic() > deadline:
                return False
            time.sleep(0.1)
        # Just after start-up the scheduler may refuse the queue for a moment.
        while not (self._tool("lpadmin", "-p", QUEUE, "-v", "cups-pdf:/" + self.name, "-P", PPD, "-o",
                              "pdftops-renderer-default=pdftocairo", "-E") and self._tool("lpadmin", "-d", QUEUE)):
            if time.monotonic() > deadline:
                return False
            time.sleep(0.25)
        return True

    def wait_for_pdf(self, timeout=120):
        """The first PDF that arrives in the output folder once its job is done."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            pdfs = glob.glob(os.path.join(self.root, "out", "*.pdf"))
            env = dict(os.environ, CUPS_SERVER=self.socket)
            jobs = subprocess.run([tool_path("lpstat"), "-o", QUEUE], env=env, capture_output=True, text=True)
            if pdfs and jobs.returncode == 0 and not jobs.stdout.strip():
                return pdfs[0]
            time.sleep(0.5)
        return None

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
        if os.path.exists(self.settings):
            os.remove(self.settings)
        shutil.rmtree(self.root, ignore_errors=True)


def pdf_pages(pdf):
    info = subprocess.run([tool_path("pdfinfo"), pdf], capture_output=True, text=True).stdout
    for line in info.splitlines():
        if line.startswith("Pages:"):
            return int(line.split()[1])
    return -1
