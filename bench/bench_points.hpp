// The benchmarks' shared data: the point sets every family is timed on,
// each generated from a fixed seed so that numbers compare across builds,
// and the baseline that only reads the points.
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include <zfit/zfit.hpp>

namespace zbench {

// The sizes every outlier search is timed at, and the larger ones of the
// paths that discard nothing; times in milliseconds.
inline void searchSizes(benchmark::internal::Benchmark* b)
{
    for (int64_t n : {50, 100, 200, 400, 1000}) b->Arg(n);
    b->ArgName("n")->Unit(benchmark::kMillisecond);
}
inline void largeSizes(benchmark::internal::Benchmark* b)
{
    for (int64_t n : {1000, 10000, 100000, 1000000}) b->Arg(n);
    b->ArgName("n")->Unit(benchmark::kMillisecond);
}

inline std::vector<zmath_vect> noisyLine(int64_t n)
{
    std::mt19937_64 rng(7);
    std::normal_distribution<double> noise(0.0, 0.01);
    std::vector<zmath_vect> points(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(n) * 100.0;
        points[static_cast<size_t>(i)] = {t + noise(rng), 0.3 * t + 5.0 + noise(rng)};
    }
    return points;
}

inline std::vector<zmath_vect> lineWithOutliers(int64_t n, int64_t outliers)
{
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> along(0.0, 100.0), off(3.0, 30.0);
    std::normal_distribution<double> noise(0.0, 0.02);
    std::vector<zmath_vect> points(static_cast<size_t>(n));
    for (zmath_vect& p : points) {
        const double x = along(rng);
        p = {x, 5.0 + 0.3 * x + noise(rng)};
    }
    for (int64_t k = 0; k < outliers; ++k)
        points[static_cast<size_t>((7 * k + 3) % n)].y += (k % 2 ? -1 : 1) * off(rng);
    return points;
}

// Points on a circle of radius 10 about (3, -2), noise 0.01; `outliers` of
// them moved outward to 1.3 times the radius (the data of the peer
// comparison in bench/robust_peers.py).
inline std::vector<zmath_vect> noisyCircle(int64_t n, int64_t outliers = 0)
{
    std::mt19937_64 rng(11);
    std::normal_distribution<double> noise(0.0, 0.01);
    std::uniform_real_distribution<double> angle(0.0, 6.283185307179586);
    std::vector<zmath_vect> points(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const double a = angle(rng);
        points[static_cast<size_t>(i)] = {3.0 + 10.0 * std::cos(a) + noise(rng),
                                          -2.0 + 10.0 * std::sin(a) + noise(rng)};
    }
    for (int64_t k = 0; k < outliers; ++k) {
        zmath_vect& p = points[static_cast<size_t>((7 * k + 3) % n)];
        p = {3.0 + 1.3 * (p.x - 3.0), -2.0 + 1.3 * (p.y + 2.0)};
    }
    return points;
}

// Points on an ellipse (centre (40, -25), radii 30 and 12, tilted by 0.6 rad)
// with a little noise, and every seventh point pushed outward as a stray.
inline std::vector<zmath_vect> noisyEllipse(int64_t n, bool strays)
{
    std::mt19937_64 rng(11);
    std::normal_distribution<double> noise(0.0, 0.01);
    std::vector<zmath_vect> points(static_cast<size_t>(n));
    const double c = std::cos(0.6), s = std::sin(0.6);
    for (int64_t i = 0; i < n; ++i) {
        const double t = 2.0 * 3.141592653589793 * static_cast<double>(i) / static_cast<double>(n);
        const double out = strays && i % 7 == 3 ? 1.2 : 1.0;
        const double u = 30.0 * std::cos(t) * out, v = 12.0 * std::sin(t) * out;
        points[static_cast<size_t>(i)] = {40.0 + c * u - s * v + noise(rng), -25.0 + s * u + c * v + noise(rng)};
    }
    return points;
}

// n points on an arc of `degrees` of a circle of radius 100 about (30, -20)
// with radial noise 0.5, or of the 100 x 50 ellipse with noise 0.1.
inline std::vector<zmath_vect> arc(int64_t n, double degrees, bool ellipse)
{
    std::mt19937_64 rng(7);
    std::normal_distribution<double> noise(0.0, ellipse ? 0.1 : 0.5);
    std::vector<zmath_vect> points(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const double t = degrees * 3.141592653589793 / 180.0 * static_cast<double>(i) / static_cast<double>(n - 1);
        const double r2 = ellipse ? 50.0 : 100.0;
        points[static_cast<size_t>(i)] = {30.0 + 100.0 * std::cos(t) + noise(rng),
                                          -20.0 + r2 * std::sin(t) + noise(rng)};
    }
    return points;
}

// A profile of radius 10 about (3, -2) with three lobes of 0.01 and noise
// of 0.002, as a turned part measured all round.
inline std::vector<zmath_vect> profile(int64_t n)
{
    std::mt19937_64 rng(static_cast<uint64_t>(n));
    std::normal_distribution<double> noise(0.0, 0.002);
    std::vector<zmath_vect> points(static_cast<size_t>(n));
    for (int64_t k = 0; k < n; ++k) {
        const double t = 6.283185307179586 * static_cast<double>(k) / static_cast<double>(n);
        const double r = 10.0 + 0.01 * std::cos(3.0 * t + 0.4) + noise(rng);
        points[static_cast<size_t>(k)] = {3.0 + r * std::cos(t), -2.0 + r * std::sin(t)};
    }
    return points;
}

// The weighted least-squares circle with unit weights: the baseline every
// circle-like measurement is compared with.
class LeastSquaresCircle {
public:
    explicit LeastSquaresCircle(const std::vector<zmath_vect>& points) : points_(points), weights_(points.size(), 1.0)
    {
        zmath_circleFitParams_init(&params_);
    }
    void fit()
    {
        benchmark::DoNotOptimize(zmath_circleFitWeighted(points_.data(), static_cast<int32_t>(points_.size()),
                                                         weights_.data(), &params_, result_.get()));
        benchmark::DoNotOptimize(result_->radius);
    }

private:
    std::vector<zmath_vect> points_;
    std::vector<double> weights_;
    zmath_circleFitParams params_;
    zfit::Result<zmath_circleFitResult> result_;
};

inline void timeLeastSquaresCircle(benchmark::State& state, const std::vector<zmath_vect>& points)
{
    LeastSquaresCircle circle(points);
    for (auto _ : state) circle.fit();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The time to read every coordinate once: what any fit of the points costs
// at the least.
inline void sumCoordinates(benchmark::State& state, const std::vector<zmath_vect>& points)
{
    for (auto _ : state) {
        double sx = 0.0, sy = 0.0;
        for (const zmath_vect& p : points) {
            sx += p.x;
            sy += p.y;
        }
        benchmark::DoNotOptimize(sx);
        benchmark::DoNotOptimize(sy);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace zbench
