#!/usr/bin/env python3
"""The outlier searches against scikit-image's RANSAC, in one run.

    bench/robust_peers.py [--build build/release] [--repeats 7]

Times (CPU seconds, median of the repeats) and accuracy on the same data:
  - ranked line, n = 400, 40 outliers: x uniform over 0..100 on
    y = 5 + 0.3 x, noise 0.02, 40 points moved 3 to 30 off the line;
    zfit.fit_line(points, ignore=40) against
    ransac(LineModelND, min_samples=2, residual_threshold=0.1, max_trials=1000);
  - free-radius circle, n = 100, 10 outliers: radius 10, full circle,
    noise 0.01, 10 points moved out by 3; zfit.fit_circle(points, ignore=10)
    against ransac(CircleModel, 3, 0.05, max_trials=1000);
  - free-radius circle on a real edge: the largest connected region of the
    Canny edges (sigma 2) of scikit-image's coins picture, 5 discarded;
    zfit.fit_circle(points, ignore=5) against
    ransac(CircleModel, 3, 1.0, max_trials=1000) on the same points;
  - with --long, the free-radius circle at n = 1,000 with 50 outliers
    (timed once; bench/circle_bench's BM_CircleFitPollGaps measures the
    time between its polls);
  - and, for the plain cases the searches used to sit under, the minimum
    zone of 10^4 profile points against their least-squares line, and the
    unweighted circle of 20,000 points against the weighted fit.

scikit-image comes from Debian's python3-skimage; the script installs it
when it is missing and it runs as root, and otherwise says what to install.
The zfit module is taken from the build tree.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time


def ensure_skimage():
    try:
        import skimage  # noqa: F401
        return
    except ImportError:
        pass
    if os.geteuid() != 0 or not shutil.which("apt-get"):
        sys.exit("scikit-image is missing: install Debian's python3-skimage (apt-get install python3-skimage)")
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "install", "-y", "-q", "--no-install-recommends", "python3-skimage"], check=True, env=env)


def cpu_median(call, repeats):
    times = []
    for _ in range(repeats):
        start = time.process_time()
        result = call()
        times.append(time.process_time() - start)
    return statistics.median(times), result


def line_data(np):
    rng = np.random.default_rng(400)
    x = rng.uniform(0, 100, 400)
    y = 5 + 0.3 * x + rng.normal(0, 0.02, 400)
    moved = rng.choice(400, 40, replace=False)
    y[moved] += rng.uniform(3, 30, 40) * rng.choice([-1, 1], 40)
    return np.column_stack([x, y]), moved


def circle_data(np):
    rng = np.random.default_rng(100)
    t = rng.uniform(0, 2 * np.pi, 100)
    points = np.column_stack([10 * np.cos(t), 10 * np.sin(t)]) + rng.normal(0, 0.01, (100, 2))
    moved = rng.choice(100, 10, replace=False)
    points[moved] *= 13.0 / 10.0
    return points, moved


def coins_edge(np):
    from skimage import data, feature, measure
    edges = feature.canny(data.coins(), sigma=2)
    labels = measure.label(edges)
    sizes = np.bincount(labels.ravel())
    sizes[0] = 0
    rows, columns = np.nonzero(labels == sizes.argmax())
    return np.column_stack([columns, rows]).astype(float)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build", "release"))
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--long", action="store_true", help="also time the circle search at n = 1,000")
    args = parser.parse_args()
    ensure_skimage()
    sys.path.insert(0, os.path.join(args.build, "python"))
    import numpy as np
    import zfit
    from skimage.measure import CircleModel, LineModelND, ransac

    rows = []

    points, moved = line_data(np)
    ours, fit = cpu_median(lambda: zfit.fit_line(points, ignore=40), args.repeats)
    peer, (model, inliers) = cpu_median(
        lambda: ransac(points, LineModelND, min_samples=2, residual_threshold=0.1, max_trials=1000, random_state=1),
        args.repeats)
    direction = model.params[1]
    rows.append(("ranked line, n 400, 40 outliers", ours, "RANSAC LineModelND, 1000 trials", peer,
                 f"slope {np.tan(fit.angle):.5f} (true 0.3), found {len(set(fit.ignored) & set(moved))}/40",
                 f"slope {direction[1] / direction[0]:.5f}, outliers rejected {np.sum(~inliers[moved])}/40"))

    points, moved = circle_data(np)
    ours, fit = cpu_median(lambda: zfit.fit_circle(points, ignore=10), args.repeats)
    peer, (model, inliers) = cpu_median(
        lambda: ransac(points, CircleModel, 3, 0.05, max_trials=1000, random_state=1), args.repeats)
    rows.append(("free-radius circle, n 100, 10 outliers", ours, "RANSAC CircleModel, 1000 trials", peer,
                 f"radius {fit.radius:.5f} (true 10), found {len(set(fit.ignored) & set(moved))}/10",
                 f"radius {model.params[2]:.5f}, outliers rejected {np.sum(~inliers[moved])}/10"))

    points = coins_edge(np)
    ours, fit = cpu_median(lambda: zfit.fit_circle(points, ignore=5), args.repeats)
    peer, (model, inliers) = cpu_median(
        lambda: ransac(points, CircleModel, 3, 1.0, max_trials=1000, random_state=1), args.repeats)
    rows.append((f"free-radius circle, coins edge, n {len(points)}, 5", ours, "RANSAC CircleModel, 1000 trials",
                 peer, f"centre ({fit.centre[0]:.2f}, {fit.centre[1]:.2f}), radius {fit.radius:.3f}",
                 f"centre ({model.params[0]:.2f}, {model.params[1]:.2f}), radius {model.params[2]:.3f}"))

    if args.long:
        rng = np.random.default_rng(1000)
        t = rng.uniform(0, 2 * np.pi, 1000)
        ring = np.column_stack([10 * np.cos(t), 10 * np.sin(t)]) + rng.normal(0, 0.01, (1000, 2))
        moved = rng.choice(1000, 50, replace=False)
        ring[moved] *= 13.0 / 10.0
        ours, fit = cpu_median(lambda: zfit.fit_circle(ring, ignore=50), 1)
        rows.append(("free-radius circle, n 1,000, 50 outliers", ours, "(target: under a minute)", 60.0,
                     f"radius {fit.radius:.5f} (true 10), found {len(set(fit.ignored) & set(moved))}/50", ""))

    rng = np.random.default_rng(7)
    x = np.linspace(0, 100, 10_000)
    profile = np.column_stack([x, 5 + 0.3 * x + rng.normal(0, 0.02, x.size)])
    ours, _ = cpu_median(lambda: zfit.fit_line(profile, min_zone=True), args.repeats)
    plain, _ = cpu_median(lambda: [zfit.fit_line(profile) for _ in range(20)], args.repeats)
    rows.append(("straightness, n 10^4 (minimum zone)", ours, "least-squares line of the same points", plain / 20,
                 "", ""))

    t = rng.uniform(0, 2 * np.pi, 20_000)
    ring = np.column_stack([10 * np.cos(t), 10 * np.sin(t)]) + rng.normal(0, 0.01, (20_000, 2))
    ones = np.ones(len(ring))
    ours, _ = cpu_median(lambda: [zfit.fit_circle(ring) for _ in range(20)], args.repeats)
    plain, _ = cpu_median(lambda: [zfit.fit_circle(ring, weights=ones) for _ in range(20)], args.repeats)
    rows.append(("circle, n 20,000, nothing discarded", ours / 20, "weighted fit of the same points", plain / 20, "", ""))

    print(f"{'case':44} {'zfit (ms)':>10} {'peer (ms)':>10} {'ratio':>7}  peer")
    for case, ours, peer_name, peer, ours_note, peer_note in rows:
        print(f"{case:44} {ours * 1e3:10.3f} {peer * 1e3:10.3f} {ours / peer:7.2f}  {peer_name}")
        if ours_note:
            print(f"{'':44} zfit: {ours_note}" + (f"; peer: {peer_note}" if peer_note else ""))


if __name__ == "__main__":
    main()
