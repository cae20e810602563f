// The attention check of the command: progress on standard error and
// --timeout. The searching fits poll the check as their plans say; the watch
// counts the polls against the plan.
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

}  // namespace

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
        if (cancelled_ && plan_.passes < 0)
            std::fprintf(stderr, "zfit: %s stopped after %.1f s (pass %lld)\n", plan_.label.c_str(), seconds,
                         static_cast<long long>(polls_));
        else if (cancelled_)
            std::fprintf(stderr, "zfit: %s stopped after %.1f s (pass %lld of %lld)\n", plan_.label.c_str(), seconds,
                         static_cast<long long>(polls_), static_cast<long long>(plan_.passes));
        std::fflush(stderr);
        return;
    }
    if (plan_.passes < 0) {
        // No count of passes is known: how far, not how much is left.
        std::fprintf(stderr, "%szfit: %s, pass %lld, %.1f s%s", terminal_ ? "\r\033[K" : "", plan_.label.c_str(),
                     static_cast<long long>(polls_), seconds, terminal_ ? "" : "\n");
    } else {
        const double share = plan_.fraction ? plan_.fraction(done) : 0.0;
        std::fprintf(stderr, "%szfit: %s %3.0f%% (pass %lld of %lld), %.1f s%s", terminal_ ? "\r\033[K" : "",
                     plan_.label.c_str(), std::floor(100.0 * share), static_cast<long long>(polls_),
                     static_cast<long long>(plan_.passes), seconds, terminal_ ? "" : "\n");
    }
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace zcli
