"""vorlisk_gymnasium: the classes as Gymnasium vector environments, checked against
Gymnasium's own checkers, its SyncVectorEnv in each autoreset mode and its wrappers."""

import numpy as np
import pytest

gym = pytest.importorskip("gymnasium")
vorlisk_gymnasium = pytest.importorskip("vorlisk_gymnasium")

from gymnasium.utils import env_checker, passive_env_checker  # noqa: E402
from gymnasium.vector import AutoresetMode  # noqa: E402

from conftest import ENV_CLASSES, gymnasium_states  # noqa: E402

IDS = [cls._gymnasium["id"] for cls in ENV_CLASSES]


def run_random(envs, steps, seed=0):
    """Steps with sampled actions; yields each step's results."""
    envs.action_space.seed(seed)
    for _ in range(steps):
        yield envs.step(envs.action_space.sample())


@pytest.mark.parametrize("env_id", IDS)
def test_gymnasium_checks_and_spaces(env_id):
    envs = vorlisk_gymnasium.make_vec(env_id, num_envs=1)
    assert envs.metadata["autoreset_mode"] is AutoresetMode.NEXT_STEP
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


def close(a, b):
    return np.allclose(np.asarray(a, np.float64), np.asarray(b, np.float64), rtol=0, atol=1e-5)


@pytest.mark.parametrize("env_id", IDS)
@pytest.mark.parametrize("mode", list(AutoresetMode), ids=lambda m: m.name)
def test_each_autoreset_mode_gives_what_sync_vector_env_gives(env_id, mode):
    """Gymnasium's environments restart from our lanes' states before every step; then
    both sides must return the same types, flags, infos and (where the lane did not just
    restart from a random start of its own) observations."""
    n, limit = 10, 12  # a block and a tail; episodes short enough to end often
    kwargs = dict(vector_kwargs={"autoreset_mode": mode}, max_episode_steps=limit)
    stats = gym.wrappers.vector.RecordEpisodeStatistics
    envs = stats(vorlisk_gymnasium.make_vec(env_id, n, **kwargs))
    reference = stats(gym.make_vec(env_id, n, vectorization_mode="sync", **kwargs))
    (obs, info), (ref_obs, ref_info) = envs.reset(seed=3), reference.reset(seed=3)
    assert (obs.shape, obs.dtype, info) == (ref_obs.shape, ref_obs.dtype, ref_info)
    restarted, finished = np.zeros(n, bool), 0
    envs.action_space.seed(1)
    for _ in range(4 * limit):
        for lane, state in enumerate(gymnasium_states(envs.unwrapped.vorlisk_env, obs)):
            lane_env = reference.unwrapped.envs[lane].unwrapped
            lane_env.state, lane_env.steps_beyond_terminated = state.copy(), None
        actions = envs.action_space.sample()
        mine, theirs = envs.step(actions), reference.step(actions)
        for a, b in zip(mine[:4], theirs[:4]):
            assert (a.shape, a.dtype) == (b.shape, b.dtype)
        obs, rewards, terminated, truncated, info = mine
        # CartPole's last reward is vorlisk's own (the README lists it).
        assert obs in envs.observation_space and close(rewards[~terminated], theirs[1][~terminated])
        assert np.array_equal(terminated, theirs[2]) and np.array_equal(truncated, theirs[3])
        assert set(info) == set(theirs[4])
        done = terminated | truncated
        if "_final_obs" in info:
            assert np.array_equal(info["_final_obs"], theirs[4]["_final_obs"])
            assert close(np.stack(info["final_obs"][done]), np.stack(theirs[4]["final_obs"][done]))
        # Gymnasium's SyncVectorEnv takes the reset mask out of the options it is given, so
        # its RecordEpisodeStatistics then restarts every lane's statistics.
        if "episode" in info and mode is not AutoresetMode.DISABLED:
            assert np.array_equal(info["_episode"], theirs[4]["_episode"])
            assert np.array_equal(info["episode"]["l"], theirs[4]["episode"]["l"])
            assert close(info["episode"]["r"][~terminated], theirs[4]["episode"]["r"][~terminated])
        fresh = restarted | (done & (mode is AutoresetMode.SAME_STEP))
        assert close(obs[~fresh], theirs[0][~fresh])
        if mode is AutoresetMode.DISABLED and done.any():
            obs = envs.reset(options={"reset_mask": done})[0]
            reference.reset(options={"reset_mask": done})
        restarted = done & (mode is AutoresetMode.NEXT_STEP)
        finished += done.sum()
    assert finished >= n


@pytest.mark.parametrize("env_id", IDS)
def test_actions_are_checked_as_gymnasium_checks_them(env_id):
    """Discrete actions outside the space are refused; continuous ones are clipped to it,
    as Gymnasium's tasks clip them."""
    envs, twin = (vorlisk_gymnasium.make_vec(env_id, num_envs=2) for _ in range(2))
    obs, _ = envs.reset(seed=0)
    twin.reset(seed=0)
    space = envs.single_action_space
    if isinstance(space, gym.spaces.Discrete):
        refused = [np.array([0, space.n]), np.array([0, -1], np.int32), np.array([0.0, 1.0]),
                   np.array([0, 1, 1], np.int32)]
    else:
        refused = [np.array([[np.nan], [0.0]], np.float32), np.zeros((2, 2), np.float32)]
    for actions in refused:
        with pytest.raises(ValueError):
            envs.step(actions)
    assert envs.vorlisk_env.final_observations()[0].size == 0  # nothing was stepped
    np.testing.assert_array_equal(envs.reset(seed=0)[0], obs)
    if not isinstance(space, gym.spaces.Discrete):
        wild = envs.step(np.array([[space.high[0] * 3], [-np.inf]]))
        bounds = twin.step(np.array([space.high, space.low]))
        for got, want in zip(wild[:4], bounds[:4]):
            np.testing.assert_array_equal(got, want)


