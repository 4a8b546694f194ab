"""Absent files, refused files, channels that do not decode, absent keys."""
import errno

import numpy as np
import pytest

import korloader as kl


def test_an_absent_file_raises_file_not_found(frames):
    path = frames.path("absent.kor")
    with pytest.raises(FileNotFoundError) as caught:
        kl.open(path)
    assert (caught.value.errno, caught.value.filename) == (errno.ENOENT, path)


@pytest.mark.parametrize("name, status, line", [
    ("cut.kor", 4, "OstrelFrameData::ImportKor broken or bad memory allocation. File is: {path}"),
    ("grid.smoke.bin", 3, None),  # not a cache path
])
def test_a_refused_file_raises_kor_error_with_status_and_log(frames, name, status, line):
    path = frames.path(name)
    with pytest.raises(kl.KorError) as caught:
        kl.open(path)
    error = caught.value
    assert isinstance(error, OSError)
    assert (error.status, error.filename) == (status, path)
    assert str(error).startswith(f"{path}: cannot read (status {status}: ")
    if line is not None:
        assert line.format(path=path) in error.log
        assert all(logged in str(error) for logged in error.log)


def test_a_channel_that_does_not_decode_raises_kor_error(frames):
    f = kl.open(frames.path("bad_channel.kor"))
    for _ in range(2):  # every request tries again
        with pytest.raises(kl.KorError) as caught:
            f.channel("smoke")
        assert (caught.value.status, caught.value.log) == (None, ["Invalid cache file!!!"])
    assert np.all(f.channel("temperature") == 1.5)


def test_absent_channels_raise_key_error(frames):
    f = kl.open(frames.path("grid.kor"))
    for key in ("fuel", 10, "packed_colour", 18, 32, -1, "nonsense"):
        with pytest.raises(KeyError):
            f.channel(key)
    with pytest.raises(TypeError):
        f.channel(2.0)
    sparks = f.group("sparks")
    for key in ("colour", 4, 40):
        with pytest.raises(KeyError):
            sparks.channel(key)
