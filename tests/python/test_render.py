"""Frames of chosen lanes: their shapes and selection, the arguments render refuses, and
(where pygame is installed) Gymnasium's own frames of the same states."""

import numpy as np
import pytest
from conftest import each_env, gymnasium_states, valid_actions

SIZES = {"CartPole-v1": (400, 600), "MountainCar-v0": (400, 600), "Pendulum-v1": (500, 500),
         "Acrobot-v1": (500, 500), "MountainCarContinuous-v0": (400, 600)}


@each_env
def test_frames_of_chosen_lanes(cls):
    env = cls(5)
    env.reset(3)
    h, w = SIZES[cls._gymnasium["id"]]
    alone = env.render(2)
    assert alone.shape == (h, w, 3) and alone.dtype == np.uint8 and alone.flags.c_contiguous
    stacked = env.render(np.array([4, 2, -1], np.int16))
    assert stacked.shape == (3, h, w, 3)
    assert np.array_equal(stacked[1], alone) and np.array_equal(stacked[0], stacked[2])
    assert not np.array_equal(stacked[0], alone)  # another lane's start state
    assert np.array_equal(env.render(lanes=[np.uint8(2)])[0], alone)
    assert env.render(()).shape == (0, h, w, 3)
    assert (alone[[0, -1]][:, [0, -1]] == 255).all()  # a white background
    assert 0.005 < (alone != 255).any(axis=2).mean() < 0.1


@pytest.mark.sanitize
@each_env
@pytest.mark.parametrize("lanes, error, text", [
    (4, IndexError, "^lane 4 is out of range for an environment of 4 lanes$"),
    ([0, 2**70], IndexError, f"^lane {2**70} is out"),
    (np.array([1, 2**64 - 1], np.uint64), IndexError, f"^lane {2**64 - 1} is out"),
    (np.array([-9], np.int8), IndexError, "^lane -9 is out"),
    (1.0, TypeError, "'lanes': expected an int, a sequence of ints or a one-dimensional"),
    ([0, 1.0], TypeError, "lane indices must be integers, not 'float'"),
    (True, TypeError, "got 'bool'"),
    ("0", TypeError, "got 'str'"),
    (np.zeros((1, 1), np.int64), TypeError, "got a 2-dimensional array of dtype int64"),
    (range(2**40), MemoryError, f"for {2**40} frames"),
])
def test_render_refuses(cls, lanes, error, text):
    with pytest.raises(error, match=text):
        cls(4).render(lanes)


def near(a, b):
    """The share of a's pixels within one pixel of one of b's."""
    grown = np.pad(b, 1)
    grown = np.logical_or.reduce([grown[1 + dy:grown.shape[0] - 1 + dy, 1 + dx:grown.shape[1] - 1 + dx]
                                  for dy in (-1, 0, 1) for dx in (-1, 0, 1)])
    return (a & grown).sum() / a.sum()


@each_env
def test_frames_match_gymnasiums_own(cls):
    pytest.importorskip("pygame")
    gym = pytest.importorskip("gymnasium")
    env, rng = cls(3), np.random.default_rng(1)
    env.reset(5)
    for _ in range(15):
        obs = env.step(valid_actions(cls, 3, rng))[0]
    reference = gym.make(cls._gymnasium["id"], render_mode="rgb_array").unwrapped
    reference.reset(seed=0)
    for lane in range(3):
        reference.state = gymnasium_states(env, obs)[lane]
        theirs = (reference.render() != 255).any(axis=2)
        mine = (env.render(lane) != 255).any(axis=2)
        assert near(mine, theirs) > 0.9 and near(theirs, mine) > 0.9
