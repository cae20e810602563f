// The zfit command, run as a user runs it: on the example files and on files
// written here, compared field by field with the library's own results.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "support.hpp"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::string kCommand = ZFIT_CLI;
const std::string kExamples = ZFIT_EXAMPLES;

struct Outcome {
    int code = -1;
    std::string out, err;
    json parsed() const { return json::parse(out); }
};

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Each test works in a scratch folder of its own (tests run in parallel).
class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "zfit-cli-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path write(const std::string& name, const std::string& text)
    {
        std::ofstream(dir / name, std::ios::binary) << text;
        return dir / name;
    }

    // Runs `zfit args` with the given standard input.
    Outcome zfit(const std::string& args, const std::string& input = "")
    {
        write("stdin", input);
        const std::string cmd = kCommand + " " + args + " <" + (dir / "stdin").string() + " >" +
                                (dir / "stdout").string() + " 2>" + (dir / "stderr").string();
        const int status = std::system(cmd.c_str());
        Outcome run;
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.out = slurp(dir / "stdout");
        run.err = slurp(dir / "stderr");
        return run;
    }

    // Runs a tool and returns its standard output (xmllint).
    std::string tool(const std::string& cmd, int* code = nullptr)
    {
        const int status = std::system((cmd + " >" + (dir / "tool").string() + " 2>&1").c_str());
        if (code) *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return slurp(dir / "tool");
    }

    int count(const fs::path& svg, const std::string& cls)
    {
        return std::atoi(tool("xmllint --xpath \"count(//*[@class='" + cls + "'])\" " + svg.string()).c_str());
    }

    fs::path dir;
};

// Points written so that they read back exactly.
std::string csv(const std::vector<zmath_vect>& points, const char* header = "x,y")
{
    std::string text = std::string(header) + "\n";
    char row[96];
    for (const zmath_vect& p : points) {
        std::snprintf(row, sizeof row, "%.17g,%.17g\n", p.x, p.y);
        text += row;
    }
    return text;
}

// The rows of an example file: # comments, a header and blanks or commas.
std::vector<std::vector<double>> rowsOf(const fs::path& path)
{
    std::vector<std::vector<double>> rows;
    std::istringstream in(slurp(path));
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        for (char& c : line)
            if (c == ',') c = ' ';
        std::istringstream fields(line);
        std::vector<double> row;
        double v;
        while (fields >> v) row.push_back(v);
        if (!row.empty()) rows.push_back(row);
    }
    return rows;
}

std::vector<zmath_vect> pointsOf(const std::vector<std::vector<double>>& rows, std::size_t column = 0)
{
    std::vector<zmath_vect> points;
    for (const auto& row : rows) points.push_back({row[column], row[column + 1]});
    return points;
}

std::vector<int32_t> indices(const zstd_vector32& v) { return std::vector<int32_t>(v.begin, v.begin + v.size); }

using LineResult = zt::Owned<zmath_lineFitResult, zmath_lineFitResult_construct, zmath_lineFitResult_destruct>;

void expectLine(const json& out, const zmath_lineFitResult& r)
{
    EXPECT_EQ(out["status"]["code"], 0);
    EXPECT_EQ(out["status"]["name"], "zfit_ok");
    EXPECT_EQ(out["result"]["isValid"], r.isValid);
    EXPECT_EQ(out["result"]["line"]["angle"].get<double>(), r.line.angle);
    EXPECT_EQ(out["result"]["line"]["d"].get<double>(), r.line.d);
    EXPECT_EQ(out["result"]["rmsError"].get<double>(), r.rmsError);
    EXPECT_EQ(out["result"]["ignoredIndices"].get<std::vector<int32_t>>(), indices(r.ignoredIndices));
}

// ---- the line subcommand against the library ---------------------------

