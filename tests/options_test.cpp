// Options: left out they change nothing; each one does what it says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include <cairo.h>

#include "report/heatmap.h"
#include "report/optimum.h"
#include "report/table.h"
#include "support.h"

namespace {

const std::string kCase = testdata("golden/missing_values");

Proc run_in_case(std::vector<std::string> args) { return run_binary(args, "", kCase); }

TEST(Options, HelpVersionAndMisuse) {
    Proc help = run_in_case({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: preassign [OPTIONS] SIM OBS"), std::string::npos);
    EXPECT_NE(help.out.find("--heatmap FILE"), std::string::npos);
    for (const char* sub : {"\n  preassign predict STRUCTURE", "\n  preassign import (--site", "\n  preassign label MAP TABLE"})
        EXPECT_NE(help.out.find(sub), std::string::npos) << sub;
    EXPECT_EQ(help.err, "");
    Proc version = run_in_case({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "preassign 0.2.0\n");

    struct Bad {
        std::vector<std::string> args;
        std::string err;
    } bad[] = {
        {{"--seed", "abc", "sim.txt", "obs.txt"}, "preassign: Could not convert: --seed = abc (see --help)\n"},
        {{"--seed", "-1", "sim.txt", "obs.txt"}, "preassign: Could not convert: --seed = -1 (see --help)\n"},
        {{"--seed", "4294967296", "sim.txt", "obs.txt"},
         "preassign: Could not convert: --seed = 4294967296 (see --help)\n"},
        {{"--bogus", "sim.txt", "obs.txt"}, "preassign: The following argument was not expected: --bogus (see --help)\n"},
        {{"sim.txt", "obs.txt", "--table"}, "preassign: --table: 1 required FILE missing (see --help)\n"},
    };
    for (const Bad& b : bad) {
        Proc p = run_in_case(b.args);
        EXPECT_EQ(p.status, 2) << b.args[0];
        EXPECT_EQ(p.err, b.err);
        EXPECT_EQ(p.out, "");
    }
}

TEST(Options, DefaultSeedAndExtraArgumentsChangeNothing) {
    Proc p = run_in_case({"--seed", "10000", "sim.txt", "obs.txt", "ignored", "also ignored"});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.out, read_file(kCase + "/expected.stdout"));
    EXPECT_EQ(p.err, read_file(kCase + "/expected.stderr"));
    Proc other = run_in_case({"--seed", "1", "sim.txt", "obs.txt"});
    EXPECT_EQ(other.out.substr(0, other.out.find('\n', 10)), "COMPLETE\nfirst RANDOM number:  0.840188");
}

TEST(Options, QuietLeavesOutEchoesAndDetailOnly) {
    Proc p = run_in_case({"-q", "sim.txt", "obs.txt"});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.out, read_file(kCase + "/expected.stdout"));
    EXPECT_EQ(p.err,
              "Initializing\nInitialized\nReading simulated profiles: ..\nNUMPROFILES simulated: 2\n"
              "Read experimental profile: \n..\nNUMPROFILES observed: 2\n"
              "NUMPROFILES simulated, replacing large predicted PREs: 2\n"
              "FINAL results:  Most probable assigment for each peak id\n");
}

TEST(Options, OptimalTableAndHeatmapFiles) {
    const std::string table = temp_file(""), png = temp_file("");
    Proc p = run_in_case({"--optimal", "--table", table, "--heatmap", png, "sim.txt", "obs.txt"});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.err, read_file(kCase + "/expected.stderr"));
    // The walk found the exact optimum, of energy 0.
    EXPECT_EQ(p.out, read_file(kCase + "/expected.stdout") +
                         "optimal energy: 0  most probable assignment energy: 0 (a permutation)\n"
                         "peaks where the two differ: 0\n");
    EXPECT_EQ(read_file(table),
              "peak_index\tpeak_id\tresidue_index\tresidue_number\tfrequency\trunner_up_residue_number\t"
              "runner_up_frequency\tentropy\ttype_check\toptimal_residue_number\n"
              "0\t1\t2\t30\t1\t\t\t0\t\t30\n"
              "1\t2\t0\t10\t1\t\t\t0\t\t10\n"
              "2\t3\t1\t20\t1\t\t\t0\t\t20\n");

    cairo_surface_t* img = cairo_image_surface_create_from_png(png.c_str());
    ASSERT_EQ(cairo_surface_status(img), CAIRO_STATUS_SUCCESS);
    const HeatmapLayout l = heatmap_layout(3, 3);
    EXPECT_EQ(l.cell, 20);
    EXPECT_EQ(cairo_image_surface_get_width(img), l.width);
    EXPECT_EQ(cairo_image_surface_get_height(img), l.height);
    const unsigned char* data = cairo_image_surface_get_data(img);
    const int stride = cairo_image_surface_get_stride(img);
    auto pixel = [&](int row, int col) {
        const int x = l.left + col * l.cell + l.cell / 2, y = l.top + row * l.cell + l.cell / 2;
        return *reinterpret_cast<const uint32_t*>(data + size_t(y) * stride + size_t(x) * 4) & 0xffffff;
    };
    // Rows by assigned residue: peak 1 (residue 0), peak 2 (residue 1), peak 0 (residue 2).
    for (int i = 0; i < 3; ++i)
        for (int r = 0; r < 3; ++r) EXPECT_EQ(pixel(i, r), i == r ? 0xfde725u : 0x440154u) << i << "," << r;
    cairo_surface_destroy(img);
}

TEST(Options, PosteriorLineColumnsAndMatrix) {
    const std::string table = temp_file(""), png = temp_file(""), fix = temp_file("2 10\n");
    Proc p = run_in_case({"--posterior", "--model-error", "0.2", "--fix", fix, "--table", table, "--heatmap", png,
                          "sim.txt", "obs.txt"});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.err, read_file(kCase + "/expected.stderr"));
    const std::string line = p.out.substr(read_file(kCase + "/expected.stdout").size());
    EXPECT_EQ(line.substr(0, line.find("  uninformative")), "posterior: f = 0.2 (given)");
    EXPECT_NE(line.find("peaks at p >= 0.9: 3  p >= 0.5: 3  of 3"), std::string::npos) << line;
    const std::string t = read_file(table);
    EXPECT_EQ(t.substr(t.find("\ttype_check\t"), t.find('\n') - t.find("\ttype_check\t")),
              "\ttype_check\tposterior_residue_index\tposterior_residue_number\tposterior_probability\t"
              "posterior_runner_up_residue_number\tposterior_runner_up_probability\t"
              "posterior_optimum_residue_number\tposterior_unassigned_probability\tfixed");
    // Peak 2 is fixed to residue 10; peak 1 is most probably residue 30
    // (the rest: that it is no residue's, which three peaks cannot rule out).
    EXPECT_NE(t.find("\n1\t2\t0\t10\t1\t\t\t0\t\t0\t10\t1\t\t\t10\t0\tfixed\n"), std::string::npos) << t;
    const std::string row = "\n0\t1\t2\t30\t1\t\t\t0\t\t2\t30\t";
    ASSERT_NE(t.find(row), std::string::npos) << t;
    EXPECT_GT(std::stod(t.substr(t.find(row) + row.size())), 0.85) << t;
    cairo_surface_t* img = cairo_image_surface_create_from_png(png.c_str());
    ASSERT_EQ(cairo_surface_status(img), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(img), heatmap_layout(3, 3).width);
    cairo_surface_destroy(img);
}

