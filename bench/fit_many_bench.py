"""zfit.fit_many against a Python loop of single fits, on the same contours.

    PYTHONPATH=build/release/python python3 bench/fit_many_bench.py
    PYTHONPATH=build/release/python python3 bench/fit_many_bench.py --families line ellipse --count 20000

For each family it times, best of --repeat runs, the loop
[fit_<family>(c) for c in contours] and fit_many with 1, 2, ... threads up
to the cores of the machine, and prints each as a speed-up over the loop.
Only the ratios of one run mean anything: absolute times on a shared
machine are noise, and threads scale only as far as the cores are free.
"""
import argparse
import os
import time

import numpy as np

import zfit

# family: how its items are fitted alone, and the options both ways use.
FAMILIES = {
    "line": {},
    "circle": {},
    "weighted circle": {"weights": True},
    "ellipse": {},
    "parabola": {},
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


def best_time(run, repeat):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--count", type=int, default=10000, help="contours per family")
    parser.add_argument("--points", type=int, default=50, help="points per contour")
    parser.add_argument("--repeat", type=int, default=3, help="runs of each, the best counts")
    parser.add_argument("--families", nargs="+", default=list(FAMILIES), choices=list(FAMILIES))
    args = parser.parse_args()

    sets = contours(args.count, args.points)
    weights = [np.ones(args.points)] * args.count
    cores = os.cpu_count() or 1
    threads = sorted({1, 2, cores} & set(range(1, cores + 1)))
    print("%d contours of %d points; %d cores, load average %.1f" % (args.count, args.points, cores, os.getloadavg()[0]))
    print("%-16s %12s  %s" % ("family", "loop, us/fit", "  ".join("threads=%d" % t for t in threads)))
    for label in args.families:
        family = label.split()[-1]
        single = getattr(zfit, "fit_" + family)
        weighted = FAMILIES[label].get("weights", False)
        if weighted:
            loop = best_time(lambda: [single(p, weights=w) for p, w in zip(sets, weights)], args.repeat)
            many = {t: best_time(lambda: zfit.fit_many(family, sets, t, weights=weights), args.repeat) for t in threads}
        else:
            loop = best_time(lambda: [single(p) for p in sets], args.repeat)
            many = {t: best_time(lambda: zfit.fit_many(family, sets, t), args.repeat) for t in threads}
        ratios = "  ".join("%8.2fx" % (loop / many[t]) for t in threads)
        print("%-16s %12.2f  %s" % (label, loop / args.count * 1e6, ratios))


if __name__ == "__main__":
    main()