TEST_F(Cli, LineJsonEqualsTheLibraryOnRandomEdges)
{
    for (uint64_t seed = 1; seed <= 5; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        zt::Rng rng(seed);
        const double angle = rng.uniform(-3.0, 3.0), offset = rng.uniform(-50, 50);
        std::vector<zmath_vect> points;
        for (int i = 0; i < 20 + rng.integer(0, 30); ++i) {
            const double t = rng.uniform(-40, 40), e = rng.normal(0.05);
            points.push_back({t * std::cos(angle) - (offset + e) * std::sin(angle),
                              t * std::sin(angle) + (offset + e) * std::cos(angle)});
        }
        const Outcome run = zfit("line --json " + write("edge.csv", csv(points)).string());
        ASSERT_EQ(run.code, 0) << run.err;

        zmath_lineFitParams params;
        zmath_lineFitParams_init(&params);
        LineResult r;
        ASSERT_EQ(zmath_lineFit(points.data(), static_cast<int32_t>(points.size()), &params, r.get()), 0);
        const json out = run.parsed();
        expectLine(out, *r);
        EXPECT_EQ(out["count"], points.size());
        EXPECT_EQ(out["params"]["numIgnore"], 0);
        EXPECT_TRUE(out["params"]["maxRmsError"].is_null());  // no limit
    }
}

TEST_F(Cli, LineOnTheProfileExampleEqualsTheLibrary)
{
    const fs::path file = fs::path(kExamples) / "profile.csv";
    const std::vector<zmath_vect> points = pointsOf(rowsOf(file));
    ASSERT_EQ(points.size(), 31u);
    for (const char* options : {"", "--max-rms 0.05", "--ignore 1", "--min-zone --ignore 1 --max-rms 0.05"}) {
        SCOPED_TRACE(options);
        zmath_lineFitParams params;
        zmath_lineFitParams_init(&params);
        const std::string o = options;
        if (o.find("0.05") != std::string::npos) params.maxRmsError = 0.05;
        if (o.find("--ignore 1") != std::string::npos) params.numIgnore = 1;
        if (o.find("--min-zone") != std::string::npos) params.mode = 1;
        LineResult r;
        const zfit_status status = zmath_lineFit(points.data(), static_cast<int32_t>(points.size()), &params, r.get());

        const Outcome run = zfit("line " + o + " --json " + file.string());
        const json out = run.parsed();
        EXPECT_EQ(out["status"]["code"], status);
        if (ZFIT_FAILED(status)) {
            // A fit the library refuses: its status name on standard error, exit 3.
            EXPECT_EQ(run.code, 3);
            EXPECT_EQ(out["status"]["name"], zfit_statusName(status));
            EXPECT_NE(run.err.find(zfit_statusName(status)), std::string::npos) << run.err;
            EXPECT_TRUE(out["result"].is_null());
        } else {
            EXPECT_EQ(run.code, r->isValid ? 0 : 1);
            expectLine(out, *r);
        }
    }
}

TEST_F(Cli, ExitStatusTellsValidNotValidFailedAndUsage)
{
    const std::string good = write("good.csv", "0 1\n1 2.01\n2 2.99\n3 4\n").string();
    EXPECT_EQ(zfit("line " + good).code, 0);
    // rmsError is never below 0: succeeded, not valid.
    const Outcome notValid = zfit("line --max-rms 0 " + good);
    EXPECT_EQ(notValid.code, 1);
    EXPECT_NE(notValid.out.find("valid           no"), std::string::npos) << notValid.out;
    // Equal points determine no line.
    const Outcome degenerate = zfit("line " + write("same.csv", "2 2\n2 2\n2 2\n").string());
    EXPECT_EQ(degenerate.code, 3);
    EXPECT_NE(degenerate.err.find("zmath_errDegenerate (0x80000582)"), std::string::npos) << degenerate.err;
    // Parameters are handed to the library as given; it names what is wrong.
    const Outcome negative = zfit("line --ignore -1 " + good);
    EXPECT_EQ(negative.code, 3);
    EXPECT_NE(negative.err.find("zmath_errFitNumIgnoreNegative"), std::string::npos) << negative.err;
    // Bad usage.
    EXPECT_EQ(zfit("line --no-such-option " + good).code, 2);
    EXPECT_EQ(zfit("line").code, 2);
    EXPECT_EQ(zfit("").code, 2);
    EXPECT_EQ(zfit("line --timeout -1 " + good).code, 2);
    const Outcome missing = zfit("line " + (dir / "absent.csv").string());
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
    EXPECT_EQ(zfit("--help").code, 0);
}

