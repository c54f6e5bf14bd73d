// Takes: every recording is also kept as a WAV file in the user's takes folder, written while it
// is being recorded, so that no recording is ever lost, not even to a crash.
//
// A take in progress is "<stem>.part.wav"; its header is brought up to date after every append,
// so a program killed in the middle leaves a file that reads whole up to the last append. A
// finished take is flushed to the disk and renamed to "<stem>.wav": that name appears only when
// the take is complete. The stem is the start's local date and time, "2026-12-10_10-46-17",
// with "-2", "-3", ... when that name is taken already.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "common/WaveTypes.h"

namespace sonabi {

// How many takes the folder keeps: the newest, by their names' date and time.
constexpr size_t kKeptTakes = 100;

// $XDG_DATA_HOME/sonabi/takes when XDG_DATA_HOME is an absolute path, else
// $HOME/.local/share/sonabi/takes; empty when neither is set. Either argument may be null.
std::filesystem::path TakesFolder(const char* xdgDataHome, const char* home);

// "YYYY-MM-DD_HH-MM-SS" of `when` in local time.
std::string TakeStem(std::time_t when);

class TakeWriter {
  public:
    TakeWriter() = default;
    TakeWriter(const TakeWriter&) = delete;
    TakeWriter& operator=(const TakeWriter&) = delete;
    ~TakeWriter();  // a take still open is finished

    // Creates the folder (with its parents) and a new "<stem>.part.wav" in it holding the header
    // of an empty sound of `format`. "" on success, else what failed, with the path.
    std::string Start(const std::filesystem::path& folder, const std::string& stem,
                      const WAVEFORMATEX& format);
    // Appends `bytes` sample bytes and updates the header's sizes. "" on success, else what
    // failed; the file then keeps what it held before.
    std::string Append(const uint8_t* data, uint32_t bytes);
    // Completes the header, flushes the file to the disk and gives it its final name; a take
    // that holds no samples is removed instead. "" on success (or when no take is open), else
    // what failed; the take is closed either way.
    std::string Finish();

    bool IsOpen() const { return file_ != nullptr; }
    // The take's current path: the .part.wav while open, the .wav once finished.
    const std::filesystem::path& Path() const { return path_; }
    uint32_t Bytes() const { return bytes_; }  // sample bytes written

  private:
    std::FILE* file_ = nullptr;
    std::filesystem::path path_, finalPath_;
    WAVEFORMATEX format_{};
    uint32_t bytes_ = 0;
};

// Removes the oldest takes in `folder` beyond the newest `keep` (only files whose names
// TakeWriter makes; the take open now, which is the newest, counts too).
void KeepNewestTakes(const std::filesystem::path& folder, size_t keep = kKeptTakes);

}  // namespace sonabi
