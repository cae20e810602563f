// The uncertainty of the linear fits of libzfit.so: the least-squares line
// and the 4- and 6-degree-of-freedom point-to-point transforms.
//
// Each is C = sigma^2 (J^T W J)^-1 with sigma^2 = RSS / (n - p) (see
// uncertainty.h). J^T W J is accumulated in coordinates centred on the
// data, where its off-diagonal blocks vanish and it stays well conditioned
// at any offset, and the covariance is then carried to the caller's
// parameters by the linear change of parameters G: C = G C' G^T.
//   line, r = -x sin(theta) + y cos(theta) - d: with s_i = x_i cos(theta)
//     + y_i sin(theta) (the position along the line) and s' = s - mean(s),
//     the row in (theta, d + mean(s) theta) is (-s'_i, -1), and
//     G = [[1, 0], [-mean(s), 1]];
//   transforms, r = target - (M p + t): with the sources centred on their
//     weighted centroid m, the translation t' = t + M m has rows
//       4 dof (tx', ty', a, b):  x: (1, 0, u', -v')   y: (0, 1, v', u')
//       6 dof (tx', ty', m00, m01, m10, m11):
//                                x: (1, 0, u', v', 0, 0)  y: (0, 1, 0, 0, u', v')
//     and t = t' - M m gives G (identity but for the rows of tx and ty).
#include <cmath>
#include <utility>

#include <zfit/metrology/geometric/uncertainty.h>
#include <zfit/services/math.hpp>

#include "levenberg_marquardt.hpp"
#include "point_frame.hpp"
#include "uncertainty_record.hpp"

namespace zmet {

namespace {

// C = sigma^2 G (J^T W J)^-1 G^T into the record; false when J^T W J is
// singular.
template <int P>
bool linearUncertainty(Normal<P> normal, const Matrix<P>& g, int64_t observations, zmet_uncertainty& out)
{
    normal.mirror();
    Matrix<P> factor{};
    if (choleskyFactor<P>(normal.jtj, factor) < P) return false;
    const int64_t dof = observations - P;
    const double variance = normal.rss / static_cast<double>(dof);
    Matrix<P> covariance = congruence<P>(g, choleskyInverse<P>(factor));
    for (auto& row : covariance)
        for (double& value : row) value *= variance;
    writeUncertainty<P>(covariance, dof, std::sqrt(variance), out);
    return true;
}

// Two points per step, one in each lane: the lanes are independent chains
// of additions (the even points' and the odd points'), added at the end.
using zsvc::Lanes;

// The sums over the points of the two terms terms(x, y) gives for their
// coordinates, two points at a time (an odd count's last point alone, in
// the first lane).
template <class Terms>
std::pair<double, double> sumInLanes(const zmath_vect* points, int32_t count, const Terms& terms)
{
    Lanes first = {}, second = {};
    int32_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const auto [a, b] = terms(Lanes{points[i].x, points[i + 1].x}, Lanes{points[i].y, points[i + 1].y});
        first += a;
        second += b;
    }
    if (i < count) {
        const auto [a, b] = terms(Lanes{points[i].x, 0.0}, Lanes{points[i].y, 0.0});
        first[0] += a[0];
        second[0] += b[0];
    }
    return {first[0] + first[1], second[0] + second[1]};
}

zfit_status lineUncertainty(const zmath_vect* points, int32_t count, const zmath_shapeFLine& line,
                            zmet_uncertainty& out)
{
    double sine = 0.0, cosine = 0.0, d = 0.0;
    ZFIT_TRY(zmath_shapeFLine_getSine(&line, &sine));
    ZFIT_TRY(zmath_shapeFLine_getCosine(&line, &cosine));
    ZFIT_TRY(zmath_shapeFLine_getDistance(&line, &d));
    ZFIT_FAIL_IF(count < 3, zmet_errTooFewPoints);
    ZFIT_FAIL_IF(!std::isfinite(sine) || !std::isfinite(cosine) || !std::isfinite(d), zmath_errDegenerate);
    // The residuals r = -x sin + y cos - d do not need the mean position
    // s = x cos + y sin along the line: they are summed in the pass that
    // finds it. A coordinate that is not finite makes a sum so (sine and
    // cosine are never both 0), which an overflow also does: either leaves
    // nothing to estimate.
    const auto [alongSum, rss] = sumInLanes(points, count, [&](Lanes x, Lanes y) {
        const Lanes residual = -x * sine + y * cosine - d;
        return std::pair{x * cosine + y * sine, residual * residual};
    });
    ZFIT_FAIL_IF(!std::isfinite(alongSum) || !std::isfinite(rss), zmath_errDegenerate);
    const double meanAlong = alongSum / count;
    // The rows (-s', -1), s' = s - mean(s), give J^T J = [[sum s'^2, sum s'],
    // [sum s', n]] (the signs cancel exactly).
    const auto [spreadSum, spreadSquares] = sumInLanes(points, count, [&](Lanes x, Lanes y) {
        const Lanes along = x * cosine + y * sine - meanAlong;
        return std::pair{along, along * along};
    });
    ZFIT_FAIL_IF(!std::isfinite(spreadSquares), zmath_errDegenerate);
    Normal<2> normal;
    normal.rss = rss;
    normal.jtj[0][0] = spreadSquares;
    normal.jtj[1][0] = spreadSum;
    normal.jtj[1][1] = count;
    const Matrix<2> g = {{{1.0, 0.0}, {-meanAlong, 1.0}}};
    return linearUncertainty<2>(normal, g, count, out) ? zfit_ok : zmath_errDegenerate;
}

// J^T W J of the pairs from their weighted moments in centred source
// coordinates (u', v'): the rows above hold only 1, u' and v', so five sums
// give every entry.
struct PairMoments {
    double w = 0.0, u = 0.0, v = 0.0, uu = 0.0, uv = 0.0, vv = 0.0, rss = 0.0;

