// The zfit command's shared pieces: input tables, option groups, the watch
// that shows progress and enforces --timeout, the report (summary or JSON,
// exit status) and the SVG figure. Each family's subcommand lives in its own
// fit_<family>.cpp and uses only what is declared here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include <zfit/metrology/metrology.hpp>
#include <zfit/zfit.hpp>

namespace CLI {
class App;
class Option;
}  // namespace CLI
struct zmet_roundnessResult;

namespace zcli {

using Json = nlohmann::ordered_json;

// ---- exit statuses ---------------------------------------------------------

enum Exit : int {
    exitValid = 0,      // the fit succeeded and its error is below --max-rms
    exitNotValid = 1,   // the fit succeeded but isValid is 0
    exitUsage = 2,      // bad usage, unreadable or malformed input, unwritable output
    exitFailed = 3,     // the library returned a failure status
    exitCancelled = 4,  // the search was stopped by --timeout
};

// A problem with the command line, the input or an output file. main prints
// "zfit: <what>" and exits with exitUsage.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---- input tables ----------------------------------------------------------

// What a subcommand reads from each row: the names of its columns in order
// (they are also the keys of JSON object rows) and whether a weight column
// follows them.
struct Layout {
    std::vector<std::string> columns;
    bool weighted = false;
    bool weightsOffered = false;  // the family has a weighted fit (--weights)
    std::size_t width() const { return columns.size() + (weighted ? 1 : 0); }
    std::string describe() const;  // "x, y, weight"
};

// Rows of numbers read from a file, all of the layout's width.
struct Table {
    std::string source;  // the name used in messages ("<stdin>" for -)
    std::size_t width = 0;
    std::vector<double> values;      // row by row
    std::vector<std::size_t> lines;  // the line of the input where each row starts

    std::size_t rows() const { return width == 0 ? 0 : values.size() / width; }
    // The row count as the library's 32-bit count (UsageError when too many).
    int32_t count() const;
    double at(std::size_t row, std::size_t column) const { return values[row * width + column]; }
    // Column pair (c, c + 1) of every row as points.
    std::vector<zmath_vect> points(std::size_t column = 0) const;
    // One column of every row.
    std::vector<double> column(std::size_t column) const;
};

// Reads a table from text: CSV or whitespace-separated numbers, an optional
// header line, # comments; or JSON: an array of rows, each an array of
// numbers or an object keyed by the column names. Throws UsageError with
// "source:line:column: what" for malformed input.
Table parseTable(std::string_view text, const std::string& source, const Layout& layout);
// The same from a file ("-" reads standard input).
Table readTable(const std::string& path, const Layout& layout);

// ---- options shared by the fitting subcommands ----------------------------

struct Common {
    std::string input;
    bool json = false;
    std::string svg;
    bool yDown = false;    // the picture in image coordinates
    double timeout = 0.0;  // seconds; 0 = none
    bool quiet = false;    // no progress on standard error
    bool weights = false;  // only where the family offers weights
};

// What a fitting subcommand offers besides its own options.
struct Offers {
    bool weights = false;             // --weights: the family has a weighted fit
    bool search = false;              // --timeout and --quiet: a search runs that may take long
    const char* limit = "--max-rms";  // the option the validity is judged by (nullptr: none)
};

// Adds FILE, --json, --svg, --y-down (and --weights, --timeout and --quiet
// when offered).
void addCommonOptions(CLI::App& command, Common& common, const Offers& offers);
// The exit statuses, for the help of the command (offers null) or of a
// subcommand.
std::string exitStatusHelp(const Offers* offers);

// A subcommand registers what runs when it was chosen.
using Action = std::function<int()>;
struct Registry {
    std::vector<std::pair<CLI::App*, Action>> actions;
    void add(CLI::App* command, Action action) { actions.emplace_back(command, std::move(action)); }
};

// The library's default parameters of a family.
template <class P>
P defaults(zfit_status (*init)(P*))
{
    P params{};
    init(&params);
    return params;
}

// The options of a fitting subcommand: the shared ones and the library's
// parameter record P, holding its defaults until options change them. A
// family derives its options from it and adds them to the command in
// add(CLI::App&).
template <class P, zfit_status (*Init)(P*)>
struct FitOptions {
    Common common;
    P params = defaults(Init);
};

// Adds a fitting subcommand: the family's own options (added by `options`),
// then the shared ones; `action` runs when it was chosen.
CLI::App* addFitCommand(CLI::App& app, Registry& registry, const std::string& name, const std::string& description,
                        Common& common, const Offers& offers, const std::function<void(CLI::App&)>& options,
                        Action action);
// The same for a family's options O (a FitOptions with add()): run(o) runs
// when the subcommand was chosen.
template <class O>
CLI::App* addFitCommand(CLI::App& app, Registry& registry, const std::string& name, const std::string& description,
                        const Offers& offers, int (*run)(const O&))
{
    auto o = std::make_shared<O>();
    return addFitCommand(
        app, registry, name, description, o->common, offers, [&o](CLI::App& command) { o->add(command); },
        [o, run] { return run(*o); });
}
// An option taking a value, its default shown in --help.
void addValue(CLI::App& command, const std::string& name, int32_t& value, const std::string& text,
              const std::string& typeName);
void addValue(CLI::App& command, const std::string& name, double& value, const std::string& text,
              const std::string& typeName);
void addValue(CLI::App& command, const std::string& name, std::string& value, const std::string& text,
              const std::string& typeName);
// --max-rms R.
void addMaxRms(CLI::App& command, double& maxRmsError);

// ---- progress and timeout --------------------------------------------------

// How a search polls the attention check: `passes` polls in all (the
// library's plan, zfit/family/search_plan.hpp; negative when no count is
// known beforehand), and the share of the work done after `done` polls (for
// the progress estimate).
struct SearchPlan {
    std::string label;  // "ranked search"
    int64_t passes = 0;
    std::function<double(int64_t done)> fraction;
};

// Installs the attention check on this thread for its lifetime: counts the
// polls, shows progress on standard error once a search has run for about a
// second, and cancels the search (zsys_errCancelled) after --timeout.
class Watch {
public:
    Watch(const Common& common, SearchPlan plan);
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    bool cancelled() const { return cancelled_; }
    int64_t polls() const { return polls_; }

private:
    static zfit_status poll(void* self);
    void draw(bool final);

