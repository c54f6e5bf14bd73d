"""Bad input raises a clear exception and never crashes; a fuzz of the array entry point.

SONABI_FUZZ_EXAMPLES sets the fuzz's examples (each makes several calls); CI runs a few hundred,
a long run by hand: SONABI_FUZZ_EXAMPLES=20000 python3 -m pytest -k fuzz
"""

import json
import os

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import sonabi
from conftest import coded, note_samples, write_wav

CALLS = [0]


@pytest.mark.parametrize("source, rate, error, text", [
    (np.zeros((10, 2, 2), np.int16), 44100, ValueError, "3-D"),
    (np.zeros(4096, np.int64), 44100, TypeError, "int16"),
    (np.zeros(4096, np.complex64), 44100, TypeError, "int16"),
    (np.zeros(4096, np.float16), 44100, TypeError, "int16"),
    (np.zeros(4096, bool), 44100, TypeError, "int16"),
    (np.array(["a", "b"]), 44100, TypeError, "int16"),
    (np.zeros(4096, np.int16), 0, ValueError, "rate"),
    (np.zeros(4096, np.int16), -5, ValueError, "rate"),
    (np.zeros(4096, np.int16), 2**32, ValueError, "rate"),
    (np.zeros(4096, np.int16), 44100.5, TypeError, "rate"),
    (np.zeros(4096, np.int16), None, TypeError, "rate"),
    (np.array([0.1, float("nan")] * 2048, np.float32), 44100, ValueError, "NaN"),
    (np.array([0.1, float("inf")] * 2048), 44100, ValueError, "NaN"),
    (np.zeros(0, np.int16), 44100, ValueError, "empty"),
    (np.zeros((100, 0), np.int16), 44100, ValueError, "empty"),
    (np.zeros((10, 40000), np.int16), 44100, ValueError, "channels"),
    ("no/such/file.wav", None, sonabi.SoundFileError, "No File"),
])
def test_bad_arrays_and_rates_raise(source, rate, error, text):
    with pytest.raises(error, match=text):
        sonabi.analyze(source, rate)


def test_bad_options_raise():
    x = np.zeros(4096, np.int16)
    for options, error in [({"fft_size": 300}, ValueError), ({"fft_size": True}, ValueError),
                           ({"step": 0}, ValueError), ({"step": 1.5}, TypeError),
                           ({"offset": -1}, ValueError), ({"offset": 2**33}, ValueError),
                           ({"count": -1}, ValueError), ({"span": 0}, ValueError),
                           ({"span": float("nan")}, ValueError), ({"low_cut": -1}, ValueError),
                           ({"threshold": "5"}, TypeError), ({"a4": 400}, ValueError),
                           ({"threads": 0}, ValueError)]:
        with pytest.raises(error):
            sonabi.analyze(x, 44100, **options)
    with pytest.raises(TypeError):
        sonabi.analyze(x, 44100, bogus=1)
    with pytest.raises(TypeError, match="rate"):
        sonabi.analyze("a.wav", 44100)
    # A step whose bytes pass what a WAV file holds is the analyser's usage error.
    with pytest.raises(ValueError, match="bad --step"):
        sonabi.analyze(np.zeros((4096, 8), np.int32), 44100, step=2**32)


def test_refused_files_raise_the_loaders_text(tmp_path):
    (tmp_path / "empty.wav").write_bytes(b"")
    (tmp_path / "nofmt.wav").write_bytes(b"RIFF\x04\x00\x00\x00WAVE")
    (tmp_path / "junk.flac").write_bytes(b"not a sound at all")
    for path, text in [(tmp_path, None), (tmp_path / "empty.wav", None),
                       (tmp_path / "nofmt.wav", "No fmt"), (tmp_path / "junk.flac", "No audio")]:
        for call in (sonabi.read, sonabi.analyze, sonabi.profile):
            with pytest.raises(sonabi.SoundFileError, match=text) as caught:
                call(path)
            assert isinstance(caught.value, OSError) and isinstance(caught.value, ValueError)
    with pytest.raises(sonabi.SoundFileError, match="gone.wav: No File"):
        sonabi.analyze_files([write_wav(tmp_path / "ok.wav", np.zeros(4096, np.int16), 44100),
                              str(tmp_path / "gone.wav")])
    with pytest.raises(TypeError):
        sonabi.read(42)


