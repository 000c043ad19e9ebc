#!/usr/bin/env python3
"""Compares the library's own benchmarks between two builds, A and B.

    scripts/bench_compare.py <A bench dir> <B bench dir> [rounds] [program...]

Each bench dir is the bench/ folder of a Release build with TK_BUILD_BENCH=ON
(for instance main's code in build-base/ and this tree in build-bench/). The
runs interleave (A B, B A, ...) so that load changes hit both sides alike;
the table gives each side's median real time over the rounds and B/A (above
1: B is slower). Peers are not run: only the library's own cases are.
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile

# The library's own cases in each program, by the names the programs give them.
OWN = {"codec": "^tk/", "core": "/tk/", "file": "BM_TkNextRow", "geo": "BM_TK_",
       "json": "/TK/", "json_files": "/tk$", "string": "/tk|_tk"}
UNITS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def run(exe, pattern, out):
    subprocess.run([exe, "--benchmark_filter=" + pattern, "--benchmark_min_time=0.2",
                    "--benchmark_out=" + out, "--benchmark_out_format=json"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    with open(out) as f:
        data = json.load(f)
    return {b["name"]: b["real_time"] * UNITS[b["time_unit"]]
            for b in data["benchmarks"] if b.get("run_type") == "iteration"}


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    dirs = {"A": sys.argv[1], "B": sys.argv[2]}
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    programs = sys.argv[4:] or list(OWN)
    times = {"A": {}, "B": {}}
    loads = []
    out = os.path.join(tempfile.mkdtemp(), "run.json")
    for r in range(rounds):
        for side in ("A", "B") if r % 2 == 0 else ("B", "A"):
            for p in programs:
                for name, t in run(os.path.join(dirs[side], "bench_" + p), OWN[p], out).items():
                    times[side].setdefault(p + " " + name, []).append(t)
        with open("/proc/loadavg") as f:
            loads.append(f.read().split()[0])
        print("round %d of %d, load %s" % (r + 1, rounds, loads[-1]), file=sys.stderr)
    print("load average after each round: " + " ".join(loads))
    print("%-52s %14s %14s %7s" % ("benchmark (median of %d)" % rounds, "A ns", "B ns", "B/A"))
    for name in sorted(times["A"]):
        a = statistics.median(times["A"][name])
        b = statistics.median(times["B"][name])
        print("%-52s %14.1f %14.1f %7.3f" % (name, a, b, b / a))


if __name__ == "__main__":
    main()
