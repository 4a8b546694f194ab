"""Mapping strings, sequence templates and the import modules."""
import os

import numpy as np
import pytest

import korloader as kl


def test_mapping_strings_round_trip():
    pairs = [(2, "density"), (10, "fu,el"), (4, "v" * 3000)]  # a comma; longer than any first buffer
    text = kl.compose_mapping(pairs)
    assert text == "2,density;10,fu,el;4," + "v" * 3000 + ";"
    assert kl.decompose_mapping(text) == pairs
    assert kl.compose_mapping([]) == "" and kl.decompose_mapping("") == []
    with pytest.raises(ValueError):
        kl.compose_mapping([(2, "a;b")])  # would come back as two entries


def test_frames_of_a_sequence_template(tmp_path):
    for name in ("seq_0001.kor", "seq_0002.kor", "seq_3.kor", "seq_-001.kor", "other_0004.kor"):
        (tmp_path / name).touch()
    assert kl.frames(str(tmp_path / "seq_####.kor")) == [-1, 1, 2]
    assert kl.frames(tmp_path / "seq_%04d.kor") == [-1, 1, 2]
    assert kl.frames(str(tmp_path / "seq_0002.kor")) == [2]
    assert kl.frames(str(tmp_path / "absent_####.kor")) == []


def test_field3d_frames_through_the_installed_module(data_dir):
    if not int(os.environ.get("KOR_TEST_MODULES", "0")) & 1:
        pytest.skip("the Field3D module is not built")
    assert kl.init_plugins() & 1  # found in the default module directory
    f3d = data_dir / "f3d"
    assert kl.grid_names(f3d / "seq_####.f3d") == [("density", False), ("fuel", False)]
    mapping = kl.default_mapping(f3d / "dense_smoke.f3d")
    assert "2,density;" in mapping
    with kl.open(f3d / "dense_smoke.f3d") as f:
        assert (f.mapping, f.shape) == (mapping, (16, 20, 24))
        k, j, i = np.indices(f.shape)
        density = np.maximum(0, 48 - ((i - 7) ** 2 + (j - 7) ** 2 + (k - 7) ** 2)) / 64
        assert np.array_equal(f.channel("smoke"), density.astype(np.float32))
