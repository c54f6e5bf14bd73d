// WAV reading and writing: the byte layout written, the chunk search of the reader, every
// failure text, and that failures leave both the held sound and files on disk untouched; then
// the files other tools write in other encodings and containers, opened and analysed.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/Spectrum.h"
#include "analysis/WindowAnalysis.h"
#include "common/Blocks.h"
#include "common/Samples.h"
#include "wavfile/SndfileDecoder.h"
#include "wavfile/SoundFile.h"
#include "wavfile/WavFile.h"

using namespace sonabi;

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes Id(const char* s) { return Bytes(s, s + 4); }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A chunk with its body and, for an odd body, the pad byte; the declared size may lie.
Bytes Chunk(const char* id, const Bytes& body, std::optional<uint32_t> declared = {}) {
    Bytes out = Cat({Id(id), Le32(declared.value_or(uint32_t(body.size()))), body});
    if (body.size() % 2) out.push_back(0);
    return out;
}

Bytes Riff(const Bytes& children, const char* form = "WAVE",
           std::optional<uint32_t> declared = {}) {
    Bytes body = Cat({Id(form), children});
    return Cat({Id("RIFF"), Le32(declared.value_or(uint32_t(body.size()))), body});
}

// The first `size` bytes of the format record, as a fmt chunk body.
Bytes FmtBody(const WAVEFORMATEX& f, size_t size = 16) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&f);
    Bytes body(p, p + std::min(size, sizeof f));
    body.resize(size, 0xEE);
    return body;
}

// A WAVE_FORMAT_EXTENSIBLE fmt body (40 bytes) for the record f, its SubFormat GUID naming
// subTag; unknownGuid spoils the GUID's fixed part, as a vendor's own SubFormat would.
Bytes ExtensibleBody(const WAVEFORMATEX& f, uint16_t subTag, bool unknownGuid = false) {
    WAVEFORMATEX head = f;
    head.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    head.cbSize = 22;
    Bytes guidTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (unknownGuid) guidTail[13] ^= 0xFF;
    return Cat({FmtBody(head, 18), Le16(f.wBitsPerSample), Le32(f.nChannels == 1 ? 4 : 3),
                Le16(subTag), guidTail});
}

Bytes Samples(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 37 + 11);
    return b;
}

// The simplest well-formed file: fmt then data.
Bytes SimpleWave(const WAVEFORMATEX& f, const Bytes& samples) {
    return Riff(Cat({Chunk("fmt ", FmtBody(f)), Chunk("data", samples)}));
}

bool SameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// What a window holds before a read: a format that differs from every test file, a sentinel
// data pointer and size, so any change by a failed read shows.
WaveFileData Held() {
    WaveFileData d;
    d.format = MakePcmFormat(1, 16, 44100);
    d.format.cbSize = 7;
    static uint8_t sentinel[1];
    d.data = sentinel;
    d.size = 12345;
    return d;
}

struct ReadResult {
    std::string error;
    WaveFileData held;
    Bytes samples;
};

ReadResult ReadImage(const Bytes& image, WaveFileData held = Held()) {
    ReadResult r{"", held, {}};
    r.error = ReadWaveBytes(image.data(), image.size(), r.held);
    if (r.error.empty()) {
        r.samples.assign(r.held.data, r.held.data + r.held.size);
        blocks::Release(r.held.data);
    }
    return r;
}

// A read that must fail: returns its text after checking the held sound was not touched.
std::string Refusal(const Bytes& image) {
    const WaveFileData before = Held();
    ReadResult r = ReadImage(image, before);
    EXPECT_FALSE(r.error.empty());
    EXPECT_TRUE(SameFormat(r.held.format, before.format)) << r.error;
    EXPECT_EQ(r.held.data, before.data) << r.error;
    EXPECT_EQ(r.held.size, before.size) << r.error;
    return r.error;
}

Bytes FileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void PutFile(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
}

class WavFileOnDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "wavfile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
    // Names in the folder other than the ones a test made itself: leftovers of a save.
    size_t EntryCount() const {
        return size_t(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }
    fs::path dir_;
};

}  // namespace

TEST(WaveFileBytes, ThreeSamplesGiveFiftyBytesWithPadAndRiffSize42) {
    WAVEFORMATEX f = MakePcmFormat(1, 8, 44100);
    const Bytes samples = {0x80, 0x90, 0xA0};
    const Bytes expected =
        Cat({Id("RIFF"), Le32(42), Id("WAVE"), Id("fmt "), Le32(18), Le16(1), Le16(1), Le32(44100),
             Le32(44100), Le16(1), Le16(8), Le16(0), Id("data"), Le32(3), samples, Bytes{0}});
    EXPECT_EQ(WaveFileBytes(f, samples.data(), 3), expected);
    EXPECT_EQ(expected.size(), 50u);
}

