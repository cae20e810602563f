#!/usr/bin/env python3
"""Certified data sets for zfit's fits, with references to 50 digits.

Every data set is a list of doubles (points, weights, point pairs, lines)
drawn from a seeded generator and rounded to doubles once; the references
are the exact least-squares answers for those very doubles, computed in
70-digit arithmetic (mpmath) and printed to 50 digits. Beside each
reference value stands the data's own bound: how many of its digits
survive any change of the data by one unit in the last place of each
number (to first order: the sum of the changes that each number moved
alone makes). A fit cannot be asked to know more than its data determine.

    python3 tests/certified/make_certified.py > tests/certified/certified_data.inc

The difficulties are those that cost floating-point fits their digits: pixel
grids, small angles, short arcs (10 and 30 degrees), offsets of 1e6, tiny
and huge scales, near-circular ellipses, exact parabolas, transforms far
from the origin.

Each reference is computed by a method of its own, not by the library's
formulas: the line from the centred scatter's eigenvector, the circles from
their normal equations about the centroid, the geometric fits by
Gauss-Newton on distances measured directly (contact points by Newton's
method), the parabola and the five-parameter transform by a scan and
Newton's method on one angle. Where the library has a closed form (the
five-parameter transform) the generator checks the two against each other.
"""

import math
import random
import sys

import mpmath as mp

mp.mp.dps = 70
DIGITS = 50

# ---- small helpers ------------------------------------------------------------


class Rng:
    """Seeded uniform and normal draws (Box-Muller), the same on every Python."""

    def __init__(self, seed):
        self.r = random.Random(seed)

    def uniform(self, lo, hi):
        return lo + (hi - lo) * self.r.random()

    def normal(self, sigma):
        u, v = 1.0 - self.r.random(), self.r.random()
        return sigma * math.sqrt(-2.0 * math.log(u)) * math.cos(2.0 * math.pi * v)


def M(x):
    return mp.mpf(x)


def solve(a, b):
    """a x = b for an mp matrix a and a list b."""
    return list(mp.lu_solve(mp.matrix(a), mp.matrix(b)))


def wrap(angle, period):
    """angle in [0, period)."""
    angle = mp.fmod(angle, period)
    return angle + period if angle < 0 else angle


def centroid(pts, w=None):
    w = w or [1.0] * len(pts)
    W = mp.fsum(M(wi) for wi in w)
    return (mp.fsum(M(wi) * M(p[0]) for p, wi in zip(pts, w)) / W,
            mp.fsum(M(wi) * M(p[1]) for p, wi in zip(pts, w)) / W)


def minimise_angle(f, period, start=None, steps=720):
    """The angle in [0, period) of the smallest f: a scan (or the start
    given), then Newton's method on f'."""
    if start is None:
        start = M(period) * min((f(M(period) * k / steps), k) for k in range(steps))[1] / steps
    t = start
    for _ in range(60):
        d1 = mp.diff(f, t, 1)
        d2 = mp.diff(f, t, 2)
        step = d1 / d2
        t -= step
        if abs(step) < mp.mpf(10) ** -(mp.mp.dps - 12):
            break
    else:
        raise RuntimeError("angle search did not converge")
    return wrap(t, period)


# ---- references -----------------------------------------------------------------
# Each takes the data (a dict of double lists) and returns a list of
# (name, value) pairs in the library's conventions.


def ref_line(data, hint):
    pts = data["points"]
    mx, my = centroid(pts)
    sxx = mp.fsum((M(x) - mx) ** 2 for x, _ in pts)
    syy = mp.fsum((M(y) - my) ** 2 for _, y in pts)
    sxy = mp.fsum((M(x) - mx) * (M(y) - my) for x, y in pts)
    # The direction of largest spread, theta in [0, pi); turned by pi when
    # that makes d >= 0.
    theta = mp.atan2(2 * sxy, sxx - syy) / 2
    if theta < 0:
        theta += mp.pi
    d = -mx * mp.sin(theta) + my * mp.cos(theta)
    if d < 0:
        theta, d = theta + mp.pi, -d
    return [("angle", theta), ("d", d)]


