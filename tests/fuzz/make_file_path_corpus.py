#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_file_path: 24-byte headers (flags, format fields, data length,
eight actions) followed by a sample pattern, covering every width and channel count the window
shows, sounds shorter than one window, refused formats and raw file images. The layout is
described at the top of fuzz_file_path.cpp. Rewrites corpus/file_path/."""
import math
import os
import shutil
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus', 'file_path')

# Action bytes: op in the top three bits, argument in the low five.
DRAG_MID, DRAG_END = 0x10, 0x1F
STEP_UP, PAGE_UP, TO_MAX, TO_MIN = 0x21, 0x41, 0x61, 0x60
LONGER, SHORTER = 0x80, 0x81
WIDER, NARROWER = 0xA0, 0xA1
WAVE_GAIN, FFT_GAIN = 0xC3, 0xC8
CLICK_WAVE, SHIFT_LEFT, SHIFT_RIGHT = 0xE3, 0xE4, 0xE5
TOUR = bytes([DRAG_MID, STEP_UP, SHORTER, NARROWER, PAGE_UP, SHIFT_RIGHT, LONGER, DRAG_END])
CLICKS = bytes([CLICK_WAVE, SHIFT_LEFT, SHIFT_RIGHT, WAVE_GAIN, FFT_GAIN, TO_MAX, WIDER, TO_MIN])


def header(ch, rate, bits, length, actions=TOUR, flags=0, align=0, tag=1, declared=0):
    return (bytes([flags, ch, rate & 0xFF, (rate >> 8) & 0xFF, rate >> 16, bits]) +
            struct.pack('<HHHI', align, length, tag, declared) + actions)


def sine(bits, ch, periods=8, frames=64):
    """One pattern of `frames` frames of a sine, repeated by the fuzzer to the data length."""
    out = bytearray()
    for i in range(frames):
        v = math.sin(2 * math.pi * periods * i / frames)
        for _ in range(ch):
            if bits == 8:
                out.append(int(128 + 100 * v) & 0xFF)
            else:
                out += int(v * 0.6 * (1 << (bits - 1))).to_bytes(bits // 8, 'little', signed=True)
    return bytes(out)


def riff_image(fmt_body, data, declared=None):
    size = len(data) if declared is None else declared
    body = (b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt_body)) + fmt_body +
            b'data' + struct.pack('<I', size) + data)
    return b'RIFF' + struct.pack('<I', len(body)) + body


def seeds():
    yield 'mono16_44k', header(1, 44100, 16, 20000) + sine(16, 1)
    yield 'stereo16_44k', header(2, 44100, 16, 24000, CLICKS) + sine(16, 2)
    yield 'mono8_8k', header(1, 8000, 8, 6000) + sine(8, 1, periods=3)
    yield 'stereo8_22k', header(2, 22050, 8, 9000, CLICKS) + sine(8, 2)
    yield 'mono24_48k', header(1, 48000, 24, 12000) + sine(24, 1)
    yield 'six32_96k', header(6, 96000, 32, 30000) + sine(32, 6)
    yield 'eight64_200k', header(8, 200000, 64, 65535) + sine(64, 8, frames=16)
    yield 'mono16_1hz', header(1, 1, 16, 8000) + sine(16, 1)
    yield 'mono16_200k', header(1, 200000, 16, 8192) + sine(16, 1, periods=1)
    yield 'short_mono16', header(1, 44100, 16, 300) + sine(16, 1)
    yield 'one_frame', header(1, 44100, 16, 2, CLICKS) + b'\x10\x20'
    yield 'odd_length8', header(1, 11025, 8, 513) + sine(8, 1)
    yield 'between_windows', header(1, 44100, 16, 2 * 1024 + 6, TOUR) + sine(16, 1)
    # Found by the fuzzer: an odd length, its end, then the longer window.
    yield 'odd_length_longer_window', header(
        2, 22050, 8, 8995, bytes([SHORTER, TO_MAX, FFT_GAIN, SHIFT_LEFT, TO_MAX, LONGER,
                                  NARROWER, LONGER])) + sine(8, 2)
    yield 'loud16', header(1, 44100, 16, 8192) + struct.pack('<h', 32767) * 8
    yield 'silent16', header(1, 44100, 16, 8192)
    yield 'no_channels', header(0, 44100, 16, 1000) + sine(16, 1)
    yield 'rate_zero', header(1, 0, 16, 1000) + sine(16, 1)
    yield 'bits12', header(1, 44100, 12, 1000, flags=2, align=2) + sine(16, 1)
    yield 'bad_align', header(2, 44100, 16, 1000, flags=2, align=2) + sine(16, 1)
    yield 'float_tag', header(1, 44100, 32, 1000, flags=4, tag=3) + sine(32, 1)
    yield 'empty_data', header(1, 44100, 16, 0)
    yield 'declared_huge', header(1, 44100, 16, 9000, flags=8, declared=0xFFFFFFFF) + sine(16, 1)
    yield 'declared_short', header(1, 44100, 16, 9000, flags=8, declared=5) + sine(16, 1)
    fmt16 = struct.pack('<HHIIHH', 1, 1, 44100, 88200, 2, 16)
    yield 'raw_mono16', header(0, 0, 0, 0, flags=1) + riff_image(fmt16, sine(16, 1) * 80)
    yield 'raw_cut_off', header(0, 0, 0, 0, flags=1) + riff_image(fmt16, sine(16, 1) * 3,
                                                                   0xFFFFFFFF)


def main():
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(OUT)
    total = 0
    for name, data in seeds():
        with open(os.path.join(OUT, name), 'wb') as f:
            f.write(data)
        total += len(data)
    print(f'{OUT}: {total} bytes')


if __name__ == '__main__':
    main()
