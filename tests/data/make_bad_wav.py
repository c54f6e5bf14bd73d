#!/usr/bin/env python3
"""Writes tests/data/bad_wav/: small malformed WAV files and the manifest EXPECTED, one line per
file, giving what opening it in the window must do:

    <name>.wav  refused  <text of the ERROR box>
    <name>.wav  loaded   <data bytes> <channels> <rate> <bits> <tag> [<samples in hex>]

<tag> is the format tag held (1 PCM, 3 IEEE float: WAVE_FORMAT_EXTENSIBLE is held as the tag its
SubFormat names); the sample bytes held are the ramp samples() writes unless given in hex.

The expectation is worked out here from the reading rules (chunks searched in order, each
skipped by its padded size; fmt read for at most its first 16 bytes, the rest kept from the
sound held before; data searched after fmt, inside the RIFF chunk cut to the file; a data chunk
holds the bytes actually present). The window test opens each file while it holds a 16-bit mono
sound at 44100 Hz, which a short fmt chunk falls back on. Rewrites the folder."""
import os
import shutil
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'bad_wav')


def le16(v):
    return struct.pack('<H', v)


def le32(v):
    return struct.pack('<I', v)


def chunk(cid, body, declared=None, pad=True):
    size = len(body) if declared is None else declared
    return cid + le32(size) + body + (b'\0' if pad and len(body) % 2 else b'')


def fmt_body(tag=1, ch=1, rate=44100, bits=16, align=None, avg=None):
    align = ch * bits // 8 if align is None else align
    avg = rate * align if avg is None else avg
    return struct.pack('<HHIIHH', tag, ch, rate & 0xFFFFFFFF, avg & 0xFFFFFFFF, align & 0xFFFF,
                       bits)


def riff(*chunks, form=b'WAVE', declared=None):
    body = form + b''.join(chunks)
    return b'RIFF' + le32(len(body) if declared is None else declared) + body


def samples(n):
    """n bytes of a recognisable ramp, so that a load of the wrong bytes shows."""
    return bytes((7 * i + 3) & 0xFF for i in range(n))


# The fixed part of a SubFormat GUID (xxxxxxxx-0000-0010-8000-00aa00389b71) after its tag.
GUID_TAIL = bytes.fromhex('000000001000800000aa00389b71')
FMT = chunk(b'fmt ', fmt_body())
DATA = chunk(b'data', samples(64))
GOOD = riff(FMT, DATA)  # 44-byte header + 64 bytes


def ext_fmt_body(sub_tag, ch=1, rate=44100, bits=16, guid_tail=GUID_TAIL):
    """A 40-byte WAVE_FORMAT_EXTENSIBLE record: cbSize 22, valid bits, channel mask, SubFormat."""
    return (fmt_body(0xFFFE, ch, rate, bits) + struct.pack('<HHI', 22, bits, 4 if ch == 1 else 3) +
            le16(sub_tag) + guid_tail)


def refused(text):
    return ('refused', text)


def loaded(size, ch=1, rate=44100, bits=16, tag=1, data=None):
    return ('loaded', f'{size} {ch} {rate} {bits} {tag}' + (f' {data.hex()}' if data else ''))


def truncated_expectation(n):
    """What the good file cut to n bytes gives."""
    if n < 12:
        return refused('No Wave')  # no complete RIFF header with its form type
    if n < 20:
        return refused('No fmt')
    if n < 36:
        return refused('No fmtSize')  # the fmt header is there, its 16 bytes are not
    if n < 44:
        return refused('No data')
    if n == 44:
        return refused('No read')  # the data chunk holds none of its bytes
    return loaded(n - 44)


