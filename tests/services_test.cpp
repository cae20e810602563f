// Services the fits rely on: the dense solve with several right-hand sides
// and its refusals, eigenvalues of matrices that need the exceptional shift
// or the balancing or that split, transforms and their inverses, ellipses
// from a transform and refused conics, containers and the run-time hooks.
#include <complex>
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

// Systems beyond the stack buffer (12 x 12, with two right-hand sides): B =
// A X by either product (the second from X^T), and solving gives X back.
TEST(Solve, SolvesEveryColumnAndRefusesSingularAndIllConditionedSystems)
{
    const int32_t n = 12;
    Matrix a(n, n), solution(n, 2), transposed(2, n), b(0, 0), bt(0, 0), found(0, 0), square(2, 2);
    for (int32_t i = 0; i < n; ++i) {
        a(i, i) = 4;
        if (i > 0) a(i, i - 1) = a(i - 1, i) = -1;
        solution(i, 0) = transposed(0, i) = i + 1;
        solution(i, 1) = transposed(1, i) = i % 3 - 1;
    }
    ASSERT_EQ(zmath_nmmatrix_multiply(&a.m, &solution.m, &b.m), 0);
    ASSERT_EQ(zmath_nmmatrix_multiplyT(&a.m, &transposed.m, &bt.m), 0);
    for (int32_t k = 0; k < 2 * n; ++k) EXPECT_EQ(bt(k / 2, k % 2), b(k / 2, k % 2)) << "A X, element " << k;
    ASSERT_EQ(zmath_nmmatrix_solve(&a.m, &b.m, &found.m, 1, nullptr, 1e12), 0);
    ASSERT_EQ(found.m.numCols, 2) << "one column per right-hand side";
    for (int32_t k = 0; k < 2 * n; ++k)
        EXPECT_NEAR(found(k / 2, k % 2), solution(k / 2, k % 2), 1e-13) << "element " << k;
    EXPECT_EQ(zmath_nmmatrix_multiply(&a.m, &square.m, &found.m), zmath_errMatrixShape);
    EXPECT_EQ(zmath_nmmatrix_multiplyT(&a.m, &square.m, &found.m), zmath_errMatrixShape);

    Matrix singular(3, 3, {1, 2, 3, 4, 5, 6, 1, 2, 3}), column(3, 1), x(0, 0);
    EXPECT_EQ(zmath_nmmatrix_solve(&singular.m, &column.m, &x.m, 1, nullptr, 1e12), zmath_errMatrixSingular);
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

std::vector<std::complex<double>> eigenvaluesOf(const Matrix& a)
{
    zfit::Doubles re(std::vector<double>{}), im(std::vector<double>{});
    EXPECT_EQ(zmath_nmmatrix_eigenvalues(&a.m, 0, re.get(), im.get()), 0);
    std::vector<std::complex<double>> values;
    for (int32_t k = 0; k < re.get()->size; ++k) values.emplace_back(re.get()->begin[k], im.get()->begin[k]);
    return values;
}

void expectEigenvalues(const Matrix& a, const std::vector<std::complex<double>>& expected, double tol)
{
    const std::vector<std::complex<double>> got = eigenvaluesOf(a);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t k = 0; k < got.size(); ++k) EXPECT_LE(std::abs(got[k] - expected[k]), tol) << "eigenvalue " << k;
}

