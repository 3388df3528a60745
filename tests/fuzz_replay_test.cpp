// Replays every input the fuzzer once found troublesome, and the seeds.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/fix_entry.h"
#include "fuzz/fuzz_entry.h"
#include "fuzz/peaks_entry.h"
#include "fuzz/structure_entry.h"
#include "support.h"

TEST(FuzzRegressions, ReplayWithoutFault) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(testdata("fuzz/regressions"))) {
        std::string data = read_file(e.path().string());
        fuzz_one(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        ++n;
    }
    EXPECT_GT(n, 0);
}

TEST(FuzzRegressions, FixFilesHoldTheirPromises) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(testdata("fuzz/fix_regressions"))) {
        std::string data = read_file(e.path().string());
        fuzz_fix_one(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        ++n;
    }
    EXPECT_GT(n, 0);
}

TEST(FuzzRegressions, PeakListsImportToNumbers) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(testdata("fuzz/peaks_regressions"))) {
        std::string data = read_file(e.path().string());
        fuzz_peaks_one(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        ++n;
    }
    EXPECT_GT(n, 0);
}

TEST(FuzzRegressions, StructuresReadOrFailByName) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(testdata("fuzz/structure_regressions"))) {
        std::string data = read_file(e.path().string());
        fuzz_structure_one(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        ++n;
    }
    EXPECT_GT(n, 4);
}
