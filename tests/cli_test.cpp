// The zfit command, run as a user runs it: on the example files and on files
// written here, compared field by field with the library's own results.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

#include <nlohmann/json.hpp>

#include "support.hpp"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Rows = std::vector<std::vector<double>>;

const std::string kCommand = ZFIT_CLI;
const std::string kExamples = ZFIT_EXAMPLES;

struct Outcome {
    int code = -1;
    std::string out, err;
};

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Arguments name example files as @name.
std::string expand(std::string args)
{
    for (std::size_t at; (at = args.find('@')) != std::string::npos;) args.replace(at, 1, kExamples + "/");
    return args;
}

// Each test works in a scratch folder of its own (tests run in parallel).
class Cli : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(mkdtemp(dir.data()), nullptr); }
    void TearDown() override { fs::remove_all(dir); }

    std::string write(const std::string& name, const std::string& text)
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
        return dir + "/" + name;
    }

    // Runs a command line with the given standard input.
    Outcome run(const std::string& cmd, const std::string& input = "")
    {
        const std::string redirect = " <" + write("in", input) + " >" + dir + "/out 2>" + dir + "/err";
        const int status = std::system((cmd + redirect).c_str());
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return {code, slurp(dir + "/out"), slurp(dir + "/err")};
    }
    Outcome zfit(const std::string& args, const std::string& in = "") { return run(kCommand + " " + expand(args), in); }

    std::string dir = (fs::temp_directory_path() / "zfit-cli-XXXXXX").string();
};

// The rows of an example file: # comments, a header and blanks or commas.
Rows rowsOf(const std::string& name)
{
    Rows rows;
    std::ifstream in(fs::path(kExamples) / name);
    for (std::string line; std::getline(in, line);) {
        line = line.substr(0, line.find('#'));
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream fields(line);
        std::vector<double> row;
        for (double v; fields >> v;) row.push_back(v);
        if (!row.empty()) rows.push_back(row);
    }
    return rows;
}

std::vector<zmath_vect> pointsOf(const Rows& rows, std::size_t column = 0)
{
    std::vector<zmath_vect> points;
    for (const auto& row : rows) points.push_back({row[column], row[column + 1]});
    return points;
}

std::vector<double> columnOf(const Rows& rows, std::size_t column)
{
    std::vector<double> values;
    for (const auto& row : rows) values.push_back(row[column]);
    return values;
}

int32_t count32(const auto& v) { return static_cast<int32_t>(v.size()); }
template <class P>
P defaults(zfit_status (*init)(P*))
{
    P p;
    init(&p);
    return p;
}
json indices(const zstd_vector32& v) { return std::vector<int32_t>(v.begin, v.begin + v.size); }

// The fields every result record shares, keyed by JSON pointer.
template <class R>
json common(const R& r)
{
    json f = {{"/result/isValid", r.isValid != 0}, {"/result/rmsError", r.rmsError}};
    if constexpr (requires { r.ignoredIndices; }) f["/result/ignoredIndices"] = indices(r.ignoredIndices);
    if constexpr (requires { r.xform; }) {
        const zmath_xformLinear& x = r.xform;
        f.update({{"/result/xform/translation/x", x.translation.x},
                  {"/result/xform/translation/y", x.translation.y},
                  {"/result/xform/matrix/m00", x.matrix.m00},
                  {"/result/xform/matrix/m01", x.matrix.m01},
                  {"/result/xform/matrix/m10", x.matrix.m10},
                  {"/result/xform/matrix/m11", x.matrix.m11}});
    }
    return f;
}

// What the library makes of an example's rows: its status, and the fields
// the command must print keyed by JSON pointer.
using Library = std::function<zfit_status(const Rows&, json&)>;

zfit_status lineFit(int mode, int ignore, double maxRms, const Rows& rows, json& f)
{
    const auto points = pointsOf(rows);
    auto p = defaults(zmath_lineFitParams_init);
    p.mode = mode;
    p.numIgnore = ignore;
    p.maxRmsError = maxRms;
    zfit::Result<zmath_lineFitResult> r;
    const zfit_status s = zmath_lineFit(points.data(), count32(points), &p, r.get());
    f.update(common(*r));
    f.update({{"/count", points.size()},
              {"/params/mode", mode},
              {"/params/numIgnore", ignore},
              {"/params/maxRmsError", std::isinf(maxRms) ? json() : json(maxRms)},
              {"/result/line/angle", r->line.angle},
              {"/result/line/d", r->line.d}});
    return s;
}

zfit_status circleFit(int ignore, bool weighted, const Rows& rows, json& f)
{
    const auto points = pointsOf(rows);
    auto p = defaults(zmath_circleFitParams_init);
    p.numIgnore = ignore;
    zfit::Result<zmath_circleFitResult> r;
    const zfit_status s =
        weighted ? zmath_circleFitWeighted(points.data(), count32(points), columnOf(rows, 2).data(), &p, r.get())
                 : zmath_circleFit(points.data(), count32(points), &p, r.get());
    f.update(common(*r));
    f.update({{"/params/mode", p.mode},
              {"/params/weighted", weighted},
              {"/result/centre/x", r->centre.x},
              {"/result/centre/y", r->centre.y},
              {"/result/radius", r->radius}});
    return s;
}

zfit_status p2pFit(int dof, const Rows& rows, json& f)
{
    const auto targets = pointsOf(rows, 0), sources = pointsOf(rows, 2);
    auto p = defaults(zmath_pointToPointFitParams_init);
    p.dof = dof;
    zfit::Result<zmath_pointToPointFitResult> r;
    const zfit_status s = zmath_pointToPointFit(&p, targets.data(), sources.data(), count32(targets), r.get());
    f.update(common(*r));
    f["/params/dof"] = dof;
    return s;
}