    SearchPlan plan_;
    bool quiet_;
    bool terminal_;
    bool timed_;
    zsys_deadline deadline_{};
    int64_t polls_ = 0;
    bool cancelled_ = false;
    bool drawn_ = false;
    int64_t startNs_ = 0;
    int64_t lastDrawNs_ = 0;
    zsys_attentionFn previous_ = nullptr;
    void* previousContext_ = nullptr;
};

// ---- report ----------------------------------------------------------------

// A status as JSON: {"code": -2147482238, "hex": "0x80000582", "name": ...}.
Json statusJson(zfit_status status);
// "zmath_errDegenerate (0x80000582)".
std::string statusText(zfit_status status);
// What a failure means for people: the status table's text, with the
// option behind it when there is one.
std::string failureText(zfit_status status);
// Throws UsageError when the library's check of a parameter record (its
// status `validated`) refused it, before any fit: "line: --max-rms must be
// a limit of 0 or more (zmath_errFitMaxRmsErrorNegative)".
void refuseParams(const std::string& command, zfit_status validated);
// The same for a limit of iterations below 1.
void refuseIterations(const std::string& command, int32_t maxIterations);
// A double for JSON: non-finite values become null.
Json number(double value);
Json vectJson(const zmath_vect& v);
// {"translation": {x, y}, "matrix": {m00, m01, m10, m11}}.
Json xformJson(const zmath_xformLinear& x);

// Aligned "label  value" lines for the readable summary.
class Summary {
public:
    explicit Summary(std::string heading) : text_(std::move(heading) + "\n") {}
    Summary& row(const std::string& label, const std::string& value);
    // "valid  yes   (limit 0.05)".
    Summary& validity(int isValid, double limit);
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

std::string fmt(double value);                 // 7 significant digits
std::string fmtPoint(const zmath_vect& v);     // "(x, y)"
std::string fmtAngle(double radians);          // "26.56505 deg (0.4636476 rad)"
std::string fmtLimit(double maxRmsError);      // "0.05" or "none"
std::string fmtMatrix(const zmath_matrix& m);  // "[m00 m01; m10 m11]"

// What a fitting subcommand hands to finish().
struct Outcome {
    Outcome(std::string command_, const Common& common_, std::size_t count_, zfit_status status_, int isValid,
            Json params_)
        : command(std::move(command_)), common(&common_), count(count_), status(status_), valid(isValid != 0),
          params(std::move(params_))
    {}

