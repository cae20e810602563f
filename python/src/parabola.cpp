// zfit.fit_parabola and its result, ParabolaFit: by default the parabola
// with its axis converged to rounding (the companion library's
// zmet_parabolaFit), else libzfit's search with the passes given.
#include <zfit/metrology/metrology.h>

#include "fields.hpp"
#include "keywords.hpp"
#include "many.hpp"

namespace zpy {

namespace {

// The parabola record, offered as a zfit::Result is (it needs no life cycle).
struct ParabolaRecords {
    zmet_parabolaResult result{};
    zfit_status status() const { return zfit_ok; }
};

// The parabola's pose and coefficient, its error, validity and convergence.
struct ParabolaFit {
    static constexpr const char* name = "ParabolaFit";

    double angle = 0.0, cosine = 1.0, sine = 0.0, tx = 0.0, ty = 0.0, coefficient = 0.0, rmsError = 0.0;
    bool isValid = false, converged = false;

    explicit ParabolaFit(const ParabolaRecords& records) : ParabolaFit(records.result) {}
    // The angle of a pose the fit filled cannot fail.
    explicit ParabolaFit(const zmet_parabolaResult& r)
        : cosine(r.parabola.pose.cosine), sine(r.parabola.pose.sine), tx(r.parabola.pose.translation.x),
          ty(r.parabola.pose.translation.y), coefficient(r.parabola.coefficient), rmsError(r.rmsError),
          isValid(r.isValid != 0), converged(r.converged != 0)
    {
        (void)zmath_xformRigid_getAngle(&r.parabola.pose, &angle);
    }

    static const Fields<ParabolaFit>& fields()
    {
        static const Fields<ParabolaFit> table = {
            {"pose", Element::real, matrix(3, 3),
             "3x3 homogeneous matrix of the rigid pose (rotation by\n`angle`, then translation to `vertex`)",
             [](const ParabolaFit& r, auto& s) {
                 s.reals(std::array{r.cosine, -r.sine, r.tx, r.sine, r.cosine, r.ty, 0.0, 0.0, 1.0});
             }},
            {"angle", Element::real, scalar(), "the pose's rotation, radians",
             [](const ParabolaFit& r, auto& s) { s.real(r.angle); }},
            {"vertex", Element::real, vector(2), "the vertex (x, y) in the plane",
             [](const ParabolaFit& r, auto& s) {
                 s.reals(std::array{r.tx, r.ty});
             }},
            {"coefficient", Element::real, scalar(), "a of y = a*x**2 in the parabola's frame",
             [](const ParabolaFit& r, auto& s) { s.real(r.coefficient); }},
            rmsErrorField<ParabolaFit>("RMS residual (weighted in the weighted fit)"),
            isValidField<ParabolaFit>("True after a successful fit"),
            {"converged", Element::flag, scalar(),
             "True when the axis angle is converged to rounding (a\n"
             "further step would not move it, or could not lower\n"
             "the sum of squares)",
             [](const ParabolaFit& r, auto& s) { s.flag(r.converged); }},
        };
        return table;
    }
};

// fit_parabola's options as the companion library's parameter record: no
// max_iterations converges the axis (its default search, then refined to
// rounding); a number of passes gives libzfit's search as it stands, and
// `converged` tells whether it is.
struct ParabolaOptions {
    zmet_parabolaParams params{};

    explicit ParabolaOptions(std::optional<int64_t> maxIterations)
    {
        check(zmet_parabolaParams_init(&params));
        if (!maxIterations) return;
        params.maxIterations = toInt32(*maxIterations, "max_iterations");
        params.maxRefinements = 0;
    }
};

// One parabola's points, and its weights for the weighted fit.
struct ParabolaInput {
    Points points;
    std::optional<Weights> weights;

    ParabolaInput(py::handle pointsArg, py::handle weightsArg) : points(pointsArg, "points")
    {
        if (!weightsArg.is_none()) weights.emplace(weightsArg, "weights", points.size(), "point");
    }
};

struct Parabola {
    static constexpr const char* name = "parabola";
    static constexpr bool weighted = true;
    using Options = ParabolaOptions;
    using Input = ParabolaInput;
    using Record = Records<ParabolaRecords>;
    using Result = ParabolaFit;

    static const Signature& signature()
    {
        static const Signature s("fit_parabola", {"points"},
                                 {{"weights", "None", "None, or one weight >= 0 per point"},
                                  {"max_iterations", "None",
                                   "None (the default): the axis converged to rounding, the\n"
                                   "library's search over its direction followed by\n"
                                   "Gauss-Newton steps on the angle; or the passes (>= 1)\n"
                                   "of that search from each of its two starting\n"
                                   "directions, as the C library runs it (with 1 the axis\n"
                                   "stays at a starting direction; the search stops at a\n"
                                   "step of 1e-7 rad), and `converged` tells whether the\n"
                                   "result is converged anyway"}});
        return s;
    }
    static py::object item(const py::tuple& items) { return items[0]; }
    static Options readOptions(Keywords& k) { return Options(k.take<std::optional<int64_t>>("max_iterations")); }
    static Input input(py::handle item, py::handle weights, const Options&)
    {
        Input in(item, weights);
        in.points.checkRange(limit::squares);
        return in;
    }
    static zfit_status fit(const Options& o, const Input& in, ParabolaRecords* r)
    {
        if (in.weights)
            return zmet_parabolaFitWeighted(in.points.data(), in.points.size(), in.weights->data(), &o.params,
                                            &r->result);
        return zmet_parabolaFit(in.points.data(), in.points.size(), &o.params, &r->result);
    }
};

}  // namespace

void registerParabola(py::module_& m)
{
    addBatchFamily<Parabola>();
    addResultTable<ParabolaFit>("A fitted parabola in any orientation: in its own frame the curve is\n"
                                "y = coefficient * x**2 with the vertex at the origin, and `pose` places\n"
                                "that frame in the plane of the points.");
    defineFit<Parabola>(m, "Fits a parabola in any orientation to points, an (n, 2) array-like.\n\n"
                           "Returns a ParabolaFit. Raises DegenerateError for fewer than two points\n"
                           "or points without a preferred direction, and for equations the solve\n"
                           "judges singular (all points on one line); ParameterError for\n"
                           "max_iterations < 1, negative weights, and coordinates that are not\n"
                           "finite or beyond 1e145 in magnitude; ValueError for input of the\n"
                           "wrong shape or length.");
}

}  // namespace zpy
