"""zfit.fit_many against a Python loop of single fits, on the same contours.

    PYTHONPATH=build/release/python python3 bench/fit_many_bench.py
    PYTHONPATH=build/release/python python3 bench/fit_many_bench.py --families line circle --count 20000
    PYTHONPATH=build/release/python python3 bench/fit_many_bench.py --cpu
    PYTHONPATH=build/release/python python3 bench/fit_many_bench.py --cpu --before /tmp/before

For each family it times, best of --repeat runs, the loop
[fit_<family>(c) for c in contours], fit_many returning result objects and
fit_many(..., columns=True) returning arrays, each with 1 and 2 threads (and
all cores, when there are more), and prints each as a speed-up over the
loop, then the columns' speed-up from 1 to 2 threads. A small batch (24
contours) shows the cost of a call that starts no thread. Only the ratios of
one run mean anything: absolute times on a shared machine are noise, and
threads scale only as far as the cores are free, so the load average is
printed before and after.

On a busy machine, --cpu times by CPU time instead, which other processes
disturb far less: the loop and the 1-thread modes by the process's CPU
time, and the columns on 2 threads by what they would take on two free
cores: half the process's CPU time, as the calling thread reads the items
while the other worker fits those read, then fits beside it; or, when it
is longer, the CPU time of the same call with timeout=0, which reads the
items and fits none. (A build that reads every item before it fits any,
as builds before this scheme did, is credited with an overlap it lacks, so
--before understates the speed-up of columns t=2.)

--before DIR compares this build with an earlier one in the same run: DIR
holds the earlier package (a copy of build/release/python) and, in DIR/lib,
the shared libraries it was built with (libzfit.so.0, libzfit_services.so.0,
libzfit_metrology.so.0). Each build runs in processes of its own, the two
taking turns --repeat times; the tables of both (best of all turns) and this
build's speed-up over the earlier one follow.
"""
import argparse
import json
import os
import subprocess
import sys
import time

import numpy as np

import zfit

# family: whether its items carry weights.
FAMILIES = {
    "line": False,
    "circle": False,
    "weighted circle": True,
    "ellipse": False,
    "parabola": False,
}


def contours(count, points, seed=1):
    """Noisy closed contours (ellipses of random pose), `points` each."""
    rng = np.random.default_rng(seed)
    sets = []
    for _ in range(count):
        t = rng.uniform(0, 2 * np.pi, points)
        a, b, turn = rng.uniform(3, 30), rng.uniform(3, 30), rng.uniform(0, np.pi)
        c, s = np.cos(turn), np.sin(turn)
        x, y = a * np.cos(t), b * np.sin(t)
        sets.append(np.column_stack([c * x - s * y, s * x + c * y]) + rng.uniform(0, 1000, 2)
                    + rng.normal(0, 0.05, (points, 2)))
    return sets


CLOCK = time.perf_counter


def best_time(run, repeat):
    """Best of `repeat`, after one run untimed: a first call pays for what
    every later one finds ready (the module's caches, the result objects'
    memory), so a turn of --before that timed it would flatter fit_many."""
    run()
    best = float("inf")
    for _ in range(repeat):
        start = CLOCK()
        run()
        best = min(best, CLOCK() - start)
    return best


def two_free_cores(run, reading, repeat):
    """Best of `repeat`: half the CPU time of run(), or the CPU time of
    reading() (the items alone, which one thread reads) when that is more."""
    run()
    alone = best_time(reading, repeat)
    best = float("inf")
    for _ in range(repeat):
        process = time.process_time()
        run()
        best = min(best, time.process_time() - process)
    return max(best / 2, alone)


def measure(family, sets, weights, threads, repeat):
    """Seconds of the loop and of fit_many per (mode, threads)."""
    single = getattr(zfit, "fit_" + family)
    given = {"weights": weights} if weights is not None else {}
    if weights is not None:
        loop = best_time(lambda: [single(p, weights=w) for p, w in zip(sets, weights)], repeat)
    else:
        loop = best_time(lambda: [single(p) for p in sets], repeat)
    many = {(columns, t): best_time(lambda: zfit.fit_many(family, sets, t, columns=columns, **given), repeat)
            for columns in (False, True) for t in threads}
    if CLOCK is time.process_time and threads == [1]:
        many[(True, 2)] = two_free_cores(lambda: zfit.fit_many(family, sets, 2, columns=True, **given),
                                         lambda: zfit.fit_many(family, sets, 2, columns=True, timeout=0, **given),
                                         repeat)
    return loop, many


