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
#include "fields.hpp"
#include "keywords.hpp"

namespace zpy {

// The keywords every robust-capable fit takes (keywords.hpp: robustKeywords).
struct RobustOptions {
    bool robust = false;      // robust= was given: the robust fit
    bool autoIgnore = false;  // ignore="auto": the exact search for the robust fit's outlier count
    int32_t ignore = 0;       // a numeric ignore=
    zmet_robustParams params{};
};

// Reads robust=, clip=, scale= and ignore= (a count of points, or "auto":
// the given estimator's outlier count, Tukey's by default). An unknown
// estimator name reaches the library, which refuses it.
RobustOptions readRobustOptions(Keywords& k);

// The help of ignore="auto", for the families whose ignore takes it.
#define ZPY_AUTO_IGNORE_HELP "; \"auto\": the robust fit's outlier count handed to the search"

// The robust transform's result record, owned for a scope.
using RobustTransformRecord = zfit::RobustTransformResult;

// The weights of a shape that has a robust mode: none given leaves
// `weights` empty; with ignore="auto" they are refused; a robust fit takes
// them as they are. Returns true when the shape's own fit is still to judge
// them (and then emplace them itself).
inline bool weightsLeftToTheFit(py::handle weightsArg, const RobustOptions& robust, const Points& points,
                                std::optional<Weights>& weights)
{
    if (weightsArg.is_none()) return false;
    if (robust.autoIgnore) raiseValue("ignore: \"auto\" counts for the unweighted search; give weights or it");
    if (!robust.robust) return true;
    weights.emplace(weightsArg, "weights", points.size(), "point");
    return false;
}

// The outlier count of a robust fit, as the exact search's numIgnore.
inline int32_t outlierCount(const zmet_robustOutcome& o) { return static_cast<int32_t>(zfit::outliers(o).size()); }

// What a robust fit adds to a result: its weights, residuals, scale,
// iterations and convergence; nothing for the other fits.
class Robust {
public:
    Robust() = default;
    explicit Robust(const zmet_robustOutcome& o);

    // The outliers, for the result's `ignored`.
    static std::vector<int32_t> outliers(const zmet_robustOutcome& o);

    bool present = false;
    std::vector<double> weights, residuals;
    double scale = 0.0;
    int32_t iterations = 0;
    bool converged = false;
};

// The five fields of a result R with a member `robust`: None (NaN, -1,
// False in columns) for the fits that are not robust.
template <class R>
void addRobustFields(Fields<R>& fields)
{
    fields.push_back(
        {"weights", Element::real, vector(kVaries),
         "robust fits: (n,) final weights (the estimator's times the\ncaller's), else None", [](const R& r, auto& s) {
             r.robust.present ? s.reals(r.robust.weights, {static_cast<int32_t>(r.robust.weights.size())}) : s.none();
         }});
    fields.push_back({"residuals", Element::real, vector(kVaries), "robust fits: (n,) orthogonal residuals, else None",
                      [](const R& r, auto& s) {
                          r.robust.present
                              ? s.reals(r.robust.residuals, {static_cast<int32_t>(r.robust.residuals.size())})
                              : s.none();
                      }});
    fields.push_back({"scale", Element::real, scalar(), "robust fits: the robust noise level, else None",
                      [](const R& r, auto& s) { r.robust.present ? s.real(r.robust.scale) : s.none(); }});
    fields.push_back({"iterations", Element::integer, scalar(), "robust fits: weighted fits after the start, else None",
                      [](const R& r, auto& s) { r.robust.present ? s.integer(r.robust.iterations) : s.none(); }});
    fields.push_back({"converged", Element::flag, scalar(), "robust fits: whether the residuals settled, else None",
                      [](const R& r, auto& s) { r.robust.present ? s.flag(r.robust.converged) : s.none(); }});
}

}  // namespace zpy
