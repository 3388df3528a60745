// import: the inversion exact on a grid, both list formats giving the same
// profiles, and each peak that cannot be measured said for what it is.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

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
    // The ratio at or below 0 is broadened, not also measured.
    ASSERT_FALSE(im.notes.empty());
    EXPECT_NE(im.notes[0].find("4 peaks: 2 measured, 1 broadened beyond detection, 1 without a value"),
              std::string::npos)
        << im.notes[0];
}

// The second and third fields of each profile line: the PRE and its error.
std::vector<std::pair<double, double>> values_of(const std::string& profiles) {
    std::vector<std::pair<double, double>> v;
    for (size_t at = 0; at < profiles.size(); at = profiles.find('\n', at) + 1) {
        const size_t a = profiles.find(' ', at) + 1, b = profiles.find(' ', a) + 1;
        v.emplace_back(std::stod(profiles.substr(a)), std::stod(profiles.substr(b)));
    }
    return v;
}

bool has(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines)
        if (l == line) return true;
    return false;
}

const char* kHead = "      Assignment         w1         w2   Data Height\n\n";

TEST(Import, UnitsThatLookWrongAreSaid) {
    const std::string dia = std::string(kHead) + "  L23CD1-HD1 24.812 0.734 1000\n  V41CG2-HG2 21.903 0.861 800\n";
    const std::string para = std::string(kHead) + "  L23CD1-HD1 24.812 0.734 500\n  V41CG2-HG2 21.903 0.861 400\n";
    ImportOptions o;
    o.r2 = 20;
    const std::string ms = "--delay 10 s is longer than any transverse delay (about 0.01 s is usual): the delay is in "
                           "seconds (10 ms is 0.01)";
    for (double delay : {10.0, 0.1, 0.0109}) {
        o.delay = delay;
        const Imported im = import_sites({site(dia, para)}, o);
        EXPECT_EQ(has(im.warnings, ms), delay == 10.0) << delay;
        EXPECT_EQ(im.warnings.size(), delay == 10.0 ? 1u : 0u) << delay;
    }
    o.delay = 0.11;
    EXPECT_EQ(import_sites({site(dia, para)}, o).warnings.size(), 1u);
    // Percentages where ratios belong: most values above 1.
    o.delay = 0.01;
    auto ratio_warnings = [&](const std::string& table) {
        return import_sites({{read_peak_list(table, "R", true), {}, {}, {}}}, o).warnings;
    };
    EXPECT_TRUE(has(ratio_warnings("1 45\n2 80\n3 100\n4 nan\n5 nan\n"),
                    "R: the ratios look like percentages (median 80, largest 100): a ratio table gives Ipara/Idia, 1 "
                    "for no change; divide them by 100"));
    EXPECT_TRUE(has(ratio_warnings("1 1.2\n2 1.1\n3 50\n4 0.5\n"),
                    "R: the ratios look like percentages (median 1.15, largest 50): a ratio table gives Ipara/Idia, 1 "
                    "for no change; divide them by 100"));
    EXPECT_TRUE(has(ratio_warnings("1 2\n2 3\n3 5\n"),
                    "R: the ratios look like percentages (median 3, largest 5): a ratio table gives Ipara/Idia, 1 "
                    "for no change; divide them by 100"));
    // Noise around 1, or one stray value, is not a percentage.
    EXPECT_EQ(ratio_warnings("1 0.9\n2 1.4\n3 1.6\n").size(), 1u);  // the ratios at or above 1
    EXPECT_EQ(ratio_warnings("1 0.5\n2 0.6\n3 50\n").size(), 1u);
    // Two time points are in seconds too.
    o.ta = 4;
    o.tb = 14;
    EXPECT_TRUE(has(import_sites({{read_peak_list(dia, "dia", false), read_peak_list(para, "para", false),
                                   read_peak_list(dia, "dia_b", false), read_peak_list(para, "para_b", false)}},
                                 o)
                        .warnings,
                    "--delays 4 14 s: longer than any transverse delay (about 0.01 s is usual): the time points are "
                    "in seconds (10 ms is 0.01)"));
}

