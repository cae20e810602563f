// The weight sources of the weighted and unweighted twins of a fit.
//
// A fit that exists with and without weights is written once, as a
// template over its weight source: UnitWeights (every point weighs 1) or
// GivenWeights (the caller's array, one weight per point). Both inline to
// the bare value, so the unweighted instance folds the constant 1.0 out of
// every product and costs nothing over a hand-written unweighted loop;
// `weighted` lets a template skip what only weights need (their total,
// their check).
#pragma once

#include <cstdint>

#include <zfit/frame/status.hpp>

namespace zsvc {

// Every point weighs 1.
struct UnitWeights {
    static constexpr bool weighted = false;
    constexpr double operator[](int32_t) const { return 1.0; }
};

// The caller's weights: weight i belongs to point i.
struct GivenWeights {
    static constexpr bool weighted = true;
    const double* values;
    double operator[](int32_t i) const { return values[i]; }
};

// zmath_errFitWeightNegative at the first of count weights below 0 (NaN
// and -0.0 pass); nothing to check for unit weights.
template <class Weights>
zfit_status refuseNegative(const Weights& weights, int32_t count)
{
    if constexpr (Weights::weighted) {
        for (int32_t i = 0; i < count; ++i) ZFIT_FAIL_IF(weights[i] < 0.0, zmath_errFitWeightNegative);
    }
    return zfit_ok;
}

}  // namespace zsvc