TEST(Options, FixFileAndPosteriorMisuse) {
    struct Bad {
        std::vector<std::string> args;
        std::string fix, err;
        int status;
    } bad[] = {
        {{"--optimal"}, "7 10\n", "preassign: FIX:1: no peak id 7\n", 1},
        {{"--posterior"}, "1 10\n2 99\n", "preassign: FIX:2: no residue number 99\n", 1},
        {{"--optimal"}, "1 10\n1 20\n", "preassign: FIX:2: peak id 1 is named twice\n", 1},
        {{"--optimal"}, "1 10\n2 10\n", "preassign: FIX:2: residue number 10 is named twice\n", 1},
        {{"--optimal"}, "1 x\n", "preassign: FIX:1: expected an integer (residue number), found 'x'\n", 1},
        {{}, "1 10\n", "preassign: --fix is used by --optimal and --posterior: give one of them (see --help)\n", 2},
        {{"--model-error", "0.1"}, "", "preassign: --model-error requires --posterior (see --help)\n", 2},
        {{"--posterior", "--model-error", "-1"}, "",
         "preassign: --model-error must lie between 0 and 10 (a share of the PRE) (see --help)\n", 2},
        {{"--posterior", "--model-error", "nan"}, "",
         "preassign: --model-error must lie between 0 and 10 (a share of the PRE) (see --help)\n", 2},
    };
    for (const Bad& b : bad) {
        std::vector<std::string> args = b.args;
        const std::string fix = temp_file(b.fix);
        if (!b.fix.empty()) args.insert(args.end(), {"--fix", fix});
        args.insert(args.end(), {"sim.txt", "obs.txt"});
        Proc p = run_in_case(args);
        std::string want = b.err;
        if (want.find("FIX") != std::string::npos) want.replace(want.find("FIX"), 3, fix);
        EXPECT_EQ(p.err, want);
        EXPECT_EQ(p.status, b.status) << b.err;
        EXPECT_EQ(p.out, "") << b.err;
    }
    // Comments and blank lines; the optimum says how many pairs it held.
    const std::string commented = temp_file("# from the mutants\n\n2 10  # T17C\n");
    Proc held = run_in_case({"--optimal", "--fix", commented, "sim.txt", "obs.txt"});
    EXPECT_EQ(held.status, 0);
    EXPECT_NE(held.out.find("(a permutation)  known pairs held: 1\n"), std::string::npos) << held.out;
    const std::string none = temp_file("# nothing yet\n");
    held = run_in_case({"--optimal", "--fix", none, "sim.txt", "obs.txt"});
    EXPECT_EQ(held.err.substr(0, held.err.find("Initializing")),
              "preassign: warning: " + none + " holds no pairs\n");
    EXPECT_NE(held.out.find("known pairs held: 0\n"), std::string::npos);
    // An id that the file gives to two peaks cannot say which is meant.
    const std::string dir = temp_case("10 1 0\n20 2 0\n", "1 1 0 23 0\n1 2 0 23 0\n");
    const std::string fix = temp_file("1 10\n");
    Proc p = run_binary({"--optimal", "--fix", fix, "sim.txt", "obs.txt"}, "", dir);
    EXPECT_EQ(p.err, "preassign: " + fix + ":1: peak id 1 names more than one entry\n");
    EXPECT_EQ(p.status, 1);
}

