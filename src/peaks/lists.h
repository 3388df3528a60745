// Peak lists as spectroscopists keep them, read by column name: Sparky's
// .list ("Assignment w1 w2 ... Data Height", or Height, Fit Height, Volume;
// optional S/N and linewidths), NMRPipe's peak table (VARS/FORMAT header;
// X_PPM, Y_PPM, HEIGHT or VOL, DHEIGHT, ASS, XW_HZ ...), and plain tables of
// a label and an intensity ratio with an optional error. The format is told
// from the content.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct Peak {
    std::string label;      // empty for an unassigned peak ("?-?", "None", "*")
    double heavy = 0.0;     // ppm: the indirect dimension (13C or 15N)
    double proton = 0.0;    // ppm: 1H
    double height = 0.0;    // intensity, or for a ratio table the ratio Ipara/Idia
    double noise = 0.0;     // the height's standard error; 0 where the list gives none
    double width_hz = 0.0;  // 1H linewidth; 0 where the list gives none
    bool has_value = true;  // false for a ratio table's "nan"
    int line = 0;
};

enum class ListFormat { Sparky, NmrPipe, Ratios };

struct PeakList {
    std::string path;
    ListFormat format = ListFormat::Sparky;
    bool positions = true;  // false for a ratio table
    std::vector<Peak> peaks;
    // How the list was read where a reader chose: the intensity column, the
    // 1H axis, a header line skipped. One line each, for standard error.
    std::vector<std::string> notes;
};

// Reads a peak list (Sparky or NMRPipe) or, with `ratios`, a ratio table.
// Throws Failure "FILE:LINE: reason": no heights, a row that does not
// match its header, a label given twice, text that is no list at all.
// Values must be finite. An NMRPipe table's 1H axis is told by the axis
// labels' nucleus (DATA X_AXIS/Y_AXIS: 1H, HN, 13C, 15N ...), and where they
// say nothing or contradict the shifts, by the shifts (1H the axis of the
// smaller ppm).
PeakList read_peak_list(std::string_view text, const std::string& path, bool ratios);

const char* format_name(ListFormat f);
