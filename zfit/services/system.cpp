// Run-time services: the attention poll, the assertion service and the one
// allocation path. Host hooks live in per-thread slots, so hosts running
// fits on several threads configure each thread on its own.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zfit/services/system.h>

namespace {

struct ThreadHooks {
    zsys_attentionFn attention = nullptr;
    void* attentionContext = nullptr;
    zsys_assertFn assertion = nullptr;
    void* assertionContext = nullptr;
    zsys_allocator allocator{nullptr, nullptr, nullptr};
    zsys_traceFn trace = nullptr;
    void* traceContext = nullptr;
};

ThreadHooks& hooks()
{
    thread_local ThreadHooks perThread;
    return perThread;
}

int64_t monotonicNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

extern "C" {

zfit_status zsys_attention_check(void)
{
    const ThreadHooks& h = hooks();
    return h.attention ? h.attention(h.attentionContext) : zfit_ok;
}

void zsys_attention_install(zsys_attentionFn fn, void* context)
{
    ThreadHooks& h = hooks();
    h.attention = fn;
    h.attentionContext = fn ? context : nullptr;
}

void zsys_attention_installed(zsys_attentionFn* fn, void** context)
{
    const ThreadHooks& h = hooks();
    *fn = h.attention;
    *context = h.attentionContext;
}

void zsys_trace_install(zsys_traceFn fn, void* context)
{
    ThreadHooks& h = hooks();
    h.trace = fn;
    h.traceContext = fn ? context : nullptr;
}

void zsys_trace_installed(zsys_traceFn* fn, void** context)
{
    const ThreadHooks& h = hooks();
    *fn = h.trace;
    *context = h.traceContext;
}

void zsys_trace_(const char* file, int32_t line, const char* expression, zfit_status status)
{
    const ThreadHooks& h = hooks();
    if (h.trace) h.trace(h.traceContext, file, line, expression, status);
}

zfit_status zsys_deadline_init(zsys_deadline* deadline, double seconds)
{
    const int64_t now = monotonicNs();
    // Converting a duration beyond the 64-bit nanosecond range is undefined:
    // such deadlines (and NaN) simply never expire.
    const double room = static_cast<double>(INT64_MAX - now) * 1e-9;
    if (!(seconds < room)) {
        deadline->expiresNs = INT64_MAX;
    } else {
        deadline->expiresNs = seconds <= 0.0 ? now : now + static_cast<int64_t>(seconds * 1e9);
    }
    return zfit_ok;
}

zfit_status zsys_deadline_check(void* deadline)
{
    const auto* d = static_cast<const zsys_deadline*>(deadline);
    return monotonicNs() >= d->expiresNs ? zsys_errCancelled : zfit_ok;
}

void zstd_assert_(int32_t line)
{
    const ThreadHooks& h = hooks();
    if (h.assertion) {
        h.assertion(h.assertionContext, line);
        return;
    }
    std::fprintf(stderr, "zfit: broken precondition at line %d\n", static_cast<int>(line));
    std::abort();
}

void zstd_assert_install(zsys_assertFn fn, void* context)
{
    ThreadHooks& h = hooks();
    h.assertion = fn;
    h.assertionContext = fn ? context : nullptr;
}

void zstd_assert_installed(zsys_assertFn* fn, void** context)
{
    const ThreadHooks& h = hooks();
    *fn = h.assertion;
    *context = h.assertionContext;
}

zfit_status zsys_memory_fill(int32_t value, size_t count, void* destination)
{
    if (count > 0) std::memset(destination, value, count);
    return zfit_ok;
}

zfit_status zsys_memory_allocate(size_t bytes, void** block)
{
    *block = nullptr;
    if (bytes == 0) return zfit_ok;
    const zsys_allocator& a = hooks().allocator;
    *block = a.allocate ? a.allocate(a.context, bytes) : std::malloc(bytes);
    return *block ? zfit_ok : zstd_errOutOfMemory;
}

void zsys_memory_release(void* block)
{
    if (!block) return;
    const zsys_allocator& a = hooks().allocator;
    if (a.release)
        a.release(a.context, block);
    else
        std::free(block);
}

void zsys_memory_install(const zsys_allocator* allocator)
{
    hooks().allocator = allocator ? *allocator : zsys_allocator{nullptr, nullptr, nullptr};
}

}  // extern "C"
