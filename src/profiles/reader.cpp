// Token checking first, then the record passes that split profiles, raise
// maxres and store entries exactly as the format's reading rules say,
// including the extra pass that a trailing white space causes.
#include "profiles/reader.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "io/failure.h"

namespace {

enum class Kind { Int, Real, Entry };  // Entry: an integer, or NUMBER/K for the K-th entry with that number

struct Field {
    Kind kind;
    const char* what;
};

constexpr Field kSimFields[] = {
    {Kind::Int, "residue number"}, {Kind::Real, "predicted PRE"}, {Kind::Int, "residue type"}};
constexpr Field kObsFields[] = {{Kind::Int, "peak id"},
                                {Kind::Real, "measured PRE"},
                                {Kind::Real, "PRE error"},
                                {Kind::Real, "type value"},
                                {Kind::Real, "fifth value"}};
constexpr Field kFixFields[] = {{Kind::Int, "peak id"}, {Kind::Entry, "residue number"}};

// Full tables fit in well under a megabyte; this only stops runaway input.
constexpr size_t kMaxFileBytes = size_t(64) << 20;

// A record number at or above this never starts the first profile.
constexpr int kIdLimit = 10000000;

struct Record {
    double v[5];
    int line;
    int nth = 0;  // K of an Entry field's NUMBER/K; 0 where none was given
};

struct Parsed {
    std::vector<Record> records;
    bool ends_in_space = false;  // the end of file is met by one more, empty pass
    // The first line holding other than one record's values (0: none), and
    // what to say of it: records may run over lines, but where reading fails
    // such a line is the likelier fault (a two-column file).
    int odd_line = 0;
    std::string odd;
};

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void fail(const std::string& name, int line, const std::string& msg) {
    throw Failure{kStatusInput, name + ":" + std::to_string(line) + ": " + msg};
}

// Quoted for a message: bytes that would not show are escaped, long tokens cut.
std::string shown(std::string_view tok) {
    std::string s = "'";
    size_t n = 0;
    for (unsigned char c : tok) {
        if (++n > 40) {
            s += "...";
            break;
        }
        if (c > 0x20 && c < 0x7f && c != '\'') {
            s += static_cast<char>(c);
        } else {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            s += buf;
        }
    }
    return s + "'";
}

size_t digits(std::string_view t, size_t i) {
    while (i < t.size() && is_digit(t[i])) ++i;
    return i;
}

bool int_syntax(std::string_view t) {
    size_t i = (!t.empty() && (t[0] == '+' || t[0] == '-')) ? 1 : 0;
    return i < t.size() && digits(t, i) == t.size();
}

// Decimal reals as formatted extraction takes them; no inf, nan or hex.
bool real_syntax(std::string_view t) {
    size_t i = (!t.empty() && (t[0] == '+' || t[0] == '-')) ? 1 : 0;
    size_t j = digits(t, i);
    bool mantissa = j > i;
    if (j < t.size() && t[j] == '.') {
        size_t k = digits(t, j + 1);
        mantissa = mantissa || k > j + 1;
        j = k;
    }
    if (!mantissa) return false;
    if (j < t.size() && (t[j] == 'e' || t[j] == 'E')) {
        size_t e = j + 1;
        if (e < t.size() && (t[e] == '+' || t[e] == '-')) ++e;
        j = digits(t, e);
        if (j == e) return false;
    }
    return j == t.size();
}

// Both conversions are correctly rounded, so std::from_chars gives strtod's
// value; only where it reports a value out of range does strtod itself
// decide, so that underflow passes as before. from_chars takes no '+'.
double convert(std::string_view tok, const Field& f, const std::string& name, int line, int* nth = nullptr) {
    const size_t slash = tok.find('/');
    if (f.kind == Kind::Entry && slash != std::string_view::npos) {
        const std::string_view k = tok.substr(slash + 1);
        int v = 0;
        const auto r = std::from_chars(k.data(), k.data() + k.size(), v);
        if (!int_syntax(tok.substr(0, slash)) || k.empty() || !is_digit(k[0]) || r.ptr != k.data() + k.size() ||
            r.ec != std::errc() || v < 1)
            fail(name, line, std::string("expected an integer (") + f.what + ") or NUMBER/K (its K-th entry, K from 1), found " +
                                 shown(tok));
        if (nth) *nth = v;
        return convert(tok.substr(0, slash), Field{Kind::Int, f.what}, name, line);
    }
    const std::string_view digits_part = !tok.empty() && tok[0] == '+' ? tok.substr(1) : tok;
    const char* first = digits_part.data();
    const char* last = first + digits_part.size();
    if (f.kind != Kind::Real) {
        if (!int_syntax(tok)) fail(name, line, std::string("expected an integer (") + f.what + "), found " + shown(tok));
        long long v = 0;
        const auto r = std::from_chars(first, last, v);
        if (r.ec != std::errc() || v < INT32_MIN || v > INT32_MAX)
            fail(name, line, std::string(f.what) + " " + shown(tok) + " is out of range");
        return static_cast<double>(v);
    }
    if (!real_syntax(tok)) fail(name, line, std::string("expected a number (") + f.what + "), found " + shown(tok));
    double v = 0;
    if (std::from_chars(first, last, v).ec == std::errc()) return v;
    const std::string s(tok);
    errno = 0;
    v = std::strtod(s.c_str(), nullptr);
    if (errno == ERANGE && (v == HUGE_VAL || v == -HUGE_VAL))
        fail(name, line, std::string(f.what) + " " + shown(tok) + " is out of range");
    return v;
}

template <size_t W>
Parsed parse(std::string_view text, const Field (&fields)[W], const std::string& name, bool comments = false,
             int first_line = 1) {
    Parsed out;
    Record rec{};
    size_t col = 0;
    int line = first_line, last_line = first_line;
    size_t i = 0;
    size_t on_line = 0;  // values on this line so far
    auto line_ends = [&] {
        if (on_line != 0 && on_line != W && out.odd_line == 0) {
            out.odd_line = line;
            out.odd = std::to_string(on_line) + (on_line == 1 ? " value" : " values") + " on the line, where a record is " +
                      std::to_string(W) + " (";
            for (size_t k = 0; k < W; ++k) out.odd += std::string(k ? ", " : "") + fields[k].what;
            out.odd += ")";
        }
        on_line = 0;
    };
    while (i < text.size()) {
        if (comments && text[i] == '#') {
            while (i < text.size() && text[i] != '\n') ++i;
            continue;
        }
        if (is_space(text[i])) {
            if (text[i] == '\n') {
                line_ends();
                ++line;
            }
            ++i;
            continue;
        }
        size_t start = i;
        while (i < text.size() && !is_space(text[i])) ++i;
        if (col == 0) {
            rec.line = line;
            rec.nth = 0;
        }
        ++on_line;
        try {
            rec.v[col] = convert(text.substr(start, i - start), fields[col], name, line, &rec.nth);
        } catch (const Failure&) {
            if (out.odd_line > 0) fail(name, out.odd_line, out.odd);
            throw;
        }
        last_line = line;
        if (++col == W) {
            out.records.push_back(rec);
            col = 0;
            // More records than the tables hold: the profile split is bound
            // to refuse these, so the rest need not be read.
            if (out.records.size() > size_t(kMaxProfiles) * kMaxEntries) return out;
        }
    }
    if (col != 0)
        fail(name, last_line,
             "the last record is cut short: " + std::to_string(col) + " of " + std::to_string(W) + " numbers");
    out.ends_in_space = !text.empty() && is_space(text.back());
    return out;
}

// The record passes. `store(p, i, rec)` writes one entry; `seen(rec)` runs
// on every pass's values, the extra pass included.
template <typename Store, typename Seen>
ReadResult split(const Parsed& in, const std::string& name, const char* what, Store store, Seen seen) {
    ReadResult res;
    const auto& recs = in.records;
    if (!recs.empty() && recs[0].v[0] >= kIdLimit)
        fail(name, recs[0].line,
             std::string("first ") + what + " " + std::to_string(static_cast<long long>(recs[0].v[0])) +
                 " is too large (it must be below " + std::to_string(kIdLimit) + ")");
    // A file without records still makes the one pass whose extractions fail.
    size_t passes = recs.size() + ((recs.empty() || in.ends_in_space) ? 1 : 0);
    int id = kIdLimit, p = -1, i = -1;
    const Record* cur = nullptr;
    for (size_t k = 0; k < passes; ++k) {
        ++i;
        int prev = id;
        bool real = k < recs.size();
        if (real) {
            cur = &recs[k];
            id = static_cast<int>(cur->v[0]);
        }
        if (cur) seen(*cur);
        if (i + 1 > res.maxres) res.maxres = i;
        if (prev > id) {
            if (++p >= kMaxProfiles) {
                if (in.odd_line > 0) fail(name, in.odd_line, in.odd);
                fail(name, cur->line, "more than " + std::to_string(kMaxProfiles) + " profiles");
            }
            res.records.push_back(0);
            res.lines.emplace_back();
            i = 0;
        } else if (real && k > 0 && prev == id && res.repeat_line == 0) {
            res.repeat_line = cur->line;
            res.repeat_id = id;
        }
        if (p < 0) continue;
        if (i >= kMaxEntries) {
            // The copy that a trailing white space stores past a full profile has no room.
            if (!real) continue;
            if (in.odd_line > 0) fail(name, in.odd_line, in.odd);
            fail(name, cur->line,
                 "profile " + std::to_string(p) + " has more than " + std::to_string(kMaxEntries) + " records");
        }
        if (real) {
            ++res.records[p];
            res.lines[p].push_back(cur->line);
        }
        store(p, i, *cur);
    }
    res.profiles = p + 1;
    res.ends_in_space = in.ends_in_space;
    res.odd_line = in.odd_line;
    res.odd = in.odd;
    return res;
}

}  // namespace

