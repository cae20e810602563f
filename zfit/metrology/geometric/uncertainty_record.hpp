// Filling a zmet_uncertainty: from a covariance matrix in the caller's
// units, or from the normal equations of a fit's solution in the unit-spread
// frame the geometric fits work in.
#pragma once

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>

#include <zfit/metrology/geometric/uncertainty.h>

#include "levenberg_marquardt.hpp"
#include "small_matrix.hpp"

namespace zmet {

// The Student t quantile (see zmet_studentTQuantile); NaN when the
// arguments are out of range.
double studentQuantile(double probability, double degreesOfFreedom);

// Writes into `u` the record for covariance C of P parameters with dof
// degrees of freedom and residual standard deviation sigma, in place (the
// record is large enough for a copy of it to cost as much as the rest).
// An infinite variance gives an infinite standard error and half-width. The
// record's 32-bit count of degrees of freedom saturates (beyond a billion
// the t quantile is the normal one to nine digits anyway).
template <int P>
void writeUncertainty(const Matrix<P>& covariance, int64_t dof, double sigma, zmet_uncertainty& u)
{
    static_assert(P <= ZMET_MAX_PARAMETERS);
    u = zmet_uncertainty{};
    u.parameterCount = P;
    u.degreesOfFreedom = static_cast<int32_t>(std::min<int64_t>(dof, INT32_MAX));
    u.sigma = sigma;
    u.t95 = studentQuantile(0.975, static_cast<double>(dof));
    for (int i = 0; i < P; ++i) {
        // Exactly symmetric, whatever rounding did to the two triangles.
        for (int j = 0; j < P; ++j) u.covariance[i * P + j] = 0.5 * (covariance[i][j] + covariance[j][i]);
        u.standardErrors[i] = std::sqrt(covariance[i][i]);
        u.halfWidth95[i] = u.t95 * u.standardErrors[i];
    }
}

// sigma^2 (J^T W J)^-1 at a least-squares solution found in a frame of
// scale s (lengths divided by s), carried back to the caller's units:
// entry (i, j) is multiplied by s^(powers[i] + powers[j]), powers[k] being
// 1 for a length and 0 for an angle. `observations` counts the residuals of
// positive weight. When the last parameter may be free (the angle of an
// ellipse whose radii are equal) and only its pivot fails, its variance is
// HUGE_VAL and its covariances 0. Returns false when J^T W J is singular
// otherwise.
template <int P>
bool solutionUncertainty(const Normal<P>& n, int32_t observations, const std::array<int, P>& powers, double scale,
                         bool lastMayBeFree, zmet_uncertainty& out)
{
    Matrix<P> factor{};
    const int determined = choleskyFactor<P>(n.jtj, factor);
    if (determined < P && !(lastMayBeFree && determined == P - 1)) return false;
    const int32_t dof = observations - P;
    const double variance = n.rss / dof;
    Matrix<P> covariance = choleskyInverse<P>(factor, determined);
    for (int i = 0; i < P; ++i)
        for (int j = 0; j < P; ++j) covariance[i][j] *= variance * std::pow(scale, powers[i] + powers[j]);
    if (determined < P) covariance[P - 1][P - 1] = HUGE_VAL;
    writeUncertainty<P>(covariance, dof, std::sqrt(variance) * scale, out);
    return true;
}

}  // namespace zmet
