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
const std::vector<int32_t> marked{zt::kDirtyIndex};

// What a search left in the caller's record (zt::dirty before the call).
struct Outcome {
    zfit_status status;
    double rmsError;
    std::vector<int32_t> indices;
    bool shapeAsLeft;
};

// entryEmptiesIndices: whether the entry empties ignoredIndices before the search starts.
struct Search {
    std::string name;
    int32_t numIgnore;
    std::function<Outcome()> run;
    bool entryEmptiesIndices = true;
};

// Runs fit on a dirty record; shapeLeft(record) says whether a failed search
// left the shape as the algorithm promises.
template <class R>
std::function<Outcome()> onDirty(std::function<zfit_status(R*)> fit, std::function<bool(const R&)> shapeLeft)
{
    return [=] {
        zfit::Result<R> r;
        zt::dirty(*r);
        const zfit_status s = fit(r.get());
        return Outcome{s, r->rmsError, zt::indices(r->ignoredIndices), s == 0 || shapeLeft(*r)};
    };
}

template <class R>
bool shapeKept(const R& r)
{
    const std::vector<double> shape = zt::shapeValues(r);
    return shape == std::vector<double>(shape.size(), zt::kDirtyShape);
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
        EXPECT_TRUE(out.shapeAsLeft) << "the shape is left as before the call (the ellipse's as reset)";
        // Nothing was scored before the first poll.
        if (k == 1) {
            EXPECT_EQ(out.indices, search.entryEmptiesIndices ? std::vector<int32_t>{} : marked);
            EXPECT_EQ(out.rmsError, HUGE_VAL) << "no window before the first poll";
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

// Points on an ellipse about (2, -1) turned by 0.3 (a circle when r1 == r2)
// with a few far points.
std::vector<zmath_vect> ringWithOutliers(int n, int outliers, double r1, double r2)
{
    zt::Rng rng(6);
    std::vector<zmath_vect> p;
    for (int i = 0; i < n; ++i) {
        const zmath_vect q = zt::onEllipse({2, -1}, r1, r2, 0.3, 2 * zt::pi * i / n);
        p.push_back({q.x + rng.normal(0.01), q.y + rng.normal(0.01)});
    }
    for (int k = 0; k < outliers; ++k) p[(k * 3 + 1) % n] = {20.0 + k, 30.0 - 2 * k};
    return p;
}

Search lineSearch(const char* name, int32_t mode, int32_t numIgnore, int n)
{
    const std::vector<zmath_vect> points = ringWithOutliers(n, numIgnore, 8, 0.5);  // a long thin ring
    const zmath_lineFitParams params{numIgnore, HUGE_VAL, mode};
    return {name, numIgnore,
            onDirty<zmath_lineFitResult>(
                [=](auto* r) { return zmath_lineFit(points.data(), n, &params, r); },
                // The exhaustive search keeps its best line in the caller's record as it goes;
                // the window searches write it only at the end.
                [=](const auto& r) { return (mode == 0 && numIgnore <= 3 && r.rmsError != HUGE_VAL) || shapeKept(r); }),
            false};
}

Search circleSearch(const char* name, int32_t mode, int32_t numIgnore, int n)
{
    const std::vector<zmath_vect> points = ringWithOutliers(n, numIgnore, 5, 5);
    const zmath_circleFitParams params{numIgnore, HUGE_VAL, mode, 5.0};
    return {name, numIgnore,
            onDirty<zmath_circleFitResult>([=](auto* r) { return zmath_circleFit(points.data(), n, &params, r); },
                                           shapeKept<zmath_circleFitResult>)};
}

TEST(Cancellation, EverySearchStopsAtEveryPoll)
{
    const std::vector<zmath_vect> ellipse = ringWithOutliers(9, 1, 4, 2);
    const zmath_ellipseFitParams ellipseParams{1, HUGE_VAL};
    // A failure past the count check leaves the record reset: the unit
    // circle about the origin (centre, radii, angle), no indices.
    const std::vector<double> reset{0, 0, 1, 1, 0};
    const Search searches[] = {
        lineSearch("line exhaustive, 2 discarded", 0, 2, 14),
        lineSearch("line exhaustive, 3 discarded", 0, 3, 10),
        lineSearch("line ranked, 5 discarded", 0, 5, 16),
        lineSearch("line minimum zone, 2 discarded", 1, 2, 12),
        circleSearch("circle free radius, 2 discarded", 0, 2, 12),
        circleSearch("circle fixed radius, 1 discarded", 1, 1, 10),
        // The ellipse search leaves its last trial's error behind, not a best so far: read only after a success.
        {"ellipse subsets, 1 left out", 1,
         [=] {
             Outcome out = onDirty<zmath_ellipseFitResult>(
                 [=](auto* r) { return zmath_ellipseFit(ellipse.data(), 9, &ellipseParams, r); },
                 [=](const auto& r) { return r.isValid == 0 && zt::shapeValues(r) == reset; })();
             if (out.status != 0) out.rmsError = HUGE_VAL;
             return out;
         }},
    };
    for (const Search& s : searches) cancelAtEveryPoll(s);
}

}  // namespace
