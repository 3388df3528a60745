// Bad input ends with one line on standard error, nothing on standard output
// and a non-zero status, quickly; odd but valid input runs as usual.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <new>
#include <stdexcept>

#include "driver/run.h"
#include "io/failure.h"
#include "profiles/reader.h"
#include "support.h"

namespace {

const std::string kSim = "1 10 1\n2 20 2\n";
const std::string kObs = "1 20 1 23 1\n2 10 1 23 1\n";

struct Rejected {
    const char* what;
    std::string sim, obs;
    std::string message;  // the whole of standard error
    int status = 1;
    std::vector<std::string> args = {"sim.txt", "obs.txt"};
};

TEST(Errors, RejectedInputs) {
    std::string profiles21, records801, two_columns;
    for (int i = 21; i >= 1; --i) profiles21 += std::to_string(i) + " 1 1\n";
    // Residue number and PRE only: read three at a time, the ids fall every
    // second record (1, 20, 4, 50, ...), as if new profiles began.
    for (int i = 1; i <= 90; ++i) two_columns += std::to_string(i) + " " + std::to_string(10 * i) + "\n";
    for (int i = 1; i <= 801; ++i) records801 += std::to_string(i) + " 1 1\n";
    const std::string U =
        "preassign: usage: preassign [options] SIMULATED_PROFILES EXPERIMENTAL_PROFILES (see --help)\n";
    const std::vector<Rejected> cases = {
        {"no arguments", kSim, kObs, U, 2, {}},
        {"one argument", kSim, kObs, U, 2, {"sim.txt"}},
        {"missing file", kSim, kObs, "preassign: nope.txt: No such file or directory\n", 1, {"sim.txt", "nope.txt"}},
        {"directory", kSim, kObs, "preassign: .: Is a directory\n", 1, {".", "obs.txt"}},
        // Opens, but cannot be read (tests run as root, so no permission denial).
        {"unreadable", kSim, kObs, "preassign: /proc/self/mem: Input/output error\n", 1, {"sim.txt", "/proc/self/mem"}},
        {"endless", kSim, kObs, "preassign: /dev/zero: larger than 64 MiB, the limit for an input file\n", 1,
         {"/dev/zero", "obs.txt"}},
        {"word", "abc 1 1\n", kObs, "preassign: sim.txt:1: expected an integer (residue number), found 'abc'\n"},
        {"two points", "1 1.2.3 1\n", kObs, "preassign: sim.txt:1: expected a number (predicted PRE), found '1.2.3'\n"},
        {"trailing letters", kSim + "\n12abc 1 1\n", kObs,
         "preassign: sim.txt:4: expected an integer (residue number), found '12abc'\n"},
        {"nan", "1 nan 1\n", kObs, "preassign: sim.txt:1: expected a number (predicted PRE), found 'nan'\n"},
        {"inf", kSim, "1 inf 1 23 1\n", "preassign: obs.txt:1: expected a number (measured PRE), found 'inf'\n"},
        {"comment", "# residues\n1 2 1\n", kObs,
         "preassign: sim.txt:1: expected an integer (residue number), found '#'\n"},
        {"byte order mark", "\xEF\xBB\xBF" "1 2 1\n", kObs,
         "preassign: sim.txt:1: expected an integer (residue number), found '\\xEF\\xBB\\xBF1'\n"},
        {"real residue number", "1.5 2 1\n", kObs,
         "preassign: sim.txt:1: expected an integer (residue number), found '1.5'\n"},
        {"real residue type", "1 2 1.0\n", kObs,
         "preassign: sim.txt:1: expected an integer (residue type), found '1.0'\n"},
        {"real peak id", kSim, "1 20 1 23 1\r\n2.5 10 1 23 1\r\n",
         "preassign: obs.txt:2: expected an integer (peak id), found '2.5'\n"},
        {"empty exponent", kSim, "1 20 1 2e 1\n", "preassign: obs.txt:1: expected a number (type value), found '2e'\n"},
        {"hex", kSim, "1 20 0x1 23 1\n", "preassign: obs.txt:1: expected a number (PRE error), found '0x1'\n"},
        {"big integer", "99999999999 1 1\n", kObs, "preassign: sim.txt:1: residue number '99999999999' is out of range\n"},
        {"big type", "1 1 2147483648\n", kObs, "preassign: sim.txt:1: residue type '2147483648' is out of range\n"},
        {"big real", kSim, "1 20 1 23 1e999\n", "preassign: obs.txt:1: fifth value '1e999' is out of range\n"},
        {"short simulated record", "1 2 1\n2 3\n", kObs,
         "preassign: sim.txt:2: the last record is cut short: 2 of 3 numbers\n"},
        {"short experimental record", kSim, "1 20 1 23 1\n2 10 1\n",
         "preassign: obs.txt:2: the last record is cut short: 3 of 5 numbers\n"},
        {"21 profiles", profiles21, kObs, "preassign: sim.txt:21: more than 20 profiles\n"},
        {"two columns", two_columns, kObs,
         "preassign: sim.txt:1: 2 values on the line, where a record is 3 (residue number, predicted PRE, residue "
         "type)\n"},
        {"two columns, real PREs", "1 0.5\n2 0.25\n3 0.125\n", kObs,
         "preassign: sim.txt:1: 2 values on the line, where a record is 3 (residue number, predicted PRE, residue "
         "type)\n"},
        {"a value left out", kSim, "1 20 1 23 1\n2 10 23 1\n3 10.5 1 23 1\n4 10 1 23 1\n",
         "preassign: obs.txt:2: 4 values on the line, where a record is 5 (peak id, measured PRE, PRE error, type "
         "value, fifth value)\n"},
        {"801 records", records801, kObs, "preassign: sim.txt:801: profile 0 has more than 800 records\n"},
        {"first number too large", "10000000 1 1\n10000001 1 1\n", kObs,
         "preassign: sim.txt:1: first residue number 10000000 is too large (it must be below 10000000)\n"},
    };
    for (const Rejected& c : cases) {
        Proc p = run_binary(c.args, "", temp_case(c.sim, c.obs));
        EXPECT_EQ(p.err, c.message) << c.what;
        EXPECT_EQ(p.status, c.status) << c.what;
        EXPECT_EQ(p.out, "") << c.what;
    }
}

TEST(Errors, FailedWriteIsNotSuccess) {
    Proc p = run_binary({"sim.txt", "obs.txt"}, "/dev/full", temp_case(kSim, kObs));
    EXPECT_EQ(p.status, 1);
    const std::string tail = "preassign: error writing standard output: No space left on device\n";
    ASSERT_GE(p.err.size(), tail.size());
    EXPECT_EQ(p.err.substr(p.err.size() - tail.size()), tail);
    // Stopped at the first line on standard output, before the walk.
    EXPECT_EQ(p.err.find("FINAL results"), std::string::npos);

    Proc e = run_binary({"sim.txt", "obs.txt"}, "", temp_case(kSim, kObs), "/dev/full");
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.out, "");  // stopped at the first line on standard error
}

