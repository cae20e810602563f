// SVG figures of fits: the points, the fitted shape, axes and a legend.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <numbers>

#include "cli.hpp"

namespace zcli {

namespace {

constexpr double kMaxPlotWidth = 680.0;
constexpr double kMaxPlotHeight = 520.0;
constexpr double kLeft = 78.0;
constexpr double kRight = 24.0;
constexpr double kTitleHeight = 30.0;
constexpr double kNoteHeight = 17.0;
constexpr double kAxisLabels = 34.0;
constexpr double kLegendRow = 20.0;

// Presentation of each class of element; every element carries its class too,
// so that scripts can find the parts of a figure.
const std::map<std::string, std::string>& styles()
{
    static const std::map<std::string, std::string> table = {
        {"kept", R"(fill="#1f5fa8" stroke="none")"},
        {"discarded", R"(fill="none" stroke="#d62728" stroke-width="2")"},
        {"target", R"(fill="none" stroke="#238b45" stroke-width="1.6")"},
        {"source", R"(fill="#b0b0b0" stroke="none")"},
        {"mapped", R"(fill="#e6550d" stroke="none")"},
        {"fit", R"(fill="none" stroke="#e6550d" stroke-width="2")"},
        {"strip", R"(fill="#fdae6b" fill-opacity="0.3" stroke="#e6550d" stroke-width="1" stroke-dasharray="5,3")"},
        {"given", R"(fill="none" stroke="#6a51a3" stroke-width="1.2")"},
        {"residual", R"(fill="none" stroke="#555555" stroke-width="1")"},
        {"centre", R"(fill="none" stroke="#e6550d" stroke-width="1.5")"},
        {"grid", R"(fill="none" stroke="#e4e4e4" stroke-width="1")"},
        {"axis", R"(fill="none" stroke="#8a8a8a" stroke-width="1.2")"},
        {"frame", R"(fill="none" stroke="#444444" stroke-width="1")"},
    };
    return table;
}

std::string style(const std::string& cls)
{
    auto it = styles().find(cls);
    return "class=\"" + cls + "\" " + (it == styles().end() ? std::string() : it->second);
}

std::string escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string num(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::abs(v) < 0.005 ? 0.0 : v);
    return text;
}

// 1, 2 or 5 times a power of ten, about range / 8.
double niceStep(double range)
{
    const double raw = range / 8.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double m = raw / power;
    return (m < 1.5 ? 1.0 : m < 3.5 ? 2.0 : m < 7.5 ? 5.0 : 10.0) * power;
}

std::string tickLabel(double value, double step)
{
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::abs(value) < step * 1e-6 ? 0.0 : value);
    return text;
}

const char* markClass(Figure::Mark mark)
{
    switch (mark) {
    case Figure::Mark::kept: return "kept";
    case Figure::Mark::discarded: return "discarded";
    case Figure::Mark::target: return "target";
    case Figure::Mark::source: return "source";
    case Figure::Mark::mapped: return "mapped";
    }
    return "kept";
}

}  // namespace

Figure::Figure(std::string title) : title_(std::move(title)) {}

void Figure::point(const zmath_vect& p, Mark mark, double weight)
{
    items_.push_back(Item{.kind = Item::Kind::point, .a = p, .mark = mark, .weight = weight});
}

void Figure::points(const std::vector<zmath_vect>& ps, Mark mark)
{
    for (const zmath_vect& p : ps) point(p, mark);
}

void Figure::segment(const zmath_vect& a, const zmath_vect& b, const std::string& css)
{
    items_.push_back(Item{.kind = Item::Kind::segment, .a = a, .b = b, .css = css});
}

void Figure::line(const zmath_shapeFLine& l, const std::string& css)
{
    items_.push_back(Item{.kind = Item::Kind::line, .fline = l, .css = css});
}

void Figure::strip(const zmath_shapeFLine& l, double halfWidth)
{
    items_.push_back(Item{.kind = Item::Kind::strip, .r1 = halfWidth, .fline = l});
}

void Figure::circle(const zmath_vect& centre, double radius)
{
    items_.push_back(Item{.kind = Item::Kind::circle, .a = centre, .r1 = radius});
}

void Figure::annulus(const zmath_vect& centre, double inner, double outer)
{
    items_.push_back(Item{.kind = Item::Kind::annulus, .a = centre, .r1 = inner, .r2 = outer});
}

void Figure::ellipse(const zmath_vect& centre, double radius1, double radius2, double angle)
{
    items_.push_back(Item{.kind = Item::Kind::ellipse, .a = centre, .r1 = radius1, .r2 = radius2, .angle = angle});
}

void Figure::parabola(const zmath_xformRigid& pose, double coefficient)
{
    items_.push_back(Item{.kind = Item::Kind::parabola, .r1 = coefficient, .pose = pose});
}

void Figure::cross(const zmath_vect& p, const std::string& css)
{
    items_.push_back(Item{.kind = Item::Kind::cross, .a = p, .css = css});
}

void Figure::legend(const std::string& text, const std::string& kind) { legend_.emplace_back(text, kind); }

void Figure::note(const std::string& text) { notes_.push_back(text); }

std::string Figure::svg() const
{
    // Extent of the bounded items.
    double x0 = HUGE_VAL, x1 = -HUGE_VAL, y0 = HUGE_VAL, y1 = -HUGE_VAL;
    auto include = [&](double x, double y) {
        if (!std::isfinite(x) || !std::isfinite(y)) return;
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    };
    for (const Item& it : items_) {
        switch (it.kind) {
        case Item::Kind::point:
        case Item::Kind::cross: include(it.a.x, it.a.y); break;
        case Item::Kind::segment:
            include(it.a.x, it.a.y);
            include(it.b.x, it.b.y);
            break;
        case Item::Kind::circle:
            include(it.a.x - it.r1, it.a.y - it.r1);
            include(it.a.x + it.r1, it.a.y + it.r1);
            break;
        case Item::Kind::annulus:
            include(it.a.x - it.r2, it.a.y - it.r2);
            include(it.a.x + it.r2, it.a.y + it.r2);
            break;
        case Item::Kind::ellipse: {
            const double c = std::cos(it.angle), s = std::sin(it.angle);
            const double ex = std::hypot(it.r1 * c, it.r2 * s), ey = std::hypot(it.r1 * s, it.r2 * c);
            include(it.a.x - ex, it.a.y - ey);
            include(it.a.x + ex, it.a.y + ey);
            break;
        }
        default: break;
        }
    }
    if (x0 > x1) x0 = -1, x1 = 1, y0 = -1, y1 = 1;
    double w = x1 - x0, h = y1 - y0;
    double span = std::max(w, h);
    if (!(span > 1e-9 * std::max({std::abs(x0), std::abs(y0), std::abs(x1), std::abs(y1), 1e-300}))) {
        // A single spot: show a unit square around it.
        x0 -= 0.5, y0 -= 0.5, w = h = span = 1.0;
    }
    // Keep both extents at least a fifth of the larger one, plus a margin.
    if (w < span * 0.2) x0 -= (span * 0.2 - w) / 2, w = span * 0.2;
    if (h < span * 0.2) y0 -= (span * 0.2 - h) / 2, h = span * 0.2;
    const double margin = 0.08 * span;
    x0 -= margin, y0 -= margin, w += 2 * margin, h += 2 * margin;
    x1 = x0 + w, y1 = y0 + h;

    const double scale = std::min(kMaxPlotWidth / w, kMaxPlotHeight / h);
    const double plotW = w * scale, plotH = h * scale;
    const double top = kTitleHeight + kNoteHeight * static_cast<double>(notes_.size()) + 8.0;
    std::size_t longest = title_.size() * 3 / 2;  // the title's letters are larger
    for (const std::string& n : notes_) longest = std::max(longest, n.size());
    const double width = std::max({kLeft + plotW + kRight, 520.0, kLeft + 7.0 * static_cast<double>(longest) + kRight});
    const double legendTop = top + plotH + kAxisLabels;
    const double height = legendTop + kLegendRow * static_cast<double>(legend_.size()) + 10.0;
    auto px = [&](double x) { return kLeft + (x - x0) * scale; };
    auto py = [&](double y) { return yDown_ ? top + (y - y0) * scale : top + (y1 - y) * scale; };

    std::string out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" + num(height) +
           "\" viewBox=\"0 0 " + num(width) + " " + num(height) + "\" font-family=\"sans-serif\">\n";
    out += "<title>" + escape(title_) + "</title>\n";
    out += "<rect x=\"0\" y=\"0\" width=\"" + num(width) + "\" height=\"" + num(height) + "\" fill=\"#ffffff\"/>\n";
    out += "<defs><clipPath id=\"plot\"><rect x=\"" + num(kLeft) + "\" y=\"" + num(top) + "\" width=\"" + num(plotW) +
           "\" height=\"" + num(plotH) + "\"/></clipPath></defs>\n";
    out +=
        "<text x=\"" + num(kLeft) + "\" y=\"20\" font-size=\"16\" font-weight=\"bold\">" + escape(title_) + "</text>\n";
    for (std::size_t i = 0; i < notes_.size(); ++i)
        out += "<text x=\"" + num(kLeft) + "\" y=\"" + num(kTitleHeight + 8.0 + kNoteHeight * static_cast<double>(i)) +
               "\" font-size=\"12\" fill=\"#333333\">" + escape(notes_[i]) + "</text>\n";

    // Grid, axes through the origin when it is in view, tick labels.
    const double step = niceStep(std::max(w, h));
    out += "<g id=\"grid\">\n";
    for (double gx = std::ceil(x0 / step) * step; gx <= x1; gx += step) {
        out += "<line " + style("grid") + " x1=\"" + num(px(gx)) + "\" y1=\"" + num(top) + "\" x2=\"" + num(px(gx)) +
               "\" y2=\"" + num(top + plotH) + "\"/>\n";
        if (!hideX_)
            out += "<text class=\"x-tick\" x=\"" + num(px(gx)) + "\" y=\"" + num(top + plotH + 16) +
                   "\" font-size=\"11\" text-anchor=\"middle\" fill=\"#333333\">" + tickLabel(gx, step) + "</text>\n";
    }
    for (double gy = std::ceil(y0 / step) * step; gy <= y1; gy += step) {
        out += "<line " + style("grid") + " x1=\"" + num(kLeft) + "\" y1=\"" + num(py(gy)) + "\" x2=\"" +
               num(kLeft + plotW) + "\" y2=\"" + num(py(gy)) + "\"/>\n";
        if (!hideY_)
            out += "<text class=\"y-tick\" x=\"" + num(kLeft - 6) + "\" y=\"" + num(py(gy) + 4) +
                   "\" font-size=\"11\" text-anchor=\"end\" fill=\"#333333\">" +
                   tickLabel(gy / yMagnify_, step / yMagnify_) + "</text>\n";
    }
    if (x0 <= 0 && 0 <= x1 && !hideX_)
        out += "<line " + style("axis") + " x1=\"" + num(px(0)) + "\" y1=\"" + num(top) + "\" x2=\"" + num(px(0)) +
               "\" y2=\"" + num(top + plotH) + "\"/>\n";
    if (y0 <= 0 && 0 <= y1 && !hideY_)
        out += "<line " + style("axis") + " x1=\"" + num(kLeft) + "\" y1=\"" + num(py(0)) + "\" x2=\"" +
               num(kLeft + plotW) + "\" y2=\"" + num(py(0)) + "\"/>\n";
    out += "<text x=\"" + num(kLeft + plotW) + "\" y=\"" + num(top + plotH + 30) +
           "\" font-size=\"11\" text-anchor=\"end\" fill=\"#333333\">" + escape(xName_) + " (grid " +
           tickLabel(step, step) + ")</text>\n";
    // The y axis's name along its side from the top, read the way y grows.
    out += "<text x=\"14\" y=\"" + num(top) + "\" font-size=\"11\" fill=\"#333333\" transform=\"rotate(" +
           (yDown_ ? "90" : "-90") + " 14 " + num(top) + ")\" text-anchor=\"" + (yDown_ ? "start" : "end") + "\">" +
           escape(yName_) + (yDown_ ? " (downwards)" : "") + "</text>\n";
    out += "</g>\n";

    // The items, shapes under points, clipped to the plot.
    const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2, reach = std::hypot(w, h);
    auto lineEnds = [&](const zmath_shapeFLine& l, double offset, zmath_vect& a, zmath_vect& b) {
        const double c = std::cos(l.angle), s = std::sin(l.angle);
        const double nx = -s, ny = c, d = l.d + offset;
        const double along = (cx - nx * d) * c + (cy - ny * d) * s;  // the view centre's foot on the line
        const double fx = nx * d + along * c, fy = ny * d + along * s;
        a = {fx - reach * c, fy - reach * s};
        b = {fx + reach * c, fy + reach * s};
    };
    std::string shapes, marks;
    for (const Item& it : items_) {
        switch (it.kind) {
        case Item::Kind::strip: {
            zmath_vect a, b, c, d;
            lineEnds(it.fline, -it.r1, a, b);
            lineEnds(it.fline, it.r1, d, c);
            shapes += "<polygon " + style("strip") + " points=\"" + num(px(a.x)) + "," + num(py(a.y)) + " " +
                      num(px(b.x)) + "," + num(py(b.y)) + " " + num(px(c.x)) + "," + num(py(c.y)) + " " + num(px(d.x)) +
                      "," + num(py(d.y)) + "\"/>\n";
            break;
        }
        case Item::Kind::line: {
            zmath_vect a, b;
            lineEnds(it.fline, 0.0, a, b);
            shapes += "<line " + style(it.css) + " x1=\"" + num(px(a.x)) + "\" y1=\"" + num(py(a.y)) + "\" x2=\"" +
                      num(px(b.x)) + "\" y2=\"" + num(py(b.y)) + "\"/>\n";
            break;
        }
        case Item::Kind::segment:
            shapes += "<line " + style(it.css) + " x1=\"" + num(px(it.a.x)) + "\" y1=\"" + num(py(it.a.y)) +
                      "\" x2=\"" + num(px(it.b.x)) + "\" y2=\"" + num(py(it.b.y)) + "\"/>\n";
            break;
        case Item::Kind::circle:
            shapes += "<circle " + style("fit") + " cx=\"" + num(px(it.a.x)) + "\" cy=\"" + num(py(it.a.y)) +
                      "\" r=\"" + num(it.r1 * scale) + "\"/>\n";
            break;
        case Item::Kind::annulus: {
            // Two circles as one path, filled between them (even-odd).
            const double X = px(it.a.x), Y = py(it.a.y);
            std::string d;
            for (const double r : {it.r2 * scale, std::max(it.r1, 0.0) * scale})
                d += "M" + num(X - r) + "," + num(Y) + " a" + num(r) + "," + num(r) + " 0 1,0 " + num(2 * r) + ",0 a" +
                     num(r) + "," + num(r) + " 0 1,0 " + num(-2 * r) + ",0 ";
            shapes += "<path " + style("strip") + " fill-rule=\"evenodd\" d=\"" + d + "\"/>\n";
            break;
        }
        case Item::Kind::ellipse:
            shapes += "<ellipse " + style("fit") + " cx=\"" + num(px(it.a.x)) + "\" cy=\"" + num(py(it.a.y)) +
                      "\" rx=\"" + num(it.r1 * scale) + "\" ry=\"" + num(it.r2 * scale) + "\" transform=\"rotate(" +
                      num((yDown_ ? 1.0 : -1.0) * it.angle * 180.0 / std::numbers::pi) + " " + num(px(it.a.x)) + " " +
                      num(py(it.a.y)) + ")\"/>\n";
            break;
        case Item::Kind::parabola: {
            // Sample the curve over the part of its own x range that the view covers.
            const double c = it.pose.cosine, s = it.pose.sine, tx = it.pose.translation.x, ty = it.pose.translation.y;
            double u0 = HUGE_VAL, u1 = -HUGE_VAL, vmax = 0;
            for (double X : {x0, x1})
                for (double Y : {y0, y1}) {
                    const double u = c * (X - tx) + s * (Y - ty), v = -s * (X - tx) + c * (Y - ty);
                    u0 = std::min(u0, u), u1 = std::max(u1, u), vmax = std::max(vmax, std::abs(v));
                }
            if (it.r1 != 0.0) {
                const double limit = 1.05 * std::sqrt(vmax / std::abs(it.r1));
                u0 = std::max(u0, -limit), u1 = std::min(u1, limit);
            }
            if (!(u0 < u1)) break;
            shapes += "<polyline " + style("fit") + " points=\"";
            constexpr int kSamples = 400;
            for (int k = 0; k <= kSamples; ++k) {
                const double u = u0 + (u1 - u0) * k / kSamples, v = it.r1 * u * u;
                const double X = c * u - s * v + tx, Y = s * u + c * v + ty;
                shapes += num(px(X)) + "," + num(py(Y)) + (k < kSamples ? " " : "");
            }
            shapes += "\"/>\n";
            break;
        }
        case Item::Kind::cross: {
            const double X = px(it.a.x), Y = py(it.a.y);
            shapes += "<path " + style(it.css.empty() ? "centre" : it.css) + " d=\"M" + num(X - 7) + "," + num(Y) +
                      " H" + num(X + 7) + " M" + num(X) + "," + num(Y - 7) + " V" + num(Y + 7) + "\"/>\n";
            break;
        }
        case Item::Kind::point: {
            const double X = px(it.a.x), Y = py(it.a.y);
            const char* cls = markClass(it.mark);
            if (it.mark == Mark::discarded)
                marks += "<path " + style(cls) + " d=\"M" + num(X - 5) + "," + num(Y - 5) + " L" + num(X + 5) + "," +
                         num(Y + 5) + " M" + num(X - 5) + "," + num(Y + 5) + " L" + num(X + 5) + "," + num(Y - 5) +
                         "\"/>\n";
            else
                marks += "<circle " + style(cls) + " cx=\"" + num(X) + "\" cy=\"" + num(Y) + "\" r=\"" +
                         (it.mark == Mark::target ? "5" : "3") + "\"" +
                         // A weight shades the point, never below visibility.
                         (it.weight < 1.0 ? " fill-opacity=\"" + num(std::max(it.weight, 0.15)) + "\"" : "") + "/>\n";
            break;
        }
        }
    }
    out += "<g id=\"shapes\" clip-path=\"url(#plot)\">\n" + shapes + "</g>\n";
    out += "<g id=\"points\" clip-path=\"url(#plot)\">\n" + marks + "</g>\n";
    out += "<rect " + style("frame") + " x=\"" + num(kLeft) + "\" y=\"" + num(top) + "\" width=\"" + num(plotW) +
           "\" height=\"" + num(plotH) + "\"/>\n";

    // Legend: a swatch in the style of each entry's class, then its text.
    out += "<g id=\"legend\">\n";
    for (std::size_t i = 0; i < legend_.size(); ++i) {
        const double y = legendTop + kLegendRow * static_cast<double>(i) + 6;
        const std::string& kind = legend_[i].second;
        const double X = kLeft + 10;
        if (kind == "kept" || kind == "source" || kind == "mapped" || kind == "target")
            out += "<circle " + style(kind) + " cx=\"" + num(X) + "\" cy=\"" + num(y) + "\" r=\"" +
                   (kind == "target" ? "5" : "3") + "\"/>\n";
        else if (kind == "discarded")
            out += "<path " + style(kind) + " d=\"M" + num(X - 5) + "," + num(y - 5) + " L" + num(X + 5) + "," +
                   num(y + 5) + " M" + num(X - 5) + "," + num(y + 5) + " L" + num(X + 5) + "," + num(y - 5) + "\"/>\n";
        else if (kind == "strip")
            out += "<rect " + style(kind) + " x=\"" + num(X - 10) + "\" y=\"" + num(y - 6) +
                   "\" width=\"20\" height=\"12\"/>\n";
        else if (kind == "centre")
            out += "<path " + style(kind) + " d=\"M" + num(X - 7) + "," + num(y) + " H" + num(X + 7) + " M" + num(X) +
                   "," + num(y - 7) + " V" + num(y + 7) + "\"/>\n";
        else
            out += "<line " + style(kind) + " x1=\"" + num(X - 10) + "\" y1=\"" + num(y) + "\" x2=\"" + num(X + 10) +
                   "\" y2=\"" + num(y) + "\"/>\n";
        out += "<text x=\"" + num(X + 20) + "\" y=\"" + num(y + 4) + "\" font-size=\"12\" fill=\"#222222\">" +
               escape(legend_[i].first) + "</text>\n";
    }
    out += "</g>\n</svg>\n";
    return out;
}

void Figure::write(const std::string& path) const
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) throw UsageError("cannot write " + path + ": " + std::strerror(errno));
    file << svg();
    file.close();
    if (!file) throw UsageError("cannot write " + path + ": " + std::strerror(errno));
}

void addPoints(Figure& figure, const std::vector<zmath_vect>& points, std::span<const int32_t> discarded)
{
    std::vector<bool> marked(points.size(), false);
    for (int32_t i : discarded)
        if (i >= 0 && static_cast<std::size_t>(i) < points.size()) marked[static_cast<std::size_t>(i)] = true;
    for (std::size_t i = 0; i < points.size(); ++i)
        figure.point(points[i], marked[i] ? Figure::Mark::discarded : Figure::Mark::kept);
    figure.legend(discarded.empty() ? "points" : "kept points", "kept");
    if (!discarded.empty()) figure.legend("discarded points", "discarded");
}

void addWeightedPoints(Figure& figure, const std::vector<zmath_vect>& points, const zmet_robustOutcome& o)
{
    const std::span<const int32_t> outliers = zfit::outliers(o);
    double heaviest = 0.0;
    for (int32_t i = 0; i < o.weights.size; ++i) heaviest = std::max(heaviest, o.weights.begin[i]);
    std::vector<bool> marked(points.size(), false);
    for (int32_t i : outliers)
        if (i >= 0 && static_cast<std::size_t>(i) < points.size()) marked[static_cast<std::size_t>(i)] = true;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double w =
            i < static_cast<std::size_t>(o.weights.size) && heaviest > 0.0 ? o.weights.begin[i] / heaviest : 1.0;
        figure.point(points[i], marked[i] ? Figure::Mark::discarded : Figure::Mark::kept, w);
    }
    figure.legend("inliers (shaded by weight)", "kept");
    if (!outliers.empty()) figure.legend("outliers", "discarded");
}

double enlargement(const std::vector<zmath_vect>& from, const std::vector<zmath_vect>& to)
{
    double x0 = HUGE_VAL, x1 = -HUGE_VAL, y0 = HUGE_VAL, y1 = -HUGE_VAL, largest = 0.0;
    for (std::size_t i = 0; i < from.size() && i < to.size(); ++i) {
        x0 = std::min(x0, from[i].x), x1 = std::max(x1, from[i].x), y0 = std::min(y0, from[i].y),
        y1 = std::max(y1, from[i].y);
        largest = std::max(largest, std::hypot(to[i].x - from[i].x, to[i].y - from[i].y));
    }
    const double extent = std::max(x1 - x0, y1 - y0);
    double factor = 1.0;
    if (!(largest > 0.0) || !std::isfinite(extent)) return factor;
    while (largest * factor * 40.0 < extent && factor < 1e6) factor *= 10.0;
    return factor;
}

void addCentred(Figure& figure, const zmath_vect& centre, const std::vector<zmath_vect>& points,
                std::span<const int32_t> discarded, const std::string& shape)
{
    figure.cross(centre, "centre");
    addPoints(figure, points, discarded);
    figure.legend(shape, "fit");
    figure.legend("centre", "centre");
}

std::string errorNote(const std::string& error, double value, std::size_t points, std::size_t discarded, int isValid)
{
    return error + " " + fmt(value) + ", " + countText(points, discarded) + invalidNote(isValid);
}

Figure failureFigure(const std::string& command, const std::vector<zmath_vect>& points, zfit_status status)
{
    Figure figure(command + " fit failed");
    figure.note(statusText(status));
    figure.note(failureText(status));
    addPoints(figure, points, {});
    return figure;
}

}  // namespace zcli
