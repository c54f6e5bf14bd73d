#!/usr/bin/env bash
# sonabi-analyze FILE...: the window-by-window analysis, its options and output forms, several
# files in one run, --profile and --notes, against WAV files made here and the other formats
# tests/data/make_format_files.sh writes.
# Usage: test_cli_analyze.sh PATH/TO/sonabi-analyze
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
import math, struct

def wav(name, frames, rate=44100, bits=16):
    """frames: list of tuples, one sample per channel."""
    ch = len(frames[0]) if frames else 1
    if bits == 16:
        data = b''.join(struct.pack('<%dh' % ch, *f) for f in frames)
    else:
        data = bytes(s for f in frames for s in f)
    align = ch * bits // 8
    fmt = struct.pack('<HHIIHH', 1, ch, rate, rate * align, align, bits)
    body = (b'WAVE' + b'fmt ' + struct.pack('<I', 16) + fmt + b'data' +
            struct.pack('<I', len(data)) + data + (b'\0' if len(data) % 2 else b''))
    with open(name, 'wb') as f:
        f.write(b'RIFF' + struct.pack('<I', len(body)) + body)

def tone(n, *partials):
    # round() halves to even, as the window's Round does.
    return [round(sum(a * math.sin(2 * math.pi * hz * t / 44100) for a, hz in partials))
            for t in range(n)]

wav('sine440.wav', [(s,) for s in tone(44100, (10000, 440))])
wav('three.wav', [(s,) for s in tone(4096, (6000, 220), (3000, 440), (1500, 660))])
wav('stereo.wav', list(zip(tone(4096, (10000, 440)), tone(4096, (8000, 261.63)))))
wav('eight.wav', [(128 + s,) for s in tone(4096, (100, 440))], bits=8)
wav('short.wav', [(s,) for s in tone(1000, (10000, 440))])
wav('tiny.wav', [(s,) for s in tone(255, (10000, 440))])
wav('silence.wav', [(0,)] * 4096)
PY

# The worked examples, exactly.
zeros17="0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0"
expect_eq "440 Hz sine, first window" \
    "{\"offset\":0,\"time\":0.0,\"detected\":true,\"frequency\":440,\"level\":2324,\"harmonics\":[100,0,0,$zeros17],\"hz\":439.97,\"note\":\"A4\",\"cents\":0,\"pitch\":440.00}" \
    "$("$bin" --count 1 sine440.wav)"
# The detection's 218.91 Hz is 9 cents below A3; the tone and its refined pitch are A3 itself.
expect_eq "three harmonics" \
    "{\"offset\":0,\"time\":0.0,\"detected\":true,\"frequency\":219,\"level\":1563,\"harmonics\":[100,45,24,$zeros17],\"hz\":218.91,\"note\":\"A3\",\"cents\":0,\"pitch\":220.00}" \
    "$("$bin" --count 1 three.wav)"
# Against A4 = 446 Hz the same tone is A3 23 cents flat.
expect_eq "--a4 446" '"note":"A3","cents":-23,"pitch":220.00}' \
    "$("$bin" --count 1 --a4 446 three.wav | grep -o '"note".*')"

# Every window of one second: 42 windows half a window apart, all at 440 Hz.
out="$("$bin" sine440.wav)"
expect_eq "exit 0" 0 $?
summary="$(printf '%s\n' "$out" | python3 -c '
import json, sys
lines = [json.loads(l) for l in sys.stdin]
print(len(lines), {l["frequency"] for l in lines}, all(l["offset"] == 2048 * i for i, l in enumerate(lines)),
      all(len(l["harmonics"]) == 20 for l in lines), list(lines[0]))')"
expect_eq "one second of 440 Hz" \
    "42 {440} True True ['offset', 'time', 'detected', 'frequency', 'level', 'harmonics', 'hz', 'note', 'cents', 'pitch']" "$summary"