    void add(double pu, double pv, double rx, double ry, double weight)
    {
        w += weight;
        u += weight * pu;
        v += weight * pv;
        uu += weight * pu * pu;
        uv += weight * pu * pv;
        vv += weight * pv * pv;
        rss += weight * (rx * rx + ry * ry);
    }

    // The lower triangle of J^T W J, and the RSS.
    template <int P>
    Normal<P> normal() const
    {
        Normal<P> n;
        n.rss = rss;
        auto& a = n.jtj;
        a[0][0] = a[1][1] = w;
        a[2][0] = u;
        if constexpr (P == 4) {  // x: (1, 0, u', -v')   y: (0, 1, v', u')
            a[2][1] = v;
            a[3][0] = -v;
            a[3][1] = u;
            a[2][2] = a[3][3] = uu + vv;
        } else {  // x: (1, 0, u', v', 0, 0)   y: (0, 1, 0, 0, u', v')
            a[3][0] = v;
            a[4][1] = u;
            a[5][1] = v;
            a[2][2] = a[4][4] = uu;
            a[3][2] = a[5][4] = uv;
            a[3][3] = a[5][5] = vv;
        }
        return n;
    }
};

// G for t = t' - M m.
template <int P>
Matrix<P> translationChange(const zmath_vect& m)
{
    Matrix<P> g{};
    for (int k = 0; k < P; ++k) g[k][k] = 1.0;
    if constexpr (P == 4) {  // tx = tx' - a mu + b mv, ty = ty' - b mu - a mv
        g[0][2] = -m.x;
        g[0][3] = m.y;
        g[1][2] = -m.y;
        g[1][3] = -m.x;
    } else {  // tx = tx' - m00 mu - m01 mv, ty = ty' - m10 mu - m11 mv
        g[0][2] = -m.x;
        g[0][3] = -m.y;
        g[1][4] = -m.x;
        g[1][5] = -m.y;
    }
    return g;
}

template <int P, class Weights>
zfit_status transformUncertainty(const zmath_vect* target, const zmath_vect* source, Weights weights, int32_t count,
                                 const zmath_xformLinear& xf, zmet_uncertainty& out)
{
    double weightSum = 0.0, sumU = 0.0, sumV = 0.0;
    int32_t pairs = 0;
    for (int32_t i = 0; i < count; ++i) {
        const double w = weights[i];
        if (!std::isfinite(w) || !std::isfinite(source[i].x) || !std::isfinite(source[i].y) ||
            !std::isfinite(target[i].x) || !std::isfinite(target[i].y))
            return zmath_errFitSolveFailed;
        if (w > 0.0) {
            ++pairs;
            weightSum += w;
            sumU += w * source[i].x;
            sumV += w * source[i].y;
        }
    }
    const int64_t observations = 2 * static_cast<int64_t>(pairs);
    ZFIT_FAIL_IF(observations < P + 1, zmet_errTooFewPoints);
    const zmath_matrix& m = xf.matrix;
    for (double value : {xf.translation.x, xf.translation.y, m.m00, m.m01, m.m10, m.m11})
        ZFIT_FAIL_IF(!std::isfinite(value), zmath_errFitSolveFailed);
    const zmath_vect centroid = {sumU / weightSum, sumV / weightSum};
    PairMoments moments;
    for (int32_t i = 0; i < count; ++i) {
        const double w = weights[i];
        if (w == 0.0) continue;
        const zmath_vect& p = source[i];
        const double rx = target[i].x - (m.m00 * p.x + m.m01 * p.y + xf.translation.x);
        const double ry = target[i].y - (m.m10 * p.x + m.m11 * p.y + xf.translation.y);
        moments.add(p.x - centroid.x, p.y - centroid.y, rx, ry, w);
    }
    return linearUncertainty<P>(moments.normal<P>(), translationChange<P>(centroid), observations, out)
               ? zfit_ok
               : zmath_errFitSolveFailed;
}

template <class Weights>
zfit_status pointToPointUncertainty(const zmath_pointToPointFitParams* params, const zmath_vect* target,
                                    const zmath_vect* source, Weights weights, int32_t count,
                                    const zmath_xformLinear* xform, zmet_uncertainty* out)
{
    if (count < 0) count = 0;
    ZFIT_REQUIRE(params != nullptr && xform != nullptr && out != nullptr);
    ZFIT_REQUIRE(count == 0 || (target != nullptr && source != nullptr));
    if constexpr (Weights::weighted) ZFIT_REQUIRE(count == 0 || weights.values != nullptr);
    ZFIT_TRY(zmath_pointToPointFitParams_validate(params));
    ZFIT_FAIL_IF(params->dof != 4 && params->dof != 6, zmath_errFitBadMode);
    ZFIT_TRY(zsvc::refuseNegative(weights, count));
    if (params->dof == 4) return transformUncertainty<4>(target, source, weights, count, *xform, *out);
    return transformUncertainty<6>(target, source, weights, count, *xform, *out);
}

}  // namespace

}  // namespace zmet

