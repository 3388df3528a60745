// Built from the energy's own terms, so the optimum minimises exactly what
// the walk samples.
#include "optimum/costs.h"

#include <algorithm>
#include <cmath>

#include "search/energy.h"

std::vector<double> assignment_costs(const ProfileTable& sim, const ProfileTable& obs, Shape shape) {
    const int n = shape.maxres;
    std::vector<double> cost(size_t(n) * n);
    for (int j = 0; j < n; ++j)
        for (int r = 0; r < n; ++r) cost[size_t(j) * n + r] = peak_cost(sim, obs, shape.numprofiles, j, r);
    return cost;
}

std::vector<int> peaks_with_unbounded_cost(const ProfileTable& sim, const ProfileTable& obs, Shape shape) {
    const int n = shape.maxres, np = shape.numprofiles;
    // A peak's largest PRE term in a profile is against the lowest or the
    // highest prediction, and its largest penalty against a Leu or a Val:
    // when their sum is finite, so is every cost of the peak.
    std::vector<double> lo(np, 0.0), hi(np, 0.0);
    for (int m = 0; m < np; ++m)
        for (int r = 0; r < n; ++r) {
            lo[m] = r == 0 ? sim[m].pre[r] : std::min(lo[m], sim[m].pre[r]);
            hi[m] = r == 0 ? sim[m].pre[r] : std::max(hi[m], sim[m].pre[r]);
        }
    std::vector<int> found;
    for (int j = 0; j < n; ++j) {
        double bound = std::max(type_penalty(kLeu, obs[0].type_value[j]), type_penalty(kVal, obs[0].type_value[j]));
        for (int m = 0; m < np; ++m)
            if (is_measured(obs[m].pre[j]))
                bound += std::max(pre_term(lo[m], obs[m].pre[j]), pre_term(hi[m], obs[m].pre[j]));
        if (std::isfinite(bound)) continue;
        for (int r = 0; r < n; ++r)
            if (!std::isfinite(peak_cost(sim, obs, np, j, r))) {
                found.push_back(j);
                break;
            }
    }
    return found;
}
