// The robust point-to-point transform. Minimal samples: the transform of
// libzfit.so fitted to 2 pairs (dof 4) or 3 pairs (dof 3, 5, 6; its
// 3-degree solver needs 3); inside the loop its weighted fit. The residual
// is the distance |target - T(source)|, a 2-D quantity, so the scale is
// the per-coordinate sigma (median distance / sqrt(2 ln 2)).
#include <array>
#include <cmath>

#include "robust_internal.hpp"

namespace zmet::robust {

namespace {

bool finite(const zmath_xformLinear& t)
{
    const zmath_matrix& m = t.matrix;
    return std::isfinite(m.m00) && std::isfinite(m.m01) && std::isfinite(m.m10) && std::isfinite(m.m11) &&
           std::isfinite(t.translation.x) && std::isfinite(t.translation.y);
}

class TransformModel {
public:
    using Shape = zmath_xformLinear;
    static constexpr Sampling sampling{3, 128, false, Extent::aroundCentre};

    TransformModel(const zmath_vect* target, const zmath_vect* source, int32_t count, int32_t dof)
        : target_(target), source_(source), count_(count)
    {
        zmath_pointToPointFitParams_init(&params_);
        params_.dof = dof;
    }

    int32_t minimumPoints() const { return params_.dof <= 4 ? 3 : 4; }
    int membersUsed() const { return params_.dof == 4 ? 2 : 3; }
    zmath_vect position(int32_t i) const { return source_[i]; }
    bool finite(int32_t i) const
    {
        return std::isfinite(target_[i].x) && std::isfinite(target_[i].y) && std::isfinite(source_[i].x) &&
               std::isfinite(source_[i].y);
    }

    template <class Sink>
    void candidates(std::span<const int32_t> sample, Sink&& sink) const
    {
        // dof 4 needs two pairs: the first two members; the third then only
        // spreads the sample.
        const int used = membersUsed();
        zmath_vect target[sampling.size], source[sampling.size];
        for (int k = 0; k < used; ++k) {
            target[k] = target_[sample[k]];
            source[k] = source_[sample[k]];
        }
        zmath_pointToPointFitResult r;
        if (ZFIT_FAILED(zmath_pointToPointFitResult_construct(&r))) return;
        if (ZFIT_FAILED(zmath_pointToPointFit(&params_, target, source, used, &r))) return;
        if (robust::finite(r.xform)) sink(r.xform);
    }

    double residual(const zmath_xformLinear& t, int32_t i) const { return std::sqrt(scoreSquared(t, i)); }
    double scoreSquared(const zmath_xformLinear& t, int32_t i) const
    {
        const zmath_vect p = source_[i];
        const double dx = target_[i].x - (t.matrix.m00 * p.x + t.matrix.m01 * p.y + t.translation.x);
        const double dy = target_[i].y - (t.matrix.m10 * p.x + t.matrix.m11 * p.y + t.translation.y);
        return dx * dx + dy * dy;
    }
    bool refine() { return false; }

    zfit_status fit(std::span<const double> weights, zmath_xformLinear& t) const
    {
        if ((params_.dof == 4 || params_.dof == 6) && closedForm(weights, t)) return zfit_ok;
        zmath_pointToPointFitResult r;
        ZFIT_TRY(zmath_pointToPointFitResult_construct(&r));
        ZFIT_TRY(zmath_pointToPointFitWeighted(&params_, target_, source_, weights.data(), count_, &r));
        t = r.xform;
        return zfit_ok;
    }

