// Buffered text output with the stream conventions the reports rely on:
// doubles in six significant digits, and every end of line a flush, so the
// two streams interleave on a terminal as they are written.
#pragma once

#include <string>
#include <string_view>

#include "io/arithmetic.h"

inline constexpr int kKeep = -1;     // an Out that keeps its text, for tests
inline constexpr int kDiscard = -2;  // an Out that drops what it is given

struct Out {
    int fd;             // a file descriptor, kKeep or kDiscard
    const char* what;   // "standard output", named in a write error
    std::string buf;
    std::string text;

    explicit Out(int fd_ = kKeep, const char* what_ = "output") : fd(fd_), what(what_) {}
    void flush();       // throws Failure when the write fails
    // As printf's "%<width>.<prec>f".
    void fixed(double v, int width, int prec);
};

struct EndOfLine {};
// A double in the shortest form that reads back to the same value.
struct Exact {
    double v;
};
inline constexpr EndOfLine eol{};

Out& operator<<(Out& o, std::string_view s);
Out& operator<<(Out& o, const char* s);
Out& operator<<(Out& o, char c);
Out& operator<<(Out& o, int v);
Out& operator<<(Out& o, double v);
Out& operator<<(Out& o, EndOfLine);
Out& operator<<(Out& o, Exact);