    std::string command;  // "line"
    const Common* common = nullptr;
    std::size_t count = 0;  // rows read
    zfit_status status = 0;
    bool valid = false;   // the result's isValid after a successful fit
    Json params;          // the parameter record
    Json result;          // the result record, every field
    Json extra;           // further members of the JSON object (may be null)
    std::string summary;  // the readable summary of a successful fit
};

// Prints the summary or the JSON object, reports a failure on standard
// error, and returns the exit status.
int finish(const Outcome& outcome);

// ---- the skeleton of a fitting subcommand ----------------------------------

class Figure;
//
// Every fitting subcommand reads its table, runs its fit into a result
// record (under the watch when it searches), and hands the outcome to
// conclude(): after a success the family describes its result (JSON fields
// and summary) and draws its picture; after a failure the picture shows the
// points and the status. A family writes only its options, its fit call, its
// description and its picture.

// Runs fit(record) when the result record could be constructed; a record
// that could not be (out of memory) is the fit's failure.
template <class R, class Fit>
zfit_status fitInto(zfit::Result<R>& result, Fit&& fit)
{
    return zfit::failed(result.status()) ? result.status() : fit(result.get());
}
// The same under the watch of a search.
template <class R, class Fit>
zfit_status fitInto(zfit::Result<R>& result, const Common& common, SearchPlan plan, Fit&& fit)
{
    Watch watch(common, std::move(plan));
    return fitInto(result, std::forward<Fit>(fit));
}

// Fills the outcome's result, extra and summary after a successful fit.
using Describe = std::function<void(Outcome&)>;
// The picture of a successful fit.
using Draw = std::function<Figure()>;

// Describes a successful fit, writes the picture asked for with --svg (the
// failure picture over `points` when the fit failed) and reports through
// finish().
int conclude(Outcome& out, const std::vector<zmath_vect>& points, const Describe& describe, const Draw& draw);

// Indices as a JSON array.
Json indicesJson(std::span<const int32_t> indices);
// Discarded points as JSON: [{"index": i, "x": .., "y": ..}, ...].
Json discardedJson(std::span<const int32_t> indices, const std::vector<zmath_vect>& points);
// Discarded points for the summary: "#3 (4, 9), #7 (...)" or "none".
std::string discardedText(std::span<const int32_t> indices, const std::vector<zmath_vect>& points);
// "40 points, 3 discarded".
std::string countText(std::size_t points, std::size_t discarded);
// ", not valid" after the notes of a picture, or "".
const char* invalidNote(int isValid);

// ---- uncertainty of a fit ---------------------------------------------------

// "31.37 ± 0.04   (95%: 31.29 .. 31.45)" for parameter k of the fit.
std::string fmtMeasured(double value, const zmet_uncertainty& u, int parameter);
// {"parameters": names, "covariance": [[...]], "std_errors": [...],
//  "intervals95": [[low, high], ...], "sigma", "degreesOfFreedom", "t95"}.
Json uncertaintyJson(const zmet_uncertainty& u, const std::vector<std::string>& names,
                     const std::vector<double>& values);
// "0.0184   (117 degrees of freedom, t = 1.98)".
std::string sigmaText(const zmet_uncertainty& u);
// ---- robust fits and --ignore auto -------------------------------------------

// --robust, --clip, --scale and the --ignore N|auto of the families with an
// exact outlier search.
struct RobustChoice {
    std::string estimator;  // "", or huber, tukey, clip
    double clip = 0.0;
    const CLI::Option* clipOption = nullptr;
    double scale = 0.0;
    const CLI::Option* scaleOption = nullptr;
    std::string ignore = "0";

