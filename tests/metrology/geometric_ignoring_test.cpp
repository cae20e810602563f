// The geometric fits after an outlier search: the result is exactly the
// geometric fit of the points the search keeps, the discards are listed
// ascending, a reused record reports only its last fit's discards and a
// failed search's status, and every refusal leaves the record as it was.
#include <algorithm>

#include <zfit/metrology/metrology.hpp>

#include "scatter.hpp"

namespace {

int32_t count32(const std::vector<zmath_vect>& points) { return static_cast<int32_t>(points.size()); }

std::vector<zmath_vect> without(const std::vector<zmath_vect>& points, const std::vector<int32_t>& discarded)
{
    std::vector<zmath_vect> kept;
    for (int32_t i = 0; i < count32(points); ++i)
        if (std::find(discarded.begin(), discarded.end(), i) == discarded.end()) kept.push_back(points[size_t(i)]);
    return kept;
}

// A noisy arc (of a circle when b is 8) with outliers at the given
// positions, each twice as far from the centre as the arc.
std::vector<zmath_vect> arcWithOutliers(uint64_t seed, int n, const std::vector<int32_t>& outliers, double b = 5.0)
{
    const zmath_vect centre = {3.0, -2.0};
    zt::Rng rng(seed);
    auto points = mt::ellipseArc(rng, centre, 8.0, b, 0.3, 0.2, 5.0, n, 0.02);
    for (int32_t at : outliers) {
        zmath_vect& p = points[size_t(at)];
        p = {2.0 * p.x - centre.x, 2.0 * p.y - centre.y};
    }
    return points;
}

zmet_geometricCircleParams circleParams(int32_t numIgnore, int32_t mode = 0, double fixedRadius = 1.0)
{
    zmet_geometricCircleParams p;
    zmet_geometricCircleParams_init(&p);
    p.numIgnore = numIgnore;
    p.mode = mode;
    p.fixedRadius = fixedRadius;
    return p;
}

std::vector<int32_t> listed(const zstd_vector32& v) { return zt::indices(v); }

TEST(GeometricIgnoring, CircleIsTheGeometricFitOfTheKeptPoints)
{
    const std::vector<int32_t> outliers = {17, 4, 11};
    const auto points = arcWithOutliers(1, 24, outliers, 8.0);
    for (int32_t mode : {0, 1}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const auto p = circleParams(3, mode, 8.0);
        zfit::GeometricCircleIgnoringResult r;
        ASSERT_EQ(zmet_geometricCircleFitIgnoring(points.data(), count32(points), nullptr, &p, r.get()), zfit_ok);
        const std::vector<int32_t> discards = listed(r->ignoredIndices);
        EXPECT_EQ(discards, (std::vector<int32_t>{4, 11, 17})) << "the planted outliers, ascending";

        const auto kept = without(points, discards);
        zmet_geometricCircleResult direct{};
        const auto plain = circleParams(0, mode, 8.0);
        ASSERT_EQ(zmet_geometricCircleFit(kept.data(), count32(kept), &plain, &direct), zfit_ok);
        EXPECT_EQ(std::memcmp(&direct, &r->fit, sizeof direct), 0) << "bit for bit the kept points' fit";
    }
}

// The search takes the fit's mode: six points on a circle of radius 5 and
// six near one of radius 8 about the same centre. Free, the exact ring of
// radius 5 is kept; with the radius imposed at 8, the other.
TEST(GeometricIgnoring, TheSearchImposesTheFixedRadius)
{
    zt::Rng rng(35);
    std::vector<zmath_vect> points;
    for (int k = 0; k < 12; ++k) {
        const double t = zt::pi / 6 * k, r = k % 2 ? 8 + rng.normal(0.01) : 5.0;
        points.push_back({r * std::cos(t), r * std::sin(t)});
    }
    const std::vector<int32_t> inner = {0, 2, 4, 6, 8, 10}, outer = {1, 3, 5, 7, 9, 11};
    for (const int32_t mode : {0, 1}) {
        zfit::GeometricCircleIgnoringResult r;
        const auto p = circleParams(6, mode, 8.0);
        ASSERT_EQ(zmet_geometricCircleFitIgnoring(points.data(), count32(points), nullptr, &p, r.get()), zfit_ok)
            << "mode " << mode;
        std::vector<int32_t> discarded = listed(r->ignoredIndices);
        std::sort(discarded.begin(), discarded.end());
        EXPECT_EQ(discarded, mode == 0 ? outer : inner) << "mode " << mode << ": the ring discarded";
    }
}

TEST(GeometricIgnoring, AReusedRecordReportsOnlyItsLastFitsDiscards)
{
    const auto points = arcWithOutliers(4, 20, {3, 15}, 8.0);
    zfit::GeometricCircleIgnoringResult r;
    auto p = circleParams(2);
    ASSERT_EQ(zmet_geometricCircleFitIgnoring(points.data(), count32(points), nullptr, &p, r.get()), zfit_ok);
    EXPECT_EQ(listed(r->ignoredIndices), (std::vector<int32_t>{3, 15})) << "two discards";
    p.numIgnore = 0;
    ASSERT_EQ(zmet_geometricCircleFitIgnoring(points.data(), count32(points), nullptr, &p, r.get()), zfit_ok);
    EXPECT_TRUE(listed(r->ignoredIndices).empty()) << "none";

    // A search that fails empties the list and leaves the fit as it was.
    p.numIgnore = 1;
    const std::vector<zmath_vect> collinear = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}};
    ASSERT_EQ(zmet_geometricCircleFitIgnoring(points.data(), count32(points), nullptr, &p, r.get()), zfit_ok);
    const zmet_geometricCircleResult before = r->fit;
    EXPECT_EQ(zmet_geometricCircleFitIgnoring(collinear.data(), count32(collinear), nullptr, &p, r.get()),
              zmath_errDegenerate);
    EXPECT_TRUE(listed(r->ignoredIndices).empty()) << "emptied";
    EXPECT_EQ(std::memcmp(&before, &r->fit, sizeof before), 0) << "fit untouched";
}

