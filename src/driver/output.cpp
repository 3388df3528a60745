// Formatting matches the default of the standard streams ("%g" at precision
// 6) and printf byte for byte; writes go straight to the file descriptor.
#include "driver/output.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "driver/failure.h"

void Out::flush() {
    if (fd < 0) {
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

void Out::printf(const char* fmt, double v) {
    char tmp[64];
    int n = std::snprintf(tmp, sizeof tmp, fmt, v);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof tmp) {
        buf.append(tmp, static_cast<size_t>(n));
        return;
    }
    size_t at = buf.size();
    buf.resize(at + static_cast<size_t>(n) + 1);
    std::snprintf(&buf[at], static_cast<size_t>(n) + 1, fmt, v);
    buf.resize(at + static_cast<size_t>(n));
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
    int n = std::snprintf(tmp, sizeof tmp, "%.6g", v);
    o.buf.append(tmp, static_cast<size_t>(n));
    return o;
}

Out& operator<<(Out& o, EndOfLine) {
    o.buf.push_back('\n');
    o.flush();
    return o;
}
