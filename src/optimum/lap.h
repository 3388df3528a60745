// The exact minimum-cost assignment of a square cost matrix: a linear
// assignment problem, solved by shortest augmenting paths.
#pragma once

#include <utility>
#include <vector>

// Potentials of an optimal assignment: cost[j * n + r] - row[j] - col[r] is
// never negative, and 0 on the assignment's pairs (up to rounding).
struct Duals {
    std::vector<double> row, col;
};

// The residue of each peak in a minimum-cost assignment of n peaks to n
// residues; empty when the costs are not all finite. Fills `duals` if given.
std::vector<int> solve_assignment(const std::vector<double>& cost, int n, Duals* duals = nullptr);

// The same with known (peak, residue) pairs held: their rows and columns
// leave the problem, which is exact for a sum of per-peak costs.
std::vector<int> solve_with_fixed(const std::vector<double>& cost, int n,
                                  const std::vector<std::pair<int, int>>& fixed);

// The sum of the peaks' costs, in peak order.
double assignment_energy(const std::vector<double>& cost, int n, const std::vector<int>& assign);