def kasa(pts, w):
    """The algebraic circle: least squares of x^2 + y^2 + D x + E y + F about
    the weighted centroid."""
    mx, my = centroid(pts, w)
    rows = [[M(0)] * 3 for _ in range(3)]
    rhs = [M(0)] * 3
    for (x, y), wi in zip(pts, w):
        u, v, wi = M(x) - mx, M(y) - my, M(wi)
        g = [u, v, M(1)]
        r = u * u + v * v
        for i in range(3):
            rhs[i] -= wi * g[i] * r
            for j in range(3):
                rows[i][j] += wi * g[i] * g[j]
    D, E, F = solve(rows, rhs)
    cx, cy = -D / 2, -E / 2
    return cx + mx, cy + my, mp.sqrt(cx * cx + cy * cy - F)


def ref_circle(data, hint):
    cx, cy, r = kasa(data["points"], [1.0] * len(data["points"]))
    return [("centre x", cx), ("centre y", cy), ("radius", r)]


def ref_weighted_circle(data, hint):
    cx, cy, r = kasa(data["points"], data["weights"])
    return [("centre x", cx), ("centre y", cy), ("radius", r)]


def gauss_newton(residuals, x, scale, iterations=400):
    """Gauss-Newton to the precision of the arithmetic; residuals(x) gives
    [(r_i, gradient row)]."""
    for _ in range(iterations):
        rows = residuals(x)
        p = len(x)
        a = [[mp.fsum(g[i] * g[j] for _, g in rows) for j in range(p)] for i in range(p)]
        b = [-mp.fsum(r * g[i] for r, g in rows) for i in range(p)]
        step = solve(a, b)
        x = [xi + si for xi, si in zip(x, step)]
        if max(abs(s) for s in step) < scale * mp.mpf(10) ** -(mp.mp.dps - 10):
            return x
    raise RuntimeError("Gauss-Newton did not converge")


def ref_geometric_circle(data, hint):
    pts = [(M(x), M(y)) for x, y in data["points"]]

    def residuals(c):
        out = []
        for x, y in pts:
            dx, dy = x - c[0], y - c[1]
            rho = mp.sqrt(dx * dx + dy * dy)
            out.append((rho - c[2], [-dx / rho, -dy / rho, M(-1)]))
        return out

    x0 = hint.get("x") or list(kasa(data["points"], [1.0] * len(pts)))
    c = gauss_newton(residuals, x0, abs(x0[2]))
    hint.setdefault("x", c)
    return [("centre x", c[0]), ("centre y", c[1]), ("radius", c[2])]


def conic_to_ellipse(a, b, c, d, e, f):
    """Centre, semi-major, semi-minor axis and the major axis's angle in
    [0, pi) of the conic a x^2 + b xy + c y^2 + d x + e y + f = 0."""
    if a + c < 0:  # the same conic with a positive definite quadratic part
        a, b, c, d, e, f = -a, -b, -c, -d, -e, -f
    den = 4 * a * c - b * b
    x0 = (b * e - 2 * c * d) / den
    y0 = (b * d - 2 * a * e) / den
    f0 = f + (d * x0 + e * y0) / 2
    mean, spread = (a + c) / 2, mp.sqrt(((a - c) / 2) ** 2 + (b / 2) ** 2)
    small, large = mean - spread, mean + spread  # eigenvalues of [a b/2; b/2 c]
    major, minor = mp.sqrt(-f0 / small), mp.sqrt(-f0 / large)
    # The major axis is the eigenvector of the smaller eigenvalue.
    along = mp.atan2(b, a - c) / 2 + mp.pi / 2
    return x0, y0, major, minor, wrap(along, mp.pi)


def ref_ellipse(data, hint):
    """The direct least-squares ellipse (minimum algebraic error under
    4ac - b^2 = 1), by the reduced eigenproblem of the centred scatter."""
    pts = data["points"]
    mx, my = centroid(pts)
    rows = [[(M(x) - mx) ** 2, (M(x) - mx) * (M(y) - my), (M(y) - my) ** 2, M(x) - mx, M(y) - my, M(1)]
            for x, y in pts]
    s = [[mp.fsum(r[i] * r[j] for r in rows) for j in range(6)] for i in range(6)]
    s1 = mp.matrix([row[:3] for row in s[:3]])
    s2 = mp.matrix([row[3:] for row in s[:3]])
    s3 = mp.matrix([row[3:] for row in s[3:]])
    t = -(s3 ** -1) * s2.T
    m = s1 + s2 * t
    c1inv = mp.matrix([[0, 0, mp.mpf(1) / 2], [0, -1, 0], [mp.mpf(1) / 2, 0, 0]])
    values, vectors = mp.eig(c1inv * m)
    chosen = None
    for k in range(3):
        v = [mp.re(vectors[i, k]) for i in range(3)]
        if 4 * v[0] * v[2] - v[1] ** 2 > 0:
            chosen = v
    lin = t * mp.matrix(chosen)
    a, b, c = chosen
    d, e, f = lin[0], lin[1], lin[2]
    x0, y0, major, minor, angle = conic_to_ellipse(a, b, c, d, e, f)
    return [("centre x", x0 + mx), ("centre y", y0 + my), ("major", major), ("minor", minor), ("angle", angle)]


