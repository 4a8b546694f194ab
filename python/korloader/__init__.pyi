"""Frames and particle groups of fluid simulation caches as numpy arrays."""
import os
from types import TracebackType
from typing import Iterable, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_Key = Union[int, str]

__version__: str

class KorError(OSError):
    """The library refused a file, or a channel does not decode."""

    status: Optional[int]
    """The load status of a refused open (3 no usable file, 4 damaged or
    truncated, 2 import module not ready, 9 no mapping, others the module's
    own codes); None for a channel that does not decode."""
    log: list[str]
    """The library's log lines for that call."""
    def __init__(
        self, message: str, filename: Optional[str] = None, status: Optional[int] = None, log: Iterable[str] = ()
    ) -> None: ...

class Group:
    """One particle group of a frame; it keeps the frame alive."""

    @property
    def name(self) -> str: ...
    def __len__(self) -> int:
        """The number of particles (0 when the group has no positions)."""
    def channel_ids(self) -> list[int]: ...
    def channel_names(self) -> list[str]:
        """"position", "velocity", "size", "age", "colour", "id", or the id as text."""
    def channel(self, key: _Key) -> npt.NDArray[Union[np.float32, np.int64, np.uint32]]:
        """A new (n, components) array: float32, int64 or uint32 by type code,
        raw uint32 words (n, size / 4) for a channel without a type.
        KeyError when absent, KorError when it does not decode."""
    def find_id(self, pid: int) -> int:
        """The index of the particle with this ID, or -1."""

class Frame:
    """An open frame (korloader.open()); a context manager."""

    @property
    def path(self) -> str: ...
    @property
    def mapping(self) -> str: ...
    @property
    def dims(self) -> tuple[int, int, int]:
        """(nx, ny, nz)."""
    @property
    def shape(self) -> tuple[int, int, int]:
        """(nz, ny, nx), the numpy shape of a channel."""
    @property
    def transform(self) -> npt.NDArray[np.float32]:
        """float32 (4, 3): rows a, b, c (the axes), then the offset."""
    @property
    def groups(self) -> list[Group]:
        """The groups that hold positions, in index order."""
    @property
    def closed(self) -> bool: ...
    def channel_ids(self) -> list[int]: ...
    def channel_names(self) -> list[str]:
        """"temperature", "smoke", "speed", "velocity.x", ..., or the id as text."""
    def channel(self, key: _Key) -> npt.NDArray[np.float32]:
        """A read-only zero-copy float32 view (nz, ny, nx); a[k, j, i] is cell
        (i, j, k). KeyError when absent, KorError when it does not decode."""
    def __getitem__(self, key: _Key) -> npt.NDArray[np.float32]: ...
    def group(self, name: str) -> Group:
        """The first group with this name; KeyError when absent."""
    def close(self) -> None: ...
    def __enter__(self) -> "Frame": ...
    def __exit__(
        self,
        exc_type: Optional[type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None: ...

def version() -> str:
    """The library's version, "3.4.0"."""

def open(path: _Path, mapping: Optional[str] = None) -> Frame:
    """Opens a frame. FileNotFoundError when absent, KorError when refused."""

def init_plugins(
    dirs: Union[None, _Path, Iterable[_Path]] = None,
    suffix: Optional[str] = None,
    axis_mode: int = 0,
) -> int:
    """Loads the import modules; bit 0 Field3D ready, bit 1 OpenVDB ready."""

def default_module_dirs() -> list[str]:
    """The directories init_plugins() searches when given none."""

def grid_names(path: _Path) -> list[tuple[str, bool]]:
    """[(name, is_vector_flag)] of an OpenVDB/Field3D file or sequence template."""

def default_mapping(path: _Path) -> str:
    """The default channel mapping string of a file or sequence template."""

def compose_mapping(pairs: Sequence[tuple[int, str]]) -> str:
    """[(2, "density"), ...] -> "2,density;..."."""

def decompose_mapping(mapping: str) -> list[tuple[int, str]]:
    """"2,density;..." -> [(2, "density"), ...]."""

def frames(template: _Path) -> list[int]:
    """The frame numbers of the existing files of a sequence template, ascending."""
