"""Files: round trips of every format, arrays that outlive their sequence,
and errors for missing, truncated and hostile files."""
import gc

import numpy as np
import pytest

import quivox3
from conftest import gray_stack

FORMATS = [  # extension, name by content, frames, dtype
    (".imc2", "IMC2", 3, "uint16"),
    (".bkc2", "IMC2", 2, "uint8"),
    (".imc", "IMC", 3, "uint16"),
    (".bkc", "IMC", 3, "uint8"),
    (".imm", "IMM", 3, "uint16"),
    (".bkg", "BKG", 1, "uint8"),
    (".h5", "HDF5", 3, "uint16"),
    (".nxs", "HDF5", 2, "uint8"),
    (".tif", "TIFF", 3, "uint16"),
    (".tiff", "TIFF", 2, "uint8"),
]


@pytest.mark.parametrize("ext,name,n,dtype", FORMATS)
def test_round_trip_of_every_format(tmp_path, ext, name, n, dtype):
    frames = gray_stack(n=n, dtype=dtype, seed=len(ext))
    path = tmp_path / ("run" + ext)
    quivox3.save(frames, path, x_scale=0.5, y_scale=0.5)
    assert quivox3.check_format(path) == name
    back = quivox3.load(path)
    assert np.array_equal(back.pixels, frames)
    assert back.pixels.dtype == frames.dtype
    h = back[0].header
    assert (h["width"], h["height"], h["bytes_per_pixel"]) == (48, 32, frames.itemsize)


def test_imc2_keeps_every_header_field(tmp_path):
    frames = gray_stack(n=4)
    stamps = np.array(["2026-01-02T03:04:05.250000", "2026-01-02T03:04:06", "2027-05-06T00:00:00",
                       "2038-01-20T00:00:00.000001"], dtype="datetime64[us]")
    quivox3.save(frames, tmp_path / "h.imc2", frame_numbers=[7, 8, 10, 12],
                 event_numbers=[1, 2, 3, 4], timestamps=stamps, x_scale=0.25, y_scale=0.125,
                 effective_bits=12, camera_port_name="/CTX/SRV/DEV", camera_port_id=9,
                 horizontal_binning=2)
    back = quivox3.load(tmp_path / "h.imc2")
    assert list(back.frame_numbers) == [7, 8, 10, 12]
    assert list(back.event_numbers) == [1, 2, 3, 4]
    assert np.array_equal(back.timestamps, stamps)
    again_path = tmp_path / "again.imc2"
    quivox3.save(back, again_path)
    again = quivox3.load(again_path)
    assert again.headers == back.headers
    h = back[2].header
    assert (h["x_scale"], h["y_scale"], h["effective_bits"]) == (0.25, 0.125, 12)
    assert (h["camera_port_name"], h["camera_port_id"], h["horizontal_binning"]) == \
        ("/CTX/SRV/DEV", 9, 2)


def test_rgb_round_trip_and_legacy_refusal(tmp_path):
    rgb = np.random.default_rng(3).integers(0, 256, size=(2, 20, 30, 3), dtype=np.uint8)
    quivox3.save(rgb, tmp_path / "c.imc2")
    back = quivox3.load(tmp_path / "c.imc2")
    assert back.pixels.shape == (2, 20, 30, 3) and np.array_equal(back.pixels, rgb)
    assert back[0].header["image_format"] == "RGB"
    with pytest.raises(quivox3.ArgumentError) as info:
        quivox3.save(rgb, tmp_path / "c.imm")
    assert info.value.code == -16


def test_loaded_pixels_are_views_that_outlive_the_sequence(tmp_path):
    frames = gray_stack(n=5, height=64, width=64)
    quivox3.save(frames, tmp_path / "v.imc2")
    seq = quivox3.load(tmp_path / "v.imc2")
    assert seq.is_contiguous
    stack, first = seq.pixels, seq[1].pixels
    assert np.shares_memory(stack, first), "frame and stack view the same block"
    assert not stack.flags.writeable
    del seq
    gc.collect()
    assert np.array_equal(stack, frames) and np.array_equal(first, frames[1])


