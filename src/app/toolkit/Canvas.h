// A drawing surface with the pixel conventions the views rely on: a line colours its start point
// but not its end point; a rectangle (x1, y1)-(x2, y2) covers columns x1..x2-1 and rows y1..y2-1
// with a 1-pixel outline in the pen colour and the inside in the brush colour; pens are 1 pixel,
// solid or dotted; text is drawn opaque on the brush colour. Everything is clipped to the image.
#pragma once
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPoint>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "views/WaveLine.h"

enum class PenStyle { psSolid, psDot };

class TCanvas {
  public:
    TCanvas(int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    const QImage& Image() const { return image_; }
    QRgb Pixel(int x, int y) const { return image_.pixel(x, y) & 0xFFFFFF; }
    // Drawing calls that changed the picture so far: while it stays the same, so do the pixels.
    uint64_t Changes() const { return changes_; }

    QRgb PenColor = 0x000000;
    PenStyle Style = PenStyle::psSolid;  // pen style
    QRgb BrushColor = 0xFFFFFF;
    QRgb FontColor = 0x000000;
    QFont Font;

    void MoveTo(int x, int y);
    void LineTo(int x, int y);  // from the current point; the end point is not drawn
    // The pixels of MoveTo(points[0]) and LineTo(points[1]) .. LineTo(points[count - 1]), the
    // pen ending at the last point. With a solid pen, what its steep and vertical segments
    // colour in one column (a waveform of more frames than pixels) is written as one run.
    void Polyline(const sonabi::Point* points, int count);
    void Rectangle(int x1, int y1, int x2, int y2);
    void FillRect(int x1, int y1, int x2, int y2);  // brush only, no outline
    void TextOut(int x, int y, const QString& text);

    // Back to a new canvas's state: all black, default colours and style, the pen at (0, 0).
    // The font and OnChanged stay.
    void Restart();

    // What drawing changes besides the pixels: the pen's place, the colours and the style.
    struct DrawingState {
        int penX = 0, penY = 0;
        QRgb pen = 0, brush = 0, font = 0;
        PenStyle style = PenStyle::psSolid;
    };
    DrawingState State() const;
    void SetState(const DrawingState& state);  // no pixel changes
    // Everything drawing changes. A view whose background stays the same from refresh to refresh
    // keeps it and puts it back.
    struct Snapshot {
        QImage image;
        DrawingState state;
    };
    // Into `into`, reusing its pixels when they are of this size: a new block of this size is
    // a fresh mapping, and filling it costs more page faults than drawing the grid.
    void Take(Snapshot& into) const;
    bool Put(const Snapshot& snapshot);  // false, and nothing changed, unless of this size

    // Called after a drawing call changes the canvas, so a widget can schedule a repaint: once,
    // until ChangesShown() says the widget has shown the canvas as it stands.
    std::function<void()> OnChanged;
    void ChangesShown() { changeReported_ = false; }

  private:
    QRgb* Pixels();
    // A vertical or horizontal pen line, its end point left out; a dotted one colours its start
    // when on, then every other pixel.
    void StraightLine(QRgb* pixels, int x0, int y0, int x1, int y1, bool dotted, bool on);
    // Rows top..bottom of columns left..right, all inside the image.
    void FillBlock(QRgb* pixels, int left, int right, int top, int bottom, QRgb colour) const;
    void Changed();
    // A label's pixels as QPainter draws it at (0, 0): the opaque box and the glyphs' ink, on
    // transparency; offset is where the image's top left lies relative to the label's origin.
    // advance: the text's width in whole pixels, -1 when it is not a whole number; inkInside:
    // no glyph pixel lies outside the opaque box.
    struct TextStamp {
        struct Run {
            int row, column, length;  // in the image; opaque pixels, copied as they are
        };
        QImage image;
        std::vector<Run> runs;
        QPoint offset;
        int advance = -1;
        bool inkInside = false;
    };
    const TextStamp& StampFor(const QString& text);
    void FollowFont();  // the kept metrics and stamps are for the current Font
    void ForgetStamps();
    void Stamp(const TextStamp& stamp, int x, int y);
    // A number label ("1500", "-20", "23.2") whose characters each sit in their own whole-pixel
    // box with no kerning between them is the row of its characters' stamps: the grid's labels
    // then need a dozen stamps, not one per number.
    bool StampCharacters(int x, int y, const QString& text);

    QImage image_;
    int width_, height_;
    bool changeReported_ = false;
    uint64_t changes_ = 0;
    int penX_ = 0;
    int penY_ = 0;
    qsizetype stride_ = 0;  // pixels per row
    QFont metricsFont_;
    QFont textFont_;
    std::optional<QFontMetrics> metrics_;
    // Labels and characters drawn before, by text, font colour and brush colour, for the
    // current font: shaping text was most of a refresh's cost.
    std::map<std::tuple<QString, QRgb, QRgb>, TextStamp> stamps_;
    std::optional<bool> labelCharactersCompose_;  // for the current font; unknown until asked
    // Those of stamps_ that are the label characters, in the order of "0123456789.-", for the
    // colours (font, brush); null where not looked up yet. A copied canvas looks them up again
    // in its own stamps.
    struct CharacterStamps {
        std::array<const TextStamp*, 12> stamps{};
        std::pair<QRgb, QRgb> colours{};
        CharacterStamps() = default;
        CharacterStamps(const CharacterStamps&) {}
        CharacterStamps& operator=(const CharacterStamps&) {
            stamps.fill(nullptr);
            return *this;
        }
    } characters_;
};