def contact(a, b, u, v):
    """The nearest point (x, y) of the ellipse x^2/a^2 + y^2/b^2 = 1 to
    (u, v), and the sign of (u, v) outside (+1) or inside (-1): Newton's
    method on the multiplier t of the nearest-point problem, first quadrant,
    from below the root (where the function is convex and decreasing)."""
    su, sv = (1 if u >= 0 else -1), (1 if v >= 0 else -1)
    u, v = abs(u), abs(v)
    swap = a < b
    if swap:
        a, b, u, v = b, a, v, u
    a2, b2 = a * a, b * b
    t = max(a * u - a2, b * v - b2)
    for _ in range(400):
        p, q = a * u / (t + a2), b * v / (t + b2)
        g = p * p + q * q - 1
        if g <= 0:
            break
        slope = -2 * (p * p / (t + a2) + q * q / (t + b2))
        nxt = t - g / slope
        if nxt <= t:
            break
        t = nxt
    x, y = a2 * u / (t + a2), b2 * v / (t + b2)
    if swap:
        x, y = y, x
    return su * x, sv * y


def ellipse_residuals(pts):
    def residuals(x):
        cx, cy, a, b, alpha = x
        co, si = mp.cos(alpha), mp.sin(alpha)
        out = []
        for px, py in pts:
            dx, dy = px - cx, py - cy
            u, v = co * dx + si * dy, -si * dx + co * dy
            xc, yc = contact(a, b, u, v)
            inside = (u / a) ** 2 + (v / b) ** 2 < 1
            dist = mp.sqrt((u - xc) ** 2 + (v - yc) ** 2) * (-1 if inside else 1)
            # The gradient of the distance: the change of the implicit curve
            # at the contact point over the length of its gradient.
            gx, gy = xc / a ** 2, yc / b ** 2
            n = mp.sqrt(gx * gx + gy * gy)
            grad = [(-co * gx + si * gy) / n, (-si * gx - co * gy) / n, -xc * gx / (a * n), -yc * gy / (b * n),
                    xc * yc * (1 / a ** 2 - 1 / b ** 2) / n]
            out.append((dist, grad))
        return out
    return residuals


def ref_geometric_ellipse(data, hint):
    pts = [(M(x), M(y)) for x, y in data["points"]]
    start = hint.get("x")
    if start is None:
        e = dict(ref_ellipse(data, {}))
        start = [e["centre x"], e["centre y"], e["major"], e["minor"], e["angle"]]
    solved = gauss_newton(ellipse_residuals(pts), start, start[2])
    hint.setdefault("x", solved)
    cx, cy, a, b, alpha = solved
    if a < b:
        a, b, alpha = b, a, alpha + mp.pi / 2
    return [("centre x", cx), ("centre y", cy), ("major", a), ("minor", b), ("angle", wrap(alpha, mp.pi))]


def parabola_at(pts, w, theta):
    """The vertical least squares y = a x^2 + b x + c of the points turned
    by -theta: (sum of w r^2, a, b, c)."""
    co, si = mp.cos(theta), mp.sin(theta)
    rows = [[M(0)] * 3 for _ in range(3)]
    rhs = [M(0)] * 3
    turned = []
    for (x, y), wi in zip(pts, w):
        u, v = co * x + si * y, -si * x + co * y
        turned.append((u, v, wi))
        g = [u * u, u, M(1)]
        for i in range(3):
            rhs[i] += wi * g[i] * v
            for j in range(3):
                rows[i][j] += wi * g[i] * g[j]
    a, b, c = solve(rows, rhs)
    return mp.fsum(wi * (v - a * u * u - b * u - c) ** 2 for u, v, wi in turned), a, b, c


