// Results' uncertainty as numpy arrays, and zfit.student_t_quantile.
#include "uncertainty.hpp"

#include <algorithm>
#include <new>

namespace zpy {

Uncertainty::Uncertainty(const zmet_uncertainty& u, std::span<const double> values)
{
    const auto p = std::min(static_cast<size_t>(std::clamp(u.parameterCount, 0, ZMET_MAX_PARAMETERS)), values.size());
    parameters_ = static_cast<int32_t>(p);
    // The record's covariance is p by p, row after row, from its first entry.
    std::copy_n(u.covariance, p * p, covariance_.begin());
    std::copy_n(u.standardErrors, p, stdErrors_.begin());
    for (size_t k = 0; k < p; ++k) {
        intervals_[2 * k] = values[k] - u.halfWidth95[k];
        intervals_[2 * k + 1] = values[k] + u.halfWidth95[k];
    }
}

Uncertainty& Uncertainty::operator=(const Uncertainty& other)
{
    parameters_ = other.parameters_;
    std::ranges::copy(other.covariance(), covariance_.begin());
    std::ranges::copy(other.stdErrors(), stdErrors_.begin());
    std::ranges::copy(other.intervals(), intervals_.begin());
    return *this;
}

zfit_status keptPoints(const Points& points, const zstd_vector32& discarded, std::vector<zmath_vect>& kept)
{
    const int32_t* index = nullptr;
    int32_t count = 0;
    const zfit_status status = zstd_vector32_getBeginSizeConst(&discarded, &index, &count);
    if (ZFIT_FAILED(status)) return status;
    try {
        std::vector<bool> drop(static_cast<size_t>(points.size()), false);
        for (int32_t k = 0; k < count; ++k) drop[static_cast<size_t>(index[k])] = true;
        kept.clear();
        kept.reserve(static_cast<size_t>(points.size()));
        for (int32_t i = 0; i < points.size(); ++i)
            if (!drop[static_cast<size_t>(i)]) kept.push_back(points.data()[i]);
    } catch (const std::bad_alloc&) {
        return zstd_errOutOfMemory;
    }
    return zfit_ok;
}

void registerUncertainty(py::module_& m)
{
    m.def(
        "student_t_quantile",
        [](double probability, double dof) {
            double t = 0.0;
            check(zmet_studentTQuantile(probability, dof, &t));
            return t;
        },
        py::arg("probability"), py::arg("dof"),
        "The t with P(T <= t) = probability for Student's t with dof degrees of\n"
        "freedom (any real dof > 0): the factor from a standard error to the\n"
        "half-width of a confidence interval, e.g. student_t_quantile(0.975, n - p)\n"
        "for 95%. Raises ParameterError for a probability outside (0, 1) or a\n"
        "dof that is not a finite number above 0.");
}

}  // namespace zpy
