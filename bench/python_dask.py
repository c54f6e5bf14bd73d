#!/usr/bin/env python3
"""Hours of audio analysed per minute by the README's Dask recipe on this machine's cores.

Writes FILES notes of SECONDS s each (16-bit mono, 44100 Hz), then analyses them with
client.map(sonabi.analyze_file) on a LocalCluster of one single-threaded worker process per
core, and, in the same run, with sonabi.analyze_files in this process (all cores), each RUNS
times; prints the medians. Usage: PYTHONPATH=build/release/python bench/python_dask.py
"""

import os
import statistics
import sys
import tempfile
import time
import wave

import numpy as np
from distributed import Client, LocalCluster

import sonabi

FILES = int(os.environ.get("FILES", "100"))
SECONDS = float(os.environ.get("SECONDS", "30"))
RUNS = int(os.environ.get("RUNS", "3"))
RATE = 44100


def write_notes(folder):
    paths = []
    t = np.arange(int(SECONDS * RATE)) / RATE
    for i in range(FILES):
        hz = 110 * 2 ** ((i % 36) / 12)
        x = 0.4 * np.sin(2 * np.pi * hz * t) + 0.2 * np.sin(4 * np.pi * hz * t)
        path = os.path.join(folder, f"n{i:03d}.wav")
        with wave.open(path, "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(RATE)
            w.writeframes((x * 32767).astype("<i2").tobytes())
        paths.append(path)
    return paths


def main():
    workers = os.cpu_count() or 1
    hours = FILES * SECONDS / 3600
    with tempfile.TemporaryDirectory() as folder:
        paths = write_notes(folder)
        os.environ["PYTHONPATH"] = os.path.dirname(os.path.dirname(sonabi.__file__)) + \
            os.pathsep + os.environ.get("PYTHONPATH", "")
        dask_s, local_s = [], []
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            client.gather(client.map(sonabi.analyze_file, paths[:workers]))  # warm the workers
            for run in range(RUNS):
                start = time.perf_counter()
                client.gather(client.map(sonabi.analyze_file, paths, key=[f"r{run}-{p}"
                                                                          for p in paths]))
                dask_s.append(time.perf_counter() - start)
                start = time.perf_counter()
                sonabi.analyze_files(paths)
                local_s.append(time.perf_counter() - start)
    print(f"{FILES} files of {SECONDS:g} s ({hours:.2f} h of audio), {workers} cores, "
          f"median of {RUNS} runs")
    for name, seconds in (("Dask, %d worker processes" % workers, dask_s),
                          ("sonabi.analyze_files", local_s)):
        s = statistics.median(seconds)
        print(f"  {name:28s} {s:7.2f} s  {hours / (s / 60):6.2f} hours of audio per minute")


if __name__ == "__main__":
    sys.exit(main())
