// The robust ellipse.
//
// The weighted direct fit (Fitzgibbon, Pilu and Fisher, in the partitioned
// form of Halir and Flusser), used for the five-point samples with unit
// weights and inside the algebraic loop with the robust weights:
//   1. move the points to their weighted centroid and scale them to unit
//      RMS spread (the sums below stay well conditioned at any offset);
//   2. sum the weighted scatter blocks of z1 = (x^2, xy, y^2) and
//      z2 = (x, y, 1): S1 = sum w z1 z1^T, S2 = sum w z1 z2^T,
//      S3 = sum w z2 z2^T;
//   3. eliminate the linear part: T = -S3^-1 S2^T, M = S1 + S2 T;
//   4. the quadratic part a1 = (a, b, c) is an eigenvector of C1^-1 M,
//      C1 the constraint 4ac - b^2 (C1^-1 M has rows M2 / 2, -M1, M0 / 2);
//      among the real eigenvectors with 4ac - b^2 > 0 the one of least
//      cost a1^T M a1 / (4ac - b^2) wins, and the linear part is T a1;
//   5. the conic back to centre, radii and angle (the shape services), then
//      to the caller's frame.
// The residual is the signed orthogonal distance, positive outside, from the
// contact point the geometric ellipse uses (Newton's method on the Lagrange
// multiplier of the nearest-point problem, ellipse_contact.hpp). The
// start scores its candidates by the first-order (Sampson) distance
// Q / |grad Q| of the normalised conic Q = u^2/a^2 + v^2/b^2 - 1, which
// costs no iteration.
#include <array>
#include <cmath>

#include <zfit/metrology/geometric/ellipse_contact.hpp>
#include <zfit/metrology/geometric/geometric.h>
#include <zfit/services/weights.hpp>

#include "robust_internal.hpp"