# hz, note and cents of every window agree with each other: hz rounds to the frequency, and the
# note and cents are recomputed here from hz (A4 = 440 Hz, octaves from C, ties to the lower note).
check_notes() {
    python3 -c '
import json, math, sys
names = "C C# D D# E F F# G G# A A# B".split()
bad = 0
for text in sys.stdin:
    l = json.loads(text)
    if not l["detected"]:
        continue
    hz = l["hz"]
    total = 6900 + math.floor(1200 * math.log2(hz / 440) + 0.5)
    midi = (total + 49) // 100
    want = (names[midi % 12] + str(midi // 12 - 1), total - midi * 100)
    if (l["note"], l["cents"]) != want or round(hz) != l["frequency"] or not -49 <= l["cents"] <= 50:
        bad += 1
        print("mismatch:", text.strip(), want, file=sys.stderr)
print(bad)'
}
expect_eq "hz, note and cents of one second of 440 Hz" 0 "$(printf '%s\n' "$out" | check_notes)"
expect_eq "hz written with two decimals" 42 "$(grep -c '"hz":[0-9]*\.[0-9][0-9],' <<<"$out")"
expect_eq "time of the third window" '"time":0.046' "$(sed -n 3p <<<"$out" | grep -o '"time":[0-9.]*')"

# Offsets, steps and counts.
offsets="$("$bin" --offset 100 --step 500 --count 3 sine440.wav | grep -o '"offset":[0-9]*' | tr '\n' ' ')"
expect_eq "--offset --step --count" '"offset":100 "offset":1100 "offset":2100 ' "$offsets"
# An offset inside a frame is rounded down to the frame, as the window's scroll bar does.
offsets="$("$bin" --offset 101 --step 500 --count 2 sine440.wav | grep -o '"offset":[0-9]*' | tr '\n' ' ')"
expect_eq "--offset inside a frame" '"offset":100 "offset":1100 ' "$offsets"
expect_eq "--count 0" "" "$("$bin" --count 0 sine440.wav)"
expect_eq "--count beyond the windows" "$("$bin" --step 100000 sine440.wav)" \
    "$("$bin" --step 100000 --count 100000000 sine440.wav)"
expect_eq "--count 2^63" "$("$bin" --step 100000 sine440.wav)" \
    "$("$bin" --step 100000 --count 9223372036854775808 sine440.wav)"
expect_eq "offset past the end" "" "$("$bin" --offset 88200 sine440.wav)"

# Windows two frames apart: more than one batch, each shared between the cores, in order.
order="$("$bin" --step 2 --count 20000 sine440.wav | python3 -c '
import json, sys
lines = [json.loads(l) for l in sys.stdin]
print(len(lines), all(l["offset"] == 4 * i and l["detected"] for i, l in enumerate(lines)))')"
expect_eq "20000 windows in order" "20000 True" "$order"

# The last channel of a stereo window is searched; 8-bit data use the lower threshold.
expect_eq "stereo" '"frequency":260' "$("$bin" --count 1 stereo.wav | grep -o '"frequency":[0-9]*')"
expect_eq "8-bit" '"frequency":440' "$("$bin" --count 1 eight.wav | grep -o '"frequency":[0-9]*')"

# Sounds shorter than one window fall back to 256 frames; under 256 frames nothing is analysed.
expect_eq "short sound: 256-frame windows" "6" "$("$bin" short.wav | wc -l | tr -d ' ')"
expect_eq "tiny sound: no windows" "" "$("$bin" tiny.wav)"
expect_eq "tiny sound: exit 0" 0 $?
expect_eq "silence" '{"offset":0,"time":0.0,"detected":false}' "$("$bin" --count 1 silence.wav)"

# Analysis settings.
first() { "$bin" --count 1 "$@" sine440.wav | grep -o '"detected":[a-z]*\(,"frequency":[0-9]*\)\?'; }
expect_eq "--threshold above the peak" '"detected":false' "$(first --threshold 3000)"
expect_eq "--low-cut above the tone" '"detected":false' "$(first --low-cut 1000)"
expect_eq "--span still covering it" '"detected":true,"frequency":440' "$(first --span 250)"
expect_eq "--span below it" '"detected":false' "$(first --span 100)"
f256="$("$bin" --count 1 --fft-size 256 sine440.wav | grep -o '"frequency":[0-9]*' | cut -d: -f2)"
((f256 > 380 && f256 < 500)) || fail "--fft-size 256 finds about 440 Hz, not '$f256'"
expect_eq "--fft-size 512 windows" "171" "$("$bin" --fft-size 512 sine440.wav | wc -l | tr -d ' ')"

# CSV: a header, then the same values as the JSON lines.
csv="$("$bin" --csv three.wav)"
expect_eq "csv header and first row" \
"offset,time,detected,frequency,level,h1,h2,h3,h4,h5,h6,h7,h8,h9,h10,h11,h12,h13,h14,h15,h16,h17,h18,h19,h20,hz,note,cents,pitch
0,0.0,true,219,1563,100,45,24,$zeros17,218.91,A3,0,220.00" "$(head -2 <<<"$csv")"
from_json="$("$bin" three.wav | python3 -c '
import json, sys
for l in map(json.loads, sys.stdin):
    print(",".join([str(l["offset"]), str(l["time"]), "true", str(l["frequency"]), str(l["level"])] +
                   [str(h) for h in l["harmonics"]] + ["%.2f" % l["hz"], l["note"], str(l["cents"]), "%.2f" % l["pitch"]]))')"
expect_eq "csv rows match the JSON lines" "$from_json" "$(tail -n +2 <<<"$csv")"
expect_eq "csv silence" "0,0.0,false,,,,,,,,,,,,,,,,,,,,,,,,,," "$("$bin" --csv --count 1 silence.wav | tail -1)"

# The 440 Hz sine in each family of formats: every window of a lossless copy analyses as the
# 16-bit original does; a lossy one finds the pitch within 3 Hz.
if bash "$formats" formats >formats.log 2>&1; then
    reference="$("$bin" --count 3 formats/sine.wav | sed 's/"offset":[0-9]*,//')"
    for f in sine_pcm24.wav sine_ext_float32.wav sine_float64.wav sine_24.flac sine_float.aifc \
        sine.caf sine.ogg sine.opus sine.mp3; do
        out="$("$bin" --count 3 "formats/$f" | sed 's/"offset":[0-9]*,//')"
        case "$f" in
        *.ogg | *.opus | *.mp3)
            hz="$(grep -o '"frequency":[0-9]*' <<<"$out" | cut -d: -f2 | tr '\n' ' ')"
            read -r -a found <<<"$hz"
            ((${#found[@]} == 3)) || fail "$f: 3 windows with a pitch, not '$hz'"
            for v in "${found[@]}"; do
                ((v >= 437 && v <= 443)) || fail "$f: $v Hz is not about 440 Hz"
            done
            ;;
        *) expect_eq "$f analyses as the 16-bit original" "$reference" "$out" ;;
        esac
    done
    expect_eq "reference is the 440 Hz sine" 3 "$(grep -c '"frequency":440,' <<<"$reference")"
elif [[ $? -eq 77 ]]; then
    echo "SKIP other formats: $(cat formats.log)" >&2
else
    fail "make_format_files.sh: $(cat formats.log)"
fi

# Sound files whose header tells no length or a wrong one, made here by the tools: each is held
# as long as what decodes (--info too), analysed with windows planned from that, and nothing is
# written to standard error (where --csv puts its error objects). Each row: the file and what it
# must match. A WAV or FLAC with a true header: the same frames and the very same analysis
# (1000 frames claiming 100000 must get 256-frame windows); "~X", lame's own decoding or the
# Opus file with its true granule: the frames within two MP3 frames (2304) of it. Every run is held to 1 GiB of address space, so a
# block of the claimed 10^9 frames cannot be asked for.
sox -n -r 44100 -b 16 -c 1 a3.wav synth 3 sine 440 vol 0.3
sox -n -r 44100 -b 16 -c 1 b2.wav synth 2 sine 330 vol 0.3
sox -n -r 44100 -b 16 -c 1 noise.wav synth 60 whitenoise vol 0.3
sox -n -r 44100 -b 16 -c 4 quad.wav synth 1 sine 440 sine 660 sine 220 sine 880
sox a3.wav -t raw - | flac --silent --force-raw-format --endian=little --sign=signed --channels=1 \
    --bps=16 --sample-rate=44100 - >piped.flac 2>/dev/null
flac --silent -o noise.flac noise.wav && cp noise.flac lying.flac
flac --silent -o shortlie.flac short.wav
flac --silent -o quad.flac quad.wav 2>/dev/null  # it warns of the fact chunk sox writes
lame --quiet a3.wav a.mp3 && lame --quiet b2.wav b.mp3 && cat a.mp3 b.mp3 >ab.mp3
lame --quiet -V2 -t a3.wav vbr.mp3
lame --quiet --decode ab.mp3 ab.wav && lame --quiet --decode vbr.mp3 vbr.wav
# STREAMINFO's total_samples is the low 36 bits of the big-endian 64 bits at byte 18.
claim() {
    python3 - "$@" <<'PY'
import struct, sys
path, total = sys.argv[1], int(sys.argv[2])
b = bytearray(open(path, 'rb').read())
v = struct.unpack('>Q', b[18:26])[0]
print(v & (1 << 36) - 1)  # what the header claimed before
b[18:26] = struct.pack('>Q', v & ~((1 << 36) - 1) | total)
open(path, 'wb').write(b)
PY
}
# The last Ogg page's granule position put 1000 s late, its CRC made anew.
opusenc --quiet a3.wav a3.opus && cp a3.opus late.opus
python3 - <<'PY'
import struct
def crc(data):
    c = 0
    for byte in data:
        c ^= byte << 24
        for _ in range(8):
            c = (c << 1 ^ (0x04C11DB7 if c & 0x80000000 else 0)) & 0xFFFFFFFF
    return c
b = bytearray(open('late.opus', 'rb').read())
last = b.rfind(b'OggS')
b[last + 6:last + 14] = struct.pack('<q', struct.unpack('<q', b[last + 6:last + 14])[0] + 48000000)
b[last + 22:last + 26] = bytes(4)
b[last + 22:last + 26] = struct.pack('<I', crc(b[last:]))
open('late.opus', 'wb').write(b)
PY
expect_eq "piped FLAC: total_samples unknown" 0 "$(claim piped.flac 0)"
claim lying.flac 1000000000 >/dev/null
claim shortlie.flac 100000 >/dev/null
expect_eq "VBR MP3 without a Xing frame" 0 "$(grep -c -a -e Xing -e Info vbr.mp3)"
limited() { (ulimit -v 1048576 && "$bin" "$@"); }
frames() { limited --info "$1" | grep -o '"frames":[0-9]*' | cut -d: -f2; }
for row in "piped.flac a3.wav" "lying.flac noise.flac" "shortlie.flac short.wav" \
    "quad.flac quad.wav" "ab.mp3 ~ab.wav" "vbr.mp3 ~vbr.wav" "late.opus ~a3.opus"; do
    read -r file like <<<"$row"
    limited --csv "$file" >out.csv 2>err.txt
    expect_eq "$file: exit 0" 0 $?
    expect_eq "$file: nothing on standard error" "" "$(cat err.txt)"
    got="$(frames "$file")"
    if [[ "$like" == "~"* ]]; then
        want="$(frames "${like#\~}")"
        ((got >= want - 2304 && got <= want + 2304)) || fail "$file: $got frames, not about $want"
        expect_eq "$file: windows planned from what decodes" $(((got - 2048) / 1024 + 2)) \
            "$(wc -l <out.csv | tr -d ' ')"
    else
        expect_eq "$file: frames" "$(frames "$like")" "$got"
        expect_eq "$file: analysed as $like" "$(limited "$like")" "$(limited "$file")"
        expect_eq "$file: --profile as $like" "$(limited --profile "$like")" \
            "$(limited --profile "$file")"
    fi
done
# Memory grows with what decodes: the 5 MB FLAC that claims 10^9 frames peaks well under 200 MB.
for args in "lying.flac" "--profile lying.flac"; do
    # shellcheck disable=SC2086
    rss="$(python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$bin" $args)"
    ((rss > 0 && rss < 200 * 1024)) || fail "$args: peak RSS $rss kB"
done

# Refusals: the --info error object and exit 2; usage errors exit 1 with nothing on stdout.
out="$("$bin" missing.wav)"
expect_eq "missing file: exit 2" 2 $?
expect_eq "missing file" '{"file":"missing.wav","ok":false,"error":"No File"}' "$out"
# Steps whose byte extent would wrap (2^63 and 2^63 + 1 frames, 2^62 stereo frames) are refused,
# as are a negative threshold and an offset past 2^32; a count is never too large.
for args in "" "--csv" "--fft-size 300 sine440.wav" "--step 0 sine440.wav" \
    "--span -5 sine440.wav" "--count x sine440.wav" "--bogus sine440.wav" \
    "--step 9223372036854775808 sine440.wav" "--step 9223372036854775809 sine440.wav" \
    "--step 4611686018427387904 stereo.wav" \
    "--threshold -1 sine440.wav" "--offset 4294967297 sine440.wav"; do
    # shellcheck disable=SC2086
    "$bin" $args >stdout.txt 2>stderr.txt
    expect_eq "usage error '$args': exit 1" 1 $?
    expect_eq "usage error '$args': no output" "" "$(cat stdout.txt)"
done

# Several files in one run: each file's lines together, in the order given, each starting with
# its "file" field and otherwise exactly what a run on that file alone prints; a refused file
# prints its error object in its place, the others still run, and the exit status is 2.
cp three.wav 'odd, "name".wav'
many="$("$bin" --count 3 sine440.wav missing.wav three.wav stereo.wav sine440.wav 'odd, "name".wav')"
expect_eq "several files, one refused: exit 2" 2 $?
expected=""
for f in sine440.wav missing.wav three.wav stereo.wav sine440.wav 'odd, "name".wav'; do
    name="$(python3 -c 'import json, sys; print(json.dumps(sys.argv[1]))' "$f")"
    if [[ "$f" == missing.wav ]]; then
        expected+="{\"file\":$name,\"ok\":false,\"error\":\"No File\"}"$'\n'
    else
        expected+="$("$bin" --count 3 "$f" | sed "s/^{/{\"file\":$(sed 's/[\/&]/\\&/g' <<<"$name"),/")"$'\n'
    fi
done
expect_eq "several files: file field first, in order, lines as for each file alone" \
    "${expected%$'\n'}" "$many"
expect_eq "several files: 5 x 3 window lines and one error" "16" "$(wc -l <<<"$many" | tr -d ' ')"
expect_eq "several files, all loaded: exit 0" 0 \
    "$("$bin" --count 1 sine440.wav three.wav >/dev/null; echo $?)"
# Many more files than cores, every window of each, and among them one of many batches of
# windows (60 s): still each file whole, in order, and as a run on that file alone prints it.
for i in $(seq 1 24); do cp "$([[ $((i % 2)) == 0 ]] && echo three.wav || echo sine440.wav)" "m$i.wav"; done
"$bin" m{1..12}.wav noise.wav m{13..24}.wav >many.txt
order="$(python3 -c '
import json, sys
files = []
for l in map(json.loads, sys.stdin):
    if not files or files[-1][0] != l["file"]:
        files.append([l["file"], 0])
    files[-1][1] += 1
print(" ".join("%s:%d" % (f, n) for f, n in files))' <many.txt)"
counts() { for i in "$@"; do printf 'm%d.wav:%d ' "$i" $((i % 2 ? 42 : 3)); done; }
expect_eq "25 files in order, each whole" \
    "$(counts $(seq 1 12))noise.wav:2582 $(counts $(seq 13 24) | sed 's/ $//')" "$order"
for f in m{1..12}.wav noise.wav m{13..24}.wav; do "$bin" "$f" | sed "s/^{/{\"file\":\"$f\",/"; done >alone.txt
cmp -s alone.txt many.txt || fail "25 files: lines as for each file alone"
# CSV with several files: one header with a leading file column, names quoted as CSV needs;
# a refused file's error object goes to standard error so standard output stays one table.
"$bin" --csv --count 1 sine440.wav missing.wav 'odd, "name".wav' >many.csv 2>many.err
expect_eq "several files, csv: exit 2" 2 $?
expect_eq "several files, csv" \
"file,offset,time,detected,frequency,level,h1,h2,h3,h4,h5,h6,h7,h8,h9,h10,h11,h12,h13,h14,h15,h16,h17,h18,h19,h20,hz,note,cents,pitch
sine440.wav,0,0.0,true,440,2324,100,0,0,$zeros17,439.97,A4,0,440.00
\"odd, \"\"name\"\".wav\",0,0.0,true,219,1563,100,45,24,$zeros17,218.91,A3,0,220.00" "$(cat many.csv)"
expect_eq "several files, csv: error on stderr" '{"file":"missing.wav","ok":false,"error":"No File"}' \
    "$(cat many.err)"
# An option that cannot apply to one of the files is a usage error before any output.
"$bin" --step 4611686018427387904 sine440.wav stereo.wav >stdout.txt 2>stderr.txt
expect_eq "several files, option too large for one: exit 1" 1 $?
expect_eq "several files, option too large for one: no output" "" "$(cat stdout.txt)"

# --profile: the strongest window's harmonics, phases and frequency as a profile file.
profile="$("$bin" --profile three.wav)"
expect_eq "--profile: exit 0" 0 $?
expect_eq "--profile of three harmonics" \
    "1 220 10 0.5 [100, 45, 24, $(sed 's/,/, /g' <<<"$zeros17")] 20 True 220.0" \
    "$(python3 -c '
import json, sys
p = json.loads(sys.argv[1])
assert list(p) == ["sonabi-profile", "fundamental", "volume", "length", "levels", "phases", "pitch"], list(p)
print(p["sonabi-profile"], p["fundamental"], p["volume"], p["length"], p["levels"], len(p["phases"]),
      all(isinstance(x, (int, float)) for x in p["phases"]) and p["phases"][3:] == [0] * 17, p["pitch"])' "$profile")"
# The strongest window of a file whose loudest part comes late: its level, harmonics and
# frequency, as the default verb prints them, decide the profile.
python3 - <<'PY'
import math, struct
frames = [round((2000 if t < 22050 else 9000) * math.sin(2 * math.pi * (330 if t < 22050 else 523.25) * t / 44100))
          for t in range(44100)]
data = b''.join(struct.pack('<h', f) for f in frames)
fmt = struct.pack('<HHIIHH', 1, 1, 44100, 88200, 2, 16)
body = b'WAVE' + b'fmt ' + struct.pack('<I', 16) + fmt + b'data' + struct.pack('<I', len(data)) + data
open('late.wav', 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
PY
strongest="$("$bin" late.wav | python3 -c '
import json, sys
lines = [l for l in map(json.loads, sys.stdin) if l["detected"]]
best = max(lines, key=lambda l: l["level"])
best = [l for l in lines if l["level"] == best["level"]][0]
print(round(best["pitch"]), best["harmonics"])')"
expect_eq "--profile takes the strongest window" "$strongest" \
    "$("$bin" --profile late.wav | python3 -c '
import json, sys
p = json.load(sys.stdin)
print(p["fundamental"], p["levels"])')"
expect_eq "--profile with options: the early, quiet part" "330" \
    "$("$bin" --profile --count 5 late.wav | grep -o '"fundamental":[0-9]*' | cut -d: -f2)"
# Several files: one profile line each, in order, naming its file; a refused one in its place.
several="$("$bin" --profile three.wav missing.wav late.wav)"
expect_eq "--profile of several files: exit 2" 2 $?
expect_eq "--profile of several files" \
    "{\"file\":\"three.wav\",${profile#\{}
{\"file\":\"missing.wav\",\"ok\":false,\"error\":\"No File\"}
{\"file\":\"late.wav\",$("$bin" --profile late.wav | cut -c2-)" "$several"
out="$("$bin" --profile silence.wav)"
expect_eq "--profile of silence: exit 2" 2 $?
expect_eq "--profile of silence" '{"file":"silence.wav","ok":false,"error":"No pitch"}' "$out"
out="$("$bin" --profile missing.wav)"
expect_eq "--profile of a missing file: exit 2" 2 $?
expect_eq "--profile of a missing file" '{"file":"missing.wav","ok":false,"error":"No File"}' "$out"
for args in "--profile" "--profile --csv sine440.wav" \
    "--profile --info sine440.wav"; do
    # shellcheck disable=SC2086
    "$bin" $args >stdout.txt 2>stderr.txt
    expect_eq "usage error '$args': exit 1" 1 $?
    expect_eq "usage error '$args': no output" "" "$(cat stdout.txt)"
done

# --notes: the held notes, their intonation and vibrato. C4 and E4 steady (E4 8 cents flat),
# then G4 with a 5.5 Hz vibrato of 30 cents, a tenth of a second of silence between them.
python3 - <<'PY'
import math, struct
frames, phase = [], 0.0
for seconds, hz, depth in [(0.6, 261.63, 0), (0.1, 0, 0), (0.6, 329.63 * 2 ** (-8 / 1200), 0),
                           (0.1, 0, 0), (2.0, 392.0, 30)]:
    for t in range(round(seconds * 44100)):
        f = hz * 2 ** (depth * math.sin(2 * math.pi * 5.5 * t / 44100) / 1200)
        phase += 2 * math.pi * f / 44100
        frames.append(round(8000 * math.sin(phase)) if hz else 0)
data = b''.join(struct.pack('<h', f) for f in frames)
fmt = struct.pack('<HHIIHH', 1, 1, 44100, 88200, 2, 16)
body = b'WAVE' + b'fmt ' + struct.pack('<I', 16) + fmt + b'data' + struct.pack('<I', len(data)) + data
open('notes.wav', 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
PY
notes_csv="$("$bin" --notes --csv notes.wav)"
expect_eq "--notes --csv: exit 0" 0 $?
expect_eq "--notes --csv" "start,end,note,cents,spread,rate,depth
C4 0.0 0.6 0 none
E4 0.7 1.3 -8 none
G4 1.4 3.4 0 5.5 30" "$(python3 -c '
import csv, sys
rows = list(csv.reader(sys.stdin.read().splitlines()))
print(",".join(rows[0]))
for start, end, note, cents, spread, rate, depth in rows[1:]:
    assert cents[0] in "+-" or cents == "0.0", cents
    steady = rate == "" and depth == ""
    # Cents to within a cent or so (vibrato), rate to half a hertz, depth to 5 cents.
    print(note, round(float(start), 1), round(float(end), 1), round(float(cents) / 2) * 2,
          "none" if steady else "%.1f %d" % (round(float(rate) * 2) / 2, round(float(depth) / 5) * 5))
' <<<"$notes_csv")"
# The JSON lines hold the same numbers, members in the table's order.
expect_eq "--notes JSON is the CSV" "$notes_csv" "$("$bin" --notes notes.wav | python3 -c '
import json, sys
print("start,end,note,cents,spread,rate,depth")
for line in sys.stdin:
    n = json.loads(line, parse_float=str)
    assert list(n) == ["start", "end", "note", "cents", "spread", "rate", "depth"], list(n)
    c = n["cents"]
    c = c if c.startswith("-") or c == "0.0" else "+" + c
    print(",".join([n["start"], n["end"], n["note"], c, n["spread"], n["rate"] or "", n["depth"] or ""]))')"
# Against A4 = 446 Hz, C4 is 23 cents flat.
expect_eq "--notes --a4 446" "C4,-23" \
    "$("$bin" --notes --csv --a4 446 notes.wav | sed -n 2p | cut -d, -f3,4 | cut -d. -f1)"
# Several files: each row names its file; silence has no rows; a refused file on stderr.
"$bin" --notes --csv notes.wav silence.wav missing.wav >many.csv 2>many.err
expect_eq "--notes of several files: exit 2" 2 $?
expect_eq "--notes of several files" "file,$(sed -n 1p <<<"$notes_csv")
$(tail -n +2 <<<"$notes_csv" | sed 's/^/notes.wav,/')" "$(cat many.csv)"
expect_eq "--notes of several files: error on stderr" \
    '{"file":"missing.wav","ok":false,"error":"No File"}' "$(cat many.err)"
expect_eq "--notes of several files, JSON" \
    "$("$bin" --notes notes.wav | sed 's/^{/{"file":"notes.wav",/')
{\"file\":\"missing.wav\",\"ok\":false,\"error\":\"No File\"}" \
    "$("$bin" --notes notes.wav silence.wav missing.wav)"
for args in "--notes" "--notes --info notes.wav" "--notes --fft-size 100 notes.wav"; do
    # shellcheck disable=SC2086
    "$bin" $args >stdout.txt 2>stderr.txt
    expect_eq "usage error '$args': exit 1" 1 $?
    expect_eq "usage error '$args': no output" "" "$(cat stdout.txt)"
done

# Times are exact to the millisecond on a long file (8-bit mono at 1000 Hz: a byte a millisecond).
python3 -c '
import struct
n = 1300000
fmt = struct.pack("<HHIIHH", 1, 1, 1000, 1000, 1, 8)
body = b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", n) + bytes([128]) * n
open("long.wav", "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)'
times="$("$bin" --fft-size 256 --offset 1234567 --step 1 --count 4 long.wav | grep -o '"time":[0-9.]*' | tr '\n' ' ')"
expect_eq "long file times" '"time":1234.567 "time":1234.568 "time":1234.569 "time":1234.57 ' "$times"
expect_eq "long file csv time" "1200023,1200.023,false" \
    "$("$bin" --csv --fft-size 256 --offset 1200023 --count 1 long.wav | tail -1 | cut -d, -f1-3)"

if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all sonabi-analyze analysis checks passed"
