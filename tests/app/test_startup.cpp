// The window as it comes up: its held sound of silence, every start-up field, every control at its
// place with its caption, range and start value; the format record; the first window of a new
// held sound; and start-ups that run out of memory.
#include <QFontMetrics>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <algorithm>
#include <vector>

#include "CanvasChecks.h"
#include "FormFixture.h"
#include "SoundHelpers.h"
#include "synth/Keyboard.h"
#include "views/Colours.h"

using namespace sonabi;

namespace {

const QString kShortSoundPrompt = QString::fromUtf8("プログラムを閉じてください");

// ---------------------------------------------------------------------------------------------
// The held sound and the fields after start-up

TEST_F(FormTest, StartUpHoldsHalfASecondOfSilence) {
    ASSERT_NE(form->WaveData, nullptr);
    ASSERT_NE(form->WaveHeader, nullptr);
    EXPECT_TRUE(form->WaveDataHeld);
    EXPECT_EQ(form->WaveDataSize, 44100u);
    EXPECT_TRUE(
        std::all_of(form->WaveData, form->WaveData + 44100, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(form->FftSize, 2048u);
    EXPECT_EQ(form->FftSizeExponent, 3);
    EXPECT_EQ(form->ViewOffset, 0u);

    // The analysis window can be put anywhere in the 22050 frames but the last 2047.
    EXPECT_EQ(form->PlayScrollBar->Max(), 44100u - 2 * 2048u);
    EXPECT_EQ(form->PlayScrollBar->Position(), 0u);
    EXPECT_EQ(form->PlayScrollBar->pageStep(), 1024);
    EXPECT_EQ(form->PlayScrollBar->singleStep(), 204);
    EXPECT_TRUE(messages.empty());
}

TEST_F(FormTest, StartUpFieldsHaveTheirDefaults) {
    EXPECT_EQ(form->CurBits, 16);
    EXPECT_EQ(form->CurRate, 44100);
    EXPECT_EQ(form->CurChannels, 1);
    EXPECT_EQ(form->DataBits, 16);
    EXPECT_EQ(form->DataRate, 44100);
    EXPECT_EQ(form->DataChannels, 1);
    EXPECT_EQ(form->InitialBufferSeconds, 30);
    EXPECT_EQ(form->CaptureBlockSeconds, 0.1);

    const WAVEFORMATEX& f = form->WaveFormat;
    EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.nChannels, 1);
    EXPECT_EQ(f.nSamplesPerSec, 44100u);
    EXPECT_EQ(f.wBitsPerSample, 16);
    EXPECT_EQ(f.nBlockAlign, 2);
    EXPECT_EQ(f.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(f.cbSize, 0);

    EXPECT_FALSE(form->Playing);
    EXPECT_FALSE(form->Recording);
    EXPECT_FALSE(form->CaptureOpen);
    EXPECT_FALSE(form->CaptureRunning);
    EXPECT_FALSE(form->StopRequested);
    EXPECT_FALSE(form->StopFinished);
    EXPECT_FALSE(form->Closing);
    EXPECT_FALSE(form->HarmonicsFromAnalysis);
    EXPECT_FALSE(form->SynthActive);
    EXPECT_FALSE(form->NoiseCapturePending);
    EXPECT_EQ(form->WaveOutHandle, nullptr);
    EXPECT_EQ(form->WaveInHandle, nullptr);

    EXPECT_EQ(form->TimeGridFineMs, 5);
    EXPECT_EQ(form->TimeGridCoarseMs, 10);
    EXPECT_EQ(form->FreqGridFineHz, 100);
    EXPECT_EQ(form->FreqGridCoarseHz, 500);
    EXPECT_EQ(form->FrequencySpan, 2000.0);
    EXPECT_EQ(form->PeakThreshold, 5.0);
    EXPECT_EQ(form->FftTimes, 66.0);
    EXPECT_EQ(form->LowCutHz, 30u);
    EXPECT_EQ(form->LowCutBin, 1u);  // Round(30 / (44100 / 2047)) = Round(1.39)
    EXPECT_EQ(form->LowCutX, 8);     // Round(545 x 30 / 2000) = Round(8.175)
    EXPECT_EQ(form->SpanBinCount, 186);
    EXPECT_EQ(form->VoiceprintX, 0);
    EXPECT_EQ(form->VoiceprintWidth, 206);
    EXPECT_EQ(form->DetectedFrequency, 0);

    for (int k = 1; k <= 20; ++k) {
        EXPECT_EQ(form->HarmonicLevels[k], 0) << k;
        EXPECT_EQ(form->HarmonicPhases[k], 0.0) << k;
        EXPECT_EQ(form->HarmonicSliders[k], form->TrackBars[k]) << k;
        EXPECT_EQ(form->HarmonicSliders[k]->objectName(), QString("TrackBar%1").arg(k));
    }
    // Worked out before the format record was filled.
    EXPECT_EQ(form->HarmonicCount, 0);
    EXPECT_EQ(form->FadeSamples, 2205);
    EXPECT_EQ(form->MixSeconds, 0.5);
    ASSERT_NE(form->SynthBuffer, nullptr);

    EXPECT_EQ(form->KeyFrequencies[1], 65);
    EXPECT_EQ(form->KeyFrequencies[5], 83);
    EXPECT_EQ(form->KeyFrequencies[34], 440);
    EXPECT_EQ(form->KeyFrequencies[45], 830);
    EXPECT_EQ(form->KeyFrequencies[60], 1976);
    for (int i = 1; i <= 60; ++i) {
        EXPECT_EQ(form->KeyPanels[i], form->Panels[i]);
        EXPECT_EQ(form->KeyPanels[i]->objectName(), QString("Panel%1").arg(i));
        EXPECT_EQ(form->KeyFrequencies[i], KeyAt(i).hz) << i;
        EXPECT_EQ(form->KeyPanels[i]->Colour(), KeyAt(i).black ? kBlack : kWhite) << i;
    }
}

TEST_F(FormTest, StartUpCaptions) {
    EXPECT_EQ(form->LBmixtime->text(), "0.5");
    EXPECT_EQ(form->Lbamp->text(), "10");
    EXPECT_EQ(form->Label21->text(), "");
    // The first analysis of the silence found nothing.
    EXPECT_EQ(form->LbfftValue->text(), "");
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(form->Labels[i]->text(), QString::number(100 * (2 * i - 1)));
}

TEST_F(FormTest, StartUpAllocatesItsBlocksInOrder) {
    std::vector<size_t> sizes;
    blocks::FailHook = [&](size_t n) {
        sizes.push_back(n);
        return false;
    };
    TFormMain second(audio.get());
    const std::vector<size_t> expected = {2048 * 8,       2048 * 8,  2048 * 8,
                                          2048 * 16,      2048 * 16,  // the FFT arrays
                                          44100,                      // the mixer's buffer
                                          1323000,                    // 30 s of 16-bit mono
                                          sizeof(WAVEHDR)};
    EXPECT_EQ(sizes, expected);
    EXPECT_EQ(sizeof(WAVEHDR), 32u);
}

// ---------------------------------------------------------------------------------------------
// The window and its controls

TEST_F(FormTest, WindowIsFixedAt800By600WithItsCaption) {
    EXPECT_EQ(form->windowTitle(), "Sonabiver1.40");
    EXPECT_EQ(form->size(), QSize(800, 600));
    EXPECT_EQ(form->minimumSize(), QSize(800, 600));
    EXPECT_EQ(form->maximumSize(), QSize(800, 600));
    EXPECT_EQ(form->font().pixelSize(), 12);
    const QRect screen = QApplication::primaryScreen()->availableGeometry();
    // The client area is centred, not the frame.
    EXPECT_LE(std::abs(form->geometry().x() + 400 - screen.center().x()), 1);
    EXPECT_LE(std::abs(form->geometry().y() + 300 - screen.center().y()), 1);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
}

struct Placed {
    const char* name;
    QWidget* control;
    QRect geometry;
};

// Spot checks of the layout table (FormLayout.cpp holds it whole): a button, the scroll bar, each
// view, the mixer's sliders, the first and last harmonic sliders and labels.
TEST_F(FormTest, ControlsAreAtTheirLayoutPlaces) {
    TFormMain& f = *form;
    const std::vector<Placed> table = {
        {"RecButton", f.RecButton, {233, 3, 76, 31}},
        {"PlayScrollBar", f.PlayScrollBar, {-1, 212, 545, 16}},
        {"PaintBoxGra", f.PaintBoxGra, {0, 38, 545, 171}},
        {"PaintBoxFft", f.PaintBoxFft, {0, 232, 545, 169}},
        {"PaintBoxSeimon", f.PaintBoxSeimon, {592, 38, 206, 395}},
        {"freq", f.freq, {-10, 404, 565, 29}},
        {"TBmixtime", f.TBmixtime, {655, 478, 104, 22}},
        {"TrackBar1", f.TrackBars[1], {5, 449, 26, 94}},
        {"TrackBar20", f.TrackBars[20], {582, 449, 26, 94}},
        {"Label1", f.Labels[1], {2, 438, 33, 12}},
        {"Label10", f.Labels[10], {546, 438, 33, 12}},
    };
    for (const Placed& p : table) {
        ASSERT_NE(p.control, nullptr) << p.name;
        EXPECT_EQ(p.control->parentWidget(), form.get()) << p.name;
        EXPECT_EQ(p.control->geometry(), p.geometry) << p.name;
    }
}

TEST_F(FormTest, ControlCaptionsAndFonts) {
    struct Caption {
        QString shown;
        const char* expected;
    };
    const Caption captions[] = {
        {form->RecButton->text(), "録音"},
        {form->PlayButton->text(), "再生"},
        {form->ButtonRecLevel->text(), "録音音量"},
        {form->ButtonPlayLevel->text(), "再生音量"},
        {form->Butopen->text(), "開く"},
        {form->Butsave->text(), "保存"},
        {form->Butfftampfilset->text(), "雑音除去"},
        {form->Transmit->text(), "ミキサー"},
        {form->reset->text(), "リセット"},
        {form->Label11->text(), "Hz"},
        {form->Label14->text(), " Level"},
        {form->Label13->text(), "Lo"},
        {form->Label12->text(), "Hi"},
        {form->Lbamptxt->text(), "大きさ"},
        {form->Lbtimetxt->text(), "時　間"},
    };
    for (const Caption& c : captions) EXPECT_EQ(c.shown, QString::fromUtf8(c.expected));

    EXPECT_EQ(form->RecButton->font().pixelSize(), 15);
    EXPECT_EQ(form->PlayButton->font().pixelSize(), 15);
    EXPECT_EQ(form->RadioGroupchan->font().pixelSize(), 11);
    EXPECT_EQ(form->Butfftampfilset->font().pixelSize(), 12);
    EXPECT_EQ(form->LbfftValue->font().pixelSize(), 40);
    EXPECT_EQ(form->Label14->font().pixelSize(), 11);
    EXPECT_EQ(form->Label21->font().pixelSize(), 27);
    EXPECT_EQ(form->LbfftValue->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_EQ(form->Label21->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_EQ(form->Label11->alignment(), Qt::AlignCenter);
    EXPECT_EQ(form->Label14->alignment(), Qt::AlignCenter);
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(form->Labels[i]->alignment(), Qt::AlignCenter);
}

TEST_F(FormTest, NumbersFitTheBoxesMadeForThem) {
    // The layout is made for half-width digits: 4 of them fill each of these boxes.
    struct Fit {
        QFont font;
        const char* text;
        int room;
    };
    const Fit fits[] = {
        {form->LbfftValue->font(), "1976", 80},
        {form->Label21->font(), "8888", 57},
        {form->Label14->font(), " Level", 36},
        {form->Label13->font(), "Lo", 12},
        {form->PaintBoxSeimonScale->Canvas().Font, "1500", 24},  // written at x 1 of 25
        {form->Labels[10]->font(), "1900", 33},
        {form->Lbamp->font(), "300", 25},
    };
    for (const Fit& f : fits)
        EXPECT_LE(QFontMetrics(f.font).horizontalAdvance(f.text), f.room) << f.text;
}

// The label's background (a corner) is `background`, and its text is drawn in `textColour`: every
// other pixel is a blend of the two (the text is smoothed), and some are mostly text colour.
void ExpectLabelColours(QLabel* label, QRgb textColour, QRgb background) {
    const QImage image = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const std::string name = label->text().toStdString();
    EXPECT_EQ(image.pixel(0, 0) & 0xFFFFFF, background) << name;
    const int text[3] = {RedOf(textColour), GreenOf(textColour), BlueOf(textColour)};
    const int back[3] = {RedOf(background), GreenOf(background), BlueOf(background)};
    double strongest = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y) & 0xFFFFFF;
            const int got[3] = {RedOf(p), GreenOf(p), BlueOf(p)};
            // The blend factor from the channel where text and background differ most.
            int widest = 0;
            for (int c = 1; c < 3; ++c)
                if (std::abs(text[c] - back[c]) > std::abs(text[widest] - back[widest])) widest = c;
            const double a = double(got[widest] - back[widest]) / (text[widest] - back[widest]);
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(got[c], back[c] + a * (text[c] - back[c]), 8)
                    << name << " " << x << "," << y;
            strongest = std::max(strongest, a);
        }
    EXPECT_GT(strongest, 0.7) << name;
}

TEST_F(FormTest, ResultAndMixerLabelsHaveTheirColours) {
    form->show();
    Pump();
    form->LbfftValue->setText("440");
    form->Label21->setText("1563");
    ExpectLabelColours(form->LbfftValue, kRed, kBlack);
    ExpectLabelColours(form->Label11, kRed, kBlack);
    ExpectLabelColours(form->Label14, MakeRgb(255, 255, 0), kBlack);
    ExpectLabelColours(form->Label21, MakeRgb(255, 255, 0), kBlack);
    ExpectLabelColours(form->Labels[1], kRed, kWhite);
    ExpectLabelColours(form->Lbamp, kRed, kWhite);
    ExpectLabelColours(form->LBmixtime, kRed, kWhite);
}

TEST_F(FormTest, SlidersAndScrollBarsHaveTheirRangesAndStartValues) {
    struct Range {
        const char* name;
        QAbstractSlider* control;
        int min, max, position;
    };
    const Range ranges[] = {
        {"ScrollBarWaveTimes", form->ScrollBarWaveTimes, 1, 10, 4},
        {"ScrollBarFftTimes", form->ScrollBarFftTimes, 1, 80, 15},
        {"freq", form->freq, 1, 2000, 100},
        {"volume", form->volume, 0, 300, 10},
        {"TBmixtime", form->TBmixtime, 1, 30, 5},
    };
    for (const Range& r : ranges) {
        EXPECT_EQ(r.control->minimum(), r.min) << r.name;
        EXPECT_EQ(r.control->maximum(), r.max) << r.name;
        EXPECT_EQ(r.control->value(), r.position) << r.name;
    }
    EXPECT_EQ(form->ScrollBarWaveTimes->orientation(), Qt::Vertical);
    EXPECT_EQ(form->ScrollBarFftTimes->orientation(), Qt::Vertical);
    EXPECT_EQ(form->PlayScrollBar->orientation(), Qt::Horizontal);
    EXPECT_EQ(form->WaveGain(), 7);

    EXPECT_EQ(form->freq->pageStep(), 1);
    EXPECT_EQ(form->freq->tickInterval(), 100);
    EXPECT_EQ(form->freq->tickPosition(), QSlider::TicksAbove);
    EXPECT_EQ(form->volume->pageStep(), 1);
    EXPECT_EQ(form->volume->tickPosition(), QSlider::NoTicks);
    EXPECT_EQ(form->TBmixtime->pageStep(), 1);
    EXPECT_EQ(form->TBmixtime->tickPosition(), QSlider::NoTicks);
    for (int k = 1; k <= 20; ++k) {
        TrackBar* bar = form->TrackBars[k];
        EXPECT_EQ(bar->orientation(), Qt::Vertical);
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 100);
        EXPECT_EQ(bar->Position(), 100);
        EXPECT_EQ(bar->pageStep(), 10);
        EXPECT_EQ(bar->tickInterval(), 10);
        EXPECT_EQ(bar->SelStart(), 100);
        EXPECT_EQ(bar->SelEnd(), 100);
        EXPECT_EQ(bar->toolTip(), QString::number(k));
    }

    EXPECT_EQ(form->Timer1->interval(), 200);
    EXPECT_FALSE(form->Timer1->isActive());

    form->show();
    Pump();
    const QList<QRadioButton*> items = form->RadioGroupchan->findChildren<QRadioButton*>();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), "1");
    EXPECT_EQ(items[1]->text(), "2");
    EXPECT_EQ(items[0]->geometry().top(), items[1]->geometry().top());  // two columns
    EXPECT_LT(items[0]->geometry().left(), items[1]->geometry().left());
    EXPECT_EQ(form->RadioGroupchan->ItemIndex(), 0);
}

