#include "toolkit/Canvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cstdlib>

TCanvas::TCanvas(int width, int height) : image_(width, height, QImage::Format_RGB32) {
    image_.fill(Qt::black);
}

QRgb* TCanvas::Pixels() {
    // One detach per drawing call; then plain pointer writes.
    stride_ = image_.bytesPerLine() / 4;
    return reinterpret_cast<QRgb*>(image_.bits());
}

void TCanvas::Plot(QRgb* pixels, int x, int y, QRgb colour) const {
    if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return;
    pixels[static_cast<size_t>(y) * stride_ + x] = 0xFF000000u | colour;
}

void TCanvas::Changed() {
    if (OnChanged) OnChanged();
}

void TCanvas::Restart() {
    image_.fill(Qt::black);
    PenColor = 0x000000, Style = PenStyle::psSolid, BrushColor = 0xFFFFFF, FontColor = 0x000000;
    penX_ = penY_ = 0;
    Changed();
}

void TCanvas::MoveTo(int x, int y) {
    penX_ = x;
    penY_ = y;
}

void TCanvas::LineTo(int x, int y) {
    // Bresenham from the current point; the end point is left out. A dotted pen alternates one
    // pixel on, one pixel off, starting with a drawn pixel.
    int x0 = penX_, y0 = penY_;
    const int dx = std::abs(x - x0), sx = x0 < x ? 1 : -1;
    const int dy = -std::abs(y - y0), sy = y0 < y ? 1 : -1;
    int err = dx + dy;
    bool on = true;
    QRgb* pixels = Pixels();
    // Long lines far outside the image are cut short: nothing after leaving the far edge counts.
    while (!(x0 == x && y0 == y)) {
        if (Style == PenStyle::psSolid || on) Plot(pixels, x0, y0, PenColor);
        on = !on;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
    penX_ = x;
    penY_ = y;
    Changed();
}

void TCanvas::FillRect(int x1, int y1, int x2, int y2) {
    if (x2 < x1) std::swap(x1, x2);
    if (y2 < y1) std::swap(y1, y2);
    const int left = std::max(x1, 0), right = std::min(x2, image_.width());
    const int top = std::max(y1, 0), bottom = std::min(y2, image_.height());
    QRgb* pixels = Pixels();
    // A rectangle wholly left or right of the image (a peak beyond the right edge) fills nothing.
    if (left < right)
        for (int y = top; y < bottom; ++y)
            std::fill(pixels + static_cast<size_t>(y) * stride_ + left,
                      pixels + static_cast<size_t>(y) * stride_ + right, 0xFF000000u | BrushColor);
    Changed();
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
    if (x2 < x1) std::swap(x1, x2);
    if (y2 < y1) std::swap(y1, y2);
    if (x2 - x1 < 1 || y2 - y1 < 1) return;
    FillRect(x1, y1, x2, y2);
    QRgb* pixels = Pixels();
    for (int x = x1; x < x2; ++x) {
        Plot(pixels, x, y1, PenColor);
        Plot(pixels, x, y2 - 1, PenColor);
    }
    for (int y = y1; y < y2; ++y) {
        Plot(pixels, x1, y, PenColor);
        Plot(pixels, x2 - 1, y, PenColor);
    }
    Changed();
}

void TCanvas::TextOut(int x, int y, const QString& text) {
    if (text.isEmpty()) return;
    // Looking a font up is costly: the metrics are kept until the font changes.
    if (!metrics_ || metricsFont_ != Font) {
        metricsFont_ = Font;
        textFont_ = Font;
        textFont_.setStyleStrategy(QFont::NoAntialias);
        metrics_.emplace(textFont_);
    }
    const QFontMetrics& metrics = *metrics_;
    const QRect box(x, y, metrics.horizontalAdvance(text), metrics.height());
    QPainter painter(&image_);
    painter.setFont(textFont_);
    painter.fillRect(box, QColor::fromRgb(BrushColor));
    painter.setPen(QColor::fromRgb(FontColor));
    painter.drawText(x, y + metrics.ascent(), text);
    painter.end();
    Changed();
}
