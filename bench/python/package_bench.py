"""The Python package against the library called from C, in one process.

Grab: 100 frames of 640 x 480 x 16 bit from the simulated camera, through
quivox3.grab and through qvGrabFramesEx (called directly, as a C program
would). Load: a 100-frame 1280 x 1024 x 16-bit IMC2 file into
Sequence.pixels and through qvLoadImagesFromFile. Rounds alternate; the
medians and their ratios are printed. Peak memory of a load is measured in
a fresh interpreter with resource.getrusage.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/package_bench.py [build]
"""

import ctypes
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import quivox3
from quivox3 import sim

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build"
ROUNDS = int(os.environ.get("QV_BENCH_ROUNDS", "3"))


class Bunch(ctypes.Structure):
    _fields_ = [("imageArray", ctypes.c_void_p), ("numFrames", ctypes.c_uint32)]


def c_library():
    # The package links the library in; the shared library is the C caller's.
    lib = ctypes.CDLL(os.path.join(BUILD, "libquivox3.so"))
    lib.qvGrabFramesEx.argtypes = [ctypes.POINTER(Bunch), ctypes.c_char_p, ctypes.c_char_p,
                                   ctypes.c_uint, ctypes.c_int, ctypes.c_int,
                                   ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int),
                                   ctypes.c_void_p, ctypes.c_void_p]
    lib.qvLoadImagesFromFile.argtypes = [ctypes.c_char_p, ctypes.POINTER(Bunch)]
    lib.qvFreeBunch.argtypes = [ctypes.POINTER(Bunch)]
    return lib


def timed(function):
    start = time.perf_counter()
    function()
    return time.perf_counter() - start


def compare(name, contenders):
    times = {label: [] for label, _ in contenders}
    for round_ in range(ROUNDS):
        order = contenders if round_ % 2 == 0 else contenders[::-1]
        for label, function in order:
            times[label].append(timed(function))
    medians = {label: statistics.median(t) for label, t in times.items()}
    (first, a), (second, b) = medians.items()
    print(f"{name}: {first} {a * 1e3:.1f} ms, {second} {b * 1e3:.1f} ms, "
          f"{first}/{second} = {a / b:.3f}")
    return medians


def grab_benchmark(lib):
    sim.add_camera("/SIM/VIDEO/CAM1", width=640, height=480, format="gray16")

    def from_python():
        seq = quivox3.grab(count=100, rate_ms=10)
        assert seq.pixels.shape == (100, 480, 640)

    def from_c():
        bunch, error, tine = Bunch(), ctypes.c_int(), ctypes.c_int()
        n = lib.qvGrabFramesEx(ctypes.byref(bunch), b"/SIM/VIDEO/CAM1", b"Frame", 100, 10, 3,
                               ctypes.byref(error), ctypes.byref(tine), None, None)
        assert n == 100 and error.value == 0
        lib.qvFreeBunch(ctypes.byref(bunch))

    medians = compare("grab 100 x 640x480x16", [("python", from_python), ("c", from_c)])
    print(f"  rate: python {100 / medians['python']:.1f} frames/s, c {100 / medians['c']:.1f}"
          f" frames/s, python/c rate = {medians['c'] / medians['python']:.3f}")


def camera_frames(n=100, height=1024, width=1280):
    y, x = np.mgrid[0:height, 0:width]
    base = (200 + 0.3 * x + 0.2 * y).astype(np.uint16)
    rng = np.random.default_rng(1)
    frames = np.empty((n, height, width), np.uint16)
    for i in range(n):
        blob = 2500.0 / (1.0 + ((x - 300 - 5 * i) ** 2 + (y - 400 - 2 * i) ** 2) / 20000.0)
        frames[i] = base + blob.astype(np.uint16) + rng.integers(0, 8, (height, width), np.uint16)
    return frames


def load_benchmark(lib, path):
    def from_python():
        seq = quivox3.load(path)
        assert seq.pixels.shape == (100, 1024, 1280)

    def from_c():
        bunch = Bunch()
        assert lib.qvLoadImagesFromFile(path.encode(), ctypes.byref(bunch)) == 0
        lib.qvFreeBunch(ctypes.byref(bunch))

    compare("load 100 x 1280x1024x16 into Sequence.pixels", [("python", from_python),
                                                              ("c", from_c)])


# Linux carries ru_maxrss across exec, so a child of this large process
# would start at its peak: VmHWM (the new image's own peak) is read where
# the system has it, getrusage elsewhere.
PEAK_PROBE = """
import resource, sys, numpy, quivox3
def peak_kib():
    try:
        with open("/proc/self/status") as status:
            return next(int(l.split()[1]) for l in status if l.startswith("VmHWM:"))
    except OSError:
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
before = peak_kib()
seq = quivox3.load(sys.argv[1]); pixels = seq.pixels
after = peak_kib()
print((after - before) * 1024 / pixels.nbytes, seq.is_contiguous)
"""


def peak_memory(path):
    out = subprocess.run([sys.executable, "-c", PEAK_PROBE, path], capture_output=True, text=True,
                         check=True, env=dict(os.environ)).stdout.split()
    print(f"  peak memory of the load: {float(out[0]):.3f} x the pixel bytes, "
          f"pixels viewed without copy: {out[1]}")


def main():
    quivox3.set_verbose(0)
    lib = c_library()
    lib.qvSetVerbose(0)
    grab_benchmark(lib)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "camera.imc2")
        quivox3.save(camera_frames(), path)
        load_benchmark(lib, path)
        peak_memory(path)


if __name__ == "__main__":
    main()