def ref_parabola(data, hint, weighted=False):
    w = [M(x) for x in data["weights"]] if weighted else [M(1)] * len(data["points"])
    mx, my = centroid(data["points"], data["weights"] if weighted else None)
    pts = [(M(x) - mx, M(y) - my) for x, y in data["points"]]
    theta = minimise_angle(lambda t: parabola_at(pts, w, t)[0], mp.pi, hint.get("theta"))
    hint.setdefault("theta", theta)
    _, a, b, c = parabola_at(pts, w, theta)
    # The vertex in the turned frame, back in the plane; the pose's y axis
    # points into the parabola (a >= 0).
    x0 = -b / (2 * a)
    y0 = a * x0 * x0 + b * x0 + c
    co, si = mp.cos(theta), mp.sin(theta)
    vx, vy = co * x0 - si * y0 + mx, si * x0 + co * y0 + my
    pose = theta if a > 0 else theta + mp.pi
    return [("vertex x", vx), ("vertex y", vy), ("axis angle", wrap(pose, 2 * mp.pi)), ("coefficient", abs(a))]


def ref_weighted_parabola(data, hint):
    return ref_parabola(data, hint, weighted=True)


def pair_moments(data, weighted):
    t, s = data["points"], data["sources"]
    w = [M(x) for x in data["weights"]] if weighted else [M(1)] * len(t)
    W = mp.fsum(w)
    tx, ty = (mp.fsum(wi * M(p[k]) for p, wi in zip(t, w)) / W for k in (0, 1))
    su, sv = (mp.fsum(wi * M(p[k]) for p, wi in zip(s, w)) / W for k in (0, 1))
    pairs = [((M(p[0]) - tx, M(p[1]) - ty), (M(q[0]) - su, M(q[1]) - sv), wi) for p, q, wi in zip(t, s, w)]
    return pairs, (tx, ty), (su, sv)


def transform_values(m00, m01, m10, m11, tbar, sbar):
    return [("m00", m00), ("m01", m01), ("m10", m10), ("m11", m11),
            ("tx", tbar[0] - m00 * sbar[0] - m01 * sbar[1]), ("ty", tbar[1] - m10 * sbar[0] - m11 * sbar[1])]


def ref_p2p6(data, hint, weighted=False):
    pairs, tbar, sbar = pair_moments(data, weighted)
    S = lambda f: mp.fsum(w * f(p, q) for p, q, w in pairs)  # noqa: E731
    cuu, cvv, cuv = S(lambda p, q: q[0] ** 2), S(lambda p, q: q[1] ** 2), S(lambda p, q: q[0] * q[1])
    cxu, cxv = S(lambda p, q: p[0] * q[0]), S(lambda p, q: p[0] * q[1])
    cyu, cyv = S(lambda p, q: p[1] * q[0]), S(lambda p, q: p[1] * q[1])
    det = cuu * cvv - cuv ** 2
    m00, m01 = (cvv * cxu - cuv * cxv) / det, (cuu * cxv - cuv * cxu) / det
    m10, m11 = (cvv * cyu - cuv * cyv) / det, (cuu * cyv - cuv * cyu) / det
    return transform_values(m00, m01, m10, m11, tbar, sbar)


def ref_weighted_p2p6(data, hint):
    return ref_p2p6(data, hint, weighted=True)


def ref_p2p4(data, hint):
    pairs, tbar, sbar = pair_moments(data, False)
    norm = mp.fsum(q[0] ** 2 + q[1] ** 2 for _, q, _ in pairs)
    a = mp.fsum(p[0] * q[0] + p[1] * q[1] for p, q, _ in pairs) / norm
    b = mp.fsum(p[1] * q[0] - p[0] * q[1] for p, q, _ in pairs) / norm
    return transform_values(a, -b, b, a, tbar, sbar)


def ref_p2p3(data, hint):
    """The rotation, or the reflection when its error is smaller."""
    pairs, tbar, sbar = pair_moments(data, False)
    best = None
    for mirror in (1, -1):
        c = mp.fsum(p[0] * q[0] + p[1] * mirror * q[1] for p, q, _ in pairs)
        s = mp.fsum(p[1] * q[0] - p[0] * mirror * q[1] for p, q, _ in pairs)
        th = mp.atan2(s, c)
        co, si = mp.cos(th), mp.sin(th)
        m = (co, -si * mirror, si, co * mirror)
        err = mp.fsum((p[0] - m[0] * q[0] - m[1] * q[1]) ** 2 + (p[1] - m[2] * q[0] - m[3] * q[1]) ** 2
                      for p, q, _ in pairs)
        if best is None or err < best[0]:
            best = (err, m)
    return transform_values(*best[1], tbar, sbar)


