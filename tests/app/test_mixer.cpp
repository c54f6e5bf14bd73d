// The harmonic mixer in the window, played through the simulated output device: the change rules
// of its sliders, the tone it makes and hands to the device, and the life of its buffer beside
// the user's parked sound.
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <vector>

#include "FormFixture.h"
#include "TestWavFiles.h"

using namespace sonabi;

namespace {

using testwav::Sample16;

// The synthesis constant 2 pi as the double the tone is made with, widened without change.
const long double kTwoPi = static_cast<long double>(6.283185307179586);

// One harmonic's term at sample t: sin(2 pi F k t / rate + phase) x level.
double Term(int freq, int k, long long t, double phase, int level) {
    const long double arg = (kTwoPi * freq * k * t) / 44100 + phase;
    return static_cast<double>(sinl(arg) * level);
}

class MixerTest : public FormTest {
  protected:
    void SetLevel(int k, int level) { form->TrackBars[k]->SetPosition(100 - level); }
    // Plays the rest of the tone; the device returns the block and the window goes idle.
    void FinishOutput() {
        audio->FinishOutput();
        Pump();
    }
    QString Held() const { return dir.filePath("user.wav"); }
    // Opens a file of the given format and sample bytes as the user's sound.
    void OpenUserSound(const WAVEFORMATEX& format, const std::vector<uint8_t>& data) {
        ASSERT_TRUE(testwav::WriteWave(Held(), format, data));
        openName = Held();
        form->Butopen->click();
        ASSERT_FALSE(form->SynthActive);
        ASSERT_EQ(form->WaveDataSize, data.size());
    }
    QTemporaryDir dir;
};

TEST_F(MixerTest, ResetSilencesEveryHarmonicAndTheToneIsSilence) {
    SetLevel(1, 80);
    SetLevel(3, 40);
    form->HarmonicPhases[2] = 1.0;
    form->reset->click();
    for (int k = 1; k <= 20; ++k) {
        EXPECT_EQ(form->HarmonicLevels[k], 0) << k;
        EXPECT_EQ(form->HarmonicPhases[k], 0.0) << k;
        EXPECT_EQ(form->TrackBars[k]->Position(), 100) << k;
        EXPECT_EQ(form->TrackBars[k]->SelStart(), 100) << k;
    }

    form->Transmit->click();
    ASSERT_TRUE(form->Playing);
    EXPECT_TRUE(form->SynthActive);
    EXPECT_EQ(form->PlayButton->text(), QString::fromUtf8("停止"));
    const WAVEHDR* block = audio->OutputBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->lpData, reinterpret_cast<char*>(form->WaveData));
    EXPECT_EQ(form->WaveData, form->SynthBuffer);
    ASSERT_EQ(block->dwBufferLength, 44100u);
    const WAVEFORMATEX& f = audio->LastOutputFormat();
    EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.nChannels, 1);
    EXPECT_EQ(f.wBitsPerSample, 16);
    EXPECT_EQ(f.nSamplesPerSec, 44100u);
    EXPECT_EQ(f.nBlockAlign, 2);
    int loud = 0;
    for (uint32_t i = 0; i < block->dwBufferLength; ++i) loud += block->lpData[i] != 0;
    EXPECT_EQ(loud, 0);
}

TEST_F(MixerTest, HarmonicsAboveHalfTheRateCannotBeRaised) {
    form->freq->SetPosition(1500);
    EXPECT_EQ(form->HarmonicCount, 14);
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(form->Labels[i]->text(), QString::number(1500 * (2 * i - 1))) << i;

    for (int k : {15, 20}) {
        form->TrackBars[k]->SetPosition(0);
        EXPECT_EQ(form->TrackBars[k]->Position(), 100) << k;
        EXPECT_EQ(form->TrackBars[k]->SelStart(), 100) << k;
        EXPECT_EQ(form->HarmonicLevels[k], 0) << k;
    }
    form->TrackBars[14]->SetPosition(30);
    EXPECT_EQ(form->TrackBars[14]->Position(), 30);
    EXPECT_EQ(form->TrackBars[14]->SelStart(), 30);
    EXPECT_EQ(form->HarmonicLevels[14], 70);

    // A lower fundamental lets the same slider rise.
    form->freq->SetPosition(1000);
    EXPECT_EQ(form->HarmonicCount, 20);
    form->TrackBars[15]->SetPosition(10);
    EXPECT_EQ(form->HarmonicLevels[15], 90);
}

