// The one window of the program. It owns every piece of run-time state: the held sound and its
// format, the analysis window, the audio devices, the busy flags, the FFT arrays, the peak lists,
// the harmonic and keyboard tables and the view settings. Its methods are defined across the
// subsystem folders (Form*.cpp); the computations they use are free functions beside them.
#pragma once
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "analysis/Fft.h"
#include "analysis/PitchDetection.h"
#include "audio/WaveAudio.h"
#include "audio/WaveTypes.h"
#include "toolkit/Controls.h"

// The held sound with all that says how to read it, lifted out of the window as one value, so
// that an operation that fails can put it back whole.
struct ParkedSound {
    uint8_t* data = nullptr;  // WaveData: owned by the window unless it is the SynthBuffer
    uint32_t size = 0;        // WaveDataSize, bytes
    WAVEFORMATEX format{};
    int cur[3] = {};   // CurBits, CurRate (Hz), CurChannels
    int own[3] = {};   // DataBits, DataRate (Hz), DataChannels
    WAVEHDR* header = nullptr;
    bool held = false;         // WaveDataHeld
    bool synthActive = false;  // data is the mixer's tone, savedData the user's sound
    uint8_t* savedData = nullptr;
    uint32_t savedSize = 0;    // bytes
};

class TFormMain : public QWidget {
    Q_OBJECT
public:
    // audio: the waveform-audio back-end to use; nullptr uses the system's default devices.
    explicit TFormMain(WaveAudio* audio = nullptr);
    ~TFormMain() override;

    // ---- Controls (client pixels of the 800 x 600 window) ----
    QPushButton* RecButton;
    QPushButton* PlayButton;
    RadioGroup* RadioGroupchan;
    ScrollBar* PlayScrollBar;
    QTimer* Timer1;
    QPushButton* ButtonRecLevel;
    QPushButton* ButtonPlayLevel;
    QPushButton* Butopen;
    QPushButton* Butsave;
    QPushButton* Butfftampfilset;
    QFrame* Bevels[4];
    PaintBox* PaintBoxGra;
    ScrollBar* ScrollBarWaveTimes;
    UpDown* UpDownChoicedata;
    PaintBox* PaintBoxFft;
    ScrollBar* ScrollBarFftTimes;
    UpDown* UpDownfftscale;
    PaintBox* PaintBoxSeimon;
    PaintBox* PaintBoxSeimonScale;
    PaintBox* SeimonAmpGra;
    QLabel* Label12;  // "Hi"
    QLabel* Label13;  // "Lo"
    QLabel* LbfftValue;
    QLabel* Label11;  // "Hz"
    QLabel* Label14;  // " Level"
    QLabel* Label21;
    TrackBar* TrackBars[21];  // TrackBar1..TrackBar20 at [1..20]
    QLabel* Labels[11];       // Label1..Label10 at [1..10]
    TrackBar* freq;
    TrackBar* volume;
    QLabel* Lbamp;
    QLabel* Lbamptxt;
    TrackBar* TBmixtime;
    QLabel* LBmixtime;
    QLabel* Lbtimetxt;
    QPushButton* Transmit;
    QPushButton* reset;
    KeyPanel* Panels[61];  // Panel1..Panel60 at [1..60]

    // ---- The held sound ----
    uint8_t* WaveData = nullptr;
    uint32_t WaveDataSize = 0;
    WAVEFORMATEX WaveFormat{};
    int CurBits = 16, CurRate = 44100, CurChannels = 1;
    int DataBits = 16, DataRate = 44100, DataChannels = 1;
    bool SynthActive = false;
    uint8_t* SavedWaveData = nullptr;
    uint32_t SavedWaveDataSize = 0;
    uint8_t* SynthBuffer = nullptr;
    int InitialBufferSeconds = 30;

    // ---- The analysis window ----
    uint32_t ViewOffset = 0;
    uint32_t FftSize = 2048;
    int FftSizeExponent = 3;