def ref_p2p5(data, hint):
    """The matrix with orthogonal columns, R(phi) diag(s1, s2): for a given
    phi the two scales are separate one-dimensional least squares, so the
    fit is a search over phi alone. Checked against the closed form through
    the multiplier of the orthogonality constraint."""
    pairs, tbar, sbar = pair_moments(data, False)
    cuu = mp.fsum(q[0] ** 2 for _, q, _ in pairs)
    cvv = mp.fsum(q[1] ** 2 for _, q, _ in pairs)

    def fit(phi):
        co, si = mp.cos(phi), mp.sin(phi)
        turned = [((co * p[0] + si * p[1]), (-si * p[0] + co * p[1]), q) for p, q, _ in pairs]
        s1 = mp.fsum(a * q[0] for a, _, q in turned) / cuu
        s2 = mp.fsum(b * q[1] for _, b, q in turned) / cvv
        err = mp.fsum((a - s1 * q[0]) ** 2 + (b - s2 * q[1]) ** 2 for a, b, q in turned)
        return err, s1, s2

    phi = minimise_angle(lambda t: fit(t)[0], mp.pi, hint.get("phi"))
    hint.setdefault("phi", phi)
    _, s1, s2 = fit(phi)
    co, si = mp.cos(phi), mp.sin(phi)
    m = (s1 * co, -s2 * si, s1 * si, s2 * co)
    # The closed form: k the root of smaller magnitude of qa k^2 + qb k + qc.
    S = lambda f: mp.fsum(f(p, q) for p, q, _ in pairs)  # noqa: E731
    cuv = S(lambda p, q: q[0] * q[1])
    cxu, cxv = S(lambda p, q: p[0] * q[0]), S(lambda p, q: p[0] * q[1])
    cyu, cyv = S(lambda p, q: p[1] * q[0]), S(lambda p, q: p[1] * q[1])
    qa = cxu * cxv + cyu * cyv
    qb = cuu * (cxv ** 2 + cyv ** 2) + cvv * (cxu ** 2 + cyu ** 2)
    qc = cuu * cvv * qa
    q = -(qb + mp.sqrt(qb * qb - 4 * qa * qc)) / 2
    k = min(q / qa, qc / q, key=abs)
    inv = mp.matrix([[cuu, -k], [-k, cvv]]) ** -1
    closed = mp.matrix([[cxu, cxv], [cyu, cyv]]) * inv
    closed = (closed[0, 0], closed[0, 1], closed[1, 0], closed[1, 1])
    assert max(abs(x - y) for x, y in zip(m, closed)) < mp.mpf(10) ** -40 * max(abs(x) for x in m) and cuv is not None
    return transform_values(*m, tbar, sbar)


def ref_p2l(data, hint, weighted=False):
    """The affine map that moves each point onto its line: linear least
    squares in (m00, m01, m10, m11, tx, ty) about the weighted centroid."""
    pts, lines = data["points"], data["lines"]
    w = [M(x) for x in data["weights"]] if weighted else [M(1)] * len(pts)
    mx, my = centroid(pts, data["weights"] if weighted else None)
    a_ = [[M(0)] * 6 for _ in range(6)]
    b_ = [M(0)] * 6
    for (x, y), (angle, d), wi in zip(pts, lines, w):
        u, v = M(x) - mx, M(y) - my
        a, b, e = -mp.sin(M(angle)), mp.cos(M(angle)), -M(d)
        # The residual in the centred parameters (m, t' = t + M m).
        g = [a * u, a * v, b * u, b * v, a, b]
        for i in range(6):
            b_[i] -= wi * g[i] * e
            for j in range(6):
                a_[i][j] += wi * g[i] * g[j]
    m00, m01, m10, m11, tx1, ty1 = solve(a_, b_)
    return transform_values(m00, m01, m10, m11, (tx1, ty1), (mx, my))


