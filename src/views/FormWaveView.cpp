// The waveform view: the time grid, one polyline per channel, the time of a left click, and the
// shared clear and grid helpers the other views use.
#include <cmath>
#include <cstring>

#include "common/Round.h"
#include "main/TFormMain.h"
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

void TFormMain::ClearWithGrid(PaintBox* box, KeptGrid& kept, int fine, int coarse, double span) {
    TCanvas& c = box->Canvas();
    const auto key = std::make_tuple(c.Width(), c.Height(), c.Font, fine, coarse, span);
    if (kept.key == key && c.Put(kept.picture)) return;
    ClearPaintBox(box);
    DrawVerticalGrid(box, fine, coarse, span);
    c.Take(kept.picture);
    kept.key = key;
}

double TFormMain::TimeGridSpan() const {
    const uint32_t rate = WaveFormat.nSamplesPerSec;
    if (rate == 0) return 0;  // no format: no time axis
    return static_cast<uint32_t>(FftSize * 1000u) / static_cast<double>(rate);
}

int TFormMain::WaveGain() const {
    return static_cast<int>(ScrollBarWaveTimes->Max() - ScrollBarWaveTimes->Position() + 1);
}

void TFormMain::DrawWaveform(PaintBox* box, uint32_t frames, const uint8_t* data, uint32_t offset,
                             int channels, int bits) {
    if (!HasWaveBuffers() || !data) return;
    const SampleCoding coding = CodingFor(bits);
    if (!coding.Readable() || (channels != 1 && channels != 2)) return;
    const int H = box->Canvas().Height();
    double unit = 1.0;
    for (int i = 0; i < coding.ScaleBits(); ++i) unit /= 2;
    const double unitScale = unit * H / 2;
    box->Canvas().PenColor = kRed;
    const uint8_t* p = data + offset;
    auto draw = [&](const uint8_t* first, double centre) {
        if (bits == 8)
            DrawWave8(box, frames, first, channels, centre, unitScale);
        else if (bits == 16 && !coding.floating)
            DrawWave16(box, frames, first, channels, centre, unitScale);
        else
            DrawWaveSigned(
                box, frames, first, channels * coding.Bytes(), centre, unitScale,
                [&](const uint8_t* s) { return static_cast<double>(SampleValue(coding, s)); });
    };
    if (channels == 1) {
        draw(p, H / 2.0);
    } else {
        draw(p, H / 3.0);
        box->Canvas().PenColor = kBlue;
        draw(p + coding.Bytes(), (2.0 * H) / 3.0);
    }
}

void TFormMain::DrawWave8(PaintBox* box, uint32_t frames, const uint8_t* first, int stride,
                          double centre, double unitScale) {
    TCanvas& c = box->Canvas();
    const double xStep = c.Width() / static_cast<double>(frames);
    const double scale = WaveGain() * unitScale;
    auto y = [&](int s) { return static_cast<int>(Round((128 - s) * scale + centre)); };
    WavePoints.clear();
    WavePoints.emplace_back(0, y(first[0]));
    for (uint32_t i = 1; i < frames; ++i)
        WavePoints.emplace_back(static_cast<int>(Round(i * xStep)),
                                y(first[static_cast<size_t>(i) * stride]));
    c.Polyline(WavePoints.data(), static_cast<int>(WavePoints.size()));
}

void TFormMain::DrawWave16(PaintBox* box, uint32_t frames, const uint8_t* first, int stride,
                           double centre, double unitScale) {
    DrawWaveSigned(box, frames, first, stride * 2, centre, unitScale, [](const uint8_t* s) {
        int16_t v;
        std::memcpy(&v, s, 2);
        return v;
    });
}

template <typename Sample>
void TFormMain::DrawWaveSigned(PaintBox* box, uint32_t frames, const uint8_t* first,
                               int strideBytes, double centre, double unitScale, Sample sample) {
    TCanvas& c = box->Canvas();
    const double xStep = c.Width() / static_cast<double>(frames);
    const double scale = WaveGain() * unitScale;
    auto at = [&](uint32_t i) { return sample(first + static_cast<size_t>(i) * strideBytes); };
    auto y = [&](auto s) { return static_cast<int>(Round(centre - s * scale)); };
    WavePoints.clear();
    WavePoints.emplace_back(0, y(at(0)));
    for (uint32_t i = 1; i < frames; ++i) {
        const auto s = at(i);
        // Only the start of the window is checked for clipping: the warning is about the input.
        if (i <= 19 && s > 32000) {
            LevelOk = false;
            break;
        }
        WavePoints.emplace_back(static_cast<int>(Round(i * xStep)), y(s));
    }
    c.Polyline(WavePoints.data(), static_cast<int>(WavePoints.size()));
}

void TFormMain::RedrawWaveform() {
    ClearWithGrid(PaintBoxGra, TimeGridKept, TimeGridFineMs, TimeGridCoarseMs, TimeGridSpan());
    DrawWaveform(PaintBoxGra, FftSize, WaveData, ViewOffset, WaveFormat.nChannels,
                 WaveFormat.wBitsPerSample);
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
