"""The README's Dask recipe over generated files, every row checked against the analyser."""

import os
import time

import numpy as np
import pandas as pd
import pytest

import sonabi
from conftest import analyzer_csv, assert_rows_match, coded, note_samples, write_wav

dask = pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")

FILES = int(os.environ.get("SONABI_DASK_FILES", "60"))


def test_dask_cluster_analyses_many_files_as_the_analyser(tmp_path):
    import dask.bag
    from distributed import Client, LocalCluster

    paths = [write_wav(tmp_path / f"n{i:03d}.wav",
                       coded(note_samples(110 * 2 ** (i / 12), 1.0 + (i % 4) * 0.25, seed=i), 16),
                       44100) for i in range(FILES)]
    # Worker processes import the module from where this one did.
    os.environ["PYTHONPATH"] = os.path.dirname(os.path.dirname(sonabi.__file__)) + \
        os.pathsep + os.environ.get("PYTHONPATH", "")
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        start = time.perf_counter()
        results = client.gather(client.map(sonabi.analyze_file, paths))
        seconds = time.perf_counter() - start
        bag = dask.bag.from_sequence(paths, npartitions=4).map(sonabi.analyze_file).compute()
    table = pd.concat([pd.DataFrame(rows).assign(file=path) for path, rows in zip(paths, results)],
                      ignore_index=True)
    lines = analyzer_csv(paths)
    assert len(table) == len(lines) > FILES * 50
    for path, rows, again in zip(paths, results, bag):
        mine = [line.split(",", 1)[1] for line in lines if line.startswith(path + ",")]
        assert_rows_match(rows, mine)
        for column in sonabi.COLUMNS:
            np.testing.assert_array_equal(rows[column], again[column])
    assert set(table.columns) == set(sonabi.COLUMNS) | {"file"}
    audio_hours = sum(sonabi.read(p).frames for p in paths) / 44100 / 3600
    print(f"\ndask: {FILES} files, {audio_hours / (seconds / 60):.2f} hours of audio per minute "
          f"({seconds:.2f} s)")