def ref_weighted_p2l(data, hint):
    return ref_p2l(data, hint, weighted=True)


FITS = {
    "line": ref_line,
    "circle": ref_circle,
    "weightedCircle": ref_weighted_circle,
    "ellipse": ref_ellipse,
    "parabola": ref_parabola,
    "weightedParabola": ref_weighted_parabola,
    "p2p3": ref_p2p3,
    "p2p4": ref_p2p4,
    "p2p5": ref_p2p5,
    "p2p6": ref_p2p6,
    "weightedP2p6": ref_weighted_p2p6,
    "p2l": ref_p2l,
    "weightedP2l": ref_weighted_p2l,
    "geometricCircle": ref_geometric_circle,
    "geometricEllipse": ref_geometric_ellipse,
}

# ---- the data sets -----------------------------------------------------------------


def line_points(rng, n, x0, y0, angle, length, sigma, grid=None):
    co, si = math.cos(angle), math.sin(angle)
    pts = []
    for _ in range(n):
        t, e = rng.uniform(0, length), rng.normal(sigma)
        x, y = x0 + t * co - e * si, y0 + t * si + e * co
        if grid:
            x, y = round(x / grid) * grid, round(y / grid) * grid
        pts.append((x, y))
    return pts


def arc_points(rng, n, cx, cy, r, start, arc, sigma, r2=None, tilt=0.0):
    """n points spread evenly over `arc` radians from `start` of the ellipse
    with semi-axes r and r2 (a circle by default), tilted by `tilt`, moved
    radially by normal noise."""
    r2 = r if r2 is None else r2
    co, si = math.cos(tilt), math.sin(tilt)
    pts = []
    for k in range(n):
        t = start + arc * (k + rng.uniform(-0.3, 0.3)) / (n - 1)
        u, v = r * math.cos(t), r2 * math.sin(t)
        # Radial noise along the curve's normal, near enough for test data.
        nu, nv = r2 * math.cos(t), r * math.sin(t)
        length = math.hypot(nu, nv)
        e = rng.normal(sigma)
        u, v = u + e * nu / length, v + e * nv / length
        pts.append((cx + co * u - si * v, cy + si * u + co * v))
    return pts


def pixel_circle(cx, cy, r):
    """The boundary pixels of a disc, in order round it, each once."""
    pts, seen = [], set()
    steps = int(16 * r)
    for k in range(steps):
        t = 2 * math.pi * k / steps
        p = (float(round(cx + r * math.cos(t))), float(round(cy + r * math.sin(t))))
        if p not in seen:
            seen.add(p)
            pts.append(p)
    return pts


def weights_for(rng, n):
    return [rng.uniform(0.25, 4.0) for _ in range(n)]


def parabola_points(rng, n, vx, vy, angle, a, half, sigma):
    co, si = math.cos(angle), math.sin(angle)
    pts = []
    for k in range(n):
        x = -half + 2 * half * (k + rng.uniform(-0.3, 0.3)) / (n - 1)
        y = a * x * x + rng.normal(sigma)
        pts.append((vx + co * x - si * y, vy + si * x + co * y))
    return pts


def pairs(rng, n, matrix, shift, centre, spread, sigma):
    """Sources spread about `centre`, targets their images plus noise."""
    src, tgt = [], []
    for _ in range(n):
        u, v = centre[0] + rng.uniform(-spread, spread), centre[1] + rng.uniform(-spread, spread)
        src.append((u, v))
        tgt.append((matrix[0] * u + matrix[1] * v + shift[0] + rng.normal(sigma),
                    matrix[2] * u + matrix[3] * v + shift[1] + rng.normal(sigma)))
    return tgt, src


def point_lines(rng, n, matrix, shift, centre, spread, sigma):
    """Points spread about `centre`; each line passes through the point's
    image (plus noise along its normal) at a random angle."""
    pts, lines = [], []
    for _ in range(n):
        x, y = centre[0] + rng.uniform(-spread, spread), centre[1] + rng.uniform(-spread, spread)
        px, py = matrix[0] * x + matrix[1] * y + shift[0], matrix[2] * x + matrix[3] * y + shift[1]
        angle = rng.uniform(0, 2 * math.pi)
        d = -px * math.sin(angle) + py * math.cos(angle) + rng.normal(sigma)
        pts.append((x, y))
        lines.append((angle, d))
    return pts, lines


