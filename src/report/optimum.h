// With --optimal: the minimum-energy assignment, its energy, and how the
// most probable assignment compares with it, after the step counts.
#pragma once

#include <utility>
#include <vector>

#include "io/output.h"
#include "profiles/profile.h"
#include "search/sampler.h"

// The optimum's residue per peak (empty when it could not be computed),
// after its comparison with the most probable assignment on `out`. Known
// (peak, residue) pairs, where given (--fix), hold in the optimum, and the
// line says how many.
std::vector<int> write_optimum(const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs,
                               Shape shape, Out& out, const std::vector<std::pair<int, int>>* fixed = nullptr);
