#include "wavfile/WavFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "common/Blocks.h"

namespace sonabi {

namespace fs = std::filesystem;

namespace {

// Random access to a file image, in memory or in a file. ReadAt returns the number of bytes
// actually copied, which is short only at the end of the image or on a read error.
class ByteSource {
  public:
    ByteSource(const uint8_t* bytes, size_t n) : bytes_(bytes), size_(bytes ? n : 0) {}
    explicit ByteSource(const std::string& path) : in_(path, std::ios::binary) {
        if (!in_) return;
        in_.seekg(0, std::ios::end);
        std::streamoff end = in_.tellg();
        ok_ = in_.good() && end >= 0;
        size_ = ok_ ? static_cast<uint64_t>(end) : 0;
    }
    bool ok() const { return ok_; }  // the file opened
    uint64_t Size() const { return size_; }
    size_t ReadAt(uint64_t offset, uint8_t* dst, size_t n) {
        if (offset >= size_) return 0;
        if (bytes_) {
            size_t count = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
            std::memcpy(dst, bytes_ + offset, count);
            return count;
        }
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        if (!in_) return 0;
        in_.read(reinterpret_cast<char*>(dst), static_cast<std::streamsize>(n));
        return static_cast<size_t>(in_.gcount());
    }

  private:
    const uint8_t* bytes_ = nullptr;  // the image in memory, or null for the file
    std::ifstream in_;
    bool ok_ = false;
    uint64_t size_ = 0;
};

constexpr uint32_t FourCC(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

struct Chunk {
    uint64_t dataOffset = 0;  // file offset of the first byte after the 8-byte header
    uint32_t size = 0;        // declared size, excluding the header and the pad byte
};

// Offset of the chunk that follows c: chunks are padded to an even size. 64-bit, so a
// declared size of 0xFFFFFFFF simply lands past the end of any search.
uint64_t ChunkEnd(const Chunk& c) { return c.dataOffset + c.size + (c.size & 1u); }

// Searches [from, end) for a chunk with the given id, skipping every other chunk; with a form
// type, a chunk of that id but another form type is skipped too. Each step moves forward by
// at least 8 bytes, so lying sizes can neither loop nor reach outside [from, end).
std::optional<Chunk> FindChunk(ByteSource& src, uint64_t from, uint64_t end, uint32_t id,
                               std::optional<uint32_t> formType = std::nullopt) {
    uint64_t pos = from;
    while (pos <= end && end - pos >= 8) {
        uint8_t header[8];
        if (src.ReadAt(pos, header, 8) != 8) return std::nullopt;
        Chunk c{pos + 8, Le32(header + 4)};
        if (Le32(header) == id) {
            if (!formType) return c;
            uint8_t type[4];
            if (end - pos >= 12 && src.ReadAt(pos + 8, type, 4) == 4 && Le32(type) == *formType) {
                return c;
            }
        }
        pos = ChunkEnd(c);
    }
    return std::nullopt;
}

// The fields a window needs to show and analyse the sound without reading past its data.
const char* CheckFormat(const WAVEFORMATEX& f) {
    if (f.nChannels == 0) return kNoChannels;
    if (f.nSamplesPerSec == 0) return kNoRate;
    if (f.wBitsPerSample == 0 || f.wBitsPerSample % 8 != 0) return kNoBits;
    if (uint32_t(f.nBlockAlign) != uint32_t(f.nChannels) * (f.wBitsPerSample / 8u)) {
        return kNoBlockAlign;
    }
    return nullptr;
}

// The encodings the window holds: integer PCM (any width; those the views cannot read show as
// silence) and 32- or 64-bit IEEE floats.
const char* HeldEncoding(const WAVEFORMATEX& f) {
    if (f.wFormatTag == WAVE_FORMAT_PCM) {
        static constexpr const char* kPcm[] = {"pcm", "pcm8", "pcm16", "pcm24", "pcm32"};
        const unsigned bits = f.wBitsPerSample;
        return kPcm[bits % 8 == 0 && bits <= 32 ? bits / 8 : 0];
    }
    if (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        if (f.wBitsPerSample == 32) return "float32";
        if (f.wBitsPerSample == 64) return "float64";
    }
    return nullptr;
}

// WAVE_FORMAT_EXTENSIBLE keeps the real tag in the first two bytes of a SubFormat GUID whose
// other 14 bytes are fixed (xxxxxxxx-0000-0010-8000-00aa00389b71). The held format takes that
// tag, so the window holds, plays and saves a plain PCM or float record; the samples are the
// same (a smaller valid-bits count leaves them left-justified in their container).
const char* TagFromSubFormat(ByteSource& src, const Chunk& fmt, WAVEFORMATEX& format) {
    static constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    // cbSize 22 and the 22 bytes it announces: valid bits, channel mask, SubFormat.
    if (fmt.size < 40) return "No fmttag";
    uint8_t guid[16];
    if (src.ReadAt(fmt.dataOffset + 24, guid, 16) != 16) return "No fmtSize";
    if (std::memcmp(guid + 2, kGuidTail, sizeof kGuidTail) != 0) return "No fmttag";
    format.wFormatTag = static_cast<uint16_t>(guid[0] | guid[1] << 8);
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) return "No fmttag";
    return nullptr;
}

// With `samples` false only the chunk walk is made: out.data stays null and out.size is the
// number of sample bytes present.
std::string ReadWave(ByteSource& src, WaveFileData& out, bool samples) {
    const uint64_t fileEnd = src.Size();
    auto riff = FindChunk(src, 0, fileEnd, FourCC("RIFF"), FourCC("WAVE"));
    if (!riff) return "No Wave";
    // Children follow the form type; a RIFF size beyond the file is cut to the file.
    const uint64_t riffEnd = std::min(riff->dataOffset + riff->size, fileEnd);
    auto fmt = FindChunk(src, riff->dataOffset + 4, riffEnd, FourCC("fmt "));
    if (!fmt) return "No fmt";

    // Only the leading 16 bytes at most are read; the rest keeps what the caller held.
    WAVEFORMATEX format = out.format;
    const size_t fmtBytes = std::min<uint32_t>(16, fmt->size);
    uint8_t raw[sizeof(WAVEFORMATEX)];
    std::memcpy(raw, &format, sizeof raw);
    if (src.ReadAt(fmt->dataOffset, raw, fmtBytes) != fmtBytes) return "No fmtSize";
    std::memcpy(&format, raw, sizeof raw);
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        const char* refusal = TagFromSubFormat(src, *fmt, format);
        if (refusal) return refusal;
    }
    if (!HeldEncoding(format)) return "No fmttag";
    if (const char* refusal = CheckFormat(format)) return refusal;

