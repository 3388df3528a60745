// Reads the simulated and experimental profile files into their tables.
// A file is a flat run of records cut into profiles where the record number
// goes down; every token is checked before anything is stored.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "profiles/profile.h"

struct ReadResult {
    int profiles = 0;
    int maxres = 0;                   // the entries per profile this file implies
    double maxobs = 0.0;              // experimental file only
    std::vector<int> records;         // records per profile, for the warnings
};

// Both throw Failure on invalid content; `name` is the file name used in
// messages. The run's maxres is the larger of the two files' values.
ReadResult read_simulated(std::string_view text, const std::string& name, ProfileTable& sim);
ReadResult read_experimental(std::string_view text, const std::string& name, ProfileTable& obs);

// The run's shape: the experimental file's profiles, compared with the
// simulated ones of the same index, and the longer of the two files' entries.
Shape combined_shape(const ReadResult& sim, const ReadResult& obs);

// The whole file, or a Failure naming it and the reason.
std::string load_file(const std::string& name);