    // Adds --robust, --clip and --scale.
    void add(CLI::App& command);
    // Adds --ignore N|auto with the family's help.
    void addIgnore(CLI::App& command, const std::string& help);
    bool robust() const { return !estimator.empty(); }
    bool autoIgnore() const { return ignore == "auto"; }
    // The numeric --ignore (UsageError for anything but a count or "auto").
    int32_t ignoreCount() const;
    // The library's parameters: the estimator (Tukey's for --ignore auto
    // alone; an unknown name is the library's to refuse), its default clip
    // unless --clip, the given scale with --scale.
    zmet_robustParams params(double maxRmsError) const;
};

// The parameter record as JSON.
Json robustParamsJson(const zmet_robustParams& p);

// The exact search's count: the number --ignore gives, or with --ignore
// auto the outlier count of the robust fit that fit(params, record) runs
// into a record of type R. Returns the robust fit's status.
template <class R, class Fit>
zfit_status searchCount(const RobustChoice& choice, double maxRmsError, Fit&& fit, int32_t& numIgnore)
{
    if (!choice.autoIgnore()) {
        numIgnore = choice.ignoreCount();
        return zfit_ok;
    }
    const zmet_robustParams params = choice.params(maxRmsError);
    zfit::Result<R> counted;
    const zfit_status status = zfit::failed(counted.status()) ? counted.status() : fit(params, counted.get());
    if (!zfit::failed(status)) numIgnore = static_cast<int32_t>(zfit::outliers(counted->robust).size());
    return status;
}
// The report of an --ignore auto whose robust fit failed.
int autoFailed(const std::string& command, const Common& common, const Table& table,
               const std::vector<zmath_vect>& points, zfit_status status);
// A robust fit's members of the JSON result (scale, inlierCount,
// iterations, converged, outliers, weights, residuals) and its summary rows
// (scale, inliers, iterations, outliers with their coordinates).
void describeRobust(Outcome& out, Summary& summary, const zmet_robustOutcome& o, const std::vector<zmath_vect>& points);
// ---- SVG figure --------------------------------------------------------------

// A plot in the plane of the points: equal scale on both axes, y upwards
// (or downwards from the top left, as images count, with yDown), grid, axes
// with labelled ticks, a legend. Bounded items (points, circles, ellipses,
// segments) set the extent; lines, strips and parabolas are drawn across it.
class Figure {
public:
    enum class Mark { kept, discarded, target, source, mapped };

    explicit Figure(std::string title);

    // weight in [0, 1] shades a kept point (a robust fit's final weight).
    void point(const zmath_vect& p, Mark mark, double weight = 1.0);
    void points(const std::vector<zmath_vect>& ps, Mark mark);
    void segment(const zmath_vect& a, const zmath_vect& b, const std::string& css);
    void line(const zmath_shapeFLine& line, const std::string& css);
    // The strip of the given half-width about the line.
    void strip(const zmath_shapeFLine& line, double halfWidth);
    void circle(const zmath_vect& centre, double radius);
    // The ring between two concentric circles, shaded like a strip.
    void annulus(const zmath_vect& centre, double inner, double outer);
    // Centre, the radius along `angle` and the one across it.
    void ellipse(const zmath_vect& centre, double radius1, double radius2, double angle);
    // y = a x^2 in the frame placed by the pose.
    void parabola(const zmath_xformRigid& pose, double coefficient);
    void cross(const zmath_vect& p, const std::string& css);  // a marked centre or vertex
    // A legend entry: a swatch drawn with `css` ("line", "point", ...).
    void legend(const std::string& text, const std::string& kind);
    void note(const std::string& text);  // a line of text under the title
    // Leaves out the tick labels of an axis whose coordinates the figure
    // does not show true (a magnified direction).
    void hideTickLabels(bool x, bool y) { hideX_ = x, hideY_ = y; }
    // Names the axes in place of x and y: a plot in a frame of its own (a
    // line's: along it and across it).
    void axisNames(std::string x, std::string y) { xName_ = std::move(x), yName_ = std::move(y); }
    // The y coordinates are drawn `magnify` times enlarged: the tick labels
    // give them divided by it, as they are.
    void yMagnified(double magnify) { yMagnify_ = magnify; }
    // Image coordinates: y grows downwards, the origin at the top left.
    void yDown(bool down) { yDown_ = down; }

