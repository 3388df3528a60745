// Observed PREs are clipped above 998.0, simulated ones above the cap; both
// take the cap, maxobs + 10.
#include <gtest/gtest.h>

#include "profiles/ceiling.h"

namespace {

TEST(Ceiling, TwoTestsOneReplacement) {
    auto sim = make_table(), obs = make_table();
    const double o[] = {999, 998, -999, 5000, 0.5};
    const double s[] = {1511, 1510, 1510.0001, 12, -3};
    for (int i = 0; i < 5; ++i) {
        (*obs)[0].pre[i] = o[i];
        (*sim)[0].pre[i] = s[i];
    }
    (*sim)[1].pre[0] = 9999;  // beyond numprofiles: neither clipped nor echoed
    Out out, err;
    apply_ceiling(*sim, *obs, 1500, Shape{1, 5}, out, err);
    out.flush();
    err.flush();
    EXPECT_EQ(err.text,
              "1510 998 -999 1510 0.5 \n"
              "\n"
              "NUMPROFILES simulated, replacing large predicted PREs: 1\n"
              "1510 1510 1510 12 -3 \n"
              "\n");
    EXPECT_EQ(out.text, "COMPLETE\n");
    EXPECT_EQ((*obs)[0].pre[0], 1510);
    EXPECT_EQ((*sim)[0].pre[2], 1510);
    EXPECT_EQ((*sim)[1].pre[0], 9999);
}

TEST(Ceiling, NoPositiveObservedPreCapsAtTen) {
    auto sim = make_table(), obs = make_table();
    (*sim)[0].pre[0] = 10.5;
    (*sim)[1].pre[1] = 10;
    (*obs)[1].pre[0] = 1000;
    Out out, err;
    apply_ceiling(*sim, *obs, 0.0, Shape{2, 2}, out, err);
    err.flush();
    EXPECT_EQ(err.text,
              "0 0 \n10 0 \n\n"
              "NUMPROFILES simulated, replacing large predicted PREs: 2\n"
              "10 0 \n0 10 \n\n");
}

}  // namespace
