// The whole path a file takes after it is read, in the real window (offscreen, simulated audio
// device, message boxes answered by no-ops): the bytes below describe a WAV file with any format
// fields (or, with bit0, any file at all, which goes to libsndfile when it is no RIFF WAVE),
// which is written to a temporary file and opened as the open command does; then the view is
// reset and refreshed with drawing, detection and publishing, the play position is scrolled, the
// analysis arrows are pressed both ways, the views are clicked, the mixer makes and plays its
// shortest tone and a key is clicked. No crash, no read outside a block, no leak; a refused file
// keeps the held sound; the analysis window never runs past the held sound; the waveform view,
// which is not drawn again while it would get the same lines, shows what a redraw draws.
//
// One window serves every input: RestartFresh returns it to a new window's state after each
// input (checked once at start against a new window), so each finding still reproduces from its
// input alone.
//
// Input layout (little-endian):
//   [0]      flags: bit0 the rest of the input is the whole file image; bit1 nBlockAlign taken
//            from [6..7] instead of channels x bytes; bit2 format tag from [10..11] instead of
//            PCM; bit3 the data chunk declares [12..15] bytes instead of its length
//   [1]      channels % 9 (0..8)
//   [2..4]   sample rate % 200001 (0..200000 Hz)
//   [5]      bits per sample % 65 (0..64)
//   [6..7]   nBlockAlign (bit1)
//   [8..9]   data bytes, 0..65535
//   [10..11] format tag (bit2)
//   [12..15] declared data size (bit3)
//   [16..23] eight actions, see Act(); then the mixer, and a click on key 1 + [16] % 60
//   [24..]   sample bytes, repeated to the data length (or the file image with bit0)
#include <stdlib.h>
#include <unistd.h>

#include <QAbstractSlider>
#include <QApplication>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "audio/SimulatedWaveAudio.h"
#include "form/TFormMain.h"
#include "toolkit/AppServices.h"
#include "wavfile/WavFile.h"

using namespace sonabi;

