// The label fit on a structure the test writes: three labels set off where
// the pseudo-atom would put them, PREs worked out by hand from the true
// centres, peaks in an order that hides the residues.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "profiles/reader.h"
#include "fit/fit.h"
#include "support.h"

namespace {

struct Xyz {
    double x, y, z;
};

constexpr int kSites = 3, kAmides = 40;
// Each site residue has the same orientation: CA at its origin, CB along -y,
// N at (-1, 1, 0), so that its frame is e1 = -y, e2 = -x, e3 = -z.
const Xyz kOrigin[kSites] = {{0, 0, 0}, {24, 2, 0}, {6, 20, 14}};
const Xyz kTrue[kSites] = {{3.0, 4.0, -3.0}, {5.0, -2.0, 2.5}, {2.0, 1.0, 5.5}};  // u, A

Xyz centre(int s) {
    const Xyz o = kOrigin[s], u = kTrue[s];
    return {o.x - u.y, o.y - 1.5 - u.x, o.z - u.z};
}

Xyz amide(int i) {  // spread over the box the sites span, none nearer a label than 4 A
    return {-6.0 + std::fmod(i * 7.3, 36.0), -8.0 + std::fmod(i * 11.9, 34.0), -6.0 + std::fmod(i * 5.1, 26.0)};
}

std::string structure() {
    std::string text;
    int serial = 1;
    auto atom = [&](const char* name, const char* res, int num, Xyz p, const char* element) {
        char line[100];
        std::snprintf(line, sizeof line, "ATOM  %5d %-4s %3s A%4d    %8.3f%8.3f%8.3f  1.00  0.00          %2s\n",
                      serial++, name, res, num, p.x, p.y, p.z, element);
        text += line;
    };
    for (int s = 0; s < kSites; ++s) {
        const Xyz o = kOrigin[s];
        atom("N", "ALA", s + 1, {o.x - 1, o.y + 1, o.z}, "N");
        atom("CA", "ALA", s + 1, o, "C");
        atom("C", "ALA", s + 1, {o.x + 1, o.y + 1, o.z}, "C");
        atom("CB", "ALA", s + 1, {o.x, o.y - 1.5, o.z}, "C");
    }
    for (int i = 0; i < kAmides; ++i) {
        const Xyz h = amide(i);
        atom("N", "GLY", 10 + i, {h.x + 1, h.y, h.z}, "N");
        atom(" H", "GLY", 10 + i, h, "H");
    }
    return text;
}

double factor() {
    const double w = 2 * M_PI * 600e6, t = 4e-9;
    return 1.23e16 * (4 * t + 3 * t / (1 + w * w * t * t));
}

double truth(int s, int i) {
    const Xyz a = amide(i), c = centre(s);
    const double d2 = (a.x - c.x) * (a.x - c.x) + (a.y - c.y) * (a.y - c.y) + (a.z - c.z) * (a.z - c.z);
    return factor() / (d2 * d2 * d2);
}

// Peak j is amide (j * 17) % 40: the order says nothing of the residue.
std::string observed() {
    std::string text;
    char line[120];
    for (int s = 0; s < kSites; ++s)
        for (int j = 0; j < kAmides; ++j) {
            const double v = truth(s, (j * 17) % kAmides);
            std::snprintf(line, sizeof line, "%d %.9g %.9g 0 0\n", j + 1, v, 0.05 * v + 0.2);
            text += line;
        }
    return text;
}

// The written structure with its three sites, for amide H.
struct Case {
    std::string path = temp_file(structure());
    Structure st = read_structure(path);
    PredictOptions o;
    Prediction unfitted;
    Case() {
        o.nuclei = Nuclei::Amide;
        for (int s = 0; s < kSites; ++s) o.sites.push_back(parse_site("A:" + std::to_string(s + 1), "--site"));
        unfitted = predict(st, o, path);
    }
};

TEST(LabelFit, FindsLabelsThePseudoAtomMisses) {
    const Case c;
    const std::string& path = c.path;
    const Structure& st = c.st;
    const PredictOptions& o = c.o;
    const Prediction& unfitted = c.unfitted;
    ASSERT_EQ(unfitted.nuclei.size(), size_t(kAmides));
    auto obs = make_table();
    const ReadResult obsr = read_experimental(observed(), "obs.txt", *obs);
    int rounds = 0;
    const Fitted f = fit_labels(geometry(st, o, path), o, unfitted, *obs, obsr, FitOptions{}, [&](const std::string& line) {
        EXPECT_EQ(line.rfind("fit round ", 0), 0u) << line;
        ++rounds;
    });
    EXPECT_EQ(rounds, FitOptions{}.rounds);
    for (int s = 0; s < kSites; ++s) {
        const SiteFit& site = f.sites[size_t(s)];
        const Xyz u = kTrue[s], c = centre(s);
        EXPECT_TRUE(site.kept) << s << ": " << site.why;
        EXPECT_LT(std::hypot(site.u.x - u.x, site.u.y - u.y, site.u.z - u.z), 0.5) << s;
        EXPECT_LT(std::hypot(site.centre.x - c.x, site.centre.y - c.y, site.centre.z - c.z), 0.5) << s;
        EXPECT_NEAR(site.distance, std::hypot(u.x, u.y, u.z), 0.5) << s;
        EXPECT_NEAR(site.amplitude, 1.0, 0.15) << s;
        EXPECT_LT(site.after, 0.5 * site.before) << s;
        for (int i = 0; i < kAmides; ++i)
            EXPECT_NEAR(f.prediction.gamma2[size_t(s)][size_t(i)], truth(s, i), 0.2 * truth(s, i) + 0.05) << s << " " << i;
    }
    // The pseudo-atoms, as kept or not, one per site.
    const std::string pdb = centres_pdb(geometry(st, o, path), f, o);
    EXPECT_EQ(pdb.rfind("REMARK", 0), 0u);
    char expected[100];
    std::snprintf(expected, sizeof expected, "HETATM    1  O   NIT Z   1    %8.3f%8.3f%8.3f  1.00  1.00           O\n",
                  f.sites[0].centre.x, f.sites[0].centre.y, f.sites[0].centre.z);
    EXPECT_NE(pdb.find(expected), std::string::npos) << pdb;
}

TEST(LabelFit, FromTheCommandLine) {
    const std::string dir = temp_case("", observed());
    std::FILE* f = std::fopen((dir + "/s.pdb").c_str(), "w");
    std::fputs(structure().c_str(), f);
    std::fclose(f);
    Proc p = run_binary({"predict", "s.pdb", "--nuclei", "amide", "--site", "A:1", "--site", "A:2", "--site", "A:3",
                         "--fit-labels", "obs.txt", "--rounds", "6", "--centres", "c.pdb", "-o", "fit.txt"},
                        "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_NE(p.err.find("fit round 6 of 6"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("site A:3 fitted: centre ("), std::string::npos) << p.err;
    // A posterior on fitted predictions judges them by residuals the fit made small.
    EXPECT_NE(p.err.find("preassign: warning: 3 of 3 sites' predictions were fitted to obs.txt: "),
              std::string::npos)
        << p.err;
    EXPECT_EQ(read_file(dir + "/c.pdb").substr(0, 6), "REMARK");
    const std::string fitted = read_file(dir + "/fit.txt");
    EXPECT_EQ(std::count(fitted.begin(), fitted.end(), '\n'), kSites * kAmides);
    // A site with nothing measured keeps its unfitted prediction, and says why.
    std::string none = observed();
    for (size_t at = 0, line = 0; line < size_t(kAmides); ++line, at = none.find('\n', at) + 1)
        none.replace(none.find(' ', at) + 1, none.find(' ', none.find(' ', at) + 1) - none.find(' ', at) - 1, "-999");
    std::FILE* o = std::fopen((dir + "/none.txt").c_str(), "w");
    std::fputs(none.c_str(), o);
    std::fclose(o);
    p = run_binary({"predict", "s.pdb", "--nuclei", "amide", "--site", "A:1", "--site", "A:2", "--site", "A:3",
                    "--fit-labels", "none.txt", "--rounds", "2"},
                   "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_NE(p.err.find("not kept: no PRE measured at this site\npreassign: predict: site A:2"), std::string::npos)
        << p.err;
    // What only a fit uses, without one, and a centres file over an input.
    p = run_binary({"predict", "s.pdb", "--site", "A:1", "--rounds", "3"}, "", dir);
    EXPECT_EQ(p.status, 2);
    EXPECT_EQ(p.err, "preassign: --rounds goes with --fit-labels (see --help)\n");
    p = run_binary({"predict", "s.pdb", "--site", "A:1", "--fit-labels", "obs.txt", "--centres", "obs.txt"}, "", dir);
    EXPECT_EQ(p.status, 2);
    EXPECT_NE(read_file(dir + "/obs.txt"), "");
}

}  // namespace
