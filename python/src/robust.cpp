// The robust keywords and result part (robust.hpp).
#include "robust.hpp"

#include <cmath>

#include "many.hpp"

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

py::array_t<double> arrayOf(const std::vector<double>& values)
{
    py::array_t<double> out(static_cast<py::ssize_t>(values.size()));
    std::copy(values.begin(), values.end(), out.mutable_data());
    return out;
}

}  // namespace

RobustOptions::RobustOptions(const py::object& robustArg, std::optional<double> clip, std::optional<double> scale,
                             const py::object& ignoreArg)
{
    if (isAuto(ignoreArg)) {
        autoIgnore = true;
    } else {
        try {
            ignore = toInt32(ignoreArg.cast<int64_t>(), "ignore");
        } catch (const py::cast_error&) {
            throw py::type_error("ignore: a count of points, or \"auto\"");
        }
    }
    robust = !robustArg.is_none();
    if (robust && !py::isinstance<py::str>(robustArg)) raiseValue("robust: None, \"huber\", \"tukey\" or \"clip\"");
    if (robust && ignore != 0) raiseValue("ignore: a robust fit finds its outliers itself; give robust or ignore");
    check(zmet_robustParams_init(&params, robust ? estimatorNamed(robustArg.cast<std::string>()) : zmet_robustTukey));
    if (clip) params.clip = *clip;
    if (scale) {
        params.scaleMode = zmet_robustScaleGiven;
        params.scale = *scale;
    }
}

RobustOptions readRobustOptions(Keywords& k)
{
    py::object robust = k.take("robust"), ignore = k.take("ignore");
    if (ignore && !isAuto(ignore)) {
        try {
            ignore = py::int_(ignore.cast<int64_t>());
        } catch (const py::cast_error&) {
            k.refuse("ignore", ignore);
        }
    }
    return RobustOptions(robust ? robust : py::none(), k.take<std::optional<double>>("clip", std::nullopt),
                         k.take<std::optional<double>>("scale", std::nullopt), ignore ? ignore : py::int_(0));
}

Robust::Robust(const zmet_robustOutcome& o)
    : present_(true), weights_(o.weights.begin, o.weights.begin + o.weights.size),
      residuals_(o.residuals.begin, o.residuals.begin + o.residuals.size), scale_(o.scale), iterations_(o.iterations),
      converged_(o.converged != 0)
{}

std::vector<int32_t> Robust::outliers(const zmet_robustOutcome& o)
{
    const std::span<const int32_t> found = zfit::outliers(o);
    return {found.begin(), found.end()};
}

py::object Robust::weights() const { return present_ ? py::object(arrayOf(weights_)) : py::none(); }
py::object Robust::residuals() const { return present_ ? py::object(arrayOf(residuals_)) : py::none(); }
py::object Robust::scale() const { return present_ ? py::object(py::float_(scale_)) : py::none(); }
py::object Robust::iterations() const { return present_ ? py::object(py::int_(iterations_)) : py::none(); }
py::object Robust::converged() const { return present_ ? py::object(py::bool_(converged_)) : py::none(); }

void Robust::addTo(py::dict& d) const
{
    if (!present_) return;
    d["weights"] = weights();
    d["residuals"] = residuals();
    d["scale"] = scale();
    d["iterations"] = iterations();
    d["converged"] = converged();
}

}  // namespace zpy
