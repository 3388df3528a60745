// preassign predict with metals: pseudocontact shifts or metal PREs from
// lanthanide tensors, and tensors fitted to measured shifts.
#pragma once

#include <string>
#include <vector>

#include "io/output.h"
#include "structure/predict.h"

struct MetalArgs {
    std::vector<std::string> tensors;  // files, one per metal
    std::vector<std::string> places;   // --metal, one per metal where given
    bool relaxation = false;           // --metal-pre
    std::string fit_obs;               // --fit-tensors: measured shifts, two profiles per metal
    bool assigned = false;             // --assigned: their peak ids are residue numbers
    bool fit_places = false;           // --fit-places: atoms' and points' metals refitted from there
    std::string write_tensors;         // --write-tensors PREFIX: PREFIX1.txt, ...
    std::string structure, output;
};

// `o` carries the nuclei and the field; throws Failure as run_predict does.
int run_metals(const PredictOptions& o, const MetalArgs& a, Out& out, Out& err);
