// The open and save commands and the window's side of reading and writing WAV files.
#include <QFileInfo>

#include "analysis/Spectrum.h"
#include "common/Blocks.h"
#include "form/TFormMain.h"
#include "synth/ToneGenerator.h"
#include "toolkit/AppServices.h"
#include "wavfile/SoundFile.h"
#include "wavfile/WavFile.h"

using namespace sonabi;

namespace {
// WAV first, as ever; then every file libsndfile decodes for the open command.
const char* const kOpenFilter =
    "wav|*.wav|すべての音声ファイル|*.wav;*.WAV;*.flac;*.FLAC;*.ogg;*.oga;*.opus;*.mp3;*.MP3;*.aif;"
    "*.aiff;*.aifc;*.AIF;*.AIFF;*.caf;*.w64;*.rf64;*.au;*.snd";
}  // namespace

bool TFormMain::ReadWaveFile(const QString& path) {
    // Everything is read into new buffers first: a file that cannot be read leaves the held
    // sound untouched.
    WaveFileData file;
    file.format = WaveFormat;
    const std::string error = LoadSoundFile(NativePath(path), file);
    if (!error.empty()) {
        ShowMessage(QString::fromStdString(error), "ERROR");
        return false;
    }
    WAVEHDR* header = blocks::AllocateArray<WAVEHDR>(1);
    if (!header) {
        blocks::Release(file.data);
        ShowMessage("No pwaveheader", "ERROR");
        return false;
    }
    uint8_t* synth = blocks::Allocate(ToneByteCount(TBmixtime->Position()));
    if (!synth) {
        blocks::Release(file.data);
        blocks::ReleaseArray(header);
        ShowMessage("No Memory", "ERROR");
        return false;
    }

    // The new sound replaces the held one (and a parked sound behind a mixer tone).
    BringBackUserSound();
    ReleaseHeldSound();
    ReleaseWaveBuffers();
    WaveFormat = file.format;
    WaveData = file.data;
    WaveHeader = header;
    WaveDataSize = file.size;
    DataBits = CurBits = WaveFormat.wBitsPerSample;
    DataRate = CurRate = static_cast<int>(WaveFormat.nSamplesPerSec);
    DataChannels = CurChannels = WaveFormat.nChannels;
    DataFormatTag = WaveFormat.wFormatTag;
    blocks::Release(SynthBuffer);
    SynthBuffer = synth;
    PeakThreshold = PeakThresholdFor(CodingOf(WaveFormat));
    ResetFftParameters();
    TimeGridFineMs = 5;
    ResetView();
    return true;
}

void TFormMain::OpenClick() {
    if (Playing || Recording) return;
    const QString path = AppServices::Instance().OpenFileName(kOpenFilter);
    if (path.isEmpty()) return;
    OpenPath(path);
}

void TFormMain::OpenPath(const QString& path) {
    if (Playing || Recording || StopRequested) return;
    if (ReadWaveFile(path)) {
        WaveDataHeld = true;
        HeldFrom = HeldSource::File;
        HeldFileName = QFileInfo(path).fileName();
        ResetView();
        ResetVoiceprint();
    } else {
        ShowMessage("stop", AppServices::Instance().Title);
    }
}

bool TFormMain::WriteWaveFile(const QString& path, uint32_t byteCount) {
    const std::string error =
        sonabi::WriteWaveFile(NativePath(path), WaveFormat, WaveData, byteCount);
    if (error.empty()) return true;
    ShowMessage(QString::fromStdString(error), "ERROR");
    return false;
}

void TFormMain::SaveClick() {
    if (!MayWriteHeldSound()) return;
    AppServices& app = AppServices::Instance();
    const QString name = app.SaveFileName("wav|*.wav");
    if (name.isEmpty()) return;
    if (app.FileExists(name) || app.FileExists(name + ".wav") || app.FileExists(name + ".WAV")) {
        if (app.Confirm(QString::fromUtf8("上書きしていいですか？ %1").arg(name)) != Answer::Yes)
            return;
    }
    const QString path = QString::fromStdString(SaveFileName(name.toStdString()));
    if (!WriteWaveFile(path, WaveDataSize)) ShowMessage("no save file", path);
}
