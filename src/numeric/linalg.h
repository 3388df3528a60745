// Small dense linear algebra for fits: the eigen-system of a symmetric 3x3
// matrix and least squares of a few unknowns.
#pragma once

#include <array>
#include <vector>

namespace numeric {

using Mat3 = std::array<std::array<double, 3>, 3>;

// Eigenvalues of the symmetric matrix a (only its upper triangle read),
// ascending, and the unit eigenvectors as the columns of `vectors`, which
// form a rotation (determinant +1). Jacobi sweeps until the off-diagonal
// part is below 1e-15 of the norm, at most 50; returns the sweeps taken,
// or -1 when a is not finite (values and vectors then NaN).
int symmetric_eigen(const Mat3& a, std::array<double, 3>& values, Mat3& vectors);

// Solves the normal equations of weighted least squares, min sum_i w_i
// (row_i . x - y_i)^2, rows of n unknowns; `rows` is [i * n + k]. Returns
// false (x untouched) when fewer rows than unknowns carry weight or the
// system is singular to 1e-12 of its largest pivot.
bool least_squares(const std::vector<double>& rows, const std::vector<double>& y, const std::vector<double>& w,
                   int n, std::vector<double>& x);

}  // namespace numeric
