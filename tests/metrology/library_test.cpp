// The companion library loads beside the fitting library and reports the
// project's version.
#include <gtest/gtest.h>

#include <zfit/metrology/metrology.h>

TEST(MetrologyLibrary, ReportsTheProjectVersion)
{
    int32_t major = -1, minor = -1, patch = -1;
    ASSERT_EQ(zmet_version(&major, &minor, &patch), zfit_ok);
    EXPECT_EQ(major, ZFIT_TEST_VERSION_MAJOR) << "major version";
    EXPECT_EQ(minor, ZFIT_TEST_VERSION_MINOR) << "minor version";
    EXPECT_EQ(patch, ZFIT_TEST_VERSION_PATCH) << "patch version";
    EXPECT_EQ(zmet_version(nullptr, nullptr, nullptr), zfit_ok) << "every output is optional";
}
