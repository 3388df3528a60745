// The matching's priors, the best matching by an assignment problem over the
// savings of pairing, and the marginals sampled over matchings.
#include "posterior/weighing.h"

#include <algorithm>
#include <cmath>

#include "optimum/lap.h"

Priors matching_priors(int P, int R, double extra_share) {
    Priors p;
    const double extras = std::max(P - R, 0) + extra_share * P + 0.5;
    const double seen = std::min(std::max((P - extras) / std::max(R, 1), 0.05), 0.98);
    p.pair = -2.0 * std::log(seen);
    p.peak_alone = -2.0 * std::log(extras);
    p.residue_alone = -2.0 * std::log(1.0 - seen);
    return p;
}

// A pair is worth making where its cost beats leaving both alone, so the
// assignment problem over those savings (0 where there is none) has the most
// likely partial matching as its optimum.
std::vector<int> best_matching(const CostMatrix& q, const Priors& pr) {
    const int n = std::max(q.P, q.R);
    std::vector<double> saving(size_t(n) * n, 0.0);
    for (int i = 0; i < q.P; ++i)
        for (int k = 0; k < q.R; ++k) {
            const double c = q.cost[size_t(i) * q.R + k], a = q.alone[i];
            if (!std::isfinite(c) || !std::isfinite(a)) return {};
            saving[size_t(i) * n + k] = std::min(c + pr.pair - (a + pr.peak_alone) - pr.residue_alone, 0.0);
        }
    const std::vector<int> a = solve_assignment(saving, n);
    if (a.size() != size_t(n)) return {};
    std::vector<int> match(q.P, -1);
    for (int i = 0; i < q.P; ++i)
        if (a[i] < q.R && saving[size_t(i) * n + a[i]] < 0.0) match[i] = a[i];
    return match;
}

// The likelihood's weights exp(-cost / 2), each row scaled by its best
// option.
Marginals sample_marginals(const CostMatrix& q, const Priors& pr, const std::vector<int>& start, long sweeps,
                           long most, double tolerance, uint64_t seed, Kernel& k) {
    k = Kernel{};
    k.cols = q.R;
    std::vector<double> row_alone(q.P), col_alone(q.R, std::exp(-pr.residue_alone / 2.0));
    for (int i = 0; i < q.P; ++i) {
        const double* c = q.cost.data() + size_t(i) * q.R;
        const double alone = q.alone[i] + pr.peak_alone;
        double best = alone;
        for (int r = 0; r < q.R; ++r) best = std::min(best, c[r] + pr.pair);
        for (int r = 0; r < q.R; ++r) {
            const double x = (c[r] + pr.pair - best) / 2.0;
            if (x < kDrop) k.add(r, std::exp(-x));
        }
        k.end_row();
        // Never quite 0, so that every state the chain can reach has a weight.
        row_alone[i] = std::max(std::exp(-(alone - best) / 2.0), 1e-200);
    }
    return sample_matchings(k, row_alone, col_alone, start, sweeps, most, tolerance, seed);
}
