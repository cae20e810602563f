// The zfit command's measurements, run as a user runs them: `circle
// --geometric` and `ellipse --geometric` print the library's numbers, with ±
// and 95% intervals in the summary and the covariance in the JSON;
// `roundness` reports the library's circles and their contacts in the summary,
// the JSON and the picture (its exit status: the command's exit status table).
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>
#include <zfit/metrology/metrology.h>

#include "scatter.hpp"

namespace {

namespace fs = std::filesystem;

struct Ran {
    int code = -1;
    std::string out, err;
};

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// How often the text holds the needle.
std::size_t occurrences(const std::string& text, const std::string& needle)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

class Command : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(mkdtemp(dir.data()), nullptr) << "scratch folder"; }
    void TearDown() override { fs::remove_all(dir); }

    Ran zfit(const std::string& args)
    {
        const std::string cmd = std::string(ZFIT_CLI) + " " + args + " >" + dir + "/out 2>" + dir + "/err";
        const int status = std::system(cmd.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir + "/out"), slurp(dir + "/err")};
    }

    // Writes the points as "x y" lines and returns the file's path.
    std::string write(const std::vector<zmath_vect>& points)
    {
        const std::string path = dir + "/points.txt";
        std::ofstream out(path);
        out.precision(17);
        for (const zmath_vect& p : points) out << p.x << ' ' << p.y << '\n';
        return path;
    }

    std::string dir = (fs::temp_directory_path() / "zfit-metrology-cli-XXXXXX").string();
};

// The JSON holds the library's fit and covariance; the summary gives the
// diameter: twice the radius, its standard error and its 95% interval.
TEST_F(Command, GeometricCircleJsonHoldsTheLibrarysFitAndCovariance)
{
    zt::Rng rng(14);
    const auto points = mt::circleArc(rng, {40, -10}, 31.4, 0.2, 1.2, 25, 0.05);
    const std::string file = write(points);
    const Ran r = zfit("circle --geometric --json " + file), summary = zfit("circle --geometric " + file);
    ASSERT_EQ(r.code, 0) << r.out;
    const auto json = nlohmann::json::parse(r.out)["result"];

    zmet_geometricCircleParams params;
    zmet_geometricCircleParams_init(&params);
    zmet_geometricCircleResult expected{};
    ASSERT_EQ(zmet_geometricCircleFit(points.data(), 25, &params, &expected), zfit_ok);
    EXPECT_EQ(json["radius"].get<double>(), expected.radius) << "radius";
    EXPECT_EQ(json["centre"]["x"].get<double>(), expected.centre.x) << "centre x";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(json["std_errors"][i].get<double>(), expected.uncertainty.standardErrors[i]) << "std error " << i;
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(json["covariance"][i][j].get<double>(), expected.uncertainty.covariance[i * 3 + j])
                << "covariance " << i << ", " << j;
    }
    const std::size_t row = summary.out.find("  diameter ");
    ASSERT_NE(row, std::string::npos) << summary.out;
    double diameter, error, low, high;
    ASSERT_EQ(std::sscanf(summary.out.c_str() + row, " diameter %lf ± %lf (95%%: %lf .. %lf)", &diameter, &error, &low,
                          &high),
              4)
        << summary.out;
    const double radius = expected.radius, deviation = expected.uncertainty.standardErrors[2],
                 halfWidth = expected.uncertainty.halfWidth95[2];
    EXPECT_NEAR(diameter, 2 * radius, 1e-6 * radius) << "twice the radius";
    EXPECT_NEAR(error, 2 * deviation, 1e-6 * deviation) << "twice its standard error";
    EXPECT_NEAR(low, 2 * (radius - halfWidth), 1e-6 * radius) << "twice the interval's lower end";
    EXPECT_NEAR(high, 2 * (radius + halfWidth), 1e-6 * radius) << "twice the interval's upper end";
}

