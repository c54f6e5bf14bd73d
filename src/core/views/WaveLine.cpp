#include "views/WaveLine.h"

namespace sonabi {

void WaveLine8(std::vector<Point>& points, int width, uint32_t frames, const uint8_t* first,
               int stride, double centre, double scale) {
    const double xStep = width / static_cast<double>(frames);
    auto y = [&](int s) { return static_cast<int>(Round((128 - s) * scale + centre)); };
    points.clear();
    points.push_back({0, y(first[0])});
    for (uint32_t i = 1; i < frames; ++i)
        points.push_back(
            {static_cast<int>(Round(i * xStep)), y(first[static_cast<size_t>(i) * stride])});
}

}  // namespace sonabi