TEST_F(FormTest, KeysLieAlongTheBottomBlackOnesAboveTheWhite) {
    const QObjectList children = form->children();
    int lastWhite = -1, firstBlack = INT_MAX;
    for (int i = 1; i <= 60; ++i) {
        KeyPanel* key = form->Panels[i];
        const bool black = KeyAt(i).black;
        const QRect expected(KeyAt(i).left, 542, black ? 17 : 22, black ? 32 : 56);
        EXPECT_EQ(key->geometry(), expected) << KeyAt(i).note;
        EXPECT_EQ(key->frameStyle(), QFrame::Panel | QFrame::Raised) << i;
        const int at = static_cast<int>(children.indexOf(key));
        if (black)
            firstBlack = std::min(firstBlack, at);
        else
            lastWhite = std::max(lastWhite, at);
    }
    EXPECT_LT(lastWhite, firstBlack);

    // Where a black key covers its white neighbours, a press there reaches the black key.
    for (int i = 1; i <= 60; ++i) {
        if (!KeyAt(i).black) continue;
        const QRect r = form->Panels[i]->geometry();
        EXPECT_EQ(form->childAt(r.left() + 1, r.center().y()), form->Panels[i]) << KeyAt(i).note;
        EXPECT_EQ(form->childAt(r.right() - 1, r.center().y()), form->Panels[i]) << KeyAt(i).note;
    }
}

