#include "toolkit/Canvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <cstdlib>

TCanvas::TCanvas(int width, int height) : image_(width, height, QImage::Format_RGB32) {
    image_.fill(Qt::black);
}

void TCanvas::Plot(int x, int y, QRgb colour) {
    if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return;
    reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = 0xFF000000u | colour;
}

void TCanvas::Changed() {
    if (OnChanged) OnChanged();
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
    // Long lines far outside the image are cut short: nothing after leaving the far edge counts.
    while (!(x0 == x && y0 == y)) {
        if (Style == PenStyle::psSolid || on) Plot(x0, y0, PenColor);
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
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) Plot(x, y, BrushColor);
    Changed();
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
    if (x2 < x1) std::swap(x1, x2);
    if (y2 < y1) std::swap(y1, y2);
    if (x2 - x1 < 1 || y2 - y1 < 1) return;
    FillRect(x1, y1, x2, y2);
    for (int x = x1; x < x2; ++x) {
        Plot(x, y1, PenColor);
        Plot(x, y2 - 1, PenColor);
    }
    for (int y = y1; y < y2; ++y) {
        Plot(x1, y, PenColor);
        Plot(x2 - 1, y, PenColor);
    }
    Changed();
}

void TCanvas::TextOut(int x, int y, const QString& text) {
    if (text.isEmpty()) return;
    QFont font = Font;
    font.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics metrics(font);
    const QRect box(x, y, metrics.horizontalAdvance(text), metrics.height());
    QPainter painter(&image_);
    painter.setFont(font);
    painter.fillRect(box, QColor::fromRgb(BrushColor));
    painter.setPen(QColor::fromRgb(FontColor));
    painter.drawText(x, y + metrics.ascent(), text);
    painter.end();
    Changed();
}
