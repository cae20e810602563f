// The driver every robust fit shares (robust.h describes the method): the
// checks, the deterministic least-median start, the reweighting loop, the
// scale and the result record. Each shape brings a model:
//
//   using Shape;                             the fitted shape
//   static constexpr Sampling sampling;      how the start samples it (below)
//   int membersUsed() const;                 optional: how many points of a
//                                            sample a candidate depends on
//                                            (else sampling.size)
//   int32_t minimumPoints() const;           points of positive weight the
//                                            loop needs: one more than a
//                                            minimal sample's worth, so that
//                                            the sample alone is no fit
//   zmath_vect position(int32_t i) const;    where point i lies
//   bool finite(int32_t i) const;            its coordinates are finite
//   void candidates(std::span<const int32_t> sample, Sink sink) const;
//                                            the shapes through a sample,
//                                            each handed to sink(shape)
//   double scoreSquared(const Shape&, int32_t i) const;
//                                            the squared residual or a
//                                            first-order approximation of
//                                            it, for the start
//   double residual(const Shape&, int32_t i) const;
//   zfit_status fit(std::span<const double> weights, Shape&) const;
//                                            the weighted fit
//   zmet_uncertainty uncertainty(const Shape&, std::span<const double> weights,
//                                std::span<const double> residuals) const;
//   bool refine();                           called once the residuals have
//                                            settled: true when the model
//                                            switched to a finer weighted fit
//                                            (the geometric flavours iterate
//                                            with the algebraic fit first)
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <span>

#include <zfit/frame/status.hpp>
#include <zfit/metrology/robust/robust.h>
#include <zfit/services/containers.hpp>
#include <zfit/services/require.hpp>