// ---------------------------------------------------------------------------------------------
// The format record and the first window of a held sound

TEST_F(FormTest, FillWaveFormatBuildsTheRecordFromTheFormatInUse) {
    struct Case {
        int bits, channels;
        uint16_t align;
        uint32_t bytesPerSecond;
    };
    for (const Case c : {Case{8, 1, 1, 44100}, Case{16, 2, 4, 176400}, Case{16, 1, 2, 88200},
                         Case{8, 2, 2, 88200}}) {
        form->CurBits = c.bits;
        form->CurChannels = c.channels;
        form->CurRate = 44100;
        form->FillWaveFormat();
        EXPECT_EQ(form->WaveFormat.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(form->WaveFormat.nChannels, c.channels);
        EXPECT_EQ(form->WaveFormat.nSamplesPerSec, 44100u);
        EXPECT_EQ(form->WaveFormat.wBitsPerSample, c.bits);
        EXPECT_EQ(form->WaveFormat.nBlockAlign, c.align) << c.bits << " bits x" << c.channels;
        EXPECT_EQ(form->WaveFormat.nAvgBytesPerSec, c.bytesPerSecond);
        EXPECT_EQ(form->WaveFormat.cbSize, 0);
    }
}

TEST_F(FormTest, SoundOfExactlyOneWindowHasNoRoomToScroll) {
    form->ViewOffset = 1000;
    form->PlayScrollBar->SetPosition(1000);
    sound::HoldSound(*form, std::vector<uint8_t>(2 * 2048), MakePcmFormat(1, 16));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(form->FftSize, 2048u);
    EXPECT_EQ(form->ViewOffset, 0u);
    EXPECT_EQ(form->PlayScrollBar->Position(), 0u);
    EXPECT_EQ(form->PlayScrollBar->Max(), 0u);

    sound::HoldSound(*form, std::vector<uint8_t>(4 * 2048), MakePcmFormat(2, 16));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(form->PlayScrollBar->Max(), 0u);
}

TEST_F(FormTest, SoundOneByteShorterThanAWindowFallsBackTo256Frames) {
    sound::HoldSound(*form, std::vector<uint8_t>(2 * 2048 - 1), MakePcmFormat(1, 16));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, kShortSoundPrompt);
    EXPECT_EQ(messages[0].caption, "Wait");
    EXPECT_EQ(form->FftSize, 256u);
    EXPECT_EQ(form->FftSizeExponent, 0);
    EXPECT_EQ(form->WaveDataSize, 4095u);
    EXPECT_EQ(form->PlayScrollBar->Max(), 4095u - 512u);
    EXPECT_EQ(form->PlayScrollBar->pageStep(), 128);
    EXPECT_EQ(form->PlayScrollBar->singleStep(), 25);

    // The shorter window stays until the analysis parameters are reset.
    sound::HoldSound(*form, std::vector<uint8_t>(44100), MakePcmFormat(1, 16));
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(form->FftSize, 256u);
    EXPECT_EQ(form->PlayScrollBar->Max(), 44100u - 512u);
}