    // ---- Audio devices ----
    WaveAudio* Audio = nullptr;
    HWAVEOUT WaveOutHandle = nullptr;
    HWAVEIN WaveInHandle = nullptr;
    WAVEHDR* WaveHeader = nullptr;
    WAVEHDR* WaveHeader2 = nullptr;
    uint8_t* CaptureBuffer2 = nullptr;
    uint8_t* RecordBuffer = nullptr;
    uint32_t RecordedBytes = 0;
    uint32_t RecordCapacity = 0;
    double CaptureBlockSeconds = 0.1;
    MMTIME PlayTime{};
    bool IgnoreNextDone = false;

    // ---- State flags ----
    bool WaveDataHeld = false;
    bool Playing = false;
    bool Recording = false;
    bool CaptureOpen = false;
    bool CaptureRunning = false;
    bool StopRequested = false;
    bool StopFinished = false;
    bool Closing = false;
    bool HarmonicsFromAnalysis = false;
    bool NoiseCapturePending = false;
    bool LevelOk = true;

    // ---- View and analysis settings ----
    int TimeGridFineMs = 5, TimeGridCoarseMs = 10;  // ms
    int FreqGridFineHz = 100, FreqGridCoarseHz = 500;  // Hz
    double FrequencySpan = 2000.0;  // Hz, right edge of the spectrum and top of the voiceprint
    double PeakThreshold = 5.0;     // magnitude above which a peak counts
    double FftTimes = 66.0;         // spectrum gain, 1..80
    uint32_t LowCutHz = 30;
    uint32_t LowCutBin = 1;
    int LowCutX = 8;
    int SpanBinCount = 186;
    double SpectrumPeakMax = 0.0;
    int VoiceprintX = 0, VoiceprintWidth = 206;

    // ---- FFT arrays, allocated once for 2048 ----
    double* SpectrumMagnitudes = nullptr;
    double* NoiseSpectrum = nullptr;
    double* FftInput = nullptr;
    Complex* FftWork = nullptr;
    Complex* FftOutput = nullptr;

    // ---- Detection results (peak lists, DetectedFrequency, PeakLevel) ----
    DetectionResult Detection;
    int DetectedFrequency = 0;  // Hz
    int PeakLevel = 0;

    // ---- Mixer and keyboard ----
    int HarmonicLevels[21] = {};    // 0..100 per harmonic 1..20; slider shows 100 - level
    double HarmonicPhases[21] = {};  // radians
    TrackBar** HarmonicSliders = TrackBars;
    QLabel** HarmonicLabels = Labels;
    int HarmonicCount = 0;
    int FadeSamples = 2205;
    double MixSeconds = 0.5;
    KeyPanel** KeyPanels = Panels;
    int KeyFrequencies[61] = {};

    // ---- Start-up, shutdown and shared operations ----
    void FormCreate();
    void FormClose();
    void FillWaveFormat();
    void ResetView();
    void ResetFftParameters();
    void ReleaseHeldSound();
    void ReleaseWaveBuffers();
    // The held sound out of the window (its output closed; WaveData and WaveHeader left empty),
    // and back in exactly as it was.
    ParkedSound TakeHeldSound();
    void RestoreHeldSound(const ParkedSound& sound);
    // The mixer's tone takes the held sound's place; the user's sound waits behind it. Only the
    // first tone parks: the next ones replace the tone.
    void ParkUserSound();
    // The user's sound back in place of the mixer's tone, with its own format (nothing when no
    // tone is held).
    void BringBackUserSound();
    // Releases a sound's bytes unless they are the mixer's buffer, which only SynthBuffer owns.
    void ReleaseSound(uint8_t*& data);
    void ClearAudioHandles();
    void ShutdownAudio();
    bool HasWaveBuffers() const;
    void ShowMessage(const QString& text, const QString& caption);

    // ---- Views ----
    void ClearPaintBox(PaintBox* box);
    void DrawVerticalGrid(PaintBox* box, int fine, int coarse, double span);
    void DrawTimeGrid(PaintBox* box, uint32_t rate, int fineMs, int coarseMs);
    void DrawWaveform(PaintBox* box, uint32_t frames, const uint8_t* data, uint32_t offset,
                      int channels, int bits);
    void DrawWave8(PaintBox* box, uint32_t frames, const uint8_t* first, int stride,
                   double centre, double unitScale);
    void DrawWave16(PaintBox* box, uint32_t frames, const uint8_t* first, int stride,
                    double centre, double unitScale);
    void RedrawWaveform();
    void PaintBoxGraPaint();
    void ScrollBarWaveTimesScroll(int scrollPos);
    void PaintBoxGraMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    int WaveGain() const;

