// The most probable assignment measured against the exact optimum.
#include "report/optimum.h"

#include "optimum/costs.h"
#include "optimum/lap.h"

std::vector<int> write_optimum(const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs,
                               Shape shape, Out& out, const std::vector<std::pair<int, int>>* fixed) {
    const std::vector<std::pair<int, int>> none;
    const int n = shape.maxres;
    const std::vector<double> cost = assignment_costs(sim, obs, shape);
    std::vector<int> opt = solve_with_fixed(cost, n, fixed ? *fixed : none);
    if (opt.size() != size_t(n)) {
        out << "optimal energy: not computed, some peak costs are not finite" << eol;
        return {};
    }
    std::vector<int> holders(n, 0);
    int shared = 0, differ = 0;
    for (int j = 0; j < n; ++j) {
        shared += ++holders[s.assign[j]] == 2;
        differ += s.assign[j] != opt[j];
    }
    out << "optimal energy: " << Exact{assignment_energy(cost, n, opt)}
        << "  most probable assignment energy: " << Exact{assignment_energy(cost, n, s.assign)};
    if (shared == 0)
        out << " (a permutation)";
    else
        out << " (not a permutation: " << shared << " residues held by more than one peak)";
    if (fixed) out << "  known pairs held: " << int(fixed->size());
    out << eol;
    out << "peaks where the two differ: " << differ << eol;
    return opt;
}

