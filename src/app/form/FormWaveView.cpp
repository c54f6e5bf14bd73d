// The waveform view: the time grid, one polyline per channel, the time of a left click, and the
// shared clear and grid helpers the other views use.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/Round.h"
#include "form/TFormMain.h"
#include "views/Colours.h"
#include "views/ScaleGeometry.h"

using namespace sonabi;

void TFormMain::ClearPaintBox(PaintBox* box) {
    TCanvas& c = box->Canvas();
    c.BrushColor = kBlack;
    c.FillRect(0, 0, c.Width(), c.Height());
}

void TFormMain::DrawVerticalGrid(PaintBox* box, int fine, int coarse, double span) {
    TCanvas& c = box->Canvas();
    if (fine <= 0 || coarse <= 0 || !(span > 0)) return;
    const VerticalGrid grid = VerticalGridLines(c.Width(), fine, coarse, span);
    c.PenColor = kGridGreen;
    c.Style = PenStyle::psDot;
    // A span of thousands of steps (a sound of a few frames per second) puts many lines on one
    // pixel column. Drawing the same line again, or a label that the next one covers exactly,
    // changes no pixel, so those are left out and the work stays bounded by the box's width.
    for (int k = 1; k <= grid.fine.count; k = grid.fine.NextColumn(k)) {
        c.MoveTo(grid.fine.X(k), 0);
        c.LineTo(grid.fine.X(k), c.Height());
    }
    c.Style = PenStyle::psSolid;
    c.FontColor = kRed;
    // Within a column, each run of labels of one length is drawn once: its first line and its
    // last label, which covers the others exactly.
    const VerticalLines& solid = grid.coarse;
    for (int k = 1; k <= solid.count;) {
        const int columnEnd = solid.NextColumn(k);
        while (k < columnEnd) {
            const int last = solid.LastOfLabelLength(k, columnEnd - 1);
            c.MoveTo(solid.X(k), 0);
            c.LineTo(solid.X(k), c.Height());
            c.TextOut(solid.LabelX(last), 0, QString::number(solid.Value(last)));
            k = last + 1;
        }
    }
}

TFormMain::GridKey TFormMain::GridKeyFor(PaintBox* box, int fine, int coarse, double span) {
    const TCanvas& c = box->Canvas();
    return {c.Width(), c.Height(), c.Font, fine, coarse, span};
}

void TFormMain::ClearWithGrid(PaintBox* box, KeptGrid& kept, int fine, int coarse, double span) {
    TCanvas& c = box->Canvas();
    const GridKey key = GridKeyFor(box, fine, coarse, span);
    auto& pictures = kept.pictures;
    for (auto it = pictures.begin(); it != pictures.end(); ++it) {
        if (it->key == key && c.Put(it->picture)) {
            std::rotate(pictures.begin(), it, it + 1);
            return;
        }
    }
    // Drawn into the least recently used place, which becomes the first: its pixels are reused.
    std::rotate(pictures.begin(), pictures.end() - 1, pictures.end());
    ClearPaintBox(box);
    DrawVerticalGrid(box, fine, coarse, span);
    c.Take(pictures.front().picture);
    pictures.front().key = key;
}

double TFormMain::TimeGridSpan() const {
    const uint32_t rate = WaveFormat.nSamplesPerSec;
    if (rate == 0) return 0;  // no format: no time axis
    return static_cast<uint32_t>(FftSize * 1000u) / static_cast<double>(rate);
}

int TFormMain::WaveGain() const {
    return static_cast<int>(ScrollBarWaveTimes->Max() - ScrollBarWaveTimes->Position() + 1);
}

