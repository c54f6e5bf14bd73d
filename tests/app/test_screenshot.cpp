// Renders the whole window to PNGs beside the test binary, so a person can look at it: at
// start-up, and after scrolling through a played note (a 262 Hz tone with a falling series of
// harmonics), which lights a key, fills the harmonic sliders and draws the voiceprint, and the
// tuner's window for that note.
#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>
#include <cmath>

#include "FormFixture.h"
#include "TestWavFiles.h"

using namespace sonabi;

namespace {

bool Save(TFormMain& form, const QString& name) {
    const QPixmap shot = form.grab();
    return shot.size() == QSize(800, 600) && shot.save(QDir::current().filePath(name));
}

}  // namespace

TEST_F(FormTest, WindowRendersToPng) {
    form->show();
    Pump();
    EXPECT_TRUE(Save(*form, "sonabi-window.png"));
}

TEST_F(FormTest, AnalysedNoteRendersToPng) {
    QTemporaryDir dir;
    const QString path = dir.filePath("note.wav");
    std::vector<uint8_t> bytes;
    const int frames = 44100 * 2;
    for (int t = 0; t < frames; ++t) {
        double s = 0;
        for (int k = 1; k <= 6; ++k)
            s += 9000.0 / (k * k) * std::sin(2 * M_PI * 262 * k * t / 44100) *
                 std::exp(-t / 60000.0);
        const int16_t v = static_cast<int16_t>(std::lrint(s));
        bytes.push_back(static_cast<uint8_t>(v & 0xFF));
        bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    }
    ASSERT_TRUE(WriteWaveFile(path.toStdString(), MakePcmFormat(1, 16, 44100), bytes.data(),
                              static_cast<uint32_t>(bytes.size()))
                    .empty());
    form->show();
    Pump();
    form->OpenPath(path);
    form->HarmonicsFromAnalysis = true;  // as after playing it
    for (uint32_t offset = 0; offset < 60 * 4096; offset += 4096) {
        uint32_t position = offset;
        form->PlayScrollBarScroll(0, position);
    }
    Pump();
    EXPECT_NEAR(form->DetectedFrequency, 262, 1);
    EXPECT_EQ(form->KeyPanels[25]->Colour(), 0xFF0000u);  // C4
    EXPECT_TRUE(Save(*form, "sonabi-analysis.png"));
    form->TunerClick();
    Pump();
    EXPECT_TRUE(form->TunerWindow->grab().save(QDir::current().filePath("sonabi-tuner.png")));
}
