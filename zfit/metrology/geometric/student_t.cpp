// Quantiles of Student's t distribution, for the confidence intervals of
// fitted parameters.
//
// For t >= 0 the upper tail of t with nu degrees of freedom is
//     Q(t) = P(T > t) = 1/2 I_x(nu/2, 1/2),   x = nu / (nu + t^2),
// I the regularised incomplete beta function (Abramowitz and Stegun 26.7.1,
// 26.5.1). I_x(a, b) is evaluated by its continued fraction (A&S 26.5.8)
// with the modified Lentz algorithm, through the symmetry
// I_x(a, b) = 1 - I_{1-x}(b, a) where the fraction converges slowly, and
// with ln B(nu/2, 1/2) from the difference of Stirling's series for
// ln Gamma after lifting the argument to 10 or more. The quantile solves
// Q(t) = 1 - probability by Newton's method, t <- t + (Q(t) - q) / f(t) with
// f the density, started from the Cornish-Fisher expansion (A&S 26.7.5) of
// the normal quantile, which is A&S 26.2.23 polished by Newton on erfc.
// Q is convex and decreasing on t >= 0, so from below the root Newton
// climbs monotonically and from above it lands below after one step.
// 1 and 2 degrees of freedom have closed forms: the Cauchy quantile
// cot(pi q), and the inverse of Q(t) = 1/2 - t / (2 sqrt(2 + t^2)).
#include <cmath>
#include <numbers>

#include "point_frame.hpp"
#include "uncertainty_record.hpp"

