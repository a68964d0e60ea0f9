"""Frames and sequences: numpy views of the library's frame buffers."""

from __future__ import annotations

from typing import Any, Iterator, Optional, Union, overload

import numpy as np

from . import _quivox3


def array_bunch(frames: np.ndarray, header: dict) -> Any:
    """A bunch viewing the frames of an array (copied only when not
    C-contiguous), its headers completed by the keyword fields of
    quivox3.save: per-frame lists frame_numbers, event_numbers and
    timestamps (datetime64 or microseconds), every other key as it is."""
    fields = {}
    for key, value in header.items():
        if key == "frame_numbers":
            fields["frame_number"] = [int(v) for v in value]
        elif key == "event_numbers":
            fields["event_number"] = [int(v) for v in value]
        elif key == "timestamps":
            stamps = np.asarray(value)
            if np.issubdtype(stamps.dtype, np.datetime64):
                stamps = stamps.astype("datetime64[us]").astype(np.int64)
            fields["timestamp_us"] = [int(v) for v in stamps]
        else:
            fields[key] = value
    return _quivox3.bunch_over_array(np.ascontiguousarray(frames), fields)


class Frame:
    """One image: its pixels as a numpy array and its header.

    ``pixels`` views the frame buffer (read-only, no copy); the memory stays
    alive as long as any array or frame refers to it.
    """

    __slots__ = ("_bunch", "_index")

    def __init__(self, bunch: Any, index: int) -> None:
        self._bunch = bunch
        self._index = index

    @property
    def pixels(self) -> np.ndarray:
        """(height, width) uint8/uint16, or (height, width, 3) uint8 for RGB."""
        return self._bunch.frame(self._index)

    @property
    def header(self) -> dict:
        """Every header field; formats and flags as text."""
        return self._bunch.header(self._index)

    @property
    def frame_number(self) -> int:
        return int(self._bunch.header(self._index)["frame_number"])

    @property
    def event_number(self) -> int:
        return int(self._bunch.header(self._index)["event_number"])

    @property
    def timestamp(self) -> np.datetime64:
        """Time stamp of the frame (UTC), microsecond resolution."""
        h = self._bunch.header(self._index)
        us = h["timestamp_seconds"] * 1_000_000 + h["timestamp_microseconds"]
        return np.datetime64(us, "us")

    @property
    def is_jpeg(self) -> bool:
        return bool(self._bunch.is_jpeg(self._index))

    def __repr__(self) -> str:
        h = self.header
        return (f"<quivox3.Frame #{h['frame_number']} {h['width']}x{h['height']} "
                f"{h['image_format']} {h['bytes_per_pixel']} B/px>")


class Sequence:
    """Frames from a grab or a file.

    ``len()``, indexing and iteration give :class:`Frame` objects.
    ``pixels`` is one (n, height, width[, 3]) array when the frames share
    geometry and format: a view without copy for loaded IMC2/BKC2 files, a
    single copy otherwise (kept for later calls).
    """

    def __init__(self, bunch: Any) -> None:
        self._bunch = bunch
        self._stacked: Optional[np.ndarray] = None

    def __len__(self) -> int:
        return len(self._bunch)

    @overload
    def __getitem__(self, index: int) -> Frame: ...
    @overload
    def __getitem__(self, index: slice) -> list: ...

    def __getitem__(self, index: Union[int, slice]) -> Union[Frame, list]:
        if isinstance(index, slice):
            return [Frame(self._bunch, i) for i in range(*index.indices(len(self)))]
        n = len(self)
        if index < 0:
            index += n
        if not 0 <= index < n:
            raise IndexError("frame index out of range")
        return Frame(self._bunch, index)

    def __iter__(self) -> Iterator[Frame]:
        return (Frame(self._bunch, i) for i in range(len(self)))

    @property
    def pixels(self) -> np.ndarray:
        """All frames as one array (n, height, width) or (n, height, width, 3)."""
        if self._stacked is None:
            self._stacked = self._bunch.stacked()
        return self._stacked

    @property
    def frame_numbers(self) -> np.ndarray:
        return self._bunch.frame_numbers()

    @property
    def event_numbers(self) -> np.ndarray:
        return self._bunch.event_numbers()

    @property
    def timestamps(self) -> np.ndarray:
        """Time stamps as numpy datetime64[us] (UTC)."""
        return self._bunch.timestamps_us().astype("datetime64[us]")

    @property
    def headers(self) -> list:
        return [self._bunch.header(i) for i in range(len(self))]

    @property
    def is_contiguous(self) -> bool:
        """True when ``pixels`` views the frames without a copy."""
        return bool(self._bunch.contiguous())

    def decoded(self) -> "Sequence":
        """A sequence whose JPEG-coded frames are decoded (GRAY or RGB)."""
        return Sequence(self._bunch.decoded())

    def __repr__(self) -> str:
        return f"<quivox3.Sequence of {len(self)} frames>"