// In decreasing order of the real part, a conjugate pair with its positive
// imaginary part first.
TEST(Eigenvalues, NeedTheExceptionalShiftTheBalancingAndTheSplit)
{
    // A cyclic permutation is a fixed point of the QR step with the shift of
    // its trailing block (0): only the exceptional shift moves it. Its
    // eigenvalues are the cube roots of unity.
    const double h = std::sqrt(3.0) / 2;
    expectEigenvalues(Matrix(3, 3, {0, 0, 1, 1, 0, 0, 0, 1, 0}), {{1, 0}, {-0.5, h}, {-0.5, -h}}, 1e-14);
    // D T D^-1 for T = (1 1 0; 1 1 1; 0 1 1) and D = diag(1, 2^-30, 2^-60),
    // with T's eigenvalues 1 + sqrt 2, 1, 1 - sqrt 2. Unbalanced, the entries
    // of 2^-30 fall below the rounding of those of 2^30 and the QR steps
    // take them for zero.
    const double t = 0x1p30, r2 = std::sqrt(2.0);
    expectEigenvalues(Matrix(3, 3, {1, t, 0, 1 / t, 1, t, 0, 1 / t, 1}), {{1 + r2, 0}, {1, 0}, {1 - r2, 0}}, 1e-14);
    // Beyond the stack buffer: the 8 x 8 second difference (2 on the
    // diagonal, -1 beside it), eigenvalues 2 - 2 cos(k pi / 9).
    Matrix laplacian(8, 8);
    std::vector<std::complex<double>> expected;
    for (int32_t i = 0; i < 8; ++i) {
        laplacian(i, i) = 2;
        if (i > 0) laplacian(i, i - 1) = laplacian(i - 1, i) = -1;
        expected.emplace_back(2 - 2 * std::cos((8 - i) * zt::pi / 9), 0);
    }
    expectEigenvalues(laplacian, expected, 1e-14);
    // Two blocks that never couple: the steps run on the lower one alone
    // (rows 2 and 3), rotating its own rows and columns.
    const Matrix blocks(4, 4, {2, 1, 0, 0, 1, 2, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0});
    expectEigenvalues(blocks, {{3, 0}, {1, 0}, {0, 1}, {0, -1}}, 1e-14);
    // A tiny eigenvalue t of its own beside P diag(3, 2, 1) P^-1 (P = LU, L
    // and U triangles of ones): balancing weighs each row by its own
    // entries, and t must not drag the others' scale down to underflow.
    for (int k = 1; k <= 58; k += 3) {
        SCOPED_TRACE(::testing::Message() << "t = 1e-" << k);
        const double t = std::pow(10.0, -k);
        expectEigenvalues(Matrix(4, 4, {t, 0, 0, 0, 0, 0, 0, 1, 0, -2, 1, 2, 0, -2, -2, 5}),
                          {{3, 0}, {2, 0}, {1, 0}, {t, 0}}, 1e-14);
    }

    zfit::Doubles re(std::vector<double>{}), im(std::vector<double>{});
    EXPECT_EQ(zmath_nmmatrix_eigenvalues(&laplacian.m, 1, re.get(), im.get()), zmath_errMatrixShape) << "control 1";
    const Matrix wide(2, 3);
    EXPECT_EQ(zmath_nmmatrix_eigenvalues(&wide.m, 0, re.get(), im.get()), zmath_errMatrixShape) << "not square";
}

// The inverse undoes the transform, translation included: p -> M p + t with
// M = (2 1; 1 1) and t = (3, -2) has M^-1 = (1 -1; -1 2) and the translation
// -M^-1 t = (-5, 7), exactly (the parabola fits catch a wrong rigid
// inverse). A singular matrix has none. Rigid transforms compose right to
// left.
TEST(Transforms, InversesUndoTheTransformAndRigidComposesRightToLeft)
{
    const zmath_xformLinear x{{3, -2}, {2, 1, 1, 1}};
    zmath_xformLinear inverse{};
    ASSERT_EQ(zmath_xformLinear_getInverse(&x, &inverse), 0);
    EXPECT_EQ(zt::shapeValues(inverse), (std::vector<double>{-5, 7, 1, -1, -1, 2})) << "translation, then matrix";
    zmath_xformLinear singular{{1, 2}, {1, 2, 2, 4}}, out{};
    EXPECT_EQ(zmath_xformLinear_getInverse(&singular, &out), zmath_errMatrixSingular);
    // Shift by (10, 0), then turn a quarter counterclockwise: (1, 0) -> (0, 11).
    const double quarter = zt::pi / 2, none = 0;
    zmath_xformRigid turn, shift, both;
    zmath_xformRigid_initAngleTransElements(&turn, &quarter, 0, 0);
    zmath_xformRigid_initAngleTransElements(&shift, &none, 10, 0);
    zmath_xformRigid_initCompose(&both, &turn, &shift);
    zmath_vect p{1.0, 0.0}, q;
    zmath_xformRigid_mapPoint(&both, &p, &q);
    EXPECT_LT(std::hypot(q.x, q.y - 11.0), 1e-12) << q.x << ", " << q.y;
}

