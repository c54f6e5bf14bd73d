// MPEG audio (layers I to III) decoded by libmpg123 itself rather than through libsndfile: its
// handle is quiet (libmpg123 otherwise writes its warnings to standard error, where the analyser's
// CSV mode puts its error objects), and it decodes to the stream's true end, past the length a
// first Xing frame or a bitrate estimate announces. No Qt here.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace sonabi {

// A file image in memory as a decoder's reader sees it: bytes 0 .. size - 1, read from pos on.
struct MemoryCursor {
    const uint8_t* bytes = nullptr;
    int64_t size = 0, pos = 0;
    // Copies up to count bytes from pos on and moves past them; how many (0 at the end).
    int64_t Read(void* dst, int64_t count) {
        const int64_t n = std::min(count, size - pos);
        if (n <= 0) return 0;
        std::memcpy(dst, bytes + pos, static_cast<size_t>(n));
        pos += n;
        return n;
    }
};

// Whether a file that starts with these bytes is taken for MPEG audio: an ID3v2 tag, or an MPEG
// audio frame header.
bool LooksLikeMpeg(const uint8_t* head, size_t n);

// One open stream, read frame after frame as 32-bit float samples.
class MpegStream {
  public:
    // The file at path, or with path null the n bytes at bytes (kept by the caller). Null when
    // libmpg123 finds no frame it can decode.
    static std::unique_ptr<MpegStream> Open(const std::string* path, const uint8_t* bytes,
                                            size_t n);
    ~MpegStream();
    MpegStream(const MpegStream&) = delete;
    MpegStream& operator=(const MpegStream&) = delete;

    int Channels() const { return channels_; }
    long Rate() const { return rate_; }
    const char* Encoding() const { return encoding_; }
    size_t FrameBytes() const { return size_t(channels_) * 4; }

    // Reads up to `frames` frames to dst; fewer only at the end of the stream, where it cannot
    // be decoded further, or where its rate or channels change (what follows is not held).
    int64_t Read(uint8_t* dst, int64_t frames);

  private:
    MpegStream() = default;
    void* handle_ = nullptr;  // mpg123_handle
    MemoryCursor cursor_;     // the handle reads through it for a file image in memory
    int channels_ = 0;
    long rate_ = 0;
    const char* encoding_ = "mp3";
    bool ended_ = false;
};

}  // namespace sonabi