TEST(Import, OptionValuesSayTheirUnits) {
    const std::string dir = temp_case("", "");
    std::FILE* f = std::fopen((dir + "/l.list").c_str(), "w");
    std::fprintf(f, "%s  L23CD1-HD1 24.812 0.734 1000\n", kHead);
    std::fclose(f);
    const std::vector<std::string> base = {"import", "--site", "l.list", "l.list", "--r2", "20"};
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--delay", "10ms"}, "preassign: --delay: '10ms' is not a number: give seconds, without a unit (10 ms is 0.01) "
                              "(see --help)\n"},
        {{"--delay", "11"}, "preassign: --delay: 11 is above 10 s (see --help)\n"},
        {{"--delay", "0.01", "--noise", "-1"}, "preassign: --noise: -1 is below 0 (see --help)\n"},
        {{"--delay", "0.01", "--mq", "0"}, "preassign: --mq: 0 is not above 0 s^-1 (see --help)\n"},
        {{"--delay", "0.01", "--tolerance", "0", "0.3"}, "preassign: --tolerance: 0 is not above 0 ppm (see --help)\n"},
        {{"--delay", "0.01", "--tolerance", "0.03", "-0.3"},
         "preassign: --tolerance: -0.3 is not above 0 ppm (see --help)\n"},
        {{"--delay", "0.01", "--tolerance", "0.03ppm", "0.3"},
         "preassign: --tolerance: '0.03ppm' is not a number: give ppm, without a unit (see --help)\n"},
        {{"--delays", "4ms", "14ms", "--second", "l.list", "l.list"},
         "preassign: --delays: '4ms' is not a number: give seconds, without a unit (10 ms is 0.01) (see --help)\n"},
        {{"--delays", "0.014", "0.004", "--second", "l.list", "l.list"},
         "preassign: --delays: the second time point must be the later (see --help)\n"},
        {{"--site", "l.list", "l.list", "--delays", "0.004", "0.014", "--second", "l.list", "l.list"},
         "preassign: --delays needs --second DIA PARA for each --site, in the same order (see --help)\n"},
    };
    for (const auto& [extra, message] : cases) {
        std::vector<std::string> args = base;
        args.insert(args.end(), extra.begin(), extra.end());
        const Proc p = run_binary(args, "", dir);
        EXPECT_EQ(p.status, 2) << message;
        EXPECT_EQ(p.err, message);
        EXPECT_EQ(p.out, "");
    }
}

TEST(Import, EmptyFlippedAndUnmetLists) {
    ImportOptions o;
    o.r2 = 20;
    o.delay = 0.01;
    const std::string dia = std::string(kHead) + "  L23CD1-HD1 24.812 0.734 1000\n  V41CG2-HG2 21.903 0.861 800\n";
    // A list with no peaks is a wrong file, whichever place it takes.
    EXPECT_EQ(failure([&] { import_sites({site(dia, kHead)}, o); }),
              "para: holds no peaks: a paramagnetic list shows at least the peaks far from the label; is it the "
              "right file?");
    EXPECT_EQ(failure([&] {
                  import_sites({site(dia, dia), {read_peak_list(kHead, "dia2", false),
                                                 read_peak_list(dia, "para2", false), {}, {}}},
                               o);
              }),
              "dia2: holds no peaks");
    EXPECT_EQ(failure([&] {
                  import_sites({{read_peak_list("1 0.5\n", "R1", true), {}, {}, {}},
                                {read_peak_list("# nothing\n", "R2", true), {}, {}, {}}},
                               o);
              }),
              "R2: holds no ratios");
    // Every height negative: a phase flip, said once.
    const std::string flipped =
        std::string(kHead) + "  L23CD1-HD1 24.812 0.734 -500\n  V41CG2-HG2 21.903 0.861 -400\n";
    Imported im = import_sites({site(dia, flipped)}, o);
    EXPECT_EQ(im.warnings, std::vector<std::string>{"para: every height is 0 or below (a spectrum phased upside down?): "
                                                    "every peak of this site is taken as broadened beyond detection"});
    EXPECT_EQ(im.profiles, "1 1000 0 24.812 0.734\n2 1000 0 21.903 0.861\n");
    // Heights of 0 are no more a peak than negative ones.
    EXPECT_EQ(import_sites({site(dia, std::string(kHead) + "  L23CD1-HD1 24.812 0.734 0\n  V41CG2-HG2 21.903 0.861 -4\n")}, o)
                  .warnings,
              im.warnings);
    // One negative height among positive ones is a peak lost in the noise, not a flip.
    im = import_sites({site(dia, std::string(kHead) + "  L23CD1-HD1 24.812 0.734 500\n  V41CG2-HG2 21.903 0.861 -4\n")},
                      o);
    EXPECT_EQ(im.warnings.size(), 0u);
    EXPECT_EQ(values_of(im.profiles).at(1), std::make_pair(kBroadened, 0.0));
    // Lists that never meet: every peak would be broadened.
    const std::string elsewhere = std::string(kHead) + "  ?-? 30.0 2.0 500\n  ?-? 31.0 2.5 400\n";
    im = import_sites({site(std::string(kHead) + "  ?-? 24.812 0.734 1000\n  ?-? 21.903 0.861 800\n", elsewhere)}, o);
    EXPECT_TRUE(has(im.warnings, "site 1 (dia, para): no peak measured, all 2 taken as broadened beyond detection: "
                                 "check that the lists are of one sample, their axes, and --tolerance"))
        << im.warnings.size();
    // A second site's peak that the first site's list lacks is named.
    const std::string dia2 = dia + "  X99CD1-HD1 20.000 0.500 700\n";
    im = import_sites({site(dia, dia), {read_peak_list(dia2, "dia2", false), read_peak_list(dia2, "para2", false), {}, {}}},
                      o);
    EXPECT_TRUE(has(im.warnings, "dia2: 1 peaks match none of dia, whose peaks are the ids (X99CD1-HD1): left out"));
    // A ratio table's site says what it lacks in its own words.
    im = import_sites({{read_peak_list("1 0.5\n2 0.6\n", "R1", true), {}, {}, {}},
                       {read_peak_list("1 0.4\n", "R2", true), {}, {}, {}}},
                      o);
    ASSERT_EQ(im.notes.size(), 3u);
    EXPECT_EQ(im.notes[1], "site 2 (R2): 2 peaks: 1 measured, 0 broadened beyond detection, 1 not in this site's ratio "
                           "table");
}

