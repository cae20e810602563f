// The robust keywords and result part (robust.hpp).
#include "robust.hpp"

#include <cmath>

namespace zpy {

namespace {

// The estimator named by `robust`; an unknown name becomes a value the
// library refuses with zmet_errRobustEstimator.
int32_t estimatorNamed(const std::string& name)
{
    if (name == "huber") return zmet_robustHuber;
    if (name == "tukey") return zmet_robustTukey;
    if (name == "clip") return zmet_robustClip;
    return -1;
}

bool isAuto(py::handle ignore) { return py::isinstance<py::str>(ignore) && ignore.cast<std::string>() == "auto"; }

}  // namespace

RobustOptions readRobustOptions(Keywords& k)
{
    RobustOptions o;
    const py::object robust = k.take("robust");
    const py::object ignore = k.has("ignore") ? k.take("ignore") : py::int_(0);
    if (isAuto(ignore)) {
        o.autoIgnore = true;
    } else {
        // Any integer, Python's or numpy's; a float, even 2.0, is refused.
        const auto count = py::reinterpret_steal<py::object>(
            py::isinstance<py::bool_>(ignore) ? nullptr : PyNumber_Index(ignore.ptr()));
        if (!count) {
            PyErr_Clear();
            k.refuse("ignore", ignore, "a whole number of points or \"auto\"");
        }
        o.ignore = toInt32(count.cast<int64_t>(), "ignore");
    }
    o.robust = !robust.is_none();
    if (o.robust && !py::isinstance<py::str>(robust)) raiseValue("robust: None, \"huber\", \"tukey\" or \"clip\"");
    if (o.robust && o.ignore != 0) raiseValue("ignore: a robust fit finds its outliers itself; give robust or ignore");
    check(zmet_robustParams_init(&o.params, o.robust ? estimatorNamed(robust.cast<std::string>()) : zmet_robustTukey));
    if (const auto clip = k.take<std::optional<double>>("clip")) o.params.clip = *clip;
    if (const auto scale = k.take<std::optional<double>>("scale")) {
        o.params.scaleMode = zmet_robustScaleGiven;
        o.params.scale = *scale;
    }
    return o;
}

Robust::Robust(const zmet_robustOutcome& o)
    : present(true), weights(o.weights.begin, o.weights.begin + o.weights.size),
      residuals(o.residuals.begin, o.residuals.begin + o.residuals.size), scale(o.scale), iterations(o.iterations),
      converged(o.converged != 0)
{}

std::vector<int32_t> Robust::outliers(const zmet_robustOutcome& o)
{
    const std::span<const int32_t> found = zfit::outliers(o);
    return {found.begin(), found.end()};
}

}  // namespace zpy
