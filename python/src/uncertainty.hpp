// The uncertainty a result carries: the covariance of its parameters, their
// standard errors and 95% confidence intervals, as the companion library
// libzfit_metrology.so reports them (zmet_uncertainty), or nothing when the
// fit has none (the algebraic circle and ellipse, the minimum-zone line, the
// 3- and 5-dof transforms).
#pragma once

#include <string>
#include <vector>

#include <zfit/metrology/metrology.h>

#include "binding.hpp"
#include "fields.hpp"

namespace zpy {

class Uncertainty {
public:
    Uncertainty() = default;
    // The library's record for parameters with the given values (in its
    // documented order).
    Uncertainty(const zmet_uncertainty& u, std::vector<double> values);

    bool present() const { return !values_.empty(); }
    int32_t parameters() const { return static_cast<int32_t>(values_.size()); }
    const std::vector<double>& covariance() const { return covariance_; }
    const std::vector<double>& stdErrors() const { return stdErrors_; }
    // (low, high) of each parameter's 95% interval, row after row.
    std::vector<double> intervals() const;

private:
    std::vector<double> values_, covariance_, stdErrors_, halfWidths_;
};

// The three fields of a result R with a member `uncertainty`: (p, p)
// covariance, (p,) standard errors, (p, 2) intervals value -+ half-width;
// None without an uncertainty. `parameters` says which fits have one and
// the order of their parameters.
template <class R>
void addUncertaintyFields(Fields<R>& fields, const char* parameters)
{
    static std::string covarianceDoc;
    covarianceDoc = std::string("(p, p) covariance of the parameters, or None;\n") + parameters;
    fields.push_back({"covariance", Element::real, matrix(kVaries, kVaries), covarianceDoc.c_str(),
                      [](const R& r, Sink& s) {
                          const int32_t p = r.uncertainty.parameters();
                          r.uncertainty.present() ? s.reals(r.uncertainty.covariance(), {p, p}) : s.none();
                      }});
    fields.push_back({"std_errors", Element::real, vector(kVaries), "(p,) their standard errors, or None",
                      [](const R& r, Sink& s) {
                          r.uncertainty.present() ? s.reals(r.uncertainty.stdErrors(), {r.uncertainty.parameters()})
                                                  : s.none();
                      }});
    fields.push_back({"intervals", Element::real, matrix(kVaries, 2),
                      "(p, 2) their 95% confidence intervals (low, high), or None", [](const R& r, Sink& s) {
                          r.uncertainty.present() ? s.reals(r.uncertainty.intervals(), {r.uncertainty.parameters()})
                                                  : s.none();
                      }});
}

// The points not listed in `discarded` (a result record's ignoredIndices):
// what a geometric fit or the line's uncertainty takes after an outlier
// search. It runs inside a fit, with the GIL released, on any thread: it
// touches no Python object and reports a failure as the status it returns.
zfit_status keptPoints(const Points& points, const zstd_vector32& discarded, std::vector<zmath_vect>& kept);

void registerUncertainty(py::module_& m);

}  // namespace zpy