TEST(Import, ValuesNoFileCanCarryAreNotWritten) {
    ImportOptions o;
    o.r2 = 20;
    o.delay = 0.01;
    const std::string head = "VARS X_PPM Y_PPM HEIGHT DHEIGHT ASS\n";
    // A diamagnetic peak far within its noise: its error would be infinite.
    Imported im = import_sites({site(head + "0.7 20 1e-10 1e300 A1\n0.8 21 1000 10 A2\n",
                                     head + "0.7 20 0.5e-10 1e-30 A1\n0.8 21 500 10 A2\n")},
                               o);
    auto v = values_of(im.profiles);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0], std::make_pair(-999.0, 0.0));
    EXPECT_NE(v[1].first, -999.0);
    EXPECT_EQ(im.warnings, std::vector<std::string>{"dia: 1 peaks whose PRE or error is not a finite number (A1; "
                                                    "heights or noise out of scale?): written as not measured (-999)"});
    // Within three noise levels, but finite: measured, with its large error.
    im = import_sites({site(head + "0.7 20 29 10 A1\n", head + "0.7 20 20 1 A1\n")}, o);
    EXPECT_NE(values_of(im.profiles)[0].first, -999.0);
    // A ratio of 1e300 / 1e-300 overflows, and so does its error.
    im = import_sites({site(head + "0.7 20 1e-300 1e-301 A1\n0.8 21 1000 10 A2\n",
                            head + "0.7 20 1e300 1e200 A1\n0.8 21 500 10 A2\n")},
                      o);
    v = values_of(im.profiles);
    EXPECT_EQ(v[0], std::make_pair(-999.0, 0.0));
    EXPECT_TRUE(has(im.warnings, "dia: 1 peaks whose PRE or error is not a finite number (A1; heights or noise out "
                                 "of scale?): written as not measured (-999)"));
    EXPECT_NE(im.notes[0].find("1 measured"), std::string::npos) << im.notes[0];
    im = import_sites({{read_peak_list("1 1e-300 1e300\n2 0.5 0.01\n", "R", true), {}, {}, {}}}, o);
    EXPECT_EQ(values_of(im.profiles)[0], std::make_pair(-999.0, 0.0));
}