def test_bad_profiles_raise_profile_error(tmp_path):
    good = sonabi.profile(coded(note_samples(220, 0.5), 16), 44100)
    assert len(sonabi.tone(good)) == 22050
    for change, text in [(lambda p: p.pop("phases"), "phases"),
                         (lambda p: p.pop("fundamental"), "fundamental"),
                         (lambda p: p.update(volume=301), "volume"),
                         (lambda p: p.update(levels=p["levels"][:19]), "levels"),
                         (lambda p: p.update(length=0.55), "length"),
                         (lambda p: p.update(phases=[float("nan")] * 20), "not a profile"),
                         (lambda p: p.update(extra=1), "extra")]:
        bad = json.loads(json.dumps(good))
        change(bad)
        with pytest.raises(sonabi.ProfileError, match=text):
            sonabi.tone(bad)
    (tmp_path / "p.json").write_text("{}")
    with pytest.raises(sonabi.ProfileError):
        sonabi.tone(tmp_path / "p.json")
    with pytest.raises(sonabi.ProfileError):
        sonabi.tone(tmp_path / "missing.json")
    with pytest.raises(ValueError):
        sonabi.tone(good, rate=0)
    with pytest.raises(TypeError):
        sonabi.tone(12)


DTYPES = [np.uint8, np.int16, np.int32, np.float32, np.float64, np.int8, np.int64, np.uint16,
          np.float16, bool, np.complex64]


@st.composite
def arrays(draw):
    dtype = np.dtype(draw(st.sampled_from(DTYPES)))
    if draw(st.booleans()):
        dtype = dtype.newbyteorder(">")
    ndim = draw(st.integers(0, 3))
    shape = tuple(draw(st.integers(0, 3000 if i == 0 else 4)) for i in range(ndim))
    size = int(np.prod(shape)) if shape else 1
    if size > 6000:
        shape = shape[:1]
        size = shape[0]
    seed = draw(st.integers(0, 2**32 - 1))
    rng = np.random.default_rng(seed)
    kind = draw(st.sampled_from(["noise", "sine", "zeros", "special"]))
    if kind == "sine":
        base = np.sin(np.arange(size) * draw(st.floats(0.001, 3.0)))
    elif kind == "zeros":
        base = np.zeros(size)
    elif kind == "special":
        base = rng.choice([0.0, 1.0, -1.0, 1e30, -1e30, np.nan, np.inf, 255.0], size)
    else:
        base = rng.normal(0, draw(st.sampled_from([1e-3, 0.3, 1.0, 1e4])), size)
    with np.errstate(all="ignore"):
        if dtype.kind in "ui":
            info = np.iinfo(dtype)
            base = np.nan_to_num(base * info.max, posinf=info.max, neginf=info.min)
            a = np.clip(base, info.min, info.max).astype(dtype)
        else:
            a = base.astype(dtype)
    a = a.reshape(shape)
    if a.ndim >= 1 and draw(st.booleans()):
        step = draw(st.integers(-3, 3).filter(lambda s: s != 0))
        a = a[::step]
    return a


@settings(max_examples=int(os.environ.get("SONABI_FUZZ_EXAMPLES", "300")), deadline=None,
          database=None, suppress_health_check=list(HealthCheck))
@given(a=arrays(), rate=st.one_of(st.integers(-10, 2**33), st.sampled_from([8000, 44100, 1])),
       fft=st.sampled_from([None, 256, 512, 1024, 2048]),
       step=st.one_of(st.none(), st.integers(1, 5000)), offset=st.integers(0, 20000),
       count=st.one_of(st.none(), st.integers(0, 50)),
       low_cut=st.one_of(st.none(), st.floats(0, 1e6)))
def test_fuzz_array_entry_point_never_crashes(a, rate, fft, step, offset, count, low_cut):
    options = {"fft_size": fft, "step": step, "offset": offset, "count": count,
               "low_cut": low_cut, "threads": 1}
    for call in (lambda: sonabi.analyze(a, rate, **options),
                 lambda: sonabi.profile(a, rate, **options),
                 lambda: sonabi.analyze(a, rate, fft_size=fft, threads=2)):
        CALLS[0] += 1
        try:
            result = call()
        except (TypeError, ValueError):
            continue
        if isinstance(result, np.ndarray):
            assert result.dtype.names == sonabi.COLUMNS
            assert np.all(result["level"] >= 0)


def teardown_module():
    print(f"\nfuzz: {CALLS[0]} calls of the array entry point")
