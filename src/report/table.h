// The results as a tab-separated table, one row per peak, for spreadsheets
// and scripts.
#pragma once

#include <string>
#include <vector>

#include "io/output_file.h"
#include "profiles/profile.h"
#include "posterior/posterior.h"
#include "search/sampler.h"

// Columns that options add. A column an option asks for is always there;
// its cells are empty where the value could not be computed.
struct TableColumns {
    bool optimal_column = false;
    std::vector<int> optimal;              // the optimum's residue index per peak; empty: not computed
    const Posterior* posterior = nullptr;
    std::vector<char> fixed;               // per peak: a known pair
    // Entries of the first profile that have a record in their file; those
    // past them pad the search, and their ids print as 0 (the readers leave
    // a copy of the last record there).
    int peak_records = 1 << 30, residue_records = 1 << 30;
};

// Throws Failure when the file cannot be written.
void write_table(OutputFile& file, const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs,
                 Shape shape, const TableColumns& more);

// The text of that table.
std::string results_table(const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs,
                          Shape shape, const TableColumns& more);

// "ok", "penalised", or "" for an untyped residue.
const char* type_check(int restype, double x);