// The geometric ellipse draws under its own title.
TEST_F(Command, TheGeometricEllipsesPictureSaysSo)
{
    zt::Rng rng(15);
    const std::string file = write(mt::ellipseArc(rng, {0, 0}, 30, 12, 0.5, 0.0, 2.0, 40, 0.02));
    const Ran ellipse = zfit("ellipse --geometric --svg " + dir + "/e.svg " + file);
    EXPECT_EQ(ellipse.code, 0) << ellipse.out;
    const std::string picture = slurp(dir + "/e.svg");
    EXPECT_NE(picture.find("<title>Geometric ellipse</title>"), std::string::npos) << "the SVG's title";
}

const std::string kBore = std::string(ZFIT_EXAMPLES) + "/bore.csv";

std::vector<zmath_vect> borePoints()
{
    std::vector<zmath_vect> points;
    std::ifstream in(kBore);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#' || line[0] == 'x') continue;
        std::istringstream fields(line);
        zmath_vect p{};
        char comma = 0;
        fields >> p.x >> comma >> p.y;
        points.push_back(p);
    }
    return points;
}

std::string contactName(int32_t index, bool outer)
{
    std::ostringstream name;
    name << '#' << index << " on the " << (outer ? "outer" : "inner") << " circle";
    return name.str();
}

// Each method, the minimum zone under both its names (the command's and the
// binding's): the JSON holds the library's circles, and the summary, the
// JSON's contact points and the picture show each contact the library
// reports, once and in its order, on its circle. The circumscribed and
// inscribed circles of the bore have three contacts, the zone four.
TEST_F(Command, RoundnessReportsTheLibrarysCirclesAndEveryContactOnce)
{
    const std::vector<zmath_vect> points = borePoints();
    ASSERT_EQ(points.size(), 180u) << "rows of the example";
    for (const auto& [option, method] :
         std::initializer_list<std::pair<const char*, int32_t>>{{"zone", zmet_roundnessMinimumZone},
                                                                {"minimum_zone", zmet_roundnessMinimumZone},
                                                                {"circumscribed", zmet_roundnessCircumscribed},
                                                                {"inscribed", zmet_roundnessInscribed}}) {
        SCOPED_TRACE(option);
        zmet_roundnessParams params;
        zmet_roundnessParams_init(&params);
        params.method = method;
        zmet_roundnessResult library;
        ASSERT_EQ(zmet_roundness(points.data(), 180, &params, &library), zfit_ok) << "library";
        std::vector<std::string> expected;
        for (int k = 0; k < library.contactCount; ++k)
            expected.push_back(contactName(library.contacts[k], library.contactOnOuter[k] != 0));

        const std::string svg = dir + "/contacts.svg", run = "roundness --method " + std::string(option) + " ";
        const Ran text = zfit(run + "--svg " + svg + " " + kBore);
        ASSERT_EQ(text.code, 0) << text.err;
        std::vector<std::string> listed;  // "#172 (52.22043, 28.2532) on the outer circle"
        for (std::size_t at = text.out.find('#'); at != std::string::npos; at = text.out.find('#', at + 1)) {
            const std::size_t on = text.out.find(" on the ", at) + 8;
            listed.push_back(contactName(std::stoi(text.out.substr(at + 1)), text.out.compare(on, 5, "outer") == 0));
        }
        EXPECT_EQ(listed, expected) << "the summary's contacts";

        const Ran json = zfit(run + "--json " + kBore);
        ASSERT_EQ(json.code, 0) << json.err;
        const nlohmann::json parsed = nlohmann::json::parse(json.out), r = parsed["result"];
        EXPECT_DOUBLE_EQ(r["centre"]["x"].get<double>(), library.centre.x) << "centre x";
        EXPECT_DOUBLE_EQ(r["centre"]["y"].get<double>(), library.centre.y) << "centre y";
        EXPECT_DOUBLE_EQ(r["innerRadius"].get<double>(), library.innerRadius) << "inner radius";
        EXPECT_DOUBLE_EQ(r["outerRadius"].get<double>(), library.outerRadius) << "outer radius";
        EXPECT_DOUBLE_EQ(r["roundness"].get<double>(), library.roundness) << "roundness";
        EXPECT_EQ(r["contacts"].get<std::vector<int32_t>>(),
                  std::vector<int32_t>(library.contacts, library.contacts + library.contactCount))
            << "contacts";
        ASSERT_EQ(r["contactOnOuter"].size(), static_cast<std::size_t>(library.contactCount))
            << "one flag per contact, none past them";
        for (int k = 0; k < library.contactCount; ++k)
            EXPECT_EQ(r["contactOnOuter"][k], library.contactOnOuter[k] != 0) << "a boolean per contact " << k;
        EXPECT_EQ(r["isValid"], true) << "a boolean";
        std::vector<std::string> inJson;
        for (const auto& c : parsed["contactPoints"])
            inJson.push_back(contactName(c["index"].get<int32_t>(), c["circle"] == "outer"));
        EXPECT_EQ(inJson, expected) << "the JSON's contact points";

        const std::string picture = slurp(svg);
        EXPECT_EQ(occurrences(picture.substr(0, picture.find("<g id=\"legend\">")), "class=\"target\""),
                  static_cast<std::size_t>(library.contactCount))
            << "the picture's contacts";
        EXPECT_EQ(std::system(("xmllint --noout " + svg).c_str()), 0) << "well-formed SVG";
    }
}

