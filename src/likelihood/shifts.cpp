#include "likelihood/shifts.h"

#include <cmath>

#include "profiles/profile.h"

double shift_cost(int type, double x) {
    double mean, sd;
    if (type == kLeu) {
        mean = kLeuShiftMean;
        sd = kLeuShiftSd;
    } else if (type == kVal) {
        mean = kValShiftMean;
        sd = kValShiftSd;
    } else {
        return 2.0 * std::log(kShiftRange);
    }
    const double z = (x - mean) / sd;
    const double normal = std::exp(-0.5 * z * z) / (sd * std::sqrt(2.0 * M_PI));
    return -2.0 * std::log((1.0 - kShiftOutliers) * normal + kShiftOutliers / kShiftRange);
}
