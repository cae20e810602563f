// The report of a fit: readable summary or JSON, failures on standard error,
// and the exit status.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <numbers>

#include <zfit/frame/status_names.h>

#include "cli.hpp"

namespace zcli {

Json number(double value)
{
    if (!std::isfinite(value)) return nullptr;
    return value;
}

Json vectJson(const zmath_vect& v) { return Json{{"x", number(v.x)}, {"y", number(v.y)}}; }

Json xformJson(const zmath_xformLinear& x)
{
    return Json{{"translation", vectJson(x.translation)},
                {"matrix",
                 {{"m00", number(x.matrix.m00)},
                  {"m01", number(x.matrix.m01)},
                  {"m10", number(x.matrix.m10)},
                  {"m11", number(x.matrix.m11)}}}};
}

std::string fmtMatrix(const zmath_matrix& m)
{
    std::string text = "[";
    text += fmt(m.m00);
    text += ' ';
    text += fmt(m.m01);
    text += "; ";
    text += fmt(m.m10);
    text += ' ';
    text += fmt(m.m11);
    text += ']';
    return text;
}

Json statusJson(zfit_status status)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(status));
    const char* name = zfit_statusName(status);
    return Json{{"code", status}, {"hex", hex}, {"name", name ? Json(name) : Json(nullptr)}};
}

std::string statusText(zfit_status status)
{
    char text[96];
    const char* name = zfit_statusName(status);
    std::snprintf(text, sizeof text, "%s (0x%08x)", name ? name : "unknown status", static_cast<unsigned>(status));
    return text;
}

const char* statusHint(zfit_status status)
{
    switch (status) {
    case zmath_errDegenerate: return "the points do not determine the shape (too few, or no unique solution)";
    case zmath_errServiceDegenerateA: return "the points lie on no ellipse (the best conic is a parabola or hyperbola)";
    case zmath_errServiceDegenerateB: return "the points lie on no real ellipse";
    case zmath_errFitMaxRmsErrorNegative: return "--max-rms must not be negative";
    case zmath_errFitNumIgnoreNegative: return "--ignore must not be negative";
    case zmath_errFitWeightedIgnore: return "a weighted fit discards no points: drop --ignore or --weights";
    case zmath_errFitWeightCount: return "the weights and the points differ in number";
    case zmath_errFitWeightNegative: return "a weight is negative";
    case zmath_errFitBadMode: return "this mode or number of degrees of freedom is not offered";
    case zmath_errFitFixedRadiusNegative: return "--fixed-radius must not be negative";
    case zmath_errFitSolveFailed: return "the transform cannot be determined from these pairs";
    case zmath_errFitSizeMismatch: return "the input lists differ in size";
    case zmath_errFitMaxIterations: return "--max-iterations must be at least 1";
    case zstd_errOutOfMemory: return "out of memory";
    case zmath_errMatrixSingular: return "the system of equations is singular";
    case zmath_errMatrixIllConditioned: return "the system of equations is too badly conditioned";
    case zsys_errCancelled: return "the search was stopped";
    case zmet_errNotFinite: return "a coordinate is not a finite number, or the points spread beyond the doubles";
    case zmet_errMaxRoundnessNegative: return "--max-roundness must not be negative";
    case zmet_errProfileOpen: return "the points do not surround an inscribed circle (an open arc or a wide gap)";
    case zmet_errNotCertified: return "no centre meeting the optimality condition was found (not a roundness profile?)";
    default: return "";
    }
}

Summary& Summary::row(const std::string& label, const std::string& value)
{
    text_.append(2, ' ');
    text_ += label;
    text_.append(label.size() < 16 ? 16 - label.size() : 1, ' ');
    text_ += value;
    text_ += '\n';
    return *this;
}

std::string fmt(double value)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char text[48];
    std::snprintf(text, sizeof text, "%.7g", value == 0.0 ? 0.0 : value);  // no "-0"
    return text;
}

std::string fmtPoint(const zmath_vect& v)
{
    std::string text(1, '(');
    text += fmt(v.x);
    text += ", ";
    text += fmt(v.y);
    text += ')';
    return text;
}

std::string fmtAngle(double radians)
{
    std::string text = fmt(radians * 180.0 / std::numbers::pi);
    text += " deg (";
    text += fmt(radians);
    text += " rad)";
    return text;
}

std::string fmtLimit(double maxRmsError) { return std::isinf(maxRmsError) && maxRmsError > 0 ? "none" : fmt(maxRmsError); }

std::vector<int32_t> indicesOf(const zstd_vector32& indices)
{
    const int32_t* begin = nullptr;
    int32_t size = 0;
    if (ZFIT_FAILED(zstd_vector32_getBeginConst(&indices, &begin)) ||
        ZFIT_FAILED(zstd_vector32_getSize(&indices, &size)) || begin == nullptr)
        return {};
    return std::vector<int32_t>(begin, begin + size);
}

Json discardedJson(const std::vector<int32_t>& indices, const std::vector<zmath_vect>& points)
{
    Json out = Json::array();
    for (int32_t i : indices) {
        Json entry{{"index", i}};
        if (i >= 0 && static_cast<std::size_t>(i) < points.size()) {
            entry["x"] = number(points[static_cast<std::size_t>(i)].x);
            entry["y"] = number(points[static_cast<std::size_t>(i)].y);
        }
        out.push_back(entry);
    }
    return out;
}

std::string discardedText(const std::vector<int32_t>& indices, const std::vector<zmath_vect>& points)
{
    if (indices.empty()) return "none";
    std::string text;
    for (int32_t i : indices) {
        if (!text.empty()) text += "\n                  ";
        text += '#';
        text += std::to_string(i);
        if (i >= 0 && static_cast<std::size_t>(i) < points.size()) {
            text += ' ';
            text += fmtPoint(points[static_cast<std::size_t>(i)]);
        }
    }
    return text;
}

int finish(const Outcome& o)
{
    const bool failed = ZFIT_FAILED(o.status);
    const bool cancelled = failed && o.status == zsys_errCancelled && o.common->timeout > 0.0;
    if (o.common->json) {
        Json out{{"command", o.command},
                 {"input", o.common->input},
                 {"count", o.count},
                 {"params", o.params},
                 {"status", statusJson(o.status)},
                 {"result", failed ? Json(nullptr) : o.result}};
        if (!failed && o.extra.is_object())
            for (auto& [key, value] : o.extra.items()) out[key] = value;
        std::cout << out.dump(2) << "\n";
    } else if (!failed) {
        std::cout << o.summary;
    }
    std::cout.flush();
    if (failed) {
        std::string message = "zfit: " + o.command + " fit " + (cancelled ? "cancelled" : "failed") + ": " +
                              statusText(o.status);
        const char* hint = cancelled ? "the --timeout ran out before the search finished" : statusHint(o.status);
        if (*hint) message += ": " + std::string(hint);
        std::cerr << message << "\n";
        return cancelled ? exitCancelled : exitFailed;
    }
    return o.valid ? exitValid : exitNotValid;
}

}  // namespace zcli
