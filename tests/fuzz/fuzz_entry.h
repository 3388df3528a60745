// Feeds one arbitrary input to a profile reader, as the fuzzer and the
// regression replay both do. The first byte picks the reader (bit 1: a file
// of label draws; else bit 0: experimental or simulated).
#pragma once

#include <cstddef>
#include <cstdint>

void fuzz_one(const uint8_t* data, size_t size);
