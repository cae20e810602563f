#!/usr/bin/env python3
"""The geometric fits against their algebraic starts and open peers on the
same seeded arcs: median error and RMSE of the fitted radius (circle, radius
100, 50 points, noise 0.5) and semi-major axis (a quarter of the 100 x 50
ellipse, 100 points, noise 0.1), plus the 95% interval coverage of the
geometric fits. The tables of the README come from this script.

Run from a build tree:
    PYTHONPATH=build/release/python python3 bench/geometric_compare.py
scikit-image (python3-skimage) adds its CircleModel when installed.
"""
import math
import sys

import numpy as np

import zfit
from references import arc, scipy_circle, scipy_ellipse

try:
    from skimage.measure import CircleModel
except ImportError:
    CircleModel = None


def summary(errors):
    errors = np.asarray(errors)
    return "%+.2f / %.2f" % (np.median(errors), math.sqrt(np.mean(errors ** 2)))


def circles(trials):
    print("circle, radius 100, 50 points, noise 0.5: median radius error / RMSE over %d arcs" % trials)
    header = ["arc", "zfit algebraic"] + (["scikit-image CircleModel"] if CircleModel else [])
    header += ["scipy orthogonal distance", "zfit geometric", "geometric 95% coverage"]
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for degrees in (30, 60, 120, 360):
        rng = np.random.default_rng(degrees)
        rows = {name: [] for name in header[1:-1]}
        covered = 0
        for _ in range(trials):
            points = arc(rng, (0, 0), (100, 100), 0.0, rng.uniform(0, 2 * math.pi), math.radians(degrees), 50, 0.5)
            algebraic = zfit.fit_circle(points)
            rows["zfit algebraic"].append(algebraic.radius - 100)
            if CircleModel:
                model = CircleModel()
                model.estimate(points)
                rows["scikit-image CircleModel"].append(model.params[2] - 100)
            rows["scipy orthogonal distance"].append(scipy_circle(points, [*algebraic.centre, algebraic.radius])[2] - 100)
            geometric = zfit.fit_circle(points, geometric=True)
            rows["zfit geometric"].append(geometric.radius - 100)
            low, high = geometric.intervals[2]
            covered += low <= 100 <= high
        cells = ["%d°" % degrees] + [summary(rows[name]) for name in header[1:-1]] + ["%.1f%%" % (100 * covered / trials)]
        print("| " + " | ".join(cells) + " |")


def ellipses(trials):
    print()
    print("ellipse 100 x 50, 90° arc, 100 points, noise 0.1: median semi-major error / RMSE over %d arcs" % trials)
    header = ["zfit algebraic", "parametric orthogonal distance (scipy)", "zfit geometric", "geometric 95% coverage"]
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    rng = np.random.default_rng(90)
    rows = {name: [] for name in header[:-1]}
    covered = 0
    for _ in range(trials):
        points = arc(rng, (0, 0), (100, 50), 0.0, 0.0, math.pi / 2, 100, 0.1)
        algebraic = zfit.fit_ellipse(points)
        rows["zfit algebraic"].append(max(algebraic.radii) - 100)
        q = scipy_ellipse(points, np.array([*algebraic.centre, *algebraic.radii, algebraic.angle]))
        rows["parametric orthogonal distance (scipy)"].append(max(abs(q[2]), abs(q[3])) - 100)
        geometric = zfit.fit_ellipse(points, geometric=True)
        rows["zfit geometric"].append(geometric.radii[0] - 100)
        low, high = geometric.intervals[2]
        covered += low <= 100 <= high
    print("| " + " | ".join([summary(rows[name]) for name in header[:-1]] + ["%.1f%%" % (100 * covered / trials)])
          + " |")


if __name__ == "__main__":
    circles(int(sys.argv[1]) if len(sys.argv) > 1 else 1000)
    ellipses(int(sys.argv[2]) if len(sys.argv) > 2 else 300)
