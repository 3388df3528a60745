// The writer's number formatting must equal printf's, digit for digit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "io/failure.h"
#include "io/output.h"

namespace {

std::string printed(const char* fmt, double v) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string general(double v) {
    Out o;
    o << v;
    return o.buf;
}

std::string fixed(double v, int w, int p) {
    Out o;
    o.fixed(v, w, p);
    return o.buf;
}

TEST(Output, DoublesAsTheStreamsDefault) {
    std::mt19937_64 gen(1);
    std::uniform_real_distribution<double> mant(-10, 10);
    std::uniform_int_distribution<int> ex(-12, 12);
    int differ = 0;
    for (int k = 0; k < 300000; ++k) {
        double v = mant(gen) * std::pow(10.0, ex(gen));
        if (k % 3 == 0) v = std::round(v * 100) / 100;  // typical input values
        differ += general(v) != printed("%.6g", v);
    }
    EXPECT_EQ(differ, 0);
    for (double v : {0.0, -0.0, 0.5, 1510.0, 1e6, 999999.5, 9999995.0, 1e-5, 0.0001, 0.000123456789, 0.277265,
                     -999.0, 1e300, 5e-324, 1.0 / 3, 2416000.0, 123456.5, 1234567.0, double(NAN), double(INFINITY)})
        EXPECT_EQ(general(v), printed("%.6g", v)) << v;
}

TEST(Output, TableCellsAsPrintf) {
    int differ = 0;
    // Every frequency the table can show: a count of samples over 1000000.
    for (int k = 0; k <= 1000000; ++k) {
        double f = k / 1000000.0;
        differ += fixed(f, 5, 2) != printed("%5.2f", f);
    }
    EXPECT_EQ(differ, 0);
    for (double id : {0.0, -0.0, 5.0, -3.0, 12345.0, 2147483647.0, -2147483648.0, 0.5, 1.5, 2.5})
        EXPECT_EQ(fixed(id, 5, 0), printed("%5.0f", id)) << id;
    EXPECT_EQ(fixed(17, 4, 0), "  17");
    EXPECT_EQ(fixed(NAN, 5, 2), printed("%5.2f", NAN));
}

TEST(Output, EndOfLineFlushesAndWriteErrorsThrow) {
    Out o;
    o << "a" << 1 << ' ' << 2.5;
    EXPECT_EQ(o.text, "");
    o << eol;
    EXPECT_EQ(o.text, "a1 2.5\n");
    EXPECT_EQ(o.buf, "");

    FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    Out bad(fileno(full), "standard output");
    bad << "x";
    try {
        bad << eol;
        ADD_FAILURE() << "no error";
    } catch (const Failure& f) {
        EXPECT_EQ(f.status, 1);
        EXPECT_EQ(f.message, "error writing standard output: No space left on device");
    }
    std::fclose(full);
}

}  // namespace
