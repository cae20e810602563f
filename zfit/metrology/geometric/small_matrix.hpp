// Fixed-size dense vectors and symmetric matrices for the normal equations
// of the geometric fits (at most ZMET_MAX_PARAMETERS unknowns): Cholesky
// factorisation, solve and inverse, all on the stack.
#pragma once

#include <array>
#include <cmath>

namespace zmet {

template <int P>
using Vector = std::array<double, P>;
template <int P>
using Matrix = std::array<std::array<double, P>, P>;

// A pivot is accepted when it keeps more than this share of its diagonal
// element: a smaller one means the column is a linear combination of the
// columns before it to within rounding. The test is relative to the column
// itself, so a parameter of small but independent influence still passes.
inline constexpr double kRelativePivot = 1e-12;

// The lower Cholesky factor L (A = L L^T) of the leading `size` x `size`
// block of the symmetric matrix A, of which only the lower triangle is read.
// Returns the index of the first column whose pivot fails kRelativePivot
// (or is NaN), or `size` when the block is positive definite.
template <int P>
int choleskyFactor(const Matrix<P>& a, Matrix<P>& l, int size = P)
{
    for (int j = 0; j < size; ++j) {
        double pivot = a[j][j];
        for (int k = 0; k < j; ++k) pivot -= l[j][k] * l[j][k];
        if (!(pivot > kRelativePivot * a[j][j]) || !(pivot > 0.0)) return j;
        l[j][j] = std::sqrt(pivot);
        for (int i = j + 1; i < size; ++i) {
            double sum = a[i][j];
            for (int k = 0; k < j; ++k) sum -= l[i][k] * l[j][k];
            l[i][j] = sum / l[j][j];
        }
    }
    return size;
}

// Solves L L^T x = b for the leading `size` unknowns.
template <int P>
Vector<P> choleskySolve(const Matrix<P>& l, Vector<P> b, int size = P)
{
    for (int i = 0; i < size; ++i) {
        for (int k = 0; k < i; ++k) b[i] -= l[i][k] * b[k];
        b[i] /= l[i][i];
    }
    for (int i = size - 1; i >= 0; --i) {
        for (int k = i + 1; k < size; ++k) b[i] -= l[k][i] * b[k];
        b[i] /= l[i][i];
    }
    return b;
}

// The inverse of L L^T (leading `size` block; the rest of the result is 0).
template <int P>
Matrix<P> choleskyInverse(const Matrix<P>& l, int size = P)
{
    Matrix<P> inverse{};
    for (int j = 0; j < size; ++j) {
        Vector<P> unit{};
        unit[j] = 1.0;
        const Vector<P> column = choleskySolve<P>(l, unit, size);
        for (int i = 0; i < size; ++i) inverse[i][j] = column[i];
    }
    return inverse;
}

// G C G^T: the covariance C of parameters q carried over to parameters
// r = G q + const.
template <int P>
Matrix<P> congruence(const Matrix<P>& g, const Matrix<P>& c)
{
    Matrix<P> gc{};
    for (int i = 0; i < P; ++i)
        for (int j = 0; j < P; ++j)
            for (int k = 0; k < P; ++k) gc[i][j] += g[i][k] * c[k][j];
    Matrix<P> out{};
    for (int i = 0; i < P; ++i)
        for (int j = 0; j < P; ++j)
            for (int k = 0; k < P; ++k) out[i][j] += gc[i][k] * g[j][k];
    return out;
}

}  // namespace zmet