TEST(Import, LabelledPartnersFarApartAreNamed) {
    ImportOptions o;
    o.r2 = 20;
    o.delay = 0.01;
    const std::string dia = std::string(kHead) + "  L23CD1-HD1 24.812 0.734 1000\n  V41CG2-HG2 21.903 0.861 800\n";
    auto para = [](double heavy) {
        char line[80];
        std::snprintf(line, sizeof line, "  L23CD1-HD1 %.3f 0.734 500\n", heavy);
        return std::string(kHead) + line + "  V41CG2-HG2 21.903 0.861 400\n";
    };
    // 10 ppm off in 13C: paired by its label still, and said.
    Imported im = import_sites({site(dia, para(34.812))}, o);
    EXPECT_EQ(im.warnings, std::vector<std::string>{"para: 1 peaks paired by label lie more than 5 tolerances from "
                                                    "their partner in dia (L23CD1-HD1: 0.734/34.812 against "
                                                    "0.734/24.812 ppm): paired all the same; check the labels"});
    EXPECT_NE(values_of(im.profiles)[0].first, kBroadened);
    // 6 tolerances (1.8 ppm) is named; 4.9 (1.47 ppm) is a shift to let pass.
    EXPECT_EQ(import_sites({site(dia, para(26.612))}, o).warnings.size(), 1u);
    EXPECT_EQ(import_sites({site(dia, para(26.282))}, o).warnings.size(), 0u);
    // The tolerances scale the distance: with 2 ppm allowed in 13C, 10 ppm is 5 of them.
    o.tol_x = 2.0;
    EXPECT_EQ(import_sites({site(dia, para(34.0))}, o).warnings.size(), 0u);
    // In 1H, 0.2 ppm is 6.7 tolerances of 0.03.
    o.tol_x = 0.3;
    std::string off = para(24.812);
    off.replace(off.find("0.734"), 5, "0.934");
    EXPECT_EQ(import_sites({site(dia, off)}, o).warnings.size(), 1u);
    // A second site's diamagnetic list is paired with the first's by label too.
    im = import_sites({site(dia, dia), {read_peak_list(para(34.812), "dia2", false), read_peak_list(dia, "para2", false),
                                        {}, {}}},
                      o);
    EXPECT_TRUE(has(im.warnings, "dia2: 1 peaks paired by label lie more than 5 tolerances from their partner in dia "
                                 "(L23CD1-HD1: 0.734/34.812 against 0.734/24.812 ppm): paired all the same; check the "
                                 "labels"));
}

TEST(Import, TwoTimePointsCheckBothPoints) {
    ImportOptions o;
    o.ta = 0.004;
    o.tb = 0.014;
    o.noise = 10;
    auto list = [](double a, double b, double c, double d) {
        char text[400];
        std::snprintf(text, sizeof text,
                      "%s  A1CB-HB 20.0 1.0 %g\n  A2CB-HB 21.0 1.1 %g\n  A3CB-HB 22.0 1.2 %g\n  A4CB-HB 23.0 1.3 %g\n",
                      kHead, a, b, c, d);
        return std::string(text);
    };
    auto import = [&](const std::string& dia_b, const std::string& para_b) {
        return import_sites({{read_peak_list(list(1000, 1000, 1000, 1000), "dia", false),
                              read_peak_list(list(500, 500, 500, 500), "para", false),
                              read_peak_list(dia_b, "dia_b", false), read_peak_list(para_b, "para_b", false)}},
                            o);
    };
    // At Tb: a fair peak, a negative one, one of height 0, one within three noise levels.
    const Imported im = import(list(800, 800, 800, 800), list(200, -50, 0, 20));
    const auto v = values_of(im.profiles);
    ASSERT_EQ(v.size(), 4u);
    // ln(800 * 500 / (1000 * 200)) / 0.01 s = ln 2 / 0.01; the error from the
    // four relative errors 1/100, 1/50, 1/80, 1/20 in quadrature, over 0.01 s.
    EXPECT_NEAR(v[0].first, 69.31471805599453, 1e-9);
    EXPECT_NEAR(v[0].second, 5.618051263561059, 1e-9);
    for (size_t i = 1; i < 4; ++i) EXPECT_EQ(v[i], std::make_pair(kBroadened, 0.0)) << i;
    EXPECT_NE(im.notes[0].find("4 peaks: 1 measured"), std::string::npos) << im.notes[0];
    EXPECT_NE(im.notes[0].find("3 broadened beyond detection"), std::string::npos) << im.notes[0];
    // Without noise levels, a height of 0 or below at Tb is what marks the peak as gone.
    o.noise = 0;
    const auto quiet = values_of(import(list(800, 800, 800, 800), list(200, -50, 0, 20)).profiles);
    EXPECT_NEAR(quiet[0].first, 69.31471805599453, 1e-9);
    EXPECT_EQ(quiet[0].second, 0.0);
    EXPECT_EQ(quiet[1], std::make_pair(kBroadened, 0.0));
    EXPECT_EQ(quiet[2], std::make_pair(kBroadened, 0.0));
    // ln(800 * 500 / (1000 * 20)) / 0.01 s = ln 20 / 0.01
    EXPECT_NEAR(quiet[3].first, 299.5732273553991, 1e-9);
    o.noise = 10;
    // A diamagnetic height of 0 at Tb cannot be divided by.
    EXPECT_EQ(failure([&] { import(list(800, 0, 800, 800), list(200, 200, 200, 200)); }),
              "dia_b:4: a diamagnetic height of 0 or less cannot be divided by");
}

