"""Sonabi's analysis of musical sound for Python.

The very code the Sonabi window and ``sonabi-analyze`` run: the sound file loader, the
window-by-window pitch analysis (fundamental, level, 20 harmonic levels, note and cents), the
harmonic profile of a recording, the harmonic mixer's tone and note names. Results are numpy
arrays; reading, decoding and analysing run without the interpreter's lock, so Python threads
(and Dask workers) run them side by side.

    import sonabi
    rows = sonabi.analyze("a4.wav")  # one row per window, the columns of --csv
    print(len(rows), rows["note"][0], f"{rows['pitch'][0]:.2f}")  # 42 A4 440.00
"""

import math
import numbers
import os

import numpy as np

from . import _sonabi

__all__ = [
    "Sound", "SoundFileError", "ProfileError", "read", "analyze", "analyze_file",
    "analyze_files", "profile", "tone", "note", "COLUMNS",
]

Sound = _sonabi.Sound
SoundFileError = _sonabi.SoundFileError
SoundFileError.__doc__ = (
    "A sound file was refused, with the loader's text: \"No File\", \"No fmt\", \"No audio\", ...")
SoundFileError.__module__ = "sonabi"
ProfileError = _sonabi.ProfileError
ProfileError.__doc__ = "A harmonic profile was refused, with where and what is wrong."
ProfileError.__module__ = "sonabi"

#: The columns of analyze()'s rows, those of ``sonabi-analyze --csv``.
COLUMNS = tuple(_sonabi.row_dtype.names)

_FFT_SIZES = (256, 512, 1024, 2048)
_MAX_BYTES = 1 << 32  # a WAV file's data holds no more


def _integer(name, value, low, high=None):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    value = int(value)
    if value < low or (high is not None and value > high):
        bound = f"{low} .. {high}" if high is not None else f"at least {low}"
        raise ValueError(f"{name} must be {bound}, not {value}")
    return value


def _real(name, value, low, high=None, above=False):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    value = float(value)
    bad = not math.isfinite(value) or (value <= low if above else value < low)
    if bad or (high is not None and value > high):
        bound = (f"{low} .. {high}" if high is not None
                 else f"above {low}" if above else f"{low} or more")
        raise ValueError(f"{name} must be {bound}, not {value}")
    return value


def _options(fft_size, step, offset, count, span, low_cut, threshold, a4, threads):
    """The analyser's options, checked as its command line checks them."""
    if fft_size is not None and (isinstance(fft_size, bool) or fft_size not in _FFT_SIZES):
        raise ValueError(f"fft_size must be None, 256, 512, 1024 or 2048, not {fft_size!r}")
    options = {
        "fft_size": 0 if fft_size is None else int(fft_size),
        "step": 0 if step is None else _integer("step", step, 1, _MAX_BYTES),
        "offset": _integer("offset", offset, 0, _MAX_BYTES),
        "count": None if count is None else _integer("count", count, 0, 2**64 - 1),
        "span": _real("span", span, 0.0, above=True),
        "low_cut": None if low_cut is None else _real("low_cut", low_cut, 0.0),
        "threshold": None if threshold is None else _real("threshold", threshold, 0.0),
        "a4": _real("a4", a4, 415.0, 466.0),
    }
    threads = 0 if threads is None else _integer("threads", threads, 1, 256)
    return options, threads


def _path(source):
    if isinstance(source, (str, os.PathLike)):
        path = os.fspath(source)
        if isinstance(path, bytes):
            path = os.fsdecode(path)
        return path
    return None


def _samples(samples, rate):
    """samples as the array the core reads (C-contiguous, little-endian), and the rate."""
    if rate is None:
        raise TypeError("an array of samples needs its rate (Hz)")
    rate = _integer("rate", rate, 1, 2**32 - 1)
    array = np.asarray(samples)
    if array.dtype.kind not in "uif" or array.dtype.newbyteorder("=") not in (
            np.uint8, np.int16, np.int32, np.float32, np.float64):
        raise TypeError("samples must be uint8, int16, int32 (24- or 32-bit PCM), float32 or "
                        f"float64 (full scale +-1.0), not {array.dtype}")
    if array.ndim not in (1, 2):
        raise ValueError(f"samples must be 1-D (frames) or 2-D (frames x channels), "
                         f"not {array.ndim}-D")
    if array.size == 0:
        raise ValueError("samples are empty")
    # Copied only when the layout must change: strided or big-endian arrays.
    array = np.ascontiguousarray(array, dtype=array.dtype.newbyteorder("<"))
    return array, rate


