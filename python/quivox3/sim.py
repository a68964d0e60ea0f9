"""The simulated video servers of the stand-in TINE layer.

Without set-up one camera exists: /SIM/VIDEO/CAM1, property "Frame",
640 x 480 GRAY, 2 bytes per pixel, 12 effective bits, frame numbers from 1.
Its test pattern carries the frame number in the top rows
(:func:`pattern_frame_number`).
"""

from __future__ import annotations

from typing import Any

import numpy as np

from . import _quivox3
from ._sequence import Frame, array_bunch

if not _quivox3.HAS_SIM:
    raise ImportError("quivox3 was built against a real TINE library: no simulated servers")

FORMATS = {"gray8": 0, "gray16": 1, "rgb24": 2, "jpeg_gray": 3, "jpeg_rgb": 4}


def reset() -> None:
    """Back to the default camera only, with no scripts and no open links."""
    _quivox3.sim_reset()


def add_camera(address: str, prop: str = "Frame", width: int = 640, height: int = 480,
               format: str = "gray16", effective_bits: int | None = None) -> None:
    """Adds (or redefines) an image property, creating its server.

    format: "gray8", "gray16", "rgb24", "jpeg_gray" or "jpeg_rgb".
    """
    if format not in FORMATS:
        raise ValueError(f"format must be one of {sorted(FORMATS)}")
    _quivox3.sim_add_image_property(address, prop, width, height, FORMATS[format])
    if effective_bits is not None:
        _quivox3.sim_set_effective_bits(address, prop, effective_bits)


def remove_server(address: str) -> None:
    _quivox3.sim_remove_server(address)


def replay(address: str, prop: str, frames: np.ndarray, *, keep_frame_numbers: bool = False,
           **header: Any) -> None:
    """The property delivers copies of these frames in a loop.

    frames: (n, height, width) uint8/uint16 or (n, height, width, 3) uint8
    (as for quivox3.save); header fields as for quivox3.save.
    """
    _quivox3.sim_replay(address, prop, array_bunch(frames, header), keep_frame_numbers)


def set_frame_numbering(address: str, prop: str = "Frame", start: int = 1, step: int = 1,
                        repeats: int = 0) -> None:
    """Frame k carries start + step * (k // (repeats + 1))."""
    _quivox3.sim_set_frame_numbering(address, prop, start, step, repeats)


def set_silent(address: str, silent: bool = True) -> None:
    """A silent server answers nothing: reads time out, links deliver nothing."""
    _quivox3.sim_set_silent(address, silent)


def stop_link_after(address: str, prop: str, frames: int) -> None:
    """Links stop delivering after this many frames (-1: never)."""
    _quivox3.sim_set_link_stop_after(address, prop, frames)


def pattern_frame_number(frame: Frame) -> int:
    """The frame number the test pattern carries in the frame's pixels
    (-1 when the frame cannot carry one, e.g. JPEG-coded)."""
    return int(_quivox3.sim_pattern_frame_number(frame._bunch, frame._index))