namespace zmet::robust {

// The start scores its candidates on this many points at most: enough to
// tell a clean sample's median from a contaminated one's, few enough that
// the start's cost does not grow with n.
constexpr int32_t kScoringPoints = 512;
// The scale is the median of at most this many residuals (its relative
// standard error is about 1.1 / sqrt(8192), 1.3%).
constexpr int32_t kScalePoints = 8192;
// Points within max(c, 3) scales are in play for the next scale: a normal
// sample cut at 3 sigma has its median |r| only 0.3% low.
constexpr double kPlayLimit = 3.0;
// The scale's floor, relative to the points' RMS spread: exact data keep
// a positive scale.
constexpr double kScaleFloor = 1e-12;
// 1 / Phi^-1(3/4): 1.4826 times the median |r| of normal noise is sigma.
constexpr double kMadToSigma = 1.482602218505602;
// The start stops early (see leastMedianStart) once a structure of larger
// support than its best candidate's has been missed with probability below
// kMissed, after kMinimumSamples at least; the support counts the points
// within kSupportRadius scales of the candidate.
constexpr double kMissed = 1e-6;
constexpr int32_t kMinimumSamples = 16;
constexpr double kSupportRadius = 2.5;
// The scale's fixed-point steps stop once a step changes it by less than
// this relative amount, or after this many steps (each one a partition and
// a median of the points in play; from a fair start three to six suffice).
constexpr double kScaleSettled = 1e-6;
constexpr int kScaleSteps = 40;
// The algebraic stage of a geometric flavour ends once no residual moved
// by more than this many scales: the geometric fits then start within a
// hundredth of the noise of where the algebraic loop would settle.
constexpr double kStageSettled = 1e-2;
// sqrt(2 ln 2): the median length of a 2-D normal residual in units of the
// per-coordinate sigma.
constexpr double kRayleighMedian = 1.1774100225154747;

// How the start orders the points along their extent.
enum class Extent { alongAxis, aroundCentre };

// How the start samples a model.
struct Sampling {
    int size;       // points of a minimal sample
    int count;      // samples tried
    bool planar;    // 1-D residuals (false: 2-D distances of a transform)
    Extent extent;  // how the samples spread over the points' extent
};

// The caller's weights: none (every point weighs 1) or one per point.
struct CallerWeights {
    const double* values = nullptr;
    double operator[](int32_t i) const { return values ? values[i] : 1.0; }
};

// The checked parameters.
struct Settings {
    int32_t estimator = zmet_robustTukey;
    double clip = 0.0;
    bool scaleGiven = false;
    double scale = 0.0;
    int32_t maxIterations = 0;
    double tolerance = 0.0;
};

// What every model of a point set shares: the points, where each lies and
// whether it is finite.
class PointSet {
public:
    PointSet(const zmath_vect* points, int32_t count) : points_(points), count_(count) {}
    zmath_vect position(int32_t i) const { return points_[i]; }
    bool finite(int32_t i) const { return std::isfinite(points_[i].x) && std::isfinite(points_[i].y); }

protected:
    const zmath_vect* points_;
    int32_t count_;
};

// The two stages of a geometric flavour: the algebraic fit until the
// residuals settle, then the geometric one (a few Levenberg-Marquardt fits
// in place of one in every iteration). refine() is the model's.
class Stages {
public:
    explicit Stages(bool geometric) : geometric_(geometric) {}
    bool geometricNow() const { return refining_; }
    bool refine()
    {
        if (!geometric_ || refining_) return false;
        refining_ = true;
        return true;
    }

private:
    bool geometric_;
    bool refining_ = false;
};

// What the driver found, besides the shape.
struct Found {
    double rmsError = 0.0;
    double scale = 0.0;
    int32_t inlierCount = 0;
    int32_t iterations = 0;
    bool converged = false;
    zmet_uncertainty uncertainty{};
    std::span<const double> weights, residuals;
    double threshold = 0.0;  // c * scale: the outliers lie at or beyond it
};

Settings settingsOf(const zmet_robustParams& params);

// The estimator's weight of a residual at u = r / (c s); NaN gives 0.
// Inline: the loop asks for one per point and iteration.
inline double weightOf(int32_t estimator, double u)
{
    const double a = std::fabs(u);
    if (!(a < 1.0)) {
        // Huber's weight keeps falling as 1 / |u|; the others are 0 here.
        return estimator == zmet_robustHuber && std::isfinite(a) ? 1.0 / a : 0.0;
    }
    if (estimator == zmet_robustTukey) {
        const double t = 1.0 - a * a;
        return t * t;
    }
    return 1.0;
}

// The checks of every entry, in order: points, weights, their count.
template <class Model>
zfit_status checkInput(const Model& model, int32_t count, CallerWeights weights)
{
    for (int32_t i = 0; i < count; ++i) ZFIT_FAIL_IF(!model.finite(i), zmet_errNotFinite);
    int32_t positive = count;
    if (weights.values) {
        positive = 0;
        for (int32_t i = 0; i < count; ++i) ZFIT_FAIL_IF(weights[i] < 0.0, zmath_errFitWeightNegative);
        for (int32_t i = 0; i < count; ++i) {
            ZFIT_FAIL_IF(!std::isfinite(weights[i]), zmet_errWeightNotFinite);
            positive += weights[i] > 0.0 ? 1 : 0;
        }
    }
    ZFIT_FAIL_IF(positive < std::max(Model::sampling.size, model.minimumPoints()), zmet_errTooFewPoints);
    return zfit_ok;
}

// Up to `limit` indices of points of positive weight, spread evenly over the
// input order (all of them when there are no more).
zfit_status spreadIndices(int32_t count, CallerWeights weights, int32_t limit, zsvc::Scratch<int32_t>& out,
                          int32_t& size);

// The position of the k-th member of sample j inside its slice of `length`
// entries: an additive sequence with an irrational step per member.
int32_t slicePosition(int32_t j, int k, int32_t length);

// Reorders values so that values[k] is the k-th smallest, those before it
// no larger and those after it no smaller, as std::nth_element does, but
// with partition steps free of data-dependent branches: a residual's side
// of the pivot is a coin toss that a branch mispredicts half the time.
void selectNth(std::span<double> values, std::size_t k);

// The median of values (reordered), the upper one of an even count.
double medianOf(std::span<double> values);

// A point's index with its key in the extent order.
struct KeyedIndex {
    double key;
    int32_t index;
};

// Orders the entries by key (ties by index, so the order is unique).
void sortByKey(std::span<KeyedIndex> entries);

// A key that orders directions as atan2(dy, dx) does, in (-2, 2], at the
// cost of one division: -dx / (|dx| + |dy|) moves monotonically with the
// angle within each half plane.
inline double pseudoAngle(double dx, double dy)
{
    const double sum = std::fabs(dx) + std::fabs(dy);
    if (!(sum > 0.0)) return 0.0;
    const double p = dx / sum;
    return dy < 0.0 ? p - 1.0 : 1.0 - p;
}

// The keys of the extent order of `indices` for the positions.
template <class Model>
void extentKeys(const Model& model, std::span<const int32_t> indices, std::span<double> keys, double& spread)
{
    double mx = 0.0, my = 0.0;
    for (int32_t i : indices) {
        mx += model.position(i).x;
        my += model.position(i).y;
    }
    const double m = static_cast<double>(indices.size());
    mx /= m;
    my /= m;
    double sxx = 0.0, syy = 0.0, sxy = 0.0;
    for (int32_t i : indices) {
        const double dx = model.position(i).x - mx, dy = model.position(i).y - my;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
    }
    spread = std::sqrt((sxx + syy) / m);
    const double axis = 0.5 * std::atan2(2.0 * sxy, sxx - syy);
    const double c = std::cos(axis), s = std::sin(axis);
    for (std::size_t k = 0; k < indices.size(); ++k) {
        const double dx = model.position(indices[k]).x - mx, dy = model.position(indices[k]).y - my;
        keys[k] = Model::sampling.extent == Extent::alongAxis ? dx * c + dy * s : pseudoAngle(dx, dy);
    }
}

// Rousseeuw's small-sample correction of the least-median scale of m
// points with k-point samples.
inline double smallSampleCorrection(int32_t m, int k) { return m > k ? 1.0 + 5.0 / (m - k) : 1.0; }

// The samples after which a structure holding a share w of the points, or
// a larger one, has been missed with probability below kMissed:
// (1 - w^k)^j < kMissed.
inline int32_t samplesFor(double share, int k)
{
    const double clean = std::pow(share, k);
    if (!(clean > 0.0)) return INT32_MAX;
    if (!(clean < 1.0)) return 1;
    return static_cast<int32_t>(std::ceil(std::log(kMissed) / std::log1p(-clean)));
}

// The least-median start: the best candidate. It stops
// before sampling.count samples once the best candidate's support (its share
// of the points within 2.5 of its own scales) tells that no structure of
// larger support can have been missed (samplesFor).
template <class Model>
zfit_status leastMedianStart(const Model& model, std::span<const int32_t> scoring, std::span<double> work,
                             typename Model::Shape& best, double& spread)
{
    constexpr int k = Model::sampling.size;
    // The members a candidate is made of: fewer than drawn when the model
    // uses only the first ones (a transform of two pairs); the odds of a
    // clean sample follow them.
    int used = k;
    if constexpr (requires { model.membersUsed(); }) used = model.membersUsed();
    const int32_t m = static_cast<int32_t>(scoring.size());
    zsvc::Scratch<KeyedIndex> sorted;
    ZFIT_TRY(sorted.allocate(m));
    extentKeys(model, scoring, work, spread);
    for (std::size_t q = 0; q < scoring.size(); ++q) sorted[q] = {work[q], scoring[q]};
    sortByKey(sorted.span());

    // The scale of a median squared residual, corrected for small sets.
    const auto scaleOf = [m, used](double median) {
        const double root = std::sqrt(median) * smallSampleCorrection(m, used);
        return Model::sampling.planar ? kMadToSigma * root : root / kRayleighMedian;
    };
    double bestMedian = HUGE_VAL, bestShare = 0.0;
    bool found = false;
    std::array<int32_t, k> sample{};
    for (int32_t j = 0; j < Model::sampling.count; ++j) {
        const bool alongExtent = j % 2 == 1;
        for (int member = 0; member < k; ++member) {
            const int32_t lo = static_cast<int32_t>(static_cast<int64_t>(member) * m / k);
            const int32_t hi = static_cast<int32_t>(static_cast<int64_t>(member + 1) * m / k);
            const int32_t at = lo + slicePosition(j, member, hi - lo);
            sample[member] =
                alongExtent ? sorted[static_cast<std::size_t>(at)].index : scoring[static_cast<std::size_t>(at)];
        }
        model.candidates(std::span<const int32_t>(sample), [&](const typename Model::Shape& shape) {
            // The median m2 = sorted[m / 2] beats the best exactly when more
            // than m / 2 values lie below the best: a candidate that cannot
            // get there is dropped as soon as too few points are left.
            int32_t below = 0;
            for (int32_t q = 0; q < m; ++q) {
                const double r2 = model.scoreSquared(shape, scoring[static_cast<std::size_t>(q)]);
                work[static_cast<std::size_t>(q)] = r2;
                below += r2 < bestMedian ? 1 : 0;
                if (below + (m - 1 - q) <= m / 2) return;
            }
            const double median = medianOf(work.first(static_cast<std::size_t>(m)));
            if (median < bestMedian) {
                bestMedian = median;
                best = shape;
                found = true;
                const double radius = kSupportRadius * scaleOf(bestMedian);
                const double limit = radius * radius;
                int32_t support = 0;
                for (int32_t q = 0; q < m; ++q) support += work[static_cast<std::size_t>(q)] <= limit ? 1 : 0;
                bestShare = static_cast<double>(support) / m;
            }
        });
        if (found && j + 1 >= kMinimumSamples && j + 1 >= samplesFor(bestShare, used)) break;
    }
    ZFIT_FAIL_IF(!found, zmath_errDegenerate);
    return zfit_ok;
}

// The scale from the residuals of the points in play among `sampled`:
// the largest s = 1.4826 median{|r| : |r| < K s} that is not above the
// median over every point (which clutter inflates, but never deflates).
// The map s -> 1.4826 median{|r| : |r| < K s} never decreases as s grows,
// so fixed-point steps from that median descend to the largest solution
// below it: the inliers' noise, not a smaller scale that a few closely
// fitted points would also satisfy. zmet_errNoInliers when no point is in
// play.
template <bool Planar>
zfit_status scaleInPlay(std::span<const double> residuals, std::span<const int32_t> sampled, double factor,
                        std::span<double> work, double floor, double& scale)
{
    // The limit only falls from step to step, so the points in play are a
    // shrinking front part of `work`: each step partitions it and takes
    // the median of what stays.
    std::size_t inPlay = 0;
    for (int32_t i : sampled) work[inPlay++] = std::fabs(residuals[static_cast<std::size_t>(i)]);
    // work[0, smallest) holds the smallest values in play, in no order: the
    // next median lies among them (the points in play only get fewer), and
    // a limit above the median keeps them all in play, so each step
    // partitions and selects in about half of what is in play.
    std::size_t smallest = inPlay;
    const auto at = [&work](std::size_t k) { return work.begin() + static_cast<std::ptrdiff_t>(k); };
    const auto medianInPlay = [&] {
        const std::size_t middle = inPlay / 2;
        selectNth(work.first(smallest), middle);
        smallest = middle + 1;
        return work[middle];
    };
    const auto sigma = [](double median) { return Planar ? kMadToSigma * median : median / kRayleighMedian; };
    double median = medianInPlay();
    scale = std::max(sigma(median), floor);
    for (int step = 0; step < kScaleSteps; ++step) {
        const double limit = factor * scale;
        const bool smallestStay = median < limit;
        if (!smallestStay) smallest = 0;
        inPlay = static_cast<std::size_t>(
            std::partition(at(smallest), at(inPlay), [limit](double r) { return r < limit; }) - work.begin());
        if (!smallestStay) smallest = inPlay;
        ZFIT_FAIL_IF(inPlay == 0, zmet_errNoInliers);
        median = medianInPlay();
        const double next = std::max(sigma(median), floor);
        const bool settled = std::fabs(next - scale) <= kScaleSettled * scale;
        scale = next;
        if (settled) break;
    }
    return zfit_ok;
}

// The whole robust fit of a model over count points: the shape and what
// the result record reports. The spans of `found` view `arena`'s storage.
template <class Model>
zfit_status run(Model& model, int32_t count, CallerWeights callerWeights, const Settings& settings, zsvc::Arena& arena,
                typename Model::Shape& shape, Found& found)
{
    ZFIT_TRY(checkInput(model, count, callerWeights));
    const auto n = static_cast<std::size_t>(count);
    std::span<double> residuals, previous, weights, work;
    arena.reserve(residuals, count);
    arena.reserve(previous, count);
    arena.reserve(weights, count);
    // The start scores at most kScoringPoints and the scale takes at most
    // kScalePoints residuals, never more than there are points.
    static_assert(kScoringPoints <= kScalePoints);
    arena.reserve(work, std::min(count, kScalePoints));
    ZFIT_TRY(arena.allocate());

    zsvc::Scratch<int32_t> scoring, sampled;
    int32_t scoringSize = 0, sampledSize = 0;
    ZFIT_TRY(spreadIndices(count, callerWeights, kScoringPoints, scoring, scoringSize));
    ZFIT_TRY(spreadIndices(count, callerWeights, kScalePoints, sampled, sampledSize));
    const std::span<const int32_t> scoringSet(scoring.data(), static_cast<std::size_t>(scoringSize));
    const std::span<const int32_t> scaleSet(sampled.data(), static_cast<std::size_t>(sampledSize));

    double spread = 0.0;
    ZFIT_TRY(leastMedianStart(model, scoringSet, work, shape, spread));
    const double floor = kScaleFloor * spread;
    // An estimated scale comes from each iteration's residuals, the start's
    // included, before anything uses it.
    double scale = settings.scaleGiven ? settings.scale : floor;
    const double playFactor = std::max(settings.clip, kPlayLimit);

    found = Found{};
    bool havePrevious = false;
    while (true) {
        // The residuals, and how far the largest one moved since the last
        // iteration (nothing to compare with before the first fit).
        double largest = HUGE_VAL;
        if (havePrevious) {
            largest = 0.0;
            for (std::size_t i = 0; i < n; ++i) {
                residuals[i] = model.residual(shape, static_cast<int32_t>(i));
                largest = std::max(largest, std::fabs(residuals[i] - previous[i]));
            }
        } else {
            for (std::size_t i = 0; i < n; ++i) residuals[i] = model.residual(shape, static_cast<int32_t>(i));
        }
        if (!settings.scaleGiven)
            ZFIT_TRY(scaleInPlay<Model::sampling.planar>(residuals, scaleSet, playFactor, work, floor, scale));
        if (havePrevious) {
            // A geometric flavour leaves the algebraic fit once its residuals
            // move by less than kStageSettled scales: the algebraic fixed
            // point is not the answer, so settling it further is wasted.
            const bool stageSettled = largest <= std::max(settings.tolerance, kStageSettled) * scale;
            if (!(stageSettled && model.refine()) && largest <= settings.tolerance * scale) {
                found.converged = true;
                break;
            }
        }
        if (found.iterations == settings.maxIterations) break;
        int32_t positive = 0;
        const double inverseThreshold = 1.0 / (settings.clip * scale);
        for (std::size_t i = 0; i < n; ++i) {
            const auto index = static_cast<int32_t>(i);
            weights[i] = weightOf(settings.estimator, residuals[i] * inverseThreshold) * callerWeights[index];
            positive += weights[i] > 0.0 ? 1 : 0;
        }
        ZFIT_FAIL_IF(positive < model.minimumPoints(), zmet_errNoInliers);
        ZFIT_TRY(model.fit(weights, shape));
        ++found.iterations;
        std::swap(residuals, previous);
        havePrevious = true;
    }
    // The covariance of the last weighted problem, at its solution.
    found.uncertainty = model.uncertainty(shape, weights, residuals);

    const double threshold = settings.clip * scale;
    double sum = 0.0, weightSum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto index = static_cast<int32_t>(i);
        weights[i] = weightOf(settings.estimator, residuals[i] / threshold) * callerWeights[index];
        if (!(std::fabs(residuals[i]) < threshold)) continue;
        ++found.inlierCount;
        sum += callerWeights[index] * residuals[i] * residuals[i];
        weightSum += callerWeights[index];
    }
    ZFIT_FAIL_IF(!(weightSum > 0.0), zmet_errNoInliers);
    found.rmsError = std::sqrt(sum / weightSum);
    found.scale = scale;
    found.threshold = threshold;
    found.weights = weights;
    found.residuals = residuals;
    return zfit_ok;
}

