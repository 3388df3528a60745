// The answer per peak: the residue it held most often during statistics.
#pragma once

#include "search/sampler.h"

// Overwrites s.assign row by row; ties go to the lowest residue index and a
// row without counts keeps the walk's last residue.
void most_probable_assignment(CAnnealingSampler& s, int maxres);
