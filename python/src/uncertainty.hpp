// The uncertainty a result carries: the covariance of its parameters, their
// standard errors and 95% confidence intervals, as the companion library
// libzfit_metrology.so reports them (zmet_uncertainty), or nothing when the
// fit has none (the algebraic circle and ellipse, the minimum-zone line, the
// 3- and 5-dof transforms).
#pragma once

#include <array>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include <zfit/metrology/metrology.h>

#include "binding.hpp"
#include "fields.hpp"

namespace zpy {

// Held by value (the library's record is of fixed size), so a result
// carries it without allocating.
class Uncertainty {
public:
    Uncertainty() = default;
    // The library's record for parameters with the given values (in its
    // documented order, at least as many as the record has).
    Uncertainty(const zmet_uncertainty& u, std::span<const double> values);
    Uncertainty(const zmet_uncertainty& u, std::initializer_list<double> values)
        : Uncertainty(u, std::span<const double>(values.begin(), values.size()))
    {}

    bool present() const { return record_.parameterCount > 0; }
    int32_t parameters() const { return record_.parameterCount; }
    std::span<const double> covariance() const
    {
        return {record_.covariance, static_cast<size_t>(parameters() * parameters())};
    }
    std::span<const double> stdErrors() const { return {record_.standardErrors, static_cast<size_t>(parameters())}; }
    // (low, high) of each parameter's 95% interval, row after row: the first
    // 2p entries.
    std::array<double, 2 * ZMET_MAX_PARAMETERS> intervals() const;

private:
    zmet_uncertainty record_{};
    std::array<double, ZMET_MAX_PARAMETERS> values_{};
};

// The three fields of a result R with a member `uncertainty`: (p, p)
// covariance, (p,) standard errors, (p, 2) intervals value -+ half-width;
// None without an uncertainty. `parameters` says which fits have one and
// the order of their parameters; `most` is the largest p they have, which
// bounds what a column keeps per item.
template <class R>
void addUncertaintyFields(Fields<R>& fields, const char* parameters, int32_t most = ZMET_MAX_PARAMETERS)
{
    static std::string covarianceDoc;
    covarianceDoc = std::string("(p, p) covariance of the parameters, or None;\n") + parameters;
    fields.push_back({"covariance", Element::real, bounded(matrix(kVaries, kVaries), most), covarianceDoc.c_str(),
                      [](const R& r, Sink& s) {
                          const int32_t p = r.uncertainty.parameters();
                          r.uncertainty.present() ? s.reals(r.uncertainty.covariance(), {p, p}) : s.none();
                      }});
    fields.push_back({"std_errors", Element::real, bounded(vector(kVaries), most),
                      "(p,) their standard errors, or None", [](const R& r, Sink& s) {
                          r.uncertainty.present() ? s.reals(r.uncertainty.stdErrors(), {r.uncertainty.parameters()})
                                                  : s.none();
                      }});
    fields.push_back({"intervals", Element::real, bounded(matrix(kVaries, 2), most),
                      "(p, 2) their 95% confidence intervals (low, high), or None", [](const R& r, Sink& s) {
                          const int32_t p = r.uncertainty.parameters();
                          const auto both = r.uncertainty.intervals();
                          r.uncertainty.present() ? s.reals(std::span(both).first(static_cast<size_t>(2 * p)), {p})
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
