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
//
// Every fit that reports an uncertainty asks for the 0.975 quantile at a
// whole number of degrees of freedom. For up to 256 of them the answer is
// read from a table of what the computation returns, bit for bit: for a
// line of 50 points the Newton steps cost as much as the fit and its
// covariance together.
#include <array>
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

// upperQuantile(1 - 0.975, nu) for nu = 1, 2, ..., 256, as hex floats so
// that every bit is the computation's.
constexpr std::array<double, 256> kUpper975 = {
    0x1.96993aacc4d1ep+3, 0x1.135ea98e146b9p+2, 0x1.975a66893c19bp+1, 0x1.63628d9efb5cdp+1, 0x1.4908d359dff2dp+1,
    0x1.393468546e645p+1, 0x1.2eac01e9f5b16p+1, 0x1.272b24bc9241dp+1, 0x1.218e5dac50b1ep+1, 0x1.1d33a7661d2f7p+1,
    0x1.19b9e1b8c9968p+1, 0x1.16e356bbc3523p+1, 0x1.1486f5cb67d37p+1, 0x1.12885ec4c065cp+1, 0x1.10d356b5a06bap+1,
    0x1.0f590e8d62dcdp+1, 0x1.0e0e6fd5b155cp+1, 0x1.0ceb036f23f28p+1, 0x1.0be83653b666ap+1, 0x1.0b00d9a954432p+1,
    0x1.0a30c955b5000p+1, 0x1.0974ac3559f86p+1, 0x1.08c9c5c7af85ap+1, 0x1.082dd3fc3a154p+1, 0x1.079ef59476996p+1,
    0x1.071b96b177dadp+1, 0x1.06a261e29bda6p+1, 0x1.0632348973a2cp+1, 0x1.05ca15bce286ep+1, 0x1.05692f10aaee9p+1,
    0x1.050ec6d0032d5p+1, 0x1.04ba3b5725834p+1, 0x1.046aff4ce0d8dp+1, 0x1.0420968c7f619p+1, 0x1.03da939b97bf9p+1,
    0x1.0398958fb660dp+1, 0x1.035a464e0e4cbp+1, 0x1.031f59141b8acp+1, 0x1.02e7893bbcad3p+1, 0x1.02b299300ed51p+1,
    0x1.0280518a7d28dp+1, 0x1.02508051216f5p+1, 0x1.0222f850e412cp+1, 0x1.01f7908ed3d10p+1, 0x1.01ce23cd00c4ap+1,
    0x1.01a6901fcf861p+1, 0x1.0180b69140f85p+1, 0x1.015c7ad019362p+1, 0x1.0139c2e929279p+1, 0x1.01187709471cbp+1,
    0x1.00f88146be523p+1, 0x1.00d9cd712e719p+1, 0x1.00bc48e6fc922p+1, 0x1.009fe26f99051p+1, 0x1.00848a19f9200p+1,
    0x1.006a311ebbcb8p+1, 0x1.0050c9c583228p+1, 0x1.0038474d1e1a7p+1, 0x1.00209dd62b0adp+1, 0x1.0009c24fe7d80p+1,
    0x1.ffe754cddd10cp+0, 0x1.ffbc98eb4b3afp+0, 0x1.ff933eec65c13p+0, 0x1.ff6b35eb8b3bbp+0, 0x1.ff446e12253f8p+0,
    0x1.ff1ed883c1e6ap+0, 0x1.fefa674b14d93p+0, 0x1.fed70d48acddap+0, 0x1.feb4be2330d3dp+0, 0x1.fe936e38fc668p+0,
    0x1.fe731292f91a9p+0, 0x1.fe53a0d8948b4p+0, 0x1.fe350f44b80aep+0, 0x1.fe17549ba8ddcp+0, 0x1.fdfa6821bb14bp+0,
    0x1.fdde4192c3476p+0, 0x1.fdc2d91a35985p+0, 0x1.fda8274be2387p+0, 0x1.fd8e251d4135bp+0, 0x1.fd74cbdf40f39p+0,
    0x1.fd5c15388bbecp+0, 0x1.fd43fb203a3d5p+0, 0x1.fd2c77d8e963bp+0, 0x1.fd1585ec2b8ccp+0, 0x1.fcff20264d0fep+0,
    0x1.fce941926574ep+0, 0x1.fcd3e576af0e9p+0, 0x1.fcbf07511f448p+0, 0x1.fcaaa2d43a63fp+0, 0x1.fc96b3e41e569p+0,
    0x1.fc833693bfdf3p+0, 0x1.fc7027225694ap+0, 0x1.fc5d81f8f3e99p+0, 0x1.fc4b43a84227cp+0, 0x1.fc3968e668446p+0,
    0x1.fc27ee8d0fe07p+0, 0x1.fc16d1978b00ep+0, 0x1.fc060f21171d3p+0, 0x1.fbf5a4633b846p+0, 0x1.fbe58eb4410dbp+0,
    0x1.fbd5cb85c16fbp+0, 0x1.fbc658634c72bp+0, 0x1.fbb732f121a2cp+0, 0x1.fba858eafd032p+0, 0x1.fb99c822f581bp+0,
    0x1.fb8b7e806c071p+0, 0x1.fb7d79ff09f33p+0, 0x1.fb6fb8adce1abp+0, 0x1.fb6238ae27453p+0, 0x1.fb54f8331b53ep+0,
    0x1.fb47f5807a3cap+0, 0x1.fb3b2eea1c223p+0, 0x1.fb2ea2d329dadp+0, 0x1.fb224fad6f289p+0, 0x1.fb1633f8b6227p+0,
    0x1.fb0a4e422b434p+0, 0x1.fafe9d23c9765p+0, 0x1.faf31f43cdc4cp+0, 0x1.fae7d354323abp+0, 0x1.fadcb8122f62ap+0,
    0x1.fad1cc45c43d2p+0, 0x1.fac70ec144037p+0, 0x1.fabc7e60e9b94p+0, 0x1.fab21a0a70e00p+0, 0x1.faa7e0acb348ap+0,
    0x1.fa9dd13f4b90ap+0, 0x1.fa93eac23c14fp+0, 0x1.fa8a2c3d9a1f1p+0, 0x1.fa8094c13d0a5p+0, 0x1.fa77236471331p+0,
    0x1.fa6dd745ae6a2p+0, 0x1.fa64af8a51d1ep+0, 0x1.fa5bab5e5aed2p+0, 0x1.fa52c9f42bad9p+0, 0x1.fa4a0a844b5acp+0,
    0x1.fa416c4d2c49ap+0, 0x1.fa38ee92f407ep+0, 0x1.fa30909f46124p+0, 0x1.fa2851c110d12p+0, 0x1.fa20314c5cc60p+0,
    0x1.fa182e9a1de04p+0, 0x1.fa10490806c2dp+0, 0x1.fa087ff85de82p+0, 0x1.fa00d2d1d4aeep+0, 0x1.f9f940ff5ff5bp+0,
    0x1.f9f1c9f01276cp+0, 0x1.f9ea6d16f8a45p+0, 0x1.f9e329eaf604cp+0, 0x1.f9dbffe6a3de5p+0, 0x1.f9d4ee88316b7p+0,
    0x1.f9cdf55145223p+0, 0x1.f9c713c6df537p+0, 0x1.f9c049713dec5p+0, 0x1.f9b995dbc14a3p+0, 0x1.f9b2f894d22bbp+0,
    0x1.f9ac712dc89d5p+0, 0x1.f9a5ff3ad3db8p+0, 0x1.f99fa252e3229p+0, 0x1.f9995a0f8f677p+0, 0x1.f993260d05d7ap+0,
    0x1.f98d05e9f339cp+0, 0x1.f986f9477007bp+0, 0x1.f980ffc8ed499p+0, 0x1.f97b191422258p+0, 0x1.f97544d0fa168p+0,
    0x1.f96f82a983d29p+0, 0x1.f969d249e0ce0p+0, 0x1.f96433603545fp+0, 0x1.f95ea59c98fa6p+0, 0x1.f95928b108595p+0,
    0x1.f953bc5156389p+0, 0x1.f94e60331e15ap+0, 0x1.f949140db6cffp+0, 0x1.f943d79a25c16p+0, 0x1.f93eaa9312773p+0,
    0x1.f9398cb4baa6ap+0, 0x1.f9347dbce6ad2p+0, 0x1.f92f7d6ade5e3p+0, 0x1.f92a8b7f5e43dp+0, 0x1.f925a7bc8d2c0p+0,
    0x1.f920d1e5f2187p+0, 0x1.f91c09c06a7ffp+0, 0x1.f9174f1220ec0p+0, 0x1.f912a1a283ca8p+0, 0x1.f90e013a3cb0bp+0,
    0x1.f9096da327ce6p+0, 0x1.f904e6a84ba92p+0, 0x1.f9006c15d125fp+0, 0x1.f8fbfdb8fbce0p+0, 0x1.f8f79b60224e2p+0,
    0x1.f8f344daa73c3p+0, 0x1.f8eef9f8f2113p+0, 0x1.f8eaba8c6859fp+0, 0x1.f8e6866767227p+0, 0x1.f8e25d5d3c960p+0,
    0x1.f8de3f4221c7cp+0, 0x1.f8da2beb34b8fp+0, 0x1.f8d6232e72884p+0, 0x1.f8d224e2b1c7fp+0, 0x1.f8ce30df9d115p+0,
    0x1.f8ca46fdadaacp+0, 0x1.f8c667162667bp+0, 0x1.f8c291030eabap+0, 0x1.f8bec49f2d904p+0, 0x1.f8bb01c6052eep+0,
    0x1.f8b74853ce132p+0, 0x1.f8b3982572ccdp+0, 0x1.f8aff1188b9e0p+0, 0x1.f8ac530b5a51ap+0, 0x1.f8a8bddcc6288p+0,
    0x1.f8a5316c57f0cp+0, 0x1.f8a1ad9a361ddp+0, 0x1.f89e324721297p+0, 0x1.f89abf546fe22p+0, 0x1.f89754a40be5bp+0,
    0x1.f893f2186e4b0p+0, 0x1.f89097949c3bbp+0, 0x1.f88d44fc23bd3p+0, 0x1.f889fa331892dp+0, 0x1.f886b71e112b9p+0,
    0x1.f8837ba223a5dp+0, 0x1.f88047a4e2ebep+0, 0x1.f87d1b0c5bf1ep+0, 0x1.f879f5bf12e35p+0, 0x1.f876d7a400849p+0,
    0x1.f873c0a28f9c7p+0, 0x1.f870b0a29a676p+0, 0x1.f86da78c682bbp+0, 0x1.f86aa548aacb3p+0, 0x1.f867a9c07c742p+0,
    0x1.f864b4dd5d5a7p+0, 0x1.f861c6893186ep+0, 0x1.f85edeae3ea5cp+0, 0x1.f85bfd3729fa7p+0, 0x1.f859220ef6470p+0,
    0x1.f8564d2101dbap+0, 0x1.f8537e590499ep+0, 0x1.f850b5a30e204p+0, 0x1.f84df2eb83d7ep+0, 0x1.f84b361f1f43ap+0,
    0x1.f8487f2aec334p+0, 0x1.f845cdfc470f7p+0, 0x1.f8432280db253p+0, 0x1.f8407ca6a1206p+0, 0x1.f83ddc5bdd528p+0,
    0x1.f83b418f1e490p+0, 0x1.f838ac2f3b314p+0, 0x1.f8361c2b52686p+0, 0x1.f8339172c8143p+0, 0x1.f8310bf544b76p+0,
    0x1.f82e8ba2b3c0ap+0, 0x1.f82c106b42544p+0, 0x1.f8299a3f5de99p+0, 0x1.f827290fb30cap+0, 0x1.f824bccd2c1e5p+0,
    0x1.f8225568f0177p+0,
};

// The tabulated 0.975 quantile, or NaN when nu is not a whole number the
// table covers.
double tabulated975(double nu)
{
    if (!(nu >= 1.0 && nu <= static_cast<double>(kUpper975.size())) || nu != std::floor(nu)) return NAN;
    return kUpper975[static_cast<size_t>(nu) - 1];
}

}  // namespace

double studentQuantile(double probability, double degreesOfFreedom)
{
    if (!(probability > 0.0 && probability < 1.0) || !(degreesOfFreedom > 0.0) || !std::isfinite(degreesOfFreedom))
        return NAN;
    if (probability == 0.5) return 0.0;
    if (probability == 0.975) {
        const double t = tabulated975(degreesOfFreedom);
        if (!std::isnan(t)) return t;
    }
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