    void DrawFreqGrid(PaintBox* box, int fineHz, int coarseHz);
    void DrawSpectrumPeaks(int rate, uint32_t frames, PaintBox* box, int baseline,
                           double unitScale, double* magnitudes);
    void DrawThresholdLine(PaintBox* box, int baseline, double unitScale);
    void DrawLowCutMarker(PaintBox* box);
    void RedrawSpectrum();
    void PaintBoxFftPaint();
    void ScrollBarFftTimesScroll(int scrollPos);
    void PaintBoxFftMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

    void DrawVoiceprintColumn(int count, const double* levels, int spanBins, const int* bins);
    void ResetVoiceprint();
    void DrawFreqScale(PaintBox* box, int fine, int coarse, double top, double bottom);
    void PaintBoxSeimonPaint();
    void PaintBoxSeimonClick();
    void PaintBoxSeimonScalePaint();
    void SeimonAmpGraPaint();

    // ---- Analysis ----
    bool AllocateFftBuffers(uint32_t size);
    void FreeFftBuffers();
    void ComputeSpectrum(uint32_t count, const uint8_t* data, PaintBox* view, int bitsPerSample,
                         int channels, uint32_t byteOffset);
    void FullRefresh();
    void LiveRefresh(uint32_t count, const uint8_t* data, PaintBox* spectrumView,
                     PaintBox* waveformView, int bitsPerSample, int channels,
                     uint32_t byteOffset);
    void RunDetection();
    bool DetectPitch();
    void PublishAnalysis();
    void StoreHarmonicLevels();
    void ResetHarmonicSliders();
    void BuildHarmonicSliderTable();
    int MaxHarmonicCount() const;
    void ButfftampfilsetClick();
    void UpDownfftscaleClick(UDBtnType button);
    void UpDownChoicedataClick(UDBtnType button);

    // ---- Recording ----
    void RecButtonClick();
    void ToggleRecording();
    bool OpenCapture(uint32_t size);
    bool StartCapture();
    void CloseCapture();
    void ReleaseCaptureBlock2();
    void OnWaveInData(WAVEHDR* header);

    // ---- Playback ----
    void PlayButtonClick();
    void TogglePlayback();
    bool StartOutput(uint8_t* data, uint32_t start, uint32_t end);
    bool OpenOutput();
    bool PrepareOutput(uint8_t* data, uint32_t start, uint32_t end);
    void StopPlayback();
    void CloseOutput();
    void OnWaveOutDone();
    void Timer1Timer();
    void PlayScrollBarScroll(int code, uint32_t& position);
    void ButtonPlayLevelClick();
    void ButtonRecLevelClick();

    // ---- Mixer and keyboard ----
    void TrackBar1Change(TrackBar* sender);
    void freqChange();
    void volumeChange();
    void TBmixtimeChange();
    void resetClick();
    void TransmitClick();
    void ShowHarmonicLevels();
    void UpdateHarmonicLabels();
    void TakeHarmonicPhases();
    void SynthesizeAndPlay();
    void GenerateTone(uint32_t byteCount, int rate);
    void PlayNote(int frequency);
    void BuildKeyTables();
    void ResetKeyColours();
    void HighlightNearestKey();
    void Panel1Click(KeyPanel* sender);
    void FormKeyPress(QChar key);

    // ---- WAV files ----
    bool ReadWaveFile(const QString& path);
    bool WriteWaveFile(const QString& path, uint32_t byteCount);
    void OpenClick();
    void SaveClick();
    // Opens a file given by path as the open command does after its dialog (drops, "Open with").
    void OpenPath(const QString& path);

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;  // FormDrop.cpp
    void dropEvent(QDropEvent* e) override;

private:
    void BuildLayout();
    std::unique_ptr<WaveAudio> ownAudio_;
    bool created_ = false;  // start-up completed
    bool closed_ = false;
};
