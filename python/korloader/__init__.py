"""Frames and particle groups of fluid simulation caches as numpy arrays.

    import korloader as kl
    with kl.open("/caches/smoke_0012.kor") as f:
        smoke = f.channel("smoke")          # float32 (nz, ny, nx), a read-only view
        sparks = f.group("sparks").channel("position")   # float32 (n, 3)

OpenVDB and Field3D frames are read through the import modules: call
init_plugins() once, then open them like .kor files.
"""
import os as _os

from . import _layout
from ._korloader import (
    Frame,
    Group,
    KorError,
    compose_mapping,
    decompose_mapping,
    default_mapping,
    frames,
    grid_names,
    open,
    version,
)
from ._korloader import _init_plugins

__all__ = [
    "Frame",
    "Group",
    "KorError",
    "compose_mapping",
    "decompose_mapping",
    "default_mapping",
    "default_module_dirs",
    "frames",
    "grid_names",
    "init_plugins",
    "open",
    "version",
]
__version__ = version()


def default_module_dirs():
    """The directories that init_plugins() searches when given none, in order.

    First the module directory of the installation this package belongs to
    (found relative to the package, so a moved or unpacked tree works, and so
    does the build tree), then the directory the build was configured to
    install to. Only directories that exist are listed.
    """
    site = _os.path.dirname(_os.path.dirname(_os.path.abspath(__file__)))
    candidates = [
        _os.path.normpath(_os.path.join(site, _layout.MODULE_DIR_FROM_SITE)),
        _layout.MODULE_DIR_CONFIGURED,
    ]
    found = []
    for directory in candidates:
        if _os.path.isdir(directory) and directory not in found:
            found.append(directory)
    return found


def init_plugins(dirs=None, suffix=None, axis_mode=0):
    """Loads the OpenVDB and Field3D import modules (initalizeKoraLoader).

    dirs: directories to search, a list of paths or one ';'-separated str;
    None searches default_module_dirs(). suffix: the modules' name suffix
    (vdbplug_<suffix>); None means the installed modules' suffix ("kor3"),
    "" the plain names vdbplug and f3dplug, loaded through the system's
    library search (as they are when no directory is given or found).
    axis_mode: 1 turns the axes of OpenVDB frames, 2 those of Field3D frames.

    Returns the bits of the modules that are ready: 1 Field3D, 2 OpenVDB
    (3: both). A module is loaded at most once per process.
    """
    if dirs is None:
        entries = [_os.fsencode(directory) for directory in default_module_dirs()]
    elif isinstance(dirs, (str, bytes)) or hasattr(dirs, "__fspath__"):
        entries = [entry for entry in _os.fsencode(dirs).split(b";") if entry]
    else:
        entries = [_os.fsencode(directory) for directory in dirs]
        if any(b";" in entry for entry in entries):
            raise ValueError("a directory in a list cannot hold ';'")
    if suffix is None:
        suffix = _layout.MODULE_SUFFIX
    return _init_plugins(b";".join(entries) if entries else None, suffix, axis_mode)
