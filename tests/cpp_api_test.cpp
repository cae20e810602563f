// The C++ layer over the C API (zfit/zfit.hpp): an owner whose construction
// failed says so and holds nothing, and a scoped trace hears where a failure
// came from. (Every test owns its records and containers through this layer,
// so the sanitizer stage finds what an owner would leak; status names are
// checked with the status table in the frame test.)
#include <zfit/zfit.hpp>

#include <string>

#include "support.hpp"

namespace {

TEST(CppApi, AFailedConstructionIsReportedAndNotDestructed)
{
    zt::ScopedAllocator allocator(1);
    zfit::Doubles values(4);
    EXPECT_EQ(values.status(), zstd_errOutOfMemory) << "the allocation failed";
    EXPECT_TRUE(values.span().empty()) << "nothing to see";
}

// A trace installed on the thread is told where a failure came from, and a
// scoped one puts back the trace it replaced.
TEST(Trace, AFailingStepReportsItsPlace)
{
    struct Entry {
        std::string file, expression;
        int32_t line;
        zfit_status status;
    };
    std::vector<Entry> entries;
    const auto record = [](void* context, const char* file, int32_t line, const char* expression, zfit_status status) {
        static_cast<std::vector<Entry>*>(context)->push_back({file, expression, line, status});
    };
    int outerReports = 0;
    const auto count = [](void* context, const char*, int32_t, const char*, zfit_status) {
        ++*static_cast<int*>(context);
    };
    zfit::ScopedTrace outer(count, &outerReports);
    const zfit_status stop = ZFIT_STATUS_BITS(0x80007777u);
    {
        zfit::ScopedTrace trace(record, &entries);
        zt::ScopedAttention attention(1, stop);
        std::vector<zmath_vect> points;
        for (int i = 0; i < 12; ++i) points.push_back({std::cos(i * 0.5), std::sin(i * 0.5)});
        zfit::CircleResult result;
        zmath_circleFitParams params;
        zmath_circleFitParams_init(&params);
        params.numIgnore = 1;
        EXPECT_EQ(zmath_circleFit(points.data(), 12, &params, result.get()), stop) << "the host's status comes back";
    }
    zsys_traceFn left = nullptr;
    void* leftContext = nullptr;
    zsys_trace_installed(&left, &leftContext);
    EXPECT_EQ(leftContext, &outerReports) << "the inner scope put the outer trace back";
    EXPECT_EQ(outerReports, 0) << "the outer trace heard nothing while the inner one was installed";
    ASSERT_FALSE(entries.empty()) << "the failure was traced";
    EXPECT_NE(entries.front().expression.find("zsys_attention_check"), std::string::npos)
        << "the innermost report names the step: " << entries.front().expression;
    EXPECT_GT(entries.front().line, 0) << "and a line";
    EXPECT_NE(entries.front().file.find("zfit/circle/"), std::string::npos)
        << "the source is named from the tree's zfit/ on: " << entries.front().file;
    EXPECT_NE(entries.front().file.front(), '/') << "not by the absolute path of the build's tree";
    for (const Entry& e : entries) EXPECT_EQ(e.status, stop) << "passed on unchanged at " << e.file << ":" << e.line;
}

}  // namespace
