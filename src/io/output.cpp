// Formatting matches the default of the standard streams ("%g" at precision
// 6) and printf byte for byte; writes go straight to the file descriptor.
#include "io/output.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "io/failure.h"

void Out::flush() {
    if (fd == kDiscard) {
        buf.clear();
        return;
    }
    if (fd == kKeep) {
        text += buf;
        buf.clear();
        return;
    }
    size_t done = 0;
    while (done < buf.size()) {
        ssize_t n = ::write(fd, buf.data() + done, buf.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int e = n < 0 ? errno : EIO;
            buf.clear();
            throw Failure{1, std::string("error writing ") + what + ": " + std::strerror(e)};
        }
        done += static_cast<size_t>(n);
    }
    buf.clear();
}

// std::to_chars gives exactly printf's digits for finite values, without
// parsing a format each time; the rest goes through snprintf.
void Out::fixed(double v, int width, int prec) {
    char tmp[400];
    char* end = tmp + sizeof tmp;
    char* last;
    if (std::isfinite(v)) {
        last = std::to_chars(tmp, end, v, std::chars_format::fixed, prec).ptr;
    } else {
        last = tmp + std::snprintf(tmp, sizeof tmp, "%.*f", prec, v);
    }
    const int len = static_cast<int>(last - tmp);
    if (len < width) buf.append(static_cast<size_t>(width - len), ' ');
    buf.append(tmp, static_cast<size_t>(len));
}

Out& operator<<(Out& o, std::string_view s) {
    o.buf.append(s.data(), s.size());
    return o;
}

Out& operator<<(Out& o, const char* s) { return o << std::string_view(s); }

Out& operator<<(Out& o, char c) {
    o.buf.push_back(c);
    return o;
}

Out& operator<<(Out& o, int v) {
    char tmp[16];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
    o.buf.append(tmp, static_cast<size_t>(r.ptr - tmp));
    return o;
}

Out& operator<<(Out& o, double v) {
    char tmp[32];
    if (std::isfinite(v)) {
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v, std::chars_format::general, 6);
        o.buf.append(tmp, static_cast<size_t>(r.ptr - tmp));
    } else {
        o.buf.append(tmp, static_cast<size_t>(std::snprintf(tmp, sizeof tmp, "%.6g", v)));
    }
    return o;
}

Out& operator<<(Out& o, Exact x) {
    char tmp[32];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, x.v);
    o.buf.append(tmp, static_cast<size_t>(r.ptr - tmp));
    return o;
}

Out& operator<<(Out& o, EndOfLine) {
    o.buf.push_back('\n');
    o.flush();
    return o;
}
