// predict against Gamma2 worked out by hand from the formula, on a small
// structure the test writes; the label models' rules and their errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "io/failure.h"
#include "structure/predict.h"
#include "pdb_text.h"
#include "support.h"

namespace {


// Two models that differ by a shift of the Leu: the site (Ala 5) along x,
// a Leu 9 and a Val 12 further out, a Gly 14.
std::string two_models() {
    Pdb p;
    for (int m = 1; m <= 2; ++m) {
        const double s = m == 1 ? 0.0 : 1.0;
        p.model(m);
        p.atom("N", "ALA", 5, {-1.0, 1.0, 0.0}, "N");
        p.atom("CA", "ALA", 5, {0.0, 0.0, 0.0}, "C");
        p.atom("C", "ALA", 5, {1.0, 1.0, 0.0}, "C");
        p.atom("CB", "ALA", 5, {0.0, -1.5, 0.0}, "C");
        p.atom("CA", "LEU", 9, {5.0 + s, 0.0, 0.0}, "C");
        p.atom("CD1", "LEU", 9, {10.0 + s, -8.0, 0.0}, "C");
        p.atom("CD2", "LEU", 9, {12.0 + s, -6.0, 1.0}, "C");
        p.atom("CA", "VAL", 12, {0.0, 5.0, 0.0}, "C");
        p.atom("CG1", "VAL", 12, {0.0, -20.0, 3.0}, "C");
        p.atom("CG2", "VAL", 12, {2.0, -20.0, 3.0}, "C");
        p.atom("N", "GLY", 14, {4.0, 4.0, 4.0}, "N");
        p.atom("CA", "GLY", 14, {5.0, 4.0, 4.0}, "C");
        p.atom("C", "GLY", 14, {5.5, 5.3, 4.0}, "C");
        p.end_model();
    }
    return p.text;
}

TEST(Predict, Gamma2ByHand) {
    const std::string path = temp_file(two_models());
    const Structure st = read_structure(path);
    ASSERT_EQ(st.models.size(), 2u);
    PredictOptions o;
    o.sites = {parse_site("A:5", "--site")};
    o.tau_c_ns = 5;
    o.field_mhz = 800;
    const Prediction p = predict(st, o, path);
    ASSERT_EQ(p.nuclei.size(), 2u);
    EXPECT_EQ(p.nuclei[0].residue, 9);
    EXPECT_EQ(p.nuclei[0].type, 1);
    EXPECT_EQ(p.nuclei[1].type, 2);
    // The label 6 A from CA along CA->CB, in both models: (0, -6, 0).
    const Xyz label{0, -6, 0};
    const double w = 2 * M_PI * 800e6, t = 5e-9;
    const double k = 1.23e16 * (4 * t + 3 * t / (1 + w * w * t * t));
    const double leu = (r6({10, -8, 0}, label) + r6({12, -6, 1}, label) + r6({11, -8, 0}, label) + r6({13, -6, 1}, label)) / 4;
    const double val = (r6({0, -20, 3}, label) + r6({2, -20, 3}, label)) / 2;
    EXPECT_NEAR(p.gamma2[0][0], k * leu, 1e-12 * k * leu);
    EXPECT_NEAR(p.gamma2[0][1], k * val, 1e-12 * k * val);
    // Shortest digits that read back exactly.
    const std::string text = simulated_profiles_text(p);
    EXPECT_EQ(std::stod(text.substr(text.find(' ') + 1)), p.gamma2[0][0]);
    // pro-S: Leu CD2 alone; a Gly site takes its CB from N, CA and C.
    o.methyl = MethylChoice::ProS;
    o.sites = {parse_site("A:14", "--site")};
    const Prediction g = predict(st, o, path);
    const Xyz b{1, 0, 0}, c{0.5, 1.3, 0}, a{b.y * c.z - b.z * c.y, b.z * c.x - b.x * c.z, b.x * c.y - b.y * c.x};
    Xyz cb{-0.58273431 * a.x + 0.56802827 * b.x - 0.54067466 * c.x + 5, -0.58273431 * a.y + 0.56802827 * b.y -
                                                                           0.54067466 * c.y + 4,
           -0.58273431 * a.z + 0.56802827 * b.z - 0.54067466 * c.z + 4};
    const double len = std::sqrt((cb.x - 5) * (cb.x - 5) + (cb.y - 4) * (cb.y - 4) + (cb.z - 4) * (cb.z - 4));
    const Xyz gl{5 + 6 * (cb.x - 5) / len, 4 + 6 * (cb.y - 4) / len, 4 + 6 * (cb.z - 4) / len};
    const double leu_s = (r6({12, -6, 1}, gl) + r6({13, -6, 1}, gl)) / 2;
    EXPECT_NEAR(g.gamma2[0][0], k * leu_s, 1e-9 * k * leu_s);
}

TEST(Predict, WhatCannotBePredictedIsSaid) {
    const std::string path = temp_file(two_models());
    const Structure st = read_structure(path);
    PredictOptions o;
    auto error = [&](const PredictOptions& opt) {
        try {
            predict(st, opt, path);
        } catch (const Failure& f) {
            return f.message;
        }
        return std::string("no failure");
    };
    o.sites = {parse_site("A:7", "--site")};
    EXPECT_EQ(error(o), path + ": no residue A:7 in model 1 (the site given as A:7)");
    // A cloud that no point survives: every point within 9 A of the Leu.
    o.sites = {parse_site("A:5", "--site")};
    o.label = LabelModel::Cloud;
    o.clash = 30;
    EXPECT_EQ(error(o), path + ": site A:5 leaves no room for a label (an empty cloud) in model 1");
    o.clash = 3.4;
    EXPECT_EQ(error(o), "no failure");
    o.nuclei = Nuclei::Amide;
    EXPECT_EQ(error(o), path + ": holds no amide H (A:14 GLY left out: no amide H, and the residue before it has no C)");
    EXPECT_THROW(parse_site("17", "--site"), Failure);
    EXPECT_THROW(parse_site("A:x", "--site"), Failure);
    EXPECT_EQ(parse_site("B:52A", "--site").icode, 'A');
}

// The cloud on a grid small enough to list by hand: reach 1 A, grid 1 A,
// clash 1.2 A. Around CB (0, -1.5, 0) the grid points within 1 A are CB and
// its six neighbours; the one towards CA (+y) is behind the backbone. Of the
// other six, (0, -1.5, 1) lies 1.1 A from Leu 9's O: dropped. The site's own
// CB, Leu 9's H 1 A from (1, -1.5, 0), and the water's O beside
// (-1, -1.5, 0) do not clash.
TEST(Predict, CloudPointsByHand) {
    Pdb p;
    p.site(5, {0.0, 0.0, 0.0});  // N (-1, 1, 0), CA at 0, C (1, 1, 0), CB (0, -1.5, 0)
    p.atom("CA", "LEU", 9, {6.0, 0.0, 0.0}, "C");
    p.atom("O", "LEU", 9, {0.0, -1.5, 2.1}, "O");
    p.atom("H", "LEU", 9, {2.0, -1.5, 0.0}, "H");
    p.atom("CD1", "LEU", 9, {0.0, -8.5, 0.0}, "C");
    p.atom("CD2", "LEU", 9, {3.0, -8.5, 0.0}, "C");
    p.text += "HETATM   99  O   HOH A 101      -2.000  -1.500   0.000  1.00  0.00           O\n";
    const std::string path = temp_file(p.text);
    const Structure st = read_structure(path);
    PredictOptions o;
    o.sites = {parse_site("A:5", "--site")};
    o.label = LabelModel::Cloud;
    o.label_distance = 1.0;
    o.grid = 1.0;
    o.clash = 1.2;
    const Prediction pr = predict(st, o, path);
    ASSERT_EQ(pr.nuclei.size(), 1u);
    const Xyz cloud[] = {{0, -1.5, 0}, {1, -1.5, 0}, {-1, -1.5, 0}, {0, -2.5, 0}, {0, -1.5, -1}};
    double sum = 0;
    for (const Xyz& c : cloud) sum += r6({0, -8.5, 0}, c) + r6({3, -8.5, 0}, c);
    const double w = 2 * M_PI * 600e6, t = 4e-9;
    const double want = 1.23e16 * (4 * t + 3 * t / (1 + w * w * t * t)) * sum / 10;
    EXPECT_NEAR(pr.gamma2[0][0], want, 1e-12 * want);
    EXPECT_EQ(pr.notes[0].substr(pr.notes[0].find("label cloud")), "label cloud of 5 points on average, 1 model");
}

// The site's frame, which the label fit places its label in: origin at CB,
// e1 along CA->CB, e2 towards N at right angles to e1, e3 = e1 x e2.
TEST(Predict, SiteFrameByHand) {
    Pdb p;
    p.site(5, {0.0, 0.0, 0.0});  // N (-1, 1, 0), CA at 0, C (1, 1, 0), CB (0, -1.5, 0)
    p.atom("CA", "LEU", 9, {6.0, 0.0, 0.0}, "C");
    p.atom("CD1", "LEU", 9, {0.0, -8.5, 0.0}, "C");
    p.atom("CD2", "LEU", 9, {3.0, -8.5, 0.0}, "C");
    // A second methyl residue: one alone would read back as one profile for both sites.
    p.atom("CA", "LEU", 10, {9.0, 0.0, 0.0}, "C");
    p.atom("CD1", "LEU", 10, {9.0, -8.5, 0.0}, "C");
    p.atom("CD2", "LEU", 10, {10.0, -8.5, 0.0}, "C");
    p.atom("N", "GLY", 14, {4.0, 4.0, 4.0}, "N");
    p.atom("CA", "GLY", 14, {5.0, 4.0, 4.0}, "C");
    p.atom("C", "GLY", 14, {5.5, 5.3, 4.0}, "C");
    const std::string path = temp_file(p.text);
    PredictOptions o;
    o.sites = {parse_site("A:5", "--site"), parse_site("A:14", "--site")};
    const Geometry g = geometry(read_structure(path), o, path);
    ASSERT_EQ(g.frames.size(), 2u);
    const Geometry::Frame& f = g.frames[0][0];
    // e1 = (0, -1, 0); CA->N = (-1, 1, 0) less its e1 part (0, 1, 0): e2 = (-1, 0, 0);
    // e3 = (0, -1, 0) x (-1, 0, 0) = (0, 0, -1).
    const Xyz want[] = {{0, -1.5, 0}, {0, -1, 0}, {-1, 0, 0}, {0, 0, -1}};
    const Point got[] = {f.origin, f.e1, f.e2, f.e3};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(got[i].x, want[i].x, 1e-12) << i;
        EXPECT_NEAR(got[i].y, want[i].y, 1e-12) << i;
        EXPECT_NEAR(got[i].z, want[i].z, 1e-12) << i;
    }
    const Point u = in_frame(f, {1, 2, 3});  // origin + e1 + 2 e2 + 3 e3
    EXPECT_NEAR(u.x, -2.0, 1e-12);
    EXPECT_NEAR(u.y, -2.5, 1e-12);
    EXPECT_NEAR(u.z, -3.0, 1e-12);
    // Gly has no CB to lack: placed without a word.
    EXPECT_TRUE(g.warnings.empty()) << g.warnings.at(0);
    EXPECT_EQ(g.site_residues, (std::vector<std::string>{"ALA", "GLY"}));
    // N on the CA->CB line: no plane for e2, refused rather than NaN.
    std::string line = p.text;
    line.replace(line.find(" -1.000   1.000"), 15, "  0.000   1.000");
    const std::string bad = temp_file(line);
    try {
        geometry(read_structure(bad), o, bad);
        ADD_FAILURE() << "no failure";
    } catch (const Failure& f) {
        EXPECT_EQ(f.message, bad + ": site A:5 has its N on the line through CA and CB: its label has no residue frame");
    }
}

}  // namespace

