#include "toolkit/Canvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

TCanvas::TCanvas(int width, int height)
    : image_(width, height, QImage::Format_RGB32), width_(width), height_(height) {
    image_.fill(Qt::black);
}

QRgb* TCanvas::Pixels() {
    // One detach per drawing call; then plain pointer writes.
    stride_ = image_.bytesPerLine() / 4;
    return reinterpret_cast<QRgb*>(image_.bits());
}

void TCanvas::Changed() {
    ++changes_;
    // A refresh makes thousands of drawing calls; the widget needs to hear of the first only.
    if (OnChanged && !changeReported_) {
        changeReported_ = true;
        OnChanged();
    }
}

void TCanvas::Restart() {
    image_.fill(Qt::black);
    PenColor = 0x000000, Style = PenStyle::psSolid, BrushColor = 0xFFFFFF, FontColor = 0x000000;
    penX_ = penY_ = 0;
    Changed();
}

void TCanvas::Take(Snapshot& into) const {
    QImage& to = into.image;
    if (to.size() == image_.size() && to.format() == image_.format() &&
        to.sizeInBytes() == image_.sizeInBytes())
        std::memcpy(to.bits(), image_.constBits(), static_cast<size_t>(image_.sizeInBytes()));
    else
        to = image_.copy();
    into.state = State();
}

bool TCanvas::Put(const Snapshot& snapshot) {
    const QImage& from = snapshot.image;
    if (from.size() != image_.size() || from.format() != image_.format() ||
        from.sizeInBytes() != image_.sizeInBytes())
        return false;
    // Copied into the canvas's own pixels: sharing them would cost an allocation at the next draw.
    std::memcpy(Pixels(), snapshot.image.constBits(), static_cast<size_t>(image_.sizeInBytes()));
    SetState(snapshot.state);
    Changed();
    return true;
}

TCanvas::DrawingState TCanvas::State() const {
    return {penX_, penY_, PenColor, BrushColor, FontColor, Style};
}