    // The linear model's covariance (dof 4 and 6), from the weights of the
    // last fit; none for dof 3 and 5.
    zmet_uncertainty uncertainty(const zmath_xformLinear& t, std::span<const double> weights,
                                 std::span<const double>) const
    {
        zmet_uncertainty u{};
        if (params_.dof != 4 && params_.dof != 6) return u;
        if (ZFIT_FAILED(
                zmet_pointToPointFitUncertaintyWeighted(&params_, target_, source_, weights.data(), count_, &t, &u)))
            return {};
        return u;
    }

private:
    // The weighted least-squares similarity (dof 4) or affine map (dof 6)
    // in closed form from one pass of moments about the first pair of
    // positive weight: libzfit.so's weighted fit solves the same problem
    // but adds a pass for an RMS the loop does not use. False when the
    // sources lie too close to one point (dof 4) or one line (dof 6) for
    // the closed form to be trusted by a wide margin; the loop then leaves
    // that fit, and its status, to libzfit.so.
    bool closedForm(std::span<const double> weights, zmath_xformLinear& t) const
    {
        std::size_t first = 0;
        while (first < weights.size() && !(weights[first] > 0.0)) ++first;
        if (first == weights.size()) return false;
        const zmath_vect targetOrigin = target_[first], sourceOrigin = source_[first];
        // The sums of w, w p and w q (p a target, q a source, each about its
        // origin) and of the products w q q and w p q, named as below.
        enum { W, X, Y, U, V, UU, VV, UV, XU, XV, YU, YV, kSums };
        std::array<double, kSums> sum{};
        for (std::size_t i = first; i < weights.size(); ++i) {
            const double w = weights[i];
            const double px = target_[i].x - targetOrigin.x, py = target_[i].y - targetOrigin.y;
            const double qu = source_[i].x - sourceOrigin.x, qv = source_[i].y - sourceOrigin.y;
            const double wu = w * qu, wv = w * qv;
            const std::array<double, kSums> term{w,       w * px,  w * py,  wu,      wv,      wu * qu,
                                                 wv * qv, wu * qv, wu * px, wv * px, wu * py, wv * py};
            for (int k = 0; k < kSums; ++k) sum[k] += term[k];
        }
        // The moments about the weighted centroids.
        const double cx = sum[X] / sum[W], cy = sum[Y] / sum[W], cu = sum[U] / sum[W], cv = sum[V] / sum[W];
        const double Suu = sum[UU] - sum[U] * cu, Svv = sum[VV] - sum[V] * cv, Suv = sum[UV] - sum[U] * cv;
        const double Sxu = sum[XU] - sum[X] * cu, Sxv = sum[XV] - sum[X] * cv;
        const double Syu = sum[YU] - sum[Y] * cu, Syv = sum[YV] - sum[Y] * cv;
        const double spread = Suu + Svv;
        if (!(spread > kTrusted * (sum[UU] + sum[VV]))) return false;
        zmath_matrix m;
        if (params_.dof == 4) {
            const double a = (Sxu + Syv) / spread, b = (Syu - Sxv) / spread;
            m = {a, -b, b, a};
        } else {
            const double d = Suu * Svv - Suv * Suv;
            if (!(d > kTrusted * Suu * Svv)) return false;
            m = {(Svv * Sxu - Suv * Sxv) / d, (Suu * Sxv - Suv * Sxu) / d, (Svv * Syu - Suv * Syv) / d,
                 (Suu * Syv - Suv * Syu) / d};
        }
        // The translation maps the sources' centroid onto the targets'.
        const double su = sourceOrigin.x + cu, sv = sourceOrigin.y + cv;
        const zmath_xformLinear out{
            {targetOrigin.x + cx - (m.m00 * su + m.m01 * sv), targetOrigin.y + cy - (m.m10 * su + m.m11 * sv)}, m};
        if (!robust::finite(out)) return false;
        t = out;
        return true;
    }

    // How far from a point or a line the sources must be, relative to
    // their spread, for the closed form: a million times the floor below
    // which libzfit.so calls them degenerate (1e-12), so that libzfit.so
    // decides every doubtful case; above it the closed form loses at most
    // some 1e-10 of the matrix to rounding.
    static constexpr double kTrusted = 1e-6;

    const zmath_vect* target_;
    const zmath_vect* source_;
    int32_t count_;
    zmath_pointToPointFitParams params_{};
};

}  // namespace

}  // namespace zmet::robust

extern "C" zfit_status zmet_robustPointToPointFit(const zmath_vect* target, const zmath_vect* source, int32_t count,
                                                  const double* weights, int32_t dof, const zmet_robustParams* params,
                                                  zmet_robustTransformResult* result)
{
    using namespace zmet::robust;
    ZFIT_TRY(checkEntry(count, target != nullptr && source != nullptr, params, result));
    ZFIT_FAIL_IF(dof < 3 || dof > 6, zmath_errFitBadMode);
    TransformModel model(target, source, count, dof);
    Fitted<TransformModel> fitted;
    ZFIT_TRY(fitted.run(model, count, weights, *params));
    return fitted.conclude(*params, *result, [&](zmet_robustTransformResult& r) { r.xform = fitted.shape; });
}