def datasets():
    rng = Rng(20240525)
    out = []

    def add(name, fits, **data):
        out.append((name, fits, data))

    line = ["line"]
    add("line, pixel grid", line, points=line_points(rng, 160, 3.0, 37.0, 0.2718, 150.0, 0.4, grid=1.0))
    add("line, small angle", line, points=line_points(rng, 80, 0.0, 50.0, 3e-4, 200.0, 1e-3))
    add("line, near vertical", line, points=line_points(rng, 60, 20.0, -5.0, math.pi / 2 - 2e-4, 40.0, 1e-4))
    add("line, offset 1e6", line, points=line_points(rng, 60, 1e6, -1e6, 0.7, 10.0, 1e-3))
    add("line, tiny scale", line, points=line_points(rng, 50, 3e-7, 1e-7, 2.1, 2e-8, 1e-11))
    add("line, huge scale", line, points=line_points(rng, 50, 4e9, 7e9, -0.4, 3e8, 1e5))

    circle = ["circle", "weightedCircle", "geometricCircle"]

    def add_circle(name, pts, fits=circle):
        add(name, fits, points=pts, weights=weights_for(rng, len(pts)))

    add_circle("circle, full, noisy", arc_points(rng, 40, 3.0, -2.0, 10.0, 0.3, 2 * math.pi * 39 / 40, 0.05))
    add_circle("circle, 30 degree arc", arc_points(rng, 30, -20.0, 15.0, 50.0, 1.0, math.radians(30), 0.01))
    add_circle("circle, 10 degree arc", arc_points(rng, 20, 5.0, 5.0, 100.0, -0.5, math.radians(10), 0.005))
    add_circle("circle, pixel grid", pixel_circle(80.3, 61.7, 24.6))
    add_circle("circle, offset 1e6", arc_points(rng, 30, 1e6 + 3.0, 2e6 - 7.0, 25.0, 2.0, math.pi / 2, 0.01))
    add_circle("circle, tiny scale", arc_points(rng, 30, 1e-5, 3e-6, 2e-6, 0.5, math.pi, 1e-9))
    add_circle("circle, huge scale", arc_points(rng, 30, 1e9, -2e9, 3e8, 4.0, 2 * math.pi / 3, 1e5))

    ellipse = ["ellipse", "geometricEllipse"]
    add("ellipse, full, noisy", ellipse, points=arc_points(rng, 50, 4.0, -3.0, 12.0, 0.0, 2 * math.pi * 49 / 50,
                                                           0.02, r2=7.0, tilt=0.6))
    add("ellipse, near circular", ellipse, points=arc_points(rng, 60, 1.0, 2.0, 10.0, 0.0, 2 * math.pi * 59 / 60,
                                                             1e-3, r2=9.9, tilt=1.1))
    add("ellipse, half arc", ellipse, points=arc_points(rng, 40, -6.0, 2.0, 20.0, 0.2, math.pi, 0.01, r2=8.0,
                                                        tilt=-0.3))
    add("ellipse, offset 1e6", ellipse, points=arc_points(rng, 40, 1e6, 1e6, 30.0, 0.0, 2 * math.pi * 39 / 40,
                                                          0.01, r2=12.0, tilt=2.0))

    parabola = ["parabola", "weightedParabola"]

    def add_parabola(name, pts):
        add(name, parabola, points=pts, weights=weights_for(rng, len(pts)))

    add_parabola("parabola, exact, turned", parabola_points(rng, 25, 5.0, -2.0, 0.9, 0.35, 6.0, 0.0))
    add_parabola("parabola, noisy", parabola_points(rng, 40, -3.0, 4.0, 2.5, 1.2, 3.0, 1e-6))
    add_parabola("parabola, offset 1e6", parabola_points(rng, 30, 1e6, -2e6, -1.0, 0.05, 20.0, 0.0))

    p2p = ["p2p3", "p2p4", "p2p5", "p2p6", "weightedP2p6"]
    tgt, src = pairs(rng, 30, (0.0801, -0.0034, 0.0029, 0.0799), (-25.6, -19.1), (320.0, 240.0), 200.0, 1e-3)
    add("p2p, camera to plate", p2p, points=tgt, sources=src, weights=weights_for(rng, 30))
    tgt, src = pairs(rng, 30, (0.6, -0.8, 0.8, 0.6), (1e6, -1e6), (2e6, 3e6), 50.0, 1e-3)
    add("p2p, offset 1e6", p2p, points=tgt, sources=src, weights=weights_for(rng, 30))
    tgt, src = pairs(rng, 20, (0.28, 0.96, 0.96, -0.28), (4.0, 1.0), (0.0, 0.0), 10.0, 1e-4)
    add("p2p, mirrored", p2p, points=tgt, sources=src, weights=weights_for(rng, 20))

    p2l = ["p2l", "weightedP2l"]
    pts, lines = point_lines(rng, 40, (1.001, -0.002, 0.003, 0.998), (0.5, -0.25), (0.0, 0.0), 50.0, 1e-4)
    add("p2l, near identity", p2l, points=pts, lines=lines, weights=weights_for(rng, 40))
    pts, lines = point_lines(rng, 40, (0.02, 0.0005, -0.0004, 0.0201), (-3e3, 1e3), (1.5e5, 2e5), 1000.0, 1e-3)
    add("p2l, offset and scale", p2l, points=pts, lines=lines, weights=weights_for(rng, 40))
    return out


