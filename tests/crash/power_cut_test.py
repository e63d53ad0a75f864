#!/usr/bin/python3
"""Replays an import's writes into faxes.qdb as a power cut could leave them.

strace records the writes of `pellimar --import` that land in the catalogue
while it flushes into the file: pwrite64, copy_file_range (with the bytes of
the working files it copies from, rebuilt from their own writes), lseek and
the syncs. A disk cut at any moment holds everything up to the last sync of
the file and any subset of the 512-byte sectors written since. Each such
state (every subset for a few sectors, a sample for more) must list with
`pellimar --list` as the catalogue before the import or after one of its
flushes, never anything else.

    power_cut_test.py PELLIMAR SOURCE_DIR

Exit status 0 when every state passed, 1 otherwise, 77 (skipped) when strace
cannot trace here.
"""
import ast
import itertools
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

SECTOR = 512
MOST_STATES = 48
CALL = re.compile(r'^(\w+)\((.*)\) += (-?\d+)')


def main():
    pellimar, source = os.path.abspath(sys.argv[1]), sys.argv[2]
    if shutil.which("strace") is None or subprocess.run(
            ["strace", "-qq", "-o", "/dev/null", "true"]).returncode != 0:
        print("strace cannot trace here: skipped")
        return 77
    scratch = tempfile.mkdtemp(prefix="pellimar-power-")
    try:
        return replay(pellimar, os.path.join(source, "tests", "data", "fax"), scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def replay(pellimar, fixtures, scratch):
    runtime = os.path.join(scratch, "runtime")
    os.mkdir(runtime, 0o700)
    os.mkdir(os.path.join(scratch, "tmp"))
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=scratch, TMPDIR=os.path.join(scratch, "tmp"),
               PELLIMAR_REGISTRY=os.path.join(scratch, "registry.reg"), XDG_RUNTIME_DIR=runtime,
               ASAN_OPTIONS="detect_leaks=0")
    faxes = []
    for name in ("multi.apf", "wide.apf", "text-fine.apf"):
        faxes.append(os.path.join(scratch, "cut-" + name))
        shutil.copy(os.path.join(fixtures, name), faxes[-1])
    work = os.path.join(scratch, "work")
    for sub in ("faxes", "temp"):
        os.makedirs(os.path.join(work, sub))

    def listed(folder):
        run = subprocess.run([pellimar, "--list"], cwd=folder, env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, timeout=120)
        names = [line.split("\t")[1] for line in run.stdout.decode(errors="replace").splitlines()]
        return run.returncode, names, run.stderr.decode(errors="replace")

    subprocess.run([pellimar, "--import", faxes[0]], cwd=work, env=env, check=True, stdout=subprocess.DEVNULL)
    catalogue = os.path.join(work, "faxes.qdb")
    with open(catalogue, "rb") as f:
        before = f.read()
    log = os.path.join(scratch, "writes.log")
    # One log per thread (-ff), so that no call of the main thread is split.
    subprocess.run(["strace", "-ff", "-qq", "-yy", "-x", "-s", "10000000", "-o", log,
                    "-e", "trace=pwrite64,copy_file_range,lseek,fsync,fdatasync,rename",
                    pellimar, "--import"] + faxes[1:], cwd=work, env=env, check=True, stdout=subprocess.DEVNULL)
    # Each flush adds one record: what a state may list.
    stems = ["faxes\\" + os.path.basename(f) for f in faxes]
    allowed = [sorted(stems[:n]) for n in range(1, len(stems) + 1)]

    threads = sorted((int(n.rsplit(".", 1)[1]), n) for n in os.listdir(scratch) if n.startswith("writes.log."))
    segments = catalogue_writes(os.path.join(scratch, threads[0][1]), catalogue, before)
    states = cut_states(before, segments)
    print("%d writes in %d synced steps; %d states after a cut" %
          (sum(len(s) for s in segments), len(segments), len(states)))
    failures = []
    state_folder = os.path.join(scratch, "state")
    for i, state in enumerate(states):
        shutil.rmtree(state_folder, ignore_errors=True)
        shutil.copytree(work, state_folder)  # the fax files are complete before they are catalogued
        with open(os.path.join(state_folder, "faxes.qdb"), "wb") as f:
            f.write(state)
        status, names, err = listed(state_folder)
        if status != 0 or sorted(names) not in allowed:
            failures.append("state %d: --list exit %d, records %r %s" % (i, status, names, err.strip()))
    for failure in failures[:20]:
        print("FAIL " + failure)
    print("ok" if not failures else "%d of %d states failed" % (len(failures), len(states)))
    return 1 if failures else 0


