// Feeds one arbitrary input to the peak-list readers and the import, as the
// fuzzer and the regression replay both do, and holds the result to what
// the experimental file promises: every failure names a file, and every
// value written is a number, a PRE of 0 or more (or -999) with an error of
// 0 or more.
#pragma once

#include <cstddef>
#include <cstdint>

// The first byte picks the mode (bit 0: ratio tables; bit 1: two time
// points; bits 2-4: no --r2, --noise, --mq; bit 5: a second site); the rest
// is up to four lists cut at form feeds: dia, para, then dia and para at Tb
// or of the second site (a missing one is the first again).
void fuzz_peaks_one(const uint8_t* data, size_t size);
