// The structure reader and the geometry predict takes from it, on small
// files the tests write: coordinates that are not numbers, ensembles cut
// short, residues the simulated file cannot tell apart, frames that do not
// exist, and waters in a label's way.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

#include "io/failure.h"
#include "fit/fit.h"
#include "structure/predict.h"
#include "pdb_text.h"
#include "support.h"

namespace {


// K (4 tau_c + 3 tau_c / (1 + w^2 tau_c^2)) at the defaults, 4 ns and 600 MHz.
double factor() {
    const double w = 2 * M_PI * 600e6, t = 4e-9;
    return 1.23e16 * (4 * t + 3 * t / (1 + w * w * t * t));
}

std::string failure_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const Failure& e) {
        return e.message;
    }
    return "no failure";
}

PredictOptions at_sites(std::initializer_list<const char*> sites) {
    PredictOptions o;
    for (const char* s : sites) o.sites.push_back(parse_site(s, "--site"));
    return o;
}

TEST(StructureReader, ACoordinateThatIsNotAFiniteNumberStopsTheRunAtItsLine) {
    // gemmi takes "abc" as 0, "12.3ab" as 12.3 and "nan" as NaN.
    for (const char* bad : {"abc", "12.3ab", "nan", "inf", "-inf", "1 2.0", "", "1.0e", "--1.0", "0x10"}) {
        Pdb p;
        p.line("REMARK   1 WRITTEN BY THE TEST");
        p.site(5, {0, 0, 0});
        p.text.erase(p.text.rfind("ATOM"));  // CB again, on line 5, with the bad y
        p.atom_text("CB", "ALA", 5, coord(0), bad, coord(0));
        p.leu(9, {0, -9, 0}, {1, -9, 0});
        const std::string path = temp_file(p.text);
        EXPECT_EQ(failure_of([&] { read_structure(path); }),
                  path + ":5: atom CB of residue A:5 has a coordinate that is not a number ('" + bad + "')")
            << bad;
    }
    // The residue named with its insertion code; a number the format allows is taken.
    Pdb p;
    p.site(5, {0, 0, 0});
    p.atom_text("CA", "LEU", 52, "  +1.500", "-1.5e+00", "    -.25", "C", 'B', 'A');
    p.atom_text("CD1", "LEU", 52, "2.0", "?", "0.0", "C", 'B', 'A');
    std::string path = temp_file(p.text);
    EXPECT_EQ(failure_of([&] { read_structure(path); }),
              path + ":6: atom CD1 of residue B:52A has a coordinate that is not a number ('?')");
    p.text.erase(p.text.rfind("ATOM"));
    // A CRLF line that ends inside the last field, as gemmi reads it.
    p.text = p.text.substr(0, p.text.rfind("-.25") - 1) + "-.25\r\n";
    const Structure st = read_structure(temp_file(p.text));
    const Atom* ca = st.models[0].residues[1].find("CA");
    ASSERT_NE(ca, nullptr);
    EXPECT_EQ(ca->x, 1.5);
    EXPECT_EQ(ca->y, -1.5);
    EXPECT_EQ(ca->z, -0.25);
    // mmCIF: gemmi gives NaN for what is not a number; the row is found by its id.
    const std::string cif_head =
        "data_test\nloop_\n_atom_site.group_PDB\n_atom_site.id\n_atom_site.type_symbol\n_atom_site.label_atom_id\n"
        "_atom_site.label_comp_id\n_atom_site.label_asym_id\n_atom_site.label_seq_id\n_atom_site.Cartn_x\n"
        "_atom_site.Cartn_y\n_atom_site.Cartn_z\n_atom_site.auth_seq_id\n_atom_site.auth_asym_id\n"
        "_atom_site.pdbx_PDB_model_num\n_atom_site.label_alt_id\n_atom_site.occupancy\n_atom_site.B_iso_or_equiv\n";
    for (const char* bad : {"?", ".", "nan", "inf", "1.5x"}) {
        const std::string cif = cif_head + "ATOM 1 C CA ALA A 1 0.0 0.0 0.0 5 A 1 . 1 0\n" +
                                "ATOM 2 C CB ALA A 1 0.0 " + bad + " 0.0 5 A 1 . 1 0\n";
        path = temp_file(cif);
        EXPECT_EQ(failure_of([&] { read_structure(path); }),
                  path + ":20: atom CB of residue A:5 has a coordinate that is not a number")
            << bad;
    }
    // The command stops with that message, once.
    Pdb q;
    q.site(5, {0, 0, 0});
    q.atom_text("CA", "LEU", 9, "nan", "0.0", "0.0");
    path = temp_file(q.text);
    const Proc run = run_binary({"predict", path, "--site", "A:5"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "preassign: " + path + ":5: atom CA of residue A:9 has a coordinate that is not a number ('nan')\n");
}

TEST(StructureReader, EmptyFilesDirectoriesAndGzip) {
    const std::string empty = temp_file("");
    EXPECT_EQ(failure_of([&] { read_structure(empty); }), empty + ": empty file");
    const std::string dir = temp_case("", "");
    EXPECT_EQ(failure_of([&] { read_structure(dir); }), dir + ": Is a directory");
    EXPECT_EQ(failure_of([&] { read_structure(dir + "/none.pdb"); }), dir + "/none.pdb: No such file or directory");
    const Proc run = run_binary({"predict", empty, "--site", "A:5"});
    EXPECT_EQ(run.err, "preassign: " + empty + ": empty file\n");
    // Gzipped, told by content whatever the name.
    Pdb p;
    p.site(5, {0, 0, 0});
    const std::string gz = dir + "/s.pdb";
    gzFile f = gzopen(gz.c_str(), "wb");
    gzwrite(f, p.text.data(), unsigned(p.text.size()));
    gzclose(f);
    const Structure st = read_structure(gz);
    ASSERT_EQ(st.models.size(), 1u);
    ASSERT_EQ(st.models[0].residues.size(), 1u);
    EXPECT_EQ(st.models[0].residues[0].find("CB")->y, -1.5);
    // Cut short at a line's end, where the text alone would not tell.
    const std::string whole = read_file(gz);
    std::FILE* cut = std::fopen((dir + "/cut.gz").c_str(), "wb");
    std::fwrite(whole.data(), 1, whole.size() - 12, cut);
    std::fclose(cut);
    EXPECT_EQ(failure_of([&] { read_structure(dir + "/cut.gz"); }), dir + "/cut.gz: the compressed file is cut short");
    gzFile e = gzopen((dir + "/e.gz").c_str(), "wb");
    gzclose(e);
    EXPECT_EQ(failure_of([&] { read_structure(dir + "/e.gz"); }), dir + "/e.gz: empty file");
}

TEST(StructureReader, OnlyTheRecordsUsedAreRead) {
    // Records not used may hold anything (an author's name in UTF-8, a
    // byte-order mark before them); what follows END is not read.
    Pdb p;
    p.line("\xEF\xBB\xBFHEADER    MADE BY J\xC3\xBCRGEN");
    p.line("\xC3\xBC\xC3\xBC\xC3\xBC");
    p.line("HELIX    1   1 ALA A    5  LEU A99999999999999");
    p.site(5, {0, 0, 0});
    p.line("END");
    p.line("ATOM      9 CA   LEU A   9     abc");
    std::string path = temp_file(p.text);
    Structure st = read_structure(path);
    ASSERT_EQ(st.models[0].residues.size(), 1u);
    EXPECT_EQ(st.models[0].residues[0].atoms.size(), 4u);
    // In an atom record a byte above 0x7f is refused, with its line and column.
    Pdb q;
    q.site(5, {0, 0, 0});
    q.text += "ATOM      5 CA   LEU A   9       1.000   2.000   3.000  1.00  0.00           \xC3\xBC\n";
    path = temp_file(q.text);
    EXPECT_EQ(failure_of([&] { read_structure(path); }),
              path + ":5: the ATOM record holds a byte that is not text (column 78)");
    path = temp_file("\xC3\xBC" "ATOM");
    EXPECT_EQ(failure_of([&] { read_structure(path); }),
              path + ": not a structure that can be read (it begins with a byte that is not text)");
    // mmJSON is not read (gemmi's reader misreads an empty category).
    path = temp_file("{\"data_x\":{\"atom_site\":{\"group_PDB\":[]}}}\n");
    EXPECT_EQ(failure_of([&] { read_structure(path); }),
              path + ": not a structure that can be read (mmJSON is not read here: give PDB or mmCIF)");
    // mmCIF: a residue number too long for an int, which gemmi would wrap.
    const std::string cif =
        "data_x\n_cell.length_a 99999999999999\nloop_\n_atom_site.group_PDB\n_atom_site.id\n_atom_site.type_symbol\n"
        "_atom_site.label_atom_id\n_atom_site.label_alt_id\n_atom_site.label_comp_id\n_atom_site.label_asym_id\n"
        "_atom_site.label_seq_id\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n"
        "_atom_site.occupancy\n_atom_site.B_iso_or_equiv\n_atom_site.auth_seq_id\n_atom_site.auth_asym_id\n"
        "ATOM 1 C CA . ALA A 1 0.0 0.0 0.0 1e300 1e300 5 A\n"
        "ATOM 2 C CA . LEU A 2 1.0 2.0 3.0 1 0 ";
    path = temp_file(cif + "4294967305 A\n");
    EXPECT_EQ(failure_of([&] { read_structure(path); }),
              path + ":20: _atom_site.auth_seq_id '4294967305' is a number too large for a structure");
    // Nine digits, an occupancy past float's range, a cell never read: all taken.
    path = temp_file(cif + "-99999999 A\n");
    st = read_structure(path);
    ASSERT_EQ(st.models[0].residues.size(), 2u);
    EXPECT_EQ(st.models[0].residues[1].number, -99999999);
    EXPECT_EQ(st.models[0].residues[1].atoms[0].z, 3.0);
}

// Models 1 and 2 whole; model 3 cut inside the Val, its Leu moved.
std::string cut_ensemble(const char* nummdl) {
    Pdb p;
    if (nummdl) p.line(std::string("NUMMDL    ") + nummdl);
    for (int m = 1; m <= 3; ++m) {
        p.line("MODEL        " + std::to_string(m));
        p.site(5, {0, 0, 0});
        const double s = m - 1.0;
        p.leu(9, {s, -9, 0}, {1 + s, -9, 0});
        p.atom("CA", "VAL", 12, {0, 9, 0});
        p.atom("CG1", "VAL", 12, {0, 12, 0});
        if (m == 3) break;
        p.atom("CG2", "VAL", 12, {1, 12, 0});
        p.line("ENDMDL");
    }
    return p.text;
}

TEST(StructureReader, AnEnsembleCutShortIsSaidAndItsPartialModelLeftOut) {
    std::string path = temp_file(cut_ensemble("4"));
    Structure st = read_structure(path);
    ASSERT_EQ(st.models.size(), 2u);
    ASSERT_EQ(st.warnings.size(), 2u);
    EXPECT_EQ(st.warnings[0], path + ": the last model (3) has 9 atoms where each before it has at least 10: the "
                                     "file looks cut inside it; that model is left out, 2 models used");
    EXPECT_EQ(st.warnings[1], path + ": NUMMDL says 4 models, the file holds 3 (the last cut short): the file may be "
                                     "cut; 2 models used");
    // The Leu from models 1 and 2 only (the label at (0, -6, 0) in each).
    const Prediction pr = predict(st, at_sites({"A:5"}), path);
    const Xyz l{0, -6, 0};
    const double leu = (r6({0, -9, 0}, l) + r6({1, -9, 0}, l) + r6({1, -9, 0}, l) + r6({2, -9, 0}, l)) / 4;
    ASSERT_EQ(pr.nuclei.size(), 2u);
    EXPECT_NEAR(pr.gamma2[0][0], factor() * leu, 1e-12 * factor() * leu);
    const Proc run = run_binary({"predict", path, "--site", "A:5"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "preassign: warning: " + st.warnings[0] + "\npreassign: warning: " + st.warnings[1] +
                           "\npreassign: predict: site A:5 (ALA): 2 nuclei (Leu/Val methyl carbons, mean of the two), "
                           "label 6 A from CA along CA-CB, 2 models averaged\n");
    // Whole models fewer than NUMMDL says: all used, and said.
    std::string whole = cut_ensemble("5");
    whole = whole.substr(0, whole.find("MODEL        3"));
    path = temp_file(whole);
    st = read_structure(path);
    EXPECT_EQ(st.models.size(), 2u);
    ASSERT_EQ(st.warnings.size(), 1u);
    EXPECT_EQ(st.warnings[0], path + ": NUMMDL says 5 models, the file holds 2: the file may be cut; 2 models used");
    // As many as it says, or no NUMMDL, and models alike: nothing to say.
    for (const char* nummdl : {"2", static_cast<const char*>(nullptr)}) {
        whole = cut_ensemble(nummdl);
        st = read_structure(temp_file(whole.substr(0, whole.find("MODEL        3"))));
        EXPECT_EQ(st.models.size(), 2u);
        EXPECT_TRUE(st.warnings.empty());
    }
}

TEST(PredictGeometry, ResiduesTheSimulatedFileCannotTellApartAreRefused) {
    // 52 and 52A: one number in the simulated file.
    Pdb p;
    p.site(5, {0, 0, 0});
    p.leu(52, {0, -9, 0}, {1, -9, 0});
    p.leu(52, {0, -12, 0}, {1, -12, 0}, 'A', 'A');
    std::string path = temp_file(p.text);
    Structure st = read_structure(path);
    EXPECT_EQ(failure_of([&] { predict(st, at_sites({"A:5"}), path); }),
              path + ": residues A:52 LEU and A:52A LEU would both be residue 52 in the simulated file, which knows a "
                     "residue by its number alone: give a structure renumbered so that each residue has a number of "
                     "its own");
    // A second chain that numbers on from where the first stopped.
    Pdb q;
    q.site(5, {0, 0, 0});
    q.leu(52, {0, -9, 0}, {1, -9, 0});
    q.leu(52, {0, -12, 0}, {1, -12, 0}, 'B');
    q.leu(60, {0, -14, 0}, {1, -14, 0}, 'B');
    path = temp_file(q.text);
    st = read_structure(path);
    PredictOptions o = at_sites({"A:5"});
    EXPECT_EQ(failure_of([&] { predict(st, o, path); }),
              path + ": residues A:52 LEU and B:52 LEU would both be residue 52 in the simulated file, which knows a "
                     "residue by its number alone: choose one chain with --chain");
    o.chain = "B";
    EXPECT_EQ(predict(st, o, path).nuclei.size(), 2u);
    // One residue's nuclei at two sites: the two profiles would read back as one.
    Pdb r;
    r.site(5, {0, 0, 0});
    r.site(7, {10, 0, 0});
    r.leu(9, {0, -9, 0}, {1, -9, 0});
    path = temp_file(r.text);
    st = read_structure(path);
    o = at_sites({"A:5", "A:7"});
    const std::string one = path + ": only A:9 LEU gives nuclei (Leu/Val methyl carbons, mean of the two): the "
                                   "simulated file starts a new profile where the residue number goes down, so its 2 "
                                   "profiles would read back as one; give one site per run, or choose more nuclei";
    EXPECT_EQ(failure_of([&] { predict(st, o, path); }), one);
    o.methyl = MethylChoice::Each;  // two entries, both numbered 9
    EXPECT_NE(failure_of([&] { predict(st, o, path); }).find("profiles would read back as one"), std::string::npos);
    const Proc run = run_binary({"predict", path, "--site", "A:5", "--site", "A:7"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "preassign: " + one + "\n");
    EXPECT_EQ(predict(st, at_sites({"A:7"}), path).gamma2.size(), 1u);
}

TEST(PredictGeometry, ASiteWithoutAFrameIsRefusedByName) {
    const auto with_n = [](Xyz n, Xyz cb, bool two_models) {
        Pdb p;
        for (int m = 1; m <= (two_models ? 2 : 1); ++m) {
            if (two_models) p.line("MODEL        " + std::to_string(m));
            p.atom("N", "ALA", 5, m == 2 || !two_models ? n : Xyz{-1, 1, 0}, "N");
            p.atom("CA", "ALA", 5, {0, 0, 0});
            p.atom("C", "ALA", 5, {1, 1, 0});
            p.atom("CB", "ALA", 5, cb);
            p.leu(9, {0, -9, 0}, {1, -9, 0});
            if (two_models) p.line("ENDMDL");
        }
        return p.text;
    };
    std::string path = temp_file(with_n({0, 1.4, 0}, {0, -1.5, 0}, false));
    Structure st = read_structure(path);
    const PredictOptions o = at_sites({"A:5"});
    EXPECT_EQ(failure_of([&] { geometry(st, o, path); }),
              path + ": site A:5 has its N on the line through CA and CB: its label has no residue frame");
    path = temp_file(with_n({0, 1.4, 0.005}, {0, -1.5, 0}, true));
    st = read_structure(path);
    EXPECT_EQ(failure_of([&] { predict(st, o, path); }),
              path + ": site A:5 has its N on the line through CA and CB in model 2: its label has no residue frame");
    path = temp_file(with_n({-1, 1, 0}, {0, 0, 0}, false));
    st = read_structure(path);
    EXPECT_EQ(failure_of([&] { predict(st, o, path); }),
              path + ": site A:5 has CA and CB at one place: its label has no residue frame");
    // A frame just off the line is still one.
    path = temp_file(with_n({0, 1.4, 0.05}, {0, -1.5, 0}, false));
    st = read_structure(path);
    const Geometry g = geometry(st, o, path);
    EXPECT_NEAR(g.frames[0][0].e2.z, 1.0, 1e-12);
    EXPECT_NEAR(g.frames[0][0].e1.y, -1.0, 1e-12);
    // Coordinates not from the reader: a NaN is not "one place".
    st.models[0].residues[0].atoms[3].y = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(failure_of([&] { geometry(st, o, path); }),
              path + ": site A:5 has an N, CA or CB position that is not a finite number: its label has no residue "
                     "frame");
}

TEST(PredictGeometry, TheLabelFitStaysInBoundsOnAFrameThatIsNotANumber) {
    // The frame is made NaN by hand, past the check that refuses it.
    Pdb p;
    p.site(5, {0, 0, 0});
    for (int i = 0; i < 4; ++i) p.leu(9 + i, {double(i), -9, 0}, {double(i) + 1, -9, 0});
    const std::string path = temp_file(p.text);
    const Structure st = read_structure(path);
    const PredictOptions o = at_sites({"A:5"});
    Geometry g = geometry(st, o, path);
    const Prediction unfitted = predict(st, o, path);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    g.frames[0][0].e1 = g.frames[0][0].e2 = g.frames[0][0].e3 = {nan, nan, nan};
    auto obs = make_table();
    const ReadResult obsr = read_experimental("1 20 1 23 0\n2 10 1 23 0\n3 5 1 23 0\n4 2 1 23 0\n", "obs.txt", *obs);
    FitOptions fo;
    fo.rounds = 2;
    fo.starts = 2;
    const Fitted f = fit_labels(g, o, unfitted, *obs, obsr, fo, [](const std::string&) {});
    ASSERT_EQ(f.sites.size(), 1u);
    EXPECT_FALSE(f.sites[0].kept);
}

// A site in a pocket of five crystal waters, a Leu beyond them.
std::string watered(const char* water) {
    Pdb p;
    p.site(5, {0, 0, 0});
    p.leu(9, {0, -11, 0}, {1, -11, 0});
    const Xyz at[5] = {{0, -4.5, 0}, {2.5, -4, 0}, {-2.5, -4, 0}, {0, -4, 2.5}, {0, -4, -2.5}};
    for (int i = 0; water && i < 5; ++i) p.atom("O", water, 101 + i, at[i], "O", 'W', ' ', "HETATM");
    return p.text;
}

TEST(PredictCloud, CrystalWatersAreNoClash) {
    PredictOptions o = at_sites({"A:5"});
    o.label = LabelModel::Cloud;
    const std::string dry = temp_file(watered(nullptr));
    const double without = predict(read_structure(dry), o, dry).gamma2[0][0];
    for (const char* water : {"HOH", "WAT", "DOD"}) {
        const std::string path = temp_file(watered(water));
        EXPECT_EQ(predict(read_structure(path), o, path).gamma2[0][0], without) << water;
    }
    // The same oxygens as a sulphate's do clash: they stand in the cloud.
    const std::string so4 = temp_file(watered("SO4"));
    EXPECT_GT(std::fabs(predict(read_structure(so4), o, so4).gamma2[0][0] / without - 1), 0.1);
}

}  // namespace