// ---- robust fits -------------------------------------------------------------

// A circle of 24 points, three of them pushed off it.
std::vector<zmath_vect> circleWithSpurs()
{
    zt::Rng rng(24);
    std::vector<zmath_vect> points = mt::circleArc(rng, {10, -3}, 5, 0, 2 * 3.14159265358979 * 23 / 24, 24, 0.01);
    points[3].x += 2;
    points[11].y += 2;
    points[19].y -= 3;
    return points;
}

TEST_F(Command, RobustCircleJsonListsTheLibrarysOutliersScaleAndWeights)
{
    const std::vector<zmath_vect> points = circleWithSpurs();
    const Ran r = zfit("circle --robust tukey --json --svg " + dir + "/fit.svg " + write(points));
    ASSERT_EQ(r.code, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    zmet_robustParams params;
    zmet_robustParams_init(&params, zmet_robustTukey);
    zmet_robustCircleResult fit;
    ASSERT_EQ(zmet_robustCircleResult_construct(&fit), zfit_ok);
    ASSERT_EQ(zmet_robustCircleFit(points.data(), 24, nullptr, &params, zmet_robustAlgebraic, &fit), zfit_ok);
    EXPECT_EQ(json["result"]["outliers"].get<std::vector<int32_t>>(), zt::indices(fit.robust.outliers));
    EXPECT_EQ(json["result"]["scale"].get<double>(), fit.robust.scale) << "the library's scale, every digit";
    EXPECT_EQ(json["result"]["weights"].size(), 24u) << "a weight per point";
    EXPECT_EQ(occurrences(slurp(dir + "/fit.svg"), "class=\"discarded\""), fit.robust.outliers.size + 1)
        << "each outlier drawn as one, and the legend's swatch";
    zmet_robustCircleResult_destruct(&fit);
}

TEST_F(Command, IgnoreAutoRunsTheExactSearchForTheRobustCount)
{
    const std::string path = write(circleWithSpurs());
    const Ran automatic = zfit("circle --ignore auto --json " + path);
    ASSERT_EQ(automatic.code, 0) << automatic.err;
    const auto json = nlohmann::json::parse(automatic.out);
    const int count = json["params"]["numIgnore"].get<int>();
    EXPECT_GE(count, 3) << "at least the pushed points";
    const Ran exact = zfit("circle --json --ignore " + std::to_string(count) + " " + path);
    EXPECT_EQ(json["result"], nlohmann::json::parse(exact.out)["result"]) << "the exact search's own result";
}

// A robust fit that the data defeat exits 3 and points at the option that
// may be the cause (the refused options themselves are in the command's
// exit-status table).
TEST_F(Command, RobustFailureOnTheDataNamesTheLikelyOption)
{
    const Ran scale = zfit("ellipse --robust clip --scale 1e-9 " + write(circleWithSpurs()));
    EXPECT_EQ(scale.code, 3) << "the data, not the option";
    EXPECT_NE(scale.err.find("zmet_errNoInliers"), std::string::npos) << scale.err;
    EXPECT_NE(scale.err.find("--scale"), std::string::npos) << scale.err;
}

}  // namespace
