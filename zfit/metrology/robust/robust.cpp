// What every robust fit shares: the parameters, the estimators' weights,
// the deterministic sample plan, medians, the outcome record and the life
// cycle of the result records.
#include <algorithm>
#include <climits>
#include <cmath>

#include "robust_internal.hpp"
#include <zfit/metrology/life_cycle.hpp>

namespace zmet::robust {

Settings settingsOf(const zmet_robustParams& params)
{
    Settings s;
    s.estimator = params.estimator;
    s.clip = params.clip;
    s.scaleGiven = params.scaleMode == zmet_robustScaleGiven;
    s.scale = params.scale;
    s.maxIterations = params.maxIterations;
    s.tolerance = params.tolerance;
    return s;
}

zfit_status spreadIndices(int32_t count, CallerWeights weights, int32_t limit, zsvc::Scratch<int32_t>& out,
                          int32_t& size)
{
    int32_t positive = 0;
    for (int32_t i = 0; i < count; ++i) positive += weights[i] > 0.0 ? 1 : 0;
    size = std::min(positive, limit);
    ZFIT_TRY(out.allocate(size));
    if (size == count) {
        // Every point: the identity, without the search for ranks below.
        for (int32_t i = 0; i < count; ++i) out[static_cast<std::size_t>(i)] = i;
        return zfit_ok;
    }
    // Entry j is the point of rank floor(j * positive / size) among those of
    // positive weight.
    const auto rankOf = [positive, size](int32_t j) {
        return static_cast<int32_t>(static_cast<int64_t>(j) * positive / size);
    };
    int32_t rank = 0, j = 0, wanted = 0;
    for (int32_t i = 0; i < count && j < size; ++i) {
        if (!(weights[i] > 0.0)) continue;
        if (rank == wanted) {
            out[static_cast<std::size_t>(j++)] = i;
            wanted = rankOf(j);
        }
        ++rank;
    }
    return zfit_ok;
}

int32_t slicePosition(int32_t j, int k, int32_t length)
{
    // Fractional parts of square roots of primes: steps that never repeat
    // and differ between the members of a sample.
    static constexpr double kSteps[] = {0.4142135623730950, 0.7320508075688772, 0.2360679774997897,
                                        0.6457513110645906, 0.3166247903554000, 0.6055512754639893};
    const double phase = static_cast<double>(j / 2 + 1) * kSteps[k % 6];
    const double fraction = phase - std::floor(phase);
    return std::min(static_cast<int32_t>(fraction * length), length - 1);
}

namespace {

double medianOfThree(double a, double b, double c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

// A pivot near the middle of the range: the median of three values, or for
// a longer range the median of three such medians (Tukey's ninther), which
// splits it more evenly.
double pivotOf(std::span<const double> range)
{
    const std::size_t n = range.size();
    if (n < 128) return medianOfThree(range[0], range[n / 2], range[n - 1]);
    const std::size_t step = n / 8;
    const auto three = [&range, step](std::size_t at) {
        return medianOfThree(range[at - step], range[at], range[at + step]);
    };
    return medianOfThree(three(step), three(n / 2), three(n - 1 - step));
}

}  // namespace

void selectNth(std::span<double> values, std::size_t k)
{
    // Ranges this short, and ranges a pivot fails to split (many equal
    // values), go to std::nth_element.
    constexpr std::size_t kShortRange = 32;
    constexpr int kPoorSplits = 3;
    std::size_t lo = 0, hi = values.size();
    int poor = 0;
    while (hi - lo > kShortRange) {
        const double pivot = pivotOf(values.subspan(lo, hi - lo));
        // Keeps [lo, below) < pivot <= [below, i): every value is swapped
        // into place and the boundary moves by the comparison's outcome,
        // so no branch depends on the data.
        std::size_t below = lo;
        for (std::size_t i = lo; i < hi; ++i) {
            const double x = values[i];
            values[i] = values[below];
            values[below] = x;
            below += x < pivot ? 1 : 0;
        }
        const std::size_t before = hi - lo;
        if (k < below)
            hi = below;
        else
            lo = below;
        if ((hi - lo) * 4 > before * 3 && ++poor > kPoorSplits) break;
    }
    const auto at = [&values](std::size_t i) { return values.begin() + static_cast<std::ptrdiff_t>(i); };
    std::nth_element(at(lo), at(k), at(hi));
}

double medianOf(std::span<double> values)
{
    const std::size_t middle = values.size() / 2;
    selectNth(values, middle);
    return values[middle];
}

void sortByKey(std::span<KeyedIndex> entries)
{
    std::sort(entries.begin(), entries.end(), [](const KeyedIndex& a, const KeyedIndex& b) {
        return a.key < b.key || (a.key == b.key && a.index < b.index);
    });
}

zmet_uncertainty uncertaintyRecord(int P, const double* covariance, int32_t dof, double sigma)
{
    zmet_uncertainty u{};
    u.parameterCount = P;
    u.degreesOfFreedom = dof;
    u.sigma = sigma;
    if (ZFIT_FAILED(zmet_studentTQuantile(0.975, dof, &u.t95))) return {};
    for (int i = 0; i < P; ++i) {
        for (int j = 0; j < P; ++j) u.covariance[i * P + j] = 0.5 * (covariance[i * P + j] + covariance[j * P + i]);
        u.standardErrors[i] = std::sqrt(covariance[i * P + i]);
        u.halfWidth95[i] = u.t95 * u.standardErrors[i];
    }
    return u;
}

zfit_status publish(const Found& found, zmet_robustOutcome& outcome)
{
    const auto n = static_cast<int64_t>(found.residuals.size());
    int32_t outliers = 0;
    for (double r : found.residuals) outliers += std::fabs(r) < found.threshold ? 0 : 1;
    ZFIT_TRY(zstd_vectord_resize(&outcome.weights, n));
    ZFIT_TRY(zstd_vectord_resize(&outcome.residuals, n));
    ZFIT_TRY(zstd_vector32_resize(&outcome.outliers, outliers));
    double* weights = nullptr;
    double* residuals = nullptr;
    int32_t* indices = nullptr;
    ZFIT_TRY(zstd_vectord_getBegin(&outcome.weights, &weights));
    ZFIT_TRY(zstd_vectord_getBegin(&outcome.residuals, &residuals));
    ZFIT_TRY(zstd_vector32_getBegin(&outcome.outliers, &indices));
    std::copy(found.weights.begin(), found.weights.end(), weights);
    std::copy(found.residuals.begin(), found.residuals.end(), residuals);
    for (int32_t i = 0; i < static_cast<int32_t>(n); ++i)
        if (!(std::fabs(found.residuals[static_cast<std::size_t>(i)]) < found.threshold)) *indices++ = i;
    outcome.scale = found.scale;
    outcome.inlierCount = found.inlierCount;
    outcome.iterations = found.iterations;
    outcome.converged = found.converged ? 1 : 0;
    outcome.uncertainty = found.uncertainty;
    return zfit_ok;
}

namespace {

// ---- the outcome's life cycle, shared by the four result records --------

zfit_status constructOutcome(zmet_robustOutcome& o)
{
    o = zmet_robustOutcome{};
    ZFIT_TRY(zstd_vectord_construct(&o.weights, 0));
    if (const zfit_status status = zstd_vectord_construct(&o.residuals, 0); ZFIT_FAILED(status)) {
        zstd_vectord_destruct(&o.weights);
        return status;
    }
    if (const zfit_status status = zstd_vector32_construct(&o.outliers, 0); ZFIT_FAILED(status)) {
        zstd_vectord_destruct(&o.residuals);
        zstd_vectord_destruct(&o.weights);
        return status;
    }
    return zfit_ok;
}

zfit_status destructOutcome(zmet_robustOutcome& o)
{
    const zfit_status a = zstd_vector32_destruct(&o.outliers);
    const zfit_status b = zstd_vectord_destruct(&o.residuals);
    const zfit_status c = zstd_vectord_destruct(&o.weights);
    return ZFIT_FAILED(a) ? a : ZFIT_FAILED(b) ? b : c;
}

zfit_status assignOutcome(zmet_robustOutcome& to, const zmet_robustOutcome& from)
{
    ZFIT_TRY(zstd_vectord_assign(&to.weights, &from.weights));
    ZFIT_TRY(zstd_vectord_assign(&to.residuals, &from.residuals));
    ZFIT_TRY(zstd_vector32_assign(&to.outliers, &from.outliers));
    to.scale = from.scale;
    to.inlierCount = from.inlierCount;
    to.iterations = from.iterations;
    to.converged = from.converged;
    to.uncertainty = from.uncertainty;
    return zfit_ok;
}

// The shape fields of each result at construction.
void initialShape(zmet_robustLineResult& r) { zmath_shapeFLine_init(&r.line); }
void initialShape(zmet_robustCircleResult& r)
{
    r.centre = {0.0, 0.0};
    r.radius = 0.0;
}
void initialShape(zmet_robustEllipseResult& r)
{
    zmath_xformLinear identity;
    zmath_xformLinear_initIdentity(&identity);
    zmath_shapeEllipse_initFromXform(&r.ellipse, &identity);
}
void initialShape(zmet_robustTransformResult& r) { zmath_xformLinear_initIdentity(&r.xform); }

template <class R>
zfit_status construct(R* result)
{
    ZFIT_REQUIRE(result != nullptr);
    R fresh{};
    initialShape(fresh);
    ZFIT_TRY(constructOutcome(fresh.robust));
    *result = fresh;
    return zfit_ok;
}

template <class R>
zfit_status assign(R* result, const R* source)
{
    ZFIT_REQUIRE(result != nullptr && source != nullptr);
    if (result == source) return zfit_ok;
    ZFIT_TRY(assignOutcome(result->robust, source->robust));
    const zmet_robustOutcome robust = result->robust;
    *result = *source;
    result->robust = robust;
    return zfit_ok;
}

template <class R>
zfit_status constructCopy(R* result, const R* source)
{
    return constructCopyOf(result, source, construct<R>, assign<R>, [](R* r) { destructOutcome(r->robust); });
}

template <class R>
zfit_status destruct(R* result)
{
    ZFIT_REQUIRE(result != nullptr);
    return destructOutcome(result->robust);
}

}  // namespace

}  // namespace zmet::robust

extern "C" {

zfit_status zmet_robustParams_init(zmet_robustParams* params, int32_t estimator)
{
    ZFIT_REQUIRE(params != nullptr);
    params->estimator = estimator;
    params->clip = estimator == zmet_robustHuber   ? 1.345
                   : estimator == zmet_robustTukey ? 4.685
                   : estimator == zmet_robustClip  ? 3.0
                                                   : 1.0;
    params->scaleMode = zmet_robustScaleEstimated;
    params->scale = 1.0;
    params->maxIterations = 50;
    params->tolerance = 1e-4;
    params->maxRmsError = HUGE_VAL;
    return zfit_ok;
}

zfit_status zmet_robustParams_validate(const zmet_robustParams* params)
{
    ZFIT_REQUIRE(params != nullptr);
    const zmet_robustParams& p = *params;
    ZFIT_FAIL_IF(p.estimator != zmet_robustHuber && p.estimator != zmet_robustTukey && p.estimator != zmet_robustClip,
                 zmet_errRobustEstimator);
    ZFIT_FAIL_IF(!(p.clip > 0.0) || !std::isfinite(p.clip), zmet_errRobustClip);
    ZFIT_FAIL_IF(p.scaleMode != zmet_robustScaleEstimated && p.scaleMode != zmet_robustScaleGiven, zmath_errFitBadMode);
    ZFIT_FAIL_IF(p.scaleMode == zmet_robustScaleGiven && (!(p.scale > 0.0) || !std::isfinite(p.scale)),
                 zmet_errRobustScale);
    ZFIT_FAIL_IF(p.maxIterations < 1, zmath_errFitMaxIterations);
    ZFIT_FAIL_IF(!(p.tolerance > 0.0) || !std::isfinite(p.tolerance), zmet_errRobustTolerance);
    ZFIT_FAIL_IF(0.0 > p.maxRmsError, zmath_errFitMaxRmsErrorNegative);
    return zfit_ok;
}

#define ZMET_DEFINE_ROBUST_LIFE_CYCLE_(R)                                                                             \
    zfit_status R##_construct(R* result) { return zmet::robust::construct(result); }                                  \
    zfit_status R##_constructCopy(R* result, const R* source) { return zmet::robust::constructCopy(result, source); } \
    zfit_status R##_assign(R* result, const R* source) { return zmet::robust::assign(result, source); }               \
    zfit_status R##_destruct(R* result) { return zmet::robust::destruct(result); }
ZMET_DEFINE_ROBUST_LIFE_CYCLE_(zmet_robustLineResult)
ZMET_DEFINE_ROBUST_LIFE_CYCLE_(zmet_robustCircleResult)
ZMET_DEFINE_ROBUST_LIFE_CYCLE_(zmet_robustEllipseResult)
ZMET_DEFINE_ROBUST_LIFE_CYCLE_(zmet_robustTransformResult)
#undef ZMET_DEFINE_ROBUST_LIFE_CYCLE_

}  // extern "C"
