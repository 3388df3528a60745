// Reads the simulated and experimental profile files into their tables.
// A file is a flat run of records cut into profiles where the record number
// goes down; every token is checked before anything is stored.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "profiles/profile.h"

struct ReadResult {
    int profiles = 0;
    int maxres = 0;                   // the entries per profile this file implies
    double maxobs = 0.0;              // experimental file only
    std::vector<int> records;         // records per profile, for the warnings
    // For the warnings: the line each record starts on, per profile; whether
    // the file ends in white space (else its last record may fall outside
    // the searched entries); the first record whose id repeats the one
    // before it (0: none).
    std::vector<std::vector<int>> lines;
    bool ends_in_space = false;
    int repeat_line = 0, repeat_id = 0;
    // The first line holding other than one record's values (0: none), and
    // what to say of it ("2 values on the line, where a record is 3 (...)").
    int odd_line = 0;
    std::string odd;
    // Experimental file only: measured PREs below 0 other than -999 (the
    // mark for no value), which the run takes as measurements; the line
    // and value of the first.
    int negative = 0, negative_line = 0;
    double negative_value = 0.0;
};

// Both throw Failure on invalid content; `name` is the file name used in
// messages, `first_line` the number of the text's first line in it. The
// run's maxres is the larger of the two files' values.
ReadResult read_simulated(std::string_view text, const std::string& name, ProfileTable& sim, int first_line = 1);
ReadResult read_experimental(std::string_view text, const std::string& name, ProfileTable& obs);

// A file of label draws (predict --draws): before each draw a line that
// begins with kDrawMark, then that draw's simulated profiles. Returns each
// draw's text and the file's line it starts on, for read_simulated's
// messages. Throws Failure "NAME:LINE: reason" where text comes before the
// first mark, "NAME: reason" where the file holds no draw.
inline constexpr std::string_view kDrawMark = "# draw ";
struct Draw {
    int first_line = 1;
    std::string text;
};
std::vector<Draw> split_draws(std::string_view text, const std::string& name);

// The run's shape: the experimental file's profiles, compared with the
// simulated ones of the same index, and the longer of the two files' entries.
Shape combined_shape(const ReadResult& sim, const ReadResult& obs);

// Known (peak, residue) pairs, "peak_id residue_number" each, as entry
// indices: the peak among the first `peaks` entries of experimental profile
// 0, the residue among the first `residues` of simulated profile 0
// ("residue_number/K": the K-th entry with that number, for a residue's
// methyls one entry each). Throws Failure naming the file and line for an id
// that names no entry or more than one, a K beyond its entries, and for a
// peak or residue named twice.
std::vector<std::pair<int, int>> read_fixed_pairs(std::string_view text, const std::string& name,
                                                  const CProfile& obs0, int peaks, const CProfile& sim0,
                                                  int residues);

// The whole file, or a Failure naming it and the reason.
std::string load_file(const std::string& name);