TEST(Options, FixNamesOneOfAResiduesMethyls) {
    // Residue 10's two methyls, one entry each (predict --methyl each), and a Val 20.
    const std::string dir = temp_case("10 5 1\n10 50 1\n20 20 2\n10 6 1\n10 40 1\n20 22 2\n",
                                      "1 48 1 23 0\n2 5 1 23 0\n3 21 1 23 0\n1 41 1 23 0\n2 6 1 23 0\n3 22 1 23 0\n");
    // The posterior's residue index of peak 1 in the table: the entry held.
    auto held_entry = [&](const std::string& fix) {
        std::ofstream(dir + "/fix.txt") << fix;
        std::remove((dir + "/t.tsv").c_str());
        const Proc p = run_binary({"-q", "--posterior", "--fix", "fix.txt", "--table", "t.tsv", "sim.txt", "obs.txt"},
                                  "", dir);
        EXPECT_EQ(p.status, 0) << fix << p.err;
        std::istringstream t(read_file(dir + "/t.tsv"));
        std::string head, row, cell;
        std::getline(t, head);
        std::getline(t, row);
        std::istringstream h(head), r(row);
        while (std::getline(h, cell, '\t')) {
            std::string value;
            std::getline(r, value, '\t');
            if (cell == "posterior_residue_index") return value;
        }
        return std::string("no column");
    };
    EXPECT_EQ(held_entry("1 10/1\n"), "0");
    EXPECT_EQ(held_entry("1 10/2\n"), "1");
    EXPECT_EQ(held_entry("1 20/1  # a residue with one entry\n"), "2");
    EXPECT_EQ(held_entry("1 20\n"), "2");
    struct Bad {
        std::string fix, err;
    } bad[] = {
        {"1 10\n", "fix.txt:1: residue number 10 names more than one entry (a residue's methyls, one entry each): "
                   "give 10/1 for the first, 10/2 for the second"},
        {"1 10/3\n", "fix.txt:1: residue number 10 has 2 entries, not 3"},
        {"1 20/2\n", "fix.txt:1: residue number 20 has 1 entry, not 2"},
        {"1 30/1\n", "fix.txt:1: no residue number 30"},
        {"1 10/1\n2 10/1\n", "fix.txt:2: residue number 10/1 is named twice"},
        {"1 10/1\n2 10\n", "fix.txt:2: residue number 10 names more than one entry (a residue's methyls, one entry "
                           "each): give 10/1 for the first, 10/2 for the second"},
        {"1/1 10/1\n", "fix.txt:1: expected an integer (peak id), found '1/1'"},
    };
    for (const char* k : {"10/0", "10/", "10/-1", "10/+1", "10/a", "/1", "10/1/1", "10.5/1"}) {
        std::ofstream(dir + "/fix.txt") << "1 " << k << "\n";
        const Proc p = run_binary({"--optimal", "--fix", "fix.txt", "sim.txt", "obs.txt"}, "", dir);
        EXPECT_EQ(p.err, std::string("preassign: fix.txt:1: expected an integer (residue number) or NUMBER/K (its K-th "
                                     "entry, K from 1), found '") + k + "'\n");
    }
    for (const Bad& b : bad) {
        std::ofstream(dir + "/fix.txt") << b.fix;
        const Proc p = run_binary({"--optimal", "--fix", "fix.txt", "sim.txt", "obs.txt"}, "", dir);
        EXPECT_EQ(p.status, 1) << b.fix;
        EXPECT_EQ(p.err, "preassign: " + b.err + "\n");
    }
}

