// The robust fits of the companion library (zfit/metrology/robust/robust.h)
// as the fit functions offer them: the keywords robust=, clip=, scale= and
// ignore="auto" read once for every family, the owned result records, and
// the part a robust fit adds to a result object (weights, residuals, scale,
// iterations, converged; the outliers go to `ignored`, the covariance to
// the result's uncertainty).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <zfit/metrology/metrology.hpp>

#include "binding.hpp"

namespace zpy {

// The keywords every robust-capable fit takes, with their help text.
struct RobustOptions {
    bool robust = false;      // robust= was given: the robust fit
    bool autoIgnore = false;  // ignore="auto": the exact search for the robust fit's outlier count
    int32_t ignore = 0;       // a numeric ignore=
    zmet_robustParams params{};

    // robust: None or "huber", "tukey", "clip" (any other text reaches the
    // library as an unknown estimator, which refuses it); ignore: an int or
    // "auto". ignore="auto" runs the given estimator, Tukey's by default.
    RobustOptions(const py::object& robust, std::optional<double> clip, std::optional<double> scale,
                  const py::object& ignore);
};

// Reads the four keywords of fit_many's options.
class Keywords;
RobustOptions readRobustOptions(Keywords& k);

// The names, defaults and help of the keywords, for each fit's m.def.
#define ZPY_ROBUST_ARGS py::arg("robust") = py::none(), py::arg("clip") = py::none(), py::arg("scale") = py::none()
#define ZPY_ROBUST_HELP                                                                 \
    "robust        None (least squares), or \"huber\", \"tukey\", \"clip\": iterated\n" \
    "              weights that find the outliers themselves, from a deterministic\n"   \
    "              least-median start; the result adds weights, residuals, scale,\n"    \
    "              iterations and converged, lists the outliers in ignored and\n"       \
    "              the covariance of the final weighted problem\n"                      \
    "clip          the clipping factor c in units of the scale (defaults 1.345\n"       \
    "              huber, 4.685 tukey, 3 clip); outliers lie beyond c * scale\n"        \
    "scale         None: estimated from the residuals of the points in play;\n"         \
    "              a number: the noise level in data units\n"                           \
    "ignore=\"auto\" the robust fit's outlier count handed to the exact search\n"

// The robust result records, owned for a scope.
using RobustLineRecord = zfit::RobustLineResult;
using RobustCircleRecord = zfit::RobustCircleResult;
using RobustEllipseRecord = zfit::RobustEllipseResult;
using RobustTransformRecord = zfit::RobustTransformResult;

// The outlier count of a robust fit, as the exact search's numIgnore.
inline int32_t outlierCount(const zmet_robustOutcome& o) { return static_cast<int32_t>(zfit::outliers(o).size()); }

// What a robust fit adds to a result object; nothing for the other fits.
class Robust {
public:
    using State = std::tuple<bool, std::vector<double>, std::vector<double>, double, int32_t, bool>;

    Robust() = default;
    explicit Robust(const zmet_robustOutcome& o);
    explicit Robust(const State& s) { std::tie(present_, weights_, residuals_, scale_, iterations_, converged_) = s; }
    State state() const { return {present_, weights_, residuals_, scale_, iterations_, converged_}; }

    // The outliers, for the result's `ignored`.
    static std::vector<int32_t> outliers(const zmet_robustOutcome& o);

    py::object weights() const;
    py::object residuals() const;
    py::object scale() const;
    py::object iterations() const;
    py::object converged() const;
    // Adds the five to a result's to_dict() after a robust fit.
    void addTo(py::dict& d) const;

private:
    bool present_ = false;
    std::vector<double> weights_, residuals_;
    double scale_ = 0.0;
    int32_t iterations_ = 0;
    bool converged_ = false;
};

// The five properties on a result class R with a member `robust`.
template <class R>
void defineRobust(py::class_<R>& cls)
{
    cls.def_property_readonly("weights", [](const R& r) { return r.robust.weights(); })
        .def_property_readonly("residuals", [](const R& r) { return r.robust.residuals(); })
        .def_property_readonly("scale", [](const R& r) { return r.robust.scale(); })
        .def_property_readonly("iterations", [](const R& r) { return r.robust.iterations(); })
        .def_property_readonly("converged", [](const R& r) { return r.robust.converged(); });
}

// The help text of the five properties, for a result's docstring.
#define ZPY_ROBUST_DOC                                                         \
    "weights     robust fits: (n,) final weights (the estimator's times the\n" \
    "            caller's), else None\n"                                       \
    "residuals   robust fits: (n,) orthogonal residuals, else None\n"          \
    "scale       robust fits: the robust noise level, else None\n"             \
    "iterations  robust fits: weighted fits after the start, else None\n"      \
    "converged   robust fits: whether the residuals settled, else None\n"

}  // namespace zpy
