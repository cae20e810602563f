// Test support for the measurements: seeded noisy arcs and the Monte Carlo
// summary of an estimate (its bias, scatter, and how well its reported
// standard error and 95% interval described that scatter).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support.hpp"

namespace mt {

// n points evenly spread over `span` radians of the ellipse with semi-axes
// a (along `angle`) and b about `centre`, from parameter `start`, with
// Gaussian noise of standard deviation sigma in x and in y. A circle is
// a == b.
inline std::vector<zmath_vect> ellipseArc(zt::Rng& rng, zmath_vect centre, double a, double b, double angle,
                                          double start, double span, int n, double sigma)
{
    std::vector<zmath_vect> points(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const zmath_vect q = zt::onEllipse(centre, a, b, angle, start + span * i / (n - 1));
        points[static_cast<size_t>(i)] = {q.x + rng.normal(sigma), q.y + rng.normal(sigma)};
    }
    return points;
}

inline std::vector<zmath_vect> circleArc(zt::Rng& rng, zmath_vect centre, double radius, double start, double span,
                                         int n, double sigma)
{
    return ellipseArc(rng, centre, radius, radius, 0.0, start, span, n, sigma);
}

// Points along the line through `from` at `angle`, spaced 1 apart, with
// noise sigma across it.
inline std::vector<zmath_vect> noisyLine(zt::Rng& rng, zmath_vect from, double angle, int n, double sigma)
{
    std::vector<zmath_vect> points;
    for (int i = 0; i < n; ++i) {
        const double across = rng.normal(sigma);
        points.push_back({from.x + i * std::cos(angle) - across * std::sin(angle),
                          from.y + i * std::sin(angle) + across * std::cos(angle)});
    }
    return points;
}

// The errors of one parameter over many trials, with the standard errors
// and interval half-widths the fit reported for each.
class Scatter {
public:
    void add(double error, double standardError, double halfWidth95)
    {
        errors_.push_back(error);
        predicted2_ += standardError * standardError;
        covered_ += std::fabs(error) <= halfWidth95 ? 1 : 0;
    }
    double median() const
    {
        std::vector<double> sorted = errors_;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    double rmse() const
    {
        double sum = 0.0;
        for (double e : errors_) sum += e * e;
        return std::sqrt(sum / static_cast<double>(errors_.size()));
    }
    // The RMS of the reported standard errors over the observed RMSE.
    double standardErrorRatio() const { return std::sqrt(predicted2_ / static_cast<double>(errors_.size())) / rmse(); }
    double coverage() const { return static_cast<double>(covered_) / static_cast<double>(errors_.size()); }
    std::string describe() const
    {
        char text[160];
        std::snprintf(text, sizeof text,
                      "median error %.4g, RMSE %.4g, SE/RMSE %.3f, 95%% coverage %.3f over %zu trials", median(),
                      rmse(), standardErrorRatio(), coverage(), errors_.size());
        return text;
    }

private:
    std::vector<double> errors_;
    double predicted2_ = 0.0;
    int covered_ = 0;
};

// The targets every reported uncertainty meets over a few hundred trials.
inline void expectHonest(const Scatter& s, const std::string& what)
{
    EXPECT_GE(s.standardErrorRatio(), 0.85) << what << ": " << s.describe();
    EXPECT_LE(s.standardErrorRatio(), 1.15) << what << ": " << s.describe();
    EXPECT_GE(s.coverage(), 0.92) << what << ": " << s.describe();
    EXPECT_LE(s.coverage(), 0.98) << what << ": " << s.describe();
}

// A result record with a marker in every byte, to see that a failure
// leaves it as it was.
template <class R>
R marked()
{
    R r;
    std::memset(&r, 0x5a, sizeof r);
    return r;
}

template <class R>
bool unchanged(const R& r)
{
    const R m = marked<R>();
    return std::memcmp(&r, &m, sizeof r) == 0;
}

}  // namespace mt
