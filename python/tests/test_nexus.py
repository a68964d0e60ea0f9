"""HDF5/NeXus files as the field's own programs see them (h5py), and files
of other writers as quivox3 reads them."""
import numpy as np
import pytest

import quivox3
from conftest import gray_stack

h5py = pytest.importorskip("h5py")


def grabbed(count=6):
    return quivox3.grab(count=count, rate_ms=20)


def test_h5py_reads_what_the_imc2_load_gives(tmp_path):
    seq = grabbed()
    quivox3.save(seq, tmp_path / "run.imc2")
    imc2 = quivox3.load(tmp_path / "run.imc2")
    quivox3.save(imc2, tmp_path / "run.nxs")
    with h5py.File(tmp_path / "run.nxs", "r") as f:
        data = f["/entry/data/data"]
        assert data.shape == imc2.pixels.shape and data.dtype == np.uint16
        assert data.chunks == (1,) + imc2.pixels.shape[1:]
        assert data.compression == "gzip"
        assert np.array_equal(data[...], imc2.pixels)
        det = f["/entry/instrument/detector"]
        assert np.array_equal(det["frame_number"][...], imc2.frame_numbers)
        assert np.array_equal(det["event_number"][...], imc2.event_numbers)
        seconds = det["timestamp"][...]
        micro = np.round(seconds * 1e6).astype("int64").astype("datetime64[us]")
        assert np.array_equal(micro, imc2.timestamps)
        assert det["timestamp"].attrs["units"] == "s"
        first = str(imc2.timestamps[0])
        assert det["timestamp"].attrs["start"] == first + "Z"
        assert det["x_pixel_size"].attrs["units"] == "mm"
        assert det["x_pixel_size"][()] == pytest.approx(1.0 / imc2[0].header["x_scale"])
        assert det["camera/camera_port_name"][()].decode() == imc2[0].header["camera_port_name"]
        assert f.attrs["default"] == "entry"


def test_nexus_classes_and_the_signal_link(tmp_path):
    quivox3.save(gray_stack(n=2), tmp_path / "a.h5", x_scale=2.0, y_scale=4.0)
    with h5py.File(tmp_path / "a.h5", "r") as f:
        classes = {path: f[path].attrs["NX_class"] for path in
                   ("/entry", "/entry/instrument", "/entry/instrument/detector", "/entry/data")}
        assert classes == {"/entry": "NXentry", "/entry/instrument": "NXinstrument",
                           "/entry/instrument/detector": "NXdetector", "/entry/data": "NXdata"}
        assert f["/entry/data"].attrs["signal"] == "data"
        assert f["/entry/data/data"] == f["/entry/instrument/detector/data"]  # one object
        assert f["/entry/instrument/detector/x_pixel_size"][()] == 0.5


def test_shuffle_makes_16_bit_camera_frames_smaller(tmp_path):
    seq = grabbed(count=4)
    quivox3.save(seq, tmp_path / "plain.h5")
    quivox3.save(seq, tmp_path / "shuffled.h5", shuffle=True)
    with h5py.File(tmp_path / "shuffled.h5", "r") as f:
        assert f["/entry/data/data"].shuffle
        assert np.array_equal(f["/entry/data/data"][...], seq.pixels)
    back = quivox3.load(tmp_path / "shuffled.h5")
    assert back.is_contiguous and np.array_equal(back.pixels, seq.pixels)
    assert (tmp_path / "shuffled.h5").stat().st_size < (tmp_path / "plain.h5").stat().st_size


@pytest.mark.parametrize("layout", [
    dict(chunks=(1, 16, 24), compression="gzip", compression_opts=9, shuffle=True),
    dict(chunks=(2, 32, 48), compression="gzip"),
    dict(chunks=None),  # contiguous
    dict(chunks=(1, 32, 48), compression="gzip", fletcher32=True),
])
def test_files_of_other_writers(tmp_path, layout):
    frames = gray_stack(n=4, dtype=">u2")
    path = tmp_path / "foreign.h5"
    with h5py.File(path, "w") as f:
        f.create_dataset("/entry/data/data", data=frames, **layout)
    assert quivox3.check_format(path) == "HDF5"
    seq = quivox3.load(path)
    assert np.array_equal(seq.pixels.astype("uint16"), frames.astype("uint16"))
    assert list(seq.frame_numbers) == [1, 2, 3, 4]
    assert seq[1].pixels.shape == (32, 48) and seq[1].header["bytes_per_pixel"] == 2


def test_hostile_and_foreign_files_raise_clearly(tmp_path):
    path = tmp_path / "other.h5"
    with h5py.File(path, "w") as f:
        f["/scan/temperature"] = np.zeros((5, 3))
    with pytest.raises(quivox3.FileError, match=r"/scan \(group\)"):
        quivox3.load(path)
    with h5py.File(tmp_path / "float.h5", "w") as f:
        f["/entry/data/data"] = np.zeros((2, 4, 4), dtype="float32")
    with pytest.raises(quivox3.FileError, match="float32"):
        quivox3.load(tmp_path / "float.h5")
    good = tmp_path / "good.h5"
    quivox3.save(gray_stack(n=3), good)
    cut = tmp_path / "cut.h5"
    cut.write_bytes(good.read_bytes()[: good.stat().st_size // 2])
    with pytest.raises(quivox3.FileError):
        quivox3.load(cut)
    with pytest.raises(quivox3.FileError, match="exists"):
        quivox3.save(gray_stack(n=1), good)