// ---- input formats ----------------------------------------------------------

TEST_F(Cli, EveryInputFormatReadsTheSamePoints)
{
    const std::vector<zmath_vect> points = {{0.5, 1.25}, {1.5, 2.0}, {2.5, 3.5}, {3.5, 4.0}, {4.5, 5.75}};
    const std::string expected = zfit("line --json " + write("plain.csv", csv(points)).string()).parsed()["result"].dump();
    const std::vector<std::pair<std::string, std::string>> forms = {
        {"blanks.txt", "# x y\n\n0.5 1.25\n1.5\t2.0   # tab\n  2.5 3.5\n3.5 4.0\r\n4.5 5.75"},
        {"semi.csv", "x;y\n0.5;1.25\n1.5;2.0\n2.5;3.5\n3.5;4.0\n4.5;5.75\n"},
        {"arrays.json", "[[0.5, 1.25], [1.5, 2.0], [2.5, 3.5], [3.5, 4.0], [4.5, 5.75]]"},
        {"objects.json",
         "[{\"x\": 0.5, \"y\": 1.25}, {\"y\": 2.0, \"x\": 1.5}, {\"x\": 2.5, \"y\": 3.5},\n"
         " {\"x\": 3.5, \"y\": 4.0}, {\"x\": 4.5, \"y\": 5.75}]"},
    };
    for (const auto& [name, text] : forms) {
        SCOPED_TRACE(name);
        const Outcome run = zfit("line --json " + write(name, text).string());
        ASSERT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(run.parsed()["result"].dump(), expected);
    }
    const Outcome piped = zfit("line --json -", csv(points));
    ASSERT_EQ(piped.code, 0) << piped.err;
    EXPECT_EQ(piped.parsed()["result"].dump(), expected);
}

