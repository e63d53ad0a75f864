#!/usr/bin/python3
"""Kills `pellimar --import` at its write system calls and checks what is left.

strace kills the import at the N-th call of one system call that writes or
moves files (write, pwrite64, fsync, rename, ...), chosen from what a dry run
recorded: the calls that write the catalogue or commit first, then an even
sample of the others, as many as about a minute allows. The import starts
once from a catalogue of one record and once without a catalogue. After each
kill:

- `pellimar --list` opens the catalogue and reads every record;
- every record names a complete file in faxes/ (a copy of its fixture);
- the records of the finished run before are all still there;
- a clean import afterwards keeps every record and adds its own, and leaves
  the catalogue within 10 % of its size after a run that was not killed;
- no temporary file is left, in TMPDIR or beside the catalogue.

    import_crash_test.py PELLIMAR SOURCE_DIR

Exit status 0 when every state passed, 1 otherwise, 77 (skipped) when strace
cannot trace here.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

SYSCALLS = ["write", "pwrite64", "fsync", "fdatasync", "rename", "renameat2", "linkat",
            "copy_file_range", "ftruncate", "unlink"]
BUDGET_SECONDS = 60


def main():
    pellimar, source = os.path.abspath(sys.argv[1]), sys.argv[2]
    if shutil.which("strace") is None or subprocess.run(
            ["strace", "-qq", "-o", "/dev/null", "true"]).returncode != 0:
        print("strace cannot trace here: skipped")
        return 77
    scratch = tempfile.mkdtemp(prefix="pellimar-crash-")
    try:
        return Campaign(pellimar, os.path.join(source, "tests", "data", "fax"), scratch).run()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


class Campaign:
    def __init__(self, pellimar, fixtures, scratch):
        self.pellimar = pellimar
        self.scratch = scratch
        self.tmp = os.path.join(scratch, "tmp")
        os.mkdir(self.tmp)
        runtime = os.path.join(scratch, "runtime")
        os.mkdir(runtime, 0o700)
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=scratch, TMPDIR=self.tmp,
                        PELLIMAR_REGISTRY=os.path.join(scratch, "registry.reg"), XDG_RUNTIME_DIR=runtime,
                        ASAN_OPTIONS="detect_leaks=0")
        # Fax files to import, each under a name of its own; their bytes say
        # whether a copy in faxes/ is complete.
        incoming = os.path.join(scratch, "incoming")
        os.mkdir(incoming)
        self.contents = {}
        self.faxes = []
        for name in sorted(os.listdir(fixtures)):
            if name.endswith(".apf"):
                path = os.path.join(incoming, "crash-" + name)
                shutil.copy(os.path.join(fixtures, name), path)
                with open(path, "rb") as f:
                    self.contents[os.path.basename(path)] = f.read()
                self.faxes.append(path)
        self.failures = []

    def pellimar_run(self, folder, args, strace=None):
        command = [self.pellimar] + args
        if strace:
            command = ["strace", "-f", "-qq"] + strace + ["--"] + command
        return subprocess.run(command, cwd=folder, env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)

    def records(self, folder, state):
        """The Filename column of --list, or None when it failed."""
        run = self.pellimar_run(folder, ["--list"])
        if run.returncode != 0:
            self.fail(state, "--list exit %d: %s" % (run.returncode, run.stderr.decode(errors="replace")))
            return None
        names = []
        for line in run.stdout.decode(errors="replace").splitlines():
            fields = line.split("\t")
            if len(fields) != 5 or not fields[1].startswith("faxes\\"):
                self.fail(state, "not a record: %r" % line)
                continue
            names.append(fields[1][len("faxes\\"):])
        return names

    def fail(self, state, what):
        self.failures.append("%s: %s" % (state, what))

    def run(self):
        # Two starting points: one fax imported by a finished run, and a
        # working folder without a catalogue (the import creates it).
        base = self.folder("base")
        empty = self.folder("empty")
        first, crashing, clean = self.faxes[0], self.faxes[1:3], self.faxes[3]
        started = time.monotonic()
        if self.pellimar_run(base, ["--import", first]).returncode != 0:
            print("the first import failed")
            return 1
        per_run = time.monotonic() - started
        before = self.records(base, "base")
        if before != [os.path.basename(first)]:
            print("unexpected base catalogue: %r" % before)
            return 1
        # Each state costs four runs: about a minute in all.
        affordable = max(16, int(BUDGET_SECONDS / (4 * per_run)))
        for start, records, share in ((base, before, affordable * 3 // 4), (empty, [], affordable // 4)):
            if not self.phase(start, records, crashing, clean, share):
                return 1
        for failure in self.failures[:40]:
            print("FAIL " + failure)
        return 1 if self.failures else 0

    def folder(self, name):
        path = os.path.join(self.scratch, name)
        for sub in ("faxes", "temp"):
            os.makedirs(os.path.join(path, sub))
        return path

    def phase(self, start, before, crashing, clean, states):
        # The dry run records the system calls of the import's main thread,
        # and a clean run after it gives the compact size of the catalogue.
        log = os.path.join(self.scratch, "dry.log")
        dry = os.path.join(self.scratch, "dry")
        shutil.rmtree(dry, ignore_errors=True)
        shutil.copytree(start, dry)
        run = self.pellimar_run(dry, ["--import"] + crashing, ["-o", log, "-e", "trace=" + ",".join(SYSCALLS)])
        if run.returncode != 0 or self.pellimar_run(dry, ["--import", clean]).returncode != 0:
            print("the dry run failed: %s" % run.stderr.decode(errors="replace"))
            return False
        self.compact_size = os.path.getsize(os.path.join(dry, "faxes.qdb"))
        calls = main_thread_calls(log)
        # The calls that write the catalogue or commit come first, then an
        # even sample of the others (most write to the log or wake Qt up).
        first = [c for c in calls if c[0] != "write" or "QDB\\0" in c[2] or "QIX\\0" in c[2]]
        others = [c for c in calls if c not in first]
        chosen = sample(first, states * 3 // 4)
        chosen += sample(others, states - len(chosen))
        print("%s: system calls of the import: %d, killing at %d of them" %
              ("with a catalogue" if before else "without a catalogue", len(calls), len(chosen)))
        killed = 0
        for call, n, _ in chosen:
            state = "%s, killed at %s #%d" % (os.path.basename(start), call, n)
            folder = os.path.join(self.scratch, "run")
            shutil.rmtree(folder, ignore_errors=True)
            shutil.copytree(start, folder)
            run = self.pellimar_run(folder, ["--import"] + crashing,
                                    ["-o", "/dev/null", "-e", "inject=%s:signal=KILL:when=%d" % (call, n)])
            killed += run.returncode == -9
            self.check(folder, state, before, clean)
        print("%d states after a kill, %d after a finished run: %s" %
              (killed, len(chosen) - killed, "ok" if not self.failures else "%d failures" % len(self.failures)))
        return True

    def check(self, folder, state, before, clean):
        names = self.records(folder, state)
        if names is None:
            return
        for name in names:
            path = os.path.join(folder, "faxes", name)
            if not os.path.exists(path):
                self.fail(state, "record %s without its file" % name)
                continue
            with open(path, "rb") as f:
                if f.read() != self.contents.get(name):
                    self.fail(state, "record %s names an incomplete file" % name)
        for name in before:
            if name not in names:
                self.fail(state, "record %s of the finished run is lost" % name)
        # A clean run afterwards keeps every record.
        run = self.pellimar_run(folder, ["--import", clean])
        if run.returncode != 0:
            self.fail(state, "clean import exit %d: %s" % (run.returncode, run.stderr.decode(errors="replace")))
        after = self.records(folder, state + ", then a clean run")
        if after is not None:
            for name in names + [os.path.basename(clean)]:
                if name not in after:
                    self.fail(state, "record %s lost by the clean run" % name)
        size = os.path.getsize(os.path.join(folder, "faxes.qdb"))
        if size > self.compact_size * 11 // 10:
            self.fail(state, "the catalogue grew: %d bytes after the clean run, %d without the kill" %
                      (size, self.compact_size))
        # The lock file beside the catalogue stays by design; the kernel
        # releases its lock with the process.
        left = os.listdir(self.tmp) + [n for n in os.listdir(folder)
                                       if n.startswith("faxes.qdb.") and n != "faxes.qdb.lock"]
        if left:
            self.fail(state, "left behind: %s" % ", ".join(sorted(left)))
            shutil.rmtree(self.tmp)
            os.mkdir(self.tmp)


def sample(items, most):
    """At most `most` items, evenly spread over the list."""
    if len(items) <= most:
        return items
    return [items[i * len(items) // most] for i in range(most)]


def main_thread_calls(log):
    """(name, number of that call, the logged line) for each call of the
    first (main) thread in an strace -f log."""
    calls = []
    counts = {}
    main_pid = None
    with open(log) as f:
        for line in f:
            pid, _, rest = line.partition(" ")
            if main_pid is None:
                main_pid = pid
            if pid != main_pid or "(" not in rest or rest.startswith("<..."):
                continue
            name = rest.split("(", 1)[0].strip()
            counts[name] = counts.get(name, 0) + 1
            calls.append((name, counts[name], rest))
    return calls


if __name__ == "__main__":
    sys.exit(main())