def test_grabbed_frames_outlive_their_sequence():
    seq = quivox3.grab(count=3, rate_ms=20)
    frame = seq[2]
    pixels = frame.pixels
    expected = pixels.copy()
    del seq
    gc.collect()
    assert np.array_equal(frame.pixels, expected) and np.array_equal(pixels, expected)


def test_errors_for_missing_truncated_and_hostile_files(tmp_path):
    quivox3.save(gray_stack(n=3), tmp_path / "ok.imc2")
    whole = (tmp_path / "ok.imc2").read_bytes()
    (tmp_path / "cut.imc2").write_bytes(whole[: len(whole) - 1000])
    (tmp_path / "noise.imc2").write_bytes(np.random.default_rng(5).bytes(5000))
    hostile = bytearray(whole)
    hostile[14 + 252 * 20 + 8: 14 + 252 * 20 + 16] = (2**31).to_bytes(8, "little")
    (tmp_path / "hostile.imc2").write_bytes(bytes(hostile))
    cases = [
        ("missing.imc2", -4, "could not be opened"),
        ("cut.imc2", -5, "read error"),
        ("noise.imc2", -3, "no imc2(bkc2) file"),
        ("hostile.imc2", -11, "len_compressed too large"),
    ]
    for name, code, text in cases:
        with pytest.raises(quivox3.FileError) as info:
            quivox3.load(tmp_path / name)
        assert info.value.code == code, name
        assert text in info.value.reason and name in info.value.reason
    with pytest.raises(quivox3.FileError) as info:
        quivox3.check_format(tmp_path / "noise.imc2")
    assert info.value.code == -1
    with pytest.raises(quivox3.FileError) as info:
        quivox3.save(gray_stack(n=1), tmp_path / "ok.imc2")
    assert info.value.code == -14 and "already exists" in info.value.reason


def test_bad_arrays_and_fields_are_argument_errors(tmp_path):
    for bad in (np.zeros((2, 3, 4, 5), np.uint16), np.zeros((4, 4), np.float32),
                np.zeros((0, 4, 4), np.uint8)):
        with pytest.raises(quivox3.ArgumentError):
            quivox3.save(bad, tmp_path / "bad.imc2")
    with pytest.raises(quivox3.ArgumentError):
        quivox3.save(gray_stack(), tmp_path / "bad.imc2", no_such_field=1)
    with pytest.raises(quivox3.ArgumentError):
        quivox3.save(gray_stack(n=3), tmp_path / "bad.imc2", frame_numbers=[1, 2])
    assert not (tmp_path / "bad.imc2").exists()


def test_replayed_stack_comes_back_through_a_grab():
    from quivox3 import sim
    stack = gray_stack(n=4, height=40, width=50)
    sim.replay("/SIM/VIDEO/CAM1", "Frame", stack)
    seq = quivox3.grab(count=4, rate_ms=20)
    assert np.array_equal(seq.pixels, stack)


def test_names_of_a_system_list(tmp_path):
    def element(tag, content):
        return f"<{tag}>{content}</{tag}>"
    sources = "".join(element("ImageSource", element("NameID", f"cam{i}={i}") +
                               element("SGPType", "PCVision")) for i in (1, 2))
    sgps = element("SGP", element("Name", "sgp1") + element("Type", "PCVision"))
    text = ('<?xml version="1.0" ?>\n<QVv3><Name>T</Name><TineContext>CTX</TineContext>' +
            element("ComponentList", element("ImageSources", sources) + element("SGPs", sgps)) +
            "</QVv3>\n")
    (tmp_path / "sys.xml").write_text(text)
    assert quivox3.names(tmp_path / "sys.xml") == ["cam1", "cam2"]
    with pytest.raises(quivox3.FileError):
        quivox3.names(tmp_path / "missing.xml")
