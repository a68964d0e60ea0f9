"""quivox3: camera frames as numpy arrays, from grab to file and back.

    >>> import quivox3
    >>> seq = quivox3.grab("/SIM/VIDEO/CAM1", count=5)
    >>> seq.pixels.shape                     # (5, 480, 640), uint16
    >>> quivox3.save(seq, "run.imc2")
    >>> back = quivox3.load("run.imc2")

Failures raise :class:`Error` (with ``code`` and ``reason``); Ctrl-C during
a grab, load or save stops the library's work and raises KeyboardInterrupt.
Long calls release the GIL. :mod:`quivox3.sim` sets up the simulated
servers of the stand-in TINE layer.
"""

from __future__ import annotations

import os
from typing import Any, Callable, Optional, Union

import numpy as np

from . import _quivox3
from ._errors import ArgumentError, Error, FileError, FormatError, TransferError
from ._sequence import Frame, Sequence, array_bunch

__all__ = [
    "grab", "grab_one", "load", "save", "check_format", "library_info", "names",
    "raw_video_servers", "set_verbose", "Sequence", "Frame", "Error", "FileError",
    "TransferError", "ArgumentError", "FormatError", "DEFAULT_ADDRESS",
]

DEFAULT_ADDRESS = "/SIM/VIDEO/CAM1"

Progress = Optional[Callable[[float], Any]]
PathLike = Union[str, "os.PathLike[str]"]

_FORMAT_NAMES = {3: "IMC2", 2: "IMC", 0: "IMM", 1: "BKG"}


def grab(address: str = DEFAULT_ADDRESS, prop: str = "Frame", count: int = 1, *,
         rate_ms: int = 300, mode: str = "TIMER", progress: Progress = None) -> Sequence:
    """Grabs ``count`` consecutive frames through a TINE link.

    Args:
        address: the video server, "/context/server/device".
        prop: the image property.
        count: frames to collect (at least 1).
        rate_ms: the link's delivery interval in milliseconds.
        mode: TINE call mode text, e.g. "TIMER" or "TIMER|CONNECT".
        progress: called with the fraction received (0..1) as it grows.

    Raises:
        TransferError: fewer frames arrived (no delivery for 5 s, link not
            attached); ArgumentError for an unusable address or property.
    """
    bunch = _quivox3.grab(address, prop, int(count), int(rate_ms),
                          _quivox3.mode_from_text(mode), progress)
    return Sequence(bunch)


def grab_one(address: str = DEFAULT_ADDRESS, prop: str = "Frame", *,
             timeout_ms: int = 1000) -> Frame:
    """Reads one frame synchronously, retrying until ``timeout_ms`` passed."""
    return Frame(_quivox3.grab_one(address, prop, int(timeout_ms)), 0)


def load(path: PathLike, progress: Progress = None) -> Sequence:
    """Loads a sequence file, told by content: IMC2/BKC2, IMC/BKC, IMM, BKG,
    HDF5 in the NeXus layout (also such files of other writers: frames at
    /entry/instrument/detector/data or /entry/data/data) or multi-page TIFF.

    The frames of IMC2/BKC2, HDF5 and TIFF files land in one block that
    ``Sequence.pixels`` views without a copy.
    """
    return Sequence(_quivox3.load(os.fspath(path), progress))


def save(frames: Union[Sequence, np.ndarray], path: PathLike, *, progress: Progress = None,
         shuffle: bool = False, **header: Any) -> None:
    """Saves frames to a new file; the name's extension picks the format.

    ``frames`` is a :class:`Sequence` (saved with its headers) or an array:
    (n, height, width) or (height, width) of uint8/uint16 for GRAY frames,
    (n, height, width, 3) or (height, width, 3) of uint8 for RGB. Header
    fields complete an array's headers: x_scale, y_scale, effective_bits,
    x_start, y_start, horizontal_binning, vertical_binning, image_rotation,
    scale_x_offset, scale_y_offset, camera_port_name, camera_port_id,
    flags_value, and per frame frame_numbers, event_numbers and timestamps
    (datetime64 or microseconds since the epoch).

    ".h5", ".hdf5" and ".nxs" write HDF5 in the NeXus layout (``shuffle``
    adds HDF5's byte shuffle before deflate: smaller 16-bit files), ".tif"
    and ".tiff" multi-page TIFF; ".imc", ".bkc", ".imm" and ".bkg" write the
    legacy formats (GRAY only), any other name IMC2/BKC2. An existing IMC2,
    HDF5 or TIFF file is never replaced.
    """
    path = os.fspath(path)
    if isinstance(frames, Sequence):
        if header:
            raise TypeError("header fields complete arrays; a Sequence has its own headers")
        _quivox3.save(frames._bunch, path, bool(shuffle), progress)
        return
    _quivox3.save(array_bunch(frames, header), path, bool(shuffle), progress)


def check_format(path: PathLike) -> str:
    """The sequence format of a file by its content: "IMC2" (also BKC2),
    "IMC" (also BKC), "IMM", "BKG", "HDF5" or "TIFF". Raises FileError for
    anything else."""
    kind = _quivox3.check_format(os.fspath(path))
    return kind if isinstance(kind, str) else _FORMAT_NAMES[kind]


def library_info() -> dict:
    """The library's banner text and version."""
    text, major, minor, patch = _quivox3.library_info()
    return {"text": text, "version": (major, minor, patch)}


def names(system_list: PathLike) -> list:
    """Names of the image sources (cameras) of a system list file, in order."""
    return [name for name, _ in _quivox3.image_source_names(os.fspath(system_list))]


def raw_video_servers(system_list: PathLike) -> tuple:
    """(TINE context, names of the raw video servers) of a system list file."""
    return _quivox3.raw_video_server_names(os.fspath(system_list))


def set_verbose(level: int, log_file: Optional[str] = None) -> None:
    """Where the library's messages go: 0 nowhere, 1 stderr, 2 stdout, 3 a file."""
    _quivox3.set_verbose(level, log_file)
