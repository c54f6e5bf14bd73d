// The analysis controls of the window: the display range arrows, the window length arrows and
// the noise button, the last during a recording from the simulated capture device.
#include <QHelpEvent>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <vector>

#include "FormFixture.h"
#include "TestWavFiles.h"
#include "analysis/AnalysisTable.h"
#include "analysis/Fft.h"
#include "analysis/NoteName.h"
#include "analysis/Spectrum.h"
#include "analysis/WindowAnalysis.h"
#include "views/ScaleGeometry.h"

using namespace sonabi;

namespace {

class AnalysisControlsTest : public FormTest {
  protected:
    // Opens a 16-bit mono file of `frames` frames at `rate` holding a 440 Hz tone.
    void OpenTone(uint32_t frames, uint32_t rate) {
        const QString path = dir.filePath("tone.wav");
        const auto data = testwav::Mono16(frames, [rate](uint32_t t) {
            return static_cast<int>(
                std::lrint(8000 * std::sin(6.283185307179586 * 440 * t / rate)));
        });
        ASSERT_TRUE(testwav::WriteWave(path, MakePcmFormat(1, 16, rate), data));
        openName = path;
        form->Butopen->click();
        ASSERT_EQ(form->WaveDataSize, data.size());
    }
    // Marks the voiceprint so that a reset shows: a drawn block and a column position.
    void MarkVoiceprint() {
        TCanvas& c = form->PaintBoxSeimon->Canvas();
        c.BrushColor = 0x123456;
        c.FillRect(0, 0, 20, 20);
        form->VoiceprintX = 40;
    }
    bool VoiceprintWasReset() {
        return form->VoiceprintX == 0 && Pixel(form->PaintBoxSeimon, 10, 10) == 0x000000;
    }
    QTemporaryDir dir;
};

TEST_F(AnalysisControlsTest, RangeArrowsHalveAndDoubleBetween250And8000) {
    const int x0 = form->LowCutX;
    ASSERT_EQ(x0, std::lrint(form->PaintBoxFft->width() * 30 / 2000.0));
    struct Step {
        UDBtnType button;
        double span;
        int lowCutX;
    };
    const Step steps[] = {{btNext, 1000, 2 * x0}, {btNext, 500, 4 * x0},  {btNext, 250, 8 * x0},
                          {btNext, 250, 8 * x0},  {btPrev, 500, 4 * x0},  {btPrev, 1000, 2 * x0},
                          {btPrev, 2000, x0},     {btPrev, 4000, x0 / 2}, {btPrev, 8000, x0 / 4},
                          {btPrev, 8000, x0 / 4}, {btNext, 4000, x0 / 2}};
    for (const Step& s : steps) {
        MarkVoiceprint();
        form->UpDownfftscale->Click(s.button);
        EXPECT_EQ(form->FrequencySpan, s.span);
        EXPECT_EQ(form->LowCutX, s.lowCutX) << s.span;
        EXPECT_EQ(form->freq->maximum(), static_cast<int>(s.span));
        EXPECT_TRUE(VoiceprintWasReset()) << s.span;
        EXPECT_EQ(form->LowCutHz, 30u);
    }
}

TEST_F(AnalysisControlsTest, DoublingTheRangeHalvesAnOddMarkerPositionDownwards) {
    form->LowCutX = 21;
    form->UpDownfftscale->Click(btPrev);
    EXPECT_EQ(form->FrequencySpan, 4000.0);
    EXPECT_EQ(form->LowCutX, 10);
}

TEST_F(AnalysisControlsTest, RangeStopsBelowHalfALowSampleRate) {
    OpenTone(11025, 11025);
    form->UpDownfftscale->Click(btPrev);
    EXPECT_EQ(form->FrequencySpan, 4000.0);  // below 5512.5
    form->UpDownfftscale->Click(btPrev);
    EXPECT_EQ(form->FrequencySpan, 4000.0);
    EXPECT_EQ(form->freq->maximum(), 4000);

    OpenTone(8000, 8000);  // the range may reach half the rate exactly
    EXPECT_EQ(form->FrequencySpan, 2000.0);
    form->UpDownfftscale->Click(btPrev);
    EXPECT_EQ(form->FrequencySpan, 4000.0);
    form->UpDownfftscale->Click(btPrev);
    EXPECT_EQ(form->FrequencySpan, 4000.0);
}

TEST_F(AnalysisControlsTest, RangeArrowsRefreshTheAnalysisWhenIdle) {
    OpenTone(44100, 44100);
    for (UDBtnType b : {btNext, btPrev, btPrev, btPrev, btPrev}) {
        form->LbfftValue->setText("x");
        form->UpDownfftscale->Click(b);
        EXPECT_NEAR(form->LbfftValue->text().toInt(), 440, 2) << form->FrequencySpan;
    }
}

TEST_F(AnalysisControlsTest, WindowArrowsStepTheLengthAndTheTimeGrid) {
    struct Step {
        UDBtnType button;
        uint32_t size;
        int grid;
    };
    const Step steps[] = {{btNext, 1024, 2}, {btNext, 512, 1}, {btNext, 256, 1},
                          {btNext, 256, 1},  {btPrev, 512, 1}, {btPrev, 1024, 2},
                          {btPrev, 2048, 5}, {btPrev, 2048, 5}};
    OpenTone(44100, 44100);
    for (const Step& s : steps) {
        form->LbfftValue->setText("x");
        form->UpDownChoicedata->Click(s.button);
        EXPECT_EQ(form->FftSize, s.size);
        EXPECT_EQ(form->FftSizeExponent, std::lrint(std::log2(s.size / 256.0)));
        EXPECT_EQ(form->TimeGridFineMs, s.grid) << s.size;
        EXPECT_EQ(form->PlayScrollBar->Max(), 88200 - 2 * s.size);
        EXPECT_EQ(form->PlayScrollBar->pageStep(), static_cast<int>(s.size / 2));
        EXPECT_EQ(form->PlayScrollBar->singleStep(), static_cast<int>(s.size / 10));
        EXPECT_NE(form->LbfftValue->text(), "x") << s.size;  // refreshed, even at a bound
    }
}

TEST_F(AnalysisControlsTest, ShorterWindowKeepsTheOffsetLongerOneStaysInsideTheData) {
    // The start-up sound: 44100 bytes of 16-bit mono.
    uint32_t pos = 44100 - 2 * 2048;
    form->PlayScrollBarScroll(0, pos);
    ASSERT_EQ(form->ViewOffset, pos);
    form->UpDownChoicedata->Click(btNext);
    EXPECT_EQ(form->ViewOffset, 44100u - 4096);
    pos = 12000;
    form->PlayScrollBarScroll(0, pos);
    form->UpDownChoicedata->Click(btNext);
    EXPECT_EQ(form->ViewOffset, 12000u);
    form->UpDownChoicedata->Click(btPrev);
    EXPECT_EQ(form->ViewOffset, 12000u);

    pos = 44100 - 2 * 1024;  // the last window of 1024
    form->PlayScrollBarScroll(0, pos);
    ASSERT_EQ(form->ViewOffset, pos);
    form->UpDownChoicedata->Click(btPrev);
    EXPECT_EQ(form->FftSize, 2048u);
    EXPECT_EQ(form->ViewOffset, 44100u - 4096);
}

TEST_F(AnalysisControlsTest, LongerWindowIsRefusedWhenTheSoundIsShorter) {
    OpenTone(1000, 44100);
    ASSERT_EQ(form->FftSize, 256u);  // the short sound brought the window down at once
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().caption, "Wait");
    form->UpDownChoicedata->Click(btPrev);
    EXPECT_EQ(form->FftSize, 512u);
    form->UpDownChoicedata->Click(btPrev);
    EXPECT_EQ(form->FftSize, 512u);
    EXPECT_EQ(form->FftSizeExponent, 1);
    EXPECT_EQ(form->PlayScrollBar->Max(), 2000u - 1024);
    EXPECT_LE(form->ViewOffset, 2000u - 1024);

