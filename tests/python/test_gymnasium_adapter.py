"""vorlisk_gymnasium: the classes as Gymnasium vector environments, checked against
Gymnasium's own checkers and its same-step SyncVectorEnv."""

import numpy as np
import pytest

gym = pytest.importorskip("gymnasium")
vorlisk_gymnasium = pytest.importorskip("vorlisk_gymnasium")

from gymnasium.utils import env_checker, passive_env_checker  # noqa: E402
from gymnasium.vector import AutoresetMode  # noqa: E402

from conftest import ENV_CLASSES, each_env  # noqa: E402

IDS = [cls._gymnasium["id"] for cls in ENV_CLASSES]


def run_random(envs, steps, seed=0):
    """Steps with sampled actions; yields each step's results."""
    envs.action_space.seed(seed)
    for _ in range(steps):
        yield envs.step(envs.action_space.sample())


@pytest.mark.parametrize("env_id", IDS)
def test_gymnasium_checks_and_spaces(env_id):
    envs = vorlisk_gymnasium.make_vec(env_id, num_envs=1)
    assert envs.metadata["autoreset_mode"] is AutoresetMode.SAME_STEP
    for space in (envs.single_observation_space, envs.observation_space):
        passive_env_checker.check_space(space, "observation",
                                        passive_env_checker._check_box_observation_space)
    env_checker.check_reset_seed_determinism(envs)
    env_checker.check_reset_options(envs)
    env_checker.check_returned_data_not_reused(envs)
    # The spaces say what vorlisk's own space dicts say.
    single = envs.vorlisk_env.single_observation_space
    np.testing.assert_array_equal(envs.single_observation_space.low, np.float32(single["low"]))
    np.testing.assert_array_equal(envs.single_observation_space.high, np.float32(single["high"]))


@pytest.mark.parametrize("env_id", IDS)
@pytest.mark.parametrize("workers", [1, 2])
def test_results_have_gymnasiums_types_and_stay_in_the_spaces(env_id, workers):
    n = 13
    envs = vorlisk_gymnasium.make_vec(env_id, num_envs=n, workers=workers)
    reference = gym.make_vec(env_id, num_envs=n, vectorization_mode="sync",
                             vector_kwargs={"autoreset_mode": AutoresetMode.SAME_STEP})
    obs, info = envs.reset(seed=3)
    ref_obs, ref_info = reference.reset(seed=3)
    assert obs in envs.observation_space and info == ref_info == {}
    assert (obs.shape, obs.dtype) == (ref_obs.shape, ref_obs.dtype)
    ref_info = my_info = None
    steps = max(400, envs.vorlisk_env._gymnasium["max_episode_steps"])  # every lane ends once
    ref_results = run_random(reference, steps)
    finished = 0
    for obs, rewards, terminated, truncated, info in run_random(envs, steps):
        ref = next(ref_results)
        for mine, theirs in zip((obs, rewards, terminated, truncated), ref[:4]):
            assert (mine.shape, mine.dtype) == (theirs.shape, theirs.dtype)
        assert obs in envs.observation_space
        done = terminated | truncated
        if ref[4] and ref_info is None:
            ref_info = ref[4]
        if not done.any():
            assert info == {}
            continue
        finished += int(done.sum())
        my_info = info
        np.testing.assert_array_equal(info["_final_obs"], done)
        np.testing.assert_array_equal(info["_final_info"], done)
        assert info["final_obs"].dtype == object and info["final_info"] == {}
        for lane in range(n):
            final = info["final_obs"][lane]
            assert (final is None) != done[lane]
            if final is not None:
                assert final in envs.single_observation_space
    assert finished >= n
    # Gymnasium's same-step info carries the same keys, masks and element types.
    assert set(ref_info) == set(my_info)
    theirs = ref_info["final_obs"][ref_info["_final_obs"]][0]
    mine = my_info["final_obs"][my_info["_final_obs"]][0]
    assert ref_info["_final_obs"].dtype == my_info["_final_obs"].dtype
    assert (type(mine), mine.shape, mine.dtype) == (type(theirs), theirs.shape, theirs.dtype)


def outside_the_space(envs):
    """Action arrays a Gymnasium action space refuses."""
    space = envs.single_action_space
    if isinstance(space, gym.spaces.Discrete):
        yield np.array([0, space.n], np.int64)
        yield np.array([0, -1], np.int32)
        yield np.array([0.0, 1.0])
        yield np.array([0, 1, 1], np.int32)
    else:
        yield np.array([[0.0], [space.high[0] * 1.25]], np.float32)
        yield np.array([[np.nan], [0.0]], np.float32)
        yield np.zeros((2, 2), np.float32)


@pytest.mark.parametrize("env_id", IDS)
def test_actions_outside_the_action_space_are_rejected(env_id):
    envs = vorlisk_gymnasium.make_vec(env_id, num_envs=2)
    obs, _ = envs.reset(seed=0)
    for actions in outside_the_space(envs):
        with pytest.raises(ValueError):
            envs.step(actions)
    # Nothing was stepped.
    assert envs.vorlisk_env.final_observations()[0].size == 0
    np.testing.assert_array_equal(envs.reset(seed=0)[0], obs)


@each_env
def test_tasks_whose_blocks_drift_take_the_exact_formulas_on_every_lane(cls):
    n = 16  # two whole blocks, which the class steps with its block formulas
    envs = vorlisk_gymnasium.make_vec(cls._gymnasium["id"], num_envs=n)
    # Chunks take the exact formulas, which the adapter must follow where the task's blocks
    # drift (the golden digests show where they do).
    expected = cls(n, workers=2 if cls._gymnasium["exact"] else 1)
    envs.reset(seed=9)
    expected.reset(9)
    envs.action_space.seed(0)
    for _ in range(250):
        actions = envs.action_space.sample()
        obs, rewards, _, truncated, _ = envs.step(actions)
        want = expected.step(actions.reshape(n))
        np.testing.assert_array_equal(obs, want[0])
        np.testing.assert_array_equal(rewards, want[1])
        np.testing.assert_array_equal(truncated, want[3].astype(bool))


def test_seeds_follow_gymnasiums_vector_convention():
    envs = vorlisk_gymnasium.make_vec(IDS[0], num_envs=4)
    plain = ENV_CLASSES[0](4)
    np.testing.assert_array_equal(envs.reset(seed=11)[0], plain.reset(11))
    np.testing.assert_array_equal(envs.reset(seed=[11, 12, 13, 14])[0], plain.reset(11))
    after_seed = envs.reset()[0]
    envs.reset(seed=11)
    np.testing.assert_array_equal(envs.reset()[0], after_seed)
    assert not np.array_equal(after_seed, plain.reset(11))
    for bad in ([11, 13, 14, 15], [1, 2, 3], -1, 2**64):
        with pytest.raises(ValueError):
            envs.reset(seed=bad)
    with pytest.raises(ValueError, match="options"):
        envs.reset(options={"low": -0.1})


@pytest.mark.parametrize("env_id", IDS)
def test_episode_limits_are_gymnasiums_unless_the_caller_sets_one(env_id):
    envs = vorlisk_gymnasium.make_vec(env_id, 2)
    assert envs.vorlisk_env.max_episode_steps == gym.spec(env_id).max_episode_steps
    assert vorlisk_gymnasium.make_vec(env_id, 2, max_episode_steps=7).vorlisk_env.max_episode_steps == 7
