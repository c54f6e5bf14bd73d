#!/usr/bin/env bash
# Writes, into OUTDIR, two short 16-bit originals and the copies of them that common tools write
# in other encodings and containers, for the tests of opening sound files:
#   sine.wav  1 s of 440 Hz at 44100 Hz, mono       tone.wav  1 s of A3 (220 Hz) with harmonics
#                                                              at 48000 Hz, stereo
# Lossless copies hold exactly the originals' samples (widened where they are wider), so they
# must analyse exactly like them; 8-bit and lossy copies only nearly.
# Usage: make_format_files.sh OUTDIR
# Exit status 77 (and the missing programs on stderr) when a tool is not installed.
set -euo pipefail

if [[ $# -ne 1 ]]; then
    echo "usage: $0 OUTDIR" >&2
    exit 1
fi
missing=()
for tool in sox flac oggenc opusenc lame python3; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
    echo "missing: ${missing[*]}" >&2
    exit 77
fi
mkdir -p "$1"
cd "$1"

python3 - <<'PY'
import math, struct, wave

# round() halves to even; every sample is an integer, so all copies start from the same bytes.
def write16(name, rate, channels):
    with wave.open(name, 'wb') as w:
        w.setnchannels(len(channels))
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b''.join(struct.pack('<%dh' % len(channels), *(round(c(t)) for c in channels))
                               for t in range(rate)))

def partials(rate, *amp_hz):
    return lambda t: sum(a * math.sin(2 * math.pi * hz * t / rate) for a, hz in amp_hz)

write16('sine.wav', 44100, [partials(44100, (9830, 440))])
# Both channels hold A3 and its harmonics 2 to 4, each channel with its own mix.
write16('tone.wav', 48000, [partials(48000, (8000, 220), (4000, 440), (2000, 660), (1000, 880)),
                            partials(48000, (7000, 220), (5000, 440), (1500, 660), (800, 880))])
PY

for name in sine tone; do
    # -D: no dither, so the 8-bit copy is the same on every run.
    sox "$name.wav" -b 24 "${name}_pcm24.wav"  # WAVE_FORMAT_EXTENSIBLE for wider than 16 bits
    sox "$name.wav" -b 32 "${name}_pcm32.wav"
    sox "$name.wav" -e floating-point -b 32 "${name}_float32.wav"  # plain tag 3
    sox "$name.wav" -e floating-point -b 64 "${name}_float64.wav"
    sox "$name.wav" -D -b 8 "${name}_pcm8.wav"
    flac --silent --force -o "$name.flac" "$name.wav"
    sox "$name.wav" -b 24 "${name}_24.flac"
    oggenc --quiet -o "$name.ogg" "$name.wav"
    opusenc --quiet "$name.wav" "$name.opus"
    lame --quiet "$name.wav" "$name.mp3"
    sox "$name.wav" "$name.aiff"
    sox "$name.wav" -b 24 "${name}_24.aiff"
    sox "$name.wav" -e floating-point "${name}_float.aifc"
    sox "$name.wav" "$name.caf"
    sox "$name.wav" -t w64 "$name.w64"
    sox "$name.wav" -B "${name}_rifx.wav"  # big-endian RIFX
done
sox sine.wav -e u-law sine_mulaw.wav

# sox writes floats with the plain tag 3; a float WAVE_FORMAT_EXTENSIBLE copy is made from it
# here: the same samples behind a 40-byte fmt chunk whose SubFormat GUID names IEEE float.
python3 - <<'PY'
import struct

def chunks(image):
    pos = 12
    while pos + 8 <= len(image):
        cid, size = image[pos:pos + 4], struct.unpack('<I', image[pos + 4:pos + 8])[0]
        yield cid, image[pos + 8:pos + 8 + size]
        pos += 8 + size + size % 2

for name in ('sine', 'tone'):
    found = dict(chunks(open(name + '_float32.wav', 'rb').read()))
    tag, ch, rate, avg, align, bits = struct.unpack('<HHIIHH', found[b'fmt '][:16])
    assert tag == 3 and bits == 32
    guid = struct.pack('<H', 3) + bytes.fromhex('000000001000800000aa00389b71')
    mask = 0x4 if ch == 1 else 0x3
    fmt = struct.pack('<HHIIHHHHI', 0xFFFE, ch, rate, avg, align, bits, 22, bits, mask) + guid
    data = found[b'data']
    body = (b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + b'fact' + struct.pack('<I', 4) +
            struct.pack('<I', len(data) // align) + b'data' + struct.pack('<I', len(data)) + data)
    open(name + '_ext_float32.wav', 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
PY

# The copies are what their names say: extensible where it should be, plain tag 3 otherwise.
tag() { od -An -tx1 -j20 -N2 "$1" | tr -d ' '; }
for f in sine_pcm24.wav tone_pcm24.wav sine_ext_float32.wav; do
    [[ "$(tag "$f")" == feff ]] || { echo "$f: not WAVE_FORMAT_EXTENSIBLE" >&2; exit 1; }
done
[[ "$(tag sine_float32.wav)" == 0300 ]] || { echo "sine_float32.wav: not tag 3" >&2; exit 1; }