    OpenTone(200, 44100);  // shorter than the shortest window
    EXPECT_EQ(form->FftSize, 256u);
    form->UpDownChoicedata->Click(btPrev);
    EXPECT_EQ(form->FftSize, 256u);
    EXPECT_EQ(form->ViewOffset, 0u);
    EXPECT_EQ(form->PlayScrollBar->Max(), 0u);
}

TEST_F(AnalysisControlsTest, NoiseButtonOutsideRecordingDoesNothing) {
    form->NoiseSpectrum[3] = 7.5;
    form->Butfftampfilset->click();
    EXPECT_FALSE(form->NoiseCapturePending);
    EXPECT_EQ(form->NoiseSpectrum[3], 7.5);
    EXPECT_EQ(form->PeakThreshold, 5.0);
    EXPECT_TRUE(messages.empty());
    form->PlayButton->click();
    ASSERT_TRUE(form->Playing);
    form->Butfftampfilset->click();
    EXPECT_FALSE(form->NoiseCapturePending);
    EXPECT_EQ(form->NoiseSpectrum[3], 7.5);
}

// A hum of 50 Hz, whose period of 882 frames divides the 8820 frames between two analysed
// blocks, so that every analysed window holds the same samples.
constexpr double kHumAmplitude = 160.0;
int Hum(uint64_t frame, double amplitude = kHumAmplitude, double hz = 50) {
    return static_cast<int>(
        std::lrint(amplitude * std::sin(6.283185307179586 * hz * frame / 44100)));
}