zfit_status ellipseFit(const Rows& rows, json& f)
{
    const auto points = pointsOf(rows);
    auto p = defaults(zmath_ellipseFitParams_init);
    p.numIgnore = 1;
    zfit::Result<zmath_ellipseFitResult> r;
    const zfit_status s = zmath_ellipseFit(points.data(), count32(points), &p, r.get());
    zmath_vect c;
    double radii[2], angle;
    zmath_shapeEllipse_getCenter(&r->ellipse, &c);
    zmath_shapeEllipse_getRadii(&r->ellipse, radii);
    zmath_shapeEllipse_getAngle(&r->ellipse, &angle);
    f.update(common(*r));
    f.update({{"/result/ellipse/center/x", c.x},
              {"/result/ellipse/center/y", c.y},
              {"/result/ellipse/angle", angle},
              {"/result/ellipse/radius1", radii[0]},
              {"/result/ellipse/radius2", radii[1]}});
    return s;
}

zfit_status parabolaFit(const Rows& rows, json& f)
{
    zfit::Points points(pointsOf(rows));
    zfit::Doubles weights(columnOf(rows, 2));
    auto p = defaults(zmath_parabolaFitParams_init);
    p.maxIterations = 50;
    zfit::Result<zmath_parabolaFitResult> r;
    const zfit_status s = zmath_parabolaFitWeightedVector(points.get(), weights.get(), &p, r.get());
    const zmath_shapeParabola& q = r->parabola;
    f.update(common(*r));
    f.update({{"/result/parabola/coefficient", q.coefficient},
              {"/result/parabola/pose/angle", q.pose.angle},
              {"/result/parabola/pose/translation/x", q.pose.translation.x},
              {"/result/parabola/pose/translation/y", q.pose.translation.y}});
    return s;
}

// The lines of a point_lines file: an angle in degrees and a distance.
std::vector<zmath_shapeFLine> givenLines(const Rows& rows)
{
    std::vector<zmath_shapeFLine> lines(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double angle = rows[i][2] * zt::pi / 180.0;
        zmath_shapeFLine_initAngleDistance(&lines[i], &angle, rows[i][3]);
    }
    return lines;
}

zfit_status p2lFit(const Rows& rows, json& f)
{
    const auto points = pointsOf(rows);
    const auto lines = givenLines(rows);
    auto p = defaults(zmath_pointToLineFitParams_init);
    zfit::Result<zmath_pointToLineFitResult> r;
    const zfit_status s = zmath_pointToLineFit(&p, points.data(), lines.data(), count32(points), r.get());
    f.update(common(*r));
    return s;
}

// The command's JSON equals the library's result field for field; what the
// command derives from it (vertex, scales, discarded coordinates) gives back
// what the example files were made with.
TEST_F(Cli, JsonEqualsTheLibraryOnTheExamples)
{
    const double none = HUGE_VAL;
    // Facts map pointers to [value, tolerance].
    const std::tuple<std::string, const char*, Library, json> families[] = {
        {"line", "profile.csv", std::bind_front(lineFit, 0, 0, none), {}},
        {"line --min-zone --ignore 1 --max-rms 0.05", "profile.csv", std::bind_front(lineFit, 1, 1, 0.05), {}},
        {"circle --ignore 2",
         "edge_points.csv",
         std::bind_front(circleFit, 2, false),
         {{"/discarded/1/index", {29, 0}}, {"/discarded/1/x", {104.8, 0}}, {"/discarded/1/y", {131.3, 0}}}},
        {"circle --weights", "arc.csv", std::bind_front(circleFit, 0, true), {}},
        {"ellipse --ignore 1", "marks.txt", ellipseFit, {}},
        {"parabola --weights --max-iterations 50",
         "arc.csv",
         parabolaFit,  // bent with a = 0.045 about (30, 12)
         {{"/result/parabola/coefficient", {0.045, 0.002}}, {"/vertex/x", {30, 0.1}}, {"/vertex/y", {12, 0.1}}}},
        {"p2l --degrees", "point_lines.csv", p2lFit, {}},
        {"p2p --dof 4",
         "pairs.csv",
         std::bind_front(p2pFit, 4),  // 0.05 mm per pixel, turned by 1.5 degrees
         {{"/scales/0", {0.05, 1e-4}}, {"/rotationDegrees", {1.5, 0.05}}}},
    };
    for (const auto& [args, file, library, facts] : families) {
        SCOPED_TRACE(args + " " + file);
        json fields = {{"/status/name", "zfit_ok"}};
        ASSERT_EQ(library(rowsOf(file), fields), 0);
        const Outcome run = zfit(args + " --json @" + file);
        EXPECT_EQ(run.code, 0) << run.err;
        const json out = json::parse(run.out);
        for (const auto& [pointer, value] : fields.items())
            EXPECT_EQ(out.at(json::json_pointer(pointer)), value) << pointer;
        for (const auto& [pointer, near] : facts.items())
            EXPECT_NEAR(out.at(json::json_pointer(pointer)).get<double>(), near[0].get<double>(), near[1].get<double>())
                << pointer;
    }
}

// By default the parabola's axis is converged to rounding (the library's
// search, refined) and the command says so; with --max-iterations the search
// stands as the library left it (its fields: the JSON test above), a step of
// 1e-7 rad short of converged.
TEST_F(Cli, TheParabolaConvergesUnlessPassesAreGiven)
{
    const Outcome converged = zfit("parabola --weights --json @arc.csv");
    const Outcome searched = zfit("parabola --weights --max-iterations 50 --json @arc.csv");
    ASSERT_EQ(converged.code, 0) << converged.err;
    ASSERT_EQ(searched.code, 0) << searched.err;
    EXPECT_EQ(json::parse(converged.out).at("/converged"_json_pointer), true) << "converged by default";
    EXPECT_EQ(json::parse(searched.out).at("/converged"_json_pointer), false) << "the search alone";
}

