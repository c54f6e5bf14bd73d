// Start-up, shutdown and the shared operations that change the held sound.
#include <QCloseEvent>
#include <QCoreApplication>
#include <QSignalBlocker>
#include <algorithm>
#include <cstring>
#include <vector>

#include "analysis/Spectrum.h"
#include "analysis/WindowAnalysis.h"
#include "common/Blocks.h"
#include "common/Round.h"
#include "form/TFormMain.h"
#include "synth/ToneGenerator.h"
#include "toolkit/AppServices.h"
#include "toolkit/ReportWindow.h"
#include "views/ScaleGeometry.h"

using namespace sonabi;

TFormMain::TFormMain(WaveAudio* audio) {
    if (!audio) {
        ownAudio_ = CreateQtWaveAudio();
        audio = ownAudio_.get();
    }
    Audio = audio;
    BuildLayout();
    for (auto* points : {&WaveLines[0], &WaveLines[1], &WaveShown.points[0], &WaveShown.points[1]})
        points->reserve(2048);  // the longest window
    BuildShortcuts();
    setAcceptDrops(true);  // a WAV file dropped on the window is opened (FormDrop.cpp)
    AppServices::Instance().Parent = this;
    FormCreate();
    qApp->installEventFilter(this);
}

TFormMain::~TFormMain() {
    qApp->removeEventFilter(this);
    FormClose();
    // Whatever start-up or an interrupted operation left behind. The held sound goes first: it
    // may be the mixer's buffer, which only SynthBuffer owns.
    ReleaseWaveBuffers();
    blocks::Release(SynthBuffer);
    if (SynthActive) blocks::Release(SavedWaveData);
    blocks::Release(RecordBuffer);
    ReleaseCaptureBlock2();
    FreeFftBuffers();
}

bool TFormMain::MayWriteHeldSound() {
    if (Playing || Recording) return false;
    if (WaveDataHeld && WaveData) return true;
    ShowMessage("no data", "error");
    return false;
}

void TFormMain::ShowMessage(const QString& text, const QString& caption) {
    AppServices::Instance().MessageBox(text, caption);
}

void TFormMain::FormCreate() {
    ViewOffset = 0;
    WaveOutHandle = nullptr, WaveInHandle = nullptr, WaveHeader = nullptr, WaveData = nullptr;
    WaveDataHeld = Playing = Recording = CaptureOpen = CaptureRunning = false;
    StopRequested = StopFinished = Closing = HarmonicsFromAnalysis = false;
    SynthActive = false;
    NoiseCapturePending = false;
    NoiseFftSize = NoiseRate = 0;
    HeldFrom = HeldSource::StartUp;
    HeldFileName.clear();
    InitialBufferSeconds = 30;
    CurBits = 16, CurRate = 44100, CurChannels = 1;
    DataBits = 16, DataRate = 44100, DataChannels = 1;
    DataFormatTag = WAVE_FORMAT_PCM;
    CaptureBlockSeconds = 0.1;
    TimeGridFineMs = 5, TimeGridCoarseMs = 10, FreqGridFineHz = 100, FreqGridCoarseHz = 500;
    FftSizeExponent = 3;
    FftSize = FftSizeFor(FftSizeExponent);
    AllocateFftBuffers(FftSize);
    PeakThreshold = 5.0;
    FftTimes = ScrollBarFftTimes->Max() - ScrollBarFftTimes->Position() + 1;
    FrequencySpan = 2000.0;
    ReferenceA4 = SavedReferenceA4();
    LowCutHz = 30;
    LowCutBin = LowCutBinFor(LowCutHz, CurRate, FftSize);
    LowCutX = static_cast<int>(
        Round(PaintBoxFft->width() * static_cast<double>(LowCutHz) / FrequencySpan));
    BuildHarmonicSliderTable();
    HarmonicCount = MaxHarmonicCount();  // the format is not filled yet: 0
    std::fill(HarmonicLevels + 1, HarmonicLevels + 21, 0);
    std::fill(HarmonicPhases + 1, HarmonicPhases + 21, 0.0);
    FadeSamples = static_cast<int>(Round(CurRate * 0.005 * 10));
    MixSeconds = TBmixtime->Position() * 0.1;
    FillWaveFormat();
    LBmixtime->setText(QString::number(MixSeconds, 'g', 15));
    Lbamp->setText(QString::number(volume->Position()));
    SynthBuffer = blocks::Allocate(ToneByteCount(TBmixtime->Position()));
    if (!SynthBuffer) {
        ShowMessage("No Memory", "ERROR");
        return;
    }
    freq->setMaximum(2000);
    BuildKeyTables();
    ResetKeyColours();
    UpdateHarmonicLabels();
    Label21->setText("");
    WaveData = blocks::Allocate(static_cast<size_t>(InitialBufferSeconds) * 44100);
    if (!WaveData) {
        ShowMessage("No pwavedata", "ERROR");
        return;
    }
    WaveHeader = blocks::AllocateArray<WAVEHDR>(1);
    if (!WaveHeader) {
        ShowMessage("No pwaveheader", "ERROR");
        blocks::Release(WaveData);
        return;
    }
    WaveDataHeld = true;
    WaveDataSize = 44100;
    std::memset(WaveData, 0, 44100);
    ResetView();
    ViewOffset = 0;
    VoiceprintX = 0;
    VoiceprintWidth = PaintBoxSeimon->width();
    SpanBinCount = sonabi::SpanBinCount(FftSize, static_cast<uint32_t>(CurRate), FrequencySpan);
    created_ = true;
}

