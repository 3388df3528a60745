// libFuzzer target over the structure reader and predict on what it gives.
#include "structure_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_structure_one(data, size);
    return 0;
}
