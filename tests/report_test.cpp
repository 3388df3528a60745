// The exact text of the reports.
#include <gtest/gtest.h>

#include "report/report.h"
#include "report/table.h"

namespace {

struct Reported {
    std::string out, err;
};

Reported report(const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs, Shape shape) {
    Out out, err;
    write_reports(s, sim, obs, shape, out, err);
    out.flush();
    err.flush();
    return {out.text, err.text};
}

CAnnealingSampler finished(std::vector<int> assign) {
    CAnnealingSampler s;
    s.visits.assign(size_t(kMaxEntries) * kMaxEntries, 0.0);
    s.assign = std::move(assign);
    s.ncool = 6214605;
    s.nstat = 1000001;
    return s;
}

const char* kSteps =
    "number of steps for cooling         : 6214605\n"
    "number of steps for equilibration   : 10000\n"
    "number of steps for statistics      : 1000000\n";

TEST(Report, NoPeaks) {
    auto sim = make_table(), obs = make_table();
    Reported r = report(finished({}), *sim, *obs, Shape{3, 0});
    EXPECT_EQ(r.err, "FINAL results:  Most probable assigment for each peak id\n");
    EXPECT_EQ(r.out, std::string("\n\n\n     \n") + kSteps);
}

TEST(Report, DetailListAndTable) {
    auto sim = make_table(), obs = make_table();
    for (int i = 0; i < 3; ++i) {
        (*sim)[0].id[i] = 10 + i;
        (*sim)[1].id[i] = 20 + i;
        (*obs)[0].id[i] = 101 + i;
        (*obs)[1].id[i] = 201 + i;
        (*sim)[0].pre[i] = 0.5 * i;
        (*sim)[1].pre[i] = 1234567;
        (*obs)[0].pre[i] = 1.0 / 3;
        (*obs)[1].pre[i] = -999;
        (*obs)[0].type_value[i] = 24.5;
        (*obs)[1].type_value[i] = 1e-5;
    }
    (*sim)[0].restype[1] = 1;
    (*sim)[1].restype[1] = 2;
    (*sim)[0].restype[2] = 7;
    CAnnealingSampler s = finished({1, 0, 1});
    s.visit(0, 1) = 1000000;
    s.visit(1, 0) = 505000;
    s.visit(1, 2) = 495000;
    s.visit(2, 1) = 333333;
    s.visit(2, 2) = 666667;  // most probable is not what assign says: the report shows assign
    Reported r = report(s, *sim, *obs, Shape{2, 3});
    EXPECT_EQ(r.err,
              "FINAL results:  Most probable assigment for each peak id\n"
              "profile: 0 peak id: 101 res assign: 11   PRE sim vs obs:    0.5 ?= 0.333333 Probability:  1      24.5 Leu\n"
              "profile: 1 peak id: 201 res assign: 21   PRE sim vs obs:    1.23457e+06 ?= -999 Probability:  1      1e-05 Val\n"
              "\n"
              "profile: 0 peak id: 102 res assign: 10   PRE sim vs obs:    0 ?= 0.333333 Probability:  0.505      24.5 \n"
              "profile: 1 peak id: 202 res assign: 20   PRE sim vs obs:    1.23457e+06 ?= -999 Probability:  0.505      1e-05 \n"
              "\n"
              "profile: 0 peak id: 103 res assign: 11   PRE sim vs obs:    0.5 ?= 0.333333 Probability:  0.333333      24.5 Leu\n"
              "profile: 1 peak id: 203 res assign: 21   PRE sim vs obs:    1.23457e+06 ?= -999 Probability:  0.333333      1e-05 Val\n"
              "\n");
    EXPECT_EQ(r.out, std::string("1 0 1 \n\n\n"
                                 "        10    11    12 \n"
                                 " 101  0.00  1.00  0.00 \n"
                                 " 102  0.51  0.00  0.49 \n"
                                 " 103  0.00  0.33  0.67 \n") +
                         kSteps);
}

TEST(Report, NoProfilesLeavesOnlyEmptyLinesPerPeak) {
    auto sim = make_table(), obs = make_table();
    CAnnealingSampler s = finished({1, 0});
    s.visit(0, 1) = s.visit(1, 0) = 1000000;
    Reported r = report(s, *sim, *obs, Shape{0, 2});
    EXPECT_EQ(r.err, "FINAL results:  Most probable assigment for each peak id\n\n\n");
    EXPECT_EQ(r.out, std::string("1 0 \n\n\n         0     0 \n   0  0.00  1.00 \n   0  1.00  0.00 \n") + kSteps);
}

// Frequencies that are not all 0 or 1, and typed residues: every column of
// the table has something to get wrong.
TEST(Report, TableColumns) {
    auto sim = make_table(), obs = make_table();
    for (int i = 0; i < 3; ++i) {
        (*sim)[0].id[i] = 10 + i;
        (*obs)[0].id[i] = 101 + i;
    }
    (*sim)[0].restype[0] = 1;  // Leu
    (*sim)[0].restype[1] = 2;  // Val
    (*obs)[0].type_value[0] = 20;  // below the Leu window
    (*obs)[0].type_value[1] = 22;
    (*obs)[0].type_value[2] = 25;
    CAnnealingSampler s = finished({0, 1, 2});
    s.visit(0, 0) = 500000;
    s.visit(0, 1) = 300000;
    s.visit(0, 2) = 200000;
    s.visit(1, 1) = 1000000;
    s.visit(2, 0) = 400000;
    s.visit(2, 2) = 600000;
    EXPECT_EQ(results_table(s, *sim, *obs, Shape{1, 3}, TableColumns{true, {2, 1, 0}, nullptr, {}}),
              "peak_index\tpeak_id\tresidue_index\tresidue_number\tfrequency\trunner_up_residue_number\t"
              "runner_up_frequency\tentropy\ttype_check\toptimal_residue_number\n"
              "0\t101\t0\t10\t0.5\t11\t0.3\t1.0296530140645737\tpenalised\t12\n"
              "1\t102\t1\t11\t1\t\t\t0\tok\t11\n"
              "2\t103\t2\t12\t0.6\t10\t0.4\t0.6730116670092565\t\t10\n");
}

}  // namespace
