#include "fuzz/peaks_entry.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "io/failure.h"
#include "peaks/import.h"

namespace {

std::vector<double> numbers(const std::string& line) {
    std::vector<double> v;
    const char* p = line.c_str();
    for (;;) {
        char* end = nullptr;
        const double x = std::strtod(p, &end);
        if (end == p) break;
        v.push_back(x);
        p = end;
    }
    return v;
}

}  // namespace

void fuzz_peaks_one(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const uint8_t mode = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::string> parts;
    for (size_t start = 0; parts.size() < 4;) {
        const size_t end = text.find('\f', start);
        parts.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    while (parts.size() < 4) parts.push_back(parts[0]);
    const bool ratios = mode & 1, two = !ratios && (mode & 2), second_site = !two && (mode & 32);
    ImportOptions o;
    o.r2 = (mode & 4) ? 0.0 : 20.0;
    o.delay = 0.01;
    o.noise = (mode & 8) ? 5.0 : 0.0;
    o.r2_mq = (mode & 16) ? 50.0 : 0.0;
    if (two) {
        o.ta = 0.004;
        o.tb = 0.014;
    }
    try {
        SiteLists site;
        site.dia = read_peak_list(parts[0], "dia", ratios);
        if (!ratios) site.para = read_peak_list(parts[1], "para", false);
        if (two) {
            site.dia_b = read_peak_list(parts[2], "dia_b", false);
            site.para_b = read_peak_list(parts[3], "para_b", false);
        }
        if (site.dia.peaks.empty()) return;  // refused by the command before the import
        std::vector<SiteLists> sites{site};
        if (second_site) {
            SiteLists other;
            other.dia = read_peak_list(parts[2], "dia2", ratios);
            if (!ratios) other.para = read_peak_list(parts[3], "para2", false);
            sites.push_back(other);
        }
        const Imported im = import_sites(sites, o);
        size_t lines = 0;
        for (size_t at = 0; at < im.profiles.size(); ++lines) {
            const size_t end = im.profiles.find('\n', at);
            if (end == std::string::npos) __builtin_trap();
            const std::string line = im.profiles.substr(at, end - at);
            const std::vector<double> v = numbers(line);
            if (v.size() != 5 || line.find_first_of("naif") != std::string::npos) __builtin_trap();
            if (!(v[1] >= 0.0 || v[1] == -999.0) || !(v[2] >= 0.0)) __builtin_trap();
            at = end + 1;
        }
        if (lines != sites.size() * site.dia.peaks.size()) __builtin_trap();
    } catch (const Failure& f) {
        const std::string& m = f.message;
        if (m.rfind("dia", 0) != 0 && m.rfind("para", 0) != 0 && m.rfind("a ratio table needs", 0) != 0)
            __builtin_trap();
    }
}
