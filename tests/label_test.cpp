// preassign label on maps and tables the test writes: the list's own labels
// kept where the posterior is unsure, the nuclei told by the map, ratio-table
// maps written so that they can be matched back, probabilities checked.
#include <gtest/gtest.h>

#include <fstream>

#include "support.h"

namespace {

const std::string kTableHead =
    "peak_id\tposterior_residue_number\tposterior_probability\tposterior_runner_up_residue_number\t"
    "posterior_runner_up_probability\n";
const std::string kMapHead = "peak_id\tlabel\theavy_ppm\tproton_ppm\n";

Proc label(const std::string& map, const std::string& table, std::vector<std::string> more = {}) {
    const std::string dir = temp_case("", "");
    std::ofstream(dir + "/m.map") << map;
    std::ofstream(dir + "/t.tsv") << table;
    std::vector<std::string> args = {"label", "m.map", "t.tsv"};
    args.insert(args.end(), more.begin(), more.end());
    return run_binary(args, "", dir);
}

TEST(Label, OwnLabelsKeptAndDisagreementsSaid) {
    const Proc p = label(kMapHead + "1\t?-?\t24.8\t0.7\n2\tL23CD1-HD1\t22.1\t0.8\n3\tV41CG1-HG1\t21.0\t0.9\n"
                                    "4\tL30CD2-HD2\t23.0\t0.6\n5\t?-?\t20.0\t1.0\n",
                         kTableHead + "1\t9\t0.97\t12\t1.2706e-06\n2\t41\t0.5\t23\t0.45\n3\t41\t0.95\t\t\n"
                                      "4\t12\t0.99\t30\t0.01\n");
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.out,
              "      Assignment         w1         w2   Note\n\n"
              // Sure, no label of its own; the runner-up's small probability whole.
              "            9C-H       24.8        0.7   p=0.97 9 next=12 p=1.27e-06\n"
              // Unsure: the user's label stays, and the note says the posterior leans elsewhere.
              "      L23CD1-HD1       22.1        0.8   p=0.5 41 next=23 p=0.45 list=L23CD1-HD1 disagrees\n"
              // Sure of the residue the user named: the user's (stereospecific) label stays.
              "      V41CG1-HG1       21.0        0.9   p=0.95 41\n"
              // Sure of another residue.
              "           12C-H       23.0        0.6   p=0.99 12 next=30 p=0.01 list=L30CD2-HD2 disagrees\n"
              "             ?-?       20.0        1.0   not in the table\n");
    EXPECT_EQ(p.err,
              "preassign: label: 3 of 5 peaks labelled at p >= 0.9\n"
              "preassign: warning: t.tsv: 1 peaks of the map are not in the table\n"
              "preassign: warning: 2 peaks whose own label in m.map names another residue than the posterior's most "
              "probable (the first: peak 2): see 'disagrees' in their notes\n");
}

TEST(Label, NucleiFromTheMap) {
    const std::string table = kTableHead + "1\t9\t0.97\t\t\n2\t12\t0.95\t\t\n";
    // 15N shifts: amides, without --nuclei.
    Proc p = label(kMapHead + "1\t?-?\t121.3\t8.21\n2\t?-?\t108.9\t7.95\n", table);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.out, "      Assignment         w1         w2   Note\n\n"
                     "            9N-H      121.3       8.21   p=0.97 9\n"
                     "           12N-H      108.9       7.95   p=0.95 12\n");
    EXPECT_EQ(p.err, "preassign: label: 2 of 2 peaks labelled at p >= 0.9\n");
    // 13C shifts: methyls.
    p = label(kMapHead + "1\t?-?\t24.8\t0.7\n2\t?-?\t21.9\t0.9\n", table);
    EXPECT_NE(p.out.find("            9C-H       24.8"), std::string::npos) << p.out;
    // No shifts, but labels that name the amide N.
    p = label(kMapHead + "1\tG9N-H\t\t\n2\tA12N-HN\t\t\n", kTableHead + "1\t9\t0.3\t\t\n2\t7\t0.97\t\t\n");
    EXPECT_NE(p.out.find("            7N-H      0.000      0.000   p=0.97 7 list=A12N-HN disagrees\n"),
              std::string::npos)
        << p.out;
    // --nuclei given against the shifts: as given, with a warning.
    p = label(kMapHead + "1\t?-?\t121.3\t8.21\n2\t?-?\t108.9\t7.95\n", table, {"--nuclei", "methyl"});
    EXPECT_NE(p.out.find("            9C-H      121.3"), std::string::npos) << p.out;
    EXPECT_EQ(p.err, "preassign: warning: m.map: the shifts or labels are those of amide peaks, but --nuclei methyl "
                     "is given: labels are written for methyls\n"
                     "preassign: label: 2 of 2 peaks labelled at p >= 0.9\n");
}

