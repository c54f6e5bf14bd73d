#!/usr/bin/env bash
# sonabi-analyze --info, --help, --version and the exit statuses, against WAV files made here and
# the other formats tests/data/make_format_files.sh writes.
# Usage: test_cli_info.sh PATH/TO/sonabi-analyze
set -u
if [[ $# -ne 1 || ! -x "$1" ]]; then
    echo "usage: $0 PATH/TO/sonabi-analyze" >&2
    exit 1
fi
bin="$(realpath "$1")"
formats="$(realpath "$(dirname "${BASH_SOURCE[0]}")/../data/make_format_files.sh")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# expect_eq WHAT EXPECTED ACTUAL
expect_eq() {
    if [[ "$2" != "$3" ]]; then
        fail "$1"
        printf '  expected: %s\n  actual:   %s\n' "$2" "$3" >&2
    fi
}

python3 - <<'PY'
import struct

def chunk(cid, body, declared=None):
    size = len(body) if declared is None else declared
    return cid + struct.pack('<I', size) + body + (b'\0' if len(body) % 2 else b'')

def fmt(tag, ch, rate, bits, size=16):
    align = ch * bits // 8
    return struct.pack('<HHIIHH', tag, ch, rate, rate * align, align, bits)[:size]

def riff(*chunks):
    body = b'WAVE' + b''.join(chunks)
    return b'RIFF' + struct.pack('<I', len(body)) + body

files = {
    'mono16.wav': riff(chunk(b'fmt ', fmt(1, 1, 44100, 16)), chunk(b'data', bytes(88200))),
    # Odd data, a LIST chunk with its pad, an 18-byte fmt.
    'stereo8 "odd".wav': riff(chunk(b'fmt ', fmt(1, 2, 11025, 8) + b'\0\0'),
                              chunk(b'LIST', b'abc'), chunk(b'data', bytes(7))),
    'float.wav': riff(chunk(b'fmt ', fmt(3, 1, 48000, 32)), chunk(b'data', bytes(8))),
    'mulaw.wav': riff(chunk(b'fmt ', fmt(7, 1, 8000, 8)), chunk(b'data', bytes(8))),
    'datafirst.wav': riff(chunk(b'data', bytes(8)), chunk(b'fmt ', fmt(1, 1, 8000, 8))),
    'empty.wav': riff(chunk(b'fmt ', fmt(1, 1, 8000, 8)), chunk(b'data', b'')),
    'nochan.wav': riff(chunk(b'fmt ', fmt(1, 0, 8000, 8)), chunk(b'data', bytes(4))),
    # A recorder cut off: data declares 0xFFFFFFFF, 22050 bytes are there.
    'cutoff.wav': riff(chunk(b'fmt ', fmt(1, 1, 22050, 8)),
                       chunk(b'data', bytes(22050), 0xFFFFFFFF)),
    'text.wav': b'hello, this is not a wave file',
    'text.txt': b'hello, this is not a sound file',
}
for name, data in files.items():
    with open(name, 'wb') as f:
        f.write(data)
# A name with a control character and a byte that is not UTF-8.
with open(b'ctl\x01\xff.wav', 'wb') as f:
    f.write(files['mono16.wav'])
PY

out="$("$bin" --info mono16.wav 'stereo8 "odd".wav' cutoff.wav float.wav)"
expect_eq "all loaded: exit 0" 0 $?
expect_eq "loaded files" \
'{"file":"mono16.wav","ok":true,"channels":1,"rate":44100,"bits":16,"encoding":"pcm16","blockAlign":2,"dataSize":88200,"frames":44100,"seconds":1.0}
{"file":"stereo8 \"odd\".wav","ok":true,"channels":2,"rate":11025,"bits":8,"encoding":"pcm8","blockAlign":2,"dataSize":7,"frames":3,"seconds":0.000272109}
{"file":"cutoff.wav","ok":true,"channels":1,"rate":22050,"bits":8,"encoding":"pcm8","blockAlign":1,"dataSize":22050,"frames":22050,"seconds":1.0}
{"file":"float.wav","ok":true,"channels":1,"rate":48000,"bits":32,"encoding":"float32","blockAlign":4,"dataSize":8,"frames":2,"seconds":4.16667e-05}' \
    "$out"

out="$("$bin" --info mulaw.wav datafirst.wav empty.wav nochan.wav text.wav missing.wav . mono16.wav)"
expect_eq "some refused: exit 2" 2 $?
expect_eq "refused files" \
'{"file":"mulaw.wav","ok":false,"error":"No fmttag"}
{"file":"datafirst.wav","ok":false,"error":"No data"}
{"file":"empty.wav","ok":false,"error":"No read"}
{"file":"nochan.wav","ok":false,"error":"No channels"}
{"file":"text.wav","ok":false,"error":"No Wave"}
{"file":"missing.wav","ok":false,"error":"No File"}
{"file":".","ok":false,"error":"No File"}
{"file":"mono16.wav","ok":true,"channels":1,"rate":44100,"bits":16,"encoding":"pcm16","blockAlign":2,"dataSize":88200,"frames":44100,"seconds":1.0}' \
    "$out"

# Text that is no WAV file under any other name is no sound libsndfile knows either.
out="$("$bin" --info text.txt)"
expect_eq "text.txt: exit 2" 2 $?
expect_eq "text.txt" '{"file":"text.txt","ok":false,"error":"No audio"}' "$out"

# Every line is valid JSON with the keys in their order, whatever the file name holds.
out="$("$bin" --info -- "$(printf 'ctl\001\377.wav')" 'stereo8 "odd".wav' mulaw.wav)"
expect_eq "odd names: exit 2" 2 $?
keys="$(printf '%s\n' "$out" | python3 -c '
import json, sys
for line in sys.stdin:
    print(",".join(json.loads(line)))')"
expect_eq "JSON keys" \
"file,ok,channels,rate,bits,encoding,blockAlign,dataSize,frames,seconds
file,ok,channels,rate,bits,encoding,blockAlign,dataSize,frames,seconds
file,ok,error" "$keys"
expect_eq "escaped name" '{"file":"ctl\u0001\udcff.wav"' "${out%%,*}"
# Python's own convention for undecodable names gives the exact bytes back.
expect_eq "name bytes back" "b'ctl\\x01\\xff.wav'" "$(printf '%s\n' "${out%%$'\n'*}" | python3 -c '
import json, os, sys
print(os.fsencode(json.loads(sys.stdin.readline())["file"]))')"

# A sparse 3 GiB file: --info reads its headers only, in well under 50 MB.
info_big="$(python3 - "$bin" <<'PY'
import resource, struct, subprocess, sys
size = 3 << 30
fmt = struct.pack("<HHIIHH", 1, 1, 44100, 88200, 2, 16)
head = b"RIFF" + struct.pack("<I", 36 + size) + b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt
with open("big.wav", "wb") as f:
    f.write(head + b"data" + struct.pack("<I", size))
    f.truncate(len(head) + 8 + size)
out = subprocess.run([sys.argv[1], "--info", "big.wav"], capture_output=True, text=True).stdout
peak_mb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
print(out.strip().split(",")[7], "small" if peak_mb < 50 else "peak %.0f MB" % peak_mb)
PY
)"
rm -f big.wav
expect_eq "sparse 3 GiB file" '"dataSize":3221225472 small' "$info_big"

# One file of each family other tools write: held coding, rate and channels.
if bash "$formats" formats >formats.log 2>&1; then
    fields() { python3 -c '
import json, sys
for line in sys.stdin:
    j = json.loads(line)
    print(j["file"], j["ok"], j.get("encoding"), j.get("bits"), j.get("rate"), j.get("channels"))'; }
    expect_eq "other formats" \
"formats/sine_pcm24.wav True pcm24 24 44100 1
formats/tone_ext_float32.wav True float32 32 48000 2
formats/sine_float32.wav True float32 32 44100 1
formats/tone_24.flac True flac 24 48000 2
formats/sine.ogg True vorbis 32 44100 1
formats/sine.opus True opus 32 48000 1
formats/tone.mp3 True mp3 32 48000 2
formats/sine.aiff True aiff 16 44100 1" \
        "$("$bin" --info formats/sine_pcm24.wav formats/tone_ext_float32.wav formats/sine_float32.wav \
            formats/tone_24.flac formats/sine.ogg formats/sine.opus formats/tone.mp3 \
            formats/sine.aiff | fields)"
elif [[ $? -eq 77 ]]; then
    echo "SKIP other formats: $(cat formats.log)" >&2
else
    fail "make_format_files.sh: $(cat formats.log)"
fi

# Usage errors: exit 1, usage on stderr, nothing on stdout.
for args in "" "--info" "--info --bogus mono16.wav" "--info --version-x mono16.wav"; do
    # shellcheck disable=SC2086
    "$bin" $args >stdout.txt 2>stderr.txt
    expect_eq "usage error '$args': exit 1" 1 $?
    expect_eq "usage error '$args': no output" "" "$(cat stdout.txt)"
    grep -q "Usage:" stderr.txt || fail "usage error '$args': no usage on stderr"
done

expect_eq "--version" "sonabi-analyze 1.40" "$("$bin" --version)"
help="$("$bin" --help)"
expect_eq "--help: exit 0" 0 $?
grep -q -- "--info FILE" <<<"$help" || fail "--help does not explain --info"
grep -q -- "--version" <<<"$help" || fail "--help does not list --version"

if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all sonabi-analyze --info checks passed"
