// A C++ program outside the project: a circle through the installed C++
// layer (zfit/zfit.hpp, which needs C++20), with its discarded point read
// as a span.
#include <cmath>
#include <cstdio>
#include <zfit/zfit.hpp>

int main()
{
    const zmath_vect points[] = {{17, 7}, {12, 12}, {7, 7}, {12, 2}, {15.5355, 10.5355}, {30, 30}};
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    params.numIgnore = 1;
    zfit::CircleResult fit;
    const zfit_status status = zmath_circleFit(points, 6, &params, fit.get());
    if (zfit::failed(status)) {
        std::printf("%s\n", zfit::statusName(status));
        return 1;
    }
    const std::span<const int32_t> ignored = zfit::ignored(*fit);
    const bool ok = ignored.size() == 1 && ignored[0] == 5 && std::fabs(fit->radius - 5.0) < 1e-4;
    return ok ? 0 : 1;
}
