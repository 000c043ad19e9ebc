#!/usr/bin/env python3
"""Compares the library's own benchmarks between two builds, A and B.

    scripts/bench_compare.py <A bench dir> <B bench dir> [pairs] [program...]

Each bench dir is the bench/ folder of a Release build with TK_BUILD_BENCH=ON
(for instance main's code in one build folder and this tree in another).
Every benchmark runs as pairs of back-to-back A and B runs, the order
alternating, so that the load of a shared machine falls on both sides alike.
The table gives each side's median real time and the median of the pairs'
B/A ratios (above 1: B is slower). Peers are not run: only the library's
own cases are.
"""
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile

# The library's own cases in each program, by the names the programs give them.
OWN = {"codec": "^tk/", "core": "/tk/", "file": "BM_TkNextRow", "geo": "BM_TK_",
       "json": "/TK/", "json_files": "/tk$", "string": "/tk|_tk"}
# TK_BENCH_FILTER narrows the cases further (a regular expression).
NARROW = os.environ.get("TK_BENCH_FILTER", "")
UNITS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def cases(exe, pattern):
    out = subprocess.run([exe, "--benchmark_list_tests", "--benchmark_filter=" + pattern],
                         capture_output=True, text=True, check=True).stdout
    return [line for line in out.splitlines()
            if re.search(pattern, line) and re.search(NARROW, line) and " " not in line]


def escape(name):
    # The programs read the filter as a POSIX extended expression.
    return "".join("\\" + c if c in ".[]{}()*+?|^$\\" else c for c in name)


def run(exe, name, out):
    subprocess.run([exe, "--benchmark_filter=^" + escape(name) + "$",
                    "--benchmark_min_time=0.2", "--benchmark_out=" + out,
                    "--benchmark_out_format=json"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    with open(out) as f:
        runs = [b for b in json.load(f)["benchmarks"] if b.get("run_type") == "iteration"]
    return runs[0]["real_time"] * UNITS[runs[0]["time_unit"]]


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    dirs = {"A": sys.argv[1], "B": sys.argv[2]}
    pairs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    programs = sys.argv[4:] or list(OWN)
    out = os.path.join(tempfile.mkdtemp(), "run.json")
    loads = []
    print("%-52s %14s %14s %7s" % ("benchmark (%d pairs)" % pairs, "A ns", "B ns", "B/A"))
    for p in programs:
        exe = {side: os.path.join(d, "bench_" + p) for side, d in dirs.items()}
        for name in cases(exe["B"], OWN[p]):
            t = {"A": [], "B": []}
            ratios = []
            for i in range(pairs):
                for side in ("A", "B") if i % 2 == 0 else ("B", "A"):
                    t[side].append(run(exe[side], name, out))
                ratios.append(t["B"][-1] / t["A"][-1])
            print("%-52s %14.1f %14.1f %7.3f" % (p + " " + name, statistics.median(t["A"]),
                                                  statistics.median(t["B"]),
                                                  statistics.median(ratios)), flush=True)
        with open("/proc/loadavg") as f:
            loads.append(p + " " + f.read().split()[0])
    print("load average after each program: " + ", ".join(loads))


if __name__ == "__main__":
    main()
