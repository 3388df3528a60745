// What every result of this program assumes of the arithmetic: IEEE doubles,
// evaluated at their own precision, with no fast-math licence to reorder sums
// or to assume that no value is infinite or NaN (the non-finite guards would
// silently vanish).
#pragma once

#include <cfloat>
#include <limits>

#ifdef __FAST_MATH__
#error "preassign must not be built with -ffast-math: its sums are reproducible only in IEEE order"
#endif
static_assert(std::numeric_limits<double>::is_iec559, "doubles must be IEEE 754");
static_assert(FLT_EVAL_METHOD == 0, "doubles must be evaluated at double precision");
