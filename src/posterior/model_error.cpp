// f, the predictions' relative error, by maximum likelihood at a matching's
// pairs: a grid, then golden sections.
#include <cmath>

#include "posterior/costs.h"

namespace post {

namespace {

double pairs_cost(const Tables& t, const std::vector<std::pair<int, int>>& pairs, double f) {
    double c = 0.0;
    for (const auto& [j, r] : pairs) c += pair_cost(t, f, j, r);
    return c;
}

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

}  // namespace

// f of largest likelihood for these pairs: a grid, then golden sections.
double fit_model_error(const Tables& t, const std::vector<std::pair<int, int>>& pairs) {
    const int steps = 40;
    const double h = kMaxModelError / steps;
    double best = 0.0, best_cost = pairs_cost(t, pairs, 0.0);
    for (int i = 1; i <= steps; ++i) {
        const double c = pairs_cost(t, pairs, i * h);
        if (c < best_cost) {
            best_cost = c;
            best = i * h;
        }
    }
    return golden_minimum([&](double f) { return pairs_cost(t, pairs, f); }, std::max(0.0, best - h),
                          std::min(kMaxModelError, best + h), 1e-5);
}

}  // namespace post