TEST_F(MixerTest, SingleHarmonicToneIsASineWithASquaredFade) {
    form->reset->click();
    SetLevel(1, 100);
    form->HarmonicPhases[1] = 0.3;
    form->freq->SetPosition(100);
    form->volume->SetPosition(10);
    form->TBmixtime->SetPosition(5);
    form->Transmit->click();
    ASSERT_TRUE(form->Playing);
    const WAVEHDR* block = audio->OutputBlock();
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(block->dwBufferLength, 44100u);  // 22050 samples
    EXPECT_EQ(form->volume->Position(), 10);

    const long long n = 22050, R = form->FadeSamples;
    ASSERT_EQ(R, 2205);
    int bodyMismatches = 0, fadeMismatches = 0;
    for (long long t = 0; t <= n - R; ++t) {
        const long double s = 10.0L * Term(100, 1, t, 0.3, 100);
        bodyMismatches += Sample16(block->lpData, t) != llrintl(s);
    }
    for (long long t = n - R + 1; t < n; ++t) {
        const double h = static_cast<double>(n - t) / R;
        const double sum = (0.0 + Term(100, 1, t, 0.3, 100)) * h * h;
        fadeMismatches += Sample16(block->lpData, t) != llrintl(10.0L * sum);
    }
    EXPECT_EQ(bodyMismatches, 0);
    EXPECT_EQ(fadeMismatches, 0);
    EXPECT_EQ(Sample16(block->lpData, 0), std::lrint(1000 * std::sin(0.3)));
}

TEST_F(MixerTest, LoudToneCutsTheVolumeStepByStep) {
    form->reset->click();
    for (int k = 1; k <= 20; ++k) SetLevel(k, 100);
    form->freq->SetPosition(100);
    form->volume->SetPosition(300);
    std::vector<int> shown;
    const auto change = form->volume->OnChange;
    form->volume->OnChange = [&](TrackBar* t) {
        shown.push_back(t->Position());
        change(t);
    };
    form->Transmit->click();
    form->volume->OnChange = change;

    EXPECT_EQ(shown, (std::vector<int>{240, 192, 154, 123, 98, 78, 62, 50, 40, 32, 26, 21, 17}));
    EXPECT_EQ(form->volume->Position(), 17);
    EXPECT_EQ(form->Lbamp->text(), "17");
    const WAVEHDR* block = audio->OutputBlock();
    ASSERT_NE(block, nullptr);
    int largest = 0;
    for (long long t = 0; t <= 22050 - form->FadeSamples; ++t)
        largest = std::max(largest, std::abs(static_cast<int>(Sample16(block->lpData, t))));
    EXPECT_LE(largest, 28672);
    // The largest sum of the twenty harmonics is about 1484.8: volume 21 would pass the limit.
    EXPECT_NEAR(largest / 17.0, 1484.8, 0.5);
}

TEST_F(MixerTest, LengthSliderSetsToneLengthFadeAndReadout) {
    SetLevel(1, 100);
    form->TBmixtime->SetPosition(30);
    EXPECT_EQ(form->LBmixtime->text(), "3");
    EXPECT_DOUBLE_EQ(form->MixSeconds, 30 * 0.1);
    EXPECT_EQ(form->FadeSamples, 2205);
    form->Transmit->click();
    ASSERT_NE(audio->OutputBlock(), nullptr);
    EXPECT_EQ(form->WaveDataSize, 264600u);
    EXPECT_EQ(audio->OutputBlock()->dwBufferLength, 264600u);
    FinishOutput();

    form->TBmixtime->SetPosition(1);
    EXPECT_EQ(form->LBmixtime->text(), "0.1");
    EXPECT_EQ(form->FadeSamples, 441);
    form->Transmit->click();
    const WAVEHDR* block = audio->OutputBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->dwBufferLength, 8820u);
    // 4410 samples: the body ends at 4410 - 441, the fade covers the 440 after it.
    const long long n = 4410, R = 441;
    EXPECT_EQ(Sample16(block->lpData, n - R), llrintl(10.0L * Term(100, 1, n - R, 0.0, 100)));
    const double h = static_cast<double>(R - 1) / R;
    EXPECT_EQ(Sample16(block->lpData, n - R + 1),
              llrintl(10.0L * (Term(100, 1, n - R + 1, 0.0, 100) * h * h)));
    FinishOutput();

    form->TBmixtime->SetPosition(10);
    EXPECT_EQ(form->LBmixtime->text(), "1");
    form->TBmixtime->SetPosition(23);
    EXPECT_EQ(form->LBmixtime->text(), "2.3");
    EXPECT_EQ(form->FadeSamples, 2205);
    form->TBmixtime->SetPosition(3);
    EXPECT_EQ(form->FadeSamples, 1323);
}

