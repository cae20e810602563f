// The outlier searches against their plans (zfit/family/search_plan.hpp),
// for every small count of points n and of discarded points m, in every
// family and mode that searches:
//   - where the plan says the search keeps too few points for any window,
//     the fit answers at once, without a poll, exactly as the full search
//     answers (the expected records below are what the searches returned
//     before they were cut short): zmath_errDegenerate, rmsError HUGE_VAL,
//     the shape and isValid as before the call, no new indices;
//   - everywhere else the search succeeds on points in general position and
//     polls exactly as many times as the plan says; with nothing to discard
//     (m = 0) that is the plain fit's polls: none for the least-squares
//     line and the ellipse, one for the minimum zone and the circle.
#include <functional>

#include <zfit/family/search_plan.hpp>

#include "support.hpp"

namespace {

using Pts = std::vector<zmath_vect>;
using Indices = std::vector<int32_t>;

// What a fit left in a record that was dirty before the call.
struct Outcome {
    zfit_status status;
    double rmsError;
    Indices indices;
    bool shapeKept, isValidKept;
    int polls;
};

template <class R, class Fit>
Outcome run(const Pts& points, Fit&& fit)
{
    zfit::Result<R> r;
    zt::dirty(*r);
    zt::ScopedAttention attention;
    const zfit_status status = fit(points, r.get());
    return {status,
            r->rmsError,
            zt::indices(r->ignoredIndices),
            zt::shapeValues(*r) == zt::shapeValues(zt::dirty(*zfit::Result<R>())),
            r->isValid == 1,
            attention.polls()};
}

struct Search {
    const char* name;
    int32_t largestIgnore;
    std::function<bool(int64_t n, int64_t m)> keepsTooFew;
    std::function<int64_t(int64_t n, int64_t m)> polls;
    std::function<Outcome(const Pts&, int32_t m)> fit;
    // The answer when too few are kept: rmsError and indices.
    double tooFewError;
    Indices tooFewIndices;
};

Outcome fitLine(const Pts& p, int32_t m, int32_t mode)
{
    return run<zmath_lineFitResult>(p, [&](const Pts& q, zmath_lineFitResult* r) {
        const zmath_lineFitParams params{m, HUGE_VAL, mode};
        return zmath_lineFit(q.data(), static_cast<int32_t>(q.size()), &params, r);
    });
}

Outcome fitCircle(const Pts& p, int32_t m, int32_t mode)
{
    return run<zmath_circleFitResult>(p, [&](const Pts& q, zmath_circleFitResult* r) {
        const zmath_circleFitParams params{m, HUGE_VAL, mode, 4.0};
        return zmath_circleFit(q.data(), static_cast<int32_t>(q.size()), &params, r);
    });
}

Outcome fitEllipse(const Pts& p, int32_t m)
{
    return run<zmath_ellipseFitResult>(p, [&](const Pts& q, zmath_ellipseFitResult* r) {
        const zmath_ellipseFitParams params{m, HUGE_VAL};
        return zmath_ellipseFit(q.data(), static_cast<int32_t>(q.size()), &params, r);
    });
}

const Search kSearches[] = {
    {"line, least squares", 9, [](int64_t n, int64_t m) { return zfit::plan::lineKeepsTooFew(n, m, 0); },
     [](int64_t n, int64_t m) { return zfit::plan::linePolls(n, m, 0); },
     [](const Pts& p, int32_t m) { return fitLine(p, m, 0); }, HUGE_VAL, Indices{zt::kDirtyIndex}},
    {"line, minimum zone", 9, [](int64_t n, int64_t m) { return zfit::plan::lineKeepsTooFew(n, m, 1); },
     [](int64_t n, int64_t m) { return zfit::plan::linePolls(n, m, 1); },
     [](const Pts& p, int32_t m) { return fitLine(p, m, 1); }, HUGE_VAL, Indices{zt::kDirtyIndex}},
    {"circle, free radius", 9, zfit::plan::circleKeepsTooFew, zfit::plan::circlePolls,
     [](const Pts& p, int32_t m) { return fitCircle(p, m, 0); }, HUGE_VAL, Indices{}},
    {"circle, fixed radius", 9, zfit::plan::circleKeepsTooFew, zfit::plan::circlePolls,
     [](const Pts& p, int32_t m) { return fitCircle(p, m, 1); }, HUGE_VAL, Indices{}},
    // Refused before the record is reset: it is left exactly as it was.
    {"ellipse", 4, zfit::plan::ellipseKeepsTooFew, zfit::plan::ellipsePolls, fitEllipse, zt::kDirtyError,
     Indices{zt::kDirtyIndex}},
};

// n points near an ellipse, in general position (no three collinear, no
// five on a conic other than an ellipse), placed near the origin or far
// from it compared with their spread.
Pts nearEllipse(zt::Rng& rng, int n, zmath_vect at)
{
    Pts p;
    for (int k = 0; k < n; ++k) {
        const zmath_vect q =
            zt::onEllipse(at, 5.0, 3.0, 0.4, 2.0 * zt::pi * (k + rng.uniform(0.0, 0.3)) / static_cast<double>(n));
        p.push_back({q.x + rng.normal(0.01), q.y + rng.normal(0.01)});
    }
    return p;
}

TEST(SearchPlan, TooFewToKeepIsAnsweredAtOnceAndTheRestPollsAsPlanned)
{
    zt::Rng rng(27);
    for (const Search& search : kSearches)
        for (const zmath_vect at : {zmath_vect{0.0, 0.0}, zmath_vect{3e4, -2e4}})
            for (int n = 0; n <= 11; ++n) {
                const Pts points = nearEllipse(rng, n, at);
                for (int32_t m = 0; m <= std::min(n + 1, search.largestIgnore); ++m) {
                    SCOPED_TRACE(::testing::Message() << search.name << ", n " << n << ", m " << m << ", at (" << at.x
                                                      << ", " << at.y << ")");
                    const Outcome out = search.fit(points, m);
                    if (search.keepsTooFew(n, m)) {
                        EXPECT_EQ(out.status, zmath_errDegenerate) << zfit::statusName(out.status);
                        EXPECT_EQ(out.rmsError, search.tooFewError) << "rmsError";
                        EXPECT_EQ(out.indices, search.tooFewIndices) << "no index written";
                        EXPECT_TRUE(out.shapeKept) << "the shape as before the call";
                        EXPECT_TRUE(out.isValidKept) << "isValid as before the call";
                        EXPECT_EQ(out.polls, 0) << "answered before the search";
                        EXPECT_EQ(search.polls(n, m), 0) << "the plan has no poll";
                    } else if (n >= 3 || out.status == 0) {  // fewer may lie on no curve of the family
                        EXPECT_EQ(out.status, 0) << zfit::statusName(out.status);
                        EXPECT_EQ(static_cast<int64_t>(out.indices.size()), m) << "m indices";
                        EXPECT_EQ(out.polls, search.polls(n, m)) << "polls as planned";
                    }
                }
            }
}

// The share of the work behind each poll: 0 before the first, 1 after the
// last, never decreasing; the exhaustive line's first pass holds the sets
// that start at index 0.
TEST(SearchPlan, ShareOfTheWorkDone)
{
    using namespace zfit::plan;
    EXPECT_DOUBLE_EQ(lineShareDone(10, 2, 0, 1), 9.0 / 45.0) << "pass 0 of C(10, 2): the 9 pairs (0, j)";
    EXPECT_DOUBLE_EQ(lineShareDone(10, 3, 0, 2), 1.0 - 56.0 / 120.0) << "passes 0 and 1 of C(10, 3)";
    EXPECT_DOUBLE_EQ(lineShareDone(10, 5, 0, 5), 0.5) << "ranked: even";
    EXPECT_DOUBLE_EQ(circleShareDone(12, 2, 10), 0.25) << "circle: even over 4 (n - 2)";
    EXPECT_DOUBLE_EQ(ellipseShareDone(8, 2, 7), 0.25) << "ellipse: even over C(8, 2)";
    EXPECT_EQ(ellipsePolls(200, 100), INT64_MAX) << "beyond int64: held at its largest";
    EXPECT_EQ(ellipsePolls(30, 3), 4060) << "C(30, 3)";
    for (int64_t m : {1, 2, 3, 6}) {
        double before = 0.0;
        for (int64_t done = 0; done <= linePolls(20, m, 0); ++done) {
            const double share = lineShareDone(20, m, 0, done);
            EXPECT_GE(share, before) << "m " << m << " done " << done;
            before = share;
        }
        EXPECT_EQ(before, 1.0) << "m " << m << ": all done after the last poll";
        EXPECT_EQ(lineShareDone(20, m, 0, 0), 0.0) << "m " << m << ": nothing before the first";
    }
}

}  // namespace