TEST(Errors, WarningsThenTheUsualRun) {
    // One profile of 3 records without a final newline: only 2 are searched.
    Proc p = run_binary({"sim.txt", "obs.txt"}, "", temp_case("1 10 1\n2 20 2\n3 5 0", kObs));
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.err.substr(0, p.err.find("Initializing")),
              "preassign: warning: sim.txt: profile 0 has 3 records, but 2 entries are searched\n"
              "preassign: warning: sim.txt:3: the last record is left out of the search: the file does not end "
              "with a newline, so only the records before it count; add one\n");
    // Ids that differ between profiles at the same entry, or that repeat.
    p = run_binary({"sim.txt", "obs.txt"}, "",
                   temp_case("10 1 0\n20 2 0\n10 1 0\n30 2 0\n", "1 5 1 23 0\n2 6 1 23 0\n1 5 1 23 0\n2 6 1 23 0\n"));
    EXPECT_EQ(p.err.substr(0, p.err.find("Initializing")),
              "preassign: warning: sim.txt:4: profile 1 gives residue number 30 at entry 1, where profile 0 gives "
              "20 (1 entries differ): profiles are compared entry by entry, so each should list every residue "
              "number in the same order\n");
    p = run_binary({"sim.txt", "obs.txt"}, "", temp_case(kSim, "1 5 1 23 0\n1 6 1 23 0\n"));
    EXPECT_EQ(p.err.substr(0, p.err.find("Initializing")),
              "preassign: warning: obs.txt:2: peak id 1 repeats the one before it: ids should increase within a "
              "profile (a new profile begins where they go down)\n");
    EXPECT_NE(p.out.find("number of steps for statistics      : 1000000\n"), std::string::npos);
    // Two columns whose values happen to read as records.
    p = run_binary({"sim.txt", "obs.txt"}, "", temp_case("1 10\n2 20\n3 30\n", kObs));
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.err.substr(0, p.err.find("Initializing")),
              "preassign: warning: sim.txt:1: 2 values on the line, where a record is 3 (residue number, predicted "
              "PRE, residue type): records are read across lines, so the numbers may not be where meant\n");
    // A residue's two methyls share its number: no warning.
    p = run_binary({"sim.txt", "obs.txt"}, "", temp_case("10 1 1\n10 2 1\n", kObs));
    EXPECT_EQ(p.err.substr(0, p.err.find("Initializing")), "");
    // A profile shorter than the entries searched.
    p = run_binary({"sim.txt", "obs.txt"}, "", temp_case(kSim + "3 5 0\n", kObs));
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.err.substr(0, p.err.find("Initializing")),
              "preassign: warning: obs.txt: profile 0 has 2 records, but 3 entries are searched\n");
    // A cost that overflows: said once, after the input, and the run goes on.
    p = run_binary({"sim.txt", "obs.txt"}, "", temp_case(kSim, "1 -1e300 1 23 1\n2 10 1 -1e300 1\n"));
    EXPECT_EQ(p.status, 0);
    const std::string warning =
        "NUMPROFILES simulated, replacing large predicted PREs: 1\n10 20 \n\n"
        "preassign: warning: the cost of 2 peaks (the first: peak id 1) is not finite on some residues (values "
        "near 1e300): the walk cannot weigh those assignments against others\n"
        "FINAL results:";
    EXPECT_NE(p.err.find(warning), std::string::npos) << p.err;
    EXPECT_NE(p.out.find("number of steps for statistics      : 1000000\n"), std::string::npos);
}

