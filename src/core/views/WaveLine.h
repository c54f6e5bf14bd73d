// The waveform view's points: one channel of a window's samples as a line across a view
// `width` pixels wide. No Qt here; the window draws the points and keeps their clipping verdict.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/Round.h"

namespace sonabi {

// A pixel position: x to the right, y down, from the view's top left corner.
struct Point {
    int x = 0, y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

// The points of 8-bit (unsigned) samples `stride` bytes apart from `first`, for `frames` frames
// (at least 1): x = Round(i x width / frames), y = Round((128 - s) x scale + centre), centre
// and scale in pixels (per sample unit). Replaces `points`, whose room is reused.
inline void WaveLine8(std::vector<Point>& points, int width, uint32_t frames, const uint8_t* first,
                      int stride, double centre, double scale) {
    const double xStep = width / static_cast<double>(frames);
    auto y = [&](int s) { return static_cast<int>(Round((128 - s) * scale + centre)); };
    points.clear();
    points.push_back({0, y(first[0])});
    for (uint32_t i = 1; i < frames; ++i)
        points.push_back(
            {static_cast<int>(Round(i * xStep)), y(first[static_cast<size_t>(i) * stride])});
}

// The same for signed samples `strideBytes` apart, each read by sample(pointer) on the 16-bit
// scale, with y = Round(centre - s x scale). Returns whether the window starts clipped (a
// sample above 32000 among its first 20): the line then ends before that sample, as the level
// warning is about the input, not the picture.
template <typename Sample>
bool WaveLineSigned(std::vector<Point>& points, int width, uint32_t frames, const uint8_t* first,
                    int strideBytes, double centre, double scale, Sample sample) {
    const double xStep = width / static_cast<double>(frames);
    auto at = [&](uint32_t i) { return sample(first + static_cast<size_t>(i) * strideBytes); };
    auto y = [&](auto s) { return static_cast<int>(Round(centre - s * scale)); };
    points.clear();
    points.push_back({0, y(at(0))});
    for (uint32_t i = 1; i < frames; ++i) {
        const auto s = at(i);
        if (i <= 19 && s > 32000) return true;
        points.push_back({static_cast<int>(Round(i * xStep)), y(s)});
    }
    return false;
}

// 16-bit little-endian samples, `stride` samples apart.
inline bool WaveLine16(std::vector<Point>& points, int width, uint32_t frames, const uint8_t* first,
                       int stride, double centre, double scale) {
    return WaveLineSigned(points, width, frames, first, stride * 2, centre, scale,
                          [](const uint8_t* s) {
                              int16_t v;
                              std::memcpy(&v, s, 2);
                              return v;
                          });
}

}  // namespace sonabi