int TFormMain::WaveformLines(PaintBox* box, uint32_t frames, const uint8_t* data, uint32_t offset,
                             int channels, int bits) {
    if (!HasWaveBuffers() || !data) return 0;
    const SampleCoding coding = CodingFor(bits);
    if (!coding.Readable() || (channels != 1 && channels != 2)) return 0;
    const int W = box->Canvas().Width(), H = box->Canvas().Height();
    const double unitScale = std::ldexp(1.0, -coding.ScaleBits()) * H / 2;
    const double scale = WaveGain() * unitScale;
    const uint8_t* p = data + offset;
    auto line = [&](std::vector<Point>& points, const uint8_t* first, double centre) {
        bool clipped = false;
        if (bits == 8)
            WaveLine8(points, W, frames, first, channels, centre, scale);
        else if (bits == 16 && !coding.floating)
            clipped = WaveLine16(points, W, frames, first, channels, centre, scale);
        else
            clipped = WaveLineSigned(
                points, W, frames, first, channels * coding.Bytes(), centre, scale,
                [&](const uint8_t* s) { return static_cast<double>(SampleValue(coding, s)); });
        if (clipped) LevelOk = false;
    };
    if (channels == 1) {
        line(WaveLines[0], p, H / 2.0);
    } else {
        line(WaveLines[0], p, H / 3.0);
        line(WaveLines[1], p + coding.Bytes(), (2.0 * H) / 3.0);
    }
    return channels;
}

void TFormMain::DrawWaveLines(PaintBox* box, int lines) {
    TCanvas& c = box->Canvas();
    for (int i = 0; i < lines; ++i) {
        c.PenColor = i == 0 ? kRed : kBlue;
        c.Polyline(WaveLines[i].data(), static_cast<int>(WaveLines[i].size()));
    }
}

void TFormMain::DrawWaveform(PaintBox* box, uint32_t frames, const uint8_t* data, uint32_t offset,
                             int channels, int bits) {
    DrawWaveLines(box, WaveformLines(box, frames, data, offset, channels, bits));
}

void TFormMain::RedrawWaveform() {
    TCanvas& c = PaintBoxGra->Canvas();
    const int lines = WaveformLines(PaintBoxGra, FftSize, WaveData, ViewOffset,
                                    WaveFormat.nChannels, WaveFormat.wBitsPerSample);
    const GridKey grid = GridKeyFor(PaintBoxGra, TimeGridFineMs, TimeGridCoarseMs, TimeGridSpan());
    ShownWaveform& shown = WaveShown;
    // Nothing has drawn on the view since it got these very lines on this grid: it shows them.
    // Scrolling at an end of the sound, a new span or a new spectrum gain redraw nothing here.
    if (shown.changes == c.Changes() && shown.grid == grid && shown.lines == lines &&
        std::equal(WaveLines.begin(), WaveLines.begin() + lines, shown.points.begin())) {
        c.SetState(shown.state);
        return;
    }
    ClearWithGrid(PaintBoxGra, TimeGridKept, TimeGridFineMs, TimeGridCoarseMs, TimeGridSpan());
    DrawWaveLines(PaintBoxGra, lines);
    shown.changes = c.Changes(), shown.grid = grid, shown.lines = lines;
    for (int i = 0; i < lines; ++i) shown.points[i].swap(WaveLines[i]);
    shown.state = c.State();
}

void TFormMain::PaintBoxGraPaint() {
    if (Playing || Recording) return;
    RedrawWaveform();
}

void TFormMain::ScrollBarWaveTimesScroll(int scrollPos) {
    ScrollBarWaveTimes->SetPosition(static_cast<uint32_t>(scrollPos));
    if (!(Playing || Recording)) RedrawWaveform();
}

void TFormMain::PaintBoxGraMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int) {
    if (button != Qt::LeftButton || Playing || Recording) return;
    if (WaveFormat.nSamplesPerSec == 0) return;
    TCanvas& c = PaintBoxGra->Canvas();
    c.FontColor = kRed;
    c.TextOut(x + 1, 0, ClickTime(x));
}

QString TFormMain::ClickTime(int x) const {
    const double msPerWindow =
        static_cast<double>(FftSize) / static_cast<double>(WaveFormat.nSamplesPerSec) * 1000;
    return QString::fromStdString(ClickTimeText(x * msPerWindow / PaintBoxGra->width()));
}
