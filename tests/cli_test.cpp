// The zfit command, run as a user runs it: on the example files and on files
// written here, compared field by field with the library's own results.
#include <sys/wait.h>
#include <unistd.h>

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

// ---- long searches ------------------------------------------------------------

// A search that would run for minutes: the timeout stops it at a pass and the
// command reports it as cancelled; the progress shows after a second.
TEST_F(Cli, TimeoutCancelsALongSearchAndProgressShows)
{
    zt::Rng rng(7);
    std::vector<zmath_vect> points;
    for (int i = 0; i < 3000; ++i) points.push_back({rng.uniform(0, 100), rng.uniform(0, 100)});
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