// The magnitudes of the first 2048 frames of a mono signal.
std::vector<double> Magnitudes(const std::function<int(uint32_t)>& signal) {
    const auto data = testwav::Mono16(2048, signal);
    std::vector<double> input(2048), magnitudes(2048);
    std::vector<Complex> work(2048), output(2048);
    FillWindowedInput(2048, data.data(), 16, 1, 0, input.data());
    ComputeFft(2048, input.data(), work.data(), output.data(), magnitudes.data());
    return magnitudes;
}

// In the capture pass a bin counts when its raw magnitude is above 0 and above the next bin's.
double CaptureThreshold(const std::vector<double>& m, int n, unsigned lowCutBin) {
    double best = 0.0;
    for (int i = static_cast<int>(lowCutBin) + 1; i < n; ++i)
        if (m[i] > 0 && m[i] > m[i + 1]) best = std::max(best, m[i]);
    return std::max(best, 5.0);
}

class NoiseCaptureTest : public FormTest {
  protected:
    void StartRecording(int channels) {
        audio->SetInputGenerator([this, channels](uint8_t* dst, uint32_t bytes, uint64_t offset) {
            const uint32_t frameBytes = 2u * channels;
            for (uint32_t i = 0; i < bytes; ++i) {
                const uint64_t at = offset + i;
                const uint64_t frame = at / frameBytes;
                const int channel = static_cast<int>(at % frameBytes) / 2;
                const auto s = static_cast<uint16_t>(static_cast<int16_t>(signal(frame, channel)));
                dst[i] = static_cast<uint8_t>(at % 2 == 0 ? s & 0xFF : s >> 8);
            }
        });
        form->RadioGroupchan->SetItemIndex(channels - 1);
        form->RecButton->click();
        ASSERT_TRUE(form->Recording);
    }
    // Two blocks: the first of them is analysed.
    void AnalyseNextBlock() {
        ASSERT_EQ(audio->FillInputBlocks(2), 2);
        Pump();
    }
    void StopRecording() {
        form->RecButton->click();
        Pump();
        ASSERT_FALSE(form->Recording);
    }
    std::function<int(uint64_t frame, int channel)> signal = [](uint64_t, int) { return 0; };
};