# ---- bounds and output ---------------------------------------------------------------


def moved_one(data):
    """Every copy of the data with one of its numbers moved up by one unit
    in the last place."""
    for key, values in data.items():
        for i, value in enumerate(values):
            parts = value if isinstance(value, tuple) else (value,)
            for j in range(len(parts)):
                moved = list(parts)
                moved[j] = math.nextafter(moved[j], math.inf)
                copy = dict(data)
                copy[key] = values[:i] + [tuple(moved) if isinstance(value, tuple) else moved[0]] + values[i + 1:]
                yield copy


def relative(a, b):
    return abs(a - b) / abs(b) if b != 0 else abs(a - b)


def certify(fit, data):
    """The reference values and, for each, the digits that survive any change
    of the data by one unit in the last place of each number: the first-order
    worst case, the sum over the numbers of the change each one alone makes."""
    hint = {}
    reference = FITS[fit](data, hint)
    total = [M(0)] * len(reference)
    for moved in moved_one(data):
        for k, ((name, v), (_, m)) in enumerate(zip(reference, FITS[fit](moved, hint))):
            change = abs(m - v)
            if "angle" in name:  # an angle that wraps compares by its turn
                change = min(change, abs(m - v + 2 * mp.pi), abs(m - v - 2 * mp.pi))
            total[k] += change
    bounds = [16.0 if t == 0 else min(16.0, float(-mp.log10(relative(v + t, v))))
              for (_, v), t in zip(reference, total)]
    return [(name, value, bound) for (name, value), bound in zip(reference, bounds)]


def c_array(values):
    return ",\n".join("    " + ", ".join(repr(v) for v in values[i:i + 6]) for i in range(0, len(values), 6))


def main():
    sets = datasets()
    print("// Certified data sets and their references: generated by")
    print("// tests/certified/make_certified.py (do not edit). Every reference is the")
    print("// exact answer for these doubles to 50 digits; `bound` is the number of its")
    print("// digits that survive any change of the data by one unit in the last place")
    print("// of each number.")
    print()
    for index, (name, fits, data) in enumerate(sets):
        for key, values in data.items():
            flat = [c for p in values for c in (p if isinstance(p, tuple) else (p,))]
            print(f"// {name}: {key}")
            print(f"constexpr double kSet{index}_{key}[] = {{\n{c_array(flat)}}};")
        print()
    print("const CertifiedSet kCertifiedSets[] = {")
    for index, (name, fits, data) in enumerate(sets):
        print(f"    {{\"{name}\", {len(data['points'])},")
        for key in ("points", "weights", "sources", "lines"):
            print(f"     {f'kSet{index}_{key}' if key in data else 'nullptr'},")
        print("     {")
        for fit in fits:
            values = certify(fit, data)
            print(f"         {{Fit::{fit}, {len(values)}, {{")
            for vname, value, bound in values:
                print(f"             {{\"{vname}\", \"{mp.nstr(value, DIGITS, strip_zeros=False)}\", {bound:.2f}}},")
            print("         }},")
            sys.stderr.write(f"{name}: {fit}: " + ", ".join(f"{v[0]} {v[2]:.1f}" for v in values) + "\n")
        print("     }},")
    print("};")


if __name__ == "__main__":
    main()