TEST(Import, NmrPipeAxesByNucleusAndShifts) {
    auto table = [](const std::string& data, double x1, double y1, double x2, double y2) {
        char rows[300];
        std::snprintf(rows, sizeof rows,
                      "VARS   INDEX X_PPM Y_PPM XW_HZ YW_HZ HEIGHT ASS\nFORMAT %%5d %%8.3f %%8.3f %%6.1f %%6.1f %%+e %%s\n"
                      "1 %.3f %.3f 25.0 15.0 +1.0e+05 G12N-H\n2 %.3f %.3f 30.0 18.0 +2.0e+05 *\n",
                      x1, y1, x2, y2);
        return data + rows;
    };
    struct Case {
        std::string data;
        bool x_is_proton;
        std::string note;
    } cases[] = {
        {"DATA X_AXIS HN 1 1024 10ppm 6ppm\nDATA Y_AXIS 15N 1 256 130ppm 100ppm\n", true, ""},
        {"DATA X_AXIS H1 1 1024 10ppm 6ppm\n", true, ""},
        {"DATA X_AXIS 15N 1 256 130ppm 100ppm\n", false, ""},
        {"DATA Y_AXIS HN 1 1024 10ppm 6ppm\n", false, ""},
        {"", false, "no DATA line names the axes; the shifts put 1H on Y (its ppm the smaller): read so"},
        // Labels that contradict the shifts: the shifts win, and say so.
        {"DATA X_AXIS 1H 1 1024 10ppm 6ppm\nDATA Y_AXIS 15N 1 1024 10ppm 6ppm\n", false,
         "the DATA lines name X '1H' and Y '15N'; the shifts put 1H on Y (its ppm the smaller): read so"},
    };
    for (const Case& c : cases) {
        // The shifts as the axes truly are: 1H near 8, 15N near 120.
        const std::string text = c.x_is_proton ? table(c.data, 8.25, 120.5, 7.9, 115.2) : table(c.data, 120.5, 8.25, 115.2, 7.9);
        const PeakList l = read_peak_list(text, "T", false);
        ASSERT_EQ(l.peaks.size(), 2u) << c.data;
        EXPECT_EQ(l.peaks[0].proton, 8.25) << c.data;
        EXPECT_EQ(l.peaks[0].heavy, 120.5) << c.data;
        EXPECT_EQ(l.peaks[1].proton, 7.9) << c.data;
        EXPECT_EQ(l.peaks[0].width_hz, c.x_is_proton ? 25.0 : 15.0) << c.data;
        EXPECT_EQ(l.notes, c.note.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.note}) << c.data;
    }
    // Methyl shifts with axes named by no nucleus: 1H on X by default and by its shifts.
    const PeakList m = read_peak_list(table("DATA X_AXIS F2 1 512 2ppm 0ppm\n", 0.734, 24.812, 0.861, 21.903), "M", false);
    EXPECT_EQ(m.peaks[0].proton, 0.734);
    EXPECT_TRUE(m.notes.empty());
    // An amide pair named HN/15N, the paramagnetic list unassigned and 0.01 ppm off
    // in 1H: paired by position, measured, not broadened.
    const std::string axes = "DATA X_AXIS HN 1 1024 10ppm 6ppm\nDATA Y_AXIS 15N 1 256 130ppm 100ppm\n";
    std::string para = table(axes, 8.26, 120.6, 7.91, 115.3);
    para.replace(para.find("G12N-H"), 6, "*");
    ImportOptions o;
    o.r2 = 20;
    o.delay = 0.01;
    const Imported im = import_sites({{read_peak_list(table(axes, 8.25, 120.5, 7.9, 115.2), "dia", false),
                                       read_peak_list(para, "para", false), {}, {}}},
                                     o);
    const auto v = values_of(im.profiles);
    ASSERT_EQ(v.size(), 2u);
    // Heights equal on both sides: ratio 1, PRE 0.
    EXPECT_EQ(v[0].first, 0.0);
    EXPECT_EQ(v[1].first, 0.0);
    EXPECT_NE(im.notes[0].find("2 measured"), std::string::npos) << im.notes[0];
}

