"""The mixer's tone of a profile against the tones the window saved (tests/data/tones)."""

import glob
import json
import os

import numpy as np
import pytest

import sonabi

TONES = os.environ.get("SONABI_TONES") or os.path.join(
    os.path.dirname(__file__), "..", "..", "tests", "data", "tones")
PROFILES = sorted(glob.glob(os.path.join(TONES, "*.json")))


@pytest.mark.parametrize("path", PROFILES, ids=os.path.basename)
def test_tone_equals_the_windows_mixer_tone_sample_for_sample(path):
    saved = sonabi.read(path[:-len(".json")] + ".wav")
    assert (saved.rate, saved.channels, saved.bits) == (44100, 1, 16)
    with open(path) as f:
        profile = json.load(f)
    for given in (profile, path):
        tone = sonabi.tone(given)
        assert tone.dtype == np.int16 and tone.ndim == 1
        np.testing.assert_array_equal(tone, saved.samples[:, 0])
    assert len(tone) == round(profile["length"] * 44100)


def test_found_profile_plays_and_other_rates_keep_below_half_the_rate():
    assert len(PROFILES) >= 3
    t = np.arange(44100) / 44100
    x = (0.3 * np.sin(2 * np.pi * 330 * t) + 0.1 * np.sin(2 * np.pi * 660 * t + 1)) * 32767
    p = sonabi.profile(x.astype(np.int16), 44100)
    assert p["fundamental"] == 330 and p["levels"][1] > 0
    tone = sonabi.tone(p, rate=8000)
    assert len(tone) == 4000
    # At 8000 Hz the third harmonic of 1500 Hz lies above half the rate and is silent.
    p.update(fundamental=1500, levels=[0, 0, 100] + [0] * 17)
    assert not np.any(sonabi.tone(p, rate=8000))
    assert np.any(sonabi.tone(p, rate=44100))
