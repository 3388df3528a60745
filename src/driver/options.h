// The command line: two input files and options that, left out, change
// nothing in the run's output.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "io/output.h"

struct Options {
    std::string sim, obs;
    unsigned seed = 10000;
    bool quiet = false;    // no echoes and no per-peak detail on standard error
    bool optimal = false;  // also solve for the minimum-energy assignment
    std::string table;     // tab-separated results, when set
    std::string heatmap;   // PNG of the frequency matrix, when set
    bool posterior = false;     // also the noise-aware posterior over assignments
    double model_error = -1.0;  // the posterior's f; negative: fitted
    std::string fix;            // known pairs for --optimal and --posterior, when set
    std::vector<std::string> pcs;  // --pcs SIM OBS: pseudocontact shifts beside the PREs, for --posterior
    bool shifts = false;           // --shifts: SIM and OBS hold pseudocontact shifts, not PREs
    std::string draws;             // label draws (predict --draws) that --posterior averages over, when set
};

// Parsed options, or nothing when help or the version was printed to `out`.
// Throws Failure with the usage status on misuse.
std::optional<Options> parse_options(int argc, const char* const* argv, Out& out);
