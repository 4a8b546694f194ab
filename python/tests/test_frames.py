"""Grid channels against the values the writer stored, bit for bit."""
import numpy as np
import pytest

import korloader as kl
from conftest import same_bits

NX, NY, NZ = 6, 5, 4


@pytest.mark.parametrize("key, name", [
    ("smoke", "smoke"),              # one stream, two passes
    (1, "temperature"),              # zones
    ("velocity.x", "velocity.x"),
    (5, "velocity.y"),
    ("velocity.z", "velocity.z"),
])
def test_stored_channels_come_back_bit_for_bit_in_cell_order(frames, key, name):
    f = kl.open(frames.path("grid.kor"))
    values = f.channel(key)
    # The writer stores cell (i, j, k) at i + nx*j + nx*ny*k: as (nz, ny, nx) in C order.
    assert same_bits(values, frames.expected(f"grid.{name}", np.float32).reshape(NZ, NY, NX))
    assert values.flags.c_contiguous and f[key] is not values and same_bits(f[key], values)


def test_axes_index_as_k_j_i(frames):
    temperature = kl.open(frames.path("grid.kor")).channel("temperature")
    assert temperature[3, 4, 5] == 300 + 5 * 4 + 2.5 * 3  # cell (5, 4, 3)


def test_derived_channels_bit_for_bit(frames):
    f = kl.open(frames.path("grid.kor"))
    vx, vy, vz = (frames.expected(f"grid.velocity.{axis}", np.float32) for axis in "xyz")
    assert same_bits(f.channel("speed").ravel(), np.sqrt(vx * vx + vy * vy + vz * vz))
    bgra = frames.expected("grid.bgra", np.uint8).reshape(-1, 4)
    for name, byte in (("colour.r", 2), ("colour.g", 1), ("colour.b", 0)):
        assert same_bits(f.channel(name).ravel(), bgra[:, byte].astype(np.float32) / np.float32(255))


def test_frame_describes_its_grid(frames):
    path = frames.path("grid.kor")
    f = kl.open(path)
    assert (f.path, f.mapping, f.dims, f.shape) == (path, "", (NX, NY, NZ), (NZ, NY, NX))
    assert f.transform.dtype == np.float32
    assert f.transform.tolist() == [[0.5, 0, 0], [0, 0.25, 0], [0, 0, 2], [1, 2, 3]]
    assert f.channel_ids() == [1, 2, 3, 4, 5, 6, 7, 8, 9]
    assert f.channel_names() == ["temperature", "smoke", "speed", "velocity.x", "velocity.y", "velocity.z",
                                 "colour.r", "colour.g", "colour.b"]
    assert kl.version() == kl.__version__ == "3.4.0"


def test_a_channel_is_a_read_only_view_of_the_shared_frame(frames):
    a = kl.open(frames.path("grid.kor")).channel("smoke")
    b = kl.open(frames.path("grid.kor"))["smoke"]
    # Both frames are the library's one shared frame; its channel decoded once.
    assert np.shares_memory(a, b) and a.base is not None
    assert not a.flags.writeable
    with pytest.raises(ValueError):
        a[0, 0, 0] = 1
    with pytest.raises(ValueError):
        a.setflags(write=True)
