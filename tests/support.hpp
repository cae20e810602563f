// Test support shared by every family's tests: seeded randomness, owned
// service containers, result records that destruct themselves, and hooks
// that cancel at a chosen poll or fail a chosen allocation.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <ostream>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include <zfit/frame/status_names.h>
#include <zfit/zfit.h>

namespace zt {

constexpr double pi = std::numbers::pi;

// Seeded randomness; print the seed in failure messages (SCOPED_TRACE).
struct Rng {
    explicit Rng(uint64_t seed) : engine(seed) {}
    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(engine); }
    double normal(double sigma) { return sigma == 0.0 ? 0.0 : std::normal_distribution<double>(0.0, sigma)(engine); }
    int integer(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(engine); }
    std::mt19937_64 engine;
};

// Where the conditioning properties put a data set whose spread is about
// `spread`: p -> scale * p + shift. A fit must not care where its data lie or
// what unit they are measured in: the placed data give the fit placed alike.
struct Placement {
    double scale;
    zmath_vect shift;
    zmath_vect operator()(const zmath_vect& p) const { return {scale * p.x + shift.x, scale * p.y + shift.y}; }
    std::vector<zmath_vect> operator()(const std::vector<zmath_vect>& points) const
    {
        std::vector<zmath_vect> out;
        for (const zmath_vect& p : points) out.push_back((*this)(p));
        return out;
    }
};

inline std::ostream& operator<<(std::ostream& out, const Placement& at)
{
    return out << "scale " << at.scale << " shift (" << at.shift.x << ", " << at.shift.y << ")";
}

// Units far from 1 both ways (1e-9 to 1e9), each at the origin and at 1e3 and
// 1e5 times the scaled spread from it in a random direction (scale 1 only
// away from the origin).
inline std::vector<Placement> placements(Rng& rng, double spread)
{
    std::vector<Placement> out;
    for (double scale : {1e-9, 1e-6, 1.0, 1e6, 1e9})
        for (double distance : {0.0, 1e3, 1e5}) {
            if (scale == 1.0 && distance == 0.0) continue;
            const double angle = rng.uniform(0, 2 * pi), reach = distance * spread * scale;
            out.push_back({scale, {reach * std::cos(angle), reach * std::sin(angle)}});
        }
    return out;
}

// A point vector owned by the test.
class Points {
public:
    Points() { zstd_vector_zmath_vect_construct(&v_, 0); }
    Points(const std::vector<zmath_vect>& points) : Points() { assign(points); }
    Points(const Points&) = delete;
    Points& operator=(const Points&) = delete;
    ~Points() { zstd_vector_zmath_vect_destruct(&v_); }
    void assign(const std::vector<zmath_vect>& points)
    {
        zstd_vector_zmath_vect_resize(&v_, static_cast<int64_t>(points.size()));
        for (size_t i = 0; i < points.size(); ++i) v_.begin[i] = points[i];
    }
    const zstd_vector_zmath_vect* get() const { return &v_; }
    zstd_vector_zmath_vect* get() { return &v_; }

private:
    zstd_vector_zmath_vect v_{};
};

// A vector of doubles (weights) owned by the test.
class Doubles {
public:
    Doubles(const std::vector<double>& values = {})
    {
        zstd_vectord_construct(&v_, static_cast<int64_t>(values.size()));
        for (size_t i = 0; i < values.size(); ++i) v_.begin[i] = values[i];
    }
    Doubles(const Doubles&) = delete;
    Doubles& operator=(const Doubles&) = delete;
    ~Doubles() { zstd_vectord_destruct(&v_); }
    const zstd_vectord* get() const { return &v_; }

private:
    zstd_vectord v_{};
};

// A result record constructed on creation and destructed at scope end.
template <class R, zfit_status (*Construct)(R*), zfit_status (*Destruct)(R*)>
class Owned {
public:
    Owned() { EXPECT_EQ(Construct(&r_), 0); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Destruct(&r_); }
    R* operator->() { return &r_; }
    R* get() { return &r_; }
    R& operator*() { return r_; }

private:
    R r_{};
};

using LineResult = Owned<zmath_lineFitResult, zmath_lineFitResult_construct, zmath_lineFitResult_destruct>;

inline std::vector<int32_t> indices(const zstd_vector32& v) { return std::vector<int32_t>(v.begin, v.begin + v.size); }

// Installs an attention check on this thread for the test's scope. The
// check counts its polls and fails from poll number `failAt` on (1-based;
// 0 never fails) with `status`.
class ScopedAttention {
public:
    explicit ScopedAttention(int failAt = 0, zfit_status status = zsys_errCancelled) : failAt_(failAt), status_(status)
    {
        zsys_attention_install(&ScopedAttention::check, this);
    }
    ScopedAttention(const ScopedAttention&) = delete;
    ScopedAttention& operator=(const ScopedAttention&) = delete;
    ~ScopedAttention() { zsys_attention_install(nullptr, nullptr); }
    int polls() const { return polls_; }

private:
    static zfit_status check(void* context)
    {
        auto* self = static_cast<ScopedAttention*>(context);
        ++self->polls_;
        return (self->failAt_ > 0 && self->polls_ >= self->failAt_) ? self->status_ : zfit_ok;
    }
    int failAt_;
    zfit_status status_;
    int polls_ = 0;
};

// Installs an allocator on this thread for the test's scope that fails the
// allocation number `failAt` (1-based; 0 never fails) and every later one,
// and keeps track of the blocks still outstanding.
class ScopedAllocator {
public:
    explicit ScopedAllocator(int failAt = 0) : failAt_(failAt)
    {
        const zsys_allocator a{&ScopedAllocator::allocate, &ScopedAllocator::release, this};
        zsys_memory_install(&a);
    }
    ScopedAllocator(const ScopedAllocator&) = delete;
    ScopedAllocator& operator=(const ScopedAllocator&) = delete;
    ~ScopedAllocator() { zsys_memory_install(nullptr); }
    int allocations() const { return count_; }
    size_t outstanding() const { return live_.size(); }

private:
    static void* allocate(void* context, size_t bytes)
    {
        auto* self = static_cast<ScopedAllocator*>(context);
        ++self->count_;
        if (self->failAt_ > 0 && self->count_ >= self->failAt_) return nullptr;
        void* block = std::malloc(bytes);
        self->live_.insert(block);
        return block;
    }
    static void release(void* context, void* block)
    {
        static_cast<ScopedAllocator*>(context)->live_.erase(block);
        std::free(block);
    }
    int failAt_;
    int count_ = 0;
    std::set<void*> live_;
};

// Makes broken preconditions observable without stopping the process.
class ScopedAssertCounter {
public:
    ScopedAssertCounter() { zstd_assert_install(&ScopedAssertCounter::handle, this); }
    ScopedAssertCounter(const ScopedAssertCounter&) = delete;
    ScopedAssertCounter& operator=(const ScopedAssertCounter&) = delete;
    ~ScopedAssertCounter() { zstd_assert_install(nullptr, nullptr); }
    int count() const { return count_; }

private:
    static void handle(void* context, int32_t) { ++static_cast<ScopedAssertCounter*>(context)->count_; }
    int count_ = 0;
};

inline std::string statusName(zfit_status s)
{
    const char* name = zfit_statusName(s);
    return name ? name : "unknown";
}

}  // namespace zt