TEST(WaveFileBytes, HeldCbSizeIsWrittenAndEvenDataHasNoPad) {
    WAVEFORMATEX f = MakePcmFormat(2, 16, 22050);
    f.cbSize = 0x1234;
    const Bytes samples = Samples(8);
    const Bytes bytes = WaveFileBytes(f, samples.data(), 8);
    ASSERT_EQ(bytes.size(), 46u + 8u);
    EXPECT_EQ(Bytes(bytes.begin() + 4, bytes.begin() + 8), Le32(46));
    EXPECT_EQ(Bytes(bytes.begin() + 36, bytes.begin() + 38), Le16(0x1234));
    EXPECT_EQ(Bytes(bytes.begin() + 46, bytes.end()), samples);
}

TEST(WaveFileBytes, RiffSizeBeyond32BitsIsRefused) {
    const uint8_t one = 0;
    // 38 + N + pad must fit in 32 bits; refused before any sample is touched.
    EXPECT_TRUE(WaveFileBytes(MakePcmFormat(1, 8, 8000), &one, 0xFFFFFFFFu).empty());
    EXPECT_TRUE(WaveFileBytes(MakePcmFormat(1, 8, 8000), &one, 0xFFFFFFFFu - 38).empty());
}

TEST_F(WavFileOnDisk, RoundTripsAreByteExactForEachCodingChannelCountAndParity) {
    for (const WAVEFORMATEX& coding :
         {MakePcmFormat(1, 8), MakePcmFormat(1, 16), MakePcmFormat(1, 24), MakePcmFormat(1, 32),
          MakeFloatFormat(1, 32), MakeFloatFormat(1, 64)}) {
        const uint16_t bits = coding.wBitsPerSample;
        for (uint16_t channels : {1, 2}) {
            for (uint32_t n : {2u, 3u, 4096u, 4097u}) {
                SCOPED_TRACE(testing::Message() << "tag " << coding.wFormatTag << ", " << bits
                                                << " bits, " << channels << " ch, " << n);
                WAVEFORMATEX f = MakePcmFormat(channels, bits, bits == 8 ? 11025 : 48000);
                f.wFormatTag = coding.wFormatTag;
                // Whole frames only; an odd count is possible only with one 8-bit channel.
                const uint32_t count = n / f.nBlockAlign * f.nBlockAlign;
                if (count == 0 || (n % 2 && count % 2 == 0)) continue;
                const Bytes samples = Samples(count);
                const fs::path path = dir_ / "round.wav";
                ASSERT_EQ(WriteWaveFile(path.string(), f, samples.data(), count), "");
                const Bytes file = FileBytes(path);
                EXPECT_EQ(file, WaveFileBytes(f, samples.data(), count));
                EXPECT_EQ(file.size(), 46u + count + count % 2);

                WaveFileData held = Held();
                ASSERT_EQ(ReadWaveFile(path.string(), held), "");
                EXPECT_TRUE(SameFormat(held.format, [&] {
                    WAVEFORMATEX expect = f;
                    expect.cbSize = 7;  // never read from a file
                    return expect;
                }()));
                ASSERT_EQ(held.size, count);
                EXPECT_EQ(Bytes(held.data, held.data + held.size), samples);
                // Saving what was loaded gives the same file again (with the held cbSize).
                held.format.cbSize = 0;
                ASSERT_EQ(WriteWaveFile(path.string(), held.format, held.data, held.size), "");
                EXPECT_EQ(FileBytes(path), file);
                blocks::Release(held.data);
                EXPECT_EQ(EntryCount(), 1u);
            }
        }
    }
}

TEST(WaveChunkSearch, SkipsOtherTopLevelChunksAndRiffFormsBeforeTheWave) {
    const WAVEFORMATEX f = MakePcmFormat(2, 8, 8000);
    const Bytes samples = Samples(6);
    // An odd JUNK chunk (padded), a RIFF of another form whose body holds a complete WAVE,
    // then the real one: the nested WAVE must not be taken.
    const Bytes decoy = SimpleWave(MakePcmFormat(1, 8, 1234), Samples(4));
    const Bytes image = Cat({Chunk("JUNK", Samples(5)), Riff(decoy, "AVI "), Chunk("LIST", {}),
                             SimpleWave(f, samples)});
    ReadResult r = ReadImage(image);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.held.format.nSamplesPerSec, 8000u);
    EXPECT_EQ(r.samples, samples);
}

TEST(WaveChunkSearch, WaveOnlyNestedInsideAnotherChunkIsNotFound) {
    const Bytes wave = SimpleWave(MakePcmFormat(1, 8, 8000), Samples(4));
    EXPECT_EQ(Refusal(Riff(wave, "AVI ")), "No Wave");
    EXPECT_EQ(Refusal(Chunk("LIST", wave)), "No Wave");
    Bytes rifx = wave;
    std::memcpy(rifx.data(), "RIFX", 4);
    EXPECT_EQ(Refusal(rifx), "No Wave");
}

