// The one window of the program. It owns every piece of run-time state: the held sound and its
// format, the analysis window, the audio devices, the busy flags, the FFT arrays, the peak lists,
// the harmonic and keyboard tables and the view settings. Its methods are defined in this
// folder, one Form*.cpp per concern; the computations they use are free functions of the core.
#pragma once
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

#include "analysis/Fft.h"
#include "analysis/HeldNotes.h"
#include "analysis/NoteName.h"
#include "analysis/PitchDetection.h"
#include "analysis/RefinedPitch.h"
#include "audio/WaveAudio.h"
#include "common/Samples.h"
#include "common/WaveTypes.h"
#include "synth/Profile.h"
#include "toolkit/Controls.h"
#include "views/ReportGeometry.h"
#include "views/WaveLine.h"
#include "wavfile/TakeFile.h"

class ReportWindow;

// How a sound is read: sample bits, rate (Hz) and channels.
struct SoundShape {
    int bits = 0, rate = 0, channels = 0;
};

// The held sound with all that says how to read it, lifted out of the window as one value, so
// that an operation that fails can put it back whole.
struct ParkedSound {
    uint8_t* data = nullptr;  // WaveData: owned by the window unless it is the SynthBuffer
    uint32_t size = 0;        // WaveDataSize, bytes
    WAVEFORMATEX format{};
    SoundShape cur;                     // CurBits, CurRate, CurChannels
    SoundShape own;                     // DataBits, DataRate, DataChannels
    uint16_t ownTag = WAVE_FORMAT_PCM;  // DataFormatTag
    WAVEHDR* header = nullptr;
    bool held = false;         // WaveDataHeld
    bool synthActive = false;  // data is the mixer's tone, savedData the user's sound
    uint8_t* savedData = nullptr;
    uint32_t savedSize = 0;  // bytes
};

