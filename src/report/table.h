// The results as a tab-separated table, one row per peak, for spreadsheets
// and scripts.
#pragma once

#include <string>
#include <vector>

#include "io/output_file.h"
#include "profiles/profile.h"
#include "search/sampler.h"

// `optimal` is the optimum's residue index per peak, or empty. Throws
// Failure when the file cannot be written.
void write_table(OutputFile& file, const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs,
                 Shape shape, const std::vector<int>& optimal);

// The text of that table.
std::string results_table(const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs,
                          Shape shape, const std::vector<int>& optimal);

// "ok", "penalised", or "" for an untyped residue.
const char* type_check(int restype, double x);
