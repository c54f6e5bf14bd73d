// What leaves the window besides the held sound: the analysis of every window as CSV, a picture
// of the window, and the mixer's settings as a harmonic profile (saved and loaded again). Each
// is a keyboard shortcut with Ctrl, which never reaches the typed-note handler.
#include <QBuffer>
#include <QGuiApplication>
#include <QPixmap>
#include <QShortcut>
#include <algorithm>
#include <cmath>
#include <string>

#include "analysis/AnalysisTable.h"
#include "analysis/WindowAnalysis.h"
#include "form/TFormMain.h"
#include "synth/ToneGenerator.h"
#include "toolkit/AppServices.h"
#include "toolkit/SaveFiles.h"

using namespace sonabi;

namespace {

const char* const kProfileFilter = "倍音プロファイル|*.json";

}  // namespace

void TFormMain::BuildShortcuts() {
    const struct {
        QKeySequence keys;
        void (TFormMain::*run)();
    } shortcuts[] = {{QKeySequence(Qt::CTRL | Qt::Key_E), &TFormMain::ExportAnalysisClick},
                     {QKeySequence(Qt::CTRL | Qt::Key_I), &TFormMain::SavePictureClick},
                     {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &TFormMain::SaveProfileClick},
                     {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), &TFormMain::LoadProfileClick},
                     {QKeySequence(Qt::CTRL | Qt::Key_T), &TFormMain::TunerClick},
                     {QKeySequence(Qt::CTRL | Qt::Key_R), &TFormMain::TakeReportClick}};
    for (const auto& s : shortcuts) {
        auto* shortcut = new QShortcut(s.keys, this);
        connect(shortcut, &QShortcut::activated, this, s.run);
    }
}

void TFormMain::ExportAnalysisClick() {
    if (!MayWriteHeldSound()) return;
    const QString path = AskSavePath("csv|*.csv", ".csv");
    if (path.isEmpty()) return;
    // The window's own settings; the harmonic columns are a fresh mixer's, as the analyser's.
    const AnalysisSettings settings = ReportSettings();
    const uint64_t step = uint64_t{FftSize / 2} * WaveFormat.nBlockAlign;
    std::string csv;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const bool made = AnalyzeWindowsCsv(WaveData, WaveDataSize, WaveFormat, settings, step, 0,
                                        UINT64_MAX, NoiseInForce(), kMaxWindowFrames, csv);
    QGuiApplication::restoreOverrideCursor();
    if (!made) {
        ShowMessage("No Memory", "ERROR");
        return;
    }
    if (!WriteWhole(path, QByteArray::fromStdString(csv))) ShowMessage("no save file", path);
}

void TFormMain::SavePictureClick() {
    if (Playing || Recording) return;
    const QString path = AskSavePath("png|*.png", ".png");
    if (path.isEmpty()) return;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !grab().save(&buffer, "PNG") ||
        !WriteWhole(path, bytes))
        ShowMessage("no save file", path);
}

Profile TFormMain::CurrentProfile() const {
    Profile profile;
    // Harmonics 1 .. 20; entry 0 stays 0.
    std::copy(HarmonicLevels + 1, HarmonicLevels + 21, profile.levels.begin() + 1);
    std::copy(HarmonicPhases + 1, HarmonicPhases + 21, profile.phases.begin() + 1);
    // While the sliders follow the analysis, ミキサー takes the phases from it first.
    if (HarmonicsFromAnalysis)
        sonabi::TakeHarmonicPhases(Detection.PeakCount, Detection.PeakHarmonics,
                                   Detection.PeakValues, profile.phases.data());
    profile.fundamental = freq->Position();
    // A slider that stands at the detection's frequency was set from the analysis: the profile
    // keeps the pitch itself, to the slider's whole hertz and with its fraction beside it.
    if (RefinedHz > 0 && DetectedFrequency == freq->Position()) {
        profile.pitch = RefinedHz;
        profile.fundamental =
            std::clamp(static_cast<int>(std::lround(RefinedHz)), freq->minimum(), freq->maximum());
    }
    profile.volume = volume->Position();
    profile.length = TBmixtime->Position();
    return profile;
}

void TFormMain::SaveProfileClick() {
    if (Playing || Recording) return;
    const QString path = AskSavePath(QString::fromUtf8(kProfileFilter), ".json");
    if (path.isEmpty()) return;
    const std::string error = SaveProfileFile(NativePath(path), CurrentProfile());
    if (!error.empty())
        ShowMessage(QString::fromUtf8("倍音プロファイルを保存できません。\n") +
                        QString::fromStdString(error),
                    path);
}

void TFormMain::ApplyProfile(const Profile& profile) {
    freq->SetPosition(profile.fundamental);
    volume->SetPosition(profile.volume);
    TBmixtime->SetPosition(profile.length);
    // Each slider through its change rule, which also runs when the position is already there:
    // harmonics above the limit of this fundamental and rate stay silent.
    for (int k = 1; k <= 20; ++k) {
        HarmonicSliders[k]->SetPosition(100 - profile.levels[k]);
        TrackBar1Change(HarmonicSliders[k]);
        HarmonicPhases[k] = profile.phases[k];
    }
    // The loaded phases are the tone's, not the next analysis's.
    HarmonicsFromAnalysis = false;
}

void TFormMain::LoadProfileClick() {
    if (Playing || Recording) return;
    const QString path = AppServices::Instance().OpenFileName(QString::fromUtf8(kProfileFilter));
    if (path.isEmpty()) return;
    Profile profile;
    std::string error = LoadProfileFile(NativePath(path), profile);
    // The frequency slider reaches only as far as the spectrum's span.
    if (error.empty() && profile.fundamental > freq->maximum())
        error = QString::fromUtf8(
                    "基音 %1 Hz は周波数スライダー（1 .. %2 Hz）の外です。先にスペクトルの範囲を"
                    "広げてください")
                    .arg(profile.fundamental)
                    .arg(freq->maximum())
                    .toStdString();
    if (!error.empty()) {
        ShowMessage(QString::fromUtf8("倍音プロファイルを読み込めません。\n") +
                        QString::fromStdString(error),
                    path);
        return;
    }
    ApplyProfile(profile);
}
