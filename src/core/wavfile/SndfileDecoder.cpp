#include "wavfile/SndfileDecoder.h"

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "common/Blocks.h"
#include "wavfile/MpegDecoder.h"

namespace sonabi {

namespace {

// Held samples are little-endian bytes, and the direct reads below store the host's values.
static_assert(std::endian::native == std::endian::little, "held samples are little-endian");

constexpr uint64_t kMaxHeldBytes = 0xFFFFFFFFu;
// Where the length is not exact, the first block is at most this many decoded bytes per file
// byte (more than lossless coding gives), however long the header says the sound is: a fuzzed
// or broken header may claim 2^40 frames. Past it, the block doubles as frames actually decode,
// and it is cut to the decoded length at the end.
constexpr uint64_t kPlausibleExpansion = 16;
constexpr sf_count_t kMinBlockFrames = sf_count_t{1} << 16;
// Samples per libsndfile call when samples are converted on the way (a file may have up to 1024
// channels), and frames decoded aside before a full block grows.
constexpr sf_count_t kScratchSamples = 16384;
constexpr sf_count_t kAsideFrames = 4096;

// How samples come out of libsndfile and are stored in the held block.
enum class Store { kU8FromShort, kS16, kS24FromInt, kS32, kF32, kF64 };

struct HeldCoding {
    Store store;
    int bits;
    bool floating;
};

HeldCoding CodingFor(int subtype) {
    switch (subtype) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_DPCM_8:
            return {Store::kU8FromShort, 8, false};
        case SF_FORMAT_PCM_16:
            return {Store::kS16, 16, false};
        // libsndfile left-justifies narrower integers in an int, so the top three bytes of a
        // 20- or 24-bit sample hold it exactly.
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_DWVW_24:
        case SF_FORMAT_ALAC_20:
        case SF_FORMAT_ALAC_24:
            return {Store::kS24FromInt, 24, false};
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_ALAC_32:
            return {Store::kS32, 32, false};
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_VORBIS:
        case SF_FORMAT_OPUS:
        case SF_FORMAT_MPEG_LAYER_I:
        case SF_FORMAT_MPEG_LAYER_II:
        case SF_FORMAT_MPEG_LAYER_III:
            return {Store::kF32, 32, true};
        case SF_FORMAT_DOUBLE:
            return {Store::kF64, 64, true};
        default:  // mu-law, A-law, the ADPCMs, GSM, ALAC 16, ...: 16 bits hold them
            return {Store::kS16, 16, false};
    }
}

// The codec for compressed sounds, else the container (MPEG layers I and II as "mp1", "mp2").
const char* EncodingName(int format) {
    struct Name {
        int id;
        const char* name;
    };
    static constexpr Name kCodecs[] = {
        {SF_FORMAT_VORBIS, "vorbis"},      {SF_FORMAT_OPUS, "opus"},
        {SF_FORMAT_MPEG_LAYER_I, "mp1"},   {SF_FORMAT_MPEG_LAYER_II, "mp2"},
        {SF_FORMAT_MPEG_LAYER_III, "mp3"}, {SF_FORMAT_ALAC_16, "alac"},
        {SF_FORMAT_ALAC_20, "alac"},       {SF_FORMAT_ALAC_24, "alac"},
        {SF_FORMAT_ALAC_32, "alac"}};
    static constexpr Name kContainers[] = {
        {SF_FORMAT_WAV, "wav"},     {SF_FORMAT_WAVEX, "wav"}, {SF_FORMAT_AIFF, "aiff"},
        {SF_FORMAT_AU, "au"},       {SF_FORMAT_RAW, "raw"},   {SF_FORMAT_PAF, "paf"},
        {SF_FORMAT_SVX, "svx"},     {SF_FORMAT_NIST, "nist"}, {SF_FORMAT_VOC, "voc"},
        {SF_FORMAT_IRCAM, "ircam"}, {SF_FORMAT_W64, "w64"},   {SF_FORMAT_MAT4, "mat4"},
        {SF_FORMAT_MAT5, "mat5"},   {SF_FORMAT_PVF, "pvf"},   {SF_FORMAT_XI, "xi"},
        {SF_FORMAT_HTK, "htk"},     {SF_FORMAT_SDS, "sds"},   {SF_FORMAT_AVR, "avr"},
        {SF_FORMAT_SD2, "sd2"},     {SF_FORMAT_FLAC, "flac"}, {SF_FORMAT_CAF, "caf"},
        {SF_FORMAT_WVE, "wve"},     {SF_FORMAT_OGG, "ogg"},   {SF_FORMAT_MPC2K, "mpc2k"},
        {SF_FORMAT_RF64, "rf64"},   {SF_FORMAT_MPEG, "mpeg"}};
    for (const Name& codec : kCodecs) {
        if ((format & SF_FORMAT_SUBMASK) == codec.id) return codec.name;
    }
    for (const Name& container : kContainers) {
        if ((format & SF_FORMAT_TYPEMASK) == container.id) return container.name;
    }
    return "other";
}

// A file image in memory, read through libsndfile's virtual I/O; each open handle has its own
// cursor (sf_count_t is int64_t).
sf_count_t MemoryLength(void* user) { return static_cast<MemoryCursor*>(user)->size; }

sf_count_t MemorySeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<MemoryCursor*>(user);
    const sf_count_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->size : 0;
    if (offset > 0 && base > SF_COUNT_MAX - offset) return -1;
    if (base + offset < 0) return -1;
    m->pos = base + offset;
    return m->pos;
}

