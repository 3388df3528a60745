// libFuzzer target over the Sparky, NMRPipe and ratio-table readers and the
// import that follows them.
#include "fuzz/peaks_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_peaks_one(data, size);
    return 0;
}