TEST_F(FormTest, SoundShorterThan256FramesIsShownWithSilenceAfterIt) {
    // 50 frames of a level that sits 10 rows above the silence line at the default gain.
    sound::HoldSound(*form, sound::Mono16(50, [](uint32_t) { return 1000; }), MakePcmFormat(1, 16));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Wait");
    EXPECT_EQ(form->FftSize, 256u);
    EXPECT_EQ(form->WaveDataSize, 100u);
    EXPECT_EQ(form->PlayScrollBar->Max(), 0u);
    // y = Round(85.5 - 1000 x 7 x 171 / 2^17) = 76 for the sound, 86 for what follows it.
    EXPECT_EQ(Pixel(form->PaintBoxGra, 20, 76), kRed);
    EXPECT_NE(Pixel(form->PaintBoxGra, 20, 86), kRed);
    EXPECT_EQ(Pixel(form->PaintBoxGra, 300, 86), kRed);
    EXPECT_NE(Pixel(form->PaintBoxGra, 300, 76), kRed);

    // Repainting and refreshing do not read past it either.
    form->PaintBoxGraPaint();
    form->PaintBoxFftPaint();
    form->FullRefresh();
}

TEST_F(FormTest, ShortEightBitSoundIsFollowedByEightBitSilence) {
    // 128 is the silence of unsigned 8-bit samples: the whole window is one flat line, up to
    // the last of its 256 frames at x 543.
    sound::HoldSound(*form, std::vector<uint8_t>(50, 128), MakePcmFormat(1, 8));
    EXPECT_EQ(form->FftSize, 256u);
    for (int x = 0; x < 543; ++x) ASSERT_EQ(Pixel(form->PaintBoxGra, x, 86), kRed) << x;
    EXPECT_EQ(form->WaveDataSize, 50u);

    sound::HoldSound(*form, std::vector<uint8_t>(60, 128), MakePcmFormat(2, 8));
    for (int x = 0; x < 543; ++x) {
        ASSERT_EQ(Pixel(form->PaintBoxGra, x, 57), kRed) << x;
        ASSERT_EQ(Pixel(form->PaintBoxGra, x, 114), kBlue) << x;
    }
}

