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
// f the density, started from the Cornish-Fisher expansion of the normal
// quantile (A&S 26.7.5, 26.2.23).
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
    constexpr double tiny = 1e-300;
    auto guard = [](double v) { return std::fabs(v) < tiny ? tiny : v; };
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
        if (std::fabs(change - 1.0) < 1e-16) break;
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

// The standard normal quantile of 1 - q, q in (0, 1/2], to about 4.5e-4.
double roughNormalQuantile(double q)
{
    const double w = std::sqrt(-2.0 * std::log(q));
    return w - (2.515517 + w * (0.802853 + w * 0.010328)) / (1.0 + w * (1.432788 + w * (0.189269 + w * 0.001308)));
}

// The t with P(T > t) = q, for q in (0, 1/2].
double upperQuantile(double q, double nu)
{
    if (nu == 1.0) return 1.0 / std::tan(std::numbers::pi * q);
    if (nu == 2.0) {
        const double p = 1.0 - q;
        return (2.0 * p - 1.0) / std::sqrt(2.0 * p * q);
    }
    const double z = roughNormalQuantile(q), z2 = z * z;
    double t = z + z * (z2 + 1.0) / (4.0 * nu) + z * ((5.0 * z2 + 16.0) * z2 + 3.0) / (96.0 * nu * nu);
    // B(nu/2, 1/2) = Gamma(nu/2) Gamma(1/2) / Gamma(nu/2 + 1/2), and the
    // density is (1 + t^2/nu)^(-(nu + 1)/2) / (sqrt(nu) B(nu/2, 1/2)).
    const double halfStep = logGammaHalfStep(0.5 * nu);
    const double logBeta = 0.5 * std::log(std::numbers::pi) - halfStep;
    const double logDensityScale = -0.5 * std::log(nu) - logBeta;
    // Stops at a relative change of 1e-13 (the result is good to about
    // 1e-11, the accuracy of Q itself), or once the steps are small and
    // rounding in Q(t) keeps them from shrinking further (near the median).
    // Far out in a heavy tail Newton climbs by a factor near 1 + 1/nu per
    // step, hence the generous limit.
    double previousChange = HUGE_VAL;
    for (int i = 0; i < 300; ++i) {
        const double density = std::exp(logDensityScale - 0.5 * (nu + 1.0) * std::log1p(t * t / nu));
        double next = t + (upperTail(t, nu, logBeta) - q) / density;
        if (!(next >= 0.0)) next = 0.5 * t;
        const double change = std::fabs(next - t);
        t = next;
        if (change <= 1e-13 * t || (change <= 1e-8 * t && change >= previousChange)) break;
        previousChange = change;
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
    ZMET_REQUIRE(quantile != nullptr);
    const double t = zmet::studentQuantile(probability, degreesOfFreedom);
    if (std::isnan(t)) return zmet_errOutOfRange;
    *quantile = t;
    return zfit_ok;
}
