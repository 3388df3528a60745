// What predict makes of the atoms a structure has: methyls missing, a site
// without CB, amide H placed where an X-ray structure has none, and values
// of --field and --tau-c in the wrong unit. Structures are written here;
// expected positions and Gamma2 are worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "io/failure.h"
#include "structure/predict.h"
#include "pdb_text.h"
#include "support.h"

namespace {


double factor(double tau_ns, double mhz) {
    const double w = 2 * M_PI * mhz * 1e6, t = tau_ns * 1e-9;
    return 1.23e16 * (4 * t + 3 * t / (1 + w * w * t * t));
}

std::string joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

// Site Ala 5 with its label at (0, -6, 0); Leu 9 with CD2 only, Val 12 with
// neither methyl, Leu 15 whole but for CD1 in model 2, Ile 20 without CD1,
// Met 22 whole.
std::string methyls() {
    Pdb p;
    for (int m = 1; m <= 2; ++m) {
        p.text += "MODEL     " + std::to_string(m) + "\n";
        p.atom("N", "ALA", 5, {-1.0, 1.0, 0.0}, "N");
        p.atom("CA", "ALA", 5, {0.0, 0.0, 0.0}, "C");
        p.atom("C", "ALA", 5, {1.0, 1.0, 0.0}, "C");
        p.atom("CB", "ALA", 5, {0.0, -1.5, 0.0}, "C");
        p.atom("CA", "LEU", 9, {5.0, 0.0, 0.0}, "C");
        p.atom("CD2", "LEU", 9, {4.0, -9.0, 0.0}, "C");
        p.atom("CA", "VAL", 12, {0.0, 5.0, 0.0}, "C");
        p.atom("CB", "VAL", 12, {0.0, 6.0, 0.0}, "C");
        p.atom("CA", "LEU", 15, {-5.0, 0.0, 0.0}, "C");
        if (m == 1) p.atom("CD1", "LEU", 15, {-3.0, -6.0, 0.0}, "C");
        p.atom("CD2", "LEU", 15, {-4.0, -6.0, 2.0}, "C");
        p.atom("CA", "ILE", 20, {0.0, 0.0, 7.0}, "C");
        p.atom("CA", "MET", 22, {0.0, 0.0, -7.0}, "C");
        p.atom("CE", "MET", 22, {0.0, -6.0, -5.0}, "C");
        p.text += "ENDMDL\n";
    }
    return p.text;
}

TEST(PredictAtoms, MissingMethylsAreNamedAndTheOneThereUsed) {
    const std::string path = temp_file(methyls());
    const Structure st = read_structure(path);
    PredictOptions o;
    o.sites = {parse_site("A:5", "--site")};
    const Xyz label{0, -6, 0};
    const double k = factor(4, 600);
    const std::string partial = path + ": 1 nucleus is missing from some models and averaged over those that hold it: "
                                       "A:15 LEU CD1/CD2 (model 2)";

    // mean: Leu 9's CD2 stands for it; Val 12 is left out; Leu 15 is the
    // mean of its two methyls in model 1 and absent from model 2.
    Prediction p = predict(st, o, path);
    ASSERT_EQ(p.nuclei.size(), 2u);
    EXPECT_EQ(p.nuclei[0].name, "A:9 LEU CD2");
    EXPECT_EQ(p.nuclei[0].type, 1);
    EXPECT_EQ(p.nuclei[1].residue, 15);
    EXPECT_NEAR(p.gamma2[0][0], k * r6({4, -9, 0}, label), 1e-12 * p.gamma2[0][0]);
    const double leu15 = (r6({-3, -6, 0}, label) + r6({-4, -6, 2}, label)) / 2;
    EXPECT_NEAR(p.gamma2[0][1], k * leu15, 1e-12 * p.gamma2[0][1]);
    EXPECT_EQ(joined(p.warnings), path + ": A:9 LEU lacks CD1: its CD2 alone stands for the residue\n" + path +
                                      ": A:12 VAL lacks CG1 and CG2: left out\n" + partial + "\n");

    // pro-R cannot stand in the pro-S methyl: left out, with the way to use it.
    o.methyl = MethylChoice::ProR;
    p = predict(st, o, path);
    ASSERT_EQ(p.nuclei.size(), 1u);
    EXPECT_EQ(p.nuclei[0].name, "A:15 LEU CD1");
    EXPECT_EQ(p.warnings[0], path + ": A:9 LEU lacks CD1: left out (its CD2 is pro-S; --methyl mean would use it)");
    o.methyl = MethylChoice::ProS;
    p = predict(st, o, path);
    ASSERT_EQ(p.nuclei.size(), 2u);
    EXPECT_EQ(p.nuclei[0].name, "A:9 LEU CD2");
    EXPECT_EQ(p.warnings.size(), 1u);  // Val 12 only: Leu 15's CD2 is in both models
    EXPECT_EQ(p.warnings[0], path + ": A:12 VAL lacks CG1 and CG2: left out");

    // each: one entry per methyl there; untyped: the site's own Ala CB first.
    o.methyl = MethylChoice::Each;
    o.untyped = true;
    p = predict(st, o, path);
    ASSERT_EQ(p.nuclei.size(), 5u);
    EXPECT_EQ(p.nuclei[0].name, "A:5 ALA CB");
    EXPECT_EQ(p.nuclei[1].name, "A:9 LEU CD2");
    EXPECT_EQ(p.nuclei[2].name, "A:15 LEU CD1");
    EXPECT_EQ(p.nuclei[4].name, "A:22 MET CE");
    EXPECT_NEAR(p.gamma2[0][2], k * r6({-3, -6, 0}, label), 1e-12 * p.gamma2[0][2]);
    EXPECT_EQ(joined(p.warnings),
              path + ": A:9 LEU lacks CD1: only its CD2 is given\n" + path + ": A:12 VAL lacks CG1 and CG2: left out\n" +
                  path + ": A:20 ILE lacks CD1: left out\n" + path +
                  ": 1 nucleus is missing from some models and averaged over those that hold it: A:15 LEU CD1 (model 2)\n");
}

TEST(PredictAtoms, ASiteWithoutCBIsPlacedAndSaid) {
    // Ala 5 without CB: its CB from N, CA and C as for Gly; the label 6 A
    // from CA along it. With b = CA - N, c = C - CA, a = b x c:
    // b = (1, -1, 0), c = (1, 1, 0), a = (0, 0, 2),
    // CB = -0.58273431 a + 0.56802827 b - 0.54067466 c
    //    = (0.02735361, -1.10870293, -1.16546862).
    Pdb p;
    p.atom("N", "ALA", 5, {-1.0, 1.0, 0.0}, "N");
    p.atom("CA", "ALA", 5, {0.0, 0.0, 0.0}, "C");
    p.atom("C", "ALA", 5, {1.0, 1.0, 0.0}, "C");
    p.atom("CA", "LEU", 9, {5.0, 0.0, 0.0}, "C");
    p.atom("CD1", "LEU", 9, {4.0, -9.0, 0.0}, "C");
    p.atom("CD2", "LEU", 9, {6.0, -9.0, 1.0}, "C");
    const std::string path = temp_file(p.text);
    const Structure st = read_structure(path);
    PredictOptions o;
    o.sites = {parse_site("A:5", "--site")};
    const Prediction pr = predict(st, o, path);
    ASSERT_EQ(pr.warnings.size(), 1u);
    EXPECT_EQ(pr.warnings[0], path + ": site A:5 (ALA) lacks CB: placed from N, CA and C by ideal geometry, as for Gly");
    const Xyz cb{0.02735361, -1.10870293, -1.16546862};
    const double len = std::sqrt(cb.x * cb.x + cb.y * cb.y + cb.z * cb.z);
    const Xyz label{6 * cb.x / len, 6 * cb.y / len, 6 * cb.z / len};
    const double want = factor(4, 600) * (r6({4, -9, 0}, label) + r6({6, -9, 1}, label)) / 2;
    EXPECT_NEAR(pr.gamma2[0][0], want, 1e-6 * want);
}

// A peptide without H but one HN: Met 1 (the chain's first), Ala 2, Pro 3,
// Gly 4 after a chain break (its N 3.8 A from Pro 3's C), Ser 5 with its
// own HN, Lys 6; Ala 7 first of chain B; a water.
//   Ala 2: C(1)->N along +x, CA->N at -60 degrees in the xy plane: the
//          bisector at -30 degrees, H = N + 1.01 (cos 30, -sin 30, 0)
//          = (10.874686, -0.505, 0).
//   Lys 6: C(5)->N along +z, CA->N along -y: H = N + 1.01 (0, -1, 1) / sqrt 2
//          = (0, -0.714178, 20.714178).
std::string peptide() {
    Pdb p;
    p.atom("N", "MET", 1, {7.0, 2.0, 0.0}, "N");
    p.atom("CA", "MET", 1, {7.5, 1.0, 0.0}, "C");
    p.atom("C", "MET", 1, {8.67, 0.0, 0.0}, "C");
    p.atom("N", "ALA", 2, {10.0, 0.0, 0.0}, "N");
    p.atom("CA", "ALA", 2, {9.27, 1.264, 0.0}, "C");  // N + 1.46 (-1/2, sqrt 3/2, 0)
    p.atom("C", "ALA", 2, {10.0, 2.5, 0.0}, "C");
    p.atom("CB", "ALA", 2, {9.27, 1.264, -1.53}, "C");
    p.atom("N", "PRO", 3, {11.0, 3.0, 0.0}, "N");
    p.atom("CA", "PRO", 3, {12.0, 3.0, 0.0}, "C");
    p.atom("C", "PRO", 3, {20.0, 0.0, 0.0}, "C");
    p.atom("N", "GLY", 4, {23.8, 0.0, 0.0}, "N");
    p.atom("CA", "GLY", 4, {24.5, 1.0, 0.0}, "C");
    p.atom("C", "GLY", 4, {25.5, 1.0, 0.0}, "C");
    p.atom("N", "SER", 5, {1.0, 0.0, 17.0}, "N");
    p.atom("CA", "SER", 5, {0.0, 0.0, 17.5}, "C");
    p.atom("C", "SER", 5, {0.0, 0.0, 18.67}, "C");
    p.atom("HN", "SER", 5, {1.5, -0.8, 16.5}, "H");
    p.atom("N", "LYS", 6, {0.0, 0.0, 20.0}, "N");
    p.atom("CA", "LYS", 6, {0.0, 1.46, 20.0}, "C");
    p.atom("C", "LYS", 6, {0.0, 1.0, 21.0}, "C");
    p.atom("N", "ALA", 7, {0.0, 0.0, 21.33}, "N", 'B');  // 1.05 A from Lys 6's C, but another chain
    p.atom("CA", "ALA", 7, {0.0, 1.0, 22.0}, "C", 'B');
    p.text += "HETATM   99  O   HOH A 101       3.000   3.000   3.000  1.00  0.00           O\n";
    return p.text;
}

TEST(PredictAtoms, AmideHPlacedWhereTheStructureHasNone) {
    const std::string path = temp_file(peptide());
    Structure st = read_structure(path);
    Structure as_read = st;
    std::vector<AmideGap> gaps;
    EXPECT_EQ(place_amide_hydrogens(st.models[0], &gaps), 2);
    const auto h_of = [&](int number, const char* name = "H") {
        for (const Residue& r : st.models[0].residues)
            if (r.number == number) return r.find(name);
        return static_cast<const Atom*>(nullptr);
    };
    const Atom* h2 = h_of(2);
    ASSERT_NE(h2, nullptr);
    EXPECT_TRUE(h2->hydrogen);
    // CA written to 3 decimals moves the bisector by less than 1e-4 A.
    EXPECT_NEAR(h2->x, 10.874686, 1e-4);
    EXPECT_NEAR(h2->y, -0.505, 1e-4);
    EXPECT_NEAR(h2->z, 0.0, 1e-9);
    const Atom* h6 = h_of(6);
    ASSERT_NE(h6, nullptr);
    EXPECT_NEAR(h6->x, 0.0, 1e-9);
    EXPECT_NEAR(h6->y, -0.714178, 1e-6);
    EXPECT_NEAR(h6->z, 20.714178, 1e-6);
    // None on the chains' first residues, on Pro, after the break, beside an HN.
    EXPECT_EQ(h_of(1), nullptr);
    EXPECT_EQ(h_of(3), nullptr);
    EXPECT_EQ(h_of(4), nullptr);
    EXPECT_EQ(h_of(5), nullptr);
    EXPECT_EQ(h_of(7), nullptr);
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0].residue->number, 4);
    EXPECT_EQ(gaps[0].why, "no C bonded before its N (a chain break: C-N 3.80 A)");

    // predict places them on its own copy, and says what it did.
    PredictOptions o;
    o.nuclei = Nuclei::Amide;
    o.sites = {parse_site("A:2", "--site")};
    const Prediction p = predict(as_read, o, path);
    ASSERT_EQ(p.nuclei.size(), 3u);
    EXPECT_EQ(p.nuclei[0].name, "A:2 ALA H");
    EXPECT_EQ(p.nuclei[1].name, "A:5 SER HN");
    EXPECT_EQ(p.nuclei[2].name, "A:6 LYS H");
    const Xyz label{9.27, 1.264, -6.0};  // 6 A from CA along CA->CB
    const double k = factor(4, 600);
    EXPECT_NEAR(p.gamma2[0][1], k * r6({1.5, -0.8, 16.5}, label), 1e-9 * p.gamma2[0][1]);
    EXPECT_NEAR(p.gamma2[0][2], k * r6({0, -0.714178, 20.714178}, label), 1e-5 * p.gamma2[0][2]);
    EXPECT_NEAR(p.gamma2[0][0], k * r6({10.874686, -0.505, 0}, label), 1e-4 * p.gamma2[0][0]);
    EXPECT_EQ(joined(p.warnings),
              path + ": A:4 GLY left out: no amide H, and no C bonded before its N (a chain break: C-N 3.80 A)\n" +
                  path +
                  ": the structure lacks 2 of the 3 amide H: placed by ideal geometry (1.01 A from N on the bisector "
                  "of C(i-1)-N and CA-N)\n");
    EXPECT_EQ(as_read.models[0].residues[1].find("H"), nullptr);  // the caller's structure stays as read

    // Chain B alone: its only residue is the chain's first, so nothing to place or name.
    o.chain = "B";
    o.sites = {parse_site("B:7", "--site")};
    try {
        predict(as_read, o, path);
        ADD_FAILURE() << "no failure";
    } catch (const Failure& f) {
        EXPECT_EQ(f.message, path + ": holds no amide H in chain B");
    }
}