// Writes the outcome's numbers and vectors; the outliers are the points at
// or beyond the threshold (or of NaN residual), ascending.
zfit_status publish(const Found& found, zmet_robustOutcome& outcome);

// isValid: strict and ordered, so equality and NaN give 0.
constexpr int32_t validity(double maxRmsError, double rmsError) { return maxRmsError > rmsError ? 1 : 0; }

// The flavour of a circle or ellipse: zmath_errFitBadMode unless one of
// the two.
inline zfit_status checkFlavour(int32_t flavour)
{
    ZFIT_FAIL_IF(flavour != zmet_robustAlgebraic && flavour != zmet_robustGeometric, zmath_errFitBadMode);
    return zfit_ok;
}

// The checks every entry makes first: a negative count counts as 0, then
// the preconditions and the parameters.
inline zfit_status checkEntry(int32_t& count, bool pointsGiven, const zmet_robustParams* params, const void* result)
{
    if (count < 0) count = 0;
    ZFIT_REQUIRE(params != nullptr && result != nullptr);
    ZFIT_REQUIRE(count == 0 || pointsGiven);
    return zmet_robustParams_validate(params);
}

// One robust fit of a model into its result record: run() finds the shape
// and what the record reports (the spans of `found` view `arena`), and
// conclude() writes the record: the outcome first, the only step that can
// fail, then the shape (write(record)), the RMS and isValid.
template <class Model>
struct Fitted {
    zsvc::Arena arena;
    typename Model::Shape shape{};
    Found found;