    auto data = FindChunk(src, ChunkEnd(*fmt), riffEnd, FourCC("data"));
    if (!data) return "No data";

    // A recorder that was cut off may declare more than it wrote: hold what is there.
    const uint64_t present =
        data->dataOffset < fileEnd ? std::min<uint64_t>(data->size, fileEnd - data->dataOffset) : 0;
    uint64_t got = present;
    uint8_t* bytes = nullptr;
    if (samples) {
        bytes = blocks::Allocate(static_cast<size_t>(present));
        if (!bytes) return "No pwavedata";
        got = present ? src.ReadAt(data->dataOffset, bytes, static_cast<size_t>(present)) : 0;
        if (got == 0) blocks::Release(bytes);
    }
    if (got == 0) return "No read";
    out.format = format;
    if (samples) out.data = bytes;
    out.size = static_cast<uint32_t>(got);
    out.encoding = HeldEncoding(format);
    return "";
}

}  // namespace

bool WaveHeaderBytes(const WAVEFORMATEX& format, uint32_t byteCount, std::array<uint8_t, 46>& h) {
    const uint64_t riffSize = 38ull + byteCount + (byteCount & 1u);
    if (riffSize > 0xFFFFFFFFull) return false;
    std::memcpy(h.data(), "RIFF", 4);
    PutLe32(h.data() + 4, static_cast<uint32_t>(riffSize));
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    PutLe32(h.data() + 16, sizeof(WAVEFORMATEX));
    std::memcpy(h.data() + 20, &format, sizeof(WAVEFORMATEX));
    std::memcpy(h.data() + 38, "data", 4);
    PutLe32(h.data() + 42, byteCount);
    return true;
}

namespace {

bool PathTooLong(const std::string& path) { return path.size() > kMaxWavePathLength; }

// Creates a new, not yet existing file in folder and returns it open for writing.
FILE* CreateTempFile(const fs::path& folder, fs::path& tempPath) {
    const auto seed =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (uint64_t attempt = 0; attempt < 16; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, ".sonabi-%012llx.tmp",
                      static_cast<unsigned long long>((seed + attempt * 7919) & 0xFFFFFFFFFFFFull));
        tempPath = folder / name;
        // "x": fails if the name is taken, so nobody else's file is ever overwritten.
        if (FILE* f = std::fopen(tempPath.string().c_str(), "wbx")) return f;
        if (errno != EEXIST) break;
    }
    return nullptr;
}