TEST(PredictAtoms, ValuesInAnotherUnitAreWarnedOf) {
    PredictOptions o;
    EXPECT_TRUE(unit_warnings(o).empty());
    o.field_mhz = 100;
    o.tau_c_ns = 0.1;
    EXPECT_TRUE(unit_warnings(o).empty());
    o.tau_c_ns = 100;
    EXPECT_TRUE(unit_warnings(o).empty());
    o.field_mhz = 17.6;  // tesla meant
    ASSERT_EQ(unit_warnings(o).size(), 1u);
    EXPECT_EQ(unit_warnings(o)[0], "--field 17.6 is below 100 MHz, which no spectrometer for proteins uses: the 1H "
                                   "frequency is given in MHz (14.1 T is 600 MHz), and every PRE depends on it");
    o.field_mhz = 600;
    o.tau_c_ns = 0.004;  // microseconds meant
    ASSERT_EQ(unit_warnings(o).size(), 1u);
    EXPECT_EQ(unit_warnings(o)[0], "--tau-c 0.004 lies outside 0.1 to 100 ns, where proteins' correlation times fall: "
                                   "it is given in ns, and every PRE scales with it");
    o.tau_c_ns = 150;
    EXPECT_EQ(unit_warnings(o).size(), 1u);

    // The command says so on standard error, and still writes the file.
    const std::string dir = temp_case("", "");
    std::FILE* f = std::fopen((dir + "/s.pdb").c_str(), "w");
    std::fputs(methyls().c_str(), f);
    std::fclose(f);
    Proc p = run_binary({"predict", "s.pdb", "--site", "A:5", "--field", "17.6", "--tau-c", "2", "-o", "sim.txt"}, "",
                        dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.err.substr(0, p.err.find('\n')),
              "preassign: warning: --field 17.6 is below 100 MHz, which no spectrometer for proteins uses: the 1H "
              "frequency is given in MHz (14.1 T is 600 MHz), and every PRE depends on it");
    EXPECT_NE(p.err.find("\npreassign: warning: s.pdb: A:9 LEU lacks CD1: its CD2 alone stands for the residue\n"),
              std::string::npos)
        << p.err;
    EXPECT_EQ(read_file(dir + "/sim.txt").substr(0, 2), "9 ");
}

}  // namespace
