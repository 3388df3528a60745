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
    double maxobs = 0.0;              // experimental file only
    std::vector<int> records;         // records per profile, for the warnings
};

// Both raise CPREdata::maxres. They throw Failure on invalid content; `name`
// is the file name used in messages.
ReadResult read_simulated(std::string_view text, const std::string& name, ProfileTable& sim);
ReadResult read_experimental(std::string_view text, const std::string& name, ProfileTable& obs);

// The whole file, or a Failure naming it and the reason.
std::string load_file(const std::string& name);
