// The report of a fit: readable summary or JSON, failures on standard error,
// and the exit status.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <numbers>

#include <zfit/zfit.hpp>

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
    std::snprintf(text, sizeof text, "%s (0x%08x)", zfit::statusName(status), static_cast<unsigned>(status));
    return text;
}

namespace {

// The parameters the library's checks refuse: the option of the command
// behind each, and what it accepts.
struct Refusal {
    zfit_status status;
    const char* option;
    const char* accepts;
    const char* command = nullptr;  // only for this subcommand (nullptr: any)
};

constexpr Refusal kRefusals[] = {
    {zmath_errFitMaxRmsErrorNegative, "--max-rms", "a limit of 0 or more"},
    {zmath_errFitNumIgnoreNegative, "--ignore", "a count of 0 or more points, or auto"},
    {zmath_errFitWeightedIgnore, "--ignore", "0 with --weights: the weighted fit discards nothing"},
    {zmath_errFitBadMode, "--dof", "3, 4, 5 or 6", "p2p"},
    {zmath_errFitBadMode, "--dof", "6", "p2l"},
    {zmath_errFitFixedRadiusNegative, "--fixed-radius", "a radius of 0 or more"},
    {zmath_errFitMaxIterations, "--max-iterations", "1 or more"},
    {zmet_errMaxRoundnessNegative, "--max-roundness", "a limit of 0 or more"},
    {zmet_errRobustEstimator, "--robust", "huber, tukey or clip"},
    {zmet_errRobustClip, "--clip", "a finite factor above 0"},
    {zmet_errRobustScale, "--scale", "a finite noise level above 0"},
};

// The first refusal of the status for the command (any command: nullptr).
const Refusal* refusalOf(zfit_status status, const char* command = nullptr)
{
    for (const Refusal& r : kRefusals)
        if (r.status == status && (!command || !r.command || std::strcmp(command, r.command) == 0)) return &r;
    return nullptr;
}

// The option of the command behind a failure, or "".
std::string optionHint(zfit_status status)
{
    if (status == zmath_errFitWeightedIgnore) return "drop --ignore or --weights";
    if (const Refusal* r = refusalOf(status)) return std::string("option ") + r->option;
    switch (status) {
    case zmet_errNotConverged: return "option --max-iterations";
    case zmet_errNoInliers: return "is --scale far below the noise?";
    default: return "";
    }
}

}  // namespace

std::string failureText(zfit_status status)
{
    std::string text = zfit::statusText(status);
    if (const std::string option = optionHint(status); !option.empty()) text += " (" + option + ")";
    return text;
}

void refuseParams(const std::string& command, zfit_status validated)
{
    if (!zfit::failed(validated)) return;
    const Refusal* r = refusalOf(validated, command.c_str());
    if (!r) throw UsageError(command + ": the parameters are refused: " + statusText(validated));
    throw UsageError(command + ": " + r->option + " must be " + r->accepts + " (" + zfit::statusName(validated) + ")");
}

void refuseIterations(const std::string& command, int32_t maxIterations)
{
    refuseParams(command, maxIterations >= 1 ? zfit_ok : zmath_errFitMaxIterations);
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

Summary& Summary::validity(int isValid, double limit)
{
    return row("valid", std::string(isValid ? "yes" : "no") + "   (limit " + fmtLimit(limit) + ")");
}

std::string countText(std::size_t points, std::size_t discarded)
{
    return std::to_string(points) + " points, " + std::to_string(discarded) + " discarded";
}

const char* invalidNote(int isValid) { return isValid ? "" : ", not valid"; }

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

std::string fmtLimit(double maxRmsError)
{
    return std::isinf(maxRmsError) && maxRmsError > 0 ? "none" : fmt(maxRmsError);
}

Json indicesJson(std::span<const int32_t> indices) { return std::vector<int32_t>(indices.begin(), indices.end()); }

Json discardedJson(std::span<const int32_t> indices, const std::vector<zmath_vect>& points)
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

std::string discardedText(std::span<const int32_t> indices, const std::vector<zmath_vect>& points)
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

int conclude(Outcome& out, const std::vector<zmath_vect>& points, const Describe& describe, const Draw& draw)
{
    const bool failed = zfit::failed(out.status);
    if (!failed) describe(out);
    if (!out.common->svg.empty()) {
        Figure figure = failed ? failureFigure(out.command, points, out.status) : draw();
        figure.yDown(out.common->yDown);
        figure.write(out.common->svg);
    }
    return finish(out);
}

int finish(const Outcome& o)
{
    const bool failed = ZFIT_FAILED(o.status);
    const bool cancelled = failed && o.status == zsys_errCancelled && o.common->timeout > 0.0;
    if (o.common->json) {
        Json out{
            {"command", o.command}, {"input", o.common->input},       {"count", o.count},
            {"params", o.params},   {"status", statusJson(o.status)}, {"result", failed ? Json(nullptr) : o.result}};
        if (!failed && o.extra.is_object())
            for (auto& [key, value] : o.extra.items()) out[key] = value;
        std::cout << out.dump(2) << "\n";
    } else if (!failed) {
        std::cout << o.summary;
    }
    std::cout.flush();
    if (failed) {
        std::string message =
            "zfit: " + o.command + " fit " + (cancelled ? "cancelled" : "failed") + ": " + statusText(o.status);
        message += ": ";
        message += cancelled ? "the --timeout ran out before the search finished" : failureText(o.status);
        std::cerr << message << "\n";
        return cancelled ? exitCancelled : exitFailed;
    }
    return o.valid ? exitValid : exitNotValid;
}

}  // namespace zcli
