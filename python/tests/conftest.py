"""Test sounds, the built analyser, and the comparison of rows with its CSV."""

import os
import shutil
import struct
import subprocess

import numpy as np
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))


def analyzer():
    path = os.environ.get("SONABI_ANALYZE") or shutil.which("sonabi-analyze")
    if not path:
        pytest.skip("sonabi-analyze not found (set SONABI_ANALYZE)")
    return path


def note_samples(hz, seconds, rate=44100, amplitude=0.4, seed=0, harmonics=(1.0, 0.5, 0.3)):
    """A note with a few harmonics, a quiet stretch in the middle and a little noise, in [-1, 1]."""
    rng = np.random.default_rng(seed)
    t = np.arange(int(seconds * rate)) / rate
    x = sum(a * np.sin(2 * np.pi * hz * (k + 1) * t + k) for k, a in enumerate(harmonics))
    x *= amplitude / max(sum(harmonics), 1e-9)
    quiet = (t > seconds * 0.4) & (t < seconds * 0.55)
    x[quiet] *= 1e-4
    return x + rng.normal(0, 1e-4, t.size)


def coded(x, bits, floating=False):
    """x in [-1, 1] (frames, or frames x channels) as the samples of a WAV coding."""
    if floating:
        return x.astype(np.float32 if bits == 32 else np.float64)
    if bits == 8:
        return np.clip(np.round(x * 127 + 128), 0, 255).astype(np.uint8)
    scale = float(2 ** (bits - 1) - 1)
    return np.clip(np.round(x * scale), -scale, scale).astype(np.int32 if bits > 16 else np.int16)


def write_wav(path, samples, rate, bits=None, floating=None):
    """Writes samples (frames or frames x channels, of a WAV coding's dtype) as a WAV file.
    24-bit files take int32 samples of -2^23 .. 2^23 - 1."""
    a = np.asarray(samples)
    if a.ndim == 1:
        a = a[:, None]
    floating = a.dtype.kind == "f" if floating is None else floating
    bits = bits or a.dtype.itemsize * 8
    if bits == 24:
        b = a.astype("<i4").reshape(-1).view(np.uint8).reshape(-1, 4)[:, :3].tobytes()
    else:
        b = a.astype(a.dtype.newbyteorder("<")).tobytes()
    channels = a.shape[1]
    align = channels * bits // 8
    fmt = struct.pack("<HHIIHHH", 3 if floating else 1, channels, rate, rate * align, align,
                      bits, 0)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + \
        struct.pack("<I", len(b)) + b
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)
    return str(path)


def cli_options(**options):
    names = {"fft_size": "--fft-size", "step": "--step", "offset": "--offset",
             "count": "--count", "span": "--span", "low_cut": "--low-cut",
             "threshold": "--threshold", "a4": "--a4"}
    args = []
    for k, v in options.items():
        if v is not None and k in names:
            args += [names[k], str(v)]
    return args


def analyzer_csv(paths, **options):
    """The analyser's CSV lines for the files (with a file column for several)."""
    out = subprocess.run([analyzer(), "--csv", *cli_options(**options), *paths],
                         check=True, capture_output=True, text=True).stdout
    lines = out.splitlines()
    assert lines[0].startswith(("offset,", "file,offset,"))
    return lines[1:]


def assert_rows_match(rows, lines):
    """Every row equals its CSV line, value for value."""
    assert len(rows) == len(lines)
    for row, line in zip(rows, lines):
        f = line.split(",")
        assert len(f) == 29, line
        assert int(f[0]) == row["offset"], line
        assert float(f[1]) == row["time"], line
        assert f[2] == ("true" if row["detected"] else "false"), line
        if not row["detected"]:
            assert f[3:] == [""] * 26, line
            assert np.isnan(row["hz"]) and np.isnan(row["pitch"]) and row["note"] == ""
            continue
        got = [str(row["frequency"]), str(row["level"])]
        got += [str(row["h%d" % k]) for k in range(1, 21)]
        got += [f"{row['hz']:.2f}", str(row["note"]), str(row["cents"]) if row["note"] else "",
                f"{row['pitch']:.2f}"]
        assert got == f[3:], line


@pytest.fixture
def notes(tmp_path):
    """Three files: a 16-bit mono note, an 8-bit stereo one at 22050 Hz, a 24-bit one."""
    files = [
        write_wav(tmp_path / "a.wav", coded(note_samples(440, 1.5), 16), 44100),
        write_wav(tmp_path / "b.wav",
                  coded(np.stack([note_samples(196, 1.0, 22050),
                                  note_samples(330, 1.0, 22050, seed=1)], axis=1), 8), 22050),
        write_wav(tmp_path / "c.wav", coded(note_samples(98, 1.2, 48000), 24), 48000, bits=24),
    ]
    return files


def readme_example():
    """The README's Python example: its code, and the output its last line's comment gives."""
    readme = os.path.join(HERE, "..", "..", "README.md")
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    code = text.split("```python\nimport sonabi\n", 1)[1].split("```", 1)[0]
    code = "import sonabi\n" + code
    return code, code.rstrip().rsplit("# ", 1)[1]


def write_a4(path):
    """The README's a4.wav: one second of a 440 Hz sine of amplitude 10000, 16-bit mono."""
    t = np.arange(44100)
    return write_wav(path, np.round(10000 * np.sin(2 * np.pi * 440 * t / 44100)).astype(np.int16),
                     44100)