TEST_F(NoiseCaptureTest, CapturingSilenceSetsTheThresholdToFive) {
    StartRecording(1);
    for (int i = 0; i < 300; ++i) form->NoiseSpectrum[i] = 9.0;
    form->PeakThreshold = 12.0;
    form->Butfftampfilset->click();
    EXPECT_TRUE(form->NoiseCapturePending);
    const int n = SpanBinCount(2048, 44100, 2000.0);
    ASSERT_EQ(n, 186);
    for (int i = 0; i < n; ++i) ASSERT_EQ(form->NoiseSpectrum[i], 0.0) << i;
    EXPECT_EQ(form->NoiseSpectrum[n], 9.0);

    AnalyseNextBlock();
    EXPECT_FALSE(form->NoiseCapturePending);
    EXPECT_EQ(form->PeakThreshold, 5.0);
    StopRecording();
}

TEST_F(NoiseCaptureTest, CapturedHumRaisesTheThresholdAndIsSubtractedAfterwards) {
    StartRecording(1);
    AnalyseNextBlock();  // silence: the spectrum view shows its grid only
    const QImage gridOnly = form->PaintBoxFft->Canvas().Image().copy();

    signal = [](uint64_t frame, int) { return Hum(frame); };
    AnalyseNextBlock();
    EXPECT_NE(form->PaintBoxFft->Canvas().Image(), gridOnly);  // the hum shows as peaks

    form->Butfftampfilset->click();
    AnalyseNextBlock();
    const std::vector<double> hum = Magnitudes([](uint32_t t) { return Hum(t); });
    const int n = SpanBinCount(2048, 44100, 2000.0);
    const double expected = CaptureThreshold(hum, n, form->LowCutBin);
    EXPECT_NEAR(expected, 40.0, 1.0);  // the hum is made to peak at about 40
    EXPECT_EQ(form->PeakThreshold, expected);
    for (int i = 0; i < n - 1; ++i) ASSERT_EQ(form->NoiseSpectrum[i], hum[i]) << i;
    EXPECT_EQ(form->NoiseSpectrum[n - 1], 0.0);  // the last bin is never copied

    AnalyseNextBlock();  // the same hum again: nothing is left of it
    EXPECT_EQ(form->PaintBoxFft->Canvas().Image(), gridOnly);
    EXPECT_EQ(form->LbfftValue->text(), "");

    signal = [](uint64_t frame, int) {
        return Hum(frame) + static_cast<int>(std::lrint(
                                1000 * std::sin(6.283185307179586 * 440 * frame / 44100)));
    };
    AnalyseNextBlock();
    EXPECT_NEAR(form->DetectedFrequency, 440, 1);
    EXPECT_EQ(form->LbfftValue->text(), QString::number(form->DetectedFrequency));
    EXPECT_EQ(form->PeakThreshold, expected);
    StopRecording();
}

TEST_F(NoiseCaptureTest, StereoCaptureTakesTheFirstChannel) {
    // The second channel hums louder and at another pitch: a capture there would show.
    signal = [](uint64_t frame, int channel) {
        return channel == 0 ? Hum(frame) : Hum(frame, 2 * kHumAmplitude, 100);
    };
    StartRecording(2);
    form->Butfftampfilset->click();
    AnalyseNextBlock();
    EXPECT_FALSE(form->NoiseCapturePending);
    const std::vector<double> left = Magnitudes([](uint32_t t) { return Hum(t); });
    const int n = SpanBinCount(2048, 44100, 2000.0);
    EXPECT_EQ(form->PeakThreshold, CaptureThreshold(left, n, form->LowCutBin));
    for (int i = 0; i < n - 1; ++i) ASSERT_EQ(form->NoiseSpectrum[i], left[i]) << i;
    StopRecording();
}

}  // namespace

