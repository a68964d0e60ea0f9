import numpy as np
import pytest

import quivox3
from quivox3 import sim


@pytest.fixture(autouse=True)
def quiet_fresh_simulator():
    quivox3.set_verbose(0)
    sim.reset()
    yield
    sim.reset()


def gray_stack(n=3, height=32, width=48, dtype="uint16", seed=1):
    rng = np.random.default_rng(seed)
    high = 4096 if dtype == "uint16" else 256
    return rng.integers(0, high, size=(n, height, width)).astype(dtype)
