// What the entries of the geometric circle and ellipse share: the parameter
// checks (also those of the entries that discard points first,
// ignoring_fit.cpp), the checks of every call in their order, and the
// result's closing fields.
#pragma once

#include <cmath>

#include <zfit/metrology/geometric/geometric.h>

#include "levenberg_marquardt.hpp"
#include "point_frame.hpp"

namespace zmet {

// Every field in the order geometric.h lists the statuses, numIgnore's
// sign included; the plain entries then refuse a numIgnore above 0.
zfit_status checkParams(const zmet_geometricCircleParams& p);
zfit_status checkParams(const zmet_geometricEllipseParams& p);

// The checks of a plain entry before it reads a point, in order: the
// preconditions, the parameters, numIgnore (which only the entries that
// discard points take), negative weights. A negative count counts as 0.
template <class Weights, class Params, class Result>
zfit_status checkCall(const zmath_vect* points, int32_t& count, Weights weights, const Params* params,
                      const Result* result)
{
    if (count < 0) count = 0;
    ZFIT_REQUIRE(params != nullptr && result != nullptr);
    ZFIT_REQUIRE(count == 0 || points != nullptr);
    if constexpr (Weights::weighted) ZFIT_REQUIRE(count == 0 || weights.values != nullptr);
    ZFIT_TRY(checkParams(*params));
    ZFIT_FAIL_IF(params->numIgnore != 0, zmet_errOutOfRange);
    return zsvc::refuseNegative(weights, count);
}

// The fields every geometric result ends with, from the fit in the frame:
// rmsError in the points' units, iterations, uncertainty and isValid (0
// when the fit did not converge, which is then the status).
template <int P, class Result>
zfit_status closeResult(const LmOutcome<P>& fit, const Frame& frame, const zmet_uncertainty& uncertainty,
                        double maxRmsError, Result& result)
{
    result.rmsError = std::sqrt(fit.normal.rss / frame.weightSum) * frame.scale;
    result.iterations = fit.iterations;
    result.uncertainty = uncertainty;
    result.isValid = fit.converged ? validity(maxRmsError, result.rmsError) : 0;
    return fit.converged ? zfit_ok : zmet_errNotConverged;
}

}  // namespace zmet