// Noise captured at 2048 frames means nothing to a 512-frame spectrum (bin i is another
// frequency there): it is subtracted again only at the length and rate it was captured at.
TEST_F(NoiseCaptureTest, CapturedNoiseIsSubtractedOnlyAtItsOwnWindowLengthAndRate) {
    StartRecording(1);
    EXPECT_TRUE(form->Butfftampfilset->toolTip().startsWith(
        QString::fromUtf8("雑音は取り込まれていません")));
    signal = [](uint64_t frame, int) { return Hum(frame); };
    form->Butfftampfilset->click();
    AnalyseNextBlock();
    ASSERT_EQ(form->NoiseFftSize, 2048u);
    EXPECT_EQ(form->Butfftampfilset->toolTip(),
              QString::fromUtf8("2048 フレーム（44100 Hz）で取り込んだ雑音を差し引いています"));
    signal = [](uint64_t frame, int) {
        return Hum(frame) + static_cast<int>(std::lrint(
                                3000 * std::sin(6.283185307179586 * 220 * frame / 44100)));
    };
    AnalyseNextBlock();
    StopRecording();

    const auto shown = [&] {
        return std::make_tuple(form->DetectedFrequency, form->PeakLevel, form->LbfftValue->text(),
                               form->PaintBoxFft->Canvas().Image());
    };
    form->UpDownChoicedata->Click(btNext);
    form->UpDownChoicedata->Click(btNext);
    ASSERT_EQ(form->FftSize, 512u);
    EXPECT_EQ(form->Butfftampfilset->toolTip(),
              QString::fromUtf8("2048 フレーム（44100 Hz）で取り込んだ雑音は 512 フレーム"
                                "（44100 Hz）では差し引きません"));
    const auto withCapture = shown();
    const uint32_t captured = form->NoiseFftSize;
    form->NoiseFftSize = 0;  // as if nothing had been captured
    form->FullRefresh();
    EXPECT_TRUE(shown() == withCapture);
    EXPECT_NEAR(form->DetectedFrequency, 220, 3);

    form->NoiseFftSize = captured;
    form->UpDownChoicedata->Click(btPrev);
    form->UpDownChoicedata->Click(btPrev);
    EXPECT_TRUE(form->Butfftampfilset->toolTip().endsWith(QString::fromUtf8("差し引いています")));
}

// What the views do not show is one hover away: the sound 保存 saves, and the threshold and
// low cut-off once they are not the start-up ones.
TEST_F(AnalysisControlsTest, TipsFollowTheHeldSoundAndTheSpectrumSettings) {
    EXPECT_TRUE(form->Butsave->toolTip().startsWith(QString::fromUtf8("起動時の無音を保存します")));
    EXPECT_TRUE(form->Butsave->toolTip().endsWith(QString::fromUtf8("\nCtrl+T: チューナー")));
    EXPECT_EQ(form->PaintBoxFft->toolTip(), "");
    OpenTone(44100, 44100);
    EXPECT_TRUE(
        form->Butsave->toolTip().startsWith(QString::fromUtf8("tone.wav を保存します\nCtrl+E")));
    form->Transmit->click();
    EXPECT_TRUE(form->Butsave->toolTip().startsWith(
        QString::fromUtf8("ミキサーの音を保存します（再生 で元の音に戻ります）\n")));
    audio->FinishOutput();
    Pump();
    form->PlayButtonClick();  // the user's sound comes back
    EXPECT_TRUE(
        form->Butsave->toolTip().startsWith(QString::fromUtf8("tone.wav を保存します\nCtrl+E")));
    audio->FinishOutput();
    Pump();

    form->PaintBoxFftMouseDown(Qt::RightButton, Qt::ShiftModifier, 150, 20);
    EXPECT_EQ(form->PaintBoxFft->toolTip(),
              QString::fromUtf8("低域カット %1 Hz（Shift + 右クリック）").arg(form->LowCutHz));
    form->PaintBoxFftMouseDown(Qt::LeftButton, Qt::ShiftModifier, 150, 100);
    EXPECT_TRUE(form->PaintBoxFft->toolTip().endsWith(QString::fromUtf8("（Shift + 左クリック）")));
    EXPECT_TRUE(form->PaintBoxFft->toolTip().contains(
        QString::fromUtf8("しきい値 ") + QString::number(form->PeakThreshold, 'g', 6)));
}

