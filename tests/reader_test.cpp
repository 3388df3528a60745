// The reading rules that users' files depend on: the profile split, maxres,
// the copy stored by the extra pass at trailing white space, and maxobs.
#include <gtest/gtest.h>

#include "io/failure.h"
#include "profiles/reader.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

namespace {

struct Tables {
    std::unique_ptr<ProfileTable> sim = make_table(), obs = make_table();
    ReadResult sim_read(const std::string& text) { return read_simulated(text, "sim", *sim); }
    ReadResult obs_read(const std::string& text) { return read_experimental(text, "obs", *obs); }
};

std::string sim_records(std::initializer_list<int> ids) {
    std::string s;
    for (int id : ids) s += std::to_string(id) + " " + std::to_string(id * 10) + ".5 1\n";
    return s;
}

TEST(Reader, SplitsWhereTheRecordNumberGoesDown) {
    Tables t;
    ReadResult r = t.sim_read(sim_records({3, 5, 5, 2, 4}));
    EXPECT_EQ(r.profiles, 2);
    EXPECT_EQ(r.records, (std::vector<int>{3, 2}));
    EXPECT_EQ((*t.sim)[0].id[2], 5);
    EXPECT_EQ((*t.sim)[1].id[0], 2);
    EXPECT_EQ((*t.sim)[1].id[1], 4);
    // maxres reached 3 when record 2 arrived; the trailing newline's pass
    // stores a copy of record 4 at entry 2 of the last profile.
    EXPECT_EQ(r.maxres, 3);
    EXPECT_EQ((*t.sim)[1].id[2], 4);
    EXPECT_EQ((*t.sim)[1].pre[2], 40.5);
    EXPECT_EQ((*t.sim)[1].restype[2], 1);
    EXPECT_EQ((*t.sim)[1].id[3], 0);
}

TEST(Reader, TrailingWhiteSpaceAddsOneEntryAndItsAbsenceOneLess) {
    const std::string two = sim_records({1, 2, 3, 4, 5, 1, 2, 3, 4, 5});
    {
        Tables t;
        ReadResult r = t.sim_read(two);
        EXPECT_EQ(r.profiles, 2);
        EXPECT_EQ(r.maxres, 5);
        EXPECT_EQ((*t.sim)[1].id[5], 5);
        EXPECT_EQ((*t.sim)[1].pre[5], 50.5);
    }
    {
        Tables t;
        ReadResult r = t.sim_read(two.substr(0, two.size() - 1));
        EXPECT_EQ(r.profiles, 2);
        EXPECT_EQ(r.maxres, 5);
        EXPECT_EQ((*t.sim)[1].id[5], 0);
    }
    {
        Tables t;  // one profile, no final newline: the last record is outside the range
        std::string one = sim_records({1, 2, 3, 4, 5});
        ReadResult r = t.sim_read(one.substr(0, one.size() - 1));
        EXPECT_EQ(r.profiles, 1);
        EXPECT_EQ(r.maxres, 4);
        EXPECT_EQ((*t.sim)[0].id[4], 5);
    }
    {
        Tables t;  // any white space counts, not only a newline
        EXPECT_EQ(t.sim_read("1 2 1\t2 3 1 \r\n\t ").maxres, 2);
        EXPECT_EQ((*t.sim)[0].id[2], 2);
    }
}

TEST(Reader, EachFileImpliesItsOwnMaxres) {
    Tables t;
    EXPECT_EQ(t.sim_read(sim_records({1, 2, 3, 4, 5, 6})).maxres, 6);
    EXPECT_EQ(t.obs_read("1 1 0 22 0\n2 1 0 22 0\n3 1 0 22 0\n").maxres, 3);
    EXPECT_EQ(t.obs_read("1 1 0 22 0\n2 1 0 22 0\n3 1 0 22 0\n4 1 0 22 0\n5 1 0 22 0\n6 1 0 22 0\n7 1 0 22 0\n")
                  .maxres,
              7);
}

TEST(Reader, EmptyOrBlankFilesHoldNoProfiles) {
    for (const char* text : {"", " \n\t\r\n"}) {
        Tables t;
        ReadResult r = t.sim_read(text);
        EXPECT_EQ(r.profiles, 0);
        EXPECT_EQ(r.maxres, 0);
        EXPECT_EQ((*t.sim)[0].id[0], 0);
    }
}

TEST(Reader, ExperimentalFieldsAndMaxobs) {
    Tables t;
    ReadResult r = t.obs_read("7 0.5 0.1 24.5 0.8\n8 40 0.2 21.5 0.9\n9 1500 3 23 1\n");
    EXPECT_EQ(r.maxobs, 1500);
    const CProfile& p = (*t.obs)[0];
    EXPECT_EQ(p.id[1], 8);
    EXPECT_EQ(p.pre[1], 40);
    EXPECT_EQ(p.pre_err[1], 0.2);
    EXPECT_EQ(p.type_value[1], 21.5);
    EXPECT_EQ(p.aux_value[1], 0.9);

    EXPECT_EQ(t.obs_read("1 2999 0 0 0\n").maxobs, 2999);
    EXPECT_EQ(t.obs_read("1 3000 0 0 0\n2 5000 0 0 0\n").maxobs, 0);
    EXPECT_EQ(t.obs_read("1 -999 0 0 0\n2 -5 0 0 0\n").maxobs, 0);
    EXPECT_EQ(t.obs_read("1 3000 0 0 0\n2 12 0 0 0\n3 2999.5 0 0 0").maxobs, 2999.5);
}

TEST(Reader, FieldsNoReaderWritesStartAtZero) {
    Tables t;
    t.sim_read(sim_records({1, 2}));
    t.obs_read("1 5 0 22 0.7\n");
    for (int p : {0, 1, 19})
        for (int i : {0, 1, 5, 799}) {
            EXPECT_EQ((*t.sim)[p].type_value[i], 0);
            EXPECT_EQ((*t.sim)[p].aux_value[i], 0);
            EXPECT_EQ((*t.obs)[p].restype[i], 0);
        }
    EXPECT_EQ((*t.sim)[0].restype[5], 0);
    EXPECT_EQ((*t.obs)[1].type_value[0], 0);
}

TEST(Reader, NumbersReadAsStrtodReadsThem) {
    // Random decimal forms, signs and exponents, near-halfway digit strings
    // among them: every value must equal strtod's, bit for bit.
    std::mt19937 gen(8);
    std::uniform_int_distribution<int> digit(0, 9), len(1, 19), expo(-330, 310), form(0, 5);
    std::string text;
    std::vector<std::string> reals;
    for (int k = 0; k < 40000; ++k) {
        std::string t = form(gen) == 0 ? "-" : form(gen) == 1 ? "+" : "";
        const int n = len(gen);
        for (int i = 0; i < n; ++i) t += char('0' + digit(gen));
        if (form(gen) < 3) t.insert(t.size() - n / 2, ".");
        if (form(gen) < 2) t += "e" + std::to_string(expo(gen) / (form(gen) + 1));
        if (std::strtod(t.c_str(), nullptr) == HUGE_VAL || std::strtod(t.c_str(), nullptr) == -HUGE_VAL) continue;
        reals.push_back(t);
    }
    reals.resize(reals.size() / 4 * 4);
    for (size_t k = 0; k < reals.size(); k += 4)
        text += std::to_string(k / 4 + 1) + " " + reals[k] + " " + reals[k + 1] + " " + reals[k + 2] + " " + reals[k + 3] + "\n";
    // One profile per 800 records at most: the ids go down every 800.
    std::string chunked;
    size_t rec = 0, start = 0;
    int differ = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        chunked += text.substr(start, end + 1 - start);
        start = end + 1;
        if (++rec % 800 == 0 || start >= text.size()) {
            Tables t;
            t.obs_read(chunked);
            const size_t first = (rec - 1) / 800 * 800;
            for (size_t r = first; r < rec; ++r) {
                const CProfile& p = (*t.obs)[0];
                const size_t i = r - first;
                const double want[4] = {std::strtod(reals[4 * r].c_str(), nullptr), std::strtod(reals[4 * r + 1].c_str(), nullptr),
                                        std::strtod(reals[4 * r + 2].c_str(), nullptr), std::strtod(reals[4 * r + 3].c_str(), nullptr)};
                const double got[4] = {p.pre[i], p.pre_err[i], p.type_value[i], p.aux_value[i]};
                differ += std::memcmp(want, got, sizeof want) != 0;
            }
            chunked.clear();
        }
    }
    EXPECT_EQ(differ, 0);
    EXPECT_GT(rec, 9000u);
}

}  // namespace
