// The peak map that import writes beside its profiles (peak_id, label,
// heavy_ppm, proton_ppm, tab-separated), read back so that a later import
// can give the same peaks the same ids.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// A peak as the map knows it: its id, its label ("" for "?-?"), its shifts
// in ppm where the map gives them.
struct MapPeak {
    int id = 0;
    std::string label;
    bool shifts = false;
    double heavy = 0.0, proton = 0.0;
};

// The map's peaks in its order. Throws Failure "FILE:LINE: reason": no
// header naming the four columns (or a column named twice), a row of another
// length, an id that is not a whole number from 1 to 999999 above the one
// before it, one shift without the other, a
// label given twice; "FILE: holds no peaks" for a map without rows.
std::vector<MapPeak> read_peak_map(std::string_view text, const std::string& path);

// The map's text for these peaks: "?-?" for no label, empty shift cells
// where a peak has none.
std::string peak_map_text(const std::vector<MapPeak>& peaks);
