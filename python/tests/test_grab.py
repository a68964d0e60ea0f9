"""Grabs from the simulated servers: the pixels carry the frame number."""
import threading
import time
import _thread

import numpy as np
import pytest

import quivox3
from quivox3 import sim

CASES = [
    # address, format, dtype, extra shape
    ("/SIM/VIDEO/CAM1", None, np.uint16, ()),
    ("/SIM/VIDEO/G8", "gray8", np.uint8, ()),
    ("/SIM/VIDEO/RGB", "rgb24", np.uint8, (3,)),
]


@pytest.mark.parametrize("address,fmt,dtype,extra", CASES)
def test_grab_carries_frame_numbers_in_pixels(address, fmt, dtype, extra):
    if fmt:
        sim.add_camera(address, width=96, height=64, format=fmt)
    sim.set_frame_numbering(address, "Frame", start=40, step=3)
    seq = quivox3.grab(address, count=4, rate_ms=20)
    assert len(seq) == 4
    h, w = (480, 640) if fmt is None else (64, 96)
    assert seq.pixels.shape == (4, h, w) + extra
    assert seq.pixels.dtype == dtype
    assert seq.is_contiguous, "frames of the property's size land in one block"
    assert list(seq.frame_numbers) == [40, 43, 46, 49]
    assert [sim.pattern_frame_number(f) for f in seq] == [40, 43, 46, 49]
    for i, frame in enumerate(seq):
        assert np.array_equal(frame.pixels, seq.pixels[i])
        assert frame.header["camera_port_name"].lower() == address.lower()
    stamps = seq.timestamps
    assert stamps.dtype == np.dtype("datetime64[us]") and np.all(stamps[1:] >= stamps[:-1])


def test_grab_one_and_progress():
    frame = quivox3.grab_one(timeout_ms=2000)
    assert frame.pixels.shape == (480, 640)
    assert sim.pattern_frame_number(frame) == frame.frame_number
    seen = []
    quivox3.grab(count=5, rate_ms=20, progress=seen.append)
    assert seen and seen == sorted(seen) and seen[-1] == 1.0


def test_jpeg_frames_are_decoded_on_request():
    sim.add_camera("/SIM/VIDEO/JPG", width=128, height=64, format="jpeg_gray")
    seq = quivox3.grab("/SIM/VIDEO/JPG", count=3, rate_ms=20)
    assert all(f.is_jpeg for f in seq)
    with pytest.raises(quivox3.FormatError):
        seq.pixels
    decoded = seq.decoded()
    assert decoded.pixels.shape == (3, 64, 128) and decoded.pixels.dtype == np.uint8
    assert [sim.pattern_frame_number(f) for f in decoded] == list(seq.frame_numbers)


def test_silent_server_and_bad_address_raise_with_codes():
    sim.set_silent("/SIM/VIDEO/CAM1")
    with pytest.raises(quivox3.TransferError) as info:
        quivox3.grab_one(timeout_ms=200)
    # The property query comes first, and times out.
    assert info.value.code == -3 and "/SIM/VIDEO/CAM1" in info.value.reason
    assert "timed out" in info.value.reason
    with pytest.raises(quivox3.ArgumentError):
        quivox3.grab("no-slashes", count=1)
    with pytest.raises(quivox3.ArgumentError):
        quivox3.grab(count=1, mode="NOSUCHMODE")


def test_ctrl_c_from_another_thread_stops_a_grab():
    timer = threading.Timer(0.3, _thread.interrupt_main)
    timer.start()
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        quivox3.grab(count=1000, rate_ms=20)
    assert time.monotonic() - start < 3
    timer.join()
    # The library is free for the next grab.
    assert len(quivox3.grab(count=2, rate_ms=20)) == 2


def test_grab_on_a_second_thread_while_the_first_computes():
    result = {}
    worker = threading.Thread(target=lambda: result.update(seq=quivox3.grab(count=10, rate_ms=30)))
    worker.start()
    iterations = 0
    while worker.is_alive():
        iterations += 1  # holds the GIL between bytecodes
    worker.join()
    assert len(result["seq"]) == 10
    assert iterations > 10000, "the grab kept the GIL"