TEST_F(MixerTest, LengthSliderMovedWhileBusyIsPutBack) {
    SetLevel(1, 100);
    form->Transmit->click();
    ASSERT_TRUE(form->Playing);
    uint8_t* buffer = form->SynthBuffer;
    form->TBmixtime->SetPosition(12);
    EXPECT_EQ(form->TBmixtime->Position(), 5);
    EXPECT_EQ(form->LBmixtime->text(), "0.5");
    EXPECT_DOUBLE_EQ(form->MixSeconds, 0.5);
    EXPECT_EQ(form->SynthBuffer, buffer);
    FinishOutput();

    form->RecButton->click();
    ASSERT_TRUE(form->Recording);
    form->TBmixtime->SetPosition(20);
    EXPECT_EQ(form->TBmixtime->Position(), 5);
    form->RecButton->click();
    Pump();
    EXPECT_FALSE(form->Recording);
}

TEST_F(MixerTest, LengthWithoutMemoryKeepsTheOldLengthEverywhere) {
    SetLevel(1, 100);
    uint8_t* buffer = form->SynthBuffer;
    blocks::FailHook = [](size_t bytes) { return bytes == 20u * 8820; };
    form->TBmixtime->SetPosition(20);
    blocks::FailHook = nullptr;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "No Memory");
    EXPECT_EQ(messages[0].caption, "ERROR");
    EXPECT_EQ(form->SynthBuffer, buffer);
    EXPECT_DOUBLE_EQ(form->MixSeconds, 0.5);
    EXPECT_EQ(form->FadeSamples, 2205);
    // Slider and read-out show the length the buffer holds, and the tone is made at it.
    EXPECT_EQ(form->TBmixtime->Position(), 5);
    EXPECT_EQ(form->LBmixtime->text(), "0.5");
    form->Transmit->click();
    ASSERT_NE(audio->OutputBlock(), nullptr);
    EXPECT_EQ(audio->OutputBlock()->dwBufferLength, 44100u);
}

TEST_F(MixerTest, ShorterLengthKeepsTheHeldToneWholeAndSavesIt) {
    SetLevel(1, 100);
    SetLevel(2, 50);
    form->Transmit->click();
    FinishOutput();
    ASSERT_TRUE(form->SynthActive);
    const std::vector<uint8_t> tone = testwav::Bytes(form->WaveData, form->WaveDataSize);
    ASSERT_EQ(tone.size(), 44100u);

    form->TBmixtime->SetPosition(1);
    EXPECT_EQ(form->WaveData, form->SynthBuffer);
    ASSERT_EQ(form->WaveDataSize, 44100u);
    EXPECT_EQ(testwav::Bytes(form->WaveData, form->WaveDataSize), tone);

    // Saving while the tone is held writes the tone, every byte of it.
    saveName = dir.filePath("tone.wav");
    form->Butsave->click();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(testwav::ReadAll(saveName), testwav::WaveFile(MakePcmFormat(1, 16, 44100), tone));

    form->Transmit->click();
    ASSERT_NE(audio->OutputBlock(), nullptr);
    EXPECT_EQ(audio->OutputBlock()->dwBufferLength, 8820u);
}

TEST_F(MixerTest, FadeLengthFollowsTheRateOfTheOpenedFile) {
    OpenUserSound(MakePcmFormat(1, 16, 22050), testwav::Mono16(22050, [](uint32_t) { return 0; }));
    ASSERT_EQ(form->CurRate, 22050);
    form->TBmixtime->SetPosition(10);
    EXPECT_EQ(form->FadeSamples, 1102);  // Round(1102.5), halves to even
    form->TBmixtime->SetPosition(4);
    EXPECT_EQ(form->FadeSamples, 882);

    // The tone itself is always made at 44100 Hz, with the fade computed above.
    form->reset->click();
    SetLevel(1, 100);
    form->Transmit->click();
    const WAVEHDR* block = audio->OutputBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(audio->LastOutputFormat().nSamplesPerSec, 44100u);
    ASSERT_EQ(block->dwBufferLength, 4u * 8820);
    const long long n = 17640, R = 882;
    EXPECT_EQ(Sample16(block->lpData, n - R), llrintl(10.0L * Term(100, 1, n - R, 0.0, 100)));
    for (long long t = n - R + 1; t < n; t += 97) {
        const double h = static_cast<double>(n - t) / R;
        EXPECT_EQ(Sample16(block->lpData, t), llrintl(10.0L * (Term(100, 1, t, 0.0, 100) * h * h)))
            << t;
    }
}

