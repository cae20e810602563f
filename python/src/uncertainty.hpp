// The uncertainty a result carries: the covariance of its parameters, their
// standard errors and 95% confidence intervals, as the companion library
// libzfit_metrology.so reports them (zmet_uncertainty), or nothing when the
// fit has none (the algebraic circle and ellipse, the minimum-zone line, the
// 3- and 5-dof transforms).
#pragma once

#include <vector>

#include <zfit/metrology/metrology.h>

#include "binding.hpp"

namespace zpy {

class Uncertainty {
public:
    using State = std::tuple<std::vector<double>, std::vector<double>, std::vector<double>, std::vector<double>>;

    Uncertainty() = default;
    // The library's record for parameters with the given values (in its
    // documented order).
    Uncertainty(const zmet_uncertainty& u, std::vector<double> values);
    explicit Uncertainty(const State& s) { std::tie(values_, covariance_, stdErrors_, halfWidths_) = s; }
    State state() const { return {values_, covariance_, stdErrors_, halfWidths_}; }

    // (p, p) covariance, (p,) standard errors, (p, 2) intervals
    // value -+ half-width; None without an uncertainty.
    py::object covariance() const;
    py::object stdErrors() const;
    py::object intervals() const;
    // Adds covariance, std_errors and intervals to a result's to_dict(),
    // when there is an uncertainty (the dicts of the other fits stay as
    // they were).
    void addTo(py::dict& d) const;

private:
    std::vector<double> values_, covariance_, stdErrors_, halfWidths_;
};

// The three properties on a result class R with a member `uncertainty`.
template <class R>
void defineUncertainty(py::class_<R>& cls)
{
    cls.def_property_readonly("covariance", [](const R& r) { return r.uncertainty.covariance(); })
        .def_property_readonly("std_errors", [](const R& r) { return r.uncertainty.stdErrors(); })
        .def_property_readonly("intervals", [](const R& r) { return r.uncertainty.intervals(); });
}

// The help text of the three properties, for a result's docstring.
#define ZPY_UNCERTAINTY_DOC                                                    \
    "covariance  (p, p) covariance of the parameters (order below), or None\n" \
    "std_errors  (p,) their standard errors, or None\n"                        \
    "intervals   (p, 2) their 95% confidence intervals (low, high), or None\n"

// The points not listed in `discarded` (a result record's ignoredIndices):
// what a geometric fit or the line's uncertainty takes after an outlier
// search. It runs inside a fit, with the GIL released, on any thread: it
// touches no Python object and reports a failure as the status it returns.
zfit_status keptPoints(const Points& points, const zstd_vector32& discarded, std::vector<zmath_vect>& kept);

void registerUncertainty(py::module_& m);

}  // namespace zpy
