#!/usr/bin/env python3
"""sonabi.analyze against aubio's Python pitch tracker over the same three minutes of notes.

Windows of 2048 frames every 1024, in one run, interleaved, so all see the same machine load.
aubio reads a float32 array hop by hop (the only type its pitch object takes); sonabi reads the
same float32 array, and the same notes as the int16 samples of a 16-bit WAV file, each without
a copy, on one thread and on every core. Prints the median of each and its ratio to aubio.
Usage: PYTHONPATH=build/release/python bench/python_vs_aubio.py [RUNS]
"""

import statistics
import sys
import time

import aubio
import numpy as np

import sonabi

RATE, SECONDS, WINDOW, HOP = 44100, 180, 2048, 1024


def notes():
    """180 one-second notes, C3 upwards in semitones and round again, with three harmonics."""
    t = np.arange(RATE) / RATE
    out = []
    for i in range(SECONDS):
        hz = 130.81 * 2 ** ((i % 36) / 12)
        x = sum(a * np.sin(2 * np.pi * hz * k * t) for k, a in ((1, 0.5), (2, 0.25), (3, 0.12)))
        out.append(x * np.minimum(1, (RATE - np.arange(RATE)) / 2205))
    return np.concatenate(out).astype(np.float32)


def run_aubio(x):
    p = aubio.pitch("yinfft", WINDOW, HOP, RATE)
    return [p(x[i:i + HOP]) for i in range(0, len(x) - HOP + 1, HOP)]


def timed(f):
    start = time.perf_counter()
    f()
    return time.perf_counter() - start


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    x = notes()
    rows = sonabi.analyze(x, RATE, fft_size=WINDOW, step=HOP)
    assert rows["detected"].mean() > 0.9, rows["detected"].mean()
    pcm = np.round(x * 32767).astype(np.int16)
    runs_of = {
        "aubio yinfft": lambda: run_aubio(x),
        "sonabi float32, 1 thread": lambda: sonabi.analyze(x, RATE, fft_size=WINDOW, step=HOP,
                                                           threads=1),
        "sonabi float32, all cores": lambda: sonabi.analyze(x, RATE, fft_size=WINDOW, step=HOP),
        "sonabi int16, 1 thread": lambda: sonabi.analyze(pcm, RATE, fft_size=WINDOW, step=HOP,
                                                         threads=1),
        "sonabi int16, all cores": lambda: sonabi.analyze(pcm, RATE, fft_size=WINDOW, step=HOP),
    }
    figures = {name: [] for name in runs_of}
    for _ in range(runs):
        for name, run in runs_of.items():
            figures[name].append(timed(run))
    peer = statistics.median(figures["aubio yinfft"])
    print(f"{SECONDS} s of notes at {RATE} Hz, {len(rows)} windows of {WINDOW} every {HOP}, "
          f"median of {runs} runs")
    for name, seconds in figures.items():
        s = statistics.median(seconds)
        print(f"  {name:26s} {s * 1000:8.1f} ms  {SECONDS / s:7.0f}x real time  "
              f"{peer / s:5.2f}x aubio")


if __name__ == "__main__":
    main()