ReadResult read_simulated(std::string_view text, const std::string& name, ProfileTable& sim, int first_line) {
    Parsed in = parse(text, kSimFields, name, false, first_line);
    return split(
        in, name, kSimFields[0].what,
        [&](int p, int i, const Record& r) {
            sim[p].id[i] = r.v[0];
            sim[p].pre[i] = r.v[1];
            sim[p].restype[i] = static_cast<int>(r.v[2]);
        },
        [](const Record&) {});
}

ReadResult read_experimental(std::string_view text, const std::string& name, ProfileTable& obs) {
    Parsed in = parse(text, kObsFields, name);
    double maxobs = 0.0;
    ReadResult res = split(
        in, name, kObsFields[0].what,
        [&](int p, int i, const Record& r) {
            obs[p].id[i] = r.v[0];
            obs[p].pre[i] = r.v[1];
            obs[p].pre_err[i] = r.v[2];
            obs[p].type_value[i] = r.v[3];
            obs[p].aux_value[i] = r.v[4];
        },
        [&](const Record& r) {
            if (r.v[1] > maxobs && r.v[1] < 3000.0) maxobs = r.v[1];
        });
    res.maxobs = maxobs;
    for (const Record& r : in.records)
        if (r.v[1] < 0.0 && r.v[1] != MISSING_PRE && res.negative++ == 0) {
            res.negative_line = r.line;
            res.negative_value = r.v[1];
        }
    return res;
}

