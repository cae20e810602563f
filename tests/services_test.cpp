// Services the fits rely on: dense solve and eigenvalues, transforms,
// shapes, containers and the run-time hooks.
#include <algorithm>
#include <array>
#include <cstring>
#include <complex>

#include "support.hpp"

namespace {

// An owned n x m matrix.
struct Matrix {
    Matrix(int32_t rows, int32_t cols) { EXPECT_EQ(zmath_nmmatrix_constructRowsCols(&m, rows, cols), 0); }
    Matrix(const Matrix&) = delete;
    Matrix& operator=(const Matrix&) = delete;
    ~Matrix() { zmath_nmmatrix_destruct(&m); }
    double& operator()(int32_t i, int32_t j) { return m.rows[i][j]; }
    zmath_nmmatrix m{};
};

TEST(Solve, ResidualOfRandomSystemsIsAtRoundingLevel)
{
    zt::Rng rng(11);
    for (int trial = 0; trial < 200; ++trial) {
        const int32_t n = rng.integer(1, 6), k = rng.integer(1, 3);
        Matrix a(n, n), b(n, k), x(0, 0);
        for (int32_t i = 0; i < n; ++i) {
            for (int32_t j = 0; j < n; ++j) a(i, j) = rng.uniform(-1.0, 1.0);
            a(i, i) += 3.0;  // diagonally dominant: well conditioned
            for (int32_t j = 0; j < k; ++j) b(i, j) = rng.uniform(-10.0, 10.0);
        }
        double condition = 0.0;
        ASSERT_EQ(zmath_nmmatrix_solve(&a.m, &b.m, &x.m, 1, &condition, 1e12), 0);
        ASSERT_EQ(x.m.numRows, n);
        ASSERT_EQ(x.m.numCols, k);
        EXPECT_GE(condition, 1.0 - 1e-12);
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j < k; ++j) {
                double sum = 0.0;
                for (int32_t q = 0; q < n; ++q) sum += a(i, q) * x(q, j);
                EXPECT_NEAR(sum, b(i, j), 1e-12) << "trial " << trial;
            }
    }
}

TEST(Solve, RefusesSingularAndIllConditionedSystems)
{
    Matrix a(3, 3), b(3, 1), x(0, 0);
    // Rows 0 and 2 equal: singular.
    const double rows[3][3] = {{1, 2, 3}, {4, 5, 6}, {1, 2, 3}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) a(i, j) = rows[i][j];
    EXPECT_EQ(zmath_nmmatrix_solve(&a.m, &b.m, &x.m, 1, nullptr, 1e12), zmath_errMatrixSingular);
    EXPECT_EQ(x.m.numRows, 0) << "X untouched on failure";

    // The 5x5 Hilbert matrix has a 1-norm condition number near 9.4e5.
    Matrix h(5, 5), rhs(5, 1);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) h(i, j) = 1.0 / (i + j + 1);
    double condition = 0.0;
    EXPECT_EQ(zmath_nmmatrix_solve(&h.m, &rhs.m, &x.m, 1, &condition, 1e5), zmath_errMatrixIllConditioned);
    EXPECT_NEAR(condition, 943656.0, 1.0);
    EXPECT_EQ(zmath_nmmatrix_solve(&h.m, &rhs.m, &x.m, 1, nullptr, 1e6), 0);
    EXPECT_EQ(zmath_nmmatrix_solve(&h.m, &rhs.m, &x.m, 0, nullptr, 1.0), 0) << "control 0 checks only singularity";

    Matrix wrong(4, 1);
    EXPECT_EQ(zmath_nmmatrix_solve(&h.m, &wrong.m, &x.m, 1, nullptr, 1e12), zmath_errMatrixShape);
}