def _source(source, rate, path_call, sound_call, array_call, options, threads):
    path = _path(source)
    if path is not None:
        if rate is not None:
            raise TypeError("rate is given only with an array of samples")
        return path_call(path, options, threads)
    if isinstance(source, Sound):
        if rate is not None:
            raise TypeError("rate is given only with an array of samples")
        return sound_call(source, options, threads)
    array, rate = _samples(source, rate)
    return array_call(array, rate, options, threads)


def read(path):
    """Read a sound file as the Sonabi window opens it.

    WAV files (PCM 8, 16, 24, 32 bits, float 32 and 64 bits) are read by Sonabi's own reader;
    FLAC, Ogg Vorbis/Opus, MP3, AIFF and the other formats libsndfile knows are decoded.

    Returns a Sound with ``rate`` (Hz), ``channels``, ``bits``, ``encoding`` ("pcm16",
    "float32", "flac", ...), ``frames`` and ``samples``: a numpy array frames x channels of the
    held samples (uint8, int16, int32 or float32/float64; 24-bit samples as int32 with the
    sample in the top 24 bits).

    Raises SoundFileError (an OSError and a ValueError) with the loader's text when the file is
    refused: "No File", "No fmt", "No read", "No Wave", "No audio", ...
    """
    p = _path(path)
    if p is None:
        raise TypeError(f"path must be a str or os.PathLike, not {type(path).__name__}")
    return _sonabi.read(p)


def analyze(source, rate=None, *, fft_size=None, step=None, offset=0, count=None, span=2000.0,
            low_cut=None, threshold=None, a4=440.0, threads=None):
    """Analyse a sound window by window, as ``sonabi-analyze --csv`` does.

    source: a file path, a Sound from read(), or a numpy array of samples (frames, or frames x
    channels) with its ``rate`` in Hz. Arrays of uint8 (8-bit PCM), int16, int32 (32-bit PCM)
    are analysed as those WAV codings, float32/float64 as float WAV data of full scale +-1.0;
    a C-contiguous little-endian array is read where it lies, any other is copied once. With
    two channels the second is analysed, like the window does.

    Options, as the analyser's: fft_size (frames per window: 256, 512, 1024, 2048; default 2048,
    or 256 for a sound shorter than that), step (frames between windows; default half a window),
    offset (bytes of the first window, rounded down to a frame), count (at most this many
    windows), span (Hz, the spectrum's range; the detection searches up to twice it), low_cut
    (Hz; default the window's start-up cut-off), threshold (peak level; default 5.0 for 16-bit
    data, else 0.1), a4 (Hz, 415 .. 466, the notes' reference); threads (default: every core,
    at most 8).

    Returns a numpy structured array, one row per window, with the columns of the CSV (COLUMNS):
    offset (bytes), time (s, to the millisecond), detected, frequency (Hz), level, h1 .. h20
    (0 .. 100), hz (the unrounded fundamental), note ("A4", "C#5"), cents (-49 .. +50) and pitch
    (Hz, refined to the cent). A window without a detection has 0 in the integer columns, NaN in
    hz and pitch and "" as note. ``pandas.DataFrame(rows)`` makes a table of it.

    Raises SoundFileError for a refused file, TypeError for a wrong type and ValueError for a
    value out of range (rate 0, NaN samples, an empty array, 3-D arrays, ...).
    """
    options, threads = _options(fft_size, step, offset, count, span, low_cut, threshold, a4,
                                threads)
    return _source(source, rate, _sonabi.analyze_path, _sonabi.analyze_sound,
                   _sonabi.analyze_array, options, threads)