// An ellipse comes back from the transform that maps the unit circle onto
// it, whatever turn or mirroring of the circle precedes it: the major axis
// first, its direction in [0, pi). (The ellipse fits check the ellipse of a
// conic, of either sign, at every scale.)
TEST(Ellipse, ComesBackFromTheTransformOfTheUnitCircle)
{
    zt::Rng rng(2614);
    for (int trial = 0; trial < 100; ++trial) {
        SCOPED_TRACE(::testing::Message() << "seed 2614 trial " << trial);
        const zmath_vect centre{rng.uniform(-100, 100), rng.uniform(-100, 100)};
        const double major = rng.uniform(1, 50), minor = major * rng.uniform(0.05, 0.95);
        const double angle = rng.uniform(0, zt::pi), c = std::cos(angle), s = std::sin(angle);
        // M = R(angle) diag(major, +-minor) R(turn).
        const double turn = rng.uniform(-zt::pi, zt::pi), ct = std::cos(turn), st = std::sin(turn);
        const double m = trial % 2 ? -minor : minor;
        const zmath_xformLinear x{centre,
                                  {major * c * ct - m * s * st, -major * c * st - m * s * ct,
                                   major * s * ct + m * c * st, -major * s * st + m * c * ct}};
        zmath_shapeEllipse e;
        ASSERT_EQ(zmath_shapeEllipse_initFromXform(&e, &x), 0);
        const double tol = 1e-12 * major;
        EXPECT_NEAR(e.center.x, centre.x, tol) << "centre x";
        EXPECT_NEAR(e.center.y, centre.y, tol) << "centre y";
        EXPECT_NEAR(e.radius1, major, tol) << "the major axis first";
        EXPECT_NEAR(e.radius2, minor, tol) << "then the minor one";
        EXPECT_GE(e.angle, 0.0) << "the direction from 0";
        EXPECT_LT(e.angle, zt::pi) << "up to pi";
        EXPECT_NEAR(std::remainder(e.angle - angle, zt::pi), 0.0, 1e-9) << "the major axis' direction";
    }
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

// The zero vector has no direction (the fits reach the 2-D refusal through
// the minimum-zone line, and the values through every fit).
TEST(Vectors, TheZeroVectorHasNoUnitVector)
{
    zmath_vect3 unit{7, 7, 7};
    const zmath_vect3 zero{0, 0, 0};
    EXPECT_EQ(zmath_vect3_getUnit(&zero, &unit), zmath_errZeroLength);
    EXPECT_EQ(unit.x, 7.0) << "untouched";
}

TEST(Containers, CountsAreChecked)
{
    zstd_vector32 v;
    for (const int64_t count : {int64_t{-1}, int64_t{INT32_MAX} + 1}) {
        EXPECT_EQ(zstd_vector32_construct(&v, count), zstd_errBadCount) << count;
        EXPECT_EQ(zstd_vector32_destruct(&v), 0) << "a failed construct leaves a destructible vector";
    }
}

// Growing keeps the leading elements and zeroes the new ones, where a shrink
// left old values in the storage and where new storage is likely to be a
// block just released with other values in it.
TEST(Containers, ResizeKeepsTheLeadingElementsAndZeroesTheNewOnes)
{
    zfit::Doubles v(std::vector<double>{1, 2, 3, 4, 5, 6});
    ASSERT_EQ(zstd_vectord_resize(v.get(), 2), 0);
    ASSERT_EQ(zstd_vectord_resize(v.get(), 5), 0);
    (void)zfit::Doubles(std::vector<double>(40, 7.0));  // released at once
    ASSERT_EQ(zstd_vectord_resize(v.get(), 40), 0);
    const double* begin = v.get()->begin;
    EXPECT_EQ(begin[0], 1.0) << "kept";
    EXPECT_EQ(begin[1], 2.0) << "kept";
    for (int i = 2; i < 40; ++i) EXPECT_EQ(begin[i], 0.0) << "element " << i;
}

// pushBack may read its item from inside the vector it grows. The typed
// vectors share one template: the record tests of the frame cover assign
// and a copy that owns its elements.
TEST(Containers, PushBackMayReferToItself)
{
    zfit::Points a(std::vector<zmath_vect>(100));
    for (int i = 0; i < 100; ++i) a.get()->begin[i] = {double(i), -double(i)};
    ASSERT_EQ(zstd_vector_zmath_vect_pushBack(a.get(), &a.get()->begin[3]), 0);  // growth while reading from inside
    EXPECT_EQ(a.get()->begin[100].x, 3.0) << "the item as it was before the growth";
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

TEST(AssertDeathTest, DefaultHandlerReportsTheLineAndStops)
{
    EXPECT_DEATH(zstd_assert_(1234), "broken precondition at line 1234");
}

}  // namespace
