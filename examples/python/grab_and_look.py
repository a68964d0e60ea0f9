"""Grab frames from the simulated camera, save them, load them back and look
at one: a PNG with the frame and its histogram.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/grab_and_look.py [OUTPUT_FOLDER]
"""

import sys
import tempfile
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import quivox3  # noqa: E402


def main() -> None:
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(tempfile.mkdtemp(prefix="quivox3-"))
    out.mkdir(parents=True, exist_ok=True)
    quivox3.set_verbose(0)

    seq = quivox3.grab(quivox3.DEFAULT_ADDRESS, "Frame", count=10, rate_ms=50)
    print(f"grabbed {len(seq)} frames {seq.pixels.shape} {seq.pixels.dtype}, "
          f"numbers {seq.frame_numbers[0]}..{seq.frame_numbers[-1]}")

    path = out / "run.imc2"
    if path.exists():
        path.unlink()
    quivox3.save(seq, path)
    back = quivox3.load(path)
    assert np.array_equal(back.pixels, seq.pixels)
    print(f"saved and loaded {path} ({path.stat().st_size / 2**20:.1f} MiB)")

    frame = back[len(back) // 2]
    bits = frame.header["effective_bits"]
    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4))
    shown = left.imshow(frame.pixels, cmap="gray", vmin=0, vmax=2**bits - 1)
    left.set_title(f"frame {frame.frame_number}  {frame.timestamp}")
    fig.colorbar(shown, ax=left)
    right.hist(frame.pixels.ravel(), bins=256, range=(0, 2**bits))
    right.set_xlabel(f"pixel value ({bits} bits)")
    right.set_ylabel("pixels")
    right.set_yscale("log")
    figure = out / "frame.png"
    fig.tight_layout()
    fig.savefig(figure, dpi=100)
    print(f"wrote {figure}")


if __name__ == "__main__":
    main()
