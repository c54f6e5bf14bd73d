// Notes played from the on-screen keyboard and from typed characters, through the mixer and the
// simulated output device; and what a key does while the window is busy.
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <cmath>

#include "FormFixture.h"
#include "TestWavFiles.h"

using namespace sonabi;

namespace {

using testwav::Sample16;

// Samples of the body of a tone made of harmonic 1 alone at level 100, phase 0, volume 10, that
// differ from Round(1000 sin(2 pi f t / 44100)).
int SineMismatches(const WAVEHDR* block, int f, long long bodyEnd) {
    const long double twoPi = static_cast<long double>(6.283185307179586);
    int mismatches = 0;
    for (long long t = 0; t <= bodyEnd; ++t) {
        const double term = static_cast<double>(sinl((twoPi * f * 1 * t) / 44100) * 100);
        mismatches += Sample16(block->lpData, t) != llrintl(10.0L * term);
    }
    return mismatches;
}

class KeyboardPlayTest : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        form->reset->click();  // no harmonic sounds until a note raises the first
    }
    void FinishOutput() {
        audio->FinishOutput();
        Pump();
    }
    int Opens() const { return audio->CallCount("waveOutOpen"); }
};

TEST_F(KeyboardPlayTest, ClickingA4PlaysA440HzTone) {
    // Only the left button clicks a key.
    QTest::mouseClick(form->Panels[34], Qt::RightButton);
    QTest::mouseClick(form->Panels[34], Qt::MiddleButton);
    EXPECT_FALSE(form->Playing);
    EXPECT_EQ(Opens(), 0);
    QTest::mouseClick(form->Panels[34], Qt::LeftButton);
    ASSERT_TRUE(form->Playing);
    EXPECT_TRUE(form->SynthActive);
    EXPECT_EQ(form->freq->Position(), 440);
    EXPECT_EQ(form->HarmonicLevels[1], 100);
    EXPECT_EQ(form->TrackBars[1]->Position(), 0);
    EXPECT_EQ(form->TrackBars[1]->SelStart(), 0);
    EXPECT_EQ(form->Labels[1]->text(), "440");
    EXPECT_EQ(form->Labels[2]->text(), "1320");
    EXPECT_FALSE(form->HarmonicsFromAnalysis);
    const WAVEHDR* block = audio->OutputBlock();
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(block->dwBufferLength, 44100u);
    EXPECT_EQ(SineMismatches(block, 440, 22050 - 2205), 0);
    // The tone's own analysis finds the note it was made of.
    EXPECT_NEAR(form->LbfftValue->text().toInt(), 440, 1);
    EXPECT_EQ(form->Panels[34]->Colour(), 0xFF0000u);
}

TEST_F(KeyboardPlayTest, KeyLevelIsKeptWhenHarmonicOneAlreadySounds) {
    form->TrackBars[1]->SetPosition(70);
    QTest::mouseClick(form->Panels[1], Qt::LeftButton);
    EXPECT_EQ(form->HarmonicLevels[1], 30);
    EXPECT_EQ(form->freq->Position(), 65);
    EXPECT_TRUE(form->Playing);
}

TEST_F(KeyboardPlayTest, NoteAboveTheFrequencyMaximumPlaysAtTheMaximum) {
    form->UpDownfftscale->Click(btNext);
    ASSERT_EQ(form->freq->maximum(), 1000);
    QTest::mouseClick(form->Panels[60], Qt::LeftButton);  // B6, 1976 Hz
    ASSERT_TRUE(form->Playing);
    EXPECT_EQ(form->freq->Position(), 1000);
    const WAVEHDR* block = audio->OutputBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(SineMismatches(block, 1000, 22050 - 2205), 0);
}

TEST_F(KeyboardPlayTest, TypedNoteShowsItsFrequencyWhileTheSliderStopsAtTheMaximum) {
    // The label is set between the slider and the synthesis; harmonic 1 is raised right after.
    form->UpDownfftscale->Click(btNext);
    QString labelWhenRaised;
    int freqWhenRaised = 0;
    const auto change = form->TrackBars[1]->OnChange;
    form->TrackBars[1]->OnChange = [&](TrackBar* t) {
        labelWhenRaised = form->LbfftValue->text();
        freqWhenRaised = form->freq->Position();
        change(t);
    };
    form->FormKeyPress(QChar(']'));  // E5, 659 Hz: inside the range
    form->TrackBars[1]->OnChange = change;
    EXPECT_EQ(labelWhenRaised, "659");
    EXPECT_EQ(freqWhenRaised, 659);
    FinishOutput();

    form->reset->click();
    form->UpDownfftscale->Click(btNext);
    form->UpDownfftscale->Click(btNext);  // 500 Hz
    form->TrackBars[1]->OnChange = [&](TrackBar* t) {
        labelWhenRaised = form->LbfftValue->text();
        freqWhenRaised = form->freq->Position();
        change(t);
    };
    form->FormKeyPress(QChar('}'));
    form->TrackBars[1]->OnChange = change;
    EXPECT_EQ(labelWhenRaised, "659");
    EXPECT_EQ(freqWhenRaised, 500);
    EXPECT_TRUE(form->Playing);
}

