"""Orthogonal-distance references built on scipy, for geometric_compare.py:
seeded arcs, fitted by general-purpose least squares."""
import math

import numpy as np
from scipy.optimize import least_squares


def arc(rng, centre, radii, angle, start, span, n, sigma):
    t = start + span * np.arange(n) / (n - 1)
    c, s = math.cos(angle), math.sin(angle)
    x, y = radii[0] * np.cos(t), radii[1] * np.sin(t)
    points = np.column_stack([centre[0] + c * x - s * y, centre[1] + s * x + c * y])
    return points + rng.normal(0.0, sigma, points.shape)


def scipy_circle(points, start):
    """The orthogonal-distance circle by scipy's Levenberg-Marquardt, started
    from `start` (cx, cy, r)."""
    def residuals(q):
        return np.hypot(points[:, 0] - q[0], points[:, 1] - q[1]) - q[2]

    def jacobian(q):
        dx, dy = points[:, 0] - q[0], points[:, 1] - q[1]
        d = np.hypot(dx, dy)
        return np.column_stack([-dx / d, -dy / d, -np.ones_like(d)])

    return least_squares(residuals, start, jac=jacobian, method="lm", xtol=1e-12, ftol=1e-12).x


def scipy_ellipse(points, start):
    """The parametric orthogonal-distance ellipse (Gander, Golub and Strebel):
    least squares over centre, semi-axes, angle and one curve parameter per
    point, started from `start` (cx, cy, a, b, angle)."""
    n = len(points)
    c, s = math.cos(start[4]), math.sin(start[4])
    local = (points - start[:2]) @ np.array([[c, -s], [s, c]])
    phases = np.arctan2(local[:, 1] / start[3], local[:, 0] / start[2])

    def model(q):
        cx, cy, a, b, alpha = q[:5]
        t = q[5:]
        c, s = math.cos(alpha), math.sin(alpha)
        return cx + c * a * np.cos(t) - s * b * np.sin(t), cy + s * a * np.cos(t) + c * b * np.sin(t), c, s, t

    def residuals(q):
        x, y, *_ = model(q)
        return np.concatenate([points[:, 0] - x, points[:, 1] - y])

    def jacobian(q):
        x, y, c, s, t = model(q)
        a, b, cx, cy = q[2], q[3], q[0], q[1]
        ct, st = np.cos(t), np.sin(t)
        j = np.zeros((2 * n, 5 + n))
        j[:n, 0], j[n:, 1] = -1.0, -1.0
        j[:n, 2], j[n:, 2] = -c * ct, -s * ct
        j[:n, 3], j[n:, 3] = s * st, -c * st
        j[:n, 4], j[n:, 4] = y - cy, -(x - cx)
        rows = np.arange(n)
        j[rows, 5 + rows] = c * a * st + s * b * ct
        j[n + rows, 5 + rows] = s * a * st - c * b * ct
        return j

    return least_squares(residuals, np.concatenate([start, phases]), jac=jacobian, method="lm",
                         xtol=1e-12, ftol=1e-12).x[:5]