TEST(Options, OutputFileThatCannotBeWritten) {
    // A path that cannot be opened fails before anything else is written.
    for (const char* opt : {"--table", "--heatmap"}) {
        Proc p = run_in_case({opt, "/nonexistent/t", "sim.txt", "obs.txt"});
        EXPECT_EQ(p.status, 1) << opt;
        EXPECT_EQ(p.err, "preassign: /nonexistent/t: No such file or directory\n") << opt;
        EXPECT_EQ(p.out, "") << opt;
    }
    // One that opens but cannot take the bytes fails when they are written,
    // with the system's reason, after the usual output.
    for (const char* opt : {"--table", "--heatmap"}) {
        Proc p = run_in_case({opt, "/dev/full", "sim.txt", "obs.txt"});
        EXPECT_EQ(p.status, 1) << opt;
        EXPECT_EQ(p.err, read_file(kCase + "/expected.stderr") + "preassign: /dev/full: No space left on device\n")
            << opt;
        EXPECT_EQ(p.out, read_file(kCase + "/expected.stdout")) << opt;
    }
}

TEST(Options, ColumnsStayWhereValuesCannotBeWorkedOut) {
    // Costs that overflow: the optimum cannot be worked out, and its cells
    // are empty, its column there.
    const std::string dir = temp_case("1 10 1\n2 20 2\n", "1 -1e300 1 23 1\n2 10 1 23 1\n");
    const std::string table = temp_file("");
    Proc p = run_binary({"-q", "--optimal", "--posterior", "--table", table, "sim.txt", "obs.txt"}, "", dir);
    EXPECT_EQ(p.status, 0);
    const std::string t = read_file(table);
    const std::string header = t.substr(0, t.find('\n'));
    EXPECT_EQ(std::count(header.begin(), header.end(), '\t'), 16) << header;
    const std::string row = t.substr(t.find('\n') + 1, t.find('\n', t.find('\n') + 1) - t.find('\n') - 1);
    EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), 16) << row;
    EXPECT_NE(row.find("\tok\t\t"), std::string::npos) << row;
}

TEST(Options, ViridisEndsAndRowOrder) {
    EXPECT_EQ(viridis(0), 0x440154u);
    EXPECT_EQ(viridis(1), 0xfde725u);
    EXPECT_EQ(viridis(0.5), 0x23908cu);  // halfway between stops 4 and 5, rounded
    EXPECT_EQ(heatmap_rows({2, 0, 1, 0}), (std::vector<int>{1, 3, 2, 0}));
    EXPECT_EQ(heatmap_row_labels({1, 3, 2, 0}, {"101", "102", "103", "104"}),
              (std::vector<std::string>{"102", "104", "103", "101"}));
    EXPECT_EQ(heatmap_layout(800, 800).cell, 1);
    EXPECT_GE(heatmap_layout(100, 100).cell, 6);
}

TEST(Options, OptimumOfASharedAssignment) {
    auto sim = make_table(), obs = make_table();
    (*obs)[0].pre[0] = 1;
    (*obs)[0].pre[1] = 2;
    (*sim)[0].pre[0] = 2;
    (*sim)[0].pre[1] = 1.5;
    CAnnealingSampler s;
    s.assign = {1, 1};
    Out out;
    std::vector<int> opt = write_optimum(s, *sim, *obs, Shape{1, 2}, out);
    out.flush();
    // Identity costs 1 + 0.25, the swap 0.25 + 0: the optimum is the swap.
    EXPECT_EQ(opt, (std::vector<int>{1, 0}));
    EXPECT_EQ(out.text,
              "optimal energy: 0.25  most probable assignment energy: 0.5 (not a permutation: 1 residues held by "
              "more than one peak)\npeaks where the two differ: 1\n");
}

}  // namespace

