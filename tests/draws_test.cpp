// Label draws: the file is split where its marks are, with the file's line
// numbers kept; a draw that lists other residues is refused; the posterior
// is the mean of the draws' posteriors, and as settled as the least settled;
// a run weighs each draw with the best fit's error model.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

#include "driver/draws.h"
#include "io/failure.h"
#include "support.h"

namespace {

TEST(LabelDraws, AreSplitWhereTheirMarksAreAndCheckedAgainstTheSimulatedFile) {
    auto texts = [](const std::vector<Draw>& d) {
        std::vector<std::pair<int, std::string>> out;
        for (const Draw& x : d) out.push_back({x.first_line, x.text});
        return out;
    };
    EXPECT_EQ(texts(split_draws("# draw 1 of 2\n1 5 1\n2 6 0\n# draw 2 of 2\n1 7 1\n", "d.txt")),
              (std::vector<std::pair<int, std::string>>{{2, "1 5 1\n2 6 0\n"}, {5, "1 7 1\n"}}));
    EXPECT_EQ(texts(split_draws("\n# draw 1 of 1\n1 5 1", "d.txt")),
              (std::vector<std::pair<int, std::string>>{{3, "1 5 1\n"}}));
    // Marks alone: each an empty draw, and no more memory than the file's.
    std::string marks;
    for (int k = 0; k < 20000; ++k) marks += "# draw \n";
    const std::vector<Draw> empty = split_draws(marks, "d.txt");
    ASSERT_EQ(empty.size(), 20000u);
    EXPECT_EQ(empty.back().first_line, 20001);
    EXPECT_EQ(empty.back().text, "");
    EXPECT_EQ(failure([] { split_draws("1 5 1\n# draw 1 of 1\n", "d.txt"); }),
              "d.txt:1: expected \"# draw \" before the first draw: not a file of label draws (predict --draws)");
    EXPECT_EQ(failure([] { split_draws(" \n", "d.txt"); }), "d.txt: holds no draw (predict --draws writes them)");
    // A bad number is reported at the file's own line.
    const std::string bad = temp_file("# draw 1 of 2\n1 5 1\n2 6 0\n# draw 2 of 2\n1 x 1\n2 6 0\n");
    auto sim = make_table();
    const ReadResult simr = read_simulated("1 5 1\n2 6 0\n", "sim.txt", *sim);
    EXPECT_NE(failure([&] { read_draws(bad, *sim, simr); }).find(bad + ":5:"), std::string::npos)
        << failure([&] { read_draws(bad, *sim, simr); });
    const std::string good = temp_file("# draw 1 of 2\n1 5 1\n2 6 0\n# draw 2 of 2\n1 4 1\n2 9 0\n");
    EXPECT_EQ(read_draws(good, *sim, simr).size(), 2u);
    const std::string shorter = temp_file("# draw 1 of 2\n1 5 1\n2 6 0\n# draw 2 of 2\n1 4 1\n");
    EXPECT_EQ(failure([&] { read_draws(shorter, *sim, simr); }),
              shorter + ": draw 2 holds 1 profiles of 1 records, not the simulated file's: draws come from the run "
                        "that wrote it");
    const std::string other = temp_file("# draw 1 of 1\n1 5 1\n3 6 0\n");
    EXPECT_EQ(failure([&] { read_draws(other, *sim, simr); }),
              other + ": draw 1, profile 1, entry 2: residue 3 of type 0 where the simulated file has residue 2 of "
                      "type 0: draws come from the run that wrote it");
    // Every profile's residues and types, not the first's alone.
    auto sim2 = make_table();
    const ReadResult simr2 = read_simulated("1 5 1\n2 6 0\n1 7 1\n2 8 0\n", "sim.txt", *sim2);
    const std::string second = temp_file("# draw 1 of 1\n1 5 1\n2 6 0\n1 7 1\n3 8 0\n");
    EXPECT_EQ(failure([&] { read_draws(second, *sim2, simr2); }),
              second + ": draw 1, profile 2, entry 2: residue 3 of type 0 where the simulated file has residue 2 of "
                       "type 0: draws come from the run that wrote it");
    const std::string typed = temp_file("# draw 1 of 1\n1 5 1\n2 6 0\n1 7 2\n2 8 0\n");
    EXPECT_EQ(failure([&] { read_draws(typed, *sim2, simr2); }),
              typed + ": draw 1, profile 2, entry 1: residue 1 of type 2 where the simulated file has residue 1 of "
                      "type 1: draws come from the run that wrote it");
}

TEST(LabelDraws, ThePosteriorIsTheMeanOfTheDrawsPosteriors) {
    Posterior best;
    best.computed = true;
    best.peaks = 1;
    best.residues = 2;
    best.f = 0.3;
    best.prob = {1.0, 0.0, 0.0};
    best.marginals.error = 0.01;
    // Each draw's posterior, told apart by its first value.
    auto of = [](double first, SampleStatus status, double error) {
        Posterior q;
        q.computed = true;
        q.peaks = 1;
        q.residues = 2;
        q.prob = {first, 0.9 - first, 0.1};
        q.marginals.status = status;
        q.marginals.error = error;
        return q;
    };
    std::vector<Posterior> given{of(0.2, SampleStatus::Converged, 0.02), of(0.8, SampleStatus::Converged, 0.05),
                                 of(0.5, SampleStatus::Converged, 0.03)};
    std::vector<int> streams;
    auto draw_of = [&](const ProfileTable& sim, const ReadResult&, int k) {
        streams.push_back(k);
        return given[size_t(sim[0].pre[0])];
    };
    auto draws = [](std::vector<std::string> t) {
        std::vector<Draw> d;
        for (std::string& x : t) d.push_back({1, x});
        return d;
    };
    Posterior p = best;
    average_over_draws(p, draws({"1 0 0\n", "1 1 0\n", "1 2 0\n"}), "d.txt", draw_of);
    EXPECT_EQ(streams, (std::vector<int>{0, 1, 2}));  // each draw told which it is
    ASSERT_EQ(p.prob.size(), 3u);
    EXPECT_NEAR(p.prob[0], 0.5, 1e-12);
    EXPECT_NEAR(p.prob[1], 0.4, 1e-12);
    EXPECT_NEAR(p.prob[2], 0.1, 1e-12);
    EXPECT_EQ(p.draws, 3);
    EXPECT_EQ(p.f, 0.3);  // the best fit's error model stays on its line
    // The mean's sampling error: the draws' in quadrature over their number.
    EXPECT_NEAR(p.marginals.error, std::sqrt(0.02 * 0.02 + 0.05 * 0.05 + 0.03 * 0.03) / 3, 1e-15);
    EXPECT_EQ(p.marginals.status, SampleStatus::Converged);
    EXPECT_TRUE(p.usable());
    // Each draw sampled a share of the sweeps: one at 0.2 is settled in the
    // mean of two (0.1), one at 0.3 is not (0.15 > 0.12).
    given[1].marginals = {SampleStatus::NotConverged, 300, 0.2};
    p = best;
    average_over_draws(p, draws({"1 0 0\n", "1 1 0\n"}), "d.txt", draw_of);
    EXPECT_NEAR(p.marginals.error, std::sqrt(0.02 * 0.02 + 0.2 * 0.2) / 2, 1e-15);
    EXPECT_TRUE(p.usable());
    given[1].marginals.error = 0.3;
    p = best;
    average_over_draws(p, draws({"1 0 0\n", "1 1 0\n"}), "d.txt", draw_of);
    EXPECT_EQ(p.marginals.status, SampleStatus::NotConverged);
    EXPECT_FALSE(p.usable());
    // One that could not be sampled: neither can the mean.
    given[1].marginals = {SampleStatus::Failed, 0, 0.0};
    p = best;
    average_over_draws(p, draws({"1 0 0\n", "1 1 0\n"}), "d.txt", draw_of);
    EXPECT_EQ(p.marginals.status, SampleStatus::Failed);
    EXPECT_TRUE(std::isnan(p.marginals.error));
    // One draw with costs not finite: nothing computed.
    given[2].computed = false;
    given[2].prob.clear();
    p = best;
    average_over_draws(p, draws({"1 0 0\n", "1 2 0\n"}), "d.txt", draw_of);
    EXPECT_FALSE(p.computed);
}

// From the command line, on the example: draws that are the best fit itself
// give back its probabilities (each draw clipped as the fit is), and a draw
// whose predictions are all a fifth larger is judged by the best fit's
// model, so surer of fewer peaks, not refitted until it agrees.
TEST(LabelDraws, AreWeighedByTheBestFitsModelFromTheCommandLine) {
    const std::string ex = std::string(PREASSIGN_SOURCE) + "/examples/";
    const std::string sim = read_file(ex + "sim.txt");
    const std::string dir = temp_case(sim, read_file(ex + "obs.txt"));
    std::string larger;
    for (size_t at = 0; at < sim.size(); at = sim.find('\n', at) + 1) {
        int residue, type;
        double pre;
        ASSERT_EQ(std::sscanf(sim.c_str() + at, "%d %lf %d", &residue, &pre, &type), 3);
        larger += std::to_string(residue) + " " + std::to_string(1.2 * pre) + " " + std::to_string(type) + "\n";
    }
    std::FILE* f = std::fopen((dir + "/same.txt").c_str(), "w");
    std::fputs(("# draw 1 of 2\n" + sim + "# draw 2 of 2\n" + sim).c_str(), f);
    std::fclose(f);
    f = std::fopen((dir + "/larger.txt").c_str(), "w");
    std::fputs(("# draw 1 of 1\n" + larger).c_str(), f);
    std::fclose(f);
    auto line = [&](const std::vector<std::string>& draws, const std::string& table) {
        std::vector<std::string> args{"-q", "--posterior", "--table", table, "sim.txt", "obs.txt"};
        args.insert(args.begin() + 2, draws.begin(), draws.end());
        const Proc p = run_binary(args, "", dir);
        EXPECT_EQ(p.status, 0) << p.err;
        return p.out.substr(p.out.rfind("posterior: "));
    };
    auto sure = [](const std::string& l) { return std::stoi(l.substr(l.find("p >= 0.9: ") + 10)); };
    const std::string best = line({}, "best.tsv");
    // Draws that are the fit itself: its error model and line, and its
    // probabilities within what sampling a share of the sweeps allows.
    const std::string same = line({"--draws", "same.txt"}, "same.tsv");
    const size_t fixed_part = best.find("  peaks at");
    EXPECT_EQ(same.substr(0, fixed_part), best.substr(0, fixed_part));
    EXPECT_EQ(same.substr(same.size() - 38), "  averaged over 2 draws of the labels\n");
    auto column = [&](const std::string& table, const std::string& name) {
        std::vector<std::string> out;
        std::istringstream in(read_file(dir + "/" + table));
        std::string row, cell;
        std::getline(in, row);
        int at = 0;
        for (std::istringstream head(row); std::getline(head, cell, '\t') && cell != name;) ++at;
        while (std::getline(in, row)) {
            std::istringstream cells(row);
            for (int k = 0; k <= at; ++k) std::getline(cells, cell, '\t');
            out.push_back(cell);
        }
        return out;
    };
    EXPECT_EQ(column("same.tsv", "posterior_optimum_residue_number"),
              column("best.tsv", "posterior_optimum_residue_number"));
    const std::vector<std::string> a = column("same.tsv", "posterior_unassigned_probability"),
                                   b = column("best.tsv", "posterior_unassigned_probability");
    ASSERT_EQ(a.size(), 30u);
    for (size_t j = 0; j < a.size(); ++j) EXPECT_NEAR(std::stod(a[j]), std::stod(b[j]), 0.1) << j;
    const std::string one = line({"--draws", "larger.txt"}, "larger.tsv");
    EXPECT_LE(sure(one), sure(best) - 3) << best;
    EXPECT_EQ(one.substr(one.size() - 37), "  averaged over 1 draw of the labels\n");
}

}  // namespace