TEST(Eigenvalues, SumAndProductMatchTraceAndDeterminant)
{
    zt::Rng rng(5);
    for (int trial = 0; trial < 500; ++trial) {
        Matrix a(3, 3);
        const double scale = std::pow(10.0, rng.uniform(-6.0, 6.0));
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) a(i, j) = rng.uniform(-1.0, 1.0) * scale;
        zt::Doubles re, im;
        ASSERT_EQ(zmath_nmmatrix_eigenvalues(&a.m, 0, const_cast<zstd_vectord*>(re.get()),
                                             const_cast<zstd_vectord*>(im.get())),
                  0);
        ASSERT_EQ(re.get()->size, 3);
        std::complex<double> sum = 0.0, product = 1.0;
        for (int k = 0; k < 3; ++k) {
            const std::complex<double> value(re.get()->begin[k], im.get()->begin[k]);
            sum += value;
            product *= value;
            if (k > 0) {
                EXPECT_GE(re.get()->begin[k - 1], re.get()->begin[k]) << "decreasing real parts";
            }
        }
        const double trace = a(0, 0) + a(1, 1) + a(2, 2);
        const double det = a(0, 0) * (a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1)) -
                           a(0, 1) * (a(1, 0) * a(2, 2) - a(1, 2) * a(2, 0)) +
                           a(0, 2) * (a(1, 0) * a(2, 1) - a(1, 1) * a(2, 0));
        EXPECT_NEAR(sum.real(), trace, 1e-12 * scale * 10) << "trial " << trial;
        EXPECT_NEAR(sum.imag(), 0.0, 1e-12 * scale * 10);
        EXPECT_NEAR(product.real(), det, 1e-11 * scale * scale * scale * 10) << "trial " << trial;
    }
}

TEST(Eigenvalues, RotationHasAConjugatePairPositiveImaginaryFirst)
{
    Matrix a(3, 3);
    a(0, 1) = -2.0;  // rotation by 90 degrees scaled by 2 in the xy plane, 5 on z
    a(1, 0) = 2.0;
    a(2, 2) = 5.0;
    zt::Doubles re, im;
    ASSERT_EQ(zmath_nmmatrix_eigenvalues(&a.m, 0, const_cast<zstd_vectord*>(re.get()), const_cast<zstd_vectord*>(im.get())), 0);
    EXPECT_NEAR(re.get()->begin[0], 5.0, 1e-14);
    EXPECT_NEAR(im.get()->begin[0], 0.0, 1e-14);
    EXPECT_NEAR(re.get()->begin[1], 0.0, 1e-14);
    EXPECT_NEAR(im.get()->begin[1], 2.0, 1e-14);
    EXPECT_NEAR(im.get()->begin[2], -2.0, 1e-14);
}

TEST(Transforms, InversesRoundTrip)
{
    zt::Rng rng(3);
    for (int trial = 0; trial < 100; ++trial) {
        zmath_xformLinear xf{{rng.uniform(-100, 100), rng.uniform(-100, 100)},
                             {rng.uniform(-2, 2), rng.uniform(-2, 2), rng.uniform(-2, 2), rng.uniform(-2, 2)}};
        zmath_xformLinear inv;
        ASSERT_EQ(zmath_xformLinear_getInverse(&xf, &inv), 0);
        const double angle = rng.uniform(-10, 10);
        zmath_xformRigid rigid, rigidInv, both;
        zmath_xformRigid_initAngleTransElements(&rigid, &angle, rng.uniform(-50, 50), rng.uniform(-50, 50));
        zmath_xformRigid_getInverse(&rigid, &rigidInv);
        zmath_xformRigid_initCompose(&both, &rigid, &rigidInv);
        const zmath_vect p{rng.uniform(-10, 10), rng.uniform(-10, 10)};
        zmath_vect q, back, r;
        zmath_xformLinear_mapPoint(&xf, &p, &q);
        zmath_xformLinear_mapPoint(&inv, &q, &back);
        const double det = std::fabs(xf.matrix.m00 * xf.matrix.m11 - xf.matrix.m01 * xf.matrix.m10);
        if (det > 1e-3) {  // well away from singular
            EXPECT_NEAR(back.x, p.x, 1e-9 / det);
            EXPECT_NEAR(back.y, p.y, 1e-9 / det);
        }
        zmath_xformRigid_mapPoint(&both, &p, &r);
        EXPECT_NEAR(r.x, p.x, 1e-12);
        EXPECT_NEAR(r.y, p.y, 1e-12);
        EXPECT_NEAR(both.angle, 0.0, 1e-12);
    }
    zmath_xformLinear singular{{1, 2}, {1, 2, 2, 4}}, out{};
    EXPECT_EQ(zmath_xformLinear_getInverse(&singular, &out), zmath_errMatrixSingular);
}

