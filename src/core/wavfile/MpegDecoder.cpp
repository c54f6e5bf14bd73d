#include "wavfile/MpegDecoder.h"

#include <mpg123.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sonabi {

namespace {

mpg123_handle* H(void* h) { return static_cast<mpg123_handle*>(h); }

// libmpg123 wants mpg123_init once before any handle; from C++11 on, a static's initialiser
// runs exactly once whatever the threads.
bool Initialised() {
    static const bool ok = mpg123_init() == MPG123_OK;
    return ok;
}

ssize_t CursorRead(void* user, void* dst, size_t count) {
    return static_cast<ssize_t>(
        static_cast<MemoryCursor*>(user)->Read(dst, static_cast<int64_t>(count)));
}

off_t CursorSeek(void* user, off_t offset, int whence) {
    auto* c = static_cast<MemoryCursor*>(user);
    const int64_t base = whence == SEEK_CUR ? c->pos : whence == SEEK_END ? c->size : 0;
    if (offset < -base || offset > c->size - base) return -1;
    c->pos = base + offset;
    return static_cast<off_t>(c->pos);
}

}  // namespace

bool LooksLikeMpeg(const uint8_t* head, size_t n) {
    if (n >= 3 && std::memcmp(head, "ID3", 3) == 0) return true;
    if (n < 4 || head[0] != 0xFF || (head[1] & 0xE0) != 0xE0) return false;
    const int version = (head[1] >> 3) & 3, layer = (head[1] >> 1) & 3;
    const int bitrate = head[2] >> 4, rate = (head[2] >> 2) & 3, emphasis = head[3] & 3;
    // The reserved values; a free bitrate (0) is so rare that a file claiming one is more likely
    // something else.
    return version != 1 && layer != 0 && bitrate != 0 && bitrate != 15 && rate != 3 &&
           emphasis != 2;
}

std::unique_ptr<MpegStream> MpegStream::Open(const std::string* path, const uint8_t* bytes,
                                             size_t n) {
    if (!Initialised()) return nullptr;
    std::unique_ptr<MpegStream> s(new MpegStream);
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    if (!h) return nullptr;
    s->handle_ = h;
    // Every rate the stream has, as 32-bit floats like the other lossy sources; never resampled.
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_FORCE_FLOAT, 0);
    mpg123_format_none(h);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i) {
        mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    }
    if (path) {
        if (mpg123_open(h, path->c_str()) != MPG123_OK) return nullptr;
    } else {
        s->cursor_ = {bytes, static_cast<int64_t>(n), 0};
        if (mpg123_replace_reader_handle(h, CursorRead, CursorSeek, nullptr) != MPG123_OK ||
            mpg123_open_handle(h, &s->cursor_) != MPG123_OK) {
            return nullptr;
        }
    }
    int encoding = 0;
    if (mpg123_getformat(h, &s->rate_, &s->channels_, &encoding) != MPG123_OK ||
        encoding != MPG123_ENC_FLOAT_32 || s->rate_ <= 0 || s->channels_ < 1) {
        return nullptr;
    }
    mpg123_frameinfo info;
    if (mpg123_info(h, &info) == MPG123_OK) {
        s->encoding_ = info.layer == 1 ? "mp1" : info.layer == 2 ? "mp2" : "mp3";
    }
    return s;
}

MpegStream::~MpegStream() {
    if (!handle_) return;
    mpg123_close(H(handle_));
    mpg123_delete(H(handle_));
}

int64_t MpegStream::Read(uint8_t* dst, int64_t frames) {
    const size_t frameBytes = FrameBytes();
    int64_t done = 0;
    while (!ended_ && done < frames) {
        size_t got = 0;
        const int status = mpg123_read(H(handle_), dst + static_cast<size_t>(done) * frameBytes,
                                       static_cast<size_t>(frames - done) * frameBytes, &got);
        done += static_cast<int64_t>(got / frameBytes);
        if (status == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(H(handle_), &rate, &channels, &encoding);
            ended_ = rate != rate_ || channels != channels_ || encoding != MPG123_ENC_FLOAT_32;
        } else if (status != MPG123_OK) {
            ended_ = true;  // MPG123_DONE at the end; an error where nothing decodes further
        } else if (got == 0) {
            ended_ = true;
        }
    }
    return done;
}

}  // namespace sonabi