namespace {

constexpr size_t kHeader = 24;

std::string g_path;  // the temporary file every input is written to
QString g_lastMessage;
SimulatedWaveAudio* g_audio = nullptr;
TFormMain* g_form = nullptr;  // the one window, restarted after every input

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

uint32_t Le(const uint8_t* p, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint32_t(p[i]) << (8 * i);
    return v;
}

// The WAV image the header describes.
std::vector<uint8_t> BuildFile(const uint8_t* in, size_t n) {
    const uint8_t flags = in[0];
    if (flags & 1) return {in + kHeader, in + n};
    // Field by field: the tag and the block align may be the fuzzer's, unlike any PCM record.
    WAVEFORMATEX f;
    f.wFormatTag = (flags & 4) ? static_cast<uint16_t>(Le(in + 10, 2)) : WAVE_FORMAT_PCM;
    f.nChannels = in[1] % 9;
    f.nSamplesPerSec = Le(in + 2, 3) % 200001;
    f.wBitsPerSample = in[5] % 65;
    f.nBlockAlign = (flags & 2) ? static_cast<uint16_t>(Le(in + 6, 2))
                                : static_cast<uint16_t>(f.nChannels * (f.wBitsPerSample / 8));
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    const uint32_t length = Le(in + 8, 2);
    std::vector<uint8_t> samples(length, 0);
    const size_t patternLength = n - kHeader;
    // The pattern, then what is filled so far doubled: a byte-by-byte loop here gave the fuzzer
    // 65,536 comparisons to trace per input.
    if (patternLength > 0 && length > 0) {
        size_t filled = std::min<size_t>(patternLength, length);
        std::memcpy(samples.data(), in + kHeader, filled);
        while (filled < length) {
            const size_t more = std::min<size_t>(filled, length - filled);
            std::memcpy(samples.data() + filled, samples.data(), more);
            filled += more;
        }
    }
    std::vector<uint8_t> file = WaveFileBytes(f, samples.data(), length);
    if (flags & 8) {
        const uint32_t declared = Le(in + 12, 4);
        std::memcpy(file.data() + 42, &declared, 4);
    }
    return file;
}

bool WriteFile(const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(g_path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// The analysis window lies inside the held sound (or, for a sound shorter than the shortest
// window, is that one padded window) and the scroll bar never offers more.
void CheckWindow(const TFormMain& form) {
    const uint32_t align = form.WaveFormat.nBlockAlign;
    Require(form.WaveData != nullptr && form.WaveDataHeld, "a sound is held");
    Require(align > 0 && form.ViewOffset % align == 0, "window starts on a frame");
    const uint64_t end = uint64_t(form.ViewOffset) + uint64_t(align) * form.FftSize;
    Require(end <= form.WaveDataSize || form.ViewOffset == 0, "window inside the sound");
    Require(form.FftSize >= 256 && form.FftSize <= 2048, "window length");
    Require(form.PlayScrollBar->Max() + uint64_t(align) * form.FftSize <=
                std::max<uint64_t>(form.WaveDataSize, uint64_t(align) * form.FftSize),
            "scroll range inside the sound");
}

// One user action, chosen by the top three bits; the low five bits are its argument.
void Act(TFormMain& form, uint8_t action) {
    const int op = action >> 5, arg = action & 31;
    ScrollBar* bar = form.PlayScrollBar;
    switch (op) {
        case 0:  // drag the play position to arg/31 of the range
            bar->setSliderPosition(static_cast<int>(int64_t(bar->maximum()) * arg / 31));
            bar->triggerAction(QAbstractSlider::SliderMove);
            break;
        case 1:
            bar->triggerAction(arg & 1 ? QAbstractSlider::SliderSingleStepAdd
                                       : QAbstractSlider::SliderSingleStepSub);
            break;
        case 2:
            bar->triggerAction(arg & 1 ? QAbstractSlider::SliderPageStepAdd
                                       : QAbstractSlider::SliderPageStepSub);
            break;
        case 3:
            bar->triggerAction(arg & 1 ? QAbstractSlider::SliderToMaximum
                                       : QAbstractSlider::SliderToMinimum);
            break;
        case 4:
            form.UpDownChoicedata->Click(arg & 1 ? btNext : btPrev);
            break;
        case 5:
            form.UpDownfftscale->Click(arg & 1 ? btNext : btPrev);
            break;
        case 6:  // the two gain scroll bars
            if (arg & 1)
                form.ScrollBarWaveTimesScroll(1 + (arg >> 1) % 10);
            else
                form.ScrollBarFftTimesScroll(1 + (arg >> 1) * 5 % 80);
            break;
        default: {  // clicks on the views: time read-out, threshold, low cut-off
            const int x = arg * 17, y = arg * 5;
            if (arg % 3 == 0)
                form.PaintBoxGraMouseDown(Qt::LeftButton, Qt::NoModifier, x, y);
            else
                form.PaintBoxFftMouseDown(arg % 3 == 1 ? Qt::LeftButton : Qt::RightButton,
                                          Qt::ShiftModifier, x, y);
            break;
        }
    }
}

// Plays whatever the window has handed to the device to its end, and delivers the messages.
void PlayOut(TFormMain& form) {
    for (int i = 0; i < 3 && form.Playing; ++i) {
        g_audio->FinishOutput();
        QCoreApplication::sendPostedEvents(&form);
    }
}

// Everything a user or the next input could meet, in named parts: fields, control values and
// texts, canvases.
using State = std::vector<std::pair<const char*, QByteArray>>;
State StateOf(const TFormMain& f) {
    State parts;
    QByteArray s;
    auto part = [&](const char* name) { parts.emplace_back(name, std::exchange(s, {})); };
    auto add = [&](const void* p, size_t n) {
        s.append(static_cast<const char*>(p), qsizetype(n));
    };
    auto num = [&](double v) { add(&v, sizeof v); };
    add(&f.WaveFormat, sizeof f.WaveFormat);
    add(f.WaveData, f.WaveData ? f.WaveDataSize : 0);
    part("held sound");
    for (double v : {double(f.WaveDataSize),
                     double(f.CurBits),
                     double(f.CurRate),
                     double(f.CurChannels),
                     double(f.DataBits),
                     double(f.DataRate),
                     double(f.DataChannels),
                     double(f.DataFormatTag),
                     double(f.SynthActive),
                     double(f.SavedWaveData != nullptr),
                     double(f.SavedWaveDataSize),
                     double(f.InitialBufferSeconds),
                     double(f.ViewOffset),
                     double(f.FftSize),
                     double(f.FftSizeExponent),
                     double(f.WaveOutHandle != nullptr),
                     double(f.WaveInHandle != nullptr),
                     double(f.WaveHeader != nullptr),
                     double(f.WaveHeader2 != nullptr),
                     double(f.RecordBuffer != nullptr),
                     double(f.RecordedBytes),
                     double(f.RecordCapacity),
                     f.CaptureBlockSeconds,
                     double(f.PlayTime.cb),
                     double(f.IgnoreNextDone),
                     double(f.WaveDataHeld),
                     double(f.Playing),
                     double(f.Recording),
                     double(f.CaptureOpen),
                     double(f.CaptureRunning),
                     double(f.StopRequested),
                     double(f.StopFinished),
                     double(f.Closing),
                     double(f.HarmonicsFromAnalysis),
                     double(f.NoiseCapturePending),
                     double(f.LevelOk),
                     double(f.TimeGridFineMs),
                     double(f.TimeGridCoarseMs),
                     double(f.FreqGridFineHz),
                     double(f.FreqGridCoarseHz),
                     f.FrequencySpan,
                     f.PeakThreshold,
                     f.FftTimes,
                     double(f.LowCutHz),
                     double(f.LowCutBin),
                     double(f.LowCutX),
                     double(f.SpanBinCount),
                     f.SpectrumPeakMax,
                     double(f.VoiceprintX),
                     double(f.VoiceprintWidth),
                     double(f.DetectedFrequency),
                     double(f.PeakLevel),
                     double(f.HarmonicCount),
                     double(f.FadeSamples),
                     f.MixSeconds,
                     double(f.Timer1->isActive())})
        num(v);
    part("fields");
    add(f.HarmonicLevels, sizeof f.HarmonicLevels);
    add(f.HarmonicPhases, sizeof f.HarmonicPhases);
    add(f.KeyFrequencies, sizeof f.KeyFrequencies);
    part("tables");
    for (const double* a : {f.SpectrumMagnitudes, f.NoiseSpectrum, f.FftInput})
        add(a, a ? 2048 * sizeof(double) : 0);
    part("spectrum arrays");
    for (QAbstractSlider* c : std::initializer_list<QAbstractSlider*>{
             f.PlayScrollBar, f.ScrollBarWaveTimes, f.ScrollBarFftTimes, f.freq, f.volume,
             f.TBmixtime})
        for (int v : {c->minimum(), c->maximum(), c->value(), c->pageStep(), c->singleStep()})
            num(v);
    part("bars");
    for (int k = 1; k <= 20; ++k)
        for (int v :
             {f.TrackBars[k]->Position(), f.TrackBars[k]->SelStart(), f.TrackBars[k]->SelEnd()})
            num(v);
    part("harmonic sliders");
    for (int k = 1; k <= 60; ++k) num(f.Panels[k]->Colour());
    num(f.RadioGroupchan->ItemIndex());
    part("keys and channels");
    for (const QLabel* l : {f.LbfftValue, f.Label21, f.Lbamp, f.LBmixtime}) s += l->text().toUtf8();
    for (int k = 1; k <= 10; ++k) s += f.Labels[k]->text().toUtf8();
    s += f.RecButton->text().toUtf8() + f.PlayButton->text().toUtf8();
    num(f.RecButton->isHidden());
    part("texts");
    for (PaintBox* box :
         {f.PaintBoxGra, f.PaintBoxFft, f.PaintBoxSeimon, f.PaintBoxSeimonScale, f.SeimonAmpGra}) {
        const QImage& image = box->Canvas().Image();
        add(image.constBits(), size_t(image.sizeInBytes()));
        part("canvas");
    }
    return parts;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    (void)argc;
    new QApplication(qtArgc, qtArgv);  // lives as long as the process
    AppServices& app = AppServices::Instance();
    app.MessageBox = [](const QString& text, const QString&) { g_lastMessage = text; };
    app.Confirm = [](const QString&) { return Answer::No; };
    app.OpenFileName = [](const QString&) { return QString(); };
    app.SaveFileName = [](const QString&) { return QString(); };
    app.FileExists = [](const QString&) { return false; };
    app.StartProgram = [](const QString&, const QStringList&) {};
    // In memory where there is a memory file system: every input is written and read back.
    char folder[] = "/dev/shm/sonabi-fuzz-path.XXXXXX";
    char fallback[] = "/tmp/sonabi-fuzz-path.XXXXXX";
    const char* made = mkdtemp(folder);
    if (!made) made = mkdtemp(fallback);
    if (!made) std::abort();
    g_path = std::string(made) + "/in.wav";
    static std::string folderName = made;
    std::atexit([] {
        std::remove(g_path.c_str());
        rmdir(folderName.c_str());
    });

    g_audio = new SimulatedWaveAudio;  // both live as long as the process
    g_form = new TFormMain(g_audio);
    // The restart is only worth its speed if it gives exactly a new window: a window taken
    // through a file, both arrows, the mixer and a key must equal a new one once restarted.
    const uint8_t tone[kHeader + 4] = {0,    2,    0x44, 0xAC, 0,    16,   0,    0,    0x00, 0x40,
                                       0,    0,    0,    0,    0,    0,    0x80, 0x81, 0xA1, 0xA0,
                                       0x61, 0x45, 0xE3, 7,    0x10, 0x60, 0xF0, 0x90};
    Require(WriteFile(BuildFile(tone, sizeof tone)), "seed file written");
    g_form->OpenPath(QString::fromStdString(g_path));
    for (size_t i = 16; i < kHeader; ++i) Act(*g_form, tone[i]);
    g_form->TransmitClick();
    PlayOut(*g_form);
    g_form->Panel1Click(g_form->Panels[34]);
    PlayOut(*g_form);
    g_form->RestartFresh();
    SimulatedWaveAudio freshAudio;
    TFormMain fresh(&freshAudio);
    const State restarted = StateOf(*g_form), created = StateOf(fresh);
    for (size_t i = 0; i < restarted.size(); ++i)
        if (restarted[i].second != created[i].second)
            std::fprintf(stderr, "restarted window differs in: %s (part %zu)\n", restarted[i].first,
                         i);
    Require(restarted == created, "a restarted window equals a new one");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* in, size_t n) {
    if (n < kHeader) return 0;
    if (!WriteFile(BuildFile(in, n))) return 0;

    TFormMain& form = *g_form;
    const uint8_t* heldData = form.WaveData;
    const uint32_t heldSize = form.WaveDataSize;
    WAVEFORMATEX heldFormat = form.WaveFormat;

    g_lastMessage.clear();
    form.OpenPath(QString::fromStdString(g_path));
    if (g_lastMessage == "stop") {
        // Refused: the sound held before is still there, as it was.
        Require(form.WaveData == heldData && form.WaveDataSize == heldSize, "held sound kept");
        Require(std::memcmp(&form.WaveFormat, &heldFormat, sizeof heldFormat) == 0,
                "held format kept");
    }
    CheckWindow(form);

    // Both arrows both ways and the end of the range, then the input's own actions.
    for (uint8_t action : {0x80, 0x81, 0xA1, 0xA0, 0x61}) Act(form, action), CheckWindow(form);
    for (size_t i = 16; i < kHeader; ++i) Act(form, in[i]), CheckWindow(form);

    // The mixer's tone from what the analysis left on the sliders, then a key; each plays out.
    // Their length is the shortest the slider gives: a longer tone is only more samples of the
    // same sums, and cost a sixth of an input's time.
    form.TBmixtime->SetPosition(1);
    form.TransmitClick();
    PlayOut(form);
    CheckWindow(form);
    form.Panel1Click(form.Panels[1 + in[16] % 60]);
    PlayOut(form);
    CheckWindow(form);
    Require(!form.Playing, "the tone played to its end");
    // The waveform view, which is left as it is while it shows the lines a redraw would draw,
    // holds what drawing it afresh gives.
    {
        static std::vector<uint8_t> shown;
        const QImage& image = form.PaintBoxGra->Canvas().Image();
        shown.assign(image.constBits(), image.constBits() + image.sizeInBytes());
        form.WaveShown.lines = -1;
        form.RedrawWaveform();
        Require(std::memcmp(shown.data(), image.constBits(), shown.size()) == 0,
                "the waveform view shows what a redraw draws");
    }
    // Back to a new window for the next input. Restarting here rather than first thing makes an
    // input free what it allocated, so libFuzzer sees no more mallocs than frees and does not
    // run it again to look for a leak.
    form.RestartFresh();
    return 0;
}
