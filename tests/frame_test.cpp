// The frame every family shares: the status table (names and texts through
// the C and the C++ layer), the result-record life cycle (shown on the line
// record; every family's record is built from the same templates), and the
// reuse of one record for many fits.
#include <functional>
#include <map>

#include "support.hpp"

namespace {

// Names and texts also through the C++ layer, which names a code outside
// the table "unknown status".
TEST(StatusTable, EveryCodeIsAFailureWithAUniqueValueNameAndText)
{
    std::map<int32_t, std::string> seen;
#define ZT_CHECK_STATUS(name, bits, text)                                         \
    EXPECT_TRUE(ZFIT_FAILED(name)) << #name << " is a failure";                   \
    EXPECT_TRUE(seen.emplace(name, #name).second) << #name << " repeats a value"; \
    EXPECT_STREQ(zfit::statusName(name), #name) << "the name of " #name;          \
    EXPECT_STREQ(zfit::statusText(name), text) << "the text of " #name;
    ZFIT_STATUS_TABLE(ZT_CHECK_STATUS)
#undef ZT_CHECK_STATUS
    EXPECT_EQ(zfit_statusName(0), std::string("zfit_ok"));
    EXPECT_EQ(zfit_statusName(12345), nullptr);
    EXPECT_STREQ(zfit::statusText(zfit_ok), "success") << "success has a text too";
    EXPECT_STREQ(zfit::statusName(ZFIT_STATUS_BITS(0x80007777u)), "unknown status") << "a code outside the table";
}

zfit::LineResult& fill(zfit::LineResult& r)
{
    r->isValid = 1;
    const double angle = 1.25;
    zmath_shapeFLine_initAngleDistance(&r->line, &angle, 4.0);
    r->rmsError = 0.5;
    const int32_t idx[] = {7, 3, 9};
    for (int32_t i : idx) zstd_vector32_pushBack(&r->ignoredIndices, &i);
    return r;
}

TEST(ResultLifeCycle, ConstructCopyIsIndependentAndResetClears)
{
    zfit::LineResult source;
    fill(source);
    zmath_lineFitResult copy;
    ASSERT_EQ(zmath_lineFitResult_constructCopy(&copy, source.get()), 0);
    EXPECT_EQ(copy.isValid, 1);
    EXPECT_EQ(copy.line.angle, 1.25);
    EXPECT_EQ(zt::indices(copy.ignoredIndices), (std::vector<int32_t>{7, 3, 9}));
    zstd_vector32_resize(&copy.ignoredIndices, 1);
    EXPECT_EQ(source->ignoredIndices.size, 3) << "the copy owns its own indices";

    ASSERT_EQ(zmath_lineFitResult_reset(&copy), 0);
    EXPECT_EQ(copy.isValid, 0);
    EXPECT_EQ(copy.line.angle, 0.0);
    EXPECT_EQ(copy.line.d, 0.0);
    EXPECT_EQ(copy.rmsError, 0.0);
    EXPECT_EQ(copy.ignoredIndices.size, 0);
    EXPECT_EQ(zmath_lineFitResult_destruct(&copy), 0);
}

TEST(ResultLifeCycle, AssignCopiesEverythingAndSelfAssignChangesNothing)
{
    zfit::LineResult source, target;
    fill(source);
    ASSERT_EQ(zmath_lineFitResult_assign(target.get(), source.get()), 0);
    EXPECT_EQ(target->rmsError, 0.5);
    EXPECT_EQ(zt::indices(target->ignoredIndices), (std::vector<int32_t>{7, 3, 9}));
    ASSERT_EQ(zmath_lineFitResult_assign(source.get(), source.get()), 0);
    EXPECT_EQ(source->isValid, 1);
    EXPECT_EQ(zt::indices(source->ignoredIndices), (std::vector<int32_t>{7, 3, 9}));
}

TEST(ResultLifeCycleDeathTest, ConstructCopyFromNullIsABrokenPrecondition)
{
    zmath_lineFitResult copy;
    EXPECT_DEATH(zmath_lineFitResult_constructCopy(&copy, nullptr), "broken precondition");
}

// ---- one record, many fits ---------------------------------------------------

// Points near a circle of radius 5 about (2, 1), slightly out of round so no
// fit is exact, with gross outliers at positions 3 and 11.
std::vector<zmath_vect> roughCircle(int n)
{
    std::vector<zmath_vect> p;
    for (int i = 0; i < n; ++i) {
        const double t = 2 * zt::pi * i / n, r = 5 + 0.02 * std::sin(3 * t + 0.4) + ((i == 3 || i == 11) ? 3.0 : 0.0);
        p.push_back({2 + r * std::cos(t), 1 + 0.8 * r * std::sin(t)});
    }
    return p;
}
// Points near y = x / 2, with outliers at positions 2 and 9.
std::vector<zmath_vect> roughLine(int n)
{
    std::vector<zmath_vect> p;
    for (int i = 0; i < n; ++i)
        p.push_back({1.0 * i, 0.5 * i + 0.01 * ((i * 7) % 5) + ((i == 2 || i == 9) ? 4.0 : 0.0)});
    return p;
}

std::string label(int32_t mode, int32_t numIgnore, int n)
{
    return "mode " + std::to_string(mode) + ", numIgnore " + std::to_string(numIgnore) + ", n " + std::to_string(n);
}

// One fit of a family: its name, and the call on a record.
template <class R>
struct Fit {
    std::string what;
    std::function<zfit_status(R*)> run;
};

// Each fit in turn on one reused record gives what it gives on a fresh
// record: the same status, shape, error and discarded indices. The sequence
// puts fits that discard nothing or fewer points on smaller inputs after
// fits that discarded more, so stale indices (some past the end) would show.
template <class R>
void expectReuseEqualsFresh(const std::vector<Fit<R>>& fits)
{
    zfit::Result<R> reused;
    for (const Fit<R>& fit : fits) {
        SCOPED_TRACE(fit.what);
        zfit::Result<R> fresh;
        const zfit_status freshStatus = fit.run(fresh.get());
        ASSERT_EQ(freshStatus, zfit_ok) << "the sequence's fits all succeed: " << zfit::statusName(freshStatus);
        EXPECT_EQ(fit.run(reused.get()), freshStatus) << "the same status on the reused record";
        EXPECT_EQ(zt::indices(reused->ignoredIndices), zt::indices(fresh->ignoredIndices))
            << "the reused record reports this fit's discards only";
        EXPECT_EQ(zt::shapeValues(*reused), zt::shapeValues(*fresh)) << "the same shape";
        EXPECT_EQ(reused->rmsError, fresh->rmsError) << "the same error";
    }
}

TEST(ResultReuse, EveryLineModeReportsOnlyItsOwnDiscards)
{
    std::vector<Fit<zmath_lineFitResult>> fits;
    const auto line = [&](int n, int32_t mode, int32_t numIgnore) {
        const std::vector<zmath_vect> p = roughLine(n);
        fits.push_back({label(mode, numIgnore, n), [p, mode, numIgnore](zmath_lineFitResult* r) {
                            const zmath_lineFitParams params{numIgnore, HUGE_VAL, mode};
                            return zmath_lineFit(p.data(), static_cast<int32_t>(p.size()), &params, r);
                        }});
    };
    for (int32_t mode : {0, 1})
        for (int32_t before : {2, 5}) {  // exhaustive and ranked discards in mode 0
            line(40, mode, before);
            line(12, mode, 0);
            line(40, mode, before);
            line(12, mode, 1);
        }
    line(40, 1, 5);
    line(12, 0, 4);
    expectReuseEqualsFresh(fits);
}

TEST(ResultReuse, EveryCircleModeReportsOnlyItsOwnDiscards)
{
    std::vector<Fit<zmath_circleFitResult>> fits;
    const auto circle = [&](int n, int32_t mode, int32_t numIgnore) {
        const std::vector<zmath_vect> p = roughCircle(n);
        fits.push_back({label(mode, numIgnore, n), [p, mode, numIgnore](zmath_circleFitResult* r) {
                            const zmath_circleFitParams params{numIgnore, HUGE_VAL, mode, 4.5};
                            return zmath_circleFit(p.data(), static_cast<int32_t>(p.size()), &params, r);
                        }});
    };
    for (int32_t mode : {0, 1}) {
        circle(24, mode, 3);
        circle(8, mode, 0);
        circle(24, mode, 2);
        circle(8, mode, 1);
    }
    circle(24, 0, 3);
    const std::vector<zmath_vect> p = roughCircle(8);
    fits.push_back({"weighted", [p](zmath_circleFitResult* r) {
                        const zmath_circleFitParams params{0, HUGE_VAL, 0, 1.0};
                        const std::vector<double> w(p.size(), 2.0);
                        return zmath_circleFitWeighted(p.data(), static_cast<int32_t>(p.size()), w.data(), &params, r);
                    }});
    expectReuseEqualsFresh(fits);
}

}  // namespace
