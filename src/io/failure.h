// The one way a run ends early: thrown where the fault is found, reported
// once by main as "preassign: <message>" with the given exit status.
#pragma once

#include <string>

inline constexpr int kStatusInput = 1;  // unreadable or invalid input, failed write
inline constexpr int kStatusUsage = 2;  // command-line misuse

struct Failure {
    int status;
    std::string message;
};
