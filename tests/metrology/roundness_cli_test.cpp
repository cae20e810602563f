// `zfit roundness` as a user runs it: the same circles as the library, the
// exit status from --max-roundness, refusals named on standard error, and
// a picture that is an SVG document.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>
#include <zfit/metrology/metrology.h>

#include "support.hpp"

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

class RoundnessCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(mkdtemp(dir.data()), nullptr) << "scratch folder"; }
    void TearDown() override { fs::remove_all(dir); }

    Ran zfit(const std::string& args)
    {
        const std::string cmd = std::string(ZFIT_CLI) + " " + args + " >" + dir + "/out 2>" + dir + "/err";
        const int status = std::system(cmd.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir + "/out"), slurp(dir + "/err")};
    }

    std::string dir = (fs::temp_directory_path() / "zfit-roundness-XXXXXX").string();
};

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

TEST_F(RoundnessCommand, ReportsTheLibrarysCircles)
{
    const std::vector<zmath_vect> points = borePoints();
    ASSERT_EQ(points.size(), 180u) << "rows of the example";
    const std::pair<const char*, int32_t> methods[] = {{"zone", zmet_roundnessMinimumZone},
                                                       {"circumscribed", zmet_roundnessCircumscribed},
                                                       {"inscribed", zmet_roundnessInscribed}};
    for (const auto& [option, method] : methods) {
        SCOPED_TRACE(option);
        zmet_roundnessParams params;
        zmet_roundnessParams_init(&params);
        params.method = method;
        zmet_roundnessResult expected;
        ASSERT_EQ(zmet_roundness(points.data(), 180, &params, &expected), zfit_ok) << "library";
        const Ran run = zfit("roundness --method " + std::string(option) + " --json " + kBore);
        ASSERT_EQ(run.code, 0) << run.err;
        const nlohmann::json r = nlohmann::json::parse(run.out)["result"];
        EXPECT_DOUBLE_EQ(r["centre"]["x"].get<double>(), expected.centre.x) << "centre x";
        EXPECT_DOUBLE_EQ(r["centre"]["y"].get<double>(), expected.centre.y) << "centre y";
        EXPECT_DOUBLE_EQ(r["innerRadius"].get<double>(), expected.innerRadius) << "inner radius";
        EXPECT_DOUBLE_EQ(r["outerRadius"].get<double>(), expected.outerRadius) << "outer radius";
        EXPECT_DOUBLE_EQ(r["roundness"].get<double>(), expected.roundness) << "roundness";
        EXPECT_EQ(r["contacts"].get<std::vector<int32_t>>(),
                  std::vector<int32_t>(expected.contacts, expected.contacts + expected.contactCount))
            << "contacts";
    }
}

TEST_F(RoundnessCommand, ExitStatusFollowsTheLimit)
{
    EXPECT_EQ(zfit("roundness --max-roundness 0.02 " + kBore).code, 0) << "roundness 0.011 within 0.02";
    const Ran over = zfit("roundness --max-roundness 0.01 " + kBore);
    EXPECT_EQ(over.code, 1) << "roundness 0.011 over 0.01";
    EXPECT_NE(over.out.find("valid           no"), std::string::npos) << over.out;
}

TEST_F(RoundnessCommand, RefusalsAreNamed)
{
    EXPECT_EQ(zfit("roundness --method oval " + kBore).code, 2) << "unknown method";
    EXPECT_EQ(zfit("roundness --max-roundness -1 " + kBore).code, 3) << "negative limit refused by the library";
    std::ofstream(dir + "/arc.csv") << "10,0\n9.8,1.99\n9.2,3.9\n8.25,5.65\n6.97,7.17\n5.4,8.42\n";
    const Ran open = zfit("roundness --method inscribed " + dir + "/arc.csv");
    EXPECT_EQ(open.code, 3) << "an arc has no inscribed circle";
    EXPECT_NE(open.err.find("zmet_errProfileOpen"), std::string::npos) << open.err;
}

TEST_F(RoundnessCommand, DrawsTheZone)
{
    const std::string svg = dir + "/bore.svg";
    ASSERT_EQ(zfit("roundness " + kBore + " --svg " + svg).code, 0) << "run";
    const std::string text = slurp(svg);
    EXPECT_NE(text.find("fill-rule=\"evenodd\""), std::string::npos) << "the zone as a ring";
    EXPECT_NE(text.find("100 times enlarged"), std::string::npos) << "the enlargement is stated";
    EXPECT_EQ(std::system(("xmllint --noout " + svg).c_str()), 0) << "well-formed SVG";
}

}  // namespace