def test_seeds_follow_gymnasiums_vector_convention():
    envs = vorlisk_gymnasium.make_vec(IDS[0], num_envs=4)
    plain = ENV_CLASSES[0](4)
    np.testing.assert_array_equal(envs.reset(seed=11)[0], plain.reset(11))
    np.testing.assert_array_equal(envs.reset(seed=[11, 12, 13, 14])[0], plain.reset(11))
    after_seed = envs.reset()[0]
    envs.reset(seed=11)
    np.testing.assert_array_equal(envs.reset()[0], after_seed)
    assert not np.array_equal(after_seed, plain.reset(11))
    for bad, error in [([11, 13, 14, 15], ValueError), ([1, 2, 3], ValueError), (-1, ValueError),
                       (2**64, ValueError), (1.5, TypeError), ("7", TypeError),
                       ([1.0, 2.0, 3.0, 4.0], TypeError), ({1}, TypeError)]:
        with pytest.raises(error, match="seed"):
            envs.reset(seed=bad)
    with pytest.raises(ValueError, match="options"):
        envs.reset(options={"low": -0.1})
    for mask, error in [([True] * 4, TypeError), (np.ones(3, bool), ValueError),
                        (np.ones(4, np.uint8), TypeError), (np.zeros(4, bool), ValueError)]:
        with pytest.raises(error, match="reset_mask"):
            envs.reset(options={"reset_mask": mask})


@pytest.mark.parametrize("env_id", IDS)
def test_make_vec_takes_gymnasiums_arguments_and_refuses_others(env_id):
    envs = vorlisk_gymnasium.make_vec(env_id, 2, vectorization_mode="sync",
                                      vector_kwargs={"copy": False})
    assert (envs.spec.id, envs.spec.max_episode_steps) == (env_id, gym.spec(env_id).max_episode_steps)
    assert envs.vorlisk_env.max_episode_steps == envs.spec.max_episode_steps
    assert envs.vorlisk_env.autoreset_mode == "next_step"
    limited = vorlisk_gymnasium.make_vec(gym.spec(env_id), 2, max_episode_steps=7,
                                         vector_kwargs={"autoreset_mode": "SameStep"})
    assert (limited.spec.max_episode_steps, limited.vorlisk_env.max_episode_steps) == (7, 7)
    assert limited.metadata["autoreset_mode"] is AutoresetMode.SAME_STEP
    for kwargs, error in [({"gravity": 9.8}, TypeError), ({"vector_kwargs": {"shared": 1}}, TypeError),
                          ({"wrappers": [gym.wrappers.ClipAction]}, TypeError),
                          ({"vectorization_mode": "threads"}, ValueError),
                          ({"vector_kwargs": {"autoreset_mode": "later"}}, ValueError),
                          ({"render_mode": "human"}, ValueError)]:
        with pytest.raises(error):
            vorlisk_gymnasium.make_vec(env_id, 2, **kwargs)
    drawn = vorlisk_gymnasium.make_vec(env_id, 2, render_mode="rgb_array")
    drawn.reset(seed=1)
    frames = drawn.render()
    assert len(frames) == 2 and np.array_equal(frames[1], drawn.vorlisk_env.render(1))
    assert drawn.metadata["render_fps"] == gym.make(env_id).metadata["render_fps"]
    envs.close()
    assert envs.vorlisk_env is None  # the lanes are freed
    with pytest.raises(RuntimeError, match="closed"):
        envs.step(envs.action_space.sample())


def observation_wrappers(envs, mode):
    v = gym.wrappers.vector
    wrapped = [v.TransformObservation(envs, lambda o: o + 0), v.DtypeObservation(envs, np.float64),
               v.FlattenObservation(envs)]
    # Gymnasium's NormalizeObservation takes next-step autoreset only.
    if mode is AutoresetMode.NEXT_STEP:
        wrapped.append(v.NormalizeObservation(envs))
    return wrapped


@pytest.mark.parametrize("env_id", IDS)
@pytest.mark.parametrize("mode", [AutoresetMode.NEXT_STEP, AutoresetMode.DISABLED],
                         ids=lambda m: m.name)
# DtypeObservation warns when it casts CartPole's infinite speed bounds.
@pytest.mark.filterwarnings("ignore:overflow encountered in cast:RuntimeWarning")
def test_a_training_loop_runs_through_gymnasiums_wrappers(env_id, mode):
    v = gym.wrappers.vector
    n = 4
    envs = v.RecordEpisodeStatistics(vorlisk_gymnasium.make_vec(
        env_id, n, max_episode_steps=20, vector_kwargs={"autoreset_mode": mode}))
    envs = v.NormalizeReward(envs)
    if isinstance(envs.single_action_space, gym.spaces.Box):
        envs = v.ClipAction(v.RescaleAction(envs, np.float32(-0.5), np.float32(0.5)))
    for envs in observation_wrappers(envs, mode):
        obs, _ = envs.reset(seed=0)
        episodes = 0
        for _ in range(45):
            obs, rewards, terminated, truncated, info = envs.step(envs.action_space.sample())
            assert obs in envs.observation_space or isinstance(envs, v.NormalizeObservation)
            assert np.isfinite(rewards).all()
            done = terminated | truncated
            episodes += int(info.get("_episode", np.zeros(n, bool)).sum())
            if mode is AutoresetMode.DISABLED and done.any():
                envs.reset(options={"reset_mask": done})
        assert episodes >= n
