"""Exceptions raised by quivox3: every failure of the library is one."""

from __future__ import annotations


class Error(Exception):
    """A failure reported by the library.

    Attributes:
        code: the library's result code (negative), as documented in
            quivox3.h for the call that failed.
        reason: the library's reason text, decoded (invalid bytes replaced).
    """

    def __init__(self, code: int, reason: str) -> None:
        super().__init__(f"{reason} [code {code}]")
        self.code = code
        self.reason = reason


class FileError(Error):
    """A file could not be read, written or recognised."""


class TransferError(Error):
    """A grab failed: no frames in time, a link that would not attach."""


class ArgumentError(Error, ValueError):
    """An argument the library refuses (a path, an address, a header)."""


class FormatError(Error, TypeError):
    """Frames that have no array form as they are (JPEG-coded, mixed)."""
