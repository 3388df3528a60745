#include "search/assignment.h"

void most_probable_assignment(CAnnealingSampler& s, int maxres) {
    for (int j = 0; j < maxres; ++j) {
        double best = 0.0;
        for (int r = 0; r < maxres; ++r) {
            if (s.visit(j, r) > best) {
                best = s.visit(j, r);
                s.assign[j] = r;
            }
        }
    }
}