TEST(WaveChunkSearch, SkipsOddChunksWithTheirPadBeforeFmtAndBeforeData) {
    const WAVEFORMATEX f = MakePcmFormat(1, 16, 16000);
    const Bytes samples = Samples(10);
    // Without the pad byte the search would land one byte off and find nothing.
    const Bytes image =
        Riff(Cat({Chunk("bext", Samples(3)), Chunk("fmt ", FmtBody(f)), Chunk("LIST", Samples(7)),
                  Chunk("fact", Le32(5)), Chunk("data", samples)}));
    ReadResult r = ReadImage(image);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.held.format.nSamplesPerSec, 16000u);
    EXPECT_EQ(r.samples, samples);
}

TEST(WaveChunkSearch, DataIsSearchedOnlyAfterFmtAndInsideTheRiffChunk) {
    const WAVEFORMATEX f = MakePcmFormat(1, 8, 8000);
    EXPECT_EQ(Refusal(Riff(Cat({Chunk("data", Samples(4)), Chunk("fmt ", FmtBody(f))}))),
              "No data");
    // A data chunk before fmt is passed over in favour of one after it.
    const Bytes second = {1, 2, 3, 4};
    ReadResult r = ReadImage(
        Riff(Cat({Chunk("data", Samples(4)), Chunk("fmt ", FmtBody(f)), Chunk("data", second)})));
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.samples, second);
    // Chunks after the RIFF chunk's declared end are outside it.
    const Bytes fmtOnly = Riff(Chunk("fmt ", FmtBody(f)));
    EXPECT_EQ(Refusal(Cat({fmtOnly, Chunk("data", Samples(4))})), "No data");
    EXPECT_EQ(Refusal(Cat({Riff({}), Chunk("fmt ", FmtBody(f)), Chunk("data", Samples(4))})),
              "No fmt");
}

TEST(WaveChunkSearch, RiffSizeBeyondTheFileIsCutToTheFile) {
    const Bytes samples = Samples(6);
    const Bytes body =
        Cat({Chunk("fmt ", FmtBody(MakePcmFormat(1, 8, 8000))), Chunk("data", samples)});
    ReadResult r = ReadImage(Riff(body, "WAVE", 0xFFFFFFFFu));
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.samples, samples);
}

TEST(WaveFormatChunk, OnlyTheFirst16BytesAreReadAndCbSizeKeepsTheHeldValue) {
    const WAVEFORMATEX f = MakePcmFormat(2, 16, 96000);
    for (size_t fmtSize : {16u, 17u, 18u, 40u}) {
        SCOPED_TRACE(fmtSize);
        Bytes body = FmtBody(f, fmtSize);
        const Bytes samples = Samples(8);
        ReadResult r = ReadImage(Riff(Cat({Chunk("fmt ", body), Chunk("data", samples)})));
        ASSERT_EQ(r.error, "");
        WAVEFORMATEX expect = f;
        expect.cbSize = 7;  // the held value, whatever the file's bytes 16..17 hold
        EXPECT_TRUE(SameFormat(r.held.format, expect));
        EXPECT_EQ(r.samples, samples);
    }
}

TEST(WaveFormatChunk, ShortFmtKeepsTheHeldFieldsBeyondIt) {
    // 14 bytes: everything but wBitsPerSample, which stays 16 from the held format.
    WAVEFORMATEX f = MakePcmFormat(1, 16, 8000);
    ReadResult r = ReadImage(Riff(Cat({Chunk("fmt ", FmtBody(f, 14)), Chunk("data", Samples(4))})));
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.held.format.nSamplesPerSec, 8000u);
    EXPECT_EQ(r.held.format.wBitsPerSample, 16);
    // An empty fmt chunk reads nothing: the whole held format stays and is valid PCM.
    r = ReadImage(Riff(Cat({Chunk("fmt ", {}), Chunk("data", Samples(4))})));
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(SameFormat(r.held.format, Held().format));
    // A kept width that does not fit the file's block align is refused.
    WaveFileData held8 = Held();
    held8.format = MakePcmFormat(1, 8, 44100);
    r = ReadImage(Riff(Cat({Chunk("fmt ", FmtBody(f, 14)), Chunk("data", Samples(4))})), held8);
    EXPECT_EQ(r.error, "No blockalign");
}

