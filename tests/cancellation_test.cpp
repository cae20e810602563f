// Cancellation at every poll: each searching algorithm is run once to count
// its polls, then once with the attention check failing at poll 1, 2, ...
// up to the last. Each time the status comes back unchanged, nothing leaks,
// and the result holds what the algorithm leaves behind: its shape as
// before the call (or as reset, for the ellipse) and the best score found so
// far, which can only shrink as later polls are reached.
#include <functional>
#include <string>

#include "support.hpp"

namespace {

constexpr zfit_status hostStop = ZFIT_STATUS_BITS(0x80007777u);  // any failure a host chooses
const std::vector<int32_t> marked{99};

// What a search left in the caller's record; the shape is as before when
// untouched, or as reset for the ellipse.
struct Outcome {
    zfit_status status;
    double rmsError;
    std::vector<int32_t> indices;
    bool shapeAsBefore;
};

// run: the search on a record with the marker 99 in ignoredIndices; entryEmptiesIndices: whether the entry
// empties ignoredIndices before the search starts.
struct Search {
    std::string name;
    int32_t numIgnore;
    std::function<Outcome()> run;
    bool entryEmptiesIndices;
};

template <class R>
R& withMarker(R& r)
{
    zstd_vector32_pushBack(&r.ignoredIndices, &marked[0]);
    return r;
}

void cancelAtEveryPoll(const Search& search)
{
    SCOPED_TRACE(search.name);
    const auto [full, polls] = [&] {
        zt::ScopedAttention counting;
        Outcome o = search.run();
        return std::pair{o, counting.polls()};
    }();
    ASSERT_EQ(full.status, 0) << zfit::statusName(full.status);
    ASSERT_GT(polls, 1);
    double previous = HUGE_VAL;
    for (int k = 1; k <= polls; ++k) {
        SCOPED_TRACE(::testing::Message() << "cancelled at poll " << k << " of " << polls);
        zt::ScopedAllocator allocator;
        zt::ScopedAttention stop(k, hostStop);
        const Outcome out = search.run();
        EXPECT_EQ(out.status, hostStop) << zfit::statusName(out.status);
        EXPECT_EQ(stop.polls(), k) << "no poll after the failing one";
        EXPECT_EQ(allocator.outstanding(), 0u);
        EXPECT_TRUE(out.shapeAsBefore) << "the shape is left as before the call";
        // Nothing was scored before the first poll.
        if (k == 1) {
            EXPECT_EQ(out.indices, search.entryEmptiesIndices ? std::vector<int32_t>{} : marked);
        }
        // A best so far comes with its indices, or none yet.
        if (out.rmsError != HUGE_VAL && out.indices != marked) {
            EXPECT_EQ(out.indices.size(), size_t(search.numIgnore)) << "the best so far discards numIgnore points";
        }
        EXPECT_LE(out.rmsError, previous) << "the best so far never grows";
        EXPECT_GE(out.rmsError, full.rmsError * (1 - 1e-9) - 1e-12) << "never better than the whole search";
        previous = out.rmsError;
    }
}

// Points on a slanted line with a few far points.
std::vector<zmath_vect> lineWithOutliers(int n, int outliers)
{
    zt::Rng rng(4);
    std::vector<zmath_vect> p;
    for (int i = 0; i < n; ++i) p.push_back({double(i), 0.25 * i + 3 + rng.normal(0.02)});
    for (int k = 0; k < outliers; ++k) p[(k * 5 + 2) % n].y += (k % 2 ? -10.0 : 10.0);
    return p;
}

// Points on a circle of radius 5 about (2, -1) with a few far points.
std::vector<zmath_vect> circleWithOutliers(int n, int outliers)
{
    zt::Rng rng(6);
    std::vector<zmath_vect> p;
    for (int i = 0; i < n; ++i) {
        const double t = 2 * zt::pi * i / n;
        p.push_back({2 + 5 * std::cos(t) + rng.normal(0.01), -1 + 5 * std::sin(t) + rng.normal(0.01)});
    }
    for (int k = 0; k < outliers; ++k) p[(k * 3 + 1) % n] = {20.0 + k, 30.0 - 2 * k};
    return p;
}

Search lineSearch(const char* name, int32_t mode, int32_t numIgnore, std::vector<zmath_vect> points)
{
    return {name, numIgnore,
            [=] {
                zfit::LineResult r;
                withMarker(*r);
                const zmath_shapeFLine before = r->line;
                const zmath_lineFitParams params{numIgnore, HUGE_VAL, mode};
                const zfit_status s = zmath_lineFit(points.data(), int32_t(points.size()), &params, r.get());
                // The exhaustive search keeps its best line in the caller's record as it goes;
                // the window searches write it only at the end.
                const bool runningBest = mode == 0 && numIgnore <= 3 && r->rmsError != HUGE_VAL;
                return Outcome{s, r->rmsError, zt::indices(r->ignoredIndices),
                               s == 0 || runningBest || std::memcmp(&before, &r->line, sizeof before) == 0};
            },
            false};
}

using CircleResult = zfit::Result<zmath_circleFitResult>;

Search circleSearch(const char* name, int32_t mode, int32_t numIgnore, std::vector<zmath_vect> points)
{
    return {name, numIgnore,
            [=] {
                CircleResult r;
                withMarker(*r).centre = {123, 456};
                r->radius = 7;
                const zmath_circleFitParams params{numIgnore, HUGE_VAL, mode, 5.0};
                const zfit_status s = zmath_circleFit(points.data(), int32_t(points.size()), &params, r.get());
                const bool untouched = r->centre.x == 123 && r->centre.y == 456 && r->radius == 7;
                return Outcome{s, r->rmsError, zt::indices(r->ignoredIndices), s == 0 || untouched};
            },
            true};
}

Search ellipseSearch(const char* name, int32_t numIgnore, std::vector<zmath_vect> points)
{
    return {name, numIgnore,
            [=] {
                zfit::Result<zmath_ellipseFitResult> r;
                withMarker(*r).isValid = 1;
                const zmath_ellipseFitParams params{numIgnore, HUGE_VAL};
                const zfit_status s = zmath_ellipseFit(points.data(), int32_t(points.size()), &params, r.get());
                const zmath_shapeEllipse& e = r->ellipse;
                const bool asReset = r->isValid == 0 && e.center.x == 0 && e.center.y == 0 && e.radius1 == 1 &&
                                     e.radius2 == 1 && e.angle == 0;
                // The ellipse search leaves its last trial's error behind, not a best so far.
                return Outcome{s, s == 0 ? r->rmsError : HUGE_VAL, zt::indices(r->ignoredIndices), s == 0 || asReset};
            },
            true};
}

std::vector<zmath_vect> ellipseWithStray()
{
    std::vector<zmath_vect> p;
    for (int i = 0; i < 9; ++i) p.push_back(zt::onEllipse({3, 1}, 4, 2, 0.3, 2 * zt::pi * i / 9));
    p[4] = {15, -9};
    return p;
}

TEST(Cancellation, EverySearchStopsAtEveryPoll)
{
    const std::vector<Search> searches{
        lineSearch("line exhaustive, 2 discarded", 0, 2, lineWithOutliers(14, 2)),
        lineSearch("line exhaustive, 3 discarded", 0, 3, lineWithOutliers(10, 3)),
        lineSearch("line ranked, 5 discarded", 0, 5, lineWithOutliers(16, 5)),
        lineSearch("line minimum zone, 2 discarded", 1, 2, lineWithOutliers(12, 2)),
        circleSearch("circle free radius, 2 discarded", 0, 2, circleWithOutliers(12, 2)),
        circleSearch("circle fixed radius, 1 discarded", 1, 1, circleWithOutliers(10, 1)),
        ellipseSearch("ellipse subsets, 1 left out", 1, ellipseWithStray()),
    };
    for (const Search& s : searches) cancelAtEveryPoll(s);
}

}  // namespace
