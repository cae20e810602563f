// Dense matrix services: storage, products, an LU solve with a condition
// check, and eigenvalues by shifted QR; plus the 3-D vector helpers.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <complex>
#include <cstring>

#include <zfit/frame/status.hpp>
#include <zfit/services/nmmatrix.h>
#include <zfit/services/system.h>

namespace {

// Scratch storage of one call. The small systems of the fits (up to 6x6)
// fit in a buffer on the stack, so the solves and eigenvalue calls that run
// inside their search loops allocate nothing; larger ones are taken through
// the allocation service and released on every exit path.
class Scratch {
public:
    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { zsys_memory_release(heap_); }

    zfit_status allocate(size_t bytes)
    {
        if (bytes <= sizeof local_) {
            block_ = local_;
            return zfit_ok;
        }
        ZFIT_TRY(zsys_memory_allocate(bytes, &heap_));
        block_ = heap_;
        return zfit_ok;
    }
    template <class T>
    T* at(size_t byteOffset) const
    {
        return reinterpret_cast<T*>(static_cast<char*>(block_) + byteOffset);
    }

private:
    alignas(std::complex<double>) unsigned char local_[1024];
    void* heap_ = nullptr;
    void* block_ = nullptr;
};

bool allFinite(const zmath_nmmatrix& m)
{
    const int64_t count = static_cast<int64_t>(m.numRows) * m.numCols;
    for (int64_t i = 0; i < count; ++i)
        if (!std::isfinite(m.storage[i])) return false;
    return true;
}

// LU decomposition with partial pivoting in place: lu is n x n row-major,
// perm receives the row order. Fails only on an exactly zero pivot.
zfit_status decompose(double* lu, int32_t* perm, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) perm[i] = i;
    for (int32_t k = 0; k < n; ++k) {
        int32_t pivot = k;
        for (int32_t i = k + 1; i < n; ++i)
            if (std::fabs(lu[i * n + k]) > std::fabs(lu[pivot * n + k])) pivot = i;
        ZFIT_FAIL_IF(lu[pivot * n + k] == 0.0, zmath_errMatrixSingular);
        if (pivot != k) {
            for (int32_t j = 0; j < n; ++j) std::swap(lu[k * n + j], lu[pivot * n + j]);
            std::swap(perm[k], perm[pivot]);
        }
        for (int32_t i = k + 1; i < n; ++i) {
            const double factor = lu[i * n + k] / lu[k * n + k];
            lu[i * n + k] = factor;
            for (int32_t j = k + 1; j < n; ++j) lu[i * n + j] -= factor * lu[k * n + j];
        }
    }
    return zfit_ok;
}

// Solves L U x = P b for one right-hand side; x must not alias b.
void substitute(const double* lu, const int32_t* perm, int32_t n, const double* b, double* x)
{
    for (int32_t i = 0; i < n; ++i) {
        double sum = b[perm[i]];
        for (int32_t j = 0; j < i; ++j) sum -= lu[i * n + j] * x[j];
        x[i] = sum;
    }
    for (int32_t i = n - 1; i >= 0; --i) {
        double sum = x[i];
        for (int32_t j = i + 1; j < n; ++j) sum -= lu[i * n + j] * x[j];
        x[i] = sum / lu[i * n + i];
    }
}

double oneNorm(const zmath_nmmatrix& a)
{
    double norm = 0.0;
    for (int32_t j = 0; j < a.numCols; ++j) {
        double column = 0.0;
        for (int32_t i = 0; i < a.numRows; ++i) column += std::fabs(a.rows[i][j]);
        if (!(column <= norm)) norm = column;  // a NaN column makes the norm NaN
    }
    return norm;
}

// ||A^-1||_1, column by column of the inverse.
double inverseOneNorm(const double* lu, const int32_t* perm, int32_t n, double* unit, double* column)
{
    double norm = 0.0;
    for (int32_t j = 0; j < n; ++j) {
        std::fill(unit, unit + n, 0.0);
        unit[j] = 1.0;
        substitute(lu, perm, n, unit, column);
        double sum = 0.0;
        for (int32_t i = 0; i < n; ++i) sum += std::fabs(column[i]);
        if (!(sum <= norm)) norm = sum;  // an overflow (inf - inf = NaN) must not vanish
    }
    return norm;
}

using Complex = std::complex<double>;

