// Windows of 16-bit sound made in a test, and one window analysed as the analyser runs it.
#pragma once
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/WindowAnalysis.h"

namespace windowtest {

using namespace sonabi;

inline int Sine(double amplitude, double hz, int t) {
    return static_cast<int>(std::lrint(amplitude * std::sin(2 * M_PI * hz * t / 44100)));
}

inline void Put16(std::vector<uint8_t>& bytes, int s) {
    bytes.push_back(static_cast<uint8_t>(s & 0xFF));
    bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
}

struct Analyzer {
    bool Run(const std::vector<uint8_t>& bytes, const WAVEFORMATEX& f, uint64_t offset = 0) {
        return AnalyzeWindow(bytes.data(), bytes.size(), f, offset, settings, *ws, result);
    }
    AnalysisSettings settings;
    std::unique_ptr<AnalysisWorkspace> ws = std::make_unique<AnalysisWorkspace>();
    WindowResult result;
};

}  // namespace windowtest
