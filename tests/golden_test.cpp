// End-to-end cases: each folder under golden/ holds an input pair and the
// exact standard output and standard error that the binary must produce.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> cases() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(testdata("golden")))
        if (e.is_directory()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, MatchesByteForByte) {
    const std::string dir = testdata("golden/" + GetParam()) + "/";
    Proc p = run_binary({"sim.txt", "obs.txt"}, "", dir);
    EXPECT_EQ(p.status, 0);
    // Compared whole, but reported by first difference: these files are long.
    auto same = [](const std::string& got, const std::string& want, const char* what) {
        if (got == want) return;
        size_t at = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
        size_t line = std::count(want.begin(), want.begin() + std::min(at, want.size()), '\n') + 1;
        ADD_FAILURE() << what << " differs at line " << line << ": got\n"
                      << got.substr(at > 40 ? at - 40 : 0, 120) << "\nwant\n"
                      << want.substr(at > 40 ? at - 40 : 0, 120);
    };
    same(p.out, read_file(dir + "expected.stdout"), "standard output");
    same(p.err, read_file(dir + "expected.stderr"), "standard error");
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param; });

}  // namespace
