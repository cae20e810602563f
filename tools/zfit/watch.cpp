// The attention check of the command: progress on standard error and
// --timeout. The searching fits poll the check once per pass of their outer
// loop; the watch counts the polls against the search's plan.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <unistd.h>

#include "cli.hpp"

namespace zcli {

namespace {

constexpr int64_t kQuietNs = 1'000'000'000;       // show nothing during the first second
constexpr int64_t kTerminalStepNs = 100'000'000;  // redraw a terminal line ten times a second
constexpr int64_t kLogStepNs = 5'000'000'000;     // one line every five seconds elsewhere

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// C(n, k) as a double, for k up to 3.
double choose(double n, int k)
{
    if (n < k) return 0.0;
    double c = 1.0;
    for (int i = 0; i < k; ++i) c = c * (n - i) / (i + 1);
    return c;
}

}  // namespace

SearchPlan SearchPlan::nested(std::string label, int64_t polls, int64_t n, int order)
{
    SearchPlan plan;
    plan.label = std::move(label);
    plan.passes = polls;
    // Work of passes 0 .. done-1: sum of C(n-1-i, order) = C(n, order+1) - C(n-done, order+1).
    const double total = choose(static_cast<double>(n), order + 1);
    plan.fraction = [n, order, total](int64_t done) {
        if (total <= 0.0) return 0.0;
        return 1.0 - choose(static_cast<double>(n - done), order + 1) / total;
    };
    return plan;
}

SearchPlan SearchPlan::uniform(std::string label, int64_t polls)
{
    SearchPlan plan;
    plan.label = std::move(label);
    plan.passes = polls;
    plan.fraction = [polls](int64_t done) {
        return polls > 0 ? static_cast<double>(done) / static_cast<double>(polls) : 0.0;
    };
    return plan;
}

Watch::Watch(const Common& common, SearchPlan plan)
    : plan_(std::move(plan)), quiet_(common.quiet), terminal_(isatty(STDERR_FILENO) != 0), timed_(common.timeout > 0.0)
{
    if (timed_) zsys_deadline_init(&deadline_, common.timeout);
    startNs_ = nowNs();
    zsys_attention_installed(&previous_, &previousContext_);
    zsys_attention_install(&Watch::poll, this);
}

Watch::~Watch()
{
    zsys_attention_install(previous_, previousContext_);
    if (drawn_ || cancelled_) draw(true);
}

zfit_status Watch::poll(void* self)
{
    Watch& w = *static_cast<Watch*>(self);
    ++w.polls_;
    if (w.timed_) {
        const zfit_status status = zsys_deadline_check(&w.deadline_);
        if (ZFIT_FAILED(status)) {
            w.cancelled_ = true;
            return status;
        }
    }
    if (!w.quiet_) {
        const int64_t now = nowNs();
        const int64_t step = w.terminal_ ? kTerminalStepNs : kLogStepNs;
        if (now - w.startNs_ >= kQuietNs && (!w.drawn_ || now - w.lastDrawNs_ >= step)) {
            w.lastDrawNs_ = now;
            w.draw(false);
        }
    }
    return 0;
}

void Watch::draw(bool final)
{
    const double seconds = static_cast<double>(nowNs() - startNs_) * 1e-9;
    const int64_t done = polls_ > 0 ? polls_ - 1 : 0;  // a poll opens a pass
    if (final) {
        if (terminal_) std::fputs("\r\033[K", stderr);
        if (cancelled_)
            std::fprintf(stderr, "zfit: %s stopped after %.1f s (pass %lld of %lld)\n", plan_.label.c_str(), seconds,
                         static_cast<long long>(polls_), static_cast<long long>(plan_.passes));
        std::fflush(stderr);
        return;
    }
    const double share = plan_.fraction ? plan_.fraction(done) : 0.0;
    std::fprintf(stderr, "%szfit: %s %3.0f%% (pass %lld of %lld), %.1f s%s", terminal_ ? "\r\033[K" : "",
                 plan_.label.c_str(), std::floor(100.0 * share), static_cast<long long>(polls_),
                 static_cast<long long>(plan_.passes), seconds, terminal_ ? "" : "\n");
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace zcli