def cases():
    # Truncated at every byte of the header and at a few places inside the samples.
    for n in list(range(0, 45)) + [45, 46, 47, 75, 107]:
        yield f'truncated_{n:03d}', GOOD[:n], truncated_expectation(n)

    # Chunk sizes that lie, in both directions.
    yield 'fmt_size_100_swallows_data', riff(chunk(b'fmt ', fmt_body(), 100), DATA), \
        refused('No data')
    yield 'fmt_size_8_lands_inside_fmt', riff(chunk(b'fmt ', fmt_body(), 8), DATA), \
        refused('No data')
    yield 'fmt_size_ffffffff', riff(chunk(b'fmt ', fmt_body(), 0xFFFFFFFF), DATA), \
        refused('No data')
    yield 'data_size_short', riff(FMT, chunk(b'data', samples(64), 10)), loaded(10)
    yield 'data_size_long', riff(FMT, chunk(b'data', samples(64), 1000)), loaded(64)
    yield 'data_size_ffffffff', riff(FMT, chunk(b'data', samples(64), 0xFFFFFFFF)), loaded(64)
    yield 'data_size_zero', riff(FMT, chunk(b'data', b'', 0), samples(64)), refused('No read')
    yield 'riff_size_short', riff(FMT, DATA, declared=20), refused('No data')
    yield 'riff_size_zero', riff(FMT, DATA, declared=0), refused('No fmt')
    yield 'riff_size_long', riff(FMT, DATA, declared=100000), loaded(64)
    yield 'riff_size_ffffffff', riff(FMT, DATA, declared=0xFFFFFFFF), loaded(64)
    yield 'junk_size_huge_before_fmt', riff(chunk(b'JUNK', b'abcd', 0xFFFFFFF0), FMT, DATA), \
        refused('No fmt')
    yield 'junk_size_huge_before_data', riff(FMT, chunk(b'JUNK', b'ab', 0x7FFFFFFF), DATA), \
        refused('No data')

    # Odd sizes with and without their pad byte.
    yield 'odd_junk_padded', riff(chunk(b'JUNK', b'abc'), FMT, DATA), loaded(64)
    yield 'odd_junk_unpadded', riff(chunk(b'JUNK', b'abc', pad=False), FMT, DATA), \
        refused('No fmt')
    yield 'odd_fmt_17_padded', riff(chunk(b'fmt ', fmt_body() + b'\0'), DATA), loaded(64)
    yield 'odd_data_8bit_padded', riff(chunk(b'fmt ', fmt_body(bits=8)),
                                       chunk(b'data', samples(33))), loaded(33, bits=8)
    yield 'odd_data_16bit', riff(FMT, chunk(b'data', samples(33))), loaded(33)
    yield 'odd_data_unpadded_then_chunk', riff(FMT, chunk(b'data', samples(33), pad=False),
                                               chunk(b'LIST', b'INFO')), loaded(33)

    # Nested and repeated RIFF chunks.
    inner = riff(FMT, DATA)
    yield 'wave_nested_in_avi', riff(chunk(b'LIST', inner), form=b'AVI '), refused('No Wave')
    yield 'avi_then_wave', riff(FMT, DATA, form=b'AVI ') + inner, loaded(64)
    yield 'fmt_nested_in_list', riff(chunk(b'LIST', b'INFO' + FMT), DATA), refused('No fmt')
    yield 'riff_inside_wave_before_fmt', riff(chunk(b'RIFF', b'WAVE' + FMT + DATA), FMT,
                                              chunk(b'data', samples(20))), loaded(20)
    # Our reader finds no RIFF; libsndfile reads RIFX as big-endian, where the little-endian
    # sizes make no sense, so it is no sound at all.
    yield 'rifx_big_endian', b'RIFX' + GOOD[4:], refused('No Wave')
    yield 'riff_wave_twice_first_empty', riff() + GOOD, refused('No fmt')

    # Zero and absurd format fields.
    def with_fmt(**kw):
        return riff(chunk(b'fmt ', fmt_body(**kw)), DATA)
    yield 'channels_0', with_fmt(ch=0, align=2), refused('No channels')
    yield 'rate_0', with_fmt(rate=0), refused('No rate')
    yield 'bits_0', with_fmt(bits=0, align=2), refused('No bits')
    yield 'bits_12', with_fmt(bits=12, align=2), refused('No bits')
    yield 'bits_65535', with_fmt(bits=65535, align=8191), refused('No bits')
    yield 'align_0', with_fmt(align=0), refused('No blockalign')
    yield 'align_3', with_fmt(align=3), refused('No blockalign')
    yield 'align_65535_mono16', with_fmt(align=65535), refused('No blockalign')
    yield 'tag_float', with_fmt(tag=3, bits=32), loaded(64, bits=32, tag=3)
    yield 'float_bits_16', with_fmt(tag=3, bits=16), refused('No fmttag')
    # Floats beyond what a sound holds: NaNs (quiet, signalling, negative), infinities, 1e30.
    odd_floats = b''.join(le32(v) for v in (0x7FC00000, 0x7F800000, 0xFF800000, 0x7F800001,
                                            0xFFC00000, 0x7149F2CA, 0xF149F2CA, 0x3F000000) * 2)
    yield 'float_nan_inf', riff(chunk(b'fmt ', fmt_body(tag=3, bits=32)),
                                chunk(b'data', odd_floats)), \
        loaded(64, bits=32, tag=3, data=odd_floats)
    yield 'extensible_pcm24', riff(chunk(b'fmt ', ext_fmt_body(1, bits=24)), DATA), \
        loaded(64, bits=24)
    yield 'extensible_float32', riff(chunk(b'fmt ', ext_fmt_body(3, ch=2, bits=32)), DATA), \
        loaded(64, ch=2, bits=32, tag=3)
    yield 'extensible_short_fmt', riff(chunk(b'fmt ', ext_fmt_body(1, bits=24)[:24]), DATA), \
        refused('No fmttag')  # cbSize announces 22 bytes, the chunk holds 8 of them
    yield 'extensible_unknown_guid', riff(chunk(b'fmt ', ext_fmt_body(
        1, bits=24, guid_tail=GUID_TAIL[:-1] + b'\x72')), DATA), refused('No fmttag')
    yield 'tag_extensible', with_fmt(tag=0xFFFE), refused('No fmttag')
    yield 'tag_0', with_fmt(tag=0), refused('No fmttag')
    yield 'avg_bytes_0', with_fmt(avg=0), loaded(64)
    yield 'rate_1', with_fmt(rate=1), loaded(64, rate=1)
    yield 'rate_2147483648', with_fmt(rate=0x80000000), loaded(64, rate=0x80000000)
    yield 'rate_ffffffff', with_fmt(rate=0xFFFFFFFF), loaded(64, rate=0xFFFFFFFF)
    yield 'channels_65535_8bit', with_fmt(ch=65535, bits=8), loaded(64, ch=65535, bits=8)
    yield 'channels_3_24bit', with_fmt(ch=3, bits=24), loaded(64, ch=3, bits=24)
    yield 'bits_64', with_fmt(bits=64), loaded(64, bits=64)
    yield 'bits_65528', with_fmt(bits=65528), loaded(64, bits=65528)
    yield 'fmt_empty', riff(chunk(b'fmt ', b''), DATA), loaded(64)  # all fields kept as held
    yield 'fmt_4_bytes_stereo', riff(chunk(b'fmt ', fmt_body(ch=2)[:4]), DATA), \
        refused('No blockalign')  # 2 channels from the file, block align 2 from the held sound

    # Not a WAV file at all.
    yield 'empty', b'', refused('No Wave')
    yield 'text', b'this is not a sound file\n', refused('No Wave')
    yield 'no_fmt', riff(DATA), refused('No fmt')
    yield 'no_data', riff(FMT, chunk(b'LIST', b'INFO')), refused('No data')
    yield 'data_before_fmt', riff(DATA, FMT), refused('No data')
    yield 'data_outside_riff', riff(FMT) + DATA, refused('No data')


def main():
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(OUT)
    lines, total = [], 0
    for name, data, (kind, detail) in cases():
        with open(os.path.join(OUT, name + '.wav'), 'wb') as f:
            f.write(data)
        total += len(data)
        lines.append(f'{name}.wav\t{kind}\t{detail}\n')
    with open(os.path.join(OUT, 'EXPECTED'), 'w') as f:
        f.writelines(lines)
    print(f'{OUT}: {len(lines)} files, {total} bytes')


if __name__ == '__main__':
    main()
