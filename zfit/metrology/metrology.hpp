// The companion library in the header-only C++ layer of zfit.hpp: its
// result records that own storage (the robust fits', the geometric fits
// after an outlier search) as zfit::Result, and the outliers of a robust
// fit as a span (zfit::ignored gives the discards of the others).
//
//   zfit::RobustCircleResult fit;     // constructed here, destructed at scope end
//   zmet_robustCircleFit(points, n, nullptr, &params, zmet_robustAlgebraic, fit.get());
//   for (int32_t i : zfit::outliers(fit->robust)) ...
#pragma once

#include <zfit/metrology/metrology.h>
#include <zfit/zfit.hpp>

namespace zfit {

#define ZMET_RESULT_TRAITS_(R)                                          \
    template <>                                                         \
    struct ResultTraits<R> {                                            \
        static zfit_status construct(R* r) { return R##_construct(r); } \
        static zfit_status destruct(R* r) { return R##_destruct(r); }   \
    };
ZMET_RESULT_TRAITS_(zmet_robustLineResult)
ZMET_RESULT_TRAITS_(zmet_robustCircleResult)
ZMET_RESULT_TRAITS_(zmet_robustEllipseResult)
ZMET_RESULT_TRAITS_(zmet_robustTransformResult)
ZMET_RESULT_TRAITS_(zmet_geometricCircleIgnoringResult)
ZMET_RESULT_TRAITS_(zmet_geometricEllipseIgnoringResult)
#undef ZMET_RESULT_TRAITS_

using RobustLineResult = Result<zmet_robustLineResult>;
using RobustCircleResult = Result<zmet_robustCircleResult>;
using RobustEllipseResult = Result<zmet_robustEllipseResult>;
using RobustTransformResult = Result<zmet_robustTransformResult>;
using GeometricCircleIgnoringResult = Result<zmet_geometricCircleIgnoringResult>;
using GeometricEllipseIgnoringResult = Result<zmet_geometricEllipseIgnoringResult>;

// The outliers of a robust fit, ascending.
inline std::span<const int32_t> outliers(const zmet_robustOutcome& outcome) { return view(outcome.outliers); }

}  // namespace zfit