void TCanvas::SetState(const DrawingState& state) {
    penX_ = state.penX, penY_ = state.penY;
    PenColor = state.pen, BrushColor = state.brush, FontColor = state.font;
    Style = state.style;
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
    const int w = width_, h = height_;
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
    if (dx == 0 || dy == 0) {
        // A grid line or a flat run: the pixels it colours are known without walking.
        StraightLine(pixels, x0, y0, x, y, Style == PenStyle::psDot, on);
    } else {
        while (!(x0 == x && y0 == y)) {
            // Past an edge and moving away from the image: nothing more of it can be drawn.
            if ((x0 < 0 && sx < 0) || (x0 >= w && sx > 0) || (y0 < 0 && sy < 0) ||
                (y0 >= h && sy > 0))
                break;
            if ((Style == PenStyle::psSolid || on) && x0 >= 0 && y0 >= 0 && x0 < w && y0 < h)
                pixels[static_cast<size_t>(y0) * stride_ + x0] = 0xFF000000u | PenColor;
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
    }
    penX_ = x;
    penY_ = y;
    Changed();
}

void TCanvas::FillBlock(QRgb* pixels, int left, int right, int top, int bottom, QRgb colour) const {
    const qsizetype stride = stride_;  // a local: the stores could alias the member
    QRgb* row = pixels + top * stride;
    for (int y = top; y <= bottom; ++y, row += stride)
        std::fill(row + left, row + right + 1, colour);
}

void TCanvas::Polyline(const sonabi::Point* points, int count) {
    if (count <= 0) return;
    MoveTo(points[0].x, points[0].y);
    if (Style != PenStyle::psSolid) {
        // A dotted pen starts its pattern again at every segment: nothing merges.
        for (int i = 1; i < count; ++i) LineTo(points[i].x, points[i].y);
        return;
    }
    QRgb* pixels = Pixels();
    const QRgb colour = 0xFF000000u | PenColor;
    // The run being gathered: rows lo..hi of column x. The pixel walk moves one row at a time
    // within a column, so what the next segment adds there touches or overlaps it.
    bool gathering = false;
    int runX = 0;
    long long runLo = 0, runHi = 0;
    // Gathered runs are clipped, and runs of the same rows side by side are painted as one block
    // a row at a time: a loud waveform at a high gain fills its columns from top to bottom.
    bool blocked = false;
    int blockLeft = 0, blockRight = 0, blockTop = 0, blockBottom = 0;
    const auto paintBlock = [&] {
        if (blocked) FillBlock(pixels, blockLeft, blockRight, blockTop, blockBottom, colour);
        blocked = false;
    };
    const auto flush = [&] {
        if (!gathering) return;
        gathering = false;
        const long long top = std::max(runLo, 0LL), bottom = std::min(runHi, height_ - 1LL);
        if (runX < 0 || runX >= width_ || top > bottom) return;
        if (blocked && runX == blockRight + 1 && top == blockTop && bottom == blockBottom) {
            blockRight = runX;
            return;
        }
        paintBlock();
        blocked = true, blockLeft = blockRight = runX;
        blockTop = static_cast<int>(top), blockBottom = static_cast<int>(bottom);
    };
    const auto add = [&](int x, long long lo, long long hi) {
        if (gathering && x == runX && lo <= runHi + 1 && hi >= runLo - 1) {
            runLo = std::min(runLo, lo), runHi = std::max(runHi, hi);
            return;
        }
        flush();
        gathering = true, runX = x, runLo = lo, runHi = hi;
    };
    constexpr long long kLongest = 1LL << 30;
    const auto floorDiv = [](long long a, long long b) { return a / b - (a % b != 0 && a < 0); };
    for (int i = 1; i < count; ++i) {
        const int x0 = penX_, y0 = penY_, x1 = points[i].x, y1 = points[i].y;
        const long long dx = std::abs(static_cast<long long>(x1) - x0);
        const long long D = std::abs(static_cast<long long>(y1) - y0);
        const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        if (D == 0 || D < dx || D > kLongest) {
            // Flat or shallow: at most one pixel a column, walked as LineTo walks it (as is a
            // line too long for the run arithmetic below).
            flush();
            LineTo(x1, y1);
            continue;
        }
        // Steep or vertical: the walk's pixel m (m = 0 .. D - 1) is row y0 + sy * m of column
        // x0 + sx * floor((floor(D / 2) + m * dx) / D), so column k holds one run of rows.
        // Only the columns inside the image are looked at.
        const long long h = D / 2;
        const long long kFirst =
            std::max(0LL, sx > 0 ? -static_cast<long long>(x0) : x0 - (width_ - 1LL));
        const long long kLast =
            std::min(dx, sx > 0 ? width_ - 1LL - x0 : static_cast<long long>(x0));
        for (long long k = kFirst; k <= kLast; ++k) {
            // m from ceil((k D - h) / dx) to ceil(((k + 1) D - h) / dx) - 1, within 0 .. D - 1.
            long long mLo = 0, mHi = D - 1;
            if (dx == 1) {  // two columns, split at row D - h: no division
                if (k == 0)
                    mHi = D - h - 1;
                else
                    mLo = D - h;
            } else if (dx > 1) {
                mLo = std::max(0LL, -floorDiv(h - k * D, dx));
                mHi = std::min(D - 1, -floorDiv(h - (k + 1) * D, dx) - 1);
            }
            if (mLo > mHi) continue;
            const long long a = y0 + sy * mLo, b = y0 + sy * mHi;
            add(static_cast<int>(x0 + sx * k), std::min(a, b), std::max(a, b));
        }
        penX_ = x1, penY_ = y1;
    }
    flush();
    paintBlock();
    Changed();
}

void TCanvas::StraightLine(QRgb* pixels, int x0, int y0, int x1, int y1, bool dotted, bool on) {
    // Pixels x0.. or y0.. up to, not including, the end; a dotted pen colours every other one,
    // counted from the start even where the start lies outside the image.
    const bool vertical = x0 == x1;
    const int fixed = vertical ? x0 : y0, limit = vertical ? width_ : height_;
    if (fixed < 0 || fixed >= limit) return;
    const int from = vertical ? y0 : x0, to = vertical ? y1 : x1,
              length = vertical ? height_ : width_;
    // The first and last positions inside the image, as offsets from the start.
    const int step = from < to ? 1 : -1, count = std::abs(to - from);
    const int enter = std::max(0, step > 0 ? -from : from - (length - 1));
    const int leave = std::min(count, step > 0 ? length - from : from + 1);
    const int skip = dotted ? 2 : 1;
    int first = enter;
    if (skip == 2 && (first % 2 == 0) != on) ++first;
    const QRgb colour = 0xFF000000u | PenColor;
    const qsizetype base = vertical ? fixed : fixed * stride_, along = vertical ? stride_ : 1;
    if (!vertical && skip == 1 && first < leave) {
        const int a = from + step * first, b = from + step * (leave - 1);
        std::fill(pixels + base + std::min(a, b), pixels + base + std::max(a, b) + 1, colour);
        return;
    }
    for (int k = first; k < leave; k += skip) pixels[base + (from + step * k) * along] = colour;
}

void TCanvas::FillRect(int x1, int y1, int x2, int y2) {
    if (x2 < x1) std::swap(x1, x2);
    if (y2 < y1) std::swap(y1, y2);
    const int left = std::max(x1, 0), right = std::min(x2, width_);
    const int top = std::max(y1, 0), bottom = std::min(y2, height_);
    const QRgb colour = 0xFF000000u | BrushColor;
    // A rectangle wholly left or right of the image (a peak beyond the right edge) fills nothing.
    if (left == 0 && right == width_ && top == 0 && bottom == height_) {
        image_.fill(colour);  // a view cleared: one fill, not a loop of rows
    } else if (left < right && top < bottom) {
        QRgb* pixels = Pixels();
        QRgb* row = pixels + static_cast<size_t>(top) * stride_ + left;
        std::fill(row, row + (right - left), colour);
        for (int y = top + 1; y < bottom; ++y)
            std::memcpy(pixels + static_cast<size_t>(y) * stride_ + left, row,
                        sizeof(QRgb) * static_cast<size_t>(right - left));
    }
    Changed();
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
    if (x2 < x1) std::swap(x1, x2);
    if (y2 < y1) std::swap(y1, y2);
    if (x2 - x1 < 1 || y2 - y1 < 1) return;
    FillRect(x1, y1, x2, y2);
    // The outline is four solid lines, each ending one past its last pixel, whatever the style.
    QRgb* pixels = Pixels();
    StraightLine(pixels, x1, y1, x2, y1, false, true);
    StraightLine(pixels, x1, y2 - 1, x2, y2 - 1, false, true);
    StraightLine(pixels, x1, y1, x1, y2, false, true);
    StraightLine(pixels, x2 - 1, y1, x2 - 1, y2, false, true);
    Changed();
}

void TCanvas::ForgetStamps() {
    stamps_.clear();
    characters_.stamps.fill(nullptr);
}

void TCanvas::FollowFont() {
    // Looking a font up is costly: the metrics are kept until the font changes.
    if (!metrics_ || metricsFont_ != Font) {
        metricsFont_ = Font;
        textFont_ = Font;
        textFont_.setStyleStrategy(QFont::NoAntialias);
        metrics_.emplace(textFont_);
        ForgetStamps();
        labelCharactersCompose_.reset();
    }
}

const TCanvas::TextStamp& TCanvas::StampFor(const QString& text) {
    FollowFont();
    const auto key = std::make_tuple(text, FontColor, BrushColor);
    if (const auto found = stamps_.find(key); found != stamps_.end()) return found->second;
    if (stamps_.size() >= 1024) ForgetStamps();  // a bound, never reached by the views
    const QFontMetrics& metrics = *metrics_;
    const QRect box(0, 0, metrics.horizontalAdvance(text), metrics.height());
    // Glyphs may reach past their advance: the stamp keeps a margin around the ink as well.
    const QRect ink = metrics.boundingRect(text).translated(0, metrics.ascent());
    const QRect area = box.united(ink).adjusted(-4, -4, 4, 4);
    TextStamp stamp{QImage(area.size(), QImage::Format_ARGB32), {}, area.topLeft()};
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
    for (int row = 0; row < stamp.image.height(); ++row) {
        const QRgb* line = reinterpret_cast<const QRgb*>(stamp.image.constScanLine(row));
        for (int column = 0; column < stamp.image.width();) {
            if (qAlpha(line[column]) != 255) {
                ++column;
                continue;
            }
            const int start = column;
            while (column < stamp.image.width() && qAlpha(line[column]) == 255) ++column;
            stamp.runs.push_back({row, start, column - start});
        }
    }
    return stamps_.emplace(key, std::move(stamp)).first->second;
}

void TCanvas::Stamp(const TextStamp& stamp, int x, int y) {
    QRgb* pixels = Pixels();
    const int left = x + stamp.offset.x(), top = y + stamp.offset.y();
    for (const TextStamp::Run& run : stamp.runs) {
        const int row = top + run.row, from = std::max(left + run.column, 0);
        const int to = std::min(left + run.column + run.length, width_);
        if (row < 0 || row >= height_ || from >= to) continue;
        const QRgb* source = reinterpret_cast<const QRgb*>(stamp.image.constScanLine(run.row));
        std::memcpy(pixels + static_cast<size_t>(row) * stride_ + from, source + (from - left),
                    sizeof(QRgb) * static_cast<size_t>(to - from));
    }
}

bool TCanvas::StampCharacters(int x, int y, const QString& text) {
    static const QString kLabelCharacters = "0123456789.-";
    if (text.size() < 2) return false;
    FollowFont();
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
    // The characters' stamps in these colours, found once: a grid draws hundreds of labels.
    if (characters_.colours != std::make_pair(FontColor, BrushColor)) {
        characters_.colours = {FontColor, BrushColor};
        characters_.stamps.fill(nullptr);
    }
    for (const QChar c : text) {
        const TextStamp*& kept = characters_.stamps[kLabelCharacters.indexOf(c)];
        if (!kept) kept = &StampFor(QString(c));
        Stamp(*kept, x, y);
        x += kept->advance;
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
