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

// Held by value, so a result carries it without allocating; it keeps and
// copies only what its p parameters use.
class Uncertainty {
public:
    Uncertainty() = default;
    // The library's record for parameters with the given values (in its
    // documented order, at least as many as the record has).
    Uncertainty(const zmet_uncertainty& u, std::span<const double> values);
    Uncertainty(const zmet_uncertainty& u, std::initializer_list<double> values)
        : Uncertainty(u, std::span<const double>(values.begin(), values.size()))
    {}
    Uncertainty(const Uncertainty& other) { *this = other; }
    Uncertainty& operator=(const Uncertainty& other);

    bool present() const { return parameters_ > 0; }
    int32_t parameters() const { return parameters_; }
    std::span<const double> covariance() const
    {
        return std::span(covariance_).first(count(parameters_ * parameters_));
    }
    std::span<const double> stdErrors() const { return std::span(stdErrors_).first(count(parameters_)); }
    // (low, high) of each parameter's 95% interval, row after row.
    std::span<const double> intervals() const { return std::span(intervals_).first(count(2 * parameters_)); }

private:
    static size_t count(int32_t n) { return static_cast<size_t>(n); }

    int32_t parameters_ = 0;
    // Only the first p * p, p and 2p entries are written.
    std::array<double, ZMET_MAX_PARAMETERS * ZMET_MAX_PARAMETERS> covariance_;
    std::array<double, ZMET_MAX_PARAMETERS> stdErrors_;
    std::array<double, 2 * ZMET_MAX_PARAMETERS> intervals_;
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
                      [](const R& r, auto& s) {
                          const int32_t p = r.uncertainty.parameters();
                          r.uncertainty.present() ? s.reals(r.uncertainty.covariance(), {p, p}) : s.none();
                      }});
    fields.push_back({"std_errors", Element::real, bounded(vector(kVaries), most),
                      "(p,) their standard errors, or None", [](const R& r, auto& s) {
                          r.uncertainty.present() ? s.reals(r.uncertainty.stdErrors(), {r.uncertainty.parameters()})
                                                  : s.none();
                      }});
    fields.push_back({"intervals", Element::real, bounded(matrix(kVaries, 2), most),
                      "(p, 2) their 95% confidence intervals (low, high), or None", [](const R& r, auto& s) {
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