def analyze_file(path, **options):
    """analyze(path, **options) on one thread: one Dask task per file, one core per worker.

    With Dask: ``dask.bag.from_sequence(paths).map(sonabi.analyze_file).compute()``.
    """
    options.setdefault("threads", 1)
    if _path(path) is None:
        raise TypeError(f"path must be a str or os.PathLike, not {type(path).__name__}")
    return analyze(path, **options)


def analyze_files(paths, *, fft_size=None, step=None, offset=0, count=None, span=2000.0,
                  low_cut=None, threshold=None, a4=440.0, threads=None):
    """Analyse many files on every core, as ``sonabi-analyze FILE...`` spreads them.

    Returns a list with analyze()'s rows for each file, in the order given. Raises
    SoundFileError naming the first file that was refused (after all were tried); options as
    for analyze().
    """
    options, threads = _options(fft_size, step, offset, count, span, low_cut, threshold, a4,
                                threads)
    names = []
    for p in paths:
        name = _path(p)
        if name is None:
            raise TypeError(f"paths must be str or os.PathLike, not {type(p).__name__}")
        names.append(name)
    results = _sonabi.analyze_files(names, options, threads)
    for name, result in zip(names, results):
        if isinstance(result, str):
            raise SoundFileError(f"{name}: {result}")
    return results


def profile(source, rate=None, *, fft_size=None, step=None, offset=0, count=None, span=2000.0,
            low_cut=None, threshold=None, a4=440.0, threads=None):
    """The harmonic profile of a recording, as ``sonabi-analyze --profile`` writes it.

    source and options as for analyze(). The profile is taken from the strongest detected
    window: its harmonic levels, its phases as the mixer's ミキサー button takes them, its
    refined pitch and, to the whole hertz within 1 .. 2000, its fundamental; volume 10 and
    length 0.5 s are the mixer's start-up values.

    Returns a dict with the members of the profile file: "sonabi-profile" (1), "fundamental"
    (Hz), "volume", "length" (s), "levels" (20 ints), "phases" (20 floats, radians) and
    "pitch" (Hz). ``json.dump(p, f)`` writes a file the window loads (Ctrl+Shift+O).
    Raises ValueError("No pitch") when no window has a pitch.
    """
    import json
    options, threads = _options(fft_size, step, offset, count, span, low_cut, threshold, a4,
                                threads)
    text = _source(source, rate, _sonabi.profile_path, _sonabi.profile_sound,
                   _sonabi.profile_array, options, threads)
    return json.loads(text)


def _profile_text(profile):
    import json
    if isinstance(profile, dict):
        try:
            return json.dumps(profile, allow_nan=False)
        except (TypeError, ValueError) as e:
            raise ProfileError(f"not a profile: {e}") from None
    path = _path(profile)
    if path is None:
        raise TypeError("profile must be a dict or the path of a profile file, "
                        f"not {type(profile).__name__}")
    return _sonabi.load_profile(path)


def tone(profile, rate=44100):
    """The harmonic mixer's tone of a profile, as the window's ミキサー button makes it.

    profile: a dict as profile() returns (or json.load gives from a profile file), or the path
    of a profile file. rate: Hz (the window always uses 44100, where the tone equals the
    window's sample for sample). Harmonics at or above half the rate are silent; the tone lasts
    the profile's length, fading out over its last 0.05 s (less for tones of 0.5 s or shorter),
    with its volume cut until no sample of its body passes 28672.

    Returns a 1-D int16 numpy array of length x rate samples. Raises ProfileError for a profile
    with a member missing, out of range or of the wrong type.
    """
    rate = _integer("rate", rate, 1, 768000)
    return _sonabi.tone(_profile_text(profile), rate)


def note(hz, a4=440.0):
    """The equal-tempered note nearest to hz and how far off it lies.

    Returns (name, cents): name as "A4", "C#5" (sharps, octaves numbered from C), cents -49 ..
    +50 above that note, against a4 (Hz, 415 .. 466). note(261.63) == ("C4", 0).
    """
    hz = _real("hz", hz, 0.0, above=True)
    a4 = _real("a4", a4, 415.0, 466.0)
    return _sonabi.note(hz, a4)
