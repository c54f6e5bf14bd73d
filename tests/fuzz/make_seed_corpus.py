#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets.

corpus/wav_reader/: small WAV files, well formed and broken, that reach every branch of the chunk
search, and the float and WAVE_FORMAT_EXTENSIBLE files sox writes.
corpus/sound_decoder/: a fraction of a second of sound in each container and codec that goes
through libsndfile, written by the encoders themselves (sox, flac, oggenc, opusenc, lame; see
scripts/setup --test). Their outputs are deterministic, so a rerun rewrites the same bytes.
Run from anywhere; rewrites both folders."""
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus')
OUT = os.path.join(CORPUS, 'wav_reader')
SOUND_OUT = os.path.join(CORPUS, 'sound_decoder')


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


def extensible(subformat_tag, ch, bits, valid_bits, data):
    """A 40-byte WAVE_FORMAT_EXTENSIBLE fmt chunk whose SubFormat GUID carries subformat_tag."""
    rate, align = 8000, ch * bits // 8
    guid = struct.pack('<H', subformat_tag) + bytes.fromhex('000000001000800000aa00389b71')
    body = struct.pack('<HHIIHHHHI', 0xFFFE, ch, rate, rate * align, align, bits, 22, valid_bits,
                       (1 << ch) - 1) + guid
    return riff(chunk(b'fmt ', body), chunk(b'data', data))


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
    floats = b''.join(struct.pack('<f', math.sin(i / 3)) for i in range(64))
    # sox writes IEEE float as a plain tag 3; extensible float records come from other writers.
    yield 'ext_float32_stereo', extensible(3, 2, 32, 32, floats)
    yield 'ext_pcm24_valid20', extensible(1, 1, 24, 20, bytes(range(96)))
    yield 'ext_guid_unknown', extensible(0x55, 1, 16, 16, d[8:])


def make(tmp, name, *commands):
    """Runs the commands in tmp and returns the bytes of tmp/name."""
    for command in commands:
        try:
            subprocess.run(command, cwd=tmp, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        except FileNotFoundError:
            sys.exit(f'{command[0]} is missing: run scripts/setup --test')
    with open(os.path.join(tmp, name), 'rb') as f:
        return f.read()


def sox_tone(out, rate=8000, ch=1, bits=16, seconds=0.1, encoding=None, kind=None):
    """A sox command writing a 440 Hz tone (other pitches on further channels), repeatably:
    a fixed seed and time stamp, no dither."""
    command = ['sox', '-R', '-D', '-n', '-r', str(rate), '-c', str(ch), '-b', str(bits)]
    if encoding:
        command += ['-e', encoding]
    if kind:
        command += ['-t', kind]
    return command + [out, 'synth', str(seconds), 'sine', '440', 'sine', '660', 'sine', '990']


def sox_wav_seeds(tmp):
    """Float and extensible WAV files as sox writes them (24 and 32 bits go extensible)."""
    def wav(**kw):
        return make(tmp, 'a.wav', sox_tone('a.wav', seconds=0.02, **kw))
    yield 'sox_float32', wav(encoding='floating-point', bits=32)
    yield 'sox_float64', wav(encoding='floating-point', bits=64)
    yield 'sox_ext_pcm24', wav(bits=24)
    yield 'sox_ext_pcm32_stereo', wav(ch=2, bits=32)
    yield 'sox_ext_pcm16_3ch', wav(ch=3)


def sound_seeds(tmp):
    """Each container and codec libsndfile decodes for us, a fraction of a second long."""
    flac = ['flac', '-s', '-f', '--no-padding', '--no-seektable']
    yield 'flac16.flac', make(tmp, 'a.flac', sox_tone('a.wav'), flac + ['-o', 'a.flac', 'a.wav'])
    yield 'flac24_stereo.flac', make(tmp, 'a.flac', sox_tone('a.wav', ch=2, bits=24, seconds=0.05),
                                     flac + ['-o', 'a.flac', 'a.wav'])
    yield 'vorbis.ogg', make(tmp, 'a.ogg', sox_tone('a.wav'),
                             ['oggenc', '-Q', '--serial', '1', '-o', 'a.ogg', 'a.wav'])
    yield 'opus.opus', make(tmp, 'a.opus', sox_tone('a.wav'),
                            ['opusenc', '--quiet', '--serial', '1', 'a.wav', 'a.opus'])
    # MPEG-1 layer III at 44.1 kHz, MPEG-2.5 at 8 kHz, and layer II.
    yield 'mp3_44k_stereo.mp3', make(tmp, 'a.mp3', sox_tone('a.wav', 44100, 2, seconds=0.03),
                                     ['lame', '--quiet', '-b', '128', 'a.wav', 'a.mp3'])
    yield 'mp3_8k.mp3', make(tmp, 'a.mp3', sox_tone('a.wav'),
                             ['lame', '--quiet', '-b', '32', 'a.wav', 'a.mp3'])
    yield 'mp2_32k.mp2', make(tmp, 'a.mp2', sox_tone('a.wav', 32000, seconds=0.05),
                              ['sox', '-R', 'a.wav', '-C', '32', 'a.mp2'])
    yield 'aiff16.aiff', make(tmp, 'a.aiff', sox_tone('a.aiff'))
    yield 'aiff8.aiff', make(tmp, 'a.aiff', sox_tone('a.aiff', bits=8))
    yield 'aifc_float.aifc', make(tmp, 'a.aifc', sox_tone('a.aifc', encoding='floating-point',
                                                          bits=32, kind='aifc'))
    yield 'caf16.caf', make(tmp, 'a.caf', sox_tone('a.caf', seconds=0.05))
    yield 'w64_3ch.w64', make(tmp, 'a.w64', sox_tone('a.w64', ch=3, seconds=0.05))
    yield 'au16.au', make(tmp, 'a.au', sox_tone('a.au'))
    yield 'au_ulaw.au', make(tmp, 'a.au', sox_tone('a.au', bits=8, encoding='mu-law'))
    yield 'au_double.au', make(tmp, 'a.au', sox_tone('a.au', encoding='floating-point', bits=64,
                                                     seconds=0.05))


def write(folder, files):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    total = 0
    for name, data in files:
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
        total += len(data)
    print(f'{folder}: {total} bytes')


def main():
    with tempfile.TemporaryDirectory() as tmp:
        wav = [(name + '.wav', data) for name, data in list(seeds()) + list(sox_wav_seeds(tmp))]
        sound = list(sound_seeds(tmp))
    write(OUT, wav)
    write(SOUND_OUT, sound)


if __name__ == '__main__':
    main()
