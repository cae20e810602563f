// Exported shape services: line, ellipse, parabola.
#include <cmath>
#include <numbers>
#include <utility>

#include <zfit/frame/status.hpp>
#include <zfit/services/math.hpp>

namespace {

// The angle brought into [0, pi): an ellipse looks the same turned by pi.
double halfTurnAngle(double angle)
{
    double folded = std::fmod(angle, std::numbers::pi);
    if (folded < 0.0) folded += std::numbers::pi;
    if (folded >= std::numbers::pi) folded = 0.0;
    return folded;
}

}  // namespace

extern "C" {

zfit_status zmath_shapeFLine_init(zmath_shapeFLine* line)
{
    *line = zsvc::line(0.0, 0.0);
    return zfit_ok;
}

zfit_status zmath_shapeFLine_initAngleDistance(zmath_shapeFLine* line, const double* angle, double d)
{
    *line = zsvc::line(*angle, d);
    return zfit_ok;
}

zfit_status zmath_shapeFLine_setAngle(zmath_shapeFLine* line, const double* angle)
{
    *line = zsvc::line(*angle, line->d);
    return zfit_ok;
}

zfit_status zmath_shapeFLine_getAngle(const zmath_shapeFLine* line, double* angle)
{
    *angle = line->angle;
    return zfit_ok;
}

zfit_status zmath_shapeFLine_getDistance(const zmath_shapeFLine* line, double* out)
{
    *out = line->d;
    return zfit_ok;
}

zfit_status zmath_shapeFLine_getSine(const zmath_shapeFLine* line, double* out)
{
    *out = line->sine;
    return zfit_ok;
}

zfit_status zmath_shapeFLine_getCosine(const zmath_shapeFLine* line, double* out)
{
    *out = line->cosine;
    return zfit_ok;
}

zfit_status zmath_shapeFLine_distanceFrom(const zmath_shapeFLine* line, const zmath_vect* point, double* out)
{
    *out = zsvc::distanceFrom(*line, *point);
    return zfit_ok;
}

zfit_status zmath_shapeEllipse_init(zmath_shapeEllipse* ellipse, const zmath_vect* center, double radius1,
                                    double radius2, double angle)
{
    const bool finite = std::isfinite(center->x) && std::isfinite(center->y) && std::isfinite(radius1) &&
                        std::isfinite(radius2) && std::isfinite(angle);
    ZFIT_FAIL_IF(!finite || radius1 < 0.0 || radius2 < 0.0, zmath_errServiceDegenerateB);
    *ellipse = {*center, radius1, radius2, halfTurnAngle(angle)};
    return zfit_ok;
}

zfit_status zmath_shapeEllipse_initFromXform(zmath_shapeEllipse* ellipse, const zmath_xformLinear* xf)
{
    // Closed-form singular values of the 2x2 matrix: M = R(phi) diag(s1, +-s2) R(-theta).
    // The unit circle maps onto the ellipse with semi-axes s1 along phi and s2 across it.
    const zmath_matrix& m = xf->matrix;
    const double e = 0.5 * (m.m00 + m.m11), f = 0.5 * (m.m00 - m.m11);
    const double g = 0.5 * (m.m10 + m.m01), h = 0.5 * (m.m10 - m.m01);
    const double q = std::hypot(e, h), r = std::hypot(f, g);
    const double phi = 0.5 * (std::atan2(h, e) + std::atan2(g, f));
    *ellipse = {xf->translation, q + r, std::fabs(q - r), halfTurnAngle(phi)};
    return zfit_ok;
}

zfit_status zmath_shapeEllipse_initAlgebraic(zmath_shapeEllipse* ellipse, double a, double b, double c, double d,
                                             double e, double f)
{
    const double den = 4.0 * a * c - b * b;
    if (!(den > 0.0)) return zmath_errServiceDegenerateA;  // b^2 - 4ac >= 0, or NaN

    // Centre: the gradient (2ax + by + d, bx + 2cy + e) vanishes there.
    const double x0 = (b * e - 2.0 * c * d) / den;
    const double y0 = (b * d - 2.0 * a * e) / den;
    // About the centre the conic reads a u^2 + b uv + c v^2 = -f0.
    const double f0 = f + 0.5 * (d * x0 + e * y0);
    // Eigenvalues of (a b/2; b/2 c); the eigenvector of the first points along theta.
    const double mean = 0.5 * (a + c), spread = std::hypot(0.5 * (a - c), 0.5 * b);
    const double lambdaAlong = mean + spread, lambdaAcross = mean - spread;
    const double theta = 0.5 * std::atan2(b, a - c);
    const double r1sq = -f0 / lambdaAlong, r2sq = -f0 / lambdaAcross;
    if (!(r1sq > 0.0) || !(r2sq > 0.0)) return zmath_errServiceDegenerateB;  // imaginary, or a point
    double r1 = std::sqrt(r1sq), r2 = std::sqrt(r2sq), angle = theta;
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(r1) || !std::isfinite(r2))
        return zmath_errServiceDegenerateB;
    if (r1 < r2) {  // report the major axis first
        std::swap(r1, r2);
        angle += 0.5 * std::numbers::pi;
    }
    *ellipse = {{x0, y0}, r1, r2, halfTurnAngle(angle)};
    return zfit_ok;
}

zfit_status zmath_shapeEllipse_getCenter(const zmath_shapeEllipse* ellipse, zmath_vect* center)
{
    *center = ellipse->center;
    return zfit_ok;
}

zfit_status zmath_shapeEllipse_setCenter(zmath_shapeEllipse* ellipse, const zmath_vect* center)
{
    ellipse->center = *center;
    return zfit_ok;
}

zfit_status zmath_shapeEllipse_getRadii(const zmath_shapeEllipse* ellipse, double radii[2])
{
    radii[0] = ellipse->radius1;
    radii[1] = ellipse->radius2;
    return zfit_ok;
}

zfit_status zmath_shapeEllipse_getAngle(const zmath_shapeEllipse* ellipse, double* angle)
{
    *angle = ellipse->angle;
    return zfit_ok;
}

zfit_status zmath_shapeEllipse_getXform(const zmath_shapeEllipse* ellipse, zmath_xformLinear* xf)
{
    const double c = std::cos(ellipse->angle), s = std::sin(ellipse->angle);
    const double r1 = ellipse->radius1, r2 = ellipse->radius2;
    *xf = {ellipse->center, {r1 * c, -r2 * s, r1 * s, r2 * c}};
    return zfit_ok;
}

zfit_status zmath_shapeParabola_init(zmath_shapeParabola* parabola)
{
    *parabola = {zsvc::rigid(0.0, 0.0, 0.0), 0.0};
    return zfit_ok;
}

}  // extern "C"
