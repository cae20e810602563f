// The converged parabola: the fitting library's search refined to rounding
// (its accuracy against certified references is in tests/certified; the
// search as it stands, without refinement, is checked against libzfit by the
// binding's tests), weights, and every refusal.
#include <zfit/metrology/metrology.h>

#include "scatter.hpp"

namespace {

using Points = std::vector<zmath_vect>;

zmet_parabolaParams params(int32_t maxIterations = 100, int32_t maxRefinements = 50)
{
    zmet_parabolaParams p;
    zmet_parabolaParams_init(&p);
    p.maxIterations = maxIterations;
    p.maxRefinements = maxRefinements;
    return p;
}

zfit_status fit(const Points& points, const zmet_parabolaParams& p, zmet_parabolaResult* r,
                const std::vector<double>* weights = nullptr)
{
    const auto n = static_cast<int32_t>(points.size());
    return weights != nullptr ? zmet_parabolaFitWeighted(points.data(), n, weights->data(), &p, r)
                              : zmet_parabolaFit(points.data(), n, &p, r);
}

// Points of y = a x^2 turned by `turn` and moved to `vertex`, with vertical
// noise in the parabola's frame.
Points turnedParabola(zt::Rng& rng, int n, double a, double turn, zmath_vect vertex, double noise)
{
    Points p;
    const double c = std::cos(turn), s = std::sin(turn);
    for (int k = 0; k < n; ++k) {
        const double x = rng.uniform(-4, 4), y = a * x * x + rng.normal(noise);
        p.push_back({vertex.x + c * x - s * y, vertex.y + s * x + c * y});
    }
    return p;
}

// A point of weight 0 takes no part: once refined, the fit equals the fit
// without it (the search alone may differ, as its starting direction comes
// from every point; a copy of a point keeps that direction near).
TEST(ConvergedParabola, APointOfWeightZeroChangesNothing)
{
    for (uint64_t seed = 1; seed <= 10; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        zt::Rng rng(seed);
        Points p = turnedParabola(rng, 25, rng.uniform(0.2, 2), rng.uniform(-3, 3), {1, 2}, 0.02);
        std::vector<double> w;
        for (std::size_t k = 0; k < p.size(); ++k) w.push_back(rng.uniform(0.5, 2));
        zmet_parabolaResult without{}, with{};
        ASSERT_EQ(fit(p, params(), &without, &w), zfit_ok) << "without";
        p.push_back(p[0]);
        w.push_back(0.0);
        ASSERT_EQ(fit(p, params(), &with, &w), zfit_ok) << "with";
        const double scale = with.parabola.coefficient;
        EXPECT_NEAR(with.parabola.coefficient, without.parabola.coefficient, 1e-12 * scale) << "coefficient";
        EXPECT_NEAR(with.parabola.pose.translation.x, without.parabola.pose.translation.x, 1e-10) << "vertex x";
        EXPECT_NEAR(with.parabola.pose.translation.y, without.parabola.pose.translation.y, 1e-10) << "vertex y";
        EXPECT_NEAR(with.rmsError, without.rmsError, 1e-12) << "error";
    }
}

TEST(ConvergedParabola, RefusalsLeaveTheResultUntouched)
{
    const Points good{{-2, 4}, {-1, 1}, {0, 0}, {1, 1}, {2, 4}};
    const std::vector<double> negative{1, 1, -1, 1, 1};
    struct Row {
        const char* what;
        Points points;
        zmet_parabolaParams p;
        const std::vector<double>* weights;
        zfit_status expected;
    };
    const Row rows[] = {
        {"no passes", good, params(0), nullptr, zmath_errFitMaxIterations},
        {"negative refinements", good, params(100, -1), nullptr, zmet_errOutOfRange},
        {"one point", {{1, 1}}, params(), nullptr, zmath_errDegenerate},
        {"a NaN", {{0, 0}, {1, NAN}, {2, 4}, {3, 9}}, params(), nullptr, zmath_errDegenerate},
        {"a negative weight", good, params(), &negative, zmath_errFitWeightNegative},
    };
    for (const Row& row : rows) {
        auto r = mt::marked<zmet_parabolaResult>();
        EXPECT_EQ(fit(row.points, row.p, &r, row.weights), row.expected) << row.what;
        EXPECT_TRUE(mt::unchanged(r)) << "result untouched: " << row.what;
    }
}

}  // namespace