void TFormMain::RestartFresh() {
    FormClose();
    // Device messages still queued name blocks that are about to go; a new window never sees
    // them either.
    QCoreApplication::removePostedEvents(this, WaveAudioEvent::EventType());
    // What the destructor releases beyond the close; the held sound first, as there.
    ReleaseWaveBuffers();
    blocks::Release(SynthBuffer);
    if (SynthActive) blocks::Release(SavedWaveData);
    SavedWaveData = nullptr;
    blocks::Release(RecordBuffer);
    ReleaseCaptureBlock2();
    FreeFftBuffers();
    // Fields that start-up does not set, or reads before it sets them, have their initial values
    // in a new window.
    WaveFormat = {};
    SavedWaveDataSize = RecordedBytes = RecordCapacity = 0;
    PlayTime = {};
    IgnoreNextDone = false;
    LevelOk = true;
    SpectrumPeakMax = 0.0;
    Detection = {};
    DetectedFrequency = PeakLevel = 0;
    for (int i = 0; i <= 60; ++i) KeyFrequencies[i] = 0;
    // The windows beside it are closed, as a new window has none open, and show nothing.
    for (QWidget* beside : {TunerWindow, static_cast<QWidget*>(TakeReportWindow)})
        if (beside) beside->hide();
    TunerHz = 0.0;
    Report = {};
    ReportSeconds = 0.0;
    ReportSource.clear();
    {
        // A new window's controls get their values before any handler is connected.
        std::vector<QSignalBlocker> quiet;
        for (QObject* child : findChildren<QObject*>()) quiet.emplace_back(child);
        SetControlDefaults();
    }
    WaveShown.lines = -1;  // the views are cleared: what they showed is gone
    closed_ = false;
    created_ = false;
    FormCreate();
}

void TFormMain::FormClose() {
    if (closed_) return;
    closed_ = true;
    ShutdownAudio();
}

void TFormMain::closeEvent(QCloseEvent* e) {
    FormClose();
    e->accept();
}

void TFormMain::FillWaveFormat() { WaveFormat = MakePcmFormat(CurChannels, CurBits, CurRate); }

