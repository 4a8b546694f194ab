"""Particle groups: copies in the channel's own type, bit for bit."""
import numpy as np
import pytest

import korloader as kl
from conftest import same_bits

SPARKS = 37


def test_group_channels_come_back_bit_for_bit(frames):
    g = kl.open(frames.path("grid.kor")).group("sparks")
    assert (g.name, len(g)) == ("sparks", SPARKS)
    assert g.channel_ids() == [0, 1, 2, 3, 10, 12, 20]
    assert g.channel_names() == ["position", "velocity", "size", "age", "id", "12", "20"]
    # One channel per compression method; 12 is uint32, 20 has no type (raw words).
    layouts = {"position": (np.float32, 3), "velocity": (np.float32, 3), "size": (np.float32, 1),
               "age": (np.float32, 1), "id": (np.int64, 1), 12: (np.uint32, 1), 20: (np.uint32, 1)}
    for key, (dtype, columns) in layouts.items():
        expected = frames.expected(f"grid.sparks.{key}", dtype).reshape(SPARKS, columns)
        assert same_bits(g.channel(key), expected), key
    copy = g.channel("position")
    copy[0, 0] = 99
    assert g.channel("position")[0, 0] == 0


def test_find_id_with_ids_out_of_order(frames):
    g = kl.open(frames.path("grid.kor")).group("sparks")
    ids = g.channel("id")[:, 0]
    assert not np.all(ids[:-1] <= ids[1:])
    assert [g.find_id(int(pid)) for pid in ids] == list(range(SPARKS))
    assert g.find_id(int(ids.max()) + 1) == -1


def test_velocity_served_from_the_grid(frames):
    f = kl.open(frames.path("grid.kor"))
    drift = f.group("drift")
    assert drift.channel_names() == ["position", "velocity"]
    # At whole cells the sample is the cell's own value.
    cells = frames.expected("grid.drift.position", np.float32).reshape(-1, 3).astype(int)
    grid = [f.channel(f"velocity.{axis}") for axis in "xyz"]
    expected = np.array([[grid[c][k, j, i] for c in range(3)] for i, j, k in cells], dtype=np.float32)
    assert same_bits(drift.channel("velocity"), expected)


def test_groups_without_positions_are_found_by_name_only(frames):
    f = kl.open(frames.path("grid.kor"))
    assert [g.name for g in f.groups] == ["sparks", "drift"]
    hidden = f.group("hidden")
    assert len(hidden) == 0 and hidden.channel("size").shape == (0, 1)
    with pytest.raises(KeyError):
        f.group("absent")
