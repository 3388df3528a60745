// The exact minimum-energy assignment. The energy is a sum over peaks of a
// cost that depends only on the peak and its residue, so this is a linear
// assignment problem, solved by shortest augmenting paths.
#pragma once

#include <vector>

#include "profiles/profile.h"

// cost[j * n + r]: the PRE squares of peak j on residue r over the profiles
// where j was measured, in profile order, plus the type penalty (profile 0).
std::vector<double> assignment_costs(const ProfileTable& sim, const ProfileTable& obs, int numprofiles, int n);

// The residue of each peak in a minimum-cost assignment of n peaks to n
// residues; empty when the costs are not all finite.
std::vector<int> solve_assignment(const std::vector<double>& cost, int n);

// The sum of the peaks' costs, in peak order.
double assignment_energy(const std::vector<double>& cost, int n, const std::vector<int>& assign);