TEST(WaveReadFailures, EachFaultGivesItsTextAndLeavesTheHeldSoundAlone) {
    const WAVEFORMATEX f = MakePcmFormat(1, 8, 8000);
    const Bytes good = SimpleWave(f, Samples(4));
    EXPECT_EQ(Refusal({}), "No Wave");
    EXPECT_EQ(Refusal(Bytes(good.begin(), good.begin() + 11)), "No Wave");
    EXPECT_EQ(Refusal(Riff(Chunk("data", Samples(4)))), "No fmt");
    // fmt declares 16 bytes but the file ends after 10 of them.
    const Bytes whole = Riff(Chunk("fmt ", FmtBody(f)));
    EXPECT_EQ(Refusal(Bytes(whole.begin(), whole.end() - 6)), "No fmtSize");
    // On otherwise consistent records: a coding we do not decode (mu-law), a float width no
    // IEEE float has, and WAVE_FORMAT_EXTENSIBLE without room for its SubFormat.
    WAVEFORMATEX mulaw = MakePcmFormat(1, 8, 8000);
    mulaw.wFormatTag = 7;
    WAVEFORMATEX extensible = MakePcmFormat(1, 16, 8000);
    extensible.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    EXPECT_EQ(Refusal(SimpleWave(mulaw, Samples(4))), "No fmttag");
    EXPECT_EQ(Refusal(SimpleWave(MakeFloatFormat(1, 16, 8000), Samples(4))), "No fmttag");
    EXPECT_EQ(Refusal(SimpleWave(extensible, Samples(4))), "No fmttag");
    EXPECT_EQ(Refusal(Riff(Chunk("fmt ", FmtBody(f)))), "No data");
    EXPECT_EQ(Refusal(SimpleWave(f, {})), "No read");
    // A data header at the very end of the file: nothing to read.
    EXPECT_EQ(Refusal(Riff(Cat({Chunk("fmt ", FmtBody(f)), Cat({Id("data"), Le32(100)})}))),
              "No read");
}

TEST_F(WavFileOnDisk, ExtensibleIsHeldAndSavedAsThePlainRecordOfItsSubFormat) {
    const WAVEFORMATEX pcm24 = MakePcmFormat(2, 24, 96000);
    const WAVEFORMATEX float32 = MakeFloatFormat(1, 32, 48000);
    struct Case {
        const char* what;
        Bytes fmt;
        WAVEFORMATEX plain;    // the record held, when it loads
        const char* encoding;  // or the refusal text
    };
    const Bytes pcm24Body = ExtensibleBody(pcm24, WAVE_FORMAT_PCM);
    const Case cases[] = {
        {"PCM 24-bit stereo", pcm24Body, pcm24, "pcm24"},
        {"PCM 16-bit", ExtensibleBody(MakePcmFormat(1, 16), 1), MakePcmFormat(1, 16), "pcm16"},
        {"float 32-bit", ExtensibleBody(float32, 3), float32, "float32"},
        {"float 64-bit", ExtensibleBody(MakeFloatFormat(2, 64), 3), MakeFloatFormat(2, 64),
         "float64"},
        {"unknown GUID", ExtensibleBody(pcm24, 1, true), {}, "No fmttag"},
        {"mu-law SubFormat", ExtensibleBody(MakePcmFormat(1, 8), 7), {}, "No fmttag"},
        {"extensible SubFormat", ExtensibleBody(pcm24, WAVE_FORMAT_EXTENSIBLE), {}, "No fmttag"},
        {"float of 16 bits", ExtensibleBody(MakePcmFormat(1, 16), 3), {}, "No fmttag"},
        {"fmt of 16 bytes", Bytes(pcm24Body.begin(), pcm24Body.begin() + 16), {}, "No fmttag"},
        {"fmt of 24 bytes", Bytes(pcm24Body.begin(), pcm24Body.begin() + 24), {}, "No fmttag"},
    };
    const Bytes samples = Samples(48);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes image = Riff(Cat({Chunk("fmt ", c.fmt), Chunk("data", samples)}));
        if (c.plain.wFormatTag == 0) {
            EXPECT_EQ(Refusal(image), c.encoding);
            continue;
        }
        ReadResult r = ReadImage(image);
        ASSERT_EQ(r.error, "");
        WAVEFORMATEX expect = c.plain;
        expect.cbSize = Held().format.cbSize;  // bytes 16 on are never read into the record
        EXPECT_TRUE(SameFormat(r.held.format, expect));
        EXPECT_STREQ(r.held.encoding, c.encoding);
        EXPECT_EQ(r.samples, samples);
        // Saved, it is a plain 18-byte record with the real tag, and it reloads to the same file.
        r.held.format.cbSize = 0;
        const fs::path path = dir_ / "plain.wav";
        ASSERT_EQ(WriteWaveFile(path.string(), r.held.format, samples.data(), 48), "");
        const Bytes saved = FileBytes(path);
        ASSERT_EQ(saved.size(), 46u + 48u);
        EXPECT_EQ(Bytes(saved.begin() + 16, saved.begin() + 22),
                  Cat({Le32(18), Le16(c.plain.wFormatTag)}));
        EXPECT_EQ(saved, WaveFileBytes(c.plain, samples.data(), 48));
        WaveFileData again;
        again.format = StartUpFormat();  // cbSize 0, as written
        ASSERT_EQ(ReadWaveFile(path.string(), again), "");
        ASSERT_EQ(WriteWaveFile(path.string(), again.format, again.data, again.size), "");
        blocks::Release(again.data);
        EXPECT_EQ(FileBytes(path), saved);
    }
}

