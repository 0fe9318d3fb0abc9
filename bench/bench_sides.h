#pragma once
// Two sides of one comparison, measured in pairs whose order flips every run,
// so neither side always meets what the other left warm (or busy). Each side
// and the pairs' ratios are printed as min, median and max.
#include <algorithm>
#include <cstdio>
#include <vector>

inline bool firstSideFirst(int run) { return run % 2 == 0; }

struct Spread {
    double min = 0, median = 0, max = 0;
};

inline Spread spreadOf(std::vector<double> v) {
    if (v.empty()) return {};
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}

inline void printSpreadHeader() { std::printf("%-44s %10s %10s %10s\n", "", "min", "median", "max"); }

inline void printSpread(const char* label, const std::vector<double>& v) {
    if (v.empty()) return;
    const Spread s = spreadOf(v);
    std::printf("%-44s %10.1f %10.1f %10.1f\n", label, s.min, s.median, s.max);
}

// Each pair's own ratio, b over a: the two met the same moment's load.
inline void printPairRatio(const char* label, const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] > 0 && b[i] >= 0) ratios.push_back(b[i] / a[i]);
    if (ratios.empty()) return;
    const Spread s = spreadOf(ratios);
    std::printf("%-44s %10.2f %10.2f %10.2f   (%zu pairs)\n", label, s.min, s.median, s.max, ratios.size());
}
