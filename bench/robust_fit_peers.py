#!/usr/bin/env python3
"""The robust fits against OpenCV, scikit-image and the oracles, in one run.

    bench/robust_fit_peers.py [--build build/release] [--trials-scale 1.0] [--repeats 5]

Each case draws seeded trials (seed = trial number), fits them with zfit's
robust fit, with the peer where one exists, and with the oracle, the fit of
the true inliers alone, and prints the RMS error of each over the trials,
as a ratio to the oracle's, and the CPU time of ours over the peer's
(median of the repeats on the first trial's data):
  - line: 10^4 points, an edge y = 0.3 x + 5 with noise 0.5 across, 30%
    uniform clutter over the bounding box and a 5% spur; 40 trials;
    zfit.fit_line(robust="tukey") against cv2.fitLine(DIST_HUBER) and the
    least-squares line of the edge points; also the share of inliers
    flagged and of the clutter farther than 5 sigma that is flagged;
  - circle: 2,000 points, 60% on a 120 degree arc of radius 100 (noise
    0.3) and 40% clutter; 100 trials; fit_circle(robust="tukey",
    geometric=True) against ransac(CircleModel, 3, 1.0, max_trials=1000)
    and the geometric circle of the arc's points;
  - ellipse: 2,000 points, 70% on an ellipse of semi-axes 120 and 60 (noise
    0.3), 30% clutter; 100 trials; fit_ellipse(robust="tukey",
    geometric=True) against the geometric ellipse of the true points;
  - affine (dof 6) and similarity (dof 4): 1,000 pairs, 30% wrong matches;
    100 trials; fit_point_to_point(robust="tukey") against
    cv2.estimateAffine2D / estimateAffinePartial2D (RANSAC) and the
    least-squares transform of the true pairs; the error is the RMS
    distance between the fitted and the true transform's images of the
    source points.

OpenCV and scikit-image come from Debian's python3-opencv and
python3-skimage; the script installs them when they are missing and it runs
as root, and otherwise says what to install. The zfit module is taken from
the build tree. --trials-scale shortens a trial run (0.1 for a quick look).
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time


def ensure(module, package):
    try:
        __import__(module)
        return
    except ImportError:
        pass
    if os.geteuid() != 0 or not shutil.which("apt-get"):
        sys.exit(f"{module} is missing: install Debian's {package} (apt-get install {package})")
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "install", "-y", "-q", "--no-install-recommends", package], check=True, env=env)


def cpu_median(call, repeats):
    times = []
    for _ in range(repeats):
        start = time.process_time()
        call()
        times.append(time.process_time() - start)
    return statistics.median(times)


def rms(values):
    import numpy as np
    return float(np.sqrt(np.mean(np.square(values))))


def line_trial(np, seed):
    rng = np.random.default_rng(seed)
    n, spur, clutter = 10_000, 500, 3_000
    edge = n - spur - clutter
    x = rng.uniform(0, 1000, edge)
    points = [np.c_[x, 0.3 * x + 5 + rng.normal(0, 0.5, edge)]]
    t = rng.uniform(0, 40, spur)
    points.append(np.c_[500 + t, 155 + 2 * t + rng.normal(0, 0.5, spur)])
    points.append(np.c_[rng.uniform(0, 1000, clutter), rng.uniform(0, 305, clutter)])
    return np.concatenate(points), edge


def circle_trial(np, seed):
    rng = np.random.default_rng(seed)
    n, clutter = 2_000, 800
    t = rng.uniform(0, 2 * np.pi / 3, n - clutter)
    arc = np.c_[100 * np.cos(t), 100 * np.sin(t)] + rng.normal(0, 0.3, (n - clutter, 2))
    noise = np.c_[rng.uniform(-60, 110, clutter), rng.uniform(-10, 110, clutter)]
    return np.concatenate([arc, noise]), n - clutter


def ellipse_trial(np, seed):
    rng = np.random.default_rng(seed)
    n, clutter = 2_000, 600
    t = rng.uniform(0, 2 * np.pi, n - clutter)
    c, s = np.cos(0.5), np.sin(0.5)
    u, v = 120 * np.cos(t), 60 * np.sin(t)
    on = np.c_[c * u - s * v, s * u + c * v] + rng.normal(0, 0.3, (n - clutter, 2))
    noise = rng.uniform(-130, 130, (clutter, 2))
    return np.concatenate([on, noise]), n - clutter


def transform_trial(np, seed, dof):
    rng = np.random.default_rng(seed)
    n, wrong = 1_000, 300
    source = rng.uniform(-100, 100, (n, 2))
    a, b = 1.1 * np.cos(0.3), 1.1 * np.sin(0.3)
    matrix = np.array([[a, -b], [b, a]]) if dof == 4 else np.array([[1.05, 0.2], [-0.1, 0.9]])
    truth = source @ matrix.T + [5, -3]
    target = truth + rng.normal(0, 0.5, (n, 2))
    target[:wrong] = rng.uniform(-120, 120, (wrong, 2))
    return source, target, truth, n - wrong


def report(title, rows, timing):
    print(f"\n{title}")
    oracle = rows[0][1]
    for name, error in rows:
        print(f"  {name:46} RMSE {error:10.4g}   {error / oracle:6.3f} x oracle")
    for name, seconds in timing:
        print(f"  time {name:41} {seconds * 1e3:10.3f} ms")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build", "release"))
    parser.add_argument("--trials-scale", type=float, default=1.0)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    ensure("cv2", "python3-opencv")
    ensure("skimage", "python3-skimage")
    sys.path.insert(0, os.path.join(args.build, "python"))
    import cv2
    import numpy as np
    import zfit
    from skimage.measure import CircleModel, ransac

    def trials(count):
        return range(max(1, int(count * args.trials_scale)))

    # ---- line ----
    errors = {"oracle: least squares of the edge": [], "zfit robust tukey": [], "cv2.fitLine DIST_HUBER": []}
    truth = np.arctan(0.3)
    flagged_inliers = flagged_far = far = inliers = 0

    def fold(angle):
        return (angle - truth + np.pi / 2) % np.pi - np.pi / 2

    for seed in trials(40):
        points, edge = line_trial(np, seed)
        errors["oracle: least squares of the edge"].append(fold(zfit.fit_line(points[:edge]).angle))
        fit = zfit.fit_line(points, robust="tukey")
        errors["zfit robust tukey"].append(fold(fit.angle))
        vx, vy, _, _ = cv2.fitLine(points.astype(np.float32), cv2.DIST_HUBER, 0, 0.01, 0.01).ravel()
        errors["cv2.fitLine DIST_HUBER"].append(fold(np.arctan2(vy, vx)))
        outlier = np.zeros(len(points), bool)
        outlier[fit.ignored] = True
        distance = np.abs(-points[:, 0] * np.sin(truth) + points[:, 1] * np.cos(truth) - 5 * np.cos(truth))
        flagged_inliers += outlier[:edge].sum()
        inliers += edge
        far_mask = distance[edge:] > 2.5
        far += far_mask.sum()
        flagged_far += outlier[edge:][far_mask].sum()
    points, _ = line_trial(np, 0)
    p32 = points.astype(np.float32)
    ours = cpu_median(lambda: [zfit.fit_line(points, robust="tukey") for _ in range(10)], args.repeats) / 10
    peer = cpu_median(lambda: [cv2.fitLine(p32, cv2.DIST_HUBER, 0, 0.01, 0.01) for _ in range(10)], args.repeats) / 10
    report(f"line, 10^4 points, 30% clutter, 5% spur, {len(trials(40))} trials (angle)",
           [(k, rms(v)) for k, v in errors.items()], [("zfit robust tukey", ours), ("cv2.fitLine DIST_HUBER", peer)])
    print(f"  ratio of times zfit / cv2.fitLine: {ours / peer:.2f}")
    print(f"  inliers flagged {100 * flagged_inliers / inliers:.2f}%, clutter beyond 5 sigma flagged "
          f"{100 * flagged_far / max(far, 1):.2f}%")

    # ---- circle ----
    names = ["oracle: geometric circle of the arc", "zfit robust tukey, geometric", "zfit robust tukey, algebraic",
             "skimage ransac CircleModel, 1000 trials"]
    centre_errors = {k: [] for k in names}
    radius_errors = {k: [] for k in names}
    for seed in trials(100):
        points, arc = circle_trial(np, seed)
        fits = {names[0]: zfit.fit_circle(points[:arc], geometric=True),
                names[1]: zfit.fit_circle(points, robust="tukey", geometric=True),
                names[2]: zfit.fit_circle(points, robust="tukey")}
        for name, fit in fits.items():
            centre_errors[name].append(np.hypot(*fit.centre))
            radius_errors[name].append(fit.radius - 100)
        model, _ = ransac(points, CircleModel, 3, 1.0, max_trials=1000, random_state=seed)
        centre_errors[names[3]].append(np.hypot(model.params[0], model.params[1]))
        radius_errors[names[3]].append(model.params[2] - 100)
    points, _ = circle_trial(np, 0)
    ours = cpu_median(lambda: zfit.fit_circle(points, robust="tukey", geometric=True), args.repeats)
    peer = cpu_median(lambda: ransac(points, CircleModel, 3, 1.0, max_trials=1000, random_state=0), args.repeats)
    report(f"circle, 2,000 points on a 120 degree arc, 40% clutter, {len(trials(100))} trials (centre)",
           [(k, rms(v)) for k, v in centre_errors.items()],
           [("zfit robust tukey, geometric", ours), ("skimage ransac", peer)])
    report("  (radius)", [(k, rms(v)) for k, v in radius_errors.items()], [])
    print(f"  ratio of times zfit / ransac: {ours / peer:.4f}")

    # ---- ellipse ----
    names = ["oracle: geometric ellipse of the true points", "zfit robust tukey, geometric",
             "zfit robust tukey, algebraic"]
    axis_errors = {k: [] for k in names}
    for seed in trials(100):
        points, on = ellipse_trial(np, seed)
        fits = {names[0]: zfit.fit_ellipse(points[:on], geometric=True),
                names[1]: zfit.fit_ellipse(points, robust="tukey", geometric=True),
                names[2]: zfit.fit_ellipse(points, robust="tukey")}
        for name, fit in fits.items():
            radii = sorted(fit.radii, reverse=True)
            axis_errors[name] += [radii[0] - 120, radii[1] - 60]
    report(f"ellipse, 2,000 points, 30% clutter, {len(trials(100))} trials (semi-axes)",
           [(k, rms(v)) for k, v in axis_errors.items()], [])

    # ---- transforms ----
    for dof, peer_name, peer_fit in [(6, "cv2.estimateAffine2D RANSAC", cv2.estimateAffine2D),
                                     (4, "cv2.estimateAffinePartial2D RANSAC", cv2.estimateAffinePartial2D)]:
        names = ["oracle: least squares of the true pairs", "zfit robust tukey", peer_name]
        errors = {k: [] for k in names}
        for seed in trials(100):
            source, target, truth, good = transform_trial(np, seed, dof)
            oracle = zfit.fit_point_to_point(target[-good:], source[-good:], dof=dof)
            ours = zfit.fit_point_to_point(target, source, dof=dof, robust="tukey")
            peer, _ = peer_fit(source.astype(np.float32), target.astype(np.float32), method=cv2.RANSAC)
            for name, mapped in [(names[0], oracle.apply(source)), (names[1], ours.apply(source)),
                                 (names[2], source @ peer[:, :2].T + peer[:, 2])]:
                errors[name].append(rms(np.hypot(*(mapped - truth).T)))
        source, target, _, _ = transform_trial(np, 0, dof)
        s32, t32 = source.astype(np.float32), target.astype(np.float32)
        ours = cpu_median(lambda: [zfit.fit_point_to_point(target, source, dof=dof, robust="tukey")
                                   for _ in range(10)], args.repeats) / 10
        peer = cpu_median(lambda: [peer_fit(s32, t32, method=cv2.RANSAC) for _ in range(10)], args.repeats) / 10
        report(f"point to point, dof {dof}, 1,000 pairs, 30% wrong, {len(trials(100))} trials (mapped points)",
               [(k, rms(v)) for k, v in errors.items()], [("zfit robust tukey", ours), (peer_name, peer)])
        print(f"  ratio of times zfit / {peer_name}: {ours / peer:.2f}")


if __name__ == "__main__":
    main()