TEST_F(MixerTest, FadeAsLongAsTheToneSaturatesInsteadOfWrappingAround) {
    // At 441000 Hz the fade of a 0.1 s tone is 4410 samples: all of it but sample 0, with h near
    // 1 at its start and no volume cut, since the body (sample 0 alone) is silent.
    OpenUserSound(MakePcmFormat(1, 16, 441000), testwav::Mono16(4410, [](uint32_t) { return 0; }));
    form->TBmixtime->SetPosition(1);
    ASSERT_EQ(form->FadeSamples, 4410);
    form->reset->click();
    SetLevel(1, 100);
    SetLevel(2, 100);
    form->freq->SetPosition(2000);
    form->volume->SetPosition(300);
    form->Transmit->click();
    const WAVEHDR* block = audio->OutputBlock();
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(block->dwBufferLength, 8820u);
    EXPECT_EQ(form->volume->Position(), 300);
    EXPECT_EQ(Sample16(block->lpData, 0), 0);
    int mismatches = 0, clipped = 0;
    for (long long t = 1; t < 4410; ++t) {
        const double h = (4410.0 - t) / 4410;
        const double sum =
            ((0.0 + Term(2000, 1, t, 0, 100)) * h * h + Term(2000, 2, t, 0, 100)) * h * h;
        const long long s = llrintl(300.0L * sum);
        clipped += s > 32767 || s < -32768;
        mismatches += Sample16(block->lpData, t) != std::clamp<long long>(s, -32768, 32767);
    }
    EXPECT_GT(clipped, 0);
    EXPECT_EQ(mismatches, 0);
}

TEST_F(MixerTest, TransmitAfterPlayingTakesThePhasesOfTheAnalysisOnce) {
    const auto sound = testwav::Mono16(44100, [](uint32_t t) {
        const double w = 6.283185307179586 * t / 44100;
        return static_cast<int>(std::lrint(6000 * std::sin(220 * w) + 3000 * std::sin(440 * w) +
                                           1500 * std::sin(660 * w)));
    });
    OpenUserSound(MakePcmFormat(1, 16, 44100), sound);
    form->HarmonicPhases[5] = 0.7;

    form->PlayButton->click();
    ASSERT_TRUE(form->Playing);
    EXPECT_TRUE(form->HarmonicsFromAnalysis);
    FinishOutput();  // back at the start, analysed with the sliders following
    const DetectionResult d = form->Detection;
    ASSERT_GE(d.PeakCount, 3);
    ASSERT_EQ(d.PeakHarmonics[1], 1);
    EXPECT_EQ(form->HarmonicLevels[1], 100);
    EXPECT_EQ(form->HarmonicLevels[2], 45);
    EXPECT_EQ(form->HarmonicLevels[3], 24);

    form->Transmit->click();
    const double base = std::atan2(d.PeakValues[1].re, d.PeakValues[1].im);
    EXPECT_DOUBLE_EQ(form->HarmonicPhases[1], base);
    for (int j = 2; j <= d.PeakCount; ++j) {
        const int k = d.PeakHarmonics[j];
        if (k < 1 || k > 20) continue;
        EXPECT_DOUBLE_EQ(form->HarmonicPhases[k],
                         std::atan2(d.PeakValues[j].re, d.PeakValues[j].im) - base)
            << k;
    }
    EXPECT_EQ(form->HarmonicPhases[5], 0.7);
    EXPECT_FALSE(form->HarmonicsFromAnalysis);
    // The tone starts with those phases: sample 0 is V x sum of sin(phase k) x level k.
    const WAVEHDR* block = audio->OutputBlock();
    ASSERT_NE(block, nullptr);
    double first = 0.0;
    for (int k = 1; k <= 20; ++k)
        if (form->HarmonicLevels[k] != 0)
            first += Term(form->freq->Position(), k, 0, form->HarmonicPhases[k],
                          form->HarmonicLevels[k]);
    EXPECT_EQ(Sample16(block->lpData, 0), llrintl(form->volume->Position() * (long double)first));

    // The tone's own analysis does not feed the phases: a second synthesis keeps them.
    double phases[21];
    std::copy(form->HarmonicPhases, form->HarmonicPhases + 21, phases);
    FinishOutput();
    form->Transmit->click();
    for (int k = 1; k <= 20; ++k) EXPECT_EQ(form->HarmonicPhases[k], phases[k]) << k;
}