TEST(Import, IntensityColumnsAndRatioTablesAsToolsWriteThem) {
    struct Case {
        const char* text;
        double height;
        std::vector<std::string> notes;
    } cases[] = {
        {"Assignment w1 w2 Data Height\n L1CD1-HD1 24.8 0.7 1000\n", 1000, {}},
        {"Assignment w1 w2 Height\n L1CD1-HD1 24.8 0.7 1000\n", 1000, {"intensities from the 'Height' column"}},
        {"Assignment\tw1\tw2\tFit Height\n L1CD1-HD1\t24.8\t0.7\t2e3\n", 2000,
         {"intensities from the 'Fit Height' column"}},
        {"Assignment w1 w2 Volume\n\n L1CD1-HD1 24.8 0.7 3.2e+06 ge\n", 3.2e6,
         {"intensities from the 'Volume' column"}},
        {"Assignment w1 w2 Data Height Volume S/N\n L1CD1-HD1 24.8 0.7 1000 3.2e+06 ge 50\n", 1000,
         {"intensities from the 'Data Height' column (not 'Volume')"}},
        {"Assignment w1 w2 Fit Height Volume\n L1CD1-HD1 24.8 0.7 1500 3.2e+06\n", 1500,
         {"intensities from the 'Fit Height' column (not 'Volume')"}},
    };
    for (const Case& c : cases) {
        const PeakList l = read_peak_list(c.text, "S", false);
        ASSERT_EQ(l.peaks.size(), 1u) << c.text;
        EXPECT_EQ(l.peaks[0].height, c.height) << c.text;
        EXPECT_EQ(l.peaks[0].heavy, 24.8) << c.text;
        EXPECT_EQ(l.notes, c.notes) << c.text;
    }
    EXPECT_EQ(read_peak_list(cases[4].text, "S", false).peaks[0].noise, 20.0);  // 1000 / 50
    const PeakList vol = read_peak_list("VARS X_PPM Y_PPM VOL ASS\n0.7 24.8 3.5e6 L1CD1-HD1\n", "T", false);
    EXPECT_EQ(vol.peaks.at(0).height, 3.5e6);
    EXPECT_EQ(vol.notes, std::vector<std::string>{"intensities from the 'VOL' column (VARS names no HEIGHT)"});
    // Ratio tables with a header line, commas, tabs, CRLF.
    for (const char* text : {"residue ratio error\n12 0.5 0.02\n13 nan\n", "12,0.5,0.02\n13,nan\n",
                             "label,ratio,error\r\n12, 0.5, 0.02\r\n13, nan\r\n", "12\t0.5\t0.02\n13\tnan\t\n"}) {
        const PeakList l = read_peak_list(text, "R", true);
        ASSERT_EQ(l.peaks.size(), 2u) << text;
        EXPECT_EQ(l.peaks[0].label, "12") << text;
        EXPECT_EQ(l.peaks[0].height, 0.5) << text;
        EXPECT_EQ(l.peaks[0].noise, 0.02) << text;
        EXPECT_FALSE(l.peaks[1].has_value) << text;
        EXPECT_EQ(l.notes.size(), std::string(text).find("ratio") != std::string::npos ? 1u : 0u) << text;
    }
    EXPECT_EQ(read_peak_list("residue ratio\n12 0.5\n", "R", true).notes,
              std::vector<std::string>{"line 1 read as a header"});
    // Only the first row may be a header; a value with a unit says what is wanted.
    EXPECT_EQ(failure([] { read_peak_list("12 0.5\nresidue ratio\n", "R", true); }),
              "R:2: expected a number (the ratio Ipara/Idia, without a unit), found 'ratio'");
    EXPECT_EQ(failure([] { read_peak_list("12 45%\n", "R", true); }),
              "R:1: expected a number (the ratio Ipara/Idia, without a unit), found '45%'");
    EXPECT_EQ(failure([] { read_peak_list("12 inf\n", "R", true); }),
              "R:1: expected a number (the ratio Ipara/Idia, without a unit), found 'inf'");
    EXPECT_EQ(failure([] { read_peak_list("Assignment w1 w2 Height\n A1 20ppm 1 5\n", "S", false); }),
              "S:2: expected a number (w1, ppm), found '20ppm'");
}

TEST(Import, CommandSaysWhichColumnItRead) {
    const std::string dir = temp_case("", "");
    for (const char* name : {"dia.list", "para.list"}) {
        std::FILE* f = std::fopen((dir + "/" + name).c_str(), "w");
        std::fputs("Assignment w1 w2 Volume\n L23CD1-HD1 24.812 0.734 1000 ge\n", f);
        std::fclose(f);
    }
    const Proc p = run_binary({"import", "--site", "dia.list", "para.list", "--r2", "20", "--delay", "0.01"}, "", dir);
    EXPECT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.err.substr(0, p.err.find("preassign: import: site")),
              "preassign: import: dia.list: intensities from the 'Volume' column\n"
              "preassign: import: para.list: intensities from the 'Volume' column\n");
    EXPECT_EQ(p.out, "1 0 0 24.812 0.734\n");
}