TEST_F(FormTest, ShortSoundWhoseSilentTailCannotBeAllocatedIsDropped) {
    blocks::FailHook = [](size_t n) { return n == 2 * 256; };
    sound::HoldSound(*form, std::vector<uint8_t>(100, 0x40), MakePcmFormat(1, 16));
    blocks::FailHook = nullptr;
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].caption, "Wait");
    EXPECT_EQ(messages[1].text, "No Memory");
    EXPECT_EQ(messages[1].caption, "ERROR");
    EXPECT_EQ(form->WaveData, nullptr);
    EXPECT_EQ(form->WaveDataSize, 0u);
    // The views show their grids and nothing else; play has nothing to play.
    EXPECT_FALSE(canvas::Contains(canvas::ColoursIn(form->PaintBoxGra, 0, 14, 544, 170), kRed));
    form->PlayButton->click();
    EXPECT_FALSE(form->Playing);
    form->FullRefresh();
}

TEST_F(FormTest, SoundsOfNoWholeFrameAreShownSafely) {
    for (const auto& [bytes, format] :
         {std::pair{0u, MakePcmFormat(1, 16)}, std::pair{1u, MakePcmFormat(1, 16)},
          std::pair{3u, MakePcmFormat(2, 16)}, std::pair{1u, MakePcmFormat(2, 8)}}) {
        messages.clear();
        form->ResetFftParameters();
        sound::HoldSound(*form, std::vector<uint8_t>(bytes, 0), format);
        EXPECT_EQ(messages.size(), 1u) << bytes;
        EXPECT_EQ(form->WaveDataSize, bytes);
        EXPECT_EQ(form->PlayScrollBar->Max(), 0u);
        EXPECT_EQ(form->ViewOffset, 0u);
    }
}

