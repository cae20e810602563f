// The compiled part of the Python package zfit (zfit/__init__.py): every
// fitting family of the library, numpy arrays in, result values out. The
// package defines the exception and result classes and hands them over.
#include "binding.hpp"
#include "transform.hpp"
#include "uncertainty.hpp"

PYBIND11_MODULE(_zfit, m)
{
    // The fit functions' docs open with their own signature lines, made from
    // their keyword tables.
    pybind11::options options;
    options.disable_function_signatures();
    m.doc() = "The compiled part of zfit; import zfit instead.";
    m.attr("__version__") = ZFIT_VERSION;
    zpy::registerRuntime(m);
    zpy::registerResultTables(m);
    zpy::registerLine(m);
    zpy::registerCircle(m);
    zpy::registerEllipse(m);
    zpy::registerParabola(m);
    zpy::registerPointToPoint(m);
    zpy::registerPointToLine(m);
    zpy::registerUncertainty(m);
    zpy::registerRoundness(m);
    zpy::registerFitMany(m);
    zpy::registerMapPoints(m);
}