TEST(Import, RunWarnsOfNegativeMeasuredPres) {
    const std::string sim = "1 10 1\n2 20 2\n3 5 1\n";
    Proc p = run_binary({"sim.txt", "obs.txt"}, "", temp_case(sim, "1 20 1 23 1\n2 -999 1 23 1\n3 -5 1 23 1\n"));
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.err.substr(0, p.err.find("Initializing")),
              "preassign: warning: obs.txt:3: measured PRE -5 is below 0 and not -999, the mark for no value: it is "
              "used as a measurement (1 such value in the file)\n");
    p = run_binary({"sim.txt", "obs.txt"}, "", temp_case(sim, "1 -0.5 1 23 1\n2 -999 1 23 1\n3 -998 1 23 1\n"));
    EXPECT_EQ(p.err.substr(0, p.err.find("Initializing")),
              "preassign: warning: obs.txt:1: measured PRE -0.5 is below 0 and not -999, the mark for no value: it is "
              "used as a measurement (2 such values in the file)\n");
    // -999 alone, and 0, are no cause.
    p = run_binary({"sim.txt", "obs.txt"}, "", temp_case(sim, "1 0 1 23 1\n2 -999 1 23 1\n3 5 1 23 1\n"));
    EXPECT_EQ(p.err.substr(0, p.err.find("Initializing")), "");
}

// The one-point ratio written out: R2 exp(-G t) / (R2 + G), times
// Rmq / (Rmq + G) in the methyl-TROSY form; and the error through its slope.
double ratio_by_hand(double g, double r2, double t, double mq) {
    return r2 * std::exp(-g * t) / (r2 + g) * (mq > 0 ? mq / (mq + g) : 1.0);
}
double slope_by_hand(double g, double r2, double t, double mq) {
    return -ratio_by_hand(g, r2, t, mq) * (t + 1 / (r2 + g) + (mq > 0 ? 1 / (mq + g) : 0.0));
}

std::string with_height(const char* head, const char* row, double h) {
    char line[200];
    std::snprintf(line, sizeof line, row, h);
    return std::string(head) + line;
}

TEST(Import, OnePointValuesByHand) {
    // R2 from the 1H linewidth (lw2, w2 being 1H): pi * 10 Hz; Gamma2 50 s^-1
    // put into the paramagnetic height, taken out again.
    const char* head = "Assignment w1 w2 lw1 (hz) lw2 (hz) Data Height\n";
    const char* row = " L1CD1-HD1 24.8 0.7 30.0 10.0 %.17g\n";
    ImportOptions o;
    o.delay = 0.01;
    o.noise = 10;
    for (double mq : {0.0, 40.0}) {
        o.r2_mq = mq;
        const double r2 = M_PI * 10, ratio = ratio_by_hand(50, r2, 0.01, mq);
        const Imported im = import_sites({site(with_height(head, row, 1000), with_height(head, row, 1000 * ratio))}, o);
        const auto v = values_of(im.profiles);
        ASSERT_EQ(v.size(), 1u);
        EXPECT_NEAR(v[0].first, 50.0, 1e-6) << mq;
        const double sr = ratio * std::hypot(10 / (1000 * ratio), 10.0 / 1000);
        EXPECT_NEAR(v[0].second, sr / -slope_by_hand(50, r2, 0.01, mq), 1e-8 * v[0].second) << mq;
    }
    // A ratio table: its own error before --noise; a ratio of 0 is broadened.
    o.r2 = 12.6;
    o.r2_mq = 0;
    o.noise = 0.05;
    char table[200];
    std::snprintf(table, sizeof table, "1 0\n2 %.17g 0.02\n3 %.17g\n", ratio_by_hand(30, 12.6, 0.01, 0),
                  ratio_by_hand(30, 12.6, 0.01, 0));
    const auto v = values_of(import_sites({{read_peak_list(table, "R", true), {}, {}, {}}}, o).profiles);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0], std::make_pair(kBroadened, 0.0));
    EXPECT_NEAR(v[1].first, 30.0, 1e-6);
    EXPECT_NEAR(v[1].second, 0.02 / -slope_by_hand(30, 12.6, 0.01, 0), 1e-8 * v[1].second);
    EXPECT_NEAR(v[2].second, 0.05 / -slope_by_hand(30, 12.6, 0.01, 0), 1e-8 * v[2].second);
}