namespace {

TEST(Predict, FromStructureAndListsToALabelledList) {
    // predict, import, the run, label: the path a user takes, on small files.
    const std::string dir = temp_case("", "");
    std::FILE* f = std::fopen((dir + "/s.pdb").c_str(), "w");
    std::fputs(two_models().c_str(), f);
    std::fclose(f);
    const std::string dia = "      Assignment         w1         w2   Data Height\n\n"
                            "             ?-?     24.800      0.700         1000\n"
                            "             ?-?     21.900      0.900         1000\n";
    const std::string para = "      Assignment         w1         w2   Data Height\n\n"
                             "             ?-?     24.800      0.700          300\n"
                             "             ?-?     21.900      0.900          990\n";
    for (const auto& [name, text] : {std::pair{"dia.list", dia}, std::pair{"para.list", para}}) {
        std::FILE* l = std::fopen((dir + "/" + name).c_str(), "w");
        std::fputs(text.c_str(), l);
        std::fclose(l);
    }
    Proc p = run_binary({"predict", "s.pdb", "--site", "A:5", "-o", "sim.txt"}, "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.err, "preassign: predict: site A:5 (ALA): 2 nuclei (Leu/Val methyl carbons, mean of the two), label "
                     "6 A from CA along CA-CB, 2 models averaged\n");
    p = run_binary({"import", "--site", "dia.list", "para.list", "--r2", "20", "--delay", "0.01", "--noise", "5",
                    "-o", "obs.txt"},
                   "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(read_file(dir + "/obs.txt.map"),
              "peak_id\tlabel\theavy_ppm\tproton_ppm\n1\t?-?\t24.8\t0.7\n2\t?-?\t21.9\t0.9\n");
    p = run_binary({"-q", "--posterior", "--table", "t.tsv", "sim.txt", "obs.txt"}, "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    p = run_binary({"label", "obs.txt.map", "t.tsv", "--sim", "sim.txt", "--min", "0.5", "-o", "out.list"}, "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    const std::string list = read_file(dir + "/out.list");
    EXPECT_EQ(list.substr(0, list.find('\n')), "      Assignment         w1         w2   Note");
    // The Leu, nearer the label, has the larger PRE: the first peak's.
    EXPECT_NE(list.find("         L9C-H       24.8        0.7   p="), std::string::npos) << list;
    // Lists come in pairs.
    p = run_binary({"import", "--site", "dia.list", "para.list", "--site", "dia.list", "--r2", "20", "--delay", "0.01"},
                   "", dir);
    EXPECT_EQ(p.status, 2);
    // A file named like a subcommand is read as a file when given as ./name.
    p = run_binary({"./predict", "obs.txt"}, "", dir);
    EXPECT_EQ(p.err, "preassign: ./predict: No such file or directory\n");
}

}  // namespace
