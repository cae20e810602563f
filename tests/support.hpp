// Test support shared by every family's tests: seeded randomness and
// placements, result records read field by field, the "dirty" record a
// refusal must leave untouched, and hooks that cancel at a chosen poll or
// fail a chosen allocation. Records and containers are owned through
// zfit/zfit.hpp (zfit::Result, zfit::Points, ...).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numbers>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zfit/frame/status_names.h>
#include <zfit/zfit.h>
#include <zfit/zfit.hpp>

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

// ---- shapes ------------------------------------------------------------------

// The line of normal form -x sin(angle) + y cos(angle) = d.
inline zmath_shapeFLine lineAt(double angle, double d)
{
    zmath_shapeFLine l;
    zmath_shapeFLine_initAngleDistance(&l, &angle, d);
    return l;
}

// The line of direction `angle` through q.
inline zmath_shapeFLine lineThrough(const zmath_vect& q, double angle)
{
    return lineAt(angle, -q.x * std::sin(angle) + q.y * std::cos(angle));
}

// Signed distance of p from a line in the library's normal form.
inline double offset(const zmath_shapeFLine& l, const zmath_vect& p) { return -p.x * l.sine + p.y * l.cosine - l.d; }

// The point at parameter t (radians) of the ellipse about `centre` with
// semi-axes r1, turned by `angle` from the x axis, and r2; a circle when
// r1 == r2.
inline zmath_vect onEllipse(const zmath_vect& centre, double r1, double r2, double angle, double t)
{
    const double c = std::cos(angle), s = std::sin(angle), u = r1 * std::cos(t), v = r2 * std::sin(t);
    return {centre.x + c * u - s * v, centre.y + s * u + c * v};
}

inline std::vector<int32_t> indices(const zstd_vector32& v) { return std::vector<int32_t>(v.begin, v.begin + v.size); }

// ---- result records, field by field --------------------------------------------

// The fitted shape of a record: its doubles, named field by field.
inline std::vector<double*> shapeOf(zmath_lineFitResult& r)
{
    zmath_shapeFLine& l = r.line;
    return {&l.d, &l.angle, &l.sine, &l.cosine};
}
inline std::vector<double*> shapeOf(zmath_circleFitResult& r) { return {&r.centre.x, &r.centre.y, &r.radius}; }
inline std::vector<double*> shapeOf(zmath_ellipseFitResult& r)
{
    zmath_shapeEllipse& e = r.ellipse;
    return {&e.center.x, &e.center.y, &e.radius1, &e.radius2, &e.angle};
}
inline std::vector<double*> shapeOf(zmath_parabolaFitResult& r)
{
    zmath_xformRigid& pose = r.parabola.pose;
    return {&pose.angle, &pose.cosine, &pose.sine, &pose.translation.x, &pose.translation.y, &r.parabola.coefficient};
}
inline std::vector<double*> shapeOf(zmath_xformLinear& t)
{
    zmath_matrix& m = t.matrix;
    return {&t.translation.x, &t.translation.y, &m.m00, &m.m01, &m.m10, &m.m11};
}
inline std::vector<double*> shapeOf(zmath_pointToPointFitResult& r) { return shapeOf(r.xform); }
inline std::vector<double*> shapeOf(zmath_pointToLineFitResult& r) { return shapeOf(r.xform); }

// The values of the fitted shape.
template <class R>
std::vector<double> shapeValues(const R& r)
{
    std::vector<double> values;
    for (double* v : shapeOf(const_cast<R&>(r))) values.push_back(*v);
    return values;
}

template <class R>
constexpr bool hasIndices = requires(R r)
{
    r.ignoredIndices;
};

// ---- "dirty, then untouched" ----------------------------------------------------

// A record as an earlier fit might have left it, in a pattern no fit writes:
// isValid 1, every value of the shape 7, rmsError 8 and, where the record
// lists discarded points, the index 99.
constexpr double kDirtyShape = 7.0, kDirtyError = 8.0;
constexpr int32_t kDirtyIndex = 99;

template <class R>
R& dirty(R& r)
{
    r.isValid = 1;
    for (double* v : shapeOf(r)) *v = kDirtyShape;
    r.rmsError = kDirtyError;
    if constexpr (hasIndices<R>) {
        zstd_vector32_resize(&r.ignoredIndices, 0);
        zstd_vector32_pushBack(&r.ignoredIndices, &kDirtyIndex);
    }
    return r;
}

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
// allocation number `failAt` (1-based; 0 never fails) and every later one
// (or, with `onlyThat`, that one alone), and keeps track of the blocks still
// outstanding.
class ScopedAllocator {
public:
    explicit ScopedAllocator(int failAt = 0, bool onlyThat = false) : failAt_(failAt), onlyThat_(onlyThat)
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
        if (self->failAt_ > 0 && (self->onlyThat_ ? self->count_ == self->failAt_ : self->count_ >= self->failAt_))
            return nullptr;
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
    bool onlyThat_;
    int count_ = 0;
    std::set<void*> live_;
};

// Runs `call` (which makes and releases its own records) with its k-th
// allocation failing alone, then with every allocation from the k-th on, for
// k = 1, 2, ... until it succeeds. Every failure must be exhaustion (with the
// k-th failing alone, whenever the call made k allocations: a dropped status
// would otherwise be hidden by the next allocation failing), and nothing may
// stay allocated. Returns how many runs with every later allocation failing
// failed.
inline int failEachAllocation(const std::function<zfit_status()>& call)
{
    for (int k = 1; k <= 10000; ++k) {
        {
            ScopedAllocator alone(k, true);
            const zfit_status status = call();
            EXPECT_EQ(alone.outstanding(), 0u) << "leak with allocation " << k << " failing alone";
            if (alone.allocations() >= k) {
                EXPECT_EQ(status, zstd_errOutOfMemory)
                    << "allocation " << k << " failing alone gave " << zfit::statusName(status);
            }
        }
        ScopedAllocator allocator(k);
        const zfit_status status = call();
        EXPECT_EQ(allocator.outstanding(), 0u) << "leak with allocation " << k << " failing";
        if (status == zfit_ok) return k - 1;
        EXPECT_EQ(status, zstd_errOutOfMemory) << "allocation " << k << " failing gave " << zfit::statusName(status);
        if (status != zstd_errOutOfMemory) return k;
    }
    ADD_FAILURE() << "never succeeded";
    return 0;
}

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

}  // namespace zt
