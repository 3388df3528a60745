// The result reports: per-peak detail on standard error; the assignment, the
// frequency table and the schedule's step counts on standard output.
#pragma once

#include "io/output.h"
#include "profiles/profile.h"
#include "search/sampler.h"

// The per-peak detail goes to `detail`, standard error unless the user asked
// for quiet.
void write_reports(const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs, Shape shape,
                   Out& out, Out& err, Out* detail = nullptr);