sf_count_t MemoryRead(void* dst, sf_count_t count, void* user) {
    return static_cast<MemoryCursor*>(user)->Read(dst, count);
}

sf_count_t MemoryWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t MemoryTell(void* user) { return static_cast<MemoryCursor*>(user)->pos; }

// Where the sound comes from: a path, or a file image in memory.
struct Source {
    const std::string* path = nullptr;
    const uint8_t* bytes = nullptr;
    size_t n = 0;

    uint64_t Bytes() const {
        if (!path) return n;
        std::error_code error;
        const uintmax_t size = std::filesystem::file_size(*path, error);
        return error ? 0 : size;
    }
    // Up to n of the first bytes to head; how many there are.
    size_t Head(uint8_t* head, size_t n) const {
        if (!path) {
            n = std::min(n, this->n);
            if (n) std::memcpy(head, bytes, n);
            return n;
        }
        FILE* f = std::fopen(path->c_str(), "rb");
        if (!f) return 0;
        n = std::fread(head, 1, n, f);
        std::fclose(f);
        return n;
    }
};

// One open libsndfile handle, on a path or on a file image in memory; file is null when
// libsndfile does not open it.
struct Handle {
    MemoryCursor cursor;  // libsndfile keeps a pointer to it
    SNDFILE* file = nullptr;
    Handle(const Source& src, SF_INFO& info) {
        info = SF_INFO{};
        if (src.path) {
            file = sf_open(src.path->c_str(), SFM_READ, &info);
        } else {
            cursor = {src.bytes, src.bytes ? static_cast<sf_count_t>(src.n) : 0, 0};
            SF_VIRTUAL_IO io{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};
            file = sf_open_virtual(&io, SFM_READ, &info, &cursor);
        }
    }
    ~Handle() { sf_close(file); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

sf_count_t ReadFrames(SNDFILE* f, short* p, sf_count_t n) { return sf_readf_short(f, p, n); }
sf_count_t ReadFrames(SNDFILE* f, int* p, sf_count_t n) { return sf_readf_int(f, p, n); }
sf_count_t ReadFrames(SNDFILE* f, float* p, sf_count_t n) { return sf_readf_float(f, p, n); }
sf_count_t ReadFrames(SNDFILE* f, double* p, sf_count_t n) { return sf_readf_double(f, p, n); }

// Reads frames of one handle in the held coding, every channel of them. Its scratch is
// allocated up front, so Read itself never allocates and never throws.
class FrameReader {
  public:
    FrameReader(SNDFILE* file, HeldCoding coding, int channels)
        : file_(file),
          store_(coding.store),
          channels_(channels),
          sampleBytes_(coding.bits / 8),
          frameBytes_(static_cast<size_t>(channels) * sampleBytes_),
          chunkFrames_(std::max<sf_count_t>(1, kScratchSamples / channels)) {
        const bool direct = store_ != Store::kU8FromShort && store_ != Store::kS24FromInt;
        if (!direct) scratch_.resize(static_cast<size_t>(chunkFrames_ * channels) * 8);
    }
    size_t FrameBytes() const { return frameBytes_; }

    // Reads up to `frames` frames to dst; the count read, short only at the end of the sound
    // or where it cannot be decoded further.
    sf_count_t Read(uint8_t* dst, sf_count_t frames) {
        switch (store_) {
            case Store::kU8FromShort:
                return Convert<short>(dst, frames, [](short v, uint8_t* out) {
                    out[0] = static_cast<uint8_t>((v >> 8) + 128);
                });
            case Store::kS24FromInt:
                return Convert<int>(dst, frames, [](int v, uint8_t* out) {
                    const auto u = static_cast<uint32_t>(v);
                    out[0] = static_cast<uint8_t>(u >> 8);
                    out[1] = static_cast<uint8_t>(u >> 16);
                    out[2] = static_cast<uint8_t>(u >> 24);
                });
            // The block comes from calloc and frames are whole samples, so dst is aligned.
            case Store::kS16:
                return Direct(reinterpret_cast<short*>(dst), frames);
            case Store::kS32:
                return Direct(reinterpret_cast<int*>(dst), frames);
            case Store::kF32:
                return Direct(reinterpret_cast<float*>(dst), frames);
            case Store::kF64:
                return Direct(reinterpret_cast<double*>(dst), frames);
        }
        return 0;
    }

  private:
    template <typename T>
    sf_count_t Direct(T* dst, sf_count_t frames) {
        return std::max<sf_count_t>(0, ReadFrames(file_, dst, frames));
    }

    template <typename T, typename Put>
    sf_count_t Convert(uint8_t* dst, sf_count_t frames, Put put) {
        T* chunk = reinterpret_cast<T*>(scratch_.data());
        sf_count_t done = 0;
        while (done < frames) {
            const sf_count_t got = ReadFrames(file_, chunk, std::min(frames - done, chunkFrames_));
            if (got <= 0) break;
            uint8_t* out = dst + static_cast<size_t>(done) * frameBytes_;
            for (sf_count_t i = 0; i < got * channels_; ++i, out += sampleBytes_)
                put(chunk[i], out);
            done += got;
        }
        return done;
    }

    SNDFILE* file_;
    Store store_;
    int channels_;
    size_t sampleBytes_;
    size_t frameBytes_;
    sf_count_t chunkFrames_;
    std::vector<unsigned char> scratch_;  // one chunk of whole frames, 8 bytes per sample
};

// The held samples while they are decoded; released unless taken.
struct Block {
    uint8_t* bytes = nullptr;
    sf_count_t capacity = 0;  // frames
    ~Block() { blocks::Release(bytes); }
};

// Reads on from `count` frames to the end of the sound. A full block may well hold the whole
// sound, so a chunk is decoded aside before the block doubles and is copied.
template <typename Reader>
std::string ReadToEnd(Reader& reader, Block& block, sf_count_t& count) {
    const size_t frameBytes = reader.FrameBytes();
    const sf_count_t maxFrames = static_cast<sf_count_t>(kMaxHeldBytes / frameBytes);
    std::vector<uint8_t> aside;
    for (;;) {
        if (count == block.capacity) {
            aside.resize(static_cast<size_t>(kAsideFrames) * frameBytes);
            const sf_count_t got = reader.Read(aside.data(), kAsideFrames);
            if (got <= 0) return "";
            if (got > maxFrames - count) return "No pwavedata";
            // Doubling keeps the copies linear in the length; the 2^32 limit caps it.
            const sf_count_t grown =
                std::min(maxFrames, std::max(block.capacity * 2, kMinBlockFrames));
            uint8_t* bigger = blocks::Allocate(static_cast<size_t>(grown) * frameBytes);
            if (!bigger) return "No pwavedata";
            std::memcpy(bigger, block.bytes, static_cast<size_t>(count) * frameBytes);
            std::memcpy(bigger + static_cast<size_t>(count) * frameBytes, aside.data(),
                        static_cast<size_t>(got) * frameBytes);
            blocks::Release(block.bytes);
            block.bytes = bigger;
            block.capacity = grown;
            count += got;
        }
        const sf_count_t got = reader.Read(block.bytes + static_cast<size_t>(count) * frameBytes,
                                           block.capacity - count);
        if (got <= 0) return "";
        count += got;
    }
}

// Uncompressed samples, whose length libsndfile takes from the bytes the file holds: the frames
// it announces are the frames it delivers.
bool LengthIsExact(int format) {
    const int type = format & SF_FORMAT_TYPEMASK;
    if (type == SF_FORMAT_FLAC || type == SF_FORMAT_OGG || type == SF_FORMAT_MPEG) return false;
    static constexpr int kExact[] = {SF_FORMAT_PCM_S8, SF_FORMAT_PCM_U8, SF_FORMAT_PCM_16,
                                     SF_FORMAT_PCM_24, SF_FORMAT_PCM_32, SF_FORMAT_FLOAT,
                                     SF_FORMAT_DOUBLE, SF_FORMAT_ULAW,   SF_FORMAT_ALAW};
    return std::ranges::find(kExact, format & SF_FORMAT_SUBMASK) != std::end(kExact);
}

// The format alone (the size as known without decoding: exactFrames, 0 when only decoding
// tells it).
std::string TakeFormat(const WAVEFORMATEX& format, sf_count_t exactFrames, const char* encoding,
                       WaveFileData& out) {
    out.format = format;
    out.size = static_cast<uint32_t>(exactFrames * format.nBlockAlign);
    out.encoding = encoding;
    return "";
}

// The frames of the first block: all of an exact length; otherwise no more than the file could
// plausibly decode to, however long the header says the sound is (claimed 0: not told).
sf_count_t FirstBlockFrames(sf_count_t claimed, bool exact, const Source& src, size_t frameBytes) {
    const sf_count_t maxFrames = static_cast<sf_count_t>(kMaxHeldBytes / frameBytes);
    if (exact) return std::min(claimed, maxFrames);
    const uint64_t plausible = src.Bytes() * kPlausibleExpansion / frameBytes;
    sf_count_t frames = std::max<sf_count_t>(
        kMinBlockFrames, static_cast<sf_count_t>(std::min<uint64_t>(plausible, maxFrames)));
    if (claimed > 0) frames = std::min(frames, claimed);
    return std::min(frames, maxFrames);
}

// Decodes the reader to its end: the samples held in a block that grows with what decodes and
// ends at the decoded length (kSamples), or only counted (kLength).
template <typename Reader>
std::string DecodeAll(Reader& reader, const WAVEFORMATEX& format, const char* encoding,
                      sf_count_t firstFrames, SoundPart part, WaveFileData& out) {
    const size_t frameBytes = format.nBlockAlign;
    sf_count_t count = 0;
    Block block;
    if (part == SoundPart::kLength) {
        const sf_count_t maxFrames = static_cast<sf_count_t>(kMaxHeldBytes / frameBytes);
        std::vector<uint8_t> scratch(static_cast<size_t>(kAsideFrames) * frameBytes);
        for (sf_count_t got; (got = reader.Read(scratch.data(), kAsideFrames)) > 0;) {
            count += got;
            if (count > maxFrames) return "No pwavedata";
        }
    } else {
        block.capacity = firstFrames;
        block.bytes = blocks::Allocate(static_cast<size_t>(block.capacity) * frameBytes);
        if (!block.bytes) return "No pwavedata";
        const std::string refusal = ReadToEnd(reader, block, count);
        if (!refusal.empty()) return refusal;
    }
    if (count == 0) return "No read";
    if (block.bytes && count < block.capacity) {
        block.bytes = blocks::Shrink(block.bytes, static_cast<size_t>(count) * frameBytes);
    }
    out.data = std::exchange(block.bytes, nullptr);
    return TakeFormat(format, count, encoding, out);
}

std::string DecodeMpeg(MpegStream& mpeg, const Source& src, WaveFileData& out, SoundPart part) {
    const WAVEFORMATEX format = MakeFloatFormat(mpeg.Channels(), 32, static_cast<int>(mpeg.Rate()));
    if (part == SoundPart::kFormat) return TakeFormat(format, 0, mpeg.Encoding(), out);
    return DecodeAll(mpeg, format, mpeg.Encoding(),
                     FirstBlockFrames(0, false, src, mpeg.FrameBytes()), part, out);
}

std::string Decode(const Source& src, WaveFileData& out, SoundPart part) {
    // MPEG audio goes to libmpg123 before libsndfile opens it: libsndfile's own libmpg123
    // handle writes warnings to standard error as soon as it opens the file.
    uint8_t head[4];
    if (LooksLikeMpeg(head, src.Head(head, sizeof head))) {
        if (auto mpeg = MpegStream::Open(src.path, src.bytes, src.n))
            return DecodeMpeg(*mpeg, src, out, part);
    }
    SF_INFO info;
    auto handle = std::make_unique<Handle>(src, info);
    if (!handle->file || info.channels < 1) return kNoAudio;
    if (info.samplerate <= 0) return kNoRate;
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG) {
        handle.reset();
        auto mpeg = MpegStream::Open(src.path, src.bytes, src.n);
        if (!mpeg) return kNoAudio;
        return DecodeMpeg(*mpeg, src, out, part);
    }

    // Every channel is held, as our WAV reader holds them, so that a copy in another container
    // analyses as the WAV file does.
    const HeldCoding coding = CodingFor(info.format & SF_FORMAT_SUBMASK);
    const WAVEFORMATEX format = coding.floating
                                    ? MakeFloatFormat(info.channels, coding.bits, info.samplerate)
                                    : MakePcmFormat(info.channels, coding.bits, info.samplerate);
    const sf_count_t maxFrames = static_cast<sf_count_t>(kMaxHeldBytes / format.nBlockAlign);
    const char* encoding = EncodingName(info.format);
    // libsndfile says SF_COUNT_MAX when it cannot tell the length, and what compressed streams
    // announce may be wrong: their length is what decodes.
    const bool lengthKnown = info.frames > 0 && info.frames < SF_COUNT_MAX;
    const bool exact = lengthKnown && LengthIsExact(info.format);
    if (exact && info.frames > maxFrames) return "No pwavedata";  // no need to decode 4 GiB
    if (exact && part != SoundPart::kSamples) return TakeFormat(format, info.frames, encoding, out);
    if (part == SoundPart::kFormat) return TakeFormat(format, 0, encoding, out);
    FrameReader reader(handle->file, coding, info.channels);
    const sf_count_t first =
        FirstBlockFrames(lengthKnown ? info.frames : 0, exact, src, format.nBlockAlign);
    return DecodeAll(reader, format, encoding, first, part, out);
}

std::string DecodeGuarded(const Source& src, WaveFileData& out, SoundPart part) {
    try {
        return Decode(src, out, part);
    } catch (const std::bad_alloc&) {
        return "No pwavedata";
    }
}

}  // namespace

std::string DecodeSoundFile(const std::string& path, WaveFileData& out, SoundPart part) {
    return DecodeGuarded({&path}, out, part);
}

std::string DecodeSoundBytes(const uint8_t* bytes, size_t n, WaveFileData& out) {
    return DecodeGuarded({nullptr, bytes, n}, out, SoundPart::kSamples);
}

}  // namespace sonabi
