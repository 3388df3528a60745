// Replays every input the fuzzer once found troublesome, and the seeds.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/fix_entry.h"
#include "fuzz/fuzz_entry.h"
#include "fuzz/peaks_entry.h"
#include "fuzz/structure_entry.h"
#include "support.h"

namespace {

// Each file of tests/`folder` through `one`; how many there were.
int replay(const std::string& folder, void (*one)(const uint8_t*, size_t)) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(testdata(folder))) {
        const std::string data = read_file(e.path().string());
        one(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        ++n;
    }
    return n;
}

}  // namespace

TEST(FuzzRegressions, ReplayWithoutFault) { EXPECT_GT(replay("fuzz/regressions", fuzz_one), 0); }

TEST(FuzzRegressions, FixFilesHoldTheirPromises) { EXPECT_GT(replay("fuzz/fix_regressions", fuzz_fix_one), 0); }

TEST(FuzzRegressions, PeakListsImportToNumbers) { EXPECT_GT(replay("fuzz/peaks_regressions", fuzz_peaks_one), 0); }

TEST(FuzzRegressions, StructuresReadOrFailByName) {
    EXPECT_GT(replay("fuzz/structure_regressions", fuzz_structure_one), 4);
}
