// The frame every family shares: the status table (names and texts through
// the C and the C++ layer), the result-record life cycle (shown on the line
// record; every family's record is built from the same templates), and the
// reuse of one record for many fits.
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

// A copy, an assigned record and a record assigned to itself hold the
// source's values; the copy owns its indices, and reset clears it back to a
// new record's values.
TEST(ResultLifeCycle, CopiesHoldTheSourceAndResetClears)
{
    zfit::LineResult source, assigned;
    zt::dirty(*source);
    zmath_lineFitResult copy;
    ASSERT_EQ(zmath_lineFitResult_constructCopy(&copy, source.get()), 0);
    ASSERT_EQ(zmath_lineFitResult_assign(assigned.get(), source.get()), 0);
    ASSERT_EQ(zmath_lineFitResult_assign(source.get(), source.get()), 0);
    for (const zmath_lineFitResult* r : {&copy, assigned.get(), source.get()}) {
        EXPECT_EQ(r->isValid, 1) << "isValid";
        EXPECT_EQ(zt::shapeValues(*r), std::vector<double>(4, zt::kDirtyShape)) << "the line";
        EXPECT_EQ(r->rmsError, zt::kDirtyError) << "rmsError";
        EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{zt::kDirtyIndex}) << "the indices";
    }
    zstd_vector32_resize(&copy.ignoredIndices, 3);
    EXPECT_EQ(source->ignoredIndices.size, 1) << "the copy owns its own indices";

    ASSERT_EQ(zmath_lineFitResult_reset(&copy), 0);
    const zfit::LineResult fresh;
    EXPECT_EQ(copy.isValid, 0) << "isValid reset";
    EXPECT_EQ(zt::shapeValues(copy), zt::shapeValues(*fresh)) << "the line reset";
    EXPECT_EQ(copy.rmsError, 0.0) << "rmsError reset";
    EXPECT_EQ(copy.ignoredIndices.size, 0) << "indices emptied";
    EXPECT_EQ(zmath_lineFitResult_destruct(&copy), 0);
}

TEST(ResultLifeCycleDeathTest, ConstructCopyFromNullIsABrokenPrecondition)
{
    zmath_lineFitResult copy;
    EXPECT_DEATH(zmath_lineFitResult_constructCopy(&copy, nullptr), "broken precondition");
}

// ---- one record, many fits ---------------------------------------------------

// Points near y = x / 2, with outliers at positions 2 and 9.
std::vector<zmath_vect> roughLine(int n)
{
    std::vector<zmath_vect> p;
    for (int i = 0; i < n; ++i)
        p.push_back({1.0 * i, 0.5 * i + 0.01 * ((i * 7) % 5) + ((i == 2 || i == 9) ? 4.0 : 0.0)});
    return p;
}

// Each fit in turn on one reused record gives what it gives on a fresh
// record: the same shape, error and discarded indices. The sequence puts
// fits that discard nothing or fewer points on smaller inputs after fits
// that discarded more, so stale indices (some past the end) would show.
// Every line algorithm writes its own indices (the circle's entry empties
// them before its search, which the bad input rows check).
TEST(ResultReuse, EveryLineModeReportsOnlyItsOwnDiscards)
{
    // n, mode, numIgnore: exhaustive (2) and ranked (5) discards in mode 0.
    const struct {
        int n;
        int32_t mode, numIgnore;
    } sequence[] = {{40, 0, 2}, {12, 0, 0}, {40, 0, 2}, {12, 0, 1}, {40, 0, 5}, {12, 0, 0},
                    {40, 0, 5}, {12, 0, 1}, {40, 1, 2}, {12, 1, 0}, {40, 1, 2}, {12, 1, 1},
                    {40, 1, 5}, {12, 1, 0}, {40, 1, 5}, {12, 1, 1}, {40, 1, 5}, {12, 0, 4}};
    zfit::LineResult reused;
    for (const auto& [n, mode, numIgnore] : sequence) {
        SCOPED_TRACE(::testing::Message() << "mode " << mode << ", numIgnore " << numIgnore << ", n " << n);
        const std::vector<zmath_vect> p = roughLine(n);
        const zmath_lineFitParams params{numIgnore, HUGE_VAL, mode};
        zfit::LineResult fresh;
        ASSERT_EQ(zmath_lineFit(p.data(), n, &params, fresh.get()), zfit_ok) << "the sequence's fits all succeed";
        EXPECT_EQ(zmath_lineFit(p.data(), n, &params, reused.get()), zfit_ok) << "and on the reused record";
        EXPECT_EQ(zt::indices(reused->ignoredIndices), zt::indices(fresh->ignoredIndices))
            << "the reused record reports this fit's discards only";
        EXPECT_EQ(zt::shapeValues(*reused), zt::shapeValues(*fresh)) << "the same shape";
        EXPECT_EQ(reused->rmsError, fresh->rmsError) << "the same error";
    }
}

}  // namespace
