#include "toolkit/Canvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>
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
    const int w = image_.width(), h = image_.height();
    // A steep line (a loud waveform at a high gain) may start far above or below the image: its
    // rows there are skipped in one step, to the state the pixel walk would reach, because each
    // of its steps moves one row and its error term then stays in [c + dx - D, c + dx), where
    // c = -floor(D / 2) and D = |dy|.
    if (-dy >= dx && dy != 0 && (y0 < 0 || y0 >= h)) {
        const long long D = -dy, rows = sy > 0 ? -static_cast<long long>(y0) : y0 - (h - 1);
        if (rows > 0) {
            const long long m = std::min(rows, D);
            const long long c = -(D / 2), low = c + dx - D;
            const long long columns = (err + m * dx - low) / D;
            err = static_cast<int>(err + m * dx - columns * D);
            x0 += static_cast<int>(sx * columns);
            y0 += static_cast<int>(sy * m);
            on = m % 2 == 0;
        }
    }
    QRgb* pixels = Pixels();
    while (!(x0 == x && y0 == y)) {
        // Past an edge and moving away from the image (or not moving across it): nothing more of
        // this line can be drawn.
        if ((x0 < 0 && (sx < 0 || dx == 0)) || (x0 >= w && (sx > 0 || dx == 0)) ||
            (y0 < 0 && (sy < 0 || dy == 0)) || (y0 >= h && (sy > 0 || dy == 0)))
            break;
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

const TCanvas::TextStamp& TCanvas::StampFor(const QString& text) {
    // Looking a font up is costly: the metrics are kept until the font changes.
    if (!metrics_ || metricsFont_ != Font) {
        metricsFont_ = Font;
        textFont_ = Font;
        textFont_.setStyleStrategy(QFont::NoAntialias);
        metrics_.emplace(textFont_);
        stamps_.clear();
        labelCharactersCompose_.reset();
    }
    const auto key = std::make_tuple(text, FontColor, BrushColor);
    if (const auto found = stamps_.find(key); found != stamps_.end()) return found->second;
    if (stamps_.size() >= 1024) stamps_.clear();  // a bound, never reached by the views
    const QFontMetrics& metrics = *metrics_;
    const QRect box(0, 0, metrics.horizontalAdvance(text), metrics.height());
    // Glyphs may reach past their advance: the stamp keeps a margin around the ink as well.
    const QRect ink = metrics.boundingRect(text).translated(0, metrics.ascent());
    const QRect area = box.united(ink).adjusted(-4, -4, 4, 4);
    TextStamp stamp{QImage(area.size(), QImage::Format_ARGB32), area.topLeft()};
    stamp.image.fill(Qt::transparent);
    const qreal exact = QFontMetricsF(textFont_).horizontalAdvance(text);
    if (exact == std::floor(exact)) stamp.advance = static_cast<int>(exact);
    stamp.inkInside = box.contains(ink);
    QPainter painter(&stamp.image);
    painter.translate(-area.topLeft());
    painter.setFont(textFont_);
    painter.fillRect(box, QColor::fromRgb(BrushColor));
    painter.setPen(QColor::fromRgb(FontColor));
    painter.drawText(0, metrics.ascent(), text);
    painter.end();
    return stamps_.emplace(key, std::move(stamp)).first->second;
}

void TCanvas::Stamp(const TextStamp& stamp, int x, int y) {
    QRgb* pixels = Pixels();
    const int left = x + stamp.offset.x(), top = y + stamp.offset.y();
    for (int row = std::max(0, -top); row < stamp.image.height() && top + row < Height(); ++row) {
        const QRgb* from = reinterpret_cast<const QRgb*>(stamp.image.constScanLine(row));
        QRgb* to = pixels + static_cast<size_t>(top + row) * stride_;
        for (int col = std::max(0, -left); col < stamp.image.width() && left + col < Width(); ++col)
            if (qAlpha(from[col]) == 255) to[left + col] = from[col];
    }
}

bool TCanvas::StampCharacters(int x, int y, const QString& text) {
    static const QString kLabelCharacters = "0123456789.-";
    if (text.size() < 2) return false;
    for (const QChar c : text)
        if (!kLabelCharacters.contains(c)) return false;
    if (!labelCharactersCompose_) {
        // Once per font: whole-pixel advances, ink inside each box, and no pair kerned.
        const QFontMetricsF exact(textFont_);
        bool compose = true;
        for (const QChar a : kLabelCharacters) {
            const TextStamp& stamp = StampFor(QString(a));
            compose = compose && stamp.advance >= 0 && stamp.inkInside;
            for (const QChar b : kLabelCharacters)
                compose = compose && exact.horizontalAdvance(QString(a) + b) ==
                                         exact.horizontalAdvance(a) + exact.horizontalAdvance(b);
        }
        labelCharactersCompose_ = compose;
    }
    if (!*labelCharactersCompose_) return false;
    for (const QChar c : text) {
        const TextStamp& stamp = StampFor(QString(c));
        Stamp(stamp, x, y);
        x += stamp.advance;
    }
    return true;
}

void TCanvas::TextOut(int x, int y, const QString& text) {
    if (text.isEmpty()) return;
    // Non-antialiased text is opaque wherever it paints, so copying the stamp's opaque pixels
    // gives what drawing the text here would give.
    if (!StampCharacters(x, y, text)) Stamp(StampFor(text), x, y);
    Changed();
}
