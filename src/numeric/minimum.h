// One-dimensional minimisation over an interval: a grid to find the basin,
// golden sections within it. For the error model's numbers, each fitted in
// turn with the others held.
#pragma once

#include <algorithm>
#include <cmath>

namespace numeric {

// The minimum of a function over [lo, hi] by golden sections, to `tol`.
template <typename F>
double golden_minimum(F cost, double lo, double hi, double tol) {
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
    double c1 = cost(x1), c2 = cost(x2);
    while (hi - lo > tol) {
        if (c1 <= c2) {
            hi = x2;
            x2 = x1;
            c2 = c1;
            x1 = hi - g * (hi - lo);
            c1 = cost(x1);
        } else {
            lo = x1;
            x1 = x2;
            c1 = c2;
            x2 = lo + g * (hi - lo);
            c2 = cost(x2);
        }
    }
    return (lo + hi) / 2.0;
}

// The minimum over a grid of n + 1 points in [lo, hi], then by golden
// sections around it.
template <typename F>
double grid_then_golden(F cost, double lo, double hi, int n, double tol) {
    const double h = (hi - lo) / n;
    double best = lo, best_cost = cost(lo);
    for (int i = 1; i <= n; ++i) {
        const double c = cost(lo + i * h);
        if (c < best_cost) {
            best_cost = c;
            best = lo + i * h;
        }
    }
    return golden_minimum(cost, std::max(lo, best - h), std::min(hi, best + h), tol);
}

}  // namespace numeric