// A reflection is told by the sign of the matrix's determinant, in the JSON
// and in the summary: exact pairs under matrices whose determinant's two
// products compete.
TEST_F(Cli, PointToPointTellsAReflectionByTheDeterminant)
{
    const double c = std::cos(80 * zt::pi / 180), s = std::sin(80 * zt::pi / 180);
    const std::pair<zmath_matrix, bool> cases[] = {
        {{c, -s, s, c}, false}, {{0.5, 1, 0.5, 0.5}, true}, {{1, 2, 0.25, 1}, false}};
    for (const auto& [m, reflection] : cases) {
        SCOPED_TRACE(::testing::Message() << "[" << m.m00 << " " << m.m01 << "; " << m.m10 << " " << m.m11 << "]");
        std::ostringstream pairs;
        pairs.precision(17);
        for (const zmath_vect p : {zmath_vect{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, -1}})
            pairs << m.m00 * p.x + m.m01 * p.y + 3 << " " << m.m10 * p.x + m.m11 * p.y - 2 << " " << p.x << " " << p.y
                  << "\n";
        const std::string file = write("pairs.txt", pairs.str());
        const Outcome run = zfit("p2p --dof 6 --json " + file), summary = zfit("p2p --dof 6 " + file);
        ASSERT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(json::parse(run.out).at("/reflection"_json_pointer), reflection) << "the JSON";
        EXPECT_EQ(summary.out.find("(with a reflection)") != std::string::npos, reflection) << summary.out;
    }
}

