// Lanthanide tensors fitted to measured pseudocontact shifts: with the
// assignment known (peak ids are residue numbers), or jointly with it,
// searched globally over every tag at once.
#pragma once

#include <string>
#include <vector>

#include "metal/shifts.h"
#include "metal/tensor.h"
#include "profiles/profile.h"
#include "profiles/reader.h"

namespace pcsfit {

// The measured shifts, ppm: [metal][0 1H, 1 heavy][peak], NaN where not
// measured; errors likewise (0 where none was given).
struct Measured {
    int peaks = 0;
    std::vector<int> id;  // each peak's id
    std::vector<std::array<std::vector<double>, 2>> value, error;
};

// From an experimental file of two profiles per metal (1H, heavy). Throws
// Failure "FILE: reason" where it holds another number of profiles than
// 2 x metals.
Measured measured_of(const ProfileTable& obs, const ReadResult& r, int metals, const std::string& path);

// Metals sharing a place (the same --metal text) share their position.
struct Group {
    metal::Place place;
    std::vector<int> metals;
    std::vector<Point> start;  // per model: the atom or point; for a tag, its CB
    int site = -1;             // a tag: its frame in the geometry
};

struct MetalFit {
    metal::Tensor tensor;  // position in model 1
    double q = 0.0;        // rms(measured - fitted) / rms(measured), over its pairs (blind: those the posterior makes likelier than not)
    int values = 0;        // used in the fit
    double spread = 0.0;   // norm of the difference to the runner-up solution's tensor, over the tensor's norm
};

struct TensorFit {
    std::vector<MetalFit> metals;
    std::vector<int> assignment;     // per peak: nucleus index, -1 none
    double cost_per_value = 0.0;     // the fit's cost over the values it explains (about 1 where it holds)
    bool reliable = false;
    std::string why;                 // where not reliable
    std::vector<std::string> notes;  // progress, for the caller to print
};

struct FitOptions {
    bool assigned = false;  // peak ids are residue numbers
    bool fit_places = false;  // metals at atoms and points placed by the fit too (a tag's always are)
    unsigned seed = 1;
};

// `base` gives each metal's fields that are not fitted (mueff, field, ...)
// and, for a metal not on a tag, its start. Deterministic for a seed.
TensorFit fit_tensors(const Geometry& g, bool amide, const Measured& data, const std::vector<Group>& groups,
                      const std::vector<metal::Tensor>& base, const FitOptions& o);

}  // namespace pcsfit