def catalogue_writes(log, catalogue, initial):
    """The writes into the catalogue file in the main thread's log, as
    lists of (offset, bytes) between its syncs, until a new file replaces it."""
    files = {"<%s>" % catalogue: bytearray(initial)}
    positions = {}
    segments = [[]]
    target = "<%s>" % catalogue
    with open(log) as f:
        for line in f:
            match = CALL.match(line)
            if not match:
                continue
            name, args, result = match.group(1), match.group(2), int(match.group(3))
            if result < 0:
                continue
            if name == "rename" and args.endswith('"%s"' % catalogue):
                break  # a complete, synced file replaces it in one step
            path = fd_path(args)
            if name == "lseek":
                positions[path] = result
            elif name == "pwrite64":
                data = c_bytes(args)
                offset = int(args.rsplit(",", 1)[1])
                put(files.setdefault(path, bytearray()), offset, data[:result])
                if path == target:
                    segments[-1].append((offset, data[:result]))
            elif name == "copy_file_range":
                source = path
                offset = int(re.search(r"\[(\d+)\]", args).group(1))
                out = re.findall(r"\d+(<[^>]*>)", args)[1]
                data = bytes(files.get(source, b"")[offset:offset + result])
                if len(data) != result and out == target:
                    raise SystemExit("cannot rebuild a copy from %s: %s" % (source, line[:300]))
                at = positions.get(out, 0)
                put(files.setdefault(out, bytearray()), at, data)
                positions[out] = at + result
                if out == target:
                    segments[-1].append((at, data))
            elif name in ("fsync", "fdatasync") and path == target:
                segments.append([])
    return [s for s in segments if s]


def fd_path(args):
    match = re.match(r"\d+(<[^>]*>)", args)
    return match.group(1) if match else None


def c_bytes(args):
    literal = re.search(r'"((?:[^"\\]|\\.)*)"', args).group(1)
    return ast.literal_eval('b"' + literal + '"')


def put(buffer, offset, data):
    if len(buffer) < offset:
        buffer.extend(b"\0" * (offset - len(buffer)))
    buffer[offset:offset + len(data)] = data


def cut_states(initial, segments):
    """Every state a cut could leave, sampled to at most MOST_STATES."""
    rng = random.Random(7)
    durable = bytearray(initial)
    states = []
    for segment in segments:
        after = bytearray(durable)
        for offset, data in segment:
            put(after, offset, data)
        sectors = sorted({s for offset, data in segment
                          for s in range(offset // SECTOR, (offset + len(data) - 1) // SECTOR + 1)})
        if len(sectors) <= 6:
            subsets = [c for n in range(len(sectors) + 1) for c in itertools.combinations(sectors, n)]
        else:
            subsets = [(), tuple(sectors)] + [(s,) for s in sectors] + \
                      [tuple(x for x in sectors if x != s) for s in sectors]
            subsets += [tuple(x for x in sectors if rng.random() < 0.5) for _ in range(16)]
        for subset in subsets:
            state = bytearray(durable)
            for s in subset:
                put(state, s * SECTOR, after[s * SECTOR:(s + 1) * SECTOR])
            states.append(bytes(state))
        durable = after
    states.append(bytes(durable))
    unique = list(dict.fromkeys(states))
    if len(unique) > MOST_STATES:
        unique = [unique[i * len(unique) // MOST_STATES] for i in range(MOST_STATES)]
    return unique


if __name__ == "__main__":
    sys.exit(main())
