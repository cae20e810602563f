// Results' uncertainty as numpy arrays, and zfit.student_t_quantile.
#include "uncertainty.hpp"

#include <algorithm>
#include <new>

namespace zpy {

Uncertainty::Uncertainty(const zmet_uncertainty& u, std::span<const double> values) : record_(u)
{
    const auto p = static_cast<size_t>(std::clamp(u.parameterCount, 0, ZMET_MAX_PARAMETERS));
    record_.parameterCount = static_cast<int32_t>(std::min(p, values.size()));
    std::copy_n(values.begin(), record_.parameterCount, values_.begin());
}

std::array<double, 2 * ZMET_MAX_PARAMETERS> Uncertainty::intervals() const
{
    std::array<double, 2 * ZMET_MAX_PARAMETERS> out{};
    for (int32_t k = 0; k < parameters(); ++k) {
        out[static_cast<size_t>(2 * k)] = values_[static_cast<size_t>(k)] - record_.halfWidth95[k];
        out[static_cast<size_t>(2 * k + 1)] = values_[static_cast<size_t>(k)] + record_.halfWidth95[k];
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