TEST(Transforms, RigidRotatesCounterclockwiseAndComposesRightToLeft)
{
    const double quarter = zt::pi / 2;
    zmath_xformRigid turn, shift, both;
    zmath_xformRigid_initAngleTransElements(&turn, &quarter, 0.0, 0.0);
    const double zero = 0.0;
    zmath_xformRigid_initAngleTransElements(&shift, &zero, 10.0, 0.0);
    zmath_xformRigid_initCompose(&both, &turn, &shift);  // shift, then turn
    const zmath_vect p{1.0, 0.0};
    zmath_vect q;
    zmath_xformRigid_mapPoint(&both, &p, &q);
    EXPECT_NEAR(q.x, 0.0, 1e-12);
    EXPECT_NEAR(q.y, 11.0, 1e-12);
}

// Conic coefficients of an ellipse: |L^-1 (p - c)|^2 = 1 expanded.
std::array<double, 6> conicOf(const zmath_shapeEllipse& e, double scale)
{
    zmath_xformLinear xf, inv;
    zmath_shapeEllipse_getXform(&e, &xf);
    zmath_xformLinear_getInverse(&xf, &inv);
    const zmath_matrix& m = inv.matrix;
    const double a = m.m00 * m.m00 + m.m10 * m.m10, b = 2 * (m.m00 * m.m01 + m.m10 * m.m11),
                 c = m.m01 * m.m01 + m.m11 * m.m11;
    const double cx = e.center.x, cy = e.center.y;
    return {scale * a,
            scale * b,
            scale * c,
            scale * (-2 * a * cx - b * cy),
            scale * (-2 * c * cy - b * cx),
            scale * (a * cx * cx + b * cx * cy + c * cy * cy - 1)};
}

// Two ellipses describe the same curve when their transforms map the unit
// circle onto the same point set: equal centres and equal M*M^T.
void expectSameEllipse(const zmath_shapeEllipse& a, const zmath_shapeEllipse& b, double tol)
{
    zmath_xformLinear xa, xb;
    zmath_shapeEllipse_getXform(&a, &xa);
    zmath_shapeEllipse_getXform(&b, &xb);
    EXPECT_NEAR(xa.translation.x, xb.translation.x, tol);
    EXPECT_NEAR(xa.translation.y, xb.translation.y, tol);
    const auto gram = [](const zmath_matrix& m) {
        return std::array<double, 3>{m.m00 * m.m00 + m.m01 * m.m01, m.m00 * m.m10 + m.m01 * m.m11,
                                     m.m10 * m.m10 + m.m11 * m.m11};
    };
    const auto ga = gram(xa.matrix), gb = gram(xb.matrix);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(ga[i], gb[i], tol * (1 + std::fabs(ga[i])));
}

TEST(Ellipse, ConicAndGeometricFormsRoundTrip)
{
    zt::Rng rng(17);
    for (int trial = 0; trial < 300; ++trial) {
        SCOPED_TRACE(trial);
        zmath_shapeEllipse e;
        const zmath_vect c{rng.uniform(-100, 100), rng.uniform(-100, 100)};
        ASSERT_EQ(zmath_shapeEllipse_init(&e, &c, rng.uniform(0.5, 20), rng.uniform(0.5, 20), rng.uniform(-7, 7)), 0);
        const double scale = rng.uniform(0.1, 10) * (trial % 2 ? -1 : 1);  // a conic's sign and scale do not matter
        const auto k = conicOf(e, scale);
        zmath_shapeEllipse back;
        ASSERT_EQ(zmath_shapeEllipse_initAlgebraic(&back, k[0], k[1], k[2], k[3], k[4], k[5]), 0);
        expectSameEllipse(e, back, 1e-7);
        EXPECT_GE(back.radius1, back.radius2) << "the major axis comes first";
        EXPECT_GE(back.angle, 0.0);
        EXPECT_LT(back.angle, zt::pi);

        zmath_xformLinear xf;
        zmath_shapeEllipse_getXform(&e, &xf);
        zmath_shapeEllipse fromXform;
        ASSERT_EQ(zmath_shapeEllipse_initFromXform(&fromXform, &xf), 0);
        expectSameEllipse(e, fromXform, 1e-9);
        EXPECT_GE(fromXform.radius1, fromXform.radius2);
    }
}

