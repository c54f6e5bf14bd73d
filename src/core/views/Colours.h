// Colours of the views and the keyboard, held as one integer 0xRRGGBB (the layout of Qt's QRgb
// without alpha: QColor(QRgb) takes it as it is and makes the colour opaque).
#pragma once
#include <cstdint>

namespace sonabi {

constexpr uint32_t MakeRgb(int red, int green, int blue) {
    return (static_cast<uint32_t>(red & 0xff) << 16) | (static_cast<uint32_t>(green & 0xff) << 8) |
           static_cast<uint32_t>(blue & 0xff);
}
constexpr int RedOf(uint32_t rgb) { return static_cast<int>((rgb >> 16) & 0xff); }
constexpr int GreenOf(uint32_t rgb) { return static_cast<int>((rgb >> 8) & 0xff); }
constexpr int BlueOf(uint32_t rgb) { return static_cast<int>(rgb & 0xff); }

constexpr uint32_t kBlack = MakeRgb(0, 0, 0);
constexpr uint32_t kWhite = MakeRgb(255, 255, 255);
constexpr uint32_t kRed = MakeRgb(255, 0, 0);
constexpr uint32_t kBlue = MakeRgb(0, 0, 255);
constexpr uint32_t kGridGreen = MakeRgb(0, 128, 0);  // grid and scale lines, markers

// The voiceprint's colour map for a level L in 0..255 (Round(normalised level * 255)): blue (0)
// through light cyan (128) and yellow (170) to red (255); black for L outside 0..255.
uint32_t LevelColour(int level);

}  // namespace sonabi
