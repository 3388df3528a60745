// Buffered text output with the stream conventions the reports rely on:
// doubles in six significant digits, and every end of line a flush, so the
// two streams interleave on a terminal as they are written.
#pragma once

#include <string>
#include <string_view>

struct Out {
    int fd;             // -1 keeps everything in `text`, for tests
    const char* what;   // "standard output", named in a write error
    std::string buf;
    std::string text;

    explicit Out(int fd_ = -1, const char* what_ = "output") : fd(fd_), what(what_) {}
    void flush();       // throws Failure when the write fails
    // As printf's "%<width>.<prec>f".
    void fixed(double v, int width, int prec);
};

struct EndOfLine {};
inline constexpr EndOfLine eol{};

Out& operator<<(Out& o, std::string_view s);
Out& operator<<(Out& o, const char* s);
Out& operator<<(Out& o, char c);
Out& operator<<(Out& o, int v);
Out& operator<<(Out& o, double v);
Out& operator<<(Out& o, EndOfLine);
