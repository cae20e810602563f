// `zfit circle --geometric` and `zfit ellipse --geometric`, run as a user
// runs them: the numbers they print are the library's, with ± and 95%
// intervals in the summary and the covariance in the JSON.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>
#include <zfit/metrology/metrology.h>

#include "scatter.hpp"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int code = -1;
    std::string out;
};

class GeometricCli : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(mkdtemp(dir.data()), nullptr); }
    void TearDown() override { fs::remove_all(dir); }

    // Writes the points as "x y" lines and returns the file's path.
    std::string write(const std::vector<zmath_vect>& points)
    {
        const std::string path = dir + "/points.txt";
        std::ofstream out(path);
        out.precision(17);
        for (const zmath_vect& p : points) out << p.x << ' ' << p.y << '\n';
        return path;
    }

    Outcome run(const std::string& args)
    {
        Outcome r;
        FILE* pipe = popen((std::string(ZFIT_CLI) + " " + args + " 2>" + dir + "/stderr").c_str(), "r");
        char buffer[4096];
        for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.out.append(buffer, got);
        const int status = pclose(pipe);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r;
    }

    std::string dir = (fs::temp_directory_path() / "zfit-geometric-cli-XXXXXX").string();
};

TEST_F(GeometricCli, CircleJsonHoldsTheLibrarysFitAndCovariance)
{
    zt::Rng rng(14);
    const auto points = mt::circleArc(rng, {40, -10}, 31.4, 0.2, 1.2, 25, 0.05);
    const Outcome r = run("circle --geometric --json " + write(points));
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
}

TEST_F(GeometricCli, SummariesShowTheIntervalAndTheSvgTheGeometricShape)
{
    zt::Rng rng(15);
    const std::string file = write(mt::ellipseArc(rng, {0, 0}, 30, 12, 0.5, 0.0, 2.0, 40, 0.02));
    const Outcome circle = run("circle --geometric " + file);
    EXPECT_EQ(circle.code, 0) << circle.out;
    EXPECT_NE(circle.out.find("radius          "), std::string::npos) << circle.out;
    EXPECT_NE(circle.out.find(" ± "), std::string::npos) << circle.out;
    EXPECT_NE(circle.out.find("(95%: "), std::string::npos) << circle.out;

    const Outcome ellipse = run("ellipse --geometric --svg " + dir + "/e.svg " + file);
    EXPECT_EQ(ellipse.code, 0) << ellipse.out;
    EXPECT_NE(ellipse.out.find("radius1         "), std::string::npos) << ellipse.out;
    std::ifstream svg(dir + "/e.svg");
    const std::string picture{std::istreambuf_iterator<char>(svg), {}};
    EXPECT_NE(picture.find("<title>Geometric ellipse</title>"), std::string::npos) << "the SVG's title";
}

TEST_F(GeometricCli, FailuresExitWithTheLibrarysStatus)
{
    const std::string file = write({{0, 0}, {1, 1}, {2, 0}});
    EXPECT_EQ(run("circle --geometric " + file).code, 3) << "three points";
    std::ifstream err(dir + "/stderr");
    const std::string message{std::istreambuf_iterator<char>(err), {}};
    EXPECT_NE(message.find("zmet_errTooFewPoints"), std::string::npos) << message;
}

}  // namespace
