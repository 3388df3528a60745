// Feeds one arbitrary file to the structure reader, then predicts from what
// it gives: every failure names the file; every coordinate finite; Gamma2
// finite and not negative; the simulated file reads back as one profile per
// site.
#pragma once

#include <cstddef>
#include <cstdint>

void fuzz_structure_one(const uint8_t* data, size_t size);
