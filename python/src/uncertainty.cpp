// Results' uncertainty as numpy arrays, and zfit.student_t_quantile.
#include "uncertainty.hpp"

#include <new>

namespace zpy {

Uncertainty::Uncertainty(const zmet_uncertainty& u, std::vector<double> values) : values_(std::move(values))
{
    const auto p = static_cast<size_t>(u.parameterCount);
    covariance_.assign(u.covariance, u.covariance + p * p);
    stdErrors_.assign(u.standardErrors, u.standardErrors + p);
    halfWidths_.assign(u.halfWidth95, u.halfWidth95 + p);
    values_.resize(p);
}

std::vector<double> Uncertainty::intervals() const
{
    std::vector<double> out;
    out.reserve(2 * values_.size());
    for (size_t k = 0; k < values_.size(); ++k) {
        out.push_back(values_[k] - halfWidths_[k]);
        out.push_back(values_[k] + halfWidths_[k]);
    }
    return out;
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
