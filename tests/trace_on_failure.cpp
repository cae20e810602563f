// With ZFIT_TEST_TRACE set (the sanitizer test preset sets it), every test
// runs with a failure trace installed on its thread, and the steps it
// collected are printed when the test fails: where inside the libraries a
// refusal came from. Tests run on the main thread, the one the listener is
// told on; a trace a test installs itself replaces this one until the end
// of that test.
#include <cstdio>
#include <cstdlib>
#include <deque>

#include <gtest/gtest.h>

#include <zfit/frame/trace.h>
#include <zfit/zfit.hpp>

namespace {

class TraceOnFailure : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override
    {
        steps_.clear();
        dropped_ = 0;
        zsys_trace_install(&TraceOnFailure::record, this);
    }

    void OnTestEnd(const ::testing::TestInfo& info) override
    {
        zsys_trace_install(nullptr, nullptr);
        if (!info.result()->Failed() || steps_.empty()) return;
        std::printf("Failure trace of %s.%s (each refusal innermost step first)", info.test_suite_name(), info.name());
        if (dropped_ > 0) std::printf(" (the last %zu of %zu steps)", steps_.size(), steps_.size() + dropped_);
        std::printf(":\n");
        for (const Step& s : steps_)
            std::printf("  %s:%d: %s -> %s\n", s.file, static_cast<int>(s.line), s.expression,
                        zfit::statusName(s.status));
        std::fflush(stdout);
    }

private:
    struct Step {
        const char* file;  // the library's static texts
        int32_t line;
        const char* expression;
        zfit_status status;
    };

    // Tests that refuse on purpose fail many steps: keep the latest ones,
    // which lead to the failed expectation.
    static constexpr size_t kKept = 200;

    static void record(void* context, const char* file, int32_t line, const char* expression, zfit_status status)
    {
        auto* self = static_cast<TraceOnFailure*>(context);
        if (self->steps_.size() == kKept) {
            self->steps_.pop_front();
            ++self->dropped_;
        }
        self->steps_.push_back({file, line, expression, status});
    }

    std::deque<Step> steps_;
    size_t dropped_ = 0;
};

// Registered before main runs the tests; GoogleTest owns the listener.
const bool registered = [] {
    const char* on = std::getenv("ZFIT_TEST_TRACE");
    if (on != nullptr && *on != '\0' && *on != '0')
        ::testing::UnitTest::GetInstance()->listeners().Append(new TraceOnFailure);
    return true;
}();

}  // namespace
