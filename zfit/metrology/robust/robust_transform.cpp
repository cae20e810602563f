// The robust point-to-point transform. Minimal samples: the transform of
// libzfit.so fitted to 2 pairs (dof 4) or 3 pairs (dof 3, 5, 6; its
// 3-degree solver needs 3); inside the loop its weighted fit. The residual
// is the distance |target - T(source)|, a 2-D quantity, so the scale is
// the per-coordinate sigma (median distance / sqrt(2 ln 2)).
#include <cmath>

#include "robust_internal.hpp"

namespace zmet::robust {

namespace {

class TransformModel {
public:
    using Shape = zmath_xformLinear;
    static constexpr int sampleSize = 3;
    static constexpr int sampleCount = 128;
    static constexpr bool planar = false;
    static constexpr Extent extent = Extent::aroundCentre;

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
        zmath_vect target[sampleSize], source[sampleSize];
        for (int k = 0; k < used; ++k) {
            target[k] = target_[sample[k]];
            source[k] = source_[sample[k]];
        }
        zmath_pointToPointFitResult r;
        if (ZFIT_FAILED(zmath_pointToPointFitResult_construct(&r))) return;
        if (ZFIT_FAILED(zmath_pointToPointFit(&params_, target, source, used, &r))) return;
        if (std::isfinite(r.xform.matrix.m00) && std::isfinite(r.xform.matrix.m01) &&
            std::isfinite(r.xform.matrix.m10) && std::isfinite(r.xform.matrix.m11) &&
            std::isfinite(r.xform.translation.x) && std::isfinite(r.xform.translation.y))
            sink(r.xform);
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