def measure_all(args):
    """Every family's times (and the small batch's): {label: {mode: seconds}}."""
    sets = contours(args.count, args.points)
    cores = os.cpu_count() or 1
    threads = [1] if args.cpu else sorted({1, 2, cores})
    times = {}
    for label in args.families:
        family = label.split()[-1]
        weights = [np.ones(args.points)] * args.count if FAMILIES[label] else None
        loop, many = measure(family, sets, weights, threads, args.repeat)
        times[label] = {"loop": loop}
        times[label].update({"%s t=%d" % ("columns" if c else "objects", t): v for (c, t), v in many.items()})
    loop, many = measure("line", sets[:24], None, [0], args.repeat * 20)
    times["24 lines"] = {"loop": loop, "objects t=0": many[(False, 0)], "columns t=0": many[(True, 0)]}
    return times


def print_table(times, count):
    modes = [m for m in next(iter(times.values())) if m != "loop"]
    print("%-16s %8s  %s  %s" % ("family", "loop us", "  ".join("%12s" % m for m in modes), "columns 2t/1t"))
    for label, t in times.items():
        if label == "24 lines":
            continue
        scaling = "%11.2fx" % (t["columns t=1"] / t["columns t=2"]) if "columns t=2" in t else "-"
        print("%-16s %8.2f  %s  %12s" % (label, t["loop"] / count * 1e6,
                                         "  ".join("%11.2fx" % (t["loop"] / t[m]) for m in modes), scaling))
    small = times["24 lines"]
    print("24 lines: fit_many (objects) %.2fx, (columns) %.2fx the loop"
          % (small["loop"] / small["objects t=0"], small["loop"] / small["columns t=0"]))


def compare(args):
    """This build and the one in args.before, in turns, each in processes of its own."""
    before = dict(os.environ, PYTHONPATH=args.before)
    lib = os.path.join(args.before, "lib")
    if os.path.isdir(lib):  # searched before the module's own run path
        before["LD_LIBRARY_PATH"] = lib
    builds = {"this build": dict(os.environ), "before": before}
    turn = [sys.executable, os.path.abspath(__file__), "--json", "--repeat", "1", "--count", str(args.count),
            "--points", str(args.points), "--families", *args.families] + (["--cpu"] if args.cpu else [])
    best = {}
    for _ in range(args.repeat):
        for name, env in builds.items():
            got = json.loads(subprocess.run(turn, env=env, check=True, capture_output=True, text=True).stdout)
            kept = best.setdefault(name, got)
            for label, modes in got.items():
                for mode, seconds in modes.items():
                    kept[label][mode] = min(kept[label][mode], seconds)
    for name, env in builds.items():
        print("%s (%s):" % (name, env.get("PYTHONPATH", "")))
        print_table(best[name], args.count)
    print("this build's speed-up over before (time before / time now):")
    for label, modes in best["this build"].items():
        print("%-16s %s" % (label, "  ".join("%s %.2fx" % (mode, best["before"][label][mode] / seconds)
                                             for mode, seconds in modes.items())))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--count", type=int, default=10000, help="contours per family")
    parser.add_argument("--points", type=int, default=50, help="points per contour")
    parser.add_argument("--repeat", type=int, default=5, help="runs of each, the best counts")
    parser.add_argument("--families", nargs="+", default=list(FAMILIES), choices=list(FAMILIES))
    parser.add_argument("--cpu", action="store_true", help="CPU time; 2 threads as on two free cores")
    parser.add_argument("--before", metavar="DIR", help="an earlier build's package, measured in turns with this one")
    parser.add_argument("--json", action="store_true", help=argparse.SUPPRESS)  # one turn of --before
    args = parser.parse_args()

    global CLOCK
    if args.cpu:
        CLOCK = time.process_time
    if args.json:
        print(json.dumps(measure_all(args)))
        return
    print("%d contours of %d points; %d cores, load average %.1f%s"
          % (args.count, args.points, os.cpu_count() or 1, os.getloadavg()[0], "; CPU time" if args.cpu else ""))
    if args.before:
        compare(args)
    else:
        print_table(measure_all(args), args.count)
    if args.cpu:
        print("columns t=2: on two free cores, from CPU times: half of all, or the reading alone when longer")
    print("load average %.1f" % os.getloadavg()[0])


if __name__ == "__main__":
    main()