    zfit_status run(Model& model, int32_t count, const double* weights, const zmet_robustParams& params)
    {
        return robust::run(model, count, CallerWeights{weights}, settingsOf(params), arena, shape, found);
    }

    template <class R, class Write>
    zfit_status conclude(const zmet_robustParams& params, R& result, Write write) const
    {
        ZFIT_TRY(publish(found, result.robust));
        write(result);
        result.rmsError = found.rmsError;
        result.isValid = validity(params.maxRmsError, found.rmsError);
        return zfit_ok;
    }
};

// The record for the covariance of P parameters (row-major, P * P values)
// with `dof` degrees of freedom and residual standard deviation sigma.
zmet_uncertainty uncertaintyRecord(int P, const double* covariance, int32_t dof, double sigma);

// The covariance sigma^2 (J^T W J)^-1 of P <= 3 parameters from the
// Jacobian rows row(i) of the points of positive weight, sigma^2 =
// sum w r^2 / (n+ - P); parameterCount 0 when n+ <= P or J^T W J is
// singular.
template <int P, class Row>
zmet_uncertainty smallUncertainty(std::span<const double> weights, std::span<const double> residuals, Row row)
{
    static_assert(P == 2 || P == 3);
    double normal[P][P] = {};
    double rss = 0.0;
    int32_t positive = 0;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        const double w = weights[i];
        if (!(w > 0.0)) continue;
        ++positive;
        rss += w * residuals[i] * residuals[i];
        const std::array<double, P> j = row(static_cast<int32_t>(i));
        for (int a = 0; a < P; ++a)
            for (int b = 0; b < P; ++b) normal[a][b] += w * j[a] * j[b];
    }
    if (positive <= P) return {};
    // The inverse by cofactors; the determinant relative to the diagonal's
    // product tells a singular system.
    double inverse[P * P];
    double det = 0.0, scale = 1.0;
    for (int a = 0; a < P; ++a) scale *= normal[a][a];
    if constexpr (P == 2) {
        det = normal[0][0] * normal[1][1] - normal[0][1] * normal[1][0];
        inverse[0] = normal[1][1];
        inverse[1] = -normal[0][1];
        inverse[2] = -normal[1][0];
        inverse[3] = normal[0][0];
    } else {
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) {
                const int a1 = (b + 1) % 3, a2 = (b + 2) % 3, b1 = (a + 1) % 3, b2 = (a + 2) % 3;
                inverse[a * 3 + b] = normal[a1][b1] * normal[a2][b2] - normal[a1][b2] * normal[a2][b1];
            }
        det = normal[0][0] * inverse[0] + normal[0][1] * inverse[3] + normal[0][2] * inverse[6];
    }
    if (!(std::fabs(det) > 1e-12 * std::fabs(scale))) return {};
    const double variance = rss / (positive - P);
    for (double& value : inverse) value *= variance / det;
    return uncertaintyRecord(P, inverse, positive - P, std::sqrt(variance));
}

}  // namespace zmet::robust