// ---------------------------------------------------------------------------------------------
// Start-ups that run out of memory

class StartUpFailureTest : public FormTest {
  protected:
    void SetUp() override {
        createForm = false;
        FormTest::SetUp();
    }
    // Builds the window with the first allocation of `bytes` failing.
    void CreateFailing(size_t bytes) {
        bool failed = false;
        blocks::FailHook = [bytes, failed](size_t n) mutable {
            if (failed || n != bytes) return false;
            failed = true;
            return true;
        };
        form = std::make_unique<TFormMain>(audio.get());
        blocks::FailHook = nullptr;
    }
    // Shows every view, clicks into them, and closes the window.
    void ShowAndClose() {
        form->show();
        Pump();
        QTest::mouseClick(form->PaintBoxGra, Qt::LeftButton, {}, QPoint(100, 50));
        QTest::mouseClick(form->PaintBoxFft, Qt::LeftButton, Qt::ShiftModifier, QPoint(100, 50));
        QTest::mouseClick(form->PaintBoxFft, Qt::RightButton, Qt::ShiftModifier, QPoint(100, 50));
        QTest::mouseClick(form->PaintBoxSeimon, Qt::LeftButton);
        Pump();
        EXPECT_TRUE(form->close());
        Pump();
        EXPECT_TRUE(form->Closing);
    }
};

