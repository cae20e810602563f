// The Python module `zfit`: every fitting family of the library, numpy
// arrays in, result objects out, failures raised as exceptions.
#include "binding.hpp"
#include "uncertainty.hpp"

PYBIND11_MODULE(zfit, m)
{
    m.doc() = "Two-dimensional geometric fitting for machine vision.\n\n"
              "Points are (n, 2) array-likes of numbers, weights (n,) array-likes;\n"
              "contiguous float64 arrays are used without copying. Angles are in\n"
              "radians, counterclockwise; lines are in normal form\n"
              "-x*sin(angle) + y*cos(angle) = distance. A failed fit raises FitError\n"
              "(DegenerateError, ParameterError, Cancelled); a fit that succeeds with\n"
              "rms_error not below max_rms returns normally with is_valid False.\n"
              "The GIL is released while a fit runs; fit_many fits many point sets\n"
              "in one call on a pool of native threads.";
    m.attr("__version__") = ZFIT_VERSION;
    zpy::registerRuntime(m);
    zpy::registerLine(m);
    zpy::registerCircle(m);
    zpy::registerEllipse(m);
    zpy::registerParabola(m);
    zpy::registerPointToPoint(m);
    zpy::registerPointToLine(m);
    zpy::registerUncertainty(m);
    zpy::registerRoundness(m);
    zpy::registerFitMany(m);
}
