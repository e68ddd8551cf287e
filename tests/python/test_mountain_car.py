"""MountainCar's own bits and dynamics."""
import numpy as np
import pytest
from conftest import gymnasium_steps, path_digests, recorded_bits

from vorlisk import PyMountainCarVecEnv

pytestmark = pytest.mark.sanitize  # also run against the ASan build in CI


@recorded_bits
def test_every_path_gives_the_same_bits():
    # Blocks, chunks and the exact formulas share one set of formulas and sum the
    # log in an order that shows only beyond 2^24.
    assert set(path_digests(PyMountainCarVecEnv).values()) == {"acfa0c28ec0437ac"}


def test_dynamics_match_gymnasium():
    rng = np.random.default_rng(1)
    for (obs, reward, terminal, _), (expected, ref_reward, terminated, _, _) in gymnasium_steps(
            PyMountainCarVecEnv, 3, rng.integers(0, 3, 600).astype(np.int32)):
        assert (reward, terminal) == (ref_reward, terminated)
        np.testing.assert_allclose(obs, expected, rtol=0, atol=2e-7)
