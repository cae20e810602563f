// zfit.fit_point_to_point and its result, PointToPointFit.
#include <cmath>

#include "fields.hpp"
#include "keywords.hpp"
#include "many.hpp"
#include "transform.hpp"

namespace zpy {

namespace {

struct PointToPointTag {
    static constexpr const char* name = "PointToPointFit";
    static constexpr bool robust = true;
    static constexpr const char* rmsDoc = "RMS distance between mapped source and target points\n"
                                          "(weighted when weights were given)";
    static constexpr const char* uncertaintyDoc = "with dof 4: tx, ty, a, b of matrix (a, -b; b, a);\n"
                                                  "with dof 6: tx, ty, m00, m01, m10, m11";
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

// The library's default degrees of freedom (checked at registration).
constexpr const char* kDefaultDof = "6";

struct PointToPoint {
    static constexpr const char* name = "point_to_point";
    static constexpr bool weighted = true;
    using Options = PointToPointOptions;
    using Input = PointToPointInput;
    using Record = Records<PointToPointRecords>;
    using Result = PointToPointFit;

    static const Signature& signature()
    {
        static const Signature s("fit_point_to_point", {"target", "source"},
                                 joined({{{"dof", kDefaultDof,
                                           "degrees of freedom: 3 rotation (or reflection) and translation,\n"
                                           "4 rotation, uniform scale and translation, 5 a matrix with\n"
                                           "orthogonal columns and translation, 6 a general affine map"},
                                          {"weights", "None", "None, or one weight >= 0 per pair"},
                                          {"max_rms", "inf", "is_valid is True only when rms_error < max_rms"}},
                                         robustKeywords()}));
        return s;
    }
    static py::object item(const py::tuple& items) { return items; }
    static Options readOptions(Keywords& k)
    {
        const auto dof = k.take<int64_t>("dof");
        const double maxRms = k.take<double>("max_rms");
        return Options(dof, maxRms, readRobustOptions(k));
    }
    static Input input(py::handle item, py::handle weights, const Options&)
    {
        const auto [target, source] = pairOf(item, "(target, source)");
        Input in(target, source, weights);
        in.target.checkRange(limit::fourthPowers);
        in.source.checkRange(limit::fourthPowers);
        return in;
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

}  // namespace

void registerPointToPoint(py::module_& m)
{
    zmath_pointToPointFitParams defaults;
    zmath_pointToPointFitParams_init(&defaults);
    if (std::to_string(defaults.dof) != kDefaultDof)
        throw std::logic_error("fit_point_to_point: the library's default dof is " + std::to_string(defaults.dof));
    addBatchFamily<PointToPoint>();
    addResultTable<PointToPointFit>("The fitted transform p -> matrix @ p + translation that maps the\n"
                                    "source points onto the target points; apply(points) maps points.");
    defineFit<PointToPoint>(m, "Fits the transform that maps source[i] onto target[i] (both (n, 2)\n"
                               "array-likes) in the least-squares sense; robust, clip and scale as for\n"
                               "fit_line (the wrong pairs are the outliers).\n\n"
                               "Returns a PointToPointFit. Raises DegenerateError when the pairs do\n"
                               "not determine the transform (too few, sources on one line, ...),\n"
                               "ParameterError for an unknown dof, negative max_rms or weights and\n"
                               "for coordinates that are not finite or beyond 1e55 in magnitude,\n"
                               "ValueError for inputs of the wrong shape or length.");
}

}  // namespace zpy

namespace zpy {

void registerMapPoints(py::module_& m)
{
    m.def(
        "_map_points",
        [](const py::object& matrix, const py::object& translation, const py::object& points) {
            const DeferredChecks atOnce(nullptr);  // see defineFit
            const py::array_t<double> mat = asFloat64(matrix, "matrix");
            const py::array_t<double> shift = asFloat64(translation, "translation");
            zmath_xformLinear xform{};
            xform.matrix = {mat.at(0, 0), mat.at(0, 1), mat.at(1, 0), mat.at(1, 1)};
            xform.translation = {shift.at(0), shift.at(1)};
            const Points pts(points, "points");
            py::array_t<double> out({static_cast<py::ssize_t>(pts.size()), py::ssize_t{2}});
            auto* mapped = reinterpret_cast<zmath_vect*>(out.mutable_data());
            for (int32_t i = 0; i < pts.size(); ++i)
                check(zmath_xformLinear_mapPoint(&xform, pts.data() + i, mapped + i));
            return out;
        },
        py::arg("matrix"), py::arg("translation"), py::arg("points"),
        "The points mapped by matrix @ p + translation, by the library's own mapping.");
}

}  // namespace zpy
