// Derivative-free minimisation: Nelder-Mead on a vector of parameters, for
// fits whose objectives are sums over soft assignments.
#pragma once

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace numeric {

using Params = std::vector<double>;

// Nelder-Mead from x with the given initial steps, at most `most` steps,
// stopped early once the simplex's values agree to 1e-7 (relative); the
// best point and its value.
template <typename F>
std::pair<Params, double> minimise(F f, const Params& x, const Params& step, int most) {
    const size_t D = x.size(), V = D + 1;
    std::vector<Params> v(V, x);
    std::vector<double> fv(V);
    for (size_t i = 0; i < D; ++i) v[i + 1][i] += step[i];
    for (size_t i = 0; i < V; ++i) fv[i] = f(v[i]);
    std::vector<size_t> order(V);
    Params c(D);
    auto along = [&](size_t worst, double t) {
        Params y(D);
        for (size_t k = 0; k < D; ++k) y[k] = c[k] + t * (v[worst][k] - c[k]);
        return y;
    };
    for (int it = 0; it < most; ++it) {
        for (size_t i = 0; i < V; ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return fv[a] < fv[b]; });
        const size_t best = order[0], worst = order[V - 1], second = order[V - 2];
        if (std::fabs(fv[worst] - fv[best]) < 1e-7 * (1.0 + std::fabs(fv[best]))) break;
        std::fill(c.begin(), c.end(), 0.0);
        for (size_t i = 0; i < V; ++i)
            if (i != worst)
                for (size_t k = 0; k < D; ++k) c[k] += v[i][k] / double(D);
        const Params r = along(worst, -1.0);
        const double fr = f(r);
        if (fr < fv[best]) {
            const Params e = along(worst, -2.0);
            const double fe = f(e);
            if (fe < fr) {
                v[worst] = e;
                fv[worst] = fe;
            } else {
                v[worst] = r;
                fv[worst] = fr;
            }
        } else if (fr < fv[second]) {
            v[worst] = r;
            fv[worst] = fr;
        } else {
            const Params k = along(worst, fr < fv[worst] ? -0.5 : 0.5);
            const double fk = f(k);
            if (fk < std::min(fr, fv[worst])) {
                v[worst] = k;
                fv[worst] = fk;
            } else {
                for (size_t i = 0; i < V; ++i) {
                    if (i == best) continue;
                    for (size_t q = 0; q < D; ++q) v[i][q] = v[best][q] + 0.5 * (v[i][q] - v[best][q]);
                    fv[i] = f(v[i]);
                }
            }
        }
    }
    size_t best = 0;
    for (size_t i = 1; i < V; ++i)
        if (fv[i] < fv[best]) best = i;
    return {v[best], fv[best]};
}

}  // namespace numeric
