#include "wavfile/TakeFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <regex>
#include <system_error>
#include <utility>
#include <vector>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "wavfile/WavFile.h"

namespace sonabi {

namespace fs = std::filesystem;

namespace {

// Stem, optional "-N" of a second take in the same second, optional ".part", ".wav".
const std::regex& TakeNamePattern() {
    static const std::regex pattern(
        R"((\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d)(?:-(\d{1,9}))?(?:\.part)?\.wav)");
    return pattern;
}

std::string Failure(const fs::path& path, int error) {
    return path.string() + ": " + std::strerror(error);
}

}  // namespace

fs::path TakesFolder(const char* xdgDataHome, const char* home) {
    // A relative XDG_DATA_HOME is to be ignored: it would depend on the working folder.
    if (xdgDataHome && xdgDataHome[0] == '/') return fs::path(xdgDataHome) / "sonabi" / "takes";
    if (home && home[0]) return fs::path(home) / ".local" / "share" / "sonabi" / "takes";
    return {};
}

std::string TakeStem(std::time_t when) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d_%H-%M-%S", &local);
    return text;
}

TakeWriter::~TakeWriter() { Finish(); }

std::string TakeWriter::Start(const fs::path& folder, const std::string& stem,
                              const WAVEFORMATEX& format) {
    Finish();
    if (folder.empty()) return "no folder for takes (HOME is not set)";
    std::error_code ec;
    // Recordings are private: a folder made here is the user's alone.
    if (fs::create_directories(folder, ec)) fs::permissions(folder, fs::perms::owner_all, ec);
    if (ec) return folder.string() + ": " + ec.message();
    std::array<uint8_t, 46> header;
    WaveHeaderBytes(format, 0, header);
    for (int n = 1; n < 1000 && !file_; ++n) {
        const std::string name = n == 1 ? stem : stem + "-" + std::to_string(n);
        const fs::path part = folder / (name + ".part.wav");
        finalPath_ = folder / (name + ".wav");
        if (fs::exists(finalPath_, ec)) continue;
        file_ = std::fopen(part.c_str(), "wbx");  // never over another take
        if (!file_ && errno != EEXIST) return Failure(part, errno);
        path_ = part;
    }
    if (!file_) return folder.string() + ": no free name for " + stem;
    format_ = format;
    bytes_ = 0;
    if (std::fwrite(header.data(), 1, header.size(), file_) != header.size() ||
        std::fflush(file_) != 0) {
        const int error = errno;
        std::fclose(file_);
        file_ = nullptr;
        fs::remove(path_, ec);
        return Failure(path_, error);
    }
    return "";
}

std::string TakeWriter::Append(const uint8_t* data, uint32_t bytes) {
    if (!file_) return "";
    std::array<uint8_t, 46> header;
    if (bytes > UINT32_MAX - bytes_ || !WaveHeaderBytes(format_, bytes_ + bytes, header))
        return path_.string() + ": the take is at the 4 GiB a WAV file holds";
    // The samples first, then the sizes that count them: whatever moment the program dies at,
    // the header never claims more than the file holds.
    if (std::fseek(file_, 46 + static_cast<long>(bytes_), SEEK_SET) != 0 ||
        std::fwrite(data, 1, bytes, file_) != bytes || std::fflush(file_) != 0) {
        const int error = errno;
        std::fseek(file_, 46 + static_cast<long>(bytes_), SEEK_SET);
        return Failure(path_, error);
    }
    bytes_ += bytes;
    if (std::fseek(file_, 0, SEEK_SET) != 0 ||
        std::fwrite(header.data(), 1, header.size(), file_) != header.size() ||
        std::fflush(file_) != 0)
        return Failure(path_, errno);
    return "";
}

std::string TakeWriter::Finish() {
    if (!file_) return "";
    std::FILE* file = std::exchange(file_, nullptr);
    std::error_code ec;
    if (bytes_ == 0) {
        std::fclose(file);
        fs::remove(path_, ec);
        return "";
    }
    bool ok = true;
    if (bytes_ & 1u) {
        ok = std::fseek(file, 46 + static_cast<long>(bytes_), SEEK_SET) == 0 &&
             std::fputc(0, file) != EOF;
    }
    ok = ok && std::fflush(file) == 0;
#ifndef _WIN32
    ok = ok && fsync(fileno(file)) == 0;
#endif
    const int error = errno;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) return Failure(path_, error);
    fs::rename(path_, finalPath_, ec);
    if (ec) return path_.string() + ": " + ec.message();
    path_ = finalPath_;
    return "";
}

void KeepNewestTakes(const fs::path& folder, size_t keep) {
    std::error_code ec;
    std::vector<std::pair<std::pair<std::string, long>, fs::path>> takes;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        std::smatch m;
        if (!entry.is_regular_file(ec) || !std::regex_match(name, m, TakeNamePattern())) continue;
        takes.push_back({{m[1].str(), m[2].matched ? std::stol(m[2].str()) : 1}, entry.path()});
    }
    if (takes.size() <= keep) return;
    std::sort(takes.begin(), takes.end());
    for (size_t i = 0; i + keep < takes.size(); ++i) fs::remove(takes[i].second, ec);
}

}  // namespace sonabi
