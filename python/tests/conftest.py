"""Frames for the tests, written by the test-only writer kor_python_test_frames.

ctest sets KOR_TEST_FRAME_WRITER (the writer), KOR_TEST_DATA_DIR (the
repository's tests/data) and KOR_TEST_MODULES (bit 0: the Field3D module is
built, bit 1: the OpenVDB module), and PYTHONPATH to the package under test.
"""
import os
import pathlib
import subprocess

import numpy as np
import pytest

import korloader


class Frames:
    """The writer's frames, and the values each channel must come back as."""

    def __init__(self, directory):
        self.directory = directory

    def path(self, name):
        return str(self.directory / name)

    def expected(self, name, dtype):
        return np.fromfile(self.directory / f"{name}.bin", dtype=dtype)


def pytest_report_header():
    return f"korloader: {korloader.__file__}"


def _environment(name):
    value = os.environ.get(name)
    if not value:
        pytest.fail(f"{name} is not set: run these tests through ctest")
    return value


@pytest.fixture(scope="session")
def frames(tmp_path_factory):
    directory = tmp_path_factory.mktemp("frames")
    subprocess.run([_environment("KOR_TEST_FRAME_WRITER"), str(directory)], check=True)
    return Frames(directory)


@pytest.fixture(scope="session")
def data_dir():
    return pathlib.Path(_environment("KOR_TEST_DATA_DIR"))


def same_bits(actual, expected):
    """True when the two arrays hold the same values, bit for bit."""
    actual, expected = np.asarray(actual), np.asarray(expected)
    return actual.dtype == expected.dtype and actual.shape == expected.shape and actual.tobytes() == expected.tobytes()
