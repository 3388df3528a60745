// The two profile tables and the shape that says how much of them is in
// use. Sizes are fixed: the readers refuse input that would not fit.
#pragma once

#include <array>
#include <memory>

#include "io/arithmetic.h"

inline constexpr int kMaxProfiles = 20;
inline constexpr int kMaxEntries = 800;
inline constexpr double MISSING_PRE = -999.0;

// Residue type codes of the simulated file; any other code is untyped.
inline constexpr int kLeu = 1;
inline constexpr int kVal = 2;
inline bool is_typed(int t) { return t == kLeu || t == kVal; }

// An experimental PRE equal to the marker was not measured.
inline bool is_measured(double pre) { return pre != MISSING_PRE; }

struct CProfile {
    double pre[kMaxEntries];
    double pre_err[kMaxEntries];
    double id[kMaxEntries];
    double type_value[kMaxEntries];
    double aux_value[kMaxEntries];
    int restype[kMaxEntries];

    // Entries that no reader writes are read by the search and the report,
    // so every field starts at zero.
    CProfile() : pre{}, pre_err{}, id{}, type_value{}, aux_value{}, restype{} {}
};

using ProfileTable = std::array<CProfile, kMaxProfiles>;

inline std::unique_ptr<ProfileTable> make_table() { return std::make_unique<ProfileTable>(); }

// How much of the tables a phase works on: the profiles compared and the
// entries per profile, which peaks and residues share.
struct Shape {
    int numprofiles = 0;
    int maxres = 0;
};