bool WriteAll(FILE* f, const void* p, size_t n) {
    return std::fwrite(p, 1, n, f) == n && std::fflush(f) == 0;
}

// Flushes the file to the disk before it replaces the old one, then closes it.
bool CommitAndClose(FILE* f) {
    bool ok = std::fflush(f) == 0;
#ifndef _WIN32
    ok = ok && fsync(fileno(f)) == 0;
#endif
    return std::fclose(f) == 0 && ok;
}

// Writes the file layout step by step; each step's failure text is the one the window shows.
std::string WriteSteps(FILE* f, const std::array<uint8_t, 46>& h, const uint8_t* data,
                       uint32_t byteCount) {
    if (!WriteAll(f, h.data(), 12)) return "No Wave";
    if (!WriteAll(f, h.data() + 12, 8)) return "No fmt";
    if (!WriteAll(f, h.data() + 20, 18)) return "No fmtSize";
    // Leaving the fmt chunk needs no write here: it is exactly 18 bytes, already even.
    if (!WriteAll(f, h.data() + 38, 8)) return "No data";
    if (byteCount > 0 && (!data || !WriteAll(f, data, byteCount))) return "No Write";
    const uint8_t pad = 0;
    if ((byteCount & 1u) && !WriteAll(f, &pad, 1)) return "No assend1";
    return "";
}

}  // namespace

std::string ReadWaveBytes(const uint8_t* bytes, size_t n, WaveFileData& out) {
    ByteSource src(bytes, n);
    return ReadWave(src, out, true);
}

std::string ReadWaveFile(const std::string& path, WaveFileData& out, bool samples) {
    std::error_code ec;
    // Only regular files: a directory, a pipe or a device could never be a WAV file and a
    // pipe could block the window.
    if (path.empty() || PathTooLong(path) || !fs::is_regular_file(path, ec)) return "No File";
    ByteSource src(path);
    if (!src.ok()) return "No File";
    return ReadWave(src, out, samples);
}

std::vector<uint8_t> WaveFileBytes(const WAVEFORMATEX& format, const uint8_t* data,
                                   uint32_t byteCount) {
    std::array<uint8_t, 46> h;
    if (!WaveHeaderBytes(format, byteCount, h)) return {};
    std::vector<uint8_t> bytes(h.size() + byteCount + (byteCount & 1u), 0);
    std::copy(h.begin(), h.end(), bytes.begin());
    if (data) std::copy(data, data + byteCount, bytes.begin() + h.size());
    return bytes;
}

std::string WriteWaveFile(const std::string& path, const WAVEFORMATEX& format, const uint8_t* data,
                          uint32_t byteCount) {
    if (path.empty() || PathTooLong(path)) return "No File";
    std::array<uint8_t, 46> header;
    if (!WaveHeaderBytes(format, byteCount, header)) return "No assend2";

    std::error_code ec;
    fs::path target(path);
    // Saving over a link writes the file it points to, as opening it for writing would.
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::canonical(target, ec);
        if (ec) return "No File";
        target = resolved;
    }
    const bool exists = fs::exists(target, ec);
    if (exists && !fs::is_regular_file(target, ec)) return "No File";
#ifndef _WIN32
    // A file the user may not write stays as it is, as it would when opened for writing.
    if (exists && access(target.c_str(), W_OK) != 0) return "No File";
#endif
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";

    fs::path tempPath;
    FILE* f = CreateTempFile(folder, tempPath);
    if (!f) return "No File";
    if (exists) {
        // The replacement keeps the old file's permissions.
        const fs::perms keep = fs::status(target, ec).permissions();
        if (!ec) fs::permissions(tempPath, keep, ec);
    }
    std::string failure = WriteSteps(f, header, data, byteCount);
    if (!failure.empty()) {
        std::fclose(f);
    } else if (!CommitAndClose(f)) {
        failure = "No assend2";
    } else {
        fs::rename(tempPath, target, ec);
        if (ec) failure = "No File";
    }
    if (!failure.empty()) fs::remove(tempPath, ec);
    return failure;
}

std::string SaveFileName(const std::string& name) {
    return name.ends_with(".wav") || name.ends_with(".WAV") ? name : name + ".wav";
}

}  // namespace sonabi