    std::string svg() const;
    // Writes the figure; throws UsageError when the file cannot be written.
    void write(const std::string& path) const;

private:
    struct Item {
        enum class Kind { point, segment, line, strip, circle, ellipse, parabola, cross, annulus } kind;
        zmath_vect a{}, b{};
        double r1 = 0, r2 = 0, angle = 0;
        zmath_xformRigid pose{};
        zmath_shapeFLine fline{};
        Mark mark = Mark::kept;
        double weight = 1.0;
        std::string css{};
    };
    std::string title_;
    bool hideX_ = false, hideY_ = false;
    std::string xName_ = "x", yName_ = "y";
    double yMagnify_ = 1.0;
    bool yDown_ = false;
    std::vector<std::string> notes_;
    std::vector<std::pair<std::string, std::string>> legend_;
    std::vector<Item> items_;
};

// The points, those at the given indices marked as discarded, with their
// legend entries.
void addPoints(Figure& figure, const std::vector<zmath_vect>& points, std::span<const int32_t> discarded);
// The points of a robust fit: its outliers marked as discarded, the others
// shaded by their final weight, with their legend entries.
void addWeightedPoints(Figure& figure, const std::vector<zmath_vect>& points, const zmet_robustOutcome& o);
// The centre of a fitted closed shape marked, the points (discarded ones
// marked) and the legend: `shape` for the shape drawn with "fit", and the
// centre.
void addCentred(Figure& figure, const zmath_vect& centre, const std::vector<zmath_vect>& points,
                std::span<const int32_t> discarded, const std::string& shape);
// "rmsError 0.01, 40 points, 3 discarded" with ", not valid" after a fit
// that is not; `error` names the error ("rmsError").
std::string errorNote(const std::string& error, double value, std::size_t points, std::size_t discarded, int isValid);
// How much to enlarge residual vectors so that the largest shows against
// the extent of the points: 1, 10, 100, ...
double enlargement(const std::vector<zmath_vect>& from, const std::vector<zmath_vect>& to);
// The picture of a failed fit: the points and the status.
Figure failureFigure(const std::string& command, const std::vector<zmath_vect>& points, zfit_status status);

// ---- the family subcommands -----------------------------------------------

void addLineCommand(CLI::App& app, Registry& registry);
void addCircleCommand(CLI::App& app, Registry& registry);
void addEllipseCommand(CLI::App& app, Registry& registry);
void addParabolaCommand(CLI::App& app, Registry& registry);
void addPointToPointCommand(CLI::App& app, Registry& registry);
void addPointToLineCommand(CLI::App& app, Registry& registry);
void addRoundnessCommand(CLI::App& app, Registry& registry);

// Figures of a fit, shared by the subcommands and `zfit demo --svg`.
Figure lineFigure(const std::vector<zmath_vect>& points, const zmath_lineFitResult& result, int32_t mode);
// kind: "free radius", "fixed radius" or "weighted".
Figure circleFigure(const std::vector<zmath_vect>& points, const zmath_circleFitResult& result,
                    const std::string& kind);
Figure ellipseFigure(const std::vector<zmath_vect>& points, const zmath_ellipseFitResult& result);
Figure parabolaFigure(const std::vector<zmath_vect>& points, const zmath_parabolaFitResult& result, bool weighted);
Figure pointToPointFigure(const std::vector<zmath_vect>& targets, const std::vector<zmath_vect>& sources,
                          const zmath_pointToPointFitResult& result, int32_t dof);
Figure pointToLineFigure(const std::vector<zmath_vect>& points, const std::vector<zmath_shapeFLine>& lines,
                         const zmath_pointToLineFitResult& result);
// method: "minimum zone", "circumscribed" or "inscribed".
Figure roundnessFigure(const std::vector<zmath_vect>& points, const zmet_roundnessResult& result,
                       const std::string& method);

}  // namespace zcli
