// Roundness (all three reference circles) on arbitrary points: scattered
// values, grids full of ties, and rings with arbitrary dents.
#include <cstring>

#include <zfit/metrology/metrology.h>

#include "fuzz_input.hpp"

namespace {

// A ring of n points whose radii the input dents, on the input's grid of
// angles; or the input's raw points.
std::vector<zmath_vect> pointsFrom(fuzz::Input& in)
{
    if (in.byte() < 128) return in.points(40);
    const int32_t n = in.smallInt(3, 64);
    const double radius = 1.0 + std::fabs(in.value());
    std::vector<zmath_vect> p(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) {
        const double t = 6.283185307179586 * k / n, r = radius + in.value() / 64.0;
        p[static_cast<size_t>(k)] = {r * std::cos(t), r * std::sin(t)};
    }
    return p;
}

double distance(const zmath_vect& a, const zmath_vect& b) { return std::hypot(a.x - b.x, a.y - b.y); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    zmet_roundnessParams params;
    zmet_roundnessParams_init(&params);
    params.method = in.smallInt(-1, 3);
    if (in.byte() > 200) params.maxRoundness = in.value();
    const std::vector<zmath_vect> points = pointsFrom(in);
    const auto n = static_cast<int32_t>(points.size());

    zmet_roundnessResult result, before;
    std::memset(&before, 0x5a, sizeof before);
    result = before;
    const zfit_status status = zmet_roundness(points.data(), n, &params, &result);
    FUZZ_CHECK(fuzz::documented(status));
    if (status != 0) {
        FUZZ_CHECK(std::memcmp(&result, &before, sizeof result) == 0);
        return 0;
    }
    FUZZ_CHECK(std::isfinite(result.centre.x) && std::isfinite(result.centre.y));
    FUZZ_CHECK(0.0 <= result.innerRadius && result.innerRadius <= result.outerRadius);
    FUZZ_CHECK(result.roundness == result.outerRadius - result.innerRadius);
    FUZZ_CHECK(fuzz::validityAgrees(result.isValid, params.maxRoundness, result.roundness));
    double nearest = HUGE_VAL, farthest = 0.0;
    for (const zmath_vect& p : points) {
        nearest = std::fmin(nearest, distance(p, result.centre));
        farthest = std::fmax(farthest, distance(p, result.centre));
    }
    const double tolerance = 1e-9 * farthest;
    FUZZ_CHECK(std::fabs(nearest - result.innerRadius) <= tolerance);
    FUZZ_CHECK(std::fabs(farthest - result.outerRadius) <= tolerance);
    FUZZ_CHECK(2 <= result.contactCount && result.contactCount <= 4);
    for (int32_t k = 0; k < result.contactCount; ++k) {
        FUZZ_CHECK(0 <= result.contacts[k] && result.contacts[k] < n);
        const double d = distance(points[static_cast<size_t>(result.contacts[k])], result.centre);
        FUZZ_CHECK(std::fabs(d - (result.contactOnOuter[k] ? result.outerRadius : result.innerRadius)) <= tolerance);
    }
    return 0;
}
