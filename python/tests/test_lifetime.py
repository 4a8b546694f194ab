"""A frame lives as long as its Frame, and every array and group taken from it."""
import gc
import shutil

import numpy as np
import pytest

import korloader as kl
from conftest import same_bits


def test_arrays_and_groups_outlive_their_frame(frames):
    smoke = kl.open(frames.path("grid.kor")).channel("smoke")
    with kl.open(frames.path("grid.kor")) as f:
        temperature = f["temperature"]
        sparks = f.group("sparks")
    assert f.closed
    with pytest.raises(ValueError):
        f.channel("smoke")
    del f
    gc.collect()
    assert same_bits(smoke.ravel(), frames.expected("grid.smoke", np.float32))
    assert same_bits(temperature[1:].ravel(), frames.expected("grid.temperature", np.float32)[30:])
    assert same_bits(sparks.channel("size").ravel(), frames.expected("grid.sparks.size", np.float32))


def test_the_frame_is_given_back_when_its_last_holder_goes(frames, tmp_path):
    # The library shares an open frame: while one is held, opening its path
    # again does not read the file. Rewriting the file shows when it is given back.
    path = tmp_path / "frame.kor"
    shutil.copy(frames.path("grid.kor"), path)

    def smoke_now():
        return kl.open(path)["smoke"].tobytes()

    first = frames.expected("grid.smoke", np.float32).tobytes()
    second = frames.expected("grid_b.smoke", np.float32).tobytes()
    view = kl.open(path).channel("smoke")[2]
    shutil.copy(frames.path("grid_b.kor"), path)
    sparks = kl.open(path).group("sparks")
    assert smoke_now() == first
    del view
    gc.collect()
    assert smoke_now() == first
    del sparks
    gc.collect()
    assert smoke_now() == second