TEST(WaveReadFailures, FormatsThatWouldReadPastTheDataAreRefused) {
    auto with = [](auto change) {
        WAVEFORMATEX f = MakePcmFormat(2, 16, 44100);
        change(f);
        return SimpleWave(f, Samples(8));
    };
    EXPECT_EQ(Refusal(with([](WAVEFORMATEX& f) { f.nChannels = 0; })), kNoChannels);
    EXPECT_EQ(Refusal(with([](WAVEFORMATEX& f) { f.nSamplesPerSec = 0; })), kNoRate);
    EXPECT_EQ(Refusal(with([](WAVEFORMATEX& f) { f.wBitsPerSample = 0; })), kNoBits);
    EXPECT_EQ(Refusal(with([](WAVEFORMATEX& f) { f.wBitsPerSample = 12; })), kNoBits);
    EXPECT_EQ(Refusal(with([](WAVEFORMATEX& f) { f.nBlockAlign = 2; })), kNoBlockAlign);
    EXPECT_EQ(Refusal(with([](WAVEFORMATEX& f) { f.nBlockAlign = 0; })), kNoBlockAlign);
    // Any PCM rate, width and channel count that is consistent loads.
    ReadResult r = ReadImage(SimpleWave(MakePcmFormat(6, 24, 7), Samples(36)));
    EXPECT_EQ(r.error, "");
}

TEST(WaveReadFailures, AllocationFailureGivesNoPwavedata) {
    blocks::FailHook = [](size_t) { return true; };
    const std::string text = Refusal(SimpleWave(MakePcmFormat(1, 8, 8000), Samples(4)));
    blocks::FailHook = nullptr;
    EXPECT_EQ(text, "No pwavedata");
}

TEST(WaveOversizedData, HoldsTheBytesPresentAndNeverAllocatesTheDeclaredSize) {
    const Bytes samples = Samples(10);
    for (uint32_t declared : {11u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(declared);
        const Bytes image = Riff(Cat({Chunk("fmt ", FmtBody(MakePcmFormat(1, 8, 8000))),
                                      Chunk("data", samples, declared)}),
                                 "WAVE", 0xFFFFFFFFu);
        size_t largest = 0;
        blocks::FailHook = [&](size_t n) {
            largest = std::max(largest, n);
            return false;
        };
        ReadResult r = ReadImage(image);
        blocks::FailHook = nullptr;
        ASSERT_EQ(r.error, "");
        EXPECT_EQ(r.held.size, 10u);
        EXPECT_EQ(r.samples, samples);
        EXPECT_LE(largest, 10u);
    }
}

TEST(WaveOversizedData, LyingChunkSizesNeverLoopOrReadOutside) {
    const Bytes fmt = Chunk("fmt ", FmtBody(MakePcmFormat(1, 8, 8000)));
    // Chunks whose sizes jump past the end, to the last byte, or wrap in 32 bits.
    for (uint32_t size : {0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000000u, 1u}) {
        SCOPED_TRACE(size);
        Bytes body = Cat({fmt, Id("JUNK"), Le32(size), Chunk("data", Samples(4))});
        // Size 1 lands inside the data header and skips by garbage from there.
        EXPECT_EQ(Refusal(Riff(body)), "No data");
        EXPECT_EQ(
            Refusal(Cat({Id("JUNK"), Le32(size), SimpleWave(MakePcmFormat(1, 8, 8000), {1})})),
            "No Wave");
    }
}

TEST_F(WavFileOnDisk, ReadOfMissingDirectoryOrOverlongPathGivesNoFile) {
    WaveFileData held = Held();
    EXPECT_EQ(ReadWaveFile((dir_ / "absent.wav").string(), held), "No File");
    EXPECT_EQ(ReadWaveFile(dir_.string(), held), "No File");
    EXPECT_EQ(ReadWaveFile("", held), "No File");
    // A path of 256 characters is not cut to 255: it is refused.
    fs::path deep = dir_ / std::string(200, 'a');
    fs::create_directory(deep);
    fs::path longPath = deep / "x.wav";
    longPath += std::string(255 + 1 - longPath.string().size(), 'w');
    ASSERT_EQ(longPath.string().size(), 256u);
    PutFile(longPath, SimpleWave(MakePcmFormat(1, 8, 8000), Samples(4)));
    ASSERT_TRUE(fs::exists(longPath));
    EXPECT_EQ(ReadWaveFile(longPath.string(), held), "No File");
    EXPECT_EQ(WriteWaveFile(longPath.string(), MakePcmFormat(1, 8, 8000), Samples(2).data(), 2),
              "No File");
    EXPECT_EQ(held.data, Held().data);
}

TEST_F(WavFileOnDisk, DataChunkBeyondTwoGibibytesIsFoundWith64BitOffsets) {
    // A sparse file: a 2 GiB JUNK chunk before fmt and data puts both past 2^31.
    const uint32_t junk = 0x80000000u;
    const Bytes tail =
        Cat({Chunk("fmt ", FmtBody(MakePcmFormat(1, 8, 8000))), Chunk("data", {9, 8, 7})});
    const Bytes head = Cat({Id("RIFF"), Le32(4 + 8 + junk + uint32_t(tail.size())), Id("WAVE"),
                            Id("JUNK"), Le32(junk)});
    const fs::path path = dir_ / "big.wav";
    PutFile(path, head);
    std::error_code ec;
    fs::resize_file(path, head.size() + junk, ec);
    if (ec) GTEST_SKIP() << "no sparse files here: " << ec.message();
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out.write(reinterpret_cast<const char*>(tail.data()), tail.size());
    }
    WaveFileData held = Held();
    ASSERT_EQ(ReadWaveFile(path.string(), held), "");
    EXPECT_EQ(Bytes(held.data, held.data + held.size), (Bytes{9, 8, 7}));
    blocks::Release(held.data);
}