TEST_F(Cli, MalformedInputNamesFileLineAndColumn)
{
    struct Case {
        const char* name;
        const char* text;
        const char* message;  // after "zfit: <file>"
    };
    const Case cases[] = {
        {"number.csv", "x,y\n1,2\n3,4x\n", ":3:3: not a number: \"4x\""},
        {"columns.csv", "1 2\n3 4 5\n", ":2:5: expected 2 columns (x, y), found 3"},
        {"short.csv", "1,2\n3\n", ":2:2: expected 2 columns (x, y), found 1"},
        {"empty.csv", "", ": no data rows"},
        {"comments.csv", "# nothing\n\n# here\n", ": no data rows"},
        {"header.csv", "x,y\n", ": a header but no data rows"},
        {"field.csv", "1,,2\n", ":1:3: empty field"},
        {"infinite.csv", "1 inf\n", ":1:3: not a finite number: \"inf\""},
        {"huge.csv", "1 1e400\n", ":1:3: not a finite number"},
        {"value.json", "[[1, 2],\n [3, \"a\"]]", ":2:6: expected a number, found a string"},
        {"width.json", "[[1, 2], [3, 4, 5]]", ":1:17: expected 2 columns (x, y), found 3"},
        {"key.json", "[{\"x\": 1, \"z\": 2}]", ":1:11: unknown key \"z\" (expected x, y)"},
        {"missing.json", "[{\"x\": 1}]", ":1:2: missing \"y\""},
        {"syntax.json", "[[1, 2], [3, 4]", ":1:16: syntax error"},
        {"scalar.json", "[1, 2]", ":1:2: expected a row (an array or an object), found a number"},
        {"nothing.json", "[]", ": no data rows"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = write(c.name, c.text);
        const Outcome run = zfit("line " + file.string());
        EXPECT_EQ(run.code, 2);
        EXPECT_NE(run.err.find("zfit: " + file.string() + c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    // A weight column that --weights would read is pointed out.
    const Outcome extra = zfit("line " + write("weights.csv", "1 2 0.5\n").string());
    EXPECT_EQ(extra.code, 2);
    const Outcome stdinError = zfit("line -", "1 2\nfoo bar\n");
    EXPECT_EQ(stdinError.code, 2);
    EXPECT_NE(stdinError.err.find("<stdin>:2:1: not a number"), std::string::npos) << stdinError.err;
}

// ---- pictures ---------------------------------------------------------------

TEST_F(Cli, SvgIsWellFormedAndHoldsThePointsAndTheFit)
{
    const fs::path svg = dir / "line.svg";
    const Outcome run = zfit("line --svg " + svg.string() + " " + (fs::path(kExamples) / "profile.csv").string());
    ASSERT_LE(run.code, 1) << run.err;
    int code = -1;
    EXPECT_EQ(tool("xmllint --noout " + svg.string(), &code), "");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(count(svg, "kept"), 31 + 1);  // every point and its legend swatch
    EXPECT_EQ(count(svg, "fit"), 2);        // the line and its swatch
    EXPECT_GE(count(svg, "grid"), 4);

    // A failed fit still draws the points, and the picture says why.
    const fs::path failed = dir / "failed.svg";
    EXPECT_EQ(zfit("line --svg " + failed.string() + " -", "1 1\n1 1\n").code, 3);
    EXPECT_EQ(count(failed, "kept"), 2 + 1);
    EXPECT_NE(slurp(failed).find("zmath_errDegenerate"), std::string::npos);

    // An unwritable picture is a usage error.
    EXPECT_EQ(zfit("line --svg " + (dir / "no" / "such" / "dir.svg").string() + " -", "0 0\n1 1\n").code, 2);
}

TEST_F(Cli, DemoDrawsOnePicturePerFamily)
{
    const fs::path pictures = dir / "pictures";
    const Outcome run = zfit("demo --svg " + pictures.string());
    ASSERT_EQ(run.code, 0) << run.err;
    int files = 0;
    for (const auto& entry : fs::directory_iterator(pictures)) {
        SCOPED_TRACE(entry.path().string());
        int code = -1;
        tool("xmllint --noout " + entry.path().string(), &code);
        EXPECT_EQ(code, 0);
        ++files;
    }
    EXPECT_GE(files, 1);
    EXPECT_TRUE(fs::exists(pictures / "line.svg"));
}

// ---- the other families against the library -------------------------------

double num(const json& j) { return j.get<double>(); }

using CircleResult = zt::Owned<zmath_circleFitResult, zmath_circleFitResult_construct, zmath_circleFitResult_destruct>;

void expectCircle(const json& out, const zmath_circleFitResult& r)
{
    EXPECT_EQ(out["status"]["code"], 0);
    EXPECT_EQ(out["result"]["isValid"], r.isValid);
    EXPECT_EQ(num(out["result"]["centre"]["x"]), r.centre.x);
    EXPECT_EQ(num(out["result"]["centre"]["y"]), r.centre.y);
    EXPECT_EQ(num(out["result"]["radius"]), r.radius);
    EXPECT_EQ(num(out["result"]["rmsError"]), r.rmsError);
    EXPECT_EQ(out["result"]["ignoredIndices"].get<std::vector<int32_t>>(), indices(r.ignoredIndices));
}

TEST_F(Cli, CircleOnTheEdgeExampleFindsTheClutter)
{
    const fs::path file = fs::path(kExamples) / "edge_points.csv";
    const std::vector<zmath_vect> points = pointsOf(rowsOf(file));
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    params.numIgnore = 2;
    CircleResult r;
    ASSERT_EQ(zmath_circleFit(points.data(), static_cast<int32_t>(points.size()), &params, r.get()), 0);

    const Outcome run = zfit("circle --ignore 2 --json " + file.string());
    ASSERT_EQ(run.code, 0) << run.err;
    const json out = run.parsed();
    expectCircle(out, *r);
    // The dust speck and the glare spot, with their coordinates.
    std::vector<int32_t> discarded = out["result"]["ignoredIndices"].get<std::vector<int32_t>>();
    std::sort(discarded.begin(), discarded.end());
    EXPECT_EQ(discarded, (std::vector<int32_t>{11, 29}));
    EXPECT_EQ(num(out["discarded"][0]["x"]), points[static_cast<std::size_t>(out["discarded"][0]["index"])].x);

    // The same points through standard input with the radius imposed.
    params.mode = 1;
    params.fixedRadius = 41.25;
    CircleResult fixed;
    ASSERT_EQ(zmath_circleFit(points.data(), static_cast<int32_t>(points.size()), &params, fixed.get()), 0);
    const Outcome piped = zfit("circle --fixed-radius 41.25 --ignore 2 --json -", slurp(file));
    ASSERT_EQ(piped.code, 0) << piped.err;
    expectCircle(piped.parsed(), *fixed);
    EXPECT_EQ(piped.parsed()["params"]["mode"], 1);

    // The picture: 36 kept points, 2 discarded, the circle and its centre.
    const fs::path svg = dir / "circle.svg";
    ASSERT_EQ(zfit("circle --ignore 2 --svg " + svg.string() + " " + file.string()).code, 0);
    EXPECT_EQ(count(svg, "kept"), 36 + 1);
    EXPECT_EQ(count(svg, "discarded"), 2 + 1);
    EXPECT_EQ(std::atoi(tool("xmllint --xpath \"count(//*[local-name()='circle'][@class='fit'])\" " + svg.string()).c_str()), 1);
}

TEST_F(Cli, WeightedCircleEqualsTheLibrary)
{
    for (uint64_t seed = 11; seed <= 14; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        zt::Rng rng(seed);
        const zmath_vect c{rng.uniform(-100, 100), rng.uniform(-100, 100)};
        const double radius = rng.uniform(1, 50);
        std::vector<zmath_vect> points;
        std::vector<double> weights;
        std::string text;
        char row[128];
        for (int i = 0; i < 12; ++i) {
            const double a = rng.uniform(0, 2 * zt::pi), rr = radius + rng.normal(0.02);
            points.push_back({c.x + rr * std::cos(a), c.y + rr * std::sin(a)});
            weights.push_back(rng.uniform(0.1, 2.0));
            std::snprintf(row, sizeof row, "%.17g %.17g %.17g\n", points.back().x, points.back().y, weights.back());
            text += row;
        }
        zmath_circleFitParams params;
        zmath_circleFitParams_init(&params);
        CircleResult r;
        ASSERT_EQ(zmath_circleFitWeighted(points.data(), 12, weights.data(), &params, r.get()), 0);
        const Outcome run = zfit("circle --weights --json " + write("w.txt", text).string());
        ASSERT_EQ(run.code, 0) << run.err;
        expectCircle(run.parsed(), *r);
    }
    // The weighted fit frees the radius and discards nothing.
    EXPECT_EQ(zfit("circle --weights --fixed-radius 2 -", "0 1 1\n1 0 1\n0 -1 1\n").code, 2);
    const Outcome ignore = zfit("circle --weights --ignore 1 -", "0 1 1\n1 0 1\n0 -1 1\n-1 0 1\n");
    EXPECT_EQ(ignore.code, 3);
    EXPECT_NE(ignore.err.find("zmath_errFitWeightedIgnore"), std::string::npos) << ignore.err;
}

TEST_F(Cli, EllipseOnTheMarksExampleEqualsTheLibrary)
{
    const fs::path file = fs::path(kExamples) / "marks.txt";
    const std::vector<zmath_vect> points = pointsOf(rowsOf(file));
    zmath_ellipseFitParams params;
    zmath_ellipseFitParams_init(&params);
    params.numIgnore = 1;
    zt::Owned<zmath_ellipseFitResult, zmath_ellipseFitResult_construct, zmath_ellipseFitResult_destruct> r;
    ASSERT_EQ(zmath_ellipseFit(points.data(), static_cast<int32_t>(points.size()), &params, r.get()), 0);
    zmath_vect centre;
    double radii[2], angle;
    zmath_shapeEllipse_getCenter(&r->ellipse, &centre);
    zmath_shapeEllipse_getRadii(&r->ellipse, radii);
    zmath_shapeEllipse_getAngle(&r->ellipse, &angle);

    const fs::path svg = dir / "ellipse.svg";
    const Outcome run = zfit("ellipse --ignore 1 --json --svg " + svg.string() + " " + file.string());
    ASSERT_EQ(run.code, 0) << run.err;
    const json out = run.parsed();
    const json& e = out["result"]["ellipse"];
    EXPECT_EQ(num(e["center"]["x"]), centre.x);
    EXPECT_EQ(num(e["center"]["y"]), centre.y);
    EXPECT_EQ(num(e["radius1"]), radii[0]);
    EXPECT_EQ(num(e["radius2"]), radii[1]);
    EXPECT_EQ(num(e["angle"]), angle);
    EXPECT_EQ(num(out["result"]["rmsError"]), r->rmsError);
    EXPECT_EQ(out["result"]["ignoredIndices"], json::array({9}));  // the reflection
    EXPECT_EQ(std::atoi(tool("xmllint --xpath \"count(//*[local-name()='ellipse'][@class='fit'])\" " + svg.string()).c_str()), 1);
    EXPECT_EQ(count(svg, "discarded"), 1 + 1);

    // Four points determine no ellipse; the record's rule says so by name.
    const Outcome few = zfit("ellipse -", "0 0\n1 0\n0 1\n1 1\n");
    EXPECT_EQ(few.code, 3);
    EXPECT_NE(few.err.find("zmath_errDegenerate"), std::string::npos);
}

TEST_F(Cli, WeightedParabolaOnTheArcExampleEqualsTheLibrary)
{
    const fs::path file = fs::path(kExamples) / "arc.csv";
    const auto rows = rowsOf(file);
    std::vector<double> w;
    for (const auto& row : rows) w.push_back(row[2]);
    zt::Points points(pointsOf(rows));
    zt::Doubles weights(w);
    zmath_parabolaFitParams params;
    zmath_parabolaFitParams_init(&params);
    params.maxIterations = 50;
    zt::Owned<zmath_parabolaFitResult, zmath_parabolaFitResult_construct, zmath_parabolaFitResult_destruct> r;
    ASSERT_EQ(zmath_parabolaFitWeightedVector(points.get(), weights.get(), &params, r.get()), 0);

    const Outcome run = zfit("parabola --weights --max-iterations 50 --json " + file.string());
    ASSERT_EQ(run.code, 0) << run.err;
    const json out = run.parsed();
    const json& p = out["result"]["parabola"];
    EXPECT_EQ(num(p["coefficient"]), r->parabola.coefficient);
    EXPECT_EQ(num(p["pose"]["angle"]), r->parabola.pose.angle);
    EXPECT_EQ(num(p["pose"]["translation"]["x"]), r->parabola.pose.translation.x);
    EXPECT_EQ(num(p["pose"]["translation"]["y"]), r->parabola.pose.translation.y);
    EXPECT_EQ(num(out["result"]["rmsError"]), r->rmsError);
    EXPECT_EQ(out["result"]["isValid"], 1);
    // The arc was bent with a = 0.045 about the vertex (30, 12).
    EXPECT_NEAR(num(p["coefficient"]), 0.045, 0.002);
    EXPECT_NEAR(num(out["vertex"]["x"]), 30.0, 0.1);
    EXPECT_NEAR(num(out["vertex"]["y"]), 12.0, 0.1);

    const Outcome zero = zfit("parabola --max-iterations 0 " + file.string() + " --weights");
    EXPECT_EQ(zero.code, 3);
    EXPECT_NE(zero.err.find("zmath_errFitMaxIterations"), std::string::npos) << zero.err;
    // Without --weights the third column is a mistake the reader points out.
    const Outcome unweighted = zfit("parabola " + file.string());
    EXPECT_EQ(unweighted.code, 2);
    EXPECT_NE(unweighted.err.find("use --weights"), std::string::npos) << unweighted.err;
}

TEST_F(Cli, PointToLineOnTheProbeExampleEqualsTheLibrary)
{
    const fs::path file = fs::path(kExamples) / "point_lines.csv";
    const auto rows = rowsOf(file);
    const std::vector<zmath_vect> points = pointsOf(rows);
    std::vector<zmath_shapeFLine> lines(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double angle = rows[i][2] * std::numbers::pi / 180.0;
        zmath_shapeFLine_initAngleDistance(&lines[i], &angle, rows[i][3]);
    }
    zmath_pointToLineFitParams params;
    zmath_pointToLineFitParams_init(&params);
    zt::Owned<zmath_pointToLineFitResult, zmath_pointToLineFitResult_construct, zmath_pointToLineFitResult_destruct> r;
    ASSERT_EQ(zmath_pointToLineFit(&params, points.data(), lines.data(), static_cast<int32_t>(points.size()), r.get()), 0);

    const fs::path svg = dir / "p2l.svg";
    const Outcome run = zfit("p2l --degrees --json --svg " + svg.string() + " " + file.string());
    ASSERT_EQ(run.code, 0) << run.err;
    const json out = run.parsed();
    const json& x = out["result"]["xform"];
    EXPECT_EQ(num(x["translation"]["x"]), r->xform.translation.x);
    EXPECT_EQ(num(x["translation"]["y"]), r->xform.translation.y);
    EXPECT_EQ(num(x["matrix"]["m00"]), r->xform.matrix.m00);
    EXPECT_EQ(num(x["matrix"]["m01"]), r->xform.matrix.m01);
    EXPECT_EQ(num(x["matrix"]["m10"]), r->xform.matrix.m10);
    EXPECT_EQ(num(x["matrix"]["m11"]), r->xform.matrix.m11);
    EXPECT_EQ(num(out["result"]["rmsError"]), r->rmsError);
    EXPECT_EQ(out["residuals"].size(), points.size());
    EXPECT_EQ(count(svg, "given"), static_cast<int>(points.size()) + 1);
    EXPECT_EQ(count(svg, "mapped"), static_cast<int>(points.size()) + 1);

    // Read as radians the same numbers describe other lines.
    EXPECT_NE(zfit("p2l --json " + file.string()).out, run.out);
    // dof other than 6 is the library's to refuse.
    const Outcome dof = zfit("p2l --dof 5 --degrees " + file.string());
    EXPECT_EQ(dof.code, 3);
    EXPECT_NE(dof.err.find("zmath_errFitBadMode"), std::string::npos) << dof.err;
}

TEST_F(Cli, PointToPointOnTheCalibrationExampleEqualsTheLibrary)
{
    const fs::path file = fs::path(kExamples) / "pairs.csv";
    const auto rows = rowsOf(file);
    const std::vector<zmath_vect> targets = pointsOf(rows, 0), sources = pointsOf(rows, 2);
    for (int dof : {3, 4, 5, 6}) {
        SCOPED_TRACE("dof " + std::to_string(dof));
        zmath_pointToPointFitParams params;
        zmath_pointToPointFitParams_init(&params);
        params.dof = dof;
        zt::Owned<zmath_pointToPointFitResult, zmath_pointToPointFitResult_construct,
                  zmath_pointToPointFitResult_destruct>
            r;
        const zfit_status status = zmath_pointToPointFit(&params, targets.data(), sources.data(),
                                                         static_cast<int32_t>(targets.size()), r.get());
        const Outcome run = zfit("p2p --dof " + std::to_string(dof) + " --json " + file.string());
        const json out = run.parsed();
        EXPECT_EQ(out["status"]["code"], status);
        if (ZFIT_FAILED(status)) continue;
        const json& x = out["result"]["xform"];
        EXPECT_EQ(num(x["translation"]["x"]), r->xform.translation.x);
        EXPECT_EQ(num(x["translation"]["y"]), r->xform.translation.y);
        EXPECT_EQ(num(x["matrix"]["m00"]), r->xform.matrix.m00);
        EXPECT_EQ(num(x["matrix"]["m01"]), r->xform.matrix.m01);
        EXPECT_EQ(num(x["matrix"]["m10"]), r->xform.matrix.m10);
        EXPECT_EQ(num(x["matrix"]["m11"]), r->xform.matrix.m11);
        EXPECT_EQ(num(out["result"]["rmsError"]), r->rmsError);
    }
    // The plate was imaged at 0.05 mm per pixel, turned by 1.5 degrees.
    const json similarity = zfit("p2p --dof 4 --json " + file.string()).parsed();
    EXPECT_NEAR(num(similarity["scales"][0]), 0.05, 1e-4);
    EXPECT_NEAR(num(similarity["rotationDegrees"]), 1.5, 0.05);
    // A negative weight is the library's to refuse, by name.
    const Outcome negative = zfit("p2p --weights -", "0 0 0 0 1\n1 0 1 0 1\n0 1 0 1 -1\n");
    EXPECT_EQ(negative.code, 3);
    EXPECT_NE(negative.err.find("zmath_errFitWeightNegative"), std::string::npos) << negative.err;
    // Weights reach the weighted fit: scaling them all changes nothing.
    const std::string rowsText = slurp(file);
    std::string once, twice;
    std::istringstream in(rowsText);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || std::isalpha(static_cast<unsigned char>(line[0]))) continue;
        once += line + ",0.5\n";
        twice += line + ",1.0\n";
    }
    const json a = zfit("p2p --dof 4 --weights --json " + write("once.csv", once).string()).parsed();
    const json b = zfit("p2p --dof 4 --weights --json " + write("twice.csv", twice).string()).parsed();
    EXPECT_EQ(a["status"]["code"], 0);
    EXPECT_NEAR(num(a["result"]["xform"]["matrix"]["m00"]), num(b["result"]["xform"]["matrix"]["m00"]), 1e-12);
    EXPECT_NEAR(num(a["result"]["rmsError"]), num(b["result"]["rmsError"]), 1e-12);
}

// ---- long searches ------------------------------------------------------------

// A search that would run for many seconds, in passes of a few hundredths:
// the timeout stops it at a pass and the command reports it as cancelled;
// the progress shows after a second.
TEST_F(Cli, TimeoutCancelsALongSearchAndProgressShows)
{
    zt::Rng rng(7);
    std::vector<zmath_vect> points;
    for (int i = 0; i < 1000; ++i) points.push_back({rng.uniform(0, 100), rng.uniform(0, 100)});
    {
        // Only where the library offers the outlier search.
        zmath_lineFitParams params;
        zmath_lineFitParams_init(&params);
        params.numIgnore = 3;
        LineResult r;
        const std::vector<zmath_vect> few(points.begin(), points.begin() + 6);
        if (zmath_lineFit(few.data(), 6, &params, r.get()) == zmath_errFitBadMode)
            GTEST_SKIP() << "no outlier search in this build";
    }
    const Outcome run = zfit("line --ignore 3 --timeout 1.5 --json " + write("many.csv", csv(points)).string());
    EXPECT_EQ(run.code, 4) << run.err;
    EXPECT_EQ(run.parsed()["status"]["name"], "zsys_errCancelled");
    EXPECT_NE(run.err.find("cancelled"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("outlier search"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("% (pass "), std::string::npos) << run.err;

    const Outcome quiet = zfit("line --ignore 3 --timeout 1.2 --quiet " + (dir / "many.csv").string());
    EXPECT_EQ(quiet.code, 4);
    EXPECT_EQ(quiet.err.find("% (pass "), std::string::npos) << quiet.err;
}

}  // namespace