TEST_F(MixerTest, PlayWhileAToneIsHeldPlaysTheUsersSoundFromItsStart) {
    std::vector<uint8_t> user(22050);  // 8-bit stereo, a quarter second
    for (size_t i = 0; i < user.size(); ++i) user[i] = static_cast<uint8_t>(128 + (i % 61) - 30);
    OpenUserSound(MakePcmFormat(2, 8, 22050), user);
    uint8_t* parked = form->WaveData;

    SetLevel(1, 100);
    form->Transmit->click();
    FinishOutput();
    form->freq->SetPosition(300);
    form->Transmit->click();  // a second tone keeps the first parked sound
    FinishOutput();
    ASSERT_TRUE(form->SynthActive);
    EXPECT_EQ(form->SavedWaveData, parked);

    form->PlayButton->click();
    ASSERT_TRUE(form->Playing);
    EXPECT_FALSE(form->SynthActive);
    EXPECT_EQ(form->WaveData, parked);
    EXPECT_EQ(testwav::Bytes(form->WaveData, form->WaveDataSize), user);
    EXPECT_EQ(form->CurBits, 8);
    EXPECT_EQ(form->CurRate, 22050);
    EXPECT_EQ(form->CurChannels, 2);
    const WAVEHDR* block = audio->OutputBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->lpData, reinterpret_cast<char*>(parked));
    EXPECT_EQ(block->dwBufferLength, user.size());
    EXPECT_EQ(audio->LastOutputFormat().nSamplesPerSec, 22050u);
    EXPECT_EQ(audio->LastOutputFormat().nChannels, 2);
    EXPECT_EQ(audio->LastOutputFormat().wBitsPerSample, 8);
}

// The parked sound and the mixer's buffer are each released exactly once whichever way the tone
// leaves (the sanitizer build reports a leak or a double release).
TEST_F(MixerTest, OpeningAFileWhileAToneIsHeldReleasesTheParkedSound) {
    SetLevel(1, 100);
    form->Transmit->click();
    FinishOutput();
    OpenUserSound(MakePcmFormat(1, 16, 44100), testwav::Mono16(8000, [](uint32_t t) { return t; }));
    EXPECT_EQ(form->SavedWaveData, nullptr);
    EXPECT_NE(form->WaveData, form->SynthBuffer);
    ASSERT_NE(form->SynthBuffer, nullptr);
    form->Transmit->click();
    EXPECT_TRUE(form->Playing);
    EXPECT_EQ(form->WaveData, form->SynthBuffer);
}

TEST_F(MixerTest, RecordingWhileAToneIsHeldReleasesTheParkedSound) {
    SetLevel(1, 100);
    form->Transmit->click();
    FinishOutput();
    form->RecButton->click();
    ASSERT_TRUE(form->Recording);
    EXPECT_FALSE(form->SynthActive);
    EXPECT_EQ(form->SavedWaveData, nullptr);
    EXPECT_EQ(audio->FillInputBlocks(2), 2);
    Pump();
    form->RecButton->click();
    Pump();
    ASSERT_FALSE(form->Recording);
    EXPECT_NE(form->WaveData, form->SynthBuffer);
    EXPECT_EQ(form->WaveDataSize, 2u * 8820);
    form->Transmit->click();
    EXPECT_TRUE(form->Playing);
}

TEST_F(MixerTest, ClosingWhileAToneIsHeldReleasesBothSounds) {
    SetLevel(1, 100);
    form->Transmit->click();
    FinishOutput();
    form->close();
    form.reset();
    EXPECT_FALSE(audio->OutputOpen());
}

TEST_F(MixerTest, ClosingWhileAToneIsPlayingStopsAndReleasesIt) {
    SetLevel(1, 100);
    form->Transmit->click();
    ASSERT_TRUE(form->Playing);
    form.reset();
    EXPECT_FALSE(audio->OutputOpen());
}

TEST_F(MixerTest, ClosingAfterAToneCouldNotBePlayedReleasesBothSounds) {
    audio->faults.outOpen = {MMSYSERR_NODRIVER, 0};
    SetLevel(1, 100);
    form->Transmit->click();
    EXPECT_FALSE(form->Playing);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "ERROR");
    EXPECT_TRUE(form->SynthActive);
    EXPECT_EQ(form->WaveData, form->SynthBuffer);
    form.reset();
}

}  // namespace
