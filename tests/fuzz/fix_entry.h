// Feeds one arbitrary --fix file to the reader, then holds the optimum and
// the posterior to what the pairs promise: every failure names the file;
// pairs in range, each peak and residue once; the optimum a permutation
// that holds them; probabilities in [0, 1], rows that sum to 1, and 1 for
// each known pair.
#pragma once

#include <cstddef>
#include <cstdint>

void fuzz_fix_one(const uint8_t* data, size_t size);