TEST(GeometricIgnoring, RefusalsLeaveTheRecordAsItWas)
{
    const auto points = arcWithOutliers(6, 12, {5});
    const std::vector<double> weights(points.size(), 1.0);
    auto withNan = points;
    withNan[7].y = NAN;
    const int32_t n = count32(points);
    struct Row {
        const char* what;
        zmet_geometricCircleParams params;
        const std::vector<zmath_vect>* points;
        int32_t count;
        const double* weights;
        zfit_status expected;
    };
    const Row rows[] = {
        {"negative numIgnore", circleParams(-1), &points, n, nullptr, zmath_errFitNumIgnoreNegative},
        {"weights with numIgnore", circleParams(1), &points, n, weights.data(), zmath_errFitWeightedIgnore},
        {"too few kept, free radius", circleParams(n - 3), &points, n, nullptr, zmet_errTooFewPoints},
        {"too few kept, fixed radius", circleParams(n - 2, 1, 8.0), &points, n, nullptr, zmet_errTooFewPoints},
        {"NaN coordinate", circleParams(1), &withNan, n, nullptr, zmath_errDegenerate},
        {"NaN fixed radius", circleParams(1, 1, NAN), &points, n, nullptr, zmath_errDegenerate},
    };
    zfit::GeometricCircleIgnoringResult r;
    const auto p = circleParams(1);
    ASSERT_EQ(zmet_geometricCircleFitIgnoring(points.data(), n, nullptr, &p, r.get()), zfit_ok);
    const std::vector<int32_t> discards = listed(r->ignoredIndices);
    const zmet_geometricCircleResult fit = r->fit;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(zmet_geometricCircleFitIgnoring(row.points->data(), row.count, row.weights, &row.params, r.get()),
                  row.expected);
        EXPECT_EQ(listed(r->ignoredIndices), discards) << "indices untouched";
        EXPECT_EQ(std::memcmp(&fit, &r->fit, sizeof fit), 0) << "fit untouched";
    }
    // The fixed radius needs only three kept points: the search runs.
    const auto three = circleParams(n - 3, 1, 8.0);
    EXPECT_NE(zmet_geometricCircleFitIgnoring(points.data(), n, nullptr, &three, r.get()), zmet_errTooFewPoints);

    zfit::GeometricEllipseIgnoringResult e;
    zmet_geometricEllipseParams tooMany;
    zmet_geometricEllipseParams_init(&tooMany);
    tooMany.numIgnore = n - 5;
    EXPECT_EQ(zmet_geometricEllipseFitIgnoring(points.data(), n, nullptr, &tooMany, e.get()), zmet_errTooFewPoints);
}

TEST(GeometricIgnoring, CopiesOwnTheirIndices)
{
    const auto points = arcWithOutliers(8, 16, {4}, 8.0);
    zfit::GeometricCircleIgnoringResult r;
    const auto p = circleParams(1);
    ASSERT_EQ(zmet_geometricCircleFitIgnoring(points.data(), count32(points), nullptr, &p, r.get()), zfit_ok);
    zmet_geometricCircleIgnoringResult copy;
    ASSERT_EQ(zmet_geometricCircleIgnoringResult_constructCopy(&copy, r.get()), zfit_ok);
    EXPECT_EQ(listed(copy.ignoredIndices), (std::vector<int32_t>{4})) << "copied indices";
    EXPECT_NE(copy.ignoredIndices.begin, r->ignoredIndices.begin) << "its own storage";
    EXPECT_EQ(std::memcmp(&copy.fit, &r->fit, sizeof copy.fit), 0) << "copied fit";
    zfit::GeometricCircleIgnoringResult assigned;
    ASSERT_EQ(zmet_geometricCircleIgnoringResult_assign(assigned.get(), &copy), zfit_ok);
    EXPECT_EQ(listed(assigned->ignoredIndices), (std::vector<int32_t>{4})) << "assigned indices";
    EXPECT_EQ(zmet_geometricCircleIgnoringResult_assign(&copy, &copy), zfit_ok) << "self-assignment";
    EXPECT_EQ(listed(copy.ignoredIndices), (std::vector<int32_t>{4})) << "kept by self-assignment";
    EXPECT_EQ(zmet_geometricCircleIgnoringResult_destruct(&copy), zfit_ok);
}

}  // namespace