TEST(Errors, AnythingThrownIsOneLine) {
    struct Thrown {
        std::function<int()> body;
        std::string line;
        int status;
    } cases[] = {
        {[]() -> int { throw std::bad_alloc(); }, "preassign: out of memory\n", 1},
        {[]() -> int { throw Failure{2, "misuse"}; }, "preassign: misuse\n", 2},
        {[]() -> int { throw std::runtime_error("boom"); }, "preassign: unexpected error: boom\n", 1},
        {[]() -> int { throw 7; }, "preassign: unexpected error\n", 1},
        {[] { return 0; }, "", 0},
    };
    for (const Thrown& c : cases) {
        Out msg;
        EXPECT_EQ(report_failures(msg, c.body), c.status) << c.line;
        msg.flush();
        EXPECT_EQ(msg.text, c.line);
    }
}

// Odd but valid files: read exactly as any other.
TEST(Errors, AcceptedEdgeInputs) {
    struct Accepted {
        const char* what;
        std::string text;
        int profiles, maxres;
        double pre1;  // entry 1 of profile 0
    };
    auto full = [](bool newline) {
        std::string s;
        for (int p = 0; p < kMaxProfiles; ++p)
            for (int i = 0; i < kMaxEntries; ++i) s += std::to_string(i) + " " + std::to_string(p) + ".5 1\n";
        if (!newline) s.pop_back();
        return s;
    };
    const std::vector<Accepted> cases = {
        {"full tables, final newline", full(true), 20, 800, 0.5},
        {"full tables, no final newline", full(false), 20, 800, 0.5},
        {"CRLF", "1 2 1\r\n2 3 1\r\n", 1, 2, 3},
        {"tabs and several records a line", "1\t2\t1 2 3 1\t\n", 1, 2, 3},
        {"number forms", "-5 1e-3 +1 -3 -0 2 +7 .5 1\n", 1, 3, -0.0},
        {"negative residue numbers split", "-3 1 1 -1 4 1 -7 1 1\n", 2, 2, 4},
        {"empty", "", 0, 0, 0},
        {"white space only", " \r\n\t\n", 0, 0, 0},
    };
    for (const Accepted& c : cases) {
        auto sim = make_table();
        ReadResult r = read_simulated(c.text, "sim.txt", *sim);
        EXPECT_EQ(r.profiles, c.profiles) << c.what;
        EXPECT_EQ(r.maxres, c.maxres) << c.what;
        EXPECT_EQ((*sim)[0].pre[1], c.pre1) << c.what;
        EXPECT_FALSE(std::signbit((*sim)[0].pre[1]) != std::signbit(c.pre1)) << c.what;
    }
}

}  // namespace