// Scales rows and columns by powers of two so that each row and column
// carry similar weight; the eigenvalues are unchanged and better computed.
void balance(double* a, int32_t n)
{
    bool changed = true;
    for (int round = 0; changed && round < 64; ++round) {
        changed = false;
        for (int32_t i = 0; i < n; ++i) {
            double column = 0.0, row = 0.0;
            for (int32_t j = 0; j < n; ++j) {
                if (j == i) continue;
                column += std::fabs(a[j * n + i]);
                row += std::fabs(a[i * n + j]);
            }
            if (column == 0.0 || row == 0.0) continue;
            double factor = 1.0;
            while (column * factor * 2.0 <= row / (factor * 2.0) && factor < 0x1p500) factor *= 2.0;
            while (column * factor / 2.0 >= row * 2.0 / factor && factor > 0x1p-500) factor /= 2.0;
            if ((column * factor + row / factor) < 0.95 * (column + row)) {
                changed = true;
                for (int32_t j = 0; j < n; ++j) a[i * n + j] /= factor;
                for (int32_t j = 0; j < n; ++j) a[j * n + i] *= factor;
            }
        }
    }
}

// Householder reduction to upper Hessenberg form, in place.
void toHessenberg(double* a, int32_t n, double* v)
{
    for (int32_t k = 0; k + 2 < n; ++k) {
        double norm = 0.0;
        for (int32_t i = k + 1; i < n; ++i) norm = std::hypot(norm, a[i * n + k]);
        if (norm == 0.0) continue;
        const double alpha = a[(k + 1) * n + k] > 0.0 ? -norm : norm;
        double vnorm2 = 0.0;
        for (int32_t i = k + 1; i < n; ++i) {
            v[i] = a[i * n + k] - (i == k + 1 ? alpha : 0.0);
            vnorm2 += v[i] * v[i];
        }
        if (vnorm2 == 0.0) continue;
        // A <- (I - 2vv'/v'v) A (I - 2vv'/v'v)
        for (int32_t j = 0; j < n; ++j) {
            double s = 0.0;
            for (int32_t i = k + 1; i < n; ++i) s += v[i] * a[i * n + j];
            s = 2.0 * s / vnorm2;
            for (int32_t i = k + 1; i < n; ++i) a[i * n + j] -= s * v[i];
        }
        for (int32_t i = 0; i < n; ++i) {
            double s = 0.0;
            for (int32_t j = k + 1; j < n; ++j) s += a[i * n + j] * v[j];
            s = 2.0 * s / vnorm2;
            for (int32_t j = k + 1; j < n; ++j) a[i * n + j] -= s * v[j];
        }
    }
}

// Shifted QR iteration on a Hessenberg matrix in complex arithmetic, with
// Givens rotations and the Wilkinson shift; deflates from the bottom.
zfit_status hessenbergEigenvalues(Complex* h, int32_t n, Complex* values)
{
    double norm = 0.0;
    for (int32_t i = 0; i < n * n; ++i) norm = std::max(norm, std::abs(h[i]));
    const auto at = [&](int32_t i, int32_t j) -> Complex& { return h[i * n + j]; };
    int32_t hi = n - 1;
    int iterations = 0;
    const int maxIterations = 60 * std::max(n, 1);
    while (hi >= 0) {
        int32_t lo = hi;
        while (lo > 0) {
            const double scale = std::abs(at(lo - 1, lo - 1)) + std::abs(at(lo, lo));
            const double tiny = DBL_EPSILON * (scale > 0.0 ? scale : norm);
            if (std::abs(at(lo, lo - 1)) <= tiny) {
                at(lo, lo - 1) = 0.0;
                break;
            }
            --lo;
        }
        if (lo == hi) {
            values[hi] = at(hi, hi);
            --hi;
            iterations = 0;
            continue;
        }
        ZFIT_FAIL_IF(++iterations > maxIterations, zmath_errNoConvergence);

        // Wilkinson shift: the eigenvalue of the trailing 2x2 block nearer its last diagonal element.
        const Complex a = at(hi - 1, hi - 1), b = at(hi - 1, hi), c = at(hi, hi - 1), d = at(hi, hi);
        const Complex half = 0.5 * (a - d);
        const Complex root = std::sqrt(half * half + b * c);
        Complex shift = 0.5 * (a + d) + root;
        if (std::abs(shift - d) > std::abs(0.5 * (a + d) - root - d)) shift = 0.5 * (a + d) - root;
        if (iterations % 11 == 10) shift = d + std::abs(c) * 0.75;  // break a cycle

        Complex cs[64], sn[64];
        for (int32_t k = lo; k <= hi; ++k) at(k, k) -= shift;
        for (int32_t k = lo; k < hi; ++k) {
            const Complex x = at(k, k), y = at(k + 1, k);
            const double r = std::hypot(std::abs(x), std::abs(y));
            const Complex cc = r > 0.0 ? x / r : Complex(1.0), ss = r > 0.0 ? y / r : Complex(0.0);
            cs[k - lo] = cc;
            sn[k - lo] = ss;
            for (int32_t j = k; j <= hi; ++j) {
                const Complex top = at(k, j), bottom = at(k + 1, j);
                at(k, j) = std::conj(cc) * top + std::conj(ss) * bottom;
                at(k + 1, j) = -ss * top + cc * bottom;
            }
        }
        for (int32_t k = lo; k < hi; ++k) {
            const Complex cc = cs[k - lo], ss = sn[k - lo];
            for (int32_t i = lo; i <= std::min(k + 2, hi); ++i) {
                const Complex left = at(i, k), right = at(i, k + 1);
                at(i, k) = left * cc + right * ss;
                at(i, k + 1) = -left * std::conj(ss) + right * std::conj(cc);
            }
        }
        for (int32_t k = lo; k <= hi; ++k) at(k, k) += shift;
    }
    return zfit_ok;
}

