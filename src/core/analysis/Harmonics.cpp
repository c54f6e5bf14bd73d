#include "analysis/Harmonics.h"

#include <algorithm>

#include "analysis/Extended.h"

namespace sonabi {

void StoreHarmonicLevels(int& peakCount, const double* peakLevels, const int* peakHarmonics,
                         int* harmonicLevels) {
    while (peakCount > 0 && peakHarmonics[peakCount] >= kHarmonicCount) --peakCount;
    for (int i = 1; i <= peakCount; ++i) {
        const int harmonic = peakHarmonics[i];
        if (harmonic < 1 || harmonic > kHarmonicCount) continue;
        harmonicLevels[harmonic] = static_cast<int>(RoundExtended(peakLevels[i] * 100.0L));
    }
}

int MaxHarmonicCount(uint32_t rate, int freqPosition) {
    if (freqPosition <= 0) return 0;
    const unsigned long long half = static_cast<unsigned long long>(RoundExtended(rate / 2.0L));
    const unsigned long long count = half / static_cast<unsigned>(freqPosition);
    return static_cast<int>(std::min<unsigned long long>(count, kHarmonicCount));
}

void ApplyFreshSliderRule(int* harmonicLevels, uint32_t rate, int freqPosition) {
    const int limit = MaxHarmonicCount(rate, freqPosition);
    for (int k = 1; k <= kHarmonicCount; ++k) {
        const int position = std::clamp(100 - harmonicLevels[k], 0, 100);
        if (position == 100) continue;  // the slider does not move: no change rule runs
        harmonicLevels[k] = k > limit ? 0 : 100 - position;
    }
}

}  // namespace sonabi
