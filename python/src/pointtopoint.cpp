// zfit.fit_point_to_point and its result, PointToPointFit.
#include <cmath>

#include "transform.hpp"

namespace zpy {

namespace {

struct PointToPointTag {
    static constexpr const char* name = "PointToPointFit";
};
using PointToPointFit = TransformFit<PointToPointTag>;

using PointToPointResult = Record<zmath_pointToPointFitResult, zmath_pointToPointFitResult_construct,
                                  zmath_pointToPointFitResult_destruct>;

PointToPointFit fitPointToPoint(const py::object& target, const py::object& source, int64_t dof,
                                const py::object& weights, double maxRms)
{
    const Points to(target, "target");
    const Points from(source, "source");
    if (from.size() != to.size())
        raiseValue("source: expected " + std::to_string(to.size()) + " points, one per target point, got " +
                   std::to_string(from.size()));
    zmath_pointToPointFitParams params;
    check(zmath_pointToPointFitParams_init(&params));
    params.dof = toInt32(dof, "dof");
    params.maxRmsError = maxRms;
    PointToPointResult result;
    FitScope scope;
    zmet_uncertainty u{};
    zfit_status uncertain = zmath_errFitBadMode;
    if (weights.is_none()) {
        scope.run([&] { return zmath_pointToPointFitVector(&params, to.vector(), from.vector(), result.get()); });
        uncertain = zmet_pointToPointFitUncertainty(&params, to.data(), from.data(), to.size(), &result->xform, &u);
    } else {
        const Weights w(weights, "weights", to.size(), "pair");
        scope.run([&] {
            return zmath_pointToPointFitWeightedVector(&params, to.vector(), from.vector(), w.vector(), result.get());
        });
        uncertain = zmet_pointToPointFitUncertaintyWeighted(&params, to.data(), from.data(), w.data(), to.size(),
                                                            &result->xform, &u);
    }
    PointToPointFit fit(*result);
    // dof 4 and 6 only, and only with a pair to spare for the noise.
    if (!ZFIT_FAILED(uncertain)) {
        const zmath_xformLinear& x = result->xform;
        const zmath_matrix& m = x.matrix;
        fit.uncertainty = Uncertainty(u, params.dof == 4 ? std::vector<double>{x.translation.x, x.translation.y, m.m00, m.m10}
                                                         : std::vector<double>{x.translation.x, x.translation.y, m.m00,
                                                                               m.m01, m.m10, m.m11});
    }
    return fit;
}

}  // namespace

void registerPointToPoint(py::module_& m)
{
    PointToPointFit::define(m,
                            "The fitted transform p -> matrix @ p + translation that maps the\n"
                            "source points onto the target points.\n\n"
                            "matrix       2x2 array\n"
                            "translation  (tx, ty)\n"
                            "rms_error    RMS distance between mapped source and target points\n"
                            "             (weighted when weights were given)\n"
                            "is_valid     rms_error < max_rms\n"
                            "apply(pts)   the transform applied to an (n, 2) array-like\n"
                            ZPY_UNCERTAINTY_DOC
                            "             with dof 4: tx, ty, a, b of matrix (a, -b; b, a); with dof 6:\n"
                            "             tx, ty, m00, m01, m10, m11");

    zmath_pointToPointFitParams defaults;
    zmath_pointToPointFitParams_init(&defaults);
    m.def("fit_point_to_point", &fitPointToPoint, py::arg("target"), py::arg("source"), py::kw_only(),
          py::arg("dof") = defaults.dof, py::arg("weights") = py::none(), py::arg("max_rms") = HUGE_VAL,
          "Fits the transform that maps source[i] onto target[i] (both (n, 2)\n"
          "array-likes) in the least-squares sense.\n\n"
          "dof      degrees of freedom: 3 rotation (or reflection) and translation,\n"
          "         4 rotation, uniform scale and translation, 5 a matrix with\n"
          "         orthogonal columns and translation, 6 a general affine map\n"
          "weights  None, or one weight >= 0 per pair\n"
          "max_rms  is_valid is True only when rms_error < max_rms\n\n"
          "Returns a PointToPointFit. Raises DegenerateError when the pairs do\n"
          "not determine the transform (too few, sources on one line, ...),\n"
          "ParameterError for an unknown dof, negative max_rms or weights,\n"
          "ValueError for inputs of the wrong shape or length.");
}

}  // namespace zpy
