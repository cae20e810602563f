// The Hyper circle (see hyper_circle.hpp for the method and its steps).
#include "hyper_circle.hpp"

#include <cmath>

namespace zmet {

namespace {
// A centre determinant below this share of the squared spread means the
// points lie on a line (or too close to one for a centre to mean anything).
constexpr double kCollinearDeterminant = 1e-12;
}  // namespace

bool hyperCircle(const CircleMoments& m, CircleParameters& circle)
{
    const double mz = m.xx + m.yy;
    const double cov = m.xx * m.yy - m.xy * m.xy;
    const double var = m.zz - mz * mz;
    auto polynomial = [&](double eta) {
        return (cov - mz * eta + eta * eta) * (var - 4.0 * mz * eta - 4.0 * eta * eta) - m.xz * m.xz * (m.yy - eta) -
               m.yz * m.yz * (m.xx - eta) + 2.0 * m.xz * m.yz * m.xy;
    };
    auto derivative = [&](double eta) {
        return (2.0 * eta - mz) * (var - 4.0 * mz * eta - 4.0 * eta * eta) +
               (cov - mz * eta + eta * eta) * (-4.0 * mz - 8.0 * eta) + m.xz * m.xz + m.yz * m.yz;
    };

    // Step 1: Newton from 0 while |P| keeps falling.
    double eta = 0.0, value = polynomial(0.0);
    for (int i = 0; i < 50 && value != 0.0; ++i) {
        const double next = eta - value / derivative(eta);
        if (!std::isfinite(next) || next == eta) break;
        const double nextValue = polynomial(next);
        if (!(std::fabs(nextValue) < std::fabs(value))) break;
        eta = next;
        value = nextValue;
    }
    if (!(eta >= 0.0)) eta = 0.0;  // keep the Kasa circle rather than a root of the wrong sign

    // Step 2: the centre; a vanishing determinant means collinear points.
    const double a = m.xx - eta, b = m.yy - eta;
    const double determinant = a * b - m.xy * m.xy;
    if (!(std::fabs(determinant) > kCollinearDeterminant * mz * mz)) return false;
    circle.x = (m.xz * b - m.yz * m.xy) / (2.0 * determinant);
    circle.y = (m.yz * a - m.xz * m.xy) / (2.0 * determinant);
    // Step 3: the radius.
    const double r2 = circle.x * circle.x + circle.y * circle.y + mz - 2.0 * eta;
    circle.radius = std::sqrt(std::fabs(r2));
    return std::isfinite(circle.x) && std::isfinite(circle.y) && circle.radius > 0.0;
}

}  // namespace zmet