namespace {

TEST(Options, AProfileFarOffByAFactorIsNamed) {
    // Two profiles over 20 residues; the second's predictions are a third of
    // what it measures (a label's tau_c, say), the first's right.
    std::string sim, obs;
    for (int m = 0; m < 2; ++m) {
        for (int r = 0; r < 20; ++r) {
            const double pre = 0.5 * std::pow(1.45, r) * (1.0 + 0.1 * std::sin(3.0 * r + m));
            sim += std::to_string(r + 1) + " " + std::to_string(m == 1 ? pre / 3.0 : pre) + " 0\n";
            obs += std::to_string(r + 1) + " " + std::to_string(pre) + " " + std::to_string(0.05 * pre + 0.1) +
                   " 23 0\n";
        }
        sim += "\n";
        obs += "\n";
    }
    const std::string dir = temp_case(sim, obs);
    const Proc p = run_binary({"-q", "--posterior", "sim.txt", "obs.txt"}, "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_NE(p.err.find("the predictions of profile 2 are off by a factor of 2."), std::string::npos) << p.err;
    EXPECT_EQ(p.err.find("the predictions of profile 1 "), std::string::npos) << p.err;
}

TEST(Options, OneProfileGivesProbabilitiesAndPaddingRowsCarryIdZero) {
    // Residues outnumber peaks: rows 2 and 3 pad the search. The reader keeps
    // a copy of the last record (peak 2) just past it, which a padding row
    // must not show as its id. One profile: nothing can be held out, so the
    // share of unrelated values is the gross errors' at the best matching
    // (none here), not 1; f, which one profile's matching fits away, is
    // held at a typical prediction's error: said, and no chi2 warning.
    const std::string dir = temp_case("1 5 1\n2 50 1\n3 500 1\n4 20 1\n", "1 48 5 23 0\n2 6 1 23 0\n");
    const std::string table = dir + "/t.tsv";
    const Proc p = run_binary({"-q", "--posterior", "--table", table, "sim.txt", "obs.txt"}, "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    std::istringstream rows(read_file(table));
    std::string line;
    std::vector<std::string> ids;
    while (std::getline(rows, line)) ids.push_back(line.substr(0, line.find('\t', line.find('\t') + 1)));
    EXPECT_EQ(ids, (std::vector<std::string>{"peak_index\tpeak_id", "0\t1", "1\t2", "2\t0", "3\t0"}));
    EXPECT_NE(p.out.find("uninformative share = 0  "), std::string::npos) << p.out;
    EXPECT_NE(p.out.find("f = 0.25"), std::string::npos) << p.out;
    EXPECT_NE(p.out.find(" (held)"), std::string::npos) << p.out;
    EXPECT_NE(p.err.find("with one profile nothing can be held out"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("f is held at no less than 0.25, a typical prediction's error"), std::string::npos) << p.err;
    EXPECT_EQ(p.err.find("is at the low end of its range"), std::string::npos) << p.err;
    EXPECT_EQ(p.err.find("the residuals are smaller"), std::string::npos) << p.err;
    EXPECT_EQ(p.err.find("foretell no better than chance"), std::string::npos) << p.err;
    EXPECT_NE(p.out.find("p >= 0.5: 1  of 2"), std::string::npos) << p.out;
    // Peaks outnumber residues: the padding residue (index 1) is numbered 0.
    const std::string more = temp_case("7 5 1\n", "1 5 1 23 0\n2 50 1 23 0\n");
    const Proc q = run_binary({"-q", "--table", more + "/t.tsv", "sim.txt", "obs.txt"}, "", more);
    ASSERT_EQ(q.status, 0) << q.err;
    std::istringstream padded(read_file(more + "/t.tsv"));
    std::getline(padded, line);
    int rows_seen = 0;
    while (std::getline(padded, line)) {
        std::istringstream cells(line);
        std::string index, id, residue_index, residue_number;
        std::getline(cells, index, '\t');
        std::getline(cells, id, '\t');
        std::getline(cells, residue_index, '\t');
        std::getline(cells, residue_number, '\t');
        EXPECT_EQ(residue_number, residue_index == "0" ? "7" : "0") << line;
        ++rows_seen;
    }
    EXPECT_EQ(rows_seen, 2);
}

}  // namespace
