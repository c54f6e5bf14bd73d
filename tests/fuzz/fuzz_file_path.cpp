// The whole path a file takes after it is read, in the real window (offscreen, simulated audio
// device, message boxes answered by no-ops): the bytes below describe a WAV file with any format
// fields, which is written to a temporary file and opened as the open command does; then the
// view is reset and refreshed with drawing, detection and publishing, the play position is
// scrolled, the analysis arrows are pressed both ways and the views are clicked. No crash, no
// read outside a block, no leak; a refused file keeps the held sound; the analysis window never
// runs past the held sound.
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
//   [16..23] eight actions, see Act()
//   [24..]   sample bytes, repeated to the data length (or the file image with bit0)
#include <stdlib.h>
#include <unistd.h>

#include <QAbstractSlider>
#include <QApplication>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/SimulatedWaveAudio.h"
#include "main/TFormMain.h"
#include "toolkit/AppServices.h"
#include "wavfile/WavFile.h"

using namespace sonabi;

namespace {

constexpr size_t kHeader = 24;

std::string g_path;  // the temporary file every input is written to
QString g_lastMessage;

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
    if (patternLength > 0)
        for (uint32_t i = 0; i < length; ++i) samples[i] = in[kHeader + i % patternLength];
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
    char folder[] = "/tmp/sonabi-fuzz-path.XXXXXX";
    if (!mkdtemp(folder)) std::abort();
    g_path = std::string(folder) + "/in.wav";
    static std::string folderName = folder;
    std::atexit([] {
        std::remove(g_path.c_str());
        rmdir(folderName.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* in, size_t n) {
    if (n < kHeader) return 0;
    if (!WriteFile(BuildFile(in, n))) return 0;

    // A fresh window each time, so that every finding reproduces from its input alone.
    SimulatedWaveAudio audio;
    TFormMain form(&audio);
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
    return 0;
}