extern "C" {

zfit_status zmet_lineFitUncertainty(const zmath_vect* points, int32_t count, const zmath_shapeFLine* line,
                                    zmet_uncertainty* uncertainty)
{
    if (count < 0) count = 0;
    ZFIT_REQUIRE(line != nullptr && uncertainty != nullptr);
    ZFIT_REQUIRE(count == 0 || points != nullptr);
    return zmet::lineUncertainty(points, count, *line, *uncertainty);
}

zfit_status zmet_pointToPointFitUncertainty(const zmath_pointToPointFitParams* params, const zmath_vect* target,
                                            const zmath_vect* source, int32_t count, const zmath_xformLinear* xform,
                                            zmet_uncertainty* uncertainty)
{
    return zmet::pointToPointUncertainty(params, target, source, zmet::UnitWeights{}, count, xform, uncertainty);
}

zfit_status zmet_pointToPointFitUncertaintyWeighted(const zmath_pointToPointFitParams* params, const zmath_vect* target,
                                                    const zmath_vect* source, const double* weights, int32_t count,
                                                    const zmath_xformLinear* xform, zmet_uncertainty* uncertainty)
{
    return zmet::pointToPointUncertainty(params, target, source, zmet::PointWeights{weights}, count, xform,
                                         uncertainty);
}

}  // extern "C"