namespace zmet::robust {

namespace {

// The scatter's linear block is taken as singular below this determinant,
// relative to its diagonal's product (points all on one line).
constexpr double kSingular = 1e-12;

struct Ellipse {
    double x = 0.0, y = 0.0, a = 1.0, b = 1.0, angle = 0.0, c = 1.0, s = 0.0;
};

using Matrix3 = std::array<std::array<double, 3>, 3>;

// The inverse of a 3x3 matrix by cofactors; false when singular.
bool invert(const Matrix3& m, Matrix3& inverse)
{
    double scale = 1.0;
    for (int k = 0; k < 3; ++k) scale *= std::fabs(m[k][k]);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int i1 = (j + 1) % 3, i2 = (j + 2) % 3, j1 = (i + 1) % 3, j2 = (i + 2) % 3;
            inverse[i][j] = m[i1][j1] * m[i2][j2] - m[i1][j2] * m[i2][j1];
        }
    const double det = m[0][0] * inverse[0][0] + m[0][1] * inverse[1][0] + m[0][2] * inverse[2][0];
    if (!(std::fabs(det) > kSingular * scale)) return false;
    for (auto& row : inverse)
        for (double& value : row) value /= det;
    return true;
}

// The real roots of x^3 + b x^2 + c x + d (Viete's trigonometric form for
// three, Cardano's for one). A root a little off, or the spurious second
// one Cardano's branch adds, gives a vector that is no eigenvector; it may
// pass the constraint but never beats the true eigenvector's cost, which
// is the least over all vectors that pass it.
int cubicRoots(double b, double c, double d, std::array<double, 3>& roots)
{
    const double p = c - b * b / 3.0;
    const double q = 2.0 * b * b * b / 27.0 - b * c / 3.0 + d;
    const double disc = 0.25 * q * q + p * p * p / 27.0;
    int count = 0;
    if (disc < 0.0) {
        const double r = std::sqrt(-p / 3.0);
        const double phi = std::acos(std::clamp(-q / (2.0 * r * r * r), -1.0, 1.0));
        for (int k = 0; k < 3; ++k) roots[count++] = 2.0 * r * std::cos((phi - 2.0 * M_PI * k) / 3.0);
    } else {
        const double root = std::sqrt(disc);
        const double t = std::cbrt(-0.5 * q + root) + std::cbrt(-0.5 * q - root);
        roots[count++] = t;
        roots[count++] = -0.5 * t;  // the double root when disc is 0
    }
    for (int k = 0; k < count; ++k) roots[k] -= b / 3.0;
    return count;
}

// The direct ellipse fit of the weighted points (see the top of the file).
template <class Weights>
zfit_status directEllipse(const zmath_vect* points, int32_t count, Weights weights, Ellipse& out)
{
    double w = 0.0, mx = 0.0, my = 0.0;
    for (int32_t i = 0; i < count; ++i) {
        w += weights[i];
        mx += weights[i] * points[i].x;
        my += weights[i] * points[i].y;
    }
    ZFIT_FAIL_IF(!(w > 0.0), zmath_errDegenerate);
    mx /= w;
    my /= w;
    double spread = 0.0;
    for (int32_t i = 0; i < count; ++i) {
        const double dx = points[i].x - mx, dy = points[i].y - my;
        spread += weights[i] * (dx * dx + dy * dy);
    }
    const double k = std::sqrt(spread / w);
    ZFIT_FAIL_IF(!(k > 0.0), zmath_errDegenerate);

    Matrix3 s1{}, s2{}, s3{};
    for (int32_t i = 0; i < count; ++i) {
        const double wi = weights[i];
        if (wi == 0.0) continue;
        const double x = (points[i].x - mx) / k, y = (points[i].y - my) / k;
        const std::array<double, 3> z1 = {x * x, x * y, y * y}, z2 = {x, y, 1.0};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                s1[r][c] += wi * z1[r] * z1[c];
                s2[r][c] += wi * z1[r] * z2[c];
                s3[r][c] += wi * z2[r] * z2[c];
            }
    }
    Matrix3 s3inv{}, t{}, m{};
    ZFIT_FAIL_IF(!invert(s3, s3inv), zmath_errDegenerate);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            for (int j = 0; j < 3; ++j) t[r][c] -= s3inv[r][j] * s2[c][j];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            m[r][c] = s1[r][c];
            for (int j = 0; j < 3; ++j) m[r][c] += s2[r][j] * t[j][c];
        }
    const Matrix3 e = {{{0.5 * m[2][0], 0.5 * m[2][1], 0.5 * m[2][2]},
                        {-m[1][0], -m[1][1], -m[1][2]},
                        {0.5 * m[0][0], 0.5 * m[0][1], 0.5 * m[0][2]}}};
    const double trace = e[0][0] + e[1][1] + e[2][2];
    const double minors = e[0][0] * e[1][1] - e[0][1] * e[1][0] + e[0][0] * e[2][2] - e[0][2] * e[2][0] +
                          e[1][1] * e[2][2] - e[1][2] * e[2][1];
    const double det = e[0][0] * (e[1][1] * e[2][2] - e[1][2] * e[2][1]) -
                       e[0][1] * (e[1][0] * e[2][2] - e[1][2] * e[2][0]) +
                       e[0][2] * (e[1][0] * e[2][1] - e[1][1] * e[2][0]);
    std::array<double, 3> lambdas{};
    const int roots = cubicRoots(-trace, minors, -det, lambdas);

    std::array<double, 3> best{};
    double bestCost = HUGE_VAL;
    for (int r = 0; r < roots; ++r) {
        // The null vector of E - lambda I: the longest cross product of two
        // of its rows.
        Matrix3 a = e;
        for (int j = 0; j < 3; ++j) a[j][j] -= lambdas[r];
        std::array<double, 3> v{};
        double longest = 0.0;
        for (int p = 0; p < 3; ++p) {
            const auto& u = a[p];
            const auto& x = a[(p + 1) % 3];
            const std::array<double, 3> cross = {u[1] * x[2] - u[2] * x[1], u[2] * x[0] - u[0] * x[2],
                                                 u[0] * x[1] - u[1] * x[0]};
            const double length = cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2];
            if (length > longest) {
                longest = length;
                v = cross;
            }
        }
        const double constraint = 4.0 * v[0] * v[2] - v[1] * v[1];
        if (!(constraint > 0.0)) continue;
        double cost = 0.0;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) cost += v[i] * m[i][j] * v[j];
        cost /= constraint;
        if (cost < bestCost) {
            bestCost = cost;
            best = v;
        }
    }
    ZFIT_FAIL_IF(!(bestCost < HUGE_VAL), zmath_errDegenerate);
    std::array<double, 3> linear{};
    for (int r = 0; r < 3; ++r)
        for (int j = 0; j < 3; ++j) linear[r] += t[r][j] * best[j];
    zmath_shapeEllipse shape;
    ZFIT_TRY(zmath_shapeEllipse_initAlgebraic(&shape, best[0], best[1], best[2], linear[0], linear[1], linear[2]));
    zmath_vect centre{};
    double radii[2] = {0.0, 0.0}, angle = 0.0;
    ZFIT_TRY(zmath_shapeEllipse_getCenter(&shape, &centre));
    ZFIT_TRY(zmath_shapeEllipse_getRadii(&shape, radii));
    ZFIT_TRY(zmath_shapeEllipse_getAngle(&shape, &angle));
    out = {centre.x * k + mx, centre.y * k + my, radii[0] * k, radii[1] * k, angle, std::cos(angle), std::sin(angle)};
    return zfit_ok;
}