// The note of the last analysis, each key's note and what lies under the pointer are tooltips:
// the label's note is the analyser's for the same window, and no pixel changes.
TEST_F(AnalysisControlsTest, ReadoutsNameTheNoteAndWhatLiesUnderThePointer) {
    OpenTone(44100, 44100);
    AnalysisSettings settings;
    AnalysisWorkspace ws;
    WindowResult r;
    ASSERT_TRUE(AnalyzeWindow(form->WaveData, form->WaveDataSize, form->WaveFormat,
                              form->ViewOffset, settings, ws, r));
    const NearestNote note = NearestNoteOf(r.pitch);
    ASSERT_EQ(note.name, "A4");
    const QString sign = note.cents < 0 ? QString::fromUtf8("−") : note.cents > 0 ? "+" : "";
    EXPECT_EQ(form->LbfftValue->toolTip(), QString::fromUtf8("A4 %1%2 セント (%3 Hz)")
                                               .arg(sign)
                                               .arg(std::abs(note.cents))
                                               .arg(QString::fromStdString(HzText(r.pitch))));
    EXPECT_EQ(form->Panels[1]->toolTip(), "C2: 65 Hz");
    EXPECT_EQ(form->Panels[34]->toolTip(), "A4: 440 Hz");

    // 440 Hz lies at x = 440 / 2000 of the width; the nearest bin there is the peak's.
    const int x = static_cast<int>(std::lround(440.0 / 2000 * form->PaintBoxFft->width()));
    const QString fft = form->PaintBoxFft->HoverText(x, 50);
    const int bin = static_cast<int>(std::lround(440.0 * 2047 / 44100));
    EXPECT_TRUE(fft.startsWith("44")) << fft.toStdString();
    EXPECT_TRUE(fft.endsWith(QString::fromUtf8("ビン %1: レベル %2")
                                 .arg(bin)
                                 .arg(form->SpectrumMagnitudes[bin], 0, 'f', 1)))
        << fft.toStdString();
    form->PaintBoxFftMouseDown(Qt::RightButton, Qt::ShiftModifier, 150, 20);
    EXPECT_TRUE(form->PaintBoxFft->HoverText(x, 50).endsWith("\n" + form->PaintBoxFft->toolTip()));
    const QImage before = form->PaintBoxFft->Canvas().Image();
    QHelpEvent help(QEvent::ToolTip, QPoint(x, 50), form->PaintBoxFft->mapToGlobal(QPoint(x, 50)));
    QCoreApplication::sendEvent(form->PaintBoxFft, &help);
    EXPECT_EQ(form->PaintBoxFft->Canvas().Image(), before);

    const int h = form->PaintBoxSeimon->Canvas().Height();
    EXPECT_EQ(form->PaintBoxSeimon->HoverText(0, 0), "2000.00 Hz");
    EXPECT_EQ(form->PaintBoxSeimon->HoverText(0, h / 2),
              QString::fromStdString(HzText(2000.0 * (h - h / 2) / h)) + " Hz");
    // The waveform's read-out is the time a click there writes (2048 frames across the width).
    const int w = form->PaintBoxGra->width();
    EXPECT_EQ(form->PaintBoxGra->HoverText(w / 2, 0),
              QString::fromStdString(ClickTimeText(2048 * 1000.0 / 44100 * (w / 2) / w)) + " ms");
}
