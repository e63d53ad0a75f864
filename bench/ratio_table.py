#!/usr/bin/env python3
"""Prints one markdown table of Pellimar's benchmark results against the
peers measured in the same run.

  ratio_table.py RESULTS_DIR

RESULTS_DIR holds the Google Benchmark JSON files (bench_<name>.json) and
the fetch script's output (fetch.txt) and the listing script's (list.txt), as
bench/run_all.sh leaves them.
A benchmark that is missing from the results shows as "n/a".
"""
import json
import pathlib
import re
import statistics
import sys

UNIT = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def load_times(folder):
    """Real time per iteration in seconds, by benchmark name without the
    /iterations:N, /real_time and /manual_time suffixes; the median of the
    repetitions when a benchmark ran more than once."""
    runs_by_name = {}
    for path in sorted(folder.glob("*.json")):
        try:
            runs = json.loads(path.read_text()).get("benchmarks", [])
        except (OSError, ValueError):
            continue
        for run in runs:
            if run.get("run_type", "iteration") != "iteration" or run.get("error_occurred"):
                continue
            name = re.sub(r"/(iterations:\d+|real_time|manual_time)", "", run["name"])
            runs_by_name.setdefault(name, []).append(run["real_time"] * UNIT[run.get("time_unit", "ns")])
    return {name: statistics.median(values) for name, values in runs_by_name.items()}


def fetch_result(folder, name="fetch.txt"):
    """Pellimar's and fetchmail's median wall times and their ratio, from
    the fetch script's output (over IMAP: fetch_imap.txt); None for what it
    does not hold."""
    try:
        text = (folder / name).read_text()
    except OSError:
        return None, None, None

    def last(pattern):
        found = re.findall(pattern, text)
        return float(found[-1]) if found else None

    return (last(r"pellimar --fetch: median ([0-9.]+)s"), last(r"fetchmail: +median ([0-9.]+)s"),
            last(r"ratio pellimar/fetchmail: ([0-9.]+)"))


def idle_result(folder):
    """The median IDLE latency in seconds from idle.txt, or None."""
    try:
        found = re.findall(r"median ([0-9.]+) ms", (folder / "idle.txt").read_text())
    except OSError:
        return None
    return float(found[-1]) / 1e3 if found else None


def list_result(folder):
    """From the listing script's output: the medians of `pellimar --list` and
    sqlite3 (seconds, peak kilobytes) and the window's start in seconds;
    None for what it does not hold."""
    try:
        text = (folder / "list.txt").read_text()
    except OSError:
        text = ""

    def last(pattern, groups):
        found = re.findall(pattern, text)
        if not found:
            return (None,) * groups
        values = found[-1] if isinstance(found[-1], tuple) else (found[-1],)
        return tuple(float(v) for v in values)

    ours = last(r"pellimar --list: median ([0-9.]+)s, peak memory ([0-9]+) KB", 2)
    theirs = last(r"sqlite3: median ([0-9.]+)s, peak memory ([0-9]+) KB", 2)
    (start,) = last(r"window start with \d+ records: median ([0-9.]+) ms", 1)
    return ours, theirs, None if start is None else start / 1e3


def with_memory(time, kilobytes):
    return seconds(time) if kilobytes is None else "%s, %.0f MB peak" % (seconds(time), kilobytes / 1024)


def seconds(value):
    return "n/a" if value is None else ("%.3g s" % value if value >= 1 else "%.3g ms" % (value * 1e3))


