// zfit.fit_point_to_point and its result, PointToPointFit.
#include <cmath>

#include "many.hpp"
#include "transform.hpp"

namespace zpy {

namespace {

struct PointToPointTag {
    static constexpr const char* name = "PointToPointFit";
};
using PointToPointFit = TransformFit<PointToPointTag>;

// The fit and, for dof 4 and 6 with a pair to spare for the noise, its
// uncertainty.
using PointToPointRecords = UncertainTransformRecords<zfit::PointToPointResult>;

// fit_point_to_point's options as the library's parameter records.
struct PointToPointOptions {
    zmath_pointToPointFitParams params{};
    RobustOptions robust;

    PointToPointOptions(int64_t dof, double maxRms, RobustOptions robustOptions) : robust(std::move(robustOptions))
    {
        if (robust.autoIgnore || robust.ignore != 0)
            raiseValue("ignore: the transform fit discards nothing; give robust= to find the wrong pairs");
        check(zmath_pointToPointFitParams_init(&params));
        params.dof = toInt32(dof, "dof");
        params.maxRmsError = maxRms;
        robust.params.maxRmsError = maxRms;
    }
};

// One fit's target and source points, and their weights for the weighted fit.
struct PointToPointInput {
    Points target;
    Points source;
    std::optional<Weights> weights;

    PointToPointInput(py::handle targetArg, py::handle sourceArg, py::handle weightsArg)
        : target(targetArg, "target"), source(sourceArg, "source")
    {
        if (source.size() != target.size())
            raiseValue("source: expected " + std::to_string(target.size()) + " points, one per target point, got " +
                       std::to_string(source.size()));
        if (!weightsArg.is_none()) weights.emplace(weightsArg, "weights", target.size(), "pair");
    }
};

struct PointToPoint {
    static constexpr const char* name = "point_to_point";
    static constexpr bool weighted = true;
    using Options = PointToPointOptions;
    using Input = PointToPointInput;
    using Record = Records<PointToPointRecords>;
    using Result = PointToPointFit;

    static Options readOptions(Keywords& k)
    {
        zmath_pointToPointFitParams defaults;
        zmath_pointToPointFitParams_init(&defaults);
        return Options(k.take<int64_t>("dof", defaults.dof), k.take("max_rms", HUGE_VAL), readRobustOptions(k));
    }
    static Input input(py::handle item, py::handle weights, const Options&)
    {
        const auto [target, source] = pairOf(item, "(target, source)");
        return Input(target, source, weights);
    }
    static zfit_status fit(const Options& o, const Input& in, PointToPointRecords* r)
    {
        if (o.robust.robust) {
            r->isRobust = true;
            return zmet_robustPointToPointFit(in.target.data(), in.source.data(), in.target.size(),
                                              in.weights ? in.weights->data() : nullptr, o.params.dof, &o.robust.params,
                                              r->robust.get());
        }
        zmath_pointToPointFitResult* result = r->fit.get();
        const zfit_status status =
            in.weights ? zmath_pointToPointFitWeightedVector(&o.params, in.target.vector(), in.source.vector(),
                                                             in.weights->vector(), result)
                       : zmath_pointToPointFitVector(&o.params, in.target.vector(), in.source.vector(), result);
        if (ZFIT_FAILED(status)) return status;
        const zfit_status uncertain =
            in.weights ? zmet_pointToPointFitUncertaintyWeighted(&o.params, in.target.data(), in.source.data(),
                                                                 in.weights->data(), in.target.size(), &result->xform,
                                                                 &r->uncertainty)
                       : zmet_pointToPointFitUncertainty(&o.params, in.target.data(), in.source.data(),
                                                         in.target.size(), &result->xform, &r->uncertainty);
        r->hasUncertainty = !ZFIT_FAILED(uncertain);
        return status;
    }
};

PointToPointFit fitPointToPoint(const py::object& target, const py::object& source, int64_t dof,
                                const py::object& weights, double maxRms, const py::object& robust,
                                std::optional<double> clip, std::optional<double> scale)
{
    const PointToPointInput input(target, source, weights);
    return fitOne<PointToPoint>(PointToPointOptions(dof, maxRms, RobustOptions(robust, clip, scale, py::int_(0))),
                                input);
}

}  // namespace

void registerPointToPoint(py::module_& m)
{
    addBatchFamily<PointToPoint>();
    auto cls = PointToPointFit::define(
        m, "The fitted transform p -> matrix @ p + translation that maps the\n"
           "source points onto the target points.\n\n"
           "matrix       2x2 array\n"
           "translation  (tx, ty)\n"
           "rms_error    RMS distance between mapped source and target points\n"
           "             (weighted when weights were given)\n"
           "is_valid     rms_error < max_rms\n"
           "apply(pts)   the transform applied to an (n, 2) array-like\n" ZPY_UNCERTAINTY_DOC
           "             with dof 4: tx, ty, a, b of matrix (a, -b; b, a); with dof 6:\n"
           "             tx, ty, m00, m01, m10, m11\n"
           "ignored      robust fits: the indices of the wrong pairs, else empty\n" ZPY_ROBUST_DOC);
    cls.def_property_readonly("ignored", [](const PointToPointFit& r) { return indexArray(r.ignored); });
    defineRobust(cls);

    zmath_pointToPointFitParams defaults;
    zmath_pointToPointFitParams_init(&defaults);
    m.def("fit_point_to_point", &fitPointToPoint, py::arg("target"), py::arg("source"), py::kw_only(),
          py::arg("dof") = defaults.dof, py::arg("weights") = py::none(), py::arg("max_rms") = HUGE_VAL,
          ZPY_ROBUST_ARGS,
          "Fits the transform that maps source[i] onto target[i] (both (n, 2)\n"
          "array-likes) in the least-squares sense.\n\n"
          "dof      degrees of freedom: 3 rotation (or reflection) and translation,\n"
          "         4 rotation, uniform scale and translation, 5 a matrix with\n"
          "         orthogonal columns and translation, 6 a general affine map\n"
          "weights  None, or one weight >= 0 per pair\n"
          "max_rms  is_valid is True only when rms_error < max_rms\n"
          "robust, clip, scale  as for fit_line: the wrong pairs are the outliers\n\n"
          "Returns a PointToPointFit. Raises DegenerateError when the pairs do\n"
          "not determine the transform (too few, sources on one line, ...),\n"
          "ParameterError for an unknown dof, negative max_rms or weights,\n"
          "ValueError for inputs of the wrong shape or length.");
}

}  // namespace zpy