TEST(Ellipse, RefusesConicsThatAreNoRealEllipse)
{
    zmath_shapeEllipse e{{7, 7}, 1, 1, 0};
    const zmath_shapeEllipse before = e;
    struct Row {
        const char* what;
        double a, b, c, d, e, f;
        zfit_status expected;
    } rows[] = {
        {"hyperbola x^2 - y^2 = 1", 1, 0, -1, 0, 0, -1, zmath_errServiceDegenerateA},
        {"parabola y = x^2", 1, 0, 0, 0, -1, 0, zmath_errServiceDegenerateA},
        {"line pair xy = 0", 0, 1, 0, 0, 0, 0, zmath_errServiceDegenerateA},
        {"imaginary x^2 + y^2 + 1 = 0", 1, 0, 1, 0, 0, 1, zmath_errServiceDegenerateB},
        {"point x^2 + y^2 = 0", 1, 0, 1, 0, 0, 0, zmath_errServiceDegenerateB},
        {"NaN", NAN, 0, 1, 0, 0, -1, zmath_errServiceDegenerateA},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(zmath_shapeEllipse_initAlgebraic(&e, r.a, r.b, r.c, r.d, r.e, r.f), r.expected) << r.what;
        EXPECT_EQ(std::memcmp(&e, &before, sizeof e), 0) << r.what << ": untouched";
    }
    // Axis-aligned 3 x 2 ellipse about (1, -1): x^2/9 + y^2/4 = 1 shifted.
    ASSERT_EQ(zmath_shapeEllipse_initAlgebraic(&e, 4, 0, 9, -8, 18, 4 + 9 - 36), 0);
    EXPECT_NEAR(e.center.x, 1, 1e-12);
    EXPECT_NEAR(e.center.y, -1, 1e-12);
    EXPECT_NEAR(e.radius1, 3, 1e-12);
    EXPECT_NEAR(e.radius2, 2, 1e-12);
    EXPECT_NEAR(e.angle, 0, 1e-12);
}

TEST(Line, AngleIsStoredAsGivenAndDistancesFollowTheNormalForm)
{
    zmath_shapeFLine line;
    const double angle = 7.5;  // beyond 2 pi on purpose
    ASSERT_EQ(zmath_shapeFLine_initAngleDistance(&line, &angle, 3.0), 0);
    double back = 0, sine = 0, cosine = 0, d = 0;
    zmath_shapeFLine_getAngle(&line, &back);
    zmath_shapeFLine_getSine(&line, &sine);
    zmath_shapeFLine_getCosine(&line, &cosine);
    EXPECT_EQ(back, 7.5);
    EXPECT_EQ(sine, std::sin(7.5));
    EXPECT_EQ(cosine, std::cos(7.5));
    // A point on the line: d * normal, where the normal is (-sin, cos).
    const zmath_vect on{-3.0 * sine, 3.0 * cosine}, origin{0, 0};
    zmath_shapeFLine_distanceFrom(&line, &on, &d);
    EXPECT_NEAR(d, 0.0, 1e-12);
    zmath_shapeFLine_distanceFrom(&line, &origin, &d);
    EXPECT_EQ(d, 3.0);
}

TEST(Tolerances, DocumentedComparisons)
{
    EXPECT_TRUE(zmath_double_equal(1e-13, 0.0));
    EXPECT_FALSE(zmath_double_equal(1e-11, 0.0));
    EXPECT_TRUE(zmath_double_equal(1e6, 1e6 * (1 + 1e-13)));
    EXPECT_FALSE(zmath_double_equal(NAN, NAN));
    EXPECT_TRUE(zmath_double_epsilonEqual(1.0, 1.5, 0.5));
    EXPECT_FALSE(zmath_double_epsilonEqual(NAN, 0.0, 1.0));
    const double a = 0.01, b = 2 * zt::pi - 0.01, eps = 0.03, tight = 0.01;
    EXPECT_TRUE(zmath_radian_epsilonEqual(&a, &b, &eps)) << "compared modulo 2 pi";
    EXPECT_FALSE(zmath_radian_epsilonEqual(&a, &b, &tight));
}