void TFormMain::ResetView() {
    ViewOffset = 0;
    PlayScrollBar->SetPosition(0);
    const uint32_t align = WaveFormat.nBlockAlign;
    if (!WindowFits(WaveDataSize, 0, align, FftSize)) {
        FftSizeExponent = 0;
        FftSize = FftSizeFor(FftSizeExponent);
        ShowMessage(QString::fromUtf8("プログラムを閉じてください"), "Wait");
        if (!WindowFits(WaveDataSize, 0, align, FftSize) && WaveData) {
            // Shorter than the shortest window: keep the sound as it is, but give its buffer a
            // silent tail (128 for unsigned 8-bit samples) so that the one window shown never
            // reads past the block.
            const size_t padded = static_cast<size_t>(align) * FftSize;
            uint8_t* bigger = blocks::Allocate(padded);
            if (bigger) {
                if (WaveFormat.wBitsPerSample == 8) std::memset(bigger, 128, padded);
                std::memcpy(bigger, WaveData, WaveDataSize);
            } else {
                // Without the tail no window can be shown: the sound is dropped, and the views
                // and playback see no buffer.
                ShowMessage("No Memory", "ERROR");
                WaveDataSize = 0;
            }
            ReleaseSound(WaveData);
            WaveData = bigger;
        }
    }
    // The bar's end is the data less one window, not rounded to a frame: a position is put on a
    // frame when it is scrolled to.
    const uint32_t windowBytes = align * FftSize;
    PlayScrollBar->SetMax(WaveDataSize >= windowBytes ? WaveDataSize - windowBytes : 0);
    PlayScrollBar->SetSteps(FftSize / 2, FftSize / 10);
    FullRefresh();
}

void TFormMain::ResetFftParameters() {
    FrequencySpan = 2000.0;
    FftSizeExponent = 3;
    FftSize = FftSizeFor(FftSizeExponent);
    freq->setMaximum(static_cast<int>(Round(FrequencySpan)));
}

void TFormMain::ReleaseHeldSound() {
    if (!(CaptureOpen || WaveDataHeld)) return;
    if (CaptureOpen && !CaptureRunning) CloseCapture();
    if (WaveDataHeld) CloseOutput();
    ReleaseWaveBuffers();
}

void TFormMain::ReleaseWaveBuffers() {
    blocks::ReleaseArray(WaveHeader);
    ReleaseSound(WaveData);
}

void TFormMain::ReleaseSound(uint8_t*& data) {
    if (data == SynthBuffer)
        data = nullptr;
    else
        blocks::Release(data);
}

ParkedSound TFormMain::TakeHeldSound() {
    const ParkedSound sound{WaveData,
                            WaveDataSize,
                            WaveFormat,
                            {CurBits, CurRate, CurChannels},
                            {DataBits, DataRate, DataChannels},
                            DataFormatTag,
                            WaveHeader,
                            WaveDataHeld,
                            SynthActive,
                            SavedWaveData,
                            SavedWaveDataSize};
    if (WaveDataHeld) CloseOutput();
    WaveHeader = nullptr;
    WaveData = nullptr;
    return sound;
}

void TFormMain::RestoreHeldSound(const ParkedSound& sound) {
    WaveData = sound.data;
    WaveDataSize = sound.size;
    WaveFormat = sound.format;
    CurBits = sound.cur.bits, CurRate = sound.cur.rate, CurChannels = sound.cur.channels;
    DataBits = sound.own.bits, DataRate = sound.own.rate, DataChannels = sound.own.channels;
    DataFormatTag = sound.ownTag;
    WaveHeader = sound.header;
    WaveDataHeld = sound.held;
    SynthActive = sound.synthActive;
    SavedWaveData = sound.savedData;
    SavedWaveDataSize = sound.savedSize;
}

void TFormMain::ParkUserSound() {
    if (SynthActive) return;
    SavedWaveDataSize = WaveDataSize;
    SavedWaveData = WaveData;
    SynthActive = true;
}

