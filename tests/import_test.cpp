// import: the inversion exact on a grid, both list formats giving the same
// profiles, and each peak that cannot be measured said for what it is.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "io/failure.h"
#include "peaks/import.h"
#include "peaks/rates.h"
#include "support.h"

namespace {

TEST(Import, InversionOnAGrid) {
    for (double mq : {0.0, 50.0})
        for (double r2 : {5.0, 12.6, 80.0})
            for (double ratio = 0.001; ratio < 1.0; ratio += 0.0371) {
                const double g = gamma2_from_ratio(ratio, r2, 0.0109, mq);
                EXPECT_NEAR(ratio_of(g, r2, 0.0109, mq), ratio, 1e-9 * ratio) << ratio << " " << r2 << " " << mq;
            }
    EXPECT_EQ(gamma2_from_ratio(1.04, 12.6, 0.01, 0), 0.0);
    // Two points: Gamma2 from the decay of Ipara / Idia between them.
    EXPECT_NEAR(gamma2_two_points(100, 50, 80, 20, 0.004, 0.014), std::log(2.0) / 0.01, 1e-12);
}

struct Spectrum {
    const char* label;
    double proton, heavy, dia, para;
};

// Five peaks: two broadened (one gone, one in the noise), one unassigned.
const Spectrum kPeaks[] = {{"L23CD1-HD1", 0.734, 24.812, 1000, 500, },
                           {"V41CG2-HG2", 0.861, 21.903, 800, 700},
                           {"?-?", 0.912, 22.480, 400, 100},
                           {"L50CD2-HD2", 1.012, 25.300, 600, 0},
                           {"I12CD1-HD1", 0.620, 13.500, 900, 20}};

std::string sparky(bool para) {
    std::string s = "      Assignment         w1         w2   Data Height\n\n";
    for (const Spectrum& p : kPeaks) {
        const double h = para ? p.para : p.dia;
        if (h == 0) continue;
        char line[120];
        // The paramagnetic list is unassigned, and its peaks sit 0.01 ppm off.
        std::snprintf(line, sizeof line, "%16s %10.3f %10.3f %12.0f\n", para ? "?-?" : p.label,
                      p.heavy + (para ? 0.05 : 0), p.proton + (para ? 0.01 : 0), h);
        s += line;
    }
    return s;
}

std::string nmrpipe(bool para) {
    std::string s = "REMARK made by a test\nDATA  X_AXIS 1H 1 1024 10.0ppm 0.0ppm\n"
                    "VARS   INDEX X_PPM Y_PPM HEIGHT DHEIGHT ASS\nFORMAT %5d %8.3f %8.3f %+e %+e %s\n\n";
    int i = 1;
    for (const Spectrum& p : kPeaks) {
        const double h = para ? p.para : p.dia;
        if (h == 0) continue;
        char line[160];
        std::snprintf(line, sizeof line, "%5d %8.3f %8.3f %+e %+e %s\n", i++, p.proton + (para ? 0.01 : 0),
                      p.heavy + (para ? 0.05 : 0), h, 10.0, para ? "*" : p.label);
        s += line;
    }
    return s;
}

SiteLists site(const std::string& dia, const std::string& para) {
    return {read_peak_list(dia, "dia", false), read_peak_list(para, "para", false), {}, {}};
}

TEST(Import, BothFormatsAndWhatCannotBeMeasured) {
    ImportOptions o;
    o.r2 = 20;
    o.delay = 0.01;
    o.noise = 10;
    const Imported a = import_sites({site(sparky(false), sparky(true))}, o);
    const Imported b = import_sites({site(nmrpipe(false), nmrpipe(true))}, o);
    EXPECT_EQ(a.profiles, b.profiles);
    EXPECT_EQ(a.map, b.map);
    // L50 has no paramagnetic peak, I12's is within three noise levels:
    // both broadened beyond detection; the unassigned peak pairs by position.
    std::vector<double> pre;
    for (size_t at = 0; at < a.profiles.size(); at = a.profiles.find('\n', at) + 1)
        pre.push_back(std::stod(a.profiles.substr(a.profiles.find(' ', at) + 1)));
    ASSERT_EQ(pre.size(), 5u);
    EXPECT_NEAR(pre[0], gamma2_from_ratio(0.5, 20, 0.01, 0), 1e-9);
    EXPECT_NEAR(pre[2], gamma2_from_ratio(0.25, 20, 0.01, 0), 1e-9);
    EXPECT_EQ(pre[3], kBroadened);
    EXPECT_EQ(pre[4], kBroadened);
    EXPECT_EQ(a.map.substr(0, a.map.find('\n', a.map.find('\n') + 1)),
              "peak_id\tlabel\theavy_ppm\tproton_ppm\n1\tL23CD1-HD1\t24.812\t0.734");
    // The error: the ratio's, from both noise levels, through the slope.
    const double r = 0.5, sr = r * std::hypot(10.0 / 500, 10.0 / 1000);
    const double err = std::stod(a.profiles.substr(a.profiles.find(' ', a.profiles.find(' ') + 1)));
    EXPECT_NEAR(err, sr / std::fabs(ratio_slope(pre[0], 20, 0.01, 0)), 1e-12);
    // A second site that lacks a peak, and holds one that pairs with nothing.
    std::string dia2 = sparky(false), para2 = sparky(true);
    dia2.erase(dia2.find("      V41"), dia2.find('\n', dia2.find("V41")) - dia2.find("      V41") + 1);
    para2 += "             ?-?      9.000      9.000          777\n";
    const Imported two = import_sites({site(sparky(false), sparky(true)), site(dia2, para2)}, o);
    EXPECT_NE(two.profiles.find("\n2 -999 0 21.903 0.861\n", two.profiles.find("\n5 ")), std::string::npos)
        << two.profiles;
    ASSERT_EQ(two.warnings.size(), 1u);
    EXPECT_EQ(two.warnings[0], "para: 2 paramagnetic peaks pair with no diamagnetic one (0.871/21.953 ppm, 9/9 ppm): left out");
}

TEST(Import, BadListsAreRefused) {
    auto error = [](const std::string& text, bool ratios) {
        try {
            read_peak_list(text, "L", ratios);
        } catch (const Failure& f) {
            return f.message;
        }
        return std::string("no failure");
    };
    EXPECT_EQ(error("      Assignment         w1         w2\n  A1CB-HB 1 2\n", false),
              "L:1: no heights: the list has none of the columns 'Data Height', 'Height', 'Fit Height', 'Volume'");
    EXPECT_EQ(error("VARS X_PPM Y_PPM HEIGHT\n      Assignment w1 w2 Data Height\n", false),
              "L:2: both a Sparky header and NMRPipe's VARS: which list is it?");
    EXPECT_EQ(error(sparky(false) + "      L23CD1-HD1 1 2 3\n", false),
              "L:8: label 'L23CD1-HD1' is given twice (first on line 3)");
    EXPECT_EQ(error("just words\n", false),
              "L:1: neither a Sparky list (an 'Assignment w1 w2 ... Data Height' header) nor an NMRPipe peak table "
              "(a VARS line); a ratio table is given as --ratios");
    EXPECT_EQ(error("12 0.5 0.02 7\n", true), "L:1: 4 fields where a ratio table has 2 or 3");
    // Ratios above 1 or below 0 are usable, and said.
    ImportOptions o;
    o.r2 = 12.6;
    o.delay = 0.01;
    const Imported im =
        import_sites({{read_peak_list("1 1.05\n2 -0.1\n3 nan\n4 0.5 0.02\n", "R", true), {}, {}, {}}}, o);
    EXPECT_EQ(im.profiles.substr(0, im.profiles.find("\n4 ")),
              "1 0 0 23 0\n2 1000 0 23 0\n3 -999 0 23 0");
    ASSERT_EQ(im.warnings.size(), 2u);
    EXPECT_EQ(im.warnings[0], "1 ratios at or above 1 (noise, or no enhancement): their PRE is taken as 0");
}

}  // namespace
