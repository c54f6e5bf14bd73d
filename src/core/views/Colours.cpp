#include "views/Colours.h"

#include <cmath>

namespace sonabi {

namespace {
int RoundExt(long double x) { return static_cast<int>(std::llrintl(x)); }
}  // namespace

uint32_t LevelColour(int level) {
    const long double l = level;
    if (level < 0 || level > 255) return kBlack;
    if (level <= 128) return MakeRgb(level, RoundExt(255 * l / 128.0L), 255);
    if (level <= 170) {
        return MakeRgb(RoundExt(128 + 121 * (l - 128) / 42.0L), 255,
                       RoundExt(255 - 255 * (l - 128) / 42.0L));
    }
    return MakeRgb(255, RoundExt(255 - 255 * (l - 170) / 85.0L), 0);
}

}  // namespace sonabi
