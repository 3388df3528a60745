// Jacobi rotations for the 3x3 eigen-system (exact enough for tensors of
// any size, and simple); Gaussian elimination with partial pivoting on the
// normal equations, which for five unknowns are well conditioned where the
// geometry is.
#include "numeric/linalg.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace numeric {

int symmetric_eigen(const Mat3& in, std::array<double, 3>& values, Mat3& v) {
    Mat3 a = in;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < i; ++j) a[i][j] = a[j][i];
    const double nan = std::numeric_limits<double>::quiet_NaN();
    double norm = 0.0;
    for (const auto& row : a)
        for (double x : row) norm += x * x;
    if (!std::isfinite(norm)) {
        values.fill(nan);
        for (auto& row : v) row.fill(nan);
        return -1;
    }
    v = Mat3{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    int sweep = 0;
    for (; sweep < 50; ++sweep) {
        const double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
        if (off <= 1e-30 * norm || off == 0.0) break;
        for (int p = 0; p < 2; ++p)
            for (int q = p + 1; q < 3; ++q) {
                if (a[p][q] == 0.0) continue;
                const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (int k = 0; k < 3; ++k) {  // a <- a J
                    const double akp = a[k][p], akq = a[k][q];
                    a[k][p] = c * akp - s * akq;
                    a[k][q] = s * akp + c * akq;
                }
                for (int k = 0; k < 3; ++k) {  // a <- J^T a
                    const double apk = a[p][k], aqk = a[q][k];
                    a[p][k] = c * apk - s * aqk;
                    a[q][k] = s * apk + c * aqk;
                }
                for (int k = 0; k < 3; ++k) {
                    const double vkp = v[k][p], vkq = v[k][q];
                    v[k][p] = c * vkp - s * vkq;
                    v[k][q] = s * vkp + c * vkq;
                }
            }
    }
    // Ascending, columns following their values.
    std::array<int, 3> order{0, 1, 2};
    for (int i = 0; i < 3; ++i)
        for (int j = i + 1; j < 3; ++j)
            if (a[order[j]][order[j]] < a[order[i]][order[i]]) std::swap(order[i], order[j]);
    Mat3 sorted;
    for (int c = 0; c < 3; ++c) {
        values[c] = a[order[c]][order[c]];
        for (int k = 0; k < 3; ++k) sorted[k][c] = v[k][order[c]];
    }
    v = sorted;
    const double det = v[0][0] * (v[1][1] * v[2][2] - v[1][2] * v[2][1]) -
                       v[0][1] * (v[1][0] * v[2][2] - v[1][2] * v[2][0]) +
                       v[0][2] * (v[1][0] * v[2][1] - v[1][1] * v[2][0]);
    if (det < 0)
        for (int k = 0; k < 3; ++k) v[k][0] = -v[k][0];
    return sweep;
}

bool least_squares(const std::vector<double>& rows, const std::vector<double>& y, const std::vector<double>& w,
                   int n, std::vector<double>& x) {
    const size_t m = y.size();
    std::vector<double> a(size_t(n) * (n + 1), 0.0);  // [A^T W A | A^T W y]
    int used = 0;
    for (size_t i = 0; i < m; ++i) {
        if (!(w[i] > 0.0)) continue;
        ++used;
        const double* r = rows.data() + i * n;
        for (int p = 0; p < n; ++p) {
            for (int q = 0; q < n; ++q) a[size_t(p) * (n + 1) + q] += w[i] * r[p] * r[q];
            a[size_t(p) * (n + 1) + n] += w[i] * r[p] * y[i];
        }
    }
    if (used < n) return false;
    double largest = 0.0;
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int r = col + 1; r < n; ++r)
            if (std::fabs(a[size_t(r) * (n + 1) + col]) > std::fabs(a[size_t(pivot) * (n + 1) + col])) pivot = r;
        const double pv = a[size_t(pivot) * (n + 1) + col];
        largest = std::max(largest, std::fabs(pv));
        if (!(std::fabs(pv) > 1e-12 * largest) || !std::isfinite(pv)) return false;
        if (pivot != col)
            for (int k = 0; k <= n; ++k) std::swap(a[size_t(pivot) * (n + 1) + k], a[size_t(col) * (n + 1) + k]);
        for (int r = col + 1; r < n; ++r) {
            const double f = a[size_t(r) * (n + 1) + col] / pv;
            for (int k = col; k <= n; ++k) a[size_t(r) * (n + 1) + k] -= f * a[size_t(col) * (n + 1) + k];
        }
    }
    std::vector<double> out(n);
    for (int r = n - 1; r >= 0; --r) {
        double s = a[size_t(r) * (n + 1) + n];
        for (int k = r + 1; k < n; ++k) s -= a[size_t(r) * (n + 1) + k] * out[k];
        out[r] = s / a[size_t(r) * (n + 1) + r];
    }
    x = out;
    return true;
}

}  // namespace numeric
