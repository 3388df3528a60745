// The walk's energy as a cost matrix: one cost per (peak, residue) pair,
// which is what the exact optimum minimises.
#pragma once

#include <vector>

#include "profiles/profile.h"

// cost[j * n + r]: peak_cost of peak j on residue r, for the shape's n peaks.
std::vector<double> assignment_costs(const ProfileTable& sim, const ProfileTable& obs, Shape shape);

// The peaks with a cost that is not finite on some residue (values near
// 1e300 overflow): the walk cannot weigh their assignments against others.
std::vector<int> peaks_with_unbounded_cost(const ProfileTable& sim, const ProfileTable& obs, Shape shape);