TEST_F(KeyboardPlayTest, KeysWhilePlayingSetTheMixerButMakeNoTone) {
    form->PlayButton->click();
    ASSERT_TRUE(form->Playing);
    ASSERT_TRUE(form->HarmonicsFromAnalysis);
    uint8_t* user = form->WaveData;
    const int opens = Opens();
    form->UpDownfftscale->Click(btNext);  // freq maximum 1000

    QTest::mouseClick(form->Panels[60], Qt::LeftButton);
    EXPECT_EQ(form->freq->Position(), 1000);
    EXPECT_EQ(form->LbfftValue->text(), "1976");
    EXPECT_EQ(form->Labels[1]->text(), "1000");
    EXPECT_EQ(form->Labels[10]->text(), "19000");
    EXPECT_EQ(form->HarmonicLevels[1], 100);
    EXPECT_EQ(form->TrackBars[1]->Position(), 0);
    EXPECT_FALSE(form->HarmonicsFromAnalysis);
    EXPECT_FALSE(form->SynthActive);
    EXPECT_EQ(form->WaveData, user);
    EXPECT_EQ(Opens(), opens);
    EXPECT_EQ(audio->OutputBlock()->lpData, reinterpret_cast<char*>(user));

    form->FormKeyPress(QChar('a'));
    EXPECT_EQ(form->freq->Position(), 220);
    EXPECT_EQ(form->LbfftValue->text(), "220");
    EXPECT_EQ(Opens(), opens);
    FinishOutput();
}

TEST_F(KeyboardPlayTest, KeysWhileRecordingSetTheMixerButMakeNoTone) {
    form->RecButton->click();
    ASSERT_TRUE(form->Recording);
    QTest::mouseClick(form->Panels[22], Qt::LeftButton);  // A3
    form->FormKeyPress(QChar('k'));
    EXPECT_EQ(form->freq->Position(), 440);
    EXPECT_EQ(form->LbfftValue->text(), "440");
    EXPECT_EQ(form->HarmonicLevels[1], 100);
    EXPECT_EQ(Opens(), 0);
    EXPECT_FALSE(form->SynthActive);
    form->RecButton->click();
    Pump();
}

TEST_F(KeyboardPlayTest, TypedCharactersPlayNotesAndStillReachTheFocusedControl) {
    auto* edit = new QLineEdit(form.get());
    edit->setFocus();
    struct Typed {
        char ch;
        int hz;  // 0: no note
    };
    const Typed typed[] = {{'k', 440}, {'K', 440}, {']', 659}, {'}', 659}, {'a', 220},
                           {'z', 0},   {'1', 0},   {' ', 0},   {'k', 440}};
    QString text;
    for (const Typed& t : typed) {
        const int opens = Opens();
        QTest::keyClick(edit, t.ch);
        text += QChar(t.ch);
        EXPECT_EQ(edit->text(), text) << t.ch;
        if (t.hz == 0) {
            EXPECT_EQ(Opens(), opens) << t.ch;
            EXPECT_FALSE(form->Playing) << t.ch;
            continue;
        }
        EXPECT_EQ(Opens(), opens + 1) << t.ch;
        ASSERT_TRUE(form->Playing) << t.ch;
        EXPECT_EQ(form->freq->Position(), t.hz) << t.ch;
        FinishOutput();
    }
}

TEST_F(KeyboardPlayTest, TypedNoteOnAControlThatIgnoresItPlaysOnce) {
    auto* button = new QPushButton("x", form.get());
    QTest::keyClick(button, 'j');
    EXPECT_EQ(Opens(), 1);
    EXPECT_EQ(form->freq->Position(), 392);
    FinishOutput();
    QTest::keyClick(button, 'J');
    EXPECT_EQ(Opens(), 2);
    FinishOutput();
    // Shortcuts and menu keys type no character, so they play nothing.
    for (Qt::KeyboardModifier modifier : {Qt::AltModifier, Qt::ControlModifier, Qt::MetaModifier})
        QTest::keyClick(button, 'k', modifier);
    EXPECT_EQ(Opens(), 2);
}

}  // namespace
