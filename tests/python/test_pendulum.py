"""Pendulum's own bits and dynamics."""
import math

import numpy as np
import pytest
from conftest import gymnasium_steps, path_digests, recorded_bits

from vorlisk import PyPendulumVecEnv

pytestmark = pytest.mark.sanitize  # also run against the ASan build in CI


@recorded_bits
def test_each_path_keeps_its_bits():
    assert path_digests(PyPendulumVecEnv) == {
        "blocks": "29be2cfcaafc0942", "chunks": "a033c3d5d0b0cb19", "exact": "27dc99e3d641f0a3"}


def test_dynamics_match_gymnasium():
    # A single lane follows the library's sine and cosine.
    rng = np.random.default_rng(2)
    torques = rng.uniform(-2.5, 2.5, 399).astype(np.float32)
    state_of = lambda obs: np.array([math.atan2(obs[1], obs[0]), obs[2]])  # noqa: E731
    for step, ((obs, reward, _, truncated), (expected, ref_reward, _, _, _)) in enumerate(
            gymnasium_steps(PyPendulumVecEnv, 4, torques, state_of), start=1):
        assert reward == pytest.approx(ref_reward, rel=1e-5, abs=1e-5)
        np.testing.assert_allclose(obs, expected, rtol=0, atol=1e-5)
        assert truncated == (step % 200 == 0)
