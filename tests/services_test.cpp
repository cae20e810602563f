// Services the fits rely on: the dense solve's refusals, transforms, shapes,
// containers and the run-time hooks. The solve's and the eigenvalues'
// results are checked through the fits that use them (parabola,
// point-to-line, ellipse).
#include <cstring>

#include "support.hpp"

namespace {

// An owned n x m matrix, optionally filled row by row.
struct Matrix {
    Matrix(int32_t rows, int32_t cols, std::initializer_list<double> values = {})
    {
        EXPECT_EQ(zmath_nmmatrix_constructRowsCols(&m, rows, cols), 0);
        for (int32_t k = 0; double v : values) m.rows[k / cols][k % cols] = v, ++k;
    }
    Matrix(const Matrix&) = delete;
    Matrix& operator=(const Matrix&) = delete;
    ~Matrix() { zmath_nmmatrix_destruct(&m); }
    double& operator()(int32_t i, int32_t j) { return m.rows[i][j]; }
    zmath_nmmatrix m{};
};

TEST(Solve, RefusesSingularAndIllConditionedSystems)
{
    Matrix singular(3, 3, {1, 2, 3, 4, 5, 6, 1, 2, 3}), b(3, 1), x(0, 0);
    EXPECT_EQ(zmath_nmmatrix_solve(&singular.m, &b.m, &x.m, 1, nullptr, 1e12), zmath_errMatrixSingular);
    EXPECT_EQ(x.m.numRows, 0) << "X untouched on failure";
    // The 5x5 Hilbert matrix has a 1-norm condition number near 9.4e5.
    Matrix h(5, 5), rhs(5, 1), wrong(4, 1);
    for (int i = 0; i < 25; ++i) h(i / 5, i % 5) = 1.0 / (i / 5 + i % 5 + 1);
    double condition = 0.0;
    EXPECT_EQ(zmath_nmmatrix_solve(&h.m, &rhs.m, &x.m, 1, &condition, 1e5), zmath_errMatrixIllConditioned);
    EXPECT_NEAR(condition, 943656.0, 1.0);
    EXPECT_EQ(zmath_nmmatrix_solve(&h.m, &rhs.m, &x.m, 1, nullptr, 1e6), 0);
    EXPECT_EQ(zmath_nmmatrix_solve(&h.m, &rhs.m, &x.m, 0, nullptr, 1.0), 0) << "control 0 checks only singularity";
    EXPECT_EQ(zmath_nmmatrix_solve(&h.m, &wrong.m, &x.m, 1, nullptr, 1e12), zmath_errMatrixShape);
}

zmath_xformRigid rigidOf(double angle, double x, double y)
{
    zmath_xformRigid r;
    zmath_xformRigid_initAngleTransElements(&r, &angle, x, y);
    return r;
}

// The fits' recovery tests catch a wrong inverse or composition; here the
// singular refusal and the order of composition.
TEST(Transforms, SingularInverseIsRefusedAndRigidComposesRightToLeft)
{
    zmath_xformLinear singular{{1, 2}, {1, 2, 2, 4}}, out{};
    EXPECT_EQ(zmath_xformLinear_getInverse(&singular, &out), zmath_errMatrixSingular);
    // Shift by (10, 0), then turn a quarter counterclockwise: (1, 0) -> (0, 11).
    const zmath_xformRigid turn = rigidOf(zt::pi / 2, 0, 0), shift = rigidOf(0, 10, 0);
    zmath_xformRigid both;
    zmath_xformRigid_initCompose(&both, &turn, &shift);
    zmath_vect p{1.0, 0.0}, q;
    zmath_xformRigid_mapPoint(&both, &p, &q);
    EXPECT_LT(std::hypot(q.x, q.y - 11.0), 1e-12) << q.x << ", " << q.y;
}

TEST(Ellipse, RefusesConicsThatAreNoRealEllipse)
{
    zmath_shapeEllipse e{{7, 7}, 1, 1, 0};
    const zmath_shapeEllipse before = e;
    const struct {
        const char* what;
        double a, b, c, d, e, f;
        zfit_status expected;
    } rows[] = {
        {"hyperbola x^2 - y^2 = 1", 1, 0, -1, 0, 0, -1, zmath_errServiceDegenerateA},
        {"imaginary x^2 + y^2 + 1 = 0", 1, 0, 1, 0, 0, 1, zmath_errServiceDegenerateB},
        {"NaN", NAN, 0, 1, 0, 0, -1, zmath_errServiceDegenerateA},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(zmath_shapeEllipse_initAlgebraic(&e, r.a, r.b, r.c, r.d, r.e, r.f), r.expected) << r.what;
        EXPECT_EQ(std::memcmp(&e, &before, sizeof e), 0) << r.what << ": untouched";
    }
}

TEST(Conventions, LineNormalFormAndTolerances)
{
    zmath_shapeFLine line;
    const double angle = 7.5;  // beyond 2 pi: stored as given
    ASSERT_EQ(zmath_shapeFLine_initAngleDistance(&line, &angle, 3.0), 0);
    EXPECT_EQ(line.angle, 7.5) << "stored as given";
    // d times the normal (-sin, cos) lies on the line; the origin is d away.
    const zmath_vect on{-3.0 * line.sine, 3.0 * line.cosine}, origin{0, 0};
    double d = 0, fromOrigin = 0;
    zmath_shapeFLine_distanceFrom(&line, &on, &d);
    zmath_shapeFLine_distanceFrom(&line, &origin, &fromOrigin);
    EXPECT_LT(std::fabs(d), 1e-12) << "d times the normal lies on the line";
    EXPECT_EQ(fromOrigin, 3.0) << "the origin is d away";

    const struct {
        double a, b;
        bool equal;
    } rows[] = {{1e-13, 0, true}, {1e-11, 0, false}, {1e6, 1e6 * (1 + 1e-13), true}, {NAN, NAN, false}};
    for (const auto& r : rows) EXPECT_EQ(bool(zmath_double_equal(r.a, r.b)), r.equal) << r.a << " vs " << r.b;
    EXPECT_TRUE(zmath_double_epsilonEqual(1.0, 1.5, 0.5)) << "the tolerance itself is equal";
    EXPECT_FALSE(zmath_double_epsilonEqual(NAN, 0.0, 1.0)) << "NaN equals nothing";
    const double a = 0.01, b = 2 * zt::pi - 0.01, eps = 0.03, tight = 0.01;
    EXPECT_TRUE(zmath_radian_epsilonEqual(&a, &b, &eps)) << "compared modulo 2 pi";
    EXPECT_FALSE(zmath_radian_epsilonEqual(&a, &b, &tight)) << "0.02 apart modulo 2 pi";
}

TEST(Containers, CountsAreChecked)
{
    zstd_vector32 v;
    for (const int64_t count : {int64_t{-1}, int64_t{INT32_MAX} + 1}) {
        EXPECT_EQ(zstd_vector32_construct(&v, count), zstd_errBadCount) << count;
        EXPECT_EQ(zstd_vector32_destruct(&v), 0) << "a failed construct leaves a destructible vector";
    }
}

TEST(Containers, CopiesAreIndependentAndPushBackMayReferToItself)
{
    zfit::Points a(std::vector<zmath_vect>(100));
    for (int i = 0; i < 100; ++i) a.get()->begin[i] = {double(i), -double(i)};
    zstd_vector_zmath_vect b;
    ASSERT_EQ(zstd_vector_zmath_vect_pushBack(a.get(), &a.get()->begin[3]), 0);  // growth while reading from inside
    EXPECT_EQ(a.get()->begin[100].x, 3.0);
    ASSERT_EQ(zstd_vector_zmath_vect_constructCopy(&b, a.get()), 0);
    ASSERT_EQ(zstd_vector_zmath_vect_resize(&b, 2), 0);
    int32_t size = 0;
    zstd_vector_zmath_vect_getSize(a.get(), &size);
    EXPECT_EQ(size, 101);
    ASSERT_EQ(zstd_vector_zmath_vect_assign(a.get(), &b), 0);
    zstd_vector_zmath_vect_destruct(&b);
    EXPECT_EQ(zstd_vector_zmath_vect_assign(a.get(), a.get()), 0);
    const zmath_vect* begin = nullptr;
    zstd_vector_zmath_vect_getBeginSizeConst(a.get(), &begin, &size);
    EXPECT_EQ(size, 2) << "assigned from the copy";
    EXPECT_EQ(begin[1].y, -1.0) << "assigned from the copy";
}

TEST(Attention, SucceedsByDefaultAndFollowsTheInstalledCheck)
{
    EXPECT_EQ(zsys_attention_check(), 0);
    const struct {
        double seconds;
        zfit_status expected;
    } rows[] = {{-1.0, zsys_errCancelled}, {1e300, 0}, {NAN, 0}};
    for (const auto& row : rows) {
        zsys_deadline deadline;
        zsys_deadline_init(&deadline, row.seconds);
        zsys_attention_install(zsys_deadline_check, &deadline);
        EXPECT_EQ(zsys_attention_check(), row.expected) << "deadline in " << row.seconds << " s";
    }
    zsys_attention_install(nullptr, nullptr);
    EXPECT_EQ(zsys_attention_check(), 0);
}

TEST(Assert, TheInstalledHandlerCanBeReadBackAndRestored)
{
    zsys_assertFn fn = nullptr;
    void* context = nullptr;
    zstd_assert_installed(&fn, &context);
    EXPECT_EQ(fn, nullptr);
    zt::ScopedAssertCounter counter;
    zstd_assert_installed(&fn, &context);
    EXPECT_NE(fn, nullptr);
    zstd_assert_(7);
    EXPECT_EQ(counter.count(), 1);
}

TEST(AssertDeathTest, DefaultHandlerReportsTheLineAndStops)
{
    EXPECT_DEATH(zstd_assert_(1234), "broken precondition at line 1234");
}

}  // namespace
