// import of pseudocontact shifts: both table forms, the pairing along the
// diagonal worked out by hand, ids lined up with an earlier map, and the
// command's refusals word for word.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "io/failure.h"
#include "peaks/pcs_import.h"
#include "support.h"

namespace {

// A Sparky list of rows "label w1(heavy) w2(1H)", each of height 100.
PeakList sparky(const std::string& path, const std::vector<std::string>& rows) {
    std::string s = "      Assignment         w1         w2   Data Height\n\n";
    for (const std::string& r : rows) s += "  " + r + " 100\n";
    return read_peak_list(s, path, false);
}

TEST(PcsImport, TablesInBothFormsAndTheUnionOfTheirLabels) {
    // The atom form, under a header, with a comment; then the 3-column form,
    // which alone has label 9.
    const PcsTable a = read_pcs_table("residue atom pcs error\n"
                                      "2   H     -0.04855485  0.16\n"
                                      "2   N     -0.03402764  0.09\n"
                                      "4   HN    0.5   # no error given\n\n"
                                      "7   CD1   1.25  0\n",
                                      "a.npc");
    const PcsTable b = read_pcs_table("4, 0.25, 0.01\n9 -0.3\n7 nan 0.2\n", "b.npc");
    ASSERT_EQ(a.notes, std::vector<std::string>{"line 1 read as a header"});
    EXPECT_TRUE(b.notes.empty());
    const Imported im = import_pcs_tables({a, b}, {});
    EXPECT_EQ(im.profiles,
              // metal 1, 1H then heavy atom
              "1 -0.04855485 0.16 23 0\n2 0.5 0 23 0\n3 -999 0 23 0\n4 -999 0 23 0\n"
              "1 -0.03402764 0.09 23 0\n2 -999 0 23 0\n3 1.25 0 23 0\n4 -999 0 23 0\n"
              // metal 2: label 9 is the fourth peak; 7's nan has no error; no heavy atom at all
              "1 -999 0 23 0\n2 0.25 0.01 23 0\n3 -999 0 23 0\n4 -0.3 0 23 0\n"
              "1 -999 0 23 0\n2 -999 0 23 0\n3 -999 0 23 0\n4 -999 0 23 0\n");
    EXPECT_EQ(im.map, "peak_id\tlabel\theavy_ppm\tproton_ppm\n1\t2\t\t\n2\t4\t\t\n3\t7\t\t\n4\t9\t\t\n");
    EXPECT_TRUE(im.warnings.empty());
    EXPECT_EQ(im.notes[1], "metal 2 (b.npc): 3 labels, 2 with a 1H PCS, 0 with a heavy-atom PCS");
    // What a table must not hold.
    auto error = [](const std::string& text) { return failure([&] { read_pcs_table(text, "T"); }); };
    EXPECT_EQ(error("2 H 0.1\n3 H 0.05ppm\n"), "T:2: expected a number (the PCS in ppm, without a unit), found '0.05ppm'");
    EXPECT_EQ(error("2 0.1 0.02ppm\n"), "T:1: expected a number (the PCS's error in ppm, without a unit), found '0.02ppm'");
    EXPECT_EQ(error("2 H 0.1\n2 N 0.1\n2 HN 0.2\n"), "T:3: label '2' is given twice for 1H (first on line 1)");
    EXPECT_EQ(error("2 0.1 -0.1\n"), "T:1: the error -0.1 is below 0");
    EXPECT_EQ(error("2 O 0.1\n"), "T:1: atom 'O' is neither 1H (H, HN, HD1 ...) nor a heavy atom (N, C, CD1 ...)");
    EXPECT_EQ(error("2 H 0.1 0.01 7\n"), "T:1: 5 fields where a PCS table has label, ppm and an optional error, or "
                                         "label, atom, ppm and an optional error");
    EXPECT_EQ(error("# nothing\n\n"), "T: holds no PCS");
}

// Seven diamagnetic peaks (1H/15N) placed so that each case of the pairing
// shows once; offsets and distances from the diagonal worked out by hand.
const std::vector<std::string> kDia = {
    "?-?  120.00 8.00",  // A: partner (+0.31, +0.30), 0.007 from the diagonal
    "?-?  110.00 7.00",  // B: partner (-0.48, -0.50), 0.014
    "?-?  125.00 9.00",  // C: two partners 0.007 and 0.014 from it: ambiguous
    "?-?  115.00 7.50",  // D: its partner (+2.5, +2.5) lies beyond 2 ppm
    "G12N-H 105.00 8.50",  // E: paired by label, far off the diagonal
    "?-?  100.00 6.00",  // F: (+0.3, +0.3), and H's partner 0.007 away: H first
    "?-?  102.50 8.50",  // H: its one candidate (-1.29, -1.30)
};
const std::vector<std::string> kPara = {
    "?-?  120.30 8.31",  "?-?  109.50 6.52",  "?-?  125.20 9.21", "?-?  124.60 8.62",
    "?-?  117.50 10.00", "G12N-H 105.90 8.40", "?-?  100.30 6.30", "?-?  101.20 7.21",
};

TEST(PcsImport, PairsAlongTheDiagonalLeastAmbiguousFirst) {
    const PeakList dia = sparky("dia", kDia), para = sparky("para", kPara);
    const DiagonalPairs pr = pair_on_diagonal(dia, para, 0.05, 2.0);
    EXPECT_EQ(pr.partner, (std::vector<int>{0, 1, -1, -1, 5, 6, 7}));
    EXPECT_EQ(pr.by_label, 1);
    EXPECT_EQ(pr.by_position, 4);
    EXPECT_EQ(pr.ambiguous, std::vector<int>{2});
    EXPECT_EQ(pr.alone, std::vector<int>{3});
    // A larger maximum lets D pair with the peak 2.5 ppm along.
    EXPECT_EQ(pair_on_diagonal(dia, para, 0.05, 3.0).partner[3], 4);
    // Ambiguity counts a second partner beyond the tolerance too: 0.007 and
    // 0.057 from the diagonal are within 0.05 of each other; 0.007 and 0.071
    // are not.
    const PeakList one = sparky("one", {"?-? 120.00 8.00"});
    EXPECT_EQ(pair_on_diagonal(one, sparky("p", {"?-? 120.21 8.20", "?-? 120.42 8.50"}), 0.05, 2.0).ambiguous,
              std::vector<int>{0});
    EXPECT_EQ(pair_on_diagonal(one, sparky("p", {"?-? 120.21 8.20", "?-? 120.40 8.50"}), 0.05, 2.0).partner,
              std::vector<int>{0});

    // Para minus dia in each dimension; the unpaired are there, as -999.
    const Imported im = import_pcs_lists({{dia, para}}, PcsOptions{}, {});
    EXPECT_EQ(im.profiles, "1 0.31 0 120 8\n2 -0.48 0 110 7\n3 -999 0 125 9\n4 -999 0 115 7.5\n"
                           "5 -0.1 0 105 8.5\n6 0.3 0 100 6\n7 -1.29 0 102.5 8.5\n"
                           "1 0.3 0 120 8\n2 -0.5 0 110 7\n3 -999 0 125 9\n4 -999 0 115 7.5\n"
                           "5 0.9 0 105 8.5\n6 0.3 0 100 6\n7 -1.3 0 102.5 8.5\n");
    ASSERT_EQ(im.notes.size(), 1u);
    EXPECT_EQ(im.notes[0], "metal 1 (dia, para): 7 diamagnetic peaks: 1 paired by label, 4 by position (within "
                           "0.05 ppm of the diagonal, shifts up to 2 ppm), 1 ambiguous (9/125 ppm), 1 with no "
                           "partner (7.5/115 ppm)");
    EXPECT_EQ(im.warnings, std::vector<std::string>{"para: 3 paramagnetic peaks pair with no diamagnetic one "
                                                    "(9.21/125.2 ppm, 8.62/124.6 ppm, 10/117.5 ppm): left out"});
}

TEST(PcsImport, LaterMetalsPairToTheFirstDiamagneticList) {
    // Metal 2's diamagnetic list in another order, a hair off, and with a
    // peak metal 1 lacks: that peak comes last, with an id of its own.
    const PeakList dia1 = sparky("dia1", {"?-? 120.00 8.00", "?-? 110.00 7.00"});
    const PeakList para1 = sparky("para1", {"?-? 120.10 8.10"});
    const PeakList dia2 = sparky("dia2", {"?-? 110.02 7.01", "?-? 130.00 9.50", "?-? 120.00 8.00"});
    const PeakList para2 = sparky("para2", {"?-? 109.80 6.81", "?-? 130.50 10.00", "?-? 119.90 7.90"});
    const Imported im = import_pcs_lists({{dia1, para1}, {dia2, para2}}, PcsOptions{}, {});
    EXPECT_EQ(im.profiles, "1 0.1 0 120 8\n2 -999 0 110 7\n3 -999 0 130 9.5\n"
                           "1 0.1 0 120 8\n2 -999 0 110 7\n3 -999 0 130 9.5\n"
                           "1 -0.1 0 120 8\n2 -0.2 0 110 7\n3 0.5 0 130 9.5\n"
                           "1 -0.1 0 120 8\n2 -0.22 0 110 7\n3 0.5 0 130 9.5\n");
    EXPECT_EQ(im.warnings, std::vector<std::string>{"dia2: 1 diamagnetic peaks match none of an earlier metal's "
                                                    "(9.5/130 ppm): given ids of their own, after those"});
}

const char* kMap = "peak_id\tlabel\theavy_ppm\tproton_ppm\n"
                   "1\tL23CD1-HD1\t24.812\t0.734\n2\t?-?\t21.903\t0.861\n3\tV41CG2-HG2\t22.48\t0.912\n";

TEST(PcsImport, IdsFromAnEarlierMapLineTheFilesUp) {
    const IdSource ids{"pre.map", read_peak_map(kMap, "pre.map")};
    // By label: the map's order first, all of it; a label it lacks after.
    const Imported t = import_pcs_tables({read_pcs_table("V41CG2-HG2 H 0.1\nX99 H 0.2\nL23CD1-HD1 C 0.3\n", "t")}, ids);
    EXPECT_EQ(t.profiles, "1 -999 0 24.812 0.734\n2 -999 0 21.903 0.861\n3 0.1 0 22.48 0.912\n4 0.2 0 23 0\n"
                          "1 0.3 0 24.812 0.734\n2 -999 0 21.903 0.861\n3 -999 0 22.48 0.912\n4 -999 0 23 0\n");
    EXPECT_EQ(t.map, std::string(kMap) + "4\tX99\t\t\n");
    EXPECT_EQ(t.warnings, std::vector<std::string>{"1 peaks are not in pre.map (X99): given ids after its 3, from 4 on"});
    EXPECT_EQ(t.notes[1], "1 of pre.map's 3 peaks have no PCS: written as -999 in every profile");
    // Unlabelled lists: by position within --tolerance of the map's shifts.
    const PeakList dia = sparky("dia", {"?-? 21.90 0.862", "?-? 24.80 0.735", "?-? 30.00 1.500"});
    const PeakList para = sparky("para", {"?-? 22.00 0.962", "?-? 24.60 0.535", "?-? 30.05 1.550"});
    const Imported l = import_pcs_lists({{dia, para}}, PcsOptions{}, ids);
    EXPECT_EQ(l.profiles, "1 -0.2 0 24.812 0.734\n2 0.1 0 21.903 0.861\n3 -999 0 22.48 0.912\n4 0.05 0 30 1.5\n"
                          "1 -0.2 0 24.812 0.734\n2 0.1 0 21.903 0.861\n3 -999 0 22.48 0.912\n4 0.05 0 30 1.5\n");
    EXPECT_EQ(l.map, std::string(kMap) + "4\t?-?\t30\t1.5\n");
    EXPECT_EQ(l.warnings,
              std::vector<std::string>{"1 peaks are not in pre.map (1.5/30 ppm): given ids after its 3, from 4 on"});
    // A map must be one.
    EXPECT_EQ(failure([] { read_peak_map("peak_id\tlabel\n1\tA\n", "m"); }), "m:1: no column 'heavy_ppm': not a peak map");
    EXPECT_EQ(failure([] { read_peak_map("peak_id\tlabel\theavy_ppm\tproton_ppm\n2\tA\t\t\n2\tB\t\t\n", "m"); }),
              "m:3: peak_id 2 after 2: ids must increase");
    EXPECT_EQ(failure([] { read_peak_map("peak_id\tlabel\theavy_ppm\tproton_ppm\n1000000\tA\t\t\n", "m"); }),
              "m:2: peak_id '1000000' is not a whole number from 1 to 999999");
    EXPECT_EQ(failure([] { read_peak_map("peak_id\tlabel\theavy_ppm\tproton_ppm\tlabel\n1\tA\t1\t2\n", "m"); }),
              "m:1: column 'label' named twice");
}

TEST(PcsImport, CommandRefusesMixingAndWritesBothFiles) {
    const std::string dir = temp_case("", "");
    std::ofstream(dir + "/er.npc") << "2 H -0.05 0.16\n2 N -0.03 0.09\n";
    std::ofstream(dir + "/tb.npc") << "5 0.4\n";
    std::ofstream(dir + "/l.list") << "Assignment w1 w2 Data Height\n L23CD1-HD1 24.812 0.734 1000\n";
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--pcs", "er.npc", "--site", "l.list", "l.list", "--delay", "0.01"},
         "preassign: PCS and PREs go to separate files: give --pcs or --pcs-lists in one run and --site or "
         "--ratios in another (--ids MAP lines the second up with the first's peaks) (see --help)\n"},
        {{"--pcs-lists", "l.list", "l.list", "--ratios", "er.npc"},
         "preassign: PCS and PREs go to separate files: give --pcs or --pcs-lists in one run and --site or "
         "--ratios in another (--ids MAP lines the second up with the first's peaks) (see --help)\n"},
        {{"--pcs-lists", "l.list", "l.list", "--pcs-tolerance", "0.05ppm"},
         "preassign: --pcs-tolerance: '0.05ppm' is not a number: give ppm, without a unit (see --help)\n"},
        {{"--pcs", "er.npc", "--delay", "0.01"}, "preassign: --delay is for PREs, not PCS (see --help)\n"},
        {{"--pcs", "er.npc", "--pcs-max", "3"},
         "preassign: --pcs-tolerance and --pcs-max pair --pcs-lists; a PCS table needs neither (see --help)\n"},
        {{"--site", "l.list", "l.list", "--delay", "0.01", "--ids", "er.npc"},
         "preassign: --ids goes with --pcs or --pcs-lists (see --help)\n"},
    };
    for (const auto& [extra, message] : refused) {
        std::vector<std::string> args = {"import"};
        args.insert(args.end(), extra.begin(), extra.end());
        const Proc p = run_binary(args, "", dir);
        EXPECT_EQ(p.status, 2) << message;
        EXPECT_EQ(p.err, message);
    }
    const Proc p = run_binary({"import", "--pcs", "er.npc", "--pcs", "tb.npc", "-o", "pcs.txt"}, "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(read_file(dir + "/pcs.txt"), "1 -0.05 0.16 23 0\n2 -999 0 23 0\n1 -0.03 0.09 23 0\n2 -999 0 23 0\n"
                                           "1 -999 0 23 0\n2 0.4 0 23 0\n1 -999 0 23 0\n2 -999 0 23 0\n");
    EXPECT_EQ(read_file(dir + "/pcs.txt.map"), "peak_id\tlabel\theavy_ppm\tproton_ppm\n1\t2\t\t\n2\t5\t\t\n");
    EXPECT_EQ(p.err.substr(0, p.err.find('\n')),
              "preassign: import: metal 1 (er.npc): 1 labels, 1 with a 1H PCS, 1 with a heavy-atom PCS");
}

}  // namespace
