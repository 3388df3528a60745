// Clips implausibly large PREs in both tables to one value 10 above the
// largest plausible measured PRE, and echoes both tables.
#pragma once

#include "io/output.h"
#include "profiles/profile.h"

// The value that replaces large PREs: 10 above the largest plausible measured one.
inline double ceiling_cap(double maxobs) { return maxobs + 10.0; }

// The echoes go to `echo`, standard error unless the user asked for quiet.
void apply_ceiling(ProfileTable& sim, ProfileTable& obs, double maxobs, Shape shape, Out& out, Out& err,
                   Out* echo = nullptr);