class ImageView;
class QDoubleSpinBox;

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

    // Start-up values are set once, by FormCreate; until it has run the fields below are zero,
    // false or empty. Byte counts and offsets are into the held sound's interleaved frames.

    // ---- The held sound ----
    uint8_t* WaveData = nullptr;  // the held frames; owned unless it is SynthBuffer
    uint32_t WaveDataSize{};      // bytes of WaveData that hold sound
    WAVEFORMATEX WaveFormat{};    // how WaveData is read (PCM or float; CurBits, CurRate, ...)
    int CurBits{}, CurRate{}, CurChannels{};     // format in use: bits 8..64, Hz, channels
    int DataBits{}, DataRate{}, DataChannels{};  // the user's sound's own format (same units)
    uint16_t DataFormatTag{};  // how the user's sound is coded: WAVE_FORMAT_PCM or _IEEE_FLOAT
    // Where the user's sound came from, for the save button's tip.
    enum class HeldSource { StartUp, File, Recording } HeldFrom{};
    QString HeldFileName;              // the opened file's name, while HeldFrom is File
    bool SynthActive{};                // WaveData is the mixer's tone; the user's sound is parked
    uint8_t* SavedWaveData = nullptr;  // the parked user's sound while SynthActive
    uint32_t SavedWaveDataSize{};      // bytes
    uint8_t* SynthBuffer = nullptr;    // the mixer's output, ToneByteCount(TBmixtime) bytes
    int InitialBufferSeconds{};        // seconds of 44100 bytes in the start-up buffer

    // ---- The analysis window ----
    uint32_t ViewOffset{};  // bytes: where the window shown starts in WaveData
    uint32_t FftSize{};     // frames in the window: 256, 512, 1024 or 2048
    int FftSizeExponent{};  // 0 .. 3, FftSize = FftSizeFor(FftSizeExponent)

    // ---- Audio devices ----
    WaveAudio* Audio = nullptr;
    HWAVEOUT WaveOutHandle = nullptr;
    HWAVEIN WaveInHandle = nullptr;
    WAVEHDR* WaveHeader = nullptr;   // the output block, or capture block 1 while recording
    WAVEHDR* WaveHeader2 = nullptr;  // capture block 2
    uint8_t* CaptureBuffer2 = nullptr;
    uint8_t* RecordBuffer = nullptr;  // the recording so far
    uint32_t RecordedBytes = 0;       // bytes of RecordBuffer filled
    uint32_t RecordCapacity = 0;      // bytes of RecordBuffer
    double CaptureBlockSeconds{};     // seconds of sound per capture block
    MMTIME PlayTime{};                // the play position: bytes heard of the playing block
    bool IgnoreNextDone = false;      // the next MM_WOM_DONE is that of the program's own stop

    // ---- State flags ----
    bool WaveDataHeld{};
    bool Playing{};
    bool Recording{};
    bool CaptureOpen{};
    bool CaptureRunning{};
    bool StopRequested{};
    bool StopFinished{};
    bool Closing{};
    bool HarmonicsFromAnalysis{};
    bool NoiseCapturePending{};
    // The window length (frames) and rate (Hz) the captured noise was taken at; 0 while none
    // has been captured. Bin i means another frequency at another length or rate, so the noise
    // is subtracted only from spectra of the same length and rate.
    uint32_t NoiseFftSize{}, NoiseRate{};
    bool LevelOk = true;  // the last live window was quiet enough to analyse

    // ---- View and analysis settings ----
    int TimeGridFineMs{}, TimeGridCoarseMs{};  // ms between the waveform's grid lines
    int FreqGridFineHz{}, FreqGridCoarseHz{};  // Hz between the frequency grid lines
    double FrequencySpan{};        // Hz, right edge of the spectrum and top of the voiceprint
    double PeakThreshold{};        // magnitude above which a peak counts
    double FftTimes{};             // spectrum gain, 1 .. 80
    uint32_t LowCutHz{};           // Hz, the low cut-off
    uint32_t LowCutBin{};          // bin of the low cut-off: peaks must lie above it
    int LowCutX{};                 // pixels, x of the low cut-off marker in the spectrum view
    int SpanBinCount{};            // bins searched: SpanBinCount(FftSize, CurRate, FrequencySpan)
    double SpectrumPeakMax = 0.0;  // magnitude of the largest peak of the last drawing pass
    int VoiceprintX{}, VoiceprintWidth{};  // pixels: the next column, the view's width

    // ---- FFT arrays, allocated once for 2048 values each ----
    double* SpectrumMagnitudes = nullptr;
    double* NoiseSpectrum = nullptr;
    double* FftInput = nullptr;
    sonabi::Complex* FftWork = nullptr;
    sonabi::Complex* FftOutput = nullptr;

    // ---- Detection results (peak lists, DetectedFrequency, PeakLevel) ----
    sonabi::DetectionResult Detection;
    int DetectedFrequency = 0;  // Hz
    int PeakLevel = 0;          // magnitude of the strongest peak, rounded
    // The window the last spectrum was made of, and the fundamental refined from its samples
    // (Hz, 0 when nothing was detected): what the note-and-cents read-outs show.
    struct AnalysedWindow {
        const uint8_t* frames = nullptr;
        sonabi::SampleCoding coding{16};
        int channels = 0;
        unsigned count = 0;
    } Analysed;
    double RefinedHz = 0.0;
    double ReferenceA4 = sonabi::kDefaultA4;  // Hz, what the notes and cents are read against
    std::array<float, sonabi::kMaxRefineFrames> PitchScratch{};

    // ---- Mixer and keyboard ----
    int HarmonicLevels[21] = {};     // 0..100 per harmonic 1..20; slider shows 100 - level
    double HarmonicPhases[21] = {};  // radians
    TrackBar** HarmonicSliders = TrackBars;
    QLabel** HarmonicLabels = Labels;
    int HarmonicCount{};  // harmonics that fit below half the rate
    int FadeSamples{};    // samples of the fade at the end of a tone
    double MixSeconds{};  // seconds of a tone
    KeyPanel** KeyPanels = Panels;
    int KeyFrequencies[61] = {};  // Hz of keys 1..60

    // ---- Start-up, shutdown and shared operations ----
    void FormCreate();
    void FormClose();
    // The window as a newly created one is: devices closed, every buffer released, every field,
    // control and canvas at its start-up value, then the start-up run again. Lets a long-running
    // harness (the window-path fuzzer) reuse one window; a new window compares equal to it.
    void RestartFresh();
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
    void ShutdownAudio();
    bool HasWaveBuffers() const;
    // How samples of `bitsPerSample` bits are read: as floats when the held format is IEEE float
    // (the views and the analysis are handed a width, as the held format gives it).
    sonabi::SampleCoding CodingFor(int bitsPerSample) const;
    void ShowMessage(const QString& text, const QString& caption);
    // Whether a command that writes out the held sound (保存, its analysis, its report) may run:
    // not while playing or recording, when nothing is said, nor without a held sound, when the
    // box says "no data".
    bool MayWriteHeldSound();
    // Tooltips that tell what the views do not show: which sound 保存 saves, whether captured
    // noise is subtracted, the threshold and low cut-off when they are not the start-up ones.
    void UpdateStateTips();

    // ---- Views ----
    void ClearPaintBox(PaintBox* box);
    void DrawVerticalGrid(PaintBox* box, int fine, int coarse, double span);
    // A view cleared and given its grid, kept by its key: a crowded grid (a sound of a few
    // hundred frames a second puts a labelled line on every column) cost more than the rest of a
    // refresh. The last four are kept, most recent first, so that stepping the window length or
    // the span back and forth draws no grid again. What is kept depends on nothing but its key,
    // so a restart keeps it too. The key: the view's size and font, the fine and coarse steps
    // and the span.
    using GridKey = std::tuple<int, int, QFont, int, int, double>;
    static GridKey GridKeyFor(PaintBox* box, int fine, int coarse, double span);
    struct KeptGrid {
        struct Picture {
            std::optional<GridKey> key;
            TCanvas::Snapshot picture;
        };
        std::array<Picture, 4> pictures;
    };
    KeptGrid TimeGridKept, FreqGridKept;
    void ClearWithGrid(PaintBox* box, KeptGrid& kept, int fine, int coarse, double span);
    double TimeGridSpan() const;  // ms of the analysis window; 0 with no rate
    // `frames` frames of data from byte `offset`; bits 8, 16, 24 or 32 (PCM or, with an IEEE float
    // held format, 32 or 64).
    void DrawWaveform(PaintBox* box, uint32_t frames, const uint8_t* data, uint32_t offset,
                      int channels, int bits);
    // The same lines into WaveLines without drawing them: how many (0 when nothing is drawn,
    // else the channels: red, then blue).
    int WaveformLines(PaintBox* box, uint32_t frames, const uint8_t* data, uint32_t offset,
                      int channels, int bits);
    void DrawWaveLines(PaintBox* box, int lines);
    // Each channel's points, kept so that a refresh allocates nothing.
    std::array<std::vector<sonabi::Point>, 2> WaveLines;
    // What the waveform view got from its last redraw, and the canvas's change count and state
    // right after it.
    struct ShownWaveform {
        uint64_t changes = 0;
        std::optional<GridKey> grid;
        int lines = -1;
        std::array<std::vector<sonabi::Point>, 2> points;
        TCanvas::DrawingState state;
    } WaveShown;
    void RedrawWaveform();
    void PaintBoxGraPaint();
    void ScrollBarWaveTimesScroll(int scrollPos);
    void PaintBoxGraMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    int WaveGain() const;

    // The peak pass of one channel's spectrum, drawn: rate in Hz, frames of the window,
    // baseline in pixels, unitScale in pixels per magnitude and gain step.
    void DrawSpectrumPeaks(int rate, uint32_t frames, PaintBox* box, int baseline, double unitScale,
                           double* magnitudes);
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
    bool AllocateFftBuffers(uint32_t size);  // values per array
    void FreeFftBuffers();
    // The spectrum of `count` frames of data from byte `byteOffset`, drawn into view.
    void ComputeSpectrum(uint32_t count, const uint8_t* data, PaintBox* view, int bitsPerSample,
                         int channels, uint32_t byteOffset);
    void FullRefresh();
    // Waveform, spectrum and detection of `count` frames of data from byte `byteOffset`.
    void LiveRefresh(uint32_t count, const uint8_t* data, PaintBox* spectrumView,
                     PaintBox* waveformView, int bitsPerSample, int channels, uint32_t byteOffset);
    void RunDetection();
    bool DetectPitch();
    void PublishAnalysis();
    void StoreHarmonicLevels();
    void ResetHarmonicSliders();
    void BuildHarmonicSliderTable();
    int MaxHarmonicCount() const;
    void ButfftampfilsetClick();
    // The noise the spectrum pass and the detection subtract: the captured spectrum while a
    // capture is pending or when it fits the window (length and rate), else all zeros.
    double* NoiseInForce() const;
    void UpDownfftscaleClick(UDBtnType button);
    void UpDownChoicedataClick(UDBtnType button);

    // ---- Recording ----
    void RecButtonClick();
    void ToggleRecording();
    bool OpenCapture(uint32_t size);  // two capture blocks of `size` bytes
    bool StartCapture();
    void CloseCapture();
    void ReleaseCaptureBlock2();
    void OnWaveInData(WAVEHDR* header);
    // The take (FormTakes.cpp): every recording is also written to the takes folder as it is
    // made, and completed when it stops or the window closes. A take that cannot be written is
    // said once per recording and never stops it.
    sonabi::TakeWriter Take;
    bool TakeFailureShown = false;
    void StartTake();
    void AppendTake(const uint8_t* data, uint32_t bytes);
    void FinishTake();
    void TakeFailed(const std::string& reason);

    // ---- Playback ----
    void PlayButtonClick();
    void TogglePlayback();
    // Plays bytes start .. end of data (byte offsets, whole frames of WaveFormat).
    bool StartOutput(uint8_t* data, uint32_t start, uint32_t end);
    bool OpenOutput();
    bool PrepareOutput(uint8_t* data, uint32_t start, uint32_t end);  // bytes, as StartOutput
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
    void GenerateTone(uint32_t byteCount, int rate);  // bytes of 16-bit mono into WaveData, Hz
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

    // ---- Read-outs and exports (FormReadouts.cpp, FormExport.cpp) ----
    // Tooltip texts: the note and cents of the last detection; what lies under the pointer in
    // the spectrum (frequency, nearest bin's level), the voiceprint (frequency) and the
    // waveform (the time a click there writes). x, y are the box's pixels.
    QString FrequencyTip() const;
    QString SpectrumReadout(int x, int y) const;
    QString VoiceprintReadout(int x, int y) const;
    QString WaveReadout(int x, int y) const;
    // The time a left click at x on the waveform writes (ms, as text); needs a rate.
    QString ClickTime(int x) const;
    void SetKeyTips();
    // Ctrl+E: every window of the held sound analysed with the current settings, as CSV.
    // Ctrl+I: the window as a PNG picture. Ctrl+Shift+S / Ctrl+Shift+O: the mixer's settings
    // saved to / loaded from a profile file. Each asks for a file name; none runs while playing
    // or recording.
    // Ctrl+T: the tuner, a window of its own (FormTuner.cpp) that follows each analysis: the
    // note, a cents needle, the pitch and the reference A4, which it sets (kMinA4 .. kMaxA4 Hz)
    // and the program keeps between runs.
    QWidget* TunerWindow = nullptr;
    ImageView* TunerView = nullptr;
    QDoubleSpinBox* TunerReference = nullptr;
    double TunerHz = 0.0;  // the pitch shown (Hz), 0 when the last analysis found none
    void TunerClick();
    void UpdateTuner(double hz);
    void DrawTuner(QImage& image) const;
    void SetReferenceA4(double hz);
    static double SavedReferenceA4();
    void ExportAnalysisClick();
    void SavePictureClick();
    void SaveProfileClick();
    void LoadProfileClick();
    // The mixer's profile: what ミキサー would play now (phases from the analysis when the
    // sliders follow it). ApplyProfile sets the mixer through its sliders' change rules.
    sonabi::Profile CurrentProfile() const;
    void ApplyProfile(const sonabi::Profile& profile);

    // ---- Take report (FormReport.cpp) ----
    // Ctrl+R: the held notes of the whole held sound (HeldNotes.h) with the window's settings
    // and A4, in a window of its own: the pitch in cents against time, the table, and its PNG
    // (the graph) and CSV (the analyser's --notes --csv table). Not while playing or recording.
    ReportWindow* TakeReportWindow = nullptr;  // made at the first report, owned by the window
    sonabi::TakeReport Report;                 // what the report shows
    double ReportSeconds = 0.0;                // s, the reported sound's length
    QString ReportSource;                      // where the reported sound came from
    sonabi::ReportGeometry ReportPlot;         // where the last drawing put times and cents
    void TakeReportClick();
    void FillReportTable();
    void DrawReportGraph();
    void SaveReportPictureClick();
    void SaveReportCsvClick();
    sonabi::AnalysisSettings ReportSettings() const;
    std::string ReportCsv() const;

  protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;  // FormLayout.cpp
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;  // FormDrop.cpp
    void dropEvent(QDropEvent* e) override;

  private:
    void BuildLayout();
    void BuildShortcuts();  // FormExport.cpp
    void SetControlDefaults();
    // The client area centred in the screen's available area, the frame kept inside it.
    void CentreOnScreen();
    bool placed_ = false;  // centred once more after the first show
    std::unique_ptr<WaveAudio> ownAudio_;
    bool created_ = false;                // start-up completed
    std::vector<int> keyTipFrequencies_;  // the KeyFrequencies the keys' tooltips give
    bool closed_ = false;
};
