// The two profile tables and the run-wide counters that say how much of them
// is in use. Sizes are fixed: the readers refuse input that would not fit.
#pragma once

#include <array>
#include <memory>

inline constexpr int kMaxProfiles = 20;
inline constexpr int kMaxEntries = 800;
inline constexpr double MISSING_PRE = -999.0;

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

// The run's record of its shape, which the reports print from; only the
// driver writes it, and every phase below the driver takes a Shape instead.
struct CPREdata {
    static inline int maxres = 0;
    static inline int numprofiles = 0;
};