TEST(SaveFileName, WavIsAppendedUnlessTheNameEndsInExactlyWavOrWAV) {
    EXPECT_EQ(SaveFileName("/tmp/a"), "/tmp/a.wav");
    EXPECT_EQ(SaveFileName("/tmp/a.wav"), "/tmp/a.wav");
    EXPECT_EQ(SaveFileName("/tmp/a.WAV"), "/tmp/a.WAV");
    EXPECT_EQ(SaveFileName("/tmp/a.Wav"), "/tmp/a.Wav.wav");
    EXPECT_EQ(SaveFileName("/tmp/a.wave"), "/tmp/a.wave.wav");
    EXPECT_EQ(SaveFileName("wav"), "wav.wav");
    EXPECT_EQ(SaveFileName(".wav"), ".wav");
    EXPECT_EQ(SaveFileName(""), ".wav");
}

// A file-size limit makes the save fail at a chosen byte, even for root.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }

  private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST_F(WavFileOnDisk, EachFailedWriteStepGivesItsTextAndKeepsTheOldFile) {
    const fs::path path = dir_ / "keep.wav";
    const Bytes old = Bytes(300, 0x5A);
    const Bytes samples = Samples(201);
    struct Case {
        rlim_t limit;
        const char* text;
    };
    // Header: 12 bytes RIFF, 8 fmt header, 18 format, 8 data header; then samples, then pad.
    for (Case c : {Case{5, "No Wave"}, Case{15, "No fmt"}, Case{30, "No fmtSize"},
                   Case{40, "No data"}, Case{100, "No Write"}, Case{46 + 201, "No assend1"}}) {
        SCOPED_TRACE(c.text);
        PutFile(path, old);
        std::string text;
        {
            FileSizeLimit limit(c.limit);
            text = WriteWaveFile(path.string(), MakePcmFormat(1, 8, 8000), samples.data(), 201);
        }
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(FileBytes(path), old);
        EXPECT_EQ(EntryCount(), 1u) << "temporary file left behind";
    }
}

TEST_F(WavFileOnDisk, UncreatableTargetsGiveNoFileAndLeaveNothingBehind) {
    const Bytes samples = Samples(4);
    EXPECT_EQ(WriteWaveFile((dir_ / "no" / "such.wav").string(), MakePcmFormat(1, 8, 8000),
                            samples.data(), 4),
              "No File");
    EXPECT_EQ(WriteWaveFile("", MakePcmFormat(1, 8, 8000), samples.data(), 4), "No File");
    // A folder where the file should go stays a folder.
    fs::create_directory(dir_ / "taken.wav");
    EXPECT_EQ(
        WriteWaveFile((dir_ / "taken.wav").string(), MakePcmFormat(1, 8, 8000), samples.data(), 4),
        "No File");
    EXPECT_TRUE(fs::is_directory(dir_ / "taken.wav"));
    EXPECT_EQ(EntryCount(), 1u);
    // Too large for a RIFF size: refused before anything is created or any byte is read.
    EXPECT_EQ(WriteWaveFile((dir_ / "huge.wav").string(), MakePcmFormat(1, 8, 8000), samples.data(),
                            0xFFFFFFF0u),
              "No assend2");
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(WavFileOnDisk, ReadOnlyFileOrFolderIsNotReplaced) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
    const fs::path path = dir_ / "locked.wav";
    const Bytes old = Bytes(20, 1);
    PutFile(path, old);
    fs::permissions(path, fs::perms::owner_read);
    EXPECT_EQ(WriteWaveFile(path.string(), MakePcmFormat(1, 8, 8000), old.data(), 4), "No File");
    EXPECT_EQ(FileBytes(path), old);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(WriteWaveFile(path.string(), MakePcmFormat(1, 8, 8000), old.data(), 4), "No File");
    EXPECT_EQ(FileBytes(path), old);
}