TEST(Label, RatioTableMapsMatchBack) {
    // A ratio table's map: its own labels (residue numbers), no shifts.
    const std::string map = kMapHead + "1\t3\t\t\n2\t5\t\t\n3\t?-?\t\t\n";
    const std::string table = kTableHead + "1\t3\t0.95\t8\t0.05\n2\t7\t0.6\t5\t0.4\n3\t9\t0.3\t\t\n";
    Proc p = label(map, table, {"--nuclei", "amide"});
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.out, "      Assignment         w1         w2   Note\n\n"
                     "            3N-H      0.000      0.000   p=0.95 3 next=8 p=0.05 list=3\n"
                     "               5      0.000      0.000   p=0.6 7 next=5 p=0.4 list=5 disagrees\n"
                     "           peak3      0.000      0.000   p=0.3 9\n");
    EXPECT_EQ(p.err, "preassign: label: 1 of 3 peaks labelled at p >= 0.9\n"
                     "preassign: warning: m.map: no shifts (a ratio table's map): w1 and w2 are written as 0.000, and "
                     "a peak left unlabelled keeps its own label from the table (or peakID)\n"
                     "preassign: warning: 1 peaks whose own label in m.map names another residue than the posterior's "
                     "most probable (the first: peak 2): see 'disagrees' in their notes\n");
    // Nothing tells the nuclei: said, and methyl labels as before.
    p = label(map, table);
    EXPECT_NE(p.out.find("            3C-H      0.000"), std::string::npos) << p.out;
    EXPECT_EQ(p.err.substr(0, p.err.find('\n') + 1),
              "preassign: warning: m.map: neither shifts nor labels tell methyls from amides: labels are written for "
              "methyls (give --nuclei amide for amide peaks)\n");
}

TEST(Label, PeakNamesNameNoResidue) {
    // Hidden peak names (a PCS table's "p001", "peak12") are no residue:
    // neither read as residue 1 and said to disagree, nor kept where sure.
    const std::string map = kMapHead + "1\tp001\t\t\n2\tpeak12\t\t\n3\tLEU12\t\t\n4\tG7N-H\t\t\n";
    const std::string table =
        kTableHead + "1\t71\t0.95\t8\t0.05\n2\t12\t0.6\t5\t0.4\n3\t13\t0.6\t5\t0.4\n4\t7\t0.95\t5\t0.05\n";
    Proc p = label(map, table, {"--nuclei", "amide"});
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.out, "      Assignment         w1         w2   Note\n\n"
                     "           71N-H      0.000      0.000   p=0.95 71 next=8 p=0.05 list=p001\n"
                     "          peak12      0.000      0.000   p=0.6 12 next=5 p=0.4\n"
                     "           LEU12      0.000      0.000   p=0.6 13 next=5 p=0.4 list=LEU12 disagrees\n"
                     "           G7N-H      0.000      0.000   p=0.95 7 next=5 p=0.05\n");
}

TEST(Label, ProbabilitiesOutsideZeroToOneRefused) {
    const std::string map = kMapHead + "1\t?-?\t24.8\t0.7\n";
    for (const char* bad : {"inf", "5", "0.95abc", "nan", "-0.95", "1.0000001", "abc", " 0.9"}) {
        Proc p = label(map, kTableHead + "1\t9\t" + bad + "\t12\t0.01\n");
        EXPECT_EQ(p.status, 1) << bad;
        EXPECT_EQ(p.err, std::string("preassign: t.tsv:2: posterior_probability '") + bad +
                             "' is not a probability (a number from 0 to 1)\n");
        EXPECT_EQ(p.out, "") << bad;
        // A runner-up's, also on a row of a peak the map does not hold.
        p = label(map, kTableHead + "1\t9\t0.9\t12\t0.1\n7\t9\t0.9\t\t" + bad + "\n");
        EXPECT_EQ(p.err, std::string("preassign: t.tsv:3: posterior_runner_up_probability '") + bad +
                             "' is not a probability (a number from 0 to 1)\n");
    }
    // The ends of the range, and an empty cell, pass.
    Proc p = label(map, kTableHead + "1\t9\t1\t12\t0\n");
    EXPECT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.out.substr(p.out.rfind("   p=")), "   p=1 9 next=12 p=0\n");
    p = label(map, kTableHead + "1\t9\t\t\t\n");
    EXPECT_EQ(p.out.substr(p.out.rfind("   ")), "   no probability\n");
    // A column named twice once read rows one cell short of the later one.
    p = label("peak_id\tlabel\theavy_ppm\tproton_ppm\tlabel\n1\tA\t1\t2\n", kTableHead + "1\t9\t0.95\t12\t0.01\n");
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.err, "preassign: m.map:1: column 'label' named twice\n");
}

TEST(Label, ThresholdTypesAndSmallProbabilities) {
    const std::string dir = temp_case("", "");
    std::ofstream(dir + "/m.map") << kMapHead + "1\t?-?\t24.8\t0.7\n2\t?-?\t21.9\t0.9\n3\tLeu-a\t23.0\t0.6\n";
    // p = 0.9 is at the threshold; a runner-up below 0.001 keeps its digits.
    std::ofstream(dir + "/t.tsv") << kTableHead + "1\t9\t0.9\t12\t0.0005\n2\t12\t0.95\t\t\n3\t9\t0.5\t\t\n";
    // The simulated file names the types: 9 Leu (1), 12 Val (2).
    std::ofstream(dir + "/sim.txt") << "9 10 1\n12 20 2\n";
    const Proc p = run_binary({"label", "m.map", "t.tsv", "--sim", "sim.txt"}, "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.out, "      Assignment         w1         w2   Note\n\n"
                     "           L9C-H       24.8        0.7   p=0.9 9 next=12 p=0.0005\n"
                     "          V12C-H       21.9        0.9   p=0.95 12\n"
                     // A label of its own that names no residue cannot disagree.
                     "           Leu-a       23.0        0.6   p=0.5 9\n");
    EXPECT_EQ(p.err, "preassign: label: 2 of 3 peaks labelled at p >= 0.9\n");
}

}  // namespace
