// How the command reports a fit's uncertainty: "value ± standard error" with
// the 95% interval in the summary, and the covariance, standard errors and
// intervals in the JSON.
#include <cmath>

#include "cli.hpp"

namespace zcli {

std::string fmtMeasured(double value, const zmet_uncertainty& u, int parameter)
{
    const double halfWidth = u.halfWidth95[parameter];
    return fmt(value) + " ± " + fmt(u.standardErrors[parameter]) + "   (95%: " + fmt(value - halfWidth) + " .. " +
           fmt(value + halfWidth) + ")";
}

Json uncertaintyJson(const zmet_uncertainty& u, const std::vector<std::string>& names,
                     const std::vector<double>& values)
{
    const int p = u.parameterCount;
    Json covariance = Json::array(), errors = Json::array(), intervals = Json::array();
    for (int i = 0; i < p; ++i) {
        Json row = Json::array();
        for (int j = 0; j < p; ++j) row.push_back(number(u.covariance[i * p + j]));
        covariance.push_back(row);
        errors.push_back(number(u.standardErrors[i]));
        const double value = values[static_cast<std::size_t>(i)];
        intervals.push_back(Json::array({number(value - u.halfWidth95[i]), number(value + u.halfWidth95[i])}));
    }
    return Json{{"parameters", names},      {"covariance", covariance}, {"std_errors", errors},
                {"intervals95", intervals}, {"sigma", number(u.sigma)}, {"degreesOfFreedom", u.degreesOfFreedom},
                {"t95", number(u.t95)}};
}

std::string sigmaText(const zmet_uncertainty& u)
{
    return fmt(u.sigma) + "   (" + std::to_string(u.degreesOfFreedom) + " degrees of freedom, t = " + fmt(u.t95) + ")";
}

}  // namespace zcli