# (work, Pellimar's benchmark, peer's benchmark, peer, kind, goal)
# kind "speed": the peer's time over Pellimar's (higher is better), goal a minimum;
# kind "time": Pellimar's time over the peer's (lower is better), goal a maximum;
# kind "share": as "speed", for a peer that is the ceiling.
ROWS = [
    ("MH page decode, lines only", "BM_PellimarDecodeLines", "BM_LibtiffDecode", "libtiff", "speed", 1.5),
    ("Page to bitmap", "BM_PellimarUnpackBitmap", "BM_LibtiffDecode", "libtiff", "speed", 1.2),
    ("Line-mode receive of 50 MB", "BM_SocketLineMode", "BM_BlockingRecvSplit", "blocking recv loop", "share", 0.8),
    ("Catalogue, 100k records: add and flush", "BM_Qdb_AddAllAndFlush", "BM_Sqlite_AddAllAndFlush", "SQLite", "time", 1.0),
    ("Catalogue: walk all", "BM_Qdb_WalkAll", "BM_Sqlite_WalkAll", "SQLite", "time", 1.0),
    ("Catalogue: reopen", "BM_Qdb_Reopen", "BM_Sqlite_Reopen", "SQLite", "time", 1.0),
    ("Catalogue: close", "BM_Qdb_Close", "BM_Sqlite_Close", "SQLite", "time", 1.0),
    ("Catalogue: one flush at 10k", "BM_Qdb_FlushOneAt10000", "BM_Sqlite_FlushOneAt10000", "SQLite", "time", 1.0),
    ("Catalogue: find each", "BM_Qdb_FindEach", "BM_Sqlite_FindEach", "SQLite", "time", 1.0),
    ("MIME, 20 MB attachment", "BM_TMimeDecoder/20", "BM_PythonEmail/20", "Python email", "speed", None),
    ("MIME, 20 MB attachment", "BM_TMimeDecoder/20", "BM_GMime/20", "GMime 3", "speed", 2.0),
    ("POP3 RETR", "BM_Pop3ClientRetr", "BM_PythonPoplibRetr", "Python poplib", "speed", None),
]


def ratio_text(kind, ratio, peer):
    if kind == "time":
        return "%.2f of %s's time" % (ratio, peer)
    if kind == "share":
        return "%.2f of the %s" % (ratio, peer)
    return "%.2fx %s" % (ratio, peer)


def goal_text(kind, goal, peer):
    if goal is None:
        return "none set"
    if kind == "time":
        return "at most %.2g of %s's time" % (goal, peer)
    if kind == "share":
        return "at least %.2g" % goal
    return "at least %.2gx %s" % (goal, peer)


def met(kind, ratio, goal):
    if goal is None or ratio is None:
        return ""
    return "yes" if (ratio <= goal if kind == "time" else ratio >= goal) else "no"


def main():
    folder = pathlib.Path(sys.argv[1])
    times = load_times(folder)
    print("| Work | Pellimar | Peer | Ratio | Goal | Met |")
    print("|---|---|---|---|---|---|")
    for work, ours, theirs, peer, kind, goal in ROWS:
        mine, other = times.get(ours), times.get(theirs)
        ratio = None
        if mine and other:
            ratio = mine / other if kind == "time" else other / mine
        print("| %s | %s | %s %s | %s | %s | %s |" % (
            work, seconds(mine), peer, seconds(other), "n/a" if ratio is None else ratio_text(kind, ratio, peer),
            goal_text(kind, goal, peer), met(kind, ratio, goal)))
    mine, other, ratio = fetch_result(folder)
    print("| Fetch 500 fax and 500 other mails, median of 5 | %s | fetchmail %s | %s | %s | %s |" % (
        seconds(mine), seconds(other), "n/a" if ratio is None else ratio_text("time", ratio, "fetchmail"),
        goal_text("time", 0.7, "fetchmail") + " (wall)", met("time", ratio, 0.7)))
    mine, other, ratio = fetch_result(folder, "fetch_imap.txt")
    print("| Fetch 500 fax and 500 other mails over IMAP, median of 5 | %s | fetchmail %s | %s | %s | %s |" % (
        seconds(mine), seconds(other), "n/a" if ratio is None else ratio_text("time", ratio, "fetchmail"),
        goal_text("time", 0.7, "fetchmail") + " (wall)", met("time", ratio, 0.7)))
    idle = idle_result(folder)
    print("| New fax while IDLE runs: delivery to catalogue record, median of 20 | %s | none | | under 1 s | %s |" % (
        seconds(idle), "" if idle is None else ("yes" if idle < 1.0 else "no")))
    (mine, mine_kb), (other, other_kb), start = list_result(folder)
    ratio = mine / other if mine and other else None
    print("| `--list` of 100k records, median of 5 | %s | sqlite3 %s | %s | %s | %s |" % (
        with_memory(mine, mine_kb), with_memory(other, other_kb),
        "n/a" if ratio is None else ratio_text("time", ratio, "sqlite3"), goal_text("time", 2.0, "sqlite3"),
        met("time", ratio, 2.0)))
    print("| Window start with 100k records, exec to first paint | %s | none | | under 300 ms | %s |" % (
        seconds(start), "" if start is None else ("yes" if start < 0.3 else "no")))

if __name__ == "__main__":
    main()
