// WAV reading and writing: the byte layout written, the chunk search of the reader, every
// failure text, and that failures leave both the held sound and files on disk untouched.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "common/Blocks.h"
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

TEST_F(WavFileOnDisk, RoundTripsAreByteExactForEachWidthChannelCountAndParity) {
    for (uint16_t bits : {8, 16}) {
        for (uint16_t channels : {1, 2}) {
            for (uint32_t n : {2u, 3u, 4096u, 4097u}) {
                SCOPED_TRACE(testing::Message() << bits << " bits, " << channels << " ch, " << n);
                WAVEFORMATEX f = MakePcmFormat(channels, bits, bits == 8 ? 11025 : 48000);
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
    // IEEE float and WAVE_FORMAT_EXTENSIBLE tags on otherwise consistent records.
    WAVEFORMATEX float32 = MakePcmFormat(1, 32, 8000);
    float32.wFormatTag = 3;
    WAVEFORMATEX extensible = MakePcmFormat(1, 16, 8000);
    extensible.wFormatTag = 0xFFFE;
    EXPECT_EQ(Refusal(SimpleWave(float32, Samples(4))), "No fmttag");
    EXPECT_EQ(Refusal(SimpleWave(extensible, Samples(4))), "No fmttag");
    EXPECT_EQ(Refusal(Riff(Chunk("fmt ", FmtBody(f)))), "No data");
    EXPECT_EQ(Refusal(SimpleWave(f, {})), "No read");
    // A data header at the very end of the file: nothing to read.
    EXPECT_EQ(Refusal(Riff(Cat({Chunk("fmt ", FmtBody(f)), Cat({Id("data"), Le32(100)})}))),
              "No read");
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