TEST(Containers, CountsAreCheckedAndExhaustionReported)
{
    zstd_vector32 v;
    EXPECT_EQ(zstd_vector32_construct(&v, -1), zstd_errBadCount);
    EXPECT_EQ(zstd_vector32_destruct(&v), 0) << "a failed construct leaves a destructible vector";
    EXPECT_EQ(zstd_vector32_construct(&v, int64_t{INT32_MAX} + 1), zstd_errBadCount);
    zstd_vector32_destruct(&v);
    {
        zt::ScopedAllocator failing(1);
        EXPECT_EQ(zstd_vector32_construct(&v, 10), zstd_errOutOfMemory);
        zstd_vector32_destruct(&v);
        EXPECT_EQ(failing.outstanding(), 0u);
    }
    zstd_vector_ records;
    EXPECT_EQ(zstd_vector__constructWithVtable(&records, 5, 24, nullptr), 0);
    void* begin = nullptr;
    void* end = nullptr;
    zstd_vector__getBeginEnd(&records, &begin, &end);
    EXPECT_EQ(static_cast<char*>(end) - static_cast<char*>(begin), 5 * 24);
    zstd_vector__destruct(&records);
}

TEST(Containers, CopiesAreIndependentAndPushBackMayReferToItself)
{
    zstd_vector_zmath_vect a, b;
    ASSERT_EQ(zstd_vector_zmath_vect_construct(&a, 0), 0);
    for (int i = 0; i < 100; ++i) {
        const zmath_vect p{double(i), -double(i)};
        ASSERT_EQ(zstd_vector_zmath_vect_pushBack(&a, &p), 0);
    }
    ASSERT_EQ(zstd_vector_zmath_vect_pushBack(&a, &a.begin[3]), 0);  // growth while reading from inside
    EXPECT_EQ(a.begin[100].x, 3.0);
    ASSERT_EQ(zstd_vector_zmath_vect_constructCopy(&b, &a), 0);
    ASSERT_EQ(zstd_vector_zmath_vect_resize(&b, 2), 0);
    int32_t size = 0;
    zstd_vector_zmath_vect_getSize(&a, &size);
    EXPECT_EQ(size, 101);
    ASSERT_EQ(zstd_vector_zmath_vect_assign(&a, &b), 0);
    const zmath_vect* begin = nullptr;
    zstd_vector_zmath_vect_getBeginSizeConst(&a, &begin, &size);
    EXPECT_EQ(size, 2);
    EXPECT_EQ(begin[1].y, -1.0);
    EXPECT_EQ(zstd_vector_zmath_vect_assign(&a, &a), 0);
    zstd_vector_zmath_vect_destruct(&a);
    zstd_vector_zmath_vect_destruct(&b);
}

TEST(Attention, SucceedsByDefaultAndFollowsTheInstalledCheck)
{
    EXPECT_EQ(zsys_attention_check(), 0);
    zsys_deadline past;
    zsys_deadline_init(&past, -1.0);
    zsys_attention_install(zsys_deadline_check, &past);
    EXPECT_EQ(zsys_attention_check(), zsys_errCancelled);
    zsys_deadline future;
    zsys_deadline_init(&future, 3600.0);
    zsys_attention_install(zsys_deadline_check, &future);
    EXPECT_EQ(zsys_attention_check(), 0);
    zsys_deadline never;
    for (double seconds : {1e300, HUGE_VAL, double(NAN)}) {
        zsys_deadline_init(&never, seconds);
        zsys_attention_install(zsys_deadline_check, &never);
        EXPECT_EQ(zsys_attention_check(), 0) << seconds << " s never expires";
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
    {
        zt::ScopedAssertCounter counter;
        zstd_assert_installed(&fn, &context);
        EXPECT_NE(fn, nullptr);
        zstd_assert_(7);
        EXPECT_EQ(counter.count(), 1);
    }
}

TEST(AssertDeathTest, DefaultHandlerReportsTheLineAndStops)
{
    EXPECT_DEATH(zstd_assert_(1234), "broken precondition at line 1234");
}

}  // namespace