// One row per kind of outcome: a valid and a not valid fit, data the fit
// cannot use (3), every kind of refused option and of malformed input (2).
// A refusal comes before any fit, says on one short line without control
// bytes which option or input is wrong and what it accepts, and prints no
// limit in full.
TEST_F(Cli, ExitStatusTable)
{
    const std::string good = "0 1\n1 2.01\n2 2.99\n3 4\n", square = "0 1 1\n1 0 1\n0 -1 1\n-1 0 1\n";
    std::string ring;  // 200 points on a circle
    for (int k = 0; k < 200; ++k)
        ring += std::to_string(std::cos(k * 0.0314)) + " " + std::to_string(std::sin(k * 0.0314)) + "\n";
    // The start of a binary file: a first line taken for a header, then an
    // escape sequence, a NUL and bytes that are not UTF-8.
    const char kBinary[] = "\x7f"
                           "ELF\x02\x01\n\x1b[31m\x00\x9b\xff\t1\n";
    const std::string malformed = write("data.csv", "x,y\n1,2\n3,4x\n");
    const std::tuple<std::string, std::string, int, std::string> rows[] = {
        // input, exit status, says (on standard output or error)
        {"line -", good, 0, "valid           yes"},
        {"line --max-rms 0 -", good, 1, "valid           no"},                       // rmsError is never below 0
        {"circle --fixed-radius 0 -", good, 0, "radius          0"},                 // a radius of 0 is no refusal
        {"roundness --max-roundness 0.02 @bore.csv", "", 0, "valid           yes"},  // roundness 0.011
        {"roundness --max-roundness 0.01 @bore.csv", "", 1, "valid           no"},
        {"line -", "2 2\n2 2\n2 2\n", 3, "zmath_errDegenerate (0x80000582)"},
        {"circle --ignore 198 --timeout 5 -", ring, 3, "zmath_errDegenerate"},  // two left: at once
        // Library parameters, refused before the fit.
        {"line --ignore -1 -", good, 2, "line: --ignore must be a count of 0 or more points"},
        {"ellipse --max-rms -1 -", good, 2, "ellipse: --max-rms must be a limit of 0 or more"},
        {"p2p --dof 7 -", good, 2, "p2p: --dof must be 3, 4, 5 or 6 (zmath_errFitBadMode)"},
        {"p2l --dof 5 -", good, 2, "p2l: --dof must be 6 (zmath_errFitBadMode)"},
        {"circle --fixed-radius -1 -", good, 2, "--fixed-radius must be a radius of 0 or more"},
        {"circle --weights --ignore 1 -", square, 2, "--ignore must be 0 with --weights"},
        {"roundness --max-roundness -1 -", good, 2, "--max-roundness must be a limit of 0 or more"},
        {"line --robust median -", good, 2, "--robust must be huber, tukey or clip"},
        {"circle --robust huber --clip 0 -", good, 2, "--clip must be a finite factor above 0"},
        {"parabola --max-iterations 0 -", good, 2, "--max-iterations must be 1 or more"},
        // The command's own checks.
        {"line --timeout -1 -", good, 2, "--timeout: must be 0 (no limit) or more seconds"},
        {"parabola --timeout 5 -", good, 2, "--timeout"},  // nothing to time: no search
        {"line --ignore 2.5 -", good, 2, "--ignore: a count of points or \"auto\", not \"2.5\""},
        {"roundness --method oval -", good, 2, "--method must be zone (or minimum_zone)"},
        {"circle --weights --fixed-radius 2 -", square, 2, "cannot be combined"},  // the weighted fit frees the radius
        {"line --frobnicate -", good, 2, "--frobnicate"},
        // The closest name is offered within two edits (a third of a longer name).
        {"circel -", good, 2, "unknown command \"circel\"; did you mean circle?"},
        {"circlexx -", good, 2, "did you mean circle?"},
        {"crle -", good, 2, "did you mean circle?"},
        {"roundnssxx -", good, 2, "did you mean roundness?"},
        {"cle -", good, 2, "unknown command \"cle\" (commands: "},
        // Malformed input, named by file, line and column.
        {"line --json " + malformed, "", 2, "zfit: " + malformed + ":3:3: not a number: \"4x\""},
        {"parabola @arc.csv", "", 2, "use --weights"},  // a weight column not asked for
        {"line --json -", "1 2\n3 4 5\n", 2, "zfit: <stdin>:2:5: expected 2 columns (x, y), found 3"},
        {"line --json -", "", 2, "zfit: <stdin>: no data rows"},
        {"line --json -", "x,y\n", 2, "zfit: <stdin>: a header but no data rows"},
        {"line --json -", "1,,2\n", 2, "zfit: <stdin>:1:3: empty field"},
        {"line --json -", "1 inf\n", 2, "zfit: <stdin>:1:3: not a finite number: \"inf\""},
        {"line --json -", "[[1, 2],\n [3, \"a\"]]", 2, "zfit: <stdin>:2:6: expected a number, found a string"},
        {"line --json -", "[[1, 2], [3, 4, 5]]", 2, "zfit: <stdin>:1:17: expected 2 columns (x, y), found 3"},
        {"line --json -", "[{\"x\": 1}]", 2, "zfit: <stdin>:1:2: missing \"y\""},
        {"line --json -", "[[1, 2] [3, 4]]", 2, "zfit: <stdin>:1:9: syntax error while parsing array - unexpected '['"},
        {"line --json -", "[1, 2]", 2, "zfit: <stdin>:1:2: expected a row (an array or an object), found a number"},
        // Hostile input: a token is quoted short, its control bytes escaped.
        {"line --json -", "1," + std::string(1 << 20, '7') + "x\n", 2,
         "zfit: <stdin>:1:3: not a number: \"7777777777777777777777777777777777777...\" (1048577 bytes)"},
        {"line --json -", "[{\"x\": 1, \"" + std::string(100000, 'k') + "\": 2}]", 2,
         "zfit: <stdin>:1:11: unknown key \"kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk...\" (100000 bytes) (expected x, y)"},
        {"line --json -", "[[1, \"" + std::string(1 << 20, 'a'), 2,
         "zfit: <stdin>:1:1048583: syntax error while parsing value - invalid string: missing closing quote; last "
         "read: \"\\\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa...\" (1048577 bytes)"},
        {"line --json -", std::string(kBinary, sizeof kBinary - 1), 2,
         "zfit: <stdin>:2:1: not a number: \"\\x1B[31m\\x00\\x9B\\xFF\""},
        {"line --json -", "1 2\x7f\n", 2, "zfit: <stdin>:1:3: not a number: \"2\\x7F\""},  // DEL is a control byte too
        // Printable UTF-8 as it is, up to the end of its sequence; the least
        // and greatest code points of a length kept, beyond them escaped.
        {"line --json -", "1 \xC3\xA9z\n", 2, "zfit: <stdin>:1:3: not a number: \"\xC3\xA9z\""},
        {"line --json -", "1 \xE0\xA0\x80\xF4\x8F\xBF\xBF\n", 2,
         "zfit: <stdin>:1:3: not a number: \"\xE0\xA0\x80\xF4\x8F\xBF\xBF\""},
        {"line --json -", "1 \xE0\x9F\xBF\xF4\x90\x80\x80\n", 2,
         "zfit: <stdin>:1:3: not a number: \"\\xE0\\x9F\\xBF\\xF4\\x90\\x80\\x80\""},
        {"line", "", 2, "file is required"},
        {"line @absent.csv", "", 2, "cannot read"},
        {"line --svg @no/such/dir.svg -", good, 2, "cannot write"},
        {"--help", "", 0, "Exit status:"},
    };
    for (const auto& [args, input, code, says] : rows) {
        SCOPED_TRACE(args + " < " + input.substr(0, 40));
        const Outcome run = zfit(args, input);
        EXPECT_EQ(run.code, code) << run.err;
        EXPECT_NE((run.out + run.err).find(says), std::string::npos) << run.out << run.err;
        if (code != 2) continue;
        EXPECT_EQ(run.out, "") << "nothing fitted";
        EXPECT_EQ(run.err.rfind("zfit: ", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
        EXPECT_LT(run.err.size(), 200u) << "short: " << run.err;
        EXPECT_EQ(run.err.find("1797693"), std::string::npos) << "no limit in full: " << run.err;
        const std::string line = run.err.substr(0, run.err.find('\n'));
        EXPECT_TRUE(std::none_of(line.begin(), line.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }))
            << "a control byte in the message";
    }
}

// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// --trace, before or after the subcommand, prints the failing steps of the
// library ("trace: zfit/line/FILE:LINE: EXPRESSION -> STATUS") before the
// command's own message; line numbers move as the library is edited, so
// only the start of the path and the status are checked.
TEST_F(Cli, TraceShowsTheFailingStepsBeforeTheMessage)
{
    const std::string degenerate = "2 2\n2 2\n2 2\n";
    const auto isStep = [](const std::string& line) {
        return line.starts_with("trace: zfit/line/") && line.find("-> zmath_errDegenerate") != std::string::npos;
    };
    const auto isMessage = [](const std::string& line) {
        return line.starts_with("zfit: line fit failed: zmath_errDegenerate");
    };
    for (const char* args : {"--trace line -", "line - --trace"}) {
        SCOPED_TRACE(args);
        const Outcome run = zfit(args, degenerate);
        EXPECT_EQ(run.code, 3) << run.err;
        const auto lines = linesOf(run.err);
        const auto step = std::find_if(lines.begin(), lines.end(), isStep);
        const auto message = std::find_if(lines.begin(), lines.end(), isMessage);
        ASSERT_NE(step, lines.end()) << "a failing step of the line fit: " << run.err;
        ASSERT_NE(message, lines.end()) << "the fit's failure message: " << run.err;
        EXPECT_LT(step - lines.begin(), message - lines.begin()) << "the steps come before the message: " << run.err;
    }
    const Outcome plain = zfit("line -", degenerate);
    EXPECT_EQ(plain.code, 3) << plain.err;
    EXPECT_EQ(plain.err.find("trace:"), std::string::npos) << "no trace unless asked: " << plain.err;
}

// Every input form reads the same points (malformed input: the exit status
// table).
TEST_F(Cli, EveryInputFormReadsTheSamePoints)
{
    const std::string plain = "x,y\n0.5,1.25\n1.5,2.0\n2.5,3.5\n3.5,4.0\n4.5,5.75\n";
    const json expected = json::parse(zfit("line --json -", plain).out)["result"];
    const std::string forms[] = {
        "# x y\n\n0.5 1.25\n1.5\t2.0   # tab\n  2.5 3.5\n3.5 4.0\r\n4.5 5.75",
        "x;y\n0.5;1.25\n1.5;2.0\n2.5;3.5\n3.5;4.0\n4.5;5.75\n",
        "[[0.5, 1.25], [1.5, 2.0], [2.5, 3.5], [3.5, 4.0], [4.5, 5.75]]",
        "[{\"x\": 0.5, \"y\": 1.25}, {\"y\": 2.0, \"x\": 1.5}, {\"x\": 2.5, \"y\": 3.5},\n"
        " {\"x\": 3.5, \"y\": 4.0}, {\"x\": 4.5, \"y\": 5.75}]",
    };
    for (const std::string& text : forms) {
        SCOPED_TRACE(text);
        const Outcome run = zfit("line --json -", text);
        ASSERT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(json::parse(run.out)["result"], expected) << "the points of the plain CSV";
    }
}

// The points (the xName and yName attributes) of every <tag class="cls" ...>
// drawn in the plot (the legend's swatches left out), in document order.
std::vector<zmath_vect> drawn(const std::string& svg, const std::string& tag, const std::string& cls,
                              const std::string& xName, const std::string& yName)
{
    const std::string plot = svg.substr(0, svg.find("<g id=\"legend\">")), start = "<" + tag + " class=\"" + cls + "\"";
    const auto value = [](const std::string& element, const std::string& name) {
        return std::stod(element.substr(element.find(" " + name + "=\"") + name.size() + 3));
    };
    std::vector<zmath_vect> out;
    for (std::size_t at = plot.find(start); at != std::string::npos; at = plot.find(start, at + 1)) {
        const std::string element = plot.substr(at, plot.find('>', at) - at);
        out.push_back({value(element, xName), value(element, yName)});
    }
    return out;
}

// The tick labels of one axis ("x-tick" or "y-tick") as (pixel, value),
// by pixel (left to right, top to bottom); a y label sits 4 pixels below
// its grid line.
std::vector<std::pair<double, double>> ticks(const std::string& svg, const std::string& cls)
{
    std::vector<std::pair<double, double>> out;
    const std::string start = "<text class=\"" + cls + "\"", coordinate = cls == "x-tick" ? " x=\"" : " y=\"";
    for (std::size_t at = svg.find(start); at != std::string::npos; at = svg.find(start, at + 1)) {
        const double pixel = std::stod(svg.substr(svg.find(coordinate, at) + coordinate.size()));
        const double value = std::stod(svg.substr(svg.find('>', at) + 1));
        out.emplace_back(cls == "x-tick" ? pixel : pixel - 4.0, value);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The value at a pixel, by the line through the first and the last tick.
double valueAt(const std::vector<std::pair<double, double>>& t, double pixel)
{
    const auto& [p0, v0] = t.front();
    const auto& [p1, v1] = t.back();
    return v0 + (pixel - p0) * (v1 - v0) / (p1 - p0);
}

// The numeric attributes of each <tag ...> element of the text, in order.
std::vector<std::map<std::string, double>> elements(const std::string& text, const std::string& tag)
{
    std::vector<std::map<std::string, double>> out;
    const std::string start = "<" + tag + " ";
    for (std::size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) {
        std::istringstream element(text.substr(at + start.size(), text.find('>', at) - at - start.size()));
        auto& values = out.emplace_back();
        for (std::string name, value;
             std::getline(element >> std::ws, name, '=') && std::getline(element.ignore(1), value, '"');)
            if (!value.empty() && value.find_first_not_of("-.0123456789") == std::string::npos)
                values[name] = std::stod(value);
    }
    return out;
}

struct Box {
    double left, top, right, bottom;
};

// Whether (x, y) lies in the box, up to the rounding of the picture's numbers.
bool inside(double x, double y, const Box& box)
{
    const double slack = 0.01;
    return x >= box.left - slack && x <= box.right + slack && y >= box.top - slack && y <= box.bottom + slack;
}

// The vertices of the fitted curve (the polyline of class "fit"), if drawn.
std::vector<zmath_vect> fittedCurve(const std::string& svg)
{
    const std::size_t at = svg.find("<polyline class=\"fit\""), from = svg.find(" points=\"", at) + 9;
    std::istringstream samples(at == std::string::npos ? "" : svg.substr(from, svg.find('"', from) - from));
    std::vector<zmath_vect> polyline;
    for (zmath_vect v; samples >> v.x && samples.ignore(1) && samples >> v.y;) polyline.push_back(v);
    return polyline;
}

// A picture's layout: the plot's frame on the page, the title and the notes
// above it, the legend below it, the grid, the axes and the points inside it,
// every label on the page.
void expectLaidOut(const std::string& svg)
{
    const auto part = [&](const std::string& from, const std::string& to) {
        const std::size_t at = std::min(svg.find(from), svg.size());
        return svg.substr(at, svg.find(to, at) - at);
    };
    const auto page = elements(svg, "svg").at(0), frame = elements(part("<rect class=\"frame\"", ">"), "rect").at(0);
    const Box onPage{0, 0, page.at("width"), page.at("height")};
    const Box plot{frame.at("x"), frame.at("y"), frame.at("x") + frame.at("width"), frame.at("y") + frame.at("height")};
    EXPECT_TRUE(inside(plot.right, plot.bottom, onPage)) << "the plot on the page";
    for (const auto& text : elements(part("<title>", "<g id=\"grid\">"), "text"))
        EXPECT_LT(text.at("y"), plot.top) << "the title and the notes above the plot";
    for (const auto& text : elements(part("<g id=\"legend\">", "</svg>"), "text"))
        EXPECT_TRUE(inside(text.at("x"), text.at("y"), {0, plot.bottom, onPage.right, onPage.bottom})) << "the legend";
    const std::string grid = part("<g id=\"grid\">", "<g id=\"shapes\"");
    for (const auto& text : elements(grid, "text"))
        EXPECT_TRUE(inside(text.at("x"), text.at("y"), onPage)) << "a label on the page";
    const auto gridLines = elements(grid, "line");
    EXPECT_LE(gridLines.size(), 30u) << "about eight grid lines along each axis, at 1, 2 or 5 times a power of ten";
    for (const auto& line : gridLines) {
        EXPECT_TRUE(inside(line.at("x1"), line.at("y1"), plot)) << "a grid line or an axis in the plot";
        EXPECT_TRUE(inside(line.at("x2"), line.at("y2"), plot)) << "a grid line or an axis in the plot";
    }
    for (const char* cls : {"kept", "target", "mapped"})
        for (const zmath_vect& p : drawn(svg, "circle", cls, "cx", "cy"))
            EXPECT_TRUE(inside(p.x, p.y, plot)) << cls << ": a point in the plot";
    for (const char* cls : {"fit", "given"}) {  // straight lines cross the whole plot
        const std::vector<zmath_vect> from = drawn(svg, "line", cls, "x1", "y1"),
                                      to = drawn(svg, "line", cls, "x2", "y2");
        for (std::size_t i = 0; i < from.size(); ++i) {
            EXPECT_FALSE(inside(from[i].x, from[i].y, plot)) << cls << " " << i << ": its start beyond the plot";
            EXPECT_FALSE(inside(to[i].x, to[i].y, plot)) << cls << " " << i << ": its end beyond the plot";
            EXPECT_TRUE(inside((from[i].x + to[i].x) / 2, (from[i].y + to[i].y) / 2, plot))
                << cls << " " << i << ": its middle in it";
        }
    }
    // A curve is drawn through its points.
    const std::vector<zmath_vect> polyline = fittedCurve(svg);
    if (polyline.empty()) return;
    for (const zmath_vect& p : drawn(svg, "circle", "kept", "cx", "cy")) {
        double nearest = HUGE_VAL;
        for (const zmath_vect& v : polyline) nearest = std::min(nearest, std::hypot(v.x - p.x, v.y - p.y));
        EXPECT_LT(nearest, 6.0) << "a point beside the curve";
    }
}

TEST_F(Cli, PicturesAreWellFormedAndHoldThePointsAndTheFit)
{
    const std::string svg = dir + "/picture.svg";
    const std::tuple<const char*, std::string, int, std::vector<std::string>> pictures[] = {
        // XPath truths
        // Every point and its legend swatch; the line and its swatch.
        {"line @profile.csv",
         "",
         0,
         {"count(//*[@class='kept'])=32", "count(//*[@class='fit'])=2", "count(//*[@class='grid'])>=4"}},
        // A failed fit still draws the points, and the picture says why.
        {"line -", "1 1\n1 1\n", 3, {"count(//*[@class='kept'])=3", "contains(string(/), 'zmath_errDegenerate')"}},
        {"circle --ignore 2 @edge_points.csv",
         "",
         0,
         {"count(//*[@class='kept'])=37", "count(//*[@class='discarded'])=3",
          "count(//*[local-name()='circle'][@class='fit'])=1"}},
        {"p2l --degrees @point_lines.csv", "", 0, {"count(//*[@class='given'])=11", "count(//*[@class='mapped'])=11"}},
    };
    for (const auto& [args, input, code, truths] : pictures) {
        SCOPED_TRACE(args);
        fs::remove(svg);
        EXPECT_EQ(zfit(std::string(args) + " --svg " + svg, input).code, code);
        EXPECT_EQ(run("xmllint --noout " + svg).code, 0);
        for (const std::string& truth : truths)
            EXPECT_EQ(run("xmllint --xpath \"" + truth + "\" " + svg).out, "true\n") << truth;
        expectLaidOut(slurp(svg));
    }
    // The demo draws one picture per family, each laid out on its page.
    ASSERT_EQ(zfit("demo --svg " + dir + "/demo").code, 0);
    for (const char* family : {"line", "circle", "ellipse", "parabola", "pointtoline", "pointtopoint"}) {
        SCOPED_TRACE(family);
        EXPECT_EQ(run("xmllint --noout " + dir + "/demo/" + family + ".svg").code, 0) << "well-formed";
        expectLaidOut(slurp(dir + "/demo/" + family + ".svg"));
    }
}

// A straight edge drawn with its deviations enlarged is drawn in the line's
// own frame, whatever its angle: the fitted line is level, the labels along
// it increase to the right, the deviation labels the way y grows (up, or
// down with --y-down), and every point sits where the labels put its true
// position along the line and its true deviation from it.
TEST_F(Cli, LinePicturesLabelTheirAxesTruthfullyAtAnyAngle)
{
    zt::Rng rng(80);
    for (const double degrees : {80.0, 135.0, 10.0})
        for (const char* options : {"", " --y-down", " --min-zone"}) {
            SCOPED_TRACE(::testing::Message() << degrees << " degrees" << options);
            const double angle = degrees * zt::pi / 180.0;
            std::vector<zmath_vect> points;
            std::string text;
            for (int k = 0; k < 30; ++k) {
                const double u = 0.5 * k, v = rng.normal(0.01);
                points.push_back(
                    {2 + u * std::cos(angle) - v * std::sin(angle), 1 + u * std::sin(angle) + v * std::cos(angle)});
                text += std::to_string(points.back().x) + " " + std::to_string(points.back().y) + "\n";
            }
            const std::string svg = dir + "/line.svg";
            const Outcome run = zfit(std::string("line --json --svg ") + svg + options + " " + write("edge.txt", text));
            ASSERT_EQ(run.code, 0) << run.err;
            const json line = json::parse(run.out)["result"]["line"];
            const double c = line["cosine"], s = line["sine"], d = line["d"];
            const std::string picture = slurp(svg);
            EXPECT_NE(picture.find("deviations 100 times enlarged"), std::string::npos) << "enlarged";
            const auto x = ticks(picture, "x-tick"), y = ticks(picture, "y-tick");
            ASSERT_GE(x.size(), 3u) << "labels along the line";
            ASSERT_GE(y.size(), 2u) << "labels across it";
            for (std::size_t k = 1; k < x.size(); ++k)
                EXPECT_GT(x[k].second, x[k - 1].second) << "along: increasing to the right";
            const bool down = std::string(options) == " --y-down";
            for (std::size_t k = 1; k < y.size(); ++k)
                EXPECT_EQ(y[k].second > y[k - 1].second, down) << "deviation: growing downwards only with --y-down";
            const std::vector<zmath_vect> fit = drawn(picture, "line", "fit", "y1", "y2");
            ASSERT_EQ(fit.size(), 1u) << "the fitted line";
            EXPECT_EQ(fit[0].x, fit[0].y) << "level";
            EXPECT_NEAR(valueAt(y, fit[0].x), 0.0, 1e-4) << "at deviation 0";
            const std::vector<zmath_vect> kept = drawn(picture, "circle", "kept", "cx", "cy");
            ASSERT_EQ(kept.size(), points.size()) << "every point";
            for (std::size_t i = 0; i < points.size(); ++i) {
                const zmath_vect& p = points[i];
                EXPECT_NEAR(valueAt(x, kept[i].x), p.x * c + p.y * s, 0.01) << "position along, point " << i;
                EXPECT_NEAR(valueAt(y, kept[i].y), -p.x * s + p.y * c - d, 1e-4) << "deviation, point " << i;
            }
        }
}

// --y-down draws every family's picture in image coordinates: each point at
// the mirror image, about the plot's middle, of where it is drawn y up, the
// y labels growing downwards, an ellipse turned the other way.
TEST_F(Cli, YDownDrawsEveryPictureInImageCoordinates)
{
    // The line's own frame, y down, is checked point by point above.
    const char* commands[] = {"circle --ignore 2 @edge_points.csv", "ellipse @marks.txt",
                              "parabola --weights @arc.csv",        "p2p --dof 4 @pairs.csv",
                              "p2l --degrees @point_lines.csv",     "roundness @bore.csv"};
    for (const char* command : commands) {
        SCOPED_TRACE(command);
        std::string picture[2];
        for (int down = 0; down < 2; ++down) {
            const std::string svg = dir + "/" + std::to_string(down) + ".svg";
            ASSERT_LT(zfit(std::string(command) + " --svg " + svg + (down ? " --y-down" : "")).code, 2);
            picture[down] = slurp(svg);
        }
        for (const char* cls : {"kept", "target", "mapped"}) {
            const auto up = drawn(picture[0], "circle", cls, "cx", "cy"),
                       down = drawn(picture[1], "circle", cls, "cx", "cy");
            ASSERT_EQ(up.size(), down.size()) << cls;
            for (std::size_t i = 0; i < up.size(); ++i) {
                EXPECT_EQ(up[i].x, down[i].x) << cls << " " << i << ": x as it was";
                EXPECT_NEAR(up[i].y + down[i].y, up[0].y + down[0].y, 0.02) << cls << " " << i << ": y mirrored";
            }
        }
        const auto y = ticks(picture[1], "y-tick");
        for (std::size_t k = 1; k < y.size(); ++k) EXPECT_GT(y[k].second, y[k - 1].second) << "y grows downwards";
        const std::size_t up = picture[0].find("rotate("), down = picture[1].find("rotate(");
        if (std::string(command).starts_with("ellipse")) {
            ASSERT_NE(up, std::string::npos) << "the ellipse";
            EXPECT_DOUBLE_EQ(std::stod(picture[0].substr(up + 7)), -std::stod(picture[1].substr(down + 7)))
                << "turned the other way";
        }
    }
}

// The enlargement a transform picture states ("residuals drawn 1000 times
// enlarged"), or -1 when it states none.
double statedEnlargement(const std::string& picture)
{
    const std::string says = "residuals drawn ";
    const std::size_t at = picture.find(says);
    return at == std::string::npos ? -1.0 : std::stod(picture.substr(at + says.size()));
}

// The transform pictures draw each point as the library's transform maps it,
// its residual enlarged by the factor the picture states: from its target
// point (p2p) or from its foot on its line (p2l). Enlarged, the largest
// residual shows (at least 1/40 of the extent of the targets or feet) and
// stays within a quarter of it. The plot's scale and offset are read from
// the targets or feet themselves.
TEST_F(Cli, TransformPicturesDrawTheMappedPointsWhereTheFitPutsThem)
{
    for (const bool toLines : {false, true}) {
        const std::string file = toLines ? "point_lines.csv" : "pairs.csv", svg = dir + "/transform.svg";
        SCOPED_TRACE(file);
        const Rows rows = rowsOf(file);
        const std::vector<zmath_vect> points = pointsOf(rows), sources = pointsOf(rows, 2);
        const std::vector<zmath_shapeFLine> lines = toLines ? givenLines(rows) : std::vector<zmath_shapeFLine>();
        // The transform as the JSON gives it (the library's: the JSON test).
        const Outcome run =
            zfit(std::string(toLines ? "p2l --degrees" : "p2p --dof 4") + " --json --svg " + svg + " @" + file);
        ASSERT_EQ(run.code, 0) << run.err;
        const json x = json::parse(run.out)["result"]["xform"];
        const zmath_xformLinear xform{{x["translation"]["x"], x["translation"]["y"]},
                                      {x["matrix"]["m00"], x["matrix"]["m01"], x["matrix"]["m10"], x["matrix"]["m11"]}};
        // Anchors: the targets, or the feet of the mapped points on their lines.
        std::vector<zmath_vect> anchors, mapped;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            zmath_vect m;
            zmath_xformLinear_mapPoint(&xform, toLines ? &points[i] : &sources[i], &m);
            mapped.push_back(m);
            const double off = toLines ? zt::offset(lines[i], m) : 0.0;
            anchors.push_back(toLines ? zmath_vect{m.x + off * lines[i].sine, m.y - off * lines[i].cosine} : points[i]);
        }
        const std::string picture = slurp(svg);
        const double k = statedEnlargement(picture);
        ASSERT_GT(k, 0.0) << "the enlargement is stated";
        const std::vector<zmath_vect> shownPixels = drawn(picture, "circle", "mapped", "cx", "cy");
        const std::vector<zmath_vect> anchorPixels =
            toLines ? drawn(picture, "line", "residual", "x1", "y1") : drawn(picture, "circle", "target", "cx", "cy");
        ASSERT_EQ(anchorPixels.size(), rows.size()) << "one anchor per pair";
        ASSERT_EQ(shownPixels.size(), rows.size()) << "one mapped point per pair";
        // The plot maps (x, y) to (a + s x, b - s y); the first and the last
        // anchor lie far apart.
        const std::size_t last = rows.size() - 1;
        const double s =
            std::hypot(anchorPixels[last].x - anchorPixels[0].x, anchorPixels[last].y - anchorPixels[0].y) /
            std::hypot(anchors[last].x - anchors[0].x, anchors[last].y - anchors[0].y);
        const double a = anchorPixels[0].x - s * anchors[0].x, b = anchorPixels[0].y + s * anchors[0].y;
        double largest = 0.0, x0 = HUGE_VAL, x1 = -HUGE_VAL, y0 = HUGE_VAL, y1 = -HUGE_VAL;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const zmath_vect shown{anchors[i].x + k * (mapped[i].x - anchors[i].x),
                                   anchors[i].y + k * (mapped[i].y - anchors[i].y)};
            EXPECT_NEAR(shownPixels[i].x, a + s * shown.x, 0.05) << "pair " << i;
            EXPECT_NEAR(shownPixels[i].y, b - s * shown.y, 0.05) << "pair " << i;
            largest = std::max(largest, std::hypot(mapped[i].x - anchors[i].x, mapped[i].y - anchors[i].y));
            x0 = std::min(x0, anchors[i].x), x1 = std::max(x1, anchors[i].x);
            y0 = std::min(y0, anchors[i].y), y1 = std::max(y1, anchors[i].y);
        }
        const double extent = std::max(x1 - x0, y1 - y0);
        EXPECT_GE(k * largest, extent / 40) << "the largest residual shows";
        EXPECT_LT(k * largest, extent / 4) << "and stays within the picture";
    }
}

// Moving every pair by the same vector moves the picture, not the residuals:
// the stated enlargement stays.
TEST_F(Cli, TheTransformPicturesEnlargementIgnoresWhereThePointsLie)
{
    const auto stated = [&](double shift) {
        std::string text;
        for (const auto& row : rowsOf("pairs.csv"))
            text += std::to_string(row[0] + shift) + " " + std::to_string(row[1] + shift) + " " +
                    std::to_string(row[2] + shift) + " " + std::to_string(row[3] + shift) + "\n";
        const std::string svg = dir + "/moved.svg";
        EXPECT_EQ(zfit("p2p --dof 4 --svg " + svg + " " + write("moved.txt", text)).code, 0);
        return statedEnlargement(slurp(svg));
    };
    const double here = stated(0.0);
    EXPECT_GT(here, 1.0) << "the residuals are enlarged";
    EXPECT_EQ(stated(5000.0), here) << "moved 5000 up and right";
}

// A parabola's picture marks its vertex when it lies among the points, not
// when it lies far off; the curve is sampled where the view shows it, none
// of its samples far outside the plot.
TEST_F(Cli, ParabolaPicturesMarkANearVertexAndSampleTheCurveInView)
{
    const auto picture = [&](const std::function<double(double)>& curve, double from, double to) {
        std::string text;
        for (int k = 0; k <= 20; ++k) {
            const double x = from + (to - from) * k / 20;
            text += std::to_string(x) + " " + std::to_string(curve(x)) + "\n";
        }
        const std::string svg = dir + "/parabola.svg";
        EXPECT_EQ(zfit("parabola --svg " + svg + " " + write("arc.txt", text)).code, 0);
        return slurp(svg);
    };
    const auto crosses = [](const std::string& svg) {
        const std::string plot = svg.substr(0, svg.find("<g id=\"legend\">")), cross = "<path class=\"centre\"";
        int n = 0;
        for (std::size_t at = plot.find(cross); at != std::string::npos; at = plot.find(cross, at + 1)) ++n;
        return n;
    };
    const std::string steep = picture([](double x) { return 20 * x * x; }, -1, 1);
    EXPECT_EQ(crosses(steep), 1) << "the vertex amid the points is marked";
    const auto clip = elements(steep.substr(steep.find("<clipPath id=\"plot\">")), "rect").at(0);
    const double top = clip.at("y"), height = clip.at("height");
    const std::vector<zmath_vect> samples = fittedCurve(steep);
    int far = 0;
    for (const zmath_vect& v : samples) far += v.y < top - height || v.y > top + 2 * height;
    EXPECT_GT(samples.size(), 100u) << "the curve's samples";
    EXPECT_EQ(far, 0) << "samples more than the plot's height above or below it";
    const std::string flat = picture([](double x) { return 0.001 * (x - 100) * (x - 100); }, 0, 10);
    EXPECT_EQ(crosses(flat), 0) << "a vertex 90 away from an arc 10 long";
}

// A search that would run for many seconds, in passes of a few hundredths:
// the timeout stops it at a pass and the command reports it as cancelled;
// the progress shows after a second unless asked for quiet.
TEST_F(Cli, TimeoutCancelsALongSearchAndProgressShows)
{
    zt::Rng rng(7);
    std::string many;
    // 2000 points: the exhaustive search over every three of them runs for
    // half a minute, one pass per first discarded point.
    const int n = 2000;
    for (int i = 0; i < 2 * n; ++i) many += std::to_string(rng.uniform(0, 100)) + (i % 2 ? "\n" : " ");
    const std::string file = write("many.txt", many);
    const Outcome run = zfit("line --ignore 3 --timeout 1.5 --json " + file);
    EXPECT_EQ(run.code, 4) << run.err;
    EXPECT_EQ(json::parse(run.out)["status"]["name"], "zsys_errCancelled");
    for (const char* says : {"cancelled", "outlier search", "% (pass "})
        EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    // The progress line ends in the time the search has run: past the quiet
    // first second, within the timeout and some.
    const size_t unit = run.err.find(" s\n"), number = run.err.rfind(", ", unit);
    ASSERT_NE(unit, std::string::npos) << run.err;
    const double seconds = std::stod(run.err.substr(number + 2, unit - number - 2));
    EXPECT_GE(seconds, 1.0) << run.err;
    EXPECT_LE(seconds, 30.0) << run.err;
    // Its share of the work, rounded down: pass i tries the C(n - 1 - i, 2)
    // sets that start at point i, so at pass p the passes done before it
    // cover all but C(n - p + 1, 3).
    const size_t percent = run.err.rfind("% (pass ");
    const double shown = std::stod(run.err.substr(run.err.rfind(' ', percent - 1) + 1, percent));
    const double pass = std::stod(run.err.substr(percent + 8));
    const auto sets = [](double k) { return k * (k - 1) * (k - 2) / 6; };
    const double share = 100 * (1 - sets(n - pass + 1) / sets(n));
    EXPECT_LE(shown, share + 1e-6) << run.err;
    EXPECT_GT(shown, share - 1 - 1e-6) << run.err;
    const Outcome quiet = zfit("line --ignore 3 --timeout 1.2 --quiet " + file);
    EXPECT_EQ(quiet.code, 4);
    EXPECT_EQ(quiet.err.find("% (pass "), std::string::npos) << quiet.err;
}

}  // namespace