// out = a b, or a b^T when bTransposed: the same loop reading b by rows or
// by columns.
template <bool bTransposed>
zfit_status multiplyInto(const zmath_nmmatrix* a, const zmath_nmmatrix* b, zmath_nmmatrix* out)
{
    const int32_t inner = bTransposed ? b->numCols : b->numRows;
    const int32_t columns = bTransposed ? b->numRows : b->numCols;
    ZFIT_FAIL_IF(a->numCols != inner, zmath_errMatrixShape);
    ZFIT_TRY(zmath_nmmatrix_resize(out, a->numRows, columns));
    for (int32_t i = 0; i < a->numRows; ++i)
        for (int32_t j = 0; j < columns; ++j) {
            double sum = 0.0;
            for (int32_t k = 0; k < inner; ++k) sum += a->rows[i][k] * (bTransposed ? b->rows[j][k] : b->rows[k][j]);
            out->rows[i][j] = sum;
        }
    return zfit_ok;
}

}  // namespace

extern "C" {

zfit_status zmath_nmmatrix_construct(zmath_nmmatrix* m)
{
    *m = zmath_nmmatrix{nullptr, 0, 0, nullptr};
    return zfit_ok;
}

zfit_status zmath_nmmatrix_constructRowsCols(zmath_nmmatrix* m, int32_t rows, int32_t cols)
{
    zmath_nmmatrix_construct(m);
    return zmath_nmmatrix_resize(m, rows, cols);
}

zfit_status zmath_nmmatrix_resize(zmath_nmmatrix* m, int32_t rows, int32_t cols)
{
    ZFIT_FAIL_IF(rows < 0 || cols < 0, zstd_errBadCount);
    const size_t count = static_cast<size_t>(rows) * static_cast<size_t>(cols);
    if (rows != m->numRows || cols != m->numCols) {
        // One block: the row table, then the elements.
        void* block = nullptr;
        ZFIT_TRY(zsys_memory_allocate(rows * sizeof(double*) + count * sizeof(double), &block));
        zsys_memory_release(m->rows);
        auto** table = static_cast<double**>(block);
        double* storage = block ? reinterpret_cast<double*>(table + rows) : nullptr;
        for (int32_t i = 0; i < rows; ++i) table[i] = storage + static_cast<size_t>(i) * cols;
        *m = zmath_nmmatrix{block ? table : nullptr, rows, cols, storage};
    }
    if (count > 0) std::memset(m->storage, 0, count * sizeof(double));
    return zfit_ok;
}

zfit_status zmath_nmmatrix_destruct(zmath_nmmatrix* m)
{
    zsys_memory_release(m->rows);
    *m = zmath_nmmatrix{nullptr, 0, 0, nullptr};
    return zfit_ok;
}

zfit_status zmath_nmmatrix_multiply(const zmath_nmmatrix* a, const zmath_nmmatrix* b, zmath_nmmatrix* out)
{
    return multiplyInto<false>(a, b, out);
}

zfit_status zmath_nmmatrix_multiplyT(const zmath_nmmatrix* a, const zmath_nmmatrix* b, zmath_nmmatrix* out)
{
    return multiplyInto<true>(a, b, out);
}

zfit_status zmath_nmmatrix_solve(const zmath_nmmatrix* A, const zmath_nmmatrix* B, zmath_nmmatrix* X, int32_t control,
                                 double* condition, double limit)
{
    const int32_t n = A->numRows, k = B->numCols;
    ZFIT_FAIL_IF(A->numCols != n || B->numRows != n, zmath_errMatrixShape);
    ZFIT_FAIL_IF(control != 0 && control != 1, zmath_errMatrixShape);
    if (condition) *condition = 0.0;
    ZFIT_FAIL_IF(!allFinite(*A), zmath_errMatrixSingular);

    // Scratch: LU (n*n), solution (n*k), two work columns (2n), permutation (n ints).
    const size_t nn = static_cast<size_t>(n) * n, nk = static_cast<size_t>(n) * k;
    Scratch scratch;
    ZFIT_TRY(scratch.allocate((nn + nk + 2 * static_cast<size_t>(n)) * sizeof(double) + n * sizeof(int32_t)));
    auto* lu = scratch.at<double>(0);
    auto* solution = lu + nn;
    auto* unit = solution + nk;
    auto* column = unit + n;
    auto* perm = scratch.at<int32_t>((nn + nk + 2 * static_cast<size_t>(n)) * sizeof(double));

    if (n > 0) std::memcpy(lu, A->storage, nn * sizeof(double));
    ZFIT_TRY(decompose(lu, perm, n));
    if (control == 1) {
        const double cond = oneNorm(*A) * inverseOneNorm(lu, perm, n, unit, column);
        if (condition) *condition = cond;
        ZFIT_FAIL_IF(!(cond <= limit), zmath_errMatrixIllConditioned);
    }
    for (int32_t j = 0; j < k; ++j) {
        for (int32_t i = 0; i < n; ++i) unit[i] = B->rows[i][j];
        substitute(lu, perm, n, unit, column);
        for (int32_t i = 0; i < n; ++i) solution[static_cast<size_t>(i) * k + j] = column[i];
    }
    // A finite system whose solution overflows is too badly conditioned to
    // answer, whatever the condition estimate said.
    if (allFinite(*B))
        for (size_t i = 0; i < nk; ++i) ZFIT_FAIL_IF(!std::isfinite(solution[i]), zmath_errMatrixIllConditioned);
    ZFIT_TRY(zmath_nmmatrix_resize(X, n, k));
    if (nk > 0) std::memcpy(X->storage, solution, nk * sizeof(double));
    return zfit_ok;
}

zfit_status zmath_nmmatrix_eigenvalues(const zmath_nmmatrix* m, int32_t control, zstd_vectord* re, zstd_vectord* im)
{
    const int32_t n = m->numRows;
    ZFIT_FAIL_IF(m->numCols != n || control != 0, zmath_errMatrixShape);
    ZFIT_FAIL_IF(n > 64, zmath_errMatrixShape);  // the QR sweep keeps its rotations on the stack
    ZFIT_FAIL_IF(!allFinite(*m), zmath_errNoConvergence);

    const size_t nn = static_cast<size_t>(n) * n;
    Scratch scratch;
    ZFIT_TRY(scratch.allocate(nn * sizeof(double) + n * sizeof(double) + (nn + n) * sizeof(Complex)));
    auto* a = scratch.at<double>(0);
    auto* v = a + nn;
    auto* h = scratch.at<Complex>((nn + n) * sizeof(double));
    auto* values = h + nn;

    if (n > 0) std::memcpy(a, m->storage, nn * sizeof(double));
    balance(a, n);
    toHessenberg(a, n, v);
    for (size_t i = 0; i < nn; ++i) h[i] = a[i];
    ZFIT_TRY(hessenbergEigenvalues(h, n, values));
    std::stable_sort(values, values + n, [](const Complex& x, const Complex& y) {
        if (x.real() != y.real()) return x.real() > y.real();
        return x.imag() > y.imag();
    });
    ZFIT_TRY(zstd_vectord_resize(re, n));
    ZFIT_TRY(zstd_vectord_resize(im, n));
    for (int32_t i = 0; i < n; ++i) {
        re->begin[i] = values[i].real();
        im->begin[i] = values[i].imag();
    }
    return zfit_ok;
}

void zsys_typeCheck_zmath_nmmatrix(const zmath_nmmatrix*) {}
void zsys_typeCheckFunc_zmath_nmmatrix(zfit_status (*)(zmath_nmmatrix*)) {}

zfit_status zmath_vect3_initClear(zmath_vect3* v)
{
    *v = {0.0, 0.0, 0.0};
    return zfit_ok;
}

zfit_status zmath_vect3_cross(const zmath_vect3* a, const zmath_vect3* b, zmath_vect3* out)
{
    *out = {a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x};
    return zfit_ok;
}

zfit_status zmath_vect3_getLength(const zmath_vect3* in, double* out)
{
    *out = std::sqrt(in->x * in->x + in->y * in->y + in->z * in->z);
    return zfit_ok;
}

zfit_status zmath_vect3_getUnit(const zmath_vect3* in, zmath_vect3* out)
{
    double length = 0.0;
    zmath_vect3_getLength(in, &length);
    ZFIT_FAIL_IF(!(length > 0.0) || !std::isfinite(length), zmath_errZeroLength);
    *out = {in->x / length, in->y / length, in->z / length};
    return zfit_ok;
}

}  // extern "C"
