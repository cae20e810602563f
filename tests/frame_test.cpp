// The frame every family shares: the status table and the result-record
// life cycle (shown on the line record; every family's record is built from
// the same templates).
#include <map>

#include "support.hpp"

namespace {

TEST(StatusTable, EveryCodeIsAFailureWithAUniqueValueAndName)
{
    std::map<int32_t, std::string> seen;
#define ZT_CHECK_STATUS(name, bits, text)                                         \
    EXPECT_TRUE(ZFIT_FAILED(name)) << #name << " is a failure";                   \
    EXPECT_EQ(static_cast<uint32_t>(name), static_cast<uint32_t>(bits)) << #name; \
    EXPECT_TRUE(seen.emplace(name, #name).second) << #name << " repeats a value";
    ZFIT_STATUS_TABLE(ZT_CHECK_STATUS)
#undef ZT_CHECK_STATUS
    EXPECT_EQ(zfit_statusName(0), std::string("zfit_ok"));
    EXPECT_EQ(zfit_statusName(12345), nullptr);
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

}  // namespace