namespace zmet {

namespace {

// Lentz's guard: a denominator smaller than this is replaced by it, so that
// the continued fraction never divides by zero.
constexpr double kLentzTiny = 1e-300;
// The fraction has converged when a term changes it by less than this (below
// one unit in the last place of 1).
constexpr double kFractionConverged = 1e-16;
// Newton on Q(t) = q stops after a step of at most this share of t: it
// converges quadratically, so the error left is near its square.
constexpr double kNewtonStep = 1e-7;

// The correction terms of Stirling's series for ln Gamma(x), x >= 10:
// ln Gamma(x) = (x - 1/2) ln x - x + ln(2 pi)/2 + stirlingSeries(x).
double stirlingSeries(double x)
{
    const double inverse = 1.0 / x, inverse2 = inverse * inverse;
    return inverse *
           (1.0 / 12 - inverse2 * (1.0 / 360 - inverse2 * (1.0 / 1260 - inverse2 * (1.0 / 1680 - inverse2 / 1188))));
}

// ln Gamma(a + 1/2) - ln Gamma(a) for a > 0, without the cancellation of
// two large logarithms: the recurrence Gamma(x + 1) = x Gamma(x) lifts a to
// 10 or more, where the difference of the two Stirling series is written
// with log1p.
double logGammaHalfStep(double a)
{
    double lift = 0.0;
    for (; a < 10.0; a += 1.0) lift += std::log((a + 0.5) / a);
    return 0.5 * std::log(a) + a * std::log1p(0.5 / a) - 0.5 + stirlingSeries(a + 0.5) - stirlingSeries(a) - lift;
}

// The continued fraction of I_x(a, b), without its prefactor.
double betaFraction(double a, double b, double x)
{
    auto guard = [](double v) { return std::fabs(v) < kLentzTiny ? kLentzTiny : v; };
    double c = 1.0;
    double d = 1.0 / guard(1.0 - (a + b) * x / (a + 1.0));
    double fraction = d;
    for (int m = 1; m <= 1000; ++m) {
        const double twoM = 2.0 * m;
        const double even = m * (b - m) * x / ((a + twoM - 1.0) * (a + twoM));
        d = 1.0 / guard(1.0 + even * d);
        c = guard(1.0 + even / c);
        fraction *= d * c;
        const double odd = -(a + m) * (a + b + m) * x / ((a + twoM) * (a + twoM + 1.0));
        d = 1.0 / guard(1.0 + odd * d);
        c = guard(1.0 + odd / c);
        const double change = d * c;
        fraction *= change;
        if (std::fabs(change - 1.0) < kFractionConverged) break;
    }
    return fraction;
}

// I_x(a, b) with x and 1 - x given separately, so that neither loses
// digits, and ln B(a, b) given by the caller.
double regularizedBeta(double a, double b, double x, double oneMinusX, double logBeta)
{
    if (x <= 0.0) return 0.0;
    if (oneMinusX <= 0.0) return 1.0;
    const double logX = x > 0.5 ? std::log1p(-oneMinusX) : std::log(x);
    const double logOneMinusX = x < 0.5 ? std::log1p(-x) : std::log(oneMinusX);
    const double prefactor = std::exp(a * logX + b * logOneMinusX - logBeta);
    if (x < (a + 1.0) / (a + b + 2.0)) return prefactor * betaFraction(a, b, x) / a;
    return 1.0 - prefactor * betaFraction(b, a, oneMinusX) / b;
}

// P(T > t) for t >= 0; logBeta = ln B(nu/2, 1/2).
double upperTail(double t, double nu, double logBeta)
{
    const double t2 = t * t;
    return 0.5 * regularizedBeta(0.5 * nu, 0.5, nu / (nu + t2), t2 / (nu + t2), logBeta);
}

// The standard normal quantile of 1 - q, q in (0, 1/2]: the rational
// approximation A&S 26.2.23 (error below 4.5e-4), then two Newton steps on
// the upper tail erfc(z / sqrt 2) / 2, which bring it to rounding.
double normalQuantile(double q)
{
    const double w = std::sqrt(-2.0 * std::log(q));
    double z = w - (2.515517 + w * (0.802853 + w * 0.010328)) / (1.0 + w * (1.432788 + w * (0.189269 + w * 0.001308)));
    for (int i = 0; i < 2; ++i) {
        const double density = std::exp(-0.5 * z * z) / std::sqrt(2.0 * std::numbers::pi);
        z += (0.5 * std::erfc(z / std::numbers::sqrt2) - q) / density;
    }
    return z;
}

// The t with P(T > t) = q, for q in (0, 1/2].
double upperQuantile(double q, double nu)
{
    if (nu == 1.0) return 1.0 / std::tan(std::numbers::pi * q);
    if (nu == 2.0) {
        const double p = 1.0 - q;
        return (2.0 * p - 1.0) / std::sqrt(2.0 * p * q);
    }
    // Cornish-Fisher: t = z + g1/nu + g2/nu^2 + g3/nu^3 + g4/nu^4.
    const double z = normalQuantile(q), z2 = z * z;
    const double g1 = z * (z2 + 1.0) / 4.0;
    const double g2 = z * ((5.0 * z2 + 16.0) * z2 + 3.0) / 96.0;
    const double g3 = z * (((3.0 * z2 + 19.0) * z2 + 17.0) * z2 - 15.0) / 384.0;
    const double g4 = z * ((((79.0 * z2 + 776.0) * z2 + 1482.0) * z2 - 1920.0) * z2 - 945.0) / 92160.0;
    double t = z + (g1 + (g2 + (g3 + g4 / nu) / nu) / nu) / nu;
    // B(nu/2, 1/2) = Gamma(nu/2) Gamma(1/2) / Gamma(nu/2 + 1/2), and the
    // density is (1 + t^2/nu)^(-(nu + 1)/2) / (sqrt(nu) B(nu/2, 1/2)).
    const double logBeta = 0.5 * std::log(std::numbers::pi) - logGammaHalfStep(0.5 * nu);
    const double logDensityScale = -0.5 * std::log(nu) - logBeta;
    // Newton converges quadratically here, so a step that changed t by at
    // most 1e-7 of itself has left an error near 1e-14: no further Q(t) is
    // needed. Far out in a heavy tail Newton climbs by a factor near
    // 1 + 1/nu per step, hence the generous limit.
    for (int i = 0; i < 300; ++i) {
        const double density = std::exp(logDensityScale - 0.5 * (nu + 1.0) * std::log1p(t * t / nu));
        double next = t + (upperTail(t, nu, logBeta) - q) / density;
        if (!(next >= 0.0)) next = 0.5 * t;
        const double change = std::fabs(next - t);
        t = next;
        if (change <= kNewtonStep * t) break;
    }
    return t;
}

}  // namespace

double studentQuantile(double probability, double degreesOfFreedom)
{
    if (!(probability > 0.0 && probability < 1.0) || !(degreesOfFreedom > 0.0) || !std::isfinite(degreesOfFreedom))
        return NAN;
    if (probability == 0.5) return 0.0;
    if (probability > 0.5) return upperQuantile(1.0 - probability, degreesOfFreedom);
    return -upperQuantile(probability, degreesOfFreedom);
}

}  // namespace zmet

extern "C" zfit_status zmet_studentTQuantile(double probability, double degreesOfFreedom, double* quantile)
{
    ZFIT_REQUIRE(quantile != nullptr);
    const double t = zmet::studentQuantile(probability, degreesOfFreedom);
    ZFIT_FAIL_IF(std::isnan(t), zmet_errOutOfRange);
    *quantile = t;
    return zfit_ok;
}
