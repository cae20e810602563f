/* Dense matrices of run-time size, and 3-D vectors.
 *
 * Element (i, j) of a matrix is rows[i][j]: callers read and write elements
 * through the row table directly. Every operation returns a zfit_status. */
#ifndef ZFIT_SERVICES_NMMATRIX_H
#define ZFIT_SERVICES_NMMATRIX_H

#include <stdint.h>
#include <zfit/services/containers.h>

ZFIT_EXTERN_C_BEGIN

typedef struct zmath_nmmatrix {
    double** rows; /* row pointer table: rows[i][j] is element (i, j) */
    int32_t numRows;
    int32_t numCols;
    double* storage; /* numRows * numCols doubles, row by row */
} zmath_nmmatrix;

/* An empty (0 x 0) matrix, to be sized by resize or by an operation. */
ZFIT_API zfit_status zmath_nmmatrix_construct(zmath_nmmatrix* m);
/* A rows x cols matrix of zeros. zstd_errBadCount for a negative size,
 * zstd_errOutOfMemory when allocation fails (m is then empty). */
ZFIT_API zfit_status zmath_nmmatrix_constructRowsCols(zmath_nmmatrix* m, int32_t rows, int32_t cols);
/* rows x cols afterwards, all elements zero. */
ZFIT_API zfit_status zmath_nmmatrix_resize(zmath_nmmatrix* m, int32_t rows, int32_t cols);
/* Releases the storage. */
ZFIT_API zfit_status zmath_nmmatrix_destruct(zmath_nmmatrix* m);
/* out = a * b, out resized to a.rows x b.cols. zmath_errMatrixShape when
 * a.cols != b.rows. out must not be a or b. */
ZFIT_API zfit_status zmath_nmmatrix_multiply(const zmath_nmmatrix* a, const zmath_nmmatrix* b, zmath_nmmatrix* out);
/* out = a * b^T, out resized to a.rows x b.rows. zmath_errMatrixShape when
 * a.cols != b.cols. out must not be a or b. */
ZFIT_API zfit_status zmath_nmmatrix_multiplyT(const zmath_nmmatrix* a, const zmath_nmmatrix* b, zmath_nmmatrix* out);
/* Solves A*X = B (A square n x n, B n x k; X resized to n x k) by LU
 * decomposition with partial pivoting.
 *   control  0: refuse only a singular A; 1: also measure the 1-norm
 *            condition number ||A||_1 * ||A^-1||_1 (computed exactly) and
 *            refuse A when it exceeds `limit`.
 *   *condition  receives the condition number (control 1) or 0 (control 0);
 *            may be NULL.
 * zmath_errMatrixShape for mismatched sizes, zmath_errMatrixSingular when a
 * pivot is exactly 0 or A holds a non-finite value,
 * zmath_errMatrixIllConditioned when the condition number exceeds limit (or
 * is not finite), and also, whatever the control, when a finite B gives a
 * solution that overflows. On failure X is untouched. */
ZFIT_API zfit_status zmath_nmmatrix_solve(const zmath_nmmatrix* A, const zmath_nmmatrix* B, zmath_nmmatrix* X,
                                          int32_t control, double* condition, double limit);
/* Eigenvalues of a real square matrix (the fits use 3 x 3): re and im
 * (constructed vectors) are resized to n and receive the real and imaginary
 * parts of eigenvalue k at index k. Order: by decreasing real part; a
 * complex-conjugate pair comes with its positive imaginary part first.
 * control must be 0 (balance, Hessenberg reduction, shifted QR).
 * zmath_errMatrixShape for a non-square matrix, zmath_errNoConvergence when
 * the QR iteration does not settle (or the matrix is not finite). */
ZFIT_API zfit_status zmath_nmmatrix_eigenvalues(const zmath_nmmatrix* m, int32_t control, zstd_vectord* re,
                                                zstd_vectord* im);
ZFIT_API void zsys_typeCheck_zmath_nmmatrix(const zmath_nmmatrix* m);
ZFIT_API void zsys_typeCheckFunc_zmath_nmmatrix(zfit_status (*destruct)(zmath_nmmatrix*));

/* A 3-D vector. */
typedef struct zmath_vect3 {
    double x;
    double y;
    double z;
} zmath_vect3;

/* (0, 0, 0). */
ZFIT_API zfit_status zmath_vect3_initClear(zmath_vect3* v);
/* out = a x b; out may be a or b. */
ZFIT_API zfit_status zmath_vect3_cross(const zmath_vect3* a, const zmath_vect3* b, zmath_vect3* out);
/* out = in / |in|; zmath_errZeroLength when in is zero (out untouched). */
ZFIT_API zfit_status zmath_vect3_getUnit(const zmath_vect3* in, zmath_vect3* out);
/* *out = |in|. */
ZFIT_API zfit_status zmath_vect3_getLength(const zmath_vect3* in, double* out);

ZFIT_EXTERN_C_END

#endif