void TFormMain::BringBackUserSound() {
    if (!SynthActive) return;
    SynthActive = false;
    WaveData = SavedWaveData;
    SavedWaveData = nullptr;
    WaveDataSize = SavedWaveDataSize;
    CurBits = DataBits, CurRate = DataRate, CurChannels = DataChannels;
    FillWaveFormat();
    WaveFormat.wFormatTag = DataFormatTag;  // a float sound comes back as floats
}

// The commands that have no button, listed under 保存's tip.
const char* const kShortcutList =
    "\nCtrl+E: 全ウィンドウの分析を CSV に保存"
    "\nCtrl+I: ウィンドウの画像を PNG に保存"
    "\nCtrl+R: テイクの報告（音ごとの音程とビブラート）"
    "\nCtrl+T: チューナー";

void TFormMain::UpdateStateTips() {
    QString save;
    if (SynthActive)
        save = QString::fromUtf8("ミキサーの音を保存します（再生 で元の音に戻ります）");
    else if (HeldFrom == HeldSource::File)
        save = HeldFileName + QString::fromUtf8(" を保存します");
    else if (HeldFrom == HeldSource::Recording)
        save = QString::fromUtf8("録音を保存します");
    else
        save = QString::fromUtf8("起動時の無音を保存します（まだ録音も読み込みもしていません）");
    save += QString::fromUtf8(kShortcutList);
    if (Butsave->toolTip() != save) Butsave->setToolTip(save);

    QString noise =
        QString::fromUtf8("雑音は取り込まれていません。録音中に押すと背景の雑音を取り込みます");
    if (NoiseFftSize != 0) {
        const QString taken = QString::fromUtf8("%1 フレーム（%2 Hz）で取り込んだ雑音")
                                  .arg(NoiseFftSize)
                                  .arg(NoiseRate);
        noise = NoiseInForce() == NoiseSpectrum
                    ? taken + QString::fromUtf8("を差し引いています")
                    : QString::fromUtf8("%1は %2 フレーム（%3 Hz）では差し引きません")
                          .arg(taken)
                          .arg(FftSize)
                          .arg(CurRate);
    }
    if (Butfftampfilset->toolTip() != noise) Butfftampfilset->setToolTip(noise);

    QStringList settings;
    if (LowCutHz != 30)
        settings << QString::fromUtf8("低域カット %1 Hz（Shift + 右クリック）").arg(LowCutHz);
    // Only a threshold the user set: an 8-bit sound's own default is none.
    if (PeakThreshold != PeakThresholdFor(CodingOf(WaveFormat)))
        settings
            << QString::fromUtf8("しきい値 %1（Shift + 左クリック）").arg(PeakThreshold, 0, 'g', 6);
    const QString spectrum = settings.join('\n');
    if (PaintBoxFft->toolTip() != spectrum) PaintBoxFft->setToolTip(spectrum);
}

bool TFormMain::HasWaveBuffers() const { return WaveData != nullptr && WaveHeader != nullptr; }

SampleCoding TFormMain::CodingFor(int bitsPerSample) const {
    return {bitsPerSample, WaveFormat.wFormatTag == WAVE_FORMAT_IEEE_FLOAT};
}

void TFormMain::ShutdownAudio() {
    Closing = true;
    if (Recording && CaptureRunning) ToggleRecording();
    // The returned blocks' messages will find the window gone: the take is completed now.
    FinishTake();
    if (Playing) StopPlayback();
    if (CaptureOpen || WaveDataHeld) {
        if (WaveDataHeld) CloseOutput();
        if (CaptureOpen) CloseCapture();
        ReleaseWaveBuffers();
    }
    FreeFftBuffers();
}

bool TFormMain::event(QEvent* e) {
    if (e->type() == WaveAudioEvent::EventType()) {
        auto* audioEvent = static_cast<WaveAudioEvent*>(e);
        // After the window has closed, device messages are no longer handled.
        if (closed_) return true;
        if (audioEvent->message == MM_WOM_DONE) OnWaveOutDone();
        if (audioEvent->message == MM_WIM_DATA) OnWaveInData(audioEvent->header);
        return true;
    }
    return QWidget::event(e);
}