class EllipseModel : public PointSet {
public:
    using Shape = Ellipse;
    static constexpr Sampling sampling{5, 256, true, Extent::aroundCentre};

    EllipseModel(const zmath_vect* points, int32_t count, int32_t flavour)
        : PointSet(points, count), stages_(flavour == zmet_robustGeometric)
    {
        zmet_geometricEllipseParams_init(&params_);
        // Each reweighted fit starts from the last shape, close by.
        params_.useStart = 1;
    }

    int32_t minimumPoints() const { return 6; }

    template <class Sink>
    void candidates(std::span<const int32_t> sample, Sink&& sink) const
    {
        std::array<zmath_vect, sampling.size> chosen;
        for (int k = 0; k < sampling.size; ++k) chosen[static_cast<std::size_t>(k)] = points_[sample[k]];
        Ellipse e;
        // The shape services refuse point ellipses, so a fitted one has
        // two positive radii.
        if (!ZFIT_FAILED(directEllipse(chosen.data(), sampling.size, zsvc::UnitWeights{}, e))) sink(e);
    }

    // Point i in the ellipse's frame.
    zmath_vect local(const Ellipse& e, int32_t i) const
    {
        const double dx = points_[i].x - e.x, dy = points_[i].y - e.y;
        return {dx * e.c + dy * e.s, -dx * e.s + dy * e.c};
    }

    double residual(const Ellipse& e, int32_t i) const
    {
        const zmath_vect u = local(e, i);
        const EllipseContact c = ellipseContact(e.a, e.b, u.x, u.y);
        return c.t * std::hypot(c.x / (e.a * e.a), c.y / (e.b * e.b));
    }

    double scoreSquared(const Ellipse& e, int32_t i) const
    {
        const zmath_vect u = local(e, i);
        const double a2 = e.a * e.a, b2 = e.b * e.b;
        const double q = u.x * u.x / a2 + u.y * u.y / b2 - 1.0;
        const double gx = u.x / a2, gy = u.y / b2;
        const double gradient2 = 4.0 * (gx * gx + gy * gy);
        return gradient2 > 0.0 ? q * q / gradient2 : e.b * e.b;
    }

    bool refine() { return stages_.refine(); }

    zfit_status fit(std::span<const double> weights, Ellipse& e)
    {
        if (!stages_.geometricNow()) return directEllipse(points_, count_, zsvc::GivenWeights{weights.data()}, e);
        zmet_geometricEllipseResult r{};
        params_.start = {{e.x, e.y}, e.a, e.b, e.angle};
        ZFIT_TRY(zmet_geometricEllipseFitWeighted(points_, count_, weights.data(), &params_, &r));
        zmath_vect centre{};
        double radii[2] = {0.0, 0.0}, angle = 0.0;
        ZFIT_TRY(zmath_shapeEllipse_getCenter(&r.ellipse, &centre));
        ZFIT_TRY(zmath_shapeEllipse_getRadii(&r.ellipse, radii));
        ZFIT_TRY(zmath_shapeEllipse_getAngle(&r.ellipse, &angle));
        e = {centre.x, centre.y, radii[0], radii[1], angle, std::cos(angle), std::sin(angle)};
        lastUncertainty_ = r.uncertainty;
        return zfit_ok;
    }

    // The geometric fit's own covariance of its last (the final weighted)
    // problem; the algebraic ellipse reports none.
    zmet_uncertainty uncertainty(const Ellipse&, std::span<const double>, std::span<const double>) const
    {
        return lastUncertainty_;
    }

private:
    Stages stages_;
    zmet_geometricEllipseParams params_{};
    zmet_uncertainty lastUncertainty_{};
};

}  // namespace

}  // namespace zmet::robust

extern "C" zfit_status zmet_robustEllipseFit(const zmath_vect* points, int32_t count, const double* weights,
                                             const zmet_robustParams* params, int32_t flavour,
                                             zmet_robustEllipseResult* result)
{
    using namespace zmet::robust;
    ZFIT_TRY(checkEntry(count, points != nullptr, params, result));
    ZFIT_TRY(checkFlavour(flavour));
    EllipseModel model(points, count, flavour);
    Fitted<EllipseModel> fitted;
    ZFIT_TRY(fitted.run(model, count, weights, *params));
    const Ellipse& e = fitted.shape;
    const zmath_vect centre{e.x, e.y};
    zmath_shapeEllipse shape;
    ZFIT_TRY(zmath_shapeEllipse_init(&shape, &centre, e.a, e.b, e.angle));
    return fitted.conclude(*params, *result, [&](zmet_robustEllipseResult& r) { r.ellipse = shape; });
}
