// The tuner window: its needle, band and note for tones of known cents, nothing drawn without a
// pitch, its layout at any size, the main window's pixels untouched, and the reference A4 it
// sets and the program keeps.
#include <QDoubleSpinBox>
#include <QImage>
#include <QSettings>
#include <cmath>

#include "FormFixture.h"
#include "SoundHelpers.h"
#include "toolkit/ImageView.h"
#include "views/TunerGeometry.h"

using namespace sonabi;

namespace {

constexpr QRgb kBand = 0x006000, kInTune = 0x00FF00, kOff = 0xFF8000;

class TunerTest : public FormTest {
  protected:
    void HoldTone(double hz) {
        sound::HoldSound(
            *form, sound::Mono16(44100, [hz](uint32_t t) { return sound::Sine(8000, hz, t); }),
            MakePcmFormat(1, 16, 44100));
    }
    QRgb At(int x, int y) { return form->TunerView->Image().pixel(x, y) & 0xFFFFFF; }
    int Column(const QImage& image, QRgb colour, int y) {
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == colour) return x;
        return -1;
    }
};

TEST_F(TunerTest, NeedleBandAndNoteFollowTheAnalysis) {
    form->show();
    HoldTone(440);
    const QImage mainBefore = form->grab().toImage();
    form->TunerClick();
    Pump();
    ASSERT_TRUE(form->TunerWindow->isVisible());
    EXPECT_EQ(form->TunerWindow->windowTitle(), QString::fromUtf8("チューナー"));
    form->TunerWindow->resize(480, 360);
    Pump();
    form->TunerView->Refresh();
    form->SetReferenceA4(441);
    form->SetReferenceA4(kDefaultA4);
    EXPECT_EQ(form->grab().toImage(), mainBefore) << "the tuner draws only into its own window";

    const struct {
        double cents;
        QRgb needle;
    } cases[] = {{0, kInTune}, {4, kInTune}, {-17, kOff}, {38, kOff}, {-49, kOff}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cents);
        HoldTone(440 * std::pow(2.0, c.cents / 1200));
        const QImage& image = form->TunerView->Image();
        ASSERT_EQ(image.size(), form->TunerView->size());
        const TunerLayout l = TunerLayoutFor(image.width(), image.height());
        const int row = l.scaleTop + 2;  // above the scale line and its ticks
        EXPECT_EQ(form->TunerHz, form->RefinedHz);
        const int needle = Column(image, c.needle, row);
        EXPECT_NEAR(needle + 1, CentsX(l, c.cents), 1) << "the needle is 3 pixels wide";
        // The band spans -5 .. +5 cents, under the needle where they meet.
        const int bandLeft = CentsX(l, -kInTuneBandCents), bandRight = CentsX(l, kInTuneBandCents);
        for (int x : {bandLeft, bandRight})
            if (std::abs(x - CentsX(l, c.cents)) > 1) EXPECT_EQ(At(x, row), kBand) << x;
        for (int x : {bandLeft - 1, bandRight + 1})
            if (std::abs(x - CentsX(l, c.cents)) > 1) EXPECT_EQ(At(x, row), 0u) << x;
        // The note name is drawn large in the top rows: green when in tune.
        int lit = 0;
        for (int y = l.noteTop; y < l.noteTop + l.noteHeight; ++y)
            for (int x = 0; x < image.width(); ++x)
                lit += (image.pixel(x, y) & 0xFFFFFF) == (c.needle == kInTune ? kInTune : 0xFFFFFF);
        EXPECT_GT(lit, 500);
    }

    // Silence: no pitch, nothing drawn at all.
    sound::HoldSound(*form, sound::Mono16(44100, [](uint32_t) { return 0; }),
                     MakePcmFormat(1, 16, 44100));
    EXPECT_EQ(form->TunerHz, 0.0);
    const QImage& blank = form->TunerView->Image();
    EXPECT_EQ(blank.copy(), [&] {
        QImage black(blank.size(), blank.format());
        black.fill(Qt::black);
        return black;
    }());

    // A smaller window lays the scale out again.
    HoldTone(440 * std::pow(2.0, 20 / 1200.0));
    form->TunerWindow->resize(260, 230);
    Pump();
    const QImage& small = form->TunerView->Image();
    const TunerLayout l = TunerLayoutFor(small.width(), small.height());
    EXPECT_NEAR(Column(small, kOff, l.scaleTop + 2) + 1, CentsX(l, 20), 1);
    EXPECT_TRUE(messages.empty());
}

TEST_F(TunerTest, TheReferenceIsSetThereAndKeptBetweenRuns) {
    HoldTone(440);
    form->TunerClick();
    EXPECT_EQ(form->TunerReference->value(), kDefaultA4);
    EXPECT_TRUE(form->LbfftValue->toolTip().startsWith("A4 0"))
        << form->LbfftValue->toolTip().toStdString();
    form->TunerReference->setValue(445);
    EXPECT_EQ(form->ReferenceA4, 445.0);
    // 440 Hz against A4 = 445 Hz lies 19.6 cents below A4.
    EXPECT_TRUE(form->LbfftValue->toolTip().startsWith(QString::fromUtf8("A4 −20")))
        << form->LbfftValue->toolTip().toStdString();
    form->TunerReference->setValue(500);  // the box keeps to the range
    EXPECT_EQ(form->ReferenceA4, kMaxA4);

    form = std::make_unique<TFormMain>(audio.get());
    EXPECT_EQ(form->ReferenceA4, kMaxA4) << "kept by the settings";
    for (const char* stored : {"400", "abc", "nan"}) {
        QSettings("sonabi", "sonabi").setValue("tuner/referenceA4", stored);
        EXPECT_EQ(TFormMain::SavedReferenceA4(), std::string(stored) == "400" ? kMinA4 : kDefaultA4)
            << stored;
    }
    QSettings("sonabi", "sonabi").remove("tuner/referenceA4");
    EXPECT_EQ(TFormMain::SavedReferenceA4(), kDefaultA4);
}

}  // namespace