TEST(Import, PairingByPositionNearestFirstWithinTolerance) {
    // 0.03 ppm 1H and 0.3 ppm 13C. A1 and A2 lie 0.02 ppm apart: the peak at
    // 1.015 is A2's (0.17 tolerances against 0.5), which leaves 0.985 to A1.
    // A3's partner is 1.33 tolerances off in 1H, A4's 1.67 in 13C: none.
    // A5 and B7 carry different labels: different peaks, though at one place.
    const std::string dia = std::string(kHead) +
                            " A1CB-HB 20.0 1.000 1000\n A2CB-HB 20.0 1.020 1000\n A3CB-HB 30.0 2.000 1000\n"
                            " A4CB-HB 40.0 3.000 1000\n A5CB-HB 50.0 4.000 1000\n";
    const std::string para = std::string(kHead) +
                             " ?-? 20.0 1.015 500\n ?-? 20.0 0.985 250\n ?-? 30.0 2.040 500\n"
                             " ?-? 40.5 3.000 500\n B7CB-HB 50.0 4.000 500\n";
    ImportOptions o;
    o.r2 = 20;
    o.delay = 0.01;
    const Imported im = import_sites({site(dia, para)}, o);
    const auto v = values_of(im.profiles);
    ASSERT_EQ(v.size(), 5u);
    EXPECT_NEAR(ratio_by_hand(v[0].first, 20, 0.01, 0), 0.25, 1e-9);
    EXPECT_NEAR(ratio_by_hand(v[1].first, 20, 0.01, 0), 0.5, 1e-9);
    for (size_t i = 2; i < 5; ++i) EXPECT_EQ(v[i].first, kBroadened) << i;
    EXPECT_EQ(im.warnings, std::vector<std::string>{"para: 3 paramagnetic peaks pair with no diamagnetic one (2.04/30 "
                                                    "ppm, 3/40.5 ppm, B7CB-HB): left out"});
}

TEST(Import, TwoTimePointsFromZeroAndNeverNegative) {
    // Ta = 0 is a time point like any other. A2's ratio grows from 0.5 to
    // 0.625 (noise): ln 0.8 / 0.01 s is below 0, taken as 0.
    auto list = [](double a, double b) {
        char text[200];
        std::snprintf(text, sizeof text, "%s  A1CB-HB 20.0 1.0 %g\n  A2CB-HB 21.0 1.1 %g\n", kHead, a, b);
        return std::string(text);
    };
    ImportOptions o;
    o.ta = 0;
    o.tb = 0.01;
    const Imported im = import_sites({{read_peak_list(list(1000, 1000), "dia", false),
                                       read_peak_list(list(500, 500), "para", false),
                                       read_peak_list(list(800, 800), "dia_b", false),
                                       read_peak_list(list(200, 500), "para_b", false)}},
                                     o);
    const auto v = values_of(im.profiles);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_NEAR(v[0].first, 69.31471805599453, 1e-9);  // ln 2 / 0.01 s
    EXPECT_EQ(v[1], std::make_pair(0.0, 0.0));
}

TEST(Import, ListFieldsAsTheFormatsMeanThem) {
    // Noise from S/N and DHEIGHT is a size, whatever the height's sign.
    EXPECT_EQ(read_peak_list("Assignment w1 w2 Data Height S/N\n A1CB-HB 20 1 -500 25\n", "S", false).peaks.at(0).noise,
              20.0);
    EXPECT_EQ(read_peak_list("VARS X_PPM Y_PPM HEIGHT DHEIGHT\n1 20 -500 -10\n", "T", false).peaks.at(0).noise, 10.0);
    // The 1H linewidth is lw2's, w2 being the 1H axis.
    EXPECT_EQ(read_peak_list("Assignment w1 w2 lw1 (hz) lw2 (hz) Data Height\n A1CB-HB 20 1 30 12 500\n", "S", false)
                  .peaks.at(0)
                  .width_hz,
              12.0);
    // Methyl shifts, 1H on Y, no DATA lines: 13C lies 22 ppm above 1H, enough to tell.
    const PeakList m = read_peak_list("VARS X_PPM Y_PPM HEIGHT\n24.812 0.734 1000\n21.903 0.861 800\n", "M", false);
    EXPECT_EQ(m.peaks.at(0).proton, 0.734);
    EXPECT_EQ(m.peaks.at(0).heavy, 24.812);
    EXPECT_EQ(m.notes, std::vector<std::string>{"no DATA line names the axes; the shifts put 1H on Y (its ppm the "
                                                "smaller): read so"});
    // The ways lists write "unassigned" give no label, so no two peaks share one.
    const PeakList u = read_peak_list("Assignment w1 w2 Data Height\n None 20 1 5\n ? 21 1 5\n - 22 1 5\n * 23 1 5\n"
                                      " ?-? 24 1 5\n",
                                      "S", false);
    ASSERT_EQ(u.peaks.size(), 5u);
    for (const Peak& p : u.peaks) EXPECT_EQ(p.label, "") << p.line;
    EXPECT_EQ(failure([] { read_peak_list("Assignment w1 w2 w3 Data Height\n A1 20 1 5 100\n", "S", false); }),
              "S:1: a 3D list (w3): give a 2D list, 13C or 15N in w1 and 1H in w2");
}

}  // namespace