std::vector<std::pair<int, int>> read_fixed_pairs(std::string_view text, const std::string& name,
                                                  const CProfile& obs0, int peaks, const CProfile& sim0,
                                                  int residues) {
    const Parsed in = parse(text, kFixFields, name, true);
    // The one entry an id names (with `nth` > 0, the nth of those it
    // names, in file order), or a failure on the record's line.
    auto entry = [&](const Record& rec, double id, int nth, const CProfile& p, int n, const char* what) {
        const std::string shown_id = std::to_string(static_cast<long long>(id));
        int found = -1, count = 0;
        for (int i = 0; i < n; ++i) {
            if (p.id[i] != id) continue;
            ++count;
            if (nth > 0) {
                if (count == nth) found = i;
                continue;
            }
            if (found >= 0)
                fail(name, rec.line,
                     std::string(what) + " " + shown_id + " names more than one entry" +
                         (&p == &sim0 ? " (a residue's methyls, one entry each): give " + shown_id + "/1 for the first, " +
                                            shown_id + "/2 for the second"
                                      : ""));
            found = i;
        }
        if (found < 0 && nth > 0 && count > 0)
            fail(name, rec.line, std::string(what) + " " + shown_id + " has " + std::to_string(count) +
                                     (count == 1 ? " entry" : " entries") + ", not " + std::to_string(nth));
        if (found < 0) fail(name, rec.line, std::string("no ") + what + " " + shown_id);
        return found;
    };
    std::vector<std::pair<int, int>> pairs;
    std::vector<char> peak_named(peaks, 0), residue_named(residues, 0);
    for (const Record& rec : in.records) {
        const int j = entry(rec, rec.v[0], 0, obs0, peaks, "peak id");
        const int r = entry(rec, rec.v[1], rec.nth, sim0, residues, "residue number");
        if (peak_named[j]++)
            fail(name, rec.line, "peak id " + std::to_string(static_cast<long long>(rec.v[0])) + " is named twice");
        if (residue_named[r]++)
            fail(name, rec.line, "residue number " + std::to_string(static_cast<long long>(rec.v[1])) +
                                     (rec.nth > 0 ? "/" + std::to_string(rec.nth) : "") + " is named twice");
        pairs.emplace_back(j, r);
    }
    return pairs;
}

Shape combined_shape(const ReadResult& sim, const ReadResult& obs) {
    return Shape{obs.profiles, sim.maxres > obs.maxres ? sim.maxres : obs.maxres};
}

std::string load_file(const std::string& name) {
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Failure{kStatusInput, name + ": " + std::strerror(errno)};
    std::string text;
    char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (text.size() > kMaxFileBytes) {
            ::close(fd);
            throw Failure{kStatusInput, name + ": larger than 64 MiB, the limit for an input file"};
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            ::close(fd);
            throw Failure{kStatusInput, name + ": " + std::strerror(e)};
        }
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

std::vector<Draw> split_draws(std::string_view text, const std::string& name) {
    std::vector<Draw> out;
    int line = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view l = text.substr(at, end - at);
        ++line;
        if (l.substr(0, kDrawMark.size()) == kDrawMark) {
            out.push_back({line + 1, {}});
        } else if (!out.empty()) {
            out.back().text.append(l).push_back('\n');
        } else if (l.find_first_not_of(" \t\r") != std::string_view::npos) {
            throw Failure{kStatusInput, name + ":" + std::to_string(line) + ": expected \"" + std::string(kDrawMark) +
                                            "\" before the first draw: not a file of label draws (predict --draws)"};
        }
        at = end + 1;
    }
    if (out.empty()) throw Failure{kStatusInput, name + ": holds no draw (predict --draws writes them)"};
    return out;
}
