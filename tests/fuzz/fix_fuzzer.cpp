// libFuzzer target over the --fix reader and what the pairs must hold.
#include "fix_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_fix_one(data, size);
    return 0;
}