TEST_F(WavFileOnDisk, SavingOverALinkWritesTheLinkedFileAndKeepsItsPermissions) {
    const fs::path real = dir_ / "real.wav";
    PutFile(real, Bytes(10, 3));
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(real, dir_ / "link.wav");
    const Bytes samples = Samples(4);
    ASSERT_EQ(
        WriteWaveFile((dir_ / "link.wav").string(), MakePcmFormat(1, 8, 8000), samples.data(), 4),
        "");
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.wav"));
    EXPECT_EQ(FileBytes(real), WaveFileBytes(MakePcmFormat(1, 8, 8000), samples.data(), 4));
    EXPECT_EQ(fs::status(real).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

namespace {

// The copies tests/data/make_format_files.sh writes of its two 16-bit originals, sine.wav (440 Hz,
// mono, 44100 Hz) and tone.wav (A3 with harmonics, stereo, 48000 Hz), and what each opens as.
enum class Match {
    kExact,  // the original's samples on the 16-bit scale: every window analyses the same
    kNear,   // 8-bit or lossy: the pitch found within kNearHz on kNearShare of the windows
};
constexpr int kNearHz = 3;
constexpr double kNearShare = 0.9;

struct FormatCopy {
    const char* suffix;  // appended to "sine" or "tone"
    uint16_t tag;
    uint16_t bits;
    const char* encoding;
    Match match;
    uint32_t rate = 0;  // 0: the original's
};

const FormatCopy kFormatCopies[] = {
    {"_pcm24.wav", WAVE_FORMAT_PCM, 24, "pcm24", Match::kExact},  // extensible
    {"_pcm32.wav", WAVE_FORMAT_PCM, 32, "pcm32", Match::kExact},  // extensible
    {"_float32.wav", WAVE_FORMAT_IEEE_FLOAT, 32, "float32", Match::kExact},
    {"_ext_float32.wav", WAVE_FORMAT_IEEE_FLOAT, 32, "float32", Match::kExact},
    {"_float64.wav", WAVE_FORMAT_IEEE_FLOAT, 64, "float64", Match::kExact},
    {"_pcm8.wav", WAVE_FORMAT_PCM, 8, "pcm8", Match::kNear},
    {".flac", WAVE_FORMAT_PCM, 16, "flac", Match::kExact},
    {"_24.flac", WAVE_FORMAT_PCM, 24, "flac", Match::kExact},
    {".aiff", WAVE_FORMAT_PCM, 16, "aiff", Match::kExact},
    {"_24.aiff", WAVE_FORMAT_PCM, 24, "aiff", Match::kExact},
    {"_float.aifc", WAVE_FORMAT_IEEE_FLOAT, 32, "aiff", Match::kExact},
    {".caf", WAVE_FORMAT_PCM, 16, "caf", Match::kExact},
    {".w64", WAVE_FORMAT_PCM, 16, "w64", Match::kExact},
    {"_rifx.wav", WAVE_FORMAT_PCM, 16, "wav", Match::kExact},  // big-endian: libsndfile reads it
    {".ogg", WAVE_FORMAT_IEEE_FLOAT, 32, "vorbis", Match::kNear},
    {".mp3", WAVE_FORMAT_IEEE_FLOAT, 32, "mp3", Match::kNear},
    // Opus is decoded at 48000 Hz: 44100 Hz is no Opus rate.
    {".opus", WAVE_FORMAT_IEEE_FLOAT, 32, "opus", Match::kNear, 48000},
};

// A loaded file, released at the end of the scope.
struct Loaded {
    explicit Loaded(const fs::path& path) {
        held.format = StartUpFormat();
        error = LoadSoundFile(path.string(), held);
    }
    ~Loaded() {
        if (error.empty()) blocks::Release(held.data);
    }
    uint32_t Frames() const { return held.size / held.format.nBlockAlign; }
    WaveFileData held;
    std::string error;
};

// The window's analysis of the 2048 frames from `frame` on, as a freshly opened file gets it.
std::optional<WindowResult> Analyse(const Loaded& f, uint64_t frame, AnalysisWorkspace& ws) {
    AnalysisSettings s;
    s.fftSize = 2048;
    s.lowCutBin = LowCutBinFor(30, 44100, 2048);
    s.peakThreshold = PeakThresholdFor(CodingOf(f.held.format));
    WindowResult r;
    if (!AnalyzeWindow(f.held.data, f.held.size, f.held.format, frame * f.held.format.nBlockAlign,
                       s, ws, r)) {
        return std::nullopt;
    }
    return r;
}

bool SameResult(const WindowResult& a, const WindowResult& b) {
    return a.detected == b.detected && a.frequency == b.frequency && a.level == b.level &&
           std::equal(std::begin(a.harmonicLevels), std::end(a.harmonicLevels),
                      std::begin(b.harmonicLevels));
}

// Every sample of `copy` equals the original's on the scale the views and the analysis read.
bool SameSamples(const Loaded& copy, const Loaded& original) {
    const SampleCoding c = CodingOf(copy.held.format), o = CodingOf(original.held.format);
    const size_t count = size_t{copy.Frames()} * copy.held.format.nChannels;
    if (copy.Frames() != original.Frames()) return false;
    for (size_t i = 0; i < count; ++i) {
        if (SampleValue(c, copy.held.data + i * c.Bytes()) !=
            SampleValue(o, original.held.data + i * o.Bytes())) {
            return false;
        }
    }
    return true;
}

}  // namespace

TEST_F(WavFileOnDisk, FilesOtherToolsWriteOpenInTheirCodingAndAnalyseLikeTheOriginal) {
    const fs::path files = dir_ / "files", log = dir_ / "log.txt";
    const std::string command = "bash '" SONABI_TEST_DATA_DIR "/make_format_files.sh' '" +
                                files.string() + "' >'" + log.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    const Bytes logBytes = FileBytes(log);
    const std::string output(logBytes.begin(), logBytes.end());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << output;
    ASSERT_EQ(status, 0) << output;

    auto ws = std::make_unique<AnalysisWorkspace>();
    for (const char* family : {"sine", "tone"}) {
        const Loaded original(files / (std::string(family) + ".wav"));
        ASSERT_EQ(original.error, "");
        for (const FormatCopy& c : kFormatCopies) {
            const std::string name = family + std::string(c.suffix);
            SCOPED_TRACE(name);
            const Loaded copy(files / name);
            ASSERT_EQ(copy.error, "");
            const WAVEFORMATEX& f = copy.held.format;
            EXPECT_EQ(f.wFormatTag, c.tag);
            EXPECT_EQ(f.wBitsPerSample, c.bits);
            EXPECT_EQ(f.nChannels, original.held.format.nChannels);
            EXPECT_EQ(f.nSamplesPerSec, c.rate ? c.rate : original.held.format.nSamplesPerSec);
            EXPECT_EQ(f.nBlockAlign, f.nChannels * c.bits / 8);
            EXPECT_STREQ(copy.held.encoding, c.encoding);
            if (c.match == Match::kExact) EXPECT_TRUE(SameSamples(copy, original));
            // The same file as an image in memory (as the fuzzers give it) decodes alike.
            if (std::strncmp(c.encoding, "pcm", 3) != 0 &&
                std::strncmp(c.encoding, "float", 5) != 0) {
                const Bytes image = FileBytes(files / name);
                WaveFileData fromBytes;
                ASSERT_EQ(DecodeSoundBytes(image.data(), image.size(), fromBytes), "");
                EXPECT_TRUE(SameFormat(fromBytes.format, f));
                EXPECT_TRUE(fromBytes.size == copy.held.size &&
                            std::memcmp(fromBytes.data, copy.held.data, fromBytes.size) == 0);
                blocks::Release(fromBytes.data);
            }

            // Windows half a window apart; the original is analysed at the same moment.
            int windows = 0, agreeing = 0, worstHz = 0;
            for (uint64_t frame = 0;; frame += 1024) {
                const uint64_t atOriginal =
                    frame * original.held.format.nSamplesPerSec / f.nSamplesPerSec;
                const std::optional<WindowResult> got = Analyse(copy, frame, *ws);
                const std::optional<WindowResult> want = Analyse(original, atOriginal, *ws);
                if (!got || !want) break;
                ++windows;
                const int hz = std::abs(got->frequency - want->frequency);
                worstHz = std::max(worstHz, hz);
                agreeing += c.match == Match::kExact ? SameResult(*got, *want)
                                                     : got->detected && hz <= kNearHz;
            }
            ASSERT_GE(windows, 40);
            if (c.match == Match::kExact) {
                EXPECT_EQ(agreeing, windows) << "windows that analyse unlike the original";
            } else {
                EXPECT_GE(agreeing, kNearShare * windows);
                std::printf("[ measured ] %s: %d of %d windows within %d Hz, largest %d Hz\n",
                            name.c_str(), agreeing, windows, kNearHz, worstHz);
            }
        }
    }

    // Refusals: a WAV coding we do not decode; text under a sound's name and under another.
    PutFile(files / "notes.txt", Bytes(200, 'x'));
    PutFile(files / "notes.wav", Bytes(200, 'x'));
    PutFile(files / "NOTES.WAV", Bytes(200, 'x'));
    for (auto [file, text] : {std::pair{"sine_mulaw.wav", "No fmttag"},
                              {"notes.txt", kNoAudio},
                              {"notes.wav", "No Wave"},
                              {"NOTES.WAV", "No Wave"}}) {
        SCOPED_TRACE(file);
        WaveFileData held = Held();
        EXPECT_EQ(LoadSoundFile((files / file).string(), held), text);
        EXPECT_EQ(held.data, Held().data);
    }
}
