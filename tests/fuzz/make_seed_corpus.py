#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_wav_reader: small WAV files, well formed and broken, that
reach every branch of the chunk search. Run from anywhere; rewrites corpus/wav_reader/."""
import math
import os
import shutil
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus', 'wav_reader')


def chunk(cid, body, declared=None):
    size = len(body) if declared is None else declared
    return cid + struct.pack('<I', size) + body + (b'\0' if len(body) % 2 else b'')


def fmt(tag=1, ch=1, rate=44100, bits=16, size=16, align=None):
    align = ch * bits // 8 if align is None else align
    body = struct.pack('<HHIIHHH', tag, ch, rate, rate * align, align, bits, 0)
    return body[:size] + bytes(max(0, size - len(body)))


def riff(*chunks, form=b'WAVE', declared=None):
    body = form + b''.join(chunks)
    return b'RIFF' + struct.pack('<I', len(body) if declared is None else declared) + body


def tone(frames, ch, bits):
    out = bytearray()
    for i in range(frames):
        v = math.sin(2 * math.pi * i / 16)
        for _ in range(ch):
            out += bytes([int(128 + 100 * v)]) if bits == 8 else struct.pack('<h', int(9000 * v))
    return bytes(out)


def simple(ch, rate, bits, frames=64, **kw):
    return riff(chunk(b'fmt ', fmt(1, ch, rate, bits, **kw)), chunk(b'data', tone(frames, ch, bits)))


def seeds():
    f16 = chunk(b'fmt ', fmt())
    d = chunk(b'data', tone(32, 1, 16))
    yield 'mono16', simple(1, 44100, 16)
    yield 'stereo16', simple(2, 44100, 16)
    yield 'mono8', simple(1, 8000, 8, frames=33)
    yield 'stereo8', simple(2, 11025, 8)
    yield 'six24', simple(6, 48000, 24, frames=8)
    yield 'fmt14', riff(chunk(b'fmt ', fmt(size=14)), d)
    yield 'fmt17', riff(chunk(b'fmt ', fmt(size=17)), d)
    yield 'fmt18', riff(chunk(b'fmt ', fmt(size=18)), d)
    yield 'fmt40', riff(chunk(b'fmt ', fmt(size=40)), d)
    yield 'fmt0', riff(chunk(b'fmt ', b''), d)
    yield 'junk_before', chunk(b'JUNK', b'xyz') + riff(f16, d)
    yield 'other_riff_first', riff(f16, d, form=b'AVI ') + riff(f16, d)
    yield 'list_between', riff(chunk(b'bext', b'abc'), f16, chunk(b'LIST', b'INFOab'),
                               chunk(b'fact', struct.pack('<I', 32)), d)
    yield 'data_before_fmt', riff(d, f16)
    yield 'data_twice', riff(d, f16, chunk(b'data', b'\1\2\3\4'))
    yield 'data_outside_riff', riff(f16) + d
    yield 'riff_size_ffffffff', riff(f16, d, declared=0xFFFFFFFF)
    yield 'riff_size_zero', riff(f16, d, declared=0)
    yield 'data_oversized', riff(f16, chunk(b'data', tone(16, 1, 16), 0xFFFFFFFF))
    yield 'data_empty', riff(f16, chunk(b'data', b''))
    yield 'data_header_only', riff(f16, b'data' + struct.pack('<I', 100))
    yield 'junk_huge', riff(f16, chunk(b'JUNK', b'', 0xFFFFFFFE), d)
    yield 'float', riff(chunk(b'fmt ', fmt(tag=3, bits=32)), d)
    yield 'extensible', riff(chunk(b'fmt ', fmt(tag=0xFFFE, size=40)), d)
    yield 'no_channels', riff(chunk(b'fmt ', fmt(ch=0)), d)
    yield 'rate_zero', riff(chunk(b'fmt ', fmt(rate=0)), d)
    yield 'bits12', riff(chunk(b'fmt ', fmt(bits=12, align=2)), d)
    yield 'bad_align', riff(chunk(b'fmt ', fmt(align=4)), d)
    yield 'truncated_fmt', riff(f16, d)[:30]
    yield 'truncated_header', riff(f16, d)[:10]
    yield 'rifx', b'RIFX' + riff(f16, d)[4:]
    yield 'nested_wave_only', riff(riff(f16, d), form=b'AVI ')


def main():
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(OUT)
    total = 0
    for name, data in seeds():
        with open(os.path.join(OUT, name + '.wav'), 'wb') as f:
            f.write(data)
        total += len(data)
    print(f'{OUT}: {total} bytes')


if __name__ == '__main__':
    main()