TEST_F(StartUpFailureTest, NoMixerBufferEndsStartUpEarly) {
    CreateFailing(44100);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "No Memory");
    EXPECT_EQ(messages[0].caption, "ERROR");
    EXPECT_EQ(form->SynthBuffer, nullptr);
    // Nothing after the buffer was done: no keyboard table, no held sound.
    EXPECT_EQ(form->KeyFrequencies[34], 0);
    EXPECT_EQ(form->Label21->text(), "8888");
    EXPECT_EQ(form->LbfftValue->text(), "8888");  // no analysis ran
    EXPECT_EQ(form->WaveData, nullptr);
    EXPECT_EQ(form->WaveHeader, nullptr);
    EXPECT_FALSE(form->WaveDataHeld);
    // Steps before it were.
    EXPECT_EQ(form->LBmixtime->text(), "0.5");
    EXPECT_EQ(form->WaveFormat.nBlockAlign, 2);
    ShowAndClose();
}

TEST_F(StartUpFailureTest, NoSoundBufferLeavesNothingHeld) {
    CreateFailing(1323000);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "No pwavedata");
    EXPECT_EQ(messages[0].caption, "ERROR");
    EXPECT_EQ(form->WaveData, nullptr);
    EXPECT_EQ(form->WaveHeader, nullptr);
    EXPECT_FALSE(form->WaveDataHeld);
    EXPECT_EQ(form->KeyFrequencies[34], 440);
    EXPECT_EQ(form->Label21->text(), "");
    ShowAndClose();
}

TEST_F(StartUpFailureTest, NoHeaderReleasesTheSoundBuffer) {
    CreateFailing(sizeof(WAVEHDR));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "No pwaveheader");
    EXPECT_EQ(messages[0].caption, "ERROR");
    EXPECT_EQ(form->WaveData, nullptr);
    EXPECT_EQ(form->WaveHeader, nullptr);
    EXPECT_FALSE(form->WaveDataHeld);
    ShowAndClose();
}

TEST_F(StartUpFailureTest, NoFftArraysLeavesTheSpectrumEmpty) {
    CreateFailing(2048 * 16);  // the fourth array
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "No memory");
    EXPECT_EQ(messages[0].caption, "ERROR");
    EXPECT_EQ(form->SpectrumMagnitudes, nullptr);
    EXPECT_EQ(form->NoiseSpectrum, nullptr);
    EXPECT_EQ(form->FftInput, nullptr);
    EXPECT_EQ(form->FftWork, nullptr);
    EXPECT_EQ(form->FftOutput, nullptr);
    // Start-up went on: the silence is held and shown.
    EXPECT_TRUE(form->WaveDataHeld);
    EXPECT_EQ(form->WaveDataSize, 44100u);
    EXPECT_EQ(Pixel(form->PaintBoxGra, 100, 86), kRed);
    ShowAndClose();
}

}  // namespace
